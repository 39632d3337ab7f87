// The per-block path of a recording: one 10240-byte block of 44100 Hz stereo through the
// main window's block handler while recording (copy, effects, conversion, file write).

#include "RecordingWindow.h"
#include "dsp/clsDSP.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// Restarting the recording now and then keeps the file from growing without bound.
constexpr int kBlocksPerFile = 4096;

void BlockPath(benchmark::State& state) {
    RecordingWindow window;
    Form1& form = window.form();
    form.Effects().setEffectsUsed(static_cast<std::int32_t>(state.range(0)));
    if (!window.Start()) {
        state.SkipWithError("the recording did not start");
        return;
    }

    std::vector<std::int16_t> buffer(5120);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<std::int16_t>(8000.0 * std::sin(0.05 * static_cast<double>(i)));
    }
    int blocks = 0;
    for (auto _ : state) {
        std::int32_t lngLen = 10240;
        form.clsRecorder_GotData(buffer, lngLen);
        benchmark::DoNotOptimize(form.intBlock().data());
        if (++blocks == kBlocksPerFile) {
            state.PauseTiming();
            window.ClickRecord();
            window.ClickRecord();
            blocks = 0;
            state.ResumeTiming();
        }
    }
    window.ClickRecord();
    state.SetBytesProcessed(state.iterations() * 10240);
}
// Arguments: the effects switched on (0 none, 15 all four).
BENCHMARK(BlockPath)->Arg(0)->Arg(15)->Unit(benchmark::kMicrosecond);

} // namespace
