// SPDX-License-Identifier: MIT
#include "AlarmMonitor.h"

#include "ChipNames.h"
#include "TraceTap.h"

#include <algorithm>
#include <cstring>

namespace liud {

namespace {

// The bit of each indication in the alarm status register (bits 5 and 6 are
// none of the library's indications).
constexpr std::pair<liucmd::Indication, std::uint8_t> kIndicationBitOf[] = {
    {liucmd::Indication::LOS, LIUDRV_STATUS_LOS},   {liucmd::Indication::AIS, LIUDRV_STATUS_AIS},
    {liucmd::Indication::DF, LIUDRV_STATUS_DF},     {liucmd::Indication::TLOS, LIUDRV_STATUS_TLOS},
    {liucmd::Indication::PRBS, LIUDRV_STATUS_PRBS}, {liucmd::Indication::EQ, LIUDRV_STATUS_EQ}};
constexpr std::uint8_t kIndicationBits = LIUDRV_STATUS_LOS | LIUDRV_STATUS_AIS | LIUDRV_STATUS_DF |
                                         LIUDRV_STATUS_TLOS | LIUDRV_STATUS_PRBS | LIUDRV_STATUS_EQ;

} // namespace

AlarmMonitor::AlarmMonitor() {
    snapshot_.table = liucmd::initialAlarmTable();
    known_.fill(true);
}

void AlarmMonitor::start() {
    snapshot_.ports = liucmd::polledPorts();
}

AlarmMonitor::Poll AlarmMonitor::poll() {
    Poll result;
    std::int32_t buffer[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    const std::uint64_t failedBefore = failedTransfers();
    const auto start = std::chrono::steady_clock::now();
    liuDrv_alarmHandler(buffer);
    lastPollSeconds_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    lastPollTime_ = std::chrono::system_clock::now();
    ++polls_;
    snapshot_.time = liucmd::utcTimestamp(lastPollTime_);
    result.transfers = snapshot_.ports * liuproto::kIndicationCount;
    result.failed = failedTransfers() - failedBefore;
    if (result.failed > 0) {
        std::fill(known_.begin(), known_.begin() + snapshot_.ports, false);
        return result;
    }
    std::fill(known_.begin(), known_.end(), true);
    // What the poll read, as the scan reads it: the next scan compares with
    // it, so a change the poll saw first asks for no second poll.
    for (unsigned port = 0; port < snapshot_.ports; ++port) {
        std::uint8_t bits = 0;
        for (const auto& [indication, bit] : kIndicationBitOf) {
            if (buffer[port][static_cast<std::size_t>(indication)] == LIUDRV_ALARM_ACTIVE) {
                bits |= bit;
            }
        }
        scanned_[port] = bits;
    }
    // The library's table as the clean polls alone would have made it:
    // active when present, inactive once clear after active.
    liucmd::AlarmTable now = snapshot_.table;
    for (unsigned port = 0; port < snapshot_.ports; ++port) {
        for (const liucmd::Indication indication : liuproto::kIndications) {
            const auto id = static_cast<std::size_t>(indication);
            const bool present = buffer[port][id] == LIUDRV_ALARM_ACTIVE;
            std::int32_t& state = now[port][id];
            if (present) {
                state = LIUDRV_ALARM_ACTIVE;
            } else if (state == LIUDRV_ALARM_ACTIVE) {
                state = LIUDRV_ALARM_INACTIVE;
            }
        }
    }
    liucmd::forEachAlarmChange(
        snapshot_.table, now, snapshot_.ports,
        [&](unsigned port, liucmd::Indication indication, bool active) {
            result.changes.push_back({port, indication, active, snapshot_.time});
            ++changeCounts_[port][static_cast<std::size_t>(indication)];
            lastChange_[port] = snapshot_.time;
        });
    snapshot_.table = now;
    return result;
}

AlarmMonitor::Scan AlarmMonitor::scan() {
    Scan result;
    ++scans_;
    lastScanTime_ = std::chrono::system_clock::now();
    for (unsigned port = 0; port < snapshot_.ports; ++port) {
        std::uint8_t value = 0;
        ++result.transfers;
        if (liuDrv_read(liucmd::kAlarmStatusRegister, static_cast<std::uint16_t>(port), &value) !=
            0) {
            ++result.failed;
            known_[port] = false;
            scanned_[port].reset();
            continue;
        }
        value &= kIndicationBits;
        if (!known_[port] || scanned_[port] != value) {
            // The poll reads every port again and leaves each one's reading
            // behind: the rest of this scan would be frames spent twice.
            result.wantsPoll = true;
            break;
        }
    }
    return result;
}

std::optional<std::string> AlarmMonitor::lastChange(unsigned port) const {
    if (port >= lastChange_.size() || lastChange_[port].empty()) {
        return std::nullopt;
    }
    return lastChange_[port];
}

} // namespace liud
