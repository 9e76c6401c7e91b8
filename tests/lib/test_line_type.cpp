// SPDX-License-Identifier: MIT
// Line type of a port: liuDrv_setLineType (records liuDrv_lineType, runs the
// pulse mask configuration) and liuDrv_getLineType (waveform read-out and the
// pulse template to line type mapping).
#include "LibTest.h"

#include <cstdint>
#include <ostream>
#include <string>

using namespace libtest;

namespace {

class LineTypeTest : public LibTest {
  protected:
    // Distinct samples for a port: UI u, sample i holds 0x11 * u + i + 1
    // (UI 0 sample 10 is 0x0b: lower-case hex in the traces).
    void loadSamples(unsigned port, std::uint8_t (&samples)[4][16]) {
        for (unsigned ui = 0; ui < 4; ++ui) {
            for (unsigned i = 0; i < 16; ++i) {
                samples[ui][i] =
                    static_cast<std::uint8_t>(0x11 * ui + i + 1 + (ui == 3 ? 0xC0 : 0));
                chip().setSample(port, ui, i, samples[ui][i]);
            }
        }
    }
};

// ---- The worked example: port 3 to T1 on a symmetrical board ----------------------------

TEST_F(LineTypeTest, Port3ToT1OnSymmetricalInterfaceFrameForFrameAndLineForLine) {
    initLibrary(2, 8);
    ASSERT_EQ(liuTsId, liutrace::kDefaultTraceSetId);

    EXPECT_EQ(liuDrv_setLineType(3, 2), 0);

    EXPECT_EQ(liuDrv_lineType, 2);
    EXPECT_TRUE(sameSequence(bus(), {R(3, 0x22), W(3, 0x22, 0x10), R(3, 0x28), W(3, 0x28, 0x14),
                                     W(3, 0x2C, 0x02), R(3, 0x20), W(3, 0x20, 0x01),
                                     W(3, 0x32, 0x12), W(3, 0x2A, 0x18), W(3, 0x23, 0x08)}));
    const int id = liutrace::kDefaultTraceSetId;
    EXPECT_TRUE(sameSequence(
        lines(),
        {{id, 0x20, "liuDrv_setLineType(port=3 lineType=2)"},
         {id, 0x10, "liuDrv_pulsMaskConfiguration(port=3, lineType=2)"},
         {id, 0x10, "liuDrv_write: reg=0x22 value=0x10"},
         {id, 0x10, "liuDrv_write: reg=0x28 value=0x14"},
         {id, 0x10, "liuDrv_write: reg=0x2c value=0x02"},
         {id, 0x10, "liuDrv_write: reg=0x20 value=0x01"},
         {id, 0x20, "liuDrv_pulsMaskConfiguration: port=3, SYMMETRICAL T1 line I/F detected"},
         {id, 0x10, "liuDrv_write: reg=0x32 value=0x12"},
         {id, 0x10, "liuDrv_write: reg=0x2a value=0x18"},
         {id, 0x20, "liuDrv_setUserArbitraryWaveform(port=3, template=8)"},
         {id, 0x10, "liuDrv_write: reg=0x23 value=0x08"}}));
}

// ---- liuDrv_setLineType ---------------------------------------------------------------------

struct SetCase {
    int lineType;
    std::uint8_t mode;
    std::uint8_t termination;
    std::uint8_t code;
};

void PrintTo(const SetCase& c, std::ostream* out) {
    *out << "lineType " << c.lineType;
}

class SetLineTypeTest : public LineTypeTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetLineTypeTest, ConfiguresThePortAndKeepsItsPowerBits) {
    const SetCase& c = GetParam();
    initLibrary(2, 8);
    chip().setReg(6, 0x22, 0xEF); // transmitter up, line code bits set
    chip().setReg(6, 0x28, 0x13); // receiver down, line code bits set
    chip().setReg(6, 0x20, 0x81);

    EXPECT_EQ(liuDrv_setLineType(6, c.lineType), 0);

    EXPECT_EQ(liuDrv_lineType, c.lineType);
    EXPECT_EQ(chip().reg(6, 0x20), c.mode);
    EXPECT_EQ(chip().reg(6, 0x32), c.termination);
    EXPECT_EQ(chip().reg(6, 0x23), c.code);
    EXPECT_EQ(chip().reg(6, 0x22), 0x00);
    EXPECT_EQ(chip().reg(6, 0x28), 0x14);
    EXPECT_EQ(chip().reg(6, 0x2A), 0x18);
    EXPECT_EQ(chip().reg(6, 0x2C), 0x02);
    for (const liusim::Transfer& transfer : chip().log()) {
        EXPECT_EQ(transfer.channel, 6);
    }
    EXPECT_EQ(lines().front().text, fmt("liuDrv_setLineType(port=6 lineType=%d)", c.lineType));
}

INSTANTIATE_TEST_SUITE_P(LineTypes, SetLineTypeTest,
                         ::testing::Values(SetCase{1, 0x80, 0x09, 0x01},
                                           SetCase{2, 0x81, 0x12, 0x08},
                                           SetCase{3, 0x81, 0x1B, 0x07}),
                         [](const auto& info) {
                             return "LineType" + std::to_string(info.param.lineType);
                         });

TEST_F(LineTypeTest, PortOutOfRangeIsRefusedButTheLineTypeIsRecorded) {
    initLibrary(2, 8);

    EXPECT_EQ(liuDrv_setLineType(8, 2), -1);

    EXPECT_EQ(liuDrv_lineType, 2);
    EXPECT_TRUE(bus().empty());
    EXPECT_TRUE(
        sameSequence(lines(), {C("liuDrv_setLineType(port=8 lineType=2)"),
                               E("liuDrv_setLineType: portId=8 not matching, allowed is 0..7")}));
}

TEST_F(LineTypeTest, NotInitialisedIsRefusedButTheLineTypeIsRecorded) {
    liuDrv_maxPorts = 8; // written by the caller: the range check passes

    EXPECT_EQ(liuDrv_setLineType(1, 3), -1);

    EXPECT_EQ(liuDrv_lineType, 3);
    EXPECT_EQ(chip().transferCount(), 0u);
    EXPECT_TRUE(sameSequence(lines(), {{-1, 0x20, "liuDrv_setLineType(port=1 lineType=3)"},
                                       E("liuDrv_setLineType: not inited or LIU failure!")}));
}

TEST_F(LineTypeTest, UnknownLineTypeIsRefusedByThePulseMaskAndStaysRecorded) {
    initLibrary(2, 8);
    chip().setReg(2, 0x22, 0xFF);
    chip().setReg(2, 0x28, 0xFF);

    EXPECT_EQ(liuDrv_setLineType(2, 4), -1);

    EXPECT_EQ(liuDrv_lineType, 4);
    const PulseMaskRun run = pulseMaskRun(2, 4, 2, 4, 0xFF, 0xFF, 0x00);
    Lines expected = {C("liuDrv_setLineType(port=2 lineType=4)")};
    append(expected, run.lines);
    expected.push_back(E("liuDrv_setLineType: liuDrv_pulsMaskConfiguration(2,4) failed!"));
    EXPECT_TRUE(sameSequence(lines(), expected));
    EXPECT_TRUE(sameSequence(bus(), run.bus));

    // Every later pulse template write is refused until a known line type is set.
    startCheck();
    EXPECT_EQ(liuDrv_setLineBuildOut(2, 1), -1);
    EXPECT_TRUE(bus().empty());
    EXPECT_EQ(liuDrv_setLineType(2, 1), 0);
    EXPECT_EQ(liuDrv_setLineBuildOut(2, 1), 0);
}

TEST_F(LineTypeTest, T1OnAsymmetricalInterfaceIsRefusedAfterTheModeBit) {
    initLibrary(1, 8);

    EXPECT_EQ(liuDrv_setLineType(0, 2), -1);

    EXPECT_EQ(liuDrv_lineType, 2);
    const auto all = lines();
    ASSERT_GE(all.size(), 2u);
    EXPECT_TRUE(all[all.size() - 2].matches(
        E("liuDrv_pulsMaskConfiguration: T1/JT1, unsupported input/output type:1")));
    EXPECT_TRUE(
        all.back().matches(E("liuDrv_setLineType: liuDrv_pulsMaskConfiguration(0,2) failed!")));
    EXPECT_EQ(chip().reg(0, 0x20) & 0x01, 0x01);
    EXPECT_EQ(chip().reg(0, 0x32), 0x00) << "asymmetrical E1 termination from start-up stays";
    EXPECT_EQ(chip().reg(0, 0x23), 0x01);
}

TEST_F(LineTypeTest, FailedTransferIsPassedOnWithTheConfigurationFailure) {
    initLibrary(2, 8);
    chip().failTransfer(6); // the read of 0x20

    EXPECT_EQ(liuDrv_setLineType(1, 3), 1);

    const auto all = lines();
    ASSERT_GE(all.size(), 2u);
    EXPECT_TRUE(all[all.size() - 2].matches(E("liuDrv_read: SPI read failure!")));
    EXPECT_TRUE(
        all.back().matches(E("liuDrv_setLineType: liuDrv_pulsMaskConfiguration(1,3) failed!")));
    EXPECT_EQ(chip().reg(1, 0x20) & 0x01, 0);
    EXPECT_EQ(chip().reg(1, 0x2C), 0x02);
}

// ---- liuDrv_getLineType ----------------------------------------------------------------------

TEST_F(LineTypeTest, GetReadsTheWholeWaveformAndReportsE1) {
    initLibrary(2, 8);
    std::uint8_t samples[4][16];
    loadSamples(2, samples);
    int lineType = 42;

    EXPECT_EQ(liuDrv_getLineType(2, &lineType), 0);

    EXPECT_EQ(lineType, 1) << "template 1 reads back as E1";
    const Bus expectedBus = readOutBus(2);
    ASSERT_EQ(expectedBus.size(), 128u);
    EXPECT_TRUE(sameSequence(bus(), expectedBus));

    const Lines own = readOutOwnLines(2, samples);
    ASSERT_EQ(own.size(), 67u);
    EXPECT_EQ(own[0].text, "UI1: 0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08\n");
    EXPECT_EQ(own[1].text, "     0x09 0x0a 0x0b 0x0c 0x0d 0x0e 0x0f 0x10\n");
    EXPECT_EQ(own[66].text, "liuDrv_getUserArbitraryWaveform returns template=1)");

    Lines expected = {C("liuDrv_getLineType(port=2, ...)")};
    append(expected, readOutLines(2, samples));
    expected.push_back(C("liuDrv_getLineType returns lineType=1"));
    EXPECT_TRUE(sameSequence(lines(), expected));
}

TEST_F(LineTypeTest, WaveformReadOutReportsItsTemplateNumber) {
    initLibrary(2, 8);
    std::uint8_t samples[4][16];
    loadSamples(7, samples);
    int pulseTemplate = -5;

    EXPECT_EQ(liuDrv_getUserArbitraryWaveform(7, &pulseTemplate), 0);

    EXPECT_EQ(pulseTemplate, 1);
    EXPECT_TRUE(sameSequence(bus(), readOutBus(7)));
    EXPECT_TRUE(sameSequence(lines(), readOutLines(7, samples)));
}

TEST_F(LineTypeTest, FailedReadOutGivesMinusOneAndNoneOfItsOwnLines) {
    initLibrary(2, 8);
    const std::size_t failing[] = {1, 2, 3, 64, 127, 128};
    for (std::size_t k : failing) {
        SCOPED_TRACE(k);
        startCheck();
        chip().failTransfer(k);
        int lineType = 42;

        EXPECT_EQ(liuDrv_getLineType(4, &lineType), -1) << "not the transfer's 1";

        EXPECT_EQ(lineType, 42);
        Bus expectedBus = readOutBus(4);
        expectedBus.resize(k);
        expectedBus.back() = failed(expectedBus.back());
        EXPECT_TRUE(sameSequence(bus(), expectedBus));

        Lines expected = {C("liuDrv_getLineType(port=4, ...)")};
        for (std::size_t i = 0; i < k / 2; ++i) {
            expected.push_back(writeLine(0x25, 0xC0 + static_cast<unsigned>(i)));
        }
        expected.push_back(
            E(k % 2 == 1 ? "liuDrv_write: SPI read failure!" : "liuDrv_read: SPI read failure!"));
        expected.push_back(E("liuDrv_getLineType failed"));
        EXPECT_TRUE(sameSequence(lines(), expected));
    }
}

TEST_F(LineTypeTest, GetRefusalsTouchNeitherTheChipNorTheVariable) {
    initLibrary(2, 8);
    int lineType = 42;

    EXPECT_EQ(liuDrv_getLineType(8, &lineType), -1);
    EXPECT_EQ(liuDrv_getLineType(0, nullptr), -1);

    EXPECT_EQ(lineType, 42);
    EXPECT_TRUE(bus().empty());
    EXPECT_TRUE(
        sameSequence(lines(), {C("liuDrv_getLineType(port=8, ...)"),
                               E("liuDrv_getLineType: portId=8 not matching, allowed is 0..7"),
                               C("liuDrv_getLineType(port=0, ...)"),
                               E("liuDrv_getLineType: null pointer argument!")}));
}

// ---- Pulse template number to line type -----------------------------------------------------

TEST(LineTypeOfTemplate, MapsEveryTemplateNumber) {
    const int expected[] = {1, 1, 2, 2, 2, 2, 2, 3, 2, 2, 2, 2, 2, 3};
    for (unsigned t = 0; t < 14; ++t) {
        EXPECT_EQ(liuDrv_lineTypeOfTemplate(t), expected[t]) << "template " << t;
    }
    EXPECT_EQ(liuDrv_lineTypeOfTemplate(14), 0);
    EXPECT_EQ(liuDrv_lineTypeOfTemplate(15), 0);
    EXPECT_EQ(liuDrv_lineTypeOfTemplate(32), 0);
    EXPECT_EQ(liuDrv_lineTypeOfTemplate(0xFFFFFFFFu), 0) << "compared unsigned";
}

} // namespace
