// SPDX-License-Identifier: MIT
#include "ControlSession.h"

#include "OutputCapture.h"
#include "StatusReport.h"

#include "LiuDrv.h"

namespace liud {

using liucmd::Json;

// ---- Requests ---------------------------------------------------------------------

void ControlSession::request(ControlServer::Client& client, const std::string& line) {
    if (client.watching) {
        endWatch(client, true); // any line ends a watch
        return;
    }
    Json result;
    try {
        const auto commands = liucmd::splitCommands(line);
        const liucmd::CommandEntry* entry =
            commands.size() == 1 ? liucmd::findCommand(commands[0].words[0]) : nullptr;
        if (commands.size() != 1) {
            result = liuproto::failedAnswer(
                "", commands.empty() ? "empty request" : "one command a line", liucmd::kExitUsage);
        } else if (entry != nullptr && entry->has(liucmd::kClientOnly)) {
            result = liuproto::failedAnswer(entry->name,
                                            std::string(entry->name) +
                                                ": a command of liuctl itself (liud never waits)",
                                            liucmd::kExitFailure);
        } else if (const auto refusal =
                       entry != nullptr ? refusalOf(*entry, client) : std::nullopt) {
            result = liuproto::failedAnswer(entry->name, *refusal, liucmd::kExitFailure);
        } else {
            current_ = &client;
            watchRequested_.reset();
            result = liucmd::runCommand(*this, commands[0].words);
            current_ = nullptr;
            if (watchRequested_ && liuproto::envelopeOf(result).ok) {
                client.watching = true;
                client.watchSeconds = *watchRequested_;
                client.watchSummary = {};
                client.watchUntil.reset();
                if (*watchRequested_ > 0) {
                    client.watchUntil =
                        std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(*watchRequested_));
                }
                return;
            }
            if (entry != nullptr && entry->has(liucmd::kEndsSession) &&
                liuproto::envelopeOf(result).ok) {
                client.closing = true;
            }
        }
    } catch (const liucmd::CommandError& error) {
        result = liuproto::failedAnswer("", error.what(), error.status());
    }
    send(client, liucmd::jsonLine(result));
}

std::optional<std::string> ControlSession::refusalOf(const liucmd::CommandEntry& entry,
                                                     const ControlServer::Client& client) const {
    if (!entry.has(liucmd::kConfigures) || client.mayConfigure) {
        return std::nullopt;
    }
    const Config& config = running_.config;
    return std::string(entry.name) + ": refused: changing the chip takes root" +
           (config.controlGroup ? " or a member of group " + config.controlGroupName
                                : std::string()) +
           " (uid " + std::to_string(client.uid) + " may only read)";
}

void ControlSession::checkReadable(const liucmd::Args& args, std::uint16_t port) const {
    if (!health_.answering()) {
        throw liucmd::Failure(args.command() + ": refused: the chip does not answer (since " +
                              health_.since().value_or("start-up") + "): nothing was written");
    }
    if (!Configurator::readBack(port).complete) {
        throw liucmd::Failure(args.command() + ": port " + std::to_string(port) +
                              ": refused: its settings cannot be read back (a transfer failed): "
                              "nothing was written");
    }
}

void ControlSession::send(ControlServer::Client& client, const std::string& line) {
    if (server_ != nullptr) {
        server_->send(client, line);
    } else {
        client.output += line + '\n';
    }
}

// ---- Watches ------------------------------------------------------------------------

void ControlSession::publish(const liuproto::Event& event) {
    if (server_ == nullptr) {
        return;
    }
    const std::string line = liucmd::jsonLine(liuproto::eventJson(event));
    const auto* alarm = std::get_if<liuproto::AlarmEvent>(&event);
    for (auto& client : server_->clients()) {
        if (client.watching) {
            send(client, line);
            if (alarm != nullptr) {
                client.watchSummary.add(*alarm);
            }
        }
    }
}

void ControlSession::endWatches(std::chrono::steady_clock::time_point now) {
    if (server_ == nullptr) {
        return;
    }
    for (auto& client : server_->clients()) {
        if (client.watching && client.watchUntil && *client.watchUntil <= now) {
            endWatch(client, false);
        }
    }
}

std::optional<std::chrono::steady_clock::time_point> ControlSession::nextWatchEnd() const {
    std::optional<std::chrono::steady_clock::time_point> next;
    if (server_ != nullptr) {
        for (const auto& client : server_->clients()) {
            if (client.watching && client.watchUntil && (!next || *client.watchUntil < *next)) {
                next = client.watchUntil;
            }
        }
    }
    return next;
}

void ControlSession::endWatch(ControlServer::Client& client, bool interrupted) {
    client.watching = false;
    Json answer = liuproto::okAnswer("watch");
    answer["seconds"] = client.watchSeconds;
    answer["interrupted"] = interrupted;
    answer["changes"] = client.watchSummary.changes();
    send(client, liucmd::jsonLine(answer));
}

// ---- The commands' chip operations, liud's way ----------------------------------------

int ControlSession::init(const liucmd::Args& args, int, int) {
    throw liucmd::Failure(args.command() +
                          ": refused: liud brought the chip up when it started and owns it; "
                          "init would reset every port (nothing was done)");
}

void ControlSession::setInOut(const liucmd::Args& args, int) {
    throw liucmd::Failure(args.command() +
                          ": refused: liud takes the input/output type from its configuration "
                          "(inout in " +
                          running_.config.path + ")");
}

Config ControlSession::withSetting(const liucmd::Setting& setting, std::uint16_t port,
                                   int value) const {
    Config candidate = running_.config;
    PortConfig& target = candidate.portConfigs[port];
    target.explicitly[static_cast<std::size_t>(setting.id)] = value;
    target.fileLines[static_cast<std::size_t>(setting.id)] = 0;
    // A build-out replaces a line length and the other way round.
    if (setting.id == SettingId::BuildOut) {
        target.explicitly[static_cast<std::size_t>(SettingId::LineLength)].reset();
    } else if (setting.id == SettingId::LineLength) {
        target.explicitly[static_cast<std::size_t>(SettingId::BuildOut)].reset();
    }
    return candidate;
}

void ControlSession::checkConfigure(const liucmd::Args& args, const liucmd::Setting& setting,
                                    const std::vector<std::uint16_t>& ports, int value) {
    for (const std::uint16_t port : ports) {
        checkReadable(args, port);
        const auto problems = checkPort(withSetting(setting, port, value), port);
        if (!problems.empty()) {
            throw liucmd::Failure(args.command() + " " + setting.name + ": " +
                                  problems.front().reason +
                                  " (refused: liud's configuration stays as it was)");
        }
    }
}

int ControlSession::configure(const liucmd::Args&, const liucmd::Setting& setting,
                              std::uint16_t port, int value) {
    Config candidate = withSetting(setting, port, value);
    const PortConfig& target = candidate.portConfigs[port];
    SettingMask mask;
    mask.set(static_cast<std::size_t>(setting.id));
    const int result = configurator_.apply(port, target, Configurator::expand(mask, target));
    if (result == 0) {
        running_.config = std::move(candidate);
        log_.write(Priority::Notice,
                   "port " + std::to_string(port) + ": " + setting.name + " " +
                       liucmd::lowerCase(liucmd::shownValue(setting, value)) +
                       " set by a control client (until the configuration is reloaded)");
    }
    return result;
}

int ControlSession::setRefClock(const liucmd::Args& args, bool outputA, std::uint16_t port) {
    std::uint8_t refClocks = 0;
    if (!health_.answering() ||
        liuDrv_read(liucmd::kRefClockRegister, LIUDRV_CHANNEL_GLOBAL, &refClocks) != 0) {
        throw liucmd::Failure(args.command() +
                              ": refused: global register 0x07 cannot be read (the chip does not "
                              "answer): nothing was written");
    }
    Config candidate = running_.config;
    candidate.refClocks[outputA ? 0 : 1] = port;
    candidate.refClockFileLines[outputA ? 0 : 1] = 0;
    const int result = outputA ? liuDrv_setRefAClock(port) : liuDrv_setRefBClock(port);
    if (result == 0) {
        running_.config = std::move(candidate);
        log_.write(Priority::Notice, std::string("reference clock ") + (outputA ? "A" : "B") +
                                         ": port " + std::to_string(port) +
                                         " set by a control client (until the configuration is "
                                         "reloaded)");
    }
    return result;
}

int ControlSession::writeRegister(const liucmd::Args& args, std::uint8_t reg, std::uint16_t channel,
                                  std::uint8_t value) {
    // The global registers share the frame's channel 0 with port 0.
    const bool globalBank = channel == LIUDRV_CHANNEL_GLOBAL || (channel & 0x0F) == 0;
    if (reg == liucmd::kResetRegister && globalBank) {
        throw liucmd::Failure(args.command() + ": refused: global register " +
                              liucmd::hexByte(reg) +
                              " holds the chip's software reset; liud never resets the chip "
                              "after start-up (nothing was written)");
    }
    if (!running_.config.rawWrites) {
        throw liucmd::Failure(args.command() +
                              ": refused: register writes through liud are off "
                              "(raw_writes in " +
                              running_.config.path + "; nothing was written)");
    }
    const int result = liuDrv_write(reg, channel, value, 1);
    if (result == 0) {
        log_.write(Priority::Notice, "register " + liucmd::hexByte(reg) + " " +
                                         (channel == LIUDRV_CHANNEL_GLOBAL
                                              ? std::string("global")
                                              : "of channel " + std::to_string(channel)) +
                                         " := " + liucmd::hexByte(value) +
                                         " written by a control client");
    }
    return result;
}

int ControlSession::dumpPulseShape(const liucmd::Args&, std::uint16_t port, std::string& printout) {
    std::string captured;
    const std::uint8_t ports = liuDrv_maxPorts;
    const int result = liutool::captureStream(
        stderr, [&] { return liuDrv_dumpPulseShapeParam(port); }, captured);
    liuDrv_maxPorts = ports; // the dump sets the library's port count to 8: liud polls its own
    printout = liutool::passTraceLines(captured);
    return result;
}

const liucmd::AlarmSnapshot* ControlSession::lastPoll() const {
    return &monitor_.snapshot();
}

const liucmd::AlarmSnapshot& ControlSession::poll(const liucmd::Args&) {
    return monitor_.snapshot();
}

void ControlSession::watch(const liucmd::Args& args, double seconds, Json&) {
    if (current_ == nullptr) {
        throw liucmd::Failure(args.command() + ": only a control client can watch");
    }
    watchRequested_ = seconds;
}

liuproto::Status ControlSession::status(const liucmd::Args&,
                                        const std::vector<std::uint16_t>& ports) {
    return statusReport(running_, monitor_, health_, server_ != nullptr ? server_->count() : 0,
                        ports);
}

} // namespace liud
