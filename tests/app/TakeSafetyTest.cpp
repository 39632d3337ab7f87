#include "app/Form1.h"
#include "app/SettingsFile.h"
#include "platform/WindowService.h"

#include "EventPump.h"
#include "KeptLog.h"
#include "MessageRecorder.h"
#include "ReadBack.h"
#include "ScriptedWaveIn.h"

#include "TestFiles.h"
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr std::size_t kBlockSamples = 10240 / 2; // the capture engine's default buffer

// A ramp that runs on from block to block: sample i of block n is n * kBlockSamples + i,
// wrapped to 16 bits, so a lost or repeated block shows as a break.
std::vector<std::int16_t> ramp(int n) {
    std::vector<std::int16_t> data(kBlockSamples);
    for (std::size_t i = 0; i < kBlockSamples; ++i) {
        data[i] = static_cast<std::int16_t>(static_cast<std::size_t>(n) * kBlockSamples + i);
    }
    return data;
}

std::vector<std::int16_t> ramps(int first, int count) {
    std::vector<std::int16_t> all;
    for (int n = first; n < first + count; ++n) {
        const auto b = ramp(n);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

void put32(QByteArray& bytes, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        bytes.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

void put16(QByteArray& bytes, std::uint16_t v) {
    bytes.append(static_cast<char>(v & 0xFF));
    bytes.append(static_cast<char>(v >> 8));
}

// A take as a kill during a recording leaves it: 44.1 kHz stereo, the header's sizes
// stating no audio, `samples` after it, and `tail` bytes of a block begun.
QByteArray cutTake(const std::vector<std::int16_t>& samples, int tail = 0) {
    QByteArray bytes("RIFF");
    put32(bytes, 38);
    bytes.append("WAVEfmt ");
    put32(bytes, 18);
    put16(bytes, 1);
    put16(bytes, 2);
    put32(bytes, 44100);
    put32(bytes, 44100 * 4);
    put16(bytes, 4);
    put16(bytes, 16);
    put16(bytes, 0);
    bytes.append("data");
    put32(bytes, 0);
    bytes.append(reinterpret_cast<const char*>(samples.data()),
                 static_cast<qsizetype>(samples.size() * 2));
    bytes.append(QByteArray(tail, '\x11'));
    return bytes;
}

class TakeSafetyTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath("file"));
        waveIn.devices = {"Scripted microphone"};
    }

    std::unique_ptr<Form1> Open() { return std::make_unique<Form1>(windows, waveIn, dir.path()); }

    static QPushButton& cmdDo(Form1& form) { return *form.findChild<QPushButton*>("cmdDo"); }
    static QString Path(Form1& form) { return form.findChild<QLineEdit*>("txtFile")->text(); }
    static QString StatusMessage(Form1& form) {
        return form.findChild<QStatusBar*>("sbar")->currentMessage();
    }

    void Start(Form1& form) {
        auto* cboDev = form.findChild<QComboBox*>("cboDev");
        cboDev->setCurrentIndex(0);
        emit cboDev->activated(0);
        cmdDo(form).click();
        ASSERT_TRUE(form.Recorder().IsRecording());
    }

    // Feeds ramp blocks first .. first + count - 1 and waits until the window took each.
    void Feed(Form1& form, int first, int count) {
        for (int n = first; n < first + count; ++n) {
            const std::int32_t before = form.lngElapsedMS();
            const QString file = Path(form);
            waveIn.Feed(ramp(n));
            ASSERT_TRUE(PumpUntil([&] {
                return form.lngElapsedMS() != before || Path(form) != file;
            })) << n;
        }
    }

    QString FilePath(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QString NuIni() const { return SettingsFile::path(dir.path()); }

    QTemporaryDir dir;
    MessageRecorder messages;
    KeptLog log;
    platform::WindowService windows;
    ScriptedWaveIn waveIn;
};

TEST_F(TakeSafetyTest, StartUpRepairsCutTakesAndNumbersPastEveryTake) {
    writeFile(NuIni(), "4\r\n");
    writeFile(FilePath("file/录音4.wav"), cutTake(ramps(0, 2), 3));
    writeFile(FilePath("file/录音5.wav"), "not a take of ours");
    writeFile(FilePath("file/录音9.wav"), cutTake(ramps(5, 1)));
    writeFile(FilePath("file/录音7.wav"), cutTake({}));   // a header alone: free
    writeFile(FilePath("file/录音8.mp3"), "an MP3 take"); // a take of another type
    writeFile(FilePath("file/录音6.opus"), "");           // an empty file of another: free
    auto form = Open();

    EXPECT_EQ(form->intFileNo(), 6);
    EXPECT_EQ(Path(*form), FilePath("file/录音6.wav"));
    EXPECT_EQ(readFile(NuIni()), QByteArray("6\r\n"));
    // Both cut takes read back whole, the partial block gone; the foreign file untouched.
    EXPECT_EQ(ReadBack(FilePath("file/录音4.wav"), 44100, 2), ramps(0, 2));
    EXPECT_EQ(ReadBack(FilePath("file/录音9.wav"), 44100, 2), ramps(5, 1));
    EXPECT_EQ(readFile(FilePath("file/录音5.wav")), QByteArray("not a take of ours"));

    // The stop moves on to the header-only 7, then past the MP3 take in 8 and the take in 9.
    Start(*form);
    Feed(*form, 0, 1);
    cmdDo(*form).click();
    EXPECT_EQ(Path(*form), FilePath("file/录音7.wav"));
    EXPECT_EQ(readFile(NuIni()), QByteArray("7\r\n"));
    Start(*form);
    cmdDo(*form).click();
    EXPECT_EQ(Path(*form), FilePath("file/录音10.wav"));
    EXPECT_EQ(readFile(FilePath("file/录音8.mp3")), QByteArray("an MP3 take"));
    EXPECT_EQ(ReadBack(FilePath("file/录音9.wav"), 44100, 2), ramps(5, 1));
}

TEST_F(TakeSafetyTest, StartUpLeavesNuIniAloneWhenItsFileIsFree) {
    writeFile(NuIni(), "3\r\n");
    writeFile(FilePath("file/录音3.wav"), "");
    auto form = Open();
    EXPECT_EQ(form->intFileNo(), 3);
    EXPECT_EQ(readFile(NuIni()), QByteArray("3\r\n"));
}

TEST_F(TakeSafetyTest, NumberingWrapsPastTakesAt32767) {
    writeFile(NuIni(), "32767\r\n");
    writeFile(FilePath("file/录音32767.wav"), cutTake(ramps(0, 1)));
    writeFile(FilePath("file/录音-32768.wav"), cutTake(ramps(1, 1)));
    auto form = Open();
    EXPECT_EQ(form->intFileNo(), -32767);
    EXPECT_EQ(readFile(NuIni()), QByteArray("-32767\r\n"));
}

TEST_F(TakeSafetyTest, FullFileGoesOnInTheNextNumberedFileWithoutAGap) {
    writeFile(NuIni(), "2\r\n");
    writeFile(FilePath("file/录音3.wav"), cutTake(ramps(9, 1))); // a take to pass over
    auto form = Open();
    // Room for a few blocks: the encoder keeps room for the block and its end flush.
    const std::uint32_t limit = 46 + 3 * 10240 + 100;
    form->setSizeLimitForTests(limit);
    Start(*form);
    Feed(*form, 0, 3);
    EXPECT_TRUE(form->Recorder().IsRecording());
    EXPECT_EQ(Path(*form), FilePath("file/录音4.wav"));
    EXPECT_EQ(form->strLastFile(), FilePath("file/录音2.wav"));
    EXPECT_EQ(readFile(NuIni()), QByteArray("4\r\n"));
    EXPECT_TRUE(StatusMessage(*form).contains(QStringLiteral("录音4.wav")))
        << StatusMessage(*form).toStdString();
    EXPECT_TRUE(messages.messages.empty());

    cmdDo(*form).click();
    EXPECT_EQ(Path(*form), FilePath("file/录音5.wav"));
    EXPECT_LE(QFileInfo(FilePath("file/录音2.wav")).size(), limit);
    std::vector<std::int16_t> joined = ReadBack(FilePath("file/录音2.wav"), 44100, 2);
    EXPECT_EQ(joined.size(), 2 * kBlockSamples);
    const auto second = ReadBack(FilePath("file/录音4.wav"), 44100, 2);
    joined.insert(joined.end(), second.begin(), second.end());
    EXPECT_EQ(joined, ramps(0, 3));
    EXPECT_EQ(ReadBack(FilePath("file/录音3.wav"), 44100, 2), ramps(9, 1));
}

TEST_F(TakeSafetyTest, NextFileThatCannotBeOpenedStopsTheTakeWithTheEncoderMessage) {
    auto form = Open();
    form->setSizeLimitForTests(46 + 10240);
    Start(*form);
    Feed(*form, 0, 1);
    // The folder of the numbered files has moved away (the take being written with it) and a
    // plain file stands in its place: no next file can be created there.
    ASSERT_TRUE(QDir(dir.path()).rename("file", "moved"));
    writeFile(FilePath("file"), "");
    waveIn.Feed(ramp(1));
    ASSERT_TRUE(PumpUntil([&] { return !messages.messages.empty(); }));
    EXPECT_FALSE(form->Recorder().IsRecording());
    EXPECT_EQ(cmdDo(*form).text(), QStringLiteral("开始录音"));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("无法初始化编码器!"));
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("提示"));
    EXPECT_EQ(ReadBack(FilePath("moved/录音0.wav"), 44100, 2), ramps(0, 1));
}

// A symbolic link named like a take leads out of the folder: the start-up repair never writes
// through it, and the numbering passes over it rather than create or record through it.
TEST_F(TakeSafetyTest, LinksNamedLikeTakesAreNeverWrittenThrough) {
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    const QString victim = elsewhere.filePath("victim.wav");
    const QByteArray cut = cutTake(ramps(0, 2), 3); // a cut take the repair would restate
    writeFile(victim, cut);
    ASSERT_TRUE(QFile::link(victim, FilePath("file/录音4.wav")));
    ASSERT_TRUE(QFile::link(elsewhere.filePath("made.wav"), FilePath("file/录音5.wav")));
    writeFile(NuIni(), "4\r\n");
    auto form = Open();

    EXPECT_EQ(readFile(victim), cut);
    EXPECT_EQ(form->intFileNo(), 6);
    EXPECT_EQ(Path(*form), FilePath("file/录音6.wav"));
    EXPECT_FALSE(QFileInfo::exists(elsewhere.filePath("made.wav")));
    Start(*form);
    Feed(*form, 0, 1);
    cmdDo(*form).click();
    EXPECT_EQ(ReadBack(FilePath("file/录音6.wav"), 44100, 2), ramps(0, 1));
    EXPECT_EQ(readFile(victim), cut);
    EXPECT_FALSE(QFileInfo::exists(elsewhere.filePath("made.wav")));
}

TEST_F(TakeSafetyTest, LostDeviceStopsLikeTheButtonThenTellsTheUser) {
    writeFile(NuIni(), "5\r\n");
    auto form = Open();
    Start(*form);
    Feed(*form, 0, 3);
    bool stoppedFirst = false;
    messages.onShow = [&](const MessageRecorder::Message&) {
        stoppedFirst = !form->Recorder().IsRecording() &&
                       cmdDo(*form).text() == QStringLiteral("开始录音") &&
                       readFile(NuIni()) == QByteArray("6\r\n");
    };
    waveIn.Fail(platform::MMSYSERR_NODRIVER);
    ASSERT_TRUE(PumpUntil([&] { return !messages.messages.empty(); }));
    EXPECT_TRUE(stoppedFirst);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("录音设备已断开，录音已停止!"));
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("提示"));
    EXPECT_EQ(messages.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_EQ(form->strLastFile(), FilePath("file/录音5.wav"));
    EXPECT_EQ(Path(*form), FilePath("file/录音6.wav"));
    EXPECT_EQ(ReadBack(form->strLastFile(), 44100, 2), ramps(0, 3));

    // The window records again on the next start.
    Start(*form);
    Feed(*form, 3, 1);
    cmdDo(*form).click();
    EXPECT_EQ(ReadBack(FilePath("file/录音6.wav"), 44100, 2), ramps(3, 1));
    EXPECT_EQ(messages.messages.size(), 1u);
}

TEST_F(TakeSafetyTest, SilenceWrittenForLostSoundIsReportedOnceAtTheStop) {
    auto form = Open();
    Start(*form);
    Feed(*form, 0, 2);
    waveIn.silenceBytes = 44100 * 4 / 2; // half a second at 44.1 kHz stereo
    EXPECT_TRUE(log.lines.empty());
    cmdDo(*form).click();
    EXPECT_TRUE(StatusMessage(*form).contains(QStringLiteral("0.500")))
        << StatusMessage(*form).toStdString();
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("0.500 s (88200 bytes)"), std::string::npos) << log.lines[0];
    EXPECT_NE(log.lines[0].find("录音0.wav"), std::string::npos) << log.lines[0];

    // A take without holes says nothing.
    waveIn.silenceBytes = 0;
    Start(*form);
    Feed(*form, 2, 1);
    cmdDo(*form).click();
    EXPECT_EQ(log.lines.size(), 1u);

    // Sound the server threw away unread is reported too, in the same one line as holes.
    Start(*form);
    Feed(*form, 3, 1);
    waveIn.silenceBytes = 4;
    waveIn.droppedBytes = 44100 * 4 * 25;
    cmdDo(*form).click();
    EXPECT_TRUE(StatusMessage(*form).contains(QStringLiteral("25.000")))
        << StatusMessage(*form).toStdString();
    EXPECT_TRUE(StatusMessage(*form).contains(QStringLiteral("0.000")))
        << StatusMessage(*form).toStdString();
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_NE(log.lines[1].find("25.000 s (4410000 bytes) of sound dropped"), std::string::npos)
        << log.lines[1];
    EXPECT_NE(log.lines[1].find("(4 bytes) of sound lost"), std::string::npos) << log.lines[1];
}

TEST_F(TakeSafetyTest, FiveHundredStartsAndStopsKeepEveryTake) {
    auto form = Open();
    for (int cycle = 0; cycle < 500; ++cycle) {
        Start(*form);
        Feed(*form, cycle, 1);
        cmdDo(*form).click();
        ASSERT_FALSE(form->Recorder().IsRecording()) << cycle;
    }
    EXPECT_EQ(form->intFileNo(), 500);
    EXPECT_EQ(readFile(NuIni()), QByteArray("500\r\n"));
    // Every take holds its block: the header and one block each.
    for (int n : {0, 249, 499}) {
        EXPECT_EQ(QFileInfo(Form1::OutputPath(dir.path(), static_cast<std::int16_t>(n))).size(),
                  46 + 10240)
            << n;
    }
    EXPECT_EQ(ReadBack(Form1::OutputPath(dir.path(), 499), 44100, 2), ramps(499, 1));
}

} // namespace
