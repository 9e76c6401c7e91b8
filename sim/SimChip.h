// SPDX-License-Identifier: MIT
// SimChip: the simulated chip served behind /dev/spidev0.0 to this very
// process, whichever binding the executable was linked with:
//  - umockdev: a umockdev testbed in this process; the executable must run
//    with umockdev's preload library loaded (link it with
//    -Wl,--no-as-needed -lumockdev-preload, or start it under
//    umockdev-wrapper);
//  - inproc: the executable's own open/ioctl serve the device node.
// Code that uses SimChip never needs to know which one it got.
#pragma once

#include "LiuModel.h"
#include "SpidevDevice.h"

namespace liusim {

class SimChip {
  public:
    // Starts serving the chip on the first call; later calls return the same
    // chip.  Throws std::runtime_error when the binding cannot run here.
    static SimChip& start();
    // The binding this executable was linked with: "umockdev" or "inproc".
    static const char* bindingName();

    LiuModel& model() { return model_; }
    SpidevDevice& device() { return device_; }

    // Chip and spidev configuration back to their power-on state.
    void powerOn();

    SimChip(const SimChip&) = delete;
    SimChip& operator=(const SimChip&) = delete;

  private:
    SimChip() = default;

    LiuModel model_;
    SpidevDevice device_{model_};
};

} // namespace liusim
