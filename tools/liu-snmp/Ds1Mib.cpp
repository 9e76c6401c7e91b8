// SPDX-License-Identifier: MIT
#include "Ds1Mib.h"

#include <cstdio>
#include <ctime>
#include <utility>

namespace liusnmp {

namespace {

// dsx1LineType by liud's line type and framing word.
struct Framing {
    const char* lineType;
    const char* framing;
    long value;
};
constexpr Framing kLineTypeValues[] = {
    {"E1", "plain", 4}, {"E1", "crc4", 5},   {"E1", "mf", 6}, {"E1", "crc4-mf", 7},
    {"E1", "none", 9},  {"T1", "esf", 2},    {"T1", "d4", 3}, {"T1", "none", 8},
    {"JT1", "esf", 14}, {"JT1", "none", 16},
};
constexpr long kLineTypeOther = 1;

// dsx1LineLength for liud's line length codes 1..5: the upper end of the
// usual DSX-1 cable ranges (133, 266, 399, 533 and 655 feet) in meters.
constexpr long kLineLengthMeters[] = {41, 81, 122, 162, 200};

// The dsx1LineStatus bit of each indication while it is active.
constexpr std::pair<liuproto::Indication, long> kIndicationStatus[] = {
    {liuproto::Indication::LOS, kLossOfSignal}, {liuproto::Indication::AIS, kRcvAis},
    {liuproto::Indication::DF, kOtherFailure},  {liuproto::Indication::TLOS, kOtherFailure},
    {liuproto::Indication::PRBS, kRcvTestCode}, {liuproto::Indication::EQ, kOtherFailure},
};

constexpr std::pair<long, const char*> kStatusNames[] = {
    {kNoAlarm, "dsx1NoAlarm"},           {kRcvAis, "dsx1RcvAIS"},
    {kLossOfSignal, "dsx1LossOfSignal"}, {kLoopbackState, "dsx1LoopbackState"},
    {kRcvTestCode, "dsx1RcvTestCode"},   {kOtherFailure, "dsx1OtherFailure"},
};

// dsx1LoopbackConfig by loopbacks; a combination not listed is dsx1OtherLoop.
constexpr std::pair<Loops, long> kLoopConfigs[] = {
    {{false, false, false}, kNoLoop},    {{true, false, false}, kLineLoop},
    {{false, true, false}, kInwardLoop}, {{false, false, true}, kOtherLoop},
    {{true, true, false}, kDualLoop},
};

// dsx1LoopbackStatus bits
constexpr long kNoLoopback = 1;
constexpr long kNearEndLineLoopback = 4;
constexpr long kNearEndOtherLoopback = 8;
constexpr long kNearEndInwardLoopback = 16;

// The loopbacks the chip holds; one it could not read back is taken as configured.
Loops chipLoops(const liuproto::ChipPort& chip, const Loops& configured) {
    return {chip.remoteLoop.value_or(configured.remote),
            chip.analogLoop.value_or(configured.analog),
            chip.digitalLoop.value_or(configured.digital)};
}

} // namespace

long loopbackConfigValue(const Loops& loops) {
    for (const auto& [combination, value] : kLoopConfigs) {
        if (combination == loops) {
            return value;
        }
    }
    return kOtherLoop;
}

std::optional<Loops> loopsOfConfigValue(long value) {
    for (const auto& [combination, configValue] : kLoopConfigs) {
        if (configValue == value) {
            return combination;
        }
    }
    return std::nullopt;
}

long loopbackStatusValue(const Loops& loops) {
    const long sum = (loops.remote ? kNearEndLineLoopback : 0) +
                     (loops.analog ? kNearEndInwardLoopback : 0) +
                     (loops.digital ? kNearEndOtherLoopback : 0);
    return sum == 0 ? kNoLoopback : sum;
}

long lineStatusValue(const liuproto::PortAlarms& alarms, const Loops& chip, bool known) {
    if (!known) {
        return kOtherFailure;
    }
    long status = 0;
    for (const auto& [indication, bit] : kIndicationStatus) {
        if (alarms.active(indication)) {
            status |= bit;
        }
    }
    if (chip.any()) {
        status |= kLoopbackState;
    }
    return status == 0 ? kNoAlarm : status;
}

std::string lineStatusText(long status) {
    std::string text;
    for (const auto& [bit, name] : kStatusNames) {
        if ((status & bit) != 0) {
            text.append(text.empty() ? "" : "+").append(name);
        }
    }
    return text;
}

PortState portState(const liuproto::PortStatus& port, const Config& config) {
    PortState state;
    state.port = port.port;
    const liuproto::ConfiguredPort& configured = port.config;
    state.lineTypeName = configured.lineType;
    // A framing the file does not state is unknown: dsx1LineType other.
    const std::string framing = configured.framing.value_or("");
    state.lineType = kLineTypeOther;
    for (const auto& entry : kLineTypeValues) {
        if (configured.lineType == entry.lineType && framing == entry.framing) {
            state.lineType = entry.value;
        }
    }
    const int code = configured.lineCode;
    const int column = lineTypeColumn(configured.lineType);
    state.lineCoding = (code == 1 || code == 2) && column >= 0
                           ? static_cast<long>(config.lineCodes[code - 1][column])
                           : static_cast<long>(LineCoding::Other);
    state.circuit = configured.circuit;
    state.configured = {configured.remoteLoop, configured.analogLoop, configured.digitalLoop};
    state.chip = chipLoops(port.chip, state.configured);
    if (state.port < kChipPorts && config.ports[state.port].lineLength) {
        state.lineLength = *config.ports[state.port].lineLength;
    } else if (configured.lineLength && *configured.lineLength >= 1 &&
               *configured.lineLength <= 5) {
        state.lineLength = kLineLengthMeters[*configured.lineLength - 1];
    }
    if (state.port < kChipPorts) {
        state.clock = static_cast<long>(config.ports[state.port].clock);
    }
    state.txPower = configured.txPower;
    state.rxPower = configured.rxPower;
    state.alarms = port.alarms;
    state.alarmsKnown = port.alarmsKnown;
    state.lastChange = port.lastChange;
    return state;
}

std::optional<double> parseUtc(const std::string& text) {
    std::tm parts{};
    int milliseconds = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &parts.tm_year, &parts.tm_mon,
                    &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &milliseconds,
                    &consumed) != 7 ||
        static_cast<std::size_t>(consumed) != text.size()) {
        return std::nullopt;
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return static_cast<double>(timegm(&parts)) + milliseconds / 1000.0;
}

} // namespace liusnmp
