#include "app/SettingsFile.h"
#include "app/ProgramFolder.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(SettingsFile, ParsesDecimalCountersInTheSixteenBitRange) {
    EXPECT_EQ(SettingsFile::ParseFileNo("7"), 7);
    EXPECT_EQ(SettingsFile::ParseFileNo("  42 "), 42);
    EXPECT_EQ(SettingsFile::ParseFileNo("+3"), 3);
    EXPECT_EQ(SettingsFile::ParseFileNo("-5"), -5);
    EXPECT_EQ(SettingsFile::ParseFileNo("32767"), 32767);
    EXPECT_EQ(SettingsFile::ParseFileNo("-32768"), -32768);
    EXPECT_EQ(SettingsFile::ParseFileNo("0000000000012"), 12);
}

TEST(SettingsFile, RoundsFractionsHalfToEven) {
    EXPECT_EQ(SettingsFile::ParseFileNo("7.5"), 8);
    EXPECT_EQ(SettingsFile::ParseFileNo("6.5"), 6);
    EXPECT_EQ(SettingsFile::ParseFileNo("6.51"), 7);
    EXPECT_EQ(SettingsFile::ParseFileNo("6.4999"), 6);
    EXPECT_EQ(SettingsFile::ParseFileNo("-1.5"), -2);
    EXPECT_EQ(SettingsFile::ParseFileNo("-0.5"), 0);
    EXPECT_EQ(SettingsFile::ParseFileNo(".5"), 0);
    EXPECT_EQ(SettingsFile::ParseFileNo("3."), 3);
    // Decided by the digits, not by a double that would round this up to 7.5.
    EXPECT_EQ(SettingsFile::ParseFileNo("7.49999999999999999999"), 7);
    EXPECT_EQ(SettingsFile::ParseFileNo("32767.4"), 32767);
}

TEST(SettingsFile, RefusesTextThatIsNoCounter) {
    for (const char* text : {"", "   ", "abc", "12abc", "1 2", ".", "-", "+-1", "0x10", "１２",
                             "32768", "-32769", "32767.5", "99999999999999999999"}) {
        EXPECT_FALSE(SettingsFile::ParseFileNo(QString::fromUtf8(text)).has_value()) << text;
    }
}

TEST(SettingsFile, ReadsTheFirstLineAndFallsBackToZero) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = SettingsFile::path(dir.path());
    EXPECT_EQ(SettingsFile::ReadFileNo(dir.path()), 0) << "missing file";

    writeFile(ini, "8\r\n");
    EXPECT_EQ(SettingsFile::ReadFileNo(dir.path()), 8);
    writeFile(ini, "-12\nsomething else\n");
    EXPECT_EQ(SettingsFile::ReadFileNo(dir.path()), -12);
    writeFile(ini, "\xEF\xBB\xBF"
                   "5\r\n");
    EXPECT_EQ(SettingsFile::ReadFileNo(dir.path()), 5);
    writeFile(ini, "7.5");
    EXPECT_EQ(SettingsFile::ReadFileNo(dir.path()), 8);

    for (const QByteArray& bad : {QByteArray(""), QByteArray("\r\n8\r\n"), QByteArray("eight\r\n"),
                                  QByteArray("40000\r\n"), QByteArray("-32769")}) {
        writeFile(ini, bad);
        EXPECT_EQ(SettingsFile::ReadFileNo(dir.path()), 0) << bad.toStdString();
    }

    // Unreadable: a folder where the file should be.
    ASSERT_TRUE(QFile::remove(ini));
    ASSERT_TRUE(QDir(dir.path()).mkdir("nu.ini"));
    EXPECT_EQ(SettingsFile::ReadFileNo(dir.path()), 0);
}

TEST(SettingsFile, WritesTheCounterWithCrLfReplacingTheOldContents) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = SettingsFile::path(dir.path());
    writeFile(ini, "123456789 old contents\r\n");
    ASSERT_TRUE(SettingsFile::WriteFileNo(dir.path(), 8));
    EXPECT_EQ(readFile(ini), QByteArray("8\r\n"));
    ASSERT_TRUE(SettingsFile::WriteFileNo(dir.path(), -32768));
    EXPECT_EQ(readFile(ini), QByteArray("-32768\r\n"));
    EXPECT_EQ(SettingsFile::ReadFileNo(dir.path()), -32768);

    EXPECT_FALSE(SettingsFile::WriteFileNo(dir.filePath("no/such/folder"), 1));

    // A FIFO in the file's place, a reader waiting on it: replaced by the file, never written
    // into.
    ASSERT_TRUE(QFile::remove(ini));
    const QByteArray fifo = ini.toUtf8();
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(SettingsFile::WriteFileNo(dir.path(), 9));
    ASSERT_TRUE(QFileInfo(ini).isFile()); // reading a FIFO would wait for a writer
    EXPECT_EQ(readFile(ini), QByteArray("9\r\n"));
    char got[8];
    EXPECT_LE(::read(reader, got, sizeof got), 0) << "nothing went into the FIFO";
    ::close(reader);
}

TEST(ProgramFolder, IsTheExecutablesFolderOnlyWhenWritable) {
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(ProgramFolder::isWritable(dir.path()));
    EXPECT_EQ(ProgramFolder::choose(dir.path()), QDir::cleanPath(dir.path()));
    EXPECT_TRUE(QDir(dir.path())
                    .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        << "the write probe is removed again";

    const QString perUser =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    // Not even root can create files in these.
    for (const QString& readOnly : {QStringLiteral("/proc"), dir.filePath("missing")}) {
        EXPECT_FALSE(ProgramFolder::isWritable(readOnly)) << readOnly.toStdString();
        EXPECT_EQ(ProgramFolder::choose(readOnly), perUser);
    }
    EXPECT_TRUE(QDir(perUser).exists());
}

} // namespace
