// SPDX-License-Identifier: MIT
#include "Words.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace liucmd {

std::vector<ScriptCommand> splitCommands(std::string_view text) {
    std::vector<ScriptCommand> commands;
    ScriptCommand current{{}, 1};
    std::string word;
    bool inWord = false;
    int line = 1;
    auto endWord = [&] {
        if (inWord) {
            current.words.push_back(word);
        }
        word.clear();
        inWord = false;
    };
    auto endCommand = [&] {
        endWord();
        if (!current.words.empty()) {
            commands.push_back(current);
        }
        current = ScriptCommand{{}, line};
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            const std::size_t close = text.find(c, i + 1);
            if (close == std::string_view::npos) {
                throw UsageError("line " + std::to_string(line) + ": unterminated quote");
            }
            const std::string_view quoted = text.substr(i + 1, close - i - 1);
            line += static_cast<int>(std::count(quoted.begin(), quoted.end(), '\n'));
            word += quoted;
            inWord = true;
            i = close;
        } else if (c == '#' && !inWord) {
            while (i + 1 < text.size() && text[i + 1] != '\n') {
                ++i;
            }
        } else if (c == '\n') {
            ++line;
            endCommand();
        } else if (c == ';') {
            endCommand();
        } else if (c == ' ' || c == '\t' || c == '\r') {
            endWord();
        } else {
            word += c;
            inWord = true;
        }
    }
    endCommand();
    return commands;
}

std::string joinWords(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) {
        const bool quote = word.empty() || word.find_first_of(" \t\r\n;#'") != std::string::npos;
        const char mark = word.find('\'') != std::string::npos ? '"' : '\'';
        text += (text.empty() ? "" : " ") + (quote ? mark + word + mark : word);
    }
    return text;
}

bool parseNumber(const std::string& text, long min, long max, long& value) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const long number = std::strtol(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || number < min || number > max) {
        return false;
    }
    value = number;
    return true;
}

bool parsePortList(const std::string& text, unsigned portCount, std::vector<std::uint16_t>& ports) {
    ports.clear();
    if (lowerCase(text) == "all") {
        for (unsigned port = 0; port < portCount; ++port) {
            ports.push_back(static_cast<std::uint16_t>(port));
        }
        return portCount > 0;
    }
    const long max = static_cast<long>(portCount) - 1;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-', 1);
        long first = 0;
        long last = 0;
        const bool ok = dash == std::string::npos
                            ? parseNumber(item, 0, max, first) && (last = first, true)
                            : parseNumber(item.substr(0, dash), 0, max, first) &&
                                  parseNumber(item.substr(dash + 1), first, max, last);
        if (!ok) {
            return false;
        }
        for (long port = first; port <= last; ++port) {
            ports.push_back(static_cast<std::uint16_t>(port));
        }
        start = comma + 1;
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return true;
}

std::size_t findChoice(const std::string& word, const std::vector<std::string_view>& choices) {
    const std::string lower = lowerCase(word);
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (lower == choices[i]) {
            return i;
        }
    }
    return choices.size();
}

std::string choiceList(const std::vector<std::string_view>& choices) {
    std::string list;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + std::string(choices[i]);
    }
    return list;
}

std::string hexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

} // namespace liucmd
