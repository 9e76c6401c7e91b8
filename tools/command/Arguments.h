// SPDX-License-Identifier: MIT
// A command's arguments as its table entry describes them: what each word
// is (a port list, a setting, a register, a time...), the choices or range
// it takes and whether it may be left out.  From that one description come
// the synopsis in help, the values Tab offers, and the parse: every word is
// checked before the command's handler runs, so a bad word never reaches
// the chip, and the handler reads typed values.
#pragma once

#include "Settings.h"
#include "Words.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace liucmd {

struct CommandEntry;

enum class ArgKind {
    Ports,        // "3", "0-3", "0,2,5-7" or "all", below the port count
    Port,         // one port below the port count
    Setting,      // a setting's name (linetype, lbo, ...)
    SettingValue, // a value of the setting named before it
    Inout,        // input/output type: asym, sym, none or 0..255
    Choice,       // one of choices
    Integer,      // a whole number in min..max
    Byte,         // 0..255 or 0x00..0xff
    Channel,      // 0..15 or global
    Seconds,      // a time in min..max seconds, fractions allowed
    Text,         // the rest of the words, joined by blanks
    Command,      // the name of a command
};

// One parameter of a command: what its word may be, and how it is named.
struct Param {
    ArgKind kind;
    const char* word; // in the synopsis: "PORTS", "REG"; for Choice the choices are shown
    const char* what; // in messages: "port", "register", "reference clock output"
    std::vector<std::string_view> choices{};
    double min = 0;
    double max = 0;
    bool optional = false; // may be left out (only the last arguments)
};

// The words of one command, parsed by its entry's Params; index 1 is the
// first argument.  Each accessor reads the value of an argument of its kind.
class Args {
  public:
    explicit Args(std::vector<std::string> words) : words_(std::move(words)) {}

    const std::string& command() const { return words_.front(); }
    const std::vector<std::string>& words() const { return words_; }
    // True when argument index was given.
    bool has(std::size_t index) const { return index < values_.size() && values_[index].given; }

    const std::vector<std::uint16_t>& ports(std::size_t index) const {
        return values_[index].ports;
    }
    std::uint16_t port(std::size_t index) const { return values_[index].ports.front(); }
    const Setting& setting(std::size_t index) const { return settings()[values_[index].index]; }
    // The library code of a SettingValue or Inout, the number of an
    // Integer, Byte or Channel (LIUDRV_CHANNEL_GLOBAL for global).
    long number(std::size_t index) const { return values_[index].number; }
    // The index into its choices of a Choice.
    std::size_t choice(std::size_t index) const { return values_[index].index; }
    double seconds(std::size_t index) const { return values_[index].seconds; }
    const std::string& text(std::size_t index) const { return values_[index].text; }
    const CommandEntry& commandEntry(std::size_t index) const { return *values_[index].entry; }

    // Parses every word by params; throws UsageError naming the command and
    // the first bad, missing or extra word.
    void parse(const std::vector<Param>& params, unsigned portCount);

  private:
    struct Value {
        bool given = false;
        std::vector<std::uint16_t> ports;
        std::size_t index = 0;
        long number = 0;
        double seconds = 0;
        std::string text;
        const CommandEntry* entry = nullptr;
    };
    [[noreturn]] void bad(std::string_view what, const std::string& word,
                          std::string_view hint) const;
    Value parseOne(const Param& param, const std::string& word, unsigned portCount);

    std::vector<std::string> words_;
    std::vector<Value> values_;
    std::size_t namedSetting_ = 0; // the Setting argument's, for a SettingValue after it
};

// "SETTING PORTS VALUE", "a|b PORT", "[SECONDS]"
std::string synopsis(const std::vector<Param>& params);

// What Tab offers for argument index (1 = the first) of a command whose
// words so far are words.
std::vector<std::string> argumentValues(const std::vector<Param>& params, std::size_t index,
                                        const std::vector<std::string>& words, unsigned portCount);

} // namespace liucmd
