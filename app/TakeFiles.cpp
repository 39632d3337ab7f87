#include "app/TakeFiles.h"

#include "app/SettingsFile.h"
#include "encoder/WavRepair.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <utility>

#include <fcntl.h>
#include <unistd.h>

TakeFiles::TakeFiles(QString programFolder) : programFolder_(std::move(programFolder)) {}

QString TakeFiles::OutputPath(const QString& programFolder, std::int16_t intFileNo) {
    return QDir(programFolder)
        .filePath(QStringLiteral("file/录音%1.wav").arg(static_cast<int>(intFileNo)));
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
    // Every numbered take in the folder: a header read each, and a write only for the cut
    // ones. A symbolic link named like a take is no take: it is not even listed.
    QDirIterator takes(QDir(programFolder_).filePath(QStringLiteral("file")),
                       {QStringLiteral("录音*.wav")}, QDir::Files | QDir::NoSymLinks);
    while (takes.hasNext()) {
        WavRepair::Repair(takes.next().toStdString());
    }
}

std::int16_t TakeFiles::FreeFileNo(std::int16_t from) const {
    std::int16_t number = from;
    for (int tries = 0; tries < 65536; ++tries) {
        if (WavRepair::FreeForRecording(OutputPath(programFolder_, number).toStdString())) {
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
