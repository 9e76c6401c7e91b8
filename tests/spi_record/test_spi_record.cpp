// SPDX-License-Identifier: MIT
// The spi_ioc_transfer record the driver hands to ioctl, checked byte by byte
// as the kernel's spidev driver reads it: the request number of
// SPI_IOC_MESSAGE(1), the 32-byte record with its 64-bit buffer fields, and
// the frame and receive buffer those fields point to.
//
// On 32-bit ARM the 64-bit tx_buf/rx_buf fields meet 32-bit pointers: an
// address with bit 31 set must be zero-extended, or the kernel sees an
// address it rejects.  The driver's calls therefore run on a thread whose
// stack lies above 0x80000000 there, so the frame and receive buffer (which
// live on the caller's stack) have such addresses.
//
// The record is captured between the driver and the chip binding: the suite
// is linked with -Wl,--wrap=ioctl, so the driver's ioctl calls reach
// __wrap_ioctl below, which copies the record and the frame and passes the
// call on unchanged.
#include "LiuSimTest.h"

#include <LiuDrv.h>

#include <linux/spi/spidev.h>
#include <pthread.h>
#include <sys/mman.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/asan_interface.h>
#endif

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern "C" int __real_ioctl(int fd, unsigned long request, ...);

namespace {

constexpr unsigned long kMessageRequest = 0x40206b00;
constexpr std::size_t kRecordBytes = 32;
constexpr std::size_t kFrameBytes = 3;

// The layout the spidev driver reads, on every ABI (the record is made of
// fixed-width fields on purpose).
static_assert(SPI_IOC_MESSAGE(1) == kMessageRequest);
static_assert(sizeof(spi_ioc_transfer) == kRecordBytes);
static_assert(offsetof(spi_ioc_transfer, tx_buf) == 0);
static_assert(offsetof(spi_ioc_transfer, rx_buf) == 8);
static_assert(offsetof(spi_ioc_transfer, len) == 16);
static_assert(offsetof(spi_ioc_transfer, speed_hz) == 20);
static_assert(offsetof(spi_ioc_transfer, delay_usecs) == 24);
static_assert(offsetof(spi_ioc_transfer, bits_per_word) == 26);

using Frame = std::array<std::uint8_t, kFrameBytes>;

// One ioctl request as the driver made it.
struct Request {
    unsigned long number = 0;
    std::array<std::uint8_t, kRecordBytes> record{};
    bool txInCallerStack = false; // tx_buf pointed into the caller's stack
    bool rxInCallerStack = false; // rx_buf pointed into the caller's stack
    Frame frame{};                // the bytes at tx_buf during the request
    Frame received{};             // the bytes at rx_buf after the request
};

// The stack the driver's calls run on, and the requests captured meanwhile.
struct Capture {
    std::uint64_t stackLow = 0;
    std::uint64_t stackHigh = 0;
    bool active = false;
    std::vector<Request> requests;

    // Whether length bytes at address lie on the calling thread's stack: the
    // high stack, or, with AddressSanitizer's stack-use-after-return check,
    // the thread's fake stack where it keeps the locals.  Only valid on the
    // thread that runs the driver.
    bool inCallerStack(std::uint64_t address, std::size_t length) const {
        if (address >= stackLow && address + length <= stackHigh) {
            return true;
        }
#ifdef __SANITIZE_ADDRESS__
        // Not on a 32-bit target: narrowing the 64-bit field to a pointer
        // there would hide a sign-extended address.
        if (sizeof(void*) == 8) {
            void* begin = nullptr;
            void* end = nullptr;
            void* local = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
            if (__asan_addr_is_in_fake_stack(__asan_get_current_fake_stack(), local, &begin,
                                             &end) != nullptr) {
                return address + length <= reinterpret_cast<std::uintptr_t>(end);
            }
        }
#endif
        return false;
    }
};

Capture capture;

std::uint64_t littleEndian(const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = count; i-- > 0;) {
        value = value << 8 | bytes[i];
    }
    return value;
}

std::uint64_t txField(const Request& request) {
    return littleEndian(request.record.data(), 8);
}

std::uint64_t rxField(const Request& request) {
    return littleEndian(request.record.data() + 8, 8);
}

// A stack for the driver's calls; on a 32-bit target placed above 0x80000000.
class HighStack {
  public:
    static constexpr std::size_t kSize = std::size_t{1} << 20;

    HighStack() {
        if constexpr (sizeof(void*) == 4) {
            for (std::uintptr_t hint : {0xA0000000u, 0x90000000u, 0xB0000000u}) {
                base_ = map(reinterpret_cast<void*>(hint));
                if (base_ != nullptr && reinterpret_cast<std::uintptr_t>(base_) >= 0x80000000u) {
                    return;
                }
                unmap();
            }
        } else {
            base_ = map(nullptr);
        }
    }
    ~HighStack() { unmap(); }
    HighStack(const HighStack&) = delete;
    HighStack& operator=(const HighStack&) = delete;

    void* base() const { return base_; }
    std::uint64_t low() const { return reinterpret_cast<std::uintptr_t>(base_); }
    std::uint64_t high() const { return low() + kSize; }

  private:
    static void* map(void* hint) {
        void* area = mmap(hint, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return area == MAP_FAILED ? nullptr : area;
    }
    void unmap() {
        if (base_ != nullptr) {
            munmap(base_, kSize);
            base_ = nullptr;
        }
    }

    void* base_ = nullptr;
};

class SpiRecordTest : public LiuSimTest {
  protected:
    void SetUp() override {
        LiuSimTest::SetUp();
        ASSERT_NE(stack_.base(), nullptr) << "no memory for the driver's stack";
        if constexpr (sizeof(void*) == 4) {
            ASSERT_GE(stack_.low(), 0x80000000u) << "the driver's stack must lie above 0x80000000";
        }
        capture = Capture{stack_.low(), stack_.high(), false, {}};
    }

    void TearDown() override { capture.active = false; }

    // Runs work on a thread whose stack is the high stack, capturing every
    // ioctl request the driver makes meanwhile.
    void onHighStack(const std::function<void()>& work) {
        capture.requests.clear();
        pthread_attr_t attributes;
        ASSERT_EQ(pthread_attr_init(&attributes), 0);
        ASSERT_EQ(pthread_attr_setstack(&attributes, stack_.base(), HighStack::kSize), 0);
        auto body = [](void* argument) -> void* {
            capture.active = true;
            (*static_cast<const std::function<void()>*>(argument))();
            capture.active = false;
            return nullptr;
        };
        pthread_t thread;
        const int started =
            pthread_create(&thread, &attributes, body, const_cast<std::function<void()>*>(&work));
        pthread_attr_destroy(&attributes);
        ASSERT_EQ(started, 0);
        ASSERT_EQ(pthread_join(thread, nullptr), 0);
    }

    void initialise() {
        int result = -2;
        onHighStack([&] { result = liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8); });
        ASSERT_EQ(result, 0);
    }

    // Every byte of one captured request except the buffer addresses, which
    // must point into the calling thread's stack (zero-extended), to two
    // separate 3-byte buffers.
    static void expectWellFormed(const Request& request) {
        EXPECT_EQ(request.number, kMessageRequest);
        const std::uint64_t tx = txField(request);
        const std::uint64_t rx = rxField(request);
        EXPECT_TRUE(request.txInCallerStack)
            << std::hex << "tx_buf 0x" << tx << " is not the caller's frame (stack 0x"
            << capture.stackLow << "..0x" << capture.stackHigh << ")";
        EXPECT_TRUE(request.rxInCallerStack)
            << std::hex << "rx_buf 0x" << rx << " is not the caller's receive buffer";
        EXPECT_TRUE(tx + kFrameBytes <= rx || rx + kFrameBytes <= tx)
            << "frame and receive buffer overlap";
        const std::array<std::uint8_t, 16> fixed = {
            0x03, 0x00, 0x00, 0x00, // len 3
            0x40, 0x42, 0x0F, 0x00, // speed_hz 1000000
            0x00, 0x00,             // delay_usecs 0
            0x18,                   // bits_per_word 24
            0x00,                   // cs_change
            0x00, 0x00,             // tx_nbits, rx_nbits
            0x00,                   // word_delay_usecs
            0x00,                   // pad
        };
        for (std::size_t i = 0; i < fixed.size(); ++i) {
            EXPECT_EQ(request.record[16 + i], fixed[i]) << "record byte " << 16 + i;
        }
    }

    HighStack stack_;
};

} // namespace

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (!capture.active || argument == nullptr) {
        return __real_ioctl(fd, request, argument);
    }
    Request seen;
    seen.number = request;
    std::memcpy(seen.record.data(), argument, kRecordBytes);
    const std::uint64_t tx = txField(seen);
    const std::uint64_t rx = rxField(seen);
    // Only addresses inside the caller's stack are looked at.
    seen.txInCallerStack = capture.inCallerStack(tx, kFrameBytes);
    seen.rxInCallerStack = capture.inCallerStack(rx, kFrameBytes);
    if (seen.txInCallerStack) {
        std::memcpy(seen.frame.data(),
                    reinterpret_cast<const void*>(static_cast<std::uintptr_t>(tx)), kFrameBytes);
    }
    const int result = __real_ioctl(fd, request, argument);
    if (seen.rxInCallerStack) {
        std::memcpy(seen.received.data(),
                    reinterpret_cast<const void*>(static_cast<std::uintptr_t>(rx)), kFrameBytes);
    }
    capture.requests.push_back(seen);
    return result;
}

// Start-up makes many accesses (identification, reset, every port's
// defaults): each is its own SPI_IOC_MESSAGE(1) with a complete record.
TEST_F(SpiRecordTest, EveryStartUpAccessIsOneCompleteRecord) {
    initialise();
    const std::vector<liusim::Transfer> log = chip().log();
    ASSERT_EQ(capture.requests.size(), log.size());
    ASSERT_FALSE(log.empty());
    for (std::size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE("request " + std::to_string(i));
        expectWellFormed(capture.requests[i]);
        const bool read = log[i].access == liusim::Access::Read;
        const Frame sent = {static_cast<std::uint8_t>((read ? 0x80 : 0x00) | log[i].channel),
                            log[i].reg, read ? std::uint8_t{0} : log[i].value};
        EXPECT_EQ(capture.requests[i].frame, sent);
    }
}

struct Access {
    const char* name;
    bool read;
    std::uint16_t channel;
    std::uint8_t reg;
    std::uint8_t value; // written, or preset in the chip before a read
    Frame frame;        // the frame on the bus
};

void PrintTo(const Access& access, std::ostream* out) {
    *out << access.name;
}

class SpiRecordAccessTest : public SpiRecordTest, public ::testing::WithParamInterface<Access> {};

TEST_P(SpiRecordAccessTest, RecordFrameAndReceiveBufferAsTheKernelReadsThem) {
    const Access& access = GetParam();
    initialise();
    chip().clearLog();
    const unsigned bank = access.channel == LIUDRV_CHANNEL_GLOBAL ? 0u : access.channel & 0x0Fu;
    if (access.read) {
        chip().setReg(bank, access.reg, access.value);
    }

    int result = -2;
    std::uint8_t value = 0xEE;
    onHighStack([&] {
        result = access.read ? liuDrv_read(access.reg, access.channel, &value)
                             : liuDrv_write(access.reg, access.channel, access.value, 1);
    });

    ASSERT_EQ(result, 0);
    ASSERT_EQ(capture.requests.size(), 1u);
    const Request& request = capture.requests.front();
    expectWellFormed(request);
    EXPECT_EQ(request.frame, access.frame);
    if constexpr (sizeof(void*) == 4) {
        // Zero-extended: the upper half of both 64-bit fields is 0 although
        // bit 31 of the address is set.
        for (std::size_t i : {4u, 5u, 6u, 7u, 12u, 13u, 14u, 15u}) {
            EXPECT_EQ(request.record[i], 0x00) << "record byte " << i;
        }
        EXPECT_GE(txField(request), 0x80000000u);
    }
    if (access.read) {
        // The chip answered through rx_buf, and that is what the read returned.
        EXPECT_EQ(request.received[2], access.value);
        EXPECT_EQ(value, access.value);
    } else {
        // The chip took the frame the record pointed to.
        const std::vector<liusim::Transfer> log = chip().log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().access, liusim::Access::Write);
        EXPECT_EQ(log.back().channel, bank);
        EXPECT_EQ(log.back().reg, access.reg);
        EXPECT_EQ(log.back().value, access.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Accesses, SpiRecordAccessTest,
    ::testing::Values(
        Access{"WriteSoftwareReset", false, LIUDRV_CHANNEL_GLOBAL, 0x04, 0x01, {0x00, 0x04, 0x01}},
        Access{"WriteLoopbacksPort5", false, 5, 0x2B, 0x06, {0x05, 0x2B, 0x06}},
        Access{"WriteChannel0x1A", false, 0x1A, 0x23, 0x08, {0x0A, 0x23, 0x08}},
        Access{"ReadAlarmStatusPort3", true, 3, 0x36, 0x91, {0x83, 0x36, 0x00}},
        Access{"ReadReferenceClocks", true, LIUDRV_CHANNEL_GLOBAL, 0x07, 0x2C, {0x80, 0x07, 0x00}},
        Access{"ReadPort7AllOnes", true, 7, 0xFF, 0xFF, {0x87, 0xFF, 0x00}}),
    [](const ::testing::TestParamInfo<Access>& info) { return std::string(info.param.name); });
