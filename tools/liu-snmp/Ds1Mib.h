// SPDX-License-Identifier: MIT
// The DS1-MIB as liu-snmp serves it: the object identifiers, the
// enumerations it answers with, and how one port of liud's status becomes
// what a row of dsx1ConfigTable shows.
#pragma once

#include "Config.h"
#include "Protocol.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace liusnmp {

using liuproto::Json;

// ---- Object identifiers -------------------------------------------------------

// dsx1ConfigEntry: ds1.6.1, ds1 = 1.3.6.1.2.1.10.18
inline constexpr oid kConfigEntry[] = {1, 3, 6, 1, 2, 1, 10, 18, 6, 1};
inline constexpr std::size_t kConfigEntryLength = std::size(kConfigEntry);
// dsx1LineStatusChange: ds1.15.0.1
inline constexpr oid kLineStatusChange[] = {1, 3, 6, 1, 2, 1, 10, 18, 15, 0, 1};
// snmpTrapOID.0
inline constexpr oid kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};

// The columns of dsx1ConfigEntry.
namespace dsx1Column {
enum : oid {
    LineIndex = 1,
    IfIndex = 2,
    TimeElapsed = 3,
    ValidIntervals = 4,
    LineType = 5,
    LineCoding = 6,
    SendCode = 7,
    CircuitIdentifier = 8,
    LoopbackConfig = 9,
    LineStatus = 10,
    SignalMode = 11,
    TransmitClockSource = 12,
    Fdl = 13,
    InvalidIntervals = 14,
    LineLength = 15,
    LineStatusLastChange = 16,
    LineStatusChangeTrapEnable = 17,
    LoopbackStatus = 18,
};
} // namespace dsx1Column

// ---- Values -------------------------------------------------------------------

// dsx1LineStatus bits
inline constexpr long kNoAlarm = 1;
inline constexpr long kRcvAis = 8;
inline constexpr long kLossOfSignal = 64;
inline constexpr long kLoopbackState = 128;
inline constexpr long kRcvTestCode = 2048;
inline constexpr long kOtherFailure = 4096;

// dsx1LoopbackConfig
inline constexpr long kNoLoop = 1;
inline constexpr long kPayloadLoop = 2;
inline constexpr long kLineLoop = 3;
inline constexpr long kOtherLoop = 4;
inline constexpr long kInwardLoop = 5;
inline constexpr long kDualLoop = 6;

// What the line interface cannot know: dsx1SendNoCode, dsx1SignalMode
// none, dsx1FdlNone.
inline constexpr long kSendNoCode = 1;
inline constexpr long kSignalModeNone = 1;
inline constexpr long kFdlNone = 8;

// dsx1LineStatusChangeTrapEnable
inline constexpr long kTrapEnabled = 1;
inline constexpr long kTrapDisabled = 2;

// The chip's three loopbacks of a port.
struct Loops {
    bool remote = false;
    bool analog = false;
    bool digital = false;
    bool operator==(const Loops&) const = default;
    bool any() const { return remote || analog || digital; }
};

long loopbackConfigValue(const Loops& loops);
// The loopbacks a dsx1LoopbackConfig value asks for; nothing for a value
// the chip cannot loop (dsx1PayloadLoop) or that is no loopback value.
std::optional<Loops> loopsOfConfigValue(long value);
// dsx1LoopbackStatus: the sum of the near-end loopbacks active.
long loopbackStatusValue(const Loops& loops);

// dsx1LineStatus of the active indications and loopbacks; dsx1OtherFailure
// alone while the line's state is not known (liud gone, the chip silent,
// or a transfer of the port failed since its last clean poll).
long lineStatusValue(const liuproto::PortAlarms& alarms, const Loops& chip, bool known);

// The names of a dsx1LineStatus value's bits: "dsx1LossOfSignal+dsx1RcvAIS".
std::string lineStatusText(long status);

// One port of liud's status, as the rows need it.
struct PortState {
    unsigned port = 0;
    std::string lineTypeName; // liud's: "E1", "T1", "JT1"
    long lineType = 1;
    long lineCoding = static_cast<long>(LineCoding::Other);
    std::string circuit;
    Loops configured;
    Loops chip;
    long lineLength = 0; // meters
    long clock = static_cast<long>(ClockSource::Loop);
    bool txPower = false; // configured
    bool rxPower = false;
    liuproto::PortAlarms alarms;
    bool alarmsKnown = true;
    std::optional<std::string> lastChange; // UTC, liud's
};

// One port of liud's status, as the row needs it.
PortState portState(const liuproto::PortStatus& port, const Config& config);

// "2026-12-06T02:39:19.123Z" as seconds since the epoch; nothing when the
// text is not such a time.
std::optional<double> parseUtc(const std::string& text);

} // namespace liusnmp
