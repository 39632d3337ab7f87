#include "platform/shell/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

namespace {

// Qt 6.4 falls back to the home trash when a mount has no trash of its own, and when it cannot
// set up the home trash either it goes on with an empty folder name: the file lands in "files"
// under the current folder and the call reports success. So the home trash is made ready (as
// the trash's rules allow an implementation to do) before Qt is asked.
bool HomeTrashReady() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) {
        return false;
    }
    const QDir trash(data + QStringLiteral("/Trash"));
    return QDir().mkpath(trash.filePath(QStringLiteral("files"))) &&
           QDir().mkpath(trash.filePath(QStringLiteral("info")));
}

} // namespace

bool MoveToTrash(const QString& path) {
    const QFileInfo file(path);
    if (!file.exists() && !file.isSymLink()) {
        return false;
    }
    if (!HomeTrashReady()) {
        return false;
    }
    QString inTrash;
    if (!QFile::moveToTrash(path, &inTrash)) {
        return false;
    }
    if (QFileInfo(inTrash).isAbsolute()) {
        return true;
    }
    // Not a trash after all (see above): put the file back where it was.
    QFile::rename(inTrash, path);
    QFile::remove(QStringLiteral("info/") + QFileInfo(inTrash).fileName() +
                  QStringLiteral(".trashinfo"));
    return false;
}

} // namespace platform
