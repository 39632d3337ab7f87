#include "display/modDraw.h"

#include <cmath>

namespace modDraw {

namespace {

struct Components {
    std::int32_t r, g, b;
};

// Splits with signed integer division truncating toward zero, so a colour above
// 0x7FFFFFFF (a negative 32-bit value) is split by the same rule as any other.
Components split(std::uint32_t colour) {
    const auto c = static_cast<std::int32_t>(colour);
    return {c & 255, (c / 256) & 255, (c / 65536) & 255};
}

std::int32_t blend(std::int32_t from, std::int32_t to, float half, float t) {
    const auto v = static_cast<float>(static_cast<double>(from) + static_cast<double>(to - from) /
                                                                      static_cast<double>(half) *
                                                                      static_cast<double>(t));
    // A zero range divides by zero; such a component becomes 0 rather than undefined.
    if (!(std::fabs(v) < 2147483520.0f)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::nearbyint(v));
}

} // namespace

std::uint32_t GradientColor(float range, float value, std::uint32_t colour1, std::uint32_t colour2,
                            std::uint32_t colour3) {
    const float half = range / 2.0f;
    Components from, to;
    float t;
    if (value < half) {
        from = split(colour1);
        to = split(colour2);
        t = value;
    } else {
        from = split(colour2);
        to = split(colour3);
        t = value - half;
    }
    const std::int64_t r = blend(from.r, to.r, half, t);
    const std::int64_t g = blend(from.g, to.g, half, t);
    const std::int64_t b = blend(from.b, to.b, half, t);
    return static_cast<std::uint32_t>(r + 256 * g + 65536 * b);
}

} // namespace modDraw
