#include "dsp/IIRFilter.h"

#include "dsp/SampleRounding.h"

#include <cmath>

namespace {

// 2 pi and ln 2 as the single-precision constants the coefficient formulas use.
constexpr double kTwoPi = static_cast<double>(6.2831855f);
constexpr double kLn2 = static_cast<double>(0.6931472f);

} // namespace

// The filter's working copy for one block: coefficients widened to double (exactly),
// history as singles.
struct IIRFilter::Section {
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    // One step of the recurrence on an input already scaled to about -1..1.
    float step(double x) {
        const float y = static_cast<float>(
            b0 * x + b1 * static_cast<double>(x1) + b2 * static_cast<double>(x2) -
            a1 * static_cast<double>(y1) - a2 * static_cast<double>(y2));
        x2 = x1;
        x1 = static_cast<float>(x);
        y2 = y1;
        y1 = y;
        return y;
    }

    std::int16_t step16(std::int16_t s) {
        const float y = step(static_cast<double>(s) / 32767.0);
        if (y > 1.0f) {
            return 32767;
        }
        if (y < -1.0f) {
            return -32768;
        }
        if (y != y) {
            return 0;
        }
        return static_cast<std::int16_t>(
            sample_rounding::roundHalfEven(static_cast<double>(y) * 32767.0));
    }
};

namespace {

using Section = IIRFilter::Section;

template <int N>
void cascade(Section* sec, std::span<std::int16_t> samples) {
    Section s[N];
    for (int k = 0; k < N; ++k) {
        s[k] = sec[k];
    }
    for (std::int16_t& v : samples) {
        std::int16_t t = v;
        for (int k = 0; k < N; ++k) {
            t = s[k].step16(t);
        }
        v = t;
    }
    for (int k = 0; k < N; ++k) {
        sec[k] = s[k];
    }
}

} // namespace

IIRFilter::Section IIRFilter::section() const {
    Section s;
    s.b0 = b0_;
    s.b1 = b1_;
    s.b2 = b2_;
    s.a1 = a1_;
    s.a2 = a2_;
    s.x1 = x1_;
    s.x2 = x2_;
    s.y1 = y1_;
    s.y2 = y2_;
    return s;
}

void IIRFilter::setBandwidth(float v) {
    bandwidth_ = v;
    recompute();
}

void IIRFilter::setGainDB(float v) {
    gainDB_ = v;
    recompute();
}

void IIRFilter::setFrequency(float v) {
    frequency_ = v;
    recompute();
}

void IIRFilter::setSamplerate(std::int32_t v) {
    samplerate_ = v;
    recompute();
}

void IIRFilter::recompute() {
    if (samplerate_ > 0) {
        CreateBiquadIIR(type_, gainDB_, frequency_, static_cast<float>(samplerate_), bandwidth_);
    }
}

void IIRFilter::CreateBiquadIIR(std::int32_t IIRType, float dBGain, float freq, float srate,
                                float bw) {
    const double rate = static_cast<double>(srate);
    const double roundedRate = sample_rounding::roundHalfEven(rate);
    samplerate_ = (roundedRate >= -2147483648.0 && roundedRate <= 2147483647.0)
                      ? static_cast<std::int32_t>(roundedRate)
                      : 0;
    bandwidth_ = bw;
    gainDB_ = dBGain;
    frequency_ = freq;
    type_ = IIRType;

    const float A = static_cast<float>(std::pow(10.0, static_cast<double>(dBGain) / 40.0));
    const double omega = static_cast<double>(freq) * kTwoPi / rate;
    const float sn = static_cast<float>(std::sin(omega));
    const float cs = static_cast<float>(std::cos(omega));
    const float t =
        static_cast<float>(kLn2 / 2.0 * static_cast<double>(bw) * omega / static_cast<double>(sn));
    const double sinhT =
        (std::exp(static_cast<double>(t)) - std::exp(-static_cast<double>(t))) / 2.0;
    const float alpha = static_cast<float>(static_cast<double>(sn) * sinhT);

    const double dcs = cs;
    const double dal = alpha;
    const double dA = A;
    float b0 = 0, b1 = 0, b2 = 0, a0 = 0, a1 = 0, a2 = 0;
    bool known = true;
    switch (IIRType) {
    case 0: // low-pass
        b0 = static_cast<float>((1.0 - dcs) / 2.0);
        b1 = static_cast<float>(1.0 - dcs);
        b2 = static_cast<float>((1.0 - dcs) / 2.0);
        a0 = static_cast<float>(1.0 + dal);
        a1 = static_cast<float>(-2.0 * dcs);
        a2 = static_cast<float>(1.0 - dal);
        break;
    case 1: // high-pass
        b0 = static_cast<float>((1.0 + dcs) / 2.0);
        b1 = static_cast<float>(-(1.0 + dcs));
        b2 = static_cast<float>((1.0 + dcs) / 2.0);
        a0 = static_cast<float>(1.0 + dal);
        a1 = static_cast<float>(-2.0 * dcs);
        a2 = static_cast<float>(1.0 - dal);
        break;
    case 2: // band-pass, 0 dB peak
        b0 = alpha;
        b1 = 0.0f;
        b2 = -alpha;
        a0 = static_cast<float>(1.0 + dal);
        a1 = static_cast<float>(-2.0 * dcs);
        a2 = static_cast<float>(1.0 - dal);
        break;
    case 3: // peaking equaliser
        b0 = static_cast<float>(1.0 + dal * dA);
        b1 = static_cast<float>(-2.0 * dcs);
        b2 = static_cast<float>(1.0 - dal * dA);
        a0 = static_cast<float>(1.0 + dal / dA);
        a1 = static_cast<float>(-2.0 * dcs);
        a2 = static_cast<float>(1.0 - dal / dA);
        break;
    default:
        known = false;
        break;
    }

    if (known) {
        const double d0 = a0;
        b0_ = static_cast<float>(static_cast<double>(b0) / d0);
        b1_ = static_cast<float>(static_cast<double>(b1) / d0);
        b2_ = static_cast<float>(static_cast<double>(b2) / d0);
        a1_ = static_cast<float>(static_cast<double>(a1) / d0);
        a2_ = static_cast<float>(static_cast<double>(a2) / d0);
    } else {
        // No formula for this type: the raw coefficients would all be 0 and their
        // normalisation 0 / 0. Pass the samples through instead.
        b0_ = 1.0f;
        b1_ = b2_ = a1_ = a2_ = 0.0f;
    }
    x1_ = x2_ = y1_ = y2_ = 0.0f;
}

void IIRFilter::ProcessSamples_16bit(std::span<std::int16_t> intSamples) {
    if (!enabled_) {
        return;
    }
    IIRFilter* self = this;
    ProcessCascade_16bit(std::span<IIRFilter>(self, 1), intSamples);
}

void IIRFilter::ProcessSamples_8bit(std::span<std::uint8_t> btSamples) {
    if (!enabled_) {
        return;
    }
    Section s = section();
    for (std::uint8_t& v : btSamples) {
        const float y = s.step((static_cast<double>(v) - 128.0) / 127.0);
        if (y > 1.0f) {
            v = 255;
        } else if (y < -1.0f) {
            v = 0;
        } else if (y != y) {
            v = 128;
        } else {
            v = static_cast<std::uint8_t>(
                sample_rounding::roundHalfEven(static_cast<double>(y) * 127.0 + 128.0));
        }
    }
    x1_ = s.x1;
    x2_ = s.x2;
    y1_ = s.y1;
    y2_ = s.y2;
}

void IIRFilter::ProcessCascade_16bit(std::span<IIRFilter> filters,
                                     std::span<std::int16_t> intSamples) {
    constexpr int kMax = 10;
    IIRFilter* active[kMax];
    std::size_t start = 0;
    // Work in groups of at most kMax enabled filters; each group sees the previous group's
    // output, which is what band after band gives.
    while (start < filters.size()) {
        int n = 0;
        std::size_t i = start;
        for (; i < filters.size() && n < kMax; ++i) {
            if (filters[i].enabled_) {
                active[n++] = &filters[i];
            }
        }
        start = i;
        if (n == 0) {
            continue;
        }
        Section sec[kMax];
        for (int k = 0; k < n; ++k) {
            sec[k] = active[k]->section();
        }
        switch (n) {
        case 1:
            cascade<1>(sec, intSamples);
            break;
        case 2:
            cascade<2>(sec, intSamples);
            break;
        case 3:
            cascade<3>(sec, intSamples);
            break;
        case 4:
            cascade<4>(sec, intSamples);
            break;
        case 5:
            cascade<5>(sec, intSamples);
            break;
        case 6:
            cascade<6>(sec, intSamples);
            break;
        case 7:
            cascade<7>(sec, intSamples);
            break;
        case 8:
            cascade<8>(sec, intSamples);
            break;
        case 9:
            cascade<9>(sec, intSamples);
            break;
        default:
            cascade<10>(sec, intSamples);
            break;
        }
        for (int k = 0; k < n; ++k) {
            IIRFilter& f = *active[k];
            f.x1_ = sec[k].x1;
            f.x2_ = sec[k].x2;
            f.y1_ = sec[k].y1;
            f.y2_ = sec[k].y2;
        }
    }
}
