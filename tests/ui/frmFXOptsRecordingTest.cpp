#include "app/Form1.h"
#include "dsp/clsDSP.h"
#include "platform/MessageBoxService.h"
#include "platform/WindowService.h"
#include "platform/acm/FormatChooser.h"
#include "ui/frmFXOpts.h"

#include "AudioProbe.h"
#include "EventPump.h"
#include "ScriptedWaveIn.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr std::size_t kBlockSamples = 10240 / 2; // one capture buffer, mono
constexpr int kBlocks = 12;
constexpr double kBandTone = 1084.0; // the centre of band 3 at 44100 Hz
constexpr double kLowTone = 80.0;    // the centre of band 0, far below band 3

// Messages are recorded, not shown: a box would stop the test.
class SilentMessages final : public platform::MessageBoxService {
public:
    SilentMessages() : previous_(install(this)) {}
    ~SilentMessages() override { install(previous_); }
    void show(QWidget*, const QString& text, const QString&, platform::MessageIcon) override {
        texts.push_back(text);
    }
    QStringList texts;

private:
    platform::MessageBoxService* previous_;
};

// The stereo box opens the format chooser; this one cancels at once, keeping the format.
class CancellingChooser final : public platform::FormatChooser {
public:
    std::optional<Choice> choose(QWidget*, const std::string&, std::span<const std::uint8_t>,
                                 const std::vector<platform::AcmFormatChoice>&,
                                 std::span<const std::uint8_t>) override {
        return std::nullopt;
    }
};

template <typename T>
T* control(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// Two tones of equal amplitude, one at band 3's centre and one far below it.
std::vector<std::int16_t> twoTones(std::size_t n) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        v[i] = static_cast<std::int16_t>(std::lrint(2000.0 * std::sin(2.0 * M_PI * kBandTone * t) +
                                                    2000.0 * std::sin(2.0 * M_PI * kLowTone * t)));
    }
    return v;
}

// Amplitude of the tone at f in `span` samples from `start`, through a Hann-windowed DFT
// bin.
double toneLevelAt(const std::vector<std::int16_t>& s, double f, std::size_t start,
                   std::size_t span) {
    std::complex<double> sum = 0.0;
    double weights = 0.0;
    for (std::size_t i = 0; i < span; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / span);
        const double phase = 2.0 * M_PI * f * static_cast<double>(start + i) / kRate;
        sum += w * static_cast<double>(s[start + i]) * std::polar(1.0, -phase);
        weights += w;
    }
    return 2.0 * std::abs(sum) / weights;
}

// The same over the last `span` samples.
double toneLevel(const std::vector<std::int16_t>& s, double f, std::size_t span) {
    return toneLevelAt(s, f, s.size() - span, span);
}

// Acts on the effects window while the main window's settings button holds it open, then
// closes it with its close button.
void withEffectsWindow(Form1& form, const std::function<void(frmFXOpts&)>& act) {
    bool opened = false;
    QTimer::singleShot(0, &form, [&] {
        auto* dialog = qobject_cast<frmFXOpts*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        opened = true;
        act(*dialog);
        control<QPushButton>(*dialog, "cmdClose")->click();
    });
    control<QPushButton>(form, "cmdFXOpts")->click();
    EXPECT_TRUE(opened);
}

class EffectsWindowRecording : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        waveIn.devices = {"Scripted microphone"};
    }

    // Records the tones for kBlocks capture buffers and reads the file back.
    std::vector<std::int16_t> Record(Form1& form) {
        auto* cboDev = control<QComboBox>(form, "cboDev");
        cboDev->setCurrentIndex(0);
        emit cboDev->activated(0);
        control<QPushButton>(form, "cmdDo")->click();
        EXPECT_TRUE(form.Recorder().IsRecording());

        const std::vector<std::int16_t> sound = twoTones(kBlocks * kBlockSamples);
        for (int b = 0; b < kBlocks; ++b) {
            const std::int32_t before = form.lngElapsedMS();
            waveIn.Feed(std::span(sound).subspan(b * kBlockSamples, kBlockSamples));
            EXPECT_TRUE(PumpUntil([&] { return form.lngElapsedMS() != before; })) << b;
        }
        control<QPushButton>(form, "cmdDo")->click();
        EXPECT_FALSE(form.Recorder().IsRecording());

        // The output format stays at its default, 16-bit stereo: the mono take is in both
        // channels.
        bool ok = false;
        const std::vector<std::int16_t> stereo =
            audioprobe::decodeWithFfmpeg(form.strLastFile().toStdString(), ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(stereo.size(), 2 * sound.size());
        std::vector<std::int16_t> left;
        std::size_t unequal = 0;
        for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) {
            unequal += stereo[i] != stereo[i + 1] ? 1 : 0;
            left.push_back(stereo[i]);
        }
        EXPECT_EQ(unequal, 0u);
        return left;
    }

    QTemporaryDir dir;
    SilentMessages messages;
    CancellingChooser chooser;
    platform::WindowService windows;
    ScriptedWaveIn waveIn;
};

} // namespace

TEST_F(EffectsWindowRecording, ABandRaisedInTheWindowRaisesThatBandInTheFile) {
    Form1 form(windows, waveIn, dir.path(), chooser);
    // Mono, so the band filters see the tones at their own frequencies; the equaliser on.
    control<QCheckBox>(form, "chkStereo")->click();
    control<QCheckBox>(form, "chkFX_3")->click();
    ASSERT_EQ(form.Effects().Channels(), 1);
    ASSERT_EQ(form.Effects().EffectsUsed(), 8);

    withEffectsWindow(form, [](frmFXOpts& f) {
        control<QTabWidget>(f, "strip")->setCurrentIndex(2);
        // Home takes the thumb to the top end: +12 dB.
        QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
        QApplication::sendEvent(f.sldEQ()[3], &home);
    });
    EXPECT_EQ(form.Effects().EqualizerBandGainDB(3), 12.0f);
    const std::vector<std::int16_t> raised = Record(form);

    withEffectsWindow(form, [](frmFXOpts& f) {
        // The same window again: the band still stands at the top end.
        EXPECT_EQ(f.sldEQ().size(), 7u);
        EXPECT_EQ(f.sldEQ()[3]->value(), -12);
        QSlider* band = f.sldEQ()[3];
        const QPointF at(band->width() / 2.0, band->height() / 2.0);
        QMouseEvent release(QEvent::MouseButtonRelease, at, band->mapToGlobal(at), Qt::RightButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(band, &release);
    });
    EXPECT_EQ(form.Effects().EqualizerBandGainDB(3), 0.0f);
    const std::vector<std::int16_t> flat = Record(form);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("; ").toStdString();

    ASSERT_EQ(raised.size(), flat.size());
    ASSERT_GT(raised.size(), 32768u);
    // Past the filters' settling, over the last 0.74 s.
    const std::size_t span = 32768;
    const double bandGain =
        20.0 * std::log10(toneLevel(raised, kBandTone, span) / toneLevel(flat, kBandTone, span));
    const double lowGain =
        20.0 * std::log10(toneLevel(raised, kLowTone, span) / toneLevel(flat, kLowTone, span));
    EXPECT_NEAR(bandGain, 12.0, 0.1);
    EXPECT_NEAR(lowGain, 0.0, 0.3);
    // With every band at 0 dB the equaliser passes the tones as they came.
    EXPECT_NEAR(toneLevel(flat, kBandTone, span), 2000.0, 5.0);
    EXPECT_NEAR(toneLevel(flat, kLowTone, span), 2000.0, 5.0);
}

// Stereo, echo and equaliser on, set in the window: each channel has its own echo line and
// band filters. Left holds a burst at band 3's centre, right one at band 2's; the file shows
// the echo the length slider names, the raised band where its label says, and nothing of
// one channel in the other.
TEST_F(EffectsWindowRecording, StereoTakeKeepsEachChannelsEchoAndBands) {
    Form1 form(windows, waveIn, dir.path(), chooser);
    control<QCheckBox>(form, "chkFX_0")->click();
    control<QCheckBox>(form, "chkFX_3")->click();
    ASSERT_EQ(form.Effects().Channels(), 2);
    ASSERT_EQ(form.Effects().EffectsUsed(), 1 | 8);
    withEffectsWindow(form, [](frmFXOpts& f) {
        control<QSlider>(f, "sldReverbLen")->setValue(300);
        QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
        QApplication::sendEvent(f.sldEQ()[3], &home);
    });
    ASSERT_EQ(form.Effects().EchoLength(), 300);

    // 100 ms bursts, then silence: repeats at 300, 600 ms, ...
    constexpr double kRightTone = 455.0;
    constexpr std::size_t kBurst = kRate / 10;
    const std::size_t frames = kBlocks * kBlockSamples / 2;
    std::vector<std::int16_t> left(frames, 0), right(frames, 0), sound(2 * frames);
    for (std::size_t i = 0; i < kBurst; ++i) {
        const double t = static_cast<double>(i) / kRate;
        left[i] =
            static_cast<std::int16_t>(std::lrint(2000.0 * std::sin(2.0 * M_PI * kBandTone * t)));
        right[i] =
            static_cast<std::int16_t>(std::lrint(2000.0 * std::sin(2.0 * M_PI * kRightTone * t)));
    }
    for (std::size_t i = 0; i < frames; ++i) {
        sound[2 * i] = left[i];
        sound[2 * i + 1] = right[i];
    }

    auto* cboDev = control<QComboBox>(form, "cboDev");
    cboDev->setCurrentIndex(0);
    emit cboDev->activated(0);
    control<QPushButton>(form, "cmdDo")->click();
    ASSERT_TRUE(form.Recorder().IsRecording());
    for (int b = 0; b < kBlocks; ++b) {
        const std::int32_t before = form.lngElapsedMS();
        waveIn.Feed(std::span(sound).subspan(b * kBlockSamples, kBlockSamples));
        ASSERT_TRUE(PumpUntil([&] { return form.lngElapsedMS() != before; })) << b;
    }
    control<QPushButton>(form, "cmdDo")->click();
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("; ").toStdString();

    bool ok = false;
    const std::vector<std::int16_t> file =
        audioprobe::decodeWithFfmpeg(form.strLastFile().toStdString(), ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(file.size(), sound.size());
    std::vector<std::int16_t> fileLeft(frames), fileRight(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        fileLeft[i] = file[2 * i];
        fileRight[i] = file[2 * i + 1];
    }

    // The echo: the lag at which the left channel best matches its own burst.
    std::size_t lag = 0;
    double best = 0.0;
    for (std::size_t d = kBurst + kBurst / 2; d + kBurst <= frames && d < 2 * frames / 3; ++d) {
        double c = 0.0;
        for (std::size_t i = 0; i < kBurst; ++i) {
            c += static_cast<double>(fileLeft[i]) * static_cast<double>(fileLeft[d + i]);
        }
        if (c > best) {
            best = c;
            lag = d;
        }
    }
    EXPECT_NEAR(static_cast<double>(lag) * 1000.0 / kRate, 300.0, 0.1);

    // Band 3 raises its own centre by 12 dB: measured inside the burst, past the filter's
    // settling.
    const double raised = toneLevelAt(fileLeft, kBandTone, 1000, 3000);
    EXPECT_NEAR(20.0 * std::log10(raised / 2000.0), 12.0, 0.1);
    // Nothing of either burst in the other channel.
    EXPECT_LT(toneLevelAt(fileRight, kBandTone, 1000, 3000), 1.0);
    EXPECT_LT(toneLevelAt(fileLeft, kRightTone, 1000, 3000), 1.0);
    EXPECT_GT(toneLevelAt(fileRight, kRightTone, 1000, 3000), 1000.0);

    // And each channel is what the same chain gives the channel alone, to the bit.
    for (auto [input, recorded] : {std::pair{&left, &fileLeft}, std::pair{&right, &fileRight}}) {
        clsDSP mono;
        mono.setSamplerate(kRate);
        mono.setChannels(1);
        mono.setEffectsUsed(1 | 8);
        mono.setEchoLength(300);
        mono.setEqualizerBandGainDB(3, 12.0f);
        std::vector<std::int16_t> expected = *input;
        mono.ProcessSamples(expected);
        EXPECT_EQ(*recorded, expected);
    }
}
