// SPDX-License-Identifier: MIT
// What liud runs with and what it has done, as its loop keeps it and its
// control clients see and change it.
#pragma once

#include "Config.h"

#include <cstdint>
#include <optional>
#include <string>

namespace liud {

struct Running {
    // The running configuration: the file, and the settings control
    // clients made since it was last read.
    Config config;
    std::string started; // UTC, when the chip came up
    std::optional<std::string> lastAudit;
    std::uint64_t driftsRepaired = 0;
};

} // namespace liud
