#include "encoder/EncoderWAV.h"

#include "AudioProbe.h"
#include "ScriptedAcm.h"
#include "TempDir.h"
#include "WavChecks.h"
#include "common/RaisedError.h"
#include "platform/acm/WaveFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::WaveFormat;

namespace {

class EncoderWAVFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("录音1.wav");
};

} // namespace

TEST(EncoderWAVDefaults, ConstructionStateAndIdleAnswers) {
    EncoderWAV enc;
    EXPECT_EQ(enc.FormatTag(), "PCM");
    EXPECT_EQ(enc.FormatID(), "44.1 kHz 16 Bit Stereo");
    const std::vector<std::uint8_t> expected = {1,    0, 2, 0, 0x44, 0xAC, 0, 0, 0x10,
                                                0xB1, 2, 0, 4, 0,    16,   0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(enc.OutputFormat().begin(), enc.OutputFormat().end()),
              expected);
    EXPECT_EQ(enc.OutputFormatCapacity(), 131072);
    EXPECT_TRUE(enc.WriteHeader());
    EXPECT_FALSE(enc.IsRunning());
    EXPECT_EQ(enc.Encoder_Description(), "Wave ACM Encoder");
    EXPECT_EQ(enc.Encoder_Extension(), "wav");
    EXPECT_EQ(enc.Encoder_EncoderMetrics(0), -1);
    EXPECT_EQ(enc.Encoder_EncoderMetrics(1), -1);
    EXPECT_EQ(enc.Encoder_EncoderMetrics(2), 0);
    EXPECT_EQ(enc.Encoder_EncoderMetrics(-1), 0);
    EXPECT_EQ(enc.Encoder_EncoderClose(), 2);
    std::int32_t used = 1234;
    const std::uint8_t byte = 0;
    EXPECT_EQ(enc.Encoder_Encode(&byte, 1, used), 8); // no room: nothing is running
    EXPECT_EQ(used, 1234);
}

// N bytes of 44100 Hz stereo in give N + 46 bytes out: the audio unchanged behind a header
// with an 18-byte format chunk.
TEST_F(EncoderWAVFile, DefaultPcmFileIsTheInputBehindA46ByteHeader) {
    EncoderWAV enc;
    const auto input = ramp(44100 + 1234, 2); // 10240-byte blocks and a shorter last one
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    EXPECT_TRUE(enc.IsRunning());
    EXPECT_EQ(enc.Encoder_EncoderMetrics(0), 4);
    EXPECT_EQ(enc.Encoder_EncoderMetrics(1), 176400);
    encodeAll(enc, input);
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    EXPECT_FALSE(enc.IsRunning());
    EXPECT_EQ(enc.Encoder_EncoderMetrics(0), -1);

    const auto file = audioprobe::readFile(path);
    const std::size_t N = input.size() * 2;
    ASSERT_EQ(file.size(), N + 46);
    expectHeader(file, Pcm44100Stereo);
    EXPECT_EQ(le32(file, 4), N + 38);
    EXPECT_EQ(le32(file, 16), 18u);
    EXPECT_EQ(le32(file, 42), N);
    EXPECT_EQ(audioOf(file, 46), input);
    expectReadersAgree(path, 44100, 2, 44100 + 1234, &input);
}

// An existing file is truncated; from the start the file holds a header stating no audio
// (the sizes follow at most once a second), and others can read the file meanwhile.
TEST_F(EncoderWAVFile, TruncatesAndStartsWithAHeaderStatingNoAudio) {
    { std::ofstream(path, std::ios::binary) << std::string(100000, 'x'); }
    EncoderWAV enc;
    const auto input = ramp(2560, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    auto file = audioprobe::readFile(path);
    ASSERT_EQ(file.size(), 46u);
    expectHeader(file, Pcm44100Stereo);
    // The block follows within the second after the start, so its sizes are not stated yet;
    // the readers look at a copy of the empty file afterwards, as they take their time.
    const std::string empty = path + ".empty.wav";
    {
        std::ofstream(empty, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }
    encodeAll(enc, input);
    file = audioprobe::readFile(path);
    ASSERT_EQ(file.size(), 46u + 10240u);
    EXPECT_EQ(le32(file, 4), 38u);
    EXPECT_EQ(le32(file, 42), 0u);
    expectReadersAgree(empty, 44100, 2, 0);
    EXPECT_EQ(enc.Encoder_EncoderClose(), 0);
    expectReadersAgree(path, 44100, 2, 2560, &input);
}

TEST_F(EncoderWAVFile, WithoutHeaderTheFileIsTheBareAudio) {
    EncoderWAV enc;
    enc.setWriteHeader(false);
    const auto input = ramp(5000, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    encodeAll(enc, input);
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    const auto file = audioprobe::readFile(path);
    ASSERT_EQ(file.size(), input.size() * 2);
    EXPECT_EQ(audioOf(file, 0), input);

    // Headerless audio, read as raw 16-bit stereo by both readers.
    int status = 0;
    const auto soxText = audioprobe::run("sox -t raw -r 44100 -c 2 -e signed -b 16 " +
                                             audioprobe::quoted(path) + " -n stat 2>&1",
                                         status);
    EXPECT_EQ(status, 0) << soxText;
    EXPECT_NE(soxText.find("Samples read:             10000"), std::string::npos) << soxText;
    const auto ffText = audioprobe::run(
        "ffprobe -v error -f s16le -ar 44100 -ac 2 -show_entries stream=duration -of csv=p=0 " +
            audioprobe::quoted(path),
        status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(std::stod(ffText), 5000.0 / 44100.0, 1e-3);
}

TEST_F(EncoderWAVFile, WriteHeaderCannotChangeWhileRunning) {
    EncoderWAV enc;
    ASSERT_EQ(enc.Encoder_EncoderInit(8000, 1, path), 0);
    try {
        enc.setWriteHeader(false);
        FAIL() << "no error raised";
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.number(), 90);
        EXPECT_EQ(e.description(), "Encoder already running!");
    }
    EXPECT_TRUE(enc.WriteHeader());
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    enc.setWriteHeader(false);
    EXPECT_FALSE(enc.WriteHeader());
    // The header was kept: an empty recording is a valid file of 44100 stereo.
    EXPECT_EQ(audioprobe::readFile(path).size(), 46u);
    expectReadersAgree(path, 44100, 2, 0);
}

// A block longer than one second of input is refused whole; one second exactly is taken.
TEST_F(EncoderWAVFile, BlockOverOneSecondGivesEightAndWritesNothing) {
    EncoderWAV enc;
    ASSERT_EQ(enc.Encoder_EncoderInit(22050, 2, path), 0);
    const auto second = ramp(22050, 2);
    std::vector<std::uint8_t> tooLong(88201, 0);
    std::int32_t used = -7;
    EXPECT_EQ(enc.Encoder_Encode(tooLong.data(), 88201, used), 8);
    EXPECT_EQ(used, -7);
    EXPECT_EQ(enc.Encoder_Encode(tooLong.data(), -1, used), 8);
    EXPECT_EQ(used, -7);
    EXPECT_EQ(std::filesystem::file_size(path), 46u);
    EXPECT_EQ(enc.Encoder_Encode(bytesOf(second), 88200, used), 0);
    EXPECT_EQ(used, 88200);
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    // Output in the default 44100 Hz stereo: twice the frames.
    expectReadersAgree(path, 44100, 2, 44100);
}

// Init failures leave nothing running: 7 for a bad rate or channel count (after finishing
// the running file) and for an output format no stream converts into (no file made), 2 for
// a file that cannot be created or a FIFO nobody reads (refused at once, never waited on).
TEST_F(EncoderWAVFile, InitFailuresLeaveNothingRunning) {
    EncoderWAV enc;
    const auto input = ramp(1000, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    encodeAll(enc, input);
    EXPECT_EQ(enc.Encoder_EncoderInit(0, 2, dir.file("other.wav")), 7);
    EXPECT_FALSE(enc.IsRunning());
    EXPECT_FALSE(std::filesystem::exists(dir.file("other.wav")));
    expectReadersAgree(path, 44100, 2, 1000, &input);
    EXPECT_EQ(enc.Encoder_EncoderInit(44100, 0, path), 7);
    EXPECT_EQ(enc.Encoder_EncoderInit(-44100, 2, path), 7);

    EXPECT_EQ(enc.Encoder_EncoderInit(44100, 2, dir.file("missing/folder.wav")), 2);
    EXPECT_FALSE(enc.IsRunning());
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(enc.Encoder_EncoderInit(44100, 2, fifo), 2);
    EXPECT_FALSE(enc.IsRunning());

    auto record = WaveFormat::pcm(44100, 2, 16);
    record.formatTag = 0x1234;
    enc.SetFormat(record.bytes(), "x", "y");
    EXPECT_EQ(enc.Encoder_EncoderInit(44100, 2, dir.file("third.wav")), 7);
    EXPECT_FALSE(enc.IsRunning());
    EXPECT_FALSE(std::filesystem::exists(dir.file("third.wav")));
    EXPECT_EQ(enc.Encoder_EncoderMetrics(0), -1);
}

// A new recording while one runs finishes the first file, header included; so does
// destroying the encoder.
TEST_F(EncoderWAVFile, InitWhileRunningAndDestructionFinishTheFile) {
    const auto first = ramp(3000, 2);
    const auto second = ramp(500, 2);
    const std::string other = dir.file("second.wav");
    {
        EncoderWAV enc;
        ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
        encodeAll(enc, first);
        ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, other), 0);
        encodeAll(enc, second);
        expectReadersAgree(path, 44100, 2, 3000, &first);
    }
    expectReadersAgree(other, 44100, 2, 500, &second);
}

// The default output is 44100 Hz stereo whatever the recording: 22050 Hz mono is
// resampled and each sample goes to both channels.
TEST_F(EncoderWAVFile, MonoAt22050BecomesStereoAt44100) {
    EncoderWAV enc;
    std::vector<std::int16_t> input;
    for (int i = 0; i < 22050 * 2 + 99; ++i) {
        input.push_back(static_cast<std::int16_t>(std::lrint(12000.0 * std::sin(i * 0.0713))));
    }
    ASSERT_EQ(enc.Encoder_EncoderInit(22050, 1, path), 0);
    EXPECT_EQ(enc.Encoder_EncoderMetrics(0), 2);
    EXPECT_EQ(enc.Encoder_EncoderMetrics(1), 44100);
    encodeAll(enc, input);
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);

    const auto file = audioprobe::readFile(path);
    expectHeader(file, Pcm44100Stereo);
    const std::int64_t frames = static_cast<std::int64_t>(input.size()) * 2;
    expectReadersAgree(path, 44100, 2, frames);
    const auto audio = audioOf(file, 46);
    for (std::size_t i = 0; i < audio.size(); i += 2) {
        ASSERT_EQ(audio[i], audio[i + 1]) << i;
    }
    // Every other output frame lands on an input instant; past the filter's start they
    // match the input closely.
    for (std::size_t k = 1000; k < input.size() - 1000; k += 97) {
        EXPECT_NEAR(audio[4 * k], input[k], 40) << k;
    }
}

TEST_F(EncoderWAVFile, PcmFormatOfLowerRateAndMono) {
    EncoderWAV enc;
    enc.SetPCMFormat(8000, 1, "", "");
    const auto input = ramp(44100, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    encodeAll(enc, input, 4096 + 3); // blocks ending inside a frame
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    const auto file = audioprobe::readFile(path);
    expectHeader(file, WaveFormat::pcm(8000, 1, 16).bytes());
    expectReadersAgree(path, 8000, 1, 8000);
}

TEST(EncoderWAVFormat, PcmFormatTextsAndRecord) {
    EncoderWAV enc;
    enc.SetPCMFormat(44100, 2, "", "");
    EXPECT_EQ(enc.FormatID(), "44.1 16 Bit stereo");
    EXPECT_EQ(enc.FormatTag(), "PCM");
    EXPECT_EQ(std::vector<std::uint8_t>(enc.OutputFormat().begin(), enc.OutputFormat().end()),
              Pcm44100Stereo);

    enc.SetPCMFormat(8000, 1, "", "");
    EXPECT_EQ(enc.FormatID(), "8 16 Bit mono");
    const std::vector<std::uint8_t> mono8000 = {1,    0, 1, 0, 0x40, 0x1F, 0, 0, 0x80,
                                                0x3E, 0, 0, 2, 0,    16,   0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(enc.OutputFormat().begin(), enc.OutputFormat().end()),
              mono8000);

    // Rate text: one decimal, halves to even on the exact value.
    const std::pair<std::int32_t, const char*> rates[] = {
        {22050, "22"}, {11025, "11"},  {48000, "48"}, {44150, "44.2"}, {44050, "44"},
        {96000, "96"}, {99999, "100"}, {1, "0"},      {12345, "12.3"}, {-22050, "-22"}};
    for (const auto& [rate, text] : rates) {
        enc.SetPCMFormat(rate, 1, "", "");
        EXPECT_EQ(enc.FormatID(), std::string(text) + " 16 Bit mono") << rate;
    }
    enc.SetPCMFormat(44100, 3, "", "");
    EXPECT_EQ(enc.FormatID(), "44.1 16 Bit mono"); // only exactly 2 channels is stereo
    enc.SetPCMFormat(22050, 2, "my id", "my tag");
    EXPECT_EQ(enc.FormatID(), "my id");
    EXPECT_EQ(enc.FormatTag(), "my tag");
}

TEST(EncoderWAVFormat, FormatBufferGrowsAndNeverShrinks) {
    EncoderWAV enc;
    std::vector<std::uint8_t> big(200000, 0xAB);
    enc.SetFormat(big, "big", "tag");
    EXPECT_EQ(enc.OutputFormatCapacity(), 200000);
    EXPECT_EQ(enc.OutputFormat().size(), 200000u);
    EXPECT_EQ(enc.OutputFormat()[199999], 0xAB);
    enc.SetPCMFormat(44100, 2, "", "");
    EXPECT_EQ(enc.OutputFormatCapacity(), 200000);
    EXPECT_EQ(enc.OutputFormat().size(), 18u);
    enc.SetFormat({}, "", "");
    EXPECT_EQ(enc.OutputFormat().size(), 0u);
    EXPECT_EQ(enc.FormatID(), "");
}

// The header states the format the audio was converted into, even when the output format
// is changed while recording.
TEST_F(EncoderWAVFile, FormatChangedWhileRunningDoesNotMislabelTheFile) {
    EncoderWAV enc;
    const auto input = ramp(2000, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    encodeAll(enc, input);
    std::vector<std::uint8_t> longer = WaveFormat::pcm(8000, 1, 16).bytes();
    longer.resize(60, 0);
    enc.SetFormat(longer, "8 16 Bit mono", "PCM");
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    expectHeader(audioprobe::readFile(path), Pcm44100Stereo);
    expectReadersAgree(path, 44100, 2, 2000, &input);
    EXPECT_EQ(enc.OutputFormat().size(), 60u); // the new format stays set for the next one
}

TEST_F(EncoderWAVFile, ShortWriteOnFullDiskGivesTen) {
    EncoderWAV enc;
    const auto input = ramp(2560, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, "/dev/full"), 0);
    std::int32_t used = 0;
    EXPECT_EQ(enc.Encoder_Encode(bytesOf(input), 10240, used), 10);
    EXPECT_EQ(used, 10240);
    EXPECT_EQ(enc.Encoder_EncoderClose(), 0);
}

// A file size limit lets the first blocks through and cuts one short: that block gives 10,
// and the finished file is still valid with the audio that fit.
TEST_F(EncoderWAVFile, ShortWriteAtFileSizeLimitGivesTenAndLeavesAValidFile) {
    const auto input = ramp(2560 * 3, 2);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{46 + 2 * 10240 + 100, 46 + 2 * 10240 + 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int codes = 0;
        {
            EncoderWAV enc;
            if (enc.Encoder_EncoderInit(44100, 2, path) != 0) {
                ::_exit(100);
            }
            std::int32_t used = 0;
            for (int b = 0; b < 3; ++b) {
                codes = codes * 100 + enc.Encoder_Encode(bytesOf(input) + b * 10240, 10240, used);
            }
            codes = codes * 100 + enc.Encoder_EncoderClose();
        }
        ::_exit(codes == 1000 ? 0 : 101); // 0, 0, 10, then 0 for the close
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto file = audioprobe::readFile(path);
    ASSERT_EQ(file.size(), 46u + 2 * 10240 + 100);
    expectHeader(file, Pcm44100Stereo);
    const std::vector<std::int16_t> kept(input.begin(), input.begin() + (2 * 10240 + 100) / 2);
    expectReadersAgree(path, 44100, 2, 25 + 2 * 2560, &kept);
}

// The stream is driven as documented: open, size of one second, prepare, one conversion
// per block, the End conversion with no source whose output is appended, unprepare, close.
TEST_F(EncoderWAVFile, StreamCallsAndEndFlushOutput) {
    ScriptedAcm acm;
    acm.endOutput = {'t', 'a', 'i', 'l'};
    EncoderWAV enc(acm);
    const auto input = ramp(100, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    std::int32_t used = 0;
    ASSERT_EQ(enc.Encoder_Encode(bytesOf(input), 400, used), 0);
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    const std::vector<std::string> expected = {"open",  "size 176400", "prepare", "convert 400",
                                               "end 0", "unprepare",   "close"};
    EXPECT_EQ(acm.log, expected);
    const auto file = audioprobe::readFile(path);
    ASSERT_EQ(file.size(), 46u + 404u);
    expectHeader(file, Pcm44100Stereo);
    EXPECT_EQ(std::string(file.end() - 4, file.end()), "tail");
}

TEST_F(EncoderWAVFile, FailedConversionGivesNineOnlyWhenNothingWasConsumed) {
    ScriptedAcm acm;
    EncoderWAV enc(acm);
    const auto input = ramp(100, 2);
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    acm.failConvert = true;
    std::int32_t used = -1;
    EXPECT_EQ(enc.Encoder_Encode(bytesOf(input), 400, used), 9);
    EXPECT_EQ(used, 0);
    acm.consumedOnFailure = 100;
    EXPECT_EQ(enc.Encoder_Encode(bytesOf(input), 400, used), 0);
    EXPECT_EQ(used, 100);
    EXPECT_EQ(std::filesystem::file_size(path), 46u); // a failed conversion writes nothing
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    expectReadersAgree(path, 44100, 2, 0);
}

TEST_F(EncoderWAVFile, StreamSetUpFailuresGiveSevenAndReleaseTheStream) {
    for (int which = 0; which < 3; ++which) {
        ScriptedAcm acm;
        acm.failOpen = which == 0;
        acm.failSize = which == 1;
        acm.failPrepare = which == 2;
        EncoderWAV enc(acm);
        EXPECT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 7) << which;
        EXPECT_FALSE(enc.IsRunning());
        EXPECT_FALSE(std::filesystem::exists(path));
        if (which > 0) {
            EXPECT_EQ(acm.log.back(), "close") << which;
        }
    }
    ScriptedAcm acm;
    EncoderWAV enc(acm);
    EXPECT_EQ(enc.Encoder_EncoderInit(44100, 2, dir.file("no/such/dir.wav")), 2);
    const std::vector<std::string> expected = {"open", "size 176400", "prepare", "unprepare",
                                               "close"};
    EXPECT_EQ(acm.log, expected);
}
