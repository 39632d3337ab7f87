#pragma once

#include "platform/EventLog.h"

#include <string>
#include <vector>

// Keeps the system-log entries written while it exists, instead of the system log.
class KeptLog final : public platform::EventLog {
public:
    KeptLog() : previous_(platform::EventLog::install(this)) {}
    ~KeptLog() override { platform::EventLog::install(previous_); }
    KeptLog(const KeptLog&) = delete;
    KeptLog& operator=(const KeptLog&) = delete;
    void Error(const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;

private:
    platform::EventLog* previous_;
};
