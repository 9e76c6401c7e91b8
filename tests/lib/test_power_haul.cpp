// SPDX-License-Identifier: MIT
// Transmitter and receiver power (bit 4 of registers 0x22 and 0x28) and the
// haul type (register 0x29) of a port: set and get, the bits they keep,
// their refusals and failed transfers.
#include "LibTest.h"

#include <cstdint>
#include <ostream>
#include <string>

using namespace libtest;

namespace {

// ---- Transmitter and receiver power ----------------------------------------------------------

struct PowerSide {
    const char* name; // "Tx" or "Rx"
    int (*set)(std::uint16_t, int);
    int (*get)(std::uint16_t, int*);
    std::uint8_t reg;
    std::uint8_t otherReg;
    const char* returns; // result line of the get operation
};

const PowerSide kTx = {"Tx",
                       liuDrv_setPowerupTx,
                       liuDrv_getPowerupTx,
                       0x22,
                       0x28,
                       "liuDrv_getPowerupTx returns tx power port=%d up=%d"};
const PowerSide kRx = {"Rx",
                       liuDrv_setPowerupRx,
                       liuDrv_getPowerupRx,
                       0x28,
                       0x22,
                       "liuDrv_getPowerupRx returns rx power port=%d up=%d"};

std::string setName(const PowerSide& side) {
    return std::string("liuDrv_setPowerup") + side.name;
}
std::string getName(const PowerSide& side) {
    return std::string("liuDrv_getPowerup") + side.name;
}

struct PowerSetCase {
    const PowerSide* side;
    int state;
    std::uint8_t before;
    std::uint8_t after;
};

void PrintTo(const PowerSetCase& c, std::ostream* out) {
    *out << c.side->name << " state " << c.state << " before 0x" << std::hex << int{c.before};
}

class PowerSetTest : public LibTest, public ::testing::WithParamInterface<PowerSetCase> {};

TEST_P(PowerSetTest, ReadsOnceWritesOnceAndChangesOnlyBit4) {
    const PowerSetCase& c = GetParam();
    const PowerSide& side = *c.side;
    initLibrary(2, 8);
    chip().setReg(3, side.reg, c.before);
    chip().setReg(3, side.otherReg, 0x5A);

    EXPECT_EQ(side.set(3, c.state), 0);

    EXPECT_EQ(chip().reg(3, side.reg), c.after);
    EXPECT_EQ(chip().reg(3, side.otherReg), 0x5A) << "the other side is independent";
    EXPECT_TRUE(sameSequence(bus(), {R(3, side.reg), W(3, side.reg, c.after)}))
        << "always written, also when unchanged";
    EXPECT_TRUE(
        sameSequence(lines(), {C(fmt("%s(port=3 state=%d)", setName(side).c_str(), c.state)),
                               writeLine(side.reg, c.after)}));
}

INSTANTIATE_TEST_SUITE_P(
    States, PowerSetTest,
    ::testing::Values(PowerSetCase{&kTx, 0, 0x00, 0x10}, PowerSetCase{&kTx, 0, 0x10, 0x10},
                      PowerSetCase{&kTx, 0, 0xEF, 0xFF}, PowerSetCase{&kTx, 1, 0xFF, 0xEF},
                      PowerSetCase{&kTx, 1, 0x00, 0x00}, PowerSetCase{&kTx, 5, 0x13, 0x03},
                      PowerSetCase{&kTx, -1, 0x10, 0x00}, PowerSetCase{&kRx, 0, 0x00, 0x10},
                      PowerSetCase{&kRx, 0, 0x14, 0x14}, PowerSetCase{&kRx, 0, 0xA7, 0xB7},
                      PowerSetCase{&kRx, 1, 0xFF, 0xEF}, PowerSetCase{&kRx, 1, 0x04, 0x04},
                      PowerSetCase{&kRx, 5, 0x16, 0x06}, PowerSetCase{&kRx, -1, 0x10, 0x00}),
    [](const auto& info) {
        const PowerSetCase& c = info.param;
        const std::string state =
            c.state < 0 ? "Minus" + std::to_string(-c.state) : std::to_string(c.state);
        return std::string(c.side->name) + "State" + state + "From" + std::to_string(c.before);
    });

class PowerTest : public LibTest, public ::testing::WithParamInterface<const PowerSide*> {};

TEST_P(PowerTest, GetReportsTheInverseOfThePowerDownBit) {
    const PowerSide& side = *GetParam();
    initLibrary(2, 8);
    const struct {
        std::uint8_t reg;
        int up;
    } cases[] = {{0x10, 0}, {0xFF, 0}, {0x00, 1}, {0xEF, 1}, {0x14, 0}, {0x04, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "register 0x" << std::hex << int{c.reg});
        chip().setReg(7, side.reg, c.reg);
        chip().setReg(7, side.otherReg, c.up != 0 ? 0x10 : 0x00); // the opposite
        startCheck();
        int up = 9;

        EXPECT_EQ(side.get(7, &up), 0);

        EXPECT_EQ(up, c.up);
        EXPECT_TRUE(sameSequence(bus(), {R(7, side.reg)}));
        EXPECT_TRUE(sameSequence(lines(), {C(fmt("%s(port=7, ...)", getName(side).c_str())),
                                           C(fmt(side.returns, 7, c.up))}));
    }
}

TEST_P(PowerTest, SetAndGetRoundTripWithoutTouchingTheOtherSide) {
    const PowerSide& side = *GetParam();
    const PowerSide& other = &side == &kTx ? kRx : kTx;
    initLibrary(2, 8);
    int up = 9;
    int otherUp = 9;

    EXPECT_EQ(side.set(1, 1), 0);
    EXPECT_EQ(side.get(1, &up), 0);
    EXPECT_EQ(other.get(1, &otherUp), 0);
    EXPECT_EQ(up, 1);
    EXPECT_EQ(otherUp, 0);

    EXPECT_EQ(other.set(1, 1), 0);
    EXPECT_EQ(side.set(1, 0), 0);
    EXPECT_EQ(side.get(1, &up), 0);
    EXPECT_EQ(other.get(1, &otherUp), 0);
    EXPECT_EQ(up, 0);
    EXPECT_EQ(otherUp, 1);
    // The pulse mask bits written at start-up stay.
    EXPECT_EQ(chip().reg(1, 0x28) & 0x04, 0x04);
}

TEST_P(PowerTest, RefusalsMakeNoAccessAndLeaveTheValue) {
    const PowerSide& side = *GetParam();
    initLibrary(2, 4);
    int up = 9;

    EXPECT_EQ(side.set(4, 1), -1);
    EXPECT_EQ(side.get(4, &up), -1);
    EXPECT_EQ(side.get(0, nullptr), -1);

    EXPECT_EQ(up, 9);
    EXPECT_TRUE(bus().empty());
    const std::string set = setName(side);
    const std::string get = getName(side);
    EXPECT_TRUE(sameSequence(
        lines(), {C(set + "(port=4 state=1)"), E(set + ": portId=4 not matching, allowed is 0..3"),
                  C(get + "(port=4, ...)"), E(get + ": portId=4 not matching, allowed is 0..3"),
                  C(get + "(port=0, ...)"), E(get + ": null pointer argument!")}));
}

TEST_P(PowerTest, RefusedWhileNotInitialised) {
    const PowerSide& side = *GetParam();
    liuDrv_maxPorts = 8;
    int up = 9;

    EXPECT_EQ(side.set(0, 0), -1);
    EXPECT_EQ(side.get(0, &up), -1);

    EXPECT_EQ(up, 9);
    EXPECT_EQ(chip().transferCount(), 0u);
    const auto all = lines();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_TRUE(all[1].matches(E(setName(side) + ": not inited or LIU failure!")));
    EXPECT_TRUE(all[3].matches(E(getName(side) + ": not inited or LIU failure!")));
}

TEST_P(PowerTest, FailedTransfersArePassedOn) {
    const PowerSide& side = *GetParam();
    initLibrary(2, 8);
    chip().setReg(2, side.reg, 0x10);
    int up = 9;

    chip().failTransfer(1);
    EXPECT_EQ(side.get(2, &up), 1);
    EXPECT_EQ(up, 9);
    EXPECT_TRUE(sameSequence(lines(), {C(fmt("%s(port=2, ...)", getName(side).c_str())),
                                       E("liuDrv_read: SPI read failure!")}));

    startCheck();
    chip().failTransfer(1);
    EXPECT_EQ(side.set(2, 1), 1);
    EXPECT_TRUE(sameSequence(bus(), {failed(R(2, side.reg))})) << "nothing written";
    EXPECT_EQ(chip().reg(2, side.reg), 0x10);

    startCheck();
    chip().failTransfer(2);
    EXPECT_EQ(side.set(2, 1), 1);
    EXPECT_TRUE(sameSequence(bus(), {R(2, side.reg), failed(W(2, side.reg, 0x00))}));
    EXPECT_TRUE(sameSequence(lines(), {C(fmt("%s(port=2 state=1)", setName(side).c_str())),
                                       E("liuDrv_write: SPI read failure!")}));
}

INSTANTIATE_TEST_SUITE_P(Sides, PowerTest, ::testing::Values(&kTx, &kRx),
                         [](const auto& info) { return std::string(info.param->name); });

// ---- Haul type -----------------------------------------------------------------------------

class HaulTest : public LibTest {
  protected:
    // Transfers and lines of liuDrv_setHaulType(port, haul) for haul 1 or 2.
    static void expected(unsigned port, int haul, std::uint8_t after, Bus& bus, Lines& lines) {
        bus = {R(port, 0x29)};
        lines = {C(fmt("liuDrv_setHaulType(port=%u, haul=%d)", port, haul))};
        if (haul == 2) {
            append(bus, readOutBus(port));
            lines.push_back(C(fmt("liuDrv_getLineType(port=%u, ...)", port)));
            append(lines, readOutLines(port));
            lines.push_back(C("liuDrv_getLineType returns lineType=*"));
        }
        bus.push_back(W(port, 0x29, after));
        lines.push_back(writeLine(0x29, after));
    }
};

struct HaulSetCase {
    int haul;
    std::uint8_t before;
    std::uint8_t after;
};

void PrintTo(const HaulSetCase& c, std::ostream* out) {
    *out << "haul " << c.haul << " before 0x" << std::hex << int{c.before};
}

class HaulSetTest : public HaulTest, public ::testing::WithParamInterface<HaulSetCase> {};

TEST_P(HaulSetTest, RewritesTheHaulBitsAndKeepsBits7And5) {
    const HaulSetCase& c = GetParam();
    initLibrary(2, 8);
    chip().setReg(5, 0x29, c.before);

    EXPECT_EQ(liuDrv_setHaulType(5, c.haul), 0);

    EXPECT_EQ(chip().reg(5, 0x29), c.after);
    Bus expectedBus;
    Lines expectedLines;
    expected(5, c.haul, c.after, expectedBus, expectedLines);
    EXPECT_TRUE(sameSequence(bus(), expectedBus));
    EXPECT_TRUE(sameSequence(lines(), expectedLines));

    startCheck();
    int haul = 0;
    EXPECT_EQ(liuDrv_getHaulType(5, &haul), 0);
    EXPECT_EQ(haul, c.haul);
}

INSTANTIATE_TEST_SUITE_P(Hauls, HaulSetTest,
                         ::testing::Values(HaulSetCase{2, 0x00, 0x54}, HaulSetCase{2, 0xBF, 0xF4},
                                           HaulSetCase{2, 0x1F, 0x54}, HaulSetCase{2, 0xA0, 0xF4},
                                           HaulSetCase{2, 0x54, 0x54}, HaulSetCase{1, 0xFF, 0xBF},
                                           HaulSetCase{1, 0x54, 0x14}, HaulSetCase{1, 0x00, 0x00},
                                           HaulSetCase{1, 0x40, 0x00}),
                         [](const auto& info) {
                             return "Haul" + std::to_string(info.param.haul) + "From" +
                                    std::to_string(info.param.before);
                         });

TEST_F(HaulTest, Haul2WritesTheSameValueWhateverTheLineType) {
    initLibrary(2, 8);
    const int lineTypes[] = {1, 2, 3};
    for (int lineType : lineTypes) {
        SCOPED_TRACE(lineType);
        ASSERT_EQ(liuDrv_setLineType(0, lineType), 0);
        chip().setReg(0, 0x29, 0x00);
        EXPECT_EQ(liuDrv_setHaulType(0, 2), 0);
        EXPECT_EQ(chip().reg(0, 0x29), 0x54);
    }
}

TEST_F(HaulTest, UnknownHaulIsRefusedAfterOneRead) {
    initLibrary(2, 8);
    const int hauls[] = {0, 3, -1};
    for (int haul : hauls) {
        SCOPED_TRACE(haul);
        chip().setReg(6, 0x29, 0x54);
        startCheck();

        EXPECT_EQ(liuDrv_setHaulType(6, haul), -1);

        EXPECT_EQ(chip().reg(6, 0x29), 0x54);
        EXPECT_TRUE(sameSequence(bus(), {R(6, 0x29)}));
        EXPECT_TRUE(sameSequence(lines(), {C(fmt("liuDrv_setHaulType(port=6, haul=%d)", haul)),
                                           E(fmt("liuDrv_setHaulType unknown haul :%d !", haul))}));
    }
}

TEST_F(HaulTest, FailingLineTypeReadOutDuringHaul2LeavesTheRegister) {
    initLibrary(2, 8);
    // Transfer 1 reads 0x29; 2 to 129 are the read-out.
    const std::size_t failing[] = {2, 3, 129};
    for (std::size_t k : failing) {
        SCOPED_TRACE(k);
        chip().setReg(4, 0x29, 0x00);
        startCheck();
        chip().failTransfer(k);

        EXPECT_EQ(liuDrv_setHaulType(4, 2), -1) << "the line type read-out's result";

        EXPECT_EQ(chip().reg(4, 0x29), 0x00) << "bit 6 included";
        const Bus all = bus();
        ASSERT_EQ(all.size(), k);
        EXPECT_EQ(all.front(), R(4, 0x29));
        EXPECT_EQ(all.back().ends_with(" FAILED"), true);
        const auto got = lines();
        ASSERT_FALSE(got.empty());
        EXPECT_TRUE(got.back().matches(E("liuDrv_getLineType failed")));
    }
}

TEST_F(HaulTest, FailedReadOrWriteOfTheHaulRegisterGivesOne) {
    initLibrary(2, 8);
    chip().setReg(4, 0x29, 0x00);

    chip().failTransfer(1);
    EXPECT_EQ(liuDrv_setHaulType(4, 2), 1);
    EXPECT_TRUE(sameSequence(bus(), {failed(R(4, 0x29))}));
    EXPECT_TRUE(sameSequence(
        lines(), {C("liuDrv_setHaulType(port=4, haul=2)"), E("liuDrv_read: SPI read failure!")}));

    startCheck();
    chip().failTransfer(2);
    EXPECT_EQ(liuDrv_setHaulType(4, 1), 1);
    EXPECT_TRUE(sameSequence(bus(), {R(4, 0x29), failed(W(4, 0x29, 0x00))}));

    startCheck();
    chip().failTransfer(130);
    EXPECT_EQ(liuDrv_setHaulType(4, 2), 1);
    EXPECT_EQ(bus().back(), failed(W(4, 0x29, 0x54)));
    EXPECT_EQ(lines().back().text, "liuDrv_write: SPI read failure!");

    startCheck();
    chip().failTransfer(1);
    int haul = 9;
    EXPECT_EQ(liuDrv_getHaulType(4, &haul), 1);
    EXPECT_EQ(haul, 9);
    EXPECT_TRUE(sameSequence(
        lines(), {C("liuDrv_getHaulType(port=4, ...)"), E("liuDrv_read: SPI read failure!")}));
}

TEST_F(HaulTest, GetDecodesBit6Only) {
    initLibrary(2, 8);
    const struct {
        std::uint8_t reg;
        int haul;
    } cases[] = {{0x40, 2}, {0x54, 2}, {0xFF, 2}, {0x00, 1}, {0x14, 1}, {0xBF, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "register 0x" << std::hex << int{c.reg});
        chip().setReg(3, 0x29, c.reg);
        startCheck();
        int haul = 0;

        EXPECT_EQ(liuDrv_getHaulType(3, &haul), 0);

        EXPECT_EQ(haul, c.haul);
        EXPECT_TRUE(sameSequence(bus(), {R(3, 0x29)}));
        EXPECT_TRUE(sameSequence(lines(), {C("liuDrv_getHaulType(port=3, ...)"),
                                           C(fmt("liuDrv_getHaulType returns haul=%d", c.haul))}));
    }
}

TEST_F(HaulTest, RefusalsMakeNoAccessAndLeaveTheValue) {
    initLibrary(2, 8);
    int haul = 9;

    EXPECT_EQ(liuDrv_setHaulType(8, 2), -1);
    EXPECT_EQ(liuDrv_getHaulType(8, &haul), -1);
    EXPECT_EQ(liuDrv_getHaulType(2, nullptr), -1);

    EXPECT_EQ(haul, 9);
    EXPECT_TRUE(bus().empty());
    EXPECT_TRUE(
        sameSequence(lines(), {C("liuDrv_setHaulType(port=8, haul=2)"),
                               E("liuDrv_setHaulType: portId=8 not matching, allowed is 0..7"),
                               C("liuDrv_getHaulType(port=8, ...)"),
                               E("liuDrv_getHaulType: portId=8 not matching, allowed is 0..7"),
                               C("liuDrv_getHaulType(port=2, ...)"),
                               E("liuDrv_getHaulType: null pointer argument!")}));
}

TEST_F(HaulTest, RefusedWhileNotInitialised) {
    liuDrv_maxPorts = 8;
    int haul = 9;

    EXPECT_EQ(liuDrv_setHaulType(0, 2), -1);
    EXPECT_EQ(liuDrv_getHaulType(0, &haul), -1);

    EXPECT_EQ(haul, 9);
    EXPECT_EQ(chip().transferCount(), 0u);
    const auto all = lines();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_TRUE(all[1].matches(E("liuDrv_setHaulType: not inited or LIU failure!")));
    EXPECT_TRUE(all[3].matches(E("liuDrv_getHaulType: not inited or LIU failure!")));
}

} // namespace
