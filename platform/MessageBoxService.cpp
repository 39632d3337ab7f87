#include "platform/MessageBoxService.h"

#include "platform/QtMessageBox.h"

namespace platform {

namespace {
MessageBoxService* installed = nullptr;
} // namespace

MessageBoxService& MessageBoxService::current() {
    static QtMessageBox qtBoxes;
    return installed != nullptr ? *installed : qtBoxes;
}

MessageBoxService* MessageBoxService::install(MessageBoxService* service) {
    MessageBoxService* previous = installed;
    installed = service;
    return previous;
}

bool MessageBoxService::ask(QWidget*, const QString&, const QString&) {
    return false;
}

void MsgBox(QWidget* owner, const QString& text, MessageIcon icon, const QString& title) {
    MessageBoxService::current().show(owner, text, title, icon);
}

} // namespace platform
