// SPDX-License-Identifier: MIT
// The commands: each handler parses its words first, then reaches the chip
// through the library (or the Context where liuctl and liud differ), and
// fills one result object; each text form prints that object for people.
#include "Handlers.h"

#include "ChipNames.h"
#include "Table.h"

#include "LiuTrace.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace liucmd::handlers {

namespace {

Failure libraryFailure(const std::string& context, int result) {
    return Failure(context + ": library result " + std::to_string(result));
}

std::string channelText(std::uint16_t channel) {
    return channel == LIUDRV_CHANNEL_GLOBAL ? "global" : "channel " + std::to_string(channel);
}

Json channelJson(std::uint16_t channel) {
    return channel == LIUDRV_CHANNEL_GLOBAL ? Json("global") : Json(channel);
}

std::string channelText(const Json& channel) {
    return channel.is_string() ? "global" : "channel " + std::to_string(channel.get<unsigned>());
}

int parseInout(const Args& args, std::size_t index) {
    static constexpr int kValues[] = {LIUDRV_INOUT_ASYMMETRICAL, LIUDRV_INOUT_SYMMETRICAL,
                                      LIUDRV_INOUT_NONE};
    long value = 0;
    if (parseNumber(args.word(index, "input/output type"), 0, 255, value)) {
        return static_cast<int>(value);
    }
    return kValues[parseChoice(args, index, "input/output type", {"asym", "sym", "none"})];
}

std::uint16_t parseChannel(const Args& args, std::size_t index) {
    const std::string& text = args.word(index, "channel");
    long value = 0;
    if (lowerCase(text) == "global") {
        return LIUDRV_CHANNEL_GLOBAL;
    }
    if (!parseNumber(text, 0, 15, value)) {
        args.bad("channel", text, "0..15 or global");
    }
    return static_cast<std::uint16_t>(value);
}

std::uint16_t parsePort(const Args& args, std::size_t index, unsigned portCount) {
    const std::string& text = args.word(index, "port");
    long port = 0;
    if (!parseNumber(text, 0, static_cast<long>(portCount) - 1, port)) {
        args.bad("port", text, "ports are 0.." + std::to_string(static_cast<int>(portCount) - 1));
    }
    return static_cast<std::uint16_t>(port);
}

void requireInit(const Args& args) {
    if (liuDrv_inited == 0) {
        throw Failure(args.command() +
                      ": the library is not initialised: run 'init INOUT PORTS' first");
    }
}

std::uint8_t readRegister(const std::string& context, std::uint8_t reg, std::uint16_t channel) {
    std::uint8_t value = 0;
    const int result = liuDrv_read(reg, channel, &value);
    if (result != 0) {
        throw libraryFailure(
            context + ": read of register " + hexByte(reg) + " " + channelText(channel), result);
    }
    return value;
}

// Runs call with fd 2 going to a temporary file and returns what it wrote.
template <typename Call> int captureStderr(Call call, std::string& captured) {
    std::FILE* file = std::tmpfile();
    std::fflush(stderr);
    const int saved = file != nullptr ? dup(STDERR_FILENO) : -1;
    if (saved < 0) {
        if (file != nullptr) {
            std::fclose(file);
        }
        return call();
    }
    dup2(fileno(file), STDERR_FILENO);
    const int result = call();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::rewind(file);
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        captured.append(buffer, got);
    }
    std::fclose(file);
    return result;
}

// Splits captured stderr text: trace lines ("ERROR ...", "CALL ...",
// "DETAIL ...") go back to stderr, the rest is returned.
std::string passTraceLines(const std::string& captured) {
    std::string rest;
    std::size_t start = 0;
    while (start < captured.size()) {
        const std::size_t end = std::min(captured.find('\n', start), captured.size() - 1) + 1;
        const std::string line = captured.substr(start, end - start);
        if (line.starts_with("ERROR ") || line.starts_with("CALL ") ||
            line.starts_with("DETAIL ")) {
            std::fputs(line.c_str(), stderr);
        } else {
            rest += line;
        }
        start = end;
    }
    return rest;
}

std::string upperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

const Setting& parseSetting(const Args& args, std::size_t index) {
    return settings()[parseChoice(args, index, "setting", settingNames())];
}

const Setting& settingOf(const Json& result) {
    const Setting* found = findSetting(result.at("setting").get<std::string>());
    if (found == nullptr) {
        throw Json::other_error::create(501, "unknown setting", nullptr);
    }
    return *found;
}

// The chip's own account of a port's line interface.
struct ChipLine {
    std::uint8_t mode;
    std::uint8_t termination;
    std::uint8_t templateCode;
};

// What a line type configuration changes beside the pulse template: the
// mode bit and the line code fields of both sides (transmit in the high
// nibble).
struct ChipLineCode {
    bool t1Mode = false;
    std::uint8_t fields = 0;
};

ChipLineCode readLineCode(const std::string& where, std::uint16_t port) {
    return {(readRegister(where, kModeRegister, port) & kModeT1Bit) != 0,
            static_cast<std::uint8_t>(
                (readRegister(where, kTransmitRegister, port) & kLineCodeField) << 4 |
                (readRegister(where, kReceiveRegister, port) & kLineCodeField))};
}

ChipLine readChipLine(const std::string& where, std::uint16_t port) {
    return {readRegister(where, kModeRegister, port),
            readRegister(where, kTerminationRegister, port),
            readRegister(where, kTemplateRegister, port)};
}

Json chipLineJson(const ChipLine& chip) {
    return {{"source", "chip registers"},
            {"modeRegister", chip.mode},
            {"mode", modeName(chip.mode)},
            {"terminationRegister", chip.termination},
            {"termination", terminationName(chip.termination)},
            {"templateCodeRegister", chip.templateCode},
            {"templateCode", templateCodeName(chip.templateCode)}};
}

std::string codeCell(const std::string& name, unsigned value) {
    return name.starts_with("unknown") ? name : name + " (" + hexByte(value) + ")";
}

std::vector<std::string> chipLineCells(const Json& registers) {
    return {registers.at("mode").get<std::string>(),
            codeCell(registers.at("termination").get<std::string>(),
                     registers.at("terminationRegister").get<unsigned>()),
            codeCell(registers.at("templateCode").get<std::string>(),
                     registers.at("templateCodeRegister").get<unsigned>())};
}

const std::vector<std::string> kLineRegisterHeader = {"MODE 0x20", "TERMINATION 0x32",
                                                      "TEMPLATE 0x23"};

std::string portContext(const std::string& context, std::uint16_t port) {
    return context + ": port " + std::to_string(port);
}

// The rows of a ports array that made it to a value (a failed row has none).
template <typename Row> std::string renderRows(Table table, const Json& result, Row row) {
    for (const auto& port : result.value("ports", Json::array())) {
        if (port.contains("readBack") || port.contains("value")) {
            table.add(row(port));
        }
    }
    return table.empty() ? std::string() : table.render();
}

} // namespace

// ---- Start-up and library state ---------------------------------------------

void init(Context& context, const Args& args, Json& result) {
    const int inout = parseInout(args, 1);
    const long ports = parseInteger(args, 2, "port count", 1, LIUDRV_ALARM_PORTS);
    args.noMoreThan(2);
    result["inout"] = inout;
    result["ports"] = ports;
    const int code = context.init(args, inout, static_cast<int>(ports));
    result["result"] = code;
    if (code != 0) {
        throw libraryFailure("init", code);
    }
}

std::string initText(const Json& result) {
    if (!result.value("ok", false)) {
        return {};
    }
    const int inout = result.at("inout").get<int>();
    return "LIU 82V5088 up: " + std::to_string(result.at("ports").get<int>()) + " ports, " +
           inoutName(inout) + " line interface (" + std::to_string(inout) + ")\n";
}

void inout(Context& context, const Args& args, Json& result) {
    const int inout = parseInout(args, 1);
    args.noMoreThan(1);
    context.setInOut(args, inout);
    result["inout"] = liuDrv_inoutType;
}

std::string inoutText(const Json& result) {
    const int inout = result.at("inout").get<int>();
    return "input/output type: " + inoutName(inout) + " (" + std::to_string(inout) +
           "), used by the next line type setting\n";
}

void state(Context&, const Args& args, Json& result) {
    args.noMoreThan(0);
    const std::pair<const char*, long> globals[] = {
        {"liuDrv_inited", liuDrv_inited},
        {"liuDrv_maxPorts", liuDrv_maxPorts},
        {"liuDrv_maxLius", liuDrv_maxLius},
        {"liuDrv_maxPortsLiu", liuDrv_maxPortsLiu},
        {"liuDrv_liuTyp", liuDrv_liuTyp},
        {"liuDrv_inoutType", liuDrv_inoutType},
        {"liuDrv_lineType", liuDrv_lineType},
        {"liuTsId", liuTsId},
        {"firstCall", firstCall},
        {"liuDrv_regOffs", liuDrv_regOffs},
    };
    for (const auto& [name, value] : globals) {
        result[name] = value;
    }
}

std::string stateText(const Json& result) {
    Table table({"NAME", "VALUE"});
    for (const auto& [name, value] : result.items()) {
        if (name != "ok" && name != "command") {
            table.add({name, std::to_string(value.get<long>())});
        }
    }
    return table.render();
}

void connected(Context&, const Args& args, Json& result) {
    args.noMoreThan(0);
    requireInit(args);
    const int code = liuDrv_isLiuConnected();
    result["result"] = code;
    result["connected"] = code == 0;
    if (code != 0) {
        throw libraryFailure("connected", code);
    }
}

std::string connectedText(const Json& result) {
    return result.value("ok", false) ? "the LIU answers (global register 0x04 read)\n" : "";
}

void broadcast(Context&, const Args& args, Json& result) {
    const int mode = static_cast<int>(parseChoice(args, 1, "mode", {"off", "on"}));
    args.noMoreThan(1);
    liuDrv_broadcastMode(mode);
    result["mode"] = mode;
}

std::string broadcastText(const Json& result) {
    return std::string("broadcast mode ") + (result.at("mode").get<int>() != 0 ? "on" : "off") +
           " (this LIU has none: nothing changes on the chip)\n";
}

// ---- Settings -----------------------------------------------------------------

void set(Context& context, const Args& args, Json& result) {
    const Setting& setting = parseSetting(args, 1);
    requireInit(args);
    const auto ports = parsePorts(args, 2, context.portCount());
    const int value = setting.values[parseChoice(args, 3, "value", setting.words)];
    args.noMoreThan(3);
    context.checkConfigure(args, setting, ports, value);
    const std::string context_ = std::string("set ") + setting.name;
    // The library writes a build-out or line length as a T1 pulse template
    // whatever the port's line type: refuse it on an E1 port, before any port
    // is touched.
    if (setting.id == SettingId::BuildOut || setting.id == SettingId::LineLength) {
        for (const std::uint16_t port : ports) {
            const std::string where = portContext(context_, port);
            if ((readRegister(where, kModeRegister, port) & kModeT1Bit) == 0) {
                throw Failure(where + ": an E1 port (register 0x20 bit 0 clear): build-out and "
                                      "line length are for T1 and JT1 lines; set its line type "
                                      "first (nothing was done)");
            }
        }
    }
    result["setting"] = setting.name;
    result["value"] = value;
    result["ports"] = Json::array();
    Json& rows = result["ports"];
    for (const std::uint16_t port : ports) {
        const std::string where = portContext(context_, port);
        rows.push_back({{"port", port}});
        Json& row = rows.back();
        const bool lineType = setting.id == SettingId::LineType;
        const ChipLineCode before = lineType ? readLineCode(where, port) : ChipLineCode{};
        const int code = context.configure(args, setting, port, value);
        row["result"] = code;
        if (lineType) {
            // A line type configuration rewrites the port's line code and, when
            // the interface refuses the line type, has set the mode bit already.
            const ChipLineCode after = readLineCode(where, port);
            if (code != 0 && after.t1Mode != before.t1Mode) {
                throw Failure(std::string(libraryFailure(where, code).what()) +
                              "; the port's T1/JT1 mode bit (register 0x20 bit 0) was written "
                              "all the same: set its line type again");
            }
            if (code == 0 && before.fields != after.fields) {
                const auto fields = [](std::uint8_t both) {
                    return std::to_string(both >> 4) + "/" + std::to_string(both & 0x0F);
                };
                row["note"] = "line code fields (transmit/receive) " + fields(before.fields) +
                              " -> " + fields(after.fields) +
                              ": a line type setting clears the line code";
            }
        }
        if (code != 0) {
            throw libraryFailure(where, code);
        }
        switch (setting.readBack) {
        case ReadBack::Library: {
            int readBack = INT_MIN;
            const int got = setting.get(port, &readBack);
            if (got != 0) {
                throw libraryFailure(where + ": " + setting.getName, got);
            }
            row["readBack"] = {{"source", setting.getName},
                               {"value", readBack},
                               {"text", shownValue(setting, readBack)}};
            break;
        }
        case ReadBack::LineRegisters:
            row["readBack"] = chipLineJson(readChipLine(where, port));
            break;
        case ReadBack::TemplateRegister: {
            const std::uint8_t code8 = readRegister(where, kTemplateRegister, port);
            row["readBack"] = {{"source", "chip registers"},
                               {"templateCodeRegister", code8},
                               {"templateCode", templateCodeName(code8)}};
            break;
        }
        }
    }
}

std::string setText(const Json& result) {
    const Setting& setting = settingOf(result);
    const std::string value = shownValue(setting, result.at("value").get<int>());
    switch (setting.readBack) {
    case ReadBack::Library: {
        const std::string text =
            renderRows(Table({"PORT", upperCase(setting.label)}), result, [](const Json& port) {
                return std::vector<std::string>{std::to_string(port.at("port").get<unsigned>()),
                                                port.at("readBack").at("text")};
            });
        return text.empty() ? text
                            : std::string(setting.label) + " now, read back with " +
                                  setting.getName + ":\n" + text;
    }
    case ReadBack::LineRegisters: {
        const std::string text = renderRows(
            Table({"PORT", kLineRegisterHeader[0], kLineRegisterHeader[1], kLineRegisterHeader[2]}),
            result, [](const Json& port) {
                auto cells = chipLineCells(port.at("readBack"));
                cells.insert(cells.begin(), std::to_string(port.at("port").get<int>()));
                return cells;
            });
        std::string notes;
        for (const auto& port : result.value("ports", Json::array())) {
            if (port.contains("note")) {
                notes += "port " + std::to_string(port.at("port").get<int>()) + ": " +
                         port.at("note").get<std::string>() + "\n";
            }
        }
        return text.empty()
                   ? text
                   : "line type now, from the chip's registers (" + std::string(setting.getName) +
                         " cannot tell it):\n" + text + notes;
    }
    case ReadBack::TemplateRegister: {
        const std::string text =
            renderRows(Table({"PORT", kLineRegisterHeader[2]}), result, [](const Json& port) {
                const Json& readBack = port.at("readBack");
                return std::vector<std::string>{
                    std::to_string(port.at("port").get<int>()),
                    codeCell(readBack.at("templateCode"),
                             readBack.at("templateCodeRegister").get<unsigned>())};
            });
        return text.empty() ? text
                            : std::string(setting.label) + " " + value +
                                  " set; not readable from the chip (template code 0x08 is T1 "
                                  "for every " +
                                  setting.label + "):\n" + text;
    }
    }
    return {};
}

void get(Context& context, const Args& args, Json& result) {
    const Setting& setting = parseSetting(args, 1);
    requireInit(args);
    const auto ports = parsePorts(args, 2, context.portCount());
    args.noMoreThan(2);
    const std::string context_ = std::string("get ") + setting.name;
    result["setting"] = setting.name;
    result["ports"] = Json::array();
    for (const std::uint16_t port : ports) {
        const std::string where = portContext(context_, port);
        int value = INT_MIN;
        const int code = setting.get(port, &value);
        result["ports"].push_back({{"port", port}, {"result", code}});
        Json& row = result["ports"].back();
        if (code != 0) {
            throw libraryFailure(where, code);
        }
        row["source"] = setting.getName;
        row["value"] = value;
        row["text"] = shownValue(setting, value);
        if (setting.readBack == ReadBack::LineRegisters) {
            row["registers"] = chipLineJson(readChipLine(where, port));
        }
    }
}

std::string getText(const Json& result) {
    const Setting& setting = settingOf(result);
    if (setting.readBack == ReadBack::LineRegisters) {
        Table table({"PORT", "LINE TYPE", kLineRegisterHeader[0], kLineRegisterHeader[1],
                     kLineRegisterHeader[2]});
        table.group(1, 1, "library");
        table.group(2, 3, "chip registers");
        const std::string text = renderRows(table, result, [](const Json& port) {
            if (!port.contains("registers")) {
                return std::vector<std::string>{std::to_string(port.at("port").get<int>()),
                                                port.at("text")};
            }
            auto cells = chipLineCells(port.at("registers"));
            cells.insert(cells.begin(),
                         {std::to_string(port.at("port").get<int>()), port.at("text")});
            return cells;
        });
        return text.empty() ? text
                            : std::string("line type with ") + setting.getName +
                                  " (E1 for every port: the chip cannot tell), and the chip's "
                                  "registers:\n" +
                                  text;
    }
    const std::string text =
        renderRows(Table({"PORT", upperCase(setting.label)}), result, [](const Json& port) {
            return std::vector<std::string>{std::to_string(port.at("port").get<int>()),
                                            port.at("text")};
        });
    return text.empty() ? text
                        : std::string(setting.label) + " with " + setting.getName + ":\n" + text;
}

void show(Context& context, const Args& args, Json& result) {
    requireInit(args);
    std::vector<std::uint16_t> ports;
    if (args.has(1)) {
        ports = parsePorts(args, 1, context.portCount());
    } else {
        for (unsigned port = 0; port < context.portCount(); ++port) {
            ports.push_back(static_cast<std::uint16_t>(port));
        }
    }
    args.noMoreThan(1);

    // The library's get operations shown, in the order they are called.
    static constexpr SettingId kLibrarySettings[] = {
        SettingId::LineCode,    SettingId::Haul,    SettingId::RemoteLoop, SettingId::AnalogLoop,
        SettingId::DigitalLoop, SettingId::TxPower, SettingId::RxPower};
    const AlarmSnapshot* lastPoll = context.lastPoll();
    Json rows = Json::array();
    Json errors = Json::array();
    for (const std::uint16_t port : ports) {
        Json library = Json::object();
        for (const SettingId id : kLibrarySettings) {
            const Setting& entry = setting(id);
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
                        {"alarms", polled ? alarmStates(lastPoll->table, port) : Json()}});
    }
    result["ports"] = std::move(rows);
    result["errors"] = errors;
    if (!errors.empty()) {
        throw Failure(
            "show: " + errors.front().get<std::string>() +
            (errors.size() > 1 ? " (and " + std::to_string(errors.size() - 1) + " more)" : ""));
    }
}

std::string showText(const Json& result) {
    static constexpr struct {
        SettingId id;
        const char* column;
    } kColumns[] = {{SettingId::LineCode, "CODE"},       {SettingId::Haul, "HAUL"},
                    {SettingId::RemoteLoop, "REMOTE"},   {SettingId::AnalogLoop, "ANALOG"},
                    {SettingId::DigitalLoop, "DIGITAL"}, {SettingId::TxPower, "TX"},
                    {SettingId::RxPower, "RX"}};
    std::vector<std::string> header = {"PORT"};
    for (const auto& column : kColumns) {
        header.emplace_back(column.column);
    }
    header.insert(header.end(), kLineRegisterHeader.begin(), kLineRegisterHeader.end());
    header.emplace_back("ALARMS");
    Table table(header);
    table.group(1, std::size(kColumns), "library");
    table.group(1 + std::size(kColumns), 3, "chip registers");
    table.group(4 + std::size(kColumns), 1, "last poll");
    for (const auto& row : result.value("ports", Json::array())) {
        std::vector<std::string> cells = {std::to_string(row.at("port").get<int>())};
        for (const auto& column : kColumns) {
            const Setting& entry = setting(column.id);
            const Json& value = row.at("library").at(entry.name);
            cells.push_back(value.is_null() ? "error" : shownValue(entry, value.get<int>()));
        }
        for (const char* key : {"mode", "termination", "templateCode"}) {
            const Json& value = row.at("registers").at(key);
            cells.push_back(value.is_null() ? "error" : value.get<std::string>());
        }
        std::string alarms = "-";
        if (!row.at("alarms").is_null()) {
            alarms.clear();
            for (const auto& [name, state] : row.at("alarms").items()) {
                if (state != "initial") {
                    alarms += (alarms.empty() ? "" : ", ") + name + " " + state.get<std::string>();
                }
            }
            alarms = alarms.empty() ? "none" : alarms;
        }
        cells.push_back(alarms);
        table.add(cells);
    }
    return table.render();
}

void refclk(Context& context, const Args& args, Json& result) {
    const std::size_t output = parseChoice(args, 1, "reference clock output", {"a", "b"});
    requireInit(args);
    const std::uint16_t port = parsePort(args, 2, context.portCount());
    args.noMoreThan(2);
    result["output"] = output == 0 ? "A" : "B";
    result["port"] = port;
    const int code = context.setRefClock(args, output == 0, port);
    result["result"] = code;
    const std::string where = std::string("refclk ") + (output == 0 ? "a" : "b");
    if (code != 0) {
        throw libraryFailure(where, code);
    }
    const std::uint8_t value = readRegister(where, kRefClockRegister, LIUDRV_CHANNEL_GLOBAL);
    result["readBack"] = {{"source", "chip registers"},
                          {"refClockRegister", value},
                          {"portA", value & 0x07u},
                          {"portB", (value >> 3) & 0x07u}};
}

std::string refclkText(const Json& result) {
    if (!result.contains("readBack")) {
        return {};
    }
    const Json& readBack = result.at("readBack");
    Table table({"OUTPUT", "PORT"});
    table.add({"A", std::to_string(readBack.at("portA").get<int>())});
    table.add({"B", std::to_string(readBack.at("portB").get<int>())});
    return "reference clock ports, read back from global register 0x07 (" +
           hexByte(readBack.at("refClockRegister").get<unsigned>()) + "):\n" + table.render();
}

// ---- Registers ------------------------------------------------------------------

void read(Context&, const Args& args, Json& result) {
    const std::uint8_t reg = parseByte(args, 1, "register");
    const std::uint16_t channel = parseChannel(args, 2);
    args.noMoreThan(2);
    requireInit(args);
    std::uint8_t value = 0;
    const int code = liuDrv_read(reg, channel, &value);
    result["register"] = reg;
    result["channel"] = channelJson(channel);
    result["result"] = code;
    result["value"] = code == 0 ? Json(value) : Json();
    if (code != 0) {
        throw libraryFailure("read", code);
    }
}

std::string readText(const Json& result) {
    if (!result.value("ok", false)) {
        return {};
    }
    return channelText(result.at("channel")) + " register " +
           hexByte(result.at("register").get<unsigned>()) + ": " +
           hexByte(result.at("value").get<unsigned>()) + "\n";
}

void write(Context&, const Args& args, Json& result) {
    const std::uint8_t reg = parseByte(args, 1, "register");
    const std::uint16_t channel = parseChannel(args, 2);
    const std::uint8_t value = parseByte(args, 3, "value");
    args.noMoreThan(3);
    requireInit(args);
    const int code = liuDrv_write(reg, channel, value, 1);
    result["register"] = reg;
    result["channel"] = channelJson(channel);
    result["value"] = value;
    result["result"] = code;
    if (code != 0) {
        throw libraryFailure("write", code);
    }
}

std::string writeText(const Json& result) {
    if (!result.value("ok", false)) {
        return {};
    }
    return channelText(result.at("channel")) + " register " +
           hexByte(result.at("register").get<unsigned>()) +
           " := " + hexByte(result.at("value").get<unsigned>()) + "\n";
}

void dump(Context& context, const Args& args, Json& result) {
    requireInit(args);
    const std::uint16_t port = parsePort(args, 1, context.portCount());
    args.noMoreThan(1);
    std::string captured;
    const int code = captureStderr([&] { return liuDrv_dumpPulseShapeParam(port); }, captured);
    result["port"] = port;
    result["result"] = code;
    result["printout"] = passTraceLines(captured);
    if (code != 0) {
        throw libraryFailure("dump: port " + std::to_string(port), code);
    }
}

std::string dumpText(const Json& result) {
    return result.value("printout", "");
}

void has(Context& context, const Args& args, Json& result) {
    const std::size_t which = parseChoice(args, 1, "indication", {"los", "prbs"});
    requireInit(args);
    const auto ports = parsePorts(args, 2, context.portCount());
    args.noMoreThan(2);
    result["indication"] = which == 0 ? "LOS" : "PRBS";
    result["ports"] = Json::array();
    for (const std::uint16_t port : ports) {
        const int bits = which == 0 ? liuDrv_hasLos(port) : liuDrv_hasPrbs(port);
        result["ports"].push_back({{"port", port}, {"status", bits}});
    }
}

std::string hasText(const Json& result) {
    const std::string name = result.at("indication");
    Table table({"PORT", name});
    for (const auto& port : result.at("ports")) {
        const int bits = port.at("status").get<int>();
        table.add(
            {std::to_string(port.at("port").get<int>()),
             bits != 0 ? "present (" + hexByte(static_cast<unsigned>(bits)) + ")" : "absent"});
    }
    return name + " in alarm status register 0x36:\n" + table.render();
}

// ---- Alarms -----------------------------------------------------------------------

void poll(Context& context, const Args& args, Json& result) {
    args.noMoreThan(0);
    requireInit(args);
    const AlarmSnapshot& snapshot = context.poll(args);
    result["time"] = snapshot.time;
    result["ports"] = alarmRows(snapshot);
}

std::string pollText(const Json& result) {
    std::vector<std::string> header = {"PORT"};
    for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
        header.emplace_back(indicationName(id));
    }
    Table table(header);
    for (const auto& row : result.at("ports")) {
        std::vector<std::string> cells = {std::to_string(row.at("port").get<int>())};
        for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
            const std::string state = row.at(indicationName(id));
            cells.push_back(state == "initial" ? "-" : state);
        }
        table.add(cells);
    }
    return "alarm states at " + result.at("time").get<std::string>() +
           " (- not seen active since start-up):\n" + table.render();
}

void watch(Context& context, const Args& args, Json& result) {
    const double seconds = args.has(1) ? parseSeconds(args, 1, "time", 0.01, 31536000) : 0;
    args.noMoreThan(1);
    requireInit(args);
    result["seconds"] = seconds;
    context.watch(args, seconds, result);
}

std::string watchText(const Json& result) {
    const Json& changes = result.at("changes");
    if (changes.empty()) {
        return "watch: no alarm changed\n";
    }
    Table summary({"PORT", "INDICATION", "WENT ACTIVE", "NOW", "SINCE"});
    for (const auto& change : changes) {
        summary.add({std::to_string(change.at("port").get<int>()), change.at("indication"),
                     std::to_string(change.at("wentActive").get<int>()), change.at("state"),
                     change.at("since")});
    }
    return "watch: alarms that changed:\n" + summary.render();
}

void status(Context& context, const Args& args, Json& result) {
    std::vector<std::uint16_t> ports;
    if (args.has(1)) {
        ports = parsePorts(args, 1, context.portCount());
    } else {
        for (unsigned port = 0; port < context.portCount(); ++port) {
            ports.push_back(static_cast<std::uint16_t>(port));
        }
    }
    args.noMoreThan(1);
    context.status(args, ports, result);
}

std::string statusText(const Json& result) {
    const Json& daemon = result.at("daemon");
    std::string text = "liud " + daemon.at("version").get<std::string>() + ", pid " +
                       std::to_string(daemon.at("pid").get<long>()) + ", up since " +
                       daemon.at("started").get<std::string>() + ", configuration " +
                       daemon.at("config").get<std::string>() + "\n";
    char line[200];
    std::snprintf(line, sizeof line,
                  "%s interface, %d ports; a poll every %d ms (%llu so far), an audit every %g s; "
                  "%llu failed transfers, %llu drifts repaired\n",
                  daemon.at("inout").get<std::string>().c_str(), daemon.at("ports").get<int>(),
                  daemon.at("pollIntervalMs").get<int>(),
                  daemon.at("polls").get<unsigned long long>(),
                  daemon.at("auditIntervalS").get<double>(),
                  daemon.at("failedTransfers").get<unsigned long long>(),
                  daemon.at("driftsRepaired").get<unsigned long long>());
    text += line;
    Table table({"PORT", "LINE", "CHIP", "CODE", "LBO/LEN", "HAUL", "LOOPS", "TX", "RX", "FRAMING",
                 "CIRCUIT", "ALARMS", "LAST CHANGE"});
    table.group(1, 9, "configured (CHIP: line type in the registers)");
    auto onOff = [](const Json& value, const char* on, const char* off) {
        return value.is_null() ? std::string("?") : value.get<bool>() ? on : off;
    };
    for (const auto& port : result.at("ports")) {
        const Json& config = port.at("config");
        const Json& chip = port.at("chip");
        std::string loops;
        static constexpr std::pair<const char*, const char*> kLoops[] = {
            {"remoteLoop", "remote"}, {"analogLoop", "analog"}, {"digitalLoop", "digital"}};
        for (const auto& [key, name] : kLoops) {
            if (config.at(key).get<bool>()) {
                loops.append(loops.empty() ? "" : ",").append(name);
            }
        }
        std::string lbo = "-";
        if (!config.at("buildOut").is_null()) {
            lbo = "lbo " + std::to_string(config.at("buildOut").get<int>());
        } else if (!config.at("lineLength").is_null()) {
            lbo = "len " + std::to_string(config.at("lineLength").get<int>());
        }
        std::string alarms;
        for (const auto& [name, state] : port.at("alarms").items()) {
            if (state == "active") {
                alarms += (alarms.empty() ? "" : ",") + name;
            }
        }
        table.add({std::to_string(port.at("port").get<int>()), config.at("lineType"),
                   chip.at("lineType").is_null() ? "?" : chip.at("lineType").get<std::string>(),
                   std::to_string(config.at("lineCode").get<int>()), lbo,
                   std::to_string(config.at("haul").get<int>()), loops.empty() ? "-" : loops,
                   onOff(config.at("txPower"), "up", "down"),
                   onOff(config.at("rxPower"), "up", "down"),
                   config.at("framing").is_null() ? "-" : config.at("framing").get<std::string>(),
                   config.at("circuit").get<std::string>().empty() ? "-" : config.at("circuit"),
                   alarms.empty() ? "none" : alarms,
                   port.at("lastChange").is_null() ? "-" : port.at("lastChange")});
    }
    return text + table.render();
}

// ---- The session ------------------------------------------------------------------

void trace(Context&, const Args& args, Json& result) {
    static constexpr int kLevels[] = {LIU_TRACE_SHOW_NONE, LIU_TRACE_SHOW_ERRORS,
                                      LIU_TRACE_SHOW_CALLS, LIU_TRACE_SHOW_DETAILS};
    static const std::vector<std::string_view> kNames = {"off", "error", "call", "detail"};
    const std::size_t which = parseChoice(args, 1, "level", kNames);
    args.noMoreThan(1);
    liuTrace_setLevel(kLevels[which]);
    result["level"] = kNames[which];
}

std::string traceText(const Json&) {
    return {};
}

void sleep(Context& context, const Args& args, Json& result) {
    const double seconds = parseSeconds(args, 1, "time", 0, 3600);
    args.noMoreThan(1);
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds);
    wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR && !context.interrupted()) {
    }
    result["seconds"] = seconds;
    result["interrupted"] = context.interrupted();
}

std::string sleepText(const Json&) {
    return {};
}

void echo(Context&, const Args& args, Json& result) {
    std::string text;
    for (std::size_t i = 1; i <= args.count(); ++i) {
        text += (i > 1 ? " " : "") + args.word(i, "text");
    }
    result["text"] = text;
}

std::string echoText(const Json& result) {
    return result.at("text").get<std::string>() + "\n";
}

void help(Context&, const Args& args, Json& result) {
    args.noMoreThan(1);
    if (!args.has(1)) {
        result["commands"] = Json::array();
        for (const auto& entry : commands()) {
            result["commands"].push_back(
                {{"name", entry.name}, {"synopsis", entry.synopsis}, {"summary", entry.summary}});
        }
        return;
    }
    const CommandEntry* entry = findCommand(args.word(1, "command"));
    if (entry == nullptr) {
        args.bad("command", args.word(1, "command"), "try 'help'");
    }
    result["topic"] = entry->name;
    result["synopsis"] = entry->synopsis;
    result["summary"] = entry->summary;
    result["details"] = entry->details;
}

std::string helpText(const Json& result) {
    return liucmd::helpText(result.value("topic", ""));
}

void quit(Context&, const Args& args, Json&) {
    args.noMoreThan(0);
}

std::string quitText(const Json&) {
    return {};
}

} // namespace liucmd::handlers
