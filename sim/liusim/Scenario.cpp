// SPDX-License-Identifier: MIT
#include "Scenario.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace liusim {
namespace {

std::string withoutComment(const std::string& line) {
    return line.substr(0, line.find('#'));
}

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r") == std::string::npos;
}

// Splits "TIME COMMAND..." into its time and the command text.
Scenario::Seconds parseTime(const std::string& text, std::size_t& commandStart) {
    const std::size_t start = text.find_first_not_of(" \t");
    const char* begin = text.c_str() + start;
    char* end = nullptr;
    const double seconds = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(seconds) || seconds < 0 || (*end != ' ' && *end != '\t')) {
        throw CommandError("expected a time in seconds followed by a command");
    }
    commandStart = static_cast<std::size_t>(end - text.c_str());
    return Scenario::Seconds(seconds);
}

} // namespace

Scenario Scenario::load(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        throw CommandError(path + ": cannot open the scenario file: " + std::strerror(errno));
    }
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    const int error = std::ferror(file) != 0 ? errno : 0;
    std::fclose(file);
    if (error != 0) {
        throw CommandError(path + ": cannot read the scenario file: " + std::strerror(error));
    }
    std::istringstream in(text);
    return read(in, path);
}

Scenario Scenario::read(std::istream& in, const std::string& name) {
    Scenario scenario;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = withoutComment(line);
        if (isBlank(text)) {
            continue;
        }
        try {
            std::size_t commandStart = 0;
            const Seconds time = parseTime(text, commandStart);
            scenario.steps_.push_back({time, Command::parse(text.substr(commandStart))});
        } catch (const CommandError& error) {
            throw CommandError(name + ":" + std::to_string(number) + ": " + error.what());
        }
    }
    std::stable_sort(scenario.steps_.begin(), scenario.steps_.end(),
                     [](const Step& a, const Step& b) { return a.time < b.time; });
    return scenario;
}

void Scenario::runDue(Seconds elapsed, LiuModel& model) {
    while (next_ < steps_.size() && steps_[next_].time <= elapsed) {
        steps_[next_].command.apply(model);
        ++next_;
    }
}

std::optional<Scenario::Seconds> Scenario::nextTime() const {
    if (next_ == steps_.size()) {
        return std::nullopt;
    }
    return steps_[next_].time;
}

} // namespace liusim
