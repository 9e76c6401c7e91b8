// SPDX-License-Identifier: MIT
#include "AlarmMonitor.h"

#include <cstring>

namespace liud {

AlarmMonitor::AlarmMonitor() {
    snapshot_.table = liucmd::initialAlarmTable();
}

void AlarmMonitor::start() {
    snapshot_.ports = liucmd::polledPorts();
}

std::vector<liuproto::AlarmEvent> AlarmMonitor::poll() {
    std::int32_t buffer[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    const auto start = std::chrono::steady_clock::now();
    liuDrv_alarmHandler(buffer);
    lastPollSeconds_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    lastPollTime_ = std::chrono::system_clock::now();
    ++polls_;
    snapshot_.time = liucmd::utcTimestamp(lastPollTime_);
    std::vector<liuproto::AlarmEvent> changes;
    if (std::memcmp(buffer, snapshot_.table.data(), sizeof buffer) == 0) {
        return changes;
    }
    liucmd::AlarmTable now;
    std::memcpy(now.data(), buffer, sizeof buffer);
    liucmd::forEachAlarmChange(snapshot_.table, now, snapshot_.ports,
                               [&](unsigned port, liucmd::Indication indication, bool active) {
                                   changes.push_back({port, indication, active, snapshot_.time});
                                   ++changeCounts_[port][static_cast<std::size_t>(indication)];
                                   lastChange_[port] = snapshot_.time;
                               });
    snapshot_.table = now;
    return changes;
}

std::optional<std::string> AlarmMonitor::lastChange(unsigned port) const {
    if (port >= lastChange_.size() || lastChange_[port].empty()) {
        return std::nullopt;
    }
    return lastChange_[port];
}

} // namespace liud
