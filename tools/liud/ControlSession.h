// SPDX-License-Identifier: MIT
// ControlSession: what liud does with its control clients' requests.  It
// reads a request line, runs the command with the handlers liuctl runs
// standalone, and is their liucmd::Context with liud's answers where the
// two differ: no init, the latest poll instead of a new one, settings that
// become part of the running configuration.  It also keeps the clients'
// watches: alarm changes go to every client that watches, and a watch ends
// with its summary.
#pragma once

#include "AlarmMonitor.h"
#include "BusHealth.h"
#include "Commands.h"
#include "Configurator.h"
#include "ControlServer.h"
#include "Running.h"

#include <chrono>
#include <optional>

namespace liud {

class ControlSession final : public liucmd::Context {
  public:
    ControlSession(Running& running, const Configurator& configurator, const AlarmMonitor& monitor,
                   const BusHealth& health, const Log& log)
        : running_(running), configurator_(configurator), monitor_(monitor), health_(health),
          log_(log) {}

    // The socket the answers go out on; without one (the fuzz target) they
    // stay in the client's output.
    void attach(ControlServer* server) { server_ = server; }

    // Answers one request line of a client.
    void request(ControlServer::Client& client, const std::string& line);
    // An alarm change or a change of the chip's answering, for every client
    // that watches.
    void publish(const liuproto::Event& event);
    // Ends the watches whose time is up.
    void endWatches(std::chrono::steady_clock::time_point now);
    // The next time a watch ends, if any does.
    std::optional<std::chrono::steady_clock::time_point> nextWatchEnd() const;

    // liucmd::Context
    int init(const liucmd::Args& args, int inoutType, int ports) override;
    void setInOut(const liucmd::Args& args, int inoutType) override;
    void checkConfigure(const liucmd::Args& args, const liucmd::Setting& setting,
                        const std::vector<std::uint16_t>& ports, int value) override;
    int configure(const liucmd::Args& args, const liucmd::Setting& setting, std::uint16_t port,
                  int value) override;
    int setRefClock(const liucmd::Args& args, bool outputA, std::uint16_t port) override;
    int writeRegister(const liucmd::Args& args, std::uint8_t reg, std::uint16_t channel,
                      std::uint8_t value) override;
    int dumpPulseShape(const liucmd::Args& args, std::uint16_t port,
                       std::string& printout) override;
    const liucmd::AlarmSnapshot* lastPoll() const override;
    const liucmd::AlarmSnapshot& poll(const liucmd::Args& args) override;
    void watch(const liucmd::Args& args, double seconds, liucmd::Json& result) override;
    liuproto::Status status(const liucmd::Args& args,
                            const std::vector<std::uint16_t>& ports) override;
    unsigned portCount() const override { return running_.config.ports; }

  private:
    // Why this client may not run the command (it changes the chip and the
    // client may only read), or nothing.
    std::optional<std::string> refusalOf(const liucmd::CommandEntry& entry,
                                         const ControlServer::Client& client) const;
    // Refuses to write a port whose settings cannot be read back: a failed
    // transfer would make the write a guess.
    void checkReadable(const liucmd::Args& args, std::uint16_t port) const;
    void send(ControlServer::Client& client, const std::string& line);
    void endWatch(ControlServer::Client& client, bool interrupted);
    // The running configuration with one setting of one port changed.
    Config withSetting(const liucmd::Setting& setting, std::uint16_t port, int value) const;

    Running& running_;
    const Configurator& configurator_;
    const AlarmMonitor& monitor_;
    const BusHealth& health_;
    const Log& log_;
    ControlServer* server_ = nullptr;
    // The client whose request runs, and the watch it asked for.
    ControlServer::Client* current_ = nullptr;
    std::optional<double> watchRequested_;
};

} // namespace liud
