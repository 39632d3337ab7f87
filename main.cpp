#include "app/Form1.h"
#include "app/ProgramFolder.h"
#include "platform/PulseWaveIn.h"
#include "platform/WindowService.h"
#include "resources/ProgramIcon.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vocarn"));
    QApplication::setApplicationVersion(QStringLiteral("3.93"));
    // Every window without an icon of its own, and the tray icon through the main window,
    // shows Vocarn's icon; the desktop matches the running program to its menu entry.
    QApplication::setWindowIcon(ProgramIcon::icon());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vocarn.Vocarn"));

    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    // Declared last, so the window (and the capture engine in it) goes before the services.
    Form1 form(windows, waveIn, ProgramFolder::path());
    return QApplication::exec();
}
