// Each output format: a whole recording of 44100 Hz stereo through the encoder (init,
// 10240-byte blocks as the capture delivers them, close) into a real file. The audio is read
// from the raw file named by VOCARN_BENCH_AUDIO (signed 16-bit little-endian, interleaved)
// so that other encoders can run on the very same samples (bench/encoder/compare-codecs);
// without it 60 s of tones are made here. realtime_x: seconds of audio per second.
#include "encoder/EncoderAudioFile.h"
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

constexpr std::int32_t Rate = 44100;
constexpr std::int16_t Channels = 2;
constexpr std::int32_t BlockBytes = 10240;

struct Format {
    const char* name;
    std::uint16_t tag;
    std::int32_t variant; // bits for PCM and float, bit rate for MPEG Layer-3
    std::int32_t rate;
    std::int16_t channels;
};

// GSM 6.10 is the 8000 Hz mono codec; everything else keeps the recording's rate and
// channels, so the codec's own work is what differs.
const Format formats[] = {
    {"PCM16", AcmFormats::TagPcm, 16, Rate, Channels},
    {"PCM8", AcmFormats::TagPcm, 8, Rate, Channels},
    {"Float32", AcmFormats::TagIeeeFloat, 32, Rate, Channels},
    {"IMA_ADPCM", AcmFormats::TagImaAdpcm, 0, Rate, Channels},
    {"MS_ADPCM", AcmFormats::TagMsAdpcm, 0, Rate, Channels},
    {"ALaw", AcmFormats::TagALaw, 0, Rate, Channels},
    {"uLaw", AcmFormats::TagMuLaw, 0, Rate, Channels},
    {"GSM610_8000_mono", AcmFormats::TagGsm610, 0, 8000, 1},
    {"MP3_128k", AcmFormats::TagMpegLayer3, 128000, Rate, Channels},
};

const std::vector<std::int16_t>& recording() {
    static const std::vector<std::int16_t> samples = [] {
        std::vector<std::int16_t> v;
        if (const char* path = std::getenv("VOCARN_BENCH_AUDIO")) {
            std::ifstream in(path, std::ios::binary);
            in.seekg(0, std::ios::end);
            v.resize(static_cast<std::size_t>(in.tellg()) / 2);
            in.seekg(0);
            in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(v.size() * 2));
        } else {
            for (int i = 0; i < 60 * Rate; ++i) {
                const double t = static_cast<double>(i) / Rate;
                v.push_back(static_cast<std::int16_t>(std::lrint(8000.0 * std::sin(2764.6 * t))));
                v.push_back(static_cast<std::int16_t>(std::lrint(6000.0 * std::sin(18849.6 * t))));
            }
        }
        return v;
    }();
    return samples;
}

void BM_EncoderRecording(benchmark::State& state, const Format& f) {
    const auto record = AcmFormats::record(f.tag, f.rate, f.channels, f.variant);
    EncoderWAV enc;
    enc.SetFormat(record->bytes(), AcmFormats::text(*record), AcmFormats::tagName(f.tag));
    const auto& audio = recording();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(audio.data());
    const auto total = static_cast<std::int32_t>(audio.size() * 2);
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("vocarn-codec-bench-" + std::to_string(::getpid()) + "-" + f.name + ".wav"))
            .string();
    for (auto _ : state) {
        if (enc.Encoder_EncoderInit(Rate, Channels, path) != 0) {
            state.SkipWithError("Encoder_EncoderInit failed");
            break;
        }
        for (std::int32_t at = 0; at < total;) {
            std::int32_t used = 0;
            if (enc.Encoder_Encode(bytes + at, std::min(BlockBytes, total - at), used) != 0) {
                state.SkipWithError("Encoder_Encode failed");
                break;
            }
            if (used == 0) {
                break; // a partial frame at the end
            }
            at += used;
        }
        enc.Encoder_EncoderClose();
    }
    std::filesystem::remove(path);
    const double seconds = static_cast<double>(audio.size()) / (Rate * Channels);
    state.counters["realtime_x"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// A whole recording into a file of a compressed type (FLAC, Ogg Opus, MP3), the type named
// by the file's extension, with the encoder's default settings.
void BM_FileRecording(benchmark::State& state, const char* extension) {
    EncoderAudioFile enc;
    const auto& audio = recording();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(audio.data());
    const auto total = static_cast<std::int32_t>(audio.size() * 2);
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("vocarn-codec-bench-" + std::to_string(::getpid()) + "." + extension))
            .string();
    for (auto _ : state) {
        if (enc.Encoder_EncoderInit(Rate, Channels, path) != 0) {
            state.SkipWithError("Encoder_EncoderInit failed");
            break;
        }
        for (std::int32_t at = 0; at < total; at += BlockBytes) {
            std::int32_t used = 0;
            if (enc.Encoder_Encode(bytes + at, std::min(BlockBytes, total - at), used) != 0) {
                state.SkipWithError("Encoder_Encode failed");
                break;
            }
        }
        enc.Encoder_EncoderClose();
    }
    const double seconds = static_cast<double>(audio.size()) / (Rate * Channels);
    // The file's size per minute of this audio.
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    state.counters["kib_per_min"] =
        error ? 0.0 : static_cast<double>(size) / 1024.0 / (seconds / 60);
    std::filesystem::remove(path);
    state.counters["realtime_x"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

const int registered = [] {
    for (const char* extension : {"flac", "opus", "mp3"}) {
        benchmark::RegisterBenchmark((std::string("FileRecording/") + extension).c_str(),
                                     BM_FileRecording, extension)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    for (const Format& f : formats) {
        benchmark::RegisterBenchmark((std::string("EncoderRecording/") + f.name).c_str(),
                                     BM_EncoderRecording, f)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    return 0;
}();

} // namespace

BENCHMARK_MAIN();
