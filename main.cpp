#include "app/Form1.h"
#include "app/ProgramFolder.h"
#include "app/QtTranslations.h"
#include "app/SingleInstance.h"
#include "app/UserSettings.h"
#include "platform/PulseWaveIn.h"
#include "platform/TerminationSignals.h"
#include "platform/WindowService.h"
#include "resources/ProgramIcon.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

namespace {

// For tests of the whole program: VOCARN_TEST_AUTORECORD names a capture device; once the
// window is up, that device is chosen and a recording started, as a user would. Unset, it
// does nothing.
void AutoRecord(Form1& form) {
    const QString device = qEnvironmentVariable("VOCARN_TEST_AUTORECORD");
    if (device.isEmpty()) {
        return;
    }
    QTimer::singleShot(0, &form, [&form, device] {
        auto* cboDev = form.findChild<QComboBox*>(QStringLiteral("cboDev"));
        auto* cmdDo = form.findChild<QPushButton*>(QStringLiteral("cmdDo"));
        const int index = cboDev != nullptr ? cboDev->findText(device) : -1;
        if (index < 0 || cmdDo == nullptr) {
            return;
        }
        cboDev->setCurrentIndex(index);
        emit cboDev->activated(index);
        cmdDo->click();
    });
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vocarn"));
    QApplication::setApplicationVersion(QStringLiteral("3.93"));
    // Message boxes, the file dialog and the player speak Chinese like the windows.
    QtTranslations::Install(app);
    // Every window without an icon of its own, and the tray icon through the main window,
    // shows Vocarn's icon; the desktop matches the running program to its menu entry.
    QApplication::setWindowIcon(ProgramIcon::icon());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vocarn.Vocarn"));

    // A second start on the same folder brings the running copy forward and ends.
    const QString programFolder = ProgramFolder::path();
    SingleInstance instance(programFolder);
    if (!instance.Acquire()) {
        return 0;
    }

    // The device, formats, effects and window place are kept for the next start.
    UserSettings::SetFile(UserSettings::DefaultFile());

    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    // Declared last, so the window (and the capture engine in it) goes before the services.
    // The program ends when this window closes (Form1 keeps that rule).
    Form1 form(windows, waveIn, programFolder);
    instance.setOnActivated([&form](const QString& token) {
        // On Wayland a program may come to the front only with a token the desktop issued:
        // the later start's, which Qt hands to the desktop when the window asks to be active.
        if (!token.isEmpty()) {
            qputenv("XDG_ACTIVATION_TOKEN", token.toLatin1());
        }
        form.showNormal();
        form.raise();
        form.activateWindow();
    });
    // A shutdown, a logout or Ctrl+C ends Vocarn as closing its window does: a running take
    // is finished (its header exact, the counter saved) and the window goes with the rest.
    const platform::TerminationSignals termination([&form](int) {
        if (form.Recorder().IsRecording()) {
            form.cmdDo_Click();
        }
        QCoreApplication::quit();
    });
    AutoRecord(form);
    return QApplication::exec();
}
