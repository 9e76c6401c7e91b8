// SPDX-License-Identifier: MIT
// Failure sweep: every exported operation that touches the chip, failed at
// every register transfer it makes.
//
// For each operation of the table below the sweep presets the chip, runs the
// operation once cleanly and records its N transfers, then for k = 1..N
// presets the chip again, fails transfer k and checks what a caller and the
// chip would notice:
//  - the result: 1, or -1 where a failed waveform read-out is reported as a
//    refusal (line type, line build-out, line length, and haul 2 during its
//    line type read), or the alarm reader's own answer;
//  - the transfers: the clean run's first k, the k-th failed, and none after
//    it, except where the operation goes on by design (the reference clock
//    steps after the read of global register 0x07; the alarm poll);
//  - the registers: what was written before transfer k stays written, no
//    later write happened, nothing else changed; waveform samples untouched;
//  - exactly one "SPI read failure!" trace, from the failed access;
//  - out-parameters untouched (preset to a sentinel).
//
// The library initialises once per process, so the sweep re-presets the chip
// between positions instead of starting the library again; each operation
// runs in its own process.  Start-up itself is swept in
// test_startup_sweep.cpp.
#include "ChipState.h"
#include "LiuDrvInternal.h"
#include "LiuSimTest.h"
#include "TransferText.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using hardening::RegisterFile;
using liusim::Access;
using liusim::Transfer;

constexpr int32_t kSentinel = 0x5A5AA5A5;

// Out-parameters of an operation: the alarm state table, or its first entry
// for operations that hand back one integer (or one byte).
struct Out {
    int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];

    void fill() {
        std::fill(&table[0][0], &table[0][0] + sizeof table / sizeof(int32_t), kSentinel);
    }
    int32_t* value() { return &table[0][0]; }
    bool untouched() const {
        return std::all_of(&table[0][0], &table[0][0] + sizeof table / sizeof(int32_t),
                           [](int32_t entry) { return entry == kSentinel; });
    }
};

using hardening::quietly;

// Reads a register through liuDrv_read with the out byte preset from the
// sentinel, and hands the byte back in the out-parameter.
int readInto(uint8_t reg, uint16_t channel, Out& out) {
    auto byte = static_cast<uint8_t>(kSentinel);
    const int rc = liuDrv_read(reg, channel, &byte);
    if (byte != static_cast<uint8_t>(kSentinel)) {
        *out.value() = byte;
    }
    return rc;
}

using OutCheck = std::function<void(std::size_t k, const Out&)>;

struct Operation {
    const char* name;
    std::function<int(Out&)> call;
    int failResult;
    // A failed transfer of a waveform read-out (registers 0x25/0x26) gives -1.
    bool readoutFailsWithRefusal;
    // From this failure position on, every transfer of the clean run still
    // happens (0: the operation stops at the failed transfer).
    std::size_t continuesFrom;
    // Checks the out-parameters after a failure at position k; default: untouched.
    OutCheck checkOut;
};

Operation op(const char* name, std::function<int(Out&)> call, int failResult = 1,
             bool readoutFailsWithRefusal = false, std::size_t continuesFrom = 0,
             OutCheck checkOut = {}) {
    return {name,          std::move(call),    failResult, readoutFailsWithRefusal,
            continuesFrom, std::move(checkOut)};
}

// Alarm poll with every indication absent: the failed read of position k
// reads as present, so its entry becomes active, the one failed at the
// previous position goes inactive, entries not yet reached stay initial.
void checkAlarmTableAfterFailure(std::size_t k, const Out& out) {
    constexpr int events = LIUDRV_ALARM_ENTRIES - 1;
    for (int port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
        EXPECT_EQ(out.table[port][0], LIUDRV_ALARM_INITIAL) << "entry 0 of port " << port;
        for (int event = 1; event <= events; ++event) {
            const std::size_t position = static_cast<std::size_t>(port * events + event);
            int expected = LIUDRV_ALARM_INITIAL;
            if (port < 8 && position < k) {
                expected = LIUDRV_ALARM_INACTIVE;
            } else if (port < 8 && position == k) {
                expected = LIUDRV_ALARM_ACTIVE;
            }
            EXPECT_EQ(out.table[port][event], expected) << "port " << port << " event " << event;
        }
    }
}

std::vector<Operation> operations() {
    return {
        op("isLiuConnected", [](Out&) { return liuDrv_isLiuConnected(); }),
        op("writePort", [](Out&) { return liuDrv_write(0x2B, 3, 0x5C, 1); }),
        op("writeGlobal", [](Out&) { return liuDrv_write(0x07, LIUDRV_CHANNEL_GLOBAL, 0x11, 0); }),
        op("read", [](Out& out) { return readInto(0x24, 5, out); }),
        // The mode bit is preset set on odd channels: every line type rewrites it.
        op("setLineTypeE1", [](Out&) { return liuDrv_setLineType(1, LIUDRV_LINE_TYPE_E1); }),
        op("setLineTypeT1", [](Out&) { return liuDrv_setLineType(2, LIUDRV_LINE_TYPE_T1); }),
        op("setLineTypeJT1", [](Out&) { return liuDrv_setLineType(6, LIUDRV_LINE_TYPE_JT1); }),
        op(
            "getLineType", [](Out& out) { return liuDrv_getLineType(2, out.value()); }, -1, true),
        op("dumpPulseShapeParam",
           [](Out&) { return quietly([] { return liuDrv_dumpPulseShapeParam(6); }); }),
        op("setLineCode", [](Out&) { return liuDrv_setLineCode(4, LIUDRV_LINE_CODE_1); }),
        op("getLineCode", [](Out& out) { return liuDrv_getLineCode(4, out.value()); }),
        op("setLineBuildOut", [](Out&) { return liuDrv_setLineBuildOut(5, 3); }),
        op(
            "getLineBuildOut", [](Out& out) { return liuDrv_getLineBuildOut(5, out.value()); }, -1,
            true),
        op("setLineLength", [](Out&) { return liuDrv_setLineLength(1, 5); }),
        op(
            "getLineLength", [](Out& out) { return liuDrv_getLineLength(1, out.value()); }, -1,
            true),
        op("setHaulType1", [](Out&) { return liuDrv_setHaulType(6, LIUDRV_HAUL_1); }),
        op(
            "setHaulType2", [](Out&) { return liuDrv_setHaulType(2, LIUDRV_HAUL_2); }, 1, true),
        op("getHaulType", [](Out& out) { return liuDrv_getHaulType(7, out.value()); }),
        op("setLoopRemote", [](Out&) { return liuDrv_setLoopRemote(0, 1); }),
        op("getLoopRemote", [](Out& out) { return liuDrv_getLoopRemote(0, out.value()); }),
        op("setLoopAnalog", [](Out&) { return liuDrv_setLoopAnalog(3, 7); }),
        op("getLoopAnalog", [](Out& out) { return liuDrv_getLoopAnalog(3, out.value()); }),
        op("setLoopDigital", [](Out&) { return liuDrv_setLoopDigital(7, 0); }),
        op("getLoopDigital", [](Out& out) { return liuDrv_getLoopDigital(7, out.value()); }),
        op("setPowerupTx", [](Out&) { return liuDrv_setPowerupTx(1, 1); }),
        op("getPowerupTx", [](Out& out) { return liuDrv_getPowerupTx(1, out.value()); }),
        op("setPowerupRx", [](Out&) { return liuDrv_setPowerupRx(2, -1); }),
        op("getPowerupRx", [](Out& out) { return liuDrv_getPowerupRx(2, out.value()); }),
        op(
            "setRefAClock", [](Out&) { return liuDrv_setRefAClock(5); }, 1, false, 3),
        op(
            "setRefBClock", [](Out&) { return liuDrv_setRefBClock(2); }, 1, false, 3),
        op(
            "hasLos", [](Out&) { return liuDrv_hasLos(3); }, LIUDRV_STATUS_LOS),
        op(
            "hasPrbs", [](Out&) { return liuDrv_hasPrbs(7); }, LIUDRV_STATUS_PRBS),
        op(
            "alarmHandler", [](Out& out) { return liuDrv_alarmHandler(out.table); }, 0, false, 1,
            checkAlarmTableAfterFailure),
    };
}

class FailureSweep : public LiuSimTest, public ::testing::WithParamInterface<std::size_t> {
  protected:
    void SetUp() override {
        LiuSimTest::SetUp();
        ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
    }

    // Fresh chip contents, empty log and trace record, no fault pending.
    RegisterFile preset() {
        chip().clearFaults();
        hardening::presetBusyChip(chip());
        chip().clearLog();
        liutrace::clear();
        return hardening::registerFile(chip());
    }
};

TEST_P(FailureSweep, EveryTransferPositionFailsCleanly) {
    const Operation operation = operations().at(GetParam());
    Out out{};

    const RegisterFile before = preset();
    const hardening::Samples samplesBefore = hardening::samples(chip());
    out.fill();
    const int cleanResult = operation.call(out);
    const std::vector<Transfer> clean = chip().log();
    const std::size_t n = clean.size();
    ASSERT_GT(n, 0u) << operation.name << " made no transfer";
    ASSERT_TRUE(std::all_of(clean.begin(), clean.end(), [](const Transfer& t) { return t.ok; }));
    ASSERT_TRUE(hardening::tracesContaining(0, "SPI read failure!").empty());
    RecordProperty("transfers", static_cast<int>(n));
    RecordProperty("cleanResult", cleanResult);

    for (std::size_t k = 1; k <= n; ++k) {
        SCOPED_TRACE(std::string(operation.name) + ": transfer " + std::to_string(k) + " of " +
                     std::to_string(n) + " fails (" + liusim::describe(clean[k - 1]) + ")");
        EXPECT_EQ(preset(), before);
        chip().failTransfer(k);
        out.fill();

        const int rc = operation.call(out);

        const bool continues = operation.continuesFrom != 0 && k >= operation.continuesFrom;
        const int expectedResult =
            operation.readoutFailsWithRefusal && hardening::isReadout(clean[k - 1])
                ? -1
                : operation.failResult;
        EXPECT_EQ(rc, expectedResult);

        const std::vector<Transfer> log = chip().log();
        ASSERT_EQ(log.size(), continues ? n : k);
        RegisterFile expected = before;
        for (std::size_t i = 0; i < log.size(); ++i) {
            hardening::expectSameTransfer(log[i], clean[i], i + 1);
            EXPECT_EQ(log[i].ok, i + 1 != k) << "transfer " << i + 1;
            if (i + 1 != k) {
                hardening::applyWrite(expected, clean[i]);
            }
        }
        const RegisterFile after = hardening::registerFile(chip());
        EXPECT_EQ(after, expected) << hardening::registerDifferences(after, expected);
        EXPECT_EQ(hardening::samples(chip()), samplesBefore);

        const auto failures = hardening::tracesContaining(0, "SPI read failure!");
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].text, clean[k - 1].access == Access::Write
                                        ? "liuDrv_write: SPI read failure!"
                                        : "liuDrv_read: SPI read failure!");
        EXPECT_EQ(failures[0].level, LIUDRV_TRACE_LEVEL_ERROR);

        if (operation.checkOut) {
            operation.checkOut(k, out);
        } else {
            EXPECT_TRUE(out.untouched()) << "out-parameter written: " << out.table[0][0];
        }
        if (HasFatalFailure()) {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, FailureSweep,
                         ::testing::Range<std::size_t>(0, operations().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(operations().at(info.param).name);
                         });

} // namespace
