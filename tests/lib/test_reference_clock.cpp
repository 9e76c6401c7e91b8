// SPDX-License-Identifier: MIT
// Reference clock outputs A and B: the chosen port's register 0x3E gets 0x01,
// its number goes into the output's 3-bit field of global register 0x07
// (A bits 2-0, B bits 5-3, bits 7-6 cleared), and both registers are read
// back and traced.
#include "PortTest.h"

#include <string>
#include <vector>

using namespace porttest;

namespace {

constexpr std::uint8_t kRefOut = 0x07;
constexpr std::uint8_t kRefClock = 0x3E;

struct Output {
    const char* name;
    int (*set)(std::uint16_t);
    const char* operation;
};

const Output kA{"A", liuDrv_setRefAClock, "liuDrv_setRefAClock"};
const Output kB{"B", liuDrv_setRefBClock, "liuDrv_setRefBClock"};

void PrintTo(const Output& output, std::ostream* out) {
    *out << output.name;
}

std::string hexDigits(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

TraceLine refout(const Output& output, unsigned port, unsigned value) {
    return Call(std::string(output.operation) + ": port " + std::to_string(port) + " -- refout " +
                hexDigits(value));
}
TraceLine refc(const Output& output, unsigned port, unsigned value) {
    return Call(std::string(output.operation) + ": port " + std::to_string(port) + " -- refc   " +
                hexDigits(value));
}

// The five transfers of a successful selection.
std::vector<std::string> selection(unsigned port, std::uint8_t before, std::uint8_t after) {
    return {W(static_cast<int>(port), kRefClock, 0x01), R(kGlobal, kRefOut, before),
            W(kGlobal, kRefOut, after), R(kGlobal, kRefOut, after),
            R(static_cast<int>(port), kRefClock, 0x01)};
}

class ReferenceClockTest : public PortTest {};

// ---- Field arithmetic and the five transfers ------------------------------------

struct Selection {
    const Output* output;
    std::uint8_t before;
    unsigned port;
    std::uint8_t after;
};

void PrintTo(const Selection& s, std::ostream* out) {
    *out << s.output->name << " port " << s.port << " on " << hex(s.before) << " -> "
         << hex(s.after);
}

class ReferenceClockSelection : public PortTest, public ::testing::WithParamInterface<Selection> {};

TEST_P(ReferenceClockSelection, EntersThePortAndReadsBothRegistersBack) {
    const Selection& s = GetParam();
    startLibrary();
    chip().setReg(0, kRefOut, s.before);

    EXPECT_EQ(s.output->set(static_cast<std::uint16_t>(s.port)), 0);

    EXPECT_EQ(transfers(), selection(s.port, s.before, s.after));
    EXPECT_EQ(chip().reg(0, kRefOut), s.after);
    EXPECT_EQ(chip().reg(s.port, kRefClock), 0x01);
    // No entry trace: the register writes and the two read-back lines only.
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Wrote(kRefClock, 0x01),
                                Wrote(kRefOut, s.after),
                                refout(*s.output, s.port, s.after),
                                refc(*s.output, s.port, 0x01),
                            }));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ReferenceClockSelection,
    ::testing::Values(Selection{&kA, 0xFF, 5, 0x3D}, Selection{&kB, 0x3D, 2, 0x15},
                      Selection{&kA, 0xFF, 0, 0x38}, Selection{&kA, 0x00, 7, 0x07},
                      Selection{&kA, 0xC7, 3, 0x03}, Selection{&kB, 0xFF, 3, 0x1F},
                      Selection{&kB, 0xFF, 0, 0x07}, Selection{&kB, 0x00, 7, 0x38},
                      Selection{&kB, 0xF8, 1, 0x08}));

TEST_F(ReferenceClockTest, AThenBKeepTheOtherField) {
    startLibrary();
    chip().setReg(0, kRefOut, 0xFF);

    ASSERT_EQ(liuDrv_setRefAClock(5), 0);
    ASSERT_EQ(liuDrv_setRefBClock(2), 0);

    std::vector<std::string> expected = selection(5, 0xFF, 0x3D);
    const auto second = selection(2, 0x3D, 0x15);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(transfers(), expected);
    EXPECT_EQ(chip().reg(0, kRefOut), 0x15);
}

TEST_F(ReferenceClockTest, TraceFormats) {
    startLibrary();
    ASSERT_EQ(liuDrv_setRefBClock(3), 0);

    const auto output = tracesWithFormat("%s: port %d -- refout %x");
    const auto clock = tracesWithFormat("%s: port %d -- refc   %x");
    ASSERT_EQ(output.size(), 1u);
    ASSERT_EQ(clock.size(), 1u);
    EXPECT_EQ(output[0].text, "liuDrv_setRefBClock: port 3 -- refout 18");
    EXPECT_EQ(clock[0].text, "liuDrv_setRefBClock: port 3 -- refc   1");
    EXPECT_EQ(chip().reg(0, kRefOut), 0x18);
}

TEST_F(ReferenceClockTest, SamePortOnBothOutputs) {
    startLibrary();
    EXPECT_EQ(liuDrv_setRefAClock(6), 0);
    EXPECT_EQ(liuDrv_setRefBClock(6), 0);
    EXPECT_EQ(chip().reg(0, kRefOut), 0x36);
    EXPECT_EQ(chip().reg(6, kRefClock), 0x01);
}

TEST_F(ReferenceClockTest, NewPortLeavesTheOldPortsRegister) {
    startLibrary();
    ASSERT_EQ(liuDrv_setRefAClock(1), 0);
    forget();

    ASSERT_EQ(liuDrv_setRefAClock(4), 0);

    EXPECT_EQ(transfers(), selection(4, 0x01, 0x04));
    EXPECT_EQ(chip().reg(1, kRefClock), 0x01);
    EXPECT_EQ(chip().reg(4, kRefClock), 0x01);
    EXPECT_EQ(chip().reg(0, kRefOut) & 0x07, 4);
}

TEST_F(ReferenceClockTest, StartUpSelectsNothing) {
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
    for (const liusim::Transfer& transfer : chip().log()) {
        EXPECT_TRUE(transfer.reg != kRefClock &&
                    !(transfer.channel == 0 && transfer.reg == kRefOut))
            << transfer;
    }
}

// ---- Refusals --------------------------------------------------------------------

class ReferenceClockRefusal : public PortTest, public ::testing::WithParamInterface<Output> {};

TEST_P(ReferenceClockRefusal, PortEqualToPortCountGetsOnlyTheGuardTrace) {
    startLibrary(4);
    EXPECT_EQ(GetParam().set(4), -1);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{PortRefused(GetParam().operation, 4, 3)}));
    forget();
    EXPECT_EQ(GetParam().set(3), 0);
}

TEST_P(ReferenceClockRefusal, PortsAboveSevenAreRefusedWithSixteenPorts) {
    startLibrary(16);
    for (unsigned port : {8u, 9u, 15u, 16u, 0xFFFFu}) {
        SCOPED_TRACE(port);
        forget();
        EXPECT_EQ(GetParam().set(static_cast<std::uint16_t>(port)), -1);
        EXPECT_TRUE(transfers().empty());
        EXPECT_EQ(traceLines(),
                  (std::vector<TraceLine>{PortRefused(GetParam().operation, port, 7)}));
    }
    forget();
    EXPECT_EQ(GetParam().set(7), 0);
    EXPECT_EQ(transfers().size(), 5u);
}

TEST_P(ReferenceClockRefusal, RefusedBeforeStartUp) {
    liuDrv_getPiu(8);
    forget();
    EXPECT_EQ(GetParam().set(2), -1);
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{NotInited(GetParam().operation)}));
}

INSTANTIATE_TEST_SUITE_P(Outputs, ReferenceClockRefusal, ::testing::Values(kA, kB),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A failed transfer at each of the five positions ---------------------------
// Output A, port 5, global register 0x07 holding 0xFF: the new value is 0x3D.

struct Failure {
    const char* name;
    std::uint64_t position;
    std::vector<std::string> expectedTransfers;
    std::vector<TraceLine> expectedTraces;
    std::uint8_t refOutAfter;
    std::uint8_t refClockAfter;
};

void PrintTo(const Failure& f, std::ostream* out) {
    *out << f.name;
}

class ReferenceClockFailure : public PortTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(ReferenceClockFailure, ResultAndWhatHappensAfter) {
    const Failure& f = GetParam();
    startLibrary();
    chip().setReg(0, kRefOut, 0xFF);
    chip().failTransfer(f.position);

    EXPECT_EQ(liuDrv_setRefAClock(5), 1);

    EXPECT_EQ(transfers(), f.expectedTransfers);
    EXPECT_EQ(traceLines(), f.expectedTraces);
    EXPECT_EQ(chip().reg(0, kRefOut), f.refOutAfter);
    EXPECT_EQ(chip().reg(5, kRefClock), f.refClockAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, ReferenceClockFailure,
    ::testing::Values(
        // Before the global register is written: stop at once.
        Failure{"WritePortRegister", 1, {WFailed(5, kRefClock, 0x01)}, {WriteFailed()}, 0xFF, 0x00},
        Failure{"ReadGlobal",
                2,
                {W(5, kRefClock, 0x01), RFailed(kGlobal, kRefOut)},
                {Wrote(kRefClock, 0x01), ReadFailed()},
                0xFF,
                0x01},
        // From the global write on: every transfer and both traces; a failed
        // read-back leaves the previous value in the trace.
        Failure{"WriteGlobal",
                3,
                {W(5, kRefClock, 0x01), R(kGlobal, kRefOut, 0xFF), WFailed(kGlobal, kRefOut, 0x3D),
                 R(kGlobal, kRefOut, 0xFF), R(5, kRefClock, 0x01)},
                {Wrote(kRefClock, 0x01), WriteFailed(), refout(kA, 5, 0xFF), refc(kA, 5, 0x01)},
                0xFF,
                0x01},
        Failure{"ReadBackGlobal",
                4,
                {W(5, kRefClock, 0x01), R(kGlobal, kRefOut, 0xFF), W(kGlobal, kRefOut, 0x3D),
                 RFailed(kGlobal, kRefOut), R(5, kRefClock, 0x01)},
                {Wrote(kRefClock, 0x01), Wrote(kRefOut, 0x3D), ReadFailed(), refout(kA, 5, 0x3D),
                 refc(kA, 5, 0x01)},
                0x3D,
                0x01},
        Failure{"ReadBackPortRegister",
                5,
                {W(5, kRefClock, 0x01), R(kGlobal, kRefOut, 0xFF), W(kGlobal, kRefOut, 0x3D),
                 R(kGlobal, kRefOut, 0x3D), RFailed(5, kRefClock)},
                {Wrote(kRefClock, 0x01), Wrote(kRefOut, 0x3D), refout(kA, 5, 0x3D), ReadFailed(),
                 refc(kA, 5, 0x3D)},
                0x3D,
                0x01}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
