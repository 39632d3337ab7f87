#include "encoder/WavRepair.h"

#include "AudioProbe.h"
#include "TempDir.h"
#include "WavChecks.h"
#include "encoder/EncoderWAV.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>

using State = WavRepair::State;
using Outcome = WavRepair::Outcome;

namespace {

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

class WavRepairFiles : public ::testing::Test {
protected:
    // A finished 44100 Hz stereo take of the given frames from the encoder.
    std::vector<std::uint8_t> take(std::int64_t frames) {
        const std::string at = dir.file("take.wav");
        EncoderWAV enc;
        EXPECT_EQ(enc.Encoder_EncoderInit(44100, 2, at), 0);
        encodeAll(enc, ramp(frames, 2));
        EXPECT_EQ(enc.Encoder_EncoderClose(), 0);
        return audioprobe::readFile(at);
    }

    TempDir dir;
};

} // namespace

// What the numbering sees: only absent, empty and header-only paths are free to record to.
TEST_F(WavRepairFiles, ClassifiesWhatAPathHolds) {
    const std::string absent = dir.file("absent.wav");
    const std::string empty = dir.file("empty.wav");
    const std::string header = dir.file("header.wav");
    const std::string partial = dir.file("partial.wav");
    const std::string audio = dir.file("audio.wav");
    const std::string text = dir.file("notes.wav");
    writeBytes(empty, {});
    auto bytes = take(0);
    ASSERT_EQ(bytes.size(), 46u);
    writeBytes(header, bytes);
    bytes.insert(bytes.end(), {1, 2, 3}); // under one frame
    writeBytes(partial, bytes);
    writeBytes(audio, take(100));
    writeBytes(text, {'h', 'e', 'l', 'l', 'o'});
    std::filesystem::create_directory(dir.file("folder.wav"));

    const std::pair<std::string, State> cases[] = {{absent, State::Absent},
                                                   {empty, State::Empty},
                                                   {header, State::HeaderOnly},
                                                   {partial, State::HeaderOnly},
                                                   {audio, State::HoldsAudio},
                                                   {text, State::Other},
                                                   {dir.file("folder.wav"), State::Other},
                                                   {dir.file("no/such/dir.wav"), State::Absent}};
    for (const auto& [path, state] : cases) {
        EXPECT_EQ(WavRepair::Classify(path), state) << path;
        const bool free =
            state == State::Absent || state == State::Empty || state == State::HeaderOnly;
        EXPECT_EQ(WavRepair::FreeForRecording(path), free) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(absent));
}

// A take being recorded is in use: neither free nor repaired, though its sizes are stale.
TEST_F(WavRepairFiles, LeavesATakeThatIsBeingRecordedAlone) {
    const std::string path = dir.file("recording.wav");
    EncoderWAV enc;
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    encodeAll(enc, ramp(3000, 2));
    const auto before = audioprobe::readFile(path);
    ASSERT_EQ(le32(before, 42), 0u); // not yet stated
    EXPECT_EQ(WavRepair::Classify(path), State::InUse);
    EXPECT_FALSE(WavRepair::FreeForRecording(path));
    EXPECT_EQ(WavRepair::Repair(path), Outcome::InUse);
    EXPECT_EQ(audioprobe::readFile(path), before);
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    EXPECT_EQ(WavRepair::Classify(path), State::HoldsAudio);
}

// Whatever is not a take of the encoder's layout cut short is read and never written:
// garbage, other programs' WAV files with stale sizes, near misses of the layout, takes
// that state more than they hold, finished and header-only takes.
TEST_F(WavRepairFiles, LeavesEverythingButACutTakeUntouched) {
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
    std::mt19937 random(7);
    std::vector<std::uint8_t> garbage(5000);
    for (auto& b : garbage) {
        b = static_cast<std::uint8_t>(random());
    }
    files.emplace_back("garbage", garbage);
    files.emplace_back("text", std::vector<std::uint8_t>{'R', 'I', 'F', 'F', ' ', 'n', 'o'});

    const auto cut = [](std::vector<std::uint8_t> b) { // sizes stating no audio, as if cut
        put32(b, 4, 38);
        put32(b, 42, 0);
        return b;
    };
    const auto good = take(2000);
    files.emplace_back("finished", good);
    files.emplace_back("header only", take(0));
    auto shortened = good; // states more than it holds
    shortened.resize(5000);
    files.emplace_back("shortened", shortened);
    auto noAlign = cut(good);
    noAlign[32] = noAlign[33] = 0;
    files.emplace_back("block align 0", noAlign);
    auto badExtra = cut(good);
    badExtra[36] = 2; // extra size 2 in an 18-byte record
    files.emplace_back("extra size", badExtra);
    auto otherChunk = cut(good);
    std::memcpy(otherChunk.data() + 38, "LIST", 4);
    files.emplace_back("other chunk", otherChunk);
    auto rifx = cut(good);
    rifx[3] = 'X';
    files.emplace_back("RIFX", rifx);
    auto ownSize = cut(good);
    put32(ownSize, 4, 37); // the RIFF size does not even count the header
    files.emplace_back("riff under header", ownSize);

    // Another program's WAV: a 16-byte format chunk, sizes stating no audio.
    const std::string soxPath = dir.file("sox.wav");
    int status = 0;
    audioprobe::run("sox -n -r 8000 -c 1 -b 16 " + audioprobe::quoted(soxPath) +
                        " synth 0.1 sine 440 2>&1",
                    status);
    ASSERT_EQ(status, 0);
    auto sox = audioprobe::readFile(soxPath);
    ASSERT_EQ(le32(sox, 16), 16u);
    ASSERT_EQ(std::string(sox.begin() + 36, sox.begin() + 40), "data");
    put32(sox, 4, 36);
    put32(sox, 40, 0);
    files.emplace_back("sox", sox);

    for (const auto& [name, bytes] : files) {
        const std::string path = dir.file(name + ".wav");
        writeBytes(path, bytes);
        EXPECT_EQ(WavRepair::Repair(path), Outcome::Untouched) << name;
        EXPECT_EQ(audioprobe::readFile(path), bytes) << name;
    }
    // The same cut take with nothing wrong is repaired: the near misses above are misses.
    const std::string path = dir.file("cut.wav");
    writeBytes(path, cut(good));
    EXPECT_EQ(WavRepair::Repair(path), Outcome::Repaired);
    EXPECT_EQ(audioprobe::readFile(path), good);
}

// A FIFO or other special file under a take's name is neither opened nor waited on.
TEST_F(WavRepairFiles, SpecialFilesAreNeverOpened) {
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(WavRepair::Classify(fifo), State::Other);
    EXPECT_EQ(WavRepair::Repair(fifo), Outcome::Untouched);
    EXPECT_FALSE(WavRepair::FreeForRecording(fifo));
    EXPECT_EQ(WavRepair::Classify("/dev/null"), State::Other);
    EXPECT_EQ(WavRepair::Repair("/dev/null"), Outcome::Untouched);
}

// A stale RIFF size alone (the data size was updated, a kill came before the RIFF size)
// is restated too.
TEST_F(WavRepairFiles, RestatesAStaleRiffSizeAlone) {
    auto bytes = take(500);
    put32(bytes, 4, 38 + 1000);
    const std::string path = dir.file("riff.wav");
    writeBytes(path, bytes);
    EXPECT_EQ(WavRepair::Repair(path), Outcome::Repaired);
    expectHeader(audioprobe::readFile(path), Pcm44100Stereo);
}
