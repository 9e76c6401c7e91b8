// SPDX-License-Identifier: MIT
// The library's exported operations as one table, for every program that
// drives all of them the same way: the golden files' interpreter, the failure
// sweep, the bad-input matrix, the allocation check, the fuzz target and the
// benchmarks.  Plain C++ on top of LiuDrv.h, no test framework.
#pragma once

#include "LiuDrv.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace liuops {

// What an out-parameter holds until an operation writes it.
constexpr std::int32_t kUntouched = 0x5A5AA5A5;
constexpr std::uint8_t kUntouchedByte = 0xA5;

// The out-parameters an operation may write, preset to the sentinel.
struct Out {
    std::int32_t value;
    std::uint8_t byte;
    std::int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];

    Out() { reset(); }
    void reset();
    bool untouched() const;
};

// Which refusal an operation makes before it touches the chip.
enum class Guard {
    None,   // no guard
    Inited, // the initialised check only
    Port,   // the port guard: argument 0 is the port
};

// What a failed register transfer inside the operation leads to: its result
// and the error line traced after the transfer's own (nullptr: none).
struct Failure {
    int result;
    const char* trace;
};

struct Operation {
    const char* name; // the library's name without "liuDrv_"
    int arity;        // int arguments
    // One call; out null passes null for the out-parameter.
    int (*call)(const int* args, Out* out);
    int example[4]; // arguments of the sweep, the allocation check and the benchmarks
    Guard guard;
    bool handsBack;        // writes an out-parameter, only when it succeeds
    bool prints;           // writes to standard output or error
    Failure failed;        // a failed transfer
    Failure failedReadout; // a failed transfer of its waveform read-out
    // From this failure position on every transfer still happens (0: the
    // operation stops at the failed transfer).
    int continuesFrom;
};

std::span<const Operation> operations();
const Operation* findOperation(std::string_view name);

// Points the standard error stream at /dev/null for its lifetime.
class QuietStderr {
  public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

} // namespace liuops
