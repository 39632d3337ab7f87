#include "app/SideWindows.h"

#include "app/TrayIcon.h"
#include "ui/About.h"
#include "ui/FrmST.h"
#include "ui/ModFolderSetFileFocus.h"
#include "ui/frmFXOpts.h"

#include <QMainWindow>
#include <QPushButton>

#include <utility>

SideWindows::SideWindows(QMainWindow& window, Sources sources)
    : window_(window), sources_(std::move(sources)) {
    const auto button = [&](const char* name, void (SideWindows::*handler)()) {
        if (auto* b = window.findChild<QPushButton*>(QString::fromLatin1(name))) {
            connect(b, &QPushButton::clicked, this, handler);
        }
    };
    button("cmdFXOpts", &SideWindows::cmdFXOpts_Click);
    button("CmdST", &SideWindows::CmdST_Click);
    button("Command1", &SideWindows::Command1_Click);
    button("Command3", &SideWindows::Command3_Click);
    button("Command4", &SideWindows::Command4_Click);
}

SideWindows::~SideWindows() = default;

void SideWindows::cmdFXOpts_Click() {
    if (!fxOpts_) {
        fxOpts_ = std::make_unique<frmFXOpts>(&window_);
    }
    fxOpts_->ShowEx(sources_.effects(), &window_);
}

// "试听"
void SideWindows::CmdST_Click() {
    if (!frmST_) {
        frmST_ = std::make_unique<FrmST>();
    }
    frmST_->ShowWith(sources_.lastFile());
}

// "关于"
void SideWindows::Command1_Click() {
    if (!frmAbout_) {
        frmAbout_ = std::make_unique<About>(sources_.programFolder);
    }
    frmAbout_->show();
    frmAbout_->raise();
    frmAbout_->activateWindow();
}

// "打开文件夹"
void SideWindows::Command3_Click() {
    ModFolderSetFileFocus::FolderSetFileFocus(sources_.nextFile());
}

void SideWindows::Command4_Click() {
    if (TrayIcon::SystemTrayAvailable()) {
        window_.hide();
    } else {
        window_.showMinimized();
    }
}
