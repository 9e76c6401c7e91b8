// SPDX-License-Identifier: MIT
#include "Agent.h"

#include "Log.h"

#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace liusnmp {

namespace {

constexpr const char* kAppName = "liu-snmp";
constexpr std::chrono::seconds kReconnectInterval{1};
constexpr std::chrono::milliseconds kLiudTimeout{3000};
constexpr std::size_t kInstanceLength = kConfigEntryLength + 2; // column, dsx1LineIndex

using liutool::Priority;

int signalWriter = -1;

// liu-snmp's log: stderr with the syslog priority in front.
void logLine(Priority priority, const std::string& message) {
    static const liutool::Log log("liu-snmp", false);
    log.write(priority, message);
}

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalWriter, &byte, 1);
    errno = saved;
}

// net-snmp's own log lines, with their priority, on our stderr.  It logs
// a line in pieces at times: whole lines only.
int netsnmpLog(int, int, void* message, void*) {
    static std::string pending;
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
    std::fflush(stderr);
    return 0;
}

std::string loopsText(const Loops& loops) {
    std::string text;
    for (const auto& [on, name] :
         {std::pair{loops.remote, "remote"}, std::pair{loops.analog, "analog"},
          std::pair{loops.digital, "digital"}}) {
        if (on) {
            text.append(text.empty() ? "" : "+").append(name);
        }
    }
    return text.empty() ? "no loopback" : text + " loopback";
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Changes a SET made in its action phase, for its undo phase.
struct Pending {
    Loops loops;
    long trapEnable = 0;
};
std::map<std::pair<unsigned, oid>, Pending> pendingSets;

} // namespace

Agent::Agent(Config config) : config_(std::move(config)), liud_(config_.liudSocket) {
    for (unsigned port = 0; port < kChipPorts; ++port) {
        trapEnable_[port] = config_.ports[port].trapEnabled.value_or(config_.trapEnabled)
                                ? kTrapEnabled
                                : kTrapDisabled;
    }
    if (pipe2(signalPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    signalWriter = signalPipe_[1];

    // A subagent with net-snmp's timers in the loop below (no SIGALRM), no
    // configuration files of its own (this program has one), nothing
    // written back at the end, and no MIB files read (it names nothing).
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    if (!config_.agentx.empty()) {
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                              config_.agentx.c_str());
    }
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_INFO);
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, netsnmpLog, nullptr);
    if (init_agent(kAppName) != 0) {
        throw std::runtime_error("net-snmp's agent library did not start");
    }
    // The master is checked this often and connected again when it went
    // (after init_agent, which sets its own default).
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                       static_cast<int>(config_.agentxPing.count()));
    netsnmp_handler_registration* registration = netsnmp_create_handler_registration(
        "dsx1ConfigTable", &Agent::handle, kConfigEntry, kConfigEntryLength, HANDLER_CAN_RWRITE);
    if (registration == nullptr) {
        throw std::runtime_error("cannot register dsx1ConfigTable");
    }
    registration->handler->myvoid = this;
    if (netsnmp_register_handler(registration) != MIB_REGISTERED_OK) {
        throw std::runtime_error("cannot register dsx1ConfigTable");
    }
    init_snmp(kAppName);
}

Agent::~Agent() {
    snmp_shutdown(kAppName);
    signalWriter = -1;
    for (const int fd : signalPipe_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

int Agent::run() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    logLine(Priority::Info,
            std::string("started: AgentX master ") +
                (config_.agentx.empty() ? "at net-snmp's default address" : config_.agentx) +
                ", liud at " + liud_.path());
    connectLiud();
    while (true) {
        fd_set readable;
        FD_ZERO(&readable);
        int count = 0;
        int block = 1;
        timeval timeout{};
        snmp_select_info(&count, &readable, &timeout, &block);
        for (const int fd : {signalPipe_[0], liud_.watchFd()}) {
            if (fd >= 0) {
                FD_SET(fd, &readable);
                count = std::max(count, fd + 1);
            }
        }
        // Our own next deadline: the next status read or connection attempt.
        const auto due = away_ ? nextConnect_ : nextStatus_;
        const auto wait = std::max(Clock::duration::zero(), due - Clock::now());
        const auto waitUs = std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
        const long long snmpUs = static_cast<long long>(timeout.tv_sec) * 1000000 + timeout.tv_usec;
        if (block != 0 || waitUs < snmpUs) {
            timeout.tv_sec = static_cast<time_t>(waitUs / 1000000);
            timeout.tv_usec = static_cast<suseconds_t>(waitUs % 1000000);
        }
        const int ready = select(count, &readable, nullptr, nullptr, &timeout);
        if (ready < 0 && errno != EINTR) {
            logLine(Priority::Error, std::string("select: ") + std::strerror(errno));
            return 1;
        }
        if (ready > 0 && FD_ISSET(signalPipe_[0], &readable)) {
            logLine(Priority::Info, "stopping");
            return 0;
        }
        if (ready > 0 && liud_.connected() && FD_ISSET(liud_.watchFd(), &readable)) {
            std::vector<Json> events;
            const bool open = liud_.readEvents(events);
            for (const Json& entry : events) {
                event(entry);
            }
            if (!open) {
                liudGone("the watch connection closed");
            }
        }
        // net-snmp's part: AgentX packets, its timers (the master's ping
        // and reconnection), delegated requests.
        agent_check_and_process(0);
        followUptime();
        if (away_ && Clock::now() >= nextConnect_) {
            connectLiud();
        } else if (!away_ && (refreshWanted_ || Clock::now() >= nextStatus_)) {
            refreshWanted_ = false;
            readStatus();
        }
    }
}

// ---- liud -----------------------------------------------------------------------

void Agent::connectLiud() {
    static std::string lastError;
    std::string error;
    nextConnect_ = Clock::now() + kReconnectInterval;
    if (!liud_.connect(error)) {
        if (error != lastError) {
            logLine(Priority::Warning,
                    "liud not reachable: " + error + " (trying again every second)");
            lastError = error;
        }
        return;
    }
    lastError.clear();
    if (readStatus()) {
        logLine(Priority::Info, "liud at " + liud_.path() + ": " + std::to_string(rows_.size()) +
                                    " ports, dsx1LineIndex " + std::to_string(config_.ifIndexBase) +
                                    " up");
    }
}

bool Agent::readStatus() {
    nextStatus_ = Clock::now() + config_.statusInterval;
    const auto answer = liud_.request("status", kLiudTimeout);
    if (!answer) {
        liudGone("no answer to status");
        return false;
    }
    std::vector<PortState> states;
    try {
        const liuproto::Envelope envelope = liuproto::envelopeOf(*answer);
        if (!envelope.ok) {
            throw std::runtime_error(envelope.error);
        }
        const auto status = answer->get<liuproto::Status>();
        for (const liuproto::PortStatus& port : status.ports) {
            states.push_back(portState(port, config_));
        }
        statusPoll_ = status.daemon.lastPoll;
    } catch (const std::exception& error) {
        logLine(Priority::Error, std::string("liud's status not understood: ") + error.what());
        liud_.close();
        liudGone("status not understood");
        return false;
    }
    away_ = false;
    const u_long now = netsnmp_get_agent_uptime();
    std::vector<Row> rows;
    for (PortState& state : states) {
        const auto old = std::find_if(rows_.begin(), rows_.end(),
                                      [&](const Row& row) { return row.state.port == state.port; });
        // liud's last alarm change of the port, as sysUpTime (0: none, or
        // before this agent's time).
        const double changed = state.lastChange ? parseUtc(*state.lastChange).value_or(0) : 0;
        const u_long changeTicks = changed > 0 ? ticksAt(changed) : 0;
        if (old == rows_.end()) {
            Row row;
            row.index = config_.ifIndexBase + static_cast<long>(state.port);
            row.state = std::move(state);
            row.status = lineStatusValue(row.state.alarms, row.state.chip, false);
            row.lastChange = changeTicks;
            rows.push_back(std::move(row));
            continue;
        }
        const bool alarmsChanged = !(old->state.alarms == state.alarms);
        old->state = std::move(state);
        update(*old, alarmsChanged && changed > 0 ? changeTicks : now);
        rows.push_back(std::move(*old));
    }
    std::sort(rows.begin(), rows.end(),
              [](const Row& a, const Row& b) { return a.state.port < b.state.port; });
    rows_ = std::move(rows);
    return true;
}

void Agent::liudGone(const std::string& why) {
    liud_.close();
    nextConnect_ = Clock::now() + kReconnectInterval;
    if (away_) {
        return;
    }
    away_ = true;
    logLine(Priority::Warning,
            "liud gone (" + why + "): the rows keep their last state with dsx1OtherFailure");
    const u_long now = netsnmp_get_agent_uptime();
    for (Row& row : rows_) {
        update(row, now);
    }
}

void Agent::event(const Json& event) {
    try {
        const liuproto::Event which = liuproto::eventOf(event);
        const auto* alarm = std::get_if<liuproto::AlarmEvent>(&which);
        if (alarm == nullptr || away_ || alarm->time <= statusPoll_) {
            return; // the rows have it already
        }
        for (Row& row : rows_) {
            if (row.state.port == alarm->port) {
                row.state.alarms[alarm->indication] =
                    alarm->active ? liuproto::AlarmState::Active : liuproto::AlarmState::Inactive;
                const auto at = parseUtc(alarm->time);
                update(row, at ? ticksAt(*at) : netsnmp_get_agent_uptime());
            }
        }
    } catch (const Json::exception& error) {
        logLine(Priority::Error, std::string("liud's event not understood: ") + error.what());
    }
}

void Agent::update(Row& row, u_long ticks) {
    const long status = lineStatusValue(row.state.alarms, row.state.chip, away_);
    if (status == row.status) {
        return;
    }
    row.status = status;
    row.lastChange = ticks;
    const bool enabled = trapEnable(row.state.port) == kTrapEnabled;
    logLine(Priority::Notice, "port " + std::to_string(row.state.port) + " (dsx1LineIndex " +
                                  std::to_string(row.index) + "): dsx1LineStatus " +
                                  std::to_string(status) + " " + lineStatusText(status) +
                                  (enabled ? ", dsx1LineStatusChange sent" : ""));
    if (!enabled) {
        return;
    }
    oid name[kInstanceLength];
    std::copy(std::begin(kConfigEntry), std::end(kConfigEntry), name);
    name[kConfigEntryLength + 1] = static_cast<oid>(row.index);
    netsnmp_variable_list* variables = nullptr;
    snmp_varlist_add_variable(&variables, kSnmpTrapOid, std::size(kSnmpTrapOid), ASN_OBJECT_ID,
                              kLineStatusChange, sizeof kLineStatusChange);
    name[kConfigEntryLength] = column::LineStatus;
    snmp_varlist_add_variable(&variables, name, kInstanceLength, ASN_INTEGER, &row.status,
                              sizeof row.status);
    name[kConfigEntryLength] = column::LineStatusLastChange;
    snmp_varlist_add_variable(&variables, name, kInstanceLength, ASN_TIMETICKS, &row.lastChange,
                              sizeof row.lastChange);
    send_v2trap(variables);
    snmp_free_varbind(variables);
}

bool Agent::setLoops(unsigned port, const Loops& from, const Loops& to) {
    const std::tuple<bool, bool, const char*> steps[] = {{from.remote, to.remote, "remoteloop"},
                                                         {from.analog, to.analog, "analogloop"},
                                                         {from.digital, to.digital, "digitalloop"}};
    for (const auto& [before, after, setting] : steps) {
        if (before == after) {
            continue;
        }
        const std::string request =
            std::string("set ") + setting + " " + std::to_string(port) + (after ? " on" : " off");
        const auto answer = liud_.request(request, kLiudTimeout);
        if (!answer || !answer->value("ok", false)) {
            logLine(Priority::Error,
                    "liud: " + request + ": " +
                        (answer ? answer->value("error", std::string("refused")) : "no answer"));
            if (!answer) {
                liudGone("no answer to set");
            }
            return false;
        }
    }
    return true;
}

u_long Agent::ticksAt(double utcSeconds) const {
    const u_long now = netsnmp_get_agent_uptime();
    const double ago = (wallSeconds() - utcSeconds) * 100.0;
    if (ago <= 0) {
        return now;
    }
    return ago >= static_cast<double>(now) ? 0 : now - static_cast<u_long>(ago);
}

void Agent::followUptime() {
    // net-snmp's subagent counts sysUpTime from the master's when it
    // attaches: its own count before, the new master's after a restart.
    const double start = std::chrono::duration<double>(Clock::now().time_since_epoch()).count() -
                         static_cast<double>(netsnmp_get_agent_uptime()) / 100.0;
    if (uptimeStart_ && std::abs(start - *uptimeStart_) > 0.05) {
        const double shift = (*uptimeStart_ - start) * 100.0;
        for (Row& row : rows_) {
            const double moved = static_cast<double>(row.lastChange) + shift;
            row.lastChange = row.lastChange == 0 || moved < 0 ? 0 : static_cast<u_long>(moved);
        }
    }
    if (!uptimeStart_ || std::abs(start - *uptimeStart_) > 0.05) {
        uptimeStart_ = start;
    }
}

long Agent::trapEnable(unsigned port) const {
    return port < kChipPorts ? trapEnable_[port] : kTrapDisabled;
}

// ---- SNMP requests ---------------------------------------------------------------

int Agent::handle(netsnmp_mib_handler* handler, netsnmp_handler_registration*,
                  netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
    auto& agent = *static_cast<Agent*>(handler->myvoid);
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        if (request->processed != 0) {
            continue;
        }
        int error = SNMP_ERR_NOERROR;
        switch (info->mode) {
        case MODE_GET:
            agent.get(request, info);
            break;
        case MODE_GETNEXT:
            agent.getNext(request);
            break;
        case MODE_SET_RESERVE1:
        case MODE_SET_RESERVE2:
            error = agent.reserve(request, info->mode == MODE_SET_RESERVE2);
            break;
        case MODE_SET_ACTION:
        case MODE_SET_UNDO:
            error = agent.action(request, info->mode == MODE_SET_UNDO);
            break;
        case MODE_SET_COMMIT:
        case MODE_SET_FREE:
            pendingSets.clear();
            break;
        default:
            break;
        }
        if (error != SNMP_ERR_NOERROR) {
            netsnmp_set_request_error(info, request, error);
        }
    }
    return SNMP_ERR_NOERROR;
}

Agent::Row* Agent::rowOf(const netsnmp_variable_list* variable, oid& column) {
    column = 0;
    if (variable->name_length <= kConfigEntryLength ||
        netsnmp_oid_equals(variable->name, kConfigEntryLength, kConfigEntry, kConfigEntryLength) !=
            0) {
        return nullptr;
    }
    column = variable->name[kConfigEntryLength];
    if (variable->name_length != kInstanceLength) {
        return nullptr;
    }
    const oid index = variable->name[kConfigEntryLength + 1];
    for (Row& row : rows_) {
        if (static_cast<oid>(row.index) == index) {
            return &row;
        }
    }
    return nullptr;
}

void Agent::get(netsnmp_request_info* request, netsnmp_agent_request_info* info) {
    oid column = 0;
    const Row* row = rowOf(request->requestvb, column);
    if (columnInfo(column) == nullptr) {
        netsnmp_set_request_error(info, request, SNMP_NOSUCHOBJECT);
    } else if (row == nullptr) {
        netsnmp_set_request_error(info, request, SNMP_NOSUCHINSTANCE);
    } else {
        value(request->requestvb, *row, column);
    }
}

void Agent::getNext(netsnmp_request_info* request) {
    netsnmp_variable_list* variable = request->requestvb;
    oid name[kInstanceLength];
    std::copy(std::begin(kConfigEntry), std::end(kConfigEntry), name);
    // Columns in order, rows in dsx1LineIndex order within each: the first
    // instance after the one asked for is the answer.  None: the agent
    // goes on to the next registration.
    for (oid column = kFirstColumn; column <= kLastColumn; ++column) {
        for (const Row& row : rows_) {
            name[kConfigEntryLength] = column;
            name[kConfigEntryLength + 1] = static_cast<oid>(row.index);
            if (snmp_oid_compare(name, kInstanceLength, variable->name, variable->name_length) >
                0) {
                snmp_set_var_objid(variable, name, kInstanceLength);
                value(variable, row, column);
                return;
            }
        }
    }
}

void Agent::value(netsnmp_variable_list* variable, const Row& row, oid column) const {
    const PortState& state = row.state;
    long number = 0;
    switch (column) {
    case column::LineIndex:
    case column::IfIndex:
        number = row.index;
        break;
    case column::LineType:
        number = state.lineType;
        break;
    case column::LineCoding:
        number = state.lineCoding;
        break;
    case column::SendCode:
        number = kSendNoCode;
        break;
    case column::CircuitIdentifier:
        snmp_set_var_typed_value(variable, ASN_OCTET_STR, state.circuit.data(),
                                 state.circuit.size());
        return;
    case column::LoopbackConfig:
        number = loopbackConfigValue(state.configured);
        break;
    case column::LineStatus:
        number = row.status;
        break;
    case column::SignalMode:
        number = kSignalModeNone;
        break;
    case column::TransmitClockSource:
        number = static_cast<long>(config_.ports[state.port % kChipPorts].clock);
        break;
    case column::Fdl:
        number = kFdlNone;
        break;
    case column::LineLength:
        number = state.lineLength;
        break;
    case column::LineStatusLastChange:
        snmp_set_var_typed_value(variable, ASN_TIMETICKS, &row.lastChange, sizeof row.lastChange);
        return;
    case column::LineStatusChangeTrapEnable:
        number = trapEnable(state.port);
        break;
    case column::LoopbackStatus:
        number = loopbackStatusValue(state.chip);
        break;
    default: // dsx1TimeElapsed, dsx1ValidIntervals, dsx1InvalidIntervals: nothing measured
        number = 0;
        break;
    }
    snmp_set_var_typed_integer(variable, ASN_INTEGER, number);
}

int Agent::reserve(netsnmp_request_info* request, bool second) {
    oid column = 0;
    const Row* row = rowOf(request->requestvb, column);
    const ColumnInfo* info = columnInfo(column);
    if (info == nullptr || !info->writable) {
        return SNMP_ERR_NOTWRITABLE;
    }
    if (row == nullptr) {
        return SNMP_ERR_NOCREATION;
    }
    if (second) {
        // The chip's loopbacks change through liud: it must be there.
        return column == column::LoopbackConfig && away_ ? SNMP_ERR_RESOURCEUNAVAILABLE
                                                         : SNMP_ERR_NOERROR;
    }
    const netsnmp_variable_list* variable = request->requestvb;
    if (variable->type != ASN_INTEGER || variable->val_len != sizeof(long)) {
        return SNMP_ERR_WRONGTYPE;
    }
    const long value = *variable->val.integer;
    const bool valid = column == column::LoopbackConfig
                           ? loopsOfConfigValue(value).has_value()
                           : value == kTrapEnabled || value == kTrapDisabled;
    return valid ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE;
}

int Agent::action(netsnmp_request_info* request, bool undo) {
    oid column = 0;
    Row* row = rowOf(request->requestvb, column);
    if (row == nullptr) {
        return SNMP_ERR_NOERROR; // refused earlier
    }
    const unsigned port = row->state.port;
    const auto key = std::make_pair(port, column);
    const auto pending = pendingSets.find(key);
    if (undo) {
        if (pending == pendingSets.end()) {
            return SNMP_ERR_NOERROR;
        }
        if (column == column::LineStatusChangeTrapEnable) {
            trapEnable_[port] = pending->second.trapEnable;
            return SNMP_ERR_NOERROR;
        }
        // Every loopback as it was, whatever the action got to.
        const Loops old = pending->second.loops;
        if (!setLoops(port, Loops{!old.remote, !old.analog, !old.digital}, old)) {
            return SNMP_ERR_UNDOFAILED;
        }
        row->state.configured = old;
        refreshWanted_ = true;
        return SNMP_ERR_NOERROR;
    }
    const long value = *request->requestvb->val.integer;
    if (column == column::LineStatusChangeTrapEnable) {
        pendingSets[key] = {Loops{}, trapEnable_[port]};
        trapEnable_[port] = value;
        logLine(Priority::Notice, "port " + std::to_string(port) +
                                      ": dsx1LineStatusChangeTrapEnable " + std::to_string(value) +
                                      (value == kTrapEnabled ? " (enabled)" : " (disabled)"));
        return SNMP_ERR_NOERROR;
    }
    const Loops to = *loopsOfConfigValue(value);
    const Loops from = row->state.configured;
    pendingSets[key] = {from, 0};
    if (!setLoops(port, from, to)) {
        return SNMP_ERR_COMMITFAILED;
    }
    row->state.configured = to;
    refreshWanted_ = true;
    logLine(Priority::Notice, "port " + std::to_string(port) + ": dsx1LoopbackConfig " +
                                  std::to_string(value) + " (" + loopsText(to) + ")");
    return SNMP_ERR_NOERROR;
}

} // namespace liusnmp
