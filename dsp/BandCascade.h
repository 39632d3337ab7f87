#pragma once

#include "dsp/IIRFilter.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The vector code is built for AVX2 on x86-64, where it is used only when the processor
// has it (BandCascade::available()); elsewhere the compiler's generic vectors serve.
#if defined(__x86_64__) && defined(__GNUC__)
#define VOCARN_CASCADE_TARGET __attribute__((target("avx2")))
#else
#define VOCARN_CASCADE_TARGET
#endif

// Up to eight 16-bit biquad filters in series, computed side by side: filter k sits in
// lane k of two four-lane vectors and, at step t, works on sample t - k * kSkew. The filters of one
// step are then independent and run as one vector operation, while each filter still sees its
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
    // The same from and to the filters themselves.
    void load(std::span<const IIRFilter> filters);
    void store(std::span<IIRFilter> filters) const;

    void process(std::span<std::int16_t> samples);

    // Stage: a callable std::int16_t(std::int16_t), run once per sample in order.
    template <typename Stage>
    VOCARN_CASCADE_TARGET void process(std::span<std::int16_t> samples, Stage& stage) {
        process<1>(samples.data(), static_cast<std::ptrdiff_t>(samples.size()), stage);
    }

    // The same over length samples taken every Stride-th from first: one channel of an
    // interleaved block, filtered in place as a block of its samples alone would be.
    template <int Stride, typename Stage>
    VOCARN_CASCADE_TARGET void process(std::int16_t* first, std::ptrdiff_t length, Stage& stage);
    void processEverySecond(std::int16_t* first, std::ptrdiff_t length);

private:
    static constexpr int kHalf = kLanes / 2;
    typedef double Doubles __attribute__((vector_size(kHalf * sizeof(double))));
    typedef float Floats __attribute__((vector_size(kHalf * sizeof(float))));
    typedef std::int32_t Ints __attribute__((vector_size(kHalf * sizeof(std::int32_t))));
    typedef std::int64_t Mask __attribute__((vector_size(kHalf * sizeof(std::int64_t))));

    // One half of the lanes.
    struct Half {
        Doubles b0{}, b1{}, b2{}, a1{}, a2{};
        Doubles x1{}, x2{}, y1{}, y2{};
    };

    template <bool Masked>
    VOCARN_CASCADE_TARGET std::int32_t step(std::int32_t input, std::ptrdiff_t t,
                                            const Mask* active);
    template <bool Masked>
    VOCARN_CASCADE_TARGET static Ints filterHalf(Half& h, const Ints& in, const Mask& active);
    template <int Stride, typename Stage>
    VOCARN_CASCADE_TARGET void maskedStep(std::int16_t* v, std::ptrdiff_t length, std::ptrdiff_t t,
                                          Stage& stage);

    Half half_[2];
    // The outputs of the last kSkew steps, slot t % kSkew for step t (two halves each).
    Ints ring_[kSkew][2]{};
    int count_ = 0;
};

template <bool Masked>
inline __attribute__((always_inline)) VOCARN_CASCADE_TARGET BandCascade::Ints
BandCascade::filterHalf(Half& h, const Ints& in, const Mask& active) {
    const Doubles x = __builtin_convertvector(in, Doubles) / 32767.0;
    const Doubles xSingle = __builtin_convertvector(__builtin_convertvector(x, Floats), Doubles);
    const Doubles sum = h.b0 * x + h.b1 * h.x1 + h.b2 * h.x2 - h.a1 * h.y1 - h.a2 * h.y2;
    const Doubles y = __builtin_convertvector(__builtin_convertvector(sum, Floats), Doubles);
    if constexpr (Masked) {
        h.x2 = active ? h.x1 : h.x2;
        h.x1 = active ? xSingle : h.x1;
        h.y2 = active ? h.y1 : h.y2;
        h.y1 = active ? y : h.y1;
    } else {
        h.x2 = h.x1;
        h.x1 = xSingle;
        h.y2 = h.y1;
        h.y1 = y;
    }
    // Clip to the 16-bit range, NaN to 0, otherwise round halves to even (adding and
    // removing 1.5 * 2^52 leaves no fraction).
    const Doubles zero = {};
    Doubles scaled = y * 32767.0;
    scaled = y > 1.0 ? zero + 32767.0 : scaled;
    scaled = y < -1.0 ? zero - 32768.0 : scaled;
    scaled = y == y ? scaled : zero;
    scaled = (scaled + 6755399441055744.0) - 6755399441055744.0;
    return __builtin_convertvector(scaled, Ints);
}

template <bool Masked>
inline __attribute__((always_inline)) VOCARN_CASCADE_TARGET std::int32_t
BandCascade::step(std::int32_t input, std::ptrdiff_t t, const Mask* active) {
    Ints* slot = ring_[t % kSkew];
    // Lane k takes lane k - 1's output of kSkew steps ago; lane 0 takes the new sample.
    Ints low = __builtin_shufflevector(slot[0], slot[0], 0, 0, 1, 2);
    low[0] = input;
    const Ints high = __builtin_shufflevector(slot[0], slot[1], 3, 4, 5, 6);
    slot[0] = filterHalf<Masked>(half_[0], low, active[0]);
    slot[1] = filterHalf<Masked>(half_[1], high, active[1]);
    const int last = count_ - 1;
    return last < kHalf ? slot[0][last] : slot[1][last - kHalf];
}

// A step where some filter has no sample: only the lanes that have one move on.
template <int Stride, typename Stage>
inline VOCARN_CASCADE_TARGET void BandCascade::maskedStep(std::int16_t* v, std::ptrdiff_t length,
                                                          std::ptrdiff_t t, Stage& stage) {
    // Lane k has a sample when it holds a filter and 0 <= t - k * kSkew < length.
    const Mask lanes[2] = {{0, 1, 2, 3}, {4, 5, 6, 7}};
    Mask active[2];
    for (int h = 0; h < 2; ++h) {
        const Mask n = static_cast<std::int64_t>(t) - lanes[h] * kSkew;
        active[h] = (lanes[h] < count_) & (n >= 0) & (n < static_cast<std::int64_t>(length));
    }
    const std::int32_t input = t < length ? stage(v[t * Stride]) : 0;
    const std::int32_t out = step<true>(input, t, active);
    const std::ptrdiff_t n = t - static_cast<std::ptrdiff_t>(count_ - 1) * kSkew;
    if (n >= 0 && n < length) {
        v[n * Stride] = static_cast<std::int16_t>(out);
    }
}

template <int Stride, typename Stage>
VOCARN_CASCADE_TARGET void BandCascade::process(std::int16_t* v, std::ptrdiff_t length,
                                                Stage& stage) {
    if (length == 0) {
        return;
    }
    const std::ptrdiff_t delay = static_cast<std::ptrdiff_t>(count_ - 1) * kSkew;
    const std::ptrdiff_t steps = length + delay;

    std::ptrdiff_t t = 0;
    for (; t < delay && t < steps; ++t) {
        maskedStep<Stride>(v, length, t, stage);
    }
    const Mask all[2] = {};
    for (; t < length; ++t) {
        v[(t - delay) * Stride] =
            static_cast<std::int16_t>(step<false>(stage(v[t * Stride]), t, all));
    }
    for (; t < steps; ++t) {
        maskedStep<Stride>(v, length, t, stage);
    }
}
