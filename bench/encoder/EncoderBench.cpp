// The encoder's part of the block path: one 10240-byte block of 44100 Hz stereo through
// Encoder_Encode into a real file (copy into the source buffer, conversion, write).
#include "encoder/EncoderWAV.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int32_t BlockBytes = 10240;
// Start a new file every 2000 blocks (about 20 MB) so the file stays in the page cache.
constexpr int BlocksPerFile = 2000;

std::string benchPath() {
    return (std::filesystem::temp_directory_path() /
            ("vocarn-encoder-bench-" + std::to_string(::getpid()) + ".wav"))
        .string();
}

void encodeBlocks(benchmark::State& state, EncoderWAV& enc) {
    std::vector<std::int16_t> block(BlockBytes / 2);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::int16_t>(std::lrint(10000.0 * std::sin(i * 0.0627)));
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
    const std::string path = benchPath();
    if (enc.Encoder_EncoderInit(44100, 2, path) != 0) {
        state.SkipWithError("Encoder_EncoderInit failed");
        return;
    }
    int inFile = 0;
    for (auto _ : state) {
        std::int32_t used = 0;
        if (enc.Encoder_Encode(bytes, BlockBytes, used) != 0) {
            state.SkipWithError("Encoder_Encode failed");
            break;
        }
        if (++inFile == BlocksPerFile) {
            state.PauseTiming();
            enc.Encoder_EncoderInit(44100, 2, path);
            inFile = 0;
            state.ResumeTiming();
        }
    }
    enc.Encoder_EncoderClose();
    std::filesystem::remove(path);
    state.SetBytesProcessed(state.iterations() * BlockBytes);
}

// Output in the input's own format (the default): the conversion is a copy.
void BM_EncodeBlock_Pcm44100Stereo(benchmark::State& state) {
    EncoderWAV enc;
    encodeBlocks(state, enc);
}

// Output resampled to 48000 Hz stereo.
void BM_EncodeBlock_Pcm48000Stereo(benchmark::State& state) {
    EncoderWAV enc;
    enc.SetPCMFormat(48000, 2, "", "");
    encodeBlocks(state, enc);
}

// Output resampled to 22050 Hz and mixed down to mono.
void BM_EncodeBlock_Pcm22050Mono(benchmark::State& state) {
    EncoderWAV enc;
    enc.SetPCMFormat(22050, 1, "", "");
    encodeBlocks(state, enc);
}

} // namespace

BENCHMARK(BM_EncodeBlock_Pcm44100Stereo)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeBlock_Pcm48000Stereo)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeBlock_Pcm22050Mono)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
