// SPDX-License-Identifier: MIT
// Daemon: liud's one loop.  It owns the chip for the life of the process:
// brings it up once, applies the configuration and checks it, polls the
// alarms at the poll interval, audits the settings at the audit interval,
// serves the control socket's clients in turn, reloads on SIGHUP and ends on
// SIGTERM/SIGINT (signals come through a signalfd: no work in a handler).
// Nothing else calls the library, so it is never called concurrently.
//
// For the control socket's commands it is the liucmd::Context: the same
// handlers liuctl runs standalone, with liud's answers where the two differ
// (no init, the latest poll instead of a new one, settings that become part
// of the running configuration).
#pragma once

#include "Commands.h"
#include "Config.h"
#include "Configurator.h"
#include "ControlServer.h"
#include "Log.h"
#include "Metrics.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace liud {

struct Options {
    std::string configPath;
    std::string socketPath; // overrides the configuration's, when not empty
};

class Daemon final : public liucmd::Context {
  public:
    using Clock = std::chrono::steady_clock;

    Daemon(Config config, Options options, const Log& log);
    ~Daemon() override;
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

    // liucmd::Context
    int init(const liucmd::Args& args, int inoutType, int ports) override;
    void setInOut(const liucmd::Args& args, int inoutType) override;
    void checkConfigure(const liucmd::Args& args, const liucmd::Setting& setting,
                        const std::vector<std::uint16_t>& ports, int value) override;
    int configure(const liucmd::Args& args, const liucmd::Setting& setting, std::uint16_t port,
                  int value) override;
    int setRefClock(const liucmd::Args& args, bool outputA, std::uint16_t port) override;
    const liucmd::AlarmSnapshot* lastPoll() const override;
    const liucmd::AlarmSnapshot& poll(const liucmd::Args& args) override;
    void watch(const liucmd::Args& args, double seconds, liucmd::Json& result) override;
    void status(const liucmd::Args& args, const std::vector<std::uint16_t>& ports,
                liucmd::Json& result) override;
    unsigned portCount() const override { return config_.ports; }

    // Answers one request line of a client (the request parser's entry
    // point, also for the fuzz target).
    void request(ControlServer::Client& client, const std::string& line);

  private:
    // One turn of the loop: wait for the next work, then do it.  False on
    // an error that ends liud.
    bool turn();
    void applyAll();
    void send(ControlServer::Client& client, const std::string& line);
    // The running configuration with one setting of one port changed.
    Config withSetting(const liucmd::Setting& setting, std::uint16_t port, int value) const;
    void verify(const char* when, const std::vector<unsigned>& ports);
    void audit();
    void reload();
    void writeMetrics(bool up);
    void onAlarmChange(unsigned port, int eventId, bool active, const std::string& time);
    void endWatch(ControlServer::Client& client, bool interrupted);
    void serveRequests();
    std::string readyStatus() const;
    Clock::duration untilNextWork(Clock::time_point now) const;

    Config config_;
    Options options_;
    const Log& log_;
    Configurator configurator_;
    std::unique_ptr<ControlServer> server_;
    int signals_ = -1;
    std::vector<pollfd> pollSet_;
    bool stopping_ = false;

    liucmd::AlarmSnapshot snapshot_;
    std::chrono::system_clock::time_point lastPollTime_{};
    std::array<std::string, LIUDRV_ALARM_PORTS> lastChange_{};
    ChangeCounts changeCounts_{};
    std::uint64_t polls_ = 0;
    std::uint64_t driftsRepaired_ = 0;
    Clock::duration lastPollDuration_{};
    std::string started_;
    std::optional<std::string> lastAudit_;
    bool metricsDirty_ = false;

    Clock::time_point nextPoll_{};
    Clock::time_point nextAudit_{};
    Clock::time_point nextMetrics_{};
    Clock::time_point nextWatchdog_{};
    std::chrono::microseconds watchdogInterval_{0};

    // The client whose request runs, and the watch it asked for.
    ControlServer::Client* current_ = nullptr;
    std::optional<double> watchRequested_;
    std::string metricsError_;
};

// Failed SPI transfers since start-up, counted from the library's error
// traces as they pass to libliuTrace.
std::uint64_t failedTransfers();

} // namespace liud
