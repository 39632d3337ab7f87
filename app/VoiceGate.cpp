#include "app/VoiceGate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void VoiceGate::Setup(std::int32_t rate, std::int16_t channels, double thresholdDb,
                      std::int32_t holdMS) {
    channels_ = std::max<std::int16_t>(channels, 1);
    // -96 dBFS and below lets every non-zero sample through; 0 dBFS and above nothing but a
    // full-scale one.
    const double peak = 32768.0 * std::pow(10.0, std::min(thresholdDb, 0.0) / 20.0);
    thresholdPeak_ = static_cast<std::int32_t>(std::floor(std::min(peak, 32767.0)));
    const auto samplesOf = [&](std::int64_t ms) {
        return static_cast<std::uint64_t>(std::llround(static_cast<double>(ms) * rate / 1000.0)) *
               static_cast<std::uint64_t>(channels_);
    };
    holdSamples_ = samplesOf(std::max(holdMS, 0));
    ring_.assign(samplesOf(kPreRollMS), 0);
    Reset();
}

void VoiceGate::Reset() {
    writing_ = false;
    silentSamples_ = 0;
    head_ = 0;
    kept_ = 0;
}

VoiceGate::Pass VoiceGate::Block(std::span<const std::int16_t> samples) {
    std::int32_t peak = 0;
    for (const std::int16_t s : samples) {
        peak = std::max(peak, std::abs(static_cast<std::int32_t>(s)));
    }
    const bool sound = peak > thresholdPeak_;
    Pass pass{};
    if (writing_) {
        silentSamples_ = sound ? 0 : silentSamples_ + samples.size();
        pass.parts[2] = samples;
        if (silentSamples_ >= holdSamples_ && !sound) {
            Reset();
        }
        return pass;
    }
    if (!sound) {
        Keep(samples);
        return pass;
    }
    // The kept samples, oldest first: from the oldest one to the ring's end, then from its
    // start. The ring is empty afterwards; its samples stay where they are until the next
    // block is kept.
    const std::size_t oldest =
        (head_ + ring_.size() - kept_) % std::max<std::size_t>(ring_.size(), 1);
    const std::size_t first = std::min(kept_, ring_.size() - oldest);
    pass.parts[0] = std::span<const std::int16_t>(ring_).subspan(oldest, first);
    pass.parts[1] = std::span<const std::int16_t>(ring_).first(kept_ - first);
    pass.parts[2] = samples;
    kept_ = 0;
    head_ = 0;
    writing_ = true;
    silentSamples_ = 0;
    return pass;
}

void VoiceGate::Keep(std::span<const std::int16_t> samples) {
    if (ring_.empty()) {
        return;
    }
    // Only the last ring_.size() samples of the block can stay.
    if (samples.size() >= ring_.size()) {
        samples = samples.last(ring_.size());
    }
    const std::size_t tail = std::min(samples.size(), ring_.size() - head_);
    std::copy_n(samples.begin(), tail, ring_.begin() + static_cast<std::ptrdiff_t>(head_));
    std::copy(samples.begin() + static_cast<std::ptrdiff_t>(tail), samples.end(), ring_.begin());
    head_ = (head_ + samples.size()) % ring_.size();
    kept_ = std::min(kept_ + samples.size(), ring_.size());
}
