#include "dsp/IIRFilter.h"

#include "dsp/BandCascade.h"
#include "dsp/SampleRounding.h"

#include <cmath>

namespace {

// 2 pi and ln 2 as the single-precision constants the coefficient formulas use.
constexpr double kTwoPi = static_cast<double>(6.2831855f);
constexpr double kLn2 = static_cast<double>(0.6931472f);

// One step of the recurrence on an input x scaled to about -1..1; the history keeps x
// rounded to single.
float step(IIRFilter::Section& s, double x) {
    const float y =
        static_cast<float>(s.b0 * x + s.b1 * s.x1 + s.b2 * s.x2 - s.a1 * s.y1 - s.a2 * s.y2);
    s.x2 = s.x1;
    s.x1 = static_cast<double>(static_cast<float>(x));
    s.y2 = s.y1;
    s.y1 = static_cast<double>(y);
    return y;
}

// A filter output as a 16-bit sample: clipped, NaN as 0, otherwise rounded halves to even.
std::int16_t toSample16(float y) {
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

// Runs the enabled filters, in groups of at most BandCascade::kLanes, over length samples
// taken every stride-th (1 or 2) from first; each group takes the previous group's output,
// which is what filter after filter gives.
void cascadeGroups(std::span<IIRFilter> filters, std::int16_t* first, std::ptrdiff_t length,
                   int stride) {
    constexpr int kMax = BandCascade::kLanes;
    IIRFilter* active[kMax];
    std::size_t start = 0;
    while (start < filters.size()) {
        int n = 0;
        std::size_t i = start;
        for (; i < filters.size() && n < kMax; ++i) {
            if (filters[i].Enabled()) {
                active[n++] = &filters[i];
            }
        }
        start = i;
        if (n == 0) {
            continue;
        }
        IIRFilter::Section sec[kMax];
        for (int k = 0; k < n; ++k) {
            sec[k] = active[k]->section();
        }
        BandCascade cascade;
        cascade.load(sec, n);
        if (stride == 1) {
            cascade.process(std::span<std::int16_t>(first, static_cast<std::size_t>(length)));
        } else {
            cascade.processEverySecond(first, length);
        }
        cascade.store(sec);
        for (int k = 0; k < n; ++k) {
            active[k]->store(sec[k]);
        }
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

void IIRFilter::store(const Section& s) {
    x1_ = static_cast<float>(s.x1);
    x2_ = static_cast<float>(s.x2);
    y1_ = static_cast<float>(s.y1);
    y2_ = static_cast<float>(s.y2);
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
    const double roundedRate = std::nearbyint(rate);
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
    Section s = section();
    for (std::int16_t& v : intSamples) {
        v = toSample16(step(s, static_cast<double>(v) / 32767.0));
    }
    store(s);
}

void IIRFilter::ProcessSamples_8bit(std::span<std::uint8_t> btSamples) {
    if (!enabled_) {
        return;
    }
    Section s = section();
    for (std::uint8_t& v : btSamples) {
        const float y = step(s, (static_cast<double>(v) - 128.0) / 127.0);
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
    store(s);
}

void IIRFilter::ProcessCascadeStereo_16bit(std::span<IIRFilter> left, std::span<IIRFilter> right,
                                           std::span<std::int16_t> intSamples) {
    if (intSamples.empty()) {
        return;
    }
    if (BandCascade::available()) {
        const auto n = static_cast<std::ptrdiff_t>(intSamples.size());
        cascadeGroups(left, intSamples.data(), (n + 1) / 2, 2);
        cascadeGroups(right, intSamples.data() + 1, n / 2, 2);
        return;
    }
    // Band after band, both channels' filters of a band in one loop: each waits on its own
    // previous output, and the other channel's work fills that wait.
    std::int16_t* p = intSamples.data();
    const std::size_t frames = intSamples.size() / 2;
    for (std::size_t k = 0; k < left.size() && k < right.size(); ++k) {
        IIRFilter& fl = left[k];
        IIRFilter& fr = right[k];
        Section sl = fl.section();
        Section sr = fr.section();
        for (std::size_t i = 0; i < frames; ++i) {
            const std::int16_t yl = toSample16(step(sl, static_cast<double>(p[2 * i]) / 32767.0));
            const std::int16_t yr =
                toSample16(step(sr, static_cast<double>(p[2 * i + 1]) / 32767.0));
            if (fl.enabled_) {
                p[2 * i] = yl;
            }
            if (fr.enabled_) {
                p[2 * i + 1] = yr;
            }
        }
        if (intSamples.size() % 2 != 0 && fl.enabled_) {
            p[2 * frames] = toSample16(step(sl, static_cast<double>(p[2 * frames]) / 32767.0));
        }
        if (fl.enabled_) {
            fl.store(sl);
        }
        if (fr.enabled_) {
            fr.store(sr);
        }
    }
}

void IIRFilter::ProcessCascade_16bit(std::span<IIRFilter> filters,
                                     std::span<std::int16_t> intSamples) {
    if (!BandCascade::available()) {
        for (IIRFilter& f : filters) {
            f.ProcessSamples_16bit(intSamples);
        }
        return;
    }
    cascadeGroups(filters, intSamples.data(), static_cast<std::ptrdiff_t>(intSamples.size()), 1);
}
