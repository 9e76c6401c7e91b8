// SPDX-License-Identifier: MIT
#include "Daemon.h"

#include "Notify.h"

#include "LiuDrv.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace liud {

namespace {

using liucmd::Json;
using namespace std::chrono_literals;

constexpr auto kMetricsRefresh = 10s;
constexpr const char* kDevice = "/dev/spidev0.0";

std::string portName(unsigned port) {
    return "port " + std::to_string(port);
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

SettingMask explicitSettings(const PortConfig& port) {
    SettingMask mask;
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        mask[i] = port.explicitly[i].has_value();
    }
    return mask;
}

} // namespace

Daemon::Daemon(Config config, Options options, const Log& log)
    : config_(std::move(config)), options_(std::move(options)), log_(log), configurator_(log) {
    if (!options_.socketPath.empty()) {
        config_.socketPath = options_.socketPath;
    }
    snapshot_.table = liucmd::initialAlarmTable();
}

Daemon::~Daemon() {
    if (signals_ >= 0) {
        close(signals_);
    }
}

// ---- Start-up and the loop ----------------------------------------------------

int Daemon::run() {
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : {SIGHUP, SIGTERM, SIGINT}) {
        sigaddset(&handled, signal);
    }
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    signals_ = signalfd(-1, &handled, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals_ < 0) {
        log_.write(Priority::Error, std::string("cannot receive signals: ") + std::strerror(errno));
        return 1;
    }
    try {
        server_ = std::make_unique<ControlServer>(config_.socketPath, config_.socketMode,
                                                  config_.socketGroup);
    } catch (const std::exception& error) {
        log_.write(Priority::Error, error.what());
        return 1;
    }
    if (!bringUp()) {
        return 1;
    }
    const auto now = Clock::now();
    pollAlarms();
    nextPoll_ = now + config_.pollInterval;
    nextAudit_ = now + config_.auditInterval;
    watchdogInterval_ = notify::watchdogInterval();
    nextWatchdog_ = now;
    writeMetrics(true);
    notify::ready(readyStatus());
    log_.write(Priority::Info,
               "ready: " + readyStatus() + ", control socket " + config_.socketPath);

    while (!stopping_ && turn()) {
    }
    notify::stopping();
    log_.write(Priority::Info, "stopping: the chip stays as configured");
    writeMetrics(false);
    server_.reset();
    return stopping_ ? 0 : 1;
}

bool Daemon::turn() {
    pollSet_.clear();
    pollSet_.push_back({signals_, POLLIN, 0});
    server_->addTo(pollSet_);
    const auto wait =
        std::max(std::chrono::ceil<std::chrono::milliseconds>(untilNextWork(Clock::now())),
                 std::chrono::milliseconds(0));
    if (::poll(pollSet_.data(), pollSet_.size(), static_cast<int>(wait.count())) < 0 &&
        errno != EINTR) {
        log_.write(Priority::Error, std::string("poll: ") + std::strerror(errno));
        return false;
    }
    if ((pollSet_[0].revents & POLLIN) != 0) {
        signalfd_siginfo info{};
        while (::read(signals_, &info, sizeof info) == sizeof info) {
            if (info.ssi_signo == SIGHUP) {
                reload();
            } else {
                stopping_ = true;
            }
        }
    }
    server_->serve(pollSet_);
    serveRequests();
    const auto now = Clock::now();
    if (now >= nextPoll_) {
        pollAlarms();
        nextPoll_ += config_.pollInterval;
        if (nextPoll_ <= now) {
            nextPoll_ = now + config_.pollInterval; // fell behind: no burst of polls
        }
    }
    for (auto& client : server_->clients()) {
        if (client.watching && client.watchUntil && *client.watchUntil <= now) {
            endWatch(client, false);
        }
    }
    if (config_.auditInterval.count() > 0 && now >= nextAudit_) {
        audit();
        nextAudit_ = Clock::now() + config_.auditInterval;
    }
    if (now >= nextMetrics_) {
        writeMetrics(true);
    }
    if (watchdogInterval_.count() > 0 && now >= nextWatchdog_) {
        notify::watchdog();
        nextWatchdog_ = now + watchdogInterval_;
    }
    server_->reap();
    return true;
}

bool Daemon::bringUp() {
    const int result = liuDrv_init(config_.inout, static_cast<std::uint8_t>(config_.ports));
    if (result != 0) {
        std::string why;
        if (liuDrv_inited == 0) {
            const int fd = open(kDevice, O_RDWR | O_CLOEXEC);
            why = fd >= 0 ? ""
                          : std::string(": cannot open ") + kDevice + ": " + std::strerror(errno);
            if (fd >= 0) {
                close(fd);
            }
        }
        log_.write(Priority::Error,
                   "cannot bring the LIU up: liuDrv_init(" + std::to_string(config_.inout) + ", " +
                       std::to_string(config_.ports) + ") result " + std::to_string(result) + why);
        return false;
    }
    snapshot_.ports = liucmd::polledPorts();
    started_ = liucmd::utcNow();
    applyAll();
    std::vector<unsigned> all(config_.ports);
    for (unsigned port = 0; port < config_.ports; ++port) {
        all[port] = port;
    }
    verify("start-up", all);
    return true;
}

void Daemon::applyAll() {
    for (unsigned port = 0; port < config_.ports; ++port) {
        const PortConfig& settings = config_.portConfigs[port];
        configurator_.apply(port, settings,
                            Configurator::expand(explicitSettings(settings), settings));
    }
    configurator_.applyRefClocks(config_);
}

void Daemon::verify(const char* when, const std::vector<unsigned>& ports) {
    for (const unsigned port : ports) {
        const PortReadBack chip = Configurator::readBack(port);
        if (!chip.complete) {
            log_.write(Priority::Warning, std::string(when) + ": " + portName(port) +
                                              ": cannot read its settings back (a transfer "
                                              "failed)");
        }
        const auto differences =
            Configurator::differences(config_.portConfigs[port], config_.inout, chip);
        if (!differences.empty()) {
            log_.write(Priority::Warning, std::string(when) + ": " + portName(port) +
                                              " is not as configured: " + joined(differences));
        }
    }
    std::vector<std::string> differences;
    if (!Configurator::refClockDifferences(config_, differences) || !differences.empty()) {
        log_.write(Priority::Warning,
                   std::string(when) + ": reference clocks: " +
                       (differences.empty() ? "cannot read register 0x07" : joined(differences)));
    }
}

Daemon::Clock::duration Daemon::untilNextWork(Clock::time_point now) const {
    for (const auto& client : server_->clients()) {
        if (client.input.find('\n') != std::string::npos && !client.closing && !client.gone) {
            return Clock::duration::zero(); // a request is waiting
        }
    }
    Clock::time_point next = std::min(nextPoll_, nextMetrics_);
    if (config_.auditInterval.count() > 0) {
        next = std::min(next, nextAudit_);
    }
    if (watchdogInterval_.count() > 0) {
        next = std::min(next, nextWatchdog_);
    }
    for (const auto& client : server_->clients()) {
        if (client.watching && client.watchUntil) {
            next = std::min(next, *client.watchUntil);
        }
    }
    return next - now;
}

std::string Daemon::readyStatus() const {
    return std::to_string(config_.ports) + " ports configured, alarms polled every " +
           std::to_string(config_.pollInterval.count()) + " ms";
}

// ---- Alarms -----------------------------------------------------------------

void Daemon::pollAlarms() {
    std::int32_t buffer[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    const auto start = Clock::now();
    liuDrv_alarmHandler(buffer);
    lastPollDuration_ = Clock::now() - start;
    lastPollTime_ = std::chrono::system_clock::now();
    ++polls_;
    if (std::memcmp(buffer, snapshot_.table.data(), sizeof buffer) != 0) {
        liucmd::AlarmTable now;
        std::memcpy(now.data(), buffer, sizeof buffer);
        const std::string time = liucmd::utcTimestamp(lastPollTime_);
        liucmd::forEachAlarmChange(
            snapshot_.table, now, snapshot_.ports,
            [&](unsigned port, int id, bool active) { onAlarmChange(port, id, active, time); });
        snapshot_.table = now;
    }
    if (metricsDirty_) {
        writeMetrics(true);
    }
}

void Daemon::onAlarmChange(unsigned port, int eventId, bool active, const std::string& time) {
    log_.write(active ? Priority::Warning : Priority::Notice,
               portName(port) + ": " + liucmd::indicationName(eventId) + " " +
                   liucmd::changeName(active) + " (" + time + ")");
    ++changeCounts_[port][static_cast<std::size_t>(eventId)];
    lastChange_[port] = time;
    metricsDirty_ = true;
    const std::string event = liucmd::jsonLine(liucmd::alarmEvent(port, eventId, active, time));
    if (server_ == nullptr) {
        return;
    }
    for (auto& client : server_->clients()) {
        if (client.watching) {
            send(client, event);
            client.watchSummary.add(port, eventId, active, time);
        }
    }
}

void Daemon::writeMetrics(bool up) {
    metricsDirty_ = false;
    nextMetrics_ = Clock::now() + kMetricsRefresh;
    if (config_.metricsPath.empty()) {
        return;
    }
    const MetricsState state{up,
                             snapshot_.ports,
                             &snapshot_.table,
                             &changeCounts_,
                             polls_,
                             failedTransfers(),
                             driftsRepaired_,
                             std::chrono::duration<double>(lastPollDuration_).count()};
    std::string error;
    if (!liud::writeMetrics(config_.metricsPath, state, error)) {
        if (error != metricsError_) {
            log_.write(Priority::Warning, "cannot write the metrics file: " + error);
        }
        metricsError_ = error;
        return;
    }
    metricsError_.clear();
}

// ---- Audit and reload ---------------------------------------------------------

void Daemon::audit() {
    for (unsigned port = 0; port < config_.ports; ++port) {
        const PortConfig& settings = config_.portConfigs[port];
        const PortReadBack chip = Configurator::readBack(port);
        const auto differences = Configurator::differences(settings, config_.inout, chip);
        if (!chip.complete) {
            log_.write(Priority::Warning, "audit: " + portName(port) +
                                              ": cannot read its settings back (a transfer "
                                              "failed)");
        }
        if (differences.empty()) {
            continue;
        }
        log_.write(Priority::Warning, "audit: " + portName(port) +
                                          " drifted: " + joined(differences) +
                                          "; applying its configuration again");
        configurator_.apply(port, settings,
                            Configurator::expand(Configurator::everything(), settings));
        const auto left =
            Configurator::differences(settings, config_.inout, Configurator::readBack(port));
        if (left.empty()) {
            ++driftsRepaired_;
            metricsDirty_ = true;
            log_.write(Priority::Notice, "audit: " + portName(port) + " repaired");
        } else {
            log_.write(Priority::Error,
                       "audit: " + portName(port) + " still not as configured: " + joined(left));
        }
    }
    std::vector<std::string> differences;
    if (Configurator::refClockDifferences(config_, differences) && !differences.empty()) {
        log_.write(Priority::Warning,
                   "audit: " + joined(differences) + "; applying the reference clocks again");
        configurator_.applyRefClocks(config_);
    }
    lastAudit_ = liucmd::utcNow();
}

void Daemon::reload() {
    notify::reloading();
    log_.write(Priority::Info, "reloading " + config_.path);
    std::vector<ConfigError> refusals;
    Config next;
    try {
        next = loadConfig(config_.path);
        if (!options_.socketPath.empty()) {
            next.socketPath = options_.socketPath;
        }
        refusals = reloadRefusals(config_, next);
    } catch (const BadConfig& bad) {
        refusals = bad.errors();
    }
    if (!refusals.empty()) {
        for (const auto& refusal : refusals) {
            log_.write(Priority::Error, "reload refused: " + located(config_.path, refusal));
        }
        log_.write(Priority::Error, "reload refused: the running configuration stays");
        notify::ready(readyStatus());
        return;
    }
    const bool inoutChanged = next.inout != config_.inout;
    if (inoutChanged) {
        liuDrv_setInOutType(next.inout);
    }
    std::vector<unsigned> changed;
    for (unsigned port = 0; port < next.ports; ++port) {
        const PortConfig& before = config_.portConfigs[port];
        const PortConfig& after = next.portConfigs[port];
        SettingMask mask;
        for (std::size_t i = 0; i < kSettingCount; ++i) {
            mask[i] =
                before.value(static_cast<SettingId>(i)) != after.value(static_cast<SettingId>(i));
        }
        mask[static_cast<std::size_t>(SettingId::LineType)] =
            mask[static_cast<std::size_t>(SettingId::LineType)] || inoutChanged;
        if (mask.none()) {
            continue;
        }
        const SettingMask expanded = Configurator::expand(mask, after);
        const auto lineCode = static_cast<std::size_t>(SettingId::LineCode);
        if (expanded[lineCode] && !mask[lineCode]) {
            log_.write(Priority::Info,
                       portName(port) + ": line code " +
                           std::to_string(after.value(SettingId::LineCode)) +
                           " applied again after its line type (a line type configuration "
                           "clears it)");
        }
        configurator_.apply(port, after, expanded);
        changed.push_back(port);
    }
    if (next.refClocks != config_.refClocks) {
        configurator_.applyRefClocks(next);
    }
    std::string error;
    if ((next.socketMode != config_.socketMode || next.socketGroup != config_.socketGroup) &&
        !server_->setAccess(next.socketMode, next.socketGroup, error)) {
        log_.write(Priority::Error, error);
    }
    if (next.metricsPath != config_.metricsPath) {
        writeMetrics(false); // the old file says liud no longer writes it
    }
    if (next.pollInterval != config_.pollInterval) {
        nextPoll_ = Clock::now() + next.pollInterval;
    }
    if (next.auditInterval != config_.auditInterval) {
        nextAudit_ = Clock::now() + next.auditInterval;
    }
    config_ = std::move(next);
    verify("reload", changed);
    writeMetrics(true);
    log_.write(Priority::Info, "reloaded " + config_.path + ": " + std::to_string(changed.size()) +
                                   (changed.size() == 1 ? " port" : " ports") + " changed");
    notify::ready(readyStatus());
}

// ---- Control socket -----------------------------------------------------------

void Daemon::serveRequests() {
    std::string line;
    for (auto& client : server_->clients()) {
        if (ControlServer::takeLine(client, line)) {
            request(client, line); // one request per client and turn: none waits long
        }
    }
}

void Daemon::request(ControlServer::Client& client, const std::string& line) {
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
            result = liucmd::errorResult(
                "", commands.empty() ? "empty request" : "one command a line", liucmd::kExitUsage);
        } else if (entry != nullptr && entry->where == liucmd::Where::ClientOnly) {
            result = liucmd::errorResult(entry->name,
                                         std::string(entry->name) +
                                             ": a command of liuctl itself (liud never waits)",
                                         liucmd::kExitFailure);
        } else {
            current_ = &client;
            watchRequested_.reset();
            result = liucmd::runCommand(*this, commands[0].words);
            current_ = nullptr;
            if (watchRequested_ && result.value("ok", false)) {
                client.watching = true;
                client.watchSeconds = *watchRequested_;
                client.watchSummary = {};
                client.watchUntil.reset();
                if (*watchRequested_ > 0) {
                    client.watchUntil =
                        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(*watchRequested_));
                }
                return;
            }
        }
    } catch (const liucmd::CommandError& error) {
        result = liucmd::errorResult("", error.what(), error.status());
    }
    send(client, liucmd::jsonLine(result));
    if (result.value("ok", false) && result.value("command", "") == "quit") {
        client.closing = true;
    }
}

void Daemon::send(ControlServer::Client& client, const std::string& line) {
    if (server_ != nullptr) {
        server_->send(client, line);
    } else {
        client.output += line + '\n';
    }
}

void Daemon::endWatch(ControlServer::Client& client, bool interrupted) {
    client.watching = false;
    send(client, liucmd::jsonLine({{"ok", true},
                                   {"command", "watch"},
                                   {"seconds", client.watchSeconds},
                                   {"interrupted", interrupted},
                                   {"changes", client.watchSummary.changes()}}));
}

// ---- The commands' chip operations, liud's way ----------------------------------

int Daemon::init(const liucmd::Args& args, int, int) {
    throw liucmd::Failure(args.command() +
                          ": refused: liud brought the chip up when it started and owns it; "
                          "init would reset every port (nothing was done)");
}

void Daemon::setInOut(const liucmd::Args& args, int) {
    throw liucmd::Failure(args.command() +
                          ": refused: liud takes the input/output type from its configuration "
                          "(inout in " +
                          config_.path + ")");
}

Config Daemon::withSetting(const liucmd::Setting& setting, std::uint16_t port, int value) const {
    Config candidate = config_;
    PortConfig& target = candidate.portConfigs[port];
    target.explicitly[static_cast<std::size_t>(setting.id)] = value;
    target.lines[static_cast<std::size_t>(setting.id)] = 0;
    // A build-out replaces a line length and the other way round.
    if (setting.id == SettingId::BuildOut) {
        target.explicitly[static_cast<std::size_t>(SettingId::LineLength)].reset();
    } else if (setting.id == SettingId::LineLength) {
        target.explicitly[static_cast<std::size_t>(SettingId::BuildOut)].reset();
    }
    return candidate;
}

void Daemon::checkConfigure(const liucmd::Args& args, const liucmd::Setting& setting,
                            const std::vector<std::uint16_t>& ports, int value) {
    for (const std::uint16_t port : ports) {
        const auto problems = checkPort(withSetting(setting, port, value), port);
        if (!problems.empty()) {
            throw liucmd::Failure(args.command() + " " + setting.name + ": " +
                                  problems.front().reason +
                                  " (refused: liud's configuration stays as it was)");
        }
    }
}

int Daemon::configure(const liucmd::Args& args, const liucmd::Setting& setting, std::uint16_t port,
                      int value) {
    checkConfigure(args, setting, {port}, value);
    Config candidate = withSetting(setting, port, value);
    const PortConfig& target = candidate.portConfigs[port];
    const auto index = static_cast<std::size_t>(setting.id);
    SettingMask mask;
    mask.set(index);
    const int result = configurator_.apply(port, target, Configurator::expand(mask, target));
    if (result == 0) {
        config_ = std::move(candidate);
        log_.write(Priority::Notice,
                   portName(port) + ": " + setting.name + " " +
                       liucmd::lowerCase(liucmd::shownValue(setting, value)) +
                       " set by a control client (until the configuration is reloaded)");
    }
    return result;
}

int Daemon::setRefClock(const liucmd::Args&, bool outputA, std::uint16_t port) {
    Config candidate = config_;
    candidate.refClocks[outputA ? 0 : 1] = port;
    const int result = outputA ? liuDrv_setRefAClock(port) : liuDrv_setRefBClock(port);
    if (result == 0) {
        config_ = std::move(candidate);
    }
    return result;
}

const liucmd::AlarmSnapshot* Daemon::lastPoll() const {
    return &snapshot_;
}

const liucmd::AlarmSnapshot& Daemon::poll(const liucmd::Args&) {
    snapshot_.time = liucmd::utcTimestamp(lastPollTime_);
    return snapshot_;
}

void Daemon::watch(const liucmd::Args& args, double seconds, Json&) {
    if (current_ == nullptr) {
        throw liucmd::Failure(args.command() + ": only a control client can watch");
    }
    watchRequested_ = seconds;
}

void Daemon::status(const liucmd::Args&, const std::vector<std::uint16_t>& ports, Json& result) {
    result["daemon"] = {
        {"version", LIU_VERSION},
        {"pid", static_cast<long>(getpid())},
        {"started", started_},
        {"config", config_.path},
        {"inout", inoutWord(config_.inout)},
        {"ports", config_.ports},
        {"pollIntervalMs", config_.pollInterval.count()},
        {"auditIntervalS", std::chrono::duration<double>(config_.auditInterval).count()},
        {"polls", polls_},
        {"lastPoll", liucmd::utcTimestamp(lastPollTime_)},
        {"lastAudit", lastAudit_ ? Json(*lastAudit_) : Json()},
        {"failedTransfers", failedTransfers()},
        {"driftsRepaired", driftsRepaired_},
        {"clients", server_ ? server_->count() : 0}};
    static constexpr std::uint8_t kStatusBits[] = {0,
                                                   LIUDRV_STATUS_LOS,
                                                   LIUDRV_STATUS_AIS,
                                                   LIUDRV_STATUS_DF,
                                                   LIUDRV_STATUS_TLOS,
                                                   LIUDRV_STATUS_PRBS,
                                                   LIUDRV_STATUS_EQ};
    result["ports"] = Json::array();
    for (const std::uint16_t port : ports) {
        const PortConfig& settings = config_.portConfigs[port];
        Json configured = Json::object();
        Json chip = Json::object();
        const PortReadBack readBack = Configurator::readBack(port);
        const int chipLineType = liucmd::lineTypeOfRegisters(readBack.line, config_.inout);
        configured["lineType"] = liucmd::lineTypeName(settings.value(SettingId::LineType));
        chip["complete"] = readBack.complete;
        chip["lineType"] = chipLineType != 0 ? Json(liucmd::lineTypeName(chipLineType)) : Json();
        chip["modeRegister"] = readBack.line.modeBit;
        chip["terminationRegister"] = readBack.line.termination;
        chip["templateCodeRegister"] = readBack.line.templateCode;
        for (const auto& entry : liucmd::settings()) {
            if (entry.id == SettingId::LineType) {
                continue;
            }
            const int value = settings.value(entry.id);
            const bool onOff = entry.words.size() == 2 && entry.values[0] == 0;
            const bool optional =
                entry.id == SettingId::BuildOut || entry.id == SettingId::LineLength;
            configured[entry.jsonName] = onOff                    ? Json(value != 0)
                                         : optional && value == 0 ? Json()
                                                                  : Json(value);
            if (!optional) {
                const int have = readBack.values[static_cast<std::size_t>(entry.id)];
                chip[entry.jsonName] = have < 0 ? Json() : onOff ? Json(have != 0) : Json(have);
            }
        }
        configured["framing"] = settings.framing ? Json(*settings.framing) : Json();
        configured["circuit"] = settings.circuit;
        unsigned bits = 0;
        for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
            if (port < snapshot_.ports && snapshot_.table[port][id] == LIUDRV_ALARM_ACTIVE) {
                bits |= kStatusBits[id];
            }
        }
        result["ports"].push_back(
            {{"port", port},
             {"config", std::move(configured)},
             {"chip", std::move(chip)},
             {"alarms", liucmd::alarmStates(snapshot_.table, port)},
             {"alarmBits", bits},
             {"lastChange", lastChange_[port].empty() ? Json() : Json(lastChange_[port])}});
    }
}

} // namespace liud
