// SPDX-License-Identifier: MIT
#include "Writes.h"

#include <net-snmp/library/asn1.h>
#include <net-snmp/library/snmp.h>

namespace liusnmp {

namespace {

using liutool::Priority;

bool isLoopbackConfig(Table table, oid column) {
    return table == Table::Dsx1Config && column == dsx1Column::LoopbackConfig;
}

// The notification switch a writable column other than dsx1LoopbackConfig is.
long& trapSwitch(Table table, Line& line) {
    return table == Table::Dsx1Config ? line.lineStatusTrap : line.linkTrap;
}

std::string loopsText(const Loops& loops) {
    std::string text;
    for (const auto& [on, name] :
         {std::pair{loops.remote, "remote"}, std::pair{loops.analog, "analog"},
          std::pair{loops.digital, "digital"}}) {
        if (on) {
            text.append(text.empty() ? "" : "+").append(name);
        }
    }
    return text.empty() ? "no loopback" : text + " loopback";
}

} // namespace

int Writes::check(Table table, const Column* column, const Line* line, u_char type,
                  std::size_t length, long value) const {
    if (column == nullptr || !column->writable) {
        return SNMP_ERR_NOTWRITABLE;
    }
    if (line == nullptr || !isRow(table, *line)) {
        return SNMP_ERR_NOCREATION;
    }
    if (type != ASN_INTEGER || length != sizeof(long)) {
        return SNMP_ERR_WRONGTYPE;
    }
    const bool valid = isLoopbackConfig(table, column->number)
                           ? loopsOfConfigValue(value).has_value()
                           : value == kTrapEnabled || value == kTrapDisabled;
    return valid ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE;
}

int Writes::reserve(Table table, oid column) const {
    return isLoopbackConfig(table, column) && !lines_.liudThere() ? SNMP_ERR_RESOURCEUNAVAILABLE
                                                                  : SNMP_ERR_NOERROR;
}

int Writes::apply(Table table, oid column, Line& line, long value) {
    const std::string name = "port " + std::to_string(line.port) + ": ";
    if (!isLoopbackConfig(table, column)) {
        long& enabled = trapSwitch(table, line);
        made_.push_back({table, column, line.port, enabled, {}});
        enabled = value;
        events_.log(Priority::Notice, name + findColumn(tableInfo(table), column)->name + " " +
                                          std::to_string(value) +
                                          (value == kTrapEnabled ? " (enabled)" : " (disabled)"));
        return SNMP_ERR_NOERROR;
    }
    const Loops to = *loopsOfConfigValue(value);
    made_.push_back({table, column, line.port, 0, line.state.configured});
    if (!loops_.setLoops(line.port, line.state.configured, to)) {
        return SNMP_ERR_COMMITFAILED;
    }
    events_.log(Priority::Notice,
                name + "dsx1LoopbackConfig " + std::to_string(value) + " (" + loopsText(to) + ")");
    return SNMP_ERR_NOERROR;
}

int Writes::undo(Table table, oid column, Line& line) {
    const Made* before = made(table, column, line.port);
    if (before == nullptr) {
        return SNMP_ERR_NOERROR; // refused before it was made
    }
    if (!isLoopbackConfig(table, column)) {
        trapSwitch(table, line) = before->value;
        return SNMP_ERR_NOERROR;
    }
    // Those the action got to, back.
    return loops_.setLoops(line.port, line.state.configured, before->loops) ? SNMP_ERR_NOERROR
                                                                            : SNMP_ERR_UNDOFAILED;
}

const Writes::Made* Writes::made(Table table, oid column, unsigned port) const {
    for (const Made& each : made_) {
        if (each.table == table && each.column == column && each.port == port) {
            return &each;
        }
    }
    return nullptr;
}

} // namespace liusnmp
