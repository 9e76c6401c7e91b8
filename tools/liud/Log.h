// SPDX-License-Identifier: MIT
// liud's log: one line per event, to stderr with the syslog priority in
// front ("<4>port 2: LOS active ...", what the journal reads from a
// service), or to syslog.
#pragma once

#include <string>

namespace liud {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

class Log {
  public:
    // toSyslog: openlog("liud", LOG_PID, LOG_DAEMON) and syslog from now on.
    explicit Log(bool toSyslog);
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void write(Priority priority, const std::string& message) const;

  private:
    bool syslog_;
};

} // namespace liud
