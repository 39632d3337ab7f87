#pragma once

#include "platform/shell/DesktopShell.h"

#include <QDBusConnection>

#include <chrono>
#include <optional>

namespace platform {

// The shell of a freedesktop.org desktop.
//
// ShowItems calls org.freedesktop.FileManager1.ShowItems(uris, "") on the session bus. A file
// manager that the bus has to start first can take seconds to answer, so the call is made
// asynchronously and its answer awaited for at most `replyWait` with the event loop running:
// windows repaint, timers tick and captured sound keeps arriving, while keyboard and mouse
// input is held back until the answer is in (no button handler runs a second time inside the
// first). The answer decides:
// - a reply: Shown;
// - no reply within the wait: Shown, since the bus has the request and knows a file manager
//   by that name (running or starting); with none it would have answered ServiceUnknown at
//   once. The file manager shows the folder when it is up;
// - ServiceUnknown, NoServer, Disconnected or a failed start (Spawn.*): NoFileManager, as
//   when there is no session bus at all;
// - any other error: Failed.
//
// OpenUrl is QDesktopServices::openUrl.
class FreedesktopShell : public DesktopShell {
public:
    static constexpr std::chrono::milliseconds DefaultReplyWait{2500};

    // On the session bus of the program.
    FreedesktopShell();
    // On `bus`, waiting at most `replyWait` for the file manager's answer.
    FreedesktopShell(const QDBusConnection& bus, std::chrono::milliseconds replyWait);

    ShowItemsResult ShowItems(const QStringList& uris) override;
    bool OpenUrl(const QUrl& url) override;

private:
    std::optional<QDBusConnection> bus_; // empty: the session bus, looked up on each call
    std::chrono::milliseconds replyWait_ = DefaultReplyWait;
};

} // namespace platform
