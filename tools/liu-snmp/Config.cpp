// SPDX-License-Identifier: MIT
#include "Config.h"

#include "Words.h"

#include <ini.h>

#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace liusnmp {

namespace {

const std::vector<std::string_view> kGlobalKeys = {
    "liud", "agentx", "agentx_ping", "status_interval", "ifindex_base", "trap"};
const std::vector<std::string_view> kLineTypeKeys = {"e1", "t1", "jt1"};
const std::vector<std::string_view> kPortKeys = {"trap", "clock", "line_length"};
// dsx1LineCoding words, by value - 1.
const std::vector<std::string_view> kCodings = {"jbzs", "b8zs",  "hdb3", "zbtsi",
                                                "ami",  "other", "b6zs"};
// dsx1TransmitClockSource words, by value - 1.
const std::vector<std::string_view> kClocks = {"loop", "local", "through", "adaptive"};
const std::vector<std::string_view> kTrapWords = {"enabled", "disabled"};

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    return first == std::string::npos
               ? std::string()
               : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// "5s", "500ms", "1min" within [min, max].
bool parseDuration(const std::string& text, std::chrono::milliseconds min,
                   std::chrono::milliseconds max, std::chrono::milliseconds& value) {
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(number) || number < 0) {
        return false;
    }
    const std::string unit = end;
    const double scale = unit == "ms" ? 1 : unit == "s" ? 1000 : unit == "min" ? 60000 : -1;
    if (scale < 0) {
        return false;
    }
    value = std::chrono::milliseconds(static_cast<long long>(std::llround(number * scale)));
    return value >= min && value <= max;
}

// Feeds the file to inih a line at a time, counting lines for the errors.
struct Reader {
    std::string text;
    std::size_t position = 0;
    int line = 0;
    std::vector<int> longLines;
    std::vector<std::pair<int, std::string>> sections;
};

char* readLine(char* buffer, int size, void* stream) {
    auto& reader = *static_cast<Reader*>(stream);
    if (reader.position >= reader.text.size()) {
        return nullptr;
    }
    std::size_t end = reader.text.find('\n', reader.position);
    end = end == std::string::npos ? reader.text.size() : end;
    std::string line = reader.text.substr(reader.position, end - reader.position);
    reader.position = end + 1;
    ++reader.line;
    if (line.size() + 2 > static_cast<std::size_t>(size)) {
        reader.longLines.push_back(reader.line);
        line.clear();
    }
    const std::string trimmed = trim(line);
    if (trimmed.starts_with('[') && trimmed.find(']') != std::string::npos) {
        reader.sections.emplace_back(reader.line, trim(trimmed.substr(1, trimmed.find(']') - 1)));
    }
    std::memcpy(buffer, line.c_str(), line.size() + 1);
    return buffer;
}

class Parser {
  public:
    Parser(Config& config, Reader& reader) : config_(config), reader_(reader) {}

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
        for (const auto& [line, name] : reader_.sections) {
            const std::string lower = liucmd::lowerCase(name);
            unsigned first = 0;
            unsigned last = 0;
            if (lower != "global" && lower != "linecode 1" && lower != "linecode 2" &&
                !portRange(lower, first, last)) {
                errors_.emplace_back(line, "unknown section [" + name +
                                               "] (expected [global], [linecode 1], "
                                               "[linecode 2] or [port N] with N or N-M in 0..7)");
            }
        }
    }

    std::vector<std::pair<int, std::string>> errors_;

  private:
    void error(const std::string& reason) { errors_.emplace_back(reader_.line, reason); }

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
        const std::string range = trim(name.substr(5));
        if (range.find(',') != std::string::npos || liucmd::lowerCase(range) == "all" ||
            !liucmd::parsePortList(range, kMaxPorts, ports)) {
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
            if (!value.starts_with('/') || value.size() >= sizeof(sockaddr_un::sun_path)) {
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
            if (!liucmd::parseNumber(value, 1, 2147483647L - kMaxPorts, number)) {
                bad(key, value, "1.." + std::to_string(2147483647L - kMaxPorts));
            } else {
                config_.ifIndexBase = number;
            }
        } else if (key == "trap") {
            const std::size_t which = liucmd::findChoice(value, kTrapWords);
            if (which == kTrapWords.size()) {
                bad(key, value, liucmd::choiceList(kTrapWords));
            } else {
                config_.trapEnabled = which == 0;
            }
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
        if (key == "trap") {
            const std::size_t which = liucmd::findChoice(value, kTrapWords);
            if (which == kTrapWords.size()) {
                bad(key, value, liucmd::choiceList(kTrapWords));
                return;
            }
            for (unsigned port = first; port <= last; ++port) {
                config_.ports[port].trapEnabled = which == 0;
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
    Reader& reader_;
    std::set<std::string> seen_;
};

int handleKey(void* user, const char* section, const char* name, const char* value) {
    static_cast<Parser*>(user)->key(section, liucmd::lowerCase(name), value);
    return 1;
}

} // namespace

int lineTypeColumn(const std::string& lineType) {
    const std::size_t column = liucmd::findChoice(lineType, kLineTypeKeys);
    return column == kLineTypeKeys.size() ? -1 : static_cast<int>(column);
}

Config loadConfig(const std::string& path) {
    Config config;
    config.path = path;
    std::ifstream file(path);
    if (!file) {
        throw BadConfig(path + ": cannot read the file: " + std::strerror(errno) + "\n");
    }
    std::ostringstream content;
    content << file.rdbuf();
    Reader reader;
    reader.text = content.str();
    Parser parser(config, reader);
    ini_allow_multiline = false;
    const int syntax = ini_parse_stream(readLine, &reader, handleKey, &parser);
    if (syntax > 0) {
        parser.errors_.emplace_back(syntax, "syntax error: expected [section] or key = value");
    }
    for (const int line : reader.longLines) {
        parser.errors_.emplace_back(line, "line longer than 200 characters");
    }
    parser.sections();
    if (!parser.errors_.empty()) {
        std::stable_sort(parser.errors_.begin(), parser.errors_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string text;
        for (const auto& [line, reason] : parser.errors_) {
            text += path + ":" + std::to_string(line) + ": " + reason + "\n";
        }
        throw BadConfig(text);
    }
    return config;
}

} // namespace liusnmp
