#pragma once

#include <cstdint>

// Colour helpers of the displays. Colours are 0x00BBGGRR values.
namespace modDraw {

// The colour of value on 0 .. range along a three-stop gradient: colour1 at 0, colour2 at
// range / 2, colour3 at range, each component interpolated linearly (computed in double,
// stored as single, rounded halves to even). Values outside the range extrapolate.
std::uint32_t GradientColor(float range, float value, std::uint32_t colour1, std::uint32_t colour2,
                            std::uint32_t colour3);

// RGB(r, g, b) = r + 256 g + 65536 b.
constexpr std::uint32_t RGB(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return r + 256u * g + 65536u * b;
}

} // namespace modDraw
