#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

// A wave format record as stored in a WAV file's "fmt " chunk: little-endian format tag,
// channels, samples per second, average bytes per second, block align, bits per sample,
// extra size n, then n codec-specific extra bytes (18 + n bytes in all).
class WaveFormat {
public:
    static constexpr std::uint16_t TagPcm = 1;
    // 18 = tag + channels (2 each) + rate + bytes/s (4 each) + align + bits + extra size (2 each)
    static constexpr std::size_t RecordSize = 18;

    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::vector<std::uint8_t> extra; // the extra size field is extra.size()

    // The PCM record for a rate, a channel count and a sample width: block align is
    // bits / 8 * channels and the byte rate block align * rate, both kept to their field
    // widths as the stored record does.
    static WaveFormat pcm(std::int32_t samplerate, std::int16_t channels, std::int16_t bits);

    // Reads a record; nullopt when the bytes are shorter than 18 or than 18 plus the
    // extra size they declare.
    static std::optional<WaveFormat> parse(std::span<const std::uint8_t> bytes);

    // The record's bytes, 18 + extra.size() of them.
    std::vector<std::uint8_t> bytes() const;

    bool operator==(const WaveFormat&) const = default;
};

} // namespace platform
