#include "app/SingleInstance.h"

#include "EventPump.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(SingleInstance, SecondOnTheFolderIsRefusedAndBringsTheFirstForward) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QTemporaryDir other;
    ASSERT_TRUE(other.isValid());

    auto first = std::make_unique<SingleInstance>(dir.path());
    int activated = 0;
    QStringList tokens;
    first->setOnActivated([&](const QString& token) {
        ++activated;
        tokens << token;
    });
    ASSERT_TRUE(first->Acquire());
    EXPECT_TRUE(QFile::exists(QDir(dir.path()).filePath("vocarn.lock")));

    // The lock and the socket are per folder: another folder runs its own copy.
    SingleInstance elsewhere(other.path());
    EXPECT_TRUE(elsewhere.Acquire());
    EXPECT_NE(SingleInstance::ServerName(dir.path()), SingleInstance::ServerName(other.path()));

    // The first copy's event loop must run to answer; the second start connects from a
    // thread of its own, as a separate process would.
    // It hands over the activation token the desktop gave it, so that the first may come
    // forward on Wayland.
    qputenv("XDG_ACTIVATION_TOKEN", "kwin-4711_TIME1234");
    bool refused = false;
    std::thread second([&] { refused = !SingleInstance(dir.path()).Acquire(); });
    EXPECT_TRUE(PumpUntil([&] { return activated == 1; }, 5s));
    second.join();
    EXPECT_TRUE(refused);
    // Without a token (X11), or with one that is no token, the window comes forward all the
    // same.
    qputenv("XDG_ACTIVATION_TOKEN", "bad token\x01");
    std::thread third([&] { SingleInstance(dir.path()).Acquire(); });
    EXPECT_TRUE(PumpUntil([&] { return activated == 2; }, 5s));
    third.join();
    qunsetenv("XDG_ACTIVATION_TOKEN");
    EXPECT_EQ(tokens, QStringList({"kwin-4711_TIME1234", ""}));

    // Once the first ends, the folder is free again.
    first.reset();
    EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath("vocarn.lock")));
    EXPECT_TRUE(SingleInstance(dir.path()).Acquire());
}

TEST(SingleInstance, LockOfACopyThatDiedIsTakenOver) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A process that has ended: its id names no running copy.
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    ASSERT_TRUE(gone.waitForStarted());
    const qint64 pid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished());
    QFile lock(QDir(dir.path()).filePath("vocarn.lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid) + "\napp_tests\n" + QSysInfo::machineHostName().toUtf8() +
               "\n");
    lock.close();

    SingleInstance next(dir.path());
    EXPECT_TRUE(next.Acquire());
}

} // namespace
