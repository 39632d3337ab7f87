#include "MessageRecorder.h"

MessageRecorder::MessageRecorder() : previous_(platform::MessageBoxService::install(this)) {}

MessageRecorder::~MessageRecorder() {
    platform::MessageBoxService::install(previous_);
}

void MessageRecorder::show(QWidget*, const QString& text, const QString& title,
                           platform::MessageIcon icon) {
    messages.push_back({text, title, icon});
    if (onShow) {
        onShow(messages.back());
    }
}
