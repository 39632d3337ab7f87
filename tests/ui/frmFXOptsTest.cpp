#include "ui/frmFXOpts.h"
#include "display/PictureBox.h"
#include "display/modDraw.h"
#include "dsp/clsDSP.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using modDraw::RGB;

constexpr std::uint32_t kBack = RGB(24, 31, 44);
constexpr std::uint32_t kMiddle = RGB(225, 168, 34);
constexpr std::uint32_t kTop = RGB(188, 34, 1);

// The chain as the main window holds it: 44100 Hz stereo, everything else at its defaults.
struct DefaultChain {
    clsDSP dsp;
    DefaultChain() {
        dsp.setSamplerate(44100);
        dsp.setChannels(2);
    }
};

template <typename T>
T& child(QWidget& parent, const QString& name) {
    T* found = parent.findChild<T*>(name);
    if (found == nullptr) {
        throw std::runtime_error("no control " + name.toStdString());
    }
    return *found;
}

QSlider& slider(frmFXOpts& f, const char* name) {
    return child<QSlider>(f, QString::fromLatin1(name));
}

std::uint32_t pixel(PictureBox& box, int x, int y) {
    const QRgb p = box.image().pixel(x, y);
    return RGB(static_cast<std::uint32_t>(qRed(p)), static_cast<std::uint32_t>(qGreen(p)),
               static_cast<std::uint32_t>(qBlue(p)));
}

int channelDistance(std::uint32_t a, std::uint32_t b) {
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 255u) -
                                         static_cast<int>((b >> shift) & 255u)));
    }
    return worst;
}

void releaseMouse(QWidget& w, Qt::MouseButton button) {
    const QPointF at(w.width() / 2.0, w.height() / 2.0);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w.mapToGlobal(at), button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&w, &release);
}

// The lowest row of column x that the curve colours (neither background nor grid), or -1.
int lowestCurveRow(PictureBox& box, int x) {
    for (int y = static_cast<int>(box.ScaleHeight()) - 1; y >= 0; --y) {
        const std::uint32_t c = pixel(box, x, y);
        if (c != kBack && c != RGB(94, 88, 66)) {
            return y;
        }
    }
    return -1;
}

// The band points of the curve box (181 x 23 pixels): step 24, x = 24 i - 4.
int bandX(int band) {
    return 24 * (band + 1) - 4;
}

} // namespace

TEST(frmFXOpts, OpeningShowsTheDefaultChainAndLaysOutTheBandsOnce) {
    DefaultChain chain;
    frmFXOpts f;
    f.prepare(chain.dsp, nullptr);

    const std::vector<std::pair<const char*, int>> expected = {
        {"sldAmplDB", 3},     {"sldReverbLen", 100}, {"sldReverbAmp", 4},
        {"sldShDry", 10},     {"sldShWet", 10},      {"sldShFb", 5},
        {"sldShSwpRate", 10}, {"sldShSwpRange", 40}, {"sldShFreq", 100}};
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(slider(f, name).value(), value) << name;
    }
    EXPECT_EQ(child<QLabel>(f, "lblAmplDB").text(), "3 dB");
    // Every other slider shows its value beside it, in its unit.
    const std::vector<std::pair<const char*, const char*>> shown = {
        {"sldReverbLen", "100 ms"}, {"sldReverbAmp", "40%"},     {"sldShDry", "1.0"},
        {"sldShWet", "1.0"},        {"sldShFb", "0.5"},          {"sldShSwpRate", "1.0\u2009Hz"},
        {"sldShSwpRange", "4.0"},   {"sldShFreq", "100\u2009Hz"}};
    for (const auto& [name, text] : shown) {
        const QLabel* value = f.ValueLabel(&slider(f, name));
        ASSERT_NE(value, nullptr) << name;
        EXPECT_EQ(value->text(), text) << name;
    }

    const QStringList bandTexts = {"80 Hz", "191 Hz", "455 Hz", "1 kHz",
                                   "2 kHz", "6 kHz",  "14 kHz"};
    ASSERT_EQ(f.sldEQ().size(), 7u);
    ASSERT_EQ(f.lblEQID().size(), 7u);
    for (int b = 0; b < 7; ++b) {
        const QSlider* s = f.sldEQ()[b];
        const QLabel* l = f.lblEQID()[b];
        EXPECT_EQ(s->value(), 0) << b;
        EXPECT_EQ(l->text(), bandTexts[b]) << b;
        // The first slider stands at 6225 / 7 - 525 twips (24 px); the others one slider
        // width plus 20 pixels apart, each label 15 pixels right of its slider.
        EXPECT_EQ(s->x(), 24 + 55 * b) << b;
        EXPECT_EQ(l->x(), s->x() + 15) << b;
        EXPECT_TRUE(s->isVisibleTo(s->parentWidget())) << b;
        EXPECT_TRUE(l->isVisibleTo(l->parentWidget())) << b;
        ASSERT_NE(f.ValueLabel(s), nullptr) << b;
        EXPECT_EQ(f.ValueLabel(s)->text(), "0 dB") << b;
    }

    f.prepare(chain.dsp, nullptr);
    EXPECT_EQ(f.findChildren<QSlider*>(QRegularExpression("^sldEQ_")).size(), 7);
    EXPECT_EQ(f.findChildren<QLabel*>(QRegularExpression("^lblEQID_")).size(), 7);
    EXPECT_EQ(f.sldEQ().size(), 7u);
}

TEST(frmFXOpts, LoadingRoundsTheSingleProductByTenHalvesToEven) {
    DefaultChain chain;
    chain.dsp.setEchoAmp(0.25f);                // 2.5 -> 2
    chain.dsp.setPhaseShiftDry(0.35f);          // 0.35f * 10.0f is the single 3.5 -> 4
    chain.dsp.setPhaseShiftWet(-0.35f);         // -> -4
    chain.dsp.setPhaseShiftFrequency(100.5f);   // -> 100
    chain.dsp.setEqualizerBandGainDB(2, 2.5f);  // slider -2.5 -> -2
    chain.dsp.setEqualizerBandGainDB(5, -3.5f); // slider 3.5 -> 4
    chain.dsp.setAmplifyDB(-12);

    frmFXOpts f;
    f.prepare(chain.dsp, nullptr);
    EXPECT_EQ(slider(f, "sldReverbAmp").value(), 2);
    EXPECT_EQ(slider(f, "sldShDry").value(), 4);
    EXPECT_EQ(slider(f, "sldShWet").value(), -4);
    EXPECT_EQ(slider(f, "sldShFreq").value(), 100);
    EXPECT_EQ(f.sldEQ()[2]->value(), -2);
    EXPECT_EQ(f.sldEQ()[5]->value(), 4);
    EXPECT_EQ(child<QLabel>(f, "lblAmplDB").text(), "-12 dB");
    // Loading alone writes nothing back.
    EXPECT_EQ(chain.dsp.EqualizerBandGainDB(2), 2.5f);
    EXPECT_EQ(chain.dsp.PhaseShiftDry(), 0.35f);
}

TEST(frmFXOpts, EverySliderWritesItsMappedValueIntoTheChain) {
    DefaultChain chain;
    frmFXOpts f;
    f.prepare(chain.dsp, nullptr);
    clsDSP& d = chain.dsp;

    struct Case {
        const char* name;
        int value;
        std::function<double()> read;
        double expected;
        const char* shown;
    };
    const std::vector<Case> cases = {
        {"sldAmplDB", -12, [&] { return d.AmplifyDB(); }, -12, nullptr},
        {"sldReverbLen", 1000, [&] { return d.EchoLength(); }, 1000, "1000 ms"},
        {"sldReverbAmp", 9, [&] { return d.EchoAmp(); }, 0.9f, "90%"},
        {"sldShDry", -10, [&] { return d.PhaseShiftDry(); }, -1.0f, "-1.0"},
        {"sldShWet", 3, [&] { return d.PhaseShiftWet(); }, 0.3f, "0.3"},
        {"sldShFb", -9, [&] { return d.PhaseShiftFeedback(); }, -0.9f, "-0.9"},
        {"sldShSwpRate", 15, [&] { return d.PhaseShiftSweepRate(); }, 1.5f, "1.5\u2009Hz"},
        {"sldShSwpRange", 33, [&] { return d.PhaseShiftSweepRange(); }, 3.3f, "3.3"},
        {"sldShFreq", -10, [&] { return d.PhaseShiftFrequency(); }, -10.0f, "-10\u2009Hz"},
    };
    for (const Case& c : cases) {
        slider(f, c.name).setValue(c.value);
        EXPECT_EQ(c.read(), c.expected) << c.name;
        if (c.shown != nullptr) {
            EXPECT_EQ(f.ValueLabel(&slider(f, c.name))->text(), c.shown) << c.name;
        }
    }
    EXPECT_EQ(child<QLabel>(f, "lblAmplDB").text(), "-12 dB");

    // A click beside the thumb pages by 5, and the chain follows.
    QSlider& amp = slider(f, "sldReverbAmp");
    amp.setValue(1);
    amp.triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(amp.value(), 6);
    EXPECT_EQ(d.EchoAmp(), 0.6f);
    amp.triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(d.EchoAmp(), 0.5f);
    EXPECT_EQ(f.ValueLabel(&amp)->text(), "50%");
}

TEST(frmFXOpts, BandSlidersAreInvertedAndTheRightButtonReturnsThemToZero) {
    DefaultChain chain;
    frmFXOpts f;
    f.prepare(chain.dsp, nullptr);
    PictureBox& curve = child<PictureBox>(f, "picEQAmp");
    QSlider& band3 = *f.sldEQ()[3];

    band3.setValue(-12);
    EXPECT_EQ(chain.dsp.EqualizerBandGainDB(3), 12.0f);
    // The fourth point rises to the top edge, in the gradient's top colour.
    EXPECT_EQ(pixel(curve, bandX(3), 0), kTop);
    EXPECT_EQ(pixel(curve, bandX(3), 11), RGB(94, 88, 66)) << "only the grid is left there";
    EXPECT_LT(channelDistance(pixel(curve, bandX(1), 11), kMiddle), 8) << "other points stay";

    releaseMouse(band3, Qt::LeftButton);
    EXPECT_EQ(band3.value(), -12) << "other buttons are ignored";
    EXPECT_EQ(chain.dsp.EqualizerBandGainDB(3), 12.0f);

    releaseMouse(band3, Qt::RightButton);
    EXPECT_EQ(band3.value(), 0);
    EXPECT_EQ(chain.dsp.EqualizerBandGainDB(3), 0.0f);
    EXPECT_EQ(pixel(curve, bandX(3), 0), kBack);
    EXPECT_LT(channelDistance(pixel(curve, bandX(3), 11), kMiddle), 8);

    // The up key moves the thumb up, which raises the band.
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(&band3, &up);
    EXPECT_EQ(band3.value(), -1);
    EXPECT_EQ(chain.dsp.EqualizerBandGainDB(3), 1.0f);

    // A cut lowers its point towards the bottom edge instead.
    f.sldEQ()[6]->setValue(12);
    EXPECT_EQ(chain.dsp.EqualizerBandGainDB(6), -12.0f);
    EXPECT_GE(lowestCurveRow(curve, bandX(6) - 1), 21);
}

TEST(frmFXOpts, FlatBandsDrawAHorizontalLineThroughTheMiddle) {
    DefaultChain chain;
    frmFXOpts f;
    f.prepare(chain.dsp, nullptr);
    PictureBox& curve = child<PictureBox>(f, "picEQAmp");
    ASSERT_EQ(curve.ScaleHeight(), 23.0f);
    ASSERT_EQ(curve.ScaleWidth(), 181.0f);

    // From the first band point to the last, row 11 holds the curve and its neighbours
    // hold only background or grid.
    for (int x = bandX(0) + 1; x < bandX(6); ++x) {
        const std::uint32_t on = pixel(curve, x, 11);
        EXPECT_LT(channelDistance(on, kMiddle), 8) << "x " << x;
        for (int y : {10, 12}) {
            const std::uint32_t off = pixel(curve, x, y);
            EXPECT_TRUE(off == kBack || off == RGB(94, 88, 66)) << "x " << x << " y " << y;
        }
    }
    EXPECT_EQ(pixel(curve, bandX(6) + 2, 11), kBack) << "nothing right of the last point";
    // The grid stands at every band point, from y 2 to H - 3.
    EXPECT_EQ(pixel(curve, bandX(4), 2), RGB(94, 88, 66));
    EXPECT_EQ(pixel(curve, bandX(4), 20), RGB(94, 88, 66));
    EXPECT_EQ(pixel(curve, bandX(4), 21), kBack);
}

TEST(frmFXOpts, TheTabStripShowsOnePageAtATime) {
    DefaultChain chain;
    frmFXOpts f;
    f.prepare(chain.dsp, nullptr);
    QTabWidget& strip = child<QTabWidget>(f, "strip");
    ASSERT_EQ(strip.count(), 4);

    const QStringList captions = {"回响", "周相移动", "均衡器", "放大器"};
    const QStringList keys = {"ECHO", "SHIFT", "EQ", "AMPL"};
    const QStringList pages = {"picReverb", "picShift", "picEQ", "picAmpl"};
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(strip.tabText(t), captions[t]);
        EXPECT_EQ(strip.widget(t)->property("key").toString(), keys[t]);
    }
    EXPECT_TRUE(child<QWidget>(f, "picReverb").isVisibleTo(&f)) << "a new window shows the first";
    for (int t : {2, 3, 1, 0}) {
        strip.setCurrentIndex(t);
        for (int p = 0; p < 4; ++p) {
            EXPECT_EQ(child<QWidget>(f, pages[p]).isVisibleTo(&f), p == t)
                << "tab " << t << " page " << p;
        }
    }
    // The selected tab stays selected for the next opening.
    strip.setCurrentIndex(2);
    f.prepare(chain.dsp, nullptr);
    EXPECT_TRUE(child<QWidget>(f, "picEQ").isVisibleTo(&f));
}

TEST(frmFXOpts, ShowExIsModalOverItsOwnerAndTheCloseButtonEndsIt) {
    DefaultChain chain;
    QWidget owner;
    owner.setGeometry(200, 150, 600, 500);
    owner.show();
    frmFXOpts f;

    bool ran = false;
    QTimer::singleShot(0, &f, [&] {
        ran = true;
        EXPECT_TRUE(f.isVisible());
        EXPECT_TRUE(f.isModal());
        EXPECT_EQ(f.parentWidget(), &owner);
        EXPECT_TRUE(f.windowFlags().testFlag(Qt::Tool)) << "a tool window, not in the taskbar";
        EXPECT_EQ(f.windowTitle(), "特效设置");
        // Centred on the owner: the client areas share their centre.
        EXPECT_LE((f.geometry().center() - owner.geometry().center()).manhattanLength(), 2);
        EXPECT_FALSE(f.isSizeGripEnabled());
        EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "fixed border";

        QPushButton& close = child<QPushButton>(f, "cmdClose");
        EXPECT_EQ(close.text(), "关闭");
        EXPECT_TRUE(close.isVisible());
        EXPECT_TRUE(f.rect().contains(close.geometry())) << "inside the client area";
        close.click();
    });
    f.ShowEx(chain.dsp, &owner);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(f.isVisible());

    // Closed, the window no longer holds the chain: nothing reaches it.
    slider(f, "sldReverbLen").setValue(500);
    EXPECT_EQ(chain.dsp.EchoLength(), 100);
}

TEST(frmFXOpts, EveryCaptionFitsItsControl) {
    DefaultChain chain;
    const float gains[] = {6.0f, 9.0f, 3.0f, 0.0f, -4.0f, -2.0f, 5.0f};
    for (int b = 0; b < 7; ++b) {
        chain.dsp.setEqualizerBandGainDB(b, gains[b]);
    }
    // Owned by a window with a style sheet, as the main window has one: the captions keep
    // the window's font.
    QWidget owner;
    owner.setStyleSheet("QGroupBox { margin-top: 6px; }");
    frmFXOpts f(&owner);
    f.prepare(chain.dsp, &owner);
    QTabWidget& strip = child<QTabWidget>(f, "strip");
    const char* shots[] = {"echo", "shift", "eq", "ampl"};
    for (int t = 0; t < 4; ++t) {
        strip.setCurrentIndex(t);
        f.show();
        QApplication::processEvents();
        // With VOCARN_SCREENSHOT_DIR set, each page is saved for a look by eye.
        if (const char* dir = std::getenv("VOCARN_SCREENSHOT_DIR")) {
            f.grab().save(QString("%1/effects-%2.png").arg(dir, shots[t]));
        }
        for (QLabel* l : f.findChildren<QLabel*>()) {
            if (!l->isVisibleTo(&f)) {
                continue;
            }
            EXPECT_EQ(l->font(), f.font()) << l->objectName().toStdString();
            const QSize need = l->sizeHint();
            EXPECT_LE(need.width(), l->width()) << l->objectName().toStdString();
            EXPECT_LE(need.height(), l->height()) << l->objectName().toStdString();
            EXPECT_TRUE(l->parentWidget()->rect().contains(l->geometry()))
                << l->objectName().toStdString();
        }
        for (QSlider* s : f.findChildren<QSlider*>()) {
            if (s->isVisibleTo(&f)) {
                EXPECT_TRUE(s->parentWidget()->rect().contains(s->geometry()))
                    << s->objectName().toStdString();
            }
        }
        // The value labels, at their widest values, cover no other control of their page.
        for (QSlider* s : f.findChildren<QSlider*>()) {
            QLabel* value = f.ValueLabel(s);
            if (!s->isVisibleTo(&f) || value == nullptr) {
                continue;
            }
            const int keep = s->value();
            for (int v : {s->minimum(), s->maximum()}) {
                s->setValue(v);
                ASSERT_TRUE(value->isVisibleTo(&f)) << s->objectName().toStdString();
                EXPECT_LE(value->sizeHint().width(), value->width()) << v;
                EXPECT_TRUE(value->parentWidget()->rect().contains(value->geometry()))
                    << value->objectName().toStdString() << " at " << v;
                for (QWidget* other : value->parentWidget()->findChildren<QWidget*>()) {
                    if (other != value && other->isVisibleTo(&f) &&
                        other->parentWidget() == value->parentWidget()) {
                        EXPECT_FALSE(other->geometry().intersects(value->geometry()))
                            << value->objectName().toStdString() << " at " << v << " covers "
                            << other->objectName().toStdString();
                    }
                }
            }
            s->setValue(keep);
        }
    }
    QPushButton& close = child<QPushButton>(f, "cmdClose");
    EXPECT_LE(close.sizeHint().width(), close.width());
    f.hide();
}
