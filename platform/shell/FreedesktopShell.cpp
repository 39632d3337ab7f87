#include "platform/shell/FreedesktopShell.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QEventLoop>
#include <QTimer>

namespace platform {

namespace {

const QString FileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString FileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString FileManagerInterface = QStringLiteral("org.freedesktop.FileManager1");

ShowItemsResult resultOf(const QDBusPendingCall& pending) {
    if (!pending.isFinished() || !pending.isError()) {
        return ShowItemsResult::Shown;
    }
    const QDBusError error = pending.error();
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
        return ShowItemsResult::NoFileManager;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return ShowItemsResult::Shown;
    default:
        break;
    }
    // The bus could not start the file manager it has a service file for.
    if (error.name().startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."))) {
        return ShowItemsResult::NoFileManager;
    }
    return ShowItemsResult::Failed;
}

} // namespace

FreedesktopShell::FreedesktopShell() = default;

FreedesktopShell::FreedesktopShell(const QDBusConnection& bus, std::chrono::milliseconds replyWait)
    : bus_(bus), replyWait_(replyWait) {}

ShowItemsResult FreedesktopShell::ShowItems(const QStringList& uris) {
    QDBusConnection bus = bus_ ? *bus_ : QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return ShowItemsResult::NoFileManager;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        FileManagerService, FileManagerPath, FileManagerInterface, QStringLiteral("ShowItems"));
    call << uris << QString(); // no startup-notification id
    const int waitMs = static_cast<int>(replyWait_.count());
    const QDBusPendingCall pending = bus.asyncCall(call, waitMs);

    // The watcher reports a call that is already finished too (queued), so nothing is missed
    // between the check and the loop.
    QDBusPendingCallWatcher watcher(pending);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    // The bus library ends the call at the reply time-out; this only guards against a call
    // that never finishes at all.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (!pending.isFinished()) {
        guard.start(waitMs + 1000);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return resultOf(pending);
}

bool FreedesktopShell::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

} // namespace platform
