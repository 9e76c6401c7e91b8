// SPDX-License-Identifier: MIT
// The daemons' log (liud, liu-snmp): one line per event, to stderr with the
// syslog priority in front ("<4>port 2: LOS active ...", what the journal
// reads from a service's stderr), or to syslog.
#pragma once

#include <string>

namespace liutool {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

class Log {
  public:
    // toSyslog: openlog(ident, LOG_PID, LOG_DAEMON) and syslog from now on.
    Log(const char* ident, bool toSyslog);
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void write(Priority priority, const std::string& message) const;

  private:
    bool syslog_;
};

} // namespace liutool
