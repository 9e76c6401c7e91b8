// SPDX-License-Identifier: MIT
#include "TransferText.h"

#include <cstdio>

namespace liusim {
namespace {

bool isGlobalRegister(std::uint8_t reg) {
    return reg == 0x04 || reg == 0x07;
}

std::string channelName(const Transfer& transfer) {
    if (transfer.channel == 0 && isGlobalRegister(transfer.reg)) {
        return "global";
    }
    return "ch" + std::to_string(transfer.channel);
}

} // namespace

std::string describe(const Transfer& transfer) {
    const bool read = transfer.access == Access::Read;
    char value[8] = "--";
    if (!read || transfer.ok) {
        std::snprintf(value, sizeof value, "0x%02x", transfer.value);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%c %s 0x%02x %s %s%s", read ? 'R' : 'W',
                  channelName(transfer).c_str(), transfer.reg, read ? "->" : "<-", value,
                  transfer.ok ? "" : " FAILED");
    return text;
}

std::ostream& operator<<(std::ostream& out, const Transfer& transfer) {
    return out << describe(transfer);
}

} // namespace liusim
