#pragma once

#include "platform/MessageBoxService.h"

namespace platform {

// The real message box: a QMessageBox with the given icon and one OK button, run modally.
class QtMessageBox final : public MessageBoxService {
public:
    void show(QWidget* owner, const QString& text, const QString& title, MessageIcon icon) override;
    bool ask(QWidget* owner, const QString& text, const QString& title) override;
};

} // namespace platform
