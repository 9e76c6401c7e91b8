// SPDX-License-Identifier: MIT
#include "Config.h"

#include "IniFile.h"
#include "LineSocket.h"
#include "Words.h"

#include <set>
#include <vector>

namespace liusnmp {

namespace {

const std::vector<std::string_view> kGlobalKeys = {
    "liud", "agentx", "agentx_ping", "status_interval", "ifindex_base", "trap", "link_trap"};
const std::vector<std::string_view> kLineTypeKeys = {"e1", "t1", "jt1"};
const std::vector<std::string_view> kPortKeys = {"trap", "link_trap", "clock", "line_length"};
// dsx1LineCoding words, by value - 1.
const std::vector<std::string_view> kCodings = {"jbzs", "b8zs",  "hdb3", "zbtsi",
                                                "ami",  "other", "b6zs"};
// dsx1TransmitClockSource words, by value - 1.
const std::vector<std::string_view> kClocks = {"loop", "local", "through", "adaptive"};
const std::vector<std::string_view> kTrapWords = {"enabled", "disabled"};

// "5s", "500ms", "1min" within [min, max].
bool parseDuration(const std::string& text, std::chrono::milliseconds min,
                   std::chrono::milliseconds max, std::chrono::milliseconds& value) {
    return liutool::parseDuration(text, value) && value >= min && value <= max;
}

class Parser {
  public:
    Parser(Config& config, const liutool::IniFile& file) : config_(config), file_(file) {}

    void key(const std::string& section, const std::string& key, const std::string& value) {
        const std::string name = liucmd::lowerCase(section);
        if (name == "global") {
            global(key, value);
        } else if (name == "linecode 1" || name == "linecode 2") {
            lineCode(name.back() == '1' ? 0 : 1, section, key, value);
        } else if (unsigned first = 0, last = 0; portRange(name, first, last)) {
            port(first, last, section, key, value);
        } else if (name.empty()) {
            error("'" + key + "' outside a section ([global], [linecode N] or [port N])");
        } // an unknown section is reported once, at its header
    }

    void sections() {
        for (const auto& [line, name] : file_.sections()) {
            const std::string lower = liucmd::lowerCase(name);
            unsigned first = 0;
            unsigned last = 0;
            if (lower != "global" && lower != "linecode 1" && lower != "linecode 2" &&
                !portRange(lower, first, last)) {
                errors_.push_back({line, "unknown section [" + name +
                                             "] (expected [global], [linecode 1], "
                                             "[linecode 2] or [port N] with N or N-M in 0..7)"});
            }
        }
    }

    std::vector<liutool::LineError> errors_;

  private:
    void error(const std::string& reason) { errors_.push_back({file_.line(), reason}); }

    void bad(const std::string& key, const std::string& value, const std::string& hint) {
        error("bad " + key + " '" + value + "' (" + hint + ")");
    }

    bool once(const std::string& scope, const std::string& key) {
        if (!seen_.insert(scope + "/" + key).second) {
            error(key + " set twice for " + scope);
            return false;
        }
        return true;
    }

    static bool portRange(const std::string& name, unsigned& first, unsigned& last) {
        if (!name.starts_with("port ")) {
            return false;
        }
        std::vector<std::uint16_t> ports;
        const std::string range = liutool::trim(name.substr(5));
        if (range.find(',') != std::string::npos || liucmd::lowerCase(range) == "all" ||
            !liucmd::parsePortList(range, kChipPorts, ports)) {
            return false;
        }
        first = ports.front();
        last = ports.back();
        return true;
    }

    void global(const std::string& key, const std::string& value) {
        if (liucmd::findChoice(key, kGlobalKeys) == kGlobalKeys.size()) {
            error("unknown key '" + key + "' in [global] (" + liucmd::choiceList(kGlobalKeys) +
                  ")");
            return;
        }
        if (!once("[global]", key)) {
            return;
        }
        std::chrono::milliseconds interval{};
        long number = 0;
        if (key == "liud") {
            if (!value.starts_with('/') || !liutool::fitsSocketAddress(value)) {
                bad(key, value, "an absolute path of at most 107 bytes");
            } else {
                config_.liudSocket = value;
            }
        } else if (key == "agentx") {
            if (value.empty()) {
                bad(key, value, "an AgentX address, e.g. unix:/var/agentx/master");
            } else {
                config_.agentx = value;
            }
        } else if (key == "agentx_ping") {
            if (!parseDuration(value, std::chrono::seconds(1), std::chrono::hours(1), interval) ||
                interval.count() % 1000 != 0) {
                bad(key, value, "whole seconds from 1s to 1h, e.g. 5s");
            } else {
                config_.agentxPing = std::chrono::duration_cast<std::chrono::seconds>(interval);
            }
        } else if (key == "status_interval") {
            if (!parseDuration(value, std::chrono::milliseconds(500), std::chrono::hours(1),
                               interval)) {
                bad(key, value, "500ms to 1h, e.g. 10s");
            } else {
                config_.statusInterval = interval;
            }
        } else if (key == "ifindex_base") {
            if (!liucmd::parseNumber(value, 1, 2147483647L - kChipPorts, number)) {
                bad(key, value, "1.." + std::to_string(2147483647L - kChipPorts));
            } else {
                config_.ifIndexBase = number;
            }
        } else if (const std::size_t which = liucmd::findChoice(value, kTrapWords); // the traps
                   which == kTrapWords.size()) {
            bad(key, value, liucmd::choiceList(kTrapWords));
        } else {
            (key == "trap" ? config_.trapEnabled : config_.linkTrapEnabled) = which == 0;
        }
    }

    void lineCode(std::size_t code, const std::string& section, const std::string& key,
                  const std::string& value) {
        const std::size_t type = liucmd::findChoice(key, kLineTypeKeys);
        if (type == kLineTypeKeys.size()) {
            error("unknown key '" + key + "' in [" + section + "] (" +
                  liucmd::choiceList(kLineTypeKeys) + ")");
            return;
        }
        const std::size_t coding = liucmd::findChoice(value, kCodings);
        if (!once("[linecode " + std::to_string(code + 1) + "]", key)) {
            return;
        }
        if (coding == kCodings.size()) {
            bad(key, value, liucmd::choiceList(kCodings));
            return;
        }
        config_.lineCodes[code][type] = static_cast<LineCoding>(coding + 1);
    }

    void port(unsigned first, unsigned last, const std::string& section, const std::string& key,
              const std::string& value) {
        if (liucmd::findChoice(key, kPortKeys) == kPortKeys.size()) {
            error("unknown key '" + key + "' in [" + section + "] (" +
                  liucmd::choiceList(kPortKeys) + ")");
            return;
        }
        for (unsigned port = first; port <= last; ++port) {
            if (!once("port " + std::to_string(port), key)) {
                return;
            }
        }
        long number = 0;
        if (key == "trap" || key == "link_trap") {
            const std::size_t which = liucmd::findChoice(value, kTrapWords);
            if (which == kTrapWords.size()) {
                bad(key, value, liucmd::choiceList(kTrapWords));
                return;
            }
            for (unsigned port = first; port <= last; ++port) {
                (key == "trap" ? config_.ports[port].trapEnabled
                               : config_.ports[port].linkTrapEnabled) = which == 0;
            }
        } else if (key == "clock") {
            const std::size_t which = liucmd::findChoice(value, kClocks);
            if (which == kClocks.size()) {
                bad(key, value, liucmd::choiceList(kClocks));
                return;
            }
            for (unsigned port = first; port <= last; ++port) {
                config_.ports[port].clock = static_cast<ClockSource>(which + 1);
            }
        } else if (!liucmd::parseNumber(value, 0, 64000, number)) {
            bad(key, value, "meters, 0..64000");
        } else {
            for (unsigned port = first; port <= last; ++port) {
                config_.ports[port].lineLength = number;
            }
        }
    }

    Config& config_;
    const liutool::IniFile& file_;
    std::set<std::string> seen_;
};

} // namespace

int lineTypeColumn(const std::string& lineType) {
    const std::size_t column = liucmd::findChoice(lineType, kLineTypeKeys);
    return column == kLineTypeKeys.size() ? -1 : static_cast<int>(column);
}

Config loadConfig(const std::string& path) {
    Config config;
    config.path = path;
    liutool::IniFile file;
    Parser parser(config, file);
    std::string error;
    if (!file.read(
            path,
            [&](const std::string& section, const std::string& name, const std::string& value) {
                parser.key(section, liucmd::lowerCase(name), value);
            },
            error)) {
        throw BadConfig(liutool::located(path, {0, error}) + "\n");
    }
    for (auto& problem : file.errors()) {
        parser.errors_.push_back(std::move(problem));
    }
    parser.sections();
    if (!parser.errors_.empty()) {
        throw BadConfig(liutool::locatedLines(path, parser.errors_));
    }
    return config;
}

} // namespace liusnmp
