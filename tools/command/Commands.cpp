// SPDX-License-Identifier: MIT
// The command table, the dispatcher, help and completion.
#include "Commands.h"

#include "ChipNames.h"
#include "Handlers.h"

#include <cstdio>

namespace liucmd {

namespace {

using C = Completion;
namespace h = handlers;

const std::vector<CommandEntry> kCommands = {
    {"init",
     "INOUT PORTS",
     "bring the LIU up: reset it and give ports 0..PORTS-1 their defaults",
     "INOUT is the board's line interface: asym (1, E1 only), sym (2, E1, T1 and JT1),\n"
     "none (255) or any number 0..255.  PORTS is 1..16 (the LIU has 8).\n"
     "The library initialises once per process and resets the chip when it does:\n"
     "every port goes down.  Only liuctl --standalone runs it; liud refuses it (it\n"
     "brought the chip up when it started).",
     {C::Inout},
     h::init,
     h::initText,
     Where::Chip},
    {"inout",
     "INOUT",
     "set the input/output type used by the next line type configuration",
     "INOUT as for init.  No register access.  liud takes it from its configuration.",
     {C::Inout},
     h::inout,
     h::inoutText,
     Where::Chip},
    {"set",
     "SETTING PORTS VALUE",
     "configure ports, then show what the chip now holds",
     "SETTING and VALUE:\n"
     "  linetype     e1, t1 or jt1          read back from registers 0x20, 0x32, 0x23\n"
     "  linecode     1 or 2                 read back with liuDrv_getLineCode\n"
     "  lbo          1..4 (build-out)       register 0x23 (the chip cannot report it)\n"
     "  linelen      1..5 (line length)     register 0x23 (the chip cannot report it)\n"
     "  haul         1 or 2                 read back with liuDrv_getHaulType\n"
     "  remoteloop   on or off              read back with liuDrv_getLoopRemote\n"
     "  analogloop   on or off              read back with liuDrv_getLoopAnalog\n"
     "  digitalloop  on or off              read back with liuDrv_getLoopDigital\n"
     "  txpower      up or down             read back with liuDrv_getPowerupTx\n"
     "  rxpower      up or down             read back with liuDrv_getPowerupRx\n"
     "PORTS: a port (3), a range (0-3), a list (0,2,4-7) or all.\n"
     "Standalone, the pulse template code the library writes for linetype, lbo and\n"
     "linelen follows the line type requested last for any port, and a line type\n"
     "clears the line code (liuctl says so when it changed).  lbo and linelen are\n"
     "refused on a port in E1 mode (register 0x20 bit 0 clear).  Through liud the setting becomes part of its running\n"
     "configuration: liud checks it as it checks its file, applies the port's line\n"
     "type again before a build-out or line length and the line code after a line\n"
     "type, and its audit keeps it (until the file is reloaded).",
     {C::Setting, C::Ports, C::SettingValue},
     h::set,
     h::setText,
     Where::Chip},
    {"get",
     "SETTING PORTS",
     "read a setting back through the library",
     "SETTING as for set.  linetype: liuDrv_getLineType reports E1 for every port\n"
     "(this chip never tells its pulse template), so registers 0x20, 0x32 and 0x23\n"
     "are shown beside it.  lbo and linelen: the library cannot read them back\n"
     "from this chip and reports -1; show prints the template code register.",
     {C::Setting, C::Ports},
     h::get,
     h::getText,
     Where::Chip},
    {"refclk",
     "a|b PORT",
     "choose the port that drives reference clock output A or B",
     "Afterwards global register 0x07 is read to show the ports of both outputs.",
     {C::Output, C::Ports},
     h::refclk,
     h::refclkText,
     Where::Chip},
    {"read",
     "REG CH|global",
     "read one register of a channel (0..15) or a global register",
     "REG is 0..255 or 0x00..0xff.",
     {C::None, C::Channel},
     h::read,
     h::readText,
     Where::Chip},
    {"write",
     "REG CH|global VALUE",
     "write one register",
     "No read-back: read it if you want to.  liud's audit puts back a register that\n"
     "its configuration sets.",
     {C::None, C::Channel},
     h::write,
     h::writeText,
     Where::Chip},
    {"dump",
     "PORT",
     "print the port's user arbitrary waveform",
     "The library's printout of the 16 x 4 samples, the amplitude scaling and the\n"
     "termination.  Only a port whose template code register 0x23 holds 0x0c is\n"
     "dumped.  The dump sets the library's port count to 8.",
     {C::Ports},
     h::dump,
     h::dumpText,
     Where::Chip},
    {"has",
     "los|prbs PORTS",
     "read LOS or PRBS straight from the alarm status register",
     "liuDrv_hasLos / liuDrv_hasPrbs: no alarm state is kept or changed.",
     {C::Indication, C::Ports},
     h::has,
     h::hasText,
     Where::Chip},
    {"connected",
     "",
     "check that the LIU answers (liuDrv_isLiuConnected)",
     "",
     {},
     h::connected,
     h::connectedText,
     Where::Chip},
    {"broadcast",
     "on|off",
     "switch the library's broadcast mode (changes nothing on this LIU)",
     "",
     {C::OnOff},
     h::broadcast,
     h::broadcastText,
     Where::Chip},
    {"state",
     "",
     "print the library's exported state",
     "",
     {},
     h::state,
     h::stateText,
     Where::Chip},
    {"poll",
     "",
     "print the alarm state table",
     "Standalone liuctl polls the alarms once (liuDrv_alarmHandler); liud answers\n"
     "with its own latest poll and never polls for a client.  States: - not seen\n"
     "active since start-up, active, inactive (was active, now clear).  show prints\n"
     "the table of the last poll.",
     {},
     h::poll,
     h::pollText,
     Where::Chip},
    {"watch",
     "[SECONDS]",
     "print each alarm change as it happens",
     "For SECONDS (fractions allowed), or until Ctrl-C without.  Each change: UTC\n"
     "time, port, indication, active or cleared.  At the end, for every port and\n"
     "indication that changed: how often it went active, its state now and since\n"
     "when.  Standalone liuctl polls every 0.1 s; through liud the changes are\n"
     "liud's own, as it logs them.",
     {},
     h::watch,
     h::watchText,
     Where::Chip},
    {"show",
     "[PORTS]",
     "one row per port: settings, chip registers, alarms of the last poll",
     "Line code, haul, loopbacks and power come from the library's get operations;\n"
     "mode bit (0x20), termination (0x32) and template code (0x23) from the chip's\n"
     "registers; the alarms from the last poll (- before any).  show polls nothing\n"
     "itself.",
     {C::Ports},
     h::show,
     h::showText,
     Where::Chip},
    {"status",
     "[PORTS]",
     "liud's configuration of each port beside what the chip holds",
     "liud only: per port the configured settings, framing and circuit, the same\n"
     "settings read back from the chip, the alarms of liud's latest poll and the time\n"
     "of the port's last alarm change; and liud's own counters.",
     {C::Ports},
     h::status,
     h::statusText,
     Where::Chip},
    {"trace",
     "off|error|call|detail",
     "choose which library trace lines reach stderr",
     "Through liud: liud's own trace filter (its log).",
     {C::TraceLevel},
     h::trace,
     h::traceText,
     Where::Chip},
    {"sleep",
     "SECONDS",
     "wait (fractions allowed; Ctrl-C ends the wait)",
     "",
     {},
     h::sleep,
     h::sleepText,
     Where::ClientOnly},
    {"echo", "[TEXT...]", "print text", "", {}, h::echo, h::echoText, Where::Anywhere},
    {"help",
     "[COMMAND]",
     "print the command list or one command's usage",
     "",
     {C::Command},
     h::help,
     h::helpText,
     Where::Anywhere},
    {"quit",
     "",
     "end the session (so do exit and the end of the input)",
     "",
     {},
     h::quit,
     h::quitText,
     Where::Anywhere},
};

std::string usageLine(const CommandEntry& entry) {
    return std::string(entry.name) + (entry.synopsis[0] != '\0' ? " " : "") + entry.synopsis;
}

std::vector<std::string> valuesOf(Completion completion, const std::vector<std::string>& words,
                                  unsigned portCount) {
    auto strings = [](const std::vector<std::string_view>& views) {
        return std::vector<std::string>(views.begin(), views.end());
    };
    switch (completion) {
    case C::Ports: {
        std::vector<std::string> ports = {"all"};
        for (unsigned port = 0; port < portCount; ++port) {
            ports.push_back(std::to_string(port));
        }
        return ports;
    }
    case C::Setting:
        return strings(settingNames());
    case C::SettingValue: {
        const Setting* named = words.size() > 1 ? findSetting(words[1]) : nullptr;
        return named != nullptr ? strings(named->words) : std::vector<std::string>{};
    }
    case C::Inout:
        return {"asym", "sym", "none"};
    case C::Output:
        return {"a", "b"};
    case C::Indication:
        return {"los", "prbs"};
    case C::OnOff:
        return {"on", "off"};
    case C::TraceLevel:
        return {"off", "error", "call", "detail"};
    case C::Command: {
        std::vector<std::string> names;
        for (const auto& entry : kCommands) {
            names.emplace_back(entry.name);
        }
        return names;
    }
    case C::Channel: {
        std::vector<std::string> channels = {"global"};
        for (unsigned channel = 0; channel < 16; ++channel) {
            channels.push_back(std::to_string(channel));
        }
        return channels;
    }
    case C::None:
        break;
    }
    return {};
}

} // namespace

const std::vector<CommandEntry>& commands() {
    return kCommands;
}

const CommandEntry* findCommand(const std::string& name) {
    const std::string lower = lowerCase(name);
    for (const auto& entry : kCommands) {
        if (lower == entry.name || (lower == "exit" && std::string_view(entry.name) == "quit")) {
            return &entry;
        }
    }
    return nullptr;
}

Json errorResult(const std::string& command, const std::string& message, int status) {
    Json result = {{"ok", false}};
    if (!command.empty()) {
        result["command"] = command;
    }
    result["error"] = message;
    result["status"] = status;
    return result;
}

int resultStatus(const Json& result) {
    if (result.value("ok", false)) {
        return kExitSuccess;
    }
    const auto status = result.find("status");
    return status != result.end() && status->is_number_integer() ? status->get<int>()
                                                                 : kExitFailure;
}

Json runCommand(Context& context, const std::vector<std::string>& words) {
    if (words.empty()) {
        return errorResult("", "empty command", kExitUsage);
    }
    const CommandEntry* entry = findCommand(words.front());
    if (entry == nullptr) {
        return errorResult("", "unknown command '" + words.front() + "' (try 'help')", kExitUsage);
    }
    std::vector<std::string> normalised = words;
    normalised.front() = entry->name;
    Json result = {{"ok", true}, {"command", entry->name}};
    try {
        entry->handler(context, Args(std::move(normalised)), result);
    } catch (const CommandError& error) {
        result["ok"] = false;
        result["error"] = error.what();
        result["status"] = error.status();
    }
    return result;
}

std::string resultText(const Json& result) {
    const CommandEntry* entry = findCommand(result.at("command").get<std::string>());
    return entry != nullptr ? entry->text(result) : std::string();
}

std::string eventText(const Json& event) {
    char line[128];
    std::snprintf(line, sizeof line, "%s  port %-2u  %-4s  %s\n",
                  event.at("time").get<std::string>().c_str(), event.at("port").get<unsigned>(),
                  event.at("indication").get<std::string>().c_str(),
                  event.at("state").get<std::string>().c_str());
    return line;
}

std::string helpText(const std::string& command) {
    if (command.empty()) {
        std::string text = "Commands:\n";
        for (const auto& entry : kCommands) {
            char line[160];
            std::snprintf(line, sizeof line, "  %-27s %s\n", usageLine(entry).c_str(),
                          entry.summary);
            text += line;
        }
        return text + "Type 'help COMMAND' for one command.\n";
    }
    const CommandEntry* entry = findCommand(command);
    if (entry == nullptr) {
        return {};
    }
    std::string text = "Usage: " + usageLine(*entry) + "\n" + entry->summary + ".\n";
    if (entry->details[0] != '\0') {
        text += std::string("\n") + entry->details + "\n";
    }
    return text;
}

std::vector<std::string> completeWord(const std::vector<std::string>& words, unsigned portCount) {
    if (words.empty()) {
        return valuesOf(C::Command, words, portCount);
    }
    const CommandEntry* entry = findCommand(words.front());
    if (entry == nullptr || words.size() > entry->completion.size()) {
        return {};
    }
    return valuesOf(entry->completion[words.size() - 1], words, portCount);
}

} // namespace liucmd
