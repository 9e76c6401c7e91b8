// SPDX-License-Identifier: MIT
#include "IfMib.h"

namespace liusnmp {

namespace {

using liuproto::Indication;

// The indications that stop traffic: nothing received (LOS), the far end's
// alarm signal instead of traffic (AIS), the transmitter failing (DF) or
// nothing to transmit (TLOS).  PRBS (a test pattern received) and EQ
// (the equalizer at its limit) leave the line passing traffic.
constexpr Indication kDownIndications[] = {Indication::LOS, Indication::AIS, Indication::DF,
                                           Indication::TLOS};

// Line rates: T1 and JT1 1.544 Mbit/s, E1 2.048 Mbit/s.
constexpr std::pair<const char*, long> kSpeeds[] = {
    {"E1", 2048000}, {"T1", 1544000}, {"JT1", 1544000}};

} // namespace

long adminStatus(bool present, const PortState& state) {
    return present && (state.txPower || state.rxPower) ? kIfUp : kIfDown;
}

long operStatus(bool present, bool known, const PortState& state) {
    if (!present) {
        return kIfNotPresent;
    }
    if (!known) {
        return kIfUnknown;
    }
    if (adminStatus(present, state) == kIfDown) {
        return kIfDown;
    }
    if (state.chip.any()) {
        return kIfTesting;
    }
    for (const Indication indication : kDownIndications) {
        if (state.alarms.active(indication)) {
            return kIfDown;
        }
    }
    return kIfUp;
}

LinkChange linkChange(long before, long after) {
    if (before == after || before == kIfNotPresent || after == kIfNotPresent) {
        return LinkChange::None;
    }
    if (after == kIfDown) {
        return LinkChange::Down;
    }
    return before == kIfDown ? LinkChange::Up : LinkChange::None;
}

long speed(const PortState& state) {
    for (const auto& [lineType, bits] : kSpeeds) {
        if (state.lineTypeName == lineType) {
            return bits;
        }
    }
    return 0;
}

long highSpeed(const PortState& state) {
    return (speed(state) + 500000) / 1000000;
}

std::string interfaceName(unsigned port) {
    return "liu0/" + std::to_string(port);
}

std::string interfaceDescription(unsigned port) {
    return interfaceName(port) + ": port " + std::to_string(port) +
           " of the 82V5088 E1/T1/J1 line interface unit";
}

} // namespace liusnmp
