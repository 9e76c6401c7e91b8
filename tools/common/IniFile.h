// SPDX-License-Identifier: MIT
// The tools' configuration files: INI, read with libinih a line at a time.
// Each key reaches the caller with the line it stands on; every section
// header is noted (libinih reports a section only through its keys, so an
// empty one would go unseen); a line too long for libinih is an error of
// its own instead of a parse that goes astray.
//
// The file is untrusted: only a regular file of at most kMaxFileSize bytes
// is read (a FIFO, a device or a directory is refused by what it is, and
// never waited on), and a line with a NUL or another control byte is an
// error at that line, shown escaped, instead of a line that ends early.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace liutool {

// One mistake: the line it is on (0 when it is about no line) and why.
struct LineError {
    int line;
    std::string reason;
};

// "FILE:LINE: reason" ("FILE: reason" for line 0).
std::string located(const std::string& path, const LineError& error);

// Sorts errors by line (those of one line keep their order) and gives them
// as "FILE:LINE: reason" lines.
std::string locatedLines(const std::string& path, std::vector<LineError>& errors);

class IniFile {
  public:
    static constexpr std::size_t kMaxFileSize = 64 * 1024;

    // section and name as the file writes them; value trimmed.
    using KeyHandler = std::function<void(const std::string& section, const std::string& name,
                                          const std::string& value)>;

    // Reads the whole file, handing each key to key in turn (line() is the
    // key's line meanwhile).  False, with error set, when the file cannot
    // be read.
    bool read(const std::string& path, const KeyHandler& key, std::string& error);

    // The line being read.
    int line() const { return line_; }
    // Every section header: its line and the name between the brackets.
    const std::vector<std::pair<int, std::string>>& sections() const { return sections_; }
    // What libinih could not read: the line of its syntax error, and the
    // lines that are too long.
    std::vector<LineError> errors() const;

  private:
    static char* readLine(char* buffer, int size, void* stream);
    static int handleKey(void* user, const char* section, const char* name, const char* value);

    std::string text_;
    std::size_t position_ = 0;
    int line_ = 0;
    int syntaxLine_ = 0;
    std::vector<std::pair<int, std::string>> sections_;
    std::vector<int> longLines_;
    std::vector<LineError> controlLines_;
    const KeyHandler* key_ = nullptr;
};

// text with bytes below 0x20 (but tab), 0x7f and above shown as \xNN.
std::string escaped(const std::string& text);

// text without the blanks (spaces, tabs, carriage returns) around it.
std::string trim(const std::string& text);

// A duration of at most a day: "100ms", "2s", "1.5s", "1min".
bool parseDuration(const std::string& text, std::chrono::milliseconds& value);

} // namespace liutool
