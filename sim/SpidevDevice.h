// SPDX-License-Identifier: MIT
// SpidevDevice: the spidev character device in front of the simulated chip,
// behaving like the board's SPI driver.  It serves SPI_IOC_MESSAGE(n)
// requests (checking every transfer record the way the driver does) and the
// configuration requests (mode, LSB first, bits per word, maximum speed),
// keeping what was written.  Both bindings share it; they differ only in how
// they reach the calling program's memory.
#pragma once

#include "LiuModel.h"

#include <linux/spi/spidev.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
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

    enum class Request {
        Message, // SPI_IOC_MESSAGE(n), any n
        Setting, // SPI_IOC_RD_* / SPI_IOC_WR_* configuration request
        Unknown  // anything else: ENOTTY
    };
    static Request classify(unsigned long request);
    // Bytes of the argument a request carries (the size field of the request).
    static std::size_t argumentSize(unsigned long request);
    // Number of records of a message request, or nothing when its size is
    // not a whole number of records.
    static std::optional<std::size_t> recordCount(unsigned long request);
    // Why the board's driver refuses a record, or nothing when it accepts it.
    static std::optional<std::string> recordFault(const spi_ioc_transfer& record);

    // Finds the frame (tx) and receive buffer (rx) of record number index,
    // kFrameLength bytes each; false when the caller's memory is unreachable.
    using BufferLookup =
        std::function<bool(std::size_t index, const std::uint8_t*& tx, std::uint8_t*& rx)>;

    explicit SpidevDevice(LiuModel& model) : model_(model) {}
    SpidevDevice(const SpidevDevice&) = delete;
    SpidevDevice& operator=(const SpidevDevice&) = delete;

    LiuModel& model() { return model_; }

    // Serves SPI_IOC_MESSAGE(n).  Every record and frame is checked before
    // the first one runs: a refused one fails the request with EINVAL and a
    // "liusim: rejected SPI transfer: ..." line on stderr, and nothing
    // reaches the chip.  The records then run in order; a transfer failed by
    // fault injection ends the request with EIO.  Success: 3 bytes per record.
    IoctlResult serveMessage(std::span<const spi_ioc_transfer> records,
                             const BufferLookup& buffers);

    // Serves a configuration request; value points to its argumentSize()
    // bytes (read for SPI_IOC_WR_*, written for SPI_IOC_RD_*).
    IoctlResult serveSetting(unsigned long request, std::uint8_t* value);

    // Configuration back to its power-on values.
    void restoreDefaults();

  private:
    LiuModel& model_;
    std::mutex lock_;
    std::uint32_t mode_ = kDefaultMode; // SPI_LSB_FIRST is one of its bits
    std::uint8_t bitsPerWord_ = kDefaultBitsPerWord;
    std::uint32_t maxSpeedHz_ = kDefaultMaxSpeedHz;
};

} // namespace liusim
