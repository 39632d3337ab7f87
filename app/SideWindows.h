#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class About;
class FrmST;
class QMainWindow;
class clsDSP;
class frmFXOpts;

// The windows and helpers the main window's operation buttons open: the effects settings
// (设置), the preview of the last take (试听), About (关于), the output file's folder
// (打开文件夹), and hiding to the tray (最小化至托盘). Each window is made on first use and
// kept for the next opening.
class SideWindows : public QObject {
    Q_OBJECT

public:
    struct Sources {
        QString programFolder;
        // The last finished take, the next output path, the effects chain.
        std::function<QString()> lastFile;
        std::function<QString()> nextFile;
        std::function<clsDSP&()> effects;
    };

    // Connects the buttons of window (found by their names); window outlives this object.
    SideWindows(QMainWindow& window, Sources sources);
    ~SideWindows() override;

private:
    // Opens the effects settings window on the effects chain.
    void cmdFXOpts_Click();
    // The last finished recording in the preview window (an empty player before the first
    // stop of the run).
    void CmdST_Click();
    void Command1_Click();
    // The next output file, which exists, selected in its folder.
    void Command3_Click();
    // Hides the window, leaving the tray icon as the way back; minimises it instead on a
    // desktop without a notification area, where a hidden window could not be brought back.
    void Command4_Click();

    QMainWindow& window_;
    Sources sources_;
    // The preview and About windows have no owner.
    std::unique_ptr<FrmST> frmST_;
    std::unique_ptr<About> frmAbout_;
    std::unique_ptr<frmFXOpts> fxOpts_;
};
