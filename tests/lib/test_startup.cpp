// SPDX-License-Identifier: MIT
// Start-up, a process per test (the library starts once per process): the
// cases of golden/startup.golden, a failed transfer at each step, and what
// golden files cannot show: the device opened read-write, the LIU's time to
// settle after its reset, the buffer addresses of every transfer record.
// Linked with -Wl,--wrap=open,--wrap=ioctl: the library's calls pass the
// wrappers below on their way to the chip binding.
#include "Golden.h"
#include "LiuSimTest.h"

#include <LiuDrv.h>
#include <LiuDrvInternal.h>

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>

namespace {

int deviceOpenFlags = -1;
std::vector<spi_ioc_transfer> records;

} // namespace

extern "C" int __real_open(const char* path, int flags, ...);
extern "C" int __wrap_open(const char* path, int flags, ...) {
    deviceOpenFlags = std::strcmp(path, "/dev/spidev0.0") == 0 ? flags : deviceOpenFlags;
    return __real_open(path, flags, 0);
}

extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (request == SPI_IOC_MESSAGE(1)) {
        records.push_back(*static_cast<const spi_ioc_transfer*>(argument));
    }
    return __real_ioctl(fd, request, argument);
}

namespace {

class Startup : public LiuSimTest, public ::testing::WithParamInterface<golden::Case> {};

TEST_P(Startup, Case) {
    golden::run(GetParam(), chip());
}

INSTANTIATE_TEST_SUITE_P(Cases, Startup,
                         ::testing::ValuesIn(golden::load(LIU_GOLDEN_DIR "/startup.golden")),
                         golden::testName);

TEST_F(Startup, OpensTheDeviceReadWriteAndLetsTheLiuSettleAfterItsReset) {
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 1), 0);
    EXPECT_EQ(deviceOpenFlags & O_ACCMODE, O_RDWR);
    const auto log = chip().log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_GE(log[1].time - log[0].time, std::chrono::microseconds(2000));
}

// A daemon started with its standard input closed gets the device as
// descriptor 0, a descriptor like any other.
TEST_F(Startup, RunsOnDescriptorZero) {
    close(STDIN_FILENO);
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 1), 0);
    EXPECT_EQ(deviceOpenFlags & O_ACCMODE, O_RDWR);
    EXPECT_EQ(liuDrv_isLiuConnected(), 0);
}

// Start-up on a stack that lies above 0x80000000 on a 32-bit target: the
// 64-bit buffer fields of every record must hold the frame's and the
// receive buffer's addresses zero-extended, apart by at least 3 bytes.
TEST_F(Startup, EveryRecordPointsIntoTheCallersStack) {
    constexpr std::size_t kSize = std::size_t{1} << 20;
    std::uintptr_t low = 0;
    for (std::uintptr_t hint : {0xA0000000u, 0x90000000u, 0xB0000000u}) {
        void* area = mmap(sizeof(void*) == 4 ? reinterpret_cast<void*>(hint) : nullptr, kSize,
                          PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        low = area == MAP_FAILED ? 0 : reinterpret_cast<std::uintptr_t>(area);
        if (sizeof(void*) == 8 || low >= 0x80000000u) {
            break;
        }
    }
    ASSERT_NE(low, 0u);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, reinterpret_cast<void*>(low), kSize);
    pthread_t thread;
    const auto startUp = [](void*) -> void* {
        EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, startUp, nullptr), 0);
    pthread_join(thread, nullptr);
    ASSERT_EQ(records.size(), chip().log().size());
    for (const spi_ioc_transfer& record : records) {
        EXPECT_TRUE(record.tx_buf >= low && record.tx_buf + 3 <= low + kSize &&
                    record.rx_buf >= low && record.rx_buf + 3 <= low + kSize &&
                    (record.tx_buf + 3 <= record.rx_buf || record.rx_buf + 3 <= record.tx_buf))
            << std::hex << "tx_buf 0x" << record.tx_buf << " rx_buf 0x" << record.rx_buf
            << " stack 0x" << low;
    }
}

// The internal steps refuse what the exported operations never hand them:
// the pulse mask configuration before start-up, the recorder an event id
// outside 1..6; neither touches the chip or the alarm state table.
TEST_F(Startup, InternalStepsRefuseWhatTheyCannotServe) {
    EXPECT_EQ(liuDrv_pulsMaskConfiguration(0, LIUDRV_LINE_TYPE_E1), -1);
    liuDrv_alarmEventRecord({0, 1, 1});
    liuDrv_alarmEventRecord({7, 1, 1});
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 2), 0);
    liutrace::clear();
    std::int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    liuDrv_alarmEventRecord({0, 1, 1});
    liuDrv_alarmEventRecord({7, 0, 1});
    EXPECT_EQ(liuDrv_alarmHandler(table), 0);
    EXPECT_TRUE(std::all_of(&table[0][0], &table[0][0] + sizeof table / 4,
                            [](std::int32_t state) { return state == LIUDRV_ALARM_INITIAL; }));
    const auto stream = liutrace::stream();
    EXPECT_EQ(std::vector(stream.begin(), stream.begin() + 2),
              (std::vector<std::string>{"E ======== UNKNOW EVENT ID:0 ========",
                                        "E ======== UNKNOW EVENT ID:7 ========"}));
}

// liuDrv_init(2, 1) stops at a failed transfer: it is the last, followed by its
// error line only (and inside haul 2 the line type read-out's), with result 1
// (-1 for the read-out); initialised all the same, so a second start-up is
// refused without a transfer.  (What comes before is golden case OnePort.)
class StartupFailure : public LiuSimTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(StartupFailure, StopsAtTheFailedTransferAndStaysInitialised) {
    const std::size_t k = GetParam();
    const bool readout = k >= 16 && k <= 143; // the line type read-out inside haul 2
    chip().failTransfer(k);
    EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 1), readout ? -1 : 1);
    const auto log = chip().log();
    ASSERT_EQ(log.size(), k);
    std::vector<std::string> wanted = {transfers().back(),
                                       log.back().access == liusim::Access::Write
                                           ? "E liuDrv_write: SPI read failure!"
                                           : "E liuDrv_read: SPI read failure!"};
    if (readout) {
        wanted.push_back("E liuDrv_getLineType failed");
    }
    const auto stream = liutrace::stream();
    EXPECT_EQ(std::vector(stream.end() - static_cast<long>(wanted.size()), stream.end()), wanted);
    EXPECT_FALSE(log.back().ok);
    EXPECT_EQ(liuDrv_inited, 1);
    chip().clearLog();
    EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 1), -1);
    EXPECT_TRUE(chip().log().empty());
}

// The reset; receiver and transmitter power (read, write); the pulse mask's
// 0x22 and 0x28 (read, write), 0x2C, 0x20, termination, 0x2A and template
// writes; haul 2's read, read-out (first write and read, last read), write.
INSTANTIATE_TEST_SUITE_P(Steps, StartupFailure,
                         ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                           17, 143, 144));

} // namespace
