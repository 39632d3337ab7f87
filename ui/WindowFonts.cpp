#include "ui/WindowFonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace WindowFonts {

namespace {

QFont Installed(QFont font, const QStringList& families, double pointSize) {
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : families) {
        if (installed.contains(family)) {
            font.setFamilies({family});
            break;
        }
    }
    font.setPointSizeF(pointSize);
    return font;
}

} // namespace

QFont Window(const QFont& base) {
    static const QStringList families = {
        QStringLiteral("Tahoma"), QStringLiteral("Noto Sans CJK SC"),
        QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Source Han Sans SC"),
        QStringLiteral("Droid Sans Fallback")};
    return Installed(base, families, 8.25);
}

QFont Button(const QFont& base) {
    static const QStringList families = {
        QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
        QStringLiteral("Source Han Serif SC")};
    return Installed(base, families, 10.5);
}

} // namespace WindowFonts
