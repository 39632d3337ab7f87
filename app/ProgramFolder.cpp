#include "app/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

QString ProgramFolder::path() {
    return choose(QCoreApplication::applicationDirPath());
}

QString ProgramFolder::choose(const QString& exeFolder) {
    if (!exeFolder.isEmpty() && !isInstalled(exeFolder) && isWritable(exeFolder)) {
        return QDir::cleanPath(exeFolder);
    }
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return QDir::cleanPath(data);
}

bool ProgramFolder::isWritable(const QString& folder) {
    // Permission bits do not tell the whole story (read-only mounts, root, ACLs): try it.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".vocarn-probe-XXXXXX")));
    return probe.open();
}

QString ProgramFolder::installedDataFolder(const QString& exeFolder) {
    // The install step's path from its bin folder to its data folder, "../share/vocarn" for
    // the usual layout.
    return QDir::cleanPath(QDir(exeFolder).filePath(QStringLiteral(VOCARN_DATA_FROM_BIN)));
}

QString ProgramFolder::installedMarker() {
    return QStringLiteral("installed");
}

bool ProgramFolder::isInstalled(const QString& exeFolder) {
    if (exeFolder.isEmpty()) {
        return false;
    }
    return QFileInfo(QDir(installedDataFolder(exeFolder)).filePath(installedMarker())).isFile();
}

QString ProgramFolder::locate(const QString& programFolder, const QString& exeFolder,
                              const QString& name) {
    const QString own = QDir(programFolder).filePath(name);
    if (QFileInfo::exists(own)) {
        return own;
    }
    if (!exeFolder.isEmpty()) {
        const QString installed = QDir(installedDataFolder(exeFolder)).filePath(name);
        if (QFileInfo::exists(installed)) {
            return installed;
        }
    }
    return own;
}

QString ProgramFolder::locate(const QString& programFolder, const QString& name) {
    return locate(programFolder, QCoreApplication::applicationDirPath(), name);
}
