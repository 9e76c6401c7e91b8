// SPDX-License-Identifier: MIT
// liuctl's common module: the two kinds of command error, the parse helpers
// every command uses, and the one help layout.
//
// A command never prints its own error text: it throws UsageError for bad
// input (exit status 2) or Failure for a refusal of the library or a failed
// transfer (exit status 1), and the script runner prints "liuctl: ..." on
// stderr.  Parsing always happens before the first library call, so a bad
// word never reaches the chip.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace liuctl {

inline constexpr const char* kProgram = "liuctl";

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// An error of one command; what() is the text after "liuctl: ".
class CommandError : public std::runtime_error {
  public:
    CommandError(int status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

  private:
    int status_;
};

// Bad input: unknown command, bad or missing word.  Exit status 2.
struct UsageError : CommandError {
    explicit UsageError(const std::string& message) : CommandError(kExitUsage, message) {}
};

// The library refused or the chip failed.  Exit status 1.
struct Failure : CommandError {
    explicit Failure(const std::string& message) : CommandError(kExitFailure, message) {}
};

// Prints "liuctl: message" on stderr.
void printError(const std::string& message);

// The words of one command; word 0 is the command name.  The parse helpers
// throw UsageError naming the command and the offending word.
class Args {
  public:
    explicit Args(std::vector<std::string> words) : words_(std::move(words)) {}

    const std::string& command() const { return words_.front(); }

    std::size_t count() const { return words_.size() - 1; }
    bool has(std::size_t index) const { return index <= count(); }
    // Word index (1 = first argument); "missing WHAT" when absent.
    const std::string& word(std::size_t index, std::string_view what) const;
    // Refuses words after the last one the command takes.
    void noMoreThan(std::size_t lastIndex) const;

    [[noreturn]] void bad(std::string_view what, const std::string& word,
                          std::string_view hint = {}) const;

  private:
    std::vector<std::string> words_;
};

// Whole decimal or 0x-hexadecimal number within [min, max], or nothing.
bool parseNumber(const std::string& text, long min, long max, long& value);

// The numbers and words every command shares.
long parseInteger(const Args& args, std::size_t index, std::string_view what, long min, long max);
std::uint8_t parseByte(const Args& args, std::size_t index, std::string_view what);
// A port list: "3", "0-3", "0,2,5-7" or "all", each port below portCount,
// in ascending order without repeats.
std::vector<std::uint16_t> parsePorts(const Args& args, std::size_t index, unsigned portCount);
// Index into choices of the (case-insensitive) word, "bad WHAT" otherwise.
std::size_t parseChoice(const Args& args, std::size_t index, std::string_view what,
                        const std::vector<std::string_view>& choices);
// Seconds with an optional fraction ("0.25"), within [min, max].
double parseSeconds(const Args& args, std::size_t index, std::string_view what, double min,
                    double max);

// Text helpers.
std::string hexByte(unsigned value); // "0x0c"
std::string lowerCase(std::string_view text);

} // namespace liuctl
