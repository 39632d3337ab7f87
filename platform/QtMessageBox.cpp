#include "platform/QtMessageBox.h"

#include <QMessageBox>

namespace platform {

void QtMessageBox::show(QWidget* owner, const QString& text, const QString& title,
                        MessageIcon icon) {
    QMessageBox::Icon qtIcon = QMessageBox::Warning;
    switch (icon) {
    case MessageIcon::Information:
        qtIcon = QMessageBox::Information;
        break;
    case MessageIcon::Warning:
        qtIcon = QMessageBox::Warning;
        break;
    case MessageIcon::Critical:
        qtIcon = QMessageBox::Critical;
        break;
    }
    QMessageBox box(qtIcon, title, text, QMessageBox::Ok, owner);
    box.exec();
}

bool QtMessageBox::ask(QWidget* owner, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace platform
