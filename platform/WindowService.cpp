#include "platform/WindowService.h"

#include <QSocketNotifier>

#include <cerrno>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {
// Slots the posted-message ring starts with; it doubles when a backlog outgrows it.
constexpr std::size_t initialRingSlots = 256;
} // namespace

WindowService::WindowService() : ring_(initialRingSlots) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        throw std::runtime_error("WindowService: eventfd failed");
    }
    wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, wakeNotifier_.get(),
                     [this] { DispatchPosted(); });
}

WindowService::~WindowService() {
    wakeNotifier_.reset();
    ::close(wakeFd_);
}

WindowHandle WindowService::CreateWindow(WindowProc proc) {
    std::lock_guard lock(mutex_);
    const WindowHandle hWnd = ++nextHandle_;
    windows_.emplace(hWnd, Window{std::make_shared<const WindowProc>(std::move(proc)), false});
    return hWnd;
}

bool WindowService::DestroyWindow(WindowHandle hWnd) {
    {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(hWnd);
        if (it == windows_.end() || it->second.destroying) {
            return false;
        }
        it->second.destroying = true;
    }
    // The window still exists while its destroy messages run, as its procedure may ask.
    SendMessage(hWnd, WM_DESTROY, 0, 0);
    SendMessage(hWnd, WM_NCDESTROY, 0, 0);
    std::lock_guard lock(mutex_);
    windows_.erase(hWnd);
    return true;
}

bool WindowService::IsWindow(WindowHandle hWnd) const {
    std::lock_guard lock(mutex_);
    return windows_.contains(hWnd);
}

std::int64_t WindowService::WindowProcessId(WindowHandle hWnd) const {
    // Every window of this service belongs to the process that runs it.
    return IsWindow(hWnd) ? static_cast<std::int64_t>(::getpid()) : 0;
}

WindowProc WindowService::SetWindowProc(WindowHandle hWnd, WindowProc proc) {
    auto replacement = std::make_shared<const WindowProc>(std::move(proc));
    std::shared_ptr<const WindowProc> previous;
    {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(hWnd);
        if (it == windows_.end()) {
            return {};
        }
        previous = std::exchange(it->second.proc, std::move(replacement));
    }
    // The previous procedure may be running right now (a procedure replacing itself): the
    // shared pointer held by that call keeps it alive; the caller gets a copy.
    return *previous;
}

std::intptr_t WindowService::CallWindowProc(const WindowProc& proc, WindowHandle hWnd,
                                            std::uint32_t uMsg, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    return proc ? proc(hWnd, uMsg, wParam, lParam) : 0;
}

std::shared_ptr<const WindowProc> WindowService::CurrentProc(WindowHandle hWnd) const {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hWnd);
    return it == windows_.end() ? nullptr : it->second.proc;
}

std::intptr_t WindowService::SendMessage(WindowHandle hWnd, std::uint32_t uMsg,
                                         std::uintptr_t wParam, std::intptr_t lParam) {
    const auto proc = CurrentProc(hWnd);
    return proc ? CallWindowProc(*proc, hWnd, uMsg, wParam, lParam) : 0;
}

bool WindowService::PostMessage(WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                                std::intptr_t lParam) {
    {
        std::lock_guard lock(mutex_);
        if (!windows_.contains(hWnd)) {
            return false;
        }
        if (ringCount_ == ring_.size()) {
            // Backlog larger than ever before: double the ring, oldest message first.
            std::vector<Posted> grown(ring_.size() * 2);
            for (std::size_t i = 0; i < ringCount_; ++i) {
                grown[i] = ring_[(ringHead_ + i) % ring_.size()];
            }
            ring_ = std::move(grown);
            ringHead_ = 0;
        }
        ring_[(ringHead_ + ringCount_) % ring_.size()] = Posted{hWnd, uMsg, wParam, lParam};
        ++ringCount_;
    }
    const std::uint64_t one = 1;
    ssize_t written;
    do {
        written = ::write(wakeFd_, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
    // EAGAIN only when the counter is saturated: the loop is woken already.
    return true;
}

std::size_t WindowService::WindowCount() const {
    std::lock_guard lock(mutex_);
    return windows_.size();
}

bool WindowService::TakePosted(Posted& msg) {
    std::lock_guard lock(mutex_);
    if (ringCount_ == 0) {
        return false;
    }
    msg = ring_[ringHead_];
    ringHead_ = (ringHead_ + 1) % ring_.size();
    --ringCount_;
    return true;
}

bool WindowService::TakePostedFor(WindowHandle hWnd, Posted& msg) {
    std::lock_guard lock(mutex_);
    const std::size_t ringSlots = ring_.size();
    for (std::size_t i = 0; i < ringCount_; ++i) {
        if (ring_[(ringHead_ + i) % ringSlots].hWnd != hWnd) {
            continue;
        }
        msg = ring_[(ringHead_ + i) % ringSlots];
        // The messages behind it move up one slot, so the ring keeps its order without a gap.
        for (std::size_t j = i; j + 1 < ringCount_; ++j) {
            ring_[(ringHead_ + j) % ringSlots] = ring_[(ringHead_ + j + 1) % ringSlots];
        }
        --ringCount_;
        return true;
    }
    return false;
}

std::size_t WindowService::SendPosted(WindowHandle hWnd) {
    std::size_t taken = 0;
    Posted msg;
    while (TakePostedFor(hWnd, msg)) {
        ++taken;
        SendMessage(msg.hWnd, msg.uMsg, msg.wParam, msg.lParam);
    }
    return taken;
}

void WindowService::DispatchPosted() {
    std::uint64_t count;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    // The messages waiting now, one at a time, so that a nested event loop inside a
    // procedure goes on with the next message and the order stays the order of posting.
    // Messages posted meanwhile have written the eventfd again and wait for the loop's next
    // turn: posts that come faster than the procedures handle them (sound arriving faster
    // than it is handled) must not keep timers and input from their turn.
    std::size_t waiting;
    {
        std::lock_guard lock(mutex_);
        waiting = ringCount_;
    }
    Posted msg;
    for (; waiting > 0 && TakePosted(msg); --waiting) {
        SendMessage(msg.hWnd, msg.uMsg, msg.wParam, msg.lParam);
    }
}

} // namespace platform
