// SPDX-License-Identifier: MIT
#include "Tables.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace liusnmp {

namespace {

// An instance of a table: entry, column, index.
struct Instance {
    oid name[MAX_OID_LEN];
    std::size_t length;

    Instance(const TableInfo& table, oid column, long index)
        : name{}, length(table.entry.size() + 2) {
        std::copy(table.entry.begin(), table.entry.end(), name);
        name[length - 2] = column;
        name[length - 1] = static_cast<oid>(index);
    }
};

} // namespace

void TableHandler::registerWith(long firstIndex) {
    const auto add = [&](const oid* name, std::size_t length, bool writable,
                         std::size_t rangeSubid) {
        netsnmp_handler_registration* registration =
            netsnmp_create_handler_registration(info_.name, &TableHandler::handle, name, length,
                                                writable ? HANDLER_CAN_RWRITE : HANDLER_CAN_RONLY);
        if (registration == nullptr) {
            throw std::runtime_error(std::string("cannot register ") + info_.name);
        }
        registration->handler->myvoid = this;
        if (rangeSubid != 0) { // the index, from firstIndex to the last line's
            registration->range_subid = static_cast<int>(rangeSubid);
            registration->range_ubound = static_cast<oid>(firstIndex + kChipPorts - 1);
        }
        if (netsnmp_register_handler(registration) != MIB_REGISTERED_OK) {
            throw std::runtime_error(std::string("cannot register ") + info_.name);
        }
    };
    if (info_.table == Table::Dsx1Config) {
        add(info_.entry.data(), info_.entry.size(), true, 0);
        return;
    }
    for (const Column& column : info_.columns) {
        const Instance first(info_, column.number, firstIndex);
        add(first.name, first.length, column.writable, first.length);
    }
}

int TableHandler::handle(netsnmp_mib_handler* handler, netsnmp_handler_registration*,
                         netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
    auto& table = *static_cast<TableHandler*>(handler->myvoid);
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        if (request->processed != 0) {
            continue;
        }
        int error = SNMP_ERR_NOERROR;
        switch (info->mode) {
        case MODE_GET:
            table.get(request, info);
            break;
        case MODE_GETNEXT:
            table.getNext(request);
            break;
        default:
            error = table.set(info->mode, request);
            break;
        }
        if (error != SNMP_ERR_NOERROR) {
            netsnmp_set_request_error(info, request, error);
        }
    }
    return SNMP_ERR_NOERROR;
}

Line* TableHandler::rowOf(const netsnmp_variable_list* variable, const Column*& column) {
    const std::size_t entry = info_.entry.size();
    column = nullptr;
    if (variable->name_length <= entry ||
        netsnmp_oid_equals(variable->name, entry, info_.entry.data(), entry) != 0) {
        return nullptr;
    }
    column = findColumn(info_, variable->name[entry]);
    if (variable->name_length != entry + 2) {
        return nullptr;
    }
    Line* line = lines_.find(static_cast<long>(variable->name[entry + 1]));
    return line != nullptr && isRow(info_.table, *line) ? line : nullptr;
}

void TableHandler::get(netsnmp_request_info* request, netsnmp_agent_request_info* info) {
    const Column* column = nullptr;
    const Line* line = rowOf(request->requestvb, column);
    if (column == nullptr) {
        netsnmp_set_request_error(info, request, SNMP_NOSUCHOBJECT);
    } else if (line == nullptr) {
        netsnmp_set_request_error(info, request, SNMP_NOSUCHINSTANCE);
    } else {
        setValue(request->requestvb, *column, *line);
    }
}

void TableHandler::getNext(netsnmp_request_info* request) {
    netsnmp_variable_list* variable = request->requestvb;
    if (!lines_.reached()) {
        return;
    }
    // Columns in order, rows in index order within each: the first
    // instance after the name asked for (or at it, where the agent asks
    // from the start of a registration) is the answer.  None: the agent
    // goes on to the next registration.
    for (const Column& column : info_.columns) {
        for (const Line& line : lines_.all()) {
            const Instance instance(info_, column.number, line.index);
            const int order = snmp_oid_compare(instance.name, instance.length, variable->name,
                                               variable->name_length);
            if (isRow(info_.table, line) && (order > 0 || (order == 0 && request->inclusive))) {
                snmp_set_var_objid(variable, instance.name, instance.length);
                setValue(variable, column, line);
                return;
            }
        }
    }
}

int TableHandler::set(int mode, netsnmp_request_info* request) {
    const netsnmp_variable_list* variable = request->requestvb;
    const Column* column = nullptr;
    Line* line = rowOf(variable, column);
    const long value = variable->type == ASN_INTEGER && variable->val_len == sizeof(long)
                           ? *variable->val.integer
                           : 0;
    if (mode == MODE_SET_RESERVE1) {
        return writes_.check(info_.table, column, line, variable->type, variable->val_len, value);
    }
    if (mode == MODE_SET_COMMIT || mode == MODE_SET_FREE) {
        writes_.finish();
        return SNMP_ERR_NOERROR;
    }
    // The master sends the phases after the check in requests of their
    // own: the row may have gone in between (liud dropped the port).
    if (column == nullptr || line == nullptr) {
        return mode == MODE_SET_ACTION ? SNMP_ERR_COMMITFAILED : SNMP_ERR_NOERROR;
    }
    switch (mode) {
    case MODE_SET_RESERVE2:
        return writes_.reserve(info_.table, column->number);
    case MODE_SET_ACTION:
        return writes_.apply(info_.table, column->number, *line, value);
    case MODE_SET_UNDO:
        return writes_.undo(info_.table, column->number, *line);
    default:
        return SNMP_ERR_NOERROR;
    }
}

void setValue(netsnmp_variable_list* variable, const Column& column, const Line& line) {
    const Value value = column.value(line);
    if (const auto* text = std::get_if<std::string>(&value)) {
        snmp_set_var_typed_value(variable, column.type, text->data(), text->size());
    } else {
        snmp_set_var_typed_integer(variable, column.type, std::get<long>(value));
    }
}

void sendNotification(std::span<const oid> notification, Table table,
                      std::initializer_list<oid> columns, const Line& line) {
    const TableInfo& info = tableInfo(table);
    netsnmp_variable_list* variables = nullptr;
    snmp_varlist_add_variable(&variables, kSnmpTrapOid, std::size(kSnmpTrapOid), ASN_OBJECT_ID,
                              notification.data(), notification.size_bytes());
    for (const oid number : columns) {
        const Instance instance(info, number, line.index);
        netsnmp_variable_list* variable = snmp_varlist_add_variable(
            &variables, instance.name, instance.length, ASN_NULL, nullptr, 0);
        setValue(variable, *findColumn(info, number), line);
    }
    send_v2trap(variables);
    snmp_free_varbind(variables);
}

} // namespace liusnmp
