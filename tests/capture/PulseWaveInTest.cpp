// Capture against the private sound server of the test run (PULSE_SERVER).
#include "platform/PulseWaveIn.h"
#include "capture/WaveInRecorder.h"

#include "EventPump.h"
#include "RampFeeder.h"
#include "SoundServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
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
    // The private server's sources: the inputs, then the monitors. PipeWire feeds the ramp
    // through a second null sink instead of a pipe source; its sine source comes last by
    // index, so the inputs-first order shows there.
    const std::vector<std::string> expectedNames =
        OnPipeWire()
            ? std::vector<std::string>{"vocarn_sine", "vocarn_null.monitor", "vocarn_ramp.monitor"}
            : std::vector<std::string>{"vocarn_sine", "vocarn_pipe", "vocarn_null.monitor"};
    ASSERT_EQ(names, expectedNames);

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

// Frame k of the ramp: (k % 32000 + 1, -(k % 32000 + 1)), never silence.
static std::array<std::int16_t, 2> RampFrame(std::uint32_t k) {
    const auto v = static_cast<std::int16_t>(k % 32000 + 1);
    return {v, static_cast<std::int16_t>(-v)};
}

// Records a ramp fed to the server in real time and checks that it arrives whole: no lost,
// doubled or reordered sample. handlerTime: how long each GotData keeps the loop busy.
static void RecordRamp(std::int32_t bufferCount, std::chrono::milliseconds handlerTime) {
    RampFeeder feeder(RampFrame);
    ASSERT_TRUE(feeder.ok());
    WindowService windows;
    PulseWaveIn waveIn;
    WaveInRecorder recorder(windows, waveIn);
    Collect sink;
    sink.handlerTime = handlerTime;
    recorder.setEvents(&sink);
    recorder.setBufferCount(bufferCount);
    ASSERT_TRUE(recorder.SelectDevice(DeviceIndexOf(feeder.Source())));
    ASSERT_TRUE(recorder.StartRecord(44100, 2));

    // 2 s of ramp, fed while the take runs.
    constexpr std::uint32_t rampFrames = 88200;
    constexpr std::size_t bufferFrames = 2560; // 10240 bytes
    feeder.Start(rampFrames);
    // Silence before the first frame: none from the pipe source, which delivers only what
    // is written; a monitor delivers its sink's silence until the first frame is played.
    const auto leading = [&] {
        std::size_t first = 0;
        while (2 * first + 1 < sink.samples.size() && sink.samples[2 * first] == 0 &&
               sink.samples[2 * first + 1] == 0) {
            ++first;
        }
        return first;
    };
    // Everything but the partly filled buffer arrives while the take runs; the stop delivers
    // that one.
    PumpUntil(
        [&] {
            return feeder.Done() &&
                   sink.samples.size() / 2 >= leading() + rampFrames - bufferFrames;
        },
        15s);
    PumpFor(200ms);
    recorder.StopRecord();
    feeder.Stop();

    ASSERT_TRUE(feeder.Done());
    ASSERT_EQ(sink.samples.size() % 2, 0u);
    const std::size_t all = sink.samples.size() / 2;
    // Full buffers, and the partly filled one last.
    EXPECT_EQ(static_cast<std::size_t>(sink.blocks), (all + bufferFrames - 1) / bufferFrames);
    const std::size_t first = leading();
    const std::size_t frames = all - first;
    if (feeder.SilenceAround()) {
        // The monitor: every frame played, then its sink's silence up to the stop.
        EXPECT_GE(frames, rampFrames);
    } else {
        // The pipe source delivers what is written and nothing else, the first frame first.
        EXPECT_EQ(first, 0u);
        EXPECT_EQ(frames, rampFrames);
    }
    for (std::size_t k = 0; k < frames; ++k) {
        const std::int16_t* got = &sink.samples[2 * (first + k)];
        if (k < rampFrames) {
            const auto want = RampFrame(static_cast<std::uint32_t>(k));
            ASSERT_EQ(got[0], want[0]) << "frame " << k;
            ASSERT_EQ(got[1], want[1]) << "frame " << k;
        } else {
            ASSERT_EQ(got[0], 0) << "frame " << k;
            ASSERT_EQ(got[1], 0) << "frame " << k;
        }
    }
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
