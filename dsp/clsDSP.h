#pragma once

#include "dsp/IIRFilter.h"

#include <cstdint>
#include <span>
#include <vector>

// The live effects chain: amplifier, echo, phase shifter and an equaliser of peaking
// biquad bands, applied in place to each captured block in that order.
//
// The block holds signed 16-bit samples with the channels interleaved: with two channels
// they alternate left, right, starting with left at index 0 of every block (a lone last
// sample of an odd-length block is a left one). Every channel has its own state (echo line,
// phase shifter, band filters) and its samples run through the chain exactly as a mono
// block with the same settings would; the parameters are shared. Each effect writes whole,
// clipped 16-bit samples before the next one starts. Parameters and states are singles,
// computed in double and rounded where stored. Nothing runs until both samplerate and
// Channels are set; the set-ups (echo lines, phase shifter sweeps, band filters) are redone
// for every channel by the setters listed in their comments and never per block.
//
// EffectsUsed bits: 1 echo, 2 phase shifter, 4 amplifier, 8 equaliser.
class clsDSP {
public:
    clsDSP();

    // 1 to 96000 Hz, else RaisedError 32000 "invalid samplerate". Redoes all set-ups when
    // Channels is set.
    std::int32_t samplerate() const { return samplerate_; }
    void setSamplerate(std::int32_t v);

    // 1 or 2, else RaisedError 32000 "invalid channels". Redoes all set-ups when samplerate
    // is set.
    std::int16_t Channels() const { return channels_; }
    void setChannels(std::int16_t v);

    std::int32_t EffectsUsed() const { return effectsUsed_; }
    void setEffectsUsed(std::int32_t v) { effectsUsed_ = v; }

    // Echo delay in milliseconds; each channel's line holds samplerate / 1000 * EchoLength
    // of that channel's samples. A length that gives no element switches the echo off.
    // Redoes the echo set-up.
    std::int32_t EchoLength() const { return echoLength_; }
    void setEchoLength(std::int32_t v);

    // Echo feedback factor; values above 0.9 are stored as 0.9. Redoes the echo set-up.
    float EchoAmp() const { return echoAmp_; }
    void setEchoAmp(float v);

    // Amplifier gain in whole dB, read at each block.
    std::int32_t AmplifyDB() const { return amplifyDB_; }
    void setAmplifyDB(std::int32_t v) { amplifyDB_ = v; }

    // Phase shifter parameters; each setter redoes the sweep set-up (the all-pass states
    // run on).
    float PhaseShiftWet() const { return phaseShiftWet_; }
    void setPhaseShiftWet(float v);
    float PhaseShiftDry() const { return phaseShiftDry_; }
    void setPhaseShiftDry(float v);
    float PhaseShiftFeedback() const { return phaseShiftFeedback_; }
    void setPhaseShiftFeedback(float v);
    float PhaseShiftSweepRate() const { return phaseShiftSweepRate_; }
    void setPhaseShiftSweepRate(float v);
    float PhaseShiftSweepRange() const { return phaseShiftSweepRange_; }
    void setPhaseShiftSweepRange(float v);
    float PhaseShiftFrequency() const { return phaseShiftFrequency_; }
    void setPhaseShiftFrequency(float v);

    // Band centre in whole Hz (0 before the first equaliser set-up). Index 0 to
    // EqualizerBands - 1; others raise RaisedError 9 "Subscript out of range".
    std::int32_t EqualizerBandFrequency(std::int32_t Index) const;
    // Band gain in dB; the setter redoes the equaliser set-up.
    float EqualizerBandGainDB(std::int32_t Index) const;
    void setEqualizerBandGainDB(std::int32_t Index, float v);

    // 1 to 10, else RaisedError 32000 "Out Of Bounds!". New band filters, all gains 0 dB.
    std::int32_t EqualizerBands() const { return equalizerBands_; }
    void setEqualizerBands(std::int32_t v);

    // Runs the switched-on effects over the whole block, in place. Allocates nothing.
    void ProcessSamples(std::span<std::int16_t> intSamples);

private:
    // What one channel's samples run through; the parameters live in the chain.
    struct ChannelState {
        std::size_t echoPosition = 0;
        float allPassX[4] = {0, 0, 0, 0};
        float allPassY[4] = {0, 0, 0, 0};
        float sweepValue = 0.0f;
        float sweepMultiplier = 0.0f;
        std::vector<IIRFilter> bandFilters;
    };
    static constexpr int kMaxChannels = 2;

    void setupAll();
    void setupEcho();
    void setupPhaseShift();
    void setupEqualizer();
    void checkBand(std::int32_t Index) const;

    // Channels whose states are kept: two in stereo, else one.
    int statesInUse() const { return channels_ == 2 ? 2 : 1; }

    void amplify(std::span<std::int16_t> s) const;
    // Echo, phase shifter and equaliser over a mono block.
    void processMono(std::span<std::int16_t> s);
    // The same over a stereo block, each channel through its own state.
    void processStereo(std::span<std::int16_t> s);
    double echoFactor() const;
    void echoMono(std::span<std::int16_t> s);
    void echoStereo(std::span<std::int16_t> s);
    void phaseShift(ChannelState& c, std::span<std::int16_t> s);
    void phaseShiftStereo(std::span<std::int16_t> s);
    void phaseShiftAndEqualize(ChannelState& c, std::span<std::int16_t> s);

    struct PhaseShiftRun;

    std::int32_t effectsUsed_ = 0;

    ChannelState states_[kMaxChannels];
    // The echo lines of the channels in use, side by side: element i * channels + c is
    // element i of channel c's line. A mono chain keeps one line.
    std::vector<std::int16_t> echoLines_;
    float echoAmpInUse_ = 0.0f;
    std::int32_t echoLength_ = 100;
    float echoAmp_ = 0.4f;

    std::int32_t amplifyDB_ = 3;

    float sweepLower_ = 0.0f;
    float sweepUpper_ = 0.0f;
    float sweepFactor_ = 0.0f;
    float phaseShiftDry_ = 1.0f;
    float phaseShiftWet_ = 1.0f;
    float phaseShiftFeedback_ = 0.5f;
    float phaseShiftSweepRate_ = 1.0f;
    float phaseShiftSweepRange_ = 4.0f;
    float phaseShiftFrequency_ = 100.0f;

    std::int32_t equalizerBands_ = 7;
    std::vector<float> bandGains_;

    std::int32_t samplerate_ = 0;
    std::int16_t channels_ = 0;
};
