// SPDX-License-Identifier: MIT
// Bad input matrix: every operation with ports at and beyond the port count,
// every code operation with codes at, around and far beyond its range, and
// null out-pointers.  A refusal must come back as -1 with its error trace and
// leave the chip and the caller's variables as they were; an accepted value
// must do exactly the operation's work on the addressed channel.
#include "ChipState.h"
#include "LiuDrvInternal.h"
#include "LiuSimTest.h"
#include "TransferText.h"

#include <fcntl.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using hardening::RegisterFile;
using liusim::Access;
using liusim::Transfer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kSentinel = 0x5A5AA5A5;
constexpr int kPorts = 8;
// Ports tried: the last valid one, the port count itself, the last and first
// beyond the frame's channel field, the largest 8-bit value and the largest
// port number (which is also the global channel selector).
const std::vector<uint16_t> kTriedPorts = {kPorts - 1, kPorts, 15, 16, 255, 65535};

std::string text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string text(const char* format, ...) {
    char buffer[160];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

using hardening::quietly;

std::vector<std::string> errorTraces() {
    std::vector<std::string> errors;
    for (const liutrace::TraceRecord& record : liutrace::records()) {
        if (record.level == LIUDRV_TRACE_LEVEL_ERROR) {
            EXPECT_EQ(record.id, LIUDRV_TRACE_ERROR_ID) << record.text;
            errors.push_back(record.text);
        }
    }
    return errors;
}

class BadInput : public LiuSimTest {
  protected:
    void SetUp() override {
        LiuSimTest::SetUp();
        ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, kPorts), 0);
        fresh();
    }

    // Busy chip, empty log and trace record; returns the register file.
    RegisterFile fresh() {
        hardening::presetBusyChip(chip());
        chip().clearLog();
        liutrace::clear();
        return hardening::registerFile(chip());
    }
};

// ---- Ports of the guarded operations ----------------------------------------

struct PortOperation {
    const char* name;
    std::function<int(uint16_t port, int* out)> call;
    int acceptedResult;   // at the last valid port of the busy chip
    int acceptedOut;      // kSentinel: not written
    bool referenceOutput; // ports 0..7 only; also touches global register 0x07
};

std::vector<PortOperation> portOperations() {
    return {
        {"liuDrv_setLineType", [](uint16_t p, int*) { return liuDrv_setLineType(p, 1); }, 0,
         kSentinel, false},
        {"liuDrv_getLineType", [](uint16_t p, int* o) { return liuDrv_getLineType(p, o); }, 0,
         1, false},
        {"liuDrv_setLineCode", [](uint16_t p, int*) { return liuDrv_setLineCode(p, 2); }, 0,
         kSentinel, false},
        {"liuDrv_getLineCode", [](uint16_t p, int* o) { return liuDrv_getLineCode(p, o); }, 0, 2,
         false},
        {"liuDrv_setLineBuildOut", [](uint16_t p, int*) { return liuDrv_setLineBuildOut(p, 2); }, 0,
         kSentinel, false},
        {"liuDrv_getLineBuildOut", [](uint16_t p, int* o) { return liuDrv_getLineBuildOut(p, o); },
         -1, kSentinel, false},
        {"liuDrv_setLineLength", [](uint16_t p, int*) { return liuDrv_setLineLength(p, 4); }, 0,
         kSentinel, false},
        {"liuDrv_getLineLength", [](uint16_t p, int* o) { return liuDrv_getLineLength(p, o); }, -1,
         kSentinel, false},
        {"liuDrv_setHaulType", [](uint16_t p, int*) { return liuDrv_setHaulType(p, 2); }, 0,
         kSentinel, false},
        {"liuDrv_getHaulType", [](uint16_t p, int* o) { return liuDrv_getHaulType(p, o); }, 0, 2,
         false},
        {"liuDrv_setLoopRemote", [](uint16_t p, int*) { return liuDrv_setLoopRemote(p, 1); }, 0,
         kSentinel, false},
        {"liuDrv_getLoopRemote", [](uint16_t p, int* o) { return liuDrv_getLoopRemote(p, o); }, 0,
         0, false},
        {"liuDrv_setLoopAnalog", [](uint16_t p, int*) { return liuDrv_setLoopAnalog(p, 1); }, 0,
         kSentinel, false},
        {"liuDrv_getLoopAnalog", [](uint16_t p, int* o) { return liuDrv_getLoopAnalog(p, o); }, 0,
         0, false},
        {"liuDrv_setLoopDigital", [](uint16_t p, int*) { return liuDrv_setLoopDigital(p, 0); }, 0,
         kSentinel, false},
        {"liuDrv_getLoopDigital", [](uint16_t p, int* o) { return liuDrv_getLoopDigital(p, o); }, 0,
         1, false},
        {"liuDrv_setPowerupTx", [](uint16_t p, int*) { return liuDrv_setPowerupTx(p, 0); }, 0,
         kSentinel, false},
        {"liuDrv_getPowerupTx", [](uint16_t p, int* o) { return liuDrv_getPowerupTx(p, o); }, 0, 1,
         false},
        {"liuDrv_setPowerupRx", [](uint16_t p, int*) { return liuDrv_setPowerupRx(p, 0); }, 0,
         kSentinel, false},
        {"liuDrv_getPowerupRx", [](uint16_t p, int* o) { return liuDrv_getPowerupRx(p, o); }, 0, 1,
         false},
        {"liuDrv_setRefAClock", [](uint16_t p, int*) { return liuDrv_setRefAClock(p); }, 0,
         kSentinel, true},
        {"liuDrv_setRefBClock", [](uint16_t p, int*) { return liuDrv_setRefBClock(p); }, 0,
         kSentinel, true},
    };
}

class PortRange : public BadInput, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(PortRange, RefusesEveryPortFromTheCountOnAndServesTheLastOne) {
    const PortOperation operation = portOperations().at(GetParam());
    for (const uint16_t port : kTriedPorts) {
        SCOPED_TRACE(std::string(operation.name) + " port " + std::to_string(port));
        const RegisterFile before = fresh();
        int out = kSentinel;

        const int rc = operation.call(port, &out);

        const std::vector<Transfer> log = chip().log();
        if (port < kPorts) {
            EXPECT_EQ(rc, operation.acceptedResult);
            EXPECT_EQ(out, operation.acceptedOut);
            EXPECT_FALSE(log.empty());
            for (const Transfer& transfer : log) {
                const bool global = operation.referenceOutput && transfer.reg == 0x07;
                EXPECT_EQ(transfer.channel, global ? 0 : port) << liusim::describe(transfer);
            }
            EXPECT_EQ(hardening::tracesContaining(0, "not matching").size(), 0u);
            continue;
        }
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(out, kSentinel);
        EXPECT_THAT(log, IsEmpty());
        EXPECT_EQ(hardening::registerFile(chip()), before);
        const std::string refusal =
            text("%s: portId=%d not matching, allowed is 0..%d", operation.name, port, kPorts - 1);
        EXPECT_THAT(errorTraces(), ElementsAre(refusal));
        EXPECT_EQ(lastTrace().text, refusal) << "nothing may follow the refusal";
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, PortRange,
                         ::testing::Range<std::size_t>(0, portOperations().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(portOperations().at(info.param).name + 7);
                         });

// ---- Channels of the unguarded operations -----------------------------------

// Register access, the alarm readers and the pulse shape dump take a channel,
// not a port: only its low 4 bits reach the chip, 0xFFFF is the global
// selector and 0xFFFE, the second LIU, is refused with 1 before any transfer.
TEST_F(BadInput, UnguardedOperationsAddressTheChannelOfTheirPortNumber) {
    std::vector<uint16_t> channels = kTriedPorts;
    channels.push_back(LIUDRV_CHANNEL_SECOND);
    for (const uint16_t port : channels) {
        SCOPED_TRACE("port " + std::to_string(port));
        const bool second = port == LIUDRV_CHANNEL_SECOND;
        const unsigned channel = port == LIUDRV_CHANNEL_GLOBAL ? 0u : port & 0x0Fu;
        const auto everyTransferOnChannel = [&] {
            for (const Transfer& transfer : chip().log()) {
                EXPECT_EQ(transfer.channel, channel) << liusim::describe(transfer);
            }
            if (second) {
                EXPECT_THAT(chip().log(), IsEmpty());
                EXPECT_THAT(errorTraces(),
                            ElementsAre(::testing::EndsWith(": only 1 LIU existing!")));
            }
        };

        fresh();
        EXPECT_EQ(liuDrv_write(0x2B, port, 0x3C, 1), second ? 1 : 0);
        everyTransferOnChannel();
        EXPECT_EQ(chip().reg(channel, 0x2B), second ? 0xA9 : 0x3C);

        fresh();
        uint8_t value = 0x77;
        EXPECT_EQ(liuDrv_read(0x24, port, &value), second ? 1 : 0);
        everyTransferOnChannel();
        EXPECT_EQ(value, second ? 0x77 : hardening::patternValue(channel, 0x24));

        fresh();
        chip().setAlarmStatus(channel, 0x91);
        chip().clearLog();
        // A refused read answers with the mask: the indication counts as present.
        EXPECT_EQ(liuDrv_hasLos(port), LIUDRV_STATUS_LOS);
        everyTransferOnChannel();
        liutrace::clear();
        EXPECT_EQ(liuDrv_hasPrbs(port), LIUDRV_STATUS_PRBS);
        chip().setAlarmStatus(channel, 0x00);
        chip().clearLog();
        EXPECT_EQ(liuDrv_hasLos(port), second ? LIUDRV_STATUS_LOS : 0);

        fresh();
        EXPECT_EQ(quietly([port] { return liuDrv_dumpPulseShapeParam(port); }), second ? 1 : 0);
        everyTransferOnChannel();
        EXPECT_EQ(chip().log().size(), second ? 0u : 131u);
    }
    EXPECT_EQ(liuDrv_maxPorts, 8) << "the dump identifies an 8-port LIU";
}

// ---- Codes ------------------------------------------------------------------

struct CodeOperation {
    const char* name;
    std::function<int(int code)> call;
    int first; // range of accepted codes
    int last;
    std::string refusal;                  // error trace format with the code as %d
    std::set<uint8_t> writtenWhenRefused; // registers of port 3 written before the refusal
    std::size_t transfersWhenRefused;
};

constexpr uint16_t kCodePort = 3;

std::vector<CodeOperation> codeOperations() {
    return {
        {"LineType",
         [](int c) { return liuDrv_setLineType(kCodePort, c); },
         1,
         3,
         "liuDrv_pulsMaskConfiguration: unknown lineType: %d",
         {0x22, 0x28, 0x2C},
         5},
        {"LineCode",
         [](int c) { return liuDrv_setLineCode(kCodePort, c); },
         1,
         2,
         "liuDrv_setLineCode: unknown linecode %d",
         {},
         2},
        {"LineBuildOut",
         [](int c) { return liuDrv_setLineBuildOut(kCodePort, c); },
         1,
         4,
         "liuDrv_lboConfiguration: unknown lbo: %d",
         {},
         0},
        {"LineLength",
         [](int c) { return liuDrv_setLineLength(kCodePort, c); },
         1,
         5,
         "liuDrv_lineLenConfiguration: unknown lineLen: %d",
         {},
         0},
        {"HaulType",
         [](int c) { return liuDrv_setHaulType(kCodePort, c); },
         1,
         2,
         "liuDrv_setHaulType unknown haul :%d !",
         {},
         1},
        // The input/output type is refused by the next pulse mask configuration;
        // port 3's mode bit is preset for T1, so E1 clears it first.
        {"InOutTypeE1",
         [](int c) {
             liuDrv_setInOutType(c);
             return liuDrv_setLineType(kCodePort, LIUDRV_LINE_TYPE_E1);
         },
         1,
         2,
         "liuDrv_pulsMaskConfiguration: unknown input/output type:%d",
         {0x20, 0x22, 0x28, 0x2C},
         7},
        {"InOutTypeT1",
         [](int c) {
             liuDrv_setInOutType(c);
             return liuDrv_setLineType(kCodePort, LIUDRV_LINE_TYPE_T1);
         },
         2,
         2,
         "liuDrv_pulsMaskConfiguration: T1/JT1, unsupported input/output type:%d",
         {0x22, 0x28, 0x2C},
         6},
    };
}

// INT_MIN, -1, 0, one below and at each end of the range, one above, INT_MAX.
std::vector<int> triedCodes(int first, int last) {
    std::set<int> codes = {INT_MIN, -1, 0, first - 1, last + 1, INT_MAX};
    for (int code = first; code <= last; ++code) {
        codes.insert(code);
    }
    return {codes.begin(), codes.end()};
}

class CodeRange : public BadInput, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(CodeRange, RefusesEveryCodeOutsideItsRangeWithoutAWrite) {
    const CodeOperation operation = codeOperations().at(GetParam());
    for (const int code : triedCodes(operation.first, operation.last)) {
        SCOPED_TRACE(std::string(operation.name) + " code " + std::to_string(code));
        const RegisterFile before = fresh();

        const int rc = operation.call(code);

        const std::vector<Transfer> log = chip().log();
        if (code >= operation.first && code <= operation.last) {
            EXPECT_EQ(rc, 0);
            EXPECT_THAT(errorTraces(), IsEmpty());
            EXPECT_TRUE(std::any_of(log.begin(), log.end(),
                                    [](const Transfer& t) { return t.access == Access::Write; }));
            continue;
        }
        EXPECT_EQ(rc, -1);
        const std::vector<std::string> errors = errorTraces();
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.front(), text(operation.refusal.c_str(), code));
        EXPECT_EQ(log.size(), operation.transfersWhenRefused);
        RegisterFile expected = before;
        for (const Transfer& transfer : log) {
            EXPECT_EQ(transfer.channel, kCodePort);
            if (transfer.access == Access::Write) {
                EXPECT_EQ(operation.writtenWhenRefused.count(transfer.reg), 1u)
                    << liusim::describe(transfer);
                hardening::applyWrite(expected, transfer);
            }
        }
        EXPECT_EQ(hardening::registerFile(chip()), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, CodeRange,
                         ::testing::Range<std::size_t>(0, codeOperations().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(codeOperations().at(info.param).name);
                         });

// Loopback and power switches take any state: 0 off or down, anything else
// on or up; only their own bit changes.
TEST_F(BadInput, SwitchStatesAreZeroOrAnythingElse) {
    struct Switch {
        const char* name;
        int (*set)(uint16_t, int);
        uint8_t reg;
        uint8_t bit;
        bool bitMeansOff;
    };
    const Switch switches[] = {
        {"remote loop", liuDrv_setLoopRemote, 0x2B, 0x04, false},
        {"analog loop", liuDrv_setLoopAnalog, 0x2B, 0x02, false},
        {"digital loop", liuDrv_setLoopDigital, 0x2B, 0x01, false},
        {"tx power", liuDrv_setPowerupTx, 0x22, 0x10, true},
        {"rx power", liuDrv_setPowerupRx, 0x28, 0x10, true},
    };
    for (const Switch& sw : switches) {
        for (const int state : {INT_MIN, -1, 0, 1, 2, INT_MAX}) {
            SCOPED_TRACE(std::string(sw.name) + " state " + std::to_string(state));
            const RegisterFile before = fresh();

            EXPECT_EQ(sw.set(kCodePort, state), 0);

            const bool on = state != 0;
            const uint8_t old = before[kCodePort][sw.reg];
            const auto wanted =
                static_cast<uint8_t>(on != sw.bitMeansOff ? old | sw.bit : old & ~sw.bit);
            RegisterFile expected = before;
            expected[kCodePort][sw.reg] = wanted;
            EXPECT_EQ(hardening::registerFile(chip()), expected);
            EXPECT_EQ(chip().log().size(), 2u);
        }
    }
}

// ---- Null pointers --------------------------------------------------------------

struct GetOperation {
    const char* name;
    int (*get)(uint16_t, int*);
};

const GetOperation kGetOperations[] = {
    {"liuDrv_getLineType", liuDrv_getLineType},
    {"liuDrv_getLineCode", liuDrv_getLineCode},
    {"liuDrv_getLineBuildOut", liuDrv_getLineBuildOut},
    {"liuDrv_getLineLength", liuDrv_getLineLength},
    {"liuDrv_getHaulType", liuDrv_getHaulType},
    {"liuDrv_getLoopRemote", liuDrv_getLoopRemote},
    {"liuDrv_getLoopAnalog", liuDrv_getLoopAnalog},
    {"liuDrv_getLoopDigital", liuDrv_getLoopDigital},
    {"liuDrv_getPowerupTx", liuDrv_getPowerupTx},
    {"liuDrv_getPowerupRx", liuDrv_getPowerupRx},
};

// A null out-pointer is refused after the entry trace and the port guard,
// before any register access.
TEST_F(BadInput, NullOutPointersAreRefusedBeforeAnyTransfer) {
    for (const GetOperation& operation : kGetOperations) {
        SCOPED_TRACE(operation.name);
        fresh();
        EXPECT_EQ(operation.get(kPorts - 1, nullptr), -1);
        EXPECT_THAT(chip().log(), IsEmpty());
        EXPECT_THAT(errorTraces(),
                    ElementsAre(std::string(operation.name) + ": null pointer argument!"));
        EXPECT_EQ(lastTrace().text, std::string(operation.name) + ": null pointer argument!");

        // The port guard comes first.
        fresh();
        EXPECT_EQ(operation.get(kPorts, nullptr), -1);
        EXPECT_THAT(errorTraces(), ElementsAre(text("%s: portId=%d not matching, allowed is 0..%d",
                                                    operation.name, kPorts, kPorts - 1)));
    }

    for (const uint16_t channel :
         {uint16_t{3}, uint16_t{LIUDRV_CHANNEL_GLOBAL}, uint16_t{LIUDRV_CHANNEL_SECOND}}) {
        SCOPED_TRACE("liuDrv_read channel " + std::to_string(channel));
        fresh();
        EXPECT_EQ(liuDrv_read(0x2B, channel, nullptr), -1);
        EXPECT_THAT(chip().log(), IsEmpty());
        EXPECT_THAT(errorTraces(), ElementsAre("liuDrv_read: null pointer argument!"));
    }
}

// A null alarm buffer is no error: the poll runs, its changes are traced and
// kept, nothing is copied.
TEST_F(BadInput, NullAlarmBufferPollsWithoutCopying) {
    chip().setAlarmStatus(2, LIUDRV_STATUS_LOS);
    chip().clearLog();

    EXPECT_EQ(liuDrv_alarmHandler(nullptr), 0);

    EXPECT_EQ(chip().log().size(), 48u);
    EXPECT_THAT(tracesWithFormat("======== LIU[%d] %s %s ========"), ::testing::SizeIs(1));
    int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    std::fill(&table[0][0], &table[0][0] + LIUDRV_ALARM_PORTS * LIUDRV_ALARM_ENTRIES, kSentinel);
    EXPECT_EQ(liuDrv_alarmHandler(table), 0);
    EXPECT_EQ(table[2][LIUDRV_EVENT_LOS], LIUDRV_ALARM_ACTIVE);
    EXPECT_EQ(table[2][LIUDRV_EVENT_AIS], LIUDRV_ALARM_INITIAL);
}

} // namespace
