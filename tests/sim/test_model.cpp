// SPDX-License-Identifier: MIT
// The simulated chip on its own: frames in, register file, waveform memory,
// alarm status, software reset, transfer log and fault injection.
#include "LiuModel.h"
#include "TransferText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using liusim::Access;
using liusim::FrameResult;
using liusim::LiuModel;
using liusim::Transfer;
using ::testing::ElementsAre;

using Bytes = std::array<std::uint8_t, 3>;

constexpr std::uint8_t kAlarmStatus = 0x36;
constexpr std::uint8_t kSampleAddress = 0x25;
constexpr std::uint8_t kSampleData = 0x26;

std::uint8_t sampleAddress(unsigned ui, unsigned index) {
    return static_cast<std::uint8_t>(0xC0 | (ui << 4) | index);
}

class ModelTest : public ::testing::Test {
  protected:
    FrameResult exchange(const Bytes& frame, Bytes& answer) {
        return model_.exchange(LiuModel::Frame(frame), LiuModel::Answer(answer));
    }

    FrameResult write(unsigned channel, std::uint8_t reg, std::uint8_t value) {
        Bytes answer{0xEE, 0xEE, 0xEE};
        return exchange({static_cast<std::uint8_t>(channel), reg, value}, answer);
    }

    // The value answered, or 0xEE when the read gave no answer.
    std::uint8_t read(unsigned channel, std::uint8_t reg) {
        Bytes answer{0xEE, 0xEE, 0xEE};
        exchange({static_cast<std::uint8_t>(0x80 | channel), reg, 0}, answer);
        return answer[2];
    }

    std::vector<std::string> logText() const {
        std::vector<std::string> lines;
        for (const Transfer& transfer : model_.log()) {
            lines.push_back(liusim::describe(transfer));
        }
        return lines;
    }

    LiuModel model_;
};

// ---- Frames and the register file ---------------------------------------------

TEST_F(ModelTest, ReadAnswersZerosThenTheValueAndWriteAnswersZeros) {
    model_.setReg(9, 0x2B, 0x05);
    Bytes readAnswer{0xEE, 0xEE, 0xEE};
    Bytes writeAnswer{0xEE, 0xEE, 0xEE};

    EXPECT_EQ(exchange({0x89, 0x2B, 0x00}, readAnswer), FrameResult::Done);
    EXPECT_EQ(exchange({0x09, 0x2B, 0x06}, writeAnswer), FrameResult::Done);

    EXPECT_EQ(readAnswer, (Bytes{0x00, 0x00, 0x05}));
    EXPECT_EQ(writeAnswer, (Bytes{0x00, 0x00, 0x00}));
    EXPECT_EQ(model_.reg(9, 0x2B), 0x06);
}

TEST_F(ModelTest, EachChannelHasItsOwnBankAndGlobalRegistersShareBankZero) {
    for (unsigned channel = 0; channel < LiuModel::kChannels; ++channel) {
        write(channel, 0x22, static_cast<std::uint8_t>(0x40 + channel));
    }
    write(0, 0x07, 0x1A);

    for (unsigned channel = 0; channel < LiuModel::kChannels; ++channel) {
        EXPECT_EQ(read(channel, 0x22), 0x40 + channel) << "channel " << channel;
    }
    EXPECT_EQ(model_.reg(0, 0x07), 0x1A);
    EXPECT_EQ(model_.reg(1, 0x07), 0x00);
}

TEST_F(ModelTest, MalformedFramesAreRefusedUnloggedAndUncounted) {
    Bytes answer{0xEE, 0xEE, 0xEE};

    EXPECT_EQ(exchange({0x13, 0x22, 0x01}, answer), FrameResult::Malformed);
    EXPECT_EQ(exchange({0x83, 0x22, 0x01}, answer), FrameResult::Malformed);

    EXPECT_EQ(model_.reg(3, 0x22), 0x00);
    EXPECT_EQ(answer, (Bytes{0xEE, 0xEE, 0xEE}));
    EXPECT_TRUE(model_.log().empty());
    EXPECT_EQ(model_.transferCount(), 0u);
}

TEST_F(ModelTest, FrameFaultExplainsWhatIsWrong) {
    EXPECT_EQ(LiuModel::frameFault(Bytes{0x43, 0x22, 0x00}),
              "frame 0x43 0x22 0x00: bits 6-4 of byte 0 must be 0");
    EXPECT_EQ(LiuModel::frameFault(Bytes{0x8f, 0x36, 0xff}),
              "frame 0x8f 0x36 0xff: byte 2 of a read must be 0");
    EXPECT_EQ(LiuModel::frameFault(Bytes{0x8f, 0x36, 0x00}), std::nullopt);
    EXPECT_EQ(LiuModel::frameFault(Bytes{0x0f, 0x36, 0xff}), std::nullopt);
}

// ---- Alarm status -------------------------------------------------------------------

TEST_F(ModelTest, AlarmStatusIsReadOnlyFromTheBus) {
    model_.setAlarmStatus(2, 0x11);

    EXPECT_EQ(write(2, kAlarmStatus, 0x00), FrameResult::Done);

    EXPECT_EQ(read(2, kAlarmStatus), 0x11);
    EXPECT_THAT(logText(), ElementsAre("W ch2 0x36 <- 0x00", "R ch2 0x36 -> 0x11"));
}

TEST_F(ModelTest, AlarmsAreRaisedAndClearedBitByBit) {
    model_.raiseAlarm(6, 0x01);
    model_.raiseAlarm(6, 0x80);
    EXPECT_EQ(model_.reg(6, kAlarmStatus), 0x81);

    model_.clearAlarm(6, 0x01);
    EXPECT_EQ(model_.reg(6, kAlarmStatus), 0x80);
    EXPECT_EQ(model_.reg(5, kAlarmStatus), 0x00);
}

// ---- Waveform sample memory --------------------------------------------------------

TEST_F(ModelTest, SampleDataGoesToTheAddressedUiAndSample) {
    write(4, kSampleAddress, sampleAddress(2, 13));
    write(4, kSampleData, 0x3C);

    EXPECT_EQ(model_.sample(4, 2, 13), 0x3C);
    EXPECT_EQ(model_.sample(4, 2, 12), 0x00);
    EXPECT_EQ(model_.sample(4, 1, 13), 0x00);
    EXPECT_EQ(model_.sample(5, 2, 13), 0x00);
    EXPECT_EQ(read(4, kSampleAddress), sampleAddress(2, 13));
}

TEST_F(ModelTest, SampleDataReadsTheLastWrittenAddress) {
    model_.setSample(1, 3, 0, 0x11);
    model_.setSample(1, 0, 15, 0x22);

    write(1, kSampleAddress, sampleAddress(3, 0));
    EXPECT_EQ(read(1, kSampleData), 0x11);
    write(1, kSampleAddress, sampleAddress(0, 15));
    EXPECT_EQ(read(1, kSampleData), 0x22);
}

TEST_F(ModelTest, AddressWithoutSelectBitsSelectsNoSample) {
    model_.setSample(1, 0, 5, 0x77);

    write(1, kSampleAddress, 0x05);
    EXPECT_EQ(read(1, kSampleData), 0x00);
    write(1, kSampleData, 0x99);

    for (unsigned ui = 0; ui < LiuModel::kUis; ++ui) {
        for (unsigned index = 0; index < LiuModel::kSamplesPerUi; ++index) {
            const std::uint8_t expected = (ui == 0 && index == 5) ? 0x77 : 0x00;
            EXPECT_EQ(model_.sample(1, ui, index), expected) << "UI " << ui << " sample " << index;
        }
    }
}

TEST_F(ModelTest, ControlSideDataRegisterFollowsTheSampleAddress) {
    model_.setReg(0, kSampleAddress, sampleAddress(1, 7));
    model_.setReg(0, kSampleData, 0x5A);

    EXPECT_EQ(model_.sample(0, 1, 7), 0x5A);
    EXPECT_EQ(model_.reg(0, kSampleData), 0x5A);
}

// ---- Software reset ------------------------------------------------------------------

TEST_F(ModelTest, SoftwareResetClearsRegistersButKeepsAlarmsAndSamples) {
    model_.setReg(0, 0x07, 0x1A);
    model_.setReg(3, 0x22, 0x13);
    model_.setReg(15, 0x29, 0x54);
    model_.setAlarmStatus(3, 0x05);
    model_.setSample(3, 1, 2, 0x44);

    write(0, 0x04, 0x01);

    EXPECT_EQ(model_.reg(0, 0x07), 0x00);
    EXPECT_EQ(model_.reg(3, 0x22), 0x00);
    EXPECT_EQ(model_.reg(15, 0x29), 0x00);
    EXPECT_EQ(model_.reg(3, kAlarmStatus), 0x05);
    EXPECT_EQ(model_.sample(3, 1, 2), 0x44);
    EXPECT_EQ(read(0, 0x04), 0x00) << "the reset bit clears itself";
}

TEST_F(ModelTest, ResetRegisterOfOtherChannelsAndBitZeroClearAreOrdinary) {
    model_.setReg(3, 0x22, 0x13);

    write(3, 0x04, 0x01);
    write(0, 0x04, 0x02);

    EXPECT_EQ(model_.reg(3, 0x22), 0x13);
    EXPECT_EQ(model_.reg(3, 0x04), 0x01);
    EXPECT_EQ(model_.reg(0, 0x04), 0x02);
}

TEST_F(ModelTest, ControlSidePokeOfTheResetRegisterDoesNotReset) {
    model_.setReg(2, 0x22, 0x10);
    model_.setReg(0, 0x04, 0x01);

    EXPECT_EQ(model_.reg(0, 0x04), 0x01);
    EXPECT_EQ(model_.reg(2, 0x22), 0x10);
}

// ---- Transfer log ----------------------------------------------------------------------

TEST_F(ModelTest, LogRecordsEveryFieldInOrder) {
    model_.setReg(2, 0x36, 0x01);
    write(3, 0x23, 0x08);
    read(2, 0x36);

    const auto log = model_.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].access, Access::Write);
    EXPECT_EQ(log[0].channel, 3);
    EXPECT_EQ(log[0].reg, 0x23);
    EXPECT_EQ(log[0].value, 0x08);
    EXPECT_TRUE(log[0].ok);
    EXPECT_EQ(log[1].access, Access::Read);
    EXPECT_EQ(log[1].channel, 2);
    EXPECT_EQ(log[1].reg, 0x36);
    EXPECT_EQ(log[1].value, 0x01);
    EXPECT_LE(log[0].time, log[1].time);
}

TEST_F(ModelTest, ClearLogKeepsTheTransferCount) {
    write(1, 0x20, 0x01);
    model_.clearLog();
    write(1, 0x20, 0x00);

    EXPECT_THAT(logText(), ElementsAre("W ch1 0x20 <- 0x00"));
    EXPECT_EQ(model_.transferCount(), 2u);
}

TEST_F(ModelTest, TransferListenerSeesEachLoggedTransfer) {
    std::vector<std::string> seen;
    model_.setTransferListener([&](const Transfer& t) { seen.push_back(liusim::describe(t)); });
    model_.failTransfer(2);

    write(0, 0x07, 0x09);
    read(0, 0x07);
    model_.setTransferListener({});
    read(0, 0x07);

    EXPECT_THAT(seen, ElementsAre("W global 0x07 <- 0x09", "R global 0x07 -> -- FAILED"));
}

TEST_F(ModelTest, DescriptionNamesOnlyKnownGlobalRegistersGlobal) {
    const auto at = std::chrono::steady_clock::now();
    EXPECT_EQ(liusim::describe({at, Access::Write, 0, 0x04, 0x01, true}), "W global 0x04 <- 0x01");
    EXPECT_EQ(liusim::describe({at, Access::Read, 0, 0x07, 0x1a, true}), "R global 0x07 -> 0x1a");
    EXPECT_EQ(liusim::describe({at, Access::Read, 0, 0x36, 0x00, true}), "R ch0 0x36 -> 0x00");
    EXPECT_EQ(liusim::describe({at, Access::Write, 5, 0x04, 0x01, false}),
              "W ch5 0x04 <- 0x01 FAILED");
}

// ---- Fault injection ----------------------------------------------------------------------

TEST_F(ModelTest, FailTransferCountsFromNowAndCanFailSeveral) {
    write(1, 0x2B, 0x01);
    model_.failTransfer(1);
    model_.failTransfer(3);

    EXPECT_EQ(write(1, 0x2B, 0x02), FrameResult::Failed);
    EXPECT_EQ(write(1, 0x2B, 0x03), FrameResult::Done);
    EXPECT_EQ(write(1, 0x2B, 0x04), FrameResult::Failed);
    EXPECT_EQ(write(1, 0x2B, 0x05), FrameResult::Done);
    EXPECT_EQ(model_.reg(1, 0x2B), 0x05);
    EXPECT_EQ(model_.transferCount(), 5u);
}

TEST_F(ModelTest, FailedFramesChangeNothingEvenAResetOrSample) {
    model_.setReg(3, 0x22, 0x13);
    model_.setReg(3, kSampleAddress, sampleAddress(0, 0));
    model_.failFrom(1);

    EXPECT_EQ(write(0, 0x04, 0x01), FrameResult::Failed);
    EXPECT_EQ(write(3, kSampleData, 0x66), FrameResult::Failed);
    EXPECT_EQ(read(3, 0x22), 0xEE) << "a failed read gives no answer";

    EXPECT_EQ(model_.reg(3, 0x22), 0x13);
    EXPECT_EQ(model_.sample(3, 0, 0), 0x00);
}

TEST_F(ModelTest, FailFromLastsUntilFaultsAreCleared) {
    model_.failFrom(2);

    EXPECT_EQ(write(1, 0x20, 0x01), FrameResult::Done);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(write(1, 0x20, 0x00), FrameResult::Failed);
    }
    model_.clearFaults();
    EXPECT_EQ(write(1, 0x20, 0x00), FrameResult::Done);
}

TEST_F(ModelTest, TransferNumberZeroIsRefused) {
    EXPECT_THROW(model_.failTransfer(0), std::invalid_argument);
    EXPECT_THROW(model_.failFrom(0), std::invalid_argument);
    EXPECT_EQ(write(1, 0x20, 0x01), FrameResult::Done);
}

TEST_F(ModelTest, OpenRefusalIsReportedToItsListener) {
    std::vector<bool> changes;
    model_.setOpenRefusalListener([&](bool refused) { changes.push_back(refused); });

    model_.failOpen(true);
    EXPECT_TRUE(model_.openRefused());
    model_.failOpen(false);
    EXPECT_FALSE(model_.openRefused());

    EXPECT_THAT(changes, ElementsAre(true, false));
}

// ---- Control side input and power-on -----------------------------------------------------

TEST_F(ModelTest, OutOfRangeControlArgumentsThrowAndChangeNothing) {
    EXPECT_THROW(model_.reg(16, 0x22), std::out_of_range);
    EXPECT_THROW(model_.setReg(16, 0x22, 1), std::out_of_range);
    EXPECT_THROW(model_.setAlarmStatus(16, 1), std::out_of_range);
    EXPECT_THROW(model_.raiseAlarm(99, 1), std::out_of_range);
    EXPECT_THROW(model_.sample(0, 4, 0), std::out_of_range);
    EXPECT_THROW(model_.setSample(0, 0, 16, 1), std::out_of_range);
    EXPECT_THROW(model_.setSample(16, 0, 0, 1), std::out_of_range);

    for (unsigned channel = 0; channel < LiuModel::kChannels; ++channel) {
        EXPECT_EQ(model_.reg(channel, 0x22), 0x00);
        EXPECT_EQ(model_.reg(channel, kAlarmStatus), 0x00);
    }
}

TEST_F(ModelTest, PowerOnRestoresEverything) {
    std::vector<bool> openChanges;
    model_.setOpenRefusalListener([&](bool refused) { openChanges.push_back(refused); });
    model_.setReg(3, 0x22, 0x13);
    model_.setAlarmStatus(3, 0x01);
    model_.setSample(3, 0, 0, 0x44);
    write(3, 0x23, 0x08);
    model_.failFrom(1);
    model_.failOpen(true);

    model_.powerOn();

    EXPECT_EQ(model_.reg(3, 0x22), 0x00);
    EXPECT_EQ(model_.reg(3, kAlarmStatus), 0x00);
    EXPECT_EQ(model_.sample(3, 0, 0), 0x00);
    EXPECT_TRUE(model_.log().empty());
    EXPECT_EQ(model_.transferCount(), 0u);
    EXPECT_FALSE(model_.openRefused());
    EXPECT_THAT(openChanges, ElementsAre(true, false));
    EXPECT_EQ(write(3, 0x23, 0x09), FrameResult::Done);
}

} // namespace
