// Capture against the private sound server of the test run (PULSE_SERVER).
#include "platform/PulseWaveIn.h"
#include "capture/WaveInRecorder.h"

#include "EventPump.h"
#include "SoundServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// Copies every delivered block.
class Collect : public WaveInRecorderEvents {
public:
    std::vector<std::int16_t> samples;
    int blocks = 0;
    std::chrono::milliseconds handlerTime{0};
    void GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) override {
        samples.insert(samples.end(), intBuffer.begin(), intBuffer.begin() + lngLen / 2);
        ++blocks;
        std::this_thread::sleep_for(handlerTime);
    }
};

} // namespace

TEST(PulseWaveIn, ListsTheServerSourcesInputsFirstByDescription) {
    const auto expected = SourcesInDeviceOrder();
    std::vector<std::string> names;
    for (const auto& s : expected) {
        names.push_back(s.name);
    }
    // The private server's sources: two inputs, then the null sink's monitor.
    ASSERT_EQ(names,
              (std::vector<std::string>{"vocarn_sine", "vocarn_pipe", "vocarn_null.monitor"}));

    PulseWaveIn waveIn;
    ASSERT_EQ(waveIn.DeviceCount(), static_cast<std::int32_t>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(waveIn.DeviceName(static_cast<std::int32_t>(i)), expected[i].description);
    }
    EXPECT_EQ(waveIn.DeviceName(static_cast<std::int32_t>(expected.size())), "");
    EXPECT_EQ(waveIn.DeviceName(-1), "");
}

TEST(PulseWaveIn, UnknownDeviceFailsQuicklyWithoutAWindowLeft) {
    WindowService windows;
    PulseWaveIn waveIn;
    const WindowHandle w = windows.CreateWindow({});
    // No source of that name; a sink's name is not a source's.
    for (const std::string device : {"vocarn_no_such_source", "vocarn_null"}) {
        int error = 0;
        const auto start = Clock::now();
        EXPECT_EQ(waveIn.Open(device, WaveInFormat{}, windows, w, error), nullptr);
        EXPECT_LT(Clock::now() - start, 2s);
        EXPECT_EQ(error, MMSYSERR_BADDEVICEID) << "device " << device;
    }
}

TEST(PulseWaveIn, WithoutAServerEverythingFailsWithinTwoSeconds) {
    // Nothing listens at the first address; the second accepts connections and never
    // answers, as a hung server would.
    const std::string dir = ::testing::TempDir();
    const std::string hungPath = dir + "/vocarn-hung-" + std::to_string(::getpid());
    ::unlink(hungPath.c_str());
    const int hung = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(hung, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(hungPath.size(), sizeof addr.sun_path);
    std::copy(hungPath.begin(), hungPath.end(), addr.sun_path);
    ASSERT_EQ(::bind(hung, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(hung, 4), 0);

    for (const std::string& server : {"unix:" + dir + "/vocarn-nothing-here", "unix:" + hungPath}) {
        SCOPED_TRACE(server);
        ServerOverride override(server);
        WindowService windows;
        PulseWaveIn waveIn;
        WaveInRecorder recorder(windows, waveIn);

        auto start = Clock::now();
        EXPECT_EQ(recorder.DeviceCount(), 0);
        EXPECT_LT(Clock::now() - start, 2s);
        EXPECT_FALSE(recorder.SelectDevice(0));

        start = Clock::now();
        EXPECT_EQ(waveIn.OpenMixer("vocarn_null.monitor"), nullptr);
        EXPECT_LT(Clock::now() - start, 2s);

        start = Clock::now();
        EXPECT_FALSE(recorder.StartRecord(44100, 2));
        EXPECT_LT(Clock::now() - start, 2s);
        EXPECT_FALSE(recorder.IsRecording());
        EXPECT_EQ(windows.WindowCount(), 0u);
    }
    ::close(hung);
    ::unlink(hungPath.c_str());
}

// Records a ramp written into the pipe source in real time and checks that it arrives
// whole: no lost, doubled or reordered sample. handlerTime: how long each GotData keeps the
// loop busy.
static void RecordRamp(std::int32_t bufferCount, std::chrono::milliseconds handlerTime) {
    const char* fifo = std::getenv("VOCARN_TEST_PIPE");
    ASSERT_NE(fifo, nullptr);
    WindowService windows;
    PulseWaveIn waveIn;
    WaveInRecorder recorder(windows, waveIn);
    Collect sink;
    sink.handlerTime = handlerTime;
    recorder.setEvents(&sink);
    recorder.setBufferCount(bufferCount);
    ASSERT_TRUE(recorder.SelectDevice(DeviceIndexOf("vocarn_pipe")));
    ASSERT_TRUE(recorder.StartRecord(44100, 2));

    // Frame k of the ramp is (k % 32000 + 1, -(k % 32000 + 1)); written in 10 ms steps in
    // real time, 2 s in all. The pipe stays open until the take is stopped.
    constexpr int rampFrames = 88200;
    constexpr int bufferFrames = 2560; // 10240 bytes
    const int fd = ::open(fifo, O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        std::vector<std::int16_t> chunk(441 * 2);
        auto next = Clock::now();
        for (int k = 0; k < rampFrames;) {
            for (int i = 0; i < 441; ++i, ++k) {
                const auto v = static_cast<std::int16_t>(k % 32000 + 1);
                chunk[2 * i] = v;
                chunk[2 * i + 1] = static_cast<std::int16_t>(-v);
            }
            const auto bytes = static_cast<ssize_t>(chunk.size() * sizeof(std::int16_t));
            if (::write(fd, chunk.data(), static_cast<size_t>(bytes)) != bytes) {
                break;
            }
            next += 10ms;
            std::this_thread::sleep_until(next);
        }
        written = true;
    });
    // Everything but the partly filled buffer arrives while the take runs; the stop delivers
    // that one.
    PumpUntil(
        [&] {
            return written.load() &&
                   sink.samples.size() / 2 >= static_cast<std::size_t>(rampFrames - bufferFrames);
        },
        15s);
    PumpFor(200ms);
    recorder.StopRecord();
    writer.join();
    ::close(fd);

    ASSERT_TRUE(written);
    ASSERT_EQ(sink.samples.size() % 2, 0u);
    const std::size_t frames = sink.samples.size() / 2;
    EXPECT_EQ(frames, static_cast<std::size_t>(rampFrames));
    for (std::size_t k = 0; k < frames; ++k) {
        const auto v = static_cast<std::int16_t>(k % 32000 + 1);
        ASSERT_EQ(sink.samples[2 * k], v) << "frame " << k;
        ASSERT_EQ(sink.samples[2 * k + 1], -v) << "frame " << k;
    }
    // Full buffers, and the partly filled one last.
    EXPECT_EQ(sink.blocks, (rampFrames + bufferFrames - 1) / bufferFrames);
}

TEST(PulseWaveIn, RecordsARampFromThePipeSourceWithoutLossOrRepeat) {
    RecordRamp(5, 0ms);
}

// The handler is slower than the sound: the server keeps what the one buffer cannot take
// until it is queued again.
TEST(PulseWaveIn, OneBufferAndASlowHandlerStillLoseNothing) {
    RecordRamp(1, 90ms);
}

TEST(PulseWaveIn, DeviceMinusOneRecordsFromTheDefaultSource) {
    const auto info = QJsonDocument::fromJson(Pactl({"-f", "json", "info"})).object();
    const std::string defaultSource = info["default_source_name"].toString().toStdString();
    ASSERT_FALSE(defaultSource.empty());
    WindowService windows;
    PulseWaveIn waveIn;
    WaveInRecorder recorder(windows, waveIn);
    Collect sink;
    recorder.setEvents(&sink);
    ASSERT_EQ(recorder.SelectedDevice(), -1);
    ASSERT_TRUE(recorder.StartRecord(44100, 1));
    EXPECT_TRUE(PumpUntil([&] { return sink.blocks >= 1; }, 3s));

    // This process's record stream reads the default source.
    EXPECT_EQ(RecordedSources(), std::vector<std::string>{defaultSource});
    recorder.StopRecord();
}

TEST(PulseWaveIn, RemovedSourceFailsTheTakeInsteadOfMovingIt) {
    const QByteArray module =
        Pactl({"load-module", "module-null-sink", "sink_name=vocarn_capture_gone"}).trimmed();
    ASSERT_FALSE(module.isEmpty());
    WindowService windows;
    PulseWaveIn waveIn;
    WaveInRecorder recorder(windows, waveIn);
    Collect sink;
    recorder.setEvents(&sink);
    ASSERT_TRUE(recorder.SelectDevice(DeviceIndexOf("vocarn_capture_gone.monitor")));
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    EXPECT_TRUE(PumpUntil([&] { return sink.blocks >= 2; }, 3s)) << "the monitor delivers sound";

    Pactl({"unload-module", QString::fromLatin1(module)});
    EXPECT_TRUE(PumpUntil([&] { return recorder.DeviceFailed(); }, 3s));
    // No sound from another source arrives after the failure.
    const int blocks = sink.blocks;
    PumpFor(300ms);
    EXPECT_EQ(sink.blocks, blocks);
    EXPECT_TRUE(recorder.StopRecord());
    EXPECT_EQ(windows.WindowCount(), 0u);
}
