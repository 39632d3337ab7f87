#pragma once

#include "platform/WindowService.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

// Hooks windows of the message-window service so that an owner's message handler runs
// before and/or after a window's own procedure, for the messages it has registered.
//
// Hooking a window replaces its procedure with the entry point of a hook record. For every
// message the record calls the handler for the messages of its before table, hands the
// message on to the previous procedure (unless the handler said it handled it), then calls
// the handler for the messages of its after table. The records are kept in a registry keyed
// by the window's handle in decimal followed by "h" (window 12 is "12h").
//
// Removing a hook empties its tables and sets the record's shutdown flag: the handler is
// never called again, and the record puts the previous procedure back and releases itself
// at the next message that passes through it, once no call of the previous procedure made
// through it is still running. So a handler may remove its own hook, and the window may be
// destroyed right after the removal: its destroy messages complete the release.
//
// Errors are reported to the system's error log and in a message box, as
// "<class>.<routine>: <message>" and under the title "Error in <class>.<routine>", <class>
// being the name of the owning class given at construction. Everything runs on the
// user-interface thread.
class MessageHook {
public:
    // Entries of one message table.
    static constexpr std::int32_t MSG_ENTRIES = 32;
    // As a message number: every message. A table whose count is ALL_MESSAGES takes them all.
    static constexpr std::uint32_t ALL_MESSAGES = 0xFFFFFFFFu;
    static constexpr std::int32_t ALL_MESSAGES_COUNT = -1;

    // When the handler runs for a registered message.
    enum eMsgWhen : std::int32_t { MSG_BEFORE = 1, MSG_AFTER = 2, MSG_BEFORE_AND_AFTER = 3 };

    // A count, then MSG_ENTRIES message numbers; entry 0 is a free slot inside the counted
    // range.
    struct MsgTable {
        std::int32_t count = 0;
        std::array<std::uint32_t, MSG_ENTRIES> entries{};
    };

    // The owner's message handler: owner, bBefore (true for the before table), bHandled
    // (starts false; true keeps the message from the previous procedure), lReturn (starts
    // 0; what the window returns when the previous procedure does not run), the message,
    // and the user value given when the window was hooked.
    using Handler =
        std::function<void(void* owner, bool bBefore, bool& bHandled, std::intptr_t& lReturn,
                           platform::WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                           std::intptr_t lParam, std::int32_t& lParamUser)>;

    // One hooked window. Owned by the window's procedure from the moment it is installed.
    struct HookRecord {
        platform::WindowHandle hWnd = 0;
        platform::WindowProc previous; // every message is handed on to it
        void* owner = nullptr;         // handed to the handler
        Handler handler;
        std::int32_t lParamUser = 0;
        MsgTable before;
        MsgTable after;
        int inUse = 0;         // calls of the previous procedure in progress through the record
        bool shutdown = false; // set when the hook is removed
        bool released = false; // the previous procedure is back in place
    };

    // windows: the service whose windows are hooked (not owned; it must outlive every
    // hooked window). className: the name the error reports give.
    MessageHook(platform::WindowService& windows, std::string className);
    MessageHook(const MessageHook&) = delete;
    MessageHook& operator=(const MessageHook&) = delete;

    // Hooks hWnd for `owner`'s handler; no message is registered yet. False (after its
    // report) when hWnd is not a window of this process, the handler is empty, or the
    // window is hooked already.
    bool sc_Subclass(platform::WindowHandle hWnd, std::int32_t lParamUser, void* owner,
                     Handler handler);
    // Removes the hook of hWnd (see the class comment for when the record goes).
    void sc_UnSubclass(platform::WindowHandle hWnd);
    // Registers uMsg (ALL_MESSAGES: every message) for the hooked window in the before
    // table, the after table or both.
    void sc_AddMsg(platform::WindowHandle hWnd, std::uint32_t uMsg, eMsgWhen When = MSG_AFTER);

    // Enters uMsg into `table`: once only, into the first free slot, else appended. A full
    // table refuses a new message with a report and stays unchanged.
    void zAddMsg(std::uint32_t uMsg, MsgTable& table);
    // Frees the slot of uMsg (ALL_MESSAGES: empties the table); reported when absent.
    void zDelMsg(std::uint32_t uMsg, MsgTable& table);
    // The record of a hooked window; reported and null without one.
    std::shared_ptr<HookRecord> zMap_hWnd(platform::WindowHandle hWnd);

    // The registry key of a window: its handle in decimal followed by "h".
    static std::string Key(platform::WindowHandle hWnd);

private:
    static std::intptr_t Dispatch(platform::WindowService& windows, HookRecord& record,
                                  platform::WindowHandle hWnd, std::uint32_t uMsg,
                                  std::uintptr_t wParam, std::intptr_t lParam);
    static bool InTable(const MsgTable& table, std::uint32_t uMsg);
    static void CallHandler(HookRecord& record, bool bBefore, bool& bHandled,
                            std::intptr_t& lReturn, platform::WindowHandle hWnd, std::uint32_t uMsg,
                            std::uintptr_t wParam, std::intptr_t lParam);
    void zError(const std::string& routine, const std::string& message) const;

    platform::WindowService& windows_;
    const std::string className_;
    // Created at the first hook; absent before.
    std::unique_ptr<std::map<std::string, std::shared_ptr<HookRecord>>> registry_;
};
