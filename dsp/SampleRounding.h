#pragma once

#include <cstdint>

// Real-to-integer conversions of the effects, rounding halves to even as the default
// floating-point rounding mode does. They avoid library calls so that the per-sample loops
// stay tight and can be vectorised.
namespace sample_rounding {

// Nearest integer, halves to even, for |v| < 2^51: adding and removing 1.5 * 2^52 leaves
// a double whose unit in the last place is 1, so the addition itself does the rounding.
inline double roundHalfEven(double v) {
    constexpr double shifter = 6755399441055744.0;
    return (v + shifter) - shifter;
}

// Clips to the 16-bit range: above 32767 gives 32767, below -32768 gives -32768, anything
// else the nearest integer (halves to even). NaN gives 0.
inline std::int16_t clip16(double v) {
    if (v > 32767.0) {
        return 32767;
    }
    if (v < -32768.0) {
        return -32768;
    }
    if (v != v) {
        return 0;
    }
    return static_cast<std::int16_t>(roundHalfEven(v));
}

} // namespace sample_rounding
