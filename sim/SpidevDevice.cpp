// SPDX-License-Identifier: MIT
#include "SpidevDevice.h"

#include <linux/spi/spi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

namespace liusim {
namespace {

template <typename Field> std::string mismatch(const char* name, Field actual, Field expected) {
    return std::string(name) + ' ' + std::to_string(actual) + ", expected " +
           std::to_string(expected);
}

void reportRefusal(const std::string& fault, std::size_t index, std::size_t count) {
    if (count > 1) {
        std::fprintf(stderr, "liusim: rejected SPI transfer: %s (record %zu of %zu)\n",
                     fault.c_str(), index + 1, count);
    } else {
        std::fprintf(stderr, "liusim: rejected SPI transfer: %s\n", fault.c_str());
    }
}

std::uint32_t loadWord(const std::uint8_t* value) {
    std::uint32_t word;
    std::memcpy(&word, value, sizeof word);
    return word;
}

void storeWord(std::uint8_t* value, std::uint32_t word) {
    std::memcpy(value, &word, sizeof word);
}

// SPI_IOC_MESSAGE(n) for any n: the size field carries n records.
bool isMessage(unsigned long request) {
    return _IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 &&
           _IOC_DIR(request) == _IOC_WRITE;
}

bool isSetting(unsigned long request) {
    switch (request) {
    case SPI_IOC_RD_MODE:
    case SPI_IOC_WR_MODE:
    case SPI_IOC_RD_MODE32:
    case SPI_IOC_WR_MODE32:
    case SPI_IOC_RD_LSB_FIRST:
    case SPI_IOC_WR_LSB_FIRST:
    case SPI_IOC_RD_BITS_PER_WORD:
    case SPI_IOC_WR_BITS_PER_WORD:
    case SPI_IOC_RD_MAX_SPEED_HZ:
    case SPI_IOC_WR_MAX_SPEED_HZ:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<std::string> SpidevDevice::recordFault(const spi_ioc_transfer& record) {
    if (record.len != kFrameLength) {
        return mismatch("len", record.len, kFrameLength);
    }
    if (record.bits_per_word != kBitsPerWord) {
        return mismatch("bits_per_word", unsigned{record.bits_per_word}, unsigned{kBitsPerWord});
    }
    if (record.speed_hz != kSpeedHz) {
        return mismatch("speed_hz", record.speed_hz, kSpeedHz);
    }
    if (record.delay_usecs != 0) {
        return mismatch("delay_usecs", unsigned{record.delay_usecs}, 0u);
    }
    if (record.cs_change != 0) {
        return mismatch("cs_change", unsigned{record.cs_change}, 0u);
    }
    if (record.tx_nbits != 0 || record.rx_nbits != 0 || record.word_delay_usecs != 0 ||
        record.pad != 0) {
        return std::string("tx_nbits, rx_nbits, word_delay_usecs and pad must be 0");
    }
    if (record.tx_buf == 0) {
        return std::string("tx_buf is null");
    }
    if (record.rx_buf == 0) {
        return std::string("rx_buf is null");
    }
    return std::nullopt;
}

IoctlResult SpidevDevice::ioctl(unsigned long request, CallerMemory& memory) {
    try {
        return serve(request, memory);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "liusim: %s\n", failure.what());
        return {-1, EIO};
    }
}

IoctlResult SpidevDevice::serve(unsigned long request, CallerMemory& memory) {
    if (isMessage(request)) {
        return serveMessage(request, memory);
    }
    if (!isSetting(request)) {
        return {-1, ENOTTY};
    }
    std::uint8_t* const value = memory.argument(_IOC_SIZE(request));
    if (value == nullptr) {
        return {-1, EFAULT};
    }
    return serveSetting(request, value);
}

IoctlResult SpidevDevice::serveMessage(unsigned long request, CallerMemory& memory) {
    const std::size_t size = _IOC_SIZE(request);
    if (size % sizeof(spi_ioc_transfer) != 0) {
        std::fprintf(stderr,
                     "liusim: rejected SPI message: %zu bytes is not a whole number of "
                     "transfer records\n",
                     size);
        return {-1, EINVAL};
    }
    const std::size_t count = size / sizeof(spi_ioc_transfer);
    if (count == 0) {
        return {0, 0};
    }
    const std::uint8_t* const table = memory.argument(size);
    if (table == nullptr) {
        return {-1, EFAULT};
    }
    std::vector<spi_ioc_transfer> records(count);
    std::memcpy(records.data(), table, size);
    for (std::size_t i = 0; i < count; ++i) {
        if (const auto fault = recordFault(records[i])) {
            reportRefusal(*fault, i, count);
            return {-1, EINVAL};
        }
    }
    std::vector<const std::uint8_t*> frames(count);
    std::vector<std::uint8_t*> answers(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!memory.frameBuffers(i, frames[i], answers[i])) {
            return {-1, EFAULT};
        }
        if (const auto fault = LiuModel::frameFault(LiuModel::Frame(frames[i], kFrameLength))) {
            reportRefusal(*fault, i, count);
            return {-1, EINVAL};
        }
    }
    long bytes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        switch (model_.exchange(LiuModel::Frame(frames[i], kFrameLength),
                                LiuModel::Answer(answers[i], kFrameLength))) {
        case FrameResult::Done:
            bytes += kFrameLength;
            break;
        case FrameResult::Failed:
            return {-1, EIO};
        case FrameResult::Malformed:
            return {-1, EINVAL};
        }
    }
    return {bytes, 0};
}

IoctlResult SpidevDevice::serveSetting(unsigned long request, std::uint8_t* value) {
    std::lock_guard guard(lock_);
    switch (request) {
    case SPI_IOC_RD_MODE:
        *value = static_cast<std::uint8_t>(mode_);
        break;
    case SPI_IOC_WR_MODE:
        mode_ = (mode_ & ~0xFFu) | *value;
        break;
    case SPI_IOC_RD_MODE32:
        storeWord(value, mode_);
        break;
    case SPI_IOC_WR_MODE32:
        mode_ = loadWord(value);
        break;
    case SPI_IOC_RD_LSB_FIRST:
        *value = (mode_ & SPI_LSB_FIRST) != 0 ? 1 : 0;
        break;
    case SPI_IOC_WR_LSB_FIRST:
        mode_ = *value != 0 ? (mode_ | SPI_LSB_FIRST) : (mode_ & ~std::uint32_t{SPI_LSB_FIRST});
        break;
    case SPI_IOC_RD_BITS_PER_WORD:
        *value = bitsPerWord_;
        break;
    case SPI_IOC_WR_BITS_PER_WORD:
        bitsPerWord_ = *value;
        break;
    case SPI_IOC_RD_MAX_SPEED_HZ:
        storeWord(value, maxSpeedHz_);
        break;
    case SPI_IOC_WR_MAX_SPEED_HZ:
        maxSpeedHz_ = loadWord(value);
        break;
    default:
        return {-1, ENOTTY};
    }
    return {0, 0};
}

void SpidevDevice::restoreDefaults() {
    std::lock_guard guard(lock_);
    mode_ = kDefaultMode;
    bitsPerWord_ = kDefaultBitsPerWord;
    maxSpeedHz_ = kDefaultMaxSpeedHz;
}

} // namespace liusim
