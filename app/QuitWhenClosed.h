#pragma once

#include <QObject>

class QEvent;
class QWidget;

// When Vocarn ends: once its main window has closed (its close box, or "退出" in the tray
// menu, also while the window is hidden) and no other window of it is left on screen.
// Closing any other window never ends it: with the main window hidden in the tray the
// preview, About and effects windows are the only ones on screen, and closing the last of
// them would otherwise end the program under the toolkit's own rule (end when the last
// visible window closes), stopping a running take. That rule is off while this object lives.
class QuitWhenClosed final : public QObject {
public:
    // mainWindow is not owned and must outlive this object.
    explicit QuitWhenClosed(QWidget& mainWindow);
    ~QuitWhenClosed() override;
    QuitWhenClosed(const QuitWhenClosed&) = delete;
    QuitWhenClosed& operator=(const QuitWhenClosed&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Ends the event loop of the program when no window is left on screen.
    static void QuitIfNoWindowIsLeft();

    QWidget& mainWindow_;
    bool mainWindowClosed_ = false;
    bool toolkitRule_; // the toolkit's quit rule as it was before
};
