// SPDX-License-Identifier: MIT
// liud's metrics file in the Prometheus text format, for the node
// exporter's textfile collector: written to FILE.tmp-PID and renamed over
// FILE, so a scrape never reads half a file.  It carries its own times (the
// last poll, the last reload) so that an alert can tell a liud that stopped
// writing it (killed, hung) from one that runs: liud_up stays 1 in the file
// of a liud killed with SIGKILL.
#pragma once

#include "AlarmMonitor.h"
#include "Config.h"

#include <array>
#include <cstdint>
#include <string>

namespace liud {

struct MetricsState {
    bool up;
    bool chipUp; // the chip answers
    unsigned ports;
    const liucmd::AlarmTable* alarms;
    const std::array<bool, LIUDRV_ALARM_PORTS>* alarmsKnown;
    const ChangeCounts* changes;
    std::uint64_t polls;
    std::uint64_t failedTransfers;
    std::uint64_t driftsRepaired;
    double pollSeconds;    // duration of the last poll
    double lastPollTime;   // seconds since the epoch of the last poll or scan, 0: none
    double lastReloadTime; // of the last reload, 0: none
    bool lastReloadOk;     // it was applied (not refused)
    const Config* config;  // the ports' line type, framing and circuit
};

// Writes the file; false with error set when it could not.
bool writeMetrics(const std::string& path, const MetricsState& state, std::string& error);

} // namespace liud
