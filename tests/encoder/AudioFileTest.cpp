#include "encoder/EncoderAudioFile.h"
#include "encoder/FlacRepair.h"

#include "AudioProbe.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <numbers>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TypeCase {
    const char* extension;
    std::int32_t rate;
    std::int16_t channels;
    std::int32_t fileRate; // what the type keeps of the rate
};

std::string caseName(const ::testing::TestParamInfo<TypeCase>& info) {
    return std::string(info.param.extension) + "_" + std::to_string(info.param.rate) +
           (info.param.channels == 2 ? "_Stereo" : "_Mono");
}

// 440 Hz on the left, 660 Hz on the right, at half of full scale.
std::vector<std::int16_t> Tone(std::int32_t rate, std::int16_t channels, double seconds) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<std::int16_t> s(frames * static_cast<std::size_t>(channels));
    for (std::size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const double hz = c == 0 ? 440.0 : 660.0;
            s[f * channels + c] = static_cast<std::int16_t>(
                std::lround(16384.0 * std::sin(2 * std::numbers::pi * hz * f / rate)));
        }
    }
    return s;
}

// Hands samples to the encoder in capture blocks (10240 bytes, at most a second).
int Encode(EncoderAudioFile& encoder, std::span<const std::int16_t> samples, std::int32_t rate,
           std::int16_t channels) {
    const std::size_t block =
        std::min<std::size_t>(5120, static_cast<std::size_t>(rate) * channels);
    for (std::size_t at = 0; at < samples.size(); at += block) {
        const std::size_t n = std::min(block, samples.size() - at);
        std::int32_t used = 0;
        if (const int result =
                encoder.Encoder_Encode(reinterpret_cast<const std::uint8_t*>(samples.data() + at),
                                       static_cast<std::int32_t>(n * 2), used);
            result != 0) {
            return result;
        }
    }
    return 0;
}

// The file's samples as the type's own reference reader decodes them (16-bit, interleaved).
std::vector<std::int16_t> SecondReader(const std::string& path, const std::string& extension) {
    const std::string file = audioprobe::quoted(path);
    const std::string command =
        extension == "flac"
            ? "flac -d -s -c --force-raw-format --endian=little --sign=signed " + file
        : extension == "opus" ? "opusdec --quiet --rate 48000 " + file + " - 2>/dev/null"
                              : "mpg123 -q -s " + file;
    int status = -1;
    const std::string raw = audioprobe::run(command, status);
    EXPECT_EQ(status, 0) << command;
    std::vector<std::int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

double Rms(std::span<const std::int16_t> s) {
    double sum = 0;
    for (const std::int16_t v : s) {
        sum += static_cast<double>(v) * v;
    }
    return s.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(s.size()));
}

class AudioFileType : public ::testing::TestWithParam<TypeCase> {
protected:
    TempDir dir;
};

// Two seconds of tone become a file ffprobe names as the type, with the tags, that the type's
// reference reader decodes to the tone's length (FLAC: to the very samples; the lossy types:
// the tone's level within 1 dB).
TEST_P(AudioFileType, ToneMakesAFileTwoReadersDecode) {
    const TypeCase& c = GetParam();
    const std::string path = dir.file(std::string("录音7.") + c.extension);
    const auto input = Tone(c.rate, c.channels, 2.0);
    EncoderAudioFile encoder;
    ASSERT_EQ(encoder.Encoder_EncoderInit(c.rate, c.channels, path), 0);
    ASSERT_EQ(Encode(encoder, input, c.rate, c.channels), 0);
    ASSERT_EQ(encoder.Encoder_EncoderClose(), 0);

    const audioprobe::FfprobeInfo info = audioprobe::ffprobe(path);
    ASSERT_TRUE(info.ok) << info.text;
    EXPECT_EQ(info.codecName, c.extension == std::string("opus")  ? "opus"
                              : c.extension == std::string("mp3") ? "mp3"
                                                                  : "flac");
    EXPECT_EQ(info.sampleRate, c.fileRate);
    EXPECT_EQ(info.channels, c.channels);
    int status = -1;
    const std::string tags =
        audioprobe::run("ffprobe -v error -show_entries format_tags:stream_tags -of default=nw=1 " +
                            audioprobe::quoted(path),
                        status);
    EXPECT_NE(tags.find("=录音7\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("=Vocarn\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("date=20"), std::string::npos) << tags;

    const auto decoded = SecondReader(path, c.extension);
    const double frames = static_cast<double>(decoded.size()) / c.channels;
    if (c.extension == std::string("flac")) {
        EXPECT_EQ(decoded, input);
        return;
    }
    EXPECT_NEAR(frames / c.fileRate, 2.0, 0.03) << "the tone's length";
    // The level over the middle second, away from the codecs' start and end.
    const auto middle = std::span<const std::int16_t>(decoded).subspan(
        static_cast<std::size_t>(c.fileRate / 2 * c.channels),
        static_cast<std::size_t>(c.fileRate * c.channels));
    EXPECT_NEAR(20 * std::log10(Rms(middle) / Rms(input)), 0.0, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    EachType, AudioFileType,
    ::testing::Values(TypeCase{"flac", 44100, 2, 44100}, TypeCase{"flac", 8000, 1, 8000},
                      TypeCase{"opus", 44100, 2, 48000}, TypeCase{"opus", 8000, 1, 48000},
                      TypeCase{"mp3", 44100, 2, 44100}, TypeCase{"mp3", 37000, 1, 44100}),
    caseName);

// A take killed mid-way (the process ends by SIGKILL after 3 s of sound) keeps all but about
// the last second in every type; a FLAC take, whose header states no total until the stop,
// is repaired at the next start to its whole frames, cut wherever the disk left it.
TEST(AudioFileKill, KilledTakeKeepsItsSoundAndAFlacTakeIsRepaired) {
    TempDir dir;
    const auto input = Tone(44100, 2, 3.0);
    for (const std::string extension : {"flac", "opus", "mp3"}) {
        const std::string path = dir.file("killed." + extension);
        const pid_t child = ::fork();
        if (child == 0) {
            EncoderAudioFile encoder;
            if (encoder.Encoder_EncoderInit(44100, 2, path) != 0 ||
                Encode(encoder, input, 44100, 2) != 0) {
                ::_exit(1);
            }
            ::raise(SIGKILL);
            ::_exit(2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << extension;
        if (extension == "flac") {
            EXPECT_EQ(FlacRepair::Repair(path), FlacRepair::Outcome::Repaired);
            EXPECT_EQ(FlacRepair::Repair(path), FlacRepair::Outcome::Untouched);
        }
        const auto decoded = SecondReader(path, extension);
        const double seconds =
            static_cast<double>(decoded.size()) / 2 / (extension == "opus" ? 48000.0 : 44100.0);
        EXPECT_GT(seconds, 2.0) << extension;
        std::printf("killed %s take: %.3f s of 3 s kept\n", extension.c_str(), seconds);
        const audioprobe::FfprobeInfo info = audioprobe::ffprobe(path);
        EXPECT_TRUE(info.ok) << info.text;
        if (extension == "flac") {
            // The whole frames are the tone's first samples, and the header states them.
            ASSERT_LE(decoded.size(), input.size());
            EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), input.begin()));
            EXPECT_EQ(info.durationTs, static_cast<std::int64_t>(decoded.size() / 2));
            // Cut anywhere in the last frames, the repair keeps the whole ones before.
            const auto bytes = audioprobe::readFile(path);
            for (const std::size_t cut : {bytes.size() - 1, bytes.size() - 5000}) {
                const std::string part = dir.file("cut" + std::to_string(cut) + ".flac");
                std::vector<std::uint8_t> prefix(bytes.begin(), bytes.begin() + cut);
                // As the kill leaves it: no total stated.
                std::fill(prefix.begin() + 21, prefix.begin() + 26, 0);
                prefix[21] = bytes[21] & 0xF0;
                std::ofstream(part, std::ios::binary)
                    .write(reinterpret_cast<const char*>(prefix.data()),
                           static_cast<std::streamsize>(prefix.size()));
                EXPECT_EQ(FlacRepair::Repair(part), FlacRepair::Outcome::Repaired) << cut;
                const auto kept = SecondReader(part, extension);
                EXPECT_LT(kept.size(), decoded.size()) << cut;
                EXPECT_GT(kept.size(), decoded.size() - 2 * 44100) << cut;
                EXPECT_TRUE(std::equal(kept.begin(), kept.end(), input.begin())) << cut;
            }
        }
    }
}

// A disk that fills up (the file size limit stands for it) stops the take: the block that
// does not fit gives 10, so the take ends with the usual message, and the file, finished as
// far as the disk lets it, opens in ffprobe and decodes in the reference reader.
TEST(AudioFileFullDisk, FullDiskGivesAShortWriteAndAPlayableFile) {
    TempDir dir;
    const auto input = Tone(44100, 2, 3.0);
    for (const std::string extension : {"flac", "opus", "mp3"}) {
        const std::string path = dir.file("full." + extension);
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{12000, 12000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            EncoderAudioFile encoder;
            if (encoder.Encoder_EncoderInit(44100, 2, path) != 0) {
                ::_exit(1);
            }
            const int result = Encode(encoder, input, 44100, 2);
            encoder.Encoder_EncoderClose();
            ::_exit(result);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 10) << extension;
        const audioprobe::FfprobeInfo info = audioprobe::ffprobe(path);
        EXPECT_TRUE(info.ok) << info.text;
        EXPECT_FALSE(SecondReader(path, extension).empty()) << extension;
    }
}

} // namespace
