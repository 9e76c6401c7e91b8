// SPDX-License-Identifier: MIT
// The three tables liu-snmp serves, as data: dsx1ConfigTable (every row
// its own), and its rows of the host's ifTable and ifXTable.  Each column
// with its number, name, type, access and value of a line.
#pragma once

#include "Lines.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/types.h>

#include <span>
#include <string>
#include <variant>

namespace liusnmp {

enum class Table { Dsx1Config, If, IfX };

// INTEGER and TimeTicks as a number, OCTET STRING as text.
using Value = std::variant<long, std::string>;

struct Column {
    oid number;
    const char* name;
    u_char type; // ASN_INTEGER, ASN_OCTET_STR or ASN_TIMETICKS
    bool writable;
    Value (*value)(const Line& line);
};

struct TableInfo {
    Table table;
    const char* name;
    std::span<const oid> entry;
    std::span<const Column> columns; // in column order
};

const TableInfo& tableInfo(Table table);
// The column of a number; nullptr for one the table does not serve.
const Column* findColumn(const TableInfo& table, oid number);
// Whether a line is a row of the table: every line is an interface, a
// line liud does not have is no DS1 row.
bool isRow(Table table, const Line& line);

} // namespace liusnmp
