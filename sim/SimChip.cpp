// SPDX-License-Identifier: MIT
#include "SimChip.h"

namespace liusim {

void SimChip::powerOn() {
    model_.powerOn();
    device_.restoreDefaults();
}

} // namespace liusim
