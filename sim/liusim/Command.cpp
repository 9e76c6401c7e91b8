// SPDX-License-Identifier: MIT
#include "Command.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace liusim {
namespace {

struct AlarmName {
    std::string_view name;
    std::uint8_t bit;
};

constexpr AlarmName kAlarms[] = {{"los", 0x01},  {"ais", 0x02},  {"df", 0x04},
                                 {"tlos", 0x08}, {"prbs", 0x10}, {"eq", 0x80}};

std::vector<std::string> splitWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t position = 0;
    while (true) {
        position = text.find_first_not_of(" \t\r\n", position);
        if (position == std::string_view::npos) {
            return words;
        }
        const std::size_t end = text.find_first_of(" \t\r\n", position);
        words.emplace_back(text.substr(position, end - position));
        position = end;
    }
}

unsigned long long parseNumber(const std::string& word, const char* what,
                               unsigned long long minimum, unsigned long long maximum) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(word.c_str(), &end, 0);
    if (word.empty() || word[0] == '-' || *end != '\0' || errno != 0 || value < minimum ||
        value > maximum) {
        throw CommandError("bad " + std::string(what) + " '" + word + "' (expected " +
                           std::to_string(minimum) + ".." + std::to_string(maximum) + ")");
    }
    return value;
}

unsigned parseChannel(const std::string& word) {
    return static_cast<unsigned>(parseNumber(word, "channel", 0, LiuModel::kChannels - 1));
}

std::uint8_t parseAlarm(const std::string& word) {
    for (const auto& alarm : kAlarms) {
        if (word == alarm.name) {
            return alarm.bit;
        }
    }
    throw CommandError("unknown alarm '" + word + "' (expected los, ais, df, tlos, prbs or eq)");
}

bool parseSwitch(const std::string& word) {
    if (word == "on") {
        return true;
    }
    if (word == "off") {
        return false;
    }
    throw CommandError("expected on or off, not '" + word + "'");
}

std::uint64_t parseTransferNumber(const std::string& word) {
    return parseNumber(word, "transfer number", 1, LiuModel::kMaxTransferNumber);
}

void expectWords(const std::vector<std::string>& words, std::size_t count, const char* usage) {
    if (words.size() != count) {
        throw CommandError(std::string("usage: ") + usage);
    }
}

Command::Action alarmCommand(const std::vector<std::string>& words) {
    expectWords(words, 4, "alarm CHANNEL los|ais|df|tlos|prbs|eq on|off");
    const unsigned channel = parseChannel(words[1]);
    const std::uint8_t bit = parseAlarm(words[2]);
    if (parseSwitch(words[3])) {
        return [=](LiuModel& model) { model.raiseAlarm(channel, bit); };
    }
    return [=](LiuModel& model) { model.clearAlarm(channel, bit); };
}

Command::Action statusCommand(const std::vector<std::string>& words) {
    expectWords(words, 3, "status CHANNEL VALUE");
    const unsigned channel = parseChannel(words[1]);
    const auto bits = static_cast<std::uint8_t>(parseNumber(words[2], "status value", 0, 0xFF));
    return [=](LiuModel& model) { model.setAlarmStatus(channel, bits); };
}

Command::Action failCommand(const std::vector<std::string>& words) {
    static constexpr const char* kUsage =
        "fail next | fail transfer K | fail from K | fail open on|off | fail none";
    if (words.size() < 2) {
        throw CommandError(std::string("usage: ") + kUsage);
    }
    const std::string& what = words[1];
    if (what == "next") {
        expectWords(words, 2, "fail next");
        return [](LiuModel& model) { model.failTransfer(1); };
    }
    if (what == "transfer") {
        expectWords(words, 3, "fail transfer K");
        const std::uint64_t k = parseTransferNumber(words[2]);
        return [=](LiuModel& model) { model.failTransfer(k); };
    }
    if (what == "from") {
        expectWords(words, 3, "fail from K");
        const std::uint64_t k = parseTransferNumber(words[2]);
        return [=](LiuModel& model) { model.failFrom(k); };
    }
    if (what == "open") {
        expectWords(words, 3, "fail open on|off");
        const bool refuse = parseSwitch(words[2]);
        return [=](LiuModel& model) { model.failOpen(refuse); };
    }
    if (what == "none") {
        expectWords(words, 2, "fail none");
        return [](LiuModel& model) {
            model.clearFaults();
            model.failOpen(false);
        };
    }
    throw CommandError(std::string("usage: ") + kUsage);
}

// A register changed behind the driver's back: no transfer, nothing logged.
Command::Action pokeCommand(const std::vector<std::string>& words) {
    expectWords(words, 4, "poke CHANNEL REG VALUE");
    const unsigned channel = parseChannel(words[1]);
    const auto reg = static_cast<std::uint8_t>(parseNumber(words[2], "register", 0, 0xFF));
    const auto value = static_cast<std::uint8_t>(parseNumber(words[3], "value", 0, 0xFF));
    return [=](LiuModel& model) { model.setReg(channel, reg, value); };
}

// A power glitch: every register back to 0 as the software reset leaves it,
// the alarm status (which follows the line) and the waveform memory kept.
Command::Action resetCommand(const std::vector<std::string>& words) {
    expectWords(words, 1, "reset");
    return [](LiuModel& model) {
        for (unsigned channel = 0; channel < LiuModel::kChannels; ++channel) {
            for (unsigned reg = 0; reg < 256; ++reg) {
                if (reg != LiuModel::kAlarmStatusRegister && reg != LiuModel::kSampleDataRegister) {
                    model.setReg(channel, static_cast<std::uint8_t>(reg), 0);
                }
            }
        }
    };
}

} // namespace

Command Command::parse(std::string_view text) {
    const std::vector<std::string> words = splitWords(text);
    if (words.empty()) {
        throw CommandError("empty command");
    }
    const std::string& verb = words[0];
    if (verb == "alarm") {
        return Command(alarmCommand(words));
    }
    if (verb == "status") {
        return Command(statusCommand(words));
    }
    if (verb == "fail") {
        return Command(failCommand(words));
    }
    if (verb == "poke") {
        return Command(pokeCommand(words));
    }
    if (verb == "reset") {
        return Command(resetCommand(words));
    }
    throw CommandError("unknown command '" + verb +
                       "' (expected alarm, status, fail, poke or reset)");
}

} // namespace liusim
