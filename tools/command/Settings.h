// SPDX-License-Identifier: MIT
// The per-port settings of the LIU as the tools name them: liuctl's set and
// get words, liud.conf's port keys, their values and the library operations
// behind them.  One table for both, so a value means the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace liucmd {

enum class SettingId : std::size_t {
    LineType,
    LineCode,
    BuildOut,
    LineLength,
    Haul,
    RemoteLoop,
    AnalogLoop,
    DigitalLoop,
    TxPower,
    RxPower,
};
inline constexpr std::size_t kSettingCount = 10;

// How a setting is read back.
enum class ReadBack {
    Library,          // its own get operation
    LineRegisters,    // registers 0x20, 0x32, 0x23: the library cannot tell the line type
    TemplateRegister, // register 0x23: the chip cannot tell build-out or line length
};

struct Setting {
    SettingId id;
    const char* name;     // command word and configuration key
    const char* label;    // in sentences and (upper case) in table headers
    const char* jsonName; // key in liud's status
    std::vector<std::string_view> words;
    std::vector<std::string> shown; // how each value is printed
    std::vector<int> values;        // library codes, by word
    int (*set)(std::uint16_t, int);
    int (*get)(std::uint16_t, int*);
    const char* getName;
    ReadBack readBack;
};

const std::vector<Setting>& settings();
const Setting& setting(SettingId id);
// The setting with this (case-insensitive) name, or nullptr.
const Setting* findSetting(const std::string& name);
std::vector<std::string_view> settingNames();

// The value's word ("on", "t1", "2"), or the number for an unknown code.
std::string shownValue(const Setting& setting, int value);
// The library code for a word of the setting; false for a word it does not take.
bool settingValue(const Setting& setting, const std::string& word, int& value);

} // namespace liucmd
