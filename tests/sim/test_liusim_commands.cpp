// SPDX-License-Identifier: MIT
// liusim's command language and scenario files: what each command does to
// the chip, and that bad input is refused with a message naming the problem
// (and, in a scenario, the line).
#include "Command.h"
#include "Scenario.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using liusim::Command;
using liusim::CommandError;
using liusim::FrameResult;
using liusim::LiuModel;
using liusim::Scenario;
using ::testing::HasSubstr;

std::string refusal(const std::string& text) {
    try {
        Command::parse(text);
    } catch (const CommandError& error) {
        return error.what();
    }
    return "accepted";
}

Scenario scenarioOf(const std::string& text) {
    std::istringstream in(text);
    return Scenario::read(in, "test.scenario");
}

std::string scenarioRefusal(const std::string& text) {
    try {
        scenarioOf(text);
    } catch (const CommandError& error) {
        return error.what();
    }
    return "accepted";
}

FrameResult readOnce(LiuModel& model) {
    std::array<std::uint8_t, 3> frame{0x80, 0x36, 0x00};
    std::array<std::uint8_t, 3> answer{};
    return model.exchange(LiuModel::Frame(frame), LiuModel::Answer(answer));
}

// ---- Commands -------------------------------------------------------------------------

TEST(LiusimCommand, AlarmRaisesAndClearsOneIndication) {
    LiuModel model;
    model.setAlarmStatus(2, 0x02);

    Command::parse("alarm 2 los on").apply(model);
    EXPECT_EQ(model.reg(2, 0x36), 0x03);
    Command::parse("  alarm 2   ais off ").apply(model);
    EXPECT_EQ(model.reg(2, 0x36), 0x01);
    Command::parse("alarm 15 eq on").apply(model);
    EXPECT_EQ(model.reg(15, 0x36), 0x80);
}

TEST(LiusimCommand, EveryAlarmNameHasItsStatusBit) {
    const std::pair<const char*, std::uint8_t> names[] = {
        {"los", 0x01}, {"ais", 0x02}, {"df", 0x04}, {"tlos", 0x08}, {"prbs", 0x10}, {"eq", 0x80}};
    for (const auto& [name, bit] : names) {
        LiuModel model;
        Command::parse(std::string("alarm 4 ") + name + " on").apply(model);
        EXPECT_EQ(model.reg(4, 0x36), bit) << name;
    }
}

TEST(LiusimCommand, StatusSetsTheWholeRegister) {
    LiuModel model;
    model.setAlarmStatus(3, 0xFF);

    Command::parse("status 3 0x91").apply(model);
    EXPECT_EQ(model.reg(3, 0x36), 0x91);
    Command::parse("status 3 16").apply(model);
    EXPECT_EQ(model.reg(3, 0x36), 0x10);
}

TEST(LiusimCommand, FailCommandsInjectAndCancelFaults) {
    LiuModel model;
    Command::parse("fail next").apply(model);
    EXPECT_EQ(readOnce(model), FrameResult::Failed);
    EXPECT_EQ(readOnce(model), FrameResult::Done);

    Command::parse("fail transfer 2").apply(model);
    EXPECT_EQ(readOnce(model), FrameResult::Done);
    EXPECT_EQ(readOnce(model), FrameResult::Failed);

    Command::parse("fail from 1").apply(model);
    Command::parse("fail open on").apply(model);
    EXPECT_EQ(readOnce(model), FrameResult::Failed);
    EXPECT_TRUE(model.openRefused());

    Command::parse("fail none").apply(model);
    EXPECT_EQ(readOnce(model), FrameResult::Done);
    EXPECT_FALSE(model.openRefused());
}

TEST(LiusimCommand, BadCommandsAreRefusedWithTheReason) {
    EXPECT_EQ(refusal(""), "empty command");
    EXPECT_THAT(refusal("raise 2 los"), HasSubstr("unknown command 'raise'"));
    EXPECT_THAT(refusal("alarm 16 los on"), HasSubstr("bad channel '16' (expected 0..15)"));
    EXPECT_THAT(refusal("alarm -1 los on"), HasSubstr("bad channel '-1'"));
    EXPECT_THAT(refusal("alarm two los on"), HasSubstr("bad channel 'two'"));
    EXPECT_THAT(refusal("alarm 2 lso on"), HasSubstr("unknown alarm 'lso'"));
    EXPECT_THAT(refusal("alarm 2 los maybe"), HasSubstr("expected on or off, not 'maybe'"));
    EXPECT_THAT(refusal("alarm 2 los"), HasSubstr("usage: alarm CHANNEL"));
    EXPECT_THAT(refusal("status 3 0x100"), HasSubstr("bad status value '0x100' (expected 0..255)"));
    EXPECT_THAT(refusal("fail from 0"),
                HasSubstr("bad transfer number '0' (expected 1..4294967295)"));
    EXPECT_THAT(refusal("fail transfer"), HasSubstr("usage: fail transfer K"));
    EXPECT_THAT(refusal("fail sometimes"), HasSubstr("usage: fail next"));
    EXPECT_THAT(refusal("fail next 2"), HasSubstr("usage: fail next"));
}

// ---- Scenarios ------------------------------------------------------------------------

TEST(LiusimScenario, StepsRunInTimeOrderWhenDue) {
    LiuModel model;
    Scenario scenario = scenarioOf("# comment line\n"
                                   "2.0 alarm 1 los off   # trailing comment\n"
                                   "\n"
                                   "0.5 alarm 1 los on\n"
                                   "0.5 alarm 1 ais on\n");

    scenario.runDue(Scenario::Seconds(0), model);
    EXPECT_EQ(model.reg(1, 0x36), 0x00);
    EXPECT_EQ(scenario.nextTime(), Scenario::Seconds(0.5));

    scenario.runDue(Scenario::Seconds(1.0), model);
    EXPECT_EQ(model.reg(1, 0x36), 0x03);
    EXPECT_EQ(scenario.nextTime(), Scenario::Seconds(2.0));

    scenario.runDue(Scenario::Seconds(2.0), model);
    EXPECT_EQ(model.reg(1, 0x36), 0x02);
    EXPECT_EQ(scenario.nextTime(), std::nullopt);
}

TEST(LiusimScenario, StepsWithTheSameTimeKeepTheirFileOrder) {
    LiuModel model;
    Scenario scenario = scenarioOf("1 status 0 0x01\n1 status 0 0x02\n1 status 0 0x03\n");

    scenario.runDue(Scenario::Seconds(1), model);

    EXPECT_EQ(model.reg(0, 0x36), 0x03);
}

TEST(LiusimScenario, BadLinesAreRefusedWithFileAndLine) {
    EXPECT_EQ(scenarioRefusal("1 alarm 2 los on\n\n3 alarm 2 lso on\n"),
              "test.scenario:3: unknown alarm 'lso' (expected los, ais, df, tlos, prbs or eq)");
    EXPECT_THAT(scenarioRefusal("soon alarm 2 los on\n"),
                HasSubstr("test.scenario:1: expected a time in seconds"));
    EXPECT_THAT(scenarioRefusal("-1 alarm 2 los on\n"), HasSubstr("test.scenario:1:"));
    EXPECT_THAT(scenarioRefusal("1.5\n"), HasSubstr("followed by a command"));
    EXPECT_THAT(scenarioRefusal("inf fail next\n"), HasSubstr("test.scenario:1:"));
}

TEST(LiusimScenario, MissingFileIsRefused) {
    EXPECT_THROW(Scenario::load("/nonexistent/liusim.scenario"), CommandError);
}

} // namespace
