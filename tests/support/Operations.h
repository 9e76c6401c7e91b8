// SPDX-License-Identifier: MIT
// The library's exported operations as one table, for every program that
// drives all of them alike: the golden files, the failure sweep, the
// bad-input matrix, the allocation check, the fuzz target, the benchmarks.
// Plain C++ on LiuDrv.h, no test framework.
#pragma once

#include "LiuDrv.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace liuops {

// What an out-parameter holds until an operation writes it.
constexpr std::int32_t kUntouched = 0x5A5AA5A5;
constexpr std::uint8_t kUntouchedByte = 0xA5;

struct Out {
    std::int32_t value;
    std::uint8_t byte;
    std::int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];

    Out() { reset(); }
    void reset();
    bool untouched() const;
};

enum class Guard { None, Inited, Port }; // the port guard: argument 0 is the port

// A failed transfer inside an operation: its result, and the error line
// traced after the transfer's own (nullptr: none).
struct Failure {
    int result;
    const char* trace;
};

struct Operation {
    const char* name; // without "liuDrv_"
    int arity;
    int (*call)(const int* args, Out* out); // out null: null out-parameters
    int example[4]; // arguments of the sweep, the allocation check, the benchmarks
    Guard guard;
    bool handsBack; // writes an out-parameter, only when it succeeds
    bool prints;    // on standard output or error
    Failure failed;
    Failure failedReadout; // of a transfer of its waveform read-out
    int continuesFrom;     // from this failure position on every transfer still happens
};

std::span<const Operation> operations();
const Operation* findOperation(std::string_view name);

// Points the standard error stream at /dev/null for its lifetime.
struct QuietStderr {
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    const int saved;
};

} // namespace liuops
