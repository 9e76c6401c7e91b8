// SPDX-License-Identifier: MIT
// SPI transfers per operation: every operation puts exactly the number of
// frames on the bus that its job needs (48 per alarm poll of 8 ports, 128
// per waveform read-out, 131 per pulse shape dump, 5 per reference clock
// selection, ...), never more, and the same number again on the next call
// (nothing cached, nothing repeated).  Counted in the chip's transfer log.
#include "LiuDrv.h"
#include "LiuSimTest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace {

constexpr std::uint16_t kPort = 3;
constexpr std::uint8_t kPulseTemplateCode = 0x23;
constexpr std::uint8_t kUserWaveformCode = 0x0C;

int value = 0;
std::uint8_t byte = 0;
std::int32_t alarms[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];

struct Case {
    const char* name;
    int (*call)();
    int result;         // the call's result, proving it took the intended path
    unsigned transfers; // frames per call
    void (*prepare)();  // before each call, after start-up; may be null
    std::uint8_t ports; // port count given to liuDrv_init
};

void selectUserWaveform() {
    liuDrv_write(kPulseTemplateCode, kPort, kUserWaveformCode, 1);
}

// The port in E1 or T1 mode, so that the next line type does or does not
// change the mode bit.
void e1Port() {
    ASSERT_EQ(liuDrv_setLineType(kPort, LIUDRV_LINE_TYPE_E1), 0);
}
void t1Port() {
    ASSERT_EQ(liuDrv_setLineType(kPort, LIUDRV_LINE_TYPE_T1), 0);
}

// Port defaults at start-up, per port: receiver power (read, write),
// transmitter power (read, write), E1 pulse mask on a freshly reset port
// (9: the mode bit is already clear), haul type 2 (read, 128 for the line
// type read-out, write).
constexpr unsigned kDefaultsPerPort = 2 + 2 + 9 + 1 + 128 + 1;

const Case kCases[] = {
    // Register access.
    {"write", [] { return liuDrv_write(0x2B, kPort, 0x05, 1); }, 0, 1, nullptr, 8},
    {"read", [] { return liuDrv_read(0x2B, kPort, &byte); }, 0, 1, nullptr, 8},
    {"writeSecondLiu", [] { return liuDrv_write(0x07, LIUDRV_CHANNEL_SECOND, 1, 1); }, 1, 0,
     nullptr, 8},
    {"readSecondLiu", [] { return liuDrv_read(0x07, LIUDRV_CHANNEL_SECOND, &byte); }, 1, 0, nullptr,
     8},
    {"isLiuConnected", [] { return liuDrv_isLiuConnected(); }, 0, 1, nullptr, 8},
    // Line type: 0x22 and 0x28 read and rewritten, 0x2C, 0x20 read (and
    // written only when the mode bit changes), 0x32, 0x2A, 0x23.
    {"setLineTypeE1OnE1", [] { return liuDrv_setLineType(kPort, LIUDRV_LINE_TYPE_E1); }, 0, 9,
     nullptr, 8},
    {"setLineTypeT1OnE1", [] { return liuDrv_setLineType(kPort, LIUDRV_LINE_TYPE_T1); }, 0, 10,
     e1Port, 8},
    {"setLineTypeE1OnT1", [] { return liuDrv_setLineType(kPort, LIUDRV_LINE_TYPE_E1); }, 0, 10,
     t1Port, 8},
    {"setLineTypeUnknown", [] { return liuDrv_setLineType(kPort, 4); }, -1, 5, nullptr, 8},
    {"setLineTypePortOutOfRange", [] { return liuDrv_setLineType(8, LIUDRV_LINE_TYPE_E1); }, -1, 0,
     nullptr, 8},
    // Waveform read-out: 64 address writes and 64 sample reads.
    {"getLineType", [] { return liuDrv_getLineType(kPort, &value); }, 0, 128, nullptr, 8},
    {"getLineTypePortOutOfRange", [] { return liuDrv_getLineType(8, &value); }, -1, 0, nullptr, 8},
    {"dumpPulseShapeParam", [] { return liuDrv_dumpPulseShapeParam(kPort); }, 0, 131,
     selectUserWaveform, 8},
    {"dumpPulseShapeParamNotUserWaveform", [] { return liuDrv_dumpPulseShapeParam(kPort); }, -1, 1,
     nullptr, 8},
    // Line code: 0x28 and 0x22 read, then written.
    {"setLineCode", [] { return liuDrv_setLineCode(kPort, LIUDRV_LINE_CODE_2); }, 0, 4, nullptr, 8},
    {"setLineCodeUnknown", [] { return liuDrv_setLineCode(kPort, 3); }, -1, 2, nullptr, 8},
    {"getLineCode", [] { return liuDrv_getLineCode(kPort, &value); }, 0, 2, nullptr, 8},
    // Line build-out and line length: the pulse template code alone, and the
    // waveform read-out for the getters.
    {"setLineBuildOut", [] { return liuDrv_setLineBuildOut(kPort, 2); }, 0, 1, nullptr, 8},
    {"setLineBuildOutUnknown", [] { return liuDrv_setLineBuildOut(kPort, 5); }, -1, 0, nullptr, 8},
    {"getLineBuildOut", [] { return liuDrv_getLineBuildOut(kPort, &value); }, -1, 128, nullptr, 8},
    {"setLineLength", [] { return liuDrv_setLineLength(kPort, 3); }, 0, 1, nullptr, 8},
    {"setLineLengthUnknown", [] { return liuDrv_setLineLength(kPort, 0); }, -1, 0, nullptr, 8},
    {"getLineLength", [] { return liuDrv_getLineLength(kPort, &value); }, -1, 128, nullptr, 8},
    // Haul type: 0x29 read and written; haul 2 reads the line type between.
    {"setHaulType1", [] { return liuDrv_setHaulType(kPort, LIUDRV_HAUL_1); }, 0, 2, nullptr, 8},
    {"setHaulType2", [] { return liuDrv_setHaulType(kPort, LIUDRV_HAUL_2); }, 0, 130, nullptr, 8},
    {"setHaulTypeUnknown", [] { return liuDrv_setHaulType(kPort, 3); }, -1, 1, nullptr, 8},
    {"getHaulType", [] { return liuDrv_getHaulType(kPort, &value); }, 0, 1, nullptr, 8},
    // Loopbacks and power: one read and one write per set, one read per get.
    {"setLoopRemote", [] { return liuDrv_setLoopRemote(kPort, 1); }, 0, 2, nullptr, 8},
    {"getLoopRemote", [] { return liuDrv_getLoopRemote(kPort, &value); }, 0, 1, nullptr, 8},
    {"setLoopAnalog", [] { return liuDrv_setLoopAnalog(kPort, 1); }, 0, 2, nullptr, 8},
    {"getLoopAnalog", [] { return liuDrv_getLoopAnalog(kPort, &value); }, 0, 1, nullptr, 8},
    {"setLoopDigital", [] { return liuDrv_setLoopDigital(kPort, 0); }, 0, 2, nullptr, 8},
    {"getLoopDigital", [] { return liuDrv_getLoopDigital(kPort, &value); }, 0, 1, nullptr, 8},
    {"setLoopRemotePortOutOfRange", [] { return liuDrv_setLoopRemote(8, 1); }, -1, 0, nullptr, 8},
    {"setPowerupTx", [] { return liuDrv_setPowerupTx(kPort, 1); }, 0, 2, nullptr, 8},
    {"getPowerupTx", [] { return liuDrv_getPowerupTx(kPort, &value); }, 0, 1, nullptr, 8},
    {"setPowerupRx", [] { return liuDrv_setPowerupRx(kPort, 1); }, 0, 2, nullptr, 8},
    {"getPowerupRx", [] { return liuDrv_getPowerupRx(kPort, &value); }, 0, 1, nullptr, 8},
    // Reference clocks: write 0x3E, read 0x07, write 0x07, read 0x07, read 0x3E.
    {"setRefAClock", [] { return liuDrv_setRefAClock(kPort); }, 0, 5, nullptr, 8},
    {"setRefBClock", [] { return liuDrv_setRefBClock(5); }, 0, 5, nullptr, 8},
    {"setRefAClockPortOutOfRange", [] { return liuDrv_setRefAClock(8); }, -1, 0, nullptr, 8},
    // Alarms: one read of 0x36 per reader; six per usable port per poll.
    {"hasLos", [] { return liuDrv_hasLos(kPort); }, 0, 1, nullptr, 8},
    {"hasPrbs", [] { return liuDrv_hasPrbs(kPort); }, 0, 1, nullptr, 8},
    {"alarmHandler8Ports", [] { return liuDrv_alarmHandler(alarms); }, 0, 48, nullptr, 8},
    {"alarmHandler4Ports", [] { return liuDrv_alarmHandler(alarms); }, 0, 24, nullptr, 4},
    {"alarmHandlerNoBuffer", [] { return liuDrv_alarmHandler(nullptr); }, 0, 48, nullptr, 8},
    // No bus work at all.
    {"setInOutType",
     [] {
         liuDrv_setInOutType(LIUDRV_INOUT_SYMMETRICAL);
         return 0;
     },
     0, 0, nullptr, 8},
    {"broadcastMode",
     [] {
         liuDrv_broadcastMode(1);
         return 0;
     },
     0, 0, nullptr, 8},
};

// Test names and failure messages show the case by its name.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class TransferCountTest : public LiuSimTest, public ::testing::WithParamInterface<Case> {
  protected:
    // Transfers in the log since the last clear; fails the test on a failed one.
    unsigned loggedTransfers() {
        const auto log = chip().log();
        for (const liusim::Transfer& transfer : log) {
            EXPECT_TRUE(transfer.ok) << "a transfer failed: the chip is not healthy";
        }
        chip().clearLog();
        return static_cast<unsigned>(log.size());
    }
};

TEST_P(TransferCountTest, EachCallMakesExactlyItsTransfers) {
    const Case& c = GetParam();
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, c.ports), 0);
    for (int call = 1; call <= 3; ++call) {
        if (c.prepare != nullptr) {
            c.prepare();
        }
        chip().clearLog();
        EXPECT_EQ(c.call(), c.result) << "call " << call;
        EXPECT_EQ(loggedTransfers(), c.transfers) << "call " << call;
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, TransferCountTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

// Start-up: the software reset, then the defaults of every usable port.
class StartupTransferTest : public LiuSimTest,
                            public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(StartupTransferTest, ResetThenDefaultsOfEveryPort) {
    const std::uint8_t ports = GetParam();
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, ports), 0);
    EXPECT_EQ(chip().log().size(), 1 + ports * kDefaultsPerPort);
}

INSTANTIATE_TEST_SUITE_P(Ports, StartupTransferTest,
                         ::testing::Values(std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{8}),
                         [](const ::testing::TestParamInfo<std::uint8_t>& info) {
                             return std::to_string(info.param) + "Ports";
                         });

} // namespace
