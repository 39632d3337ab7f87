// Each output format: one second of 44100 Hz stereo through the encoder (init, 10240-byte
// blocks, close) into a real file, beside the ffmpeg program encoding the same raw audio
// to the same format (that figure includes starting the program).
#include "encoder/EncoderWAV.h"
#include "platform/acm/AcmFormats.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using platform::AcmFormats;

namespace {

struct Format {
    const char* name;
    std::uint16_t tag;
    std::int32_t variant;
    std::int16_t channels;
    const char* ffmpegCodec;
};

const Format formats[] = {
    {"PCM16", AcmFormats::TagPcm, 16, 2, "pcm_s16le"},
    {"PCM8", AcmFormats::TagPcm, 8, 2, "pcm_u8"},
    {"Float32", AcmFormats::TagIeeeFloat, 32, 2, "pcm_f32le"},
    {"IMA_ADPCM", AcmFormats::TagImaAdpcm, 0, 2, "adpcm_ima_wav"},
    {"MS_ADPCM", AcmFormats::TagMsAdpcm, 0, 2, "adpcm_ms"},
    {"ALaw", AcmFormats::TagALaw, 0, 2, "pcm_alaw"},
    {"uLaw", AcmFormats::TagMuLaw, 0, 2, "pcm_mulaw"},
    {"GSM610_mono", AcmFormats::TagGsm610, 0, 1, "libgsm_ms"},
    {"MP3_128k", AcmFormats::TagMpegLayer3, 128000, 2, "libmp3lame"},
};

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("vocarn-codec-bench-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::vector<std::int16_t> second() {
    std::vector<std::int16_t> s;
    for (int i = 0; i < 44100; ++i) {
        const auto v = static_cast<std::int16_t>(std::lrint(12000.0 * std::sin(i * 0.1425)));
        s.push_back(v);
        s.push_back(static_cast<std::int16_t>(-v));
    }
    return s;
}

void BM_EncoderSecond(benchmark::State& state, const Format& f) {
    const auto record = AcmFormats::record(f.tag, 44100, f.channels, f.variant);
    EncoderWAV enc;
    enc.SetFormat(record->bytes(), AcmFormats::text(*record), AcmFormats::tagName(f.tag));
    const auto audio = second();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(audio.data());
    const std::string path = tempPath(std::string(f.name) + ".wav");
    for (auto _ : state) {
        if (enc.Encoder_EncoderInit(44100, 2, path) != 0) {
            state.SkipWithError("Encoder_EncoderInit failed");
            break;
        }
        for (std::int32_t at = 0; at < 176400; at += 10240) {
            std::int32_t used = 0;
            enc.Encoder_Encode(bytes + at, std::min(10240, 176400 - at), used);
        }
        enc.Encoder_EncoderClose();
    }
    std::filesystem::remove(path);
}

void BM_FfmpegProgramSecond(benchmark::State& state, const Format& f) {
    const std::string raw = tempPath(std::string(f.name) + ".raw");
    const std::string out = tempPath(std::string(f.name) + "-ffmpeg.wav");
    {
        const auto audio = second();
        std::ofstream(raw, std::ios::binary)
            .write(reinterpret_cast<const char*>(audio.data()),
                   static_cast<std::streamsize>(audio.size() * 2));
    }
    std::string command = "ffmpeg -nostdin -v error -y -f s16le -ar 44100 -ac 2 -i " + raw +
                          " -ac " + std::to_string(f.channels) + " -c:a " + f.ffmpegCodec;
    if (f.tag == AcmFormats::TagMpegLayer3) {
        command += " -b:a 128k";
    }
    if (f.tag == AcmFormats::TagGsm610) {
        command += " -ar 8000"; // ffmpeg's GSM encoder takes 8000 Hz only without extra options
    }
    command += " " + out;
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
    }
    std::filesystem::remove(raw);
    std::filesystem::remove(out);
}

const int registered = [] {
    for (const Format& f : formats) {
        benchmark::RegisterBenchmark((std::string("EncoderSecond/") + f.name).c_str(),
                                     BM_EncoderSecond, f)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("FfmpegProgramSecond/") + f.name).c_str(),
                                     BM_FfmpegProgramSecond, f)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(20);
    }
    return 0;
}();

} // namespace

BENCHMARK_MAIN();
