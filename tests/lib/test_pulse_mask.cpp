// SPDX-License-Identifier: MIT
// Pulse mask configuration of a port: line type by input/output type, the
// T1/JT1 mode bit, the read-modify-writes of the transmit and receive
// configuration registers, the pulse template code that follows
// liuDrv_lineType, every refusal, and a failed transfer at every step.
#include "LibTest.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

using namespace libtest;

namespace {

constexpr std::uint16_t kPort = 5;
constexpr std::uint8_t kUntouched = 0xEE;

// Registers a pulse mask configuration may touch.
const std::uint8_t kPulseMaskRegisters[] = {0x20, 0x22, 0x23, 0x28, 0x2A, 0x2C, 0x32};

class PulseMaskTest : public LibTest {
  protected:
    using Registers = std::map<std::uint8_t, std::uint8_t>;

    // Presets the pulse mask registers of the port: 0x20, 0x22 and 0x28 as
    // given, the others kUntouched.
    Registers preset(std::uint8_t mode, std::uint8_t tcf0 = 0xFF, std::uint8_t rcf0 = 0xFF) {
        Registers registers;
        for (std::uint8_t reg : kPulseMaskRegisters) {
            registers[reg] = kUntouched;
        }
        registers[0x20] = mode;
        registers[0x22] = tcf0;
        registers[0x28] = rcf0;
        load(registers);
        return registers;
    }

    void load(const Registers& registers) {
        for (const auto& [reg, value] : registers) {
            chip().setReg(kPort, reg, value);
        }
    }

    void expectRegisters(const Registers& expected) {
        for (const auto& [reg, value] : expected) {
            EXPECT_EQ(chip().reg(kPort, reg), value) << "register 0x" << std::hex << int{reg};
        }
    }
};

// ---- Line type by input/output type ------------------------------------------------------

struct MatrixCase {
    int lineType;
    int inoutType;
    int result;
    int modeBit;       // bit 0 of 0x20 afterwards
    int termination;   // 0x32 afterwards; -1: not written
    std::uint8_t code; // 0x23 afterwards (liuDrv_lineType = lineType)
};

void PrintTo(const MatrixCase& c, std::ostream* out) {
    *out << "lineType " << c.lineType << " inoutType " << c.inoutType;
}

const MatrixCase kMatrix[] = {
    {1, 1, 0, 0, 0x00, 0x01},        {1, 2, 0, 0, 0x09, 0x01},
    {1, 0, -1, 0, -1, kUntouched},   {1, 3, -1, 0, -1, kUntouched},
    {1, 255, -1, 0, -1, kUntouched}, {2, 2, 0, 1, 0x12, 0x08},
    {2, 1, -1, 1, -1, kUntouched},   {2, 0, -1, 1, -1, kUntouched},
    {2, 3, -1, 1, -1, kUntouched},   {2, 255, -1, 1, -1, kUntouched},
    {3, 2, 0, 1, 0x1B, 0x07},        {3, 1, -1, 1, -1, kUntouched},
    {3, 0, -1, 1, -1, kUntouched},   {3, 3, -1, 1, -1, kUntouched},
    {3, 255, -1, 1, -1, kUntouched},
};

class PulseMaskMatrixTest : public PulseMaskTest,
                            public ::testing::WithParamInterface<MatrixCase> {};

TEST_P(PulseMaskMatrixTest, ConfiguresOrRefusesTheLineInterface) {
    const MatrixCase& c = GetParam();
    initLibrary(2, 8);
    liuDrv_lineType = c.lineType;
    liuDrv_setInOutType(c.inoutType);
    // Mode bit the opposite of what the line type wants, other bits set.
    const std::uint8_t mode = c.lineType == 1 ? 0xA5 : 0xA4;
    preset(mode, 0xFF, 0xFF);
    startCheck();

    EXPECT_EQ(liuDrv_pulsMaskConfiguration(kPort, c.lineType), c.result);

    const PulseMaskRun run =
        pulseMaskRun(kPort, c.lineType, c.inoutType, c.lineType, 0xFF, 0xFF, mode);
    EXPECT_EQ(run.result, c.result);
    EXPECT_TRUE(sameSequence(bus(), run.bus));
    EXPECT_TRUE(sameSequence(lines(), run.lines));

    expectRegisters({{0x22, 0x10},
                     {0x28, 0x14},
                     {0x2C, 0x02},
                     {0x20, static_cast<std::uint8_t>(0xA4 | c.modeBit)},
                     {0x32, c.termination < 0 ? kUntouched : c.termination},
                     {0x2A, c.result == 0 ? 0x18 : kUntouched},
                     {0x23, c.code}});
    EXPECT_EQ(liuDrv_inoutType, c.inoutType) << "read, never written";
}

INSTANTIATE_TEST_SUITE_P(LineTypeByInOutType, PulseMaskMatrixTest, ::testing::ValuesIn(kMatrix),
                         [](const auto& info) {
                             return "LineType" + std::to_string(info.param.lineType) + "InOut" +
                                    std::to_string(info.param.inoutType);
                         });

// ---- Pulse template code by liuDrv_lineType ----------------------------------------------

struct TemplateCase {
    int lineTypeGlobal;
    int result;
    std::uint8_t code;
};

void PrintTo(const TemplateCase& c, std::ostream* out) {
    *out << "liuDrv_lineType " << c.lineTypeGlobal;
}

class TemplateCodeTest : public PulseMaskTest,
                         public ::testing::WithParamInterface<TemplateCase> {};

TEST_P(TemplateCodeTest, E1ConfigurationWritesTheCodeOfTheLastRequestedLineType) {
    const TemplateCase& c = GetParam();
    initLibrary(2, 8);
    preset(0x00, 0x00, 0x00);
    liuDrv_lineType = c.lineTypeGlobal;

    EXPECT_EQ(liuDrv_pulsMaskConfiguration(kPort, 1), c.result);

    const PulseMaskRun run = pulseMaskRun(kPort, 1, 2, c.lineTypeGlobal, 0x00, 0x00, 0x00);
    EXPECT_TRUE(sameSequence(bus(), run.bus));
    EXPECT_TRUE(sameSequence(lines(), run.lines));
    expectRegisters({{0x23, c.code}, {0x32, 0x09}, {0x2A, 0x18}, {0x20, 0x00}});
}

INSTANTIATE_TEST_SUITE_P(
    LineTypeGlobal, TemplateCodeTest,
    ::testing::Values(TemplateCase{1, 0, 0x01}, TemplateCase{2, 0, 0x08}, TemplateCase{3, 0, 0x07},
                      TemplateCase{0, -1, kUntouched}, TemplateCase{4, -1, kUntouched},
                      TemplateCase{5, -1, kUntouched}, TemplateCase{-1, -1, kUntouched}),
    [](const auto& info) {
        const int value = info.param.lineTypeGlobal;
        return (value < 0 ? "Minus" : "") + std::to_string(value < 0 ? -value : value);
    });

TEST_F(PulseMaskTest, SetUserArbitraryWaveformFollowsLineTypeNotTheTemplateNumber) {
    initLibrary(2, 8);
    preset(0x00);
    liuDrv_lineType = 2;

    EXPECT_EQ(liuDrv_setUserArbitraryWaveform(kPort, 3), 0);
    EXPECT_TRUE(sameSequence(bus(), {W(kPort, 0x23, 0x08)}));
    EXPECT_TRUE(sameSequence(lines(), {C("liuDrv_setUserArbitraryWaveform(port=5, template=3)"),
                                       writeLine(0x23, 0x08)}));

    startCheck();
    chip().failTransfer(1);
    EXPECT_EQ(liuDrv_setUserArbitraryWaveform(kPort, 8), 1) << "the write's result";
}

// ---- Register details ----------------------------------------------------------------------

TEST_F(PulseMaskTest, ModeBitIsWrittenOnlyWhenItChanges) {
    initLibrary(2, 8);
    const struct {
        int lineType;
        std::uint8_t before;
        std::uint8_t after;
        bool written;
    } cases[] = {
        {1, 0x00, 0x00, false}, {1, 0xFE, 0xFE, false}, {1, 0x01, 0x00, true},
        {1, 0xFF, 0xFE, true},  {2, 0x01, 0x01, false}, {2, 0xFF, 0xFF, false},
        {2, 0x00, 0x01, true},  {3, 0x80, 0x81, true},  {3, 0x41, 0x41, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "lineType " << c.lineType << " 0x20 before 0x"
                                          << std::hex << int{c.before});
        liuDrv_lineType = c.lineType;
        preset(c.before);
        startCheck();
        EXPECT_EQ(liuDrv_pulsMaskConfiguration(kPort, c.lineType), 0);
        int reads = 0;
        int writes = 0;
        for (const std::string& transfer : bus()) {
            reads += transfer == R(kPort, 0x20) ? 1 : 0;
            writes += transfer.starts_with("W 5 0x20=") ? 1 : 0;
        }
        EXPECT_EQ(reads, 1);
        EXPECT_EQ(writes, c.written ? 1 : 0);
        EXPECT_EQ(chip().reg(kPort, 0x20), c.after);
    }
}

TEST_F(PulseMaskTest, ConfigurationRegistersKeepOnlyTheirPowerDownBits) {
    initLibrary(2, 8);
    const struct {
        std::uint8_t before;
        std::uint8_t tcf0;
        std::uint8_t rcf0;
    } cases[] = {
        {0xFF, 0x10, 0x14}, {0x00, 0x00, 0x04}, {0xEF, 0x00, 0x04},
        {0x10, 0x10, 0x14}, {0x13, 0x10, 0x14}, {0x04, 0x00, 0x04},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "before 0x" << std::hex << int{c.before});
        preset(0x00, c.before, c.before);
        EXPECT_EQ(liuDrv_pulsMaskConfiguration(kPort, 1), 0);
        EXPECT_EQ(chip().reg(kPort, 0x22), c.tcf0);
        EXPECT_EQ(chip().reg(kPort, 0x28), c.rcf0);
    }
}

// ---- Refusals ------------------------------------------------------------------------------

TEST_F(PulseMaskTest, RefusedBeforeInitWithoutTransfer) {
    EXPECT_EQ(liuDrv_pulsMaskConfiguration(0, 1), -1);

    EXPECT_EQ(chip().transferCount(), 0u);
    EXPECT_TRUE(sameSequence(
        lines(),
        {{-1, LIUDRV_TRACE_LEVEL_DETAIL, "liuDrv_pulsMaskConfiguration(port=0, lineType=1)"},
         E("liuDrv_pulsMaskConfiguration: not inited or LIU failure!")}));
}

TEST_F(PulseMaskTest, UnknownLineTypeIsRefusedAfterTheConfigurationRegisters) {
    initLibrary(2, 8);
    const int lineTypes[] = {0, 4, -1, 255};
    for (int lineType : lineTypes) {
        SCOPED_TRACE(lineType);
        preset(0x01, 0xFF, 0xFF);
        startCheck();

        EXPECT_EQ(liuDrv_pulsMaskConfiguration(kPort, lineType), -1);

        const PulseMaskRun run = pulseMaskRun(kPort, lineType, 2, 1, 0xFF, 0xFF, 0x01);
        EXPECT_TRUE(sameSequence(bus(), run.bus)) << "register 0x20 is not even read";
        EXPECT_TRUE(sameSequence(lines(), run.lines));
        EXPECT_EQ(lines().back().text,
                  fmt("liuDrv_pulsMaskConfiguration: unknown lineType: %d", lineType));
        expectRegisters({{0x22, 0x10},
                         {0x28, 0x14},
                         {0x2C, 0x02},
                         {0x20, 0x01},
                         {0x32, kUntouched},
                         {0x2A, kUntouched},
                         {0x23, kUntouched}});
    }
}

// ---- A failed transfer at every step ---------------------------------------------------------

struct StepCase {
    const char* name;
    int lineType;
    int inoutType;
    std::uint8_t mode; // 0x20 before
    std::size_t transfers;
};

void PrintTo(const StepCase& c, std::ostream* out) {
    *out << c.name;
}

class FailedStepTest : public PulseMaskTest, public ::testing::WithParamInterface<StepCase> {};

// The positions come from a recorded successful run of the same configuration:
// failing transfer k stops the configuration there with 1, the transfers
// before it (and their register writes) stand, nothing follows it.
TEST_P(FailedStepTest, FailedTransferStopsTheConfigurationWhereItHappens) {
    const StepCase& c = GetParam();
    initLibrary(2, 8);
    liuDrv_lineType = c.lineType;
    liuDrv_setInOutType(c.inoutType);
    const Registers before = preset(c.mode, 0xFF, 0xFF);
    startCheck();
    ASSERT_EQ(liuDrv_pulsMaskConfiguration(kPort, c.lineType), 0);
    const std::vector<liusim::Transfer> recorded = chip().log();
    const Bus recordedBus = bus();
    const Lines recordedLines = lines();
    ASSERT_EQ(recorded.size(), c.transfers);

    for (std::size_t k = 1; k <= recorded.size(); ++k) {
        SCOPED_TRACE(::testing::Message()
                     << "failing transfer " << k << ": " << recordedBus[k - 1]);
        load(before);
        startCheck();
        chip().failTransfer(k);

        EXPECT_EQ(liuDrv_pulsMaskConfiguration(kPort, c.lineType), 1);

        Bus expectedBus(recordedBus.begin(), recordedBus.begin() + static_cast<long>(k - 1));
        expectedBus.push_back(failed(recordedBus[k - 1]));
        EXPECT_TRUE(sameSequence(bus(), expectedBus));

        Registers expected = before;
        for (std::size_t i = 0; i + 1 < k; ++i) {
            if (recorded[i].access == liusim::Access::Write) {
                expected[recorded[i].reg] = recorded[i].value;
            }
        }
        expectRegisters(expected);

        // The lines are those of the successful run up to the failure, then
        // the transfer's error line, and nothing after it.
        Lines got = lines();
        ASSERT_FALSE(got.empty());
        const bool read = recorded[k - 1].access == liusim::Access::Read;
        EXPECT_TRUE(got.back().matches(
            E(read ? "liuDrv_read: SPI read failure!" : "liuDrv_write: SPI read failure!")));
        got.pop_back();
        ASSERT_LE(got.size(), recordedLines.size());
        EXPECT_TRUE(
            sameSequence(got, Lines(recordedLines.begin(),
                                    recordedLines.begin() + static_cast<long>(got.size()))));
    }
}

INSTANTIATE_TEST_SUITE_P(Configurations, FailedStepTest,
                         ::testing::Values(StepCase{"AsymmetricalE1ModeBitWritten", 1, 1, 0x01, 10},
                                           StepCase{"SymmetricalE1ModeBitKept", 1, 2, 0x00, 9},
                                           StepCase{"T1ModeBitWritten", 2, 2, 0x00, 10},
                                           StepCase{"JT1ModeBitWritten", 3, 2, 0x00, 10}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
