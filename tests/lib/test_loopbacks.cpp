// SPDX-License-Identifier: MIT
// Remote, analog and digital loopbacks of a port: one bit each of the
// loopback register 0x2B (remote 0x04, analog 0x02, digital 0x01), switched
// by read-modify-write and read back as 0 or 1.
#include "PortTest.h"

#include <string>
#include <vector>

using namespace porttest;

namespace {

constexpr std::uint8_t kLoopback = 0x2B;
constexpr unsigned kPort = 6;

struct Loop {
    const char* name;
    int (*set)(std::uint16_t, int);
    int (*get)(std::uint16_t, int*);
    const char* setName;
    const char* getName;
    const char* word; // "remote" / "analog" / "digital"
    std::uint8_t bit;
};

const Loop kRemote{"Remote",
                   liuDrv_setLoopRemote,
                   liuDrv_getLoopRemote,
                   "liuDrv_setLoopRemote",
                   "liuDrv_getLoopRemote",
                   "remote",
                   0x04};
const Loop kAnalog{"Analog",
                   liuDrv_setLoopAnalog,
                   liuDrv_getLoopAnalog,
                   "liuDrv_setLoopAnalog",
                   "liuDrv_getLoopAnalog",
                   "analog",
                   0x02};
const Loop kDigital{"Digital",
                    liuDrv_setLoopDigital,
                    liuDrv_getLoopDigital,
                    "liuDrv_setLoopDigital",
                    "liuDrv_getLoopDigital",
                    "digital",
                    0x01};

void PrintTo(const Loop& loop, std::ostream* out) {
    *out << loop.name;
}

class LoopbackTest : public PortTest, public ::testing::WithParamInterface<Loop> {
  protected:
    TraceLine setEntry(unsigned port, int state) const {
        return Call(std::string(GetParam().setName) + "(port=" + std::to_string(port) +
                    " state=" + std::to_string(state) + ")");
    }
    TraceLine getEntry(unsigned port) const {
        return Call(std::string(GetParam().getName) + "(port=" + std::to_string(port) + ", ...)");
    }
    TraceLine getResult(int on) const {
        return Call(std::string(GetParam().getName) + " returns " + GetParam().word +
                    " loop=" + std::to_string(on));
    }
};

TEST_P(LoopbackTest, SetRewritesOnlyItsOwnBitEvenWhenUnchanged) {
    const Loop& loop = GetParam();
    startLibrary();
    for (std::uint8_t before : {0x00, 0xFF, 0xF8, 0x5A, 0xA5, 0x07}) {
        for (int state : {1, 0, 7, -1}) {
            SCOPED_TRACE(testing::Message() << "before " << hex(before) << " state " << state);
            chip().setReg(kPort, kLoopback, before);
            forget();
            const std::uint8_t after = state != 0 ? static_cast<std::uint8_t>(before | loop.bit)
                                                  : static_cast<std::uint8_t>(before & ~loop.bit);

            EXPECT_EQ(loop.set(kPort, state), 0);

            EXPECT_EQ(transfers(), (std::vector<std::string>{R(kPort, kLoopback, before),
                                                             W(kPort, kLoopback, after)}));
            EXPECT_EQ(chip().reg(kPort, kLoopback), after);
            // Bits 3-7 and the other two loopbacks as they were.
            EXPECT_EQ(chip().reg(kPort, kLoopback) & ~loop.bit, before & ~loop.bit);
            EXPECT_EQ(traceLines(),
                      (std::vector<TraceLine>{setEntry(kPort, state), Wrote(kLoopback, after)}));
        }
    }
}

TEST_P(LoopbackTest, GetReportsItsOwnBitAsZeroOrOne) {
    const Loop& loop = GetParam();
    startLibrary();
    for (std::uint8_t value : {0x00, 0xFF, 0x07, 0xF8, 0x5A, 0xA5}) {
        SCOPED_TRACE(hex(value));
        chip().setReg(kPort, kLoopback, value);
        forget();
        const int expected = (value & loop.bit) != 0 ? 1 : 0;

        int on = kUntouched;
        EXPECT_EQ(loop.get(kPort, &on), 0);

        EXPECT_EQ(on, expected);
        EXPECT_EQ(transfers(), (std::vector<std::string>{R(kPort, kLoopback, value)}));
        EXPECT_EQ(chip().reg(kPort, kLoopback), value);
        EXPECT_EQ(traceLines(), (std::vector<TraceLine>{getEntry(kPort), getResult(expected)}));
    }
}

TEST_P(LoopbackTest, SwitchesOnlyThePortsOwnChannel) {
    const Loop& loop = GetParam();
    startLibrary();
    EXPECT_EQ(loop.set(kPort, 1), 0);
    for (unsigned channel = 0; channel < 16; ++channel) {
        EXPECT_EQ(chip().reg(channel, kLoopback), channel == kPort ? loop.bit : 0) << channel;
    }
    int on = kUntouched;
    EXPECT_EQ(loop.get(kPort - 1, &on), 0);
    EXPECT_EQ(on, 0);
}

TEST_P(LoopbackTest, RefusedPortTouchesNothing) {
    startLibrary(4);
    EXPECT_EQ(GetParam().set(4, 1), -1);
    int on = kUntouched;
    EXPECT_EQ(GetParam().get(4, &on), -1);

    EXPECT_EQ(on, kUntouched);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                setEntry(4, 1),
                                PortRefused(GetParam().setName, 4, 3),
                                getEntry(4),
                                PortRefused(GetParam().getName, 4, 3),
                            }));
}

TEST_P(LoopbackTest, RefusedBeforeStartUp) {
    // Identification alone sets the port count but leaves the library
    // uninitialised.
    liuDrv_getPiu(8);
    forget();

    EXPECT_EQ(GetParam().set(kPort, 1), -1);
    int on = kUntouched;
    EXPECT_EQ(GetParam().get(kPort, &on), -1);

    EXPECT_EQ(on, kUntouched);
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                setEntry(kPort, 1),
                                NotInited(GetParam().setName),
                                getEntry(kPort),
                                NotInited(GetParam().getName),
                            }));
}

TEST_P(LoopbackTest, NullResultPointerIsRefusedWithoutAccess) {
    startLibrary();
    EXPECT_EQ(GetParam().get(kPort, nullptr), -1);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(traceLines(),
              (std::vector<TraceLine>{getEntry(kPort), NullArgument(GetParam().getName)}));
}

TEST_P(LoopbackTest, FailedReadWritesNothingAndLeavesTheResultAlone) {
    startLibrary();
    chip().setReg(kPort, kLoopback, 0xF0);

    chip().failTransfer(1);
    EXPECT_EQ(GetParam().set(kPort, 1), 1);
    chip().failTransfer(1);
    int on = kUntouched;
    EXPECT_EQ(GetParam().get(kPort, &on), 1);

    EXPECT_EQ(on, kUntouched);
    EXPECT_EQ(transfers(),
              (std::vector<std::string>{RFailed(kPort, kLoopback), RFailed(kPort, kLoopback)}));
    EXPECT_EQ(chip().reg(kPort, kLoopback), 0xF0);
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                setEntry(kPort, 1),
                                ReadFailed(),
                                getEntry(kPort),
                                ReadFailed(),
                            }));
}

TEST_P(LoopbackTest, FailedWriteIsReported) {
    startLibrary();
    chip().setReg(kPort, kLoopback, 0xF0);
    chip().failTransfer(2);

    EXPECT_EQ(GetParam().set(kPort, 1), 1);

    const auto after = static_cast<std::uint8_t>(0xF0 | GetParam().bit);
    EXPECT_EQ(transfers(), (std::vector<std::string>{R(kPort, kLoopback, 0xF0),
                                                     WFailed(kPort, kLoopback, after)}));
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{setEntry(kPort, 1), WriteFailed()}));
}

INSTANTIATE_TEST_SUITE_P(Loops, LoopbackTest, ::testing::Values(kRemote, kAnalog, kDigital),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The three loopbacks together --------------------------------------------

class LoopbacksTogether : public PortTest {
  protected:
    int state(const Loop& loop) {
        int on = kUntouched;
        EXPECT_EQ(loop.get(kPort, &on), 0) << loop.name;
        return on;
    }
};

TEST_F(LoopbacksTogether, RemoteAndDigitalCanBeOnAtOnce) {
    startLibrary();
    ASSERT_EQ(liuDrv_setLoopRemote(kPort, 1), 0);
    ASSERT_EQ(liuDrv_setLoopDigital(kPort, 1), 0);

    EXPECT_EQ(chip().reg(kPort, kLoopback), 0x05);
    EXPECT_EQ(state(kRemote), 1);
    EXPECT_EQ(state(kDigital), 1);
    EXPECT_EQ(state(kAnalog), 0);

    ASSERT_EQ(liuDrv_setLoopAnalog(kPort, 1), 0);
    ASSERT_EQ(liuDrv_setLoopRemote(kPort, 0), 0);
    EXPECT_EQ(chip().reg(kPort, kLoopback), 0x03);
    EXPECT_EQ(state(kRemote), 0);
    EXPECT_EQ(state(kAnalog), 1);
    EXPECT_EQ(state(kDigital), 1);
}

TEST_F(LoopbacksTogether, StartUpLeavesTheLoopbackRegisterAlone) {
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
    for (const liusim::Transfer& transfer : chip().log()) {
        EXPECT_NE(transfer.reg, kLoopback) << transfer;
    }
}

} // namespace
