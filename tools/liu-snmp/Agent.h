// SPDX-License-Identifier: MIT
// liu-snmp's one loop: an AgentX subagent (net-snmp's agent library) that
// serves the lines liud reports in dsx1ConfigTable, ifTable and ifXTable,
// and sends their notifications.  net-snmp's descriptors, liud's watch
// connection and the signals share one select(); nothing runs in a thread.
#pragma once

#include "Config.h"
#include "Lines.h"
#include "LiudClient.h"
#include "Log.h"
#include "Tables.h"
#include "Writes.h"

#include <chrono>
#include <string>

namespace liusnmp {

class Agent : public Uptime, public LineEvents, public LoopbackSwitch {
  public:
    explicit Agent(Config config);
    ~Agent() override;
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    // Runs until SIGTERM or SIGINT; the exit status.
    int run();

    // Uptime: net-snmp's count, the master's once attached.
    Ticks now() const override;
    Ticks at(double utcSeconds) const override;
    // LineEvents: the log and net-snmp's notifications.
    void log(liutool::Priority priority, const std::string& message) override;
    void lineStatusChange(const Line& line) override;
    void link(const Line& line, bool up) override;
    // LoopbackSwitch: liud's set commands.
    bool setLoops(unsigned port, Loops& loops, const Loops& to) override;

  private:
    using Clock = std::chrono::steady_clock;

    // net-snmp's log lines, whole, on our log.
    static int netsnmpLog(int major, int minor, void* message, void* agent);
    void connectLiud();
    bool readStatus();
    void liudGone(const std::string& why);
    void readEvents();
    // When sysUpTime was 0, in steady clock seconds.
    double uptimeStart() const;
    // sysUpTime starts again when snmpd does: the lines' times moved onto
    // the new count.
    void followUptime();

    Config config_;
    liutool::Log log_;
    std::string netsnmpPending_; // a net-snmp log line not yet ended
    LiudClient liud_;
    Lines lines_;
    Writes writes_;
    TableHandler dsx1Table_;
    TableHandler ifTable_;
    TableHandler ifXTable_;
    std::string lastConnectError_;
    bool refreshWanted_ = false;
    double uptimeStart_ = 0; // the one the lines' times count from
    Clock::time_point nextStatus_{};
    Clock::time_point nextConnect_{};
    int signals_ = -1; // signalfd of SIGTERM and SIGINT
};

} // namespace liusnmp
