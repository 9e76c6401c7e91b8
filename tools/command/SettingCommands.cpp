// SPDX-License-Identifier: MIT
// The ports' settings and the reference clocks: set, get, refclk.
#include "HandlerSupport.h"

#include <climits>

namespace liucmd::handlers {

namespace {

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

// What the chip holds after a set, by how the setting is read back.
Json readBackJson(const Setting& setting, const std::string& where, std::uint16_t port) {
    switch (setting.readBack) {
    case ReadBack::Library: {
        int value = INT_MIN;
        const int got = setting.get(port, &value);
        if (got != 0) {
            throw libraryFailure(where + ": " + setting.getName, got);
        }
        return {
            {"source", setting.getName}, {"value", value}, {"text", shownValue(setting, value)}};
    }
    case ReadBack::LineRegisters:
        return chipLineJson(readChipLine(where, port));
    case ReadBack::TemplateRegister:
        break;
    }
    const std::uint8_t code = readRegister(where, kTemplateRegister, port);
    return {{"source", "chip registers"},
            {"templateCodeRegister", code},
            {"templateCode", templateCodeName(code)}};
}

void set(Context& context, const Args& args, Json& result) {
    const Setting& setting = args.setting(1);
    const auto& ports = args.ports(2);
    const int value = static_cast<int>(args.number(3));
    context.checkConfigure(args, setting, ports, value);
    const std::string context_ = std::string("set ") + setting.name;
    // Refused on an E1 port before any port is touched.
    if (setting.t1LinesOnly) {
        for (const std::uint16_t port : ports) {
            const std::string where = portContext(context_, port);
            if ((readRegister(where, kModeRegister, port) & kModeT1Bit) == 0) {
                throw Failure(where + ": an E1 port (register 0x20 bit 0 clear): " + kT1LinesOnly +
                              "; set its line type first (nothing was done)");
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
        row["readBack"] = readBackJson(setting, where, port);
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
    case ReadBack::TemplateRegister:
        break;
    }
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
                              " set; not readable from the chip (template code 0x08 is T1 for "
                              "every " +
                              setting.label + "):\n" + text;
}

void get(Context&, const Args& args, Json& result) {
    const Setting& setting = args.setting(1);
    const std::string context_ = std::string("get ") + setting.name;
    result["setting"] = setting.name;
    result["ports"] = Json::array();
    for (const std::uint16_t port : args.ports(2)) {
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

void refclk(Context& context, const Args& args, Json& result) {
    const bool outputA = args.choice(1) == 0;
    const std::uint16_t port = args.port(2);
    result["output"] = outputA ? "A" : "B";
    result["port"] = port;
    const int code = context.setRefClock(args, outputA, port);
    result["result"] = code;
    const std::string where = std::string("refclk ") + (outputA ? "a" : "b");
    if (code != 0) {
        throw libraryFailure(where, code);
    }
    const std::uint8_t value = readRegister(where, kRefClockRegister, LIUDRV_CHANNEL_GLOBAL);
    const RefClockPorts chip = refClockPorts(value);
    result["readBack"] = {{"source", "chip registers"},
                          {"refClockRegister", value},
                          {"portA", chip.a},
                          {"portB", chip.b}};
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

std::string setHelp() {
    return "SETTING and VALUE:\n" + settingsHelp() +
           "PORTS: a port (3), a range (0-3), a list (0,2,4-7) or all.\n"
           "Standalone, the pulse template code the library writes for linetype, lbo and\n"
           "linelen follows the line type requested last for any port, and a line type\n"
           "clears the line code (liuctl says so when it changed).  lbo and linelen are\n"
           "refused on a port in E1 mode (register 0x20 bit 0 clear).  Through liud the\n"
           "setting becomes part of its running configuration: liud checks it as it\n"
           "checks its file, applies the port's line type again before a build-out or\n"
           "line length and the line code after a line type, and its audit keeps it\n"
           "(until the file is reloaded).";
}

const Param kSetting{ArgKind::Setting, "SETTING", "setting"};
const Param kPorts{ArgKind::Ports, "PORTS", "port"};

} // namespace

const std::vector<CommandEntry>& settingCommands() {
    static const std::vector<CommandEntry> kCommands = {
        {.name = "set",
         .summary = "configure ports, then show what the chip now holds",
         .details = setHelp(),
         .args = {kSetting, kPorts, {ArgKind::SettingValue, "VALUE", "value"}},
         .flags = kAtChip | kNeedsInit | kConfigures,
         .handler = set,
         .text = setText},
        {.name = "get",
         .summary = "read a setting back through the library",
         .details = "SETTING as for set.  linetype: liuDrv_getLineType reports E1 for every port\n"
                    "(this chip never tells its pulse template), so registers 0x20, 0x32 and 0x23\n"
                    "are shown beside it.  lbo and linelen: the library cannot read them back\n"
                    "from this chip and reports -1; show prints the template code register.",
         .args = {kSetting, kPorts},
         .flags = kAtChip | kNeedsInit,
         .handler = get,
         .text = getText},
        {.name = "refclk",
         .summary = "choose the port that drives reference clock output A or B",
         .details = "Afterwards global register 0x07 is read to show the ports of both outputs.",
         .args = {{ArgKind::Choice, "", "reference clock output", {"a", "b"}},
                  {ArgKind::Port, "PORT", "port"}},
         .flags = kAtChip | kNeedsInit | kConfigures,
         .handler = refclk,
         .text = refclkText},
    };
    return kCommands;
}

} // namespace liucmd::handlers
