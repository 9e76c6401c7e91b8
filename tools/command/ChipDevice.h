// SPDX-License-Identifier: MIT
// The chip's device node as the programs that drive it (liud, liuctl
// standalone) see it.
#pragma once

#include "LiuDrv.h"

#include <string>

namespace liucmd {

inline constexpr const char* kChipDevice = LIUDRV_DEVICE;

// Why the device cannot be opened read-write ("cannot open /dev/spidev0.0:
// No such file or directory"), or empty when it can: what to say beside the
// library's own trace when liuDrv_init failed before it was initialised.
std::string deviceProblem();

} // namespace liucmd
