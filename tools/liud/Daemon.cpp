// SPDX-License-Identifier: MIT
#include "Daemon.h"

#include "ChipDevice.h"
#include "ExitStatus.h"
#include "Metrics.h"
#include "Notify.h"
#include "OutputCapture.h"
#include "TraceTap.h"

#include "LiuDrv.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sstream>
#include <sys/signalfd.h>
#include <unistd.h>
#include <utility>

namespace liud {

namespace {

double epochSeconds(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// An interval of 0 turns periodic work off.
bool on(std::chrono::nanoseconds interval) {
    return interval.count() > 0;
}

// Periodic work that is on is due once its time has come.
bool due(std::chrono::nanoseconds interval, Daemon::Clock::time_point at,
         Daemon::Clock::time_point now) {
    return on(interval) && now >= at;
}

} // namespace

Daemon::Daemon(Config config, Options options, const Log& log)
    : options_(std::move(options)), log_(log), configurator_(log), health_(log),
      session_(running_, configurator_, monitor_, health_, log) {
    running_.config = std::move(config);
    if (!options_.socketPath.empty()) {
        running_.config.socketPath = options_.socketPath;
    }
}

// ---- Start-up and the loop ----------------------------------------------------

int Daemon::run() {
    const Config& config = running_.config;
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : {SIGHUP, SIGTERM, SIGINT}) {
        sigaddset(&handled, signal);
    }
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    signals_ = liutool::Descriptor(signalfd(-1, &handled, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_) {
        log_.write(Priority::Error, std::string("cannot receive signals: ") + std::strerror(errno));
        return liutool::kExitFailure;
    }
    // The chip's lock before anything else: a second liud touches nothing.
    std::string owner;
    if (!lock_.take(owner)) {
        log_.write(Priority::Error, "cannot own the chip: " + owner + " (nothing was done)");
        return liutool::kExitFailure; // the metrics file is the owner's
    }
    owner_ = true;
    try {
        server_ = std::make_unique<ControlServer>(config.socketPath, config.socketMode,
                                                  config.socketGroup);
    } catch (const std::exception& error) {
        log_.write(Priority::Error, error.what());
        writeMetrics(false);
        return liutool::kExitFailure;
    }
    server_->setControlGroup(config.controlGroup);
    session_.attach(server_.get());
    const LibraryErrorLog libraryErrors(log_);
    if (!bringUp()) {
        writeMetrics(false);
        return liutool::kExitFailure;
    }
    const auto now = Clock::now();
    pollAlarms();
    nextScan_ = now + config.scanInterval;
    nextAudit_ = now + config.auditInterval;
    watchdogInterval_ = notify::watchdogInterval();
    nextWatchdog_ = now;
    writeMetrics(true);
    notify::ready(readyStatus());
    log_.write(Priority::Info, "ready: " + readyStatus() + ", control socket " + config.socketPath);

    while (!stopping_ && turn()) {
    }
    notify::stopping();
    log_.write(Priority::Info, "stopping: the chip stays as configured");
    writeMetrics(false);
    session_.attach(nullptr);
    server_.reset();
    return stopping_ ? liutool::kExitSuccess : liutool::kExitFailure;
}

bool Daemon::turn() {
    const Config& config = running_.config;
    pollSet_.clear();
    pollSet_.push_back({signals_.get(), POLLIN, 0});
    server_->addTo(pollSet_);
    // Woken when the next work is due, not at the next whole millisecond: a scan that
    // starts late makes every change it sees later by as much.
    const auto wait =
        std::max(std::chrono::duration_cast<std::chrono::nanoseconds>(untilNextWork(Clock::now())),
                 std::chrono::nanoseconds(0));
    const auto whole = std::chrono::floor<std::chrono::seconds>(wait);
    const timespec timeout{static_cast<time_t>(whole.count()),
                           static_cast<long>((wait - whole).count())};
    if (::ppoll(pollSet_.data(), pollSet_.size(), &timeout, nullptr) < 0 && errno != EINTR) {
        log_.write(Priority::Error, std::string("poll: ") + std::strerror(errno));
        return false;
    }
    if ((pollSet_[0].revents & POLLIN) != 0) {
        signalfd_siginfo info{};
        while (::read(signals_.get(), &info, sizeof info) == sizeof info) {
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
    dueWork(now);
    session_.endWatches(now);
    if (due(config.auditInterval, nextAudit_, now)) {
        audit();
        nextAudit_ = Clock::now() + config.auditInterval;
    }
    if (metricsDirty_ || due(config.metricsInterval, nextMetrics_, now)) {
        writeMetrics(true); // a change at once, the rest at the metrics interval
    }
    health_.summarise(now);
    nextIdleCheck_ = server_->closeIdle(now, config.clientTimeout);
    server_->reap();
    return true;
}

void Daemon::dueWork(Clock::time_point now) {
    const Config& config = running_.config;
    if (due(config.scanInterval, nextScan_, now)) {
        scanAlarms();
        nextScan_ += config.scanInterval;
        if (due(config.scanInterval, nextScan_, now)) {
            nextScan_ = now + config.scanInterval; // fell behind: no burst of scans
        }
    }
    if (due(config.pollInterval, nextPoll_, now)) {
        pollAlarms();
    }
    if (due(watchdogInterval_, nextWatchdog_, now)) {
        notify::watchdog();
        nextWatchdog_ = now + watchdogInterval_;
    }
}

bool Daemon::bringUp() {
    const Config& config = running_.config;
    // The library's start-up printout (on stdout) goes into the log line by line.
    std::string printout;
    const int result = liutool::captureStream(
        stdout, [&] { return liuDrv_init(config.inout, static_cast<std::uint8_t>(config.ports)); },
        printout);
    std::istringstream lines(printout);
    for (std::string line; std::getline(lines, line);) {
        log_.write(Priority::Info, line);
    }
    if (result != 0) {
        const std::string problem = liuDrv_inited == 0 ? liucmd::deviceProblem() : "";
        log_.write(Priority::Error,
                   "cannot bring the LIU up: liuDrv_init(" + std::to_string(config.inout) + ", " +
                       std::to_string(config.ports) + ") result " + std::to_string(result) +
                       (problem.empty() ? "" : ": " + problem));
        return false;
    }
    monitor_.start();
    running_.started = liucmd::utcNow();
    configurator_.applyAll(config);
    std::vector<unsigned> all(config.ports);
    for (unsigned port = 0; port < config.ports; ++port) {
        all[port] = port;
    }
    configurator_.verify("start-up", config, all);
    return true;
}

Daemon::Clock::duration Daemon::untilNextWork(Clock::time_point now) const {
    for (const auto& client : server_->clients()) {
        if (client.input.find('\n') != std::string::npos && !client.closing && !client.gone) {
            return Clock::duration::zero(); // a request is waiting
        }
    }
    const Config& config = running_.config;
    using Timer = std::pair<std::chrono::nanoseconds, Clock::time_point>;
    Clock::time_point next = nextPoll_; // the poll is never off
    for (const auto& [interval, at] :
         {Timer{config.metricsInterval, nextMetrics_}, Timer{config.scanInterval, nextScan_},
          Timer{config.auditInterval, nextAudit_}, Timer{watchdogInterval_, nextWatchdog_}}) {
        if (on(interval)) {
            next = std::min(next, at);
        }
    }
    if (nextIdleCheck_) {
        next = std::min(next, *nextIdleCheck_);
    }
    if (const auto watchEnd = session_.nextWatchEnd()) {
        next = std::min(next, *watchEnd);
    }
    return next - now;
}

std::string Daemon::readyStatus() const {
    const Config& config = running_.config;
    return std::to_string(config.ports) + " ports configured, alarms " +
           (config.scanInterval.count() > 0
                ? "scanned every " + std::to_string(config.scanInterval.count()) + " ms, "
                : std::string()) +
           "polled every " + std::to_string(config.pollInterval.count()) + " ms";
}

// ---- Alarms -----------------------------------------------------------------

void Daemon::scanAlarms() {
    const AlarmMonitor::Scan scan = monitor_.scan();
    if (const auto chip =
            health_.observe(scan.transfers, scan.failed, std::chrono::system_clock::now())) {
        metricsDirty_ = true;
        auditSkipped_ = false;
        session_.publish(*chip);
    }
    if (scan.wantsPoll) {
        pollAlarms();
    }
}

void Daemon::pollAlarms() {
    // The next full poll is one poll interval after this one, whatever asked for it.
    nextPoll_ = Clock::now() + running_.config.pollInterval;
    const AlarmMonitor::Poll poll = monitor_.poll();
    if (const auto chip = health_.observe(poll.transfers, poll.failed, monitor_.lastPollTime())) {
        metricsDirty_ = true;
        auditSkipped_ = false;
        session_.publish(*chip);
    }
    for (const liuproto::AlarmEvent& event : poll.changes) {
        log_.write(event.active ? Priority::Warning : Priority::Notice,
                   "port " + std::to_string(event.port) + ": " +
                       liuproto::indicationName(event.indication) + " " +
                       liuproto::changeName(event.active) + " (" + event.time + ")");
        metricsDirty_ = true;
        session_.publish(event);
    }
}

void Daemon::writeMetrics(bool up) {
    metricsDirty_ = false;
    nextMetrics_ = Clock::now() + running_.config.metricsInterval;
    if (running_.config.metricsPath.empty()) {
        return;
    }
    const liucmd::AlarmSnapshot& snapshot = monitor_.snapshot();
    const MetricsState state{up,
                             health_.answering(),
                             snapshot.ports,
                             &snapshot.table,
                             &monitor_.known(),
                             &monitor_.changeCounts(),
                             monitor_.polls(),
                             failedTransfers(),
                             running_.driftsRepaired,
                             monitor_.lastPollSeconds(),
                             epochSeconds(monitor_.lastReadTime()),
                             epochSeconds(lastReload_),
                             lastReloadOk_,
                             &running_.config};
    std::string error;
    if (!liud::writeMetrics(running_.config.metricsPath, state, error)) {
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
    if (!health_.answering()) {
        // Nothing read, nothing written: a silent chip cannot have drifted.
        if (!auditSkipped_) {
            log_.write(Priority::Warning, "audit: skipped while the chip does not answer");
            auditSkipped_ = true;
        }
        return;
    }
    const unsigned repaired = configurator_.audit(running_.config);
    running_.driftsRepaired += repaired;
    metricsDirty_ = metricsDirty_ || repaired != 0;
    running_.lastAudit = liucmd::utcNow();
}

void Daemon::reload() {
    notify::reloading();
    log_.write(Priority::Info, "reloading " + running_.config.path);
    std::vector<ConfigError> refusals;
    Config next;
    try {
        next = loadConfig(running_.config.path);
        if (!options_.socketPath.empty()) {
            next.socketPath = options_.socketPath;
        }
        refusals = reloadRefusals(running_.config, next);
    } catch (const BadConfig& bad) {
        refusals = bad.errors();
    }
    if (!refusals.empty()) {
        for (const auto& refusal : refusals) {
            log_.write(Priority::Error,
                       "reload refused: " + located(running_.config.path, refusal));
        }
        log_.write(Priority::Error, "reload refused: the running configuration stays");
        lastReload_ = std::chrono::system_clock::now();
        lastReloadOk_ = false;
        writeMetrics(true);
        notify::ready(readyStatus());
        return;
    }
    const std::vector<unsigned> changed = configurator_.reload(running_.config, next);
    server_->setControlGroup(next.controlGroup);
    std::string error;
    if ((next.socketMode != running_.config.socketMode ||
         next.socketGroup != running_.config.socketGroup) &&
        !server_->setAccess(next.socketMode, next.socketGroup, error)) {
        log_.write(Priority::Error, error);
    }
    if (next.metricsPath != running_.config.metricsPath) {
        writeMetrics(false); // the old file says liud no longer writes it
    }
    if (next.pollInterval != running_.config.pollInterval) {
        nextPoll_ = Clock::now() + next.pollInterval;
    }
    if (next.scanInterval != running_.config.scanInterval) {
        nextScan_ = Clock::now() + next.scanInterval;
    }
    if (next.auditInterval != running_.config.auditInterval) {
        nextAudit_ = Clock::now() + next.auditInterval;
    }
    running_.config = std::move(next);
    configurator_.verify("reload", running_.config, changed);
    lastReload_ = std::chrono::system_clock::now();
    lastReloadOk_ = true;
    writeMetrics(true);
    std::string ports;
    for (const unsigned port : changed) {
        ports += (ports.empty() ? " (" : ", ") + std::to_string(port);
    }
    log_.write(Priority::Info, "reloaded " + running_.config.path + ": " +
                                   std::to_string(changed.size()) +
                                   (changed.size() == 1 ? " port" : " ports") + " changed" +
                                   (ports.empty() ? "" : ports + ")"));
    notify::ready(readyStatus());
}

// ---- Control socket -----------------------------------------------------------

void Daemon::serveRequests() {
    std::string line;
    for (auto& client : server_->clients()) {
        if (client.gone || client.input.find('\n') == std::string::npos) {
            continue;
        }
        if (ControlServer::hungUp(client)) {
            client.gone = true; // it asked and went: nobody reads the answer
            continue;
        }
        if (server_->takeLine(client, line)) {
            dueWork(Clock::now());
            session_.request(client, line); // one request per client and turn: none waits long
        }
    }
}

} // namespace liud
