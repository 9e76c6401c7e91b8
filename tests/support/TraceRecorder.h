// SPDX-License-Identifier: MIT
// Recording trace sink for tests: initTraceSet/tracePrintf that keep every
// call.  Besides the trace records it keeps one stream of what a caller of
// the library observes, in order: the transfers the simulated chip received
// (noted by the test fixture, in the chip log's format "W ch3 0x23 <- 0x08"),
// the trace lines as "C|D|E text" (call, detail, error level) and the trace
// set registrations as "I name first last level mask".  Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace liutrace {

struct TraceRecord { // one tracePrintf call
    int id, level;
    unsigned mask;
    std::string source; // "" when the caller passed none
    int line;
    std::string format, text; // as passed ("" when none), and expanded
    int setId;                // liuTsId when the line was traced
};

constexpr int16_t kDefaultTraceSetId = 7;

std::vector<TraceRecord> records();
std::vector<std::string> stream();
void noteTransfer(std::string text);
// The id initTraceSet stores (kDefaultTraceSetId until changed).
void setTraceSetId(int16_t id);
// Forgets records and stream; restores kDefaultTraceSetId.
void clear();

} // namespace liutrace
