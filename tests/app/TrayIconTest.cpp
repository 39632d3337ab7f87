#include "app/TrayIcon.h"
#include "app/Form1.h"
#include "app/SettingsFile.h"
#include "platform/WindowService.h"

#include "EventPump.h"
#include "MessageRecorder.h"
#include "ReadBack.h"
#include "ScriptedWaveIn.h"

#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Installs a notification-area answer and a menu opener that notes each opening and then
// clicks the item `choose` names (nothing when empty), for as long as it lives.
class TraySeams {
public:
    explicit TraySeams(bool trayAvailable) {
        previousCheck_ = TrayIcon::installTrayCheck([trayAvailable] { return trayAvailable; });
        previousPopup_ = TrayIcon::installPopup([this](QMenu& menu, const QPoint&) {
            ++opened;
            for (QAction* action : menu.actions()) {
                items.push_back(action->isSeparator() ? QStringLiteral("-") : action->text());
            }
            for (QAction* action : menu.actions()) {
                if (!choose.isEmpty() && action->text() == choose) {
                    action->trigger();
                }
            }
        });
    }
    ~TraySeams() {
        TrayIcon::installTrayCheck(previousCheck_);
        TrayIcon::installPopup(previousPopup_);
    }

    int opened = 0;
    QStringList items;
    QString choose;

private:
    TrayIcon::TrayCheck previousCheck_;
    TrayIcon::MenuPopup previousPopup_;
};

// Posts a tray notification to `hWnd`, then a marker, and runs the loop until the marker has
// arrived, so the notification has been handled.
void PostTray(WindowService& windows, WindowHandle hWnd, std::intptr_t mouse) {
    bool seen = false;
    const WindowHandle marker =
        windows.CreateWindow([&](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
            seen = true;
            return std::intptr_t{0};
        });
    windows.PostMessage(hWnd, TrayIcon::WM_TRAY, 0, mouse);
    windows.PostMessage(marker, 1, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return seen; }));
    windows.DestroyWindow(marker);
}

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        waveIn.devices = {"Scripted microphone"};
    }

    std::unique_ptr<Form1> Open() { return std::make_unique<Form1>(windows, waveIn, dir.path()); }
    QString FilePath(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir dir;
    MessageRecorder messages;
    WindowService windows;
    ScriptedWaveIn waveIn;
};

} // namespace

TEST_F(TrayTest, IconWithItsTipAndMenuIsUpForTheWholeRun) {
    TraySeams seams(true);
    auto form = Open();
    TrayIcon& tray = form->Tray();
    EXPECT_TRUE(windows.IsWindow(tray.hWnd()));
    EXPECT_TRUE(tray.Icon().isVisible());
    EXPECT_FALSE(tray.Icon().icon().isNull());
    EXPECT_EQ(tray.Icon().toolTip(), QStringLiteral("Vocarn"));

    // Left clicks, double clicks and a right press open nothing; the right release opens
    // the menu.
    for (std::intptr_t mouse : {TrayIcon::WM_LBUTTONDOWN, TrayIcon::WM_LBUTTONUP,
                                TrayIcon::WM_LBUTTONDBLCLK, TrayIcon::WM_RBUTTONDOWN}) {
        PostTray(windows, tray.hWnd(), mouse);
    }
    EXPECT_EQ(seams.opened, 0);
    EXPECT_TRUE(form->isVisible());
    PostTray(windows, tray.hWnd(), TrayIcon::WM_RBUTTONUP);
    EXPECT_EQ(seams.opened, 1);
    EXPECT_EQ(seams.items, (QStringList{QStringLiteral("显示Vocarn"), QStringLiteral("-"),
                                        QStringLiteral("退出")}));

    // The icon's own right click reaches the window's procedure as press and release.
    emit tray.Icon().activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(PumpUntil([&] { return seams.opened == 2; }));
    emit tray.Icon().activated(QSystemTrayIcon::DoubleClick);
    PostTray(windows, tray.hWnd(), 0);
    EXPECT_EQ(seams.opened, 2);

    form->close();
    EXPECT_FALSE(form->Tray().Icon().isVisible()) << "icon left in the tray";
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(TrayTest, HiddenWindowComesBackThroughTheMenu) {
    TraySeams seams(true);
    auto form = Open();
    EXPECT_FALSE(form->findChild<QPushButton*>(QStringLiteral("Command4"))
                     ->toolTip()
                     .contains(QStringLiteral("没有系统托盘")));
    form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->Tray().Icon().isVisible());

    seams.choose = QStringLiteral("显示Vocarn");
    PostTray(windows, form->Tray().hWnd(), TrayIcon::WM_RBUTTONUP);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
}

// Hiding the main window leaves the program's focus in it until the window system takes the
// focus away a moment later (about 100 ms on X11), and the toolkit closes every open menu when
// the program loses the focus. A right click on the icon in that moment still opens the menu,
// which stays open. Here the focus loss comes 30 ms after the hiding, after the right click,
// and the menu is the real one.
TEST_F(TrayTest, MenuOpenedRightAfterHidingStaysOpenWhenTheFocusGoes) {
    const TrayIcon::TrayCheck check = TrayIcon::installTrayCheck([] { return true; });
    auto form = Open();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QMenu& menu = form->Tray().Mnu_Menu();
    int opened = 0;
    std::optional<bool> openAfterwards;
    QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&] {
        ++opened;
        QTimer::singleShot(100, &menu, [&] {
            openAfterwards = menu.isVisible();
            menu.close();
        });
    });

    form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    ASSERT_FALSE(form->isVisible());
    QTimer::singleShot(30, [] {
        QEvent focusLoss(QEvent::ApplicationDeactivate);
        QCoreApplication::sendEvent(qApp, &focusLoss);
    });
    emit form->Tray().Icon().activated(QSystemTrayIcon::Context);
    ASSERT_TRUE(PumpUntil([&] { return openAfterwards.has_value(); }, 3s));
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(*openAfterwards) << "the menu closed as the program lost the focus";
    TrayIcon::installTrayCheck(check);
}

TEST_F(TrayTest, WithoutANotificationAreaTheButtonMinimisesInstead) {
    TraySeams seams(false);
    auto form = Open();
    auto* command4 = form->findChild<QPushButton*>(QStringLiteral("Command4"));
    EXPECT_TRUE(command4->toolTip().contains(QStringLiteral("没有系统托盘")));
    command4->click();
    EXPECT_TRUE(form->isVisible()) << "hidden with no way back";
    EXPECT_TRUE(PumpUntil([&] { return form->isMinimized(); }));
}

TEST_F(TrayTest, QuitFromTheMenuWhileRecordingFinishesTheFile) {
    TraySeams seams(true);
    {
        QFile ini(SettingsFile::path(dir.path()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("3\r\n");
    }
    auto form = Open();
    auto* cboDev = form->findChild<QComboBox*>(QStringLiteral("cboDev"));
    cboDev->setCurrentIndex(0);
    emit cboDev->activated(0);
    form->findChild<QPushButton*>(QStringLiteral("cmdDo"))->click();
    ASSERT_TRUE(form->Recorder().IsRecording());
    std::vector<std::int16_t> ramp(5120);
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<std::int16_t>(i * 3);
    }
    waveIn.Feed(ramp);
    ASSERT_TRUE(PumpUntil([&] { return form->lngElapsedMS() > 0; }));

    // From the hidden window, as the tray is then the only way to it. While a take runs the
    // menu also pauses and stops it.
    form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    seams.choose = QStringLiteral("暂停");
    PostTray(windows, form->Tray().hWnd(), TrayIcon::WM_RBUTTONUP);
    EXPECT_EQ(seams.items, QStringList({"显示Vocarn", "-", "暂停", "停止录音", "-", "退出"}));
    EXPECT_TRUE(form->CurrentTake().IsPaused());
    EXPECT_EQ(form->findChild<QPushButton*>(QStringLiteral("cmdPause"))->text(),
              QStringLiteral("继续"));
    waveIn.Feed(ramp); // captured while paused: not in the file
    ASSERT_TRUE(PumpUntil([&] { return form->CurrentTake().PausedFrames() == 2560; }));
    seams.items.clear();
    seams.choose = QStringLiteral("继续");
    PostTray(windows, form->Tray().hWnd(), TrayIcon::WM_RBUTTONUP);
    EXPECT_FALSE(form->CurrentTake().IsPaused());
    seams.choose = QStringLiteral("退出");
    PostTray(windows, form->Tray().hWnd(), TrayIcon::WM_RBUTTONUP);

    // The window has been unloaded: the recording stopped, the icon is gone.
    EXPECT_EQ(form->findChild<QPushButton*>(QStringLiteral("cmdDo"))->text(),
              QStringLiteral("开始录音"));
    EXPECT_FALSE(form->Tray().Icon().isVisible());
    QFile ini(SettingsFile::path(dir.path()));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_EQ(ini.readAll(), QByteArray("4\r\n"));
    EXPECT_TRUE(QFileInfo(FilePath("file/录音4.wav")).isFile());
    form.reset();
    EXPECT_EQ(ReadBack(FilePath("file/录音3.wav"), 44100, 2), ramp);
}

TEST(TrayIconProcedure, EveryMessageGoesOnToThePreviousProcedureUntilRemoved) {
    WindowService windows;
    QWidget window;
    TraySeams seams(true);
    std::vector<std::string> previous; // outlives the window's procedure that fills it
    TrayIcon tray(windows, window);
    windows.SetWindowProc(
        tray.hWnd(), [&](WindowHandle, std::uint32_t uMsg, std::uintptr_t, std::intptr_t lParam) {
            previous.push_back(std::to_string(uMsg) + " " + std::to_string(lParam));
            return std::intptr_t{42};
        });
    tray.Add();
    EXPECT_EQ(windows.SendMessage(tray.hWnd(), 15, 0, 3), 42);
    EXPECT_EQ(windows.SendMessage(tray.hWnd(), TrayIcon::WM_TRAY, 0, TrayIcon::WM_RBUTTONUP), 42);
    EXPECT_EQ(seams.opened, 1);
    EXPECT_EQ(previous, (std::vector<std::string>{"15 3", "1147 517"}));

    tray.Remove();
    EXPECT_EQ(windows.SendMessage(tray.hWnd(), TrayIcon::WM_TRAY, 0, TrayIcon::WM_RBUTTONUP), 42);
    EXPECT_EQ(seams.opened, 1) << "the tray procedure is still installed";
    EXPECT_EQ(previous.size(), 3u);
}
