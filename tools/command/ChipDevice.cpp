// SPDX-License-Identifier: MIT
#include "ChipDevice.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace liucmd {

std::string deviceProblem() {
    const int fd = open(kChipDevice, O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return {};
    }
    return std::string("cannot open ") + kChipDevice + ": " + std::strerror(errno);
}

} // namespace liucmd
