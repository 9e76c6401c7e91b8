// SPDX-License-Identifier: MIT
// The command language liusim is driven with, shared by scenario files and
// the control channel.  One command per line, words separated by blanks:
//
//   alarm CHANNEL NAME on|off   raise or clear one alarm of a channel;
//                               NAME: los, ais, df, tlos, prbs or eq
//   status CHANNEL VALUE        set the channel's whole alarm status register
//   fail next                   fail the next SPI transfer
//   fail transfer K             fail the K-th transfer from now (1 = next)
//   fail from K                 fail the K-th transfer from now and all after it
//   fail open on|off            refuse opening the device from now on / allow it
//   fail none                   cancel every pending fault, allow opening
//
// CHANNEL is 0..15, VALUE 0..255, K 1..4294967295; numbers are decimal or
// 0x-prefixed hexadecimal.
#pragma once

#include "LiuModel.h"

#include <functional>
#include <stdexcept>
#include <string_view>

namespace liusim {

// A command that cannot be parsed; what() says why, in the user's words.
struct CommandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Command {
  public:
    using Action = std::function<void(LiuModel&)>;

    // Parses one command (without comment or time).  Throws CommandError.
    static Command parse(std::string_view text);

    // Carries the command out on the chip.
    void apply(LiuModel& model) const { action_(model); }

  private:
    explicit Command(Action action) : action_(std::move(action)) {}

    Action action_;
};

} // namespace liusim
