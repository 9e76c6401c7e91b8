// SPDX-License-Identifier: MIT
#include "Config.h"

#include "LineSocket.h"
#include "Words.h"

#include "LiuDrv.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace liud {

namespace {

using liucmd::Setting;
using liutool::parseDuration;
using liutool::trim;

// E1: unframed, CRC-4, multiframe, both, or the plain frame without either.
const std::vector<std::string_view> kE1Framings = {"none", "crc4", "mf", "crc4-mf", "plain"};
const std::vector<std::string_view> kT1Framings = {"esf", "d4", "none"};
const std::vector<std::string_view> kGlobalKeys = {
    "inout",         "ports",      "scan_interval",  "poll_interval", "audit_interval",
    "refclk_a",      "refclk_b",   "socket",         "socket_mode",   "socket_group",
    "control_group", "raw_writes", "client_timeout", "metrics",       "metrics_interval"};

constexpr std::chrono::milliseconds kPollBesideScan{5000};
constexpr std::chrono::milliseconds kPollAlone{100};

// The keys that take a duration: the least each takes, whether "off" (0)
// is one, the hint of a bad value and where it goes.
struct DurationKey {
    const char* name;
    std::chrono::milliseconds least;
    bool mayBeOff;
    const char* hint;
    std::chrono::milliseconds Config::*field;
};
using namespace std::chrono_literals;
constexpr DurationKey kDurations[] = {
    {"scan_interval", 1ms, true, "1ms or more, e.g. 10ms, or off", &Config::scanInterval},
    {"poll_interval", 10ms, false, "10ms or more, e.g. 100ms or 5s", &Config::pollInterval},
    {"audit_interval", 100ms, true, "100ms or more, e.g. 60s, or off", &Config::auditInterval},
    {"client_timeout", 100ms, false, "100ms or more, e.g. 60s", &Config::clientTimeout},
    {"metrics_interval", 100ms, false, "100ms or more, e.g. 10s", &Config::metricsInterval},
};

const DurationKey* findDuration(const std::string& key) {
    for (const DurationKey& duration : kDurations) {
        if (key == duration.name) {
            return &duration;
        }
    }
    return nullptr;
}

// A section header: [global], [port N] or [port N-M].
struct Section {
    enum Kind { Global, Ports, Unknown } kind = Unknown;
    unsigned first = 0;
    unsigned last = 0;
};

Section parseSection(const std::string& header) {
    const std::string name = liucmd::lowerCase(header);
    Section section;
    if (name == "global") {
        section.kind = Section::Global;
        return section;
    }
    if (!name.starts_with("port ")) {
        return section;
    }
    const std::string range = trim(name.substr(5));
    const std::size_t dash = range.find('-');
    long first = 0;
    long last = 0;
    const bool ok = dash == std::string::npos
                        ? liucmd::parseNumber(range, 0, 255, first) && (last = first, true)
                        : liucmd::parseNumber(range.substr(0, dash), 0, 255, first) &&
                              liucmd::parseNumber(range.substr(dash + 1), first, 255, last);
    if (ok) {
        section = {Section::Ports, static_cast<unsigned>(first), static_cast<unsigned>(last)};
    }
    return section;
}

class Parser {
  public:
    explicit Parser(Config& config) : config_(config) {}

    void key(int line, const std::string& sectionName, const std::string& key,
             const std::string& value) {
        if (sectionName.empty()) {
            error(line, "'" + key + "' outside a section ([global] or [port N])");
            return;
        }
        const Section section = parseSection(sectionName);
        if (section.kind == Section::Global) {
            globalKey(line, key, value);
        } else if (section.kind == Section::Ports) {
            portKey(line, section, sectionName, key, value);
        } // an unknown section is reported once, at its header
    }

    void sections(const std::vector<std::pair<int, std::string>>& headers) {
        for (const auto& [line, name] : headers) {
            const Section section = parseSection(name);
            if (section.kind == Section::Unknown) {
                error(line,
                      "unknown section [" + name + "] (expected [global], [port N] or [port N-M])");
            } else if (section.kind == Section::Ports) {
                portSections_.emplace_back(line, section);
            }
            if (section.kind == Section::Global && globalLine_ == 0) {
                globalLine_ = line;
            }
        }
    }

    // The checks that need the whole file: the port count, the interface;
    // the full poll's interval when the file gives none: a safety net beside
    // the scan, or the only way alarms are seen without one.
    void finish() {
        if (!pollGiven_) {
            config_.pollInterval = config_.scanInterval.count() > 0 ? kPollBesideScan : kPollAlone;
        }
        if (inoutLine_ == 0) {
            error(std::max(globalLine_, 1), "inout missing: [global] must say asym or sym");
        }
        for (const auto& [line, section] : portSections_) {
            if (section.last >= config_.ports) {
                error(line, "port " + std::to_string(section.last) +
                                " out of range (ports = " + std::to_string(config_.ports) +
                                ": 0.." + std::to_string(config_.ports - 1) + ")");
            }
        }
        for (std::size_t output = 0; output < 2; ++output) {
            const auto& port = config_.refClocks[output];
            if (port && *port >= config_.ports) {
                error(config_.refClockFileLines[output],
                      std::string("refclk_") + (output == 0 ? "a" : "b") + ": port " +
                          std::to_string(*port) +
                          " out of range (ports = " + std::to_string(config_.ports) + ")");
            }
        }
        if (inoutLine_ != 0) {
            for (unsigned port = 0; port < config_.ports; ++port) {
                for (auto& problem : checkPort(config_, port)) {
                    errors_.push_back(std::move(problem));
                }
            }
        }
    }

    std::vector<ConfigError> errors_;

  private:
    void error(int line, std::string reason) { errors_.push_back({line, std::move(reason)}); }

    // False (and an error) when key was given before in this scope.
    bool once(int line, const std::string& scope, const std::string& key) {
        const auto [where, fresh] = seen_.emplace(scope + "/" + key, line);
        if (!fresh) {
            error(line, key + (scope == "global" ? "" : " for " + scope) + " already set at line " +
                            std::to_string(where->second));
        }
        return fresh;
    }

    void bad(int line, const std::string& key, const std::string& value, const std::string& hint) {
        error(line, "bad " + key + " '" + value + "' (" + hint + ")");
    }

    void globalKey(int line, const std::string& key, const std::string& value) {
        if (liucmd::findChoice(key, kGlobalKeys) == kGlobalKeys.size()) {
            error(line, "unknown key '" + key + "' in [global] (" +
                            liucmd::choiceList(kGlobalKeys) + ")");
            return;
        }
        if (!once(line, "global", key)) {
            return;
        }
        long number = 0;
        if (const DurationKey* duration = findDuration(key)) {
            std::chrono::milliseconds interval{};
            const bool off = duration->mayBeOff && (value == "off" || value == "0");
            if (!off && (!parseDuration(value, interval) || interval < duration->least)) {
                bad(line, key, value, duration->hint);
                return;
            }
            config_.*(duration->field) = interval;
            pollGiven_ = pollGiven_ || duration->field == &Config::pollInterval;
        } else if (key == "inout") {
            const std::size_t which = liucmd::findChoice(value, {"asym", "sym"});
            if (which == 2) {
                bad(line, key, value, "asym or sym");
                return;
            }
            config_.inout = which == 0 ? LIUDRV_INOUT_ASYMMETRICAL : LIUDRV_INOUT_SYMMETRICAL;
            config_.inoutLine = inoutLine_ = line;
        } else if (key == "ports") {
            if (!liucmd::parseNumber(value, 1, kChipPorts, number)) {
                const std::string chip = std::to_string(kChipPorts);
                bad(line, key, value, "1.." + chip + ": the LIU has " + chip + " ports");
                return;
            }
            config_.ports = static_cast<unsigned>(number);
            config_.portsLine = line;
        } else if (key == "refclk_a" || key == "refclk_b") {
            if (!liucmd::parseNumber(value, 0, kChipPorts - 1, number)) {
                bad(line, key, value, "a port 0.." + std::to_string(kChipPorts - 1));
                return;
            }
            const std::size_t output = key == "refclk_a" ? 0 : 1;
            config_.refClocks[output] = static_cast<unsigned>(number);
            config_.refClockFileLines[output] = line;
        } else if (key == "socket") {
            if (!value.starts_with('/') || !liutool::fitsSocketAddress(value)) {
                bad(line, key, value, "an absolute path of at most 107 bytes");
                return;
            }
            config_.socketPath = value;
            config_.socketLine = line;
        } else if (key == "socket_mode") {
            char* end = nullptr;
            const unsigned long mode = std::strtoul(value.c_str(), &end, 8);
            if (value.empty() || *end != '\0' || mode > 0777) {
                bad(line, key, value, "octal permissions, e.g. 0660");
                return;
            }
            config_.socketMode = static_cast<mode_t>(mode);
        } else if (key == "socket_group" || key == "control_group") {
            std::optional<gid_t> gid;
            if (const group* entry = getgrnam(value.c_str()); entry != nullptr) {
                gid = entry->gr_gid;
            } else if (liucmd::parseNumber(value, 0, 0x7FFFFFFF, number)) {
                gid = static_cast<gid_t>(number);
            } else {
                error(line, "unknown group '" + value + "' for " + key);
                return;
            }
            if (key == "socket_group") {
                config_.socketGroup = gid;
            } else {
                config_.controlGroup = gid;
                config_.controlGroupName = value;
            }
        } else if (key == "raw_writes") {
            const std::size_t which = liucmd::findChoice(value, {"off", "on"});
            if (which == 2) {
                bad(line, key, value, "off or on");
                return;
            }
            config_.rawWrites = which == 1;
        } else if (key == "metrics") {
            const std::string directory = value.substr(0, value.rfind('/') + 1);
            struct stat info {};
            if (!value.starts_with('/') || value.ends_with('/')) {
                bad(line, key, value, "an absolute file path");
            } else if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                error(line, "metrics: no directory " + directory);
            } else {
                config_.metricsPath = value;
            }
        }
    }

    void portKey(int line, const Section& section, const std::string& name, const std::string& key,
                 const std::string& value) {
        const Setting* setting = liucmd::findSetting(key);
        if (setting == nullptr && key != "framing" && key != "circuit") {
            error(line, "unknown key '" + key + "' in [" + name + "] (" +
                            liucmd::choiceList(liucmd::settingNames()) + ", framing or circuit)");
            return;
        }
        int code = 0;
        if (setting != nullptr && !liucmd::settingValue(*setting, value, code)) {
            bad(line, key, value, liucmd::choiceList(setting->words));
            return;
        }
        if (key == "circuit" &&
            (value.size() > 255 || std::any_of(value.begin(), value.end(), [](char c) {
                 return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
             }))) {
            bad(line, key, value, "printable text of at most 255 bytes");
            return;
        }
        if (key == "framing" && liucmd::findChoice(value, kE1Framings) == kE1Framings.size() &&
            liucmd::findChoice(value, kT1Framings) == kT1Framings.size()) {
            bad(line, key, value,
                "E1: none, crc4, mf, crc4-mf or plain; T1 and JT1: esf, d4 or none");
            return;
        }
        for (unsigned port = section.first; port <= section.last && port < kChipPorts; ++port) {
            if (!once(line, "port " + std::to_string(port), key)) {
                return; // one error for the section line is enough
            }
        }
        if (config_.portConfigs.size() < kChipPorts) {
            config_.portConfigs.resize(kChipPorts);
        }
        for (unsigned port = section.first; port <= section.last && port < kChipPorts; ++port) {
            PortConfig& target = config_.portConfigs[port];
            if (setting != nullptr) {
                target.explicitly[static_cast<std::size_t>(setting->id)] = code;
                target.fileLines[static_cast<std::size_t>(setting->id)] = line;
            } else if (key == "framing") {
                target.framing = liucmd::lowerCase(value);
                target.framingFileLine = line;
            } else {
                target.circuit = value;
            }
        }
    }

    Config& config_;
    bool pollGiven_ = false;
    std::map<std::string, int> seen_;
    std::vector<std::pair<int, Section>> portSections_;
    int inoutLine_ = 0;
    int globalLine_ = 0;
};

} // namespace

BadConfig::BadConfig(const std::string& path, std::vector<ConfigError> errors)
    : std::runtime_error(liutool::locatedLines(path, errors)), errors_(std::move(errors)) {}

int PortConfig::value(SettingId id) const {
    static constexpr int kDefaults[kSettingCount] = {
        LIUDRV_LINE_TYPE_E1, LIUDRV_LINE_CODE_1, 0, 0, LIUDRV_HAUL_2, 0, 0, 0, 0, 0};
    const auto index = static_cast<std::size_t>(id);
    return explicitly[index].value_or(kDefaults[index]);
}

std::vector<ConfigError> checkPort(const Config& config, unsigned port) {
    std::vector<ConfigError> errors;
    const PortConfig& ports = config.portConfigs[port];
    const std::string where = "port " + std::to_string(port);
    const int lineType = ports.value(SettingId::LineType);
    if (lineType != LIUDRV_LINE_TYPE_E1 && config.inout == LIUDRV_INOUT_ASYMMETRICAL) {
        errors.push_back({ports.fileLine(SettingId::LineType),
                          "linetype " +
                              liucmd::lowerCase(liucmd::shownValue(
                                  liucmd::setting(SettingId::LineType), lineType)) +
                              " on " + where +
                              " needs the symmetrical interface (inout = sym): an asymmetrical "
                              "interface carries E1 only"});
    }
    for (const Setting& setting : liucmd::settings()) {
        if (setting.t1LinesOnly && ports.has(setting.id) && lineType == LIUDRV_LINE_TYPE_E1) {
            errors.push_back(
                {ports.fileLine(setting.id), std::string(setting.name) + " on " + where +
                                                 ", an E1 port: " + liucmd::kT1LinesOnly});
        }
    }
    if (ports.has(SettingId::BuildOut) && ports.has(SettingId::LineLength)) {
        errors.push_back(
            {std::max(ports.fileLine(SettingId::BuildOut), ports.fileLine(SettingId::LineLength)),
             where + " has both lbo (line " + std::to_string(ports.fileLine(SettingId::BuildOut)) +
                 ") and linelen (line " + std::to_string(ports.fileLine(SettingId::LineLength)) +
                 "): a port takes one of them"});
    }
    if (ports.framing) {
        const bool e1 = lineType == LIUDRV_LINE_TYPE_E1;
        const auto& framings = e1 ? kE1Framings : kT1Framings;
        if (liucmd::findChoice(*ports.framing, framings) == framings.size()) {
            errors.push_back({ports.framingFileLine, "framing " + *ports.framing + " on " + where +
                                                         ", an " + (e1 ? "E1" : "T1/JT1") +
                                                         " port (" + liucmd::choiceList(framings) +
                                                         ")"});
        }
    }
    return errors;
}

std::vector<ConfigError> reloadRefusals(const Config& running, const Config& next) {
    std::vector<ConfigError> refusals;
    if (next.ports != running.ports) {
        refusals.push_back({next.portsLine, "ports: the port count cannot change while liud runs "
                                            "(liud brings the chip up once: restart it)"});
    }
    if (next.socketPath != running.socketPath) {
        refusals.push_back({next.socketLine,
                            "socket: the control socket cannot move while liud runs (restart it)"});
    }
    return refusals;
}

Config loadConfig(const std::string& path) {
    Config config;
    config.path = path;
    config.portConfigs.resize(kChipPorts);
    Parser parser(config);
    liutool::IniFile file;
    std::string error;
    if (!file.read(
            path,
            [&](const std::string& section, const std::string& name, const std::string& value) {
                parser.key(file.line(), section, liucmd::lowerCase(name), value);
            },
            error)) {
        throw BadConfig(path, {{0, error}});
    }
    for (auto& problem : file.errors()) {
        parser.errors_.push_back(std::move(problem));
    }
    parser.sections(file.sections());
    parser.finish();
    config.portConfigs.resize(config.ports);
    if (!parser.errors_.empty()) {
        throw BadConfig(path, std::move(parser.errors_));
    }
    return config;
}

} // namespace liud
