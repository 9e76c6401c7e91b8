// SPDX-License-Identifier: MIT
// liu-snmp's one loop: an AgentX subagent (net-snmp's agent library) serving
// dsx1ConfigTable from what liud reports, and sending dsx1LineStatusChange
// when a row's dsx1LineStatus changes.  net-snmp's descriptors and liud's
// watch connection share one select(); nothing runs in a thread.
#pragma once

#include "Config.h"
#include "Ds1Mib.h"
#include "LiudClient.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace liusnmp {

class Agent {
  public:
    explicit Agent(Config config);
    ~Agent();
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    // Runs until SIGTERM or SIGINT; the exit status.
    int run();

  private:
    using Clock = std::chrono::steady_clock;

    // One row of dsx1ConfigTable.
    struct Row {
        PortState state;
        long index = 0;      // dsx1LineIndex
        long status = 0;     // dsx1LineStatus
        u_long lastChange{}; // dsx1LineStatusLastChange, sysUpTime in centiseconds
    };

    static int handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
                      netsnmp_agent_request_info* info, netsnmp_request_info* requests);
    void get(netsnmp_request_info* request, netsnmp_agent_request_info* info);
    void getNext(netsnmp_request_info* request);
    int reserve(netsnmp_request_info* request, bool second);
    int action(netsnmp_request_info* request, bool undo);
    void value(netsnmp_variable_list* variable, const Row& row, oid column) const;
    Row* rowOf(const netsnmp_variable_list* variable, oid& column);

    void connectLiud();
    bool readStatus();
    void liudGone(const std::string& why);
    void event(const Json& event);
    // A row's dsx1LineStatus again; when it changed, logs it and sends the
    // notification (when enabled) with the change at ticks.
    void update(Row& row, u_long ticks);
    bool setLoops(unsigned port, const Loops& from, const Loops& to);
    u_long ticksAt(double utcSeconds) const;
    // sysUpTime starts again when snmpd does: the rows' times moved onto
    // the new count (0 for what happened before snmpd started).
    void followUptime();
    long trapEnable(unsigned port) const;

    Config config_;
    LiudClient liud_;
    std::vector<Row> rows_; // by port
    std::array<long, kChipPorts> trapEnable_{};
    std::string statusPoll_; // the liud poll the rows reflect
    bool away_ = true;
    bool refreshWanted_ = false;
    std::optional<double> uptimeStart_; // when sysUpTime was 0, steady clock seconds
    Clock::time_point nextStatus_{};
    Clock::time_point nextConnect_{};
    int signalPipe_[2] = {-1, -1};
};

} // namespace liusnmp
