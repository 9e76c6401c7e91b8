// SPDX-License-Identifier: MIT
// AlarmMonitor: liud's view of the line alarms.  It runs the library's
// alarm poll, keeps the alarm state table it fills, and hands on what
// changed between two polls, as the protocol's alarm events; it counts the
// polls and each port's changes for the status and the metrics.
#pragma once

#include "Alarms.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace liud {

using ChangeCounts =
    std::array<std::array<std::uint64_t, LIUDRV_ALARM_ENTRIES>, LIUDRV_ALARM_PORTS>;

class AlarmMonitor {
  public:
    AlarmMonitor();

    // After start-up: the ports the library polls from now on.
    void start();
    // One poll of the chip; the changes since the last one, port by port.
    std::vector<liuproto::AlarmEvent> poll();

    // The table of the last poll, with its time.
    const liucmd::AlarmSnapshot& snapshot() const { return snapshot_; }
    std::uint64_t polls() const { return polls_; }
    std::chrono::system_clock::time_point lastPollTime() const { return lastPollTime_; }
    double lastPollSeconds() const { return lastPollSeconds_; }
    const ChangeCounts& changeCounts() const { return changeCounts_; }
    // The time of the port's last alarm change, nothing before the first.
    std::optional<std::string> lastChange(unsigned port) const;

  private:
    liucmd::AlarmSnapshot snapshot_;
    std::uint64_t polls_ = 0;
    std::chrono::system_clock::time_point lastPollTime_{};
    double lastPollSeconds_ = 0;
    ChangeCounts changeCounts_{};
    std::array<std::string, LIUDRV_ALARM_PORTS> lastChange_{};
};

} // namespace liud
