// One tick of the main window's live display while recording: waveform, spectrum, both
// level bars and the two status texts, for a 10240-byte block of 44100 Hz stereo. Every tick
// shows a new block (two take turns; a block already drawn is not drawn again); handing the
// block over is not timed, and it writes nothing to the file.

#include "RecordingWindow.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

void DisplayTick(benchmark::State& state) {
    RecordingWindow window;
    Form1& form = window.form();
    if (!window.Start()) {
        state.SkipWithError("the recording did not start");
        return;
    }
    std::vector<std::vector<std::int16_t>> blocks(2, std::vector<std::int16_t>(5120));
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        for (std::size_t i = 0; i < blocks[b].size(); ++i) {
            blocks[b][i] =
                static_cast<std::int16_t>((20000.0 - 8000.0 * static_cast<double>(b)) *
                                          std::sin(0.14 * static_cast<double>(i / 2 + 1280 * b)));
        }
    }
    std::int32_t lngLen = 10240;
    form.clsRecorder_GotData(blocks[0], lngLen);

    std::size_t turn = 0;
    for (auto _ : state) {
        state.PauseTiming();
        turn ^= 1;
        std::int32_t nothing = 0; // the block is shown, not written
        form.clsRecorder_GotData(blocks[turn], nothing);
        state.ResumeTiming();
        form.tmrVis_Timer();
    }
    window.ClickRecord();
}
BENCHMARK(DisplayTick)->Unit(benchmark::kMicrosecond);

} // namespace
