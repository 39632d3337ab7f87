#pragma once

#include <QString>

class QWidget;

namespace platform {

// The icon shown beside a message's text.
enum class MessageIcon { Information, Warning, Critical };

// Modal message boxes with one OK button. Windows never call QMessageBox themselves: they go
// through MsgBox, so tests can install a service that records each message instead of
// waiting for a click.
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;

    // Shows `text` in a box titled `title` with one OK button, modal to `owner` (may be null),
    // and returns once the user has closed it.
    virtual void show(QWidget* owner, const QString& text, const QString& title,
                      MessageIcon icon) = 0;

    // Asks `text` in a box titled `title` with the buttons Yes and No (No the default),
    // modal to `owner`; true when the user answers Yes. A service that cannot ask answers
    // No.
    virtual bool ask(QWidget* owner, const QString& text, const QString& title);

    // The service in use: the Qt message box unless another has been installed.
    static MessageBoxService& current();
    // Makes `service` the one in use (nullptr: the Qt message box again) and returns the
    // previously installed one (nullptr when that was the Qt message box). Not owned.
    static MessageBoxService* install(MessageBoxService* service);
};

// Shows one message through the service in use.
void MsgBox(QWidget* owner, const QString& text, MessageIcon icon, const QString& title);

} // namespace platform
