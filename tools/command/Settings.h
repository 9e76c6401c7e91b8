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
    const char* name;  // command word and configuration key
    const char* label; // in sentences and (upper case) in table headers
    std::vector<std::string_view> words;
    std::vector<std::string> shown; // how each value is printed
    std::vector<int> values;        // library codes, by word
    int (*set)(std::uint16_t, int);
    int (*get)(std::uint16_t, int*);
    const char* getName;
    ReadBack readBack;
    // For T1 and JT1 lines only: the library writes it as a T1 pulse
    // template whatever the port's line type (build-out, line length).
    bool t1LinesOnly = false;
};

// Why a T1-only setting is refused on an E1 port.
inline constexpr const char* kT1LinesOnly = "build-out and line length are for T1 and JT1 lines";

const std::vector<Setting>& settings();
const Setting& setting(SettingId id);
// The setting with this (case-insensitive) name, or nullptr.
const Setting* findSetting(const std::string& name);
std::vector<std::string_view> settingNames();

// "SETTING  VALUES  READ BACK" lines, one per setting, for help.
std::string settingsHelp();
// The value's word ("on", "t1", "2"), or the number for an unknown code.
std::string shownValue(const Setting& setting, int value);
// The library code for a word of the setting; false for a word it does not take.
bool settingValue(const Setting& setting, const std::string& word, int& value);

} // namespace liucmd
