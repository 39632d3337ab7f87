#pragma once

#include "platform/WindowService.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdint>
#include <functional>

class QPoint;
class QWidget;

// The main window's notification-area icon and its right-click menu Mnu_Menu ("显示Vocarn",
// a separator, "退出").
//
// The main window is registered in the message-window service. The icon's mouse actions are
// posted to it as the tray message (WM_TRAY) with the mouse message in lParam; Add puts the
// icon up and installs WindowProc as the window's procedure, which opens the menu on a
// right-button release and hands every message on to the procedure it replaced. Remove takes
// the icon down and puts the previous procedure back.
class TrayIcon {
public:
    // The tray message and the mouse messages it carries in lParam.
    static constexpr std::uint32_t WM_TRAY = 1147;
    static constexpr std::intptr_t WM_LBUTTONDOWN = 0x201;
    static constexpr std::intptr_t WM_LBUTTONUP = 0x202;
    static constexpr std::intptr_t WM_LBUTTONDBLCLK = 0x203;
    static constexpr std::intptr_t WM_RBUTTONDOWN = 0x204;
    static constexpr std::intptr_t WM_RBUTTONUP = 0x205;
    static constexpr std::intptr_t WM_MBUTTONDOWN = 0x207;
    static constexpr std::intptr_t WM_MBUTTONUP = 0x208;

    // Opens a pop-up menu at a screen position and returns when it has closed (after the
    // chosen item's handler has run).
    using MenuPopup = std::function<void(QMenu& menu, const QPoint& at)>;
    // Whether the desktop has a notification area.
    using TrayCheck = std::function<bool()>;

    // Registers `window` (not owned; it outlives this object) in `windows`. The icon is the
    // window's icon, the tip "Vocarn".
    TrayIcon(platform::WindowService& windows, QWidget& window);
    ~TrayIcon(); // removes the icon if still up and ends the registration
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Puts the icon in the notification area, then installs WindowProc.
    void Add();
    // Takes the icon away, then restores the procedure WindowProc replaced.
    void Remove();

    // The main window's procedure while installed: on the tray message, a right-button press
    // brings the window to the front and a release opens Mnu_Menu at the cursor (once the
    // focus a hidden window still held has gone, see AwaitFocusLoss); other mouse messages do
    // nothing. Every message, the tray message included, then goes on to the
    // previous procedure, whose result is returned.
    std::intptr_t WindowProc(platform::WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                             std::intptr_t lParam);

    // While a take runs, the menu offers "暂停" (or "继续" while paused) and "停止录音" between
    // its own two items, which keep their order; while idle it is the menu above. The
    // handlers run the main window's pause button and stop.
    void setTakeHandlers(std::function<void()> pauseOrContinue, std::function<void()> stop);
    void ShowTakeItems(bool recording, bool paused);

    platform::WindowHandle hWnd() const { return hWnd_; }
    QSystemTrayIcon& Icon() { return icon_; }
    QMenu& Mnu_Menu() { return menu_; }

    // Makes `popup` the way menus open (empty: QMenu::exec) and returns the previous one.
    static MenuPopup installPopup(MenuPopup popup);
    // Makes `check` the notification-area check (empty: QSystemTrayIcon's) and returns the
    // previous one.
    static TrayCheck installTrayCheck(TrayCheck check);
    // True when the desktop has a notification area, so a hidden window can come back.
    static bool SystemTrayAvailable();

private:
    void PostMouse(std::intptr_t first, std::intptr_t second = 0);
    // A hidden window of the program that still holds the focus loses it a moment later (on
    // X11 the toolkit takes it 100 ms after the window system's focus-out), and the toolkit
    // closes every open menu when the program loses the focus: a menu opened right after the
    // main window was hidden would vanish at once. Waits for that loss (at most 300 ms) while
    // the event loop goes on. False for a release that comes while another one waits; that one
    // opens the menu.
    bool AwaitFocusLoss();

    platform::WindowService& windows_;
    QWidget& window_;
    platform::WindowHandle hWnd_ = 0;
    platform::WindowProc lngOldWndProc; // the procedure WindowProc replaced
    bool added_ = false;
    bool awaitingFocusLoss_ = false;
    QMenu menu_;
    QAction* quit_ = nullptr;
    // The take's items, in the menu only while a take runs.
    QAction* pauseItem_ = nullptr;
    QAction* stopItem_ = nullptr;
    QAction* takeSeparator_ = nullptr;
    QSystemTrayIcon icon_;
};
