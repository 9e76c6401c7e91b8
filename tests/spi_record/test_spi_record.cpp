// SPDX-License-Identifier: MIT
// The spi_ioc_transfer record the driver hands to ioctl, byte by byte as the
// kernel's spidev driver reads it, for every access of start-up and of a
// few register reads: the request number of SPI_IOC_MESSAGE(1), the 32-byte
// record, and the frame and receive buffer its 64-bit fields point to.
//
// On 32-bit ARM those fields meet 32-bit pointers: an address with bit 31
// set must be zero-extended.  The driver therefore runs on a thread whose
// stack lies above 0x80000000 there, where its frames live.  The record is
// seen between the driver and the chip binding: the suite is linked with
// -Wl,--wrap=ioctl.
#include "LiuSimTest.h"

#include <LiuDrv.h>
#include <linux/spi/spidev.h>
#include <pthread.h>
#include <sys/mman.h>

#include <array>
#include <cstdarg>
#include <cstring>

extern "C" int __real_ioctl(int fd, unsigned long request, ...);

namespace {

using Bytes = std::array<std::uint8_t, 3>;

struct Request {
    unsigned long number;
    std::array<std::uint8_t, 32> record;
    Bytes frame;    // at tx_buf during the request
    Bytes received; // at rx_buf after it
};

constexpr std::size_t kStackSize = std::size_t{1} << 20;
std::uint8_t* stack = nullptr; // the driver's stack, above 0x80000000 on a 32-bit target
std::vector<Request> requests;

std::uint64_t field(const Request& request, std::size_t offset) {
    std::uint64_t value = 0;
    std::memcpy(&value, request.record.data() + offset, sizeof value); // little endian
    return value;
}

bool onStack(std::uint64_t address) {
    const auto low = reinterpret_cast<std::uintptr_t>(stack);
    return address >= low && address + 3 <= low + kStackSize;
}

void onHighStack(void* (*work)(void*)) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack, kStackSize);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, work, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

class SpiRecord : public LiuSimTest {
  protected:
    void SetUp() override {
        LiuSimTest::SetUp();
        for (std::uintptr_t hint : {0xA0000000u, 0x90000000u, 0xB0000000u}) {
            void* area =
                mmap(sizeof(void*) == 4 ? reinterpret_cast<void*>(hint) : nullptr, kStackSize,
                     PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            stack = static_cast<std::uint8_t*>(area);
            if (sizeof(void*) == 8 || reinterpret_cast<std::uintptr_t>(stack) >= 0x80000000u) {
                break;
            }
            munmap(area, kStackSize);
        }
        ASSERT_NE(stack, MAP_FAILED);
        requests.clear();
    }

    // Every request is one record as the kernel reads it, with the frame the
    // chip logged and, for a read, the value it answered in receive byte 2.
    void expectRecords() {
        const auto log = chip().log();
        ASSERT_EQ(requests.size(), log.size());
        for (std::size_t i = 0; i < log.size(); ++i) {
            const Request& request = requests[i];
            SCOPED_TRACE("request " + std::to_string(i));
            EXPECT_EQ(request.number, 0x40206b00u);
            EXPECT_TRUE(onStack(field(request, 0)) && onStack(field(request, 8)))
                << std::hex << "tx_buf 0x" << field(request, 0) << ", rx_buf 0x"
                << field(request, 8);
            EXPECT_GE(std::max(field(request, 0), field(request, 8)) -
                          std::min(field(request, 0), field(request, 8)),
                      3u);
            // len 3, speed_hz 1000000, delay_usecs 0, bits_per_word 24, every other field 0
            const std::array<std::uint8_t, 16> fixed = {3, 0, 0, 0, 0x40, 0x42, 0x0F, 0, 0, 0, 24};
            EXPECT_TRUE(std::equal(fixed.begin(), fixed.end(), request.record.begin() + 16));
            const bool read = log[i].access == liusim::Access::Read;
            EXPECT_EQ(request.frame,
                      (Bytes{static_cast<std::uint8_t>((read ? 0x80 : 0) | log[i].channel),
                             log[i].reg, read ? std::uint8_t{0} : log[i].value}));
            if (read && log[i].ok) {
                EXPECT_EQ(request.received[2], log[i].value);
            }
        }
    }
};

} // namespace

extern "C" int __wrap_ioctl(int fd, unsigned long number, ...) {
    va_list arguments;
    va_start(arguments, number);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    Request request{number, {}, {}, {}};
    std::memcpy(request.record.data(), argument, request.record.size());
    const std::uint64_t tx = field(request, 0);
    const std::uint64_t rx = field(request, 8);
    if (onStack(tx)) {
        std::memcpy(request.frame.data(), reinterpret_cast<void*>(static_cast<std::uintptr_t>(tx)),
                    3);
    }
    const int result = __real_ioctl(fd, number, argument);
    if (onStack(rx)) {
        std::memcpy(request.received.data(),
                    reinterpret_cast<void*>(static_cast<std::uintptr_t>(rx)), 3);
    }
    requests.push_back(request);
    return result;
}

namespace {

TEST_F(SpiRecord, EveryAccessOfStartUpAndOfRegisterReads) {
    onHighStack([](void*) -> void* {
        EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
        return nullptr;
    });
    expectRecords();
    chip().clearLog();
    requests.clear();
    chip().setReg(3, 0x36, 0x91);
    chip().setReg(0, 0x07, 0x2C);
    chip().setReg(7, 0xFF, 0xFF);
    onHighStack([](void*) -> void* {
        std::uint8_t value = 0;
        EXPECT_EQ(liuDrv_read(0x36, 3, &value), 0);
        EXPECT_EQ(value, 0x91);
        EXPECT_EQ(liuDrv_read(0x07, LIUDRV_CHANNEL_GLOBAL, &value), 0);
        EXPECT_EQ(value, 0x2C);
        EXPECT_EQ(liuDrv_read(0xFF, 7, &value), 0);
        EXPECT_EQ(value, 0xFF);
        return nullptr;
    });
    expectRecords();
}

} // namespace
