#include "app/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void touch(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

QString perUserFolder() {
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

// A prefix laid out as the install step leaves it: bin/ and share/vocarn/.
class InstallPrefix : public ::testing::Test {
protected:
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        ASSERT_TRUE(prefix.isValid());
        ASSERT_TRUE(QDir().mkpath(bin()));
        ASSERT_TRUE(QDir().mkpath(data()));
    }
    QString bin() const { return prefix.filePath(QStringLiteral("bin")); }
    QString data() const { return prefix.filePath(QStringLiteral("share/vocarn")); }

    QTemporaryDir prefix;
};

TEST_F(InstallPrefix, TheDataFolderIsShareVocarnBesideBin) {
    EXPECT_EQ(ProgramFolder::installedDataFolder(bin()), QDir::cleanPath(data()));
}

TEST_F(InstallPrefix, AnInstalledProgramKeepsItsFilesPerUserThoughItsFolderIsWritable) {
    touch(QDir(data()).filePath(ProgramFolder::installedMarker()));
    ASSERT_TRUE(ProgramFolder::isWritable(bin())) << "the case of root in /usr/bin";
    EXPECT_TRUE(ProgramFolder::isInstalled(bin()));
    EXPECT_EQ(ProgramFolder::choose(bin()), perUserFolder());
    EXPECT_TRUE(QDir(perUserFolder()).exists());
    EXPECT_TRUE(QDir(bin()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        << "nothing is written beside an installed program";
}

TEST_F(InstallPrefix, WithoutTheMarkerTheProgramRunsFromItsOwnFolder) {
    // A share/vocarn folder alone (say a copied help page) does not make an install.
    touch(QDir(data()).filePath(QStringLiteral("bangzhu.htm")));
    EXPECT_FALSE(ProgramFolder::isInstalled(bin()));
    EXPECT_EQ(ProgramFolder::choose(bin()), QDir::cleanPath(bin()));
    // A folder named like the marker is no marker either.
    ASSERT_TRUE(QDir(data()).mkdir(ProgramFolder::installedMarker()));
    EXPECT_FALSE(ProgramFolder::isInstalled(bin()));
    EXPECT_FALSE(ProgramFolder::isInstalled(QString()));
}

TEST_F(InstallPrefix, DataFilesAreLookedUpInTheProgramsFolderFirstThenTheInstalledData) {
    const QString name = QStringLiteral("bangzhu.htm");
    QTemporaryDir programFolder;
    ASSERT_TRUE(programFolder.isValid());
    const QString own = programFolder.filePath(name);
    const QString installed = QDir(data()).filePath(name);

    EXPECT_EQ(ProgramFolder::locate(programFolder.path(), bin(), name), own)
        << "found nowhere: the program's folder, so that opening it reports it missing";
    touch(installed);
    EXPECT_EQ(QDir::cleanPath(ProgramFolder::locate(programFolder.path(), bin(), name)),
              QDir::cleanPath(installed));
    touch(own);
    EXPECT_EQ(ProgramFolder::locate(programFolder.path(), bin(), name), own);
    EXPECT_EQ(ProgramFolder::locate(programFolder.path(), QString(), name), own);
}

} // namespace
