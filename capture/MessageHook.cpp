#include "capture/MessageHook.h"

#include "platform/EventLog.h"
#include "platform/MessageBoxService.h"

#include <QString>

#include <cstdio>
#include <unistd.h>
#include <utility>

namespace {

// The error number a replacement of a window's procedure reports when the handle names no
// window. The first check of sc_Subclass has made sure the handle is a window, and nothing
// else runs between that check and the replacement, so this is never reported in practice.
constexpr int kErrorInvalidWindowHandle = 1400;

} // namespace

MessageHook::MessageHook(platform::WindowService& windows, std::string className)
    : windows_(windows), className_(std::move(className)) {}

std::string MessageHook::Key(platform::WindowHandle hWnd) {
    return std::to_string(hWnd) + "h";
}

bool MessageHook::sc_Subclass(platform::WindowHandle hWnd, std::int32_t lParamUser, void* owner,
                              Handler handler) {
    if (!windows_.IsWindow(hWnd)) {
        zError("sc_Subclass", "Invalid window handle");
        return false;
    }
    if (windows_.WindowProcessId(hWnd) != static_cast<std::int64_t>(::getpid())) {
        zError("sc_Subclass", "Window handle belongs to another process");
        return false;
    }
    if (!handler) {
        zError("sc_Subclass", "Callback method not found");
        return false;
    }
    if (!registry_) {
        registry_ = std::make_unique<std::map<std::string, std::shared_ptr<HookRecord>>>();
    }
    // The record is ordinary memory that the window's procedure object holds; no code is
    // written at run time, so there is no allocation that could be refused here and the
    // report of such a refusal has no cause left.
    auto record = std::make_shared<HookRecord>();
    const std::string key = Key(hWnd);
    if (!registry_->emplace(key, record).second) {
        zError("sc_Subclass", "Window handle is already subclassed");
        return false; // the new record goes again
    }

    record->hWnd = hWnd;
    record->owner = owner;
    record->handler = std::move(handler);
    record->lParamUser = lParamUser;
    platform::WindowService* windows = &windows_;
    record->previous = windows_.SetWindowProc(
        hWnd, [windows, record](platform::WindowHandle w, std::uint32_t uMsg, std::uintptr_t wParam,
                                std::intptr_t lParam) {
            return Dispatch(*windows, *record, w, uMsg, wParam, lParam);
        });
    // An empty previous procedure is a window that answers 0 to everything; only a handle
    // that is no longer a window means the replacement was refused.
    if (!record->previous && !windows_.IsWindow(hWnd)) {
        registry_->erase(key);
        zError("sc_Subclass",
               "SetWindowLong failed, error #" + std::to_string(kErrorInvalidWindowHandle));
        return false;
    }
    return true;
}

void MessageHook::sc_UnSubclass(platform::WindowHandle hWnd) {
    if (!registry_) {
        zError("sc_UnSubclass", "Window handle isn't subclassed");
        return;
    }
    if (const std::shared_ptr<HookRecord> record = zMap_hWnd(hWnd)) {
        record->shutdown = true;
        zDelMsg(ALL_MESSAGES, record->before);
        zDelMsg(ALL_MESSAGES, record->after);
    }
    registry_->erase(Key(hWnd));
}

void MessageHook::sc_AddMsg(platform::WindowHandle hWnd, std::uint32_t uMsg, eMsgWhen When) {
    const std::shared_ptr<HookRecord> record = zMap_hWnd(hWnd);
    if (!record) {
        return;
    }
    if ((When & MSG_BEFORE) != 0) {
        zAddMsg(uMsg, record->before);
    }
    if ((When & MSG_AFTER) != 0) {
        zAddMsg(uMsg, record->after);
    }
}

void MessageHook::zAddMsg(std::uint32_t uMsg, MsgTable& table) {
    if (uMsg == ALL_MESSAGES) {
        table.count = ALL_MESSAGES_COUNT;
        return;
    }
    if (table.count == ALL_MESSAGES_COUNT) {
        return; // every message is in already
    }
    if (table.count >= MSG_ENTRIES) {
        zError("zAddMsg", "Message table overflow. Either increase the value of Const "
                          "MSG_ENTRIES or use ALL_MESSAGES instead of specific message values");
        return;
    }
    // A message already entered stays where it is, even behind a free slot, so that one
    // removal always takes it out again.
    const auto counted = table.entries.begin() + table.count;
    for (auto it = table.entries.begin(); it != counted; ++it) {
        if (*it == uMsg) {
            return;
        }
    }
    for (auto it = table.entries.begin(); it != counted; ++it) {
        if (*it == 0) {
            *it = uMsg;
            return;
        }
    }
    table.entries[static_cast<std::size_t>(table.count)] = uMsg;
    ++table.count;
}

void MessageHook::zDelMsg(std::uint32_t uMsg, MsgTable& table) {
    if (uMsg == ALL_MESSAGES) {
        table.count = 0;
        return;
    }
    for (std::int32_t i = 0; i < table.count; ++i) {
        if (table.entries[static_cast<std::size_t>(i)] == uMsg) {
            table.entries[static_cast<std::size_t>(i)] = 0;
            return;
        }
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", uMsg);
    zError("zDelMsg", std::string("Message &H") + hex + " not found in table");
}

std::shared_ptr<MessageHook::HookRecord> MessageHook::zMap_hWnd(platform::WindowHandle hWnd) {
    if (!registry_) {
        zError("zMap_hWnd", "Subclassing hasn't been started");
        return nullptr;
    }
    const auto it = registry_->find(Key(hWnd));
    if (it == registry_->end()) {
        zError("zMap_hWnd", "Window handle isn't subclassed");
        return nullptr;
    }
    return it->second;
}

bool MessageHook::InTable(const MsgTable& table, std::uint32_t uMsg) {
    if (table.count == ALL_MESSAGES_COUNT) {
        return true;
    }
    if (uMsg == 0) {
        return false; // 0 marks a free slot, never a registered message
    }
    for (std::int32_t i = 0; i < table.count; ++i) {
        if (table.entries[static_cast<std::size_t>(i)] == uMsg) {
            return true;
        }
    }
    return false;
}

void MessageHook::CallHandler(HookRecord& record, bool bBefore, bool& bHandled,
                              std::intptr_t& lReturn, platform::WindowHandle hWnd,
                              std::uint32_t uMsg, std::uintptr_t wParam, std::intptr_t lParam) {
    if (record.handler) {
        record.handler(record.owner, bBefore, bHandled, lReturn, hWnd, uMsg, wParam, lParam,
                       record.lParamUser);
    }
}

std::intptr_t MessageHook::Dispatch(platform::WindowService& windows, HookRecord& record,
                                    platform::WindowHandle hWnd, std::uint32_t uMsg,
                                    std::uintptr_t wParam, std::intptr_t lParam) {
    bool bHandled = false;
    std::intptr_t lReturn = 0;
    if (InTable(record.before, uMsg)) {
        CallHandler(record, true, bHandled, lReturn, hWnd, uMsg, wParam, lParam);
    }
    if (!bHandled) {
        ++record.inUse;
        lReturn =
            platform::WindowService::CallWindowProc(record.previous, hWnd, uMsg, wParam, lParam);
        --record.inUse;
    }
    if (record.inUse == 0 && record.shutdown) {
        // The hook is gone: put the previous procedure back. That drops the window's hold on
        // the record, which goes once this call (which holds it too) has returned.
        if (!record.released) {
            record.released = true;
            windows.SetWindowProc(record.hWnd, record.previous);
        }
    } else if (InTable(record.after, uMsg)) {
        CallHandler(record, false, bHandled, lReturn, hWnd, uMsg, wParam, lParam);
    }
    return lReturn;
}

void MessageHook::zError(const std::string& routine, const std::string& message) const {
    const std::string where = className_ + "." + routine;
    platform::LogError(where + ": " + message);
    platform::MsgBox(nullptr, QString::fromStdString(message) + QStringLiteral("."),
                     platform::MessageIcon::Warning,
                     QStringLiteral("Error in ") + QString::fromStdString(where));
}
