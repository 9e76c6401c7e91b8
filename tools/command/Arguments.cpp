// SPDX-License-Identifier: MIT
#include "Arguments.h"

#include "ChipNames.h"
#include "Commands.h"

#include "LiuDrv.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace liucmd {

namespace {

const std::vector<std::string_view> kInoutWords = {"asym", "sym", "none"};
constexpr int kInoutValues[] = {LIUDRV_INOUT_ASYMMETRICAL, LIUDRV_INOUT_SYMMETRICAL,
                                LIUDRV_INOUT_NONE};

std::string portHint(unsigned portCount) {
    return portCount == 0 ? std::string("no ports")
                          : "ports are 0.." + std::to_string(portCount - 1);
}

std::string secondsHint(const Param& param) {
    char hint[64];
    std::snprintf(hint, sizeof hint, "%g..%g seconds", param.min, param.max);
    return hint;
}

bool parseSeconds(const std::string& text, double min, double max, double& value) {
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0])) == 0) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && value >= min && value <= max;
}

// The setting named by the Setting argument before index.
const Setting* namedSetting(const std::vector<Param>& params, std::size_t index,
                            const std::vector<std::string>& words) {
    for (std::size_t i = index; i-- > 1;) {
        if (params[i - 1].kind == ArgKind::Setting) {
            return i < words.size() ? findSetting(words[i]) : nullptr;
        }
    }
    return nullptr;
}

std::vector<std::string> numbers(unsigned count) {
    std::vector<std::string> words;
    for (unsigned n = 0; n < count; ++n) {
        words.push_back(std::to_string(n));
    }
    return words;
}

} // namespace

void Args::bad(std::string_view what, const std::string& word, std::string_view hint) const {
    throw UsageError(command() + ": bad " + std::string(what) + " '" + word + "' (" +
                     std::string(hint) + ")");
}

Args::Value Args::parseOne(const Param& param, const std::string& word, unsigned portCount) {
    Value value;
    value.given = true;
    long number = 0;
    switch (param.kind) {
    case ArgKind::Ports:
        if (!parsePortList(word, portCount, value.ports)) {
            bad(param.what, word, portHint(portCount));
        }
        break;
    case ArgKind::Port:
        if (!parseNumber(word, 0, static_cast<long>(portCount) - 1, number)) {
            bad(param.what, word, portHint(portCount));
        }
        value.ports = {static_cast<std::uint16_t>(number)};
        break;
    case ArgKind::Setting:
        value.index = findChoice(word, settingNames());
        if (value.index == kSettingCount) {
            bad(param.what, word, choiceList(settingNames()));
        }
        namedSetting_ = value.index;
        break;
    case ArgKind::SettingValue: {
        // The setting was named before this word.
        const Setting& named = settings()[namedSetting_];
        const std::size_t which = findChoice(word, named.words);
        if (which == named.words.size()) {
            bad(param.what, word, choiceList(named.words));
        }
        value.number = named.values[which];
        break;
    }
    case ArgKind::Inout:
        if (parseNumber(word, 0, 255, number)) {
            value.number = number;
        } else if (const std::size_t which = findChoice(word, kInoutWords);
                   which < kInoutWords.size()) {
            value.number = kInoutValues[which];
        } else {
            bad(param.what, word, choiceList(kInoutWords));
        }
        break;
    case ArgKind::Choice:
        value.index = findChoice(word, param.choices);
        if (value.index == param.choices.size()) {
            bad(param.what, word, choiceList(param.choices));
        }
        break;
    case ArgKind::Integer: {
        const auto min = static_cast<long>(param.min);
        const auto max = static_cast<long>(param.max);
        if (!parseNumber(word, min, max, value.number)) {
            bad(param.what, word, std::to_string(min) + ".." + std::to_string(max));
        }
        break;
    }
    case ArgKind::Byte:
        if (!parseNumber(word, 0, 0xFF, value.number)) {
            bad(param.what, word, "0..255 or 0x00..0xff");
        }
        break;
    case ArgKind::Channel:
        if (lowerCase(word) == "global") {
            value.number = LIUDRV_CHANNEL_GLOBAL;
        } else if (!parseNumber(word, 0, kFrameChannels - 1, value.number)) {
            bad(param.what, word, "0.." + std::to_string(kFrameChannels - 1) + " or global");
        }
        break;
    case ArgKind::Seconds:
        if (!parseSeconds(word, param.min, param.max, value.seconds)) {
            bad(param.what, word, secondsHint(param));
        }
        break;
    case ArgKind::Text:
        value.text = word;
        break;
    case ArgKind::Command:
        value.entry = findCommand(word);
        if (value.entry == nullptr) {
            bad(param.what, word, "try 'help'");
        }
        break;
    }
    return value;
}

void Args::parse(const std::vector<Param>& params, unsigned portCount) {
    values_.assign(1, Value{});
    std::size_t next = 1;
    for (const Param& param : params) {
        if (next >= words_.size()) {
            if (!param.optional) {
                throw UsageError(command() + ": missing " + param.what);
            }
            values_.emplace_back();
            continue;
        }
        if (param.kind == ArgKind::Text) {
            std::string rest;
            for (; next < words_.size(); ++next) {
                rest += (rest.empty() ? "" : " ") + words_[next];
            }
            values_.push_back(parseOne(param, rest, portCount));
            continue;
        }
        values_.push_back(parseOne(param, words_[next], portCount));
        ++next;
    }
    if (next < words_.size()) {
        throw UsageError(command() + ": unexpected word '" + words_[next] + "'");
    }
}

std::string synopsis(const std::vector<Param>& params) {
    std::string text;
    for (const Param& param : params) {
        std::string word = param.word;
        if (param.kind == ArgKind::Choice) {
            word.clear();
            for (const auto choice : param.choices) {
                word.append(word.empty() ? "" : "|").append(choice);
            }
        }
        text += (text.empty() ? "" : " ") + (param.optional ? "[" + word + "]" : word);
    }
    return text;
}

std::vector<std::string> argumentValues(const std::vector<Param>& params, std::size_t index,
                                        const std::vector<std::string>& words, unsigned portCount) {
    if (index < 1 || index > params.size()) {
        return {};
    }
    const Param& param = params[index - 1];
    auto strings = [](const std::vector<std::string_view>& views) {
        return std::vector<std::string>(views.begin(), views.end());
    };
    switch (param.kind) {
    case ArgKind::Ports: {
        std::vector<std::string> ports = numbers(portCount);
        ports.insert(ports.begin(), "all");
        return ports;
    }
    case ArgKind::Port:
        return numbers(portCount);
    case ArgKind::Setting:
        return strings(settingNames());
    case ArgKind::SettingValue: {
        const Setting* named = namedSetting(params, index, words);
        return named != nullptr ? strings(named->words) : std::vector<std::string>{};
    }
    case ArgKind::Inout:
        return strings(kInoutWords);
    case ArgKind::Choice:
        return strings(param.choices);
    case ArgKind::Channel: {
        std::vector<std::string> channels = numbers(kFrameChannels);
        channels.insert(channels.begin(), "global");
        return channels;
    }
    case ArgKind::Command: {
        std::vector<std::string> names;
        for (const CommandEntry& entry : commands()) {
            names.emplace_back(entry.name);
        }
        return names;
    }
    case ArgKind::Integer:
    case ArgKind::Byte:
    case ArgKind::Seconds:
    case ArgKind::Text:
        break;
    }
    return {};
}

} // namespace liucmd
