// SPDX-License-Identifier: MIT
// SimChip served through umockdev inside this process.
#include "SimChip.h"
#include "UmockdevBinding.h"

#include <stdexcept>

namespace liusim {
namespace {

void serveThroughUmockdev(SpidevDevice& device) {
    if (!UmockdevBinding::preloadActive()) {
        throw std::runtime_error(
            "liusim: umockdev's preload library is not loaded into this process: link the "
            "executable with -Wl,--no-as-needed -lumockdev-preload or run it under "
            "umockdev-wrapper");
    }
    static UmockdevBinding binding(device);
}

} // namespace

SimChip& SimChip::start() {
    static SimChip chip;
    serveThroughUmockdev(chip.device());
    return chip;
}

const char* SimChip::bindingName() {
    return "umockdev";
}

} // namespace liusim
