// SPDX-License-Identifier: MIT
// Register access over SPI: liuDrv_write and liuDrv_read, one 3-byte frame
// each, with the channel selectors, the write trace and failed transfers.
//
// Every transfer the chip logged passed the simulated spidev driver, which
// refuses (EINVAL, nothing logged) a record that is not one 24-bit word of
// 3 bytes at 1 MHz without delay, and a frame with bits 6-4 of byte 0 set or
// a read with a non-zero byte 2.  The record's own bytes are checked by the
// spi_record suite.
#include "LibTest.h"

#include <cstdint>
#include <ostream>
#include <string>

using namespace libtest;

namespace {

class RegisterAccessTest : public LibTest {};

// ---- Frames --------------------------------------------------------------------

struct FrameCase {
    const char* name;
    std::uint16_t channel;
    unsigned bank; // channel bits of frame byte 0
};

const FrameCase kFrameCases[] = {
    {"GlobalSelector", 0xFFFF, 0},
    {"Channel0", 0, 0},
    {"Channel3", 3, 3},
    {"Channel7", 7, 7},
    {"Channel15", 15, 15},
    {"Channel16", 16, 0},
    {"Channel0x1A", 0x1A, 10},
    {"Channel0xFFF3", 0xFFF3, 3},
    {"Channel0xFFFD", 0xFFFD, 13},
};

void PrintTo(const FrameCase& c, std::ostream* out) {
    *out << c.name;
}

class FrameTest : public LibTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameTest, WriteSendsChannelRegisterValueAndTracesIt) {
    const FrameCase& c = GetParam();
    initLibrary();
    chip().setReg(c.bank, 0x3A, 0x00);

    EXPECT_EQ(liuDrv_write(0x3A, c.channel, 0xC5, 1), 0);

    EXPECT_TRUE(sameSequence(bus(), {W(c.bank, 0x3A, 0xC5)}));
    EXPECT_EQ(chip().reg(c.bank, 0x3A), 0xC5);
    EXPECT_TRUE(sameSequence(lines(), {D("liuDrv_write: reg=0x3a value=0xc5")}));
}

TEST_P(FrameTest, ReadSendsChannelRegisterAndStoresTheAnswer) {
    const FrameCase& c = GetParam();
    initLibrary();
    chip().setReg(c.bank, 0x36, 0xA7);
    std::uint8_t value = 0x11;

    EXPECT_EQ(liuDrv_read(0x36, c.channel, &value), 0);

    EXPECT_EQ(value, 0xA7);
    EXPECT_TRUE(sameSequence(bus(), {R(c.bank, 0x36)}));
    EXPECT_TRUE(lines().empty()) << "a successful read emits no trace";
}

INSTANTIATE_TEST_SUITE_P(Channels, FrameTest, ::testing::ValuesIn(kFrameCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegisterAccessTest, SoftwareResetWriteAndAlarmStatusReadFrames) {
    initLibrary();
    chip().setAlarmStatus(3, 0x81);
    std::uint8_t status = 0;

    EXPECT_EQ(liuDrv_write(0x04, LIUDRV_CHANNEL_GLOBAL, 0x01, 0), 0);
    EXPECT_EQ(liuDrv_read(0x36, 3, &status), 0);

    EXPECT_TRUE(sameSequence(bus(), {W(0, 0x04, 0x01), R(3, 0x36)}));
    EXPECT_EQ(status, 0x81);
    EXPECT_TRUE(sameSequence(lines(), {D("liuDrv_write: reg=0x04 value=0x01")}));
}

TEST_F(RegisterAccessTest, WriteTracePrintsTwoLowerCaseHexDigits) {
    initLibrary();
    const struct {
        std::uint8_t reg;
        std::uint8_t value;
        const char* text;
    } cases[] = {
        {0x00, 0x00, "liuDrv_write: reg=0x00 value=0x00"},
        {0x0A, 0x0F, "liuDrv_write: reg=0x0a value=0x0f"},
        {0xAB, 0xCD, "liuDrv_write: reg=0xab value=0xcd"},
        {0xFF, 0xFF, "liuDrv_write: reg=0xff value=0xff"},
    };
    Lines expected;
    for (const auto& c : cases) {
        EXPECT_EQ(liuDrv_write(c.reg, 2, c.value, 1), 0);
        expected.push_back(D(c.text));
    }
    EXPECT_TRUE(sameSequence(lines(), expected));
}

TEST_F(RegisterAccessTest, FlagHasNoEffect) {
    initLibrary();
    const int flags[] = {0, 1, -1, 42};
    for (int flag : flags) {
        SCOPED_TRACE(flag);
        startCheck();
        EXPECT_EQ(liuDrv_write(0x2B, 5, 0x66, flag), 0);
        EXPECT_TRUE(sameSequence(bus(), {W(5, 0x2B, 0x66)}));
        ASSERT_EQ(traces().size(), 1u);
        EXPECT_TRUE(sameSequence(lines(), {D("liuDrv_write: reg=0x2b value=0x66")}));
    }
}

// ---- Refusals and failures ----------------------------------------------------------

TEST_F(RegisterAccessTest, SecondDeviceSelectorIsRefusedWithoutTransfer) {
    initLibrary();
    chip().setReg(0, 0x04, 0x3C);
    std::uint8_t value = 0x5A;

    EXPECT_EQ(liuDrv_write(0x04, LIUDRV_CHANNEL_SECOND, 0x01, 0), 1);
    EXPECT_EQ(liuDrv_write(0x22, LIUDRV_CHANNEL_SECOND, 0x10, 1), 1);
    EXPECT_EQ(liuDrv_read(0x04, LIUDRV_CHANNEL_SECOND, &value), 1);

    EXPECT_EQ(value, 0x5A) << "the caller's byte stays as the caller set it";
    EXPECT_TRUE(bus().empty());
    EXPECT_EQ(chip().reg(0, 0x04), 0x3C);
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_write: only 1 LIU existing!"),
                                       E("liuDrv_write: only 1 LIU existing!"),
                                       E("liuDrv_read: only 1 LIU existing!")}));
}

TEST_F(RegisterAccessTest, FailedWriteReturnsOneWithTheReadFailureTrace) {
    initLibrary();
    chip().failTransfer(1);

    EXPECT_EQ(liuDrv_write(0x2B, 1, 0x07, 1), 1);

    EXPECT_TRUE(sameSequence(bus(), {failed(W(1, 0x2B, 0x07))}));
    EXPECT_EQ(chip().reg(1, 0x2B), 0x00);
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_write: SPI read failure!")}))
        << "no success trace after a failed write";
}

TEST_F(RegisterAccessTest, FailedReadReturnsOneAndLeavesTheByte) {
    initLibrary();
    chip().setReg(6, 0x29, 0x54);
    chip().failTransfer(1);
    std::uint8_t value = 0xE7;

    EXPECT_EQ(liuDrv_read(0x29, 6, &value), 1);

    EXPECT_EQ(value, 0xE7);
    EXPECT_TRUE(sameSequence(bus(), {failed(R(6, 0x29))}));
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_read: SPI read failure!")}));

    // No retry, and the next transfer works again.
    startCheck();
    EXPECT_EQ(liuDrv_read(0x29, 6, &value), 0);
    EXPECT_EQ(value, 0x54);
    EXPECT_TRUE(sameSequence(bus(), {R(6, 0x29)}));
}

TEST_F(RegisterAccessTest, TransfersBeforeInitFailOnTheUnopenedDevice) {
    std::uint8_t value = 0x9C;

    EXPECT_EQ(liuDrv_write(0x04, LIUDRV_CHANNEL_GLOBAL, 0x01, 0), 1);
    EXPECT_EQ(liuDrv_read(0x04, LIUDRV_CHANNEL_GLOBAL, &value), 1);
    EXPECT_EQ(liuDrv_read(0x22, 3, &value), 1);

    EXPECT_EQ(value, 0x9C);
    EXPECT_EQ(chip().transferCount(), 0u) << "nothing reaches the chip";
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_write: SPI read failure!"),
                                       E("liuDrv_read: SPI read failure!"),
                                       E("liuDrv_read: SPI read failure!")}));
}

TEST_F(RegisterAccessTest, NullValuePointerIsRefusedWithoutTransfer) {
    initLibrary();

    EXPECT_EQ(liuDrv_read(0x22, 0, nullptr), -1);

    EXPECT_TRUE(bus().empty());
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_read: null pointer argument!")}));
}

} // namespace
