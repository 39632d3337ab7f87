#include "app/modDisplay.h"
#include "display/PictureBox.h"
#include "display/clsDraw.h"
#include "display/modDraw.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

QString size(double bytes, const char* format = "") {
    return modDisplay::FormatSize(bytes, QString::fromLatin1(format));
}

TEST(FormatSize, EachRangeHasItsUnitAndDecimals) {
    EXPECT_EQ(size(-1), QString());
    EXPECT_EQ(size(0), QStringLiteral("0 bytes"));
    EXPECT_EQ(size(1023), QStringLiteral("1023 bytes"));
    EXPECT_EQ(size(512.5), QStringLiteral("512.5 bytes"));
    EXPECT_EQ(size(1024), QStringLiteral("1 KB"));
    EXPECT_EQ(size(1048575), QStringLiteral("1024 KB"));
    EXPECT_EQ(size(1048576), QStringLiteral("1.0 MB"));
    EXPECT_EQ(size(1073741823), QStringLiteral("1024.0 MB"));
    EXPECT_EQ(size(1073741824), QStringLiteral("1.0 GB"));
    EXPECT_EQ(size(5.0 * 1073741824.0), QStringLiteral("5.0 GB"));
    EXPECT_EQ(size(123456789012.0), QStringLiteral("115.0 GB"));
}

// Exact halves go away from zero (halves to even would give 2 KB, 1.2 MB and 2.0 GB).
TEST(FormatSize, HalvesRoundAwayFromZero) {
    EXPECT_EQ(size(2560), QStringLiteral("3 KB"));
    EXPECT_EQ(size(1536), QStringLiteral("2 KB"));
    EXPECT_EQ(size(1310720), QStringLiteral("1.3 MB"));
    EXPECT_EQ(size(1.25 * 1073741824.0), QStringLiteral("1.3 GB"));
    EXPECT_EQ(size(2559), QStringLiteral("2 KB"));
}

TEST(FormatSize, AGivenFormatSetsTheDecimalsOfTheLargerUnits) {
    EXPECT_EQ(size(1536, "0.00"), QStringLiteral("1.50 KB"));
    EXPECT_EQ(size(1310720, "###0"), QStringLiteral("1 MB"));
    EXPECT_EQ(size(1000, "0.00"), QStringLiteral("1000 bytes"));
}

TEST(FormatTime, SecondsRoundHalvesToEven) {
    EXPECT_EQ(modDisplay::FormatTime(0), QStringLiteral("0:00"));
    EXPECT_EQ(modDisplay::FormatTime(58500), QStringLiteral("0:58"));
    EXPECT_EQ(modDisplay::FormatTime(59500), QStringLiteral("1:00"));
    EXPECT_EQ(modDisplay::FormatTime(59499), QStringLiteral("0:59"));
    EXPECT_EQ(modDisplay::FormatTime(4530000), QStringLiteral("75:30"));
    EXPECT_EQ(modDisplay::FormatTime(3600000 + 5000), QStringLiteral("60:05"));
}

TEST(GetPeak, LargestMagnitudeAmongEveryStepthSample) {
    const std::vector<std::int16_t> block = {1, -32768, 300, 32767, -5, 7};
    EXPECT_EQ(modDisplay::GetPeak(block, 0, 1), 32768);
    EXPECT_EQ(modDisplay::GetPeak(block, 0, 2), 300);
    EXPECT_EQ(modDisplay::GetPeak(block, 1, 2), 32768);
    EXPECT_EQ(modDisplay::GetPeak(block, 3, 2), 32767);
    EXPECT_EQ(modDisplay::GetPeak(block, 5, 2), 7);
    EXPECT_EQ(modDisplay::GetPeak(block, 6, 2), 0) << "start past the end";
    EXPECT_EQ(modDisplay::GetPeak({}, 0, 1), 0);
}

TEST(DrawVU, BarGrowsFromTheLeftInTheGradientColour) {
    PictureBox box;
    box.resize(262, 23);
    box.setBackColor(modDraw::RGB(10, 20, 30));
    clsDraw vis;
    const QRgb back = DeviceContext::toRgb(modDraw::RGB(10, 20, 30));

    modDisplay::DrawVU(vis, box, 0.5f);
    EXPECT_EQ(box.image().pixel(130, 0), DeviceContext::toRgb(modDraw::RGB(225, 168, 34)));
    EXPECT_EQ(box.image().pixel(130, 22), box.image().pixel(130, 0));
    EXPECT_EQ(box.image().pixel(131, 11), back) << "131 = 0.5 * 262: first pixel past the bar";

    // A lower level clears the longer bar first.
    modDisplay::DrawVU(vis, box, 0.25f);
    EXPECT_EQ(box.image().pixel(200, 11), back);
    EXPECT_EQ(box.image().pixel(65, 11), DeviceContext::toRgb(modDisplay::VUColor(0.25f)));
    EXPECT_EQ(box.image().pixel(66, 11), back) << "0.25 * 262 = 65.5 rounds to 66 columns";

    EXPECT_EQ(modDisplay::VUColor(0.0f), modDraw::RGB(0, 255, 0));
    EXPECT_EQ(modDisplay::VUColor(1.0f), modDraw::RGB(255, 0, 0));
}

} // namespace
