// SPDX-License-Identifier: MIT
// The library's trace calls pass through liud on their way to libliuTrace
// (TraceTap.cpp defines tracePrintf, which the library's calls bind to
// first).  liud counts the failed transfers they report instead of letting
// a dead bus write a line per frame (BusHealth summarises them), writes the
// library's other error traces into its log with the error priority, and
// hands call and detail traces on to libliuTrace, whose filter the trace
// command sets.
#pragma once

#include "Log.h"

#include <cstdint>

namespace liud {

// Failed SPI transfers since start-up, counted from the library's error
// traces ("<op>: SPI read failure!").
std::uint64_t failedTransfers();

// While one lives, the library's other error traces go to its log
// ("<3>liuDrv: ..."); without one they go on to libliuTrace like every
// other trace.
class LibraryErrorLog {
  public:
    explicit LibraryErrorLog(const liutool::Log& log);
    ~LibraryErrorLog();
    LibraryErrorLog(const LibraryErrorLog&) = delete;
    LibraryErrorLog& operator=(const LibraryErrorLog&) = delete;
};

} // namespace liud
