#include "Form1Fixture.h"

#include "AudioProbe.h"
#include "EventPump.h"
#include "display/DeviceContext.h"
#include "display/PictureBox.h"
#include "display/modDraw.h"
#include "dsp/clsDSP.h"

#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>

#include <cmath>
#include <numbers>

namespace {

using namespace std::chrono_literals;

QString SizeText(Form1& form) {
    return Form1Fixture::control<QLabel>(form, "sbarSize")->text();
}
QString TimeText(Form1& form) {
    return Form1Fixture::control<QLabel>(form, "sbarTime")->text();
}
bool PreviewEnabled(Form1& form) {
    return Form1Fixture::control<QPushButton>(form, "CmdST")->isEnabled();
}
PictureBox& Box(Form1& form, const char* name) {
    return *Form1Fixture::control<PictureBox>(form, name);
}

// Pixels of the box that differ from its background colour.
int Drawn(PictureBox& box) {
    const QRgb back = DeviceContext::toRgb(box.BackColor());
    const QImage& image = box.image();
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += image.pixel(x, y) != back ? 1 : 0;
        }
    }
    return n;
}

// Stereo tone blocks: 1000 Hz at 44100 Hz, left at `left`, right at half that.
std::vector<std::int16_t> Tone(double left, int block) {
    std::vector<std::int16_t> v(5120);
    for (std::size_t i = 0; i < v.size() / 2; ++i) {
        const double t = static_cast<double>(block * 2560 + static_cast<int>(i)) / 44100.0;
        const double s = std::sin(2.0 * std::numbers::pi * 1000.0 * t);
        v[2 * i] = static_cast<std::int16_t>(std::lrint(left * s));
        v[2 * i + 1] = static_cast<std::int16_t>(std::lrint(left / 2 * s));
    }
    return v;
}

class Form1Display : public Form1Fixture {};

TEST_F(Form1Display, IdleTicksShowAnEmptyRecordingAndEnableThePreview) {
    auto form = Open();
    EXPECT_EQ(SizeText(*form), QStringLiteral("文件大小: 0 字节"));
    // The timer runs from start-up on its own.
    ASSERT_TRUE(PumpUntil([&] { return SizeText(*form) == QStringLiteral("文件大小: 0 Bytes"); }));
    EXPECT_EQ(TimeText(*form), QStringLiteral("时间: 0:00"));
    EXPECT_TRUE(PreviewEnabled(*form));
}

TEST_F(Form1Display, PreviewIsDisabledWhileRecordingAndEnabledByTheFirstTickAfterTheStop) {
    auto form = Open();
    Start(*form);
    form->tmrVis_Timer();
    EXPECT_FALSE(PreviewEnabled(*form));
    Click(*form, "cmdDo");
    EXPECT_FALSE(PreviewEnabled(*form)) << "no tick yet";
    form->tmrVis_Timer();
    EXPECT_TRUE(PreviewEnabled(*form));
    EXPECT_EQ(SizeText(*form), QStringLiteral("文件大小: 0 Bytes"));
    EXPECT_EQ(TimeText(*form), QStringLiteral("时间: 0:00"));

    // The same through the running timer.
    Click(*form, "cmdDo");
    ASSERT_TRUE(PumpUntil([&] { return !PreviewEnabled(*form); }));
    Click(*form, "cmdDo");
    EXPECT_TRUE(PumpUntil([&] { return PreviewEnabled(*form); }));
}

// The display timer runs only while a recording runs. Every way a take ends (the button, a
// lost device, a full disk) and a failed start leave the idle texts, the preview enabled
// and the timer stopped.
TEST_F(Form1Display, TheTimerRunsOnlyWhileRecordingAndEveryStopLeavesTheIdleTexts) {
    auto form = Open();
    auto* timer = control<QTimer>(*form, "tmrVis");
    ASSERT_NE(timer, nullptr);
    const auto idle = [&] {
        return !timer->isActive() && PreviewEnabled(*form) &&
               SizeText(*form) == QStringLiteral("文件大小: 0 Bytes") &&
               TimeText(*form) == QStringLiteral("时间: 0:00");
    };
    ASSERT_TRUE(PumpUntil(idle)) << "after start-up";
    PumpFor(100ms);
    EXPECT_TRUE(idle());

    // A second of sound, shown by the running timer, then the button.
    Start(*form);
    EXPECT_TRUE(timer->isActive());
    for (int n = 0; n < 18; ++n) {
        Block(*form, Tone(8000, n));
    }
    ASSERT_TRUE(PumpUntil([&] { return TimeText(*form) == QStringLiteral("时间: 0:01"); }));
    EXPECT_FALSE(PreviewEnabled(*form));
    // Nothing of a hidden or minimised window is seen: the timer sleeps until it shows.
    form->hide();
    EXPECT_FALSE(timer->isActive());
    form->show();
    EXPECT_TRUE(timer->isActive());
    form->showMinimized();
    EXPECT_FALSE(timer->isActive());
    form->showNormal();
    EXPECT_TRUE(timer->isActive());
    Click(*form, "cmdDo");
    ASSERT_TRUE(PumpUntil(idle)) << "after the button";

    // A lost device.
    Start(*form);
    for (int n = 0; n < 18; ++n) {
        Block(*form, Tone(8000, n));
    }
    ASSERT_TRUE(PumpUntil([&] { return TimeText(*form) == QStringLiteral("时间: 0:01"); }));
    waveIn.Fail(platform::MMSYSERR_NODRIVER);
    ASSERT_TRUE(PumpUntil([&] { return !form->Recorder().IsRecording(); }));
    ASSERT_TRUE(PumpUntil(idle)) << "after a lost device";

    // A full disk: the size of a file that is not a regular one shows as 0 bytes.
    control<QLineEdit>(*form, "txtFile")->setText("/dev/full");
    Start(*form);
    ASSERT_TRUE(PumpUntil([&] { return SizeText(*form) == QStringLiteral("文件大小: 0 bytes"); }));
    Block(*form, Tone(8000, 0));
    ASSERT_FALSE(form->Recorder().IsRecording());
    ASSERT_TRUE(PumpUntil(idle)) << "after a full disk";

    // A start the device refuses leaves everything idle.
    waveIn.openError = platform::MMSYSERR_NODRIVER;
    Click(*form, "cmdDo");
    ASSERT_FALSE(form->Recorder().IsRecording());
    EXPECT_TRUE(idle());
    PumpFor(100ms);
    EXPECT_TRUE(idle());
}

TEST_F(Form1Display, RecordingTicksShowTheFileSizeAndTheTime) {
    auto form = Open();
    Start(*form);
    for (int n = 0; n < 18; ++n) {
        Block(*form, Tone(8000, n));
    }
    form->tmrVis_Timer();
    // 46 header bytes and 18 blocks of 10240 bytes: 184366 bytes; 18 x 58 ms = 1.044 s.
    EXPECT_EQ(SizeText(*form), QStringLiteral("文件大小: 180 KB"));
    EXPECT_EQ(TimeText(*form), QStringLiteral("时间: 0:01"));

    // A file deleted while recording shows as empty from the next block on (the size is
    // taken again only after a block was written).
    ASSERT_TRUE(QFile::remove(control<QLineEdit>(*form, "txtFile")->text()));
    Block(*form, Tone(8000, 18));
    form->tmrVis_Timer();
    EXPECT_EQ(SizeText(*form), QStringLiteral("文件大小: 0 bytes"));
}

TEST_F(Form1Display, LevelBarsFollowTheMeanOfTheLastThreePeaks) {
    auto form = Open();
    PictureBox& left = Box(*form, "picVUL");
    PictureBox& right = Box(*form, "picVUR");
    ASSERT_EQ(left.ScaleWidth(), 262.0f);
    Start(*form);

    // Silence: peaks of 1, a level of 1/32768, a bar 0 pixels wide.
    Block(*form, std::vector<std::int16_t>(5120, 0));
    for (int i = 0; i < 3; ++i) {
        form->tmrVis_Timer();
    }
    EXPECT_EQ(Drawn(left), 0);
    EXPECT_EQ(Drawn(right), 0);

    // -32768 on the left only: after three ticks the left bar is full and red.
    std::vector<std::int16_t> loud(5120, 0);
    for (std::size_t i = 0; i < loud.size(); i += 2) {
        loud[i] = -32768;
    }
    Block(*form, loud);
    form->tmrVis_Timer();
    form->tmrVis_Timer();
    EXPECT_LT(Drawn(left), 262 * 23) << "two ticks: still the mean with one silent peak";
    form->tmrVis_Timer();
    const QImage full = left.image().copy();
    EXPECT_EQ(full.width(), 262);
    for (int y = 0; y < full.height(); ++y) {
        for (int x = 0; x < full.width(); ++x) {
            ASSERT_EQ(full.pixel(x, y), DeviceContext::toRgb(modDraw::RGB(255, 0, 0)))
                << x << "," << y;
        }
    }
    EXPECT_EQ(Drawn(right), 0);
    Click(*form, "cmdDo");

    // Mono: both bars from all samples, so both equal.
    control<QCheckBox>(*form, "chkStereo")->click();
    Start(*form);
    std::vector<std::int16_t> mono(5120, 0);
    mono[1] = 16384; // an odd index: the right channel's place in stereo
    Block(*form, mono);
    for (int i = 0; i < 3; ++i) {
        form->tmrVis_Timer();
    }
    EXPECT_EQ(Drawn(left), 131 * 23) << "level 0.5 of 262 pixels";
    EXPECT_EQ(left.image(), right.image());
}

TEST_F(Form1Display, RecordingShowsSpectrumWaveformAndBarsAndAHiddenWindowDrawsNothing) {
    auto form = Open();
    Start(*form);
    for (int n = 0; n < 4; ++n) {
        Block(*form, Tone(24000, n));
        form->tmrVis_Timer();
        form->tmrVis_Timer();
    }
    PictureBox& freq = Box(*form, "picFreq");
    PictureBox& ampl = Box(*form, "picAmpl");
    PictureBox& vuL = Box(*form, "picVUL");
    PictureBox& vuR = Box(*form, "picVUR");
    // 1000 Hz lies in bin 23 (band 4): that bar is up, the highest band is not.
    const int bottom = static_cast<int>(freq.ScaleHeight()) - 3;
    EXPECT_NE(freq.image().pixel(4 * 4 + 5, bottom), qRgb(0, 0, 0));
    EXPECT_EQ(freq.image().pixel(4 * 21 + 5, bottom), qRgb(0, 0, 0)) << "band 21 is empty";
    int white = 0;
    for (int x = 0; x < ampl.image().width(); ++x) {
        for (int y = 0; y < ampl.image().height(); ++y) {
            white += ampl.image().pixel(x, y) == qRgb(255, 255, 255) ? 1 : 0;
        }
    }
    EXPECT_GT(white, 100) << "the trace swings over the box";
    // Left at 24000, right at 12000 of 32768.
    const int wL = Drawn(vuL) / 23;
    const int wR = Drawn(vuR) / 23;
    EXPECT_EQ(wL, std::lrint(24000.0 / 32768.0 * 262));
    EXPECT_EQ(wR, std::lrint(12000.0 / 32768.0 * 262));

    // What the boxes hold is what the window shows.
    const QImage shot = form->grab().toImage();
    const QPoint at = vuL.mapTo(form.get(), QPoint(10, 10));
    EXPECT_EQ(shot.pixel(at), vuL.image().pixel(10, 10));
    const QByteArray shotPath = qgetenv("VOCARN_SCREENSHOT");
    if (!shotPath.isEmpty()) {
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(shotPath)));
    }

    // Hidden: the texts go on, the boxes keep their pictures.
    const QImage before = ampl.image().copy();
    form->hide();
    Block(*form, std::vector<std::int16_t>(5120, 0));
    for (int n = 0; n < 14; ++n) {
        Block(*form, std::vector<std::int16_t>(5120, 0));
    }
    form->tmrVis_Timer();
    EXPECT_EQ(ampl.image(), before);
    EXPECT_EQ(TimeText(*form), QStringLiteral("时间: 0:01")) << "19 blocks of 58 ms";
    EXPECT_TRUE(form->Recorder().IsRecording());
}

// The amplifier switched on in the window raises a real take by its 3 dB.
TEST_F(Form1Display, AmplifierRaisesTheRecordedSoundByThreeDecibels) {
    auto form = Open();
    control<QCheckBox>(*form, "chkFX_2")->click();
    ASSERT_EQ(form->Effects().AmplifyDB(), 3);
    Start(*form);
    std::vector<std::int16_t> signal(5120);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        signal[i] = (i / 2) % 2 == 0 ? 10000 : -10000;
    }
    for (int n = 0; n < 4; ++n) {
        const std::int32_t before = form->lngElapsedMS();
        waveIn.Feed(signal);
        ASSERT_TRUE(PumpUntil([&] { return form->lngElapsedMS() != before; }));
    }
    Click(*form, "cmdDo");

    const std::string path = form->strLastFile().toStdString();
    const auto probe = audioprobe::ffprobe(path);
    ASSERT_TRUE(probe.ok) << probe.text;
    EXPECT_EQ(probe.sampleRate, 44100);
    EXPECT_EQ(probe.channels, 2);
    for (const bool sox : {false, true}) {
        bool ok = false;
        const auto samples =
            sox ? audioprobe::decodeWithSox(path, ok) : audioprobe::decodeWithFfmpeg(path, ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(samples.size(), 4 * signal.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            ASSERT_EQ(samples[i], (i / 2) % 2 == 0 ? 14125 : -14125) << i;
        }
    }
}

} // namespace
