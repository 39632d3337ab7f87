#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QString>

#include <functional>

// One running Vocarn per program folder, so two copies never number their takes alike.
//
// The first start takes the lock file "vocarn.lock" in the program's folder and listens on a
// local socket named after the folder. A later start finds the lock held, connects to that
// socket, sends its activation token (XDG_ACTIVATION_TOKEN, which a Wayland desktop gives
// the program it launches; empty elsewhere) as one line, which asks the running copy to
// come to the front with it, and is told to exit. A lock left
// by a copy that died (a kill, a crash) is stale: its process is gone, and the next start
// takes it over.
class SingleInstance {
public:
    explicit SingleInstance(const QString& programFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this is the folder's only copy (it holds the lock and listens from now on).
    // False when another copy runs; that copy has been asked to come forward when it could
    // be reached within about two seconds.
    bool Acquire();

    // The local socket name of the copy running on `programFolder`.
    static QString ServerName(const QString& programFolder);

    // Runs on the user-interface thread whenever a later start on the same folder asks this
    // copy to come to the front, with that start's activation token (empty when it had none).
    void setOnActivated(std::function<void(const QString& token)> onActivated);

private:
    void Listen();

    const QString name_;
    QLockFile lock_;
    QLocalServer server_;
    std::function<void(const QString& token)> onActivated_;
};
