#include "platform/WindowService.h"

#include "EventPump.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

struct Received {
    WindowHandle hWnd;
    std::uint32_t uMsg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const Received&) const = default;
};

// A procedure that appends every message to `into`.
WindowProc Recorder(std::vector<Received>& into) {
    return [&into](WindowHandle h, std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
        into.push_back({h, m, w, l});
        return std::intptr_t{0};
    };
}

} // namespace

TEST(WindowService, PostedMessagesReachWindowsInPostingOrderOnTheLoop) {
    WindowService windows;
    std::vector<Received> got;
    const WindowHandle a = windows.CreateWindow(Recorder(got));
    const WindowHandle b = windows.CreateWindow(Recorder(got));
    ASSERT_NE(a, 0);
    ASSERT_NE(a, b);

    EXPECT_TRUE(windows.PostMessage(a, 0x3C0, 1, 10));
    EXPECT_TRUE(windows.PostMessage(b, 0x400, 2, 20));
    EXPECT_TRUE(windows.PostMessage(a, 0x3C0, 3, 30));
    EXPECT_TRUE(windows.PostMessage(b, 0x401, 4, -40));
    EXPECT_TRUE(got.empty()) << "a post never calls the procedure at once";

    ASSERT_TRUE(PumpUntil([&] { return got.size() == 4; }));
    const std::vector<Received> expected{
        {a, 0x3C0, 1, 10}, {b, 0x400, 2, 20}, {a, 0x3C0, 3, 30}, {b, 0x401, 4, -40}};
    EXPECT_EQ(got, expected);

    // One window's messages taken at once, in their order; the other's keep their place for
    // the loop, each message delivered once.
    got.clear();
    for (std::intptr_t i = 0; i < 6; ++i) {
        windows.PostMessage(i % 3 == 0 ? b : a, 0x3C0, 0, i);
    }
    EXPECT_EQ(windows.SendPosted(a), 4u);
    EXPECT_EQ(got, (std::vector<Received>{
                       {a, 0x3C0, 0, 1}, {a, 0x3C0, 0, 2}, {a, 0x3C0, 0, 4}, {a, 0x3C0, 0, 5}}));
    EXPECT_EQ(windows.SendPosted(a), 0u);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 6; }));
    PumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(got, (std::vector<Received>{{a, 0x3C0, 0, 1},
                                          {a, 0x3C0, 0, 2},
                                          {a, 0x3C0, 0, 4},
                                          {a, 0x3C0, 0, 5},
                                          {b, 0x3C0, 0, 0},
                                          {b, 0x3C0, 0, 3}}));
}

TEST(WindowService, PostsFromOtherThreadsArriveCompleteInOrderOnTheLoopThread) {
    WindowService windows;
    constexpr int threads = 4;
    constexpr int perThread = 1500; // together far more than the ring starts with
    std::vector<std::vector<std::intptr_t>> seen(threads);
    bool wrongThread = false;
    const auto loopThread = std::this_thread::get_id();
    const WindowHandle w = windows.CreateWindow(
        [&](WindowHandle, std::uint32_t, std::uintptr_t wParam, std::intptr_t lParam) {
            wrongThread = wrongThread || std::this_thread::get_id() != loopThread;
            seen.at(wParam).push_back(lParam);
            return std::intptr_t{0};
        });

    std::atomic<int> refused{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                if (!windows.PostMessage(w, 0x3C0, static_cast<std::uintptr_t>(t), i)) {
                    ++refused;
                }
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    EXPECT_EQ(refused.load(), 0);
    auto total = [&] {
        std::size_t n = 0;
        for (auto& s : seen) {
            n += s.size();
        }
        return n;
    };
    ASSERT_TRUE(PumpUntil([&] { return total() == threads * perThread; }));
    EXPECT_FALSE(wrongThread);
    for (int t = 0; t < threads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(perThread));
        for (int i = 0; i < perThread; ++i) {
            ASSERT_EQ(seen[t][i], i) << "thread " << t;
        }
    }
}

TEST(WindowService, MessagesPostedToAWindowDestroyedSinceAreDropped) {
    WindowService windows;
    std::vector<Received> gotA, gotB;
    const WindowHandle a = windows.CreateWindow(Recorder(gotA));
    const WindowHandle b = windows.CreateWindow(Recorder(gotB));
    EXPECT_EQ(windows.WindowCount(), 2u);

    windows.PostMessage(a, 0x3C0, 0, 1);
    windows.PostMessage(a, 0x3C0, 0, 2);
    EXPECT_TRUE(windows.DestroyWindow(a));
    EXPECT_FALSE(windows.IsWindow(a));
    EXPECT_EQ(windows.WindowProcessId(a), 0);
    EXPECT_FALSE(windows.PostMessage(a, 0x3C0, 0, 3));
    EXPECT_FALSE(windows.DestroyWindow(a));
    EXPECT_EQ(windows.WindowCount(), 1u);

    // A window made afterwards never gets the old handle, so nothing stale reaches it.
    std::vector<Received> gotC;
    const WindowHandle c = windows.CreateWindow(Recorder(gotC));
    EXPECT_NE(c, a);

    windows.PostMessage(b, 0x401, 0, 0); // behind the dropped ones
    ASSERT_TRUE(PumpUntil([&] { return !gotB.empty(); }));
    const std::vector<Received> destroyOnly{{a, WM_DESTROY, 0, 0}, {a, WM_NCDESTROY, 0, 0}};
    EXPECT_EQ(gotA, destroyOnly);
    EXPECT_TRUE(gotC.empty());
}

TEST(WindowService, ReplacedProcedureHandlesLaterAndPendingMessagesAndTheDestruction) {
    WindowService windows;
    std::vector<std::string> trace;
    const WindowHandle w = windows.CreateWindow(
        [&](WindowHandle, std::uint32_t m, std::uintptr_t, std::intptr_t l) -> std::intptr_t {
            trace.push_back("first " + std::to_string(m) + " " + std::to_string(l));
            return l * 2;
        });
    EXPECT_TRUE(windows.IsWindow(w));
    EXPECT_EQ(windows.WindowProcessId(w), static_cast<std::int64_t>(::getpid()));
    EXPECT_EQ(windows.SendMessage(w, 0x10, 0, 21), 42);

    windows.PostMessage(w, 0x3C0, 0, 5); // still pending while the procedure is replaced

    // The replacing procedure sees each message first and hands it on to the one it replaced.
    WindowProc previous;
    previous = windows.SetWindowProc(
        w, [&](WindowHandle h, std::uint32_t m, std::uintptr_t wp, std::intptr_t l) {
            trace.push_back("second " + std::to_string(m) + " " + std::to_string(l));
            return WindowService::CallWindowProc(previous, h, m, wp, l) + 1;
        });
    ASSERT_TRUE(previous);

    EXPECT_EQ(windows.SendMessage(w, 0x10, 0, 1), 3);
    ASSERT_TRUE(PumpUntil([&] { return trace.size() == 5; }));
    EXPECT_TRUE(windows.DestroyWindow(w));

    const std::vector<std::string> expected{"first 16 21",  "second 16 1",  "first 16 1",
                                            "second 960 5", "first 960 5",  "second 2 0",
                                            "first 2 0",    "second 130 0", "first 130 0"};
    EXPECT_EQ(trace, expected);

    EXPECT_FALSE(windows.SetWindowProc(w, [](WindowHandle, std::uint32_t, std::uintptr_t,
                                             std::intptr_t) { return std::intptr_t{7}; }));
    EXPECT_EQ(windows.SendMessage(w, 0x10, 0, 1), 0);
}

TEST(WindowService, AProcedureMayDestroyItsOwnWindowAndReplaceItselfWhileRunning) {
    WindowService windows;
    int calls = 0;
    std::vector<Received> after;
    WindowHandle w = 0;
    w = windows.CreateWindow([&](WindowHandle h, std::uint32_t m, std::uintptr_t, std::intptr_t) {
        ++calls;
        if (m == 0x3C0) {
            // The running procedure is replaced and its window destroyed under it.
            windows.SetWindowProc(h, Recorder(after));
            windows.DestroyWindow(h);
        }
        return std::intptr_t{0};
    });
    windows.PostMessage(w, 0x3C0, 0, 0);
    windows.PostMessage(w, 0x3C0, 0, 1); // dropped: its window is gone by then
    std::vector<Received> sentinel;
    const WindowHandle s = windows.CreateWindow(Recorder(sentinel));
    windows.PostMessage(s, 0x3C0, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !sentinel.empty(); }));

    EXPECT_EQ(calls, 1);
    const std::vector<Received> destroyOnly{{w, WM_DESTROY, 0, 0}, {w, WM_NCDESTROY, 0, 0}};
    EXPECT_EQ(after, destroyOnly);
    EXPECT_FALSE(windows.IsWindow(w));
}

// Posts that keep coming while the procedures run (a source that never stops and a handler
// slower than its sound) must not hold the loop: a timer that falls due in between runs
// long before the stream of messages ends, and the messages still arrive in order.
TEST(WindowService, MessagesPostedWhileDispatchingLetTimersHaveTheirTurn) {
    WindowService windows;
    constexpr std::intptr_t chain = 2000;
    std::vector<std::intptr_t> handled;
    std::intptr_t handledWhenTheTimerRan = -1;
    WindowHandle w = 0;
    w = windows.CreateWindow([&](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t l) {
        handled.push_back(l);
        if (l == 0) {
            QTimer::singleShot(
                0, [&] { handledWhenTheTimerRan = static_cast<std::intptr_t>(handled.size()); });
        }
        if (l + 1 < chain) {
            windows.PostMessage(w, 0x3C0, 0, l + 1);
        }
        return std::intptr_t{0};
    });
    ASSERT_TRUE(windows.PostMessage(w, 0x3C0, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return handled.size() == chain && handledWhenTheTimerRan >= 0; }));

    EXPECT_LT(handledWhenTheTimerRan, 10) << "the timer waited for the stream of messages";
    for (std::intptr_t i = 0; i < chain; ++i) {
        ASSERT_EQ(handled[static_cast<std::size_t>(i)], i);
    }
}
