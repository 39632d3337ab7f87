#include "AudioProbe.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>

namespace audioprobe {

namespace {

// "key=value" lines into the value for key, or "" when absent.
std::string valueOf(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

// The text after "label" and the colon on soxi's line starting with label.
std::string soxField(const std::string& text, const std::string& label) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(label, 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos) {
                auto value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                return value;
            }
        }
    }
    return {};
}

bool toInt(const std::string& s, std::int64_t& out, int base = 10) {
    if (s.empty()) {
        return false;
    }
    char* end = nullptr;
    out = std::strtoll(s.c_str(), &end, base);
    return end && *end == '\0';
}

std::vector<std::int16_t> samplesOf(const std::string& raw) {
    std::vector<std::int16_t> samples(raw.size() / 2);
    if (!samples.empty()) {
        std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    }
    return samples;
}

} // namespace

std::string run(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return out;
    }
    std::array<char, 65536> chunk{};
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        out.append(chunk.data(), n);
    }
    const int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::string quoted(const std::string& path) {
    std::string q = "'";
    for (char c : path) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

FfprobeInfo ffprobe(const std::string& path) {
    FfprobeInfo info;
    int status = 0;
    info.text = run("ffprobe -v error -select_streams a:0 -show_streams -show_data "
                    "-of default=noprint_wrappers=1 " +
                        quoted(path) + " 2>&1",
                    status);
    std::int64_t tag = 0, rate = 0, channels = 0, bits = 0;
    info.codecName = valueOf(info.text, "codec_name");
    info.ok = status == 0 && !info.codecName.empty() &&
              toInt(valueOf(info.text, "codec_tag"), tag, 16) &&
              toInt(valueOf(info.text, "sample_rate"), rate) &&
              toInt(valueOf(info.text, "channels"), channels) &&
              toInt(valueOf(info.text, "bits_per_sample"), bits);
    info.codecTag = static_cast<std::uint32_t>(tag);
    info.sampleRate = static_cast<std::int32_t>(rate);
    info.channels = static_cast<std::int32_t>(channels);
    info.bitsPerSample = static_cast<std::int32_t>(bits);
    toInt(valueOf(info.text, "duration_ts"), info.durationTs);
    toInt(valueOf(info.text, "bit_rate"), info.bitRate);
    // "extradata=" then hex dump lines "00000000: f907 0100 ...  ascii"
    const auto start = info.text.find("\nextradata=\n");
    if (start != std::string::npos) {
        std::istringstream lines(info.text.substr(start + 12));
        std::string line;
        while (std::getline(lines, line) && line.size() > 10 && line[8] == ':') {
            const std::string hex = line.substr(10, std::min<std::size_t>(40, line.size() - 10));
            for (std::size_t i = 0; i + 1 < hex.size();) {
                if (hex[i] == ' ') {
                    if (i + 1 < hex.size() && hex[i + 1] == ' ') {
                        break; // two spaces: the ascii column follows
                    }
                    ++i;
                    continue;
                }
                info.extradata.push_back(
                    static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
                i += 2;
            }
        }
    }
    return info;
}

std::vector<std::int64_t> packetSizes(const std::string& path) {
    int status = 0;
    const std::string text =
        run("ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 " +
                quoted(path),
            status);
    std::vector<std::int64_t> sizes;
    std::istringstream lines(text);
    std::string line;
    std::int64_t size = 0;
    while (status == 0 && std::getline(lines, line)) {
        if (!toInt(line, size)) {
            return {};
        }
        sizes.push_back(size);
    }
    return sizes;
}

SoxInfo soxi(const std::string& path) {
    SoxInfo info;
    int status = 0;
    info.text = run("soxi " + quoted(path) + " 2>&1", status);
    std::int64_t rate = 0, channels = 0;
    info.encoding = soxField(info.text, "Sample Encoding");
    // soxi leaves the duration line out for an empty file: ask for the count alone.
    int countStatus = 0;
    std::string count = run("soxi -s " + quoted(path) + " 2>&1", countStatus);
    while (!count.empty() && (count.back() == '\n' || count.back() == '\r')) {
        count.pop_back();
    }
    const bool samplesOk = countStatus == 0 && toInt(count, info.samples);
    info.ok = status == 0 && samplesOk && toInt(soxField(info.text, "Sample Rate"), rate) &&
              toInt(soxField(info.text, "Channels"), channels);
    info.sampleRate = static_cast<std::int32_t>(rate);
    info.channels = static_cast<std::int32_t>(channels);
    return info;
}

SoxWavHeader soxWavHeader(const std::string& path) {
    SoxWavHeader header;
    int status = 0;
    header.text = run("sox -V4 " + quoted(path) + " -n 2>&1", status);
    // "sox DBUG wav:         16000 byte/sec, 1024 block align, 4 bits/samp, ..."
    const auto align = header.text.find(" block align");
    const auto rate = header.text.rfind(" byte/sec", align);
    if (status != 0 || align == std::string::npos || rate == std::string::npos) {
        return header;
    }
    const auto rateStart = header.text.find_last_of(' ', rate - 1) + 1;
    const auto alignStart = header.text.find_last_of(' ', align - 1) + 1;
    std::int64_t alignValue = 0;
    header.ok = toInt(header.text.substr(rateStart, rate - rateStart), header.bytesPerSecond) &&
                toInt(header.text.substr(alignStart, align - alignStart), alignValue);
    header.blockAlign = static_cast<std::int32_t>(alignValue);
    return header;
}

std::vector<std::int16_t> decodeWithFfmpeg(const std::string& path, bool& ok) {
    int status = 0;
    const std::string raw =
        run("ffmpeg -v error -i " + quoted(path) + " -f s16le -acodec pcm_s16le -", status);
    ok = status == 0;
    return samplesOf(raw);
}

std::vector<std::int16_t> decodeWithSox(const std::string& path, bool& ok) {
    int status = 0;
    const std::string raw = run("sox -V1 " + quoted(path) + " -t raw -e signed -b 16 -", status);
    ok = status == 0;
    return samplesOf(raw);
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace audioprobe
