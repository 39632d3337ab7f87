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

// Longest echo line: 2^26 samples of a channel, about 11 minutes at 96 kHz. A longer delay
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

// One sample of the echo meeting its line element: the clipped sum becomes the sample, the
// line keeps it times the amplitude, rounded and clipped.
inline __attribute__((always_inline)) void echoSample(std::int16_t& p, std::int16_t& l,
                                                      double amp) {
    std::int32_t sum = static_cast<std::int32_t>(p) + static_cast<std::int32_t>(l);
    sum = sum > 32767 ? 32767 : sum;
    sum = sum < -32768 ? -32768 : sum;
    p = static_cast<std::int16_t>(sum);
    double r = static_cast<double>(sum) * amp;
    r = r > 32767.0 ? 32767.0 : r;
    r = r < -32768.0 ? -32768.0 : r;
    r = sample_rounding::roundHalfEven(r);
    l = static_cast<std::int16_t>(static_cast<std::int32_t>(r));
}

// One run of the echo over samples p and the line elements l that they meet.
VOCARN_TARGET_CLONES void echoRun(std::int16_t* __restrict p, std::int16_t* __restrict l,
                                  std::size_t n, double amp) {
    for (std::size_t i = 0; i < n; ++i) {
        echoSample(p[i], l[i], amp);
    }
}

// The same over n stereo frames whose channels stand at different places of their lines:
// left samples meet every other element from l, right ones every other element from r.
VOCARN_TARGET_CLONES void echoRunStereo(std::int16_t* __restrict p, std::int16_t* __restrict l,
                                        std::int16_t* __restrict r, std::size_t n, double amp) {
    for (std::size_t i = 0; i < n; ++i) {
        echoSample(p[2 * i], l[2 * i], amp);
        echoSample(p[2 * i + 1], r[2 * i], amp);
    }
}

} // namespace

clsDSP::clsDSP() : bandGains_(7, 0.0f) {
    for (ChannelState& c : states_) {
        c.bandFilters.resize(7);
    }
}

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
        static_cast<double>(states_[0].bandFilters[static_cast<std::size_t>(Index)].Frequency())));
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
    std::vector<IIRFilter> filters[kMaxChannels];
    for (auto& f : filters) {
        f.resize(static_cast<std::size_t>(v));
    }
    std::vector<float> gains(static_cast<std::size_t>(v), 0.0f);
    equalizerBands_ = v;
    for (int c = 0; c < kMaxChannels; ++c) {
        states_[c].bandFilters.swap(filters[c]);
    }
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
        echoLines_.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(statesInUse()), 0);
    } else {
        echoLines_.clear();
        echoLines_.shrink_to_fit();
    }
    for (ChannelState& c : states_) {
        c.echoPosition = 0;
    }
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
    for (ChannelState& c : states_) {
        c.sweepMultiplier = sweepFactor_;
        c.sweepValue = sweepLower_;
    }
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
        for (ChannelState& c : states_) {
            c.bandFilters[static_cast<std::size_t>(i)].CreateBiquadIIR(
                3, bandGains_[static_cast<std::size_t>(i)], f, static_cast<float>(samplerate_), bw);
        }
    }
}

void clsDSP::ProcessSamples(std::span<std::int16_t> intSamples) {
    if (samplerate_ == 0 || channels_ == 0) {
        return;
    }
    // The amplifier keeps no state: it runs over the block as it stands.
    if (effectsUsed_ & kAmplifierBit) {
        amplify(intSamples);
    }
    if ((effectsUsed_ & (kEchoBit | kPhaseShiftBit | kEqualizerBit)) == 0) {
        return;
    }
    if (channels_ == 1) {
        processMono(intSamples);
    } else {
        processStereo(intSamples);
    }
}

void clsDSP::processMono(std::span<std::int16_t> s) {
    if (effectsUsed_ & kEchoBit) {
        echoMono(s);
    }
    ChannelState& c = states_[0];
    const bool shift = (effectsUsed_ & kPhaseShiftBit) != 0;
    const bool equalize = (effectsUsed_ & kEqualizerBit) != 0;
    if (shift && equalize && BandCascade::available() &&
        c.bandFilters.size() <= static_cast<std::size_t>(BandCascade::kLanes)) {
        phaseShiftAndEqualize(c, s);
        return;
    }
    if (shift) {
        phaseShift(c, s);
    }
    if (equalize) {
        IIRFilter::ProcessCascade_16bit(c.bandFilters, s);
    }
}

// The echo and the phase shifter run over the block as it stands, frame by frame, the two
// channels' serial chains overlapping; the equaliser's filters take each channel's samples
// in a row. The phase shifter never shares the filters' loop here: the paired shifters are
// the faster of the two.
void clsDSP::processStereo(std::span<std::int16_t> s) {
    if (effectsUsed_ & kEchoBit) {
        echoStereo(s);
    }
    if (effectsUsed_ & kPhaseShiftBit) {
        phaseShiftStereo(s);
    }
    if (effectsUsed_ & kEqualizerBit) {
        IIRFilter::ProcessCascadeStereo_16bit(states_[0].bandFilters, states_[1].bandFilters, s);
    }
}

void clsDSP::amplify(std::span<std::int16_t> s) const {
    float factor = static_cast<float>(std::pow(10.0, static_cast<double>(amplifyDB_) / 20.0));
    // An infinite factor would turn silence into NaN; the largest finite one clips every
    // other sample exactly as infinity does and keeps silence silent.
    factor = std::min(factor, FLT_MAX);
    amplifyLoop(s.data(), s.size(), factor);
}

double clsDSP::echoFactor() const {
    // Larger factors clip every non-zero repeat the same way; the bound keeps 0 * inf and
    // NaN out of the stored repeats.
    const double amp = static_cast<double>(echoAmpInUse_);
    return amp == amp ? std::clamp(amp, -65536.0, 65536.0) : 0.0;
}

void clsDSP::echoMono(std::span<std::int16_t> s) {
    const std::size_t len = echoLines_.size();
    if (len == 0) {
        return;
    }
    const double amp = echoFactor();

    std::int16_t* p = s.data();
    std::size_t remaining = s.size();
    std::size_t pos = states_[0].echoPosition;
    // A repeat written at a position is read one line length later, so a run up to the end
    // of the line has no dependency inside it.
    while (remaining > 0) {
        const std::size_t run = std::min(remaining, len - pos);
        echoRun(p, echoLines_.data() + pos, run, amp);
        p += run;
        remaining -= run;
        pos += run;
        if (pos == len) {
            pos = 0;
        }
    }
    states_[0].echoPosition = pos;
}

// While both channels stand at the same place of their lines, the block's frames meet the
// lines' side-by-side elements one to one, as a mono block meets its line. After a block
// with a lone left sample the left channel is one element ahead; then a run ends where
// either line wraps.
void clsDSP::echoStereo(std::span<std::int16_t> s) {
    const std::size_t len = echoLines_.size() / 2;
    if (len == 0) {
        return;
    }
    const double amp = echoFactor();
    std::int16_t* line = echoLines_.data();
    std::size_t& pl = states_[0].echoPosition;
    std::size_t& pr = states_[1].echoPosition;
    std::int16_t* p = s.data();
    std::size_t frames = s.size() / 2;
    while (frames > 0) {
        const std::size_t run = std::min({frames, len - pl, len - pr});
        if (pl == pr) {
            echoRun(p, line + 2 * pl, 2 * run, amp);
        } else {
            echoRunStereo(p, line + 2 * pl, line + 2 * pr + 1, run, amp);
        }
        p += 2 * run;
        frames -= run;
        pl = (pl + run) % len;
        pr = (pr + run) % len;
    }
    if (s.size() % 2 != 0) {
        echoSample(s.back(), line[2 * pl], amp);
        pl = (pl + 1) % len;
    }
}

// The phase shifter's state of one channel for one block, taken from the channel and
// given back after it; a callable that turns one sample into the next output.
struct clsDSP::PhaseShiftRun {
    PhaseShiftRun(const clsDSP& d, const ChannelState& c)
        : fb(d.phaseShiftFeedback_), wet(d.phaseShiftWet_), dry(d.phaseShiftDry_),
          upper(d.sweepUpper_), lower(d.sweepLower_), factor(d.sweepFactor_),
          inverseFactor(static_cast<float>(1.0 / static_cast<double>(d.sweepFactor_))),
          sweep(c.sweepValue), multiplier(c.sweepMultiplier), x1(c.allPassX[0]), x2(c.allPassX[1]),
          x3(c.allPassX[2]), x4(c.allPassX[3]), y1(c.allPassY[0]), y2(c.allPassY[1]),
          y3(c.allPassY[2]), y4(c.allPassY[3]) {}

    void storeInto(ChannelState& c) const {
        c.sweepValue = sweep;
        c.sweepMultiplier = multiplier;
        c.allPassX[0] = x1;
        c.allPassX[1] = x2;
        c.allPassX[2] = x3;
        c.allPassX[3] = x4;
        c.allPassY[0] = y1;
        c.allPassY[1] = y2;
        c.allPassY[2] = y3;
        c.allPassY[3] = y4;
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

void clsDSP::phaseShift(ChannelState& c, std::span<std::int16_t> s) {
    PhaseShiftRun run(*this, c);
    for (std::int16_t& v : s) {
        v = run(v);
    }
    run.storeInto(c);
}

// Both channels frame by frame: each sample waits on its channel's previous one, and the
// other channel's work fills that wait. A lone last sample is a left one.
void clsDSP::phaseShiftStereo(std::span<std::int16_t> s) {
    PhaseShiftRun l(*this, states_[0]);
    PhaseShiftRun r(*this, states_[1]);
    const std::size_t frames = s.size() / 2;
    for (std::size_t i = 0; i < frames; ++i) {
        s[2 * i] = l(s[2 * i]);
        s[2 * i + 1] = r(s[2 * i + 1]);
    }
    if (s.size() % 2 != 0) {
        s.back() = l(s.back());
    }
    l.storeInto(states_[0]);
    r.storeInto(states_[1]);
}

// The phase shifter and the equaliser in one loop: the shifter is one serial chain per
// sample, and the band filters' work fills the time it waits. Each band still takes the
// shifter's rounded output, so the result is that of one effect after the other.
void clsDSP::phaseShiftAndEqualize(ChannelState& c, std::span<std::int16_t> s) {
    BandCascade cascade;
    cascade.load(c.bandFilters);
    PhaseShiftRun run(*this, c);
    cascade.process(s, run);
    run.storeInto(c);
    cascade.store(c.bandFilters);
}
