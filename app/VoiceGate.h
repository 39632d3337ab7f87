#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// Voice-activated writing: which parts of the captured sound go to the file. A block whose
// peak lies above the threshold is sound. While waiting, blocks are only kept, the last
// PreRollMS of them, so that the start of the next sound (a first syllable below the
// threshold, an onset late in its block) goes to the file with it. Once writing, every block
// is written until the silence has lasted HoldMS; then the gate waits again.
class VoiceGate {
public:
    static constexpr std::int32_t kPreRollMS = 300;

    // What one block lets through, oldest first: the kept pre-roll (in up to two parts, as it
    // lies in the ring) and the block itself. Empty spans stand for nothing.
    struct Pass {
        std::array<std::span<const std::int16_t>, 3> parts;
    };

    // Sets the gate up for a take of rate and channels, waiting with nothing kept. The one
    // allocation of the gate happens here: the block path allocates nothing.
    void Setup(std::int32_t rate, std::int16_t channels, double thresholdDb, std::int32_t holdMS);
    // Waiting again with nothing kept (after a pause).
    void Reset();
    // One block of whole frames, after the effects.
    Pass Block(std::span<const std::int16_t> samples);
    bool Writing() const { return writing_; }

private:
    void Keep(std::span<const std::int16_t> samples);

    std::int16_t channels_ = 1;
    // A block is sound when its peak magnitude exceeds this.
    std::int32_t thresholdPeak_ = 0;
    std::uint64_t holdSamples_ = 0;
    bool writing_ = false;
    std::uint64_t silentSamples_ = 0;
    // The pre-roll ring: the last ring_.size() samples while waiting; head_ is where the next
    // sample goes, kept_ how many it holds.
    std::vector<std::int16_t> ring_;
    std::size_t head_ = 0;
    std::size_t kept_ = 0;
};
