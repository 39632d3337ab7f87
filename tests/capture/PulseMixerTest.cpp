// The mixer of capture devices on the private sound server of the test run.
#include "platform/PulseMixer.h"
#include "capture/WaveInRecorder.h"
#include "platform/PulseWaveIn.h"

#include "SoundServer.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(PulseMixer, ASourceWithoutPortsHasOneLineNamedAfterIt) {
    WindowService windows;
    PulseWaveIn waveIn;
    WaveInRecorder recorder(windows, waveIn);
    const std::int32_t sine = DeviceIndexOf("vocarn_sine");
    ASSERT_TRUE(recorder.SelectDevice(sine));
    EXPECT_EQ(recorder.SelectedDevice(), sine);
    EXPECT_EQ(recorder.MixerLineCount(), 1);
    EXPECT_EQ(recorder.MixerLineName(0), SourcesInDeviceOrder().at(sine).description);
    EXPECT_EQ(recorder.MixerLineName(1), "");
    EXPECT_EQ(recorder.SelectedMixerLine(), 0);
    EXPECT_EQ(recorder.MixerLineType(-1), 0);
    EXPECT_TRUE(recorder.SelectMixerLine(0));
    EXPECT_TRUE(recorder.SelectMixerLine(-1));
    EXPECT_EQ(recorder.SelectedMixerLine(), 0);
}

TEST(PulseMixer, VolumeIsTheSourceVolumeOnTheServerScale) {
    const std::string monitor = "vocarn_null.monitor"; // a stereo source
    FullVolumeAfterwards restore(monitor);
    WindowService windows;
    PulseWaveIn waveIn;
    WaveInRecorder recorder(windows, waveIn);
    ASSERT_TRUE(recorder.SelectDevice(DeviceIndexOf(monitor)));

    recorder.setMixerLineVolume(32768);
    const auto half = SourceVolumes(monitor);
    ASSERT_EQ(half.size(), 2u);
    EXPECT_EQ(half[0].second, "50%");
    EXPECT_EQ(half[1].second, "50%");
    EXPECT_EQ(recorder.MixerLineVolume(), 32768);

    Pactl({"set-source-volume", QString::fromStdString(monitor), "25%"});
    EXPECT_EQ(recorder.MixerLineVolume(), 16384);

    // Channels that differ: the first is read; a write makes them equal again.
    Pactl({"set-source-volume", QString::fromStdString(monitor), "30%", "60%"});
    const auto uneven = SourceVolumes(monitor);
    ASSERT_EQ(uneven.size(), 2u);
    EXPECT_EQ(recorder.MixerLineVolume(),
              PulseMixer::FromServerVolume(static_cast<pa_volume_t>(uneven[0].first)));
    EXPECT_NE(uneven[0].first, uneven[1].first);
    recorder.setMixerLineVolume(65535);
    const auto full = SourceVolumes(monitor);
    ASSERT_EQ(full.size(), 2u);
    EXPECT_EQ(full[0].first, static_cast<int>(PA_VOLUME_NORM));
    EXPECT_EQ(full[1].first, static_cast<int>(PA_VOLUME_NORM));
    EXPECT_EQ(recorder.MixerLineVolume(), 65535);
}

TEST(PulseMixer, VolumeOfAMonoSourceIsWrittenToo) {
    const std::string sine = "vocarn_sine";
    FullVolumeAfterwards restore(sine);
    WindowService windows;
    PulseWaveIn waveIn;
    WaveInRecorder recorder(windows, waveIn);
    ASSERT_TRUE(recorder.SelectDevice(DeviceIndexOf(sine)));
    recorder.setMixerLineVolume(16384);
    const auto quarter = SourceVolumes(sine);
    ASSERT_EQ(quarter.size(), 1u);
    EXPECT_EQ(quarter[0].second, "25%");
    EXPECT_EQ(recorder.MixerLineVolume(), 16384);
}
