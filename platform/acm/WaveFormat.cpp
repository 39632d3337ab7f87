#include "platform/acm/WaveFormat.h"

#include <cmath>

namespace platform {

namespace {

std::uint16_t read16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t read32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

} // namespace

WaveFormat WaveFormat::pcm(std::int32_t samplerate, std::int16_t channels, std::int16_t bits) {
    WaveFormat f;
    f.formatTag = TagPcm;
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = static_cast<std::uint32_t>(samplerate);
    // bits / 8 * channels, rounded to the nearest integer (halves to even) as the record's
    // 16-bit field holds it.
    const double align = std::nearbyint(bits / 8.0 * channels);
    f.blockAlign = static_cast<std::uint16_t>(static_cast<std::int64_t>(align));
    // block align * rate in the 32-bit field: wraps like the stored field for absurd rates.
    f.avgBytesPerSec = static_cast<std::uint32_t>(static_cast<std::int64_t>(f.blockAlign) *
                                                  static_cast<std::int64_t>(samplerate));
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
    return f;
}

std::optional<WaveFormat> WaveFormat::parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < RecordSize) {
        return std::nullopt;
    }
    WaveFormat f;
    f.formatTag = read16(bytes, 0);
    f.channels = read16(bytes, 2);
    f.samplesPerSec = read32(bytes, 4);
    f.avgBytesPerSec = read32(bytes, 8);
    f.blockAlign = read16(bytes, 12);
    f.bitsPerSample = read16(bytes, 14);
    const std::size_t extraSize = read16(bytes, 16);
    if (bytes.size() < RecordSize + extraSize) {
        return std::nullopt;
    }
    f.extra.assign(bytes.begin() + RecordSize, bytes.begin() + RecordSize + extraSize);
    return f;
}

std::vector<std::uint8_t> WaveFormat::bytes() const {
    std::vector<std::uint8_t> out;
    out.reserve(RecordSize + extra.size());
    put16(out, formatTag);
    put16(out, channels);
    put32(out, samplesPerSec);
    put32(out, avgBytesPerSec);
    put16(out, blockAlign);
    put16(out, bitsPerSample);
    put16(out, static_cast<std::uint16_t>(extra.size()));
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

} // namespace platform
