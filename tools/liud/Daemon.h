// SPDX-License-Identifier: MIT
// Daemon: liud's one loop.  It owns the chip for the life of the process:
// takes the chip's lock, brings it up once, applies the configuration and
// checks it, polls the alarms at the poll interval, audits the settings at
// the audit interval, serves the control socket's clients in turn, reloads
// on SIGHUP and ends on SIGTERM/SIGINT (signals come through a signalfd: no
// work in a handler).  Nothing else calls the library, so it is never
// called concurrently.
//
// No client delays the alarm poll or the watchdog: a turn of the loop takes
// at most one request of each client, and between two requests the loop
// scans, polls and notifies the watchdog when they are due, so the gap
// between two scans (or polls) is at most their interval and the longest
// single request.
#pragma once

#include "AlarmMonitor.h"
#include "BusHealth.h"
#include "ChipDevice.h"
#include "Config.h"
#include "Configurator.h"
#include "ControlServer.h"
#include "ControlSession.h"
#include "Descriptor.h"
#include "Running.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace liud {

struct Options {
    std::string configPath;
    std::string socketPath; // overrides the configuration's, when not empty
};

class Daemon final {
  public:
    using Clock = std::chrono::steady_clock;

    Daemon(Config config, Options options, const Log& log);
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Opens the control socket, brings the chip up and runs until SIGTERM
    // or SIGINT; the exit status.
    int run();
    // Brings the chip up once, applies the configuration and checks it
    // (run() starts with it).  False when the chip did not come up.
    bool bringUp();

    // One alarm poll of the chip and what follows from its changes (log,
    // watchers, metrics).  Public for the instruction count of a cycle.
    void pollAlarms();
    // One scan of the alarm status registers, and the poll when it saw a
    // change.  Public for the instruction count of a scan turn.
    void scanAlarms();

    // Answers one request line of a client (the fuzz target's entry point).
    void request(ControlServer::Client& client, const std::string& line) {
        session_.request(client, line);
    }

  private:
    // One turn of the loop: wait for the next work, then do it.  False on
    // an error that ends liud.
    bool turn();
    // The poll and the watchdog, when due (also between two requests).
    void dueWork(Clock::time_point now);
    void audit();
    void reload();
    void writeMetrics(bool up);
    void serveRequests();
    std::string readyStatus() const;
    Clock::duration untilNextWork(Clock::time_point now) const;

    Running running_;
    Options options_;
    const Log& log_;
    Configurator configurator_;
    AlarmMonitor monitor_;
    BusHealth health_;
    ControlSession session_;
    liucmd::ChipLock lock_;
    bool auditSkipped_ = false; // logged once while the chip is silent
    std::unique_ptr<ControlServer> server_;
    liutool::Descriptor signals_;
    std::vector<pollfd> pollSet_;
    bool stopping_ = false;
    bool metricsDirty_ = false;
    bool owner_ = false; // holds the chip's lock: its exits write the metrics file
    std::chrono::system_clock::time_point lastReload_{};
    bool lastReloadOk_ = false;
    std::string metricsError_;

    Clock::time_point nextScan_{};
    Clock::time_point nextPoll_{};
    Clock::time_point nextAudit_{};
    Clock::time_point nextMetrics_{};
    Clock::time_point nextWatchdog_{};
    std::optional<Clock::time_point> nextIdleCheck_;
    std::chrono::microseconds watchdogInterval_{0};
};

} // namespace liud
