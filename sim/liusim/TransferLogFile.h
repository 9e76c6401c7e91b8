// SPDX-License-Identifier: MIT
// The transfer log file of a liusim run, one line per SPI transfer: the
// seconds since the program started, then the transfer as TransferText.h
// describes it:
//
//   0.012345 W ch3 0x23 <- 0x08
//   0.012410 R global 0x04 -> 0x00
//   0.013002 R ch2 0x36 -> -- FAILED
#pragma once

#include "LiuModel.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace liusim {

class TransferLogFile {
  public:
    // Creates (or truncates) the file.  Throws std::runtime_error.
    TransferLogFile(const std::string& path, std::chrono::steady_clock::time_point start);
    ~TransferLogFile();
    TransferLogFile(const TransferLogFile&) = delete;
    TransferLogFile& operator=(const TransferLogFile&) = delete;

    // Appends the transfer's line and flushes it.
    void write(const Transfer& transfer);

  private:
    std::FILE* file_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace liusim
