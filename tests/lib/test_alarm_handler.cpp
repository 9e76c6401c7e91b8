// SPDX-License-Identifier: MIT
// Alarm handler: the poll over every usable port and indication, the alarm
// state table (1 initial, 2 active, 3 inactive), the change lines of the
// trace with the suppression of AIS and EQ while LOS is active, the copy to
// the caller, and the refusals.
#include "AlarmTesting.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

using namespace alarmtest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// ---- Start-up state, the poll's bus accesses and its traces -----------------

TEST_F(AlarmHandlerTest, FirstCleanPollTracesOnlyItsEntryAndCopiesAllInitial) {
    init();
    chip().setAlarmStatus(3, 0x60); // bits 5 and 6 are no indication

    poll();

    expectTable({});
    EXPECT_EQ(busAccesses(), pollOfPorts(8));
    const auto all = traces();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].text, "liuDrv_alarmHandler(alarmstate=" + pointerText(buffer_.table) + ")");
    EXPECT_EQ(all[0].format, "%s(alarmstate=%p)");
    EXPECT_EQ(all[0].id, liuTsId);
    EXPECT_EQ(all[0].level, LIUDRV_TRACE_LEVEL_DETAIL);
    EXPECT_EQ(all[0].mask, LIUDRV_TRACE_MASK);
    EXPECT_EQ(all[0].source, librarySource_);
    EXPECT_GT(all[0].line, 0);
}

// 48 reads for 8 ports, in port order and within a port one per indication;
// nothing is written.
TEST_F(AlarmHandlerTest, PollReadsEveryIndicationOfEveryPortInOrder) {
    init();
    for (unsigned channel = 0; channel < 16; ++channel) {
        chip().setAlarmStatus(channel, 0xFF);
    }

    poll();
    EXPECT_EQ(busAccesses(), pollOfPorts(8));

    chip().clearLog();
    poll();
    EXPECT_EQ(busAccesses(), pollOfPorts(8));
}

// The change line's call shape; the handler traces with the library's
// source module like every other operation.
TEST_F(AlarmHandlerTest, ChangeLineIsACallTrace) {
    init();
    chip().setAlarmStatus(0, kLos.mask);

    liutrace::clear();
    poll();

    const auto lines = tracesWithFormat(kChangeFormat);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "======== LIU[0] LOS    active ========");
    EXPECT_EQ(lines[0].id, liuTsId);
    EXPECT_NE(lines[0].id, -1);
    EXPECT_EQ(lines[0].level, LIUDRV_TRACE_LEVEL_CALL);
    EXPECT_EQ(lines[0].mask, LIUDRV_TRACE_MASK);
    EXPECT_EQ(lines[0].source, librarySource_);
    EXPECT_GT(lines[0].line, 0);
}

// ---- The state of one indication over a sequence of polls -------------------

class AlarmStateTest : public AlarmHandlerTest, public ::testing::WithParamInterface<Indication> {};

TEST_P(AlarmStateTest, FollowsTheReadingsAndTracesEveryChange) {
    const Indication indication = GetParam();
    init();
    struct Step {
        bool present;
        std::int32_t state;
        const char* traced; // nullptr: no change line
    };
    const Step steps[] = {
        {false, LIUDRV_ALARM_INITIAL, nullptr}, // never seen: stays initial
        {false, LIUDRV_ALARM_INITIAL, nullptr},
        {true, LIUDRV_ALARM_ACTIVE, kActive},
        {true, LIUDRV_ALARM_ACTIVE, nullptr},
        {false, LIUDRV_ALARM_INACTIVE, kInactive},
        {false, LIUDRV_ALARM_INACTIVE, nullptr},
        {true, LIUDRV_ALARM_ACTIVE, kActive}, // re-active from inactive
        {false, LIUDRV_ALARM_INACTIVE, kInactive},
    };
    int number = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("poll " + std::to_string(++number));
        // Bits 5 and 6 stay set throughout: they are no indication.
        chip().setAlarmStatus(
            3, static_cast<std::uint8_t>(0x60 | (step.present ? indication.mask : 0)));
        const auto lines = pollChanges();
        if (step.traced != nullptr) {
            EXPECT_THAT(lines, ElementsAre(change(3, indication.name, step.traced)));
        } else {
            EXPECT_THAT(lines, IsEmpty());
        }
        if (step.state == LIUDRV_ALARM_INITIAL) {
            expectTable({});
        } else {
            expectTable({{3, indication.eventId, step.state}});
        }
    }
}

// A null buffer: the poll runs and traces, nothing is copied, result 0; the
// state it recorded shows in the next copy.
TEST_P(AlarmStateTest, NullBufferPollsAndTraces) {
    const Indication indication = GetParam();
    init();
    chip().setAlarmStatus(4, indication.mask);

    EXPECT_EQ(liuDrv_alarmHandler(nullptr), 0);

    EXPECT_EQ(busAccesses(), pollOfPorts(8));
    EXPECT_THAT(traceTexts(),
                ElementsAre("liuDrv_alarmHandler(alarmstate=" + pointerText(nullptr) + ")",
                            change(4, indication.name, kActive)));
    EXPECT_THAT(pollChanges(), IsEmpty());
    expectTable({{4, indication.eventId, LIUDRV_ALARM_ACTIVE}});
}

// A failed read of one indication mid-poll: the poll goes on, and the
// reader's answer (its mask) makes that indication active.
TEST_P(AlarmStateTest, FailedReadMidPollMakesTheIndicationActive) {
    const Indication indication = GetParam();
    init();
    const int port = 5;
    chip().failTransfer(static_cast<std::uint64_t>(port * 6 + indication.eventId));

    liutrace::clear();
    poll();

    std::vector<std::string> expectedReads = pollOfPorts(8);
    expectedReads[static_cast<std::size_t>(port * 6 + indication.eventId - 1)] += " FAILED";
    EXPECT_EQ(busAccesses(), expectedReads);
    EXPECT_THAT(tracesBesidesEntry(), ElementsAre("liuDrv_read: SPI read failure!",
                                                  change(port, indication.name, kActive)));
    expectTable({{port, indication.eventId, LIUDRV_ALARM_ACTIVE}});

    EXPECT_THAT(pollChanges(), ElementsAre(change(port, indication.name, kInactive)));
    expectTable({{port, indication.eventId, LIUDRV_ALARM_INACTIVE}});
}

INSTANTIATE_TEST_SUITE_P(Indications, AlarmStateTest, ::testing::ValuesIn(kIndications),
                         indicationName);

// All indications of all ports at once: changes come out in poll order, and
// AIS and EQ are stored but not traced because LOS of the same port is active.
TEST_F(AlarmHandlerTest, AllIndicationsOfAllPortsInPollOrder) {
    init();
    for (unsigned channel = 0; channel < 8; ++channel) {
        chip().setAlarmStatus(channel, 0xFF);
    }

    const auto lines = pollChanges();

    std::vector<std::string> expected;
    std::vector<Entry> active;
    for (int port = 0; port < 8; ++port) {
        for (const Indication& indication : kIndications) {
            active.push_back({port, indication.eventId, LIUDRV_ALARM_ACTIVE});
            if (indication.eventId != LIUDRV_EVENT_AIS && indication.eventId != LIUDRV_EVENT_EQ) {
                expected.push_back(change(port, indication.name, kActive));
            }
        }
    }
    EXPECT_EQ(lines, expected);
    expectTable(active);
}

// A dead bus from the first read on: every indication of every port becomes
// active, with one read failure traced per read.
TEST_F(AlarmHandlerTest, DeadBusShowsEveryIndicationActive) {
    init();
    chip().failFrom(1);

    liutrace::clear();
    poll();

    EXPECT_EQ(tracesWithFormat("%s: SPI read failure!").size(), 48u);
    EXPECT_EQ(changes().size(), 8u * 4u); // AIS and EQ are hidden behind LOS
    std::vector<Entry> active;
    for (int port = 0; port < 8; ++port) {
        for (const Indication& indication : kIndications) {
            active.push_back({port, indication.eventId, LIUDRV_ALARM_ACTIVE});
        }
    }
    expectTable(active);
}

// ---- AIS and EQ while LOS of the same port is active ------------------------

struct Poll {
    std::uint8_t status; // register 0x36 of port 1
    std::vector<std::string> traced;
    std::int32_t los;
    std::int32_t follower; // AIS or EQ
};

class LosSuppressionTest : public AlarmHandlerTest,
                           public ::testing::WithParamInterface<Indication> {
  protected:
    void run(const std::vector<Poll>& polls) {
        const Indication follower = GetParam();
        init();
        int number = 0;
        for (const Poll& step : polls) {
            SCOPED_TRACE("poll " + std::to_string(++number));
            chip().setAlarmStatus(1, step.status);
            EXPECT_EQ(pollChanges(), step.traced);
            EXPECT_EQ(state(1, LIUDRV_EVENT_LOS), step.los);
            EXPECT_EQ(state(1, follower.eventId), step.follower);
        }
    }
    std::string los(const char* state) const { return change(1, kLos.name, state); }
    std::string follower(const char* state) const { return change(1, GetParam().name, state); }
    std::uint8_t both() const { return static_cast<std::uint8_t>(kLos.mask | GetParam().mask); }
    std::uint8_t alone() const { return GetParam().mask; }
};

TEST_P(LosSuppressionTest, RisingTogetherThenLosClearsFirst) {
    run({
        {both(), {los(kActive)}, LIUDRV_ALARM_ACTIVE, LIUDRV_ALARM_ACTIVE},
        {alone(), {los(kInactive)}, LIUDRV_ALARM_INACTIVE, LIUDRV_ALARM_ACTIVE},
        {alone(), {}, LIUDRV_ALARM_INACTIVE, LIUDRV_ALARM_ACTIVE},
        {0x00, {follower(kInactive)}, LIUDRV_ALARM_INACTIVE, LIUDRV_ALARM_INACTIVE},
    });
}

TEST_P(LosSuppressionTest, FollowerFirstThenChangesHiddenWhileLosActive) {
    run({
        {alone(), {follower(kActive)}, LIUDRV_ALARM_INITIAL, LIUDRV_ALARM_ACTIVE},
        {both(), {los(kActive)}, LIUDRV_ALARM_ACTIVE, LIUDRV_ALARM_ACTIVE},
        {kLos.mask, {}, LIUDRV_ALARM_ACTIVE, LIUDRV_ALARM_INACTIVE},
        {both(), {}, LIUDRV_ALARM_ACTIVE, LIUDRV_ALARM_ACTIVE},
        {alone(), {los(kInactive)}, LIUDRV_ALARM_INACTIVE, LIUDRV_ALARM_ACTIVE},
        {0x00, {follower(kInactive)}, LIUDRV_ALARM_INACTIVE, LIUDRV_ALARM_INACTIVE},
    });
}

// LOS is recorded before the follower within a poll, so the follower's change
// is judged against the LOS state of that same poll.
TEST_P(LosSuppressionTest, SamePollJudgesAgainstTheFreshLosState) {
    run({
        {alone(), {follower(kActive)}, LIUDRV_ALARM_INITIAL, LIUDRV_ALARM_ACTIVE},
        {kLos.mask, {los(kActive)}, LIUDRV_ALARM_ACTIVE, LIUDRV_ALARM_INACTIVE},
        {both(), {}, LIUDRV_ALARM_ACTIVE, LIUDRV_ALARM_ACTIVE},
        {0x00, {los(kInactive), follower(kInactive)}, LIUDRV_ALARM_INACTIVE, LIUDRV_ALARM_INACTIVE},
    });
}

// LOS of another port hides nothing.
TEST_P(LosSuppressionTest, LosOfAnotherPortHidesNothing) {
    const Indication follower = GetParam();
    init();
    chip().setAlarmStatus(0, kLos.mask);
    chip().setAlarmStatus(1, follower.mask);
    chip().setAlarmStatus(2, kLos.mask);

    EXPECT_THAT(pollChanges(),
                ElementsAre(change(0, kLos.name, kActive), change(1, follower.name, kActive),
                            change(2, kLos.name, kActive)));
}

INSTANTIATE_TEST_SUITE_P(Followers, LosSuppressionTest, ::testing::Values(kAis, kEq),
                         indicationName);

// DF, TLOS and PRBS are traced also while LOS is active.
class TracedUnderLosTest : public AlarmHandlerTest,
                           public ::testing::WithParamInterface<Indication> {};

TEST_P(TracedUnderLosTest, ChangesAreTraced) {
    const Indication indication = GetParam();
    init();
    const auto status = [&](bool present) {
        return static_cast<std::uint8_t>(kLos.mask | (present ? indication.mask : 0));
    };
    chip().setAlarmStatus(6, status(false));
    EXPECT_THAT(pollChanges(), ElementsAre(change(6, kLos.name, kActive)));
    chip().setAlarmStatus(6, status(true));
    EXPECT_THAT(pollChanges(), ElementsAre(change(6, indication.name, kActive)));
    chip().setAlarmStatus(6, status(false));
    EXPECT_THAT(pollChanges(), ElementsAre(change(6, indication.name, kInactive)));
    expectTable({{6, LIUDRV_EVENT_LOS, LIUDRV_ALARM_ACTIVE},
                 {6, indication.eventId, LIUDRV_ALARM_INACTIVE}});
}

INSTANTIATE_TEST_SUITE_P(Indications, TracedUnderLosTest, ::testing::Values(kDf, kTlos, kPrbs),
                         indicationName);

// ---- Start-up and refusal -----------------------------------------------------

// Before start-up: -1, the entry trace then the refusal, nothing read (even
// with a port count written into the exported global), and the caller's
// buffer keeps its contents.
TEST_F(AlarmHandlerTest, RefusedBeforeInitLeavesTheBufferUntouched) {
    chip().setAlarmStatus(0, 0xFF);
    liuDrv_maxPorts = 8;
    GuardedTable buffer;
    std::memset(&buffer, kPattern, sizeof buffer);

    EXPECT_EQ(liuDrv_alarmHandler(buffer.table), -1);

    const auto all = traces();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].text, "liuDrv_alarmHandler(alarmstate=" + pointerText(buffer.table) + ")");
    EXPECT_EQ(all[0].id, -1); // the trace set is not registered yet
    EXPECT_EQ(all[0].level, LIUDRV_TRACE_LEVEL_DETAIL);
    EXPECT_EQ(all[1].text, "liuDrv_alarmHandler: not inited or LIU failure!");
    EXPECT_EQ(all[1].format, "%s: not inited or LIU failure!");
    EXPECT_EQ(all[1].id, LIUDRV_TRACE_ERROR_ID);
    EXPECT_EQ(all[1].level, LIUDRV_TRACE_LEVEL_ERROR);
    EXPECT_EQ(all[1].mask, LIUDRV_TRACE_MASK);
    EXPECT_THAT(busAccesses(), IsEmpty());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&buffer);
    for (std::size_t i = 0; i < sizeof buffer; ++i) {
        ASSERT_EQ(bytes[i], kPattern) << "byte " << i;
    }
}

TEST_F(AlarmHandlerTest, RefusedBeforeInitAlsoWithNullBuffer) {
    EXPECT_EQ(liuDrv_alarmHandler(nullptr), -1);
    EXPECT_THAT(traceTexts(),
                ElementsAre("liuDrv_alarmHandler(alarmstate=" + pointerText(nullptr) + ")",
                            "liuDrv_alarmHandler: not inited or LIU failure!"));
    EXPECT_THAT(busAccesses(), IsEmpty());
}

// The refused second start-up keeps the table: an active LOS still clears
// with its change line.
TEST_F(AlarmHandlerTest, RefusedSecondInitKeepsTheTable) {
    init();
    chip().setAlarmStatus(7, kLos.mask);
    EXPECT_THAT(pollChanges(), ElementsAre(change(7, kLos.name, kActive)));

    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), -1);
    chip().setAlarmStatus(7, 0x00);

    EXPECT_THAT(pollChanges(), ElementsAre(change(7, kLos.name, kInactive)));
    expectTable({{7, LIUDRV_EVENT_LOS, LIUDRV_ALARM_INACTIVE}});
}

// ---- The event recorder on its own ----------------------------------------

// An event id outside 1 to 6 is traced as unknown and changes nothing; so
// does a port without a row in the table.
TEST_F(AlarmHandlerTest, RecorderRefusesUnknownEventsAndPortsWithoutRow) {
    init();
    for (const std::int32_t eventId : {0, 7, -1, INT_MAX}) {
        SCOPED_TRACE(eventId);
        liutrace::clear();
        liuDrv_alarmEventRecord({eventId, 2, 1});
        const auto all = traces();
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(all[0].text, "======== UNKNOW EVENT ID:" + std::to_string(eventId) + " ========");
        EXPECT_EQ(all[0].id, LIUDRV_TRACE_ERROR_ID);
        EXPECT_EQ(all[0].level, LIUDRV_TRACE_LEVEL_ERROR);
        EXPECT_EQ(all[0].mask, LIUDRV_TRACE_MASK);
    }
    liuDrv_alarmEventRecord({7, 15, 1}); // would be entry 0 of row 16
    liuDrv_alarmEventRecord({LIUDRV_EVENT_LOS, 16, 1});
    liuDrv_alarmEventRecord({LIUDRV_EVENT_EQ, 255, 1});
    EXPECT_THAT(busAccesses(), IsEmpty());

    EXPECT_THAT(pollChanges(), IsEmpty());
    expectTable({});
}

// The recorder takes any non-zero reading as present.
TEST_F(AlarmHandlerTest, RecorderTakesAnyNonZeroReadingAsPresent) {
    init();
    liuDrv_alarmEventRecord({LIUDRV_EVENT_DF, 9, -1});
    liuDrv_alarmEventRecord({LIUDRV_EVENT_TLOS, 9, 0x100});
    liuDrv_alarmEventRecord({LIUDRV_EVENT_PRBS, 9, INT_MIN});

    EXPECT_THAT(changes(), ElementsAre(change(9, kDf.name, kActive), change(9, kTlos.name, kActive),
                                       change(9, kPrbs.name, kActive)));
    liutrace::clear();
    poll(); // port 9 is beyond the port count: the poll leaves its row alone
    expectTable({{9, LIUDRV_EVENT_DF, LIUDRV_ALARM_ACTIVE},
                 {9, LIUDRV_EVENT_TLOS, LIUDRV_ALARM_ACTIVE},
                 {9, LIUDRV_EVENT_PRBS, LIUDRV_ALARM_ACTIVE}});
}

} // namespace
