// SPDX-License-Identifier: MIT
#include "Alarms.h"

#include "ChipNames.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace liucmd {

AlarmTable initialAlarmTable() {
    AlarmTable table;
    for (auto& row : table) {
        row.fill(LIUDRV_ALARM_INITIAL);
    }
    return table;
}

unsigned polledPorts() {
    return std::min<unsigned>(liuDrv_maxPorts, LIUDRV_ALARM_PORTS);
}

std::string utcTimestamp(std::chrono::system_clock::time_point time) {
    const auto since = time.time_since_epoch();
    const auto seconds =
        static_cast<std::time_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03ldZ", millis);
    return text;
}

std::string utcNow() {
    return utcTimestamp(std::chrono::system_clock::now());
}

const char* changeName(bool active) {
    return active ? "active" : "cleared";
}

Json alarmEvent(unsigned port, int eventId, bool active, const std::string& time) {
    return {{"event", "alarm"},
            {"port", port},
            {"indication", indicationName(eventId)},
            {"state", changeName(active)},
            {"time", time}};
}

Json alarmStates(const AlarmTable& table, unsigned port) {
    Json states = Json::object();
    for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
        states[indicationName(id)] = alarmStateName(table[port][id]);
    }
    return states;
}

Json alarmRows(const AlarmSnapshot& snapshot) {
    Json rows = Json::array();
    for (unsigned port = 0; port < snapshot.ports; ++port) {
        Json row = {{"port", port}};
        row.update(alarmStates(snapshot.table, port));
        rows.push_back(std::move(row));
    }
    return rows;
}

void WatchSummary::add(unsigned port, int eventId, bool active, const std::string& time) {
    Change& change = changes_[{port, eventId}];
    change.wentActive += active ? 1 : 0;
    change.active = active;
    change.since = time;
}

Json WatchSummary::changes() const {
    Json rows = Json::array();
    for (const auto& [key, change] : changes_) {
        rows.push_back({{"port", key.first},
                        {"indication", indicationName(key.second)},
                        {"wentActive", change.wentActive},
                        {"state", changeName(change.active)},
                        {"since", change.since}});
    }
    return rows;
}

} // namespace liucmd
