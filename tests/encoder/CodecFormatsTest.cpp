#include "encoder/EncoderWAV.h"

#include "AudioProbe.h"
#include "TempDir.h"
#include "platform/acm/AcmFormats.h"
#include "platform/acm/FfmpegAcmService.h"
#include "platform/acm/FfmpegAcmStream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

using platform::AcmFormats;
using platform::WaveFormat;

namespace {

struct CodecCase {
    std::uint16_t tag;
    std::int32_t variant; // bits for PCM and float, bit rate for MPEG Layer-3
    std::int32_t rate;
    std::int16_t channels;
};

std::string caseName(const ::testing::TestParamInfo<CodecCase>& info) {
    const CodecCase& c = info.param;
    std::string name = AcmFormats::tagName(c.tag);
    std::erase_if(name, [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); });
    return name + "_" + std::to_string(c.variant) + "_" + std::to_string(c.rate) +
           (c.channels == 2 ? "_Stereo" : "_Mono");
}

// Each format at 8000, 22050 and 44100 Hz, mono and stereo, where its codec allows.
std::vector<CodecCase> allCases() {
    std::vector<CodecCase> cases;
    const std::pair<std::uint16_t, std::int32_t> types[] = {
        {AcmFormats::TagPcm, 8},      {AcmFormats::TagPcm, 16},    {AcmFormats::TagIeeeFloat, 32},
        {AcmFormats::TagImaAdpcm, 0}, {AcmFormats::TagMsAdpcm, 0}, {AcmFormats::TagALaw, 0},
        {AcmFormats::TagMuLaw, 0},    {AcmFormats::TagGsm610, 0},  {AcmFormats::TagMpegLayer3, 0}};
    for (const auto& [tag, bits] : types) {
        for (const std::int32_t rate : {8000, 22050, 44100}) {
            for (const std::int16_t channels : {std::int16_t{1}, std::int16_t{2}}) {
                const std::int32_t variant = tag == AcmFormats::TagMpegLayer3
                                                 ? (rate == 44100   ? 128000
                                                    : rate == 22050 ? 64000
                                                                    : 32000)
                                                 : bits;
                if (AcmFormats::record(tag, rate, channels, variant)) {
                    cases.push_back({tag, variant, rate, channels});
                }
            }
        }
    }
    return cases;
}

constexpr double ToneHz = 1000.0;

// One second of a 1 kHz tone, 44100 Hz stereo, as a recording delivers it.
std::vector<std::int16_t> toneSecond() {
    std::vector<std::int16_t> s;
    for (int i = 0; i < 44100; ++i) {
        const auto v = static_cast<std::int16_t>(
            std::lrint(12000.0 * std::sin(2.0 * std::numbers::pi * ToneHz * i / 44100)));
        s.push_back(v);
        s.push_back(v);
    }
    return s;
}

// The same second converted to 16-bit PCM at the format's rate and channels.
std::vector<std::int16_t> pcmReference(const std::vector<std::int16_t>& input, std::int32_t rate,
                                       std::int16_t channels) {
    auto stream = platform::FfmpegAcmStream::open(WaveFormat::pcm(44100, 2, 16),
                                                  WaveFormat::pcm(rate, channels, 16));
    std::vector<std::uint8_t> source(reinterpret_cast<const std::uint8_t*>(input.data()),
                                     reinterpret_cast<const std::uint8_t*>(input.data()) +
                                         input.size() * 2);
    std::int32_t room = 0;
    stream->size(static_cast<std::int32_t>(source.size()), room);
    std::vector<std::uint8_t> destination(static_cast<std::size_t>(room));
    platform::AcmStreamHeader header{
        source.data(), static_cast<std::int32_t>(source.size()), 0, destination.data(), room, 0};
    stream->prepareHeader(header);
    stream->convert(header, platform::AcmConvert::End);
    stream->unprepareHeader(header);
    std::vector<std::int16_t> out(static_cast<std::size_t>(header.destinationLengthUsed / 2));
    if (!out.empty()) {
        std::memcpy(out.data(), destination.data(), out.size() * 2);
    }
    return out;
}

// The tone's frequency from its rising passes through +-3000 in the first channel, so the
// silence a codec pads with and its low-level noise count for nothing.
double frequencyOf(const std::vector<std::int16_t>& samples, int channels, std::int32_t rate) {
    int rising = 0;
    bool low = false;
    std::size_t first = 0, last = 0;
    for (std::size_t i = 0; i < samples.size(); i += static_cast<std::size_t>(channels)) {
        if (samples[i] < -3000) {
            low = true;
        } else if (low && samples[i] > 3000) {
            low = false;
            (rising == 0 ? first : last) = i / static_cast<std::size_t>(channels);
            ++rising;
        }
    }
    return rising < 2 ? 0.0 : (rising - 1) * static_cast<double>(rate) / (last - first);
}

class CodecFormat : public ::testing::TestWithParam<CodecCase> {};

} // namespace

// One second of tone through the encoder as a recording goes (10240-byte blocks): the
// readers agree with the record, decode about one second, and hear the tone.
TEST_P(CodecFormat, OneSecondOfToneMakesAFileReadersAgreeWith) {
    const CodecCase c = GetParam();
    const auto record = *AcmFormats::record(c.tag, c.rate, c.channels, c.variant);
    TempDir dir;
    const std::string path = dir.file("tone.wav");
    const auto input = toneSecond();
    {
        EncoderWAV enc;
        enc.SetFormat(record.bytes(), AcmFormats::text(record), AcmFormats::tagName(c.tag));
        ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
        for (std::int32_t at = 0; at < 176400; at += 10240) {
            std::int32_t used = 0;
            const std::int32_t n = std::min(10240, 176400 - at);
            ASSERT_EQ(enc.Encoder_Encode(bytes + at, n, used), 0);
            ASSERT_EQ(used, n);
        }
        ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    }

    const auto file = audioprobe::readFile(path);
    ASSERT_GT(file.size(), 20u + record.bytes().size());
    EXPECT_EQ(file[16] | (file[17] << 8), static_cast<int>(18 + record.extra.size()));
    EXPECT_EQ(
        std::vector<std::uint8_t>(file.begin() + 20, file.begin() + 20 + 18 + record.extra.size()),
        record.bytes());

    const auto probe = audioprobe::ffprobe(path);
    ASSERT_TRUE(probe.ok) << probe.text;
    EXPECT_EQ(probe.codecTag, c.tag);
    EXPECT_EQ(probe.channels, c.channels);
    EXPECT_EQ(probe.sampleRate, c.rate);
    EXPECT_EQ(probe.bitRate, std::int64_t{record.avgBytesPerSec} * 8);
    EXPECT_EQ(probe.extradata, record.extra);

    if (c.tag == AcmFormats::TagMpegLayer3) {
        // The record's block size is the size of the file's MPEG frames (1152 samples at 32000
        // Hz and above, 576 below), each one byte longer where the encoder pads it.
        const std::int32_t blockSize = record.extra[6] | (record.extra[7] << 8);
        const auto frames = audioprobe::packetSizes(path);
        ASSERT_GT(frames.size(), 10u);
        for (const std::int64_t frame : frames) {
            ASSERT_TRUE(frame == blockSize || frame == blockSize + 1) << frame << " " << blockSize;
        }
    } else { // sox's WAV reader does not take MPEG audio
        const auto sox = audioprobe::soxWavHeader(path);
        ASSERT_TRUE(sox.ok) << sox.text;
        EXPECT_EQ(sox.blockAlign, record.blockAlign);
        EXPECT_EQ(sox.bytesPerSecond, record.avgBytesPerSec);
    }

    bool ok = false;
    const auto decoded = audioprobe::decodeWithFfmpeg(path, ok);
    ASSERT_TRUE(ok);
    const auto frames = static_cast<std::int64_t>(decoded.size()) / c.channels;
    // Within one codec block of a second; MPEG Layer-3 adds its encoder delay.
    std::int64_t slack = std::max(AcmFormats::samplesPerBlock(record), 1);
    if (c.tag == AcmFormats::TagMpegLayer3) {
        slack = 2 * 1152 + 1393;
    }
    EXPECT_GE(frames, c.rate);
    EXPECT_LE(frames, c.rate + slack);
    EXPECT_NEAR(frequencyOf(decoded, c.channels, c.rate), ToneHz, ToneHz * 0.01);

    // Sample formats and the logarithmic 8-bit codecs stay within their quantisation.
    const auto reference = pcmReference(input, c.rate, c.channels);
    double tolerance = -1;
    switch (c.tag) {
    case AcmFormats::TagPcm:
        tolerance = c.variant == 8 ? 256 : 0;
        break;
    case AcmFormats::TagIeeeFloat:
        tolerance = 4; // the float resampler and the 16-bit reference one differ slightly
        break;
    case AcmFormats::TagALaw:
    case AcmFormats::TagMuLaw:
        tolerance = 1.0 / 16; // relative: half a step of the 16-step segments
        break;
    default:
        break;
    }
    if (tolerance >= 0) {
        // The level survives resampling: the tone's peak past the filter's start-up.
        const auto middle = decoded.begin() + static_cast<std::ptrdiff_t>(decoded.size() / 4);
        EXPECT_NEAR(
            *std::max_element(middle, middle + static_cast<std::ptrdiff_t>(decoded.size() / 2)),
            12000, 12000 / 16 + 256);
        ASSERT_EQ(decoded.size(), reference.size());
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            const double allowed = c.tag == AcmFormats::TagALaw || c.tag == AcmFormats::TagMuLaw
                                       ? std::abs(reference[i]) * tolerance + 16
                                       : tolerance;
            ASSERT_LE(std::abs(decoded[i] - reference[i]), allowed) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachFormat, CodecFormat, ::testing::ValuesIn(allCases()), caseName);

// The records follow the WAV conventions of each codec.
TEST(AcmFormatsRecord, CodecRecordsAsWavReadersExpectThem) {
    const auto ima = *AcmFormats::record(AcmFormats::TagImaAdpcm, 22050, 1);
    EXPECT_EQ(ima.blockAlign, 512);
    EXPECT_EQ(ima.avgBytesPerSec, 11100u); // 22050 * 512 / 1017
    EXPECT_EQ(ima.extra, (std::vector<std::uint8_t>{0xF9, 0x03}));
    EXPECT_EQ(AcmFormats::samplesPerBlock(ima), 1017);

    const auto ms = *AcmFormats::record(AcmFormats::TagMsAdpcm, 8000, 2);
    EXPECT_EQ(ms.blockAlign, 512);
    EXPECT_EQ(AcmFormats::samplesPerBlock(ms), 500);
    EXPECT_EQ(ms.bytes().size(), 50u);

    const auto gsm = *AcmFormats::record(AcmFormats::TagGsm610, 8000, 1);
    EXPECT_EQ(gsm.avgBytesPerSec, 1625u);
    EXPECT_FALSE(AcmFormats::record(AcmFormats::TagGsm610, 8000, 2));

    const auto mp3 = *AcmFormats::record(AcmFormats::TagMpegLayer3, 44100, 2, 128000);
    EXPECT_EQ(mp3.avgBytesPerSec, 16000u);
    EXPECT_EQ(mp3.extra,
              (std::vector<std::uint8_t>{1, 0, 2, 0, 0, 0, 0xA1, 0x01, 1, 0, 0x71, 0x05}));
    EXPECT_FALSE(AcmFormats::record(AcmFormats::TagMpegLayer3, 44100, 2, 100000));
    EXPECT_FALSE(AcmFormats::record(AcmFormats::TagMpegLayer3, 12345, 2, 128000));
    EXPECT_FALSE(AcmFormats::record(0x1234, 44100, 2));
}

TEST(AcmFormatsList, FormatsConvertibleFromPcm) {
    platform::FfmpegAcmService acm;
    const auto list = acm.convertibleFormats(WaveFormat::pcm(12345, 2, 16).bytes());
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().tagName, "PCM");
    EXPECT_EQ(list.front().text, "8,000 Hz, 8 Bit, Mono");
    const auto has = [&](const std::string& tag, const std::string& text) {
        return std::any_of(list.begin(), list.end(), [&](const platform::AcmFormatChoice& c) {
            return c.tagName == tag && c.text == text;
        });
    };
    EXPECT_TRUE(has("PCM", "44,100 Hz, 16 Bit, Stereo"));
    EXPECT_TRUE(has("PCM", "12,345 Hz, 16 Bit, Stereo")); // the recording's own rate
    EXPECT_TRUE(has("IMA ADPCM", "22,050 Hz, 4 Bit, Mono"));
    EXPECT_TRUE(has("GSM 6.10", "8,000 Hz, Mono"));
    EXPECT_FALSE(has("GSM 6.10", "8,000 Hz, Stereo"));
    EXPECT_TRUE(has("MPEG Layer-3", "128 kBit/s, 44,100 Hz, Stereo"));
    // Every record on the list opens a stream from the source.
    for (const auto& choice : list) {
        EXPECT_TRUE(acm.open(WaveFormat::pcm(12345, 2, 16).bytes(), choice.record))
            << choice.tagName << " " << choice.text;
    }
    EXPECT_TRUE(acm.convertibleFormats(WaveFormat::pcm(44100, 2, 8).bytes()).empty());
}
