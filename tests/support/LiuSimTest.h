// SPDX-License-Identifier: MIT
// LiuSimTest: the GoogleTest fixture for tests against the simulated chip.
//
// Every test starts with the chip behind /dev/spidev0.0 at power-on (every
// register 0, no fault pending), waveform sample (ch, ui, i) holding
// ch x 0x11 + ui x 0x10 + i, and an empty trace record and stream.  The
// binding that serves the chip (umockdev or inproc) is chosen when the test
// executable is linked.
//
// The library starts once per process and has no tear-down: startLibrary()
// runs liuDrv_init(2, 8) at its first call in the process, then puts the
// exported globals back to what start-up left (8 ports, symmetrical
// interface, line type 1) and the chip back to power-on, so that every test
// on the started library begins alike.  TearDown checks every trace line of
// the test: the trace mask, one source, a positive line number, and level
// and id as a pair (error lines id 255, the others liuTsId of that moment).
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
    void TearDown() override;

    liusim::LiuModel& chip();
    void startLibrary();
    // Every register of every bank a value of its own, and the registers
    // that steer the operations onto their longest paths (user waveform
    // selected, line code 2, haul 2, T1 mode on odd channels, ...).
    void presetBusyChip();

    // Transfers since the test started or the log was cleared, e.g.
    // "W ch3 0x23 <- 0x08", "R global 0x04 -> 0x00", "R ch2 0x36 -> -- FAILED".
    std::vector<std::string> transfers() const;
    std::vector<liutrace::TraceRecord> traces() const;
    std::vector<std::string> traceTexts() const;
    std::vector<liutrace::TraceRecord> tracesWithFormat(std::string_view format) const;
    // The newest trace line (the test fails when there is none).
    liutrace::TraceRecord lastTrace() const;
    static const char* bindingName();

  private:
    liusim::LiuModel* chip_ = nullptr;
};
