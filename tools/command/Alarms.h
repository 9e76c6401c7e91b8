// SPDX-License-Identifier: MIT
// Alarm states as the tools take them from the library: its alarm state
// table, the port rows and changes of the protocol made from it, and the
// summary a watch ends with.  liuctl's own polls and liud's poll loop make
// the same objects.
#pragma once

#include "Protocol.h"

#include "LiuDrv.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace liucmd {

using liuproto::Indication;
using liuproto::Json;
using liuproto::jsonLine;

using AlarmTable = std::array<std::array<std::int32_t, LIUDRV_ALARM_ENTRIES>, LIUDRV_ALARM_PORTS>;

// A poll's table, how many ports it covers and when it was taken.
struct AlarmSnapshot {
    AlarmTable table;
    unsigned ports = 0;
    std::string time; // UTC, see utcTimestamp
};

// Every entry LIUDRV_ALARM_INITIAL.
AlarmTable initialAlarmTable();
// Ports the library polls: below liuDrv_maxPorts, at most the table's rows.
unsigned polledPorts();
// One port's row of the table as the protocol names it.
liuproto::PortAlarms portAlarms(const AlarmTable& table, unsigned port);

// "2026-12-06T02:39:19.123Z"
std::string utcTimestamp(std::chrono::system_clock::time_point time);
std::string utcNow();

// Calls change(port, indication, active) for every entry of ports below
// portCount that went active, or went from active to clear, between two
// tables.
template <typename Change>
void forEachAlarmChange(const AlarmTable& before, const AlarmTable& after, unsigned portCount,
                        Change change) {
    for (unsigned port = 0; port < portCount && port < LIUDRV_ALARM_PORTS; ++port) {
        for (const Indication indication : liuproto::kIndications) {
            const auto id = static_cast<std::size_t>(indication);
            const std::int32_t now = after[port][id];
            if (now != before[port][id] &&
                (now == LIUDRV_ALARM_ACTIVE || now == LIUDRV_ALARM_INACTIVE)) {
                change(port, indication, now == LIUDRV_ALARM_ACTIVE);
            }
        }
    }
}

// What a watch saw, per port and indication: how often it went active, its
// state at the end and since when.
class WatchSummary {
  public:
    void add(const liuproto::AlarmEvent& event);
    std::vector<liuproto::WatchChange> changes() const;

  private:
    std::map<std::pair<unsigned, Indication>, liuproto::WatchChange> changes_;
};

} // namespace liucmd
