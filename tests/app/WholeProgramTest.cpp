#include "app/Form1.h"
#include "encoder/EncoderWAV.h"
#include "platform/WindowService.h"

#include "AudioProbe.h"
#include "EventPump.h"
#include "MessageRecorder.h"
#include "ScriptedWaveIn.h"
#include "SoundServer.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

constexpr qint64 kHeaderBytes = 46;     // the take's header before its audio
constexpr qint64 kBytesPerSec = 176400; // 44.1 kHz stereo, 16 bits

// Runs the real program from a folder of its own (its program folder, as a portable copy),
// offscreen, on the test run's sound server.
class WholeProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        program = dir.filePath(QStringLiteral("vocarn"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(VOCARN_PROGRAM), program));
        ASSERT_TRUE(
            QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner));
        for (const ServerSource& source : SourcesInDeviceOrder()) {
            if (source.name == "vocarn_null.monitor") {
                monitor = QString::fromStdString(source.description);
            }
        }
        ASSERT_FALSE(monitor.isEmpty());
    }

    // Starts the program; with `record`, it starts a take from the null sink's monitor (which
    // delivers steadily) at once.
    std::unique_ptr<QProcess> Run(bool record) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // Settings kept for the next start stay in the test's own folder.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        if (record) {
            env.insert(QStringLiteral("VOCARN_TEST_AUTORECORD"), monitor);
        } else {
            env.remove(QStringLiteral("VOCARN_TEST_AUTORECORD"));
        }
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(program, {});
        EXPECT_TRUE(process->waitForStarted(5000));
        return process;
    }

    static void Kill(QProcess& process) {
        process.kill();
        process.waitForFinished(5000);
    }

    QString Take(int n) const { return dir.filePath(QStringLiteral("file/录音%1.wav").arg(n)); }
    qint64 Size(int n) const { return QFileInfo(Take(n)).size(); }
    // Empty unless nu.ini is a regular file (reading a FIFO would wait for a writer).
    QByteArray NuIni() const {
        QFile file(dir.filePath(QStringLiteral("nu.ini")));
        return QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                          : QByteArray();
    }
    // The header's RIFF and data sizes of take n, and its length.
    struct Sizes {
        std::uint32_t riff = 0;
        std::uint32_t data = 0;
        qint64 length = 0;
    };
    Sizes HeaderSizes(int n) const {
        QFile file(Take(n));
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const auto le32 = [&](int at) {
            std::uint32_t v = 0;
            for (int i = 3; i >= 0; --i) {
                v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
            }
            return v;
        };
        return bytes.size() < kHeaderBytes ? Sizes{} : Sizes{le32(4), le32(42), bytes.size()};
    }

    QTemporaryDir dir;
    QString program;
    QString monitor; // the source as the device list names it
};

TEST_F(WholeProgram, KilledTakeIsPlayableAndRepairedWithoutReusingItsName) {
    auto first = Run(true);
    const qint64 wanted = kHeaderBytes + kBytesPerSec * 2;
    ASSERT_TRUE(PumpUntil([&] { return Size(0) > wanted; }, 15s)) << Size(0);
    // What was on disk a little over a second before the kill.
    const qint64 secondBefore = Size(0);
    PumpFor(1200ms);
    const qint64 atKill = Size(0);
    Kill(*first);

    // Both readers open the take and find all that was recorded up to a second before.
    const qint64 framesSecondBefore = (secondBefore - kHeaderBytes) / 4;
    const audioprobe::FfprobeInfo probe = audioprobe::ffprobe(Take(0).toStdString());
    ASSERT_TRUE(probe.ok) << probe.text;
    EXPECT_GE(probe.durationTs, framesSecondBefore) << probe.text;
    const audioprobe::SoxInfo sox = audioprobe::soxi(Take(0).toStdString());
    ASSERT_TRUE(sox.ok) << sox.text;
    EXPECT_GE(sox.samples, framesSecondBefore) << sox.text;

    // The next start makes the take whole and numbers past it.
    auto second = Run(false);
    EXPECT_TRUE(PumpUntil([&] { return NuIni() == "1\r\n"; }, 10s)) << NuIni().toStdString();
    EXPECT_TRUE(PumpUntil([&] { return QFileInfo::exists(Take(1)); }, 5s));
    Kill(*second);
    const qint64 repaired = Size(0);
    EXPECT_GE(repaired, atKill - 3);
    EXPECT_EQ(audioprobe::soxi(Take(0).toStdString()).samples, (repaired - kHeaderBytes) / 4);
    EXPECT_EQ(audioprobe::ffprobe(Take(0).toStdString()).durationTs, (repaired - kHeaderBytes) / 4);
}

// The takes are FLAC, then Ogg Opus, then MP3 files (the type remembered from the last run):
// each killed 3 s after its first sound reached the disk keeps all but about a second of it, read
// back by ffprobe and by the type's reference reader once the next start has been (which states a
// FLAC take's total), and the numbering moves past it.
TEST_F(WholeProgram, KilledTakeOfEachTypeKeepsItsSoundAfterTheNextStart) {
    int number = 0;
    for (const char* extension : {"flac", "opus", "mp3"}) {
        const QString type = QString::fromLatin1(extension);
        QDir().mkpath(dir.filePath(QStringLiteral("config/Vocarn")));
        QFile conf(dir.filePath(QStringLiteral("config/Vocarn/Vocarn.conf")));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
        conf.write(QStringLiteral("[output]\ntype=%1\n").arg(type).toUtf8());
        conf.close();
        const QString take = dir.filePath(QStringLiteral("file/录音%1.%2").arg(number).arg(type));

        auto recording = Run(true);
        // The header first, then the first sound.
        ASSERT_TRUE(PumpUntil([&] { return QFileInfo(take).size() > 0; }, 15s)) << extension;
        const qint64 header = QFileInfo(take).size();
        ASSERT_TRUE(PumpUntil([&] { return QFileInfo(take).size() > header; }, 15s)) << extension;
        PumpFor(3000ms);
        Kill(*recording);
        auto next = Run(false);
        const QByteArray counter = QByteArray::number(number + 1) + "\r\n";
        EXPECT_TRUE(PumpUntil([&] { return NuIni() == counter; }, 10s)) << extension;
        Kill(*next);

        const std::string file = take.toStdString();
        const audioprobe::FfprobeInfo probe = audioprobe::ffprobe(file);
        ASSERT_TRUE(probe.ok) << probe.text;
        const std::string q = audioprobe::quoted(file);
        const std::string command = type == QStringLiteral("flac")
                                        ? "flac -d -s -c --force-raw-format --endian=little "
                                          "--sign=signed " +
                                              q
                                    : type == QStringLiteral("opus")
                                        ? "opusdec --quiet --rate 44100 " + q + " - 2>/dev/null"
                                        : "mpg123 -q -s -r 44100 " + q;
        int status = -1;
        const double seconds = audioprobe::run(command, status).size() / 176400.0;
        EXPECT_EQ(status, 0) << command;
        EXPECT_GT(seconds, 2.0) << extension;
        EXPECT_LT(seconds, 3.6) << extension;
        std::printf("%s take killed 3 s in: %.3f s kept\n", extension, seconds);
        ++number;
    }
}

TEST_F(WholeProgram, SecondCopyOnTheSameFolderEndsAndTheTakeRunsOn) {
    auto one = Run(true);
    auto two = Run(true);
    // One of the two ends by itself, with success; the other records.
    ASSERT_TRUE(PumpUntil(
        [&] {
            return one->state() == QProcess::NotRunning || two->state() == QProcess::NotRunning;
        },
        10s));
    QProcess& ended = one->state() == QProcess::NotRunning ? *one : *two;
    QProcess& running = one->state() == QProcess::NotRunning ? *two : *one;
    EXPECT_EQ(ended.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ended.exitCode(), 0);
    ASSERT_EQ(running.state(), QProcess::Running);

    ASSERT_TRUE(PumpUntil([&] { return Size(0) > kHeaderBytes + kBytesPerSec; }, 10s));
    const qint64 before = Size(0);
    PumpFor(1500ms);
    EXPECT_GT(Size(0), before + kBytesPerSec) << "the take goes on growing";
    EXPECT_LE(Size(1), 0) << "no second take";
    PumpFor(1200ms); // the header states what was there a second ago
    Kill(running);
    const audioprobe::SoxInfo sox = audioprobe::soxi(Take(0).toStdString());
    ASSERT_TRUE(sox.ok) << sox.text;
    EXPECT_GE(sox.samples, (before - kHeaderBytes) / 4);
}

// A copy of Vocarn from another folder (its own program folder, so the single-instance rule
// does not meet it) pointed at the first copy's live take: its encoder, and its window, are
// refused, and the take keeps its header and grows on.
TEST_F(WholeProgram, LiveTakeIsRefusedToAnotherRecordingAndRecordsOn) {
    auto first = Run(true);
    ASSERT_TRUE(PumpUntil([&] { return Size(0) > kHeaderBytes + kBytesPerSec; }, 15s));
    // The header but its two size fields: "RIFF", then "WAVEfmt ", the format and "data".
    const auto header = [&] {
        QFile file(Take(0));
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.read(42) : QByteArray();
        return bytes.left(4) + bytes.mid(8);
    };
    const QByteArray started = header();
    ASSERT_EQ(started.left(12), QByteArray("RIFFWAVEfmt "));

    EncoderWAV encoder;
    EXPECT_EQ(encoder.Encoder_EncoderInit(44100, 2, Take(0).toStdString()), 2);

    QTemporaryDir otherFolder;
    ASSERT_TRUE(otherFolder.isValid());
    MessageRecorder messages;
    platform::WindowService windows;
    ScriptedWaveIn waveIn;
    waveIn.devices = {"Scripted microphone"};
    {
        Form1 other(windows, waveIn, otherFolder.path());
        auto* cboDev = other.findChild<QComboBox*>(QStringLiteral("cboDev"));
        cboDev->setCurrentIndex(0);
        emit cboDev->activated(0);
        other.findChild<QLineEdit*>(QStringLiteral("txtFile"))->setText(Take(0));
        other.findChild<QPushButton*>(QStringLiteral("cmdDo"))->click();
        EXPECT_FALSE(other.Recorder().IsRecording());
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, QStringLiteral("该文件正在被另一个录音使用!"));
        EXPECT_EQ(messages.messages[0].title, QStringLiteral("提示"));
    }

    const qint64 before = Size(0);
    PumpFor(1500ms);
    EXPECT_GT(Size(0), before + kBytesPerSec) << "the take goes on growing";
    EXPECT_EQ(header(), started) << "the header is the take's own";
    PumpFor(1200ms); // the header states what was there a second ago
    Kill(*first);
    const audioprobe::SoxInfo sox = audioprobe::soxi(Take(0).toStdString());
    ASSERT_TRUE(sox.ok) << sox.text;
    EXPECT_GE(sox.samples, (before - kHeaderBytes) / 4);
}

// A nu.ini that is a FIFO is read as a damaged one: the window comes up and records, and the
// counter is saved in a regular file of its usual form in its place.
TEST_F(WholeProgram, NuIniThatIsAFifoNeitherHoldsUpTheStartNorTakesTheCounter) {
    const QByteArray ini = dir.filePath(QStringLiteral("nu.ini")).toUtf8();
    ASSERT_EQ(::mkfifo(ini.constData(), 0600), 0);
    auto program = Run(true);
    EXPECT_TRUE(PumpUntil([&] { return Size(0) > kHeaderBytes && NuIni() == "0\r\n"; }, 15s))
        << Size(0) << " " << NuIni().toStdString();
    Kill(*program);
}

// A logout (SIGHUP), a shutdown (SIGTERM) or Ctrl+C in a terminal (SIGINT) ends the program as
// closing its window does: the take's header states every byte on disk, the counter is saved,
// and the program exits normally.
TEST_F(WholeProgram, TerminationSignalsFinishTheTakeAndSaveTheCounter) {
    int n = 0;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        auto program = Run(true);
        ASSERT_TRUE(PumpUntil([&] { return Size(n) > kHeaderBytes + kBytesPerSec * 3 / 2; }, 15s));
        ASSERT_EQ(::kill(static_cast<pid_t>(program->processId()), signal), 0);
        ASSERT_TRUE(program->waitForFinished(10000));
        EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program->exitCode(), 0);
        const Sizes sizes = HeaderSizes(n);
        EXPECT_EQ(sizes.riff, sizes.length - 8);
        EXPECT_EQ(sizes.data, sizes.length - kHeaderBytes);
        ++n;
        EXPECT_EQ(NuIni(), QByteArray::number(n) + "\r\n");
        EXPECT_TRUE(QFileInfo(Take(n)).isFile()) << "the next file is made";
    }
}

} // namespace
