#include "dsp/BandCascade.h"

#include <cstdint>
#include <span>

void BandCascade::load(const Section* sections, int count) {
    count_ = count;
    for (int k = 0; k < kLanes; ++k) {
        Half& h = half_[k / kHalf];
        const int i = k % kHalf;
        if (k < count) {
            const Section& s = sections[k];
            h.b0[i] = s.b0;
            h.b1[i] = s.b1;
            h.b2[i] = s.b2;
            h.a1[i] = s.a1;
            h.a2[i] = s.a2;
            h.x1[i] = s.x1;
            h.x2[i] = s.x2;
            h.y1[i] = s.y1;
            h.y2[i] = s.y2;
        } else {
            // Lanes without a filter pass their input through and stay finite.
            h.b0[i] = 1.0;
            h.b1[i] = h.b2[i] = h.a1[i] = h.a2[i] = 0.0;
            h.x1[i] = h.x2[i] = h.y1[i] = h.y2[i] = 0.0;
        }
    }
    for (auto& slot : ring_) {
        slot[0] = Ints{};
        slot[1] = Ints{};
    }
}

void BandCascade::store(Section* sections) const {
    for (int k = 0; k < count_; ++k) {
        const Half& h = half_[k / kHalf];
        const int i = k % kHalf;
        sections[k].x1 = h.x1[i];
        sections[k].x2 = h.x2[i];
        sections[k].y1 = h.y1[i];
        sections[k].y2 = h.y2[i];
    }
}

void BandCascade::load(std::span<const IIRFilter> filters) {
    Section sections[kLanes];
    const int n = static_cast<int>(filters.size());
    for (int k = 0; k < n; ++k) {
        sections[k] = filters[static_cast<std::size_t>(k)].section();
    }
    load(sections, n);
}

void BandCascade::store(std::span<IIRFilter> filters) const {
    Section sections[kLanes];
    store(sections);
    for (int k = 0; k < count_; ++k) {
        filters[static_cast<std::size_t>(k)].store(sections[k]);
    }
}

bool BandCascade::available() {
#if defined(VOCARN_PLAIN_DSP)
    return false;
#elif defined(__x86_64__) && defined(__GNUC__)
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

void BandCascade::processEverySecond(std::int16_t* first, std::ptrdiff_t length) {
    PassThrough none;
    process<2>(first, length, none);
}
