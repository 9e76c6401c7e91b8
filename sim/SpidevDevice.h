// SPDX-License-Identifier: MIT
// SpidevDevice: the spidev character device in front of the simulated chip,
// behaving like the board's SPI driver.  It serves SPI_IOC_MESSAGE(n)
// requests (checking every transfer record the way the driver does) and the
// configuration requests (mode, LSB first, bits per word, maximum speed),
// keeping what was written.  Both bindings hand every request of the device
// to ioctl(); they differ only in how they reach the calling program's memory.
#pragma once

#include "LiuModel.h"

#include <linux/spi/spidev.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace liusim {

// Outcome of one ioctl request: what ioctl returns, and errno when it is -1.
struct IoctlResult {
    long value;
    int error; // 0 on success
};

class SpidevDevice {
  public:
    static constexpr const char* kPath = "/dev/spidev0.0";

    // The only transfer record the board's driver accepts: one 24-bit word
    // (3 bytes) at 1 MHz, no delay, no chip-select change, every other field
    // 0, both buffers present.
    static constexpr std::uint32_t kFrameLength = 3;
    static constexpr std::uint8_t kBitsPerWord = 24;
    static constexpr std::uint32_t kSpeedHz = 1000000;

    // Configuration after power-on: mode 0, 8 bits per word, 1 MHz.
    static constexpr std::uint32_t kDefaultMode = 0;
    static constexpr std::uint8_t kDefaultBitsPerWord = 8;
    static constexpr std::uint32_t kDefaultMaxSpeedHz = kSpeedHz;

    // How a binding reaches the memory of the program that called ioctl.
    class CallerMemory {
      public:
        // The size bytes the request's argument points to, readable and
        // writable until the request completes; null when unreachable.
        virtual std::uint8_t* argument(std::size_t size) = 0;
        // The frame (tx) and receive buffer (rx) of record number index of
        // a message request's record table, kFrameLength bytes each; false
        // when the caller's memory is unreachable.
        virtual bool frameBuffers(std::size_t index, const std::uint8_t*& tx,
                                  std::uint8_t*& rx) = 0;

      protected:
        ~CallerMemory() = default;
    };

    explicit SpidevDevice(LiuModel& model) : model_(model) {}
    SpidevDevice(const SpidevDevice&) = delete;
    SpidevDevice& operator=(const SpidevDevice&) = delete;

    LiuModel& model() { return model_; }

    // Serves one ioctl request on the device, for either binding:
    //  - SPI_IOC_MESSAGE(n): the argument size must be a whole number of
    //    records, else EINVAL and a "liusim: rejected SPI message: ..." line
    //    on stderr.  Every record and frame is checked before the first one
    //    runs: a refused one fails the request with EINVAL and a
    //    "liusim: rejected SPI transfer: ..." line, and nothing reaches the
    //    chip.  The records then run in order; a transfer failed by fault
    //    injection ends the request with EIO.  Success: 3 bytes per record.
    //  - SPI_IOC_RD_* / SPI_IOC_WR_*: reads or keeps the setting; 0.
    //  - anything else: ENOTTY.
    // Unreachable caller memory gives EFAULT.  Never throws: an internal
    // failure is printed on stderr and gives EIO.
    IoctlResult ioctl(unsigned long request, CallerMemory& memory);

    // Configuration back to its power-on values.
    void restoreDefaults();

  private:
    IoctlResult serve(unsigned long request, CallerMemory& memory);
    IoctlResult serveMessage(unsigned long request, CallerMemory& memory);
    IoctlResult serveSetting(unsigned long request, std::uint8_t* value);
    // Why the board's driver refuses a record, or nothing when it accepts it.
    static std::optional<std::string> recordFault(const spi_ioc_transfer& record);

    LiuModel& model_;
    std::mutex lock_;
    std::uint32_t mode_ = kDefaultMode; // SPI_LSB_FIRST is one of its bits
    std::uint8_t bitsPerWord_ = kDefaultBitsPerWord;
    std::uint32_t maxSpeedHz_ = kDefaultMaxSpeedHz;
};

} // namespace liusim
