// SPDX-License-Identifier: MIT
// AlarmMonitor: liud's view of the line alarms.  It runs the library's
// alarm poll and publishes, from the table the library fills, only what a
// poll without a failed transfer saw: the library takes a failed read of
// the alarm status register as an indication present, and liud does not
// report what it did not see.  A poll in which a transfer failed changes no
// published alarm and marks its ports unknown (the poll cannot tell which
// port's read failed) until the next clean poll.  The published table has
// the library's states (initial, active, inactive) and changes as the
// library's would have on the clean polls alone; each change is handed on
// as the protocol's alarm event.  It counts the polls and each port's
// changes for the status and the metrics.
//
// The library's poll reads a port's alarm status register once per
// indication, six frames a port.  The scan reads it once a port with
// liuDrv_read: it publishes nothing itself, but tells when the library's
// poll is worth running (a register changed since the last scan, or a port
// is unknown and could be read again), so a change is seen within a scan
// interval for a sixth of the bus.  A scan stops at the first port that
// asks for the poll (the poll reads them all), and a clean poll leaves its
// own readings as the next scan's comparison.  A failed scan read marks its
// port unknown, as a failed poll does, and changes nothing else.
#pragma once

#include "Alarms.h"

#include <algorithm>
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
    // What one poll did.
    struct Poll {
        std::vector<liuproto::AlarmEvent> changes; // published, port by port
        unsigned transfers = 0;                    // the poll's frames
        std::uint64_t failed = 0;                  // of them failed
    };

    // What one scan did.
    struct Scan {
        unsigned transfers = 0;
        std::uint64_t failed = 0;
        bool wantsPoll = false; // a register changed, or an unknown port read again
    };

    AlarmMonitor();

    // After start-up: the ports the library polls from now on.
    void start();
    // One poll of the chip.
    Poll poll();
    // One scan of the ports' alarm status registers.
    Scan scan();

    // The published table, with the time of the last poll and which ports
    // it knows.
    const liucmd::AlarmSnapshot& snapshot() const { return snapshot_; }
    bool known(unsigned port) const { return port < known_.size() && known_[port]; }
    const std::array<bool, LIUDRV_ALARM_PORTS>& known() const { return known_; }
    std::uint64_t polls() const { return polls_; }
    std::uint64_t scans() const { return scans_; }
    std::chrono::system_clock::time_point lastPollTime() const { return lastPollTime_; }
    // The last poll or scan, whichever came last.
    std::chrono::system_clock::time_point lastReadTime() const {
        return std::max(lastPollTime_, lastScanTime_);
    }
    double lastPollSeconds() const { return lastPollSeconds_; }
    const ChangeCounts& changeCounts() const { return changeCounts_; }
    // The time of the port's last alarm change, nothing before the first.
    std::optional<std::string> lastChange(unsigned port) const;

  private:
    liucmd::AlarmSnapshot snapshot_;
    std::array<bool, LIUDRV_ALARM_PORTS> known_{};
    std::uint64_t polls_ = 0;
    std::uint64_t scans_ = 0;
    // Each port's alarm status register at the last scan that read it.
    std::array<std::optional<std::uint8_t>, LIUDRV_ALARM_PORTS> scanned_{};
    std::chrono::system_clock::time_point lastPollTime_{};
    std::chrono::system_clock::time_point lastScanTime_{};
    double lastPollSeconds_ = 0;
    ChangeCounts changeCounts_{};
    std::array<std::string, LIUDRV_ALARM_PORTS> lastChange_{};
};

} // namespace liud
