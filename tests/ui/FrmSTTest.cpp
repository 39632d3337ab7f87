#include "ui/FrmST.h"
#include "encoder/EncoderAudioFile.h"

#include "AudioProbe.h"
#include "EventPump.h"
#include "ScriptedShell.h"
#include "platform/MessageBoxService.h"
#include "ui/EmbeddedPlayer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

// Qt 6.4's FFmpeg playback backend never frees the FFmpeg I/O context (a 32 KiB buffer and its
// bookkeeping) of a source it reads through a device: about 33 KB per file previewed. Nothing
// in this program calls FFmpeg itself, so every FFmpeg allocation left at exit is the
// backend's; the leak sanitizer of a sanitizer build is told to pass over those.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libavutil.so\n";
}

namespace {

using namespace std::chrono_literals;

// Writes a short tone in the given codec (ffmpeg options) and returns the path.
QString makeTake(const QTemporaryDir& dir, const QString& name, const std::string& codec,
                 int rate = 44100, double seconds = 0.5) {
    const QString path = dir.filePath(name);
    int status = 0;
    audioprobe::run("ffmpeg -v error -y -f lavfi -i sine=f=440:d=" + std::to_string(seconds) +
                        ":r=" + std::to_string(rate) + " " + codec + " -f wav " +
                        audioprobe::quoted(QFile::encodeName(path).toStdString()),
                    status);
    EXPECT_EQ(status, 0) << name.toStdString();
    return path;
}

// Sets an environment variable for the test's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : name_(name) {
        if (qEnvironmentVariableIsSet(name)) {
            old_ = qgetenv(name);
        }
        qputenv(name, QFile::encodeName(value));
    }
    ~ScopedEnv() {
        if (old_) {
            qputenv(name_, *old_);
        } else {
            qunsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> old_;
};

// A preview window with the recordings in a folder of its own, beside a private home whose
// data folder holds the desktop's trash, and a shell that records instead of opening.
// Answers every question with `answer` and keeps the questions.
class Answers final : public platform::MessageBoxService {
public:
    Answers() : previous_(install(this)) {}
    ~Answers() override { install(previous_); }
    void show(QWidget*, const QString&, const QString&, platform::MessageIcon) override {}
    bool ask(QWidget*, const QString& text, const QString&) override {
        questions << text;
        return answer;
    }
    bool answer = false;
    QStringList questions;

private:
    platform::MessageBoxService* previous_;
};

class Preview : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(madeHome_);
    }

    EmbeddedPlayer* LST() { return preview_.findChild<EmbeddedPlayer*>(QStringLiteral("LST")); }
    QMediaPlayer* player() { return LST()->mediaPlayer(); }
    void click(const char* name) { preview_.findChild<QPushButton*>(QLatin1String(name))->click(); }
    QString trash() const { return root_.filePath(QStringLiteral("home/.local/share/Trash")); }

    QTemporaryDir root_;
    ScopedEnv home_{"HOME", root_.filePath(QStringLiteral("home"))};
    ScopedEnv data_{"XDG_DATA_HOME", root_.filePath(QStringLiteral("home/.local/share"))};
    bool madeHome_ = QDir().mkpath(root_.filePath(QStringLiteral("home/.local/share"))) &&
                     QDir().mkpath(root_.filePath(QStringLiteral("home/file")));
    ScriptedShell shell_;
    FrmST preview_;
};

} // namespace

TEST_F(Preview, PlaysTheFileItIsHandedAndRestartsWithTheCurrentOneWhenOpenedAgain) {
    const QString first =
        makeTake(root_, QStringLiteral("home/file/录音1.wav"), "-ac 2 -c:a pcm_s16le", 44100, 1.5);
    const QString second =
        makeTake(root_, QStringLiteral("home/file/录音2.wav"), "-ac 1 -c:a pcm_s16le");

    preview_.ShowWith(first);
    EXPECT_TRUE(preview_.isVisible());
    EXPECT_EQ(preview_.windowTitle(), QStringLiteral("Vocarn--试听"));
    EXPECT_EQ(preview_.parentWidget(), nullptr);
    EXPECT_FALSE(preview_.isModal());
    EXPECT_EQ(LST()->URL(), first);
    EXPECT_EQ(player()->source(), QUrl::fromLocalFile(first));
    EXPECT_EQ(player()->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_TRUE(PumpUntil([&] { return player()->duration() == 1500; }));
    auto* time = LST()->findChild<QLabel*>(QStringLiteral("lblTime"));
    ASSERT_NE(time, nullptr);
    EXPECT_TRUE(time->text().endsWith(QStringLiteral(" / 0:01"))) << time->text().toStdString();

    // The button pauses and plays on; the slider moves the play position.
    auto* play = LST()->findChild<QToolButton*>();
    ASSERT_NE(play, nullptr);
    EXPECT_TRUE(play->isEnabled());
    play->click();
    EXPECT_EQ(player()->playbackState(), QMediaPlayer::PausedState);
    EXPECT_EQ(play->text(), QStringLiteral("播放"));
    auto* slider = LST()->findChild<QSlider*>(QStringLiteral("sldPosition"));
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->maximum(), 1500);
    slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_TRUE(PumpUntil([&] { return player()->position() >= 1000; })) << player()->position();
    EXPECT_LT(player()->position(), 1500);
    play->click();
    EXPECT_EQ(player()->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_EQ(play->text(), QStringLiteral("暂停"));

    preview_.ShowWith(second);
    EXPECT_TRUE(preview_.isVisible());
    EXPECT_EQ(preview_.File(), second);
    EXPECT_EQ(player()->source(), QUrl::fromLocalFile(second));
    EXPECT_TRUE(PumpUntil([&] { return player()->mediaStatus() == QMediaPlayer::EndOfMedia; }))
        << "it plays to the end through the sound server";

    // The same file again is played again from its start.
    preview_.ShowWith(second);
    EXPECT_NE(player()->mediaStatus(), QMediaPlayer::EndOfMedia);
    EXPECT_LT(player()->position(), 100);
    EXPECT_EQ(player()->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_TRUE(PumpUntil([&] { return player()->mediaStatus() == QMediaPlayer::EndOfMedia; }));
}

TEST_F(Preview, DeleteMovesTheTakeToTheTrashClosesAndLeavesTheMainWindowAlone) {
    const QString take = makeTake(root_, QStringLiteral("home/file/录音3.wav"), "-c:a pcm_s16le");
    const QString keep = makeTake(root_, QStringLiteral("home/file/录音2.wav"), "-c:a pcm_s16le");
    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("VocarnV3.93"));
    mainWindow.show();

    preview_.ShowWith(take);
    click("Command1");

    EXPECT_FALSE(QFileInfo::exists(take));
    EXPECT_TRUE(QFileInfo::exists(keep));
    const QString trashed = trash() + QStringLiteral("/files/录音3.wav");
    ASSERT_TRUE(QFileInfo::exists(trashed)) << "the take can be brought back";
    QFile trashInfo(trash() + QStringLiteral("/info/录音3.wav.trashinfo"));
    ASSERT_TRUE(trashInfo.open(QIODevice::ReadOnly));
    EXPECT_TRUE(trashInfo.readAll().startsWith(
        "[Trash Info]\nPath=" + QUrl::toPercentEncoding(take, "/") + "\nDeletionDate="));
    const auto info = audioprobe::soxi(QFile::encodeName(trashed).toStdString());
    EXPECT_TRUE(info.ok) << info.text;
    EXPECT_EQ(info.samples, 22050);

    EXPECT_FALSE(preview_.isVisible());
    EXPECT_TRUE(player()->source().isEmpty());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(mainWindow.windowTitle(), QStringLiteral("VocarnV3.93"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "nothing is asked";
    EXPECT_TRUE(shell_.shown.empty());
}

// Where no trash can take the take, it is deleted for good only on a Yes to the question.
TEST_F(Preview, WithoutATrashTheTakeIsDeletedOnlyWhenTheUserSaysSo) {
    const QString take = makeTake(root_, QStringLiteral("home/file/录音4.wav"), "-c:a pcm_s16le");
    {
        QFile blocker(trash()); // a file where the trash folder would be: no trash
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    // Where the program was started from: nothing of the take may end up there.
    const QString started = QDir::currentPath();
    ASSERT_TRUE(QDir().mkpath(root_.filePath(QStringLiteral("cwd"))));
    ASSERT_TRUE(QDir::setCurrent(root_.filePath(QStringLiteral("cwd"))));

    Answers answers;
    answers.answer = false;
    preview_.ShowWith(take);
    click("Command1");
    EXPECT_TRUE(QFileInfo::exists(take)) << "a No keeps the take";
    EXPECT_EQ(answers.questions,
              QStringList{QStringLiteral("无法将录音移到回收站。要永久删除它吗？")});
    EXPECT_FALSE(preview_.isVisible());

    answers.answer = true;
    preview_.ShowWith(take);
    click("Command1");
    const QStringList left = QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QDir::setCurrent(started);

    EXPECT_FALSE(QFileInfo::exists(take));
    EXPECT_EQ(answers.questions.size(), 2);
    EXPECT_TRUE(QFileInfo(trash()).isFile());
    EXPECT_TRUE(left.isEmpty()) << left.join(QLatin1Char(' ')).toStdString();
}

// A take on another mount goes to that mount's own trash; where none can be made there, a
// copy goes to the home trash and the take is removed. (/dev/shm stands for the other
// mount; the test runs only when nothing of ours is in its trash already.)
TEST_F(Preview, ATakeOnAnotherMountGoesToItsTrashOrIntoTheHomeTrash) {
    const QString shm = QStringLiteral("/dev/shm");
    const QString mountTrash = shm + QStringLiteral("/.Trash-") + QString::number(::getuid());
    struct stat here {
    }, there{};
    if (::stat(QFile::encodeName(root_.path()).constData(), &here) != 0 ||
        ::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev ||
        ::access("/dev/shm", W_OK) != 0 || QFileInfo::exists(mountTrash)) {
        GTEST_SKIP() << "no other mount to try";
    }
    QTemporaryDir other(shm + QStringLiteral("/vocarn-take-XXXXXX"));
    ASSERT_TRUE(other.isValid());
    const auto takeThere = [&](const char* name) {
        const QString path = other.filePath(QString::fromUtf8(name));
        QFile::copy(makeTake(root_, QStringLiteral("home/file/take.wav"), "-c:a pcm_s16le"), path);
        QFile::remove(root_.filePath(QStringLiteral("home/file/take.wav")));
        return path;
    };

    const QString first = takeThere("录音 8.wav");
    preview_.ShowWith(first);
    click("Command1");
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_TRUE(QFileInfo::exists(mountTrash + QStringLiteral("/files/录音 8.wav")));
    QFile info(mountTrash + QStringLiteral("/info/录音 8.wav.trashinfo"));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    // Named relative to the top of the mount, percent-encoded.
    EXPECT_TRUE(info.readAll().contains(
        "Path=" + QUrl::toPercentEncoding(first.mid(shm.size() + 1), "/") + "\n"));
    QDir(mountTrash).removeRecursively();

    // No trash can be made on that mount: a copy into the home trash.
    {
        QFile blocker(mountTrash);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const QString second = takeThere("录音9.wav");
    preview_.ShowWith(second);
    click("Command1");
    QFile::remove(mountTrash);
    EXPECT_FALSE(QFileInfo::exists(second));
    const QString copied = trash() + QStringLiteral("/files/录音9.wav");
    const auto probe = audioprobe::soxi(QFile::encodeName(copied).toStdString());
    EXPECT_TRUE(probe.ok) << probe.text;
    EXPECT_EQ(probe.samples, 22050);
}

TEST_F(Preview, DeleteOfAMissingOrEmptyPathClosesSilently) {
    const QString take = makeTake(root_, QStringLiteral("home/file/录音5.wav"), "-c:a pcm_s16le");
    const QString other = makeTake(root_, QStringLiteral("home/file/录音6.wav"), "-c:a pcm_s16le");
    ASSERT_TRUE(QFile::remove(take));

    preview_.ShowWith(take);
    EXPECT_TRUE(player()->source().isEmpty()) << "a deleted take shows an empty player";
    EXPECT_FALSE(LST()->findChild<QToolButton*>()->isEnabled());
    click("Command1");
    EXPECT_FALSE(preview_.isVisible());
    EXPECT_TRUE(QFileInfo::exists(other));
    EXPECT_FALSE(QFileInfo::exists(trash() + QStringLiteral("/files")));

    preview_.ShowWith(QString());
    EXPECT_TRUE(preview_.isVisible());
    EXPECT_TRUE(player()->source().isEmpty());
    click("Command1");
    EXPECT_FALSE(preview_.isVisible());
    EXPECT_TRUE(QFileInfo::exists(other));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(Preview, OpenFolderShowsTheTakeSelectedAndCloses) {
    const QString take = makeTake(root_, QStringLiteral("home/file/录音7.wav"), "-c:a pcm_s16le");

    preview_.ShowWith(take);
    click("Command3");
    ASSERT_EQ(shell_.shown.size(), 1u);
    EXPECT_EQ(shell_.shown[0], QStringList{QUrl::fromLocalFile(take).toString()});
    EXPECT_FALSE(preview_.isVisible());
    EXPECT_TRUE(player()->source().isEmpty()) << "closing lets go of the file";
    EXPECT_TRUE(QFileInfo::exists(take));

    // Nothing to show for an empty path; the window closes all the same.
    preview_.ShowWith(QString());
    click("Command3");
    EXPECT_EQ(shell_.shown.size(), 1u);
    EXPECT_TRUE(shell_.opened.empty());
    EXPECT_FALSE(preview_.isVisible());
}

TEST_F(Preview, CloseAndTheCloseBoxStopThePlayer) {
    const QString take = makeTake(root_, QStringLiteral("home/file/录音8.wav"), "-c:a pcm_s16le");

    preview_.ShowWith(take);
    click("Command2");
    EXPECT_FALSE(preview_.isVisible());
    EXPECT_EQ(player()->playbackState(), QMediaPlayer::StoppedState);
    EXPECT_TRUE(player()->source().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(take));

    preview_.ShowWith(take);
    EXPECT_TRUE(preview_.close());
    EXPECT_TRUE(player()->source().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(take));
}

TEST_F(Preview, EveryRecordedFormatPlaysToItsEndWithItsLength) {
    struct Format {
        const char* name;
        std::string codec;
        int rate;
    };
    const Format formats[] = {
        {"pcm", "-ac 2 -c:a pcm_s16le", 44100},     {"alaw", "-ac 1 -c:a pcm_alaw", 8000},
        {"ima", "-ac 2 -c:a adpcm_ima_wav", 22050}, {"ms", "-ac 1 -c:a adpcm_ms", 11025},
        {"gsm", "-ac 1 -c:a libgsm_ms", 8000},      {"mp3", "-ac 2 -c:a libmp3lame", 44100},
    };
    for (const Format& format : formats) {
        SCOPED_TRACE(format.name);
        const QString take = makeTake(root_, QStringLiteral("home/file/%1.wav").arg(format.name),
                                      format.codec, format.rate, 0.6);
        preview_.ShowWith(take);
        EXPECT_TRUE(
            PumpUntil([&] { return player()->mediaStatus() == QMediaPlayer::EndOfMedia; }, 5s))
            << "status " << player()->mediaStatus() << ", "
            << player()->errorString().toStdString();
        // The length as an independent reader sees it (codec blocks pad the end).
        const auto probe = audioprobe::ffprobe(QFile::encodeName(take).toStdString());
        ASSERT_TRUE(probe.ok && probe.sampleRate > 0) << probe.text;
        EXPECT_NEAR(player()->duration(), probe.durationTs * 1000 / probe.sampleRate, 30);
    }
    // FLAC, Ogg Opus and MP3 takes as Vocarn writes them.
    std::vector<std::int16_t> tone(44100 * 2 * 6 / 10);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<std::int16_t>(8000 * std::sin(static_cast<double>(i / 2) * 0.0627));
    }
    for (const char* extension : {"flac", "opus", "mp3"}) {
        SCOPED_TRACE(extension);
        const QString take = root_.filePath(QStringLiteral("home/file/t.%1").arg(extension));
        EncoderAudioFile encoder;
        ASSERT_EQ(encoder.Encoder_EncoderInit(44100, 2, QFile::encodeName(take).toStdString()), 0);
        for (std::size_t at = 0; at < tone.size(); at += 5120) {
            std::int32_t used = 0;
            const auto n = static_cast<std::int32_t>(std::min<std::size_t>(5120, tone.size() - at));
            ASSERT_EQ(encoder.Encoder_Encode(reinterpret_cast<const std::uint8_t*>(&tone[at]),
                                             n * 2, used),
                      0);
        }
        ASSERT_EQ(encoder.Encoder_EncoderClose(), 0);
        preview_.ShowWith(take);
        EXPECT_TRUE(
            PumpUntil([&] { return player()->mediaStatus() == QMediaPlayer::EndOfMedia; }, 5s))
            << "status " << player()->mediaStatus() << ", "
            << player()->errorString().toStdString();
        EXPECT_NEAR(player()->duration(), 600, 40);
    }
}

// Qt ends the program with a fatal error when the first player is made and its playback
// backend cannot be loaded: the one QT_MEDIA_BACKEND names, or any, when its plugin folder
// holds none. Each case runs in a process of its own, since Qt picks its backend once per
// process: the preview says why it cannot play, and the program goes on.
TEST(PreviewWithoutABackend, SaysWhyItCannotPlayAndTheProgramGoesOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString take = makeTake(dir, QStringLiteral("录音1.wav"), "-c:a pcm_s16le");
    const auto preview = [&take] {
        FrmST window;
        window.ShowWith(take);
        const auto* why = window.findChild<QLabel*>(QStringLiteral("lblNoPlayer"));
        const bool told =
            why != nullptr && why->isVisible() &&
            why->text() == QStringLiteral("无法试听：此系统没有可用的媒体播放组件。") &&
            window.findChild<EmbeddedPlayer*>(QStringLiteral("LST"))->mediaPlayer() == nullptr;
        window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        // Leaves at once: the application object that frees the toolkit's font caches lives
        // in main, which a death test's process never returns to.
        std::_Exit(told && !window.isVisible() && QFileInfo::exists(take) ? 0 : 1);
    };
    EXPECT_EXIT(
        {
            qputenv("QT_MEDIA_BACKEND", "nonexistent");
            preview();
        },
        ::testing::ExitedWithCode(0), "")
        << "a backend that does not exist";
    EXPECT_EXIT(
        {
            qunsetenv("QT_MEDIA_BACKEND");
            QCoreApplication::setLibraryPaths({dir.path()});
            preview();
        },
        ::testing::ExitedWithCode(0), "")
        << "no backend in the plugin folder";
}

TEST(EmbeddedPlayer, FormatTimeShowsMinutesAndSeconds) {
    EXPECT_EQ(EmbeddedPlayer::FormatTime(0), QStringLiteral("0:00"));
    EXPECT_EQ(EmbeddedPlayer::FormatTime(999), QStringLiteral("0:00"));
    EXPECT_EQ(EmbeddedPlayer::FormatTime(61000), QStringLiteral("1:01"));
    EXPECT_EQ(EmbeddedPlayer::FormatTime(3599999), QStringLiteral("59:59"));
    EXPECT_EQ(EmbeddedPlayer::FormatTime(3600000), QStringLiteral("60:00"));
    EXPECT_EQ(EmbeddedPlayer::FormatTime(-5), QStringLiteral("0:00"));
}
