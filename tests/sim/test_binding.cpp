// SPDX-License-Identifier: MIT
// The simulated chip behind /dev/spidev0.0, reached the way the driver
// reaches it (open, then SPI_IOC_MESSAGE requests).  Built once per binding:
// every test must hold for umockdev and inproc alike.
#include "LiuSimTest.h"
#include "SpiBus.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

extern "C" int __open_2(const char* path, int flags);
extern "C" int __open64_2(const char* path, int flags);

namespace {

using spibus::Bytes;
using spibus::readFrame;
using spibus::writeFrame;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class SpidevTest : public LiuSimTest {
  protected:
    void SetUp() override {
        LiuSimTest::SetUp();
        fd_ = spibus::openDevice();
        ASSERT_GE(fd_, 0) << "open /dev/spidev0.0 through the " << bindingName()
                          << " binding: " << std::strerror(errno);
    }
    void TearDown() override {
        if (fd_ >= 0) {
            close(fd_);
        }
    }

    spibus::Reply transfer(const Bytes& frame) { return spibus::transfer(fd_, frame); }

    int fd_ = -1;
};

// ---- Frames ------------------------------------------------------------------

TEST_F(SpidevTest, ReadAnswersTheRegisterInTheLastReceivedByte) {
    chip().setReg(3, 0x36, 0x91);

    const auto reply = transfer(readFrame(3, 0x36));

    EXPECT_EQ(reply.result, 3);
    EXPECT_EQ(reply.rx, (Bytes{0x00, 0x00, 0x91}));
}

TEST_F(SpidevTest, WriteLandsInTheBankOfItsChannelOnly) {
    const auto reply = transfer(writeFrame(5, 0x2B, 0x07));

    EXPECT_EQ(reply.result, 3);
    EXPECT_EQ(reply.rx, (Bytes{0x00, 0x00, 0x00}));
    EXPECT_EQ(chip().reg(5, 0x2B), 0x07);
    EXPECT_EQ(chip().reg(4, 0x2B), 0x00);
    EXPECT_EQ(chip().reg(6, 0x2B), 0x00);
}

TEST_F(SpidevTest, EveryTransferIsLoggedInOrder) {
    transfer(writeFrame(0, 0x04, 0x01));
    transfer(writeFrame(12, 0x23, 0x08));
    transfer(readFrame(12, 0x23));

    EXPECT_THAT(transfers(),
                ElementsAre("W global 0x04 <- 0x01", "W ch12 0x23 <- 0x08", "R ch12 0x23 -> 0x08"));
    EXPECT_EQ(chip().transferCount(), 3u);
}

TEST_F(SpidevTest, MessageOfTwoRecordsRunsBothInOrder) {
    const Bytes write = writeFrame(2, 0x29, 0x54);
    const Bytes read = readFrame(2, 0x29);
    Bytes writeRx{}, readRx{};
    const spi_ioc_transfer records[2] = {spibus::recordFor(write, writeRx),
                                         spibus::recordFor(read, readRx)};

    EXPECT_EQ(ioctl(fd_, SPI_IOC_MESSAGE(2), records), 6);
    EXPECT_EQ(readRx[2], 0x54);
    EXPECT_THAT(transfers(), ElementsAre("W ch2 0x29 <- 0x54", "R ch2 0x29 -> 0x54"));
}

TEST_F(SpidevTest, MessageWithOneBadRecordRunsNone) {
    const Bytes write = writeFrame(2, 0x29, 0x54);
    Bytes rx{};
    spi_ioc_transfer records[2] = {spibus::recordFor(write, rx), spibus::recordFor(write, rx)};
    records[1].bits_per_word = 8;

    ::testing::internal::CaptureStderr();
    errno = 0;
    EXPECT_EQ(ioctl(fd_, SPI_IOC_MESSAGE(2), records), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr("bits_per_word 8, expected 24 (record 2 of 2)"));
    EXPECT_EQ(chip().reg(2, 0x29), 0x00);
    EXPECT_TRUE(transfers().empty());
}

TEST_F(SpidevTest, MessageSizeNotAWholeNumberOfRecordsIsRefused) {
    const Bytes frame = readFrame(0, 0x04);
    Bytes rx{};
    const spi_ioc_transfer record = spibus::recordFor(frame, rx);
    const unsigned long oddSize = _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, sizeof record - 1);

    ::testing::internal::CaptureStderr();
    errno = 0;
    EXPECT_EQ(ioctl(fd_, oddSize, &record), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr("not a whole number of transfer records"));
    EXPECT_EQ(chip().transferCount(), 0u);
}

TEST_F(SpidevTest, MalformedFramesAreRefusedAndNeverReachTheChip) {
    ::testing::internal::CaptureStderr();
    const auto reservedBits = transfer({0x93, 0x36, 0x00});
    const auto readWithValue = transfer({0x83, 0x36, 0x01});
    const std::string messages = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(reservedBits.result, -1);
    EXPECT_EQ(reservedBits.error, EINVAL);
    EXPECT_EQ(readWithValue.result, -1);
    EXPECT_EQ(readWithValue.error, EINVAL);
    EXPECT_THAT(messages, HasSubstr("liusim: rejected SPI transfer: frame 0x93 0x36 0x00: bits "
                                    "6-4 of byte 0 must be 0"));
    EXPECT_THAT(messages, HasSubstr("frame 0x83 0x36 0x01: byte 2 of a read must be 0"));
    EXPECT_EQ(chip().transferCount(), 0u);
}

// ---- Transfer records: checked like the board's SPI driver -------------------

struct RecordFault {
    const char* name;
    std::function<void(spi_ioc_transfer&)> spoil;
    const char* message;
};

void PrintTo(const RecordFault& fault, std::ostream* out) {
    *out << fault.name;
}

class RecordCheckTest : public SpidevTest, public ::testing::WithParamInterface<RecordFault> {};

TEST_P(RecordCheckTest, RefusedWithEinvalAndAMessageTouchingNothing) {
    const Bytes frame = writeFrame(1, 0x2B, 0x07);
    Bytes rx{0xEE, 0xEE, 0xEE};
    spi_ioc_transfer record = spibus::recordFor(frame, rx);
    GetParam().spoil(record);

    ::testing::internal::CaptureStderr();
    const auto reply = spibus::send(fd_, record, rx);
    const std::string messages = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(reply.result, -1);
    EXPECT_EQ(reply.error, EINVAL);
    EXPECT_THAT(messages,
                HasSubstr(std::string("liusim: rejected SPI transfer: ") + GetParam().message));
    EXPECT_EQ(reply.rx, (Bytes{0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(chip().reg(1, 0x2B), 0x00);
    EXPECT_EQ(chip().transferCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EachField, RecordCheckTest,
    ::testing::Values(
        RecordFault{"ShortLength", [](auto& r) { r.len = 2; }, "len 2, expected 3"},
        RecordFault{"LongLength", [](auto& r) { r.len = 4; }, "len 4, expected 3"},
        RecordFault{"EightBitWords", [](auto& r) { r.bits_per_word = 8; },
                    "bits_per_word 8, expected 24"},
        RecordFault{"DefaultWordSize", [](auto& r) { r.bits_per_word = 0; },
                    "bits_per_word 0, expected 24"},
        RecordFault{"SlowClock", [](auto& r) { r.speed_hz = 500000; },
                    "speed_hz 500000, expected 1000000"},
        RecordFault{"DefaultClock", [](auto& r) { r.speed_hz = 0; },
                    "speed_hz 0, expected 1000000"},
        RecordFault{"Delay", [](auto& r) { r.delay_usecs = 10; }, "delay_usecs 10, expected 0"},
        RecordFault{"ChipSelectChange", [](auto& r) { r.cs_change = 1; },
                    "cs_change 1, expected 0"},
        RecordFault{"DualTransmit", [](auto& r) { r.tx_nbits = 2; },
                    "tx_nbits, rx_nbits, word_delay_usecs and pad must be 0"},
        RecordFault{"WordDelay", [](auto& r) { r.word_delay_usecs = 1; },
                    "tx_nbits, rx_nbits, word_delay_usecs and pad must be 0"},
        RecordFault{"NoFrame", [](auto& r) { r.tx_buf = 0; }, "tx_buf is null"},
        RecordFault{"NoReceiveBuffer", [](auto& r) { r.rx_buf = 0; }, "rx_buf is null"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Fault injection ---------------------------------------------------------

TEST_F(SpidevTest, FailTransferFailsExactlyThatOneWithEio) {
    chip().setReg(3, 0x23, 0x08);
    chip().failTransfer(2);

    const auto first = transfer(readFrame(3, 0x23));
    const auto second = transfer(readFrame(3, 0x23));
    const auto third = transfer(readFrame(3, 0x23));

    EXPECT_EQ(first.result, 3);
    EXPECT_EQ(second.result, -1);
    EXPECT_EQ(second.error, EIO);
    EXPECT_EQ(second.rx, (Bytes{0xEE, 0xEE, 0xEE})) << "a failed read must not answer";
    EXPECT_EQ(third.result, 3);
    EXPECT_EQ(third.rx[2], 0x08);
    EXPECT_THAT(transfers(),
                ElementsAre("R ch3 0x23 -> 0x08", "R ch3 0x23 -> -- FAILED", "R ch3 0x23 -> 0x08"));
}

TEST_F(SpidevTest, FailedWriteLeavesTheRegister) {
    chip().failTransfer(1);

    const auto reply = transfer(writeFrame(4, 0x2B, 0x04));

    EXPECT_EQ(reply.error, EIO);
    EXPECT_EQ(chip().reg(4, 0x2B), 0x00);
    EXPECT_THAT(transfers(), ElementsAre("W ch4 0x2b <- 0x04 FAILED"));
}

TEST_F(SpidevTest, FailFromFailsEveryTransferUntilFaultsAreCleared) {
    chip().failFrom(2);

    EXPECT_EQ(transfer(writeFrame(1, 0x20, 0x01)).result, 3);
    EXPECT_EQ(transfer(writeFrame(1, 0x20, 0x00)).error, EIO);
    EXPECT_EQ(transfer(readFrame(1, 0x20)).error, EIO);
    chip().clearFaults();
    const auto healed = transfer(readFrame(1, 0x20));

    EXPECT_EQ(healed.result, 3);
    EXPECT_EQ(healed.rx[2], 0x01);
}

TEST_F(SpidevTest, RefusedOpenFailsWithEnoentUntilAllowedAgain) {
    chip().failOpen(true);
    errno = 0;
    const int refused = spibus::openDevice();
    const int refusedError = errno;
    chip().failOpen(false);
    const int reopened = spibus::openDevice();

    EXPECT_EQ(refused, -1);
    EXPECT_EQ(refusedError, ENOENT);
    ASSERT_GE(reopened, 0);
    chip().setReg(7, 0x36, 0x01);
    EXPECT_EQ(spibus::transfer(reopened, readFrame(7, 0x36)).rx[2], 0x01);
    close(reopened);
}

// ---- Configuration requests ----------------------------------------------------

template <typename Value> Value readSetting(int fd, unsigned long request) {
    Value value{};
    EXPECT_EQ(ioctl(fd, request, &value), 0) << std::strerror(errno);
    return value;
}

template <typename Value> void writeSetting(int fd, unsigned long request, Value value) {
    EXPECT_EQ(ioctl(fd, request, &value), 0) << std::strerror(errno);
}

TEST_F(SpidevTest, SettingsStartAtTheDriverDefaults) {
    EXPECT_EQ(readSetting<std::uint8_t>(fd_, SPI_IOC_RD_MODE), 0);
    EXPECT_EQ(readSetting<std::uint32_t>(fd_, SPI_IOC_RD_MODE32), 0u);
    EXPECT_EQ(readSetting<std::uint8_t>(fd_, SPI_IOC_RD_LSB_FIRST), 0);
    EXPECT_EQ(readSetting<std::uint8_t>(fd_, SPI_IOC_RD_BITS_PER_WORD), 8);
    EXPECT_EQ(readSetting<std::uint32_t>(fd_, SPI_IOC_RD_MAX_SPEED_HZ), 1000000u);
}

TEST_F(SpidevTest, SettingsKeepWhatWasWritten) {
    writeSetting<std::uint8_t>(fd_, SPI_IOC_WR_BITS_PER_WORD, 24);
    writeSetting<std::uint32_t>(fd_, SPI_IOC_WR_MAX_SPEED_HZ, 2500000);
    writeSetting<std::uint8_t>(fd_, SPI_IOC_WR_MODE, SPI_MODE_3);

    EXPECT_EQ(readSetting<std::uint8_t>(fd_, SPI_IOC_RD_BITS_PER_WORD), 24);
    EXPECT_EQ(readSetting<std::uint32_t>(fd_, SPI_IOC_RD_MAX_SPEED_HZ), 2500000u);
    EXPECT_EQ(readSetting<std::uint8_t>(fd_, SPI_IOC_RD_MODE), SPI_MODE_3);
}

TEST_F(SpidevTest, ModeLsbFirstAndMode32AreOneSetting) {
    writeSetting<std::uint32_t>(fd_, SPI_IOC_WR_MODE32, 0x10001u);
    writeSetting<std::uint8_t>(fd_, SPI_IOC_WR_LSB_FIRST, 1);

    EXPECT_EQ(readSetting<std::uint32_t>(fd_, SPI_IOC_RD_MODE32), 0x10009u);
    EXPECT_EQ(readSetting<std::uint8_t>(fd_, SPI_IOC_RD_MODE), 0x09);
    writeSetting<std::uint8_t>(fd_, SPI_IOC_WR_MODE, 0x02);
    EXPECT_EQ(readSetting<std::uint32_t>(fd_, SPI_IOC_RD_MODE32), 0x10002u);
    EXPECT_EQ(readSetting<std::uint8_t>(fd_, SPI_IOC_RD_LSB_FIRST), 0);
}

TEST_F(SpidevTest, RequestsThatAreNotSpidevAnswerEnotty) {
    int pending = 0;
    errno = 0;
    EXPECT_EQ(ioctl(fd_, FIONREAD, &pending), -1);
    EXPECT_EQ(errno, ENOTTY);
}

// ---- The device node and everything else -------------------------------------------

TEST_F(SpidevTest, EveryOpenVariantReachesTheDevice) {
    chip().setReg(2, 0x36, 0x10);
    for (const int fd : {open64("/dev/spidev0.0", O_RDWR), __open_2("/dev/spidev0.0", O_RDWR),
                         __open64_2("/dev/spidev0.0", O_RDWR)}) {
        ASSERT_GE(fd, 0) << std::strerror(errno);
        EXPECT_EQ(spibus::transfer(fd, readFrame(2, 0x36)).rx[2], 0x10);
        close(fd);
    }
}

TEST_F(SpidevTest, OtherFilesAndDescriptorsAreLeftToTheSystem) {
    close(fd_);
    fd_ = -1;
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    ASSERT_EQ(write(pipeEnds[1], "abc", 3), 3);
    int pending = 0;

    EXPECT_EQ(ioctl(pipeEnds[0], FIONREAD, &pending), 0) << std::strerror(errno);
    EXPECT_EQ(pending, 3);
    const int null = open("/dev/null", O_RDWR);
    EXPECT_GE(null, 0);
    struct stat status {};
    EXPECT_EQ(fstat(null, &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    close(null);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

} // namespace
