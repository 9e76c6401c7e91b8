// SPDX-License-Identifier: MIT
// The library's trace calls pass through liud on their way to libliuTrace
// (TraceTap.cpp): liud counts the failed transfers they report.
#pragma once

#include <cstdint>

namespace liud {

// Failed SPI transfers since start-up, counted from the library's error
// traces.
std::uint64_t failedTransfers();

} // namespace liud
