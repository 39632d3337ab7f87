#include "ReadBack.h"

#include "AudioProbe.h"

#include <gtest/gtest.h>

std::vector<std::int16_t> ReadBack(const QString& path, int rate, int channels) {
    const std::string file = path.toStdString();
    const audioprobe::FfprobeInfo probe = audioprobe::ffprobe(file);
    EXPECT_TRUE(probe.ok) << probe.text;
    EXPECT_EQ(probe.codecName, "pcm_s16le") << file;
    EXPECT_EQ(probe.sampleRate, rate) << file;
    EXPECT_EQ(probe.channels, channels) << file;

    const audioprobe::SoxInfo sox = audioprobe::soxi(file);
    EXPECT_TRUE(sox.ok) << sox.text;

    bool ffmpegOk = false;
    bool soxOk = false;
    const std::vector<std::int16_t> byFfmpeg = audioprobe::decodeWithFfmpeg(file, ffmpegOk);
    const std::vector<std::int16_t> bySox = audioprobe::decodeWithSox(file, soxOk);
    EXPECT_TRUE(ffmpegOk) << file;
    EXPECT_TRUE(soxOk) << file;
    EXPECT_EQ(byFfmpeg, bySox) << file;
    EXPECT_EQ(static_cast<std::int64_t>(byFfmpeg.size()), sox.samples * channels) << file;
    return byFfmpeg;
}
