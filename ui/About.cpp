#include "ui/About.h"

#include "app/ProgramFolder.h"
#include "platform/shell/DesktopShell.h"

#include <QUrl>

About::About(const QString& programFolder, QWidget* parent)
    : QDialog(parent), programFolder_(programFolder) {
    ui.setupUi(this);
    connect(ui.Command1, &QPushButton::clicked, this, &About::Command1_Click);
    connect(ui.Command2, &QPushButton::clicked, this, &About::Command2_Click);
}

About::~About() = default;

QString About::HelpPath() const {
    return ProgramFolder::locate(programFolder_, QStringLiteral("bangzhu.htm"));
}

void About::Command1_Click() {
    close();
}

void About::Command2_Click() {
    platform::DesktopShell::current().OpenUrl(QUrl::fromLocalFile(HelpPath()));
}
