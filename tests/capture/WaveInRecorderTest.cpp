#include "capture/WaveInRecorder.h"

#include "EventPump.h"
#include "ScriptedWaveIn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>

using namespace platform;

namespace {

struct Delivery {
    std::uintptr_t address; // of the sample array
    std::size_t arraySize;
    std::int32_t lngLen;
    std::vector<std::int16_t> samples; // the valid ones
};

// Records every GotData; `during` runs inside the handler.
class Sink : public WaveInRecorderEvents {
public:
    std::vector<Delivery> got;
    std::function<void(std::span<std::int16_t>)> during;
    // The deliveries seen at each DeviceLost; `onLost` runs inside it.
    std::vector<std::size_t> lostAfter;
    std::function<void()> onLost;

    void DeviceLost() override {
        lostAfter.push_back(got.size());
        if (onLost) {
            onLost();
        }
    }

    void GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) override {
        got.push_back(
            {reinterpret_cast<std::uintptr_t>(intBuffer.data()), intBuffer.size(), lngLen,
             std::vector<std::int16_t>(intBuffer.begin(), intBuffer.begin() + lngLen / 2)});
        if (during) {
            during(intBuffer);
        }
    }
};

std::vector<std::int16_t> Ramp(std::int16_t first, std::size_t count) {
    std::vector<std::int16_t> r(count);
    std::iota(r.begin(), r.end(), first);
    return r;
}

std::vector<std::string> Lines(std::initializer_list<std::string> l) {
    return l;
}

class Recorder : public ::testing::Test {
protected:
    Recorder() {
        device.devices = {"Mic", "Line", "Monitor of Speakers"};
        recorder.setEvents(&sink);
    }

    // Posts a message behind everything posted so far and runs the loop until it arrives.
    void Drain() {
        bool seen = false;
        const WindowHandle s =
            windows.CreateWindow([&](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
                seen = true;
                return std::intptr_t{0};
            });
        windows.PostMessage(s, 1, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return seen; }));
        windows.DestroyWindow(s);
    }

    WindowService windows;
    ScriptedWaveIn device;
    Sink sink;
    WaveInRecorder recorder{windows, device};
};

} // namespace

TEST_F(Recorder, StartsInOrderWithDefaultsAndStopsInOrder) {
    EXPECT_EQ(recorder.BufferCount(), 5);
    EXPECT_EQ(recorder.BufferSize(), 10240);
    EXPECT_EQ(recorder.SelectedDevice(), -1);
    EXPECT_FALSE(recorder.IsRecording());

    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    EXPECT_TRUE(recorder.IsRecording());
    EXPECT_EQ(windows.WindowCount(), 1u);
    EXPECT_EQ(device.notifyWindow(), recorder.MessageWindow());
    EXPECT_EQ(device.log,
              Lines({"open -1 44100 2 4 176400", "prepare 0", "prepare 1", "prepare 2", "prepare 3",
                     "prepare 4", "start", "add 0", "add 1", "add 2", "add 3", "add 4"}));

    device.log.clear();
    EXPECT_TRUE(recorder.StopRecord());
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(windows.WindowCount(), 0u);
    EXPECT_EQ(device.device(), nullptr);
    EXPECT_EQ(device.log, Lines({"stop", "reset", "unprepare 0", "unprepare 1", "unprepare 2",
                                 "unprepare 3", "unprepare 4", "close"}));

    // Idle stop changes nothing; a mono take asks for 2 bytes per frame.
    device.log.clear();
    EXPECT_TRUE(recorder.StopRecord());
    EXPECT_TRUE(device.log.empty());
    ASSERT_TRUE(recorder.StartRecord(8000, 1));
    EXPECT_EQ(device.log.front(), "open -1 8000 1 2 16000");
}

TEST_F(Recorder, EachRefusedStartStepIsUndoneCompletely) {
    struct Case {
        const char* name;
        std::function<void(ScriptedWaveIn&)> arrange;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases{
        {"open",
         [](ScriptedWaveIn& d) { d.openError = MMSYSERR_BADDEVICEID; },
         {"open -1 44100 2 4 176400 failed"}},
        {"first prepare",
         [](ScriptedWaveIn& d) { d.prepareFailAt = 0; },
         {"open -1 44100 2 4 176400", "prepare 0 failed", "close"}},
        {"third prepare",
         [](ScriptedWaveIn& d) { d.prepareFailAt = 2; },
         {"open -1 44100 2 4 176400", "prepare 0", "prepare 1", "prepare 2 failed", "unprepare 0",
          "unprepare 1", "close"}},
        {"start",
         [](ScriptedWaveIn& d) { d.startError = MMSYSERR_ERROR; },
         {"open -1 44100 2 4 176400", "prepare 0", "prepare 1", "prepare 2", "prepare 3",
          "prepare 4", "start failed", "unprepare 0", "unprepare 1", "unprepare 2", "unprepare 3",
          "unprepare 4", "close"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device.openError = 0;
        device.prepareFailAt = -1;
        device.startError = 0;
        device.log.clear();
        c.arrange(device);

        EXPECT_FALSE(recorder.StartRecord(44100, 2));
        EXPECT_FALSE(recorder.IsRecording());
        EXPECT_EQ(device.log, c.log);
        EXPECT_EQ(device.device(), nullptr) << "device left open";
        EXPECT_EQ(windows.WindowCount(), 0u) << "message window left behind";
        EXPECT_FALSE(windows.IsWindow(device.notifyWindow()));
        EXPECT_EQ(recorder.MessageWindow(), 0);
    }
    // Once the device cooperates again, the next start works.
    device.startError = 0;
    EXPECT_TRUE(recorder.StartRecord(44100, 2));
}

TEST_F(Recorder, BuffersComeBackInQueueOrderAndAreQueuedAgainAfterTheHandler) {
    std::vector<std::vector<std::uintptr_t>> queuedDuring;
    sink.during = [&](std::span<std::int16_t>) { queuedDuring.push_back(device.Queued()); };
    ASSERT_TRUE(recorder.StartRecord(44100, 2));

    const std::size_t perBuffer = 5120;
    const auto ramp = Ramp(-20000, perBuffer * 7 + 100);
    const std::span<const std::int16_t> all(ramp);
    device.Feed(all.subspan(0, perBuffer)); // buffer 0
    Drain();
    device.Feed(all.subspan(perBuffer, perBuffer)); // buffer 1
    Drain();
    device.Feed(all.subspan(2 * perBuffer)); // 2, 3, 4, 0, 1 and a bit for 2
    Drain();

    ASSERT_EQ(sink.got.size(), 7u);
    std::vector<std::int16_t> joined;
    for (std::size_t i = 0; i < sink.got.size(); ++i) {
        EXPECT_EQ(sink.got[i].lngLen, 10240);
        EXPECT_EQ(sink.got[i].arraySize, perBuffer);
        EXPECT_EQ(sink.got[i].address, sink.got[i % 5].address) << "buffer " << i;
        joined.insert(joined.end(), sink.got[i].samples.begin(), sink.got[i].samples.end());
    }
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), ramp.begin()));
    // The buffer in the handler is not queued; it goes to the back of the queue afterwards.
    EXPECT_EQ(queuedDuring[0], (std::vector<std::uintptr_t>{1, 2, 3, 4}));
    EXPECT_EQ(queuedDuring[1], (std::vector<std::uintptr_t>{2, 3, 4, 0}));
    EXPECT_EQ(device.Queued(), (std::vector<std::uintptr_t>{2, 3, 4, 0, 1}));
}

TEST_F(Recorder, StopInsideTheHandlerLeavesThatBufferOutAndDeliversNothingMore) {
    bool recordingAfterStop = true;
    sink.during = [&](std::span<std::int16_t>) {
        if (sink.got.size() == 2) {
            recorder.StopRecord();
            recordingAfterStop = recorder.IsRecording();
        }
    };
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.Feed(Ramp(0, 5120 * 4)); // four full buffers posted
    device.log.clear();
    Drain();

    EXPECT_EQ(sink.got.size(), 2u);
    EXPECT_FALSE(recordingAfterStop);
    EXPECT_EQ(windows.WindowCount(), 0u);
    // Buffer 0 was queued again after the first handler; buffer 1 never is.
    EXPECT_EQ(device.log, Lines({"add 0", "stop", "reset", "unprepare 0", "unprepare 1",
                                 "unprepare 2", "unprepare 3", "unprepare 4", "close"}));

    // The same inside a block that a stop delivers: the stop ends there, the device closes
    // once.
    sink.got.clear();
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.Feed(Ramp(0, 5120 * 4));
    device.log.clear();
    EXPECT_TRUE(recorder.StopRecord());
    EXPECT_EQ(sink.got.size(), 2u);
    EXPECT_FALSE(recordingAfterStop);
    EXPECT_EQ(std::count(device.log.begin(), device.log.end(), "close"), 1);
    EXPECT_EQ(windows.WindowCount(), 0u);
    Drain();
    EXPECT_EQ(sink.got.size(), 2u);
}

TEST_F(Recorder, ARestartInsideTheHandlerKeepsTheHandlersBlockUntilItReturns) {
    bool restarted = false;
    sink.during = [&](std::span<std::int16_t> block) {
        if (sink.got.size() == 1) {
            recorder.StopRecord();
            restarted = recorder.StartRecord(44100, 2);
            block[0] = 1; // the block in hand is still the handler's to use
            block[block.size() - 1] = 2;
        }
    };
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.Feed(Ramp(0, 5120));
    Drain();
    ASSERT_TRUE(restarted);
    EXPECT_TRUE(recorder.IsRecording());
    // The new take has its own five buffers queued; the old block was not queued again.
    EXPECT_EQ(device.Queued(), (std::vector<std::uintptr_t>{0, 1, 2, 3, 4}));
    device.Feed(Ramp(0, 5120));
    Drain();
    ASSERT_EQ(sink.got.size(), 2u);
    EXPECT_NE(sink.got[1].address, sink.got[0].address);
}

TEST_F(Recorder, NothingIsDeliveredAfterStopRecordEvenForBuffersTheStopReturned) {
    // Three buffers of 8 samples, all filled and posted but not dispatched when the stop
    // comes; 21 more samples wait with the server for a free buffer.
    recorder.setBufferCount(3);
    recorder.setBufferSize(16);
    std::vector<bool> recordingDuring;
    sink.during = [&](std::span<std::int16_t>) {
        recordingDuring.push_back(recorder.IsRecording());
        if (sink.got.size() == 1) {
            device.Feed(Ramp(1000, 8)); // sound after the stop is not part of the take
        }
    };
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    const auto ramp = Ramp(0, 3 * 8 + 21);
    device.Feed(ramp);
    ASSERT_TRUE(sink.got.empty());

    EXPECT_TRUE(recorder.StopRecord());
    // The end of the take came during the stop, in capture order, each sample once, while
    // the recording still ran: the posted buffers, the held sound, the partly filled buffer.
    std::vector<std::int32_t> lengths;
    std::vector<std::int16_t> joined;
    for (const Delivery& d : sink.got) {
        lengths.push_back(d.lngLen);
        joined.insert(joined.end(), d.samples.begin(), d.samples.end());
    }
    EXPECT_EQ(lengths, (std::vector<std::int32_t>{16, 16, 16, 16, 16, 10}));
    EXPECT_EQ(joined, ramp);
    EXPECT_EQ(recordingDuring, std::vector<bool>(6, true));
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(device.device(), nullptr);
    EXPECT_EQ(windows.WindowCount(), 0u);

    // Nothing comes after the stop has returned.
    Drain();
    EXPECT_EQ(sink.got.size(), 6u);
}

TEST_F(Recorder, ShortBuffersAreDeliveredWithTheirByteCount) {
    // A reset by the device hands back a partly filled buffer; an odd BufferSize gives the
    // device whole samples only.
    recorder.setBufferSize(1001);
    recorder.setBufferCount(3);
    ASSERT_TRUE(recorder.StartRecord(22050, 1));
    device.Feed(Ramp(7, 500 + 123));
    device.device()->Reset();
    Drain();

    ASSERT_EQ(sink.got.size(), 3u);
    EXPECT_EQ(sink.got[0].lngLen, 1000);
    EXPECT_EQ(sink.got[0].arraySize, 500u);
    EXPECT_EQ(sink.got[1].lngLen, 246);
    EXPECT_EQ(sink.got[1].arraySize, 500u);
    EXPECT_EQ(sink.got[1].samples, Ramp(507, 123));
    EXPECT_EQ(sink.got[2].lngLen, 0); // the empty buffer the reset returned too
}

TEST_F(Recorder, ASingleBufferIsReusedAfterEachHandler) {
    recorder.setBufferCount(1);
    recorder.setBufferSize(64);
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    const auto ramp = Ramp(100, 32 * 3);
    // Each feed fills the one buffer; the rest waits for it to come back.
    device.Feed(ramp);
    for (int i = 0; i < 3; ++i) {
        Drain();
    }
    ASSERT_EQ(sink.got.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sink.got[i].address, sink.got[0].address);
        EXPECT_EQ(sink.got[i].samples, Ramp(static_cast<std::int16_t>(100 + 32 * i), 32));
    }
    EXPECT_EQ(device.Queued(), (std::vector<std::uintptr_t>{0}));
}

TEST_F(Recorder, BufferSettingsTakeEffectAtTheNextStart) {
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    recorder.setBufferCount(2);
    recorder.setBufferSize(400);
    EXPECT_EQ(recorder.BufferCount(), 2);
    EXPECT_EQ(recorder.BufferSize(), 400);
    device.Feed(Ramp(0, 5120));
    Drain();
    ASSERT_EQ(sink.got.size(), 1u);
    EXPECT_EQ(sink.got[0].lngLen, 10240);

    device.log.clear();
    recorder.StopRecord();
    EXPECT_EQ(device.log, Lines({"stop", "reset", "unprepare 0", "unprepare 1", "unprepare 2",
                                 "unprepare 3", "unprepare 4", "close"}));
    device.log.clear();
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    EXPECT_EQ(device.log, Lines({"open -1 44100 2 4 176400", "prepare 0", "prepare 1", "start",
                                 "add 0", "add 1"}));
    device.Feed(Ramp(0, 200));
    Drain();
    ASSERT_EQ(sink.got.size(), 2u);
    EXPECT_EQ(sink.got[1].lngLen, 400);
}

TEST_F(Recorder, DataMessagesForOtherHeadersAreIgnored) {
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.Feed(Ramp(0, 5120));
    Drain();
    ASSERT_EQ(sink.got.size(), 1u);
    recorder.StopRecord();
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.log.clear();

    WaveInHeader stranger;
    stranger.bytesRecorded = 10240;
    stranger.flags = WHDR_DONE | WHDR_PREPARED;
    std::vector<std::int16_t> storage(5120);
    stranger.data = reinterpret_cast<std::uint8_t*>(storage.data());
    stranger.bufferLength = 10240;
    const WindowHandle w = recorder.MessageWindow();
    windows.PostMessage(w, MM_WIM_DATA, 0, reinterpret_cast<std::intptr_t>(&stranger));
    windows.PostMessage(w, MM_WIM_DATA, 0, 0);
    windows.PostMessage(w, MM_WIM_DATA, 0, 12345);
    windows.PostMessage(w, 0x3BF, 0, 0); // another device message
    Drain();
    EXPECT_EQ(sink.got.size(), 1u);
    EXPECT_TRUE(device.log.empty()) << "nothing queued for a stranger";

    // A buffer of the running take still comes through.
    device.Feed(Ramp(0, 5120));
    Drain();
    EXPECT_EQ(sink.got.size(), 2u);
}

TEST_F(Recorder, SecondStartWhileRecordingIsRefusedAndLeavesTheTakeRunning) {
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.log.clear();
    EXPECT_FALSE(recorder.StartRecord(22050, 1));
    EXPECT_TRUE(device.log.empty());
    EXPECT_TRUE(recorder.IsRecording());
    device.Feed(Ramp(0, 5120));
    Drain();
    EXPECT_EQ(sink.got.size(), 1u);
}

TEST_F(Recorder, StartWithoutAnyBufferIsRefusedBeforeTheDeviceIsOpened) {
    recorder.setBufferCount(0);
    EXPECT_FALSE(recorder.StartRecord(44100, 2));
    recorder.setBufferCount(-3);
    EXPECT_FALSE(recorder.StartRecord(44100, 2));
    recorder.setBufferCount(5);
    recorder.setBufferSize(1);
    EXPECT_FALSE(recorder.StartRecord(44100, 2));
    EXPECT_TRUE(device.log.empty());
    EXPECT_EQ(windows.WindowCount(), 0u);
}

TEST_F(Recorder, DevicesAreListedAndSelectedByIndex) {
    EXPECT_EQ(recorder.DeviceCount(), 3);
    EXPECT_EQ(recorder.DeviceName(0), "Mic");
    EXPECT_EQ(recorder.DeviceName(2), "Monitor of Speakers");
    EXPECT_EQ(recorder.DeviceName(3), "");

    EXPECT_TRUE(recorder.SelectDevice(1));
    EXPECT_EQ(recorder.SelectedDevice(), 1);
    EXPECT_FALSE(recorder.SelectDevice(3)); // one past the last
    EXPECT_EQ(recorder.SelectedDevice(), 1);
    EXPECT_FALSE(recorder.SelectDevice(-1));
    EXPECT_EQ(recorder.SelectedDevice(), 1);

    device.log.clear();
    ASSERT_TRUE(recorder.StartRecord(11025, 2));
    EXPECT_EQ(device.log.front(), "open 1 11025 2 4 44100");
    // Selecting while recording leaves the take alone; the next start uses the new one.
    EXPECT_TRUE(recorder.SelectDevice(2));
    EXPECT_TRUE(recorder.IsRecording());
    recorder.StopRecord();
    device.log.clear();
    ASSERT_TRUE(recorder.StartRecord(11025, 2));
    EXPECT_EQ(device.log.front(), "open 2 11025 2 4 44100");
    recorder.StopRecord();

    // An index counts in the list as last read (the one the user picks from); the device
    // picked stays the one recorded wherever devices plugged in later move it.
    ASSERT_EQ(recorder.DeviceCount(), 3);
    device.devices.insert(device.devices.begin(), "USB Mic");
    EXPECT_TRUE(recorder.SelectDevice(1));
    EXPECT_EQ(recorder.SelectedDeviceId(), "Line");
    device.log.clear();
    ASSERT_TRUE(recorder.StartRecord(11025, 2));
    EXPECT_EQ(device.log.front(), "open 2 11025 2 4 44100");
    recorder.StopRecord();
    // Unplugged: the start fails as such, and nothing else is recorded instead.
    device.devices.erase(device.devices.begin() + 2);
    device.log.clear();
    EXPECT_FALSE(recorder.StartRecord(11025, 2));
    EXPECT_EQ(recorder.StartError(), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(device.log, Lines({"open gone 11025 2 4 44100 failed"}));
    EXPECT_EQ(windows.WindowCount(), 0u);
}

TEST_F(Recorder, DeviceLossReachesTheOwnerOnceAfterTheBlocksBeforeIt) {
    recorder.setBufferSize(8);
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.Feed(Ramp(0, 8)); // two full buffers, posted ahead of the failure
    device.Fail(12);
    device.Fail(12);
    Drain();
    EXPECT_TRUE(recorder.DeviceFailed());
    EXPECT_EQ(sink.lostAfter, std::vector<std::size_t>{2});
    EXPECT_TRUE(recorder.IsRecording()); // the owner decides

    // The owner stops inside the event: the device closes, nothing is delivered after.
    recorder.StopRecord();
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    EXPECT_FALSE(recorder.DeviceFailed());
    sink.onLost = [&] { recorder.StopRecord(); };
    device.Fail(6);
    Drain();
    EXPECT_EQ(sink.lostAfter, (std::vector<std::size_t>{2, 2}));
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(device.log.back(), "close");
    EXPECT_EQ(windows.WindowCount(), 0u);

    // A failure still waiting when the owner stops is not told: the stop ends the take
    // anyway, with the block before the failure.
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.Feed(Ramp(0, 4));
    device.Fail(6);
    recorder.StopRecord();
    EXPECT_EQ(sink.got.size(), 3u);
    EXPECT_EQ(sink.lostAfter, (std::vector<std::size_t>{2, 2}));
    EXPECT_TRUE(recorder.DeviceFailed());
}

TEST_F(Recorder, LostSoundTheDeviceReportsOutlivesTheStopUntilTheNextStart) {
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    device.silenceBytes = 4096;
    device.droppedBytes = 8192;
    EXPECT_EQ(recorder.SilenceBytes(), 4096u);
    EXPECT_EQ(recorder.DroppedBytes(), 0u); // asked of the device when it closes
    recorder.StopRecord();
    device.silenceBytes = 0;
    device.droppedBytes = 0;
    EXPECT_EQ(recorder.SilenceBytes(), 4096u);
    EXPECT_EQ(recorder.DroppedBytes(), 8192u);
    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    recorder.StopRecord();
    EXPECT_EQ(recorder.SilenceBytes(), 0u);
    EXPECT_EQ(recorder.DroppedBytes(), 0u);
}

TEST_F(Recorder, DeviceFailureIsNotedAndDestructionStopsTheTake) {
    auto own = std::make_unique<WaveInRecorder>(windows, device);
    ASSERT_TRUE(own->StartRecord(44100, 2));
    EXPECT_FALSE(own->DeviceFailed());
    device.Fail(12);
    Drain();
    EXPECT_TRUE(own->DeviceFailed());

    device.log.clear();
    own.reset();
    EXPECT_EQ(device.log.front(), "stop");
    EXPECT_EQ(device.log.back(), "close");
    EXPECT_EQ(windows.WindowCount(), 0u);
}
