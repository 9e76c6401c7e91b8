// SPDX-License-Identifier: MIT
// Every port at a glance: show (the chip), status (liud beside the chip).
#include "HandlerSupport.h"

#include <climits>
#include <cstdio>

namespace liucmd::handlers {

namespace {

// The ports named by argument index, or every port.
std::vector<std::uint16_t> portsOrAll(const Context& context, const Args& args, std::size_t index) {
    if (args.has(index)) {
        return args.ports(index);
    }
    std::vector<std::uint16_t> ports;
    for (unsigned port = 0; port < context.portCount(); ++port) {
        ports.push_back(static_cast<std::uint16_t>(port));
    }
    return ports;
}

// The library's get operations show calls, in order, and their columns.
constexpr struct {
    SettingId id;
    const char* column;
} kShowColumns[] = {{SettingId::LineCode, "CODE"},       {SettingId::Haul, "HAUL"},
                    {SettingId::RemoteLoop, "REMOTE"},   {SettingId::AnalogLoop, "ANALOG"},
                    {SettingId::DigitalLoop, "DIGITAL"}, {SettingId::TxPower, "TX"},
                    {SettingId::RxPower, "RX"}};

void show(Context& context, const Args& args, Json& result) {
    const AlarmSnapshot* lastPoll = context.lastPoll();
    Json rows = Json::array();
    Json errors = Json::array();
    for (const std::uint16_t port : portsOrAll(context, args, 1)) {
        Json library = Json::object();
        for (const auto& column : kShowColumns) {
            const Setting& entry = setting(column.id);
            int value = INT_MIN;
            const int code = entry.get(port, &value);
            if (code != 0) {
                errors.push_back("port " + std::to_string(port) + " " + entry.getName +
                                 ": library result " + std::to_string(code));
                library[entry.name] = nullptr;
            } else {
                library[entry.name] = value;
            }
        }
        Json registers = {{"source", "chip registers"}};
        static constexpr struct {
            std::uint8_t reg;
            const char* key;
            std::string (*name)(std::uint8_t);
        } kRegisters[] = {{kModeRegister, "mode", modeName},
                          {kTerminationRegister, "termination", terminationName},
                          {kTemplateRegister, "templateCode", templateCodeName}};
        for (const auto& entry : kRegisters) {
            std::uint8_t value = 0;
            const int code = liuDrv_read(entry.reg, port, &value);
            const std::string key = entry.key;
            if (code != 0) {
                errors.push_back("port " + std::to_string(port) + " register " +
                                 hexByte(entry.reg) + ": library result " + std::to_string(code));
                registers[key + "Register"] = nullptr;
                registers[key] = nullptr;
            } else {
                registers[key + "Register"] = value;
                registers[key] = entry.name(value);
            }
        }
        const bool polled = lastPoll != nullptr && port < lastPoll->ports;
        rows.push_back({{"port", port},
                        {"library", std::move(library)},
                        {"registers", std::move(registers)},
                        {"alarms", polled ? Json(portAlarms(lastPoll->table, port)) : Json()}});
    }
    result["ports"] = std::move(rows);
    std::uint8_t refClocks = 0;
    const int code = liuDrv_read(kRefClockRegister, LIUDRV_CHANNEL_GLOBAL, &refClocks);
    if (code != 0) {
        errors.push_back("global register " + hexByte(kRefClockRegister) + ": library result " +
                         std::to_string(code));
        result["refClocks"] = nullptr;
    } else {
        const RefClockPorts chip = refClockPorts(refClocks);
        result["refClocks"] = {{"source", "chip registers"},
                               {"refClockRegister", refClocks},
                               {"portA", chip.a},
                               {"portB", chip.b}};
    }
    result["errors"] = errors;
    if (!errors.empty()) {
        throw Failure(
            "show: " + errors.front().get<std::string>() +
            (errors.size() > 1 ? " (and " + std::to_string(errors.size() - 1) + " more)" : ""));
    }
}

// "reference clocks: A from port 0, B not configured (the chip: port 4)"
std::string refClocksText(const liuproto::RefClocks& clocks) {
    std::string text = "reference clocks:";
    for (const auto& [name, output] : {std::pair{"A", &clocks.A}, std::pair{"B", &clocks.B}}) {
        text += std::string(name[0] == 'A' ? " " : ", ") + name + " from " +
                (output->configured ? "port " + std::to_string(*output->configured)
                                    : std::string("no port configured"));
        if (output->chip != output->configured) {
            text +=
                " (the chip: " +
                (output->chip ? "port " + std::to_string(*output->chip) : std::string("unknown")) +
                ")";
        }
    }
    return text + "\n";
}

// "LOS active, AIS cleared", "none", or "-" before any poll.
std::string alarmsCell(const Json& alarms) {
    if (alarms.is_null()) {
        return "-";
    }
    const auto states = alarms.get<liuproto::PortAlarms>();
    std::string text;
    for (const Indication indication : liuproto::kIndications) {
        if (states[indication] != liuproto::AlarmState::Initial) {
            text += (text.empty() ? "" : ", ") + std::string(liuproto::indicationName(indication)) +
                    " " + liuproto::changeName(states.active(indication));
        }
    }
    return text.empty() ? "none" : text;
}

std::string showText(const Json& result) {
    std::vector<std::string> header = {"PORT"};
    for (const auto& column : kShowColumns) {
        header.emplace_back(column.column);
    }
    header.insert(header.end(), kLineRegisterHeader.begin(), kLineRegisterHeader.end());
    header.emplace_back("ALARMS");
    Table table(header);
    table.group(1, std::size(kShowColumns), "library");
    table.group(1 + std::size(kShowColumns), 3, "chip registers");
    table.group(4 + std::size(kShowColumns), 1, "last poll");
    for (const auto& row : result.value("ports", Json::array())) {
        std::vector<std::string> cells = {std::to_string(row.at("port").get<int>())};
        for (const auto& column : kShowColumns) {
            const Setting& entry = setting(column.id);
            const Json& value = row.at("library").at(entry.name);
            cells.push_back(value.is_null() ? "error" : shownValue(entry, value.get<int>()));
        }
        for (const char* key : {"mode", "termination", "templateCode"}) {
            const Json& value = row.at("registers").at(key);
            cells.push_back(value.is_null() ? "error" : value.get<std::string>());
        }
        cells.push_back(alarmsCell(row.at("alarms")));
        table.add(cells);
    }
    if (table.empty()) {
        return {};
    }
    const Json& refClocks = result.value("refClocks", Json());
    return table.render() +
           (refClocks.is_object()
                ? "reference clock outputs (global register 0x07 = " +
                      hexByte(refClocks.at("refClockRegister").get<unsigned>()) + "): A port " +
                      std::to_string(refClocks.at("portA").get<unsigned>()) + ", B port " +
                      std::to_string(refClocks.at("portB").get<unsigned>()) + "\n"
                : std::string());
}

void status(Context& context, const Args& args, Json& result) {
    result.update(Json(context.status(args, portsOrAll(context, args, 1))));
}

std::string statusText(const Json& result) {
    const auto status = result.get<liuproto::Status>();
    const liuproto::DaemonStatus& daemon = status.daemon;
    std::string text = "liud " + daemon.version + ", pid " + std::to_string(daemon.pid) +
                       ", up since " + daemon.started + ", configuration " + daemon.config + "\n";
    char scan[64] = "";
    if (daemon.scanIntervalMs > 0) {
        std::snprintf(scan, sizeof scan, "a scan every %lld ms (%llu so far), ",
                      daemon.scanIntervalMs, static_cast<unsigned long long>(daemon.scans));
    }
    char line[320];
    std::snprintf(line, sizeof line,
                  "%s interface, %u ports; %sa poll every %lld ms (%llu so far), an audit every "
                  "%g s; %llu failed transfers, %llu drifts repaired\n",
                  daemon.inout.c_str(), daemon.ports, scan, daemon.pollIntervalMs,
                  static_cast<unsigned long long>(daemon.polls), daemon.auditIntervalS,
                  static_cast<unsigned long long>(daemon.failedTransfers),
                  static_cast<unsigned long long>(daemon.driftsRepaired));
    text += line;
    text += refClocksText(daemon.refClocks);
    if (!daemon.chipAnswering) {
        text += "the chip does not answer (since " + daemon.chipSince.value_or("start-up") +
                "): alarms and settings are the last known\n";
    }
    Table table({"PORT", "LINE", "CHIP", "CODE", "LBO/LEN", "HAUL", "LOOPS", "TX", "RX", "FRAMING",
                 "CIRCUIT", "ALARMS", "LAST CHANGE"});
    table.group(1, 9, "configured (CHIP: line type in the registers)");
    for (const liuproto::PortStatus& port : status.ports) {
        const liuproto::ConfiguredPort& config = port.config;
        std::string loops;
        for (const auto& [on, name] :
             {std::pair{config.remoteLoop, "remote"}, std::pair{config.analogLoop, "analog"},
              std::pair{config.digitalLoop, "digital"}}) {
            if (on) {
                loops.append(loops.empty() ? "" : ",").append(name);
            }
        }
        const std::string lbo = config.buildOut     ? "lbo " + std::to_string(*config.buildOut)
                                : config.lineLength ? "len " + std::to_string(*config.lineLength)
                                                    : "-";
        std::string alarms;
        for (const Indication indication : liuproto::kIndications) {
            if (port.alarms.active(indication)) {
                alarms +=
                    (alarms.empty() ? "" : ",") + std::string(liuproto::indicationName(indication));
            }
        }
        alarms = alarms.empty() ? "none" : alarms;
        if (!port.alarmsKnown) {
            alarms = "? (last known: " + alarms + ")";
        }
        table.add({std::to_string(port.port), config.lineType, port.chip.lineType.value_or("?"),
                   std::to_string(config.lineCode), lbo, std::to_string(config.haul),
                   loops.empty() ? "-" : loops, config.txPower ? "up" : "down",
                   config.rxPower ? "up" : "down", config.framing.value_or("-"),
                   config.circuit.empty() ? "-" : config.circuit, alarms,
                   port.lastChange.value_or("-")});
    }
    return text + table.render();
}

const Param kOptionalPorts{ArgKind::Ports, "PORTS", "port", {}, 0, 0, true};

} // namespace

const std::vector<CommandEntry>& reportCommands() {
    static const std::vector<CommandEntry> kCommands = {
        {.name = "show",
         .summary = "one row per port: settings, chip registers, alarms of the last poll",
         .details = "Line code, haul, loopbacks and power come from the library's get operations;\n"
                    "mode bit (0x20), termination (0x32) and template code (0x23) from the chip's\n"
                    "registers; the alarms from the last poll (- before any).  show polls nothing\n"
                    "itself.",
         .args = {kOptionalPorts},
         .flags = kAtChip | kNeedsInit,
         .handler = show,
         .text = showText},
        {.name = "status",
         .summary = "liud's configuration of each port beside what the chip holds",
         .details =
             "liud only: per port the configured settings, framing and circuit, the same\n"
             "settings read back from the chip, the alarms of liud's latest poll and the time\n"
             "of the port's last alarm change; the reference clock outputs as configured and\n"
             "as the chip holds them; and liud's own counters.",
         .args = {kOptionalPorts},
         .flags = kAtChip,
         .handler = status,
         .text = statusText},
    };
    return kCommands;
}

} // namespace liucmd::handlers
