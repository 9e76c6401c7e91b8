// SPDX-License-Identifier: MIT
// Alarm states as the tools pass them around: the library's alarm state
// table, the changes between two polls, the event objects a watch streams
// and the summary it ends with.  liuctl's own polls and liud's poll loop
// produce the same objects.
#pragma once

#include "Json.h"

#include "LiuDrv.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace liucmd {

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

// "2026-12-06T02:39:19.123Z"
std::string utcTimestamp(std::chrono::system_clock::time_point time);
std::string utcNow();

// Calls change(port, eventId, active) for every entry of ports below
// portCount that went active, or went from active to clear, between two
// tables.
template <typename Change>
void forEachAlarmChange(const AlarmTable& before, const AlarmTable& after, unsigned portCount,
                        Change change) {
    for (unsigned port = 0; port < portCount && port < LIUDRV_ALARM_PORTS; ++port) {
        for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
            const std::int32_t now = after[port][id];
            if (now != before[port][id] &&
                (now == LIUDRV_ALARM_ACTIVE || now == LIUDRV_ALARM_INACTIVE)) {
                change(port, id, now == LIUDRV_ALARM_ACTIVE);
            }
        }
    }
}

// {"event":"alarm","port":2,"indication":"LOS","state":"active","time":"..."}
Json alarmEvent(unsigned port, int eventId, bool active, const std::string& time);
// "active" or "cleared"
const char* changeName(bool active);

// The rows of a poll result: one object per port, indication -> state.
Json alarmRows(const AlarmSnapshot& snapshot);
// One port's indications: {"LOS":"active",...}
Json alarmStates(const AlarmTable& table, unsigned port);

// What a watch saw, per port and indication: how often it went active, its
// state at the end and since when.
class WatchSummary {
  public:
    void add(unsigned port, int eventId, bool active, const std::string& time);
    // [{"port":1,"indication":"LOS","wentActive":2,"state":"cleared","since":"..."}]
    Json changes() const;

  private:
    struct Change {
        int wentActive = 0;
        bool active = false;
        std::string since;
    };
    std::map<std::pair<unsigned, int>, Change> changes_;
};

} // namespace liucmd
