// SPDX-License-Identifier: MIT
// A transfer as a person reads it, for logs and test messages:
//
//   W ch3 0x23 <- 0x08          write of 0x08 to register 0x23 of channel 3
//   R global 0x04 -> 0x00       read of global register 0x04, answered 0x00
//   R ch2 0x36 -> -- FAILED     read failed by fault injection
//
// The frame does not tell the device-global registers from channel 0's (both
// are bank 0), so bank 0 prints as ch0 except for the known global registers
// 0x04 (software reset) and 0x07 (reference clocks), which print as global.
#pragma once

#include "LiuModel.h"

#include <ostream>
#include <string>

namespace liusim {

std::string describe(const Transfer& transfer);

// Lets GoogleTest and streams show a transfer the same way.
std::ostream& operator<<(std::ostream& out, const Transfer& transfer);

} // namespace liusim
