// SPDX-License-Identifier: MIT
// liu-snmp's tables in net-snmp's agent library: the registrations, one
// handler per table that turns GET, GETNEXT and SET requests into what
// Lines and Writes answer, and the notifications.
#pragma once

#include "Columns.h"
#include "Lines.h"
#include "Writes.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <initializer_list>
#include <span>

namespace liusnmp {

class TableHandler {
  public:
    TableHandler(Table table, Lines& lines, Writes& writes)
        : info_(tableInfo(table)), lines_(lines), writes_(writes) {}
    TableHandler(const TableHandler&) = delete;
    TableHandler& operator=(const TableHandler&) = delete;

    // dsx1ConfigTable is registered whole.  Of ifTable and ifXTable, which
    // are snmpd's, only the instances of the lines' indexes, firstIndex on:
    // the master puts them between its own rows and keeps answering those.
    // Throws std::runtime_error.
    void registerWith(long firstIndex);

  private:
    static int handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
                      netsnmp_agent_request_info* info, netsnmp_request_info* requests);
    void get(netsnmp_request_info* request, netsnmp_agent_request_info* info);
    void getNext(netsnmp_request_info* request);
    int set(int mode, netsnmp_request_info* request);
    // The row and column a name is an instance of; nullptr where it is none.
    Line* rowOf(const netsnmp_variable_list* variable, const Column*& column);

    const TableInfo& info_;
    Lines& lines_;
    Writes& writes_;
};

// A value of the line in a variable.
void setValue(netsnmp_variable_list* variable, const Column& column, const Line& line);

// The notification with the line's values of columns of table.
void sendNotification(std::span<const oid> notification, Table table,
                      std::initializer_list<oid> columns, const Line& line);

} // namespace liusnmp
