#pragma once

#include <QStringList>
#include <QUrl>

namespace platform {

// What became of a request to show items in the file manager.
enum class ShowItemsResult {
    Shown,         // a file manager took the request
    NoFileManager, // no session bus, or nothing on it answers for a file manager
    Failed,        // the file manager answered with an error
};

// The desktop's shell as Vocarn's windows use it: a folder shown in the file manager with
// files selected, and a URL opened with the desktop's handler (the help page in the browser,
// a folder in the file manager). Windows never call the desktop themselves: they go through
// current(), so tests can install a shell that records what was asked instead of opening
// windows on the desktop.
class DesktopShell {
public:
    virtual ~DesktopShell() = default;

    // Asks the file manager to open the folders of `uris` (file URLs) with those items
    // selected.
    virtual ShowItemsResult ShowItems(const QStringList& uris) = 0;
    // Opens `url` with the desktop's handler for it; true when the handler was started.
    virtual bool OpenUrl(const QUrl& url) = 0;

    // The shell in use: the freedesktop shell on the session bus unless another has been
    // installed.
    static DesktopShell& current();
    // Makes `shell` the one in use (nullptr: the freedesktop shell again) and returns the
    // previously installed one (nullptr when that was the freedesktop shell). Not owned.
    static DesktopShell* install(DesktopShell* shell);
};

} // namespace platform
