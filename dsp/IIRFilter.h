#pragma once

#include <cstdint>
#include <span>

// One second-order recursive filter (biquad) working in place on 8-bit or 16-bit samples.
//
// Coefficients follow the Audio EQ Cookbook formulas in their bandwidth-in-octaves form for
// four types: 0 low-pass, 1 high-pass, 2 band-pass (0 dB peak), 3 peaking equaliser. A type
// outside 0..3 has no formula; such a filter passes its samples through unchanged.
//
// Coefficients, history and parameters are singles; the arithmetic between them runs in
// double and is rounded to single where a value is stored, so results are exact to the bit.
// The filter keeps one history for the whole array it is given: interleaved channels share
// it. Samples are scaled to about -1..1 (16-bit: s / 32767; 8-bit: (s - 128) / 127) and
// clipped to the sample range on output only.
class IIRFilter {
public:
    IIRFilter() = default;

    bool Enabled() const { return enabled_; }
    void setEnabled(bool v) { enabled_ = v; }

    float Bandwidth() const { return bandwidth_; }
    void setBandwidth(float v);

    std::int32_t IIRType() const { return type_; }

    float GainDB() const { return gainDB_; }
    void setGainDB(float v);

    float Frequency() const { return frequency_; }
    void setFrequency(float v);

    std::int32_t samplerate() const { return samplerate_; }
    void setSamplerate(std::int32_t v);

    void ProcessSamples_8bit(std::span<std::uint8_t> btSamples);
    void ProcessSamples_16bit(std::span<std::int16_t> intSamples);

    // Computes the coefficients for the given type and settings, stores the settings and
    // clears the history.
    void CreateBiquadIIR(std::int32_t IIRType, float dBGain, float freq, float srate, float bw);

    // Runs several 16-bit filters over one block as if each ran over the whole block in
    // turn: sample by sample, every filter takes the previous filter's rounded and clipped
    // output. Disabled filters are skipped. The results are identical to band after band.
    static void ProcessCascade_16bit(std::span<IIRFilter> filters,
                                     std::span<std::int16_t> intSamples);
    // The same over a stereo block (left, right, ..., a lone last sample being a left one):
    // the left samples through the filters of left, the right ones through those of right,
    // each exactly as ProcessCascade_16bit runs one channel's samples alone. Both spans hold
    // the same number of filters.
    static void ProcessCascadeStereo_16bit(std::span<IIRFilter> left, std::span<IIRFilter> right,
                                           std::span<std::int16_t> intSamples);

    // The working copy of coefficients and history that the block loops use: coefficients
    // widened to double (exactly), and the history as doubles that always hold single
    // values, so that each value is widened once, when it is made.
    struct Section {
        double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };

    // Coefficients as stored (for inspection).
    float b0() const { return b0_; }
    float b1() const { return b1_; }
    float b2() const { return b2_; }
    float a1() const { return a1_; }
    float a2() const { return a2_; }

    // The coefficients and history as a working copy, and the history written back from one.
    Section section() const;
    void store(const Section& s);

private:
    void recompute();

    float b0_ = 0, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    float x1_ = 0, x2_ = 0;
    float y1_ = 0, y2_ = 0;
    std::int32_t samplerate_ = 0;
    std::int32_t type_ = 0;
    float gainDB_ = 0;
    float frequency_ = 0;
    float bandwidth_ = 0;
    bool enabled_ = true;
};
