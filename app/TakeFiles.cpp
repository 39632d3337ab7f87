#include "app/TakeFiles.h"

#include "app/SettingsFile.h"
#include "encoder/FlacRepair.h"
#include "encoder/WavRepair.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TakeFiles::TakeFiles(QString programFolder) : programFolder_(std::move(programFolder)) {}

QString TakeFiles::OutputPath(const QString& programFolder, std::int16_t intFileNo) {
    return OutputPath(programFolder, intFileNo, QStringLiteral("wav"));
}

QString TakeFiles::OutputPath(const QString& programFolder, std::int16_t intFileNo,
                              const QString& extension) {
    return QDir(programFolder)
        .filePath(QStringLiteral("file/录音%1.%2").arg(static_cast<int>(intFileNo)).arg(extension));
}

const QStringList& TakeFiles::Extensions() {
    static const QStringList extensions = {QStringLiteral("wav"), QStringLiteral("flac"),
                                           QStringLiteral("opus"), QStringLiteral("mp3")};
    return extensions;
}

void TakeFiles::setExtension(const QString& extension) {
    const QString lower = extension.toLower();
    extension_ = Extensions().contains(lower) ? lower : QStringLiteral("wav");
}

void TakeFiles::Load() {
    RepairTakes();
    const std::int16_t stored = SettingsFile::ReadFileNo(programFolder_);
    intFileNo_ = FreeFileNo(stored);
    if (intFileNo_ != stored) {
        WriteSettings();
    }
    CreateOutputFile(Path());
}

void TakeFiles::Next() {
    // The counter wraps from 32767 to -32768.
    intFileNo_ = FreeFileNo(static_cast<std::int16_t>(intFileNo_ + 1));
    CreateOutputFile(Path());
    WriteSettings();
}

void TakeFiles::WriteSettings() const {
    SettingsFile::WriteFileNo(programFolder_, intFileNo_);
}

void TakeFiles::RepairTakes() const {
    // Every numbered WAV and FLAC take in the folder: a header read each, and a write only
    // for the cut ones. A symbolic link named like a take is no take: it is not even listed.
    // Ogg Opus and MP3 takes are whole up to their last page or frame as they are.
    QDirIterator takes(QDir(programFolder_).filePath(QStringLiteral("file")),
                       {QStringLiteral("录音*.wav"), QStringLiteral("录音*.flac")},
                       QDir::Files | QDir::NoSymLinks);
    while (takes.hasNext()) {
        const QString take = takes.next();
        if (take.endsWith(QStringLiteral(".flac"))) {
            FlacRepair::Repair(take.toStdString());
        } else {
            WavRepair::Repair(take.toStdString());
        }
    }
}

bool TakeFiles::NumberFree(std::int16_t number) const {
    for (const QString& extension : Extensions()) {
        const QByteArray path = QFile::encodeName(OutputPath(programFolder_, number, extension));
        if (extension == QStringLiteral("wav")) {
            if (!WavRepair::FreeForRecording(path.toStdString())) {
                return false;
            }
            continue;
        }
        // Absent or empty; a link or anything else in the place holds something.
        struct stat info {};
        if (::lstat(path.constData(), &info) == 0 &&
            (!S_ISREG(info.st_mode) || info.st_size != 0)) {
            return false;
        }
    }
    return true;
}

std::int16_t TakeFiles::FreeFileNo(std::int16_t from) const {
    std::int16_t number = from;
    for (int tries = 0; tries < 65536; ++tries) {
        if (NumberFree(number)) {
            return number;
        }
        number = static_cast<std::int16_t>(number + 1); // wraps from 32767 to -32768
    }
    return from;
}

void TakeFiles::CreateOutputFile(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Read and write without truncating: an existing file keeps its contents. A symbolic
    // link in the file's place is not followed (nothing is made where it leads), and a FIFO
    // is not waited on.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
    }
}
