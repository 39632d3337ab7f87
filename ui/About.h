#pragma once

#include "ui_About.h"

#include <QDialog>
#include <QString>

// The About window "Vocarn-关于我们": the version, a few lines of text, and the help page.
//
// The main window keeps one instance, made on first use with the program's folder, and shows
// it without making it modal. "确定" closes it; "帮助(&H)" opens the help page "bangzhu.htm"
// of the program's folder (or of an installed Vocarn's data folder) with the desktop's handler
// for it (through platform::DesktopShell) and leaves the window open. Whether the page is there is
// the handler's business.
class About : public QDialog {
    Q_OBJECT

public:
    explicit About(const QString& programFolder, QWidget* parent = nullptr);
    ~About() override;

    // The help page "bangzhu.htm": in the program's folder, or else in the data folder of an
    // installed Vocarn (ProgramFolder::locate).
    QString HelpPath() const;

private:
    void Command1_Click();
    void Command2_Click();

    Ui::About ui;
    QString programFolder_;
};
