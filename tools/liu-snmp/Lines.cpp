// SPDX-License-Identifier: MIT
#include "Lines.h"

#include <variant>

namespace liusnmp {

namespace {

using liutool::Priority;

constexpr const char* kOperNames[] = {"",        "up",      "down",      "testing",
                                      "unknown", "dormant", "notPresent"};

std::string operText(long status) {
    const bool named = status >= kIfUp && status <= kIfNotPresent;
    return std::string(named ? kOperNames[status] : "") + "(" + std::to_string(status) + ")";
}

} // namespace

Lines::Lines(const Config& config, const Uptime& uptime, LineEvents& events)
    : uptime_(uptime), events_(events), config_(config) {
    for (unsigned port = 0; port < kChipPorts; ++port) {
        Line& line = lines_[port];
        line.port = port;
        line.index = config.ifIndexBase + static_cast<long>(port);
        line.state.port = port;
        const PortSettings& settings = config.ports[port];
        line.lineStatusTrap =
            settings.trapEnabled.value_or(config.trapEnabled) ? kTrapEnabled : kTrapDisabled;
        line.linkTrap = settings.linkTrapEnabled.value_or(config.linkTrapEnabled) ? kTrapEnabled
                                                                                  : kTrapDisabled;
    }
}

void Lines::status(const liuproto::Status& status) {
    const bool first = !reached_;
    reached_ = true;
    away_ = false;
    chipAnswering_ = status.daemon.chipAnswering;
    statusPoll_ = status.daemon.lastPoll;
    const Ticks now = uptime_.now();
    for (Line& line : lines_) {
        const liuproto::PortStatus* port = nullptr;
        for (const liuproto::PortStatus& each : status.ports) {
            port = each.port == line.port ? &each : port;
        }
        if (port == nullptr) {
            line.present = false; // its row goes; the interface is not present
            refresh(line, now, !first);
            continue;
        }
        PortState state = portState(*port, config_);
        // liud's last alarm change of the port, as sysUpTime (0: none, or
        // before sysUpTime began).
        const Ticks changed = state.lastChange ? ticksOf(*state.lastChange) : 0;
        const bool alarmsChanged = line.present && !(line.state.alarms == state.alarms);
        const bool appeared = !line.present;
        line.state = std::move(state);
        line.present = true;
        if (appeared) { // a new row: its status as it is, dated by liud's last change
            line.known = !away_ && chipAnswering_ && line.state.alarmsKnown;
            line.lineStatus = lineStatusValue(line.state.alarms, line.state.chip, line.known);
            line.lineStatusChanged = changed;
        }
        refresh(line, alarmsChanged && changed > 0 ? changed : now, !first);
    }
}

void Lines::event(const liuproto::Event& event) {
    if (!liudThere()) {
        return;
    }
    if (const auto* alarm = std::get_if<liuproto::AlarmEvent>(&event)) {
        if (alarm->time <= statusPoll_ || alarm->port >= kChipPorts ||
            !lines_[alarm->port].present) {
            return;
        }
        Line& line = lines_[alarm->port];
        line.state.alarms[alarm->indication] =
            alarm->active ? liuproto::AlarmState::Active : liuproto::AlarmState::Inactive;
        refresh(line, ticksOf(alarm->time), true);
    } else if (const auto& chip = std::get<liuproto::ChipEvent>(event);
               chip.time > statusPoll_ && chip.answering != chipAnswering_) {
        chipAnswering_ = chip.answering;
        events_.log(chip.answering ? Priority::Notice : Priority::Warning,
                    chip.answering ? "liud: the chip answers again"
                                   : "liud: the chip does not answer (" +
                                         std::to_string(chip.failedTransfers) +
                                         " failed transfers): no line's state is known");
        for (Line& line : lines_) {
            refresh(line, ticksOf(chip.time), true);
        }
    }
}

void Lines::liudGone() {
    if (!liudThere()) {
        return;
    }
    away_ = true;
    const Ticks now = uptime_.now();
    for (Line& line : lines_) {
        refresh(line, now, true);
    }
}

void Lines::moveTimes(double ticks) {
    for (Line& line : lines_) {
        for (Ticks* time : {&line.lineStatusChanged, &line.operChanged}) {
            const double moved = static_cast<double>(*time) - ticks;
            *time = *time == 0 || moved < 0 ? 0 : static_cast<Ticks>(moved);
        }
    }
}

Line* Lines::find(long index) {
    const long port = index - config_.ifIndexBase;
    return reached_ && port >= 0 && port < static_cast<long>(kChipPorts) ? &lines_[port] : nullptr;
}

void Lines::refresh(Line& line, Ticks at, bool notify) {
    line.known = !away_ && chipAnswering_ && line.state.alarmsKnown;
    const std::string name =
        "port " + std::to_string(line.port) + " (ifIndex " + std::to_string(line.index) + "): ";
    // A line liud does not have is no DS1 row: its status stays as it was.
    const long status = lineStatusValue(line.state.alarms, line.state.chip, line.known);
    if (line.present && status != line.lineStatus) {
        line.lineStatus = status;
        line.lineStatusChanged = at;
        const bool sent = notify && line.lineStatusTrap == kTrapEnabled;
        if (notify) {
            events_.log(Priority::Notice, name + "dsx1LineStatus " + std::to_string(status) + " " +
                                              lineStatusText(status) +
                                              (sent ? ", dsx1LineStatusChange sent" : ""));
        }
        if (sent) {
            events_.lineStatusChange(line);
        }
    }
    line.adminStatus = adminStatus(line.present, line.state);
    const long oper = operStatus(line.present, line.known, line.state);
    if (oper == line.operStatus) {
        return;
    }
    const LinkChange change = linkChange(line.operStatus, oper);
    line.operStatus = oper;
    line.operChanged = notify ? at : 0;
    if (!notify) {
        return;
    }
    const bool sent = change != LinkChange::None && line.linkTrap == kTrapEnabled;
    events_.log(Priority::Notice,
                name + "ifOperStatus " + operText(oper) +
                    (sent ? (change == LinkChange::Up ? ", linkUp sent" : ", linkDown sent") : ""));
    if (sent) {
        events_.link(line, change == LinkChange::Up);
    }
}

Ticks Lines::ticksOf(const std::string& utc) const {
    const auto seconds = parseUtc(utc);
    return seconds ? uptime_.at(*seconds) : uptime_.now();
}

} // namespace liusnmp
