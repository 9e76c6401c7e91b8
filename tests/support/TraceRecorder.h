// SPDX-License-Identifier: MIT
// Recording trace sink for tests: initTraceSet/tracePrintf that keep every
// call instead of printing it.  Besides the trace records it keeps one
// stream of what a caller of the library observes, in order: the transfers
// the simulated chip received (noted by the test fixture, in the simulator's
// log format "W ch3 0x23 <- 0x08") and the trace lines as "<level> <text>",
// level C (call), D (detail) or E (error).  All functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace liutrace {

// One tracePrintf call.
struct TraceRecord {
    int id;
    int level;
    unsigned mask;
    std::string source; // "" when the caller passed none
    int line;
    std::string format; // the printf format as passed ("" when none)
    std::string text;   // the format expanded with its arguments
    int setId;          // liuTsId when the line was traced
};

// One initTraceSet call.
struct TraceSetRegistration {
    std::string name;
    int first;
    int last;
    int defaultLevel;
    unsigned mask;
    bool idGiven; // false when the id pointer was null (nothing stored)
};

constexpr int16_t kDefaultTraceSetId = 7;

std::vector<TraceRecord> records();
std::vector<TraceSetRegistration> registrations();
// Transfers and trace lines since the last clear(), oldest first.
std::vector<std::string> stream();
// Appends a transfer, in the simulator's log format, to the stream.
void noteTransfer(std::string text);
// The id initTraceSet stores (kDefaultTraceSetId until changed).
void setTraceSetId(int16_t id);
// Forgets records, registrations and stream; restores kDefaultTraceSetId.
void clear();

} // namespace liutrace
