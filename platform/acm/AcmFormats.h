#pragma once

#include "platform/acm/WaveFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One output format on offer: the format type's name, the record and its description.
struct AcmFormatChoice {
    std::string tagName;              // e.g. "IMA ADPCM"
    std::vector<std::uint8_t> record; // the wave format record with its extra bytes
    std::string text;                 // e.g. "22,050 Hz, 4 Bit, Mono"
};

// The output formats of Vocarn's conversion streams and the exact records a WAV file
// stores for them: block align, bytes per second (from the codec's block, not its bit
// rate) and extra bytes as WAV readers expect them.
class AcmFormats {
public:
    static constexpr std::uint16_t TagPcm = 0x0001;
    static constexpr std::uint16_t TagMsAdpcm = 0x0002;
    static constexpr std::uint16_t TagIeeeFloat = 0x0003;
    static constexpr std::uint16_t TagALaw = 0x0006;
    static constexpr std::uint16_t TagMuLaw = 0x0007;
    static constexpr std::uint16_t TagImaAdpcm = 0x0011;
    static constexpr std::uint16_t TagGsm610 = 0x0031;
    static constexpr std::uint16_t TagMpegLayer3 = 0x0055;

    // The record for a format type at a rate and channel count; variant is the sample width
    // for PCM (8 or 16) and IEEE float (32) and the bit rate in bits per second for MPEG
    // Layer-3, unused otherwise. nullopt when the codec cannot take these values.
    static std::optional<WaveFormat> record(std::uint16_t tag, std::int32_t samplerate,
                                            std::int16_t channels, std::int32_t variant = 0);

    // Samples per channel in one codec block (what one encoder frame takes): 0 for formats
    // without blocks (PCM, IEEE float, A-law, u-law); for MPEG Layer-3 1152 at 32000 Hz and
    // above (MPEG-1), 576 below (MPEG-2 and 2.5).
    static std::int32_t samplesPerBlock(const WaveFormat& f);

    // "PCM", "IMA ADPCM", ... ; "" for a tag Vocarn does not write.
    static std::string tagName(std::uint16_t tag);
    // "44,100 Hz, 16 Bit, Stereo"; no Bit part when the record has 0 bits per sample
    // (GSM 6.10, MPEG Layer-3), whose text starts with the bit rate: "128 kBit/s, ...".
    static std::string text(const WaveFormat& f);

    // Every output format the 16-bit PCM source can be converted into, grouped by type in
    // the order PCM, IEEE Float, IMA ADPCM, Microsoft ADPCM, CCITT A-Law, CCITT u-Law,
    // GSM 6.10, MPEG Layer-3; within a type by rate, channels and width or bit rate.
    // Empty when the source is not 16-bit PCM with 1 or 2 channels.
    static std::vector<AcmFormatChoice> convertibleFrom(const WaveFormat& source);
};

} // namespace platform
