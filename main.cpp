#include "app/Form1.h"
#include "app/ProgramFolder.h"
#include "platform/PulseWaveIn.h"
#include "platform/WindowService.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vocarn"));
    QApplication::setApplicationVersion(QStringLiteral("3.93"));

    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    // Declared last, so the window (and the capture engine in it) goes before the services.
    Form1 form(windows, waveIn, ProgramFolder::path());
    return QApplication::exec();
}
