#include "dsp/clsDSP.h"

#include "common/RaisedError.h"
#include "dsp/BandCascade.h"
#include "dsp/SampleRounding.h"
#include "dsp/TargetClones.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

constexpr std::int32_t kEchoBit = 1;
constexpr std::int32_t kPhaseShiftBit = 2;
constexpr std::int32_t kAmplifierBit = 4;
constexpr std::int32_t kEqualizerBit = 8;

// pi as the single-precision constant of the sweep set-up.
constexpr double kPi = static_cast<double>(3.1415927f);

// Longest echo line: 2^26 samples, about 11 minutes of 96 kHz stereo. A longer delay
// cannot come from the effects window and would take gigabytes; it switches the echo off
// like a line of no element does.
constexpr double kMaxEchoLine = 67108864.0;

constexpr std::int32_t kMaxBands = 10;

// Each sample times the factor, rounded once to single, clipped to 16 bits.
VOCARN_TARGET_CLONES void amplifyLoop(std::int16_t* p, std::size_t n, float factor) {
    for (std::size_t i = 0; i < n; ++i) {
        float v = static_cast<float>(p[i]) * factor;
        v = v > 32767.0f ? 32767.0f : v;
        v = v < -32768.0f ? -32768.0f : v;
        // Round halves to even: 1.5 * 2^23 makes the unit in the last place 1.
        v = (v + 12582912.0f) - 12582912.0f;
        p[i] = static_cast<std::int16_t>(static_cast<std::int32_t>(v));
    }
}

// One run of the echo over samples p and the line elements l that they meet: the clipped
// sum becomes the sample, the line keeps it times the amplitude, rounded and clipped.
VOCARN_TARGET_CLONES void echoRun(std::int16_t* __restrict p, std::int16_t* __restrict l,
                                  std::size_t n, double amp) {
    for (std::size_t i = 0; i < n; ++i) {
        std::int32_t sum = static_cast<std::int32_t>(p[i]) + static_cast<std::int32_t>(l[i]);
        sum = sum > 32767 ? 32767 : sum;
        sum = sum < -32768 ? -32768 : sum;
        p[i] = static_cast<std::int16_t>(sum);
        double r = static_cast<double>(sum) * amp;
        r = r > 32767.0 ? 32767.0 : r;
        r = r < -32768.0 ? -32768.0 : r;
        r = sample_rounding::roundHalfEven(r);
        l[i] = static_cast<std::int16_t>(static_cast<std::int32_t>(r));
    }
}

} // namespace

clsDSP::clsDSP() : bandGains_(7, 0.0f), bandFilters_(7) {}

void clsDSP::setSamplerate(std::int32_t v) {
    if (v < 1 || v > 96000) {
        throw RaisedError(32000, "invalid samplerate");
    }
    samplerate_ = v;
    if (channels_ != 0) {
        setupAll();
    }
}

void clsDSP::setChannels(std::int16_t v) {
    if (v < 1 || v > 2) {
        throw RaisedError(32000, "invalid channels");
    }
    channels_ = v;
    if (samplerate_ != 0) {
        setupAll();
    }
}

void clsDSP::setEchoLength(std::int32_t v) {
    echoLength_ = v;
    setupEcho();
}

void clsDSP::setEchoAmp(float v) {
    echoAmp_ = v > 0.9f ? 0.9f : v;
    setupEcho();
}

void clsDSP::setPhaseShiftWet(float v) {
    phaseShiftWet_ = v;
    setupPhaseShift();
}

void clsDSP::setPhaseShiftDry(float v) {
    phaseShiftDry_ = v;
    setupPhaseShift();
}

void clsDSP::setPhaseShiftFeedback(float v) {
    phaseShiftFeedback_ = v;
    setupPhaseShift();
}

void clsDSP::setPhaseShiftSweepRate(float v) {
    phaseShiftSweepRate_ = v;
    setupPhaseShift();
}

void clsDSP::setPhaseShiftSweepRange(float v) {
    phaseShiftSweepRange_ = v;
    setupPhaseShift();
}

void clsDSP::setPhaseShiftFrequency(float v) {
    phaseShiftFrequency_ = v;
    setupPhaseShift();
}

void clsDSP::checkBand(std::int32_t Index) const {
    if (Index < 0 || Index >= equalizerBands_) {
        throw RaisedError(9, "Subscript out of range");
    }
}

std::int32_t clsDSP::EqualizerBandFrequency(std::int32_t Index) const {
    checkBand(Index);
    return static_cast<std::int32_t>(std::nearbyint(
        static_cast<double>(bandFilters_[static_cast<std::size_t>(Index)].Frequency())));
}

float clsDSP::EqualizerBandGainDB(std::int32_t Index) const {
    checkBand(Index);
    return bandGains_[static_cast<std::size_t>(Index)];
}

void clsDSP::setEqualizerBandGainDB(std::int32_t Index, float v) {
    checkBand(Index);
    bandGains_[static_cast<std::size_t>(Index)] = v;
    setupEqualizer();
}

void clsDSP::setEqualizerBands(std::int32_t v) {
    if (v < 1 || v > kMaxBands) {
        throw RaisedError(32000, "Out Of Bounds!");
    }
    std::vector<IIRFilter> filters(static_cast<std::size_t>(v));
    std::vector<float> gains(static_cast<std::size_t>(v), 0.0f);
    equalizerBands_ = v;
    bandFilters_.swap(filters);
    bandGains_.swap(gains);
    setupEqualizer();
}

void clsDSP::setupAll() {
    setupEcho();
    setupPhaseShift();
    setupEqualizer();
}

void clsDSP::setupEcho() {
    if (samplerate_ == 0) {
        return;
    }
    const double n = sample_rounding::roundHalfEven(static_cast<double>(samplerate_) / 1000.0 *
                                                    static_cast<double>(echoLength_));
    if (n >= 1.0 && n <= kMaxEchoLine) {
        echoLine_.assign(static_cast<std::size_t>(n), 0);
    } else {
        echoLine_.clear();
        echoLine_.shrink_to_fit();
    }
    echoPosition_ = 0;
    echoAmpInUse_ = echoAmp_;
}

void clsDSP::setupPhaseShift() {
    if (samplerate_ == 0) {
        return;
    }
    const double rate = static_cast<double>(samplerate_);
    const double freq = static_cast<double>(phaseShiftFrequency_);
    const double R = std::pow(2.0, static_cast<double>(phaseShiftSweepRange_));
    sweepLower_ = static_cast<float>(freq * kPi / rate);
    sweepUpper_ = static_cast<float>(freq * kPi * R / rate);
    sweepFactor_ =
        static_cast<float>(std::pow(R, 2.0 * static_cast<double>(phaseShiftSweepRate_) / rate));
    sweepMultiplier_ = sweepFactor_;
    sweepValue_ = sweepLower_;
}

void clsDSP::setupEqualizer() {
    if (samplerate_ == 0) {
        return;
    }
    const double top = sample_rounding::roundHalfEven(static_cast<double>(samplerate_) / 3.0);
    const float bw = static_cast<float>(std::log(top / 80.0) / 4.0);
    const std::int32_t bands = equalizerBands_;
    for (std::int32_t i = 0; i < bands; ++i) {
        // One band has no spread to share out: it sits at the lowest centre, 80 Hz.
        const float f = bands == 1
                            ? 80.0f
                            : static_cast<float>(
                                  80.0 * std::pow(top / 80.0, static_cast<double>(i) /
                                                                  static_cast<double>(bands - 1)));
        bandFilters_[static_cast<std::size_t>(i)].CreateBiquadIIR(
            3, bandGains_[static_cast<std::size_t>(i)], f, static_cast<float>(samplerate_), bw);
    }
}

void clsDSP::ProcessSamples(std::span<std::int16_t> intSamples) {
    if (samplerate_ == 0 || channels_ == 0) {
        return;
    }
    if (effectsUsed_ & kAmplifierBit) {
        amplify(intSamples);
    }
    if (effectsUsed_ & kEchoBit) {
        echo(intSamples);
    }
    const bool shift = (effectsUsed_ & kPhaseShiftBit) != 0;
    const bool equalize = (effectsUsed_ & kEqualizerBit) != 0;
    if (shift && equalize && BandCascade::available() &&
        bandFilters_.size() <= static_cast<std::size_t>(BandCascade::kLanes)) {
        phaseShiftAndEqualize(intSamples);
        return;
    }
    if (shift) {
        phaseShift(intSamples);
    }
    if (equalize) {
        IIRFilter::ProcessCascade_16bit(bandFilters_, intSamples);
    }
}

void clsDSP::amplify(std::span<std::int16_t> s) const {
    float factor = static_cast<float>(std::pow(10.0, static_cast<double>(amplifyDB_) / 20.0));
    // An infinite factor would turn silence into NaN; the largest finite one clips every
    // other sample exactly as infinity does and keeps silence silent.
    factor = std::min(factor, FLT_MAX);
    amplifyLoop(s.data(), s.size(), factor);
}

void clsDSP::echo(std::span<std::int16_t> s) {
    const std::size_t len = echoLine_.size();
    if (len == 0) {
        return;
    }
    // Larger factors clip every non-zero repeat the same way; the bound keeps 0 * inf and
    // NaN out of the stored repeats.
    double amp = static_cast<double>(echoAmpInUse_);
    if (!(amp == amp)) {
        amp = 0.0;
    }
    amp = std::clamp(amp, -65536.0, 65536.0);

    std::int16_t* p = s.data();
    std::size_t remaining = s.size();
    std::size_t pos = echoPosition_;
    // A repeat written at a position is read one line length later, so a run up to the end
    // of the line has no dependency inside it.
    while (remaining > 0) {
        const std::size_t run = std::min(remaining, len - pos);
        echoRun(p, echoLine_.data() + pos, run, amp);
        p += run;
        remaining -= run;
        pos += run;
        if (pos == len) {
            pos = 0;
        }
    }
    echoPosition_ = pos;
}

// The phase shifter's state for one block, taken from the chain and given back after it;
// a callable that turns one sample into the next output.
struct clsDSP::PhaseShiftRun {
    explicit PhaseShiftRun(const clsDSP& d)
        : fb(d.phaseShiftFeedback_), wet(d.phaseShiftWet_), dry(d.phaseShiftDry_),
          upper(d.sweepUpper_), lower(d.sweepLower_), factor(d.sweepFactor_),
          inverseFactor(static_cast<float>(1.0 / static_cast<double>(d.sweepFactor_))),
          sweep(d.sweepValue_), multiplier(d.sweepMultiplier_), x1(d.allPassX_[0]),
          x2(d.allPassX_[1]), x3(d.allPassX_[2]), x4(d.allPassX_[3]), y1(d.allPassY_[0]),
          y2(d.allPassY_[1]), y3(d.allPassY_[2]), y4(d.allPassY_[3]) {}

    void storeInto(clsDSP& d) const {
        d.sweepValue_ = sweep;
        d.sweepMultiplier_ = multiplier;
        d.allPassX_[0] = x1;
        d.allPassX_[1] = x2;
        d.allPassX_[2] = x3;
        d.allPassX_[3] = x4;
        d.allPassY_[0] = y1;
        d.allPassY_[1] = y2;
        d.allPassY_[2] = y3;
        d.allPassY_[3] = y4;
    }

    // One all-pass section: new y = c * (u + old y) - old x; x = u.
    static float section(double c, float u, float& x, float& y) {
        const float next = static_cast<float>(
            c * (static_cast<double>(u) + static_cast<double>(y)) - static_cast<double>(x));
        x = u;
        y = next;
        return next;
    }

    std::int16_t operator()(std::int16_t sample) {
        const float x = static_cast<float>(static_cast<double>(sample) / 32767.0);
        const double sw = sweep;
        const double c = static_cast<float>((1.0 - sw) / (1.0 + sw));
        const float u = static_cast<float>(static_cast<double>(x) + static_cast<double>(y4) * fb);
        const float y =
            section(c, section(c, section(c, section(c, u, x1, y1), x2, y2), x3, y3), x4, y4);
        // Below 0 Hz the sweep gives sections with gain above 1, whose states can overflow.
        // A state that is no longer finite would turn every later output into NaN and so
        // silence the shifter for good, since set-ups keep the states: start them afresh.
        if (!(std::fabs(y) <= FLT_MAX)) {
            x1 = x2 = x3 = x4 = 0.0f;
            y1 = y2 = y3 = y4 = 0.0f;
        }
        const float out =
            static_cast<float>(wet * static_cast<double>(y) + dry * static_cast<double>(x));

        sweep = sweep * multiplier;
        if (sweep > upper) {
            multiplier = inverseFactor;
        } else if (sweep < lower) {
            multiplier = factor;
        }
        return sample_rounding::clip16(static_cast<double>(out) * 32767.0);
    }

    const double fb, wet, dry;
    const float upper, lower, factor, inverseFactor;
    float sweep, multiplier;
    float x1, x2, x3, x4;
    float y1, y2, y3, y4;
};

void clsDSP::phaseShift(std::span<std::int16_t> s) {
    PhaseShiftRun run(*this);
    for (std::int16_t& v : s) {
        v = run(v);
    }
    run.storeInto(*this);
}

// The phase shifter and the equaliser in one loop: the shifter is one serial chain per
// sample, and the band filters' work fills the time it waits. Each band still takes the
// shifter's rounded output, so the result is that of one effect after the other.
void clsDSP::phaseShiftAndEqualize(std::span<std::int16_t> s) {
    IIRFilter::Section sections[BandCascade::kLanes];
    const int bands = static_cast<int>(bandFilters_.size());
    for (int k = 0; k < bands; ++k) {
        sections[k] = bandFilters_[static_cast<std::size_t>(k)].section();
    }
    BandCascade cascade;
    cascade.load(sections, bands);
    PhaseShiftRun run(*this);
    cascade.process(s, run);
    run.storeInto(*this);
    cascade.store(sections);
    for (int k = 0; k < bands; ++k) {
        bandFilters_[static_cast<std::size_t>(k)].store(sections[k]);
    }
}
