// SPDX-License-Identifier: MIT
// Library state, start-up and the port defaults it writes: liuDrv_init with
// its trace set registration, start-up line, identification, software reset
// and per-port defaults; the refusals of a second start-up and of a missing
// device; the port guard; liuDrv_setInOutType, liuDrv_broadcastMode and
// liuDrv_isLiuConnected.
#include "LibTest.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

using namespace libtest;

namespace {

constexpr const char* kStartupLine =
    "liuDrv_init -> using the HTQ buildin SPI kernel module with IOCTL\n";

// Transfers and trace lines of the defaults of port p right after the
// software reset (every register 0), with liuDrv_lineType and the
// input/output type as given.  Returns false where the defaults stop.
bool appendPortDefaults(Bus& bus, Lines& lines, unsigned p, int lineTypeGlobal = 1,
                        int inoutType = 2) {
    lines.push_back(C(fmt("liuDrv_setPowerupRx(port=%u state=0)", p)));
    append(bus, {R(p, 0x28), W(p, 0x28, 0x10)});
    lines.push_back(writeLine(0x28, 0x10));
    lines.push_back(C(fmt("liuDrv_setPowerupTx(port=%u state=0)", p)));
    append(bus, {R(p, 0x22), W(p, 0x22, 0x10)});
    lines.push_back(writeLine(0x22, 0x10));

    const PulseMaskRun pulseMask = pulseMaskRun(p, 1, inoutType, lineTypeGlobal, 0x10, 0x10, 0x00);
    append(bus, pulseMask.bus);
    append(lines, pulseMask.lines);
    if (pulseMask.result != 0) {
        return false;
    }

    lines.push_back(C(fmt("liuDrv_setHaulType(port=%u, haul=2)", p)));
    bus.push_back(R(p, 0x29));
    lines.push_back(C(fmt("liuDrv_getLineType(port=%u, ...)", p)));
    append(bus, readOutBus(p));
    append(lines, readOutLines(p));
    // The read-out names no line type, so the haul's own variable is traced
    // as it stood; its initial value is the haul operation's business.
    lines.push_back(C("liuDrv_getLineType returns lineType=*"));
    bus.push_back(W(p, 0x29, 0x54));
    lines.push_back(writeLine(0x29, 0x54));
    return true;
}

// The opening of a start-up that gets past the open: its lines up to and
// including the software reset write.
Lines startupOpening() {
    return {C("liuDrv_init() redesigned"), D("liuDrv_getPiu: LIU 82V5088 - 8 PDH channels"),
            D("liuDrv_swReset:"), writeLine(0x04, 0x01)};
}

// Registers of a port that its defaults set.
const std::uint8_t kDefaultRegisters[] = {0x20, 0x22, 0x23, 0x28, 0x29, 0x2A, 0x2C, 0x32};

class StartupTest : public LibTest {
  protected:
    // liuDrv_init with standard output captured.
    int initCapturing(int inoutType, std::uint8_t ports, std::string& printed) {
        ::testing::internal::CaptureStdout();
        const int rc = liuDrv_init(inoutType, ports);
        std::fflush(stdout);
        printed = ::testing::internal::GetCapturedStdout();
        return rc;
    }

    void expectNoTransferOnChannels(unsigned from, unsigned to) {
        for (const liusim::Transfer& transfer : chip().log()) {
            EXPECT_FALSE(transfer.channel >= from && transfer.channel <= to)
                << "unexpected transfer " << busOf({transfer}).front();
        }
    }

    // The alarm state table as liuDrv_alarmHandler hands it over.
    void expectAlarmTable(int32_t port1Los, int32_t others) {
        int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
        ASSERT_EQ(liuDrv_alarmHandler(table), 0);
        for (unsigned p = 0; p < LIUDRV_ALARM_PORTS; ++p) {
            for (unsigned e = 0; e < LIUDRV_ALARM_ENTRIES; ++e) {
                EXPECT_EQ(table[p][e], (p == 1 && e == LIUDRV_EVENT_LOS) ? port1Los : others)
                    << "port " << p << " entry " << e;
            }
        }
    }
};

// ---- State before and after a successful start-up -----------------------------------

TEST_F(StartupTest, GlobalsHoldTheirInitialValuesBeforeInit) {
    EXPECT_EQ(liuDrv_inited, 0);
    EXPECT_EQ(liuDrv_maxPorts, 0);
    EXPECT_EQ(liuDrv_maxLius, 0);
    EXPECT_EQ(liuDrv_maxPortsLiu, 0);
    EXPECT_EQ(liuDrv_liuTyp, 5);
    EXPECT_EQ(liuDrv_inoutType, 255);
    EXPECT_EQ(liuDrv_lineType, 1);
    EXPECT_EQ(liuTsId, -1);
    EXPECT_EQ(firstCall, 1);
    EXPECT_EQ(liuDrv_regOffs, 0);
}

TEST_F(StartupTest, InitSetsIdentificationRegistersTraceSetAndPrintsOneLine) {
    std::string printed;
    ASSERT_EQ(initCapturing(2, 8, printed), 0);

    EXPECT_EQ(printed, kStartupLine);
    EXPECT_EQ(liuDrv_inited, 1);
    EXPECT_EQ(liuDrv_maxPorts, 8);
    EXPECT_EQ(liuDrv_maxLius, 1);
    EXPECT_EQ(liuDrv_maxPortsLiu, 8);
    EXPECT_EQ(liuDrv_liuTyp, 3);
    EXPECT_EQ(liuDrv_inoutType, 2);
    EXPECT_EQ(liuDrv_lineType, 1);
    EXPECT_EQ(firstCall, 1);
    EXPECT_EQ(liuDrv_regOffs, 0);

    const auto registrations = liutrace::registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].name, "liuDrv_trace");
    EXPECT_EQ(registrations[0].first, 0);
    EXPECT_EQ(registrations[0].last, 250);
    EXPECT_EQ(registrations[0].defaultLevel, 65);
    EXPECT_EQ(registrations[0].mask, 0x40000000u);
    EXPECT_TRUE(registrations[0].idGiven);
    EXPECT_EQ(liuTsId, liutrace::kDefaultTraceSetId) << "the id was stored in liuTsId";

    int resetWrites = 0;
    for (const std::string& transfer : bus()) {
        resetWrites += transfer == W(0, 0x04, 0x01) ? 1 : 0;
    }
    EXPECT_EQ(resetWrites, 1);
    ASSERT_FALSE(bus().empty());
    EXPECT_EQ(bus().front(), W(0, 0x04, 0x01)) << "frame 00 04 01 comes first";

    startCheck();
    expectAlarmTable(1, 1);
}

TEST_F(StartupTest, EveryPortReadsBackPoweredDownHaul2AndTheE1Configuration) {
    initLibrary(2, 8);
    for (std::uint16_t p = 0; p < 8; ++p) {
        SCOPED_TRACE(p);
        int rx = 7;
        int tx = 7;
        int haul = 7;
        EXPECT_EQ(liuDrv_getPowerupRx(p, &rx), 0);
        EXPECT_EQ(liuDrv_getPowerupTx(p, &tx), 0);
        EXPECT_EQ(liuDrv_getHaulType(p, &haul), 0);
        EXPECT_EQ(rx, 0);
        EXPECT_EQ(tx, 0);
        EXPECT_EQ(haul, 2);

        EXPECT_EQ(chip().reg(p, 0x20) & 0x01, 0);
        EXPECT_EQ(chip().reg(p, 0x32), 0x09);
        EXPECT_EQ(chip().reg(p, 0x23), 0x01);
        EXPECT_EQ(chip().reg(p, 0x2A), 0x18);
        EXPECT_EQ(chip().reg(p, 0x2C), 0x02);
        EXPECT_EQ(chip().reg(p, 0x22), 0x10);
        EXPECT_EQ(chip().reg(p, 0x28), 0x14);
        EXPECT_EQ(chip().reg(p, 0x29), 0x54);
    }
}

// ---- The start-up sequence, transfer for transfer ------------------------------------

class StartupSequenceTest : public StartupTest, public ::testing::WithParamInterface<int> {};

TEST_P(StartupSequenceTest, ResetThenRxTxPulseMaskHaulPerPortInOrder) {
    const auto ports = static_cast<std::uint8_t>(GetParam());
    ASSERT_EQ(liuDrv_init(2, ports), 0);

    Bus expectedBus = {W(0, 0x04, 0x01)};
    Lines expectedLines = startupOpening();
    for (unsigned p = 0; p < ports; ++p) {
        ASSERT_TRUE(appendPortDefaults(expectedBus, expectedLines, p));
    }
    expectedLines.push_back(C("liuDrv_init() DONE"));

    EXPECT_TRUE(sameSequence(bus(), expectedBus));
    EXPECT_TRUE(sameSequence(lines(), expectedLines));

    // The LIU gets 2 ms after its reset before the first port transfer.
    const auto log = chip().log();
    if (log.size() > 1) {
        EXPECT_GE(log[1].time - log[0].time, std::chrono::microseconds(2000));
    }
}

INSTANTIATE_TEST_SUITE_P(PortCounts, StartupSequenceTest, ::testing::Values(0, 1, 8),
                         [](const auto& info) { return std::to_string(info.param) + "Ports"; });

// ---- Refused and failing start-ups --------------------------------------------------

TEST_F(StartupTest, SecondInitIsRefusedAndKeepsEverything) {
    initLibrary(2, 8);
    // Give the alarm table a state of its own: LOS of port 1 active.
    chip().raiseAlarm(1, LIUDRV_STATUS_LOS);
    ASSERT_EQ(liuDrv_alarmHandler(nullptr), 0);
    chip().clearAlarm(1, LIUDRV_STATUS_LOS);
    chip().failOpen(true); // a second open would now fail with its own trace
    startCheck();

    std::string printed;
    EXPECT_EQ(initCapturing(1, 4, printed), -1);

    EXPECT_EQ(printed, "");
    EXPECT_TRUE(sameSequence(lines(), {C("liuDrv_init() redesigned"),
                                       E("liuDrv_init: libliuDrv was already initialized!")}));
    EXPECT_TRUE(bus().empty());
    EXPECT_EQ(liutrace::initCalls(), 0);
    EXPECT_EQ(liuDrv_inited, 1);
    EXPECT_EQ(liuDrv_maxPorts, 8);
    EXPECT_EQ(liuDrv_inoutType, 2);

    // The device opened by the first start-up still serves transfers, and the
    // alarm table kept its active LOS: now cleared it turns inactive (3); a
    // reset table would have left it initial (1).
    chip().failOpen(false);
    std::uint8_t value = 0;
    EXPECT_EQ(liuDrv_read(0x29, 7, &value), 0);
    EXPECT_EQ(value, 0x54);
    expectAlarmTable(LIUDRV_ALARM_INACTIVE, LIUDRV_ALARM_INITIAL);
}

TEST_F(StartupTest, RefusedOpenLeavesTheLibraryUninitialisedAndInitCanRunAgain) {
    chip().failOpen(true);
    std::string printed;

    EXPECT_EQ(initCapturing(2, 8, printed), -1);

    EXPECT_EQ(printed, "");
    EXPECT_TRUE(
        sameSequence(lines(), {C("liuDrv_init() redesigned"), E("liuDrv_init: open failed!")}));
    EXPECT_EQ(chip().transferCount(), 0u);
    EXPECT_EQ(liuDrv_inited, 0);
    EXPECT_EQ(liuDrv_maxPorts, 0);
    EXPECT_EQ(liuDrv_inoutType, 255);
    EXPECT_EQ(liuTsId, liutrace::kDefaultTraceSetId) << "the trace set stays registered";

    startCheck();
    int up = 9;
    EXPECT_EQ(liuDrv_getPowerupTx(0, &up), -1);
    EXPECT_EQ(up, 9);
    EXPECT_TRUE(
        sameSequence(lines(), {C("liuDrv_getPowerupTx(port=0, ...)"),
                               E("liuDrv_getPowerupTx: portId=0 not matching, allowed is 0..-1")}));

    chip().failOpen(false);
    startCheck();
    EXPECT_EQ(initCapturing(2, 8, printed), 0);
    EXPECT_EQ(printed, kStartupLine);
    EXPECT_EQ(liuDrv_inited, 1);
    EXPECT_EQ(liutrace::initCalls(), 0) << "registered once, at the first start-up";
    EXPECT_EQ(chip().reg(7, 0x29), 0x54);
}

TEST_F(StartupTest, TraceSetIsRegisteredAtEveryInitWhileItsIdStaysUnset) {
    liutrace::setTraceSetId(-1);
    chip().failOpen(true);
    EXPECT_EQ(liuDrv_init(2, 8), -1);
    EXPECT_EQ(liutrace::initCalls(), 1);
    EXPECT_EQ(liuTsId, -1);
    // Lines before a set id exists carry -1.
    EXPECT_TRUE(sameSequence(lines(), {{-1, LIUDRV_TRACE_LEVEL_CALL, "liuDrv_init() redesigned"},
                                       E("liuDrv_init: open failed!")}));

    liutrace::setTraceSetId(23);
    chip().failOpen(false);
    EXPECT_EQ(liuDrv_init(2, 8), 0);
    EXPECT_EQ(liutrace::initCalls(), 2);
    EXPECT_EQ(liuTsId, 23);

    EXPECT_EQ(liuDrv_init(2, 8), -1);
    EXPECT_EQ(liutrace::initCalls(), 2);
}

TEST_F(StartupTest, FailedResetWriteEndsStartUpInitialisedWithoutPortDefaults) {
    chip().failTransfer(1);
    std::string printed;

    EXPECT_EQ(initCapturing(2, 8, printed), 1);

    EXPECT_EQ(printed, kStartupLine);
    EXPECT_EQ(liuDrv_inited, 1);
    EXPECT_EQ(liuDrv_maxPorts, 8);
    EXPECT_EQ(liuDrv_inoutType, 2);
    EXPECT_TRUE(sameSequence(bus(), {failed(W(0, 0x04, 0x01))}));
    EXPECT_TRUE(sameSequence(
        lines(), {C("liuDrv_init() redesigned"), D("liuDrv_getPiu: LIU 82V5088 - 8 PDH channels"),
                  D("liuDrv_swReset:"), E("liuDrv_write: SPI read failure!")}));

    startCheck();
    EXPECT_EQ(liuDrv_init(2, 8), -1) << "a failed start-up still counts as initialised";
}

TEST_F(StartupTest, UnknownInOutTypeStopsAtPort0PulseMask) {
    EXPECT_EQ(liuDrv_init(255, 8), -1);

    Bus expectedBus = {W(0, 0x04, 0x01)};
    Lines expectedLines = startupOpening();
    EXPECT_FALSE(appendPortDefaults(expectedBus, expectedLines, 0, 1, 255));
    EXPECT_TRUE(sameSequence(bus(), expectedBus));
    EXPECT_TRUE(sameSequence(lines(), expectedLines));
    EXPECT_EQ(lines().back().text, "liuDrv_pulsMaskConfiguration: unknown input/output type:255");

    EXPECT_EQ(liuDrv_inited, 1);
    EXPECT_EQ(liuDrv_inoutType, 255);
    EXPECT_EQ(chip().reg(0, 0x28), 0x14) << "receiver down, then the pulse mask bit";
    EXPECT_EQ(chip().reg(0, 0x22), 0x10) << "transmitter down";
    EXPECT_EQ(chip().reg(0, 0x2C), 0x02);
    EXPECT_EQ(chip().reg(0, 0x29), 0x00) << "haul type not set";
    expectNoTransferOnChannels(1, 15);
}

// liuDrv_lineType set before start-up decides the pulse template code that the
// E1 defaults write; the mode bit and termination stay E1.
struct LineTypeBeforeInitCase {
    int lineType;
    int result;
    std::uint8_t code; // 0x23 of every port; 0 when not written
};

void PrintTo(const LineTypeBeforeInitCase& c, std::ostream* out) {
    *out << "lineType " << c.lineType;
}

class LineTypeBeforeInitTest : public StartupTest,
                               public ::testing::WithParamInterface<LineTypeBeforeInitCase> {};

TEST_P(LineTypeBeforeInitTest, StartUpWritesTheTemplateCodeOfTheRequestedLineType) {
    const LineTypeBeforeInitCase& c = GetParam();
    EXPECT_EQ(liuDrv_setLineType(0, c.lineType), -1);
    EXPECT_TRUE(sameSequence(
        lines(),
        {{-1, LIUDRV_TRACE_LEVEL_CALL, fmt("liuDrv_setLineType(port=0 lineType=%d)", c.lineType)},
         E("liuDrv_setLineType: portId=0 not matching, allowed is 0..-1")}));
    EXPECT_EQ(liuDrv_lineType, c.lineType);
    liutrace::clear();

    EXPECT_EQ(liuDrv_init(2, 8), c.result);

    Bus expectedBus = {W(0, 0x04, 0x01)};
    Lines expectedLines = startupOpening();
    bool complete = true;
    for (unsigned p = 0; p < 8 && complete; ++p) {
        complete = appendPortDefaults(expectedBus, expectedLines, p, c.lineType);
    }
    if (complete) {
        expectedLines.push_back(C("liuDrv_init() DONE"));
    }
    EXPECT_TRUE(sameSequence(bus(), expectedBus));
    EXPECT_TRUE(sameSequence(lines(), expectedLines));

    EXPECT_EQ(liuDrv_lineType, c.lineType) << "start-up does not change it";
    const unsigned configured = c.result == 0 ? 8 : 1;
    for (unsigned p = 0; p < configured; ++p) {
        SCOPED_TRACE(p);
        EXPECT_EQ(chip().reg(p, 0x23), c.code);
        EXPECT_EQ(chip().reg(p, 0x20) & 0x01, 0);
        EXPECT_EQ(chip().reg(p, 0x32), 0x09);
        EXPECT_EQ(chip().reg(p, 0x2A), 0x18);
        EXPECT_EQ(chip().reg(p, 0x29), c.result == 0 ? 0x54 : 0x00);
    }
    if (c.result != 0) {
        expectNoTransferOnChannels(1, 15);
    }
}

INSTANTIATE_TEST_SUITE_P(
    LineTypes, LineTypeBeforeInitTest,
    ::testing::Values(LineTypeBeforeInitCase{2, 0, 0x08}, LineTypeBeforeInitCase{3, 0, 0x07},
                      LineTypeBeforeInitCase{5, -1, 0x00}, LineTypeBeforeInitCase{0, -1, 0x00}),
    [](const auto& info) { return "LineType" + std::to_string(info.param.lineType); });

// ---- Port guard -------------------------------------------------------------------------

// A per-port operation of this area, called with a port and an out-value
// (ignored by set operations), with its entry line.
struct PortOperation {
    const char* name;
    std::function<int(std::uint16_t, int*)> call;
    std::function<std::string(std::uint16_t)> entry;
};

std::vector<PortOperation> portOperations() {
    auto getEntry = [](const char* name) {
        return [name](std::uint16_t p) { return fmt("%s(port=%d, ...)", name, p); };
    };
    return {
        {"liuDrv_setPowerupTx", [](std::uint16_t p, int*) { return liuDrv_setPowerupTx(p, 1); },
         [](std::uint16_t p) { return fmt("liuDrv_setPowerupTx(port=%d state=1)", p); }},
        {"liuDrv_setPowerupRx", [](std::uint16_t p, int*) { return liuDrv_setPowerupRx(p, 0); },
         [](std::uint16_t p) { return fmt("liuDrv_setPowerupRx(port=%d state=0)", p); }},
        {"liuDrv_getPowerupTx", liuDrv_getPowerupTx, getEntry("liuDrv_getPowerupTx")},
        {"liuDrv_getPowerupRx", liuDrv_getPowerupRx, getEntry("liuDrv_getPowerupRx")},
        {"liuDrv_setHaulType", [](std::uint16_t p, int*) { return liuDrv_setHaulType(p, 1); },
         [](std::uint16_t p) { return fmt("liuDrv_setHaulType(port=%d, haul=1)", p); }},
        {"liuDrv_getHaulType", liuDrv_getHaulType, getEntry("liuDrv_getHaulType")},
        {"liuDrv_setLineType", [](std::uint16_t p, int*) { return liuDrv_setLineType(p, 1); },
         [](std::uint16_t p) { return fmt("liuDrv_setLineType(port=%d lineType=1)", p); }},
        {"liuDrv_getLineType", liuDrv_getLineType, getEntry("liuDrv_getLineType")},
    };
}

class PortGuardTest : public StartupTest {
  protected:
    // Every operation on port p is refused with -1 and the guard's error line
    // (refusal: its text after the name), without a transfer.
    void expectAllRefused(std::uint16_t p, const std::string& refusal) {
        for (const PortOperation& op : portOperations()) {
            SCOPED_TRACE(op.name);
            startCheck();
            int out = 0x5EED;
            EXPECT_EQ(op.call(p, &out), -1);
            EXPECT_EQ(out, 0x5EED);
            EXPECT_TRUE(bus().empty());
            EXPECT_TRUE(sameSequence(lines(), {C(op.entry(p)), E(op.name + refusal)}));
        }
    }
};

TEST_F(PortGuardTest, BeforeInitPort0IsOutOfRange) {
    expectAllRefused(0, ": portId=0 not matching, allowed is 0..-1");
}

TEST_F(PortGuardTest, WithoutPortsEveryPortIsOutOfRange) {
    std::string printed;
    ASSERT_EQ(initCapturing(2, 0, printed), 0);
    EXPECT_EQ(printed, kStartupLine);
    expectAllRefused(0, ": portId=0 not matching, allowed is 0..-1");
    expectAllRefused(65535, ": portId=65535 not matching, allowed is 0..-1");
}

TEST_F(PortGuardTest, PortCountIsRefusedAndTheLastPortAccepted) {
    initLibrary(2, 4);
    expectAllRefused(4, ": portId=4 not matching, allowed is 0..3");
    for (const PortOperation& op : portOperations()) {
        SCOPED_TRACE(op.name);
        startCheck();
        int out = 0;
        EXPECT_EQ(op.call(3, &out), 0);
        EXPECT_FALSE(bus().empty());
        for (const liusim::Transfer& transfer : chip().log()) {
            EXPECT_EQ(transfer.channel, 3);
        }
    }
}

TEST_F(PortGuardTest, PortInRangeIsRefusedWhileNotInitialised) {
    liuDrv_maxPorts = 8; // as a caller writing the exported global could
    expectAllRefused(2, ": not inited or LIU failure!");
    EXPECT_EQ(chip().transferCount(), 0u);
}

// ---- Small operations around start-up -------------------------------------------------

TEST_F(StartupTest, InOutTypeSetBeforeInitIsOverwrittenByInit) {
    liuDrv_setInOutType(1);
    EXPECT_EQ(liuDrv_inoutType, 1);
    EXPECT_TRUE(sameSequence(lines(), {{-1, LIUDRV_TRACE_LEVEL_DETAIL, "liuDrv_setInOutType:"}}));
    EXPECT_EQ(chip().transferCount(), 0u);

    ASSERT_EQ(liuDrv_init(2, 8), 0);
    EXPECT_EQ(liuDrv_inoutType, 2);
    EXPECT_EQ(chip().reg(0, 0x32), 0x09) << "symmetrical E1 termination";
}

TEST_F(StartupTest, InOutTypeSetAfterInitTakesEffectAtTheNextPulseMask) {
    initLibrary(2, 8);
    liuDrv_setInOutType(1);
    EXPECT_EQ(liuDrv_inoutType, 1);
    EXPECT_TRUE(sameSequence(lines(), {D("liuDrv_setInOutType:")}));
    EXPECT_TRUE(bus().empty());
    EXPECT_EQ(chip().reg(4, 0x32), 0x09);

    EXPECT_EQ(liuDrv_setLineType(4, 1), 0);
    EXPECT_EQ(chip().reg(4, 0x32), 0x00) << "asymmetrical E1 termination";
}

TEST_F(StartupTest, BroadcastModeChangesNothing) {
    const int modes[] = {0, 1, -1, 2, 255};
    for (int mode : modes) {
        liuDrv_broadcastMode(mode);
    }
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(liuDrv_inited, 0);
    EXPECT_EQ(liuDrv_maxPorts, 0);

    initLibrary(2, 8);
    for (int mode : modes) {
        liuDrv_broadcastMode(mode);
    }
    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(bus().empty());
    EXPECT_EQ(liuDrv_inited, 1);
    EXPECT_EQ(liuDrv_maxPorts, 8);
    EXPECT_EQ(liuDrv_inoutType, 2);
    EXPECT_EQ(liuDrv_lineType, 1);
    EXPECT_EQ(liuDrv_broadcastMode_(1), 0);
    EXPECT_EQ(liuDrv_broadcastMode_(0), 0);
    EXPECT_TRUE(bus().empty());
}

TEST_F(StartupTest, LiuIsConnectedWhenTheGlobalResetRegisterCanBeRead) {
    EXPECT_EQ(liuDrv_isLiuConnected(), 1) << "no device before start-up";
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_read: SPI read failure!")}));

    initLibrary(2, 8);
    chip().setReg(0, 0x04, 0xA5); // any value read counts
    EXPECT_EQ(liuDrv_isLiuConnected(), 0);
    EXPECT_TRUE(sameSequence(bus(), {R(0, 0x04)}));
    EXPECT_TRUE(lines().empty());

    startCheck();
    chip().failTransfer(1);
    EXPECT_EQ(liuDrv_isLiuConnected(), 1);
    EXPECT_TRUE(sameSequence(bus(), {failed(R(0, 0x04))}));
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_read: SPI read failure!")}));
}

TEST_F(StartupTest, SecondLiuIsRefusedWhenTheCallerClaimsTwo) {
    initLibrary(2, 8);
    liuDrv_maxLius = 2;

    EXPECT_EQ(liuDrv_isLiuConnected(), 1);
    EXPECT_TRUE(sameSequence(bus(), {R(0, 0x04)}));
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_read: only 1 LIU existing!")}));

    startCheck();
    chip().failTransfer(1);
    EXPECT_EQ(liuDrv_isLiuConnected(), 1);
    EXPECT_TRUE(sameSequence(bus(), {failed(R(0, 0x04))}));
    EXPECT_TRUE(sameSequence(lines(), {E("liuDrv_read: SPI read failure!")}))
        << "no second read after a failed first one";
}

} // namespace
