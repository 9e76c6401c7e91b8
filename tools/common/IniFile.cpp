// SPDX-License-Identifier: MIT
#include "IniFile.h"

#include <ini.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace liutool {

std::string located(const std::string& path, const LineError& error) {
    std::string text = path;
    if (error.line > 0) {
        text += ':';
        text += std::to_string(error.line);
    }
    return text + ": " + error.reason;
}

std::string locatedLines(const std::string& path, std::vector<LineError>& errors) {
    std::stable_sort(errors.begin(), errors.end(),
                     [](const auto& a, const auto& b) { return a.line < b.line; });
    std::string text;
    for (const auto& error : errors) {
        text += located(path, error) + "\n";
    }
    return text;
}

bool IniFile::read(const std::string& path, const KeyHandler& key, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    *this = IniFile();
    text_ = content.str();
    key_ = &key;
    // Indented lines are keys of their own, never a continuation of the one before.
    ini_allow_multiline = false;
    syntaxLine_ = ini_parse_stream(readLine, this, handleKey, this);
    key_ = nullptr;
    return true;
}

std::vector<LineError> IniFile::errors() const {
    std::vector<LineError> errors;
    if (syntaxLine_ > 0) {
        errors.push_back({syntaxLine_, "syntax error: expected [section] or key = value"});
    }
    for (const int line : longLines_) {
        errors.push_back({line, "line longer than 200 characters"});
    }
    return errors;
}

char* IniFile::readLine(char* buffer, int size, void* stream) {
    auto& file = *static_cast<IniFile*>(stream);
    if (file.position_ >= file.text_.size()) {
        return nullptr;
    }
    std::size_t end = file.text_.find('\n', file.position_);
    end = end == std::string::npos ? file.text_.size() : end;
    std::string line = file.text_.substr(file.position_, end - file.position_);
    file.position_ = end + 1;
    ++file.line_;
    if (line.size() + 2 > static_cast<std::size_t>(size)) {
        file.longLines_.push_back(file.line_);
        line.clear(); // parsed as a blank line; the error says why
    }
    const std::string trimmed = trim(line);
    if (trimmed.starts_with('[') && trimmed.find(']') != std::string::npos) {
        file.sections_.emplace_back(file.line_, trim(trimmed.substr(1, trimmed.find(']') - 1)));
    }
    std::memcpy(buffer, line.c_str(), line.size() + 1);
    return buffer;
}

int IniFile::handleKey(void* user, const char* section, const char* name, const char* value) {
    const auto& file = *static_cast<IniFile*>(user);
    (*file.key_)(section, name, value);
    return 1;
}

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool parseDuration(const std::string& text, std::chrono::milliseconds& value) {
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(number) || number < 0 || text[0] == '-') {
        return false;
    }
    const std::string unit = end;
    const double scale = unit == "ms" ? 1 : unit == "s" ? 1000 : unit == "min" ? 60000 : -1;
    if (scale < 0 || number * scale > 86400000.0) {
        return false;
    }
    value = std::chrono::milliseconds(static_cast<long long>(std::llround(number * scale)));
    return true;
}

} // namespace liutool
