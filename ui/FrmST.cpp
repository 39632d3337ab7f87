#include "ui/FrmST.h"

#include "platform/MessageBoxService.h"
#include "platform/shell/Trash.h"
#include "ui/ModFolderSetFileFocus.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QShortcut>

FrmST::FrmST(QWidget* parent) : QWidget(parent) {
    ui.setupUi(this);
    connect(ui.Command1, &QPushButton::clicked, this, &FrmST::Command1_Click);
    connect(ui.Command2, &QPushButton::clicked, this, &FrmST::Command2_Click);
    connect(ui.Command3, &QPushButton::clicked, this, &FrmST::Command3_Click);
    // Esc closes the window, as it does the other small windows (dialogs).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
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

// "不满意，删除！": the take goes to the desktop's trash without a question, from where it can
// be brought back. Where no trash can take it, it is deleted for good only when the user
// answers Yes to the question; otherwise it stays.
void FrmST::Command1_Click() {
    ui.LST->setURL(QString()); // the player lets go of the file first
    const QFileInfo file(strLastFile_);
    if (!strLastFile_.isEmpty() && !file.isDir() && (file.exists() || file.isSymLink())) {
        if (!platform::MoveToTrash(strLastFile_) &&
            platform::MessageBoxService::current().ask(
                this, QStringLiteral("无法将录音移到回收站。要永久删除它吗？"),
                QStringLiteral("删除录音"))) {
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
