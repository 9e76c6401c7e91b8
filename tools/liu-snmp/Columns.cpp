// SPDX-License-Identifier: MIT
#include "Columns.h"

#include <net-snmp/library/asn1.h>

namespace liusnmp {

namespace {

// dsx1ConfigEntry.  What the LIU does not measure or have is a constant:
// no errored seconds counted (so no interval), no test code sent, no
// signalling, no facility data link.
constexpr Column kDsx1Columns[] = {
    {dsx1Column::LineIndex, "dsx1LineIndex", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.index; }},
    {dsx1Column::IfIndex, "dsx1IfIndex", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.index; }},
    {dsx1Column::TimeElapsed, "dsx1TimeElapsed", ASN_INTEGER, false,
     [](const Line&) -> Value { return 0L; }},
    {dsx1Column::ValidIntervals, "dsx1ValidIntervals", ASN_INTEGER, false,
     [](const Line&) -> Value { return 0L; }},
    {dsx1Column::LineType, "dsx1LineType", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.state.lineType; }},
    {dsx1Column::LineCoding, "dsx1LineCoding", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.state.lineCoding; }},
    {dsx1Column::SendCode, "dsx1SendCode", ASN_INTEGER, false,
     [](const Line&) -> Value { return kSendNoCode; }},
    {dsx1Column::CircuitIdentifier, "dsx1CircuitIdentifier", ASN_OCTET_STR, false,
     [](const Line& line) -> Value { return line.state.circuit; }},
    {dsx1Column::LoopbackConfig, "dsx1LoopbackConfig", ASN_INTEGER, true,
     [](const Line& line) -> Value { return loopbackConfigValue(line.state.configured); }},
    {dsx1Column::LineStatus, "dsx1LineStatus", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.lineStatus; }},
    {dsx1Column::SignalMode, "dsx1SignalMode", ASN_INTEGER, false,
     [](const Line&) -> Value { return kSignalModeNone; }},
    {dsx1Column::TransmitClockSource, "dsx1TransmitClockSource", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.state.clock; }},
    {dsx1Column::Fdl, "dsx1Fdl", ASN_INTEGER, false, [](const Line&) -> Value { return kFdlNone; }},
    {dsx1Column::InvalidIntervals, "dsx1InvalidIntervals", ASN_INTEGER, false,
     [](const Line&) -> Value { return 0L; }},
    {dsx1Column::LineLength, "dsx1LineLength", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.state.lineLength; }},
    {dsx1Column::LineStatusLastChange, "dsx1LineStatusLastChange", ASN_TIMETICKS, false,
     [](const Line& line) -> Value { return static_cast<long>(line.lineStatusChanged); }},
    {dsx1Column::LineStatusChangeTrapEnable, "dsx1LineStatusChangeTrapEnable", ASN_INTEGER, true,
     [](const Line& line) -> Value { return line.lineStatusTrap; }},
    {dsx1Column::LoopbackStatus, "dsx1LoopbackStatus", ASN_INTEGER, false,
     [](const Line& line) -> Value { return loopbackStatusValue(line.state.chip); }},
};

// ifEntry: the general information only.  A DS1 line has no physical
// address (zero length, as for a serial line).
constexpr Column kIfColumns[] = {
    {ifColumn::Index, "ifIndex", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.index; }},
    {ifColumn::Descr, "ifDescr", ASN_OCTET_STR, false,
     [](const Line& line) -> Value { return interfaceDescription(line.port); }},
    {ifColumn::Type, "ifType", ASN_INTEGER, false, [](const Line&) -> Value { return kIfTypeDs1; }},
    {ifColumn::Speed, "ifSpeed", ASN_GAUGE, false,
     [](const Line& line) -> Value { return speed(line.state); }},
    {ifColumn::PhysAddress, "ifPhysAddress", ASN_OCTET_STR, false,
     [](const Line&) -> Value { return std::string(); }},
    {ifColumn::AdminStatus, "ifAdminStatus", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.adminStatus; }},
    {ifColumn::OperStatus, "ifOperStatus", ASN_INTEGER, false,
     [](const Line& line) -> Value { return line.operStatus; }},
    {ifColumn::LastChange, "ifLastChange", ASN_TIMETICKS, false,
     [](const Line& line) -> Value { return static_cast<long>(line.operChanged); }},
};

// ifXEntry: the general information only; ifAlias is the circuit.
constexpr Column kIfXColumns[] = {
    {ifXColumn::Name, "ifName", ASN_OCTET_STR, false,
     [](const Line& line) -> Value { return interfaceName(line.port); }},
    {ifXColumn::LinkUpDownTrapEnable, "ifLinkUpDownTrapEnable", ASN_INTEGER, true,
     [](const Line& line) -> Value { return line.linkTrap; }},
    {ifXColumn::HighSpeed, "ifHighSpeed", ASN_GAUGE, false,
     [](const Line& line) -> Value { return highSpeed(line.state); }},
    {ifXColumn::ConnectorPresent, "ifConnectorPresent", ASN_INTEGER, false,
     [](const Line&) -> Value { return kTruthValueTrue; }},
    {ifXColumn::Alias, "ifAlias", ASN_OCTET_STR, false,
     [](const Line& line) -> Value { return line.state.circuit; }},
};

constexpr TableInfo kTables[] = {
    {Table::Dsx1Config, "dsx1ConfigTable", kConfigEntry, kDsx1Columns},
    {Table::If, "ifTable", kIfEntry, kIfColumns},
    {Table::IfX, "ifXTable", kIfXEntry, kIfXColumns},
};

} // namespace

const TableInfo& tableInfo(Table table) {
    return kTables[static_cast<int>(table)];
}

const Column* findColumn(const TableInfo& table, oid number) {
    for (const Column& column : table.columns) {
        if (column.number == number) {
            return &column;
        }
    }
    return nullptr;
}

bool isRow(Table table, const Line& line) {
    return table != Table::Dsx1Config || line.present;
}

} // namespace liusnmp
