// SPDX-License-Identifier: MIT
// LiuSimTest: the GoogleTest fixture for tests against the simulated chip
// behind /dev/spidev0.0 (umockdev or inproc binding, chosen at link time).
// Every test starts with the chip at power-on (registers 0, no fault),
// waveform sample (ch, ui, i) holding ch x 0x11 + ui x 0x10 + i, and an
// empty trace record.  The library starts once per process: startLibrary()
// runs liuDrv_init(2, 8) at its first call, then puts back the globals
// start-up left (8 ports, symmetrical interface, line type 1) and the chip
// at power-on.  TearDown checks every trace line: the mask, one source, a
// positive line number, id 255 for errors and liuTsId of the moment else.
#pragma once

#include "LiuModel.h"
#include "TraceRecorder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class LiuSimTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    liusim::LiuModel& chip() { return *chip_; }
    void startLibrary();
    // A value of its own in every register, and registers that steer the
    // operations onto their longest paths.
    void presetBusyChip();

    std::vector<std::string> transfers() const; // in the chip log's format
    liutrace::TraceRecord lastTrace() const;    // the test fails when there is none
    static const char* bindingName();

  private:
    liusim::LiuModel* chip_ = nullptr;
};
