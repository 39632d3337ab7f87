#include "app/Take.h"
#include "app/TakeFiles.h"
#include "dsp/clsDSP.h"
#include "encoder/EncoderAudioFile.h"
#include "encoder/EncoderWAV.h"
#include "platform/WindowService.h"

#include "ReadBack.h"
#include "ScriptedWaveIn.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// 44100 Hz stereo blocks of 1000 frames; frame k of the take's input holds k + 1 on the left
// and -(k + 1) on the right, so the file shows which input frames it holds.
constexpr std::int32_t kFrames = 1000;

class EndsSeen : public TakeEvents {
public:
    void TakeGoesOn() override { ++goesOn; }
    void TakeEnded(TakeEnd why) override { ends.push_back(why); }
    int goesOn = 0;
    std::vector<TakeEnd> ends;
};

// A take over the scripted capture device, the real encoder (PCM at the take's own rate and
// channels) and effects chain (all effects off), in a temporary program folder.
class TakeTest : public ::testing::Test {
public:
    TakeTest() {
        waveIn.devices = {"Scripted microphone"};
        files.Load();
    }

    void Start() {
        ASSERT_EQ(take.Start(files.Path(), 44100, 2), Take::StartResult::Started);
        next = 0;
    }
    // Hands the next block of input frames to the take, `level` scaling it (0: silence that
    // still counts as frames).
    void Feed(double level = 1.0, std::int32_t frames = kFrames) {
        std::vector<std::int16_t> block(2 * static_cast<std::size_t>(frames));
        for (std::int32_t f = 0; f < frames; ++f, ++next) {
            const auto v = static_cast<std::int16_t>(std::min(32767.0, (next + 1) * level));
            block[2 * f] = v;
            block[2 * f + 1] = static_cast<std::int16_t>(-v);
        }
        std::int32_t bytes = frames * 4;
        take.clsRecorder_GotData(block, bytes);
    }
    // The input frames the file holds, by number (-1 for a silent frame).
    std::vector<std::int32_t> InFile(const QString& path) const {
        const std::vector<std::int16_t> samples = ReadBack(path, 44100, 2);
        std::vector<std::int32_t> frames;
        for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
            EXPECT_EQ(samples[i], -samples[i + 1]);
            frames.push_back(samples[i] - 1);
        }
        return frames;
    }
    static std::vector<std::int32_t> Run(std::int32_t from, std::int32_t to) {
        std::vector<std::int32_t> run;
        for (std::int32_t k = from; k < to; ++k) {
            run.push_back(k);
        }
        return run;
    }

    QTemporaryDir dir;
    platform::WindowService windows;
    ScriptedWaveIn waveIn;
    WaveInRecorder recorder{windows, waveIn};
    EncoderWAV encoder;
    EncoderAudioFile fileEncoder;
    clsDSP effects;
    TakeFiles files{dir.path()};
    EndsSeen events;
    Take take{recorder, encoder, fileEncoder, effects, files, events};
    std::int32_t next = 0;
};

// Paused blocks reach the display's block but not the file, and the time stands; the take
// goes on in the same file with the next block. The set length, paused frames included,
// cuts the last block to the frame and ends the take by itself, numbered on as at a stop.
TEST_F(TakeTest, PauseHoldsTheFileAndTheSetLengthCutsToTheFrame) {
    take.setLengthLimitMS(100); // 4410 frames
    Start();
    const QString path = files.Path();
    Feed();
    take.Pause();
    Feed();
    EXPECT_EQ(take.intBlock()[0], 1001) << "the display still sees the paused input";
    EXPECT_EQ(take.lngElapsedMS(), 23);
    take.Continue();
    Feed();
    Feed();
    EXPECT_TRUE(take.IsRecording());
    EXPECT_EQ(take.lngElapsedMS(), 69);
    Feed(); // frames 4000 .. 4999: the length ends at 4410
    EXPECT_FALSE(take.IsRecording());
    ASSERT_EQ(events.ends, std::vector<TakeEnd>{TakeEnd::TimeUp});
    EXPECT_EQ(take.PausedFrames(), 1000u);
    EXPECT_EQ(take.strLastFile(), path);
    EXPECT_NE(files.Path(), path);
    EXPECT_EQ(take.lngElapsedMS(), 0);

    std::vector<std::int32_t> expected = Run(0, 1000);
    for (const std::int32_t k : Run(2000, 4410)) {
        expected.push_back(k);
    }
    EXPECT_EQ(InFile(path), expected);
}

// Voice activation: while waiting, only the last 0.3 s (13230 frames) are kept; the first
// block above the threshold goes to the file after them; the silence after it is written
// until it has lasted the hold time, then the take waits again. Full-scale samples are
// counted as they are written, marked per channel for the display, and reported at the stop.
TEST_F(TakeTest, VoiceActivationKeepsThePreRollAndDropsTheSilenceAndClipsAreCounted) {
    take.setVoiceActivation(VoiceActivation{-40.0, 50}); // -40 dBFS: peaks above 327
    Start();
    const QString path = files.Path();
    for (int b = 0; b < 20; ++b) {
        Feed(0.001); // frames 0 .. 19999, quiet: peaks of 20 at most
    }
    EXPECT_FALSE(take.VoiceWriting());
    Feed(); // frames 20000 .. 20999, loud
    EXPECT_TRUE(take.VoiceWriting());
    for (int b = 0; b < 4; ++b) {
        Feed(0.0); // silence: 2205 frames of hold end within the third block
    }
    EXPECT_FALSE(take.VoiceWriting());
    Feed(0.0);
    Feed(100.0); // frames 26000 .. 26999 at full scale, after the 2000 silent frames kept
    EXPECT_TRUE(take.TakeClipMark(0));
    EXPECT_TRUE(take.TakeClipMark(1));
    EXPECT_FALSE(take.TakeClipMark(0)) << "a mark is taken once";
    EXPECT_EQ(take.Stop(), TakeEnd::Stopped);

    // 32767 and -32767 in every frame of the last block; the quiet and loud blocks before
    // hold none.
    const std::uint64_t full = 2000;
    EXPECT_EQ(take.ClippedSamples(), full);
    EXPECT_TRUE(take.Report().contains(QString::number(full))) << take.Report().toStdString();

    const std::vector<std::int32_t> frames = InFile(path);
    // Pre-roll: input frames 6770 .. 19999 (quiet, scaled), then 20000 .. 20999 whole.
    ASSERT_EQ(frames.size(), 13230u + 1000u + 3000u + 2000u + 1000u);
    EXPECT_EQ(std::vector<std::int32_t>(frames.begin() + 13230, frames.begin() + 14230),
              Run(20000, 21000));
    EXPECT_EQ(frames[13229], 19) << "the last quiet frame, 20 in the input";
    EXPECT_EQ(std::count(frames.begin() + 14230, frames.begin() + 19230, -1), 5000)
        << "the hold and the silence kept before the next sound";
    EXPECT_EQ(frames.back(), 32766);
}

} // namespace
