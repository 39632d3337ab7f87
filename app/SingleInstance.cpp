#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// Tokens are short printable texts; anything longer or otherwise is not one.
constexpr qint64 kMaxToken = 1024;

QString Token(const QByteArray& sent) {
    const QByteArray line = sent.left(sent.indexOf('\n') < 0 ? sent.size() : sent.indexOf('\n'));
    if (line.size() > kMaxToken) {
        return QString();
    }
    for (const char c : line) {
        if (c <= ' ' || c > '~') {
            return QString();
        }
    }
    return QString::fromLatin1(line);
}

} // namespace

SingleInstance::SingleInstance(const QString& programFolder)
    : name_(ServerName(programFolder)),
      lock_(QDir(programFolder).filePath(QStringLiteral("vocarn.lock"))) {
    // Only a lock whose process is gone is stale: a long-running copy keeps its lock.
    lock_.setStaleLockTime(0);
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            // The later start sends its token and hangs up; one that says nothing within two
            // seconds is cut off, and the window comes forward all the same.
            const auto answer = [this, peer] {
                const QString token = Token(peer->read(kMaxToken + 1));
                peer->deleteLater();
                if (onActivated_) {
                    onActivated_(token);
                }
            };
            if (peer->state() == QLocalSocket::UnconnectedState) {
                answer();
                continue;
            }
            QObject::connect(peer, &QLocalSocket::disconnected, peer, answer);
            QTimer::singleShot(2000, peer, [peer] { peer->abort(); });
        }
    });
}

SingleInstance::~SingleInstance() {
    server_.close();
    if (lock_.isLocked()) {
        lock_.unlock();
    }
}

void SingleInstance::setOnActivated(std::function<void(const QString& token)> onActivated) {
    onActivated_ = std::move(onActivated);
}

QString SingleInstance::ServerName(const QString& programFolder) {
    const QString folder = QFileInfo(programFolder).absoluteFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("vocarn-") + QString::fromLatin1(hash);
}

bool SingleInstance::Acquire() {
    if (lock_.tryLock(0)) {
        Listen();
        return true;
    }
    // The running copy may still be on its way to listening: try for a while, then give up
    // (this copy exits either way).
    const QDeadlineTimer deadline(2000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(name_);
        if (socket.waitForConnected(
                static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
            socket.write(qgetenv("XDG_ACTIVATION_TOKEN").left(kMaxToken) + '\n');
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState) {
                socket.waitForDisconnected(1000);
            }
            break;
        }
        QThread::msleep(50);
    }
    return false;
}

void SingleInstance::Listen() {
    // A socket file a dead copy left behind blocks the name; the lock says no copy owns it.
    if (!server_.listen(name_)) {
        QLocalServer::removeServer(name_);
        server_.listen(name_);
    }
}
