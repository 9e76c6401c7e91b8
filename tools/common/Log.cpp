// SPDX-License-Identifier: MIT
#include "Log.h"

#include <cstdio>
#include <syslog.h>

namespace liutool {

Log::Log(const char* ident, bool toSyslog) : syslog_(toSyslog) {
    if (syslog_) {
        openlog(ident, LOG_PID, LOG_DAEMON);
    }
}

Log::~Log() {
    if (syslog_) {
        closelog();
    }
}

void Log::write(Priority priority, const std::string& message) const {
    if (syslog_) {
        syslog(static_cast<int>(priority), "%s", message.c_str());
        return;
    }
    std::fprintf(stderr, "<%d>%s\n", static_cast<int>(priority), message.c_str());
    std::fflush(stderr);
}

} // namespace liutool
