// SPDX-License-Identifier: MIT
// set, get and show: the per-port settings, read back through the library's
// get operations, or from the chip's own registers where those cannot tell.
#include "Session.h"

#include "ChipNames.h"

#include <climits>

namespace liuctl {

namespace {

// How a setting is read back after set.
enum class ReadBack {
    Library,          // its own get operation
    LineRegisters,    // registers 0x20, 0x32, 0x23: the library cannot tell the line type
    TemplateRegister, // register 0x23: the chip cannot tell build-out or line length
};

struct Setting {
    const char* name;  // command word
    const char* label; // in sentences and (upper case) in table headers
    std::vector<std::string_view> words;
    std::vector<std::string> shown; // how each value is printed
    std::vector<int> values;        // library codes, by word
    int (*set)(std::uint16_t, int);
    int (*get)(std::uint16_t, int*);
    const char* getName;
    ReadBack readBack;
};

const std::vector<Setting>& settings() {
    static const std::vector<std::string_view> kOnOff = {"off", "on"};
    static const std::vector<std::string_view> kUpDown = {"down", "up"};
    static const std::vector<Setting> kSettings = {
        {"linetype",
         "line type",
         {"e1", "t1", "jt1"},
         {"E1", "T1", "JT1"},
         {1, 2, 3},
         liuDrv_setLineType,
         liuDrv_getLineType,
         "liuDrv_getLineType",
         ReadBack::LineRegisters},
        {"linecode",
         "line code",
         {"1", "2"},
         {"1", "2"},
         {1, 2},
         liuDrv_setLineCode,
         liuDrv_getLineCode,
         "liuDrv_getLineCode",
         ReadBack::Library},
        {"lbo",
         "build-out",
         {"1", "2", "3", "4"},
         {"1", "2", "3", "4"},
         {1, 2, 3, 4},
         liuDrv_setLineBuildOut,
         liuDrv_getLineBuildOut,
         "liuDrv_getLineBuildOut",
         ReadBack::TemplateRegister},
        {"linelen",
         "line length",
         {"1", "2", "3", "4", "5"},
         {"1", "2", "3", "4", "5"},
         {1, 2, 3, 4, 5},
         liuDrv_setLineLength,
         liuDrv_getLineLength,
         "liuDrv_getLineLength",
         ReadBack::TemplateRegister},
        {"haul",
         "haul type",
         {"1", "2"},
         {"1", "2"},
         {1, 2},
         liuDrv_setHaulType,
         liuDrv_getHaulType,
         "liuDrv_getHaulType",
         ReadBack::Library},
        {"remoteloop",
         "remote loopback",
         kOnOff,
         {"off", "on"},
         {0, 1},
         liuDrv_setLoopRemote,
         liuDrv_getLoopRemote,
         "liuDrv_getLoopRemote",
         ReadBack::Library},
        {"analogloop",
         "analog loopback",
         kOnOff,
         {"off", "on"},
         {0, 1},
         liuDrv_setLoopAnalog,
         liuDrv_getLoopAnalog,
         "liuDrv_getLoopAnalog",
         ReadBack::Library},
        {"digitalloop",
         "digital loopback",
         kOnOff,
         {"off", "on"},
         {0, 1},
         liuDrv_setLoopDigital,
         liuDrv_getLoopDigital,
         "liuDrv_getLoopDigital",
         ReadBack::Library},
        {"txpower",
         "transmitter power",
         kUpDown,
         {"down", "up"},
         {0, 1},
         liuDrv_setPowerupTx,
         liuDrv_getPowerupTx,
         "liuDrv_getPowerupTx",
         ReadBack::Library},
        {"rxpower",
         "receiver power",
         kUpDown,
         {"down", "up"},
         {0, 1},
         liuDrv_setPowerupRx,
         liuDrv_getPowerupRx,
         "liuDrv_getPowerupRx",
         ReadBack::Library},
    };
    return kSettings;
}

const Setting& parseSetting(const Args& args, std::size_t index) {
    std::vector<std::string_view> names;
    for (const auto& setting : settings()) {
        names.push_back(setting.name);
    }
    return settings()[parseChoice(args, index, "setting", names)];
}

std::string shownValue(const Setting& setting, int value) {
    for (std::size_t i = 0; i < setting.values.size(); ++i) {
        if (setting.values[i] == value) {
            return setting.shown[i];
        }
    }
    return std::to_string(value);
}

std::string upperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string portContext(const std::string& context, std::uint16_t port) {
    return context + ": port " + std::to_string(port);
}

Failure libraryFailure(const std::string& context, int result) {
    return Failure(context + ": library result " + std::to_string(result));
}

// The chip's own account of a port's line interface.
struct LineRegisters {
    std::uint8_t mode;
    std::uint8_t termination;
    std::uint8_t templateCode;
};

std::string codeCell(const std::string& name, std::uint8_t value) {
    return name.starts_with("unknown") ? name : name + " (" + hexByte(value) + ")";
}

Json lineRegistersJson(const LineRegisters& chip) {
    return Json::object()
        .set("source", "chip registers")
        .set("modeRegister", unsigned{chip.mode})
        .set("mode", modeName(chip.mode))
        .set("terminationRegister", unsigned{chip.termination})
        .set("termination", terminationName(chip.termination))
        .set("templateCodeRegister", unsigned{chip.templateCode})
        .set("templateCode", templateCodeName(chip.templateCode));
}

Json templateRegisterJson(std::uint8_t code) {
    return Json::object()
        .set("source", "chip registers")
        .set("templateCodeRegister", unsigned{code})
        .set("templateCode", templateCodeName(code));
}

std::vector<std::string> lineRegisterCells(const LineRegisters& chip) {
    return {modeName(chip.mode), codeCell(terminationName(chip.termination), chip.termination),
            codeCell(templateCodeName(chip.templateCode), chip.templateCode)};
}

const std::vector<std::string> kLineRegisterHeader = {"MODE 0x20", "TERMINATION 0x32",
                                                      "TEMPLATE 0x23"};

// Rows of a set or get report, printed as one table or one JSON object.
struct Report {
    explicit Report(Table table) : table(std::move(table)) {}
    Table table;
    Json ports = Json::array();
    std::string caption;
};

void print(const Output& out, Report& report, Json json) {
    if (out.json()) {
        out.emit(json.set("ports", std::move(report.ports)));
    } else if (!report.table.empty()) {
        out.text(report.caption + report.table.render());
    }
}

} // namespace

void Session::set(const Args& args) {
    const Setting& setting = parseSetting(args, 1);
    requireInit(args);
    const auto ports = parsePorts(args, 2, liuDrv_maxPorts);
    const int value = setting.values[parseChoice(args, 3, "value", setting.words)];
    args.noMoreThan(3);
    const std::string context = std::string("set ") + setting.name;

    Report report(Table({"PORT"}));
    switch (setting.readBack) {
    case ReadBack::Library:
        report.table = Table({"PORT", upperCase(setting.label)});
        report.caption =
            std::string(setting.label) + " now, read back with " + setting.getName + ":\n";
        break;
    case ReadBack::LineRegisters:
        report.table =
            Table({"PORT", kLineRegisterHeader[0], kLineRegisterHeader[1], kLineRegisterHeader[2]});
        report.caption = "line type now, from the chip's registers (" +
                         std::string(setting.getName) + " cannot tell it):\n";
        break;
    case ReadBack::TemplateRegister:
        report.table = Table({"PORT", kLineRegisterHeader[2]});
        report.caption = std::string(setting.label) + " " + shownValue(setting, value) +
                         " set; not readable from the chip (template code 0x08 is T1 for "
                         "every " +
                         setting.label + "):\n";
        break;
    }
    Json json =
        Json::object().set("command", "set").set("setting", setting.name).set("value", value);
    try {
        for (const std::uint16_t port : ports) {
            const std::string where = portContext(context, port);
            Json row = Json::object().set("port", unsigned{port});
            const int result = setting.set(port, value);
            row.set("result", result);
            if (result != 0) {
                report.ports.push(std::move(row));
                throw libraryFailure(where, result);
            }
            switch (setting.readBack) {
            case ReadBack::Library: {
                int readBack = INT_MIN;
                const int got = setting.get(port, &readBack);
                if (got != 0) {
                    report.ports.push(std::move(row));
                    throw libraryFailure(where + ": " + setting.getName, got);
                }
                row.set("readBack", Json::object()
                                        .set("source", setting.getName)
                                        .set("value", readBack)
                                        .set("text", shownValue(setting, readBack)));
                report.table.add({std::to_string(port), shownValue(setting, readBack)});
                break;
            }
            case ReadBack::LineRegisters: {
                const LineRegisters chip{readRegister(where, kModeRegister, port),
                                         readRegister(where, kTerminationRegister, port),
                                         readRegister(where, kTemplateRegister, port)};
                row.set("readBack", lineRegistersJson(chip));
                auto cells = lineRegisterCells(chip);
                cells.insert(cells.begin(), std::to_string(port));
                report.table.add(cells);
                break;
            }
            case ReadBack::TemplateRegister: {
                const std::uint8_t code = readRegister(where, kTemplateRegister, port);
                row.set("readBack", templateRegisterJson(code));
                report.table.add({std::to_string(port), codeCell(templateCodeName(code), code)});
                break;
            }
            }
            report.ports.push(std::move(row));
        }
    } catch (const Failure&) {
        print(out_, report, std::move(json));
        throw;
    }
    print(out_, report, std::move(json));
}

void Session::get(const Args& args) {
    const Setting& setting = parseSetting(args, 1);
    requireInit(args);
    const auto ports = parsePorts(args, 2, liuDrv_maxPorts);
    args.noMoreThan(2);
    const std::string context = std::string("get ") + setting.name;
    const bool lineType = setting.readBack == ReadBack::LineRegisters;

    Report report(lineType ? Table({"PORT", "LINE TYPE", kLineRegisterHeader[0],
                                    kLineRegisterHeader[1], kLineRegisterHeader[2]})
                           : Table({"PORT", upperCase(setting.label)}));
    if (lineType) {
        report.table.group(1, 1, "library");
        report.table.group(2, 3, "chip registers");
        report.caption = std::string("line type with ") + setting.getName +
                         " (E1 for every port: the chip cannot tell), and the chip's registers:\n";
    } else {
        report.caption = std::string(setting.label) + " with " + setting.getName + ":\n";
    }
    Json json = Json::object().set("command", "get").set("setting", setting.name);
    try {
        for (const std::uint16_t port : ports) {
            const std::string where = portContext(context, port);
            int value = INT_MIN;
            const int result = setting.get(port, &value);
            Json row = Json::object().set("port", unsigned{port}).set("result", result);
            if (result != 0) {
                report.ports.push(std::move(row));
                throw libraryFailure(where, result);
            }
            row.set("source", setting.getName);
            if (lineType) {
                const LineRegisters chip{readRegister(where, kModeRegister, port),
                                         readRegister(where, kTerminationRegister, port),
                                         readRegister(where, kTemplateRegister, port)};
                row.set("value", value).set("text", shownValue(setting, value));
                row.set("registers", lineRegistersJson(chip));
                auto cells = lineRegisterCells(chip);
                cells.insert(cells.begin(), {std::to_string(port), shownValue(setting, value)});
                report.table.add(cells);
            } else {
                row.set("value", value).set("text", shownValue(setting, value));
                report.table.add({std::to_string(port), shownValue(setting, value)});
            }
            report.ports.push(std::move(row));
        }
    } catch (const Failure&) {
        print(out_, report, std::move(json));
        throw;
    }
    print(out_, report, std::move(json));
}

void Session::show(const Args& args) {
    requireInit(args);
    std::vector<std::uint16_t> ports;
    if (args.has(1)) {
        ports = parsePorts(args, 1, liuDrv_maxPorts);
    } else {
        for (unsigned port = 0; port < liuDrv_maxPorts; ++port) {
            ports.push_back(static_cast<std::uint16_t>(port));
        }
    }
    args.noMoreThan(1);

    // The library's get operations shown, in the order they are called.
    static constexpr struct {
        const char* name; // setting name, also the JSON key
        const char* column;
    } kLibraryColumns[] = {{"linecode", "CODE"},       {"haul", "HAUL"},
                           {"remoteloop", "REMOTE"},   {"analogloop", "ANALOG"},
                           {"digitalloop", "DIGITAL"}, {"txpower", "TX"},
                           {"rxpower", "RX"}};
    std::vector<std::string> header = {"PORT"};
    for (const auto& column : kLibraryColumns) {
        header.push_back(column.column);
    }
    header.insert(header.end(), kLineRegisterHeader.begin(), kLineRegisterHeader.end());
    header.push_back("ALARMS");
    Table table(header);
    table.group(1, std::size(kLibraryColumns), "library");
    table.group(1 + std::size(kLibraryColumns), 3, "chip registers");
    table.group(4 + std::size(kLibraryColumns), 1, "last poll");

    Json rows = Json::array();
    std::vector<std::string> failures;
    auto failed = [&](const std::string& what, int result) {
        failures.push_back(what + ": library result " + std::to_string(result));
        return "error " + std::to_string(result);
    };
    for (const std::uint16_t port : ports) {
        std::vector<std::string> cells = {std::to_string(port)};
        Json library = Json::object();
        for (const auto& column : kLibraryColumns) {
            const Setting* setting = nullptr;
            for (const auto& candidate : settings()) {
                if (std::string_view(candidate.name) == column.name) {
                    setting = &candidate;
                }
            }
            int value = INT_MIN;
            const int result = setting->get(port, &value);
            if (result != 0) {
                cells.push_back(
                    failed("port " + std::to_string(port) + " " + setting->getName, result));
                library.set(column.name, Json());
            } else {
                cells.push_back(shownValue(*setting, value));
                library.set(column.name, value);
            }
        }
        Json registers = Json::object().set("source", "chip registers");
        const std::pair<std::uint8_t, std::string (*)(std::uint8_t)> kRegisters[] = {
            {kModeRegister, nullptr},
            {kTerminationRegister, terminationName},
            {kTemplateRegister, templateCodeName}};
        static constexpr const char* kKeys[] = {"mode", "termination", "templateCode"};
        for (std::size_t i = 0; i < std::size(kRegisters); ++i) {
            const auto [reg, name] = kRegisters[i];
            std::uint8_t value = 0;
            const int result = liuDrv_read(reg, port, &value);
            const std::string key = kKeys[i];
            if (result != 0) {
                cells.push_back(
                    failed("port " + std::to_string(port) + " register " + hexByte(reg), result));
                registers.set(key + "Register", Json()).set(key, Json());
                continue;
            }
            const std::string text = name == nullptr ? modeName(value) : name(value);
            cells.push_back(text);
            registers.set(key + "Register", unsigned{value}).set(key, text);
        }
        Json alarms;
        std::string alarmCell = "-";
        if (lastPoll_) {
            alarms = Json::object();
            alarmCell.clear();
            for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
                const std::int32_t state = (*lastPoll_)[port][id];
                alarms.set(indicationName(id), alarmStateName(state));
                if (state != LIUDRV_ALARM_INITIAL) {
                    alarmCell += (alarmCell.empty() ? "" : ", ") + std::string(indicationName(id)) +
                                 " " + alarmStateName(state);
                }
            }
            if (alarmCell.empty()) {
                alarmCell = "none";
            }
        }
        cells.push_back(alarmCell);
        table.add(cells);
        rows.push(Json::object()
                      .set("port", unsigned{port})
                      .set("library", std::move(library))
                      .set("registers", std::move(registers))
                      .set("alarms", std::move(alarms)));
    }
    if (out_.json()) {
        Json errors = Json::array();
        for (const auto& failure : failures) {
            errors.push(failure);
        }
        out_.emit(Json::object()
                      .set("command", "show")
                      .set("ports", std::move(rows))
                      .set("errors", std::move(errors)));
    } else {
        out_.text(table.render());
    }
    if (!failures.empty()) {
        throw Failure(
            "show: " + failures.front() +
            (failures.size() > 1 ? " (and " + std::to_string(failures.size() - 1) + " more)" : ""));
    }
}

} // namespace liuctl
