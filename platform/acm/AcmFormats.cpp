#include "platform/acm/AcmFormats.h"

#include <algorithm>
#include <array>

namespace platform {

namespace {

// Beyond this no capture device records, and one second of buffer would be huge.
constexpr std::int32_t MaxRate = 768000;

bool plainRate(std::int32_t rate) {
    return rate >= 1 && rate <= MaxRate;
}

void put16(std::vector<std::uint8_t>& out, std::int32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, static_cast<std::int32_t>(v & 0xFFFF));
    put16(out, static_cast<std::int32_t>(v >> 16));
}

// ADPCM blocks: 256 bytes per channel at up to 11025 Hz, doubled for each doubling of the
// rate above, as a power of two (the codec's block sizes are powers of two).
std::int32_t adpcmBlockAlign(std::int32_t rate, std::int32_t channels) {
    std::int32_t factor = 1;
    while (factor * 2 <= rate / 11025 && factor < 16) {
        factor *= 2;
    }
    return 256 * channels * factor;
}

// MPEG Layer-3 bit rates (bits per second) of each MPEG version.
bool mp3Bitrate(std::int32_t rate, std::int32_t bitrate) {
    static constexpr std::array<std::int32_t, 14> mpeg1 = {32000,  40000,  48000,  56000,  64000,
                                                           80000,  96000,  112000, 128000, 160000,
                                                           192000, 224000, 256000, 320000};
    static constexpr std::array<std::int32_t, 14> mpeg2 = {8000,   16000,  24000,  32000, 40000,
                                                           48000,  56000,  64000,  80000, 96000,
                                                           112000, 128000, 144000, 160000};
    switch (rate) {
    case 32000:
    case 44100:
    case 48000:
        return std::find(mpeg1.begin(), mpeg1.end(), bitrate) != mpeg1.end();
    case 16000:
    case 22050:
    case 24000:
        return std::find(mpeg2.begin(), mpeg2.end(), bitrate) != mpeg2.end();
    case 8000:
    case 11025:
    case 12000: // MPEG 2.5 tops out at 64 kbit/s
        return bitrate <= 64000 && std::find(mpeg2.begin(), mpeg2.end(), bitrate) != mpeg2.end();
    default:
        return false;
    }
}

std::string thousands(std::int64_t v) {
    std::string digits = std::to_string(v);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    }
    return digits;
}

} // namespace

std::optional<WaveFormat> AcmFormats::record(std::uint16_t tag, std::int32_t samplerate,
                                             std::int16_t channels, std::int32_t variant) {
    if (channels < 1 || channels > 2 || !plainRate(samplerate)) {
        return std::nullopt;
    }
    WaveFormat f;
    f.formatTag = tag;
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = static_cast<std::uint32_t>(samplerate);
    std::int64_t blockAlign = 0;
    std::int64_t bytesPerSec = 0;
    switch (tag) {
    case TagPcm:
    case TagIeeeFloat:
        if ((tag == TagPcm && variant != 8 && variant != 16) ||
            (tag == TagIeeeFloat && variant != 32)) {
            return std::nullopt;
        }
        f.bitsPerSample = static_cast<std::uint16_t>(variant);
        blockAlign = variant / 8 * channels;
        bytesPerSec = blockAlign * samplerate;
        break;
    case TagALaw:
    case TagMuLaw:
        f.bitsPerSample = 8;
        blockAlign = channels;
        bytesPerSec = std::int64_t{samplerate} * channels;
        break;
    case TagImaAdpcm:
    case TagMsAdpcm: {
        f.bitsPerSample = 4;
        blockAlign = adpcmBlockAlign(samplerate, channels);
        // IMA: a 4-byte header per channel holds the first sample; MS: 7 bytes hold two.
        const std::int32_t perBlock =
            tag == TagImaAdpcm
                ? static_cast<std::int32_t>((blockAlign - 4 * channels) * 2 / channels + 1)
                : static_cast<std::int32_t>((blockAlign - 7 * channels) * 2 / channels + 2);
        bytesPerSec = std::int64_t{samplerate} * blockAlign / perBlock;
        put16(f.extra, perBlock);
        if (tag == TagMsAdpcm) {
            // The seven predictor coefficient pairs every MS ADPCM stream starts with.
            static constexpr std::array<std::int16_t, 14> coefficients = {
                256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
            put16(f.extra, 7);
            for (const std::int16_t c : coefficients) {
                put16(f.extra, c);
            }
        }
        break;
    }
    case TagGsm610:
        if (channels != 1 || (samplerate != 8000 && samplerate != 11025 && samplerate != 22050 &&
                              samplerate != 44100)) {
            return std::nullopt;
        }
        // 65 bytes hold two 160-sample frames.
        blockAlign = 65;
        bytesPerSec = std::int64_t{samplerate} * 65 / 320;
        put16(f.extra, 320);
        break;
    case TagMpegLayer3: {
        if (!mp3Bitrate(samplerate, variant)) {
            return std::nullopt;
        }
        blockAlign = 1;
        bytesPerSec = variant / 8;
        // A frame of n samples takes n / 8 · bitrate / rate bytes; n is 1152 in MPEG-1 (32000
        // Hz and above), 576 in MPEG-2 and 2.5 (below).
        const std::int32_t bytesPerFrameUnit = samplerate >= 32000 ? 1152 / 8 : 576 / 8;
        put16(f.extra, 1);                                        // wID: MPEG audio
        put32(f.extra, 2);                                        // fdwFlags: no padding
        put16(f.extra, bytesPerFrameUnit * variant / samplerate); // nBlockSize: one frame
        put16(f.extra, 1);                                        // nFramesPerBlock
        put16(f.extra, 1393);                                     // nCodecDelay
        break;
    }
    default:
        return std::nullopt;
    }
    f.blockAlign = static_cast<std::uint16_t>(blockAlign);
    f.avgBytesPerSec = static_cast<std::uint32_t>(bytesPerSec);
    return f;
}

std::int32_t AcmFormats::samplesPerBlock(const WaveFormat& f) {
    switch (f.formatTag) {
    case TagImaAdpcm:
    case TagMsAdpcm:
    case TagGsm610:
        return f.extra.size() >= 2 ? (f.extra[0] | (f.extra[1] << 8)) : 0;
    case TagMpegLayer3:
        return f.samplesPerSec >= 32000 ? 1152 : 576; // MPEG-1 frames, MPEG-2 and 2.5 frames
    default:
        return 0;
    }
}

std::string AcmFormats::tagName(std::uint16_t tag) {
    switch (tag) {
    case TagPcm:
        return "PCM";
    case TagMsAdpcm:
        return "Microsoft ADPCM";
    case TagIeeeFloat:
        return "IEEE Float";
    case TagALaw:
        return "CCITT A-Law";
    case TagMuLaw:
        return "CCITT u-Law";
    case TagImaAdpcm:
        return "IMA ADPCM";
    case TagGsm610:
        return "GSM 6.10";
    case TagMpegLayer3:
        return "MPEG Layer-3";
    default:
        return "";
    }
}

std::string AcmFormats::text(const WaveFormat& f) {
    std::string t;
    if (f.formatTag == TagMpegLayer3) {
        t = std::to_string(f.avgBytesPerSec * 8 / 1000) + " kBit/s, ";
    }
    t += thousands(f.samplesPerSec) + " Hz";
    if (f.bitsPerSample != 0) {
        t += ", " + std::to_string(f.bitsPerSample) + " Bit";
    }
    t += f.channels == 2 ? ", Stereo" : ", Mono";
    return t;
}

std::vector<AcmFormatChoice> AcmFormats::convertibleFrom(const WaveFormat& source) {
    std::vector<AcmFormatChoice> choices;
    if (source.formatTag != TagPcm || source.bitsPerSample != 16 || source.channels < 1 ||
        source.channels > 2 || !plainRate(static_cast<std::int32_t>(source.samplesPerSec))) {
        return choices;
    }
    std::vector<std::int32_t> rates = {8000, 11025, 22050, 44100, 48000};
    const auto own = static_cast<std::int32_t>(source.samplesPerSec);
    if (std::find(rates.begin(), rates.end(), own) == rates.end()) {
        rates.insert(std::upper_bound(rates.begin(), rates.end(), own), own);
    }
    struct Type {
        std::uint16_t tag;
        std::vector<std::int32_t> variants;
    };
    const std::array<Type, 8> types = {{
        {TagPcm, {8, 16}},
        {TagIeeeFloat, {32}},
        {TagImaAdpcm, {0}},
        {TagMsAdpcm, {0}},
        {TagALaw, {0}},
        {TagMuLaw, {0}},
        {TagGsm610, {0}},
        {TagMpegLayer3, {16000, 32000, 64000, 96000, 128000, 192000}},
    }};
    for (const Type& type : types) {
        for (const std::int32_t rate : rates) {
            for (const std::int16_t channels : {std::int16_t{1}, std::int16_t{2}}) {
                for (const std::int32_t variant : type.variants) {
                    if (const auto f = record(type.tag, rate, channels, variant)) {
                        choices.push_back({tagName(type.tag), f->bytes(), text(*f)});
                    }
                }
            }
        }
    }
    return choices;
}

} // namespace platform
