#include "ui/FrmST.h"

#include "platform/shell/Trash.h"
#include "ui/ModFolderSetFileFocus.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>

FrmST::FrmST(QWidget* parent) : QWidget(parent) {
    ui.setupUi(this);
    connect(ui.Command1, &QPushButton::clicked, this, &FrmST::Command1_Click);
    connect(ui.Command2, &QPushButton::clicked, this, &FrmST::Command2_Click);
    connect(ui.Command3, &QPushButton::clicked, this, &FrmST::Command3_Click);
}

FrmST::~FrmST() = default;

void FrmST::ShowWith(const QString& strLastFile) {
    strLastFile_ = strLastFile;
    show();
    raise();
    activateWindow();
    ui.LST->setURL(strLastFile_);
}

void FrmST::closeEvent(QCloseEvent* event) {
    ui.LST->setURL(QString());
    event->accept();
}

// "不满意，删除！": the take goes without a question and without a message, whatever fails.
// Since one click destroys it, it goes to the desktop's trash where there is one, and is
// deleted outright only where there is none.
void FrmST::Command1_Click() {
    ui.LST->setURL(QString()); // the player lets go of the file first
    const QFileInfo file(strLastFile_);
    if (!strLastFile_.isEmpty() && !file.isDir()) {
        if (!platform::MoveToTrash(strLastFile_)) {
            QFile::remove(strLastFile_);
        }
    }
    close();
}

void FrmST::Command2_Click() {
    close();
}

void FrmST::Command3_Click() {
    ModFolderSetFileFocus::FolderSetFileFocus(strLastFile_);
    close();
}
