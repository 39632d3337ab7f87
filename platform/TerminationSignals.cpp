#include "platform/TerminationSignals.h"

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGHUP, SIGINT};

// The pipe's write end for the handler; -1 while no object lives. A lock-free atomic is
// safe to read in a signal handler.
std::atomic<int> gWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    gWriteEnd.store(writeEnd_);
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { Read(); });

    struct sigaction action {};
    action.sa_handler = &TerminationSignals::Handler;
    sigemptyset(&action.sa_mask);
    // Interrupted calls go on; the handler is ours for the first signal only.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ok_ = true;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        installed_[i] = ::sigaction(kSignals[i], &action, &previous_[i]) == 0;
        ok_ = ok_ && installed_[i];
    }
}

TerminationSignals::~TerminationSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (installed_[i]) {
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        }
    }
    gWriteEnd.store(-1);
    notifier_.reset();
    if (readEnd_ >= 0) {
        ::close(readEnd_);
    }
    if (writeEnd_ >= 0) {
        ::close(writeEnd_);
    }
}

void TerminationSignals::Handler(int signal) {
    const int savedErrno = errno;
    const int fd = gWriteEnd.load();
    if (fd >= 0) {
        const auto number = static_cast<unsigned char>(signal);
        // A full pipe already holds a signal the loop has yet to read: nothing is lost.
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

void TerminationSignals::Read() {
    unsigned char numbers[16];
    ssize_t got;
    while ((got = ::read(readEnd_, numbers, sizeof numbers)) > 0 || (got < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < got; ++i) {
            if (onSignal_) {
                onSignal_(numbers[i]);
            }
        }
    }
}

} // namespace platform
