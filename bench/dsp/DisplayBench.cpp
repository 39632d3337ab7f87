// One tick of the live display: the amplitude trace and the 22-bar spectrum of a 100 ms
// stereo block (8820 samples at 44100 Hz) into boxes of the main window's sizes.
#include "display/PictureBox.h"
#include "display/clsDraw.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

void BM_DisplayTick(benchmark::State& state) {
    std::vector<std::int16_t> block(8820);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::int16_t>(
            std::lrint(12000.0 * std::sin(0.031 * static_cast<double>(i / 2)) +
                       3000.0 * std::sin(0.9 * static_cast<double>(i))));
    }
    PictureBox amplitudes, spectrum;
    amplitudes.resize(159, 30);
    spectrum.resize(151, 30);
    clsDraw draw;
    for (auto _ : state) {
        draw.DrawAmplitudes(block, amplitudes);
        draw.DrawFrequencies(block, spectrum);
        benchmark::DoNotOptimize(draw.BandLevel(0));
    }
}
BENCHMARK(BM_DisplayTick);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
