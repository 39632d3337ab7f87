#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace platform {

// A window handle: a small positive number, never reused within a run; 0 is "no window".
using WindowHandle = std::intptr_t;

// A window procedure: (window, message, wParam, lParam) -> result.
using WindowProc = std::function<std::intptr_t(WindowHandle hWnd, std::uint32_t uMsg,
                                               std::uintptr_t wParam, std::intptr_t lParam)>;

// Messages that the service itself sends.
inline constexpr std::uint32_t WM_DESTROY = 0x0002;   // first message of DestroyWindow
inline constexpr std::uint32_t WM_NCDESTROY = 0x0082; // last message a window receives

// Message windows of the user-interface thread.
//
// A window is a handle with a replaceable procedure. Messages reach a window in two ways:
// - SendMessage calls the window's current procedure at once and returns its result; only
//   the user-interface thread may send.
// - PostMessage (from any thread, the sound server's loop thread included) appends the
//   message to one queue shared by all windows. The user-interface thread's event loop takes
//   the messages in the order they were posted and calls the procedure that the window has
//   at that moment. A message whose window has been destroyed by then is dropped. Posting
//   allocates nothing once the queue has grown to the largest backlog seen. Each turn of the
//   loop takes the messages that wait when it looks; those posted meanwhile wait for its
//   next turn, after the timers and input that are due.
//
// DestroyWindow sends WM_DESTROY and then WM_NCDESTROY through the current procedure, then
// forgets the window. A procedure may replace procedures, destroy windows (its own
// included), post and send while it runs; a nested event loop inside a procedure (a modal
// dialog) goes on dispatching posted messages, as a message loop does.
//
// Create the service on the user-interface thread after the QCoreApplication; all members
// but PostMessage, IsWindow and WindowProcessId belong to that thread.
class WindowService {
public:
    WindowService();
    ~WindowService();
    WindowService(const WindowService&) = delete;
    WindowService& operator=(const WindowService&) = delete;

    // Creates a window whose procedure is `proc` (an empty procedure returns 0 for every
    // message). Returns its handle.
    WindowHandle CreateWindow(WindowProc proc);
    // Sends the destroy messages and removes the window. False when it is not a window.
    bool DestroyWindow(WindowHandle hWnd);
    bool IsWindow(WindowHandle hWnd) const;
    // Process id of the window's owner; 0 when `hWnd` is not a window.
    std::int64_t WindowProcessId(WindowHandle hWnd) const;
    // Makes `proc` the window's procedure and returns the one it replaces (empty when
    // `hWnd` is not a window, which then stays unchanged).
    WindowProc SetWindowProc(WindowHandle hWnd, WindowProc proc);
    // Calls `proc` (when not empty) with the message; the way a replacing procedure hands a
    // message on to the procedure it replaced.
    static std::intptr_t CallWindowProc(const WindowProc& proc, WindowHandle hWnd,
                                        std::uint32_t uMsg, std::uintptr_t wParam,
                                        std::intptr_t lParam);
    // Calls the window's current procedure now. 0 when `hWnd` is not a window.
    std::intptr_t SendMessage(WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                              std::intptr_t lParam);
    // Queues the message for the window. False when `hWnd` is not a window at the time.
    bool PostMessage(WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                     std::intptr_t lParam);
    // Takes the messages posted to `hWnd` off the queue and sends them now, in the order they
    // were posted, until none is left (messages posted meanwhile are taken too); the messages
    // of other windows keep their place. Returns how many were taken. A message whose window
    // has been destroyed by then is dropped, as the loop drops it.
    std::size_t SendPosted(WindowHandle hWnd);
    // Number of windows that exist.
    std::size_t WindowCount() const;

private:
    struct Window {
        std::shared_ptr<const WindowProc> proc;
        bool destroying = false;
    };
    struct Posted {
        WindowHandle hWnd;
        std::uint32_t uMsg;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };

    std::shared_ptr<const WindowProc> CurrentProc(WindowHandle hWnd) const;
    bool TakePosted(Posted& msg);
    bool TakePostedFor(WindowHandle hWnd, Posted& msg);
    void DispatchPosted();

    mutable std::mutex mutex_; // guards windows_ and the posted-message ring
    std::unordered_map<WindowHandle, Window> windows_;
    WindowHandle nextHandle_ = 0;
    std::vector<Posted> ring_; // posted messages, a ring of ring_.size() slots
    std::size_t ringHead_ = 0;
    std::size_t ringCount_ = 0;

    int wakeFd_ = -1; // eventfd written after each post; wakes the user-interface thread
    std::unique_ptr<QSocketNotifier> wakeNotifier_;
};

} // namespace platform
