// SPDX-License-Identifier: MIT
#include "Settings.h"

#include "Words.h"

#include "LiuDrv.h"

#include <cstdio>

namespace liucmd {

const std::vector<Setting>& settings() {
    static const std::vector<std::string_view> kOnOff = {"off", "on"};
    static const std::vector<std::string_view> kUpDown = {"down", "up"};
    static const std::vector<Setting> kSettings = {
        {SettingId::LineType,
         "linetype",
         "line type",
         {"e1", "t1", "jt1"},
         {"E1", "T1", "JT1"},
         {1, 2, 3},
         liuDrv_setLineType,
         liuDrv_getLineType,
         "liuDrv_getLineType",
         ReadBack::LineRegisters},
        {SettingId::LineCode,
         "linecode",
         "line code",
         {"1", "2"},
         {"1", "2"},
         {1, 2},
         liuDrv_setLineCode,
         liuDrv_getLineCode,
         "liuDrv_getLineCode",
         ReadBack::Library},
        {SettingId::BuildOut,
         "lbo",
         "build-out",
         {"1", "2", "3", "4"},
         {"1", "2", "3", "4"},
         {1, 2, 3, 4},
         liuDrv_setLineBuildOut,
         liuDrv_getLineBuildOut,
         "liuDrv_getLineBuildOut",
         ReadBack::TemplateRegister,
         true},
        {SettingId::LineLength,
         "linelen",
         "line length",
         {"1", "2", "3", "4", "5"},
         {"1", "2", "3", "4", "5"},
         {1, 2, 3, 4, 5},
         liuDrv_setLineLength,
         liuDrv_getLineLength,
         "liuDrv_getLineLength",
         ReadBack::TemplateRegister,
         true},
        {SettingId::Haul,
         "haul",
         "haul type",
         {"1", "2"},
         {"1", "2"},
         {1, 2},
         liuDrv_setHaulType,
         liuDrv_getHaulType,
         "liuDrv_getHaulType",
         ReadBack::Library},
        {SettingId::RemoteLoop,
         "remoteloop",
         "remote loopback",
         kOnOff,
         {"off", "on"},
         {0, 1},
         liuDrv_setLoopRemote,
         liuDrv_getLoopRemote,
         "liuDrv_getLoopRemote",
         ReadBack::Library},
        {SettingId::AnalogLoop,
         "analogloop",
         "analog loopback",
         kOnOff,
         {"off", "on"},
         {0, 1},
         liuDrv_setLoopAnalog,
         liuDrv_getLoopAnalog,
         "liuDrv_getLoopAnalog",
         ReadBack::Library},
        {SettingId::DigitalLoop,
         "digitalloop",
         "digital loopback",
         kOnOff,
         {"off", "on"},
         {0, 1},
         liuDrv_setLoopDigital,
         liuDrv_getLoopDigital,
         "liuDrv_getLoopDigital",
         ReadBack::Library},
        {SettingId::TxPower,
         "txpower",
         "transmitter power",
         kUpDown,
         {"down", "up"},
         {0, 1},
         liuDrv_setPowerupTx,
         liuDrv_getPowerupTx,
         "liuDrv_getPowerupTx",
         ReadBack::Library},
        {SettingId::RxPower,
         "rxpower",
         "receiver power",
         kUpDown,
         {"down", "up"},
         {0, 1},
         liuDrv_setPowerupRx,
         liuDrv_getPowerupRx,
         "liuDrv_getPowerupRx",
         ReadBack::Library},
    };
    return kSettings;
}

const Setting& setting(SettingId id) {
    return settings()[static_cast<std::size_t>(id)];
}

const Setting* findSetting(const std::string& name) {
    const std::size_t index = findChoice(name, settingNames());
    return index < kSettingCount ? &settings()[index] : nullptr;
}

std::vector<std::string_view> settingNames() {
    std::vector<std::string_view> names;
    for (const auto& entry : settings()) {
        names.emplace_back(entry.name);
    }
    return names;
}

std::string settingsHelp() {
    std::string text;
    for (const Setting& entry : settings()) {
        const std::string values =
            entry.words.size() > 3 ? std::string(entry.words.front()) + ".." +
                                         std::string(entry.words.back()) + " (" + entry.label + ")"
                                   : choiceList(entry.words);
        const std::string readBack = entry.readBack == ReadBack::Library
                                         ? std::string("read back with ") + entry.getName
                                     : entry.readBack == ReadBack::LineRegisters
                                         ? "read back from registers 0x20, 0x32, 0x23"
                                         : "register 0x23 (the chip cannot report it)";
        char line[160];
        std::snprintf(line, sizeof line, "  %-12s %-22s %s\n", entry.name, values.c_str(),
                      readBack.c_str());
        text += line;
    }
    return text;
}

std::string shownValue(const Setting& setting, int value) {
    for (std::size_t i = 0; i < setting.values.size(); ++i) {
        if (setting.values[i] == value) {
            return setting.shown[i];
        }
    }
    return std::to_string(value);
}

bool settingValue(const Setting& setting, const std::string& word, int& value) {
    const std::size_t index = findChoice(word, setting.words);
    if (index == setting.words.size()) {
        return false;
    }
    value = setting.values[index];
    return true;
}

} // namespace liucmd
