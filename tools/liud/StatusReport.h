// SPDX-License-Identifier: MIT
// liud's answer to status: its own state and counters, and per port the
// running configuration beside what the chip holds now (read back when
// asked) and the alarms of the latest poll.
#pragma once

#include "AlarmMonitor.h"
#include "BusHealth.h"
#include "Protocol.h"
#include "Running.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace liud {

liuproto::Status statusReport(const Running& running, const AlarmMonitor& monitor,
                              const BusHealth& health, std::size_t clients,
                              const std::vector<std::uint16_t>& ports);

} // namespace liud
