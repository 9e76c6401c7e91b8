// SPDX-License-Identifier: MIT
// Recording trace sink for tests: initTraceSet/tracePrintf that keep every
// call instead of printing it, so a test can check the exact trace lines the
// library emitted (id, level, mask, source, line, format and formatted text).
//
// Link liuTraceRecorder instead of liuTrace.  All functions are thread-safe.
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

// Every tracePrintf call since the last clear(), oldest first.
std::vector<TraceRecord> records();

// Every initTraceSet call since the last clear(), oldest first.
std::vector<TraceSetRegistration> registrations();

// Number of initTraceSet calls since the last clear().
int initCalls();

// The id initTraceSet stores through its id pointer (kDefaultTraceSetId
// until changed).
void setTraceSetId(int16_t id);

// Forgets all records and registrations and restores kDefaultTraceSetId.
void clear();

} // namespace liutrace
