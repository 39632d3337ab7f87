#include "platform/acm/FfmpegAcmStream.h"
#include "platform/acm/AcmFormats.h"
#include "platform/acm/WaveFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

using platform::AcmConvert;
using platform::AcmStreamHeader;
using platform::FfmpegAcmStream;
using platform::WaveFormat;

namespace {

// A tone of 1 kHz at half scale, the same in every channel.
std::vector<std::int16_t> tone(std::int32_t rate, int channels, std::int64_t frames) {
    std::vector<std::int16_t> samples;
    samples.reserve(static_cast<std::size_t>(frames * channels));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double v = 16384.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / rate);
        for (int c = 0; c < channels; ++c) {
            samples.push_back(static_cast<std::int16_t>(std::lrint(v)));
        }
    }
    return samples;
}

// Runs the input through a stream the way the encoder does: one second of source buffer,
// blocks of blockBytes (the last one shorter), the unconsumed tail of a block offered
// again with the next one, then the End conversion.
struct Converted {
    std::vector<std::uint8_t> bytes;
    std::int64_t consumed = 0;
};

Converted convertInBlocks(FfmpegAcmStream& stream, const WaveFormat& in,
                          const std::vector<std::int16_t>& input, std::int32_t blockBytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(input.data());
    const auto total = static_cast<std::int64_t>(input.size() * 2);
    std::vector<std::uint8_t> source(in.avgBytesPerSec);
    std::int32_t capacity = 0;
    EXPECT_TRUE(stream.size(static_cast<std::int32_t>(source.size()), capacity));
    std::vector<std::uint8_t> destination(static_cast<std::size_t>(capacity));
    AcmStreamHeader header;
    header.source = source.data();
    header.sourceLength = static_cast<std::int32_t>(source.size());
    header.destination = destination.data();
    header.destinationLength = capacity;
    EXPECT_TRUE(stream.prepareHeader(header));

    Converted out;
    std::int64_t at = 0;
    while (at < total) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(blockBytes, total - at));
        std::copy(data + at, data + at + n, source.begin());
        header.sourceLength = n;
        EXPECT_TRUE(stream.convert(header, AcmConvert::BlockAlign));
        EXPECT_EQ(header.sourceLengthUsed, n / in.blockAlign * in.blockAlign);
        EXPECT_LE(header.destinationLengthUsed, capacity);
        out.bytes.insert(out.bytes.end(), destination.begin(),
                         destination.begin() + header.destinationLengthUsed);
        if (header.sourceLengthUsed == 0) {
            break;
        }
        at += header.sourceLengthUsed;
    }
    out.consumed = at;
    header.sourceLength = 0;
    EXPECT_TRUE(stream.convert(header, AcmConvert::End));
    out.bytes.insert(out.bytes.end(), destination.begin(),
                     destination.begin() + header.destinationLengthUsed);
    EXPECT_TRUE(stream.unprepareHeader(header));
    return out;
}

std::vector<std::int16_t> asSamples(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int16_t> s(bytes.size() / 2);
    if (!s.empty()) {
        std::memcpy(s.data(), bytes.data(), s.size() * 2);
    }
    return s;
}

struct RatePair {
    std::int32_t inRate;
    std::int16_t inChannels;
    std::int32_t outRate;
    std::int16_t outChannels;
};

class PcmConversion : public ::testing::TestWithParam<RatePair> {};

} // namespace

// Whatever the block sizes, the output is the same as one conversion of the whole input,
// and after the End conversion it holds in * out_rate / in_rate frames (rounded up: an
// output frame for every output instant before the end of the input).
TEST_P(PcmConversion, BlocksLoseNothingAndTheTotalFollowsTheRateRatio) {
    const RatePair p = GetParam();
    const auto in = WaveFormat::pcm(p.inRate, p.inChannels, 16);
    const auto out = WaveFormat::pcm(p.outRate, p.outChannels, 16);
    const std::int64_t frames = p.inRate * 3 / 2 + 7; // 1.5 s and a few frames
    const auto input = tone(p.inRate, p.inChannels, frames);

    auto whole = FfmpegAcmStream::open(in, out);
    ASSERT_TRUE(whole);
    // One conversion per second of input (the largest block the encoder offers).
    const auto reference =
        convertInBlocks(*whole, in, input, static_cast<std::int32_t>(in.avgBytesPerSec));

    // 10240-byte blocks, and blocks that end in half a frame.
    for (const std::int32_t block : {10240, 4093, 333}) {
        SCOPED_TRACE(block);
        auto stream = FfmpegAcmStream::open(in, out);
        ASSERT_TRUE(stream);
        const auto result = convertInBlocks(*stream, in, input, block);
        EXPECT_EQ(result.consumed, frames * in.blockAlign);
        EXPECT_EQ(result.bytes, reference.bytes);
    }
    const std::int64_t expectedFrames = (frames * p.outRate + p.inRate - 1) / p.inRate;
    EXPECT_EQ(static_cast<std::int64_t>(reference.bytes.size()), expectedFrames * out.blockAlign);
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndChannels, PcmConversion,
    ::testing::Values(RatePair{44100, 2, 44100, 2}, RatePair{22050, 1, 44100, 2},
                      RatePair{44100, 2, 8000, 1}, RatePair{8000, 1, 48000, 2},
                      RatePair{44100, 2, 22050, 2}, RatePair{11025, 1, 44100, 1},
                      RatePair{48000, 2, 44100, 2}, RatePair{12345, 2, 44100, 1}),
    [](const ::testing::TestParamInfo<RatePair>& info) {
        const RatePair& p = info.param;
        return "From" + std::to_string(p.inRate) + "x" + std::to_string(p.inChannels) + "To" +
               std::to_string(p.outRate) + "x" + std::to_string(p.outChannels);
    });

namespace {

std::vector<std::int16_t> convertOnce(const WaveFormat& in, const WaveFormat& out,
                                      std::vector<std::int16_t> input) {
    auto stream = FfmpegAcmStream::open(in, out);
    EXPECT_TRUE(stream);
    if (!stream) {
        return {};
    }
    return asSamples(convertInBlocks(*stream, in, input, 10240).bytes);
}

} // namespace

// At one rate, mono becomes stereo by copying the channel and stereo becomes mono as the
// mean of both, sample for sample.
TEST(PcmChannels, CopiedUpAndAveragedDown) {
    const std::vector<std::int16_t> mono = {0, 1, -1, 32767, -32768, 1000, -12345, 7};
    const auto stereo =
        convertOnce(WaveFormat::pcm(22050, 1, 16), WaveFormat::pcm(22050, 2, 16), mono);
    ASSERT_EQ(stereo.size(), mono.size() * 2);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        EXPECT_EQ(stereo[2 * i], mono[i]) << i;
        EXPECT_EQ(stereo[2 * i + 1], mono[i]) << i;
    }

    const std::vector<std::int16_t> pairs = {100,   300,    -200,   -400, 32767,
                                             32767, -32768, -32768, 1000, -1000};
    const auto mixed =
        convertOnce(WaveFormat::pcm(8000, 2, 16), WaveFormat::pcm(8000, 1, 16), pairs);
    const std::vector<std::int16_t> expected = {200, -300, 32767, -32768, 0};
    EXPECT_EQ(mixed, expected);
}

// Only 16-bit PCM with 1 or 2 channels goes in, and only consistent records of the
// formats the stream writes come out.
TEST(FfmpegAcmStreamOpen, RefusesFormatsItCannotConvert) {
    const auto pcm16 = WaveFormat::pcm(44100, 2, 16);
    EXPECT_TRUE(FfmpegAcmStream::open(pcm16, pcm16));
    EXPECT_FALSE(FfmpegAcmStream::open(WaveFormat::pcm(44100, 2, 8), pcm16));
    EXPECT_FALSE(FfmpegAcmStream::open(WaveFormat::pcm(44100, 3, 16), pcm16));
    EXPECT_FALSE(FfmpegAcmStream::open(pcm16, WaveFormat::pcm(44100, 3, 16)));
    EXPECT_FALSE(FfmpegAcmStream::open(pcm16, WaveFormat::pcm(44100, 2, 24)));
    EXPECT_FALSE(FfmpegAcmStream::open(pcm16, WaveFormat::pcm(0, 2, 16)));
    auto unknown = pcm16;
    unknown.formatTag = 0x1234;
    EXPECT_FALSE(FfmpegAcmStream::open(pcm16, unknown));
    auto badAlign = pcm16;
    badAlign.blockAlign = 3;
    EXPECT_FALSE(FfmpegAcmStream::open(pcm16, badAlign));
    auto badRate = pcm16;
    badRate.avgBytesPerSec = 44100;
    EXPECT_FALSE(FfmpegAcmStream::open(pcm16, badRate));
}

// Conversions go only through the prepared header and within its prepared lengths.
TEST(FfmpegAcmStreamHeader, ConvertsOnlyThroughThePreparedHeader) {
    const auto pcm = WaveFormat::pcm(8000, 1, 16);
    auto stream = FfmpegAcmStream::open(pcm, pcm);
    ASSERT_TRUE(stream);
    std::int32_t capacity = 0;
    ASSERT_TRUE(stream->size(16000, capacity));
    EXPECT_GE(capacity, 16000);
    std::vector<std::uint8_t> source(16000, 1), destination(static_cast<std::size_t>(capacity));
    AcmStreamHeader header{source.data(), 16000, 0, destination.data(), capacity, 0};
    AcmStreamHeader other = header;

    EXPECT_FALSE(stream->convert(header, AcmConvert::BlockAlign)); // not prepared
    ASSERT_TRUE(stream->prepareHeader(header));
    EXPECT_FALSE(stream->prepareHeader(other)); // one header at a time
    EXPECT_FALSE(stream->convert(other, AcmConvert::BlockAlign));
    header.sourceLength = 16001;
    EXPECT_FALSE(stream->convert(header, AcmConvert::BlockAlign));
    EXPECT_EQ(header.sourceLengthUsed, 0);
    header.sourceLength = 101; // 50 frames and half of one
    EXPECT_TRUE(stream->convert(header, AcmConvert::BlockAlign));
    EXPECT_EQ(header.sourceLengthUsed, 100);
    EXPECT_EQ(header.destinationLengthUsed, 100);
    EXPECT_FALSE(stream->unprepareHeader(other));
    EXPECT_TRUE(stream->unprepareHeader(header));
    EXPECT_FALSE(stream->convert(header, AcmConvert::BlockAlign));
}

// Codec output that does not fit the destination is kept and delivered first by the next
// conversions: in small pieces, the bytes are the same as with room for everything.
TEST(FfmpegAcmStreamCodec, OutputBeyondTheDestinationComesWithTheNextCalls) {
    const auto in = WaveFormat::pcm(22050, 1, 16);
    const auto ima = *platform::AcmFormats::record(platform::AcmFormats::TagImaAdpcm, 22050, 1);
    const auto input = tone(22050, 1, 22050);
    auto roomy = FfmpegAcmStream::open(in, ima);
    ASSERT_TRUE(roomy);
    const auto expected = convertInBlocks(*roomy, in, input, 10240).bytes;
    ASSERT_EQ(expected.size(), 22u * 512u); // 22050 samples in blocks of 1017

    auto stream = FfmpegAcmStream::open(in, ima);
    ASSERT_TRUE(stream);
    std::vector<std::uint8_t> source(reinterpret_cast<const std::uint8_t*>(input.data()),
                                     reinterpret_cast<const std::uint8_t*>(input.data()) + 44100);
    std::vector<std::uint8_t> destination(300);
    AcmStreamHeader header{source.data(), 44100, 0, destination.data(), 300, 0};
    ASSERT_TRUE(stream->prepareHeader(header));
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(stream->convert(header, AcmConvert::BlockAlign));
    EXPECT_EQ(header.sourceLengthUsed, 44100);
    got.insert(got.end(), destination.begin(), destination.begin() + header.destinationLengthUsed);
    header.sourceLength = 0;
    for (int call = 0; call < 100 && got.size() < expected.size(); ++call) {
        ASSERT_TRUE(stream->convert(header, call < 50 ? AcmConvert::BlockAlign : AcmConvert::End));
        got.insert(got.end(), destination.begin(),
                   destination.begin() + header.destinationLengthUsed);
    }
    EXPECT_EQ(got, expected);
}
