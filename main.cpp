#include "app/Form1.h"
#include "app/ProgramFolder.h"
#include "platform/PulseWaveIn.h"
#include "platform/WindowService.h"
#include "resources/ProgramIcon.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace {

// Ends the program once the main window has closed and no other window is left on screen.
// The toolkit ends it by itself only when the last window closes while visible; "退出" in the
// tray menu closes the main window while it may be hidden.
class QuitWhenClosed final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            QTimer::singleShot(0, this, [] {
                for (const QWidget* widget : QApplication::topLevelWidgets()) {
                    if (widget->isVisible()) {
                        return;
                    }
                }
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

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
    QuitWhenClosed quitWhenClosed;
    // Declared last, so the window (and the capture engine in it) goes before the services.
    Form1 form(windows, waveIn, ProgramFolder::path());
    form.installEventFilter(&quitWhenClosed);
    return QApplication::exec();
}
