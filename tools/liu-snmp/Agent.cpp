// SPDX-License-Identifier: MIT
#include "Agent.h"

#include "ExitStatus.h"

#include <sys/select.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace liusnmp {

namespace {

constexpr const char* kAppName = "liu-snmp";
constexpr std::chrono::seconds kReconnectInterval{1};
constexpr std::chrono::milliseconds kLiudTimeout{3000};

using liutool::Priority;

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// SIGTERM and SIGINT as a descriptor for the loop, SIGPIPE ignored.
int signalDescriptor() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) {
        throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    }
    return fd;
}

} // namespace

Agent::Agent(Config config)
    : config_(std::move(config)), log_(kAppName, false), liud_(config_.liudSocket),
      lines_(config_, *this, *this), writes_(lines_, *this, *this),
      dsx1Table_(Table::Dsx1Config, lines_, writes_), ifTable_(Table::If, lines_, writes_),
      ifXTable_(Table::IfX, lines_, writes_), signals_(signalDescriptor()) {
    // A subagent with net-snmp's timers in the loop below (no SIGALRM), no
    // configuration or state files of net-snmp's read (this program has its
    // own file; it registers nothing net-snmp would save, so nothing is
    // written at the end either), and no MIB files read (it names nothing).
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    if (!config_.agentx.empty()) {
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                              config_.agentx.c_str());
    }
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_INFO);
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, &Agent::netsnmpLog, this);
    if (init_agent(kAppName) != 0) {
        throw std::runtime_error("net-snmp's agent library did not start");
    }
    // The master is checked this often and connected again when it went
    // (after init_agent, which sets its own default).
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                       static_cast<int>(config_.agentxPing.count()));
    for (TableHandler* table : {&dsx1Table_, &ifTable_, &ifXTable_}) {
        table->registerWith(config_.ifIndexBase);
    }
    init_snmp(kAppName);
}

Agent::~Agent() {
    // Off net-snmp's list first: its shutdown frees the argument of every
    // callback still there, and this one is the agent.
    snmp_unregister_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, &Agent::netsnmpLog, this,
                             1);
    snmp_shutdown(kAppName);
    close(signals_);
}

int Agent::run() {
    log(Priority::Info,
        std::string("started: AgentX master ") +
            (config_.agentx.empty() ? "at net-snmp's default address" : config_.agentx) +
            ", liud at " + liud_.path() + ", ifIndex " + std::to_string(config_.ifIndexBase) +
            " to " + std::to_string(config_.ifIndexBase + kChipPorts - 1));
    uptimeStart_ = uptimeStart();
    connectLiud();
    while (true) {
        fd_set readable;
        FD_ZERO(&readable);
        int count = 0;
        int block = 1;
        timeval timeout{};
        snmp_select_info(&count, &readable, &timeout, &block);
        for (const int fd : {signals_, liud_.watchFd()}) {
            if (fd >= 0) {
                FD_SET(fd, &readable);
                count = std::max(count, fd + 1);
            }
        }
        // Wake at our own next deadline (the next status read or connection
        // attempt) or at net-snmp's next timer, whichever comes first; with
        // block set net-snmp has no timer.
        const auto due = lines_.liudThere() ? nextStatus_ : nextConnect_;
        auto wait = std::chrono::duration_cast<std::chrono::microseconds>(
            std::max(Clock::duration::zero(), due - Clock::now()));
        if (block == 0) {
            wait = std::min(wait, std::chrono::seconds(timeout.tv_sec) +
                                      std::chrono::microseconds(timeout.tv_usec));
        }
        timeout.tv_sec = static_cast<time_t>(wait.count() / 1000000);
        timeout.tv_usec = static_cast<suseconds_t>(wait.count() % 1000000);
        // The signals come through signals_: nothing interrupts select().
        if (select(count, &readable, nullptr, nullptr, &timeout) < 0) {
            log(Priority::Error, std::string("select: ") + std::strerror(errno));
            return liutool::kExitFailure;
        }
        // select() leaves in the set the descriptors that are ready, none at its timeout.
        if (FD_ISSET(signals_, &readable)) {
            log(Priority::Info, "stopping");
            return liutool::kExitSuccess;
        }
        if (liud_.connected() && FD_ISSET(liud_.watchFd(), &readable)) {
            readEvents();
        }
        // net-snmp's part: AgentX packets, its timers (the master's ping
        // and reconnection), delegated requests.
        agent_check_and_process(0);
        followUptime();
        if (!lines_.liudThere() && Clock::now() >= nextConnect_) {
            connectLiud();
        } else if (lines_.liudThere() && (refreshWanted_ || Clock::now() >= nextStatus_)) {
            refreshWanted_ = false;
            readStatus();
        }
    }
}

// ---- liud -----------------------------------------------------------------------

void Agent::connectLiud() {
    std::string error;
    nextConnect_ = Clock::now() + kReconnectInterval;
    if (!liud_.connect(error)) {
        if (error != lastConnectError_) {
            log(Priority::Warning, "liud not reachable: " + error + " (trying again every second)");
            lastConnectError_ = error;
        }
        return;
    }
    lastConnectError_.clear();
    if (readStatus()) {
        unsigned present = 0;
        for (const Line& line : lines_.all()) {
            present += line.present ? 1 : 0;
        }
        log(Priority::Info, "liud at " + liud_.path() + ": " + std::to_string(present) + " ports");
    }
}

bool Agent::readStatus() {
    nextStatus_ = Clock::now() + config_.statusInterval;
    const auto answer = liud_.request("status", kLiudTimeout);
    if (!answer) {
        liudGone("no answer to status");
        return false;
    }
    liuproto::Status status;
    try {
        const liuproto::Envelope envelope = liuproto::envelopeOf(*answer);
        if (!envelope.ok) {
            throw std::runtime_error(envelope.error);
        }
        status = answer->get<liuproto::Status>();
    } catch (const std::exception& error) {
        log(Priority::Error, std::string("liud's status not understood: ") + error.what());
        liudGone("status not understood");
        return false;
    }
    lines_.status(status);
    return true;
}

void Agent::liudGone(const std::string& why) {
    liud_.close();
    nextConnect_ = Clock::now() + kReconnectInterval;
    if (lines_.liudThere()) {
        log(Priority::Warning, "liud gone (" + why + "): the lines' state is not known");
    }
    lines_.liudGone();
}

void Agent::readEvents() {
    std::vector<Json> events;
    const bool open = liud_.readEvents(events);
    for (const Json& entry : events) {
        try {
            const liuproto::Event event = liuproto::eventOf(entry);
            lines_.event(event);
            // The chip answering again or not: each port's state anew.
            refreshWanted_ = refreshWanted_ || std::holds_alternative<liuproto::ChipEvent>(event);
        } catch (const Json::exception& error) {
            log(Priority::Error, std::string("liud's event not understood: ") + error.what());
        }
    }
    if (!open) {
        liudGone("the watch connection closed");
    }
}

bool Agent::setLoops(unsigned port, Loops& loops, const Loops& to) {
    const std::tuple<bool&, bool, const char*> steps[] = {
        {loops.remote, to.remote, "remoteloop"},
        {loops.analog, to.analog, "analogloop"},
        {loops.digital, to.digital, "digitalloop"}};
    refreshWanted_ = true; // the row shows the chip's loopbacks, read again
    for (const auto& [now, after, setting] : steps) {
        if (now == after) {
            continue;
        }
        const std::string request =
            std::string("set ") + setting + " " + std::to_string(port) + (after ? " on" : " off");
        const auto answer = liud_.request(request, kLiudTimeout);
        if (!answer || !answer->value("ok", false)) {
            log(Priority::Error,
                "liud: " + request + ": " +
                    (answer ? answer->value("error", std::string("refused")) : "no answer"));
            if (!answer) {
                liudGone("no answer to set");
            }
            return false;
        }
        now = after;
    }
    return true;
}

// ---- net-snmp ---------------------------------------------------------------------

Ticks Agent::now() const {
    return netsnmp_get_agent_uptime();
}

Ticks Agent::at(double utcSeconds) const {
    const double ticks = static_cast<double>(now());
    const double ago = (wallSeconds() - utcSeconds) * 100.0;
    return static_cast<Ticks>(std::clamp(ticks - ago, 0.0, ticks));
}

void Agent::log(Priority priority, const std::string& message) {
    log_.write(priority, message);
}

void Agent::lineStatusChange(const Line& line) {
    sendNotification(kLineStatusChange, Table::Dsx1Config,
                     {dsx1Column::LineStatus, dsx1Column::LineStatusLastChange}, line);
}

void Agent::link(const Line& line, bool up) {
    sendNotification(up ? std::span<const oid>(kLinkUp) : std::span<const oid>(kLinkDown),
                     Table::If, {ifColumn::Index, ifColumn::AdminStatus, ifColumn::OperStatus},
                     line);
}

int Agent::netsnmpLog(int, int, void* message, void* agent) {
    // net-snmp logs a line in pieces at times: whole lines only.
    std::string& pending = static_cast<Agent*>(agent)->netsnmpPending_;
    const auto* entry = static_cast<const snmp_log_message*>(message);
    pending += entry->msg != nullptr ? entry->msg : "";
    std::size_t newline = 0;
    while ((newline = pending.find('\n')) != std::string::npos) {
        if (newline > 0) {
            std::fprintf(stderr, "<%d>net-snmp: %s\n", std::clamp(entry->priority, 0, 7),
                         pending.substr(0, newline).c_str());
        }
        pending.erase(0, newline + 1);
    }
    return SNMPERR_SUCCESS; // net-snmp does not look at a logging callback's result
}

double Agent::uptimeStart() const {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count() -
           static_cast<double>(now()) / 100.0;
}

void Agent::followUptime() {
    // net-snmp's subagent counts sysUpTime from the master's when it
    // attaches: its own count before, the new master's after a restart.
    const double start = uptimeStart();
    if (std::abs(start - uptimeStart_) > 0.05) {
        lines_.moveTimes((start - uptimeStart_) * 100.0);
        uptimeStart_ = start;
    }
}

} // namespace liusnmp
