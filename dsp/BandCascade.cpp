#include "dsp/BandCascade.h"

#include <cstdint>
#include <span>

void BandCascade::load(const Section* sections, int count) {
    count_ = count;
    for (int k = 0; k < kLanes; ++k) {
        if (k < count) {
            const Section& s = sections[k];
            b0_[k] = s.b0;
            b1_[k] = s.b1;
            b2_[k] = s.b2;
            a1_[k] = s.a1;
            a2_[k] = s.a2;
            x1_[k] = s.x1;
            x2_[k] = s.x2;
            y1_[k] = s.y1;
            y2_[k] = s.y2;
        } else {
            // Lanes without a filter pass their input through and stay finite.
            b0_[k] = 1.0;
            b1_[k] = b2_[k] = a1_[k] = a2_[k] = 0.0;
            x1_[k] = x2_[k] = y1_[k] = y2_[k] = 0.0;
        }
    }
    for (Ints& r : ring_) {
        r = Ints{};
    }
}

void BandCascade::store(Section* sections) const {
    for (int k = 0; k < count_; ++k) {
        sections[k].x1 = x1_[k];
        sections[k].x2 = x2_[k];
        sections[k].y1 = y1_[k];
        sections[k].y2 = y2_[k];
    }
}

bool BandCascade::available() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool wide =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
    return wide;
#else
    return true;
#endif
}

namespace {

struct PassThrough {
    std::int16_t operator()(std::int16_t s) const { return s; }
};

} // namespace

void BandCascade::process(std::span<std::int16_t> samples) {
    PassThrough none;
    process(samples, none);
}
