#include "encoder/EncoderWAV.h"
#include "encoder/WavRepair.h"

#include "AudioProbe.h"
#include "TempDir.h"
#include "WavChecks.h"
#include "platform/acm/AcmFormats.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using platform::AcmFormats;
using platform::WaveFormat;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int32_t Block = 10240;

// Runs body in a child process; its exit code, or 128 + the signal that ended it.
int inChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The first n bytes of from, as a file of their own (a take cut at byte n).
void copyPrefix(const std::string& from, const std::string& to, std::size_t n) {
    const auto bytes = audioprobe::readFile(from);
    std::ofstream(to, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(n));
}

std::vector<std::int16_t> prefix(const std::vector<std::int16_t>& s, std::size_t bytes) {
    return {s.begin(), s.begin() + static_cast<std::ptrdiff_t>(bytes / 2)};
}

class TakeSafety : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("录音3.wav");
};

} // namespace

// While recording, the size fields follow the audio: never before a second has passed
// since the last update, and each update states exactly the audio written so far. Readers
// take the file at every such moment as a valid file of that many samples.
TEST_F(TakeSafety, SizesFollowTheAudioOncePerSecondAndReadersAgreeMeanwhile) {
    EncoderWAV enc;
    const auto input = ramp(44100 * 4, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    const auto started = Clock::now();
    std::vector<Clock::time_point> updatedBefore; // the instants bracketing each update
    std::vector<Clock::time_point> updatedAfter;
    std::int32_t written = 0;
    std::uint32_t stated = 0;
    while (updatedAfter.size() < 2 && Clock::now() - started < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        const auto before = Clock::now();
        std::int32_t used = 0;
        ASSERT_EQ(enc.Encoder_Encode(bytesOf(input) + written, Block, used), 0);
        const auto after = Clock::now();
        written += used;
        const auto file = audioprobe::readFile(path);
        ASSERT_EQ(file.size(), 46u + static_cast<std::uint32_t>(written));
        const std::uint32_t data = le32(file, 42);
        EXPECT_EQ(le32(file, 4), data + 38);
        if (data != stated) {
            EXPECT_EQ(data, static_cast<std::uint32_t>(written));
            updatedBefore.push_back(before);
            updatedAfter.push_back(after);
            stated = data;
            const auto kept = prefix(input, static_cast<std::size_t>(written));
            expectReadersAgree(path, 44100, 2, written / 4, &kept);
        }
    }
    // Each update a second or more after the start or the update before.
    ASSERT_EQ(updatedAfter.size(), 2u);
    EXPECT_GE(updatedAfter[0] - started, std::chrono::seconds(1));
    EXPECT_GE(updatedAfter[1] - updatedBefore[0], std::chrono::seconds(1));
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    const auto kept = prefix(input, static_cast<std::size_t>(written));
    expectReadersAgree(path, 44100, 2, written / 4, &kept);
}

// A recording killed mid-way leaves a file whose header states the audio of its last
// update; cut at any byte after that (as the disk may hold it), the repair restates every
// whole frame that reached the disk and cuts off a partial one.
TEST_F(TakeSafety, KilledRecordingCutAnywhereIsRepairedWithEveryWholeBlock) {
    const auto input = ramp(Block / 4 * 6, 2);
    const int ended = inChild([&] {
        EncoderWAV enc;
        if (enc.Encoder_EncoderInit(44100, 2, path) != 0) {
            return 1;
        }
        std::int32_t used = 0;
        for (int b = 0; b < 6; ++b) {
            if (b == 3) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1050));
            }
            enc.Encoder_Encode(bytesOf(input) + b * Block, Block, used);
        }
        ::raise(SIGKILL);
        return 2;
    });
    ASSERT_EQ(ended, 128 + SIGKILL);
    const auto killed = audioprobe::readFile(path);
    ASSERT_EQ(killed.size(), 46u + 6 * Block);
    EXPECT_EQ(le32(killed, 42), 4u * Block); // the update at the fourth block

    const std::size_t stated = 46 + 4 * Block;
    const std::size_t cuts[] = {stated + 1, stated + 4097, stated + Block + 6, killed.size() - 1,
                                killed.size()};
    for (const std::size_t cut : cuts) {
        const std::string take = dir.file("cut" + std::to_string(cut) + ".wav");
        copyPrefix(path, take, cut);
        const std::size_t whole = (cut - 46) / 4 * 4;
        const bool stale = whole > 4u * Block;
        EXPECT_EQ(WavRepair::Repair(take),
                  stale ? WavRepair::Outcome::Repaired : WavRepair::Outcome::Untouched)
            << cut;
        const auto file = audioprobe::readFile(take);
        if (stale) {
            ASSERT_EQ(file.size(), 46 + whole) << cut;
            expectHeader(file, Pcm44100Stereo);
        } else {
            EXPECT_EQ(file, std::vector<std::uint8_t>(killed.begin(), killed.begin() + cut));
        }
        const auto kept = prefix(input, whole);
        expectReadersAgree(take, 44100, 2, static_cast<std::int64_t>(whole / 4), &kept);
        EXPECT_EQ(WavRepair::Repair(take), WavRepair::Outcome::Untouched) << cut;
    }
}

// With a codec of 2048-byte blocks, a kill before the first update leaves a header stating
// no audio; the repair states the whole blocks and drops the partial one.
TEST_F(TakeSafety, KilledImaAdpcmTakeKeepsItsWholeCodecBlocks) {
    const auto ima = *AcmFormats::record(AcmFormats::TagImaAdpcm, 44100, 2);
    ASSERT_EQ(ima.blockAlign, 2048);
    const auto input = ramp(44100, 2);
    const int ended = inChild([&] {
        EncoderWAV enc;
        enc.SetFormat(ima.bytes(), "ima", "IMA ADPCM");
        if (enc.Encoder_EncoderInit(44100, 2, path) != 0) {
            return 1;
        }
        std::int32_t used = 0;
        for (int b = 0; b < 10; ++b) {
            enc.Encoder_Encode(bytesOf(input) + b * Block, Block, used);
        }
        ::raise(SIGKILL);
        return 2;
    });
    ASSERT_EQ(ended, 128 + SIGKILL);
    const std::size_t L = ima.bytes().size();
    const auto killed = audioprobe::readFile(path);
    ASSERT_GT(killed.size(), L + 28 + 2048 * 10);
    EXPECT_EQ(le32(killed, 24 + L), 0u);
    const std::size_t cut = L + 28 + 2048 * 9 + 1000; // inside the tenth block
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(killed.data()), static_cast<std::streamsize>(cut));
    EXPECT_EQ(WavRepair::Classify(path), WavRepair::State::HoldsAudio);
    ASSERT_EQ(WavRepair::Repair(path), WavRepair::Outcome::Repaired);
    const auto file = audioprobe::readFile(path);
    ASSERT_EQ(file.size(), L + 28 + 2048 * 9);
    expectHeader(file, ima.bytes());
    const auto probe = audioprobe::ffprobe(path);
    ASSERT_TRUE(probe.ok) << probe.text;
    EXPECT_EQ(probe.codecName, "adpcm_ima_wav");
    const auto sox = audioprobe::soxi(path);
    ASSERT_TRUE(sox.ok) << sox.text;
    // A block: one header of 4 bytes per channel, then 4-bit samples, plus the header's own.
    const std::int64_t framesPerBlock = (2048 - 4 * 2) * 8 / (4 * 2) + 1;
    EXPECT_EQ(sox.samples, 9 * framesPerBlock);
    bool ok = false;
    EXPECT_EQ(audioprobe::decodeWithFfmpeg(path, ok).size(), 9u * framesPerBlock * 2);
    EXPECT_TRUE(ok);
}

// A disk that fills mid-block (a file size limit stands for it): the block gives 10, the
// frames of it that reached the disk are kept whole, the partial frame is cut off, and the
// header states exactly that, both at once and after the close.
TEST_F(TakeSafety, FullDiskMidBlockLeavesTheWholeFramesThatReachedTheDisk) {
    const auto input = ramp(Block / 4 * 4, 2);
    const std::uint32_t limit = 46 + 2 * Block + 103;
    const int codes = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        EncoderWAV enc;
        if (enc.Encoder_EncoderInit(44100, 2, path) != 0) {
            return 1;
        }
        int result = 0;
        std::int32_t used = 0;
        for (int b = 0; b < 4; ++b) {
            result = result * 16 + enc.Encoder_Encode(bytesOf(input) + b * Block, Block, used);
            if (b == 2) {
                // Stated at once, before any close.
                const auto now = audioprobe::readFile(path);
                if (now.size() != 46 + 2 * Block + 100 || le32(now, 42) != 2 * Block + 100) {
                    return 3;
                }
            }
        }
        return result == 0xAA && enc.Encoder_EncoderClose() == 0 ? 0 : 2; // 0, 0, 10, 10
    });
    ASSERT_EQ(codes, 0);
    const auto file = audioprobe::readFile(path);
    ASSERT_EQ(file.size(), 46u + 2 * Block + 100);
    expectHeader(file, Pcm44100Stereo);
    const auto kept = prefix(input, 2 * Block + 100);
    expectReadersAgree(path, 44100, 2, (2 * Block + 100) / 4, &kept);
    EXPECT_EQ(WavRepair::Repair(path), WavRepair::Outcome::Untouched);
}

// The disk fills during the end flush (a resampled recording holds output back until then):
// the file still ends on a whole frame that its header states.
TEST_F(TakeSafety, FullDiskDuringTheEndFlushStillGivesAValidFile) {
    const auto input = ramp(11025, 1);
    // Output of 22050 Hz mono as 44100 Hz stereo: 4 bytes per input sample, some held.
    std::int32_t heldBack = 0;
    {
        EncoderWAV enc;
        ASSERT_EQ(enc.Encoder_EncoderInit(22050, 1, path), 0);
        std::int32_t used = 0;
        ASSERT_EQ(enc.Encoder_Encode(bytesOf(input), 22050, used), 0);
        heldBack = 46 + 4 * 11025 * 2 - static_cast<std::int32_t>(std::filesystem::file_size(path));
        ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    }
    ASSERT_GT(heldBack, 8);
    const std::uint32_t limit = 46 + 4 * 11025 * 2 - heldBack / 2 - 1;
    const int codes = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        EncoderWAV enc;
        std::int32_t used = 0;
        if (enc.Encoder_EncoderInit(22050, 1, path) != 0 ||
            enc.Encoder_Encode(bytesOf(input), 22050, used) != 0) {
            return 1;
        }
        return enc.Encoder_EncoderClose();
    });
    ASSERT_EQ(codes, 0);
    const auto file = audioprobe::readFile(path);
    const std::size_t audio = (limit - 46) / 4 * 4;
    ASSERT_EQ(file.size(), 46 + audio);
    expectHeader(file, Pcm44100Stereo);
    expectReadersAgree(path, 44100, 2, static_cast<std::int64_t>(audio / 4));
}

// With the size limit lowered, the caller asks before each block whether it still fits,
// and moves on to the next file when it does not: the ramp comes out whole across the two
// files, each valid and within the limit.
TEST_F(TakeSafety, LoweredLimitSplitsARampContiguouslyAcrossTwoFiles) {
    EncoderWAV enc;
    EXPECT_EQ(enc.SizeLimit(), 0xFFFFFFFFu);
    EXPECT_FALSE(enc.WouldExceedLimit(Block)); // not running
    const std::uint32_t limit = 46 + 50000;
    enc.setSizeLimitForTests(limit);
    EXPECT_EQ(enc.SizeLimit(), limit);
    const auto input = ramp(20000, 2);
    const std::vector<std::string> paths = {dir.file("录音3.wav"), dir.file("录音4.wav"),
                                            dir.file("录音5.wav")};
    std::size_t current = 0;
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, paths[0]), 0);
    const auto total = static_cast<std::int32_t>(input.size() * 2);
    for (std::int32_t at = 0; at < total;) {
        const std::int32_t n = std::min(Block, total - at);
        if (enc.WouldExceedLimit(n)) {
            ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
            ASSERT_LT(++current, paths.size());
            ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, paths[current]), 0);
            EXPECT_FALSE(enc.WouldExceedLimit(n)); // a fresh file always takes the block
        }
        std::int32_t used = 0;
        ASSERT_EQ(enc.Encoder_Encode(bytesOf(input) + at, n, used), 0);
        at += used;
    }
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    ASSERT_EQ(current, 1u);
    std::vector<std::int16_t> joined;
    for (std::size_t i = 0; i <= current; ++i) {
        const auto file = audioprobe::readFile(paths[i]);
        EXPECT_LE(file.size(), limit);
        expectHeader(file, Pcm44100Stereo);
        const auto audio = audioOf(file, 46);
        expectReadersAgree(paths[i], 44100, 2, static_cast<std::int64_t>(audio.size() / 2), &audio);
        joined.insert(joined.end(), audio.begin(), audio.end());
    }
    EXPECT_EQ(joined, input);
}

// A caller that does not ask runs into the limit: that block comes up short (10) and the
// file keeps the whole frames below the limit.
TEST_F(TakeSafety, WritingIntoTheLoweredLimitGivesTenAndAValidFile) {
    EncoderWAV enc;
    const std::uint32_t limit = 46 + 30001;
    enc.setSizeLimitForTests(limit);
    const auto input = ramp(Block / 4 * 3, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    std::int32_t used = 0;
    ASSERT_EQ(enc.Encoder_Encode(bytesOf(input), Block, used), 0);
    ASSERT_EQ(enc.Encoder_Encode(bytesOf(input) + Block, Block, used), 0);
    EXPECT_TRUE(enc.WouldExceedLimit(Block));
    EXPECT_EQ(enc.Encoder_Encode(bytesOf(input) + 2 * Block, Block, used), 10);
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    const auto file = audioprobe::readFile(path);
    ASSERT_EQ(file.size(), 46u + 30000);
    expectHeader(file, Pcm44100Stereo);
    const auto kept = prefix(input, 30000);
    expectReadersAgree(path, 44100, 2, 7500, &kept);
}
