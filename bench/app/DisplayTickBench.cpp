// One tick of the main window's live display while recording: waveform, spectrum, both
// level bars and the two status texts, for a 10240-byte block of 44100 Hz stereo.

#include "app/Form1.h"
#include "platform/WindowService.h"

#include "ScriptedWaveIn.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>

namespace {

void DisplayTick(benchmark::State& state) {
    QTemporaryDir dir;
    platform::WindowService windows;
    ScriptedWaveIn waveIn;
    waveIn.devices = {"Scripted microphone"};
    Form1 form(windows, waveIn, dir.path());
    auto* cboDev = form.findChild<QComboBox*>("cboDev");
    cboDev->setCurrentIndex(0);
    emit cboDev->activated(0);
    auto* cmdDo = form.findChild<QPushButton*>("cmdDo");
    cmdDo->click();
    if (!form.Recorder().IsRecording()) {
        state.SkipWithError("the recording did not start");
        return;
    }
    std::vector<std::int16_t> buffer(5120);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] =
            static_cast<std::int16_t>(20000.0 * std::sin(0.14 * static_cast<double>(i / 2)));
    }
    std::int32_t lngLen = 10240;
    form.clsRecorder_GotData(buffer, lngLen);

    for (auto _ : state) {
        form.tmrVis_Timer();
    }
    cmdDo->click();
}
BENCHMARK(DisplayTick)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
