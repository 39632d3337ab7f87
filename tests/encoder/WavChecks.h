#pragma once

#include "AudioProbe.h"
#include "encoder/EncoderWAV.h"
#include "platform/acm/WaveFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Checks of the WAV files the encoder writes, shared by the encoder's tests.

// Interleaved samples that differ from frame to frame and channel to channel, so a lost,
// doubled or reordered sample shows.
inline std::vector<std::int16_t> ramp(std::int64_t frames, int channels) {
    std::vector<std::int16_t> s;
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            s.push_back(static_cast<std::int16_t>((i * 37 + c * 1001) % 65536 - 32768));
        }
    }
    return s;
}

inline const std::uint8_t* bytesOf(const std::vector<std::int16_t>& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

// Hands the samples to the encoder in blocks of blockBytes as the main window does. The
// encoder takes the whole frames of each block; a partial frame at a block's end is
// offered again at the start of the next one.
inline void encodeAll(EncoderWAV& enc, const std::vector<std::int16_t>& samples,
                      std::int32_t blockBytes = 10240) {
    const std::int32_t frameBytes = enc.Encoder_EncoderMetrics(0);
    const auto total = static_cast<std::int32_t>(samples.size() * 2);
    for (std::int32_t at = 0; at < total;) {
        const std::int32_t n = std::min(blockBytes, total - at);
        std::int32_t used = -1;
        ASSERT_EQ(enc.Encoder_Encode(bytesOf(samples) + at, n, used), 0);
        ASSERT_EQ(used, n / frameBytes * frameBytes);
        at += used;
    }
}

inline std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The file is "RIFF" <S-8> "WAVE" "fmt " <L> record "data" <S-L-28> and audio.
inline void expectHeader(const std::vector<std::uint8_t>& file,
                         const std::vector<std::uint8_t>& record) {
    const std::size_t L = record.size();
    ASSERT_GE(file.size(), L + 28);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(le32(file, 4), file.size() - 8);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(file, 16), L);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 20, file.begin() + 20 + L), record);
    EXPECT_EQ(std::string(file.begin() + 20 + L, file.begin() + 24 + L), "data");
    EXPECT_EQ(le32(file, 24 + L), file.size() - L - 28);
}

inline std::vector<std::int16_t> audioOf(const std::vector<std::uint8_t>& file,
                                         std::size_t headerBytes) {
    std::vector<std::int16_t> s((file.size() - headerBytes) / 2);
    if (!s.empty()) {
        std::memcpy(s.data(), file.data() + headerBytes, s.size() * 2);
    }
    return s;
}

// ffprobe and sox both read the file as 16-bit PCM of this rate, channels and length,
// and both decode exactly these samples when given.
inline void expectReadersAgree(const std::string& path, std::int32_t rate, int channels,
                               std::int64_t frames,
                               const std::vector<std::int16_t>* samples = nullptr) {
    const auto probe = audioprobe::ffprobe(path);
    ASSERT_TRUE(probe.ok) << probe.text;
    EXPECT_EQ(probe.codecName, "pcm_s16le");
    EXPECT_EQ(probe.codecTag, 1u);
    EXPECT_EQ(probe.sampleRate, rate);
    EXPECT_EQ(probe.channels, channels);
    EXPECT_EQ(probe.bitsPerSample, 16);
    EXPECT_EQ(probe.durationTs, frames);

    const auto sox = audioprobe::soxi(path);
    ASSERT_TRUE(sox.ok) << sox.text;
    EXPECT_EQ(sox.sampleRate, rate);
    EXPECT_EQ(sox.channels, channels);
    EXPECT_EQ(sox.samples, frames);
    EXPECT_EQ(sox.encoding, "16-bit Signed Integer PCM");

    bool ok = false;
    const auto byFfmpeg = audioprobe::decodeWithFfmpeg(path, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(static_cast<std::int64_t>(byFfmpeg.size()), frames * channels);
    const auto bySox = audioprobe::decodeWithSox(path, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bySox, byFfmpeg);
    if (samples) {
        EXPECT_EQ(byFfmpeg, *samples);
    }
}

inline const std::vector<std::uint8_t> Pcm44100Stereo =
    platform::WaveFormat::pcm(44100, 2, 16).bytes();
