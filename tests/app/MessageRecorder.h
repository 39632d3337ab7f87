#pragma once

#include "platform/MessageBoxService.h"

#include <QString>

#include <functional>
#include <vector>

// Records every message box instead of showing it, for as long as it lives. onShow, when
// set, runs at the moment a message would appear, so a test can look at the window's state
// the user would see beside the message.
class MessageRecorder final : public platform::MessageBoxService {
public:
    struct Message {
        QString text;
        QString title;
        platform::MessageIcon icon;
    };

    MessageRecorder();
    ~MessageRecorder() override;
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    void show(QWidget* owner, const QString& text, const QString& title,
              platform::MessageIcon icon) override;

    std::vector<Message> messages;
    std::function<void(const Message&)> onShow;

private:
    platform::MessageBoxService* previous_;
};
