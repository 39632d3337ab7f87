#include "resources/ProgramIcon.h"

#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

namespace {

TEST(ProgramIcon, IsBuiltInEveryThemeSize) {
    EXPECT_EQ(ProgramIcon::sizes(), (QList<int>{16, 22, 24, 32, 48, 64, 128, 256}));
    const QIcon icon = ProgramIcon::icon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : ProgramIcon::sizes()) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        const QImage image = QImage(QStringLiteral(":/icons/%1x%1/vocarn.png").arg(size));
        EXPECT_EQ(image.size(), QSize(size, size)) << size;
    }
}

TEST(ProgramIcon, ShowsAWhiteMicrophoneOnARedTileEvenAt16Pixels) {
    const QImage small = ProgramIcon::icon().pixmap(QSize(16, 16)).toImage();
    ASSERT_EQ(small.size(), QSize(16, 16));
    const QColor capsule = small.pixelColor(7, 4);
    EXPECT_GT(capsule.red(), 240);
    EXPECT_GT(capsule.green(), 240);
    EXPECT_GT(capsule.blue(), 240);
    const QColor tile = small.pixelColor(2, 11);
    EXPECT_GT(tile.red(), 150);
    EXPECT_LT(tile.green(), 100);
    EXPECT_EQ(tile.alpha(), 255);
    EXPECT_EQ(small.pixelColor(0, 0).alpha(), 0) << "rounded corners";
}

} // namespace
