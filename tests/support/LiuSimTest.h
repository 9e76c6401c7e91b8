// SPDX-License-Identifier: MIT
// LiuSimTest: the GoogleTest fixture for tests against the simulated chip behind
// /dev/spidev0.0.  Every test starts with the chip at power-on (registers 0),
// waveform sample (ch, ui, i) = ch x 0x11 + ui x 0x10 + i, no trace recorded.
// startLibrary(): liuDrv_init(2, 8) once per process, then the globals as it
// left them (8 ports, symmetrical, line type 1) and the chip at power-on.
// TearDown checks every trace line: mask, one source, line number, id 255 for
// errors and liuTsId of the moment for the others.
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
