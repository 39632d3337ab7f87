#include "app/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace {

// The longest wait for the window system to take the focus from a hidden window. The X11
// platform of the toolkit takes it 100 ms after the window system's focus-out.
constexpr int kFocusLossWaitMS = 300;

TrayIcon::MenuPopup& popupSeam() {
    static TrayIcon::MenuPopup popup;
    return popup;
}

TrayIcon::TrayCheck& trayCheckSeam() {
    static TrayIcon::TrayCheck check;
    return check;
}

} // namespace

TrayIcon::TrayIcon(platform::WindowService& windows, QWidget& window)
    : windows_(windows), window_(window) {
    // The main window's own procedure answers 0 to everything.
    hWnd_ = windows_.CreateWindow({});

    menu_.addAction(QStringLiteral("显示Vocarn"), &window_, [this] {
        window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
        window_.show();
    });
    menu_.addSeparator();
    quit_ = menu_.addAction(QStringLiteral("退出"), &window_, [this] { window_.close(); });
    pauseItem_ = new QAction(QStringLiteral("暂停"), &menu_);
    stopItem_ = new QAction(QStringLiteral("停止录音"), &menu_);
    takeSeparator_ = new QAction(&menu_);
    takeSeparator_->setSeparator(true);

    QIcon icon = window_.windowIcon();
    if (icon.isNull()) {
        icon = QApplication::style()->standardIcon(QStyle::SP_MediaVolume);
    }
    icon_.setIcon(icon);
    icon_.setToolTip(QStringLiteral("Vocarn"));
    // Every mouse action on the icon reaches the main window's procedure as the tray message.
    QObject::connect(&icon_, &QSystemTrayIcon::activated, &icon_,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         switch (reason) {
                         case QSystemTrayIcon::Context:
                             PostMouse(WM_RBUTTONDOWN, WM_RBUTTONUP);
                             break;
                         case QSystemTrayIcon::Trigger:
                             PostMouse(WM_LBUTTONDOWN, WM_LBUTTONUP);
                             break;
                         case QSystemTrayIcon::DoubleClick:
                             PostMouse(WM_LBUTTONDBLCLK);
                             break;
                         case QSystemTrayIcon::MiddleClick:
                             PostMouse(WM_MBUTTONDOWN, WM_MBUTTONUP);
                             break;
                         case QSystemTrayIcon::Unknown:
                             break;
                         }
                     });
}

TrayIcon::~TrayIcon() {
    Remove();
    windows_.DestroyWindow(hWnd_);
}

void TrayIcon::PostMouse(std::intptr_t first, std::intptr_t second) {
    windows_.PostMessage(hWnd_, WM_TRAY, 0, first);
    if (second != 0) {
        windows_.PostMessage(hWnd_, WM_TRAY, 0, second);
    }
}

void TrayIcon::Add() {
    if (added_) {
        return;
    }
    added_ = true;
    icon_.show();
    lngOldWndProc = windows_.SetWindowProc(
        hWnd_, [this](platform::WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                      std::intptr_t lParam) { return WindowProc(hWnd, uMsg, wParam, lParam); });
}

void TrayIcon::Remove() {
    if (!added_) {
        return;
    }
    added_ = false;
    icon_.hide();
    windows_.SetWindowProc(hWnd_, lngOldWndProc);
}

std::intptr_t TrayIcon::WindowProc(platform::WindowHandle hWnd, std::uint32_t uMsg,
                                   std::uintptr_t wParam, std::intptr_t lParam) {
    if (uMsg == WM_TRAY) {
        if (lParam == WM_RBUTTONDOWN) {
            window_.raise();
            window_.activateWindow();
        } else if (lParam == WM_RBUTTONUP && AwaitFocusLoss()) {
            const QPoint at = QCursor::pos();
            if (const MenuPopup& popup = popupSeam()) {
                popup(menu_, at);
            } else {
                menu_.exec(at);
            }
        }
    }
    // The menu's "退出" may have restored the previous procedure already; this call still
    // hands the message on to it.
    return platform::WindowService::CallWindowProc(lngOldWndProc, hWnd, uMsg, wParam, lParam);
}

bool TrayIcon::AwaitFocusLoss() {
    if (awaitingFocusLoss_) {
        return false; // the release that is waiting already opens the menu
    }
    const QWindow* focus = QGuiApplication::focusWindow();
    if (focus == nullptr || focus->isVisible()) {
        return true;
    }
    awaitingFocusLoss_ = true;
    QEventLoop wait;
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &wait, &QEventLoop::quit);
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &wait, &QEventLoop::quit);
    QTimer::singleShot(kFocusLossWaitMS, &wait, &QEventLoop::quit);
    wait.exec();
    awaitingFocusLoss_ = false;
    return true;
}

void TrayIcon::setTakeHandlers(std::function<void()> pauseOrContinue, std::function<void()> stop) {
    QObject::connect(pauseItem_, &QAction::triggered, &window_,
                     [run = std::move(pauseOrContinue)] { run(); });
    QObject::connect(stopItem_, &QAction::triggered, &window_, [run = std::move(stop)] { run(); });
}

void TrayIcon::ShowTakeItems(bool recording, bool paused) {
    pauseItem_->setText(paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
    const bool shown = menu_.actions().contains(pauseItem_);
    if (recording && !shown) {
        menu_.insertActions(quit_, {pauseItem_, stopItem_, takeSeparator_});
    } else if (!recording && shown) {
        menu_.removeAction(pauseItem_);
        menu_.removeAction(stopItem_);
        menu_.removeAction(takeSeparator_);
    }
}

TrayIcon::MenuPopup TrayIcon::installPopup(MenuPopup popup) {
    return std::exchange(popupSeam(), std::move(popup));
}

TrayIcon::TrayCheck TrayIcon::installTrayCheck(TrayCheck check) {
    return std::exchange(trayCheckSeam(), std::move(check));
}

bool TrayIcon::SystemTrayAvailable() {
    const TrayCheck& check = trayCheckSeam();
    return check ? check() : QSystemTrayIcon::isSystemTrayAvailable();
}
