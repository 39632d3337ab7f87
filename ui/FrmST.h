#pragma once

#include "ui_FrmST.h"

#include <QString>
#include <QWidget>

class QCloseEvent;

// The preview window "Vocarn--试听": plays a finished recording and lets the user keep it,
// delete it, or show it in its folder.
//
// The main window keeps one instance, made on first use, and opens it with ShowWith and the
// path of the last finished recording; the window has no owner and is not modal. Closing it
// (any of its buttons, or the close box) stops the player and releases the file; the
// instance stays for the next opening.
class FrmST : public QWidget {
    Q_OBJECT

public:
    explicit FrmST(QWidget* parent = nullptr);
    ~FrmST() override;

    // Shows the window (brought to the front when already open) and plays `strLastFile` from
    // its start. The buttons act on this file. An empty path, or one whose file is gone, shows
    // an empty player.
    void ShowWith(const QString& strLastFile);

    // The file the buttons act on.
    QString File() const { return strLastFile_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    Ui::FrmST ui;
    QString strLastFile_;
};
