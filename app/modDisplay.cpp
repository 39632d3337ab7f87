#include "app/modDisplay.h"

#include "display/PictureBox.h"
#include "display/clsDraw.h"
#include "display/modDraw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace modDisplay {

namespace {

constexpr double kKB = 1024.0;
constexpr double kMB = 1024.0 * 1024.0;
constexpr double kGB = 1024.0 * 1024.0 * 1024.0;

// The number of places after the decimal point of a pattern such as "###0.0".
int decimalsOf(const QString& format, int fallback) {
    if (format.isEmpty()) {
        return fallback;
    }
    const qsizetype point = format.indexOf(u'.');
    return point < 0 ? 0 : static_cast<int>(format.size() - point - 1);
}

// v with `decimals` places, the last one rounded halves away from zero, no separators.
QString fixed(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return QString::number(std::round(v * scale) / scale, 'f', decimals);
}

// The largest magnitude among count values Stride apart from first.
template <std::size_t Stride>
std::int32_t peakEvery(const std::int16_t* first, std::size_t count) {
    std::int32_t peak = 0;
    for (std::size_t k = 0; k < count; ++k) {
        peak = std::max(peak, std::abs(static_cast<std::int32_t>(first[k * Stride])));
    }
    return peak;
}

} // namespace

std::int32_t GetPeak(std::span<const std::int16_t> block, std::int32_t start, std::int32_t step) {
    if (start < 0) {
        start = 0;
    }
    const std::size_t first = static_cast<std::size_t>(start);
    if (first >= block.size()) {
        return 0;
    }
    const std::size_t stride = static_cast<std::size_t>(std::max(step, std::int32_t{1}));
    const std::size_t count = (block.size() - first + stride - 1) / stride;
    // Mono and stereo blocks, the display's every tick, with the step known to the compiler.
    if (stride == 1) {
        return peakEvery<1>(block.data() + first, count);
    }
    if (stride == 2) {
        return peakEvery<2>(block.data() + first, count);
    }
    std::int32_t peak = 0;
    for (std::size_t i = first; i < block.size(); i += stride) {
        peak = std::max(peak, std::abs(static_cast<std::int32_t>(block[i])));
    }
    return peak;
}

QString FormatSize(double size, const QString& format) {
    if (!(size >= 0.0)) {
        return {};
    }
    if (size < kKB) {
        // General number form: whole numbers without decimals.
        return QString::number(size, 'g', 15) + QStringLiteral(" bytes");
    }
    if (size < kMB) {
        return fixed(size / kKB, decimalsOf(format, 0)) + QStringLiteral(" KB");
    }
    if (size < kGB) {
        return fixed(size / kMB, decimalsOf(format, 1)) + QStringLiteral(" MB");
    }
    return fixed(size / kGB, decimalsOf(format, 1)) + QStringLiteral(" GB");
}

QString FormatTime(std::int32_t ms) {
    const auto s = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(ms) / 1000.0));
    return QString::number(s / 60) + u':' +
           QStringLiteral("%1").arg(std::llabs(s % 60), 2, 10, QChar(u'0'));
}

std::uint32_t VUColor(float level) {
    return modDraw::GradientColor(1.0f, level, modDraw::RGB(0, 255, 0), modDraw::RGB(225, 168, 34),
                                  modDraw::RGB(255, 0, 0));
}

void DrawVU(clsDraw& vis, PictureBox& box, float level) {
    const std::uint32_t colour = VUColor(level);
    box.Cls();
    const auto right = static_cast<std::int32_t>(
        std::nearbyint(static_cast<double>(level) * static_cast<double>(box.ScaleWidth())));
    const auto bottom = static_cast<std::int32_t>(std::nearbyint(box.ScaleHeight()));
    vis.DrawRect(box.hDC(), 0, 0, right, bottom, colour);
}

void DrawClipMark(clsDraw& vis, PictureBox& box) {
    const auto width = static_cast<std::int32_t>(std::nearbyint(box.ScaleWidth()));
    const auto bottom = static_cast<std::int32_t>(std::nearbyint(box.ScaleHeight()));
    const std::int32_t mark = std::max(3, width / 16);
    vis.DrawRect(box.hDC(), width - mark, 0, width, bottom, VUColor(1.0f));
}

} // namespace modDisplay
