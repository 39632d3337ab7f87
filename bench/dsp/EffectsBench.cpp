// Throughput of the effects chain on 60 s of 44100 Hz stereo, processed in place in blocks
// of 8192 samples. The audio is read from the raw file named by VOCARN_BENCH_AUDIO (signed
// 16-bit little-endian, interleaved), so that other tools can run on the very same samples;
// without it a fixed noise-and-tones signal is made here.
#include "dsp/clsDSP.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <span>
#include <vector>

namespace {

constexpr std::int32_t kRate = 44100;
constexpr std::int16_t kChannels = 2;
constexpr std::size_t kBlock = 8192;

const std::vector<std::int16_t>& audio() {
    static const std::vector<std::int16_t> samples = [] {
        std::vector<std::int16_t> v;
        if (const char* path = std::getenv("VOCARN_BENCH_AUDIO")) {
            std::ifstream in(path, std::ios::binary);
            in.seekg(0, std::ios::end);
            const auto bytes = static_cast<std::size_t>(in.tellg());
            in.seekg(0);
            v.resize(bytes / 2);
            in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(v.size() * 2));
        }
        if (v.empty()) {
            v.resize(static_cast<std::size_t>(kRate) * kChannels * 60);
            std::mt19937 rng(1);
            std::normal_distribution<double> noise(0.0, 2000.0);
            for (std::size_t i = 0; i < v.size(); ++i) {
                const double t = static_cast<double>(i / 2) / kRate;
                const double s = 8000.0 * std::sin(2.0 * M_PI * 440.0 * t) +
                                 4000.0 * std::sin(2.0 * M_PI * 3000.0 * t) + noise(rng);
                v[i] = static_cast<std::int16_t>(std::lrint(std::clamp(s, -32768.0, 32767.0)));
            }
        }
        return v;
    }();
    return samples;
}

void configure(clsDSP& d, std::int32_t effects) {
    d.setSamplerate(kRate);
    d.setChannels(kChannels);
    d.setEffectsUsed(effects);
    // The same seven band gains as the comparison run of the other tool.
    const float gains[] = {3.0f, -2.0f, 4.0f, -3.0f, 2.0f, -4.0f, 5.0f};
    for (std::int32_t i = 0; i < 7; ++i) {
        d.setEqualizerBandGainDB(i, gains[i]);
    }
}

void runChain(benchmark::State& state, std::int32_t effects) {
    const auto& input = audio();
    std::vector<std::int16_t> work(input.size());
    clsDSP d;
    configure(d, effects);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(input.begin(), input.end(), work.begin());
        state.ResumeTiming();
        for (std::size_t at = 0; at < work.size(); at += kBlock) {
            const std::size_t n = std::min(kBlock, work.size() - at);
            d.ProcessSamples(std::span<std::int16_t>(work).subspan(at, n));
        }
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    const double seconds = static_cast<double>(input.size()) / (kRate * kChannels);
    state.counters["realtime_x"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(input.size()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Amplifier(benchmark::State& s) {
    runChain(s, 4);
}
void BM_Echo(benchmark::State& s) {
    runChain(s, 1);
}
void BM_PhaseShifter(benchmark::State& s) {
    runChain(s, 2);
}
void BM_Equalizer(benchmark::State& s) {
    runChain(s, 8);
}
void BM_PhaseShifterEqualizer(benchmark::State& s) {
    runChain(s, 2 | 8);
}
void BM_WholeChain(benchmark::State& s) {
    runChain(s, 15);
}

// The phase shifter's serial part alone: each sample's four all-pass sections depend on
// the previous sample's last section through the feedback, with every value rounded to
// single. Nothing else of the effect (sweep, mixing, output) is done, so this is the
// floor the full effect can approach.
void BM_PhaseShifterDependencyFloor(benchmark::State& state) {
    const auto& input = audio();
    float y[4] = {0, 0, 0, 0}, x[4] = {0, 0, 0, 0};
    const double fb = 0.5, c = 0.99;
    for (auto _ : state) {
        for (std::int16_t s : input) {
            float u = static_cast<float>(static_cast<double>(s) * 3.0518e-5 +
                                         static_cast<double>(y[3]) * fb);
            for (int k = 0; k < 4; ++k) {
                const float ny =
                    static_cast<float>(c * (static_cast<double>(u) + static_cast<double>(y[k])) -
                                       static_cast<double>(x[k]));
                x[k] = u;
                y[k] = ny;
                u = ny;
            }
        }
        benchmark::DoNotOptimize(y);
    }
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(input.size()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_Amplifier)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Echo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhaseShifter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhaseShifterDependencyFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Equalizer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhaseShifterEqualizer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeChain)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
