// SPDX-License-Identifier: MIT
// Start-up failure sweep: liuDrv_init(2, 8) with one of its register
// transfers failed, one process per failure position (the library starts
// once per process).  Each position checks the result (1, or -1 for a failed
// transfer of the line type read-out inside haul 2), that start-up stopped
// right there, what the chip holds (the preset before the software reset;
// afterwards every write up to the failed one and nothing else), and that the
// library counts as initialised all the same.
//
// Start-up makes 1 + 8 x 143 = 1145 transfers; the positions tried are the
// reset, all of port 0, all of port 7 and every 11th one in between
// (ports 1 to 6 repeat port 0's sequence on their own channel).
#include "ChipState.h"
#include "LiuDrvInternal.h"
#include "LiuSimTest.h"
#include "TransferText.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using hardening::RegisterFile;
using liusim::Access;
using liusim::Transfer;

// The transfers of liuDrv_init(2, 8) on a chip whose registers read 0 after
// the software reset: the reset, then per port the receiver and transmitter
// power-down, the E1 pulse mask (mode bit already clear: read, no write) and
// haul 2 with its line type read-out.
std::vector<Transfer> startupTransfers() {
    std::vector<Transfer> sequence;
    const auto add = [&](Access access, unsigned channel, uint8_t reg, uint8_t value) {
        sequence.push_back({{}, access, static_cast<uint8_t>(channel), reg, value, true});
    };
    const auto W = [&](unsigned ch, uint8_t reg, uint8_t value) {
        add(Access::Write, ch, reg, value);
    };
    const auto R = [&](unsigned ch, uint8_t reg) { add(Access::Read, ch, reg, 0); };

    W(0, 0x04, 0x01);
    for (unsigned port = 0; port < 8; ++port) {
        R(port, 0x28), W(port, 0x28, 0x10);
        R(port, 0x22), W(port, 0x22, 0x10);
        R(port, 0x22), W(port, 0x22, 0x10);
        R(port, 0x28), W(port, 0x28, 0x14);
        W(port, 0x2C, 0x02);
        R(port, 0x20);
        W(port, 0x32, 0x09), W(port, 0x2A, 0x18), W(port, 0x23, 0x01);
        R(port, 0x29);
        for (unsigned ui = 0; ui < 4; ++ui) {
            for (unsigned index = 0; index < 16; ++index) {
                W(port, 0x25, static_cast<uint8_t>(0xC0 + ui * 16 + index));
                R(port, 0x26);
            }
        }
        W(port, 0x29, 0x54);
    }
    return sequence;
}

// Failure positions tried: the reset and all of port 0, all of the last port,
// and every 11th position in between.
std::vector<std::size_t> startupPositions() {
    const std::size_t total = startupTransfers().size();
    const std::size_t perPort = (total - 1) / 8;
    std::vector<std::size_t> positions;
    for (std::size_t k = 1; k <= total; ++k) {
        const bool firstPort = k <= 1 + perPort;
        const bool lastPort = k > total - perPort;
        if (firstPort || lastPort || (k - 1 - perPort) % 11 == 0) {
            positions.push_back(k);
        }
    }
    return positions;
}

class StartupFailure : public LiuSimTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(StartupFailure, StopsAtTheFailedTransferAndStaysInitialised) {
    const std::size_t k = GetParam();
    const std::vector<Transfer> clean = startupTransfers();
    hardening::presetBusyChip(chip());
    chip().setAlarmStatus(5, 0x91);
    const RegisterFile powerOn = hardening::registerFile(chip());
    const hardening::Samples samplesBefore = hardening::samples(chip());
    chip().clearLog();
    chip().failTransfer(k);

    const int rc = liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8);

    // A failed read-out inside haul 2's line type read is refused with -1.
    EXPECT_EQ(rc, hardening::isReadout(clean[k - 1]) ? -1 : 1) << liusim::describe(clean[k - 1]);
    EXPECT_EQ(liuDrv_inited, 1);
    EXPECT_EQ(liuDrv_maxPorts, 8);
    EXPECT_EQ(liuDrv_inoutType, LIUDRV_INOUT_SYMMETRICAL);

    const std::vector<Transfer> log = chip().log();
    ASSERT_EQ(log.size(), k);
    // Before the reset the chip holds the preset; after it, only the alarm
    // status survives, then every write up to the failed one lands.
    RegisterFile expected = powerOn;
    if (k > 1) {
        for (auto& bank : expected) {
            const uint8_t status = bank[hardening::kAlarmStatus];
            bank.fill(0);
            bank[hardening::kAlarmStatus] = status;
        }
    }
    for (std::size_t i = 0; i < k; ++i) {
        hardening::expectSameTransfer(log[i], clean[i], i + 1);
        EXPECT_EQ(log[i].ok, i + 1 != k) << "transfer " << i + 1;
        if (i > 0 && i + 1 != k) {
            hardening::applyWrite(expected, clean[i]);
        }
    }
    const RegisterFile after = hardening::registerFile(chip());
    EXPECT_EQ(after, expected) << hardening::registerDifferences(after, expected);
    EXPECT_EQ(hardening::samples(chip()), samplesBefore);
    EXPECT_EQ(hardening::tracesContaining(0, "SPI read failure!").size(), 1u);
    EXPECT_TRUE(tracesWithFormat("%s() DONE").empty());

    // Initialised all the same: a second start-up is refused without a transfer.
    chip().clearLog();
    EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), -1);
    EXPECT_TRUE(chip().log().empty());
}

INSTANTIATE_TEST_SUITE_P(Positions, StartupFailure, ::testing::ValuesIn(startupPositions()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "at%04zu", info.param);
                             return std::string(name);
                         });

// The generated start-up sequence is the one the library really makes: a
// clean start-up on the same preset chip.
using StartupSequence = LiuSimTest;

TEST_F(StartupSequence, IsTheOneTheSweepExpects) {
    hardening::presetBusyChip(chip());
    chip().clearLog();

    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);

    const std::vector<Transfer> clean = startupTransfers();
    const std::vector<Transfer> log = chip().log();
    ASSERT_EQ(log.size(), clean.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
        hardening::expectSameTransfer(log[i], clean[i], i + 1);
    }
}

} // namespace
