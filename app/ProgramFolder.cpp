#include "app/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

QString ProgramFolder::path() {
    return choose(QCoreApplication::applicationDirPath());
}

QString ProgramFolder::choose(const QString& exeFolder) {
    if (!exeFolder.isEmpty() && isWritable(exeFolder)) {
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
