// SPDX-License-Identifier: MIT
// A scenario: commands (see Command.h) to carry out at given times while the
// program runs.  One step per line:
//
//   TIME COMMAND...
//
// TIME is in seconds since the program was started (e.g. 1.5).  Steps at
// time 0 are carried out before the program starts.  Steps run in time
// order; steps with the same time run in file order.  '#' starts a comment
// that runs to the end of the line; blank lines are ignored.
//
//   # LOS on port 2 after a second and a half, gone two seconds later
//   0    status 3 0x91
//   1.5  alarm 2 los on
//   3.5  alarm 2 los off
//   4    fail from 10
#pragma once

#include "Command.h"
#include "LiuModel.h"

#include <chrono>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace liusim {

class Scenario {
  public:
    using Seconds = std::chrono::duration<double>;

    // Reads a scenario file.  Throws CommandError naming file and line.
    static Scenario load(const std::string& path);
    // Reads a scenario from a stream; name is used in error messages.
    static Scenario read(std::istream& in, const std::string& name);

    // Carries out, in order, every step due at elapsed time that has not run yet.
    void runDue(Seconds elapsed, LiuModel& model);
    // Time of the next step not run yet, or nothing when all have run.
    std::optional<Seconds> nextTime() const;

  private:
    struct Step {
        Seconds time;
        Command command;
    };

    std::vector<Step> steps_;
    std::size_t next_ = 0;
};

} // namespace liusim
