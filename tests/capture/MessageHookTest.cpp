#include "capture/MessageHook.h"
#include "capture/WaveInRecorder.h"
#include "platform/EventLog.h"
#include "platform/MessageBoxService.h"

#include "ScriptedWaveIn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace platform;

namespace {

// Records the error log and the message boxes instead of writing and showing them.
class Reports final : public EventLog, public MessageBoxService {
public:
    struct Box {
        std::string text;
        std::string title;
        MessageIcon icon;
    };

    Reports()
        : previousLog_(EventLog::install(this)), previousBox_(MessageBoxService::install(this)) {}
    ~Reports() override {
        EventLog::install(previousLog_);
        MessageBoxService::install(previousBox_);
    }
    void Error(const std::string& text) override { log.push_back(text); }
    void show(QWidget*, const QString& text, const QString& title, MessageIcon icon) override {
        boxes.push_back({text.toStdString(), title.toStdString(), icon});
    }

    std::vector<std::string> log;
    std::vector<Box> boxes;

private:
    EventLog* previousLog_;
    MessageBoxService* previousBox_;
};

// A window whose own procedure notes every message and answers 100 + its number; a hook on it
// whose handler notes its calls.
class Hooked : public ::testing::Test {
protected:
    Hooked() {
        window = windows.CreateWindow(
            [this](WindowHandle, std::uint32_t uMsg, std::uintptr_t, std::intptr_t) {
                seen.push_back("proc " + std::to_string(uMsg));
                if (insideProc) {
                    insideProc(uMsg);
                }
                return static_cast<std::intptr_t>(100 + uMsg);
            });
    }

    bool Hook() {
        return hook.sc_Subclass(
            window, 7, this,
            [](void* owner, bool bBefore, bool& bHandled, std::intptr_t& lReturn, WindowHandle hWnd,
               std::uint32_t uMsg, std::uintptr_t, std::intptr_t, std::int32_t& lParamUser) {
                auto* self = static_cast<Hooked*>(owner);
                EXPECT_EQ(hWnd, self->window);
                EXPECT_EQ(lParamUser, 7);
                self->seen.push_back((bBefore ? "before " : "after ") + std::to_string(uMsg));
                if (self->insideHandler) {
                    self->insideHandler(bBefore, bHandled, lReturn, uMsg);
                }
            });
    }

    Reports reports;
    WindowService windows;
    MessageHook hook{windows, "WaveInRecorder"};
    WindowHandle window = 0;
    std::vector<std::string> seen;
    std::function<void(std::uint32_t)> insideProc;
    std::function<void(bool, bool&, std::intptr_t&, std::uint32_t)> insideHandler;
};

using Strings = std::vector<std::string>;

} // namespace

TEST_F(Hooked, HandlerRunsAroundTheWindowsProcedureForItsTablesOnly) {
    ASSERT_TRUE(Hook());
    hook.sc_AddMsg(window, 10, MessageHook::MSG_BEFORE);
    hook.sc_AddMsg(window, 11, MessageHook::MSG_AFTER);
    hook.sc_AddMsg(window, 12, MessageHook::MSG_BEFORE_AND_AFTER);

    EXPECT_EQ(windows.SendMessage(window, 10, 0, 0), 110);
    EXPECT_EQ(windows.SendMessage(window, 11, 0, 0), 111);
    EXPECT_EQ(windows.SendMessage(window, 12, 0, 0), 112);
    EXPECT_EQ(windows.SendMessage(window, 13, 0, 0), 113);
    EXPECT_EQ(seen, (Strings{"before 10", "proc 10", "proc 11", "after 11", "before 12", "proc 12",
                             "after 12", "proc 13"}));

    // A message the handler handles before never reaches the procedure; its return value is
    // the handler's.
    seen.clear();
    insideHandler = [](bool bBefore, bool& bHandled, std::intptr_t& lReturn, std::uint32_t) {
        if (bBefore) {
            bHandled = true;
            lReturn = -5;
        }
    };
    EXPECT_EQ(windows.SendMessage(window, 12, 0, 0), -5);
    EXPECT_EQ(seen, (Strings{"before 12", "after 12"}));

    // Every message once the after table takes them all.
    seen.clear();
    hook.sc_AddMsg(window, MessageHook::ALL_MESSAGES, MessageHook::MSG_AFTER);
    windows.SendMessage(window, 40, 0, 0);
    EXPECT_EQ(seen, (Strings{"proc 40", "after 40"}));
    EXPECT_TRUE(reports.log.empty());
}

TEST_F(Hooked, HandlerThatRemovesItsHookIsNotCalledAgainAndTheRecordGoesAtTheNextMessage) {
    ASSERT_TRUE(Hook());
    hook.sc_AddMsg(window, 11, MessageHook::MSG_AFTER);
    std::weak_ptr<MessageHook::HookRecord> record = hook.zMap_hWnd(window);
    insideHandler = [&](bool, bool&, std::intptr_t&, std::uint32_t) { hook.sc_UnSubclass(window); };

    // The current message completes: the procedure has had it, and its result comes back.
    EXPECT_EQ(windows.SendMessage(window, 11, 0, 0), 111);
    EXPECT_EQ(seen, (Strings{"proc 11", "after 11"}));
    EXPECT_FALSE(record.expired()) << "released while its message ran";

    // The next message passes through the record to the procedure and releases it; from
    // then on messages go to the procedure alone.
    seen.clear();
    EXPECT_EQ(windows.SendMessage(window, 11, 0, 0), 111);
    EXPECT_TRUE(record.expired());
    EXPECT_EQ(windows.SendMessage(window, 11, 0, 0), 111);
    EXPECT_EQ(seen, (Strings{"proc 11", "proc 11"}));

    // Removed before the procedure runs, the hook still hands that message on, skips the
    // after call and is released as the message returns.
    ASSERT_TRUE(Hook());
    hook.sc_AddMsg(window, 11, MessageHook::MSG_BEFORE_AND_AFTER);
    record = hook.zMap_hWnd(window);
    seen.clear();
    EXPECT_EQ(windows.SendMessage(window, 11, 0, 0), 111);
    EXPECT_EQ(seen, (Strings{"before 11", "proc 11"}));
    EXPECT_TRUE(record.expired());
    EXPECT_TRUE(reports.log.empty());
}

TEST_F(Hooked, RemovingAndDestroyingInsideTheHandlerReleasesWithTheDestroyMessages) {
    ASSERT_TRUE(Hook());
    hook.sc_AddMsg(window, 11, MessageHook::MSG_AFTER);
    const std::weak_ptr<MessageHook::HookRecord> record = hook.zMap_hWnd(window);
    int calls = 0;
    insideHandler = [&](bool, bool&, std::intptr_t&, std::uint32_t) {
        ++calls;
        hook.sc_UnSubclass(window);
        windows.DestroyWindow(window);
    };

    EXPECT_EQ(windows.SendMessage(window, 11, 0, 0), 111);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, (Strings{"proc 11", "after 11", "proc " + std::to_string(WM_DESTROY),
                             "proc " + std::to_string(WM_NCDESTROY)}));
    EXPECT_FALSE(windows.IsWindow(window));
    EXPECT_TRUE(record.expired());
    EXPECT_TRUE(reports.log.empty());
}

TEST_F(Hooked, RecordStaysWhileACallOfTheProcedureThroughItIsStillRunning) {
    ASSERT_TRUE(Hook());
    hook.sc_AddMsg(window, 21, MessageHook::MSG_AFTER);
    const std::weak_ptr<MessageHook::HookRecord> record = hook.zMap_hWnd(window);
    bool aliveAfterNested = false;
    bool once = false;
    insideProc = [&](std::uint32_t uMsg) {
        if (uMsg == 20 && !std::exchange(once, true)) {
            // The procedure, busy with message 20, removes the hook and sends 21.
            hook.sc_UnSubclass(window);
            windows.SendMessage(window, 21, 0, 0);
            aliveAfterNested = !record.expired();
        }
    };

    EXPECT_EQ(windows.SendMessage(window, 20, 0, 0), 120);
    EXPECT_TRUE(aliveAfterNested) << "released under a running call of the procedure";
    EXPECT_TRUE(record.expired());
    EXPECT_EQ(seen, (Strings{"proc 20", "proc 21"}));
}

TEST_F(Hooked, MessageTablesKeepOneEntryPerMessageAndReuseFreedSlots) {
    MessageHook::MsgTable table;
    hook.zAddMsg(0x3C0, table);
    hook.zAddMsg(0x3C0, table);
    EXPECT_EQ(table.count, 1);

    hook.zAddMsg(5, table);
    hook.zAddMsg(6, table);
    hook.zDelMsg(5, table);
    EXPECT_EQ(table.count, 3);
    EXPECT_EQ(table.entries[1], 0u);
    hook.zAddMsg(9, table);
    EXPECT_EQ(table.count, 3);
    EXPECT_EQ(table.entries[1], 9u);

    // A message that is in already is not entered again into a free slot before it, so one
    // removal takes it out.
    hook.zDelMsg(0x3C0, table);
    hook.zAddMsg(6, table);
    EXPECT_EQ(table.entries[0], 0u);
    hook.zDelMsg(6, table);
    EXPECT_EQ(std::count(table.entries.begin(), table.entries.end(), 6u), 0);
    EXPECT_TRUE(reports.log.empty());

    hook.zAddMsg(MessageHook::ALL_MESSAGES, table);
    EXPECT_EQ(table.count, -1);
    hook.zDelMsg(MessageHook::ALL_MESSAGES, table);
    EXPECT_EQ(table.count, 0);
}

TEST_F(Hooked, ThirtyThirdMessageIsRefusedAndTheTableStaysAsItWas) {
    MessageHook::MsgTable table;
    for (std::uint32_t m = 1; m <= 32; ++m) {
        hook.zAddMsg(m, table);
    }
    EXPECT_TRUE(reports.log.empty());
    const MessageHook::MsgTable full = table;
    hook.zAddMsg(33, table);
    EXPECT_EQ(table.count, 32);
    EXPECT_EQ(table.entries, full.entries);
    ASSERT_EQ(reports.log.size(), 1u);
    EXPECT_EQ(reports.log[0],
              "WaveInRecorder.zAddMsg: Message table overflow. Either increase the value of "
              "Const MSG_ENTRIES or use ALL_MESSAGES instead of specific message values");
    ASSERT_EQ(reports.boxes.size(), 1u);
    EXPECT_EQ(reports.boxes[0].title, "Error in WaveInRecorder.zAddMsg");

    // The count is checked before the entries: a full table reports even a message it holds.
    hook.zAddMsg(5, table);
    EXPECT_EQ(reports.log.size(), 2u);
}

TEST_F(Hooked, EachFailureIsLoggedAndShownWithItsRoutine) {
    struct Case {
        const char* name;
        std::function<void()> act;
        std::string routine;
        std::string message;
    };
    const WindowHandle other = windows.CreateWindow({});
    const std::vector<Case> cases{
        {"unhook before any hook", [&] { hook.sc_UnSubclass(window); }, "sc_UnSubclass",
         "Window handle isn't subclassed"},
        {"register before any hook", [&] { hook.sc_AddMsg(window, 1); }, "zMap_hWnd",
         "Subclassing hasn't been started"},
        {"not a window",
         [&] { EXPECT_FALSE(hook.sc_Subclass(other + 100, 0, this, [](auto&&...) {})); },
         "sc_Subclass", "Invalid window handle"},
        {"no handler", [&] { EXPECT_FALSE(hook.sc_Subclass(window, 0, this, {})); }, "sc_Subclass",
         "Callback method not found"},
        {"hooked twice",
         [&] {
             EXPECT_TRUE(Hook());
             EXPECT_FALSE(Hook());
         },
         "sc_Subclass", "Window handle is already subclassed"},
        {"register on a window not hooked", [&] { hook.sc_AddMsg(other, 1); }, "zMap_hWnd",
         "Window handle isn't subclassed"},
        {"unhook a window not hooked", [&] { hook.sc_UnSubclass(other); }, "zMap_hWnd",
         "Window handle isn't subclassed"},
        {"remove a message not in the table",
         [&] {
             MessageHook::MsgTable table;
             hook.zAddMsg(0x3C1, table);
             hook.zDelMsg(0x3C0, table);
         },
         "zDelMsg", "Message &H3C0 not found in table"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reports.log.clear();
        reports.boxes.clear();
        c.act();
        ASSERT_EQ(reports.log.size(), 1u);
        EXPECT_EQ(reports.log[0], "WaveInRecorder." + c.routine + ": " + c.message);
        ASSERT_EQ(reports.boxes.size(), 1u);
        EXPECT_EQ(reports.boxes[0].text, c.message + ".");
        EXPECT_EQ(reports.boxes[0].title, "Error in WaveInRecorder." + c.routine);
        EXPECT_EQ(reports.boxes[0].icon, MessageIcon::Warning);
    }
    // The second hook of the same window was refused and the first still works.
    hook.sc_AddMsg(window, 3, MessageHook::MSG_AFTER);
    seen.clear();
    windows.SendMessage(window, 3, 0, 0);
    EXPECT_EQ(seen, (Strings{"proc 3", "after 3"}));
}

TEST(RecorderHook, MessageWindowIsHookedForTheDataMessageOnlyWhileRecording) {
    Reports reports;
    WindowService windows;
    ScriptedWaveIn device;
    WaveInRecorder recorder(windows, device);

    ASSERT_TRUE(recorder.StartRecord(44100, 2));
    const WindowHandle w = recorder.MessageWindow();
    EXPECT_EQ(MessageHook::Key(w), std::to_string(w) + "h");
    const std::weak_ptr<MessageHook::HookRecord> record = recorder.Hook().zMap_hWnd(w);
    ASSERT_FALSE(record.expired());
    {
        const auto r = record.lock();
        EXPECT_EQ(r->owner, &recorder);
        EXPECT_EQ(r->lParamUser, 0);
        EXPECT_EQ(r->before.count, 0);
        ASSERT_GE(r->after.count, 1);
        EXPECT_EQ(r->after.entries[0], MM_WIM_DATA);
    }
    recorder.StopRecord();
    EXPECT_EQ(windows.WindowCount(), 0u);
    EXPECT_TRUE(record.expired()) << "the destroy messages release the record";

    device.openError = MMSYSERR_BADDEVICEID;
    EXPECT_FALSE(recorder.StartRecord(44100, 2));
    EXPECT_EQ(windows.WindowCount(), 0u);
    EXPECT_EQ(recorder.MessageWindow(), 0);
    EXPECT_TRUE(reports.log.empty());
    EXPECT_TRUE(reports.boxes.empty());
}
