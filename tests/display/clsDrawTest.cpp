#include "display/clsDraw.h"
#include "display/PictureBox.h"
#include "display/modDraw.h"

#include "EventPump.h"

#include <QEvent>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using modDraw::RGB;

std::uint32_t pixel(PictureBox& box, int x, int y) {
    const QRgb p = box.image().pixel(x, y);
    return RGB(static_cast<std::uint32_t>(qRed(p)), static_cast<std::uint32_t>(qGreen(p)),
               static_cast<std::uint32_t>(qBlue(p)));
}

std::vector<std::int16_t> sineAtBin(std::size_t n, double bin, double amplitude) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::int16_t>(
            std::lrint(amplitude * std::sin(2.0 * M_PI * bin * static_cast<double>(i) / 1024.0)));
    }
    return v;
}

constexpr std::uint32_t kGreen = RGB(0, 255, 0);
constexpr std::uint32_t kAmber = RGB(225, 168, 34);
constexpr std::uint32_t kRed = RGB(255, 0, 0);

} // namespace

TEST(PictureBox, ClearsToBackgroundKeepsDrawingsAndUsesTheForegroundAsPen) {
    PictureBox box;
    box.resize(20, 10);
    EXPECT_EQ(box.ScaleWidth(), 20.0f);
    EXPECT_EQ(box.ScaleHeight(), 10.0f);
    box.setBackColor(RGB(1, 2, 3));
    box.Cls();
    EXPECT_EQ(pixel(box, 19, 9), RGB(1, 2, 3));

    box.setForeColor(RGB(200, 100, 0));
    DeviceContext& dc = box.hDC();
    dc.MoveToEx(0, 0);
    dc.LineTo(5, 0);
    EXPECT_EQ(pixel(box, 0, 0), RGB(200, 100, 0));
    EXPECT_EQ(pixel(box, 4, 0), RGB(200, 100, 0));
    EXPECT_EQ(pixel(box, 5, 0), RGB(1, 2, 3)) << "a line leaves out its end point";
    EXPECT_EQ(dc.penX(), 5);

    box.resize(30, 12);
    EXPECT_EQ(pixel(box, 2, 0), RGB(200, 100, 0)) << "drawings survive a resize";
    EXPECT_EQ(pixel(box, 29, 11), RGB(1, 2, 3));
}

TEST(clsDrawRect, FillsWithExclusiveRightAndBottomEdges) {
    PictureBox box;
    box.resize(10, 10);
    box.Cls();
    clsDraw draw;
    draw.DrawRect(box.hDC(), 2, 3, 2, 8, RGB(9, 9, 9));
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            ASSERT_EQ(pixel(box, x, y), 0u) << "right = left fills nothing";
        }
    }
    draw.DrawRect(box.hDC(), 2, 3, 5, 6, RGB(9, 8, 7));
    EXPECT_EQ(pixel(box, 2, 3), RGB(9, 8, 7));
    EXPECT_EQ(pixel(box, 4, 5), RGB(9, 8, 7));
    EXPECT_EQ(pixel(box, 5, 5), 0u);
    EXPECT_EQ(pixel(box, 4, 6), 0u);
    EXPECT_EQ(pixel(box, 1, 3), 0u);
    // Clipped at the edges of the box.
    draw.DrawRect(box.hDC(), -5, -5, 100, 1, RGB(1, 1, 1));
    EXPECT_EQ(pixel(box, 9, 0), RGB(1, 1, 1));
}

TEST(modDrawGradient, StopsAndHalvesToEven) {
    EXPECT_EQ(modDraw::GradientColor(1.0f, 0.0f, kGreen, kAmber, kRed), kGreen);
    EXPECT_EQ(modDraw::GradientColor(1.0f, 0.5f, kGreen, kAmber, kRed), kAmber);
    EXPECT_EQ(modDraw::GradientColor(1.0f, 1.0f, kGreen, kAmber, kRed), kRed);
    // A quarter: red 112.5 -> 112, green 211.5 -> 212, blue 17.
    EXPECT_EQ(modDraw::GradientColor(1.0f, 0.25f, kGreen, kAmber, kRed), RGB(112, 212, 17));
    // On a range of 23 (the equaliser curve's height).
    EXPECT_EQ(
        modDraw::GradientColor(23.0f, 23.0f, RGB(188, 34, 1), RGB(225, 168, 34), RGB(0, 204, 0)),
        RGB(0, 204, 0));
}

TEST(clsDrawFrequencies, BarColourRunsFromRedToYellow) {
    EXPECT_EQ(clsDraw::BarColor(0.5), RGB(255, 128, 50));
    EXPECT_EQ(clsDraw::BarColor(0.0), RGB(255, 0, 50));
    EXPECT_EQ(clsDraw::BarColor(1.0), RGB(255, 255, 50));
}

TEST(clsDrawFrequencies, NeedsAtLeast1024Samples) {
    PictureBox box;
    box.resize(151, 30);
    box.setBackColor(RGB(0, 0, 90));
    clsDraw draw;
    const auto loud = sineAtBin(1023, 2.0, 32767.0);
    draw.DrawFrequencies(loud, box);
    for (int b = 0; b < clsDraw::kBands; ++b) {
        EXPECT_EQ(draw.BandLevel(b), 0.0);
    }
    EXPECT_EQ(pixel(box, 5, 20), RGB(0, 0, 90)) << "nothing drawn";

    const auto enough = sineAtBin(1024, 2.0, 32767.0);
    draw.DrawFrequencies(enough, box);
    EXPECT_EQ(pixel(box, 5, 20), RGB(255, 255, 50));
}

TEST(clsDrawFrequencies, FullScaleToneFillsBandZeroAndCarriesIntoTheNextBands) {
    PictureBox box;
    box.resize(151, 30);
    clsDraw draw;
    const auto tone = sineAtBin(4410, 2.0, 32767.0);
    draw.DrawFrequencies(tone, box);
    EXPECT_EQ(draw.BandLevel(0), 1.0);
    EXPECT_NEAR(draw.BandLevel(1), 0.53, 0.02);
    EXPECT_NEAR(draw.BandLevel(2), 0.24, 0.02);
    EXPECT_LT(draw.BandLevel(21), 0.01);

    // Bar 0 at full scale: x 4..6, rows 2 .. H - 3, the brightest colour.
    EXPECT_EQ(pixel(box, 4, 2), RGB(255, 255, 50));
    EXPECT_EQ(pixel(box, 6, 27), RGB(255, 255, 50));
    EXPECT_EQ(pixel(box, 7, 10), 0u) << "one pixel gap";
    EXPECT_EQ(pixel(box, 4, 28), 0u);
    EXPECT_EQ(pixel(box, 4, 1), 0u);
    // Bar 1 at about 0.53: top = round(30 - 30 * level) - 2.
    const double l1 = draw.BandLevel(1);
    const int top1 = static_cast<int>(std::nearbyint(30.0 - 30.0 * l1)) - 2;
    EXPECT_EQ(pixel(box, 8, top1), clsDraw::BarColor(l1));
    EXPECT_EQ(pixel(box, 8, top1 - 1), 0u);
}

TEST(clsDrawFrequencies, BarsFallBySevenHundredthsPerCallAfterSilence) {
    PictureBox box;
    box.resize(151, 30);
    clsDraw draw;
    draw.DrawFrequencies(sineAtBin(1024, 2.0, 32767.0), box);
    ASSERT_EQ(draw.BandLevel(0), 1.0);
    const std::vector<std::int16_t> silence(1024, 0);
    double expected = 1.0;
    for (int call = 1; call <= 15; ++call) {
        draw.DrawFrequencies(silence, box);
        expected = std::max(0.0, expected - 0.07);
        ASSERT_NEAR(draw.BandLevel(0), expected, 1e-12) << "call " << call;
        const int t = std::min(30, static_cast<int>(std::nearbyint(30.0 - 30.0 * expected)));
        const int top = std::max(2, t - 2);
        if (top < 28) {
            EXPECT_EQ(pixel(box, 5, top), clsDraw::BarColor(expected)) << "call " << call;
        }
        if (top > 2) {
            EXPECT_EQ(pixel(box, 5, top - 1), 0u) << "call " << call;
        }
    }
    EXPECT_EQ(draw.BandLevel(0), 0.0);
    EXPECT_EQ(pixel(box, 5, 27), 0u) << "an empty bar draws nothing";
}

TEST(clsDrawAmplitudes, BlackBoxWithTheColumnMeansAroundTheMiddle) {
    PictureBox box;
    box.resize(159, 30);
    box.setBackColor(RGB(255, 255, 255));
    box.Cls();
    clsDraw draw;
    // 1590 samples: 10 per column; first half full scale, second half negative full scale.
    std::vector<std::int16_t> block(1590, 32767);
    for (std::size_t i = 795; i < block.size(); ++i) {
        block[i] = -32768;
    }
    draw.DrawAmplitudes(block, box);
    const std::uint32_t white = RGB(255, 255, 255), black = 0;
    // mid 15, amplitude 13: +1 plots at row 28, -1 at row 2.
    EXPECT_EQ(pixel(box, 30, 28), white);
    EXPECT_EQ(pixel(box, 30, 15), black) << "the fill wipes what was there";
    EXPECT_EQ(pixel(box, 120, 2), white);
    EXPECT_EQ(pixel(box, 120, 28), black);
    // Column 80 straddles the halves (mean about 0); the trace ends at the middle.
    EXPECT_EQ(pixel(box, 80, 15), white);
    EXPECT_EQ(pixel(box, 79, 22), white);
    EXPECT_EQ(pixel(box, 157, 15), white);
    EXPECT_EQ(pixel(box, 0, 0), black);
    EXPECT_EQ(pixel(box, 158, 29), black);

    // Under half a sample per column: every span is empty and plots at the middle.
    const std::vector<std::int16_t> few(50, 30000);
    draw.DrawAmplitudes(few, box);
    EXPECT_EQ(pixel(box, 40, 15), white);
    EXPECT_EQ(pixel(box, 40, 28), black);
}

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

TEST(PictureBox, EveryDrawingReachesTheScreenAlsoAfterTheBoxWasHidden) {
    PictureBox box;
    box.resize(20, 10);
    PaintCounter counter;
    box.installEventFilter(&counter);
    box.show();
    ASSERT_TRUE(PumpUntil([&] { return counter.paints > 0; }));
    DeviceContext& dc = box.hDC();
    for (int round = 0; round < 3; ++round) {
        counter.paints = 0;
        // Several drawings before the event loop runs share one repaint.
        dc.FillRect(0, 0, 5, 5, RGB(255, 0, 0));
        dc.FillRect(5, 5, 10, 10, RGB(0, 0, 255));
        ASSERT_TRUE(PumpUntil([&] { return counter.paints > 0; })) << "round " << round;
    }
    // Drawn while hidden, then shown: painted, and later drawings are painted too.
    box.hide();
    dc.FillRect(0, 0, 20, 10, RGB(0, 255, 0));
    box.show();
    ASSERT_TRUE(PumpUntil([&] { return counter.paints > 0; }));
    counter.paints = 0;
    dc.FillRect(0, 0, 2, 2, RGB(255, 0, 0));
    EXPECT_TRUE(PumpUntil([&] { return counter.paints > 0; }));
}

// The same samples drawn again leave the boxes as they are; what anything else drew into a
// box in between is drawn over again.
TEST(clsDrawRepeats, SameSamplesRedrawABoxThatWasDrawnInto) {
    PictureBox amplitudes, spectrum;
    amplitudes.resize(159, 30);
    spectrum.resize(151, 30);
    clsDraw draw;
    const std::vector<std::int16_t> tone = sineAtBin(5120, 40.0, 20000.0);
    draw.DrawAmplitudes(tone, amplitudes);
    draw.DrawFrequencies(tone, spectrum);
    const QImage trace = amplitudes.image().copy();
    const QImage bars = spectrum.image().copy();
    draw.DrawAmplitudes(tone, amplitudes);
    draw.DrawFrequencies(tone, spectrum); // steady levels: the same bars
    EXPECT_EQ(amplitudes.image(), trace);
    EXPECT_EQ(spectrum.image(), bars);

    amplitudes.Cls();
    spectrum.Cls();
    ASSERT_NE(amplitudes.image(), trace);
    ASSERT_NE(spectrum.image(), bars);
    draw.DrawAmplitudes(tone, amplitudes);
    draw.DrawFrequencies(tone, spectrum);
    EXPECT_EQ(amplitudes.image(), trace);
    EXPECT_EQ(spectrum.image(), bars);

    // The same samples into another box of the same size draw there as well.
    PictureBox other;
    other.resize(159, 30);
    draw.DrawAmplitudes(tone, other);
    EXPECT_EQ(other.image(), trace);
}

TEST(clsDrawRepeats, OneChangedSampleGivesItsOwnSpectrum) {
    PictureBox box, freshBox;
    box.resize(151, 30);
    freshBox.resize(151, 30);
    clsDraw draw, fresh;
    const std::vector<std::int16_t> quiet(1024, 0);
    draw.DrawFrequencies(quiet, box);
    std::vector<std::int16_t> click = quiet;
    click[600] = 32767;
    // After silence every level is 0, so both show the click's own levels.
    draw.DrawFrequencies(click, box);
    fresh.DrawFrequencies(click, freshBox);
    ASSERT_GT(fresh.BandLevel(21), 0.0);
    for (std::int32_t b = 0; b < clsDraw::kBands; ++b) {
        EXPECT_EQ(draw.BandLevel(b), fresh.BandLevel(b)) << "band " << b;
    }
    EXPECT_EQ(box.image(), freshBox.image());
}
