#include "ui/ModFolderSetFileFocus.h"

#include "platform/shell/DesktopShell.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <glob.h>

namespace ModFolderSetFileFocus {

namespace {

// The matches of one glob(3) search, released with the search.
class GlobMatches {
public:
    explicit GlobMatches(const QByteArray& pattern)
        : status_(::glob(pattern.constData(), GLOB_NOESCAPE | GLOB_NOSORT, nullptr, &matches_)) {}
    ~GlobMatches() { ::globfree(&matches_); }
    GlobMatches(const GlobMatches&) = delete;
    GlobMatches& operator=(const GlobMatches&) = delete;

    bool any() const { return status_ == 0 && matches_.gl_pathc > 0; }

private:
    glob_t matches_{};
    int status_;
};

// Spaces only, as the path box may pad them; other white space belongs to the name.
QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' ')) {
        ++first;
    }
    while (last > first && text.at(last - 1) == QLatin1Char(' ')) {
        --last;
    }
    return text.mid(first, last - first);
}

} // namespace

bool FileExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    return GlobMatches(QFile::encodeName(path)).any();
}

bool FolderSetFileFocus(const QString& path) {
    const QString file = trimSpaces(path);
    if (!FileExists(file)) {
        return false;
    }
    const QFileInfo info(file);
    platform::DesktopShell& shell = platform::DesktopShell::current();
    switch (shell.ShowItems({QUrl::fromLocalFile(info.absoluteFilePath()).toString()})) {
    case platform::ShowItemsResult::Shown:
        return true;
    case platform::ShowItemsResult::NoFileManager:
        // No file manager to select the file: at least its folder opens.
        return shell.OpenUrl(QUrl::fromLocalFile(info.absolutePath()));
    case platform::ShowItemsResult::Failed:
        break;
    }
    return false;
}

} // namespace ModFolderSetFileFocus
