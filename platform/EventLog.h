#pragma once

#include <string>

namespace platform {

// The system's log of application errors. Code that reports an error there goes through
// LogError, so tests can install a log that records each entry instead of writing to the
// system's.
class EventLog {
public:
    virtual ~EventLog() = default;

    // Writes one entry of error priority with `text` (UTF-8).
    virtual void Error(const std::string& text) = 0;

    // The log in use: the system log (syslog) unless another has been installed.
    static EventLog& current();
    // Makes `log` the one in use (nullptr: the system log again) and returns the previously
    // installed one (nullptr when that was the system log). Not owned.
    static EventLog* install(EventLog* log);
};

// Writes one error entry through the log in use.
void LogError(const std::string& text);

} // namespace platform
