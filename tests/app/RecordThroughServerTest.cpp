#include "app/Form1.h"
#include "platform/PulseWaveIn.h"
#include "platform/WindowService.h"

#include "EventPump.h"
#include "KeptLog.h"
#include "MessageRecorder.h"
#include "RampFeeder.h"
#include "ReadBack.h"
#include "SoundServer.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

namespace {

using namespace std::chrono_literals;

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
    // The whole period went in; the take loses at most the partly filled last buffer.
    EXPECT_GT(rampFrames, 44100u * static_cast<std::uint32_t>(period.count()) / 1000 - 22050);
    EXPECT_LE(rampFrames, feeder.Written());
    EXPECT_GE(rampFrames + 2560, feeder.Written() - start);

    // The recorded time agrees with the file to within one block (58 ms).
    const double fileMS = frames * 1000.0 / 44100.0;
    EXPECT_NEAR(fileMS, elapsedMS, 58.0);
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

} // namespace
