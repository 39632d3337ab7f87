#include "platform/EventLog.h"

#include "platform/SyslogEventLog.h"

namespace platform {

namespace {
EventLog* installed = nullptr;
} // namespace

EventLog& EventLog::current() {
    static SyslogEventLog systemLog;
    return installed != nullptr ? *installed : systemLog;
}

EventLog* EventLog::install(EventLog* log) {
    EventLog* previous = installed;
    installed = log;
    return previous;
}

void LogError(const std::string& text) {
    EventLog::current().Error(text);
}

} // namespace platform
