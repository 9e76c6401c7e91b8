// SPDX-License-Identifier: MIT
// The chip's device node as the programs that drive it (liud, liuctl
// standalone) see it, and the lock that makes one of them its only owner.
//
// The library resets the chip when a process initialises it, so a second
// process that brings the library up under a running liud resets every
// port.  Each program that initialises the library first takes an exclusive
// flock(2) on the device node itself (non-blocking, held until the process
// ends): a second one is refused before its library opens the device, and
// the refusal names the owner's pid, found in /proc/locks as lslocks does.
// Only these programs take the lock: a host program of one's own that
// opens the device without it is not stopped.
#pragma once

#include "LiuDrv.h"

#include <string>

namespace liucmd {

inline constexpr const char* kChipDevice = LIUDRV_DEVICE;

// Why the device cannot be opened read-write ("cannot open /dev/spidev0.0:
// No such file or directory"), or empty when it can: what to say beside the
// library's own trace when liuDrv_init failed before it was initialised.
std::string deviceProblem();

class ChipLock {
  public:
    ChipLock() = default;
    ~ChipLock();
    ChipLock(const ChipLock&) = delete;
    ChipLock& operator=(const ChipLock&) = delete;

    // Takes the lock.  False with why set when another process holds it
    // ("/dev/spidev0.0 is in use by liud (pid 812)").  A device that cannot
    // be opened is not refused here: the library's start-up says why.
    bool take(std::string& why);

  private:
    int fd_ = -1;
};

} // namespace liucmd
