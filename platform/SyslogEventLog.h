#pragma once

#include "platform/EventLog.h"

namespace platform {

// The real log: syslog(3) under the identity "Vocarn" (journald on systemd systems), one
// entry of priority LOG_ERR per error, facility LOG_USER.
class SyslogEventLog final : public EventLog {
public:
    void Error(const std::string& text) override;
};

} // namespace platform
