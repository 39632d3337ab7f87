#include "platform/SyslogEventLog.h"

#include <syslog.h>

namespace platform {

void SyslogEventLog::Error(const std::string& text) {
    // openlog keeps the identity's address: a string literal lives for the whole run. The
    // text goes as an argument, never as the format.
    ::openlog("Vocarn", LOG_PID, LOG_USER);
    ::syslog(LOG_ERR, "%s", text.c_str());
}

} // namespace platform
