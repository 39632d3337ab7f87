#include "app/Form1.h"
#include "app/TrayIcon.h"
#include "platform/MessageBoxService.h"
#include "platform/WindowService.h"
#include "ui/About.h"
#include "ui/EmbeddedPlayer.h"
#include "ui/FrmST.h"

#include "ScriptedShell.h"
#include "ScriptedWaveIn.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Fails the test on any message box instead of waiting for a click that never comes.
class NoMessages final : public platform::MessageBoxService {
public:
    NoMessages() : previous_(install(this)) {}
    ~NoMessages() override { install(previous_); }
    NoMessages(const NoMessages&) = delete;
    NoMessages& operator=(const NoMessages&) = delete;
    void show(QWidget*, const QString& text, const QString&, platform::MessageIcon) override {
        ADD_FAILURE() << "message: " << text.toStdString();
    }

private:
    platform::MessageBoxService* previous_;
};

template <class T>
std::vector<T*> topLevel() {
    std::vector<T*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<T*>(widget)) {
            found.push_back(window);
        }
    }
    return found;
}

// The main window over a scripted capture device, in a program folder of its own.
class MainWindowButtons : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        waveIn_.devices = {"Scripted microphone"};
        form_ = std::make_unique<Form1>(windows_, waveIn_, dir_.path());
    }
    void click(const char* name) { form_->findChild<QPushButton*>(QLatin1String(name))->click(); }
    // Records nothing, then stops: the finished file becomes the last recording.
    void RecordAndStop() {
        auto* cboDev = form_->findChild<QComboBox*>(QStringLiteral("cboDev"));
        cboDev->setCurrentIndex(0);
        emit cboDev->activated(0);
        click("cmdDo");
        ASSERT_TRUE(form_->Recorder().IsRecording());
        click("cmdDo");
        ASSERT_FALSE(form_->Recorder().IsRecording());
    }

    QTemporaryDir dir_;
    NoMessages messages_;
    ScriptedShell shell_;
    platform::WindowService windows_;
    ScriptedWaveIn waveIn_;
    std::unique_ptr<Form1> form_;
};

} // namespace

TEST_F(MainWindowButtons, PreviewShowsTheOneWindowWithTheLastRecording) {
    click("CmdST");
    auto previews = topLevel<FrmST>();
    ASSERT_EQ(previews.size(), 1u);
    FrmST* preview = previews[0];
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->parentWidget(), nullptr);
    EXPECT_FALSE(preview->isModal());
    EXPECT_EQ(preview->File(), QString()) << "no recording stopped yet";
    preview->close();

    RecordAndStop();
    ASSERT_FALSE(form_->strLastFile().isEmpty());
    click("CmdST");
    EXPECT_EQ(topLevel<FrmST>(), previews) << "the same window again";
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->File(), form_->strLastFile());
    auto* player = preview->findChild<EmbeddedPlayer*>(QStringLiteral("LST"));
    EXPECT_EQ(player->mediaPlayer()->source(), QUrl::fromLocalFile(form_->strLastFile()));
    EXPECT_TRUE(form_->isVisible());
}

TEST_F(MainWindowButtons, AboutShowsTheOneWindowWhoseHelpIsInTheProgramsFolder) {
    click("Command1");
    click("Command1");
    const auto abouts = topLevel<About>();
    ASSERT_EQ(abouts.size(), 1u);
    EXPECT_TRUE(abouts[0]->isVisible());
    EXPECT_FALSE(abouts[0]->isModal());
    abouts[0]->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    ASSERT_EQ(shell_.opened.size(), 1u);
    EXPECT_EQ(shell_.opened[0], QUrl::fromLocalFile(dir_.filePath(QStringLiteral("bangzhu.htm"))));
}

// Every control says what it does; Ctrl+R starts and stops as the record button does, whose
// tooltip says which; Tab walks the window from top to bottom; Esc closes the small windows.
TEST_F(MainWindowButtons, HintsAndKeysReachEveryControl) {
    form_->show();
    QApplication::setActiveWindow(form_.get());
    for (QWidget* w : form_->findChildren<QWidget*>()) {
        const bool control =
            qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
            qobject_cast<QSlider*>(w) ||
            (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parent()));
        if (control && w->isVisibleTo(form_.get())) {
            EXPECT_FALSE(w->toolTip().isEmpty()) << w->objectName().toStdString();
        }
    }
    auto* record = form_->findChild<QPushButton*>(QStringLiteral("cmdDo"));
    const auto hint = [&] {
        QHelpEvent ask(QEvent::ToolTip, QPoint(1, 1), record->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(record, &ask);
        return record->toolTip();
    };
    EXPECT_TRUE(hint().startsWith(QStringLiteral("开始录音"))) << hint().toStdString();
    EXPECT_TRUE(hint().contains(QStringLiteral("Ctrl+R")));

    auto* cboDev = form_->findChild<QComboBox*>(QStringLiteral("cboDev"));
    cboDev->setCurrentIndex(0);
    emit cboDev->activated(0);
    QTest::keyClick(form_.get(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(form_->Recorder().IsRecording());
    EXPECT_TRUE(hint().startsWith(QStringLiteral("停止录音"))) << hint().toStdString();
    QTest::keyClick(form_.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(form_->Recorder().IsRecording());

    // Tab from the device list meets the controls in the window's order.
    const QStringList order = {"cboDev",    "cboRecLine",    "sldVol",    "cmdBrowse", "Command3",
                               "cmdSelFmt", "cboSamplerate", "chkStereo", "cmdFXOpts", "Command4",
                               "cmdDo",     "CmdST",         "Command1",  "chkFX_0"};
    cboDev->setFocus();
    QStringList met;
    for (int i = 0; i < 40 && met.size() < order.size(); ++i) {
        QWidget* focus = QApplication::focusWidget();
        if (focus != nullptr && focus->parentWidget() != nullptr &&
            qobject_cast<QComboBox*>(focus->parentWidget())) {
            focus = focus->parentWidget();
        }
        if (focus != nullptr && order.contains(focus->objectName()) &&
            (met.isEmpty() || met.back() != focus->objectName())) {
            met << focus->objectName();
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QStringList expected;
    for (const QString& name : order) {
        if (form_->findChild<QWidget*>(name)->isEnabled()) {
            expected << name;
        }
    }
    EXPECT_EQ(met, expected);

    click("CmdST");
    const auto previews = topLevel<FrmST>();
    ASSERT_EQ(previews.size(), 1u);
    QApplication::setActiveWindow(previews[0]);
    QTest::keyClick(previews[0], Qt::Key_Escape);
    EXPECT_FALSE(previews[0]->isVisible());
    click("Command1");
    const auto abouts = topLevel<About>();
    ASSERT_EQ(abouts.size(), 1u);
    QTest::keyClick(abouts[0], Qt::Key_Escape);
    EXPECT_FALSE(abouts[0]->isVisible());
}

TEST_F(MainWindowButtons, OpenFolderShowsTheNextOutputFileSelected) {
    const QString next = form_->findChild<QLineEdit*>(QStringLiteral("txtFile"))->text();
    ASSERT_TRUE(QFileInfo::exists(next));
    click("Command3");
    ASSERT_EQ(shell_.shown.size(), 1u);
    EXPECT_EQ(shell_.shown[0], QStringList{QUrl::fromLocalFile(next).toString()});
}

// Vocarn ends only when its main window closes. With the main window hidden in the tray and a
// take running, the About, preview and effects windows are opened and closed inside the
// program's own event loop, under the toolkit's quit rules: the program and the take go on.
// "退出" in the tray menu then closes the main window; the program ends once the About window
// left open is closed too.
TEST_F(MainWindowButtons, OnlyTheMainWindowEndsTheProgram) {
    const TrayIcon::TrayCheck check = TrayIcon::installTrayCheck([] { return true; });
    const TrayIcon::MenuPopup popup = TrayIcon::installPopup([](QMenu& menu, const QPoint&) {
        for (QAction* action : menu.actions()) {
            if (action->text() == QStringLiteral("退出")) {
                action->trigger();
            }
        }
    });
    auto* cboDev = form_->findChild<QComboBox*>(QStringLiteral("cboDev"));
    cboDev->setCurrentIndex(0);
    emit cboDev->activated(0);
    click("cmdDo");
    ASSERT_TRUE(form_->Recorder().IsRecording());
    click("Command4");
    ASSERT_FALSE(form_->isVisible());

    // Runs the steps 50 ms apart inside QApplication::exec(); its result, or -1 when the
    // program did not end within 5 s of the last step.
    const auto run = [](std::vector<std::function<void()>> steps) {
        int at = 0;
        for (auto& step : steps) {
            QTimer::singleShot(at += 50, qApp, std::move(step));
        }
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        guard.start(at + 5000);
        return QApplication::exec();
    };
    const auto closeEach = [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible()) {
                widget->close();
            }
        }
    };
    EXPECT_EQ(run({[&] { click("Command1"); }, closeEach, [&] { click("CmdST"); }, closeEach,
                   [&] {
                       // The effects window is modal: it is closed from inside its own loop.
                       QTimer::singleShot(50, closeEach);
                       click("cmdFXOpts");
                   },
                   [] { QCoreApplication::exit(7); }}),
              7)
        << "closing a small window ended the program";
    EXPECT_TRUE(form_->Recorder().IsRecording());
    EXPECT_FALSE(form_->isVisible());

    // The main window has been unloaded: its caption tells that the take was stopped.
    const auto caption = [this] { return form_->findChild<QPushButton*>("cmdDo")->text(); };
    bool leftRunning = false;
    EXPECT_EQ(run({[&] { click("Command1"); },
                   [&] {
                       windows_.PostMessage(form_->Tray().hWnd(), TrayIcon::WM_TRAY, 0,
                                            TrayIcon::WM_RBUTTONUP);
                   },
                   [&] { leftRunning = caption() == QStringLiteral("开始录音"); }, closeEach}),
              0);
    EXPECT_TRUE(leftRunning) << "the main window closed, the About window still open";
    EXPECT_EQ(caption(), QStringLiteral("开始录音")) << "the take was stopped";
    TrayIcon::installTrayCheck(check);
    TrayIcon::installPopup(popup);
}
