// SPDX-License-Identifier: MIT
// The library's operations as the benchmarks, the instruction count driver
// and the allocation test run them: one entry per operation, each a single
// call that can be repeated any number of times on port 3 of a chip that
// liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8) has brought up, plus what the
// chip needs before the first call.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace liubench {

// The port every per-port operation works on.
constexpr std::uint16_t kPort = 3;
// Port count given to liuDrv_init.
constexpr std::uint8_t kPorts = 8;

struct Operation {
    const char* name;    // short name used in the tables, e.g. "setLineType"
    void (*prepare)();   // puts the chip into the state the operation needs; may be null
    int (*run)();        // one call of the operation; returns its result
    int expectedResult;  // what every call returns on a healthy chip
    bool printsOnStderr; // the caller redirects stderr while it runs
};

// Every operation, in the order of the tables.
std::span<const Operation> operations();

// The operation of that name, or null.
const Operation* findOperation(std::string_view name);

// Points the standard error stream at /dev/null for its lifetime (when
// active), so a printing operation can run thousands of times quietly.
class QuietStderr {
  public:
    explicit QuietStderr(bool active);
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

} // namespace liubench
