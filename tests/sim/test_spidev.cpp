// SPDX-License-Identifier: MIT
// The simulated chip behind /dev/spidev0.0, reached like the driver does, once per
// binding.  Bus traffic is written as the chip logs it: "W ch3 0x23 <- 0x08" is the
// frame {0x03, 0x23, 0x08}, answered with zeros, "R global 0x04 -> 0x01" the frame
// {0x80, 0x04, 0}, answered {0, 0, 0x01}; FAILED: EIO, no answer.
#include "LiuDrv.h"
#include "LiuSimTest.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <functional>

extern "C" int __open_2(const char* path, int flags);
extern "C" int __open64_2(const char* path, int flags);

namespace {

using Bytes = std::array<std::uint8_t, 3>;
using Lines = std::vector<std::string>;
constexpr Bytes kUntouched{0xEE, 0xEE, 0xEE};

spi_ioc_transfer recordFor(const Bytes& tx, Bytes& rx) {
    return {std::uintptr_t(tx.data()), std::uintptr_t(rx.data()), 3, 1000000, 0, 24, 0, 0, 0, 0, 0};
}

// The device, opened once: the chip behind it powers on before each test.
int device() {
    static const int fd = open("/dev/spidev0.0", O_RDWR);
    return fd;
}

class Spidev : public LiuSimTest {
  protected:
    // One SPI_IOC_MESSAGE(1) per line; the log, cleared first, must read as the lines.
    void runBus(const Lines& lines, int fd = -1) {
        chip().clearLog();
        for (const std::string& line : lines) {
            char access = '?';
            unsigned channel = 0, reg = 0, value = 0;
            std::sscanf(line.c_str(), "%c ch%u", &access, &channel);
            std::sscanf(line.c_str() + line.find(" 0x"), "%x %*s %x", &reg, &value);
            const bool read = access == 'R', failed = line.ends_with("FAILED");
            const Bytes tx{std::uint8_t(read ? 0x80 | channel : channel), std::uint8_t(reg),
                           std::uint8_t(read ? 0 : value)};
            Bytes rx = kUntouched;
            const spi_ioc_transfer record = recordFor(tx, rx);
            errno = 0;
            const int result = ioctl(fd < 0 ? device() : fd, SPI_IOC_MESSAGE(1), &record);
            const Bytes answer = failed ? kUntouched : Bytes{0, 0, std::uint8_t(read ? value : 0)};
            EXPECT_EQ(std::tuple(result, errno, rx),
                      std::tuple(failed ? -1 : 3, failed ? EIO : 0, answer))
                << line;
        }
        EXPECT_EQ(transfers(), lines);
    }

    // stderr of a request that must fail with error and reach nothing.
    std::string refusal(unsigned long request, const void* argument, int error) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(ioctl(device(), request, argument), -1);
        EXPECT_EQ(errno, error);
        EXPECT_EQ(chip().transferCount(), 0u);
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(Spidev, RegistersWaveformSamplesAndSoftwareReset) {
    chip().setAlarmStatus(2, 0x11);
    chip().setAlarmStatus(3, 0x05);
    chip().setSample(1, 3, 0, 0x11);
    chip().setSample(1, 0, 15, 0x22);
    chip().setSample(1, 0, 5, 0x77);
    runBus({// 16 banks; the global registers share bank 0; the alarm status is read-only
            "W ch9 0x2b <- 0x05", "R ch9 0x2b -> 0x05", "W ch15 0x22 <- 0x4f",
            "R ch14 0x22 -> 0x00", "R ch15 0x22 -> 0x4f", "W global 0x07 <- 0x1a",
            "R ch1 0x07 -> 0x00", "R global 0x07 -> 0x1a", "W ch2 0x36 <- 0x00",
            "R ch2 0x36 -> 0x11", "R ch0 0x36 -> 0x00",
            // 0x25 selects a sample (bits 7-6 set, UI, sample), 0x26 reads or writes it
            "W ch4 0x25 <- 0xed", "W ch4 0x26 <- 0x3c", "R ch4 0x25 -> 0xed", "R ch4 0x26 -> 0x3c",
            "W ch4 0x25 <- 0xdd", "R ch4 0x26 -> 0x61", "W ch4 0x25 <- 0xec", "R ch4 0x26 -> 0x70",
            "W ch5 0x25 <- 0xed", "R ch5 0x26 -> 0x82", "W ch1 0x25 <- 0xf0", "R ch1 0x26 -> 0x11",
            "W ch1 0x25 <- 0xcf", "R ch1 0x26 -> 0x22", "W ch1 0x25 <- 0x05", "R ch1 0x26 -> 0x00",
            "W ch1 0x26 <- 0x99", "W ch1 0x25 <- 0x85", "R ch1 0x26 -> 0x00", "W ch1 0x25 <- 0x45",
            "R ch1 0x26 -> 0x00", "W ch1 0x25 <- 0xc5", "R ch1 0x26 -> 0x77",
            // 0x04 of another bank, or without bit 0, is an ordinary register
            "W ch3 0x04 <- 0x01", "W global 0x04 <- 0x02", "R ch9 0x2b -> 0x05",
            "R ch3 0x04 -> 0x01", "R global 0x04 -> 0x02",
            // software reset: registers 0 but alarm status and samples kept
            "W global 0x04 <- 0x03", "R global 0x04 -> 0x00", "R global 0x07 -> 0x00",
            "R ch15 0x22 -> 0x00", "R ch9 0x2b -> 0x00", "R ch3 0x04 -> 0x00", "R ch4 0x25 -> 0x00",
            "R ch3 0x36 -> 0x05", "W ch4 0x25 <- 0xed", "R ch4 0x26 -> 0x3c"});
}

TEST_F(Spidev, InjectedFaultsFailTransfersCountedFromNow) {
    runBus({"W ch1 0x2b <- 0x01", "W ch3 0x25 <- 0xc0"});
    chip().failTransfer(1);
    chip().failTransfer(3);
    runBus({"W ch1 0x2b <- 0x02 FAILED", "W ch1 0x2b <- 0x03", "R ch1 0x2b -> -- FAILED",
            "R ch1 0x2b -> 0x03"});
    EXPECT_EQ(chip().transferCount(), 6u) << "failed ones count; clearing the log does not";
    chip().failFrom(2);
    runBus({"R ch1 0x2b -> 0x03", "W global 0x04 <- 0x01 FAILED", "W ch3 0x26 <- 0x66 FAILED",
            "R ch1 0x2b -> -- FAILED"});
    chip().clearFaults();
    runBus({"R ch1 0x2b -> 0x03", "R ch3 0x26 -> 0x33"});
}

TEST_F(Spidev, MessagesRunTheirRecordsInOrderOrNoneOfThem) {
    Bytes write{0x02, 0x29, 0x54}, read{0x82, 0x29, 0x00}, writeRx{}, readRx{};
    const spi_ioc_transfer ok[2] = {recordFor(write, writeRx), recordFor(read, readRx)};
    EXPECT_EQ(ioctl(device(), SPI_IOC_MESSAGE(2), ok), 6);
    EXPECT_EQ(readRx, (Bytes{0, 0, 0x54}));
    EXPECT_EQ(transfers(), (Lines{"W ch2 0x29 <- 0x54", "R ch2 0x29 -> 0x54"}));
    chip().powerOn();
    // What the board's driver refuses never reaches the chip.
    const char* kZeroFields = "tx_nbits, rx_nbits, word_delay_usecs and pad must be 0";
    const std::pair<std::function<void(spi_ioc_transfer&, Bytes&)>, const char*> faults[] = {
        {[](auto& r, auto&) { r.len = 2; }, "len 2, expected 3"},
        {[](auto& r, auto&) { r.len = 4; }, "len 4, expected 3"},
        {[](auto& r, auto&) { r.bits_per_word = 0; }, "bits_per_word 0, expected 24"},
        {[](auto& r, auto&) { r.speed_hz = 500000; }, "speed_hz 500000, expected 1000000"},
        {[](auto& r, auto&) { r.delay_usecs = 10; }, "delay_usecs 10, expected 0"},
        {[](auto& r, auto&) { r.cs_change = 1; }, "cs_change 1, expected 0"},
        {[](auto& r, auto&) { r.tx_nbits = 2; }, kZeroFields},
        {[](auto& r, auto&) { r.rx_nbits = 2; }, kZeroFields},
        {[](auto& r, auto&) { r.word_delay_usecs = 1; }, kZeroFields},
        {[](auto& r, auto&) { r.pad = 1; }, kZeroFields},
        {[](auto& r, auto&) { r.tx_buf = 0; }, "tx_buf is null"},
        {[](auto& r, auto&) { r.rx_buf = 0; }, "rx_buf is null"},
        {[](auto&, auto& f) { f[0] = 0x93; }, "frame 0x93 0x2b 0x07: bits 6-4 of byte 0 must be 0"},
        {[](auto&, auto& f) { f[0] = 0x81; }, "frame 0x81 0x2b 0x07: byte 2 of a read must be 0"}};
    // Every other one is the second record of a message: the first does not run either.
    for (std::size_t i = 0; i < std::size(faults); ++i) {
        Bytes frames[2] = {{0x01, 0x2b, 0x07}, {0x01, 0x2b, 0x07}}, rx = kUntouched;
        spi_ioc_transfer records[2] = {recordFor(frames[0], rx), recordFor(frames[1], rx)};
        faults[i].first(records[i % 2], frames[i % 2]);
        EXPECT_EQ(refusal(SPI_IOC_MESSAGE(i % 2 + 1), records, EINVAL),
                  std::string("liusim: rejected SPI transfer: ") + faults[i].second +
                      (i % 2 ? " (record 2 of 2)\n" : "\n"));
        EXPECT_EQ(rx, kUntouched) << faults[i].second;
        EXPECT_EQ(chip().reg(1, 0x2b), 0) << faults[i].second;
    }
    EXPECT_EQ(refusal(_IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, sizeof *ok - 1), ok, EINVAL),
              "liusim: rejected SPI message: 31 bytes is not a whole number of transfer records\n");
    refusal(SPI_IOC_MESSAGE(1), nullptr, EFAULT);
    refusal(SPI_IOC_RD_MODE, nullptr, EFAULT);
    refusal(FIONREAD, &readRx, ENOTTY);
}

TEST_F(Spidev, SettingsStartAtTheDriverDefaultsAndKeepWhatWasWritten) {
    // Pairs of a request and the value written, or the value a read must give.
    const unsigned long steps[] = {
        SPI_IOC_RD_MODE32,       0,       SPI_IOC_RD_MODE,          0,
        SPI_IOC_RD_LSB_FIRST,    0,       SPI_IOC_RD_BITS_PER_WORD, 8,
        SPI_IOC_RD_MAX_SPEED_HZ, 1000000, SPI_IOC_WR_BITS_PER_WORD, 24,
        SPI_IOC_WR_MAX_SPEED_HZ, 2500000, SPI_IOC_WR_MODE32,        0x10001,
        SPI_IOC_WR_LSB_FIRST,    1,       SPI_IOC_RD_BITS_PER_WORD, 24,
        SPI_IOC_RD_MAX_SPEED_HZ, 2500000, SPI_IOC_RD_MODE32,        0x10009,
        SPI_IOC_RD_MODE,         0x09,    SPI_IOC_RD_LSB_FIRST,     1,
        SPI_IOC_WR_MODE,         0x02,    SPI_IOC_RD_MODE32,        0x10002,
        SPI_IOC_RD_LSB_FIRST,    0,       SPI_IOC_WR_LSB_FIRST,     1,
        SPI_IOC_WR_LSB_FIRST,    0,       SPI_IOC_RD_MODE32,        0x10002};
    for (std::size_t i = 0; i < std::size(steps); i += 2) {
        const unsigned long request = steps[i], value = steps[i + 1];
        const bool read = _IOC_DIR(request) == _IOC_READ, byte = _IOC_SIZE(request) == 1;
        // a one-byte read must leave the bytes above it as they were
        std::uint32_t argument = !read ? value : byte ? 0xA5A5A500 : 0xA5A5A5A5;
        EXPECT_EQ(ioctl(device(), request, &argument), 0);
        if (read) {
            EXPECT_EQ(argument, byte ? 0xA5A5A500 | value : value) << std::hex << request;
        }
    }
}

TEST_F(Spidev, EveryOpenVariantReachesTheDeviceAndOtherFilesTheSystem) {
    chip().setReg(2, 0x36, 0x10);
    for (const int fd : {open64("/dev/spidev0.0", O_RDWR), __open_2("/dev/spidev0.0", O_RDWR),
                         __open64_2("/dev/spidev0.0", O_RDWR)}) {
        runBus({"R ch2 0x36 -> 0x10"}, fd);
        close(fd);
    }
    int ends[2], pending = 0;
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "abc", 3), 3);
    EXPECT_EQ(ioctl(ends[0], FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 3);
    close(ends[0]);
    close(ends[1]);
    chip().failOpen(true);
    errno = 0;
    EXPECT_EQ(open("/dev/spidev0.0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(Spidev, ControlSideAndPowerOn) {
    chip().setReg(0, 0x25, 0xd7);
    chip().setReg(0, 0x26, 0x5a); // follows the sample address
    chip().setReg(0, 0x04, 0x01); // does not reset
    chip().setReg(6, 0x36, 0x80); // sets the alarm status
    runBus({"R ch0 0x26 -> 0x5a", "R global 0x04 -> 0x01", "R ch6 0x36 -> 0x80"});
    Bytes bad{0x13, 0x22, 0x01}, answer{};
    EXPECT_EQ(chip().exchange(liusim::LiuModel::Frame(bad), liusim::LiuModel::Answer(answer)),
              liusim::FrameResult::Malformed);
    EXPECT_EQ(chip().transferCount(), 3u);
    chip().failFrom(1);
    chip().failOpen(true);
    chip().powerOn(); // allows opening again
    EXPECT_EQ(chip().reg(0, 0x25) | chip().reg(6, 0x36) | chip().sample(0, 1, 7), 0);
    EXPECT_EQ(chip().transferCount(), 0u);
    EXPECT_TRUE(chip().log().empty());
    const int reopened = open("/dev/spidev0.0", O_RDWR);
    runBus({"R global 0x04 -> 0x00"}, reopened);
    close(reopened);

    const std::pair<std::function<void()>, std::string> outOfRange[] = {
        {[&] { chip().reg(16, 0x22); }, "channel 16 out of range 0..15"},
        {[&] { chip().setReg(16, 0x22, 1); }, "channel 16 out of range 0..15"},
        {[&] { chip().setAlarmStatus(16, 1); }, "channel 16 out of range 0..15"},
        {[&] { chip().raiseAlarm(99, 1); }, "channel 99 out of range 0..15"},
        {[&] { chip().clearAlarm(16, 1); }, "channel 16 out of range 0..15"},
        {[&] { chip().sample(0, 4, 0); }, "UI 4 out of range 0..3"},
        {[&] { chip().setSample(0, 0, 16, 1); }, "sample 16 out of range 0..15"},
        {[&] { chip().setSample(16, 0, 0, 1); }, "channel 16 out of range 0..15"},
        {[&] { chip().failTransfer(0); }, "transfer number 0 out of range 1..4294967295"},
        {[&] { chip().failFrom(1ull << 32); },
         "transfer number 4294967296 out of range 1..4294967295"}};
    for (const auto& [call, message] : outOfRange) {
        std::string refusal = "accepted";
        try {
            call();
        } catch (const std::logic_error& error) {
            refusal = error.what();
        }
        EXPECT_EQ(refusal, "liusim: " + message);
    }
    chip().failFrom(0xFFFFFFFF); // the farthest accepted
    runBus({"R global 0x04 -> 0x00"});
}

// The shared library's own open and ioctl calls reach the chip too.
TEST_F(Spidev, SharedLibraryReachesTheChip) {
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
    chip().clearLog();
    chip().setAlarmStatus(3, 0x01);
    std::uint8_t value = 0;
    EXPECT_EQ(liuDrv_read(0x36, 3, &value), 0);
    EXPECT_EQ(value, 0x01);
    EXPECT_EQ(liuDrv_write(0x2B, 3, 0x04, 1), 0);
    EXPECT_EQ(transfers(), (Lines{"R ch3 0x36 -> 0x01", "W ch3 0x2b <- 0x04"}));
}

} // namespace
