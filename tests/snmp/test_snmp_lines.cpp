// SPDX-License-Identifier: MIT
// liu-snmp's lines without net-snmp: what liud's status and events make of
// each port's dsx1LineStatus and ifOperStatus, which changes are notified,
// and the phases of a SET.  liud, the clock and the notifications are
// recorded by a stand-in.
#include "Lines.h"
#include "Writes.h"

#include <gtest/gtest.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/library/asn1.h>
#include <net-snmp/library/snmp.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace liusnmp {
namespace {

using liuproto::AlarmEvent;
using liuproto::ChipEvent;
using liuproto::Indication;

constexpr long kBase = kDefaultIfIndexBase;
const std::string kPoll = "2026-12-07T10:00:00.000Z";
const std::string kLater = "2026-12-07T10:00:01.000Z";

// The clock, the notifications and liud's set commands, recorded.
struct Board : Uptime, LineEvents, LoopbackSwitch {
    Ticks now() const override { return 500; }
    Ticks at(double) const override { return 400; }
    void log(liutool::Priority, const std::string&) override {}
    void lineStatusChange(const Line& line) override {
        sent.push_back("dsx1 " + std::to_string(line.port) + " " + std::to_string(line.lineStatus));
    }
    void link(const Line& line, bool up) override {
        sent.push_back(std::string(up ? "linkUp " : "linkDown ") + std::to_string(line.port) + " " +
                       std::to_string(line.operStatus));
    }
    // liud takes the first `accepted` switches and refuses the next.
    bool setLoops(unsigned port, Loops& loops, const Loops& to) override {
        sets.push_back({port, loops, to});
        for (const auto& [now, after] : {std::pair{&loops.remote, to.remote},
                                         {&loops.analog, to.analog},
                                         {&loops.digital, to.digital}}) {
            if (*now != after && accepted <= 0) {
                return false;
            }
            accepted -= *now != after ? 1 : 0;
            *now = after;
        }
        return true;
    }
    struct Set {
        unsigned port;
        Loops from, to;
    };
    std::vector<std::string> sent;
    std::vector<Set> sets;
    int accepted = 100;
};

// liud's status of ports 0 to count-1: E1, powered, no alarm, the chip as configured.
liuproto::Status status(unsigned count) {
    liuproto::Status status;
    status.daemon.lastPoll = kPoll;
    for (unsigned port = 0; port < count; ++port) {
        liuproto::PortStatus each;
        each.port = port;
        each.config.lineType = "E1";
        each.config.txPower = each.config.rxPower = true;
        status.ports.push_back(each);
    }
    return status;
}

AlarmEvent los(unsigned port, bool active, const std::string& time = kLater) {
    return {port, Indication::LOS, active, time};
}

// Port 2 without dsx1LineStatusChange, port 3 without linkUp and linkDown.
Config testConfig() {
    Config config;
    config.ports[2].trapEnabled = false;
    config.ports[3].linkTrapEnabled = false;
    return config;
}

class LinesTest : public ::testing::Test {
  protected:
    // dsx1LineStatus and ifOperStatus of every port.
    std::vector<std::pair<long, long>> states() const {
        std::vector<std::pair<long, long>> all;
        for (const Line& line : lines.all()) {
            all.emplace_back(line.lineStatus, line.operStatus);
        }
        return all;
    }
    const Config config = testConfig();
    Board board;
    Lines lines{config, board, board};
};

using States = std::vector<std::pair<long, long>>;
const std::pair<long, long> kUp{kNoAlarm, kIfUp};
const std::pair<long, long> kNotKnown{kOtherFailure, kIfUnknown};
const std::pair<long, long> kLos{kLossOfSignal, kIfDown};
const std::pair<long, long> kAbsent{kNoAlarm, kIfNotPresent};

TEST_F(LinesTest, TheFirstStatusMakesTheRowsAndNotifiesNothing) {
    EXPECT_EQ(lines.find(kBase), nullptr);
    auto first = status(4);
    first.ports[1].config.txPower = first.ports[1].config.rxPower = false; // down: not powered
    first.ports[2].alarms[Indication::AIS] = liuproto::AlarmState::Active;
    first.ports[3].chip.digitalLoop = true; // the chip's, not the configured loopbacks
    lines.status(first);
    EXPECT_EQ(states(), (States{kUp,
                                {kNoAlarm, kIfDown},
                                {kRcvAis, kIfDown},
                                {kLoopbackState, kIfTesting},
                                kAbsent,
                                kAbsent,
                                kAbsent,
                                kAbsent}));
    EXPECT_EQ(lines.all()[0].adminStatus, kIfUp);
    EXPECT_EQ(lines.all()[1].adminStatus, kIfDown);
    EXPECT_EQ(lines.all()[7].adminStatus, kIfDown);
    EXPECT_TRUE(board.sent.empty());
    EXPECT_EQ(lines.find(kBase + 7)->port, 7u);
    EXPECT_EQ(lines.find(kBase + 8), nullptr);
    EXPECT_EQ(lines.find(kBase - 1), nullptr);
}

TEST_F(LinesTest, AlarmEventsAfterTheStatusPollChangeTheLines) {
    lines.status(status(4));
    lines.event(los(0, true, kPoll)); // in the status already
    lines.event(los(5, true));        // a port liud does not have
    lines.event(los(8, true));        // a port the chip does not have
    lines.event(ChipEvent{false, kPoll, 1});
    EXPECT_TRUE(board.sent.empty());
    for (const unsigned port : {0u, 2u, 3u}) {
        lines.event(los(port, true));
    }
    EXPECT_EQ(states(), (States{kLos, kUp, kLos, kLos, kAbsent, kAbsent, kAbsent, kAbsent}));
    // Port 2 without dsx1LineStatusChange, port 3 without linkDown.
    EXPECT_EQ(board.sent,
              (std::vector<std::string>{"dsx1 0 64", "linkDown 0 2", "linkDown 2 2", "dsx1 3 64"}));
    EXPECT_EQ(lines.all()[0].lineStatusChanged, 400u);
    EXPECT_EQ(lines.all()[0].operChanged, 400u);
    lines.event(los(0, false));
    EXPECT_EQ(board.sent.back(), "linkUp 0 1");
    // A change the status brings without liud's time of it: now.
    lines.status(status(4));
    EXPECT_EQ(states()[2], kUp);
    EXPECT_EQ(lines.all()[2].lineStatusChanged, 500u);
}

TEST_F(LinesTest, TheChipSilentMakesEveryLineUnknownOnceEachWay) {
    auto first = status(4);
    first.ports[1].alarms[Indication::LOS] = liuproto::AlarmState::Active;
    lines.status(first);
    lines.event(ChipEvent{false, kLater, 24});
    lines.event(ChipEvent{false, kLater, 48}); // still silent: nothing new
    EXPECT_EQ(states(), (States{kNotKnown, kNotKnown, kNotKnown, kNotKnown, kAbsent, kAbsent,
                                kAbsent, kAbsent}));
    // Leaving down for unknown is a linkUp; port 2's dsx1LineStatusChange is disabled.
    EXPECT_EQ(board.sent, (std::vector<std::string>{"dsx1 0 4096", "dsx1 1 4096", "linkUp 1 4",
                                                    "dsx1 3 4096"}));
    board.sent.clear();
    lines.event(ChipEvent{true, kLater, 48});
    EXPECT_EQ(states(), (States{kUp, kLos, kUp, kUp, kAbsent, kAbsent, kAbsent, kAbsent}));
    EXPECT_EQ(board.sent,
              (std::vector<std::string>{"dsx1 0 1", "dsx1 1 64", "linkDown 1 2", "dsx1 3 1"}));
    // The same from liud's status, and for one port whose transfers failed.
    auto silent = status(4);
    silent.daemon.chipAnswering = false;
    lines.status(silent);
    EXPECT_EQ(states()[2], kNotKnown);
    auto failed = status(4);
    failed.ports[2].alarmsKnown = false;
    lines.status(failed);
    EXPECT_EQ(states(), (States{kUp, kUp, kNotKnown, kUp, kAbsent, kAbsent, kAbsent, kAbsent}));
}

TEST_F(LinesTest, LiudGoneAndANewLiudWithFewerPorts) {
    lines.status(status(4));
    lines.event(los(3, true));
    board.sent.clear();
    lines.liudGone();
    EXPECT_FALSE(lines.liudThere());
    EXPECT_EQ(states()[0], kNotKnown);
    const auto whileAway = board.sent;
    lines.liudGone();
    lines.event(los(0, true)); // no watch while liud is away
    EXPECT_EQ(board.sent, whileAway);
    // Port 3 (down, then unknown) is not present now: no notification.
    board.sent.clear();
    lines.status(status(3));
    EXPECT_EQ(
        states(),
        (States{
            kUp, kUp, kUp, {kOtherFailure, kIfNotPresent}, kAbsent, kAbsent, kAbsent, kAbsent}));
    EXPECT_EQ(board.sent, (std::vector<std::string>{"dsx1 0 1", "dsx1 1 1"}));
    // Back with an alarm: a row again, quietly, dated by liud's last change.
    auto back = status(4);
    back.ports[3].alarms[Indication::LOS] = liuproto::AlarmState::Active;
    back.ports[3].lastChange = kPoll;
    board.sent.clear();
    lines.status(back);
    EXPECT_EQ(states()[3], kLos);
    EXPECT_TRUE(board.sent.empty());
    EXPECT_EQ(lines.all()[3].lineStatusChanged, 400u);
    EXPECT_EQ(lines.all()[3].operChanged, 500u);
}

TEST_F(LinesTest, TimesMoveOntoANewSysUpTime) {
    lines.status(status(2));
    lines.event(los(0, true));
    lines.moveTimes(150);
    EXPECT_EQ(lines.all()[0].lineStatusChanged, 250u);
    EXPECT_EQ(lines.all()[1].lineStatusChanged, 0u);
    lines.moveTimes(300);
    EXPECT_EQ(lines.all()[0].operChanged, 0u);
}

// dsx1LineType, dsx1LineCoding and dsx1LineLength of liud's line type,
// framing, line code and line length code, as RFC 4805 numbers them.
TEST(PortState, TheDs1MibsNumbers) {
    struct Case {
        const char* lineType;
        const char* framing; // nullptr: not given
        int lineCode;
        std::optional<int> lineLength;
        long type, coding, meters;
    } const cases[] = {
        {"E1", "plain", 1, {}, 4, 3, 0},  {"E1", "crc4", 2, {}, 5, 5, 0},
        {"E1", "mf", 1, {}, 6, 3, 0},     {"E1", "crc4-mf", 1, {}, 7, 3, 0},
        {"E1", "none", 1, {}, 9, 3, 0},   {"E1", nullptr, 1, {}, 1, 3, 0},
        {"T1", "esf", 1, 1, 2, 2, 41},    {"T1", "d4", 2, 2, 3, 5, 81},
        {"T1", "none", 1, 4, 8, 2, 162},  {"JT1", "esf", 1, 5, 14, 2, 200},
        {"JT1", "none", 2, {}, 16, 5, 0}, {"JT1", "d4", 1, {}, 1, 2, 0},
        {"T1", "esf", 3, 6, 2, 6, 0}, // no such line code, no such length code
    };
    for (const Case& each : cases) {
        liuproto::PortStatus port;
        port.config.lineType = each.lineType;
        port.config.framing =
            each.framing != nullptr ? std::optional<std::string>(each.framing) : std::nullopt;
        port.config.lineCode = each.lineCode;
        port.config.lineLength = each.lineLength;
        const PortState state = portState(port, Config{});
        EXPECT_EQ(std::tuple(state.lineType, state.lineCoding, state.lineLength),
                  std::tuple(each.type, each.coding, each.meters))
            << each.lineType << " " << (each.framing != nullptr ? each.framing : "-");
    }
}

class WritesTest : public LinesTest {
  protected:
    WritesTest() {
        auto first = status(4);
        first.ports[1].config.analogLoop = true;
        lines.status(first);
    }
    int check(Table table, oid number, long index, long value, u_char type = ASN_INTEGER) {
        return writes.check(table, findColumn(tableInfo(table), number), lines.find(index), type,
                            sizeof(long), value);
    }
    Writes writes{lines, board, board};
};

TEST_F(WritesTest, EachValueIsCheckedBeforeAnyIsMade) {
    using dsx1Column::LineStatusChangeTrapEnable, dsx1Column::LoopbackConfig;
    const Table dsx1 = Table::Dsx1Config;
    EXPECT_EQ(check(dsx1, LoopbackConfig, kBase, kDualLoop), SNMP_ERR_NOERROR);
    EXPECT_EQ(check(dsx1, LoopbackConfig, kBase, kPayloadLoop), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(dsx1, LoopbackConfig, kBase, 7), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(dsx1, LoopbackConfig, kBase, kNoLoop, ASN_OCTET_STR), SNMP_ERR_WRONGTYPE);
    EXPECT_EQ(check(dsx1, dsx1Column::LineType, kBase, 1), SNMP_ERR_NOTWRITABLE);
    EXPECT_EQ(check(dsx1, 19, kBase, 1), SNMP_ERR_NOTWRITABLE);
    EXPECT_EQ(check(dsx1, LineStatusChangeTrapEnable, kBase + 4, 1), SNMP_ERR_NOCREATION);
    EXPECT_EQ(check(dsx1, LineStatusChangeTrapEnable, kBase, 3), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(Table::IfX, ifXColumn::LinkUpDownTrapEnable, kBase + 4, 2), SNMP_ERR_NOERROR);
    EXPECT_EQ(check(Table::IfX, ifXColumn::LinkUpDownTrapEnable, kBase, 0), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(Table::If, ifColumn::AdminStatus, kBase, 2), SNMP_ERR_NOTWRITABLE);
    EXPECT_EQ(writes.reserve(dsx1, LoopbackConfig), SNMP_ERR_NOERROR);
    lines.liudGone();
    EXPECT_EQ(writes.reserve(dsx1, LoopbackConfig), SNMP_ERR_RESOURCEUNAVAILABLE);
    EXPECT_EQ(writes.reserve(dsx1, LineStatusChangeTrapEnable), SNMP_ERR_NOERROR);
    EXPECT_TRUE(board.sets.empty());
}

TEST_F(WritesTest, MadeThenUndone) {
    Line& line = *lines.find(kBase + 1);
    EXPECT_EQ(writes.apply(Table::Dsx1Config, dsx1Column::LoopbackConfig, line, kLineLoop),
              SNMP_ERR_NOERROR);
    ASSERT_EQ(board.sets.size(), 1u);
    EXPECT_EQ(board.sets[0].from, (Loops{false, true, false}));
    EXPECT_EQ(board.sets[0].to, (Loops{true, false, false}));
    EXPECT_EQ(line.state.configured, (Loops{true, false, false}));
    EXPECT_EQ(writes.apply(Table::IfX, ifXColumn::LinkUpDownTrapEnable, line, kTrapDisabled),
              SNMP_ERR_NOERROR);
    EXPECT_EQ(line.linkTrap, kTrapDisabled);
    // Another part failed: each as it was.
    EXPECT_EQ(writes.undo(Table::IfX, ifXColumn::LinkUpDownTrapEnable, line), SNMP_ERR_NOERROR);
    EXPECT_EQ(line.linkTrap, kTrapEnabled);
    EXPECT_EQ(writes.undo(Table::Dsx1Config, dsx1Column::LoopbackConfig, line), SNMP_ERR_NOERROR);
    EXPECT_EQ(board.sets[1].from, (Loops{true, false, false}));
    EXPECT_EQ(board.sets[1].to, (Loops{false, true, false}));
    EXPECT_EQ(line.state.configured, (Loops{false, true, false}));
    // Nothing to undo after the end, nor for a column never made.
    writes.finish();
    EXPECT_EQ(writes.undo(Table::Dsx1Config, dsx1Column::LoopbackConfig, line), SNMP_ERR_NOERROR);
    EXPECT_EQ(writes.undo(Table::Dsx1Config, dsx1Column::LineStatusChangeTrapEnable, line),
              SNMP_ERR_NOERROR);
    EXPECT_EQ(board.sets.size(), 2u);
    EXPECT_EQ(line.lineStatusTrap, kTrapEnabled);
}

TEST_F(WritesTest, LiudRefusing) {
    // From the analog loopback to the line loop: the remote loopback goes on,
    // then liud refuses; the row shows what was done, the undo takes it back.
    Line& line = *lines.find(kBase + 1);
    board.accepted = 1;
    EXPECT_EQ(writes.apply(Table::Dsx1Config, dsx1Column::LoopbackConfig, line, kLineLoop),
              SNMP_ERR_COMMITFAILED);
    EXPECT_EQ(line.state.configured, (Loops{true, true, false}));
    EXPECT_EQ(writes.undo(Table::Dsx1Config, dsx1Column::LoopbackConfig, line),
              SNMP_ERR_UNDOFAILED);
    board.accepted = 100;
    EXPECT_EQ(writes.undo(Table::Dsx1Config, dsx1Column::LoopbackConfig, line), SNMP_ERR_NOERROR);
    EXPECT_EQ(board.sets.back().from, (Loops{true, true, false}));
    EXPECT_EQ(line.state.configured, (Loops{false, true, false}));
}

} // namespace
} // namespace liusnmp
