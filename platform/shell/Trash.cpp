#include "platform/shell/Trash.h"

#include "common/UniqueFd.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A trash folder (holding files/ and info/) and how its .trashinfo names the file: by its
// absolute path in the home trash, relative to the top of the mount in a mount's trash.
struct TrashFolder {
    QString folder;
    QString topDir; // empty: the home trash, whose entries name absolute paths
};

bool Lstat(const QString& path, struct stat& st) {
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// A folder of ours, made if missing (mode 0700): a real folder, no link, owned by us.
bool OwnFolder(const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat st {};
    return ::lstat(p.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

bool Ready(const TrashFolder& t) {
    return OwnFolder(t.folder) && OwnFolder(t.folder + QStringLiteral("/files")) &&
           OwnFolder(t.folder + QStringLiteral("/info"));
}

// The home trash, under the user's data folder (made with its parents as needed).
TrashFolder HomeTrash() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data)) {
        return {};
    }
    return {QDir::cleanPath(data) + QStringLiteral("/Trash"), QString()};
}

// The top folder of the mount holding the folder `dir` on device `dev`.
QString TopDir(QString dir, dev_t dev) {
    struct stat st {};
    while (dir != QStringLiteral("/")) {
        const QString parent = QFileInfo(dir).path();
        if (!Lstat(parent, st) || st.st_dev != dev) {
            break;
        }
        dir = parent;
    }
    return dir;
}

// The mount's own trash: $top/.Trash/$uid where an administrator made $top/.Trash (a real
// folder with the sticky bit), else $top/.Trash-$uid. Empty when neither can be used.
TrashFolder MountTrash(const QString& top) {
    const QString uid = QString::number(::getuid());
    const QString base = top == QStringLiteral("/") ? QString() : top;
    struct stat st {};
    const QString shared = base + QStringLiteral("/.Trash");
    if (Lstat(shared, st) && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
        TrashFolder t{shared + QLatin1Char('/') + uid, top};
        if (Ready(t)) {
            return t;
        }
    }
    TrashFolder own{base + QStringLiteral("/.Trash-") + uid, top};
    return Ready(own) ? own : TrashFolder{};
}

// Claims a name in the trash by creating its .trashinfo exclusively (the rules' way of
// keeping two trashings apart) and writes it. The name, or empty when none could be made.
QString WriteInfo(const TrashFolder& t, const QString& path) {
    const QString named = t.topDir.isEmpty() ? path : QDir(t.topDir).relativeFilePath(path);
    const QByteArray body =
        QByteArrayLiteral("[Trash Info]\nPath=") + QUrl::toPercentEncoding(named, "/") +
        QByteArrayLiteral("\nDeletionDate=") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
        QByteArrayLiteral("\n");
    const QFileInfo file(path);
    const QString stem = file.completeBaseName();
    const QString suffix = file.suffix().isEmpty() ? QString() : QLatin1Char('.') + file.suffix();
    for (int n = 1; n < 10000; ++n) {
        const QString name =
            n == 1 ? file.fileName() : stem + QStringLiteral(".%1").arg(n) + suffix;
        const QByteArray info = QFile::encodeName(t.folder + QStringLiteral("/info/") + name +
                                                  QStringLiteral(".trashinfo"));
        UniqueFd fd(::open(info.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return {};
        }
        if (::write(fd.get(), body.constData(), static_cast<std::size_t>(body.size())) !=
                static_cast<ssize_t>(body.size()) ||
            ::fsync(fd.get()) != 0) {
            ::unlink(info.constData());
            return {};
        }
        return name;
    }
    return {};
}

void DropInfo(const TrashFolder& t, const QString& name) {
    QFile::remove(t.folder + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"));
}

// Moves path into trash t: renamed where it is on the same mount, else copied in full,
// flushed, and only then removed.
bool MoveInto(const TrashFolder& t, const QString& path, bool sameMount) {
    const QString name = WriteInfo(t, path);
    if (name.isEmpty()) {
        return false;
    }
    const QString target = t.folder + QStringLiteral("/files/") + name;
    if (sameMount) {
        if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) ==
            0) {
            return true;
        }
        DropInfo(t, name);
        return false;
    }
    QFile copy(target);
    if (!QFile::copy(path, target) || !copy.open(QIODevice::ReadWrite) ||
        ::fsync(copy.handle()) != 0 || !QFile::remove(path)) {
        copy.close();
        QFile::remove(target);
        DropInfo(t, name);
        return false;
    }
    return true;
}

} // namespace

bool MoveToTrash(const QString& path) {
    const QString file = QFileInfo(path).absoluteFilePath();
    struct stat st {};
    if (!Lstat(file, st) || S_ISDIR(st.st_mode)) {
        return false;
    }
    const TrashFolder home = HomeTrash();
    struct stat homeStat {};
    if (home.folder.isEmpty() || !Lstat(QFileInfo(home.folder).path(), homeStat)) {
        return false;
    }
    const bool haveHome = Ready(home);
    if (homeStat.st_dev == st.st_dev) {
        return haveHome && MoveInto(home, file, true);
    }
    // Another mount: its own trash keeps the take where it is; without one, the home trash
    // takes a copy (only a regular file can be copied whole).
    const TrashFolder mount = MountTrash(TopDir(QFileInfo(file).path(), st.st_dev));
    if (!mount.folder.isEmpty() && MoveInto(mount, file, true)) {
        return true;
    }
    return haveHome && S_ISREG(st.st_mode) && MoveInto(home, file, false);
}

} // namespace platform
