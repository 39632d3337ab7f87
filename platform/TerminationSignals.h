#pragma once

#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <functional>
#include <memory>

namespace platform {

// SIGTERM, SIGHUP and SIGINT (a shutdown, a logout, Ctrl+C in a terminal) brought into the
// user-interface thread's event loop, where the program can end as it does when its window
// closes. The signal handler does nothing but write the signal's number into a pipe, which
// is async-signal-safe; the pipe's read end wakes the event loop, which calls onSignal with
// that number. Each handler runs once: the same signal again ends the process at once (the
// default action), so a program that no longer answers can still be ended.
//
// One object at a time. The handlers are installed while it lives; the dispositions before
// it return when it goes.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe could not be made or a handler not installed: the signals then
    // keep their default action.
    bool ok() const { return ok_; }

private:
    static void Handler(int signal);
    void Read();

    std::function<void(int)> onSignal_;
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<struct sigaction, 3> previous_{};
    std::array<bool, 3> installed_{};
    bool ok_ = false;
};

} // namespace platform
