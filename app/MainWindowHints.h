#pragma once

#include <QObject>

class QAbstractButton;
class QWidget;

// The main window's hints and keys: a short Chinese tooltip on every control, Ctrl+R on
// the record button (it starts and stops as a click does), and the focus moving through
// the controls from top to bottom, left to right. The record button's tooltip says what a
// click will do now: start or stop.
class MainWindowHints : public QObject {
    Q_OBJECT

public:
    // Installs the hints on window, which owns them. Controls are found by their names.
    static void Install(QWidget& window);

    // The key that starts and stops a recording.
    static QString RecordKey();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit MainWindowHints(QWidget& window);
    void ShowRecordHint();

    QAbstractButton* record_ = nullptr;
};
