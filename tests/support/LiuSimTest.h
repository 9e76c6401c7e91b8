// SPDX-License-Identifier: MIT
// LiuSimTest: the GoogleTest fixture for tests against the simulated chip.
//
// Every test starts with the chip behind /dev/spidev0.0 in its power-on
// state (registers, waveform samples and alarms 0, empty transfer log, no
// fault pending, spidev configuration at its defaults) and an empty trace
// record.  The fixture hides which binding serves the chip (umockdev or
// inproc: chosen when the test executable is linked).
//
// The driver library initialises once per process, so each test must run
// in its own process: register suites with liu_add_test_suite() (see
// tests/CMakeLists.txt), which does that through gtest_discover_tests.
#pragma once

#include "LiuModel.h"
#include "TraceRecorder.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

class LiuSimTest : public ::testing::Test {
  protected:
    void SetUp() override;

    // The simulated chip: peek/poke registers and samples, raise alarms,
    // inject faults, read the transfer log.
    liusim::LiuModel& chip();

    // Every transfer since the test started (or since chip().clearLog()), in
    // readable form: "W ch3 0x23 <- 0x08", "R global 0x04 -> 0x00",
    // "R ch2 0x36 -> -- FAILED" (see sim/TransferText.h).
    std::vector<std::string> transfers() const;

    // Every trace line recorded since the test started, oldest first.
    std::vector<liutrace::TraceRecord> traces() const;
    // Their formatted texts only.
    std::vector<std::string> traceTexts() const;
    // The trace lines emitted with exactly this printf format.
    std::vector<liutrace::TraceRecord> tracesWithFormat(std::string_view format) const;
    // The newest trace line; when there is none the test fails and an empty
    // record (level 0, empty texts) is returned.
    liutrace::TraceRecord lastTrace() const;

    // "umockdev" or "inproc".
    static const char* bindingName();

  private:
    liusim::LiuModel* chip_ = nullptr;
};
