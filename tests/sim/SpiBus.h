// SPDX-License-Identifier: MIT
// The driver's way to the chip, spelled out for the simulator's own tests:
// open /dev/spidev0.0 read-write, then one SPI_IOC_MESSAGE(1) request per
// register access, with the transfer record the driver builds (3-byte frame,
// 24 bits per word, 1 MHz, no delay, every other field 0).
#pragma once

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace spibus {

using Bytes = std::array<std::uint8_t, 3>;

// What one request gave back: ioctl's result, errno when it was -1, and
// the receive buffer (pre-filled with 0xEE, so untouched bytes show).
struct Reply {
    int result;
    int error;
    Bytes rx;
};

inline spi_ioc_transfer recordFor(const Bytes& tx, Bytes& rx) {
    return spi_ioc_transfer{.tx_buf = reinterpret_cast<std::uintptr_t>(tx.data()),
                            .rx_buf = reinterpret_cast<std::uintptr_t>(rx.data()),
                            .len = 3,
                            .speed_hz = 1000000,
                            .delay_usecs = 0,
                            .bits_per_word = 24,
                            .cs_change = 0,
                            .tx_nbits = 0,
                            .rx_nbits = 0,
                            .word_delay_usecs = 0,
                            .pad = 0};
}

inline int openDevice() {
    return open("/dev/spidev0.0", O_RDWR);
}

// Sends one record as it is (tx/rx pointers included).
inline Reply send(int fd, const spi_ioc_transfer& record, const Bytes& rx) {
    errno = 0;
    const int result = ioctl(fd, SPI_IOC_MESSAGE(1), &record);
    return {result, result < 0 ? errno : 0, rx};
}

// Sends one frame with the driver's record.
inline Reply transfer(int fd, const Bytes& frame) {
    Bytes rx{0xEE, 0xEE, 0xEE};
    return send(fd, recordFor(frame, rx), rx);
}

inline Bytes writeFrame(unsigned channel, std::uint8_t reg, std::uint8_t value) {
    return {static_cast<std::uint8_t>(channel & 0x0F), reg, value};
}

inline Bytes readFrame(unsigned channel, std::uint8_t reg) {
    return {static_cast<std::uint8_t>(0x80 | (channel & 0x0F)), reg, 0};
}

} // namespace spibus
