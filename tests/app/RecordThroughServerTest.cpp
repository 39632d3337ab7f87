#include "app/Form1.h"
#include "platform/PulseWaveIn.h"
#include "platform/WindowService.h"

#include "EventPump.h"
#include "KeptLog.h"
#include "MessageRecorder.h"
#include "RampFeeder.h"
#include "ReadBack.h"
#include "ScriptedChooser.h"
#include "SoundServer.h"

#include "app/PopupComboBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTime>
#include <QTimeEdit>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Frame k of the ramp: left = k wrapped to 16 bits, right = its complement, so no frame is
// silence and any lost, doubled or swapped frame breaks the sequence.
std::int16_t rampLeft(std::uint32_t k) {
    return static_cast<std::int16_t>(k & 0xFFFF);
}
std::int16_t rampRight(std::uint32_t k) {
    return static_cast<std::int16_t>(~rampLeft(k));
}

std::array<std::int16_t, 2> rampFrame(std::uint32_t k) {
    return {rampLeft(k), rampRight(k)};
}

// The ramp fed by a process of its own from frame 0, so that it goes on while this process
// stands still, until End. On PulseAudio a forked child writes it into the pipe source's
// FIFO in real time, as RampFeeder does (only system calls after the fork: this process has
// threads). On PipeWire pacat plays it into the ramp's null sink from a file written
// beforehand, as fast as the server takes it; the sink's monitor is recorded, which gives
// silence before the first frame and after the last.
class RampProcess {
public:
    // `file`: where the ramp is written for pacat.
    explicit RampProcess(QString file)
        : fifo_(qEnvironmentVariable("VOCARN_TEST_PIPE").toStdString()),
          sink_(qEnvironmentVariable("VOCARN_TEST_RAMP_SINK").toStdString()),
          file_(std::move(file)) {}
    ~RampProcess() { End(); }
    RampProcess(const RampProcess&) = delete;
    RampProcess& operator=(const RampProcess&) = delete;

    std::string Source() const { return fifo_.empty() ? sink_ + ".monitor" : "vocarn_pipe"; }
    bool SilenceAround() const { return fifo_.empty(); }

    bool Start() {
        if (!fifo_.empty()) {
            pid_ = ::fork();
            if (pid_ == 0) {
                WriteToFifo();
            }
            return pid_ > 0;
        }
        if (sink_.empty()) {
            ADD_FAILURE() << "no ramp source: run through scripts/test (scripts/sound-server)";
            return false;
        }
        constexpr std::uint32_t frames = 44100 * 15;
        std::vector<std::int16_t> samples(2 * frames);
        for (std::uint32_t k = 0; k < frames; ++k) {
            samples[2 * k] = rampLeft(k);
            samples[2 * k + 1] = rampRight(k);
        }
        QFile out(file_);
        const auto bytes = static_cast<qint64>(samples.size() * sizeof(std::int16_t));
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(reinterpret_cast<const char*>(samples.data()), bytes) != bytes) {
            ADD_FAILURE() << "cannot write " << file_.toStdString();
            return false;
        }
        out.close();
        const std::string device = "--device=" + sink_;
        const std::string path = file_.toStdString();
        const char* argv[] = {"pacat",        "--playback",     "--raw",
                              device.c_str(), "--format=s16le", "--rate=44100",
                              "--channels=2", path.c_str(),     nullptr};
        if (::posix_spawnp(&pid_, "pacat", nullptr, nullptr, const_cast<char* const*>(argv),
                           environ) != 0) {
            ADD_FAILURE() << "cannot start pacat";
            pid_ = -1;
        }
        return pid_ > 0;
    }

    void End() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    [[noreturn]] void WriteToFifo() {
        const int fd = ::open(fifo_.c_str(), O_WRONLY);
        if (fd < 0) {
            ::_exit(1);
        }
        constexpr std::uint32_t framesPerChunk = 441; // 1764 bytes: one write is atomic
        std::int16_t chunk[framesPerChunk * 2];
        timespec next{};
        ::clock_gettime(CLOCK_MONOTONIC, &next);
        for (std::uint32_t k = 0;; k += framesPerChunk) {
            for (std::uint32_t i = 0; i < framesPerChunk; ++i) {
                chunk[2 * i] = rampLeft(k + i);
                chunk[2 * i + 1] = rampRight(k + i);
            }
            if (::write(fd, chunk, sizeof chunk) != static_cast<ssize_t>(sizeof chunk)) {
                ::_exit(1);
            }
            next.tv_nsec += 10'000'000;
            if (next.tv_nsec >= 1'000'000'000) {
                next.tv_nsec -= 1'000'000'000;
                ++next.tv_sec;
            }
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
    }

    std::string fifo_; // PulseAudio: the pipe source's FIFO
    std::string sink_; // PipeWire: the sink to play into
    QString file_;
    pid_t pid_ = -1;
};

// Takes out of the pipe source's FIFO what the source did not read (it reads only while a
// take runs), so that the next take does not begin with it. A monitor keeps nothing back.
void EmptyFifo() {
    const std::string fifo = qEnvironmentVariable("VOCARN_TEST_PIPE").toStdString();
    const int fd = fifo.empty() ? -1 : ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return;
    }
    char sink[4096];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
    ::close(fd);
}

// Hands every block to the window, and once, at the tenth block, holds the window's thread
// for a while first (three seconds unless told), as a busy desktop may.
class StallOnce final : public WaveInRecorderEvents {
public:
    explicit StallOnce(Form1& form, std::chrono::milliseconds stall = 3s)
        : form_(form), stall_(stall) {}
    void GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) override {
        if (++blocks_ == 10) {
            std::this_thread::sleep_for(stall_);
        }
        form_.clsRecorder_GotData(intBuffer, lngLen);
    }

private:
    Form1& form_;
    std::chrono::milliseconds stall_;
    int blocks_ = 0;
};

// Chooses the source called `name` in the window's device list; false when it is not listed.
bool ChooseSource(Form1& form, const std::string& name) {
    auto* cboDev = form.findChild<QComboBox*>("cboDev");
    const int device = DeviceIndexOf(name);
    if (device < 0 || device >= cboDev->count()) {
        return false;
    }
    cboDev->setCurrentIndex(device);
    emit cboDev->activated(device);
    return true;
}

// Where the ramp in `samples` (interleaved stereo) runs on from its first frame, and by
// how many frames (modulo the ramp's 65536-frame period) it jumps ahead where it does not.
struct RampBreaks {
    std::size_t frames = 0;    // ramp frames in the file
    std::size_t jumps = 0;     // places where a frame does not follow its predecessor
    std::uint32_t skipped = 0; // frames skipped over at those places, modulo 65536
    bool wellFormed = true;    // every frame is a ramp frame (left and right agree)
};

// silenceAfter: the source gives silence after the ramp's last frame (a monitor).
RampBreaks FindBreaks(const std::vector<std::int16_t>& samples, bool silenceAfter) {
    RampBreaks breaks;
    std::size_t first = 0;
    const std::size_t frames = samples.size() / 2;
    while (first < frames && samples[2 * first] == 0 && samples[2 * first + 1] == 0) {
        ++first;
    }
    for (std::size_t f = first; f < frames; ++f) {
        const auto value = static_cast<std::uint16_t>(samples[2 * f]);
        if (samples[2 * f + 1] != rampRight(value)) {
            const auto silent = [&](std::size_t g) {
                return samples[2 * g] == 0 && samples[2 * g + 1] == 0;
            };
            breaks.wellFormed = silent(f) && f + 1 == frames;
            if (silenceAfter) {
                breaks.wellFormed = true;
                for (std::size_t g = f; g < frames; ++g) {
                    breaks.wellFormed = breaks.wellFormed && silent(g);
                }
            }
            break;
        }
        ++breaks.frames;
        if (f > first) {
            const auto expected = static_cast<std::uint16_t>(samples[2 * f - 2] + 1);
            if (value != expected) {
                ++breaks.jumps;
                breaks.skipped =
                    (breaks.skipped + static_cast<std::uint16_t>(value - expected)) & 0xFFFF;
            }
        }
    }
    return breaks;
}

// Records the ramp for `period` and checks that the file holds it without a lost or doubled
// frame.
void RecordRamp(std::chrono::milliseconds period, bool stall) {
    RampFeeder feeder(rampFrame);
    ASSERT_TRUE(feeder.ok());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    Form1 form(windows, waveIn, dir.path());

    ASSERT_TRUE(ChooseSource(form, feeder.Source()));
    ASSERT_TRUE(messages.messages.empty());
    auto* cmdDo = form.findChild<QPushButton*>("cmdDo");
    const QString path = form.findChild<QLineEdit*>("txtFile")->text();
    cmdDo->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    StallOnce stallOnce(form);
    if (stall) {
        form.Recorder().setEvents(&stallOnce);
    }
    feeder.Start();
    PumpFor(period);
    feeder.Stop();
    // Let the recorder take what is still on its way, so nothing is left for the next take.
    PumpFor(400ms);
    const std::int32_t elapsedMS = form.lngElapsedMS();
    cmdDo->click();
    ASSERT_FALSE(form.Recorder().IsRecording());
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(form.strLastFile(), path);
    EXPECT_EQ(form.Recorder().DroppedBytes(), 0u); // nothing reported lost either

    const std::vector<std::int16_t> samples = ReadBack(path, 44100, 2);
    const std::size_t frames = samples.size() / 2;

    // Silence the source may give before the first or after the last ramp frame is allowed;
    // between them every frame follows its predecessor.
    std::size_t first = 0;
    while (first < frames && samples[2 * first] == 0 && samples[2 * first + 1] == 0) {
        ++first;
    }
    std::size_t end = frames;
    while (end > first && samples[2 * end - 2] == 0 && samples[2 * end - 1] == 0) {
        --end;
    }
    ASSERT_LT(first, end) << "no ramp in the file";
    const auto start = static_cast<std::uint16_t>(samples[2 * first]);
    std::size_t broken = 0;
    for (std::size_t f = first; f < end; ++f) {
        const std::uint32_t k = start + static_cast<std::uint32_t>(f - first);
        if (samples[2 * f] != rampLeft(k) || samples[2 * f + 1] != rampRight(k)) {
            ADD_FAILURE() << "frame " << f << " breaks the ramp: " << samples[2 * f] << ", "
                          << samples[2 * f + 1] << " where " << rampLeft(k) << " belongs";
            if (++broken == 5) {
                break;
            }
        }
    }
    const std::size_t rampFrames = end - first;
    // The whole period went in, up to the last frame written.
    EXPECT_GT(rampFrames, 44100u * static_cast<std::uint32_t>(period.count()) / 1000 - 22050);
    EXPECT_EQ(rampFrames, feeder.Written() - start);

    // The recorded time before the stop agrees with the file to within the end of the take
    // that the stop delivers: the partly filled block (58 ms at most), which is all on the
    // pipe source, silent since the ramp ended. A monitor goes on giving its sink's silence,
    // and the stop delivers what it captured up to the press too: up to one graph cycle
    // (93 ms, scripts/sound-server) more.
    const double fileMS = frames * 1000.0 / 44100.0;
    EXPECT_NEAR(fileMS, elapsedMS, feeder.SilenceAround() ? 58.0 + 93.0 : 58.0);
    std::printf("ramp: %zu frames of %u written, from value %u; silence %zu frames before, "
                "%zu after; file %.1f ms, recorded time %d ms\n",
                rampFrames, feeder.Written(), static_cast<unsigned>(start), first, frames - end,
                fileMS, elapsedMS);
}

TEST(RecordThroughServer, PipeRampReachesTheFileWhole) {
    RecordRamp(3000ms, false);
}

TEST(RecordThroughServer, ThreeSecondStallOfTheWindowLosesNoFrame) {
    RecordRamp(6000ms, true);
}

// A stall longer than the server keeps unread sound for loses sound: the take says how much
// at its stop (status bar and system log), and exactly that much is missing from the file.
TEST(RecordThroughServer, SoundTheServerDropsInALongStallIsReportedAtTheStop) {
    RampFeeder feeder(rampFrame);
    ASSERT_TRUE(feeder.ok());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    KeptLog log;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    waveIn.setBacklogForTests(44100 * 4); // one second
    Form1 form(windows, waveIn, dir.path());
    ASSERT_TRUE(ChooseSource(form, feeder.Source()));
    form.findChild<QPushButton*>("cmdDo")->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    StallOnce stall(form, 3500ms);
    form.Recorder().setEvents(&stall);
    feeder.Start();
    PumpFor(5500ms);
    feeder.Stop();
    PumpFor(400ms);
    form.findChild<QPushButton*>("cmdDo")->click();
    ASSERT_FALSE(form.Recorder().IsRecording());

    const std::uint64_t dropped = form.Recorder().DroppedBytes();
    const RampBreaks breaks =
        FindBreaks(ReadBack(form.strLastFile(), 44100, 2), feeder.SilenceAround());
    std::printf("dropped %llu bytes; ramp %zu frames with %zu jumps over %u frames\n",
                static_cast<unsigned long long>(dropped), breaks.frames, breaks.jumps,
                breaks.skipped);
    // 3.5 s of stall less the second kept and the few blocks of queued buffers.
    EXPECT_GT(dropped, 44100u * 4 / 2);
    EXPECT_LT(dropped, 44100u * 4 * 3);
    EXPECT_EQ(dropped % 4, 0u);
    EXPECT_TRUE(breaks.wellFormed);
    EXPECT_GE(breaks.jumps, 1u);
    EXPECT_EQ(breaks.skipped, (dropped / 4) & 0xFFFF);

    const QString status = form.findChild<QStatusBar*>("sbar")->currentMessage();
    EXPECT_TRUE(status.contains(QStringLiteral("已被声音服务器丢弃"))) << status.toStdString();
    ASSERT_EQ(log.lines.size(), 1u);
    const std::string droppedText = std::to_string(dropped) + " bytes) of sound dropped";
    EXPECT_NE(log.lines[0].find('(' + droppedText), std::string::npos) << log.lines[0];
    EXPECT_TRUE(messages.messages.empty());
}

// What the server's record streams of this process read once they have settled (a stream
// just closed may take a moment to go).
std::vector<std::string> SettledRecordedSources(std::size_t expected) {
    std::vector<std::string> sources = RecordedSources();
    for (int i = 0; i < 20 && sources.size() != expected; ++i) {
        PumpFor(100ms);
        sources = RecordedSources();
    }
    return sources;
}

// The device picked is recorded whatever is plugged in or out after the pick; a start when
// it has gone records nothing, says so and shows the devices there are now.
TEST(RecordThroughServer, RecordsThePickedSourceWhateverIsPluggedInOrOut) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    // Its monitor is listed under the same name as the test run's own null sink's monitor:
    // only the server's name of a source tells the two apart. (PulseAudio calls every null
    // sink "Null Output"; PipeWire calls one after its name unless told.)
    LoadedModule picked({"module-null-sink", "sink_name=vocarn_picked",
                         "sink_properties='device.description=\"Null Output\"'"});
    ASSERT_TRUE(picked.ok());
    Form1 form(windows, waveIn, dir.path());
    auto* cboDev = form.findChild<QComboBox*>("cboDev");
    auto* cboRecLine = form.findChild<QComboBox*>("cboRecLine");
    auto* cmdDo = form.findChild<QPushButton*>("cmdDo");
    ASSERT_TRUE(ChooseSource(form, "vocarn_picked.monitor"));
    const QString shown = cboDev->currentText();
    ASSERT_EQ(shown.toStdString(),
              SourcesInDeviceOrder()
                  .at(static_cast<std::size_t>(DeviceIndexOf("vocarn_null.monitor")))
                  .description);

    // A source plugged in after the pick is listed before the picked monitor.
    LoadedModule plugged(NullSourceModule("vocarn_plugged"));
    ASSERT_TRUE(plugged.ok());
    ASSERT_LT(DeviceIndexOf("vocarn_plugged"), DeviceIndexOf("vocarn_picked.monitor"));
    cmdDo->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    EXPECT_EQ(SettledRecordedSources(1), std::vector<std::string>{"vocarn_picked.monitor"});
    EXPECT_EQ(cboDev->currentText(), shown);
    cmdDo->click();

    // Unplugged again, the picked monitor moves back up: still the one recorded.
    plugged.Unload();
    cmdDo->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    EXPECT_EQ(SettledRecordedSources(1), std::vector<std::string>{"vocarn_picked.monitor"});
    cmdDo->click();
    ASSERT_FALSE(form.Recorder().IsRecording());
    EXPECT_TRUE(messages.messages.empty());

    // The picked device itself is unplugged: the start records nothing and says why.
    picked.Unload();
    const std::int16_t fileNo = form.intFileNo();
    const QString path = form.findChild<QLineEdit*>("txtFile")->text();
    cmdDo->click();
    EXPECT_FALSE(form.Recorder().IsRecording());
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("所选录音设备已不存在，请重新选择!"));
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("提示"));
    EXPECT_EQ(messages.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_EQ(cmdDo->text(), QStringLiteral("开始录音"));
    EXPECT_EQ(SettledRecordedSources(0), std::vector<std::string>{});
    // The list is read again: the devices there are, none chosen, no lines.
    const auto now = SourcesInDeviceOrder();
    ASSERT_EQ(cboDev->count(), static_cast<int>(now.size()));
    for (std::size_t i = 0; i < now.size(); ++i) {
        EXPECT_EQ(cboDev->itemText(static_cast<int>(i)).toStdString(), now[i].description);
    }
    EXPECT_EQ(cboDev->currentIndex(), -1);
    EXPECT_EQ(cboRecLine->count(), 0);
    // The next file was finished empty and stays the next file.
    EXPECT_EQ(form.intFileNo(), fileNo);
    EXPECT_EQ(form.findChild<QLineEdit*>("txtFile")->text(), path);
    PumpFor(300ms);
    EXPECT_TRUE(ReadBack(path, 44100, 2).empty());
}

// The slider and its label show the source's volume as the desktop's mixer does; picking
// the device or opening the list never writes it, moving the slider does.
TEST(RecordThroughServer, VolumeIsShownAsTheServerHasItAndOnlyTheSliderWritesIt) {
    const std::string monitor = "vocarn_null.monitor"; // a stereo source
    const QString source = QString::fromStdString(monitor);
    FullVolumeAfterwards restore(monitor);
    Pactl({"set-source-volume", source, "150%", "80%"});
    const auto set = SourceVolumes(monitor);
    ASSERT_EQ(set.size(), 2u);
    ASSERT_EQ(set[0].second, "150%");

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    Form1 form(windows, waveIn, dir.path());
    auto* cboDev = form.findChild<PopupComboBox*>("cboDev");
    auto* sldVol = form.findChild<QSlider*>("sldVol");
    auto* lblVolPer = form.findChild<QLabel*>("lblVolPer");

    ASSERT_TRUE(ChooseSource(form, monitor));
    EXPECT_EQ(SourceVolumes(monitor), set);
    EXPECT_EQ(sldVol->value(), sldVol->maximum());
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("150%"));
    emit cboDev->aboutToShowPopup();
    EXPECT_EQ(
        cboDev->currentText().toStdString(),
        SourcesInDeviceOrder().at(static_cast<std::size_t>(DeviceIndexOf(monitor))).description);
    EXPECT_EQ(SourceVolumes(monitor), set);
    EXPECT_EQ(sldVol->value(), sldVol->maximum());
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("150%"));

    // 30 % shows as 30%, as pactl prints it; listing the devices writes nothing either.
    Pactl({"set-source-volume", source, "30%"});
    const auto thirty = SourceVolumes(monitor);
    emit cboDev->aboutToShowPopup();
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("30%"));
    EXPECT_EQ(SourceVolumes(monitor), thirty);

    // The user's move writes every channel, and the label shows what the desktop then shows.
    sldVol->setValue(32768);
    const auto half = SourceVolumes(monitor);
    ASSERT_EQ(half.size(), 2u);
    EXPECT_EQ(half[0].second, "50%");
    EXPECT_EQ(half[1].first, half[0].first);
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("50%"));
    sldVol->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(SourceVolumes(monitor)[1].second, "100%");
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("100%"));
    EXPECT_TRUE(messages.messages.empty());
}

// Below one capture block per second (5120 Hz mono, 2560 Hz stereo) a block holds one second
// of sound, which the encoder takes: the file grows while the time counts, and holds what the
// time shows and the end of the take.
TEST(RecordThroughServer, LowRatesRecordWhatTheTimeShows) {
    QString monitor;
    for (const ServerSource& source : SourcesInDeviceOrder()) {
        if (source.name == "vocarn_null.monitor") {
            monitor = QString::fromStdString(source.description);
        }
    }
    ASSERT_FALSE(monitor.isEmpty());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    ScriptedChooser chooser; // the stereo box opens it; it cancels
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    Form1 form(windows, waveIn, dir.path(), chooser);
    auto* cboDev = form.findChild<QComboBox*>("cboDev");
    const int device = cboDev->findText(monitor);
    ASSERT_GE(device, 0);
    cboDev->setCurrentIndex(device);
    emit cboDev->activated(device);
    auto* cmdDo = form.findChild<QPushButton*>("cmdDo");
    auto* rate = form.findChild<QComboBox*>("cboSamplerate");
    auto* stereo = form.findChild<QCheckBox*>("chkStereo");

    for (const auto& [hz, twoChannels] : {std::pair{5000, false}, std::pair{2000, true}}) {
        SCOPED_TRACE(hz);
        rate->setCurrentText(QString::number(hz));
        stereo->setChecked(twoChannels);
        const QString path = form.findChild<QLineEdit*>("txtFile")->text();
        cmdDo->click();
        ASSERT_TRUE(form.Recorder().IsRecording());
        ASSERT_TRUE(PumpUntil([&] { return form.lngElapsedMS() >= 2000; }, 10s));
        EXPECT_GT(QFileInfo(path).size(), 46) << "the take grows while the time counts";
        const std::int32_t elapsedMS = form.lngElapsedMS();
        cmdDo->click();
        ASSERT_FALSE(form.Recorder().IsRecording());
        EXPECT_TRUE(messages.messages.empty());
        // Written as 44100 Hz stereo, the output format set: every block the time counted,
        // and the end of the take the stop delivers (at most one more one-second block).
        const std::size_t frames = ReadBack(path, 44100, 2).size() / 2;
        EXPECT_GE(frames, static_cast<std::size_t>(elapsedMS) * 441 / 10);
        EXPECT_LT(frames, static_cast<std::size_t>(elapsedMS + 1100) * 441 / 10);
    }
}

// A take holds the sound from the press of 开始录音 to the press of 停止录音. At 8000 Hz mono
// one capture buffer holds 640 ms: the sound of the last, partly filled one and what the
// server still held at the press reach the file too.
TEST(RecordThroughServer, TakeHoldsTheSoundFromPressToPress) {
    RampFeeder feeder(rampFrame);
    ASSERT_TRUE(feeder.ok());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    ScriptedChooser chooser; // the format stays 16-bit PCM at 44100 Hz stereo
    Form1 form(windows, waveIn, dir.path(), chooser);
    ASSERT_TRUE(ChooseSource(form, feeder.Source()));
    form.findChild<QCheckBox*>("chkStereo")->setChecked(false);
    form.findChild<QComboBox*>("cboSamplerate")->setCurrentText(QStringLiteral("8000"));

    auto* cmdDo = form.findChild<QPushButton*>("cmdDo");
    const Clock::time_point pressed = Clock::now();
    cmdDo->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    const Clock::time_point first = Clock::now();
    feeder.Start();
    PumpFor(3000ms);
    const Clock::time_point second = Clock::now();
    cmdDo->click();
    const Clock::time_point stopped = Clock::now();
    feeder.Stop();
    EmptyFifo();
    ASSERT_FALSE(form.Recorder().IsRecording());
    EXPECT_TRUE(messages.messages.empty());

    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    const double fileMS = ReadBack(form.strLastFile(), 44100, 2).size() / 88.2;
    std::printf("take: %.1f ms between the presses (%.1f ms from the start of the first), "
                "%.1f ms in the file; the start took %.1f ms, the stop %.1f ms\n",
                ms(second - first), ms(second - pressed), fileMS, ms(first - pressed),
                ms(stopped - second));
    // Within the source's latency and the resampler's delay (the pipe source's fragment is
    // 23 ms).
    constexpr double latencyMS = 40.0;
    if (feeder.SilenceAround()) {
        // A monitor has sound (its sink's silence) from the moment the stream runs, which is
        // while the first press is handled. PipeWire hands the sound on a graph cycle at a
        // time (93 ms, scripts/sound-server), and what it reports held at the second press
        // may reach up to one cycle past it.
        EXPECT_GT(fileMS, ms(second - first) - latencyMS);
        EXPECT_LT(fileMS, ms(second - pressed) + 93.0 + latencyMS);
    } else {
        // The pipe source has sound once the ramp is written, after the first press.
        EXPECT_NEAR(fileMS, ms(second - first), latencyMS);
    }
}

// The whole program stands still (stopped by a signal) for longer than the server keeps
// unread sound for: PulseAudio drops what the source captures meanwhile before it enters
// the stream's queue, moving no index; PipeWire, once the queue has run over, drops all of it
// but the newest fragment. The take says how much at its stop (status bar and system log),
// and that much, within one capture buffer, is missing from the file.
TEST(RecordThroughServer, SoundTheServerDropsWhileTheProgramStandsStillIsReportedAtTheStop) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    KeptLog log;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    waveIn.setBacklogForTests(44100 * 4); // one second
    Form1 form(windows, waveIn, dir.path());
    RampProcess ramp(dir.filePath(QStringLiteral("ramp.raw")));
    ASSERT_TRUE(ChooseSource(form, ramp.Source()));
    form.findChild<QPushButton*>("cmdDo")->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    ASSERT_TRUE(ramp.Start());
    PumpFor(1500ms);

    // A process of its own stops this one for 3.5 s.
    const pid_t stopper = ::fork();
    ASSERT_GE(stopper, 0);
    if (stopper == 0) {
        const pid_t parent = ::getppid();
        ::kill(parent, SIGSTOP);
        const timespec stall{3, 500'000'000};
        ::nanosleep(&stall, nullptr);
        ::kill(parent, SIGCONT);
        ::_exit(0);
    }
    PumpFor(1000ms); // the stall falls in here
    ASSERT_EQ(::waitpid(stopper, nullptr, 0), stopper);
    PumpFor(1500ms);
    ramp.End();
    PumpFor(400ms);
    form.findChild<QPushButton*>("cmdDo")->click();
    ASSERT_FALSE(form.Recorder().IsRecording());

    const std::uint64_t dropped = form.Recorder().DroppedBytes();
    const RampBreaks breaks =
        FindBreaks(ReadBack(form.strLastFile(), 44100, 2), ramp.SilenceAround());
    std::printf("dropped %llu bytes (%llu frames); ramp %zu frames with %zu jumps over %u "
                "frames (mod 65536)\n",
                static_cast<unsigned long long>(dropped),
                static_cast<unsigned long long>(dropped / 4), breaks.frames, breaks.jumps,
                breaks.skipped);
    // PulseAudio: 3.5 s of stall less the second kept (and what the socket between took).
    // PipeWire keeps nothing of a queue that ran over but its last fragment: the stall less
    // what the socket between took.
    EXPECT_GT(dropped, 44100u * 4);
    EXPECT_LT(dropped, OnPipeWire() ? 44100u * 4 * 7 / 2 : 44100u * 4 * 3);
    EXPECT_EQ(dropped % 4, 0u);
    EXPECT_TRUE(breaks.wellFormed);
    EXPECT_GE(breaks.jumps, 1u);
    // The frames skipped, known modulo the ramp's period, agree within one buffer.
    const auto off = static_cast<std::int16_t>(((dropped / 4) - breaks.skipped) & 0xFFFF);
    EXPECT_LE(std::abs(off), 2560)
        << "reported " << dropped / 4 << " frames, skipped " << breaks.skipped << " (mod 65536)";

    const QString status = form.findChild<QStatusBar*>("sbar")->currentMessage();
    EXPECT_TRUE(status.contains(QStringLiteral("已被声音服务器丢弃"))) << status.toStdString();
    ASSERT_EQ(log.lines.size(), 1u);
    const std::string droppedText = std::to_string(dropped) + " bytes) of sound dropped";
    EXPECT_NE(log.lines[0].find('(' + droppedText), std::string::npos) << log.lines[0];
    EXPECT_TRUE(messages.messages.empty());
}

} // namespace

// A take paused and continued on the way, with a set length: the file holds the ramp up to
// the pause and from the continuation on, joined with no frame lost or doubled (the one jump
// in the ramp is exactly the frames captured while paused), and it stops by itself when the
// length has been captured, paused time included, to the frame. The ramp passes full scale
// six times a period; the take counts every such sample it wrote and says so at the stop.
TEST(RecordThroughServer, PausedTakeJoinsWithoutGapAndStopsAtItsSetLength) {
    RampFeeder feeder(rampFrame);
    ASSERT_TRUE(feeder.ok());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    KeptLog log;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    ScriptedChooser chooser; // 16-bit PCM at 44100 Hz stereo
    Form1 form(windows, waveIn, dir.path(), chooser);
    ASSERT_TRUE(ChooseSource(form, feeder.Source()));
    form.findChild<QCheckBox*>("chkLength")->setChecked(true);
    form.findChild<QTimeEdit*>("tmeLength")->setTime(QTime(0, 0, 4));
    auto* cmdPause = form.findChild<QPushButton*>("cmdPause");
    auto* time = form.findChild<QLabel*>("sbarTime");
    EXPECT_FALSE(cmdPause->isEnabled());

    form.findChild<QPushButton*>("cmdDo")->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    feeder.Start();
    PumpFor(1200ms);
    cmdPause->click();
    EXPECT_EQ(cmdPause->text(), QStringLiteral("继续"));
    const QString pausedAt = time->text();
    EXPECT_TRUE(pausedAt.contains(QStringLiteral("已暂停"))) << pausedAt.toStdString();
    PumpFor(700ms);
    EXPECT_EQ(time->text(), pausedAt) << "the time stands while paused";
    cmdPause->click();
    EXPECT_TRUE(PumpUntil([&] { return !form.Recorder().IsRecording(); }, 6000ms));
    feeder.Stop();
    EmptyFifo();
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_TRUE(form.findChild<QStatusBar*>("sbar")->currentMessage().startsWith(
        QStringLiteral("已到设定时长")));

    const std::vector<std::int16_t> samples = ReadBack(form.strLastFile(), 44100, 2);
    const std::uint64_t paused = form.CurrentTake().PausedFrames();
    EXPECT_GT(paused, 44100u / 2);
    EXPECT_EQ(samples.size() / 2, 4u * 44100 - paused) << "the set length, to the frame";
    const RampBreaks breaks = FindBreaks(samples, false);
    EXPECT_TRUE(breaks.wellFormed);
    EXPECT_EQ(breaks.jumps, 1u);
    EXPECT_EQ(breaks.skipped, paused % 65536) << "no frame lost or doubled at the joint";

    const auto full = static_cast<std::uint64_t>(std::count_if(
        samples.begin(), samples.end(), [](std::int16_t s) { return s >= 32767 || s <= -32767; }));
    EXPECT_GE(full, 6u) << "the ramp passes full scale at least once";
    EXPECT_EQ(form.CurrentTake().ClippedSamples(), full);
    const QString clipped = QStringLiteral("%1 个采样削波").arg(full);
    EXPECT_TRUE(form.findChild<QStatusBar*>("sbar")->currentMessage().contains(clipped));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find(std::to_string(full) + " samples clipped"), std::string::npos);
}

// Voice activation at -40 dBFS with 1 s of hold: two bursts of sound, each starting with
// 0.1 s below the threshold, among 5.5 s of silence. The file holds both bursts whole, their
// quiet starts kept by the pre-roll, and little more than the hold of the silence; the
// status bar says whether the take waits or writes.
constexpr std::uint32_t kBurstA = 44100;     // frames 1.0 .. 2.0 s
constexpr std::uint32_t kBurstB = 5 * 44100; // frames 5.0 .. 6.0 s
constexpr std::uint32_t kQuiet = 4410;       // the first 0.1 s of a burst, below -40 dBFS

std::array<std::int16_t, 2> burstFrame(std::uint32_t k) {
    const bool inBurst =
        (k >= kBurstA && k < kBurstA + 44100) || (k >= kBurstB && k < kBurstB + 44100);
    if (!inBurst) {
        return {0, 0};
    }
    const std::uint32_t start = k < kBurstB ? kBurstA : kBurstB;
    if (k - start < kQuiet) {
        return {static_cast<std::int16_t>(1 + (k & 0xFF)),
                static_cast<std::int16_t>(1 + ((k >> 8) & 0xFF))};
    }
    return {static_cast<std::int16_t>(4096 + (k & 0x3FFF)),
            static_cast<std::int16_t>(4096 + ((k >> 14) & 0xFFF))};
}

TEST(RecordThroughServer, VoiceActivatedTakeHoldsTheBurstsWithTheirPreRoll) {
    RampFeeder feeder(burstFrame);
    ASSERT_TRUE(feeder.ok());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    ScriptedChooser chooser;
    Form1 form(windows, waveIn, dir.path(), chooser);
    ASSERT_TRUE(ChooseSource(form, feeder.Source()));
    form.findChild<QCheckBox*>("chkVoice")->setChecked(true);
    form.findChild<QSpinBox*>("spnThreshold")->setValue(-40);
    form.findChild<QSpinBox*>("spnHold")->setValue(1);
    auto* time = form.findChild<QLabel*>("sbarTime");

    form.findChild<QPushButton*>("cmdDo")->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    feeder.Start(7 * 44100);
    PumpFor(600ms);
    EXPECT_TRUE(time->text().contains(QStringLiteral("等待声音"))) << time->text().toStdString();
    EXPECT_TRUE(PumpUntil([&] { return form.CurrentTake().VoiceWriting(); }, 3000ms));
    PumpFor(100ms);
    EXPECT_TRUE(time->text().contains(QStringLiteral("录音中"))) << time->text().toStdString();
    EXPECT_TRUE(PumpUntil([&] { return feeder.Written() >= 7 * 44100; }, 9000ms));
    PumpFor(500ms);
    form.findChild<QPushButton*>("cmdDo")->click();
    feeder.Stop();
    EmptyFifo();
    EXPECT_TRUE(messages.messages.empty());

    const std::vector<std::int16_t> samples = ReadBack(form.strLastFile(), 44100, 2);
    // Every sound frame of both bursts, in order, and between them only silence.
    std::vector<std::uint32_t> expected;
    for (std::uint32_t k = 0; k < 7 * 44100; ++k) {
        if (burstFrame(k)[0] != 0) {
            expected.push_back(k);
        }
    }
    std::size_t next = 0;
    std::size_t silent = 0;
    for (std::size_t f = 0; f < samples.size() / 2; ++f) {
        const std::array<std::int16_t, 2> frame = {samples[2 * f], samples[2 * f + 1]};
        if (frame[0] == 0 && frame[1] == 0) {
            ++silent;
            continue;
        }
        ASSERT_LT(next, expected.size()) << "sound after both bursts at frame " << f;
        ASSERT_EQ(frame, burstFrame(expected[next])) << "frame " << f << " of the file";
        ++next;
    }
    EXPECT_EQ(next, expected.size()) << "both bursts whole";
    // Per burst: the pre-roll's 0.2 s of silence before the quiet start, and the hold after
    // it, within two capture blocks; the source had 5.5 s of silence and more.
    const double silentS = silent / 44100.0;
    EXPECT_GT(silentS, 2 * 1.0);
    EXPECT_LT(silentS, 2 * (0.2 + 1.0 + 2 * 0.058) + 0.01);
    std::printf("voice-activated take: %.3f s of sound, %.3f s of silence in the file\n",
                next / 44100.0, silentS);
}
