// SPDX-License-Identifier: MIT
#include "Alarms.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace liucmd {

static_assert(static_cast<int>(Indication::LOS) == LIUDRV_EVENT_LOS &&
                  static_cast<int>(Indication::AIS) == LIUDRV_EVENT_AIS &&
                  static_cast<int>(Indication::DF) == LIUDRV_EVENT_DF &&
                  static_cast<int>(Indication::TLOS) == LIUDRV_EVENT_TLOS &&
                  static_cast<int>(Indication::PRBS) == LIUDRV_EVENT_PRBS &&
                  static_cast<int>(Indication::EQ) == LIUDRV_EVENT_EQ,
              "the protocol numbers the indications as the library's alarm events");

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

liuproto::PortAlarms portAlarms(const AlarmTable& table, unsigned port) {
    liuproto::PortAlarms alarms;
    for (const Indication indication : liuproto::kIndications) {
        const std::int32_t state = table[port][static_cast<std::size_t>(indication)];
        alarms[indication] = state == LIUDRV_ALARM_ACTIVE     ? liuproto::AlarmState::Active
                             : state == LIUDRV_ALARM_INACTIVE ? liuproto::AlarmState::Inactive
                                                              : liuproto::AlarmState::Initial;
    }
    return alarms;
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

void WatchSummary::add(const liuproto::AlarmEvent& event) {
    liuproto::WatchChange& change = changes_[{event.port, event.indication}];
    change.port = event.port;
    change.indication = event.indication;
    change.wentActive += event.active ? 1 : 0;
    change.active = event.active;
    change.since = event.time;
}

std::vector<liuproto::WatchChange> WatchSummary::changes() const {
    std::vector<liuproto::WatchChange> rows;
    for (const auto& [key, change] : changes_) {
        rows.push_back(change);
    }
    return rows;
}

} // namespace liucmd
