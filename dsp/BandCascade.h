#pragma once

#include "dsp/IIRFilter.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The vector code is built for the wide registers and masks of AVX-512 on x86-64, where it
// is used only when the processor has them (BandCascade::available()); elsewhere the
// compiler's generic vectors serve.
#if defined(__x86_64__) && defined(__GNUC__)
#define VOCARN_CASCADE_TARGET __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
#else
#define VOCARN_CASCADE_TARGET
#endif

// Up to eight 16-bit biquad filters in series, computed side by side: filter k sits in
// vector lane k and, at step t, works on sample t - k * kSkew. The filters of one step are
// then independent and run as one vector operation, while each filter still sees its
// samples in order and takes the previous filter's rounded and clipped output, kSkew steps
// after that output was made. The results are bit for bit those of running the filters one
// after the other over the whole block, with the arithmetic of IIRFilter::Section.
//
// process() takes an optional per-sample stage that runs on each sample just before the
// first filter (so a serial effect and the filters share one loop); its output is what the
// first filter sees.
class BandCascade {
public:
    static constexpr int kLanes = 8;
    static constexpr int kSkew = 4;

    using Section = IIRFilter::Section;

    // Whether this processor runs the vector code.
    static bool available();

    // Takes 1 to kLanes filters' coefficients and history.
    void load(const Section* sections, int count);
    // Gives the history back.
    void store(Section* sections) const;

    void process(std::span<std::int16_t> samples);

    // Stage: a callable std::int16_t(std::int16_t), run once per sample in order.
    template <typename Stage>
    VOCARN_CASCADE_TARGET void process(std::span<std::int16_t> samples, Stage& stage);

private:
    typedef double Doubles __attribute__((vector_size(kLanes * sizeof(double))));
    typedef float Floats __attribute__((vector_size(kLanes * sizeof(float))));
    typedef std::int32_t Ints __attribute__((vector_size(kLanes * sizeof(std::int32_t))));
    typedef std::int64_t Mask __attribute__((vector_size(kLanes * sizeof(std::int64_t))));

    template <bool Masked>
    VOCARN_CASCADE_TARGET std::int32_t step(std::int32_t input, std::ptrdiff_t t,
                                            const Mask& active);
    template <typename Stage>
    VOCARN_CASCADE_TARGET void maskedStep(std::int16_t* v, std::ptrdiff_t length, std::ptrdiff_t t,
                                          Stage& stage);

    Doubles b0_{}, b1_{}, b2_{}, a1_{}, a2_{};
    Doubles x1_{}, x2_{}, y1_{}, y2_{};
    // The outputs of the last kSkew steps, slot t % kSkew for step t.
    Ints ring_[kSkew]{};
    int count_ = 0;
};

template <bool Masked>
inline __attribute__((always_inline)) VOCARN_CASCADE_TARGET std::int32_t
BandCascade::step(std::int32_t input, std::ptrdiff_t t, const Mask& active) {
    Ints& slot = ring_[t % kSkew];
    // Lane k takes lane k - 1's output of kSkew steps ago; lane 0 takes the new sample.
    Ints in = __builtin_shufflevector(slot, slot, 0, 0, 1, 2, 3, 4, 5, 6);
    in[0] = input;
    const Doubles x = __builtin_convertvector(in, Doubles) / 32767.0;
    const Doubles xSingle = __builtin_convertvector(__builtin_convertvector(x, Floats), Doubles);
    const Doubles sum = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
    const Doubles y = __builtin_convertvector(__builtin_convertvector(sum, Floats), Doubles);
    if constexpr (Masked) {
        x2_ = active ? x1_ : x2_;
        x1_ = active ? xSingle : x1_;
        y2_ = active ? y1_ : y2_;
        y1_ = active ? y : y1_;
    } else {
        x2_ = x1_;
        x1_ = xSingle;
        y2_ = y1_;
        y1_ = y;
    }
    // Clip to the 16-bit range, NaN to 0, otherwise round halves to even (adding and
    // removing 1.5 * 2^52 leaves no fraction).
    const Doubles zero = {};
    Doubles scaled = y * 32767.0;
    scaled = y > 1.0 ? zero + 32767.0 : scaled;
    scaled = y < -1.0 ? zero - 32768.0 : scaled;
    scaled = y == y ? scaled : zero;
    scaled = (scaled + 6755399441055744.0) - 6755399441055744.0;
    slot = __builtin_convertvector(scaled, Ints);
    return slot[count_ - 1];
}

// A step where some filter has no sample: only the lanes that have one move on.
template <typename Stage>
inline VOCARN_CASCADE_TARGET void BandCascade::maskedStep(std::int16_t* v, std::ptrdiff_t length,
                                                          std::ptrdiff_t t, Stage& stage) {
    Mask active;
    for (int k = 0; k < kLanes; ++k) {
        const std::ptrdiff_t n = t - static_cast<std::ptrdiff_t>(k) * kSkew;
        active[k] = (k < count_ && n >= 0 && n < length) ? -1 : 0;
    }
    const std::int32_t input = t < length ? stage(v[t]) : 0;
    const std::int32_t out = step<true>(input, t, active);
    const std::ptrdiff_t n = t - static_cast<std::ptrdiff_t>(count_ - 1) * kSkew;
    if (n >= 0 && n < length) {
        v[n] = static_cast<std::int16_t>(out);
    }
}

template <typename Stage>
VOCARN_CASCADE_TARGET void BandCascade::process(std::span<std::int16_t> samples, Stage& stage) {
    const std::ptrdiff_t length = static_cast<std::ptrdiff_t>(samples.size());
    if (length == 0) {
        return;
    }
    std::int16_t* v = samples.data();
    const std::ptrdiff_t delay = static_cast<std::ptrdiff_t>(count_ - 1) * kSkew;
    const std::ptrdiff_t steps = length + delay;

    std::ptrdiff_t t = 0;
    for (; t < delay && t < steps; ++t) {
        maskedStep(v, length, t, stage);
    }
    const Mask all = {};
    for (; t < length; ++t) {
        v[t - delay] = static_cast<std::int16_t>(step<false>(stage(v[t]), t, all));
    }
    for (; t < steps; ++t) {
        maskedStep(v, length, t, stage);
    }
}
