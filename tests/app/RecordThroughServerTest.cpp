#include "app/Form1.h"
#include "platform/PulseWaveIn.h"
#include "platform/WindowService.h"

#include "EventPump.h"
#include "MessageRecorder.h"
#include "ReadBack.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
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

// Writes the ramp into the pipe source's FIFO at 44100 frames per second, 10 ms at a time,
// until stopped; counts the frames written.
class RampWriter {
public:
    explicit RampWriter(const std::string& fifo) : fd_(::open(fifo.c_str(), O_WRONLY)) {}
    ~RampWriter() {
        Stop();
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }
    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::uint32_t written() const { return written_; }

private:
    void Run() {
        constexpr std::uint32_t framesPerChunk = 441;
        std::vector<std::int16_t> chunk(framesPerChunk * 2);
        const Clock::time_point start = Clock::now();
        for (std::uint32_t n = 0; !stop_; ++n) {
            for (std::uint32_t i = 0; i < framesPerChunk; ++i) {
                chunk[2 * i] = rampLeft(written_ + i);
                chunk[2 * i + 1] = rampRight(written_ + i);
            }
            const auto* bytes = reinterpret_cast<const char*>(chunk.data());
            std::size_t left = chunk.size() * 2;
            while (left > 0) {
                const ssize_t put = ::write(fd_, bytes, left);
                if (put <= 0) {
                    return;
                }
                bytes += put;
                left -= static_cast<std::size_t>(put);
            }
            written_ += framesPerChunk;
            std::this_thread::sleep_until(start + (n + 1) * 10ms);
        }
    }

    int fd_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint32_t> written_{0};
};

// Hands every block to the window, and once, at the tenth block, holds the window's thread
// for three seconds first, as a busy desktop may.
class StallOnce final : public WaveInRecorderEvents {
public:
    explicit StallOnce(Form1& form) : form_(form) {}
    void GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) override {
        if (++blocks_ == 10) {
            std::this_thread::sleep_for(3s);
        }
        form_.clsRecorder_GotData(intBuffer, lngLen);
    }

private:
    Form1& form_;
    int blocks_ = 0;
};

// Records the pipe source's ramp for `period` and checks that the file holds it without a
// lost or doubled frame.
void RecordPipeRamp(std::chrono::milliseconds period, bool stall) {
    const std::string fifo = qEnvironmentVariable("VOCARN_TEST_PIPE").toStdString();
    ASSERT_FALSE(fifo.empty()) << "run through scripts/test";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageRecorder messages;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    Form1 form(windows, waveIn, dir.path());

    // The pipe source is listed under its description, which names its FIFO.
    auto* cboDev = form.findChild<QComboBox*>("cboDev");
    ASSERT_NE(cboDev, nullptr);
    int pipe = -1;
    QStringList names;
    for (int i = 0; i < cboDev->count(); ++i) {
        names << cboDev->itemText(i);
        if (cboDev->itemText(i).contains(QString::fromStdString(fifo))) {
            pipe = i;
        }
    }
    ASSERT_GE(pipe, 0) << names.join(" | ").toStdString();
    cboDev->setCurrentIndex(pipe);
    emit cboDev->activated(pipe);
    ASSERT_TRUE(messages.messages.empty());

    RampWriter writer(fifo);
    ASSERT_TRUE(writer.ok());
    auto* cmdDo = form.findChild<QPushButton*>("cmdDo");
    const QString path = form.findChild<QLineEdit*>("txtFile")->text();
    cmdDo->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    StallOnce stallOnce(form);
    if (stall) {
        form.Recorder().setEvents(&stallOnce);
    }
    writer.Start();
    PumpFor(period);
    writer.Stop();
    // Let the recorder take what is still on its way, so nothing is left for the next take.
    PumpFor(400ms);
    const std::int32_t elapsedMS = form.lngElapsedMS();
    cmdDo->click();
    ASSERT_FALSE(form.Recorder().IsRecording());
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(form.strLastFile(), path);

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
    EXPECT_LE(rampFrames, writer.written());
    EXPECT_GE(rampFrames + 2560, writer.written() - start);

    // The recorded time agrees with the file to within one block (58 ms).
    const double fileMS = frames * 1000.0 / 44100.0;
    EXPECT_NEAR(fileMS, elapsedMS, 58.0);
    std::printf("ramp: %zu frames of %u written, from value %u; silence %zu frames before, "
                "%zu after; file %.1f ms, recorded time %d ms\n",
                rampFrames, writer.written(), static_cast<unsigned>(start), first, frames - end,
                fileMS, elapsedMS);
}

TEST(RecordThroughServer, PipeRampReachesTheFileWhole) {
    RecordPipeRamp(3000ms, false);
}

TEST(RecordThroughServer, ThreeSecondStallOfTheWindowLosesNoFrame) {
    RecordPipeRamp(6000ms, true);
}

} // namespace
