#pragma once

#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

// A D-Bus message bus of the test's own (dbus-daemon with a configuration that starts no
// services), so no desktop service answers and nothing on the machine's buses is touched.
// Stopped when the object goes.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool started() const { return pid_ > 0 && !address_.isEmpty(); }
    QString address() const { return address_; }
    // What went wrong when it did not start.
    QString problem() const { return problem_; }

private:
    QTemporaryDir dir_;
    QString address_;
    QString problem_;
    pid_t pid_ = -1;
};
