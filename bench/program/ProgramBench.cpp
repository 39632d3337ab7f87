// The running program, measured from inside: the main window with the real PulseAudio
// capture, as main.cpp builds it. Processor time and peak resident size come from
// getrusage of this process. One measurement per run, printed as name=value lines:
//
//   program_bench show            shown_ms: from VOCARN_BENCH_T0 (the launcher's clock,
//                                 ns since the epoch) to the window's first show event
//   program_bench idle S          idle_cpu_pct: processor time over S s with the window
//                                 open and nothing recording, in % of one core
//   program_bench record S TEXT   record_cpu_per_s: processor seconds per second of audio
//                                 while recording S s from the first device whose name
//                                 holds TEXT, 44100 Hz stereo; peak_rss_mb; audio_s
//   program_bench record-hidden S TEXT  the same with the window hidden once the take runs,
//                                 as it is in the tray
// With VOCARN_BENCH_TYPE set to flac, opus or mp3 the take is a file of that type.
#include "ProcessUsage.h"

#include "app/Form1.h"
#include "platform/PulseWaveIn.h"
#include "platform/WindowService.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Catches the main window's first show event.
class ShowWatch : public QObject {
public:
    std::int64_t shownNs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (shownNs == 0 && event->type() == QEvent::Show && qobject_cast<Form1*>(watched)) {
            shownNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
        }
        return false;
    }
};

int usage() {
    std::fprintf(stderr,
                 "usage: program_bench show | idle SECONDS | record[-hidden] SECONDS TEXT\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        return usage();
    }
    const std::string mode = argv[1];
    const bool hidden = mode == "record-hidden";
    if ((mode == "idle" && argc != 3) || ((mode == "record" || hidden) && argc != 4) ||
        (mode != "show" && mode != "idle" && mode != "record" && !hidden)) {
        return usage();
    }
    QApplication app(argc, argv);
    ShowWatch watch;
    app.installEventFilter(&watch);
    QTemporaryDir folder;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    Form1 form(windows, waveIn, folder.path());

    if (mode == "show") {
        QTimer::singleShot(0, &app, [&] {
            const char* t0 = std::getenv("VOCARN_BENCH_T0");
            if (t0 == nullptr || watch.shownNs == 0) {
                std::fprintf(stderr, "no start time or no show event\n");
                QApplication::exit(1);
                return;
            }
            std::printf("shown_ms=%.1f\n",
                        static_cast<double>(watch.shownNs - std::atoll(t0)) / 1e6);
            QApplication::quit();
        });
        return QApplication::exec();
    }

    const int seconds = std::atoi(argv[2]);
    // Let the start-up settle before counting.
    constexpr int kSettleMs = 1000;
    double cpu0 = 0.0;
    if (mode == "idle") {
        QTimer::singleShot(kSettleMs, &app, [&] { cpu0 = processusage::CpuSeconds(); });
        QTimer::singleShot(kSettleMs + seconds * 1000, &app, [&] {
            std::printf("idle_cpu_pct=%.3f\n",
                        100.0 * (processusage::CpuSeconds() - cpu0) / seconds);
            QApplication::quit();
        });
        return QApplication::exec();
    }

    auto* cboDev = form.findChild<QComboBox*>(QStringLiteral("cboDev"));
    const int device = cboDev->findText(QString::fromUtf8(argv[3]), Qt::MatchContains);
    if (device < 0) {
        std::fprintf(stderr, "no device named like %s\n", argv[3]);
        return 1;
    }
    cboDev->setCurrentIndex(device);
    emit cboDev->activated(device);
    auto* rate = form.findChild<QComboBox*>(QStringLiteral("cboSamplerate"));
    rate->setCurrentText(QStringLiteral("44100"));
    form.findChild<QCheckBox*>(QStringLiteral("chkStereo"))->setChecked(true);
    auto* cmdDo = form.findChild<QPushButton*>(QStringLiteral("cmdDo"));
    int status = 0;
    QTimer::singleShot(kSettleMs, &app, [&] {
        cpu0 = processusage::CpuSeconds();
        cmdDo->click();
        if (hidden) {
            form.hide();
        }
        if (!form.Recorder().IsRecording()) {
            std::fprintf(stderr, "the recording did not start\n");
            status = 1;
            QApplication::quit();
        }
    });
    // VOCARN_BENCH_TYPE=flac (or opus, mp3): the take is a file of that type.
    const QString type = qEnvironmentVariable("VOCARN_BENCH_TYPE");
    if (!type.isEmpty()) {
        form.findChild<QLineEdit*>(QStringLiteral("txtFile"))
            ->setText(folder.filePath(QStringLiteral("file/bench.") + type));
    }
    QTimer::singleShot(kSettleMs + seconds * 1000, &app, [&] {
        // A compressed file's length says nothing simple of its audio: the recorded time does.
        const double recorded = form.lngElapsedMS() / 1000.0;
        cmdDo->click();
        const double cpu = processusage::CpuSeconds() - cpu0;
        qint64 bytes = 0;
        for (const QFileInfo& f : QDir(folder.path() + QStringLiteral("/file"))
                                      .entryInfoList({QStringLiteral("*.wav")}, QDir::Files)) {
            bytes += f.size();
        }
        // 44100 Hz stereo 16-bit; the header is not audio.
        const double audio =
            type.isEmpty() ? static_cast<double>(bytes > 44 ? bytes - 44 : 0) / 176400.0 : recorded;
        std::printf("audio_s=%.2f\nrecord_cpu_per_s=%.5f\npeak_rss_mb=%.1f\n", audio,
                    audio > 0 ? cpu / audio : 0.0, processusage::PeakRssMb());
        QApplication::quit();
    });
    const int result = QApplication::exec();
    return status != 0 ? status : result;
}
