#include "app/QuitWhenClosed.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

QuitWhenClosed::QuitWhenClosed(QWidget& mainWindow)
    : mainWindow_(mainWindow), toolkitRule_(QGuiApplication::quitOnLastWindowClosed()) {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Until the main window closes only its own closing matters; from then on every window's.
    mainWindow_.installEventFilter(this);
}

QuitWhenClosed::~QuitWhenClosed() {
    QGuiApplication::setQuitOnLastWindowClosed(toolkitRule_);
}

bool QuitWhenClosed::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
        if (!mainWindowClosed_ && watched == &mainWindow_) {
            mainWindowClosed_ = true;
            qApp->installEventFilter(this);
        }
        if (mainWindowClosed_) {
            // The window is still on screen while its close event runs.
            QTimer::singleShot(0, this, &QuitWhenClosed::QuitIfNoWindowIsLeft);
        }
    }
    return QObject::eventFilter(watched, event);
}

void QuitWhenClosed::QuitIfNoWindowIsLeft() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (window->isVisible()) {
            return;
        }
    }
    QCoreApplication::quit();
}
