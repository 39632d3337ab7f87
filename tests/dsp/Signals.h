#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// Uniform random 16-bit samples in -amplitude - 1 ... amplitude, the same for the same seed.
inline std::vector<std::int16_t> noise(std::size_t n, std::uint32_t seed, int amplitude = 32767) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude - 1, amplitude);
    std::vector<std::int16_t> v(n);
    for (auto& s : v) {
        s = static_cast<std::int16_t>(d(rng));
    }
    return v;
}
