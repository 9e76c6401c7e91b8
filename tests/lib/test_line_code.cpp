// SPDX-License-Identifier: MIT
// Line code of a port: the two-bit line code fields of the transmit register
// 0x22 (tcf0) and the receive register 0x28 (rcf0), set together by
// read-modify-write and read back only when both sides agree.
#include "PortTest.h"

#include <string>
#include <vector>

using namespace porttest;

namespace {

constexpr std::uint8_t kTcf0 = 0x22;
constexpr std::uint8_t kRcf0 = 0x28;
constexpr unsigned kPort = 3;

class LineCodeTest : public PortTest {
  protected:
    // Presets both registers of kPort after start-up.
    void preset(std::uint8_t tcf0, std::uint8_t rcf0) {
        chip().setReg(kPort, kTcf0, tcf0);
        chip().setReg(kPort, kRcf0, rcf0);
    }
};

// ---- Set: read-modify-write ------------------------------------------------

struct SetCase {
    int lineCode;
    std::uint8_t tcf0Written;
    std::uint8_t rcf0Written;
};

void PrintTo(const SetCase& c, std::ostream* out) {
    *out << "line code " << c.lineCode;
}

class LineCodeSet : public LineCodeTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(LineCodeSet, RewritesOnlyTheLineCodeFieldsReceiveSideFirst) {
    const SetCase c = GetParam();
    startLibrary();
    preset(0xFF, 0xFE);

    EXPECT_EQ(liuDrv_setLineCode(kPort, c.lineCode), 0);

    EXPECT_EQ(transfers(), (std::vector<std::string>{
                               R(kPort, kRcf0, 0xFE),
                               R(kPort, kTcf0, 0xFF),
                               W(kPort, kRcf0, c.rcf0Written),
                               W(kPort, kTcf0, c.tcf0Written),
                           }));
    EXPECT_EQ(chip().reg(kPort, kTcf0), c.tcf0Written);
    EXPECT_EQ(chip().reg(kPort, kRcf0), c.rcf0Written);
    EXPECT_EQ(traceLines(),
              (std::vector<TraceLine>{
                  Call("liuDrv_setLineCode(port=3 lineCode=" + std::to_string(c.lineCode) + ")"),
                  Wrote(kRcf0, c.rcf0Written),
                  Wrote(kTcf0, c.tcf0Written),
              }));
}

INSTANTIATE_TEST_SUITE_P(Codes, LineCodeSet,
                         ::testing::Values(SetCase{2, 0xFD, 0xFD}, SetCase{1, 0xFC, 0xFC}));

class LineCodeRefused : public LineCodeTest, public ::testing::WithParamInterface<int> {};

TEST_P(LineCodeRefused, AfterBothReadsWithNothingWritten) {
    startLibrary();
    preset(0xFF, 0xFE);

    EXPECT_EQ(liuDrv_setLineCode(kPort, GetParam()), -1);

    EXPECT_EQ(transfers(),
              (std::vector<std::string>{R(kPort, kRcf0, 0xFE), R(kPort, kTcf0, 0xFF)}));
    EXPECT_EQ(chip().reg(kPort, kTcf0), 0xFF);
    EXPECT_EQ(chip().reg(kPort, kRcf0), 0xFE);
    const std::string code = std::to_string(GetParam());
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Call("liuDrv_setLineCode(port=3 lineCode=" + code + ")"),
                                Error("liuDrv_setLineCode: unknown linecode " + code),
                            }));
}

INSTANTIATE_TEST_SUITE_P(Codes, LineCodeRefused, ::testing::Values(0, 3, -1));

// ---- Set: a failed transfer at each position -------------------------------

struct SetFailure {
    const char* name;
    std::uint64_t failingTransfer;
    std::vector<std::string> expectedTransfers;
    TraceLine failureTrace;
    std::uint8_t tcf0After;
    std::uint8_t rcf0After;
};

void PrintTo(const SetFailure& c, std::ostream* out) {
    *out << c.name;
}

class LineCodeSetFailure : public LineCodeTest, public ::testing::WithParamInterface<SetFailure> {};

TEST_P(LineCodeSetFailure, StopsThereKeepingWhatWasWritten) {
    const SetFailure& c = GetParam();
    startLibrary();
    preset(0xFF, 0xFE);
    chip().failTransfer(c.failingTransfer);

    EXPECT_EQ(liuDrv_setLineCode(kPort, 2), 1);

    EXPECT_EQ(transfers(), c.expectedTransfers);
    EXPECT_EQ(chip().reg(kPort, kTcf0), c.tcf0After);
    EXPECT_EQ(chip().reg(kPort, kRcf0), c.rcf0After);
    std::vector<TraceLine> expected{Call("liuDrv_setLineCode(port=3 lineCode=2)")};
    if (c.failingTransfer == 4) {
        expected.push_back(Wrote(kRcf0, 0xFD));
    }
    expected.push_back(c.failureTrace);
    EXPECT_EQ(traceLines(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, LineCodeSetFailure,
    ::testing::Values(SetFailure{"ReadRcf0", 1, {RFailed(kPort, kRcf0)}, ReadFailed(), 0xFF, 0xFE},
                      SetFailure{"ReadTcf0",
                                 2,
                                 {R(kPort, kRcf0, 0xFE), RFailed(kPort, kTcf0)},
                                 ReadFailed(),
                                 0xFF,
                                 0xFE},
                      SetFailure{"WriteRcf0",
                                 3,
                                 {R(kPort, kRcf0, 0xFE), R(kPort, kTcf0, 0xFF),
                                  WFailed(kPort, kRcf0, 0xFD)},
                                 WriteFailed(),
                                 0xFF,
                                 0xFE},
                      SetFailure{"WriteTcf0",
                                 4,
                                 {R(kPort, kRcf0, 0xFE), R(kPort, kTcf0, 0xFF),
                                  W(kPort, kRcf0, 0xFD), WFailed(kPort, kTcf0, 0xFD)},
                                 WriteFailed(),
                                 0xFF,
                                 0xFD}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LineCodeTest, FailedTransmitWriteLeavesTheSidesDisagreeingUntilSetAgain) {
    startLibrary();
    ASSERT_EQ(liuDrv_setLineCode(kPort, 1), 0);
    chip().failTransfer(4);
    ASSERT_EQ(liuDrv_setLineCode(kPort, 2), 1);
    forget();

    int lineCode = kUntouched;
    EXPECT_EQ(liuDrv_getLineCode(kPort, &lineCode), -1);
    EXPECT_EQ(lineCode, kUntouched);
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Detail("liuDrv_getLineCode(port=3, ...)"),
                                Error("liuDrv_getLineCode: line code unknown, tcf0Val 0 rcf0Val 1"),
                            }));

    ASSERT_EQ(liuDrv_setLineCode(kPort, 2), 0);
    EXPECT_EQ(liuDrv_getLineCode(kPort, &lineCode), 0);
    EXPECT_EQ(lineCode, 2);
}

// ---- Get --------------------------------------------------------------------

struct GetCase {
    std::uint8_t tcf0;
    std::uint8_t rcf0;
    int result;
    int lineCode; // stored on success; kUntouched otherwise
    TraceLine last;
};

void PrintTo(const GetCase& c, std::ostream* out) {
    *out << "tcf0 " << hex(c.tcf0) << " rcf0 " << hex(c.rcf0);
}

class LineCodeGet : public LineCodeTest, public ::testing::WithParamInterface<GetCase> {};

TEST_P(LineCodeGet, DecodesBothFieldsOrRefusesWithTheirValues) {
    const GetCase& c = GetParam();
    startLibrary();
    preset(c.tcf0, c.rcf0);

    int lineCode = kUntouched;
    EXPECT_EQ(liuDrv_getLineCode(kPort, &lineCode), c.result);

    EXPECT_EQ(lineCode, c.lineCode);
    EXPECT_EQ(transfers(),
              (std::vector<std::string>{R(kPort, kRcf0, c.rcf0), R(kPort, kTcf0, c.tcf0)}));
    EXPECT_EQ(traceLines(),
              (std::vector<TraceLine>{Detail("liuDrv_getLineCode(port=3, ...)"), c.last}));
}

TraceLine unknownCode(int tcf0Field, int rcf0Field) {
    return Error("liuDrv_getLineCode: line code unknown, tcf0Val " + std::to_string(tcf0Field) +
                 " rcf0Val " + std::to_string(rcf0Field));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, LineCodeGet,
    ::testing::Values(
        // Other bits of both registers do not matter.
        GetCase{0xFC, 0x10, 0, 1, Detail("liuDrv_getLineCode returns lineCode=1")},
        GetCase{0x00, 0xFC, 0, 1, Detail("liuDrv_getLineCode returns lineCode=1")},
        GetCase{0xFD, 0x05, 0, 2, Detail("liuDrv_getLineCode returns lineCode=2")},
        GetCase{0x01, 0x01, 0, 2, Detail("liuDrv_getLineCode returns lineCode=2")},
        GetCase{0x01, 0x00, -1, kUntouched, unknownCode(1, 0)},
        GetCase{0x10, 0x15, -1, kUntouched, unknownCode(0, 1)},
        GetCase{0xFF, 0x03, -1, kUntouched, unknownCode(3, 3)},
        GetCase{0x02, 0x02, -1, kUntouched, unknownCode(2, 2)},
        GetCase{0x02, 0x01, -1, kUntouched, unknownCode(2, 1)},
        GetCase{0x00, 0x03, -1, kUntouched, unknownCode(0, 3)}));

class LineCodeGetReadFailure : public LineCodeTest,
                               public ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(LineCodeGetReadFailure, LeavesTheResultAlone) {
    startLibrary();
    chip().failTransfer(GetParam());

    int lineCode = kUntouched;
    EXPECT_EQ(liuDrv_getLineCode(kPort, &lineCode), 1);

    EXPECT_EQ(lineCode, kUntouched);
    EXPECT_EQ(transfers().size(), GetParam());
    EXPECT_EQ(traceLines(),
              (std::vector<TraceLine>{Detail("liuDrv_getLineCode(port=3, ...)"), ReadFailed()}));
}

// 1: the read of 0x28, 2: the read of 0x22.
INSTANTIATE_TEST_SUITE_P(Positions, LineCodeGetReadFailure, ::testing::Values(1u, 2u));

// ---- Round trips and state after start-up ----------------------------------

TEST_F(LineCodeTest, EveryPortHasLineCode1AfterStartUp) {
    startLibrary();
    for (unsigned port = 0; port < 8; ++port) {
        int lineCode = kUntouched;
        EXPECT_EQ(liuDrv_getLineCode(static_cast<std::uint16_t>(port), &lineCode), 0) << port;
        EXPECT_EQ(lineCode, 1) << port;
    }
}

TEST_F(LineCodeTest, SetThenGetGivesTheSameCodeAndKeepsOtherBits) {
    startLibrary();
    preset(0xB4, 0x6C);
    for (int code : {2, 1, 2, 2, 1}) {
        ASSERT_EQ(liuDrv_setLineCode(kPort, code), 0);
        int read = kUntouched;
        EXPECT_EQ(liuDrv_getLineCode(kPort, &read), 0);
        EXPECT_EQ(read, code);
        EXPECT_EQ(chip().reg(kPort, kTcf0) & 0xFC, 0xB4);
        EXPECT_EQ(chip().reg(kPort, kRcf0) & 0xFC, 0x6C);
    }
    // Only the port's own channel was touched.
    EXPECT_EQ(chip().reg(2, kTcf0), 0x10);
    EXPECT_EQ(chip().reg(4, kRcf0), 0x14);
}

TEST_F(LineCodeTest, LineTypeConfigurationBringsLineCode1Back) {
    startLibrary();
    ASSERT_EQ(liuDrv_setLineCode(kPort, 2), 0);
    ASSERT_EQ(liuDrv_setLineType(kPort, LIUDRV_LINE_TYPE_T1), 0);
    int lineCode = kUntouched;
    EXPECT_EQ(liuDrv_getLineCode(kPort, &lineCode), 0);
    EXPECT_EQ(lineCode, 1);
}

// ---- Refusals ----------------------------------------------------------------

TEST_F(LineCodeTest, PortEqualToPortCountIsRefusedWithoutAccess) {
    startLibrary(4);

    EXPECT_EQ(liuDrv_setLineCode(4, 2), -1);
    int lineCode = kUntouched;
    EXPECT_EQ(liuDrv_getLineCode(4, &lineCode), -1);

    EXPECT_EQ(lineCode, kUntouched);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Call("liuDrv_setLineCode(port=4 lineCode=2)"),
                                PortRefused("liuDrv_setLineCode", 4, 3),
                                Detail("liuDrv_getLineCode(port=4, ...)"),
                                PortRefused("liuDrv_getLineCode", 4, 3),
                            }));
    forget();
    EXPECT_EQ(liuDrv_setLineCode(3, 2), 0);
    EXPECT_EQ(liuDrv_getLineCode(3, &lineCode), 0);
    EXPECT_EQ(lineCode, 2);
}

TEST_F(LineCodeTest, RefusedBeforeStartUp) {
    EXPECT_EQ(liuDrv_setLineCode(0, 1), -1);
    int lineCode = kUntouched;
    EXPECT_EQ(liuDrv_getLineCode(0, &lineCode), -1);
    EXPECT_EQ(lineCode, kUntouched);
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Call("liuDrv_setLineCode(port=0 lineCode=1)"),
                                PortRefused("liuDrv_setLineCode", 0, -1),
                                Detail("liuDrv_getLineCode(port=0, ...)"),
                                PortRefused("liuDrv_getLineCode", 0, -1),
                            }));
}

TEST_F(LineCodeTest, NullResultPointerIsRefusedWithoutAccess) {
    startLibrary();
    EXPECT_EQ(liuDrv_getLineCode(kPort, nullptr), -1);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{Detail("liuDrv_getLineCode(port=3, ...)"),
                                                    NullArgument("liuDrv_getLineCode")}));
}

} // namespace
