// SPDX-License-Identifier: MIT
// Pulse shape dump: a port transmitting the user arbitrary waveform (pulse
// template code 0x0C) gets its 64 waveform samples (16 rows by UI1..UI4), the
// amplitude scaling and the termination printed on stderr.
#include "PortTest.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace porttest;

namespace {

constexpr std::uint8_t kTemplateCode = 0x23;
constexpr std::uint8_t kScaling = 0x24;
constexpr std::uint8_t kSampleAddress = 0x25;
constexpr std::uint8_t kSampleData = 0x26;
constexpr std::uint8_t kTermination = 0x32;
constexpr std::uint8_t kUserWaveform = 0x0C;

// Sample of row (sample index) r in UI u: 0x<r><u>, so every cell names its
// own place in the table.
std::uint8_t sampleAt(unsigned index, unsigned ui) {
    return static_cast<std::uint8_t>(index << 4 | ui);
}

const char kHeading[] = "\n Dump of pulse shaping parameters port: 3\n\n"
                        "Sample UI1  UI2  UI3  UI4\n";
const char kRows1To4[] = "  01   0x00 0x01 0x02 0x03 \n"
                         "  02   0x10 0x11 0x12 0x13 \n"
                         "  03   0x20 0x21 0x22 0x23 \n"
                         "  04   0x30 0x31 0x32 0x33 \n";
const char kRows5To16[] = "  05   0x40 0x41 0x42 0x43 \n"
                          "  06   0x50 0x51 0x52 0x53 \n"
                          "  07   0x60 0x61 0x62 0x63 \n"
                          "  08   0x70 0x71 0x72 0x73 \n"
                          "  09   0x80 0x81 0x82 0x83 \n"
                          "  10   0x90 0x91 0x92 0x93 \n"
                          "  11   0xa0 0xa1 0xa2 0xa3 \n"
                          "  12   0xb0 0xb1 0xb2 0xb3 \n"
                          "  13   0xc0 0xc1 0xc2 0xc3 \n"
                          "  14   0xd0 0xd1 0xd2 0xd3 \n"
                          "  15   0xe0 0xe1 0xe2 0xe3 \n"
                          "  16   0xf0 0xf1 0xf2 0xf3 \n";

class PulseDumpTest : public PortTest {
  protected:
    // Gives the port's channel the user arbitrary waveform (through the
    // library, as a host would), the samples, scaling and termination.
    void prepare(unsigned port, unsigned channel, std::uint8_t termination = 0x24) {
        ASSERT_EQ(liuDrv_write(kTemplateCode, static_cast<std::uint16_t>(port), kUserWaveform, 1),
                  0);
        for (unsigned ui = 0; ui < 4; ++ui) {
            for (unsigned index = 0; index < 16; ++index) {
                chip().setSample(channel, ui, index, sampleAt(index, ui));
            }
        }
        chip().setReg(channel, kScaling, 0x5A);
        chip().setReg(channel, kTermination, termination);
        forget();
    }

    // Runs the dump with stderr captured; returns its result.
    int dump(unsigned port, std::string& printed) {
        testing::internal::CaptureStderr();
        const int result = liuDrv_dumpPulseShapeParam(static_cast<std::uint16_t>(port));
        std::fflush(stderr);
        printed = testing::internal::GetCapturedStderr();
        return result;
    }

    // The transfers of a full dump of a channel prepared as above.
    static std::vector<std::string> fullDump(unsigned channel, std::uint8_t termination) {
        const int ch = static_cast<int>(channel);
        std::vector<std::string> expected{R(ch, kTemplateCode, kUserWaveform)};
        for (unsigned index = 0; index < 16; ++index) {
            for (unsigned ui = 0; ui < 4; ++ui) {
                expected.push_back(
                    W(ch, kSampleAddress, static_cast<std::uint8_t>(0xC0 + ui * 16 + index)));
                expected.push_back(R(ch, kSampleData, sampleAt(index, ui)));
            }
        }
        expected.push_back(R(ch, kScaling, 0x5A));
        expected.push_back(R(ch, kTermination, termination));
        return expected;
    }
};

TEST_F(PulseDumpTest, PrintsTheWholeTableByteForByte) {
    startLibrary();
    prepare(3, 3);

    std::string printed;
    EXPECT_EQ(dump(3, printed), 0);

    EXPECT_EQ(printed, std::string(kHeading) + kRows1To4 + kRows5To16 +
                           "\nScaling value   : 0x5a\n"
                           "Ext. termination: TRUE\n");
}

TEST_F(PulseDumpTest, Makes131TransfersRowByRowAcrossTheUis) {
    startLibrary();
    prepare(3, 3);

    std::string printed;
    EXPECT_EQ(dump(3, printed), 0);

    const auto bus = transfers();
    EXPECT_EQ(bus.size(), 131u);
    EXPECT_EQ(bus, fullDump(3, 0x24));
    // No entry trace: identification, then the 64 sample address writes.
    std::vector<TraceLine> expected{Detail("liuDrv_getPiu: LIU 82V5088 - 8 PDH channels")};
    for (unsigned index = 0; index < 16; ++index) {
        for (unsigned ui = 0; ui < 4; ++ui) {
            expected.push_back(
                Wrote(kSampleAddress, static_cast<std::uint8_t>(0xC0 + ui * 16 + index)));
        }
    }
    EXPECT_EQ(traceLines(), expected);
}

class PulseDumpTermination : public PulseDumpTest,
                             public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(PulseDumpTermination, ExternalOnlyForCode4InBothFields) {
    startLibrary();
    prepare(3, 3, GetParam());

    std::string printed;
    EXPECT_EQ(dump(3, printed), 0);

    const std::string word = GetParam() == 0x24 ? "TRUE" : "FALSE";
    EXPECT_EQ(printed, std::string(kHeading) + kRows1To4 + kRows5To16 +
                           "\nScaling value   : 0x5a\n"
                           "Ext. termination: " +
                           word + "\n");
}

INSTANTIATE_TEST_SUITE_P(Values, PulseDumpTermination,
                         ::testing::Values(0x24, 0x00, 0x09, 0x12, 0x1B, 0x04, 0x20, 0x25, 0xA4,
                                           0xFF),
                         byteName);

class PulseDumpOtherTemplate : public PulseDumpTest,
                               public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(PulseDumpOtherTemplate, IsRefusedWithoutOutput) {
    startLibrary();
    prepare(3, 3);
    chip().setReg(3, kTemplateCode, GetParam());

    std::string printed;
    EXPECT_EQ(dump(3, printed), -1);

    EXPECT_EQ(printed, "");
    EXPECT_EQ(transfers(), (std::vector<std::string>{R(3, kTemplateCode, GetParam())}));
    EXPECT_EQ(traceLines(),
              (std::vector<TraceLine>{
                  Detail("liuDrv_getPiu: LIU 82V5088 - 8 PDH channels"),
                  Error("liuDrv_dumpPulseShapeParam(port=3 ...) not set to user arb waveform!"),
              }));
}

INSTANTIATE_TEST_SUITE_P(Codes, PulseDumpOtherTemplate,
                         ::testing::Values(0x01, 0x08, 0x07, 0x00, 0x0D, 0x8C, 0xFF), byteName);

TEST_F(PulseDumpTest, LineTypeConfigurationLeavesNothingToDump) {
    startLibrary();
    ASSERT_EQ(liuDrv_setLineType(3, LIUDRV_LINE_TYPE_T1), 0);
    std::string printed;
    EXPECT_EQ(dump(3, printed), -1);
    EXPECT_EQ(printed, "");
}

// A failed transfer at the third cell of row 5: transfer 1 reads 0x23, rows
// 1 to 4 take 32, the first two cells of row 5 four more, so the third
// cell's address write is transfer 38 and its sample read 39.
class PulseDumpFailure : public PulseDumpTest,
                         public ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(PulseDumpFailure, StopsInTheMiddleOfRow5) {
    startLibrary();
    prepare(3, 3);
    chip().failTransfer(GetParam());

    std::string printed;
    EXPECT_EQ(dump(3, printed), 1);

    EXPECT_EQ(printed, std::string(kHeading) + kRows1To4 + "  05   0x40 0x41 ");
    const auto bus = transfers();
    ASSERT_EQ(bus.size(), GetParam());
    EXPECT_EQ(bus.back(),
              GetParam() == 38 ? WFailed(3, kSampleAddress, 0xE4) : RFailed(3, kSampleData));
    EXPECT_EQ(traceLines().back(), GetParam() == 38 ? WriteFailed() : ReadFailed());
}

INSTANTIATE_TEST_SUITE_P(Positions, PulseDumpFailure, ::testing::Values(38u, 39u));

TEST_F(PulseDumpTest, FailuresOutsideTheTable) {
    startLibrary();
    prepare(3, 3);

    std::string printed;
    chip().failTransfer(1);
    EXPECT_EQ(dump(3, printed), 1);
    EXPECT_EQ(printed, "");

    chip().failTransfer(130);
    EXPECT_EQ(dump(3, printed), 1);
    EXPECT_EQ(printed, std::string(kHeading) + kRows1To4 + kRows5To16);

    chip().failTransfer(131);
    EXPECT_EQ(dump(3, printed), 1);
    EXPECT_EQ(printed,
              std::string(kHeading) + kRows1To4 + kRows5To16 + "\nScaling value   : 0x5a\n");
}

TEST_F(PulseDumpTest, HasNoPortGuard) {
    startLibrary(4);
    prepare(6, 6);

    std::string printed;
    EXPECT_EQ(dump(6, printed), 0);
    EXPECT_EQ(transfers(), fullDump(6, 0x24));
    const std::string heading6 = "\n Dump of pulse shaping parameters port: 6\n\n";
    EXPECT_EQ(printed.substr(0, heading6.size()), heading6);

    // A port above 15 reaches the channel of its low four bits.
    prepare(19, 3);
    EXPECT_EQ(dump(19, printed), 0);
    EXPECT_EQ(transfers(), fullDump(3, 0x24));
    const std::string heading19 = "\n Dump of pulse shaping parameters port: 19\n\n";
    EXPECT_EQ(printed.substr(0, heading19.size()), heading19);
}

TEST_F(PulseDumpTest, BeforeStartUpTheFirstTransferFails) {
    std::string printed;
    EXPECT_EQ(dump(0, printed), 1);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(liuDrv_maxPorts, 8);
    EXPECT_EQ(liuDrv_inited, 0);
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Detail("liuDrv_getPiu: LIU 82V5088 - 8 PDH channels"),
                                ReadFailed(),
                            }));
}

TEST_F(PulseDumpTest, LeavesEightPortsAfterStartUpWithFour) {
    startLibrary(4);
    int on = kUntouched;
    ASSERT_EQ(liuDrv_getLoopRemote(5, &on), -1);

    std::string printed;
    EXPECT_EQ(dump(0, printed), -1);

    EXPECT_EQ(liuDrv_maxPorts, 8);
    EXPECT_EQ(liuDrv_maxPortsLiu, 8);
    EXPECT_EQ(liuDrv_maxLius, 1);
    EXPECT_EQ(liuDrv_liuTyp, 3);
    EXPECT_EQ(tracesWithFormat("%s: LIU 82V5088 - 8 PDH channels").size(), 1u);
    EXPECT_EQ(liuDrv_getLoopRemote(5, &on), 0);
    EXPECT_EQ(on, 0);
}

} // namespace
