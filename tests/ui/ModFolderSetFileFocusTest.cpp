#include "ui/ModFolderSetFileFocus.h"

#include "FakeFileManager.h"
#include "PrivateBus.h"
#include "ScriptedShell.h"
#include "platform/shell/FreedesktopShell.h"

#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using ModFolderSetFileFocus::FileExists;
using ModFolderSetFileFocus::FolderSetFileFocus;

namespace {

// Creates an empty file and returns its path.
QString touch(const QTemporaryDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    return path;
}

QString fileUrl(const QString& path) {
    return QUrl::fromLocalFile(path).toString();
}

} // namespace

TEST(FileExists, FindsEntriesAndWildcardMatchesOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString take = touch(dir, QStringLiteral("录音7.wav"));
    touch(dir, QStringLiteral("a\\b.wav"));

    EXPECT_TRUE(FileExists(take));
    EXPECT_TRUE(FileExists(dir.path())) << "a folder is an entry too";
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("录音8.wav"))));
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("gone/录音7.wav"))));

    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("录音*.wav"))));
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("录音?.wav"))));
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("*"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("*.mp3"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("录音??.wav"))));

    // A backslash is part of the name, not an escape.
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("a\\b.wav"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("ab.wav"))));
}

TEST(FolderSetFileFocus, MissingPathsOpenNothing) {
    QTemporaryDir dir;
    const QString take = touch(dir, QStringLiteral("录音4.wav"));
    ASSERT_TRUE(QFile::remove(take));
    ScriptedShell shell;

    EXPECT_FALSE(FolderSetFileFocus(take));
    EXPECT_FALSE(FolderSetFileFocus(QString()));
    EXPECT_FALSE(FolderSetFileFocus(QStringLiteral("   ")));
    EXPECT_FALSE(FolderSetFileFocus(dir.filePath(QStringLiteral("*.wav"))));
    EXPECT_TRUE(shell.shown.empty());
    EXPECT_TRUE(shell.opened.empty());
}

namespace {

// The freedesktop shell on a test bus; opening URLs is recorded instead of done.
class ShellOnBus : public platform::FreedesktopShell {
public:
    ShellOnBus(const QDBusConnection& bus, std::chrono::milliseconds wait)
        : FreedesktopShell(bus, wait), previous_(platform::DesktopShell::install(this)) {}
    ~ShellOnBus() override { platform::DesktopShell::install(previous_); }

    bool OpenUrl(const QUrl& url) override {
        opened.push_back(url);
        return true;
    }

    std::vector<QUrl> opened;

private:
    platform::DesktopShell* previous_;
};

// A private bus with two connections: the program's, and one the fake file manager may
// register on.
class FileManagerBus : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.started()) << bus_.problem().toStdString();
        program_ = QDBusConnection::connectToBus(bus_.address(), QStringLiteral("vocarn-program"));
        desktop_ = QDBusConnection::connectToBus(bus_.address(), QStringLiteral("vocarn-desktop"));
        ASSERT_TRUE(program_.isConnected()) << program_.lastError().message().toStdString();
        ASSERT_TRUE(desktop_.isConnected()) << desktop_.lastError().message().toStdString();
        ASSERT_TRUE(dir_.isValid());
        take_ = touch(dir_, QStringLiteral("录音9.wav"));
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("vocarn-program"));
        QDBusConnection::disconnectFromBus(QStringLiteral("vocarn-desktop"));
    }

    void registerFileManager() {
        ASSERT_TRUE(desktop_.registerObject(QStringLiteral("/org/freedesktop/FileManager1"),
                                            &fileManager_, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(desktop_.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    }

    PrivateBus bus_;
    QDBusConnection program_{QString()};
    QDBusConnection desktop_{QString()};
    FakeFileManager fileManager_;
    QTemporaryDir dir_;
    QString take_;
};

} // namespace

TEST_F(FileManagerBus, TheFileManagerIsAskedToShowTheFile) {
    registerFileManager();
    ShellOnBus shell(program_, std::chrono::milliseconds(3000));

    EXPECT_TRUE(FolderSetFileFocus(QStringLiteral(" ") + take_ + QStringLiteral(" ")));
    ASSERT_EQ(fileManager_.asked.size(), 1u);
    EXPECT_EQ(fileManager_.asked[0], QStringList{fileUrl(take_)});
    EXPECT_EQ(fileManager_.startupIds[0], QString());
    EXPECT_TRUE(shell.opened.empty()) << "the file manager showed it: no second window";

    // A wildcard path that matches counts as existing; the file manager decides.
    const QString pattern = dir_.filePath(QStringLiteral("录音?.wav"));
    EXPECT_TRUE(FolderSetFileFocus(pattern));
    ASSERT_EQ(fileManager_.asked.size(), 2u);
    EXPECT_EQ(fileManager_.asked[1], QStringList{fileUrl(pattern)});
}

TEST_F(FileManagerBus, NoFileManagerOnTheBusOpensTheFolder) {
    ShellOnBus shell(program_, std::chrono::milliseconds(3000));

    EXPECT_TRUE(FolderSetFileFocus(take_));
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], QUrl::fromLocalFile(QDir(dir_.path()).absolutePath()));
}

TEST_F(FileManagerBus, NoBusAtAllOpensTheFolder) {
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=") + dir_.filePath(QStringLiteral("no-bus")),
        QStringLiteral("vocarn-no-bus"));
    ASSERT_FALSE(none.isConnected());
    ShellOnBus shell(none, std::chrono::milliseconds(3000));

    EXPECT_TRUE(FolderSetFileFocus(take_));
    EXPECT_EQ(shell.opened.size(), 1u);
    QDBusConnection::disconnectFromBus(QStringLiteral("vocarn-no-bus"));
}

TEST_F(FileManagerBus, AnErrorFromTheFileManagerGivesFalse) {
    registerFileManager();
    fileManager_.answer = FakeFileManager::Answer::Error;
    ShellOnBus shell(program_, std::chrono::milliseconds(3000));

    EXPECT_FALSE(FolderSetFileFocus(take_));
    EXPECT_EQ(fileManager_.asked.size(), 1u);
    EXPECT_TRUE(shell.opened.empty());
}

TEST_F(FileManagerBus, ASlowFileManagerIsWaitedForBrieflyWithTheLoopRunning) {
    registerFileManager();
    fileManager_.answer = FakeFileManager::Answer::Never;
    ShellOnBus shell(program_, std::chrono::milliseconds(400));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(FolderSetFileFocus(take_)) << "the request is with the file manager";
    const qint64 waited = clock.elapsed();
    EXPECT_GE(waited, 350);
    EXPECT_LT(waited, 2500);
    EXPECT_GE(ticks, 5) << "timers kept running while the answer was awaited";
    EXPECT_EQ(fileManager_.asked.size(), 1u);
    EXPECT_TRUE(shell.opened.empty());
}
