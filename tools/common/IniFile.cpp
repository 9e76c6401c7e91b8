// SPDX-License-Identifier: MIT
#include "IniFile.h"

#include <ini.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// What a file that is not a regular one is, for the refusal.
const char* kindOf(mode_t mode) {
    return S_ISDIR(mode)    ? "a directory"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISCHR(mode)  ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
           : S_ISSOCK(mode) ? "a socket"
                            : "not a regular file";
}

} // namespace

bool IniFile::read(const std::string& path, const KeyHandler& key, std::string& error) {
    // Non-blocking: opening a FIFO without a writer must not wait.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
        return false;
    }
    struct stat info {};
    std::string text;
    if (fstat(fd, &info) != 0) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        error = std::string("not a configuration file: ") + kindOf(info.st_mode);
    } else if (info.st_size > static_cast<off_t>(kMaxFileSize)) {
        error = "not a configuration file: larger than " + std::to_string(kMaxFileSize) + " bytes";
    } else {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() <= kMaxFileSize) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        if (got < 0) {
            error = std::string("cannot read the file: ") + std::strerror(errno);
        } else if (text.size() > kMaxFileSize) {
            error =
                "not a configuration file: larger than " + std::to_string(kMaxFileSize) + " bytes";
        }
    }
    close(fd);
    if (!error.empty()) {
        return false;
    }
    *this = IniFile();
    text_ = std::move(text);
    if (text_.starts_with("\xEF\xBB\xBF")) {
        text_.erase(0, 3); // a UTF-8 byte order mark: the first line starts after it
    }
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
    errors.insert(errors.end(), controlLines_.begin(), controlLines_.end());
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
    } else if (std::any_of(line.begin(), line.end(), [](char c) {
                   const auto byte = static_cast<unsigned char>(c);
                   return (byte < 0x20 && c != '\t' && c != '\r') || byte == 0x7F;
               })) {
        file.controlLines_.push_back(
            {file.line_, "control character in '" + escaped(trim(line)) + "'"});
        line.clear();
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
    // The section as its header names it, blanks inside the brackets
    // trimmed (the header's line was noted the same way).
    (*file.key_)(trim(section), name, value);
    return 1;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte >= 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
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
