// One tick of the live display: the amplitude trace and the 22-bar spectrum of a 100 ms
// stereo block (8820 samples at 44100 Hz) into boxes of the main window's sizes. Two blocks
// take turns, so that every tick draws a new block (the same block again is not redrawn).
#include "display/PictureBox.h"
#include "display/clsDraw.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

void BM_DisplayTick(benchmark::State& state) {
    std::vector<std::vector<std::int16_t>> blocks(2, std::vector<std::int16_t>(8820));
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        for (std::size_t i = 0; i < blocks[b].size(); ++i) {
            const double t = static_cast<double>(i / 2 + 4410 * b);
            blocks[b][i] = static_cast<std::int16_t>(std::lrint(
                12000.0 * std::sin(0.031 * t) + 3000.0 * std::sin(0.9 * static_cast<double>(i))));
        }
    }
    PictureBox amplitudes, spectrum;
    amplitudes.resize(159, 30);
    spectrum.resize(151, 30);
    clsDraw draw;
    std::size_t turn = 0;
    for (auto _ : state) {
        const std::vector<std::int16_t>& block = blocks[turn];
        turn ^= 1;
        draw.DrawAmplitudes(block, amplitudes);
        draw.DrawFrequencies(block, spectrum);
        benchmark::DoNotOptimize(draw.BandLevel(0));
    }
}
BENCHMARK(BM_DisplayTick);

} // namespace
