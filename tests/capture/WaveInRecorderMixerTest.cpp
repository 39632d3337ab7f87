#include "capture/WaveInRecorder.h"
#include "platform/PulseMixer.h"

#include "ScriptedWaveIn.h"

#include <gtest/gtest.h>

#include <memory>

using namespace platform;

namespace {

class RecorderMixer : public ::testing::Test {
protected:
    RecorderMixer() {
        device.devices = {"USB Audio", "Built-in", "Monitor of Speakers"};
        ScriptedMixerState& builtIn = device.mixers[1];
        builtIn.lines = {{"Microphone", 5, {20000}},
                         {"Line In", 4, {30000, 50000}},
                         {"Radio", 12, {65535, 65535}}};
        builtIn.selected = 2;
        device.mixers[2].opens = false;
    }

    std::vector<std::string> Log(std::initializer_list<std::string> l) { return l; }

    WindowService windows;
    ScriptedWaveIn device;
    std::unique_ptr<WaveInRecorder> recorder = std::make_unique<WaveInRecorder>(windows, device);
};

} // namespace

TEST_F(RecorderMixer, LinesOfTheSelectedDeviceAreListedChosenAndTyped) {
    ASSERT_TRUE(recorder->SelectDevice(1));
    EXPECT_EQ(recorder->MixerLineCount(), 3);
    EXPECT_EQ(recorder->MixerLineName(0), "Microphone");
    EXPECT_EQ(recorder->MixerLineName(2), "Radio");
    EXPECT_EQ(recorder->MixerLineName(3), "");
    EXPECT_EQ(recorder->SelectedMixerLine(), 2);
    EXPECT_EQ(recorder->MixerLineType(-1), 12);
    EXPECT_EQ(recorder->MixerLineType(1), 4);

    EXPECT_TRUE(recorder->SelectMixerLine(0));
    EXPECT_EQ(device.mixers[1].selected, 0);
    EXPECT_EQ(recorder->SelectedMixerLine(), 0);
    EXPECT_EQ(recorder->MixerLineType(-1), 5);

    // -1 (an unselected list) and one past the last line change nothing and succeed.
    EXPECT_TRUE(recorder->SelectMixerLine(-1));
    EXPECT_TRUE(recorder->SelectMixerLine(3));
    EXPECT_EQ(recorder->SelectedMixerLine(), 0);

    device.mixers[1].refusesSelect = true;
    EXPECT_FALSE(recorder->SelectMixerLine(1));
    EXPECT_EQ(recorder->SelectedMixerLine(), 0);
}

TEST_F(RecorderMixer, VolumeReadsTheFirstChannelAndWritesEveryChannel) {
    ASSERT_TRUE(recorder->SelectDevice(1));
    ASSERT_TRUE(recorder->SelectMixerLine(1));
    EXPECT_EQ(recorder->MixerLineVolume(), 30000);
    recorder->setMixerLineVolume(40000);
    EXPECT_EQ(device.mixers[1].lines[1].channelVolumes, (std::vector<std::int32_t>{40000, 40000}));
    EXPECT_EQ(recorder->MixerLineVolume(), 40000);
    // Other lines keep theirs.
    EXPECT_EQ(device.mixers[1].lines[0].channelVolumes, (std::vector<std::int32_t>{20000}));
}

TEST_F(RecorderMixer, WithoutADeviceEveryMixerMemberIsEmpty) {
    EXPECT_EQ(recorder->SelectedDevice(), -1);
    EXPECT_EQ(recorder->MixerLineCount(), 0);
    EXPECT_EQ(recorder->MixerLineName(0), "");
    EXPECT_FALSE(recorder->SelectMixerLine(0));
    EXPECT_FALSE(recorder->SelectMixerLine(-1));
    EXPECT_EQ(recorder->MixerLineType(-1), 0);
    EXPECT_EQ(recorder->MixerLineVolume(), 0);
    recorder->setMixerLineVolume(1234);
    EXPECT_TRUE(device.log.empty()) << "no mixer was opened";
}

TEST_F(RecorderMixer, SelectingADeviceSwapsMixersAndRefusalsKeepOrDropTheSelection) {
    ASSERT_TRUE(recorder->SelectDevice(1));
    EXPECT_EQ(device.log, Log({"mixer open 1"}));

    // One past the last device: refused before anything is touched.
    EXPECT_FALSE(recorder->SelectDevice(3));
    EXPECT_EQ(recorder->SelectedDevice(), 1);
    EXPECT_EQ(recorder->MixerLineCount(), 3);
    EXPECT_EQ(device.log, Log({"mixer open 1"}));

    ASSERT_TRUE(recorder->SelectDevice(0));
    EXPECT_EQ(device.log, Log({"mixer open 1", "mixer close 1", "mixer open 0"}));

    // A device whose mixer does not open cannot be selected, and none is selected after.
    EXPECT_FALSE(recorder->SelectDevice(2));
    EXPECT_EQ(recorder->SelectedDevice(), -1);
    EXPECT_EQ(recorder->MixerLineCount(), 0);
    EXPECT_EQ(device.log, Log({"mixer open 1", "mixer close 1", "mixer open 0", "mixer close 0",
                               "mixer open 2 failed"}));
}

TEST_F(RecorderMixer, DestructionStopsTheTakeBeforeClosingTheMixer) {
    ASSERT_TRUE(recorder->SelectDevice(1));
    ASSERT_TRUE(recorder->StartRecord(44100, 2));
    device.log.clear();
    recorder.reset();
    ASSERT_FALSE(device.log.empty());
    EXPECT_EQ(device.log.front(), "stop");
    EXPECT_EQ(device.log[device.log.size() - 2], "close");
    EXPECT_EQ(device.log.back(), "mixer close 1");
}

TEST(PulseMixerVolume, MapsLinearlyOntoTheServerRangeHalvesToEven) {
    EXPECT_EQ(PulseMixer::ToServerVolume(0), PA_VOLUME_MUTED);
    EXPECT_EQ(PulseMixer::ToServerVolume(65535), PA_VOLUME_NORM);
    EXPECT_EQ(PulseMixer::ToServerVolume(32768), 32769u); // 32768.50001
    EXPECT_EQ(PulseMixer::ToServerVolume(-5), PA_VOLUME_MUTED);
    EXPECT_EQ(PulseMixer::ToServerVolume(70000), PA_VOLUME_NORM);
    EXPECT_EQ(PulseMixer::FromServerVolume(PA_VOLUME_MUTED), 0);
    EXPECT_EQ(PulseMixer::FromServerVolume(PA_VOLUME_NORM), 65535);
    // Above the norm on the same scale: 150 % (98304) is 98302.5, to even.
    EXPECT_EQ(PulseMixer::FromServerVolume(2 * PA_VOLUME_NORM), 131070);
    EXPECT_EQ(PulseMixer::FromServerVolume(PA_VOLUME_NORM * 3 / 2), 98302);
    EXPECT_EQ(PulseMixer::FromServerVolume(32768), 32768); // 32767.5 -> even
    EXPECT_EQ(PulseMixer::FromServerVolume(16384), 16384); // 16383.75
    for (std::int32_t v = 0; v <= 65535; v += 257) {
        EXPECT_EQ(PulseMixer::FromServerVolume(PulseMixer::ToServerVolume(v)), v);
    }
    // A volume read shows the percentage pactl prints for the server's value, above the
    // norm too.
    for (pa_volume_t v = 0; v <= 3 * PA_VOLUME_NORM; ++v) {
        const auto pactl =
            static_cast<std::int32_t>((v * 100ull + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM);
        ASSERT_EQ(VolumePercent(PulseMixer::FromServerVolume(v)), pactl) << v;
    }
    EXPECT_EQ(VolumePercent(-1), 0);
}
