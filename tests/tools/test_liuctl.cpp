// SPDX-License-Identifier: MIT
// liuctl end to end: the built tool run as a user runs it, alone or under
// liusim, judged by its stdout, stderr, exit status and the transfers the
// simulated chip received.
#include "JsonValue.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include <unistd.h>

using namespace tooltest;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// ---- Bad input: one line naming the command and the word, nothing sent ----

struct BadInput {
    const char* name;
    const char* command;
    const char* message; // the whole stderr line
};

void PrintTo(const BadInput& bad, std::ostream* out) {
    *out << '"' << bad.command << '"';
}

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

// Each bad command follows a marker read of global register 0x04: the marker
// must be the chip's last transfer, and the command after the bad one must
// not run.
TEST_P(BadInputTest, ReportsTheWordSendsNothingAndStops) {
    const BadInput& bad = GetParam();
    const ChipRun run = runOnChip(
        {"-c", std::string("init 2 8; read 0x04 global; ") + bad.command + "; read 0x36 0"});

    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(lines(run.err), std::vector<std::string>{bad.message});
    ASSERT_FALSE(run.transfers.empty());
    EXPECT_EQ(run.transfers.back(), "R global 0x04 -> 0x00");
    EXPECT_EQ(std::count(run.transfers.begin(), run.transfers.end(), "R global 0x04 -> 0x00"), 1);
}

const BadInput kBadInputs[] = {
    {"UnknownCommand", "frobnicate 3", "liuctl: unknown command 'frobnicate' (try 'help')"},
    {"PortNotANumber", "set linecode x 1", "liuctl: set: bad port 'x' (ports are 0..7)"},
    {"PortBeyondCount", "set linecode 8 1", "liuctl: set: bad port '8' (ports are 0..7)"},
    {"RangeReachingBeyondCount", "set txpower 0-8 up",
     "liuctl: set: bad port '0-8' (ports are 0..7)"},
    {"ListWithBadItem", "get haul 1,,2", "liuctl: get: bad port '1,,2' (ports are 0..7)"},
    {"BackwardsRange", "show 5-2", "liuctl: show: bad port '5-2' (ports are 0..7)"},
    {"BadValue", "set linecode 0 3", "liuctl: set: bad value '3' (1 or 2)"},
    {"BadSwitchValue", "set remoteloop 0 up", "liuctl: set: bad value 'up' (off or on)"},
    {"BadLineType", "set linetype 0 e3", "liuctl: set: bad value 'e3' (e1, t1 or jt1)"},
    {"BadSetting", "get speed 0",
     "liuctl: get: bad setting 'speed' (linetype, linecode, lbo, linelen, haul, remoteloop, "
     "analogloop, digitalloop, txpower or rxpower)"},
    {"MissingValue", "set linecode 0", "liuctl: set: missing value"},
    {"MissingPort", "get linecode", "liuctl: get: missing port"},
    {"ExtraWord", "set linetype 0 e1 now", "liuctl: set: unexpected word 'now'"},
    {"RegisterTooBig", "write 0x123 3 1",
     "liuctl: write: bad register '0x123' (0..255 or 0x00..0xff)"},
    {"MissingWriteValue", "write 0x23 3", "liuctl: write: missing value"},
    {"BadChannel", "read 0x23 16", "liuctl: read: bad channel '16' (0..15 or global)"},
    {"BadRefclkOutput", "refclk c 1", "liuctl: refclk: bad reference clock output 'c' (a or b)"},
    {"BadInterval", "watch 0 5", "liuctl: watch: bad interval '0' (0.01..3600 seconds)"},
    {"BadCount", "watch 1 -1", "liuctl: watch: bad count '-1' (0..1000000000)"},
    {"BadIndication", "has ais 0", "liuctl: has: bad indication 'ais' (los or prbs)"},
    {"BadPortCount", "init 2 x", "liuctl: init: bad port count 'x' (1..16)"},
    {"HelpForNothing", "help frob", "liuctl: help: bad command 'frob' (try 'help')"},
};

INSTANTIATE_TEST_SUITE_P(Commands, BadInputTest, ::testing::ValuesIn(kBadInputs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Script, KeepGoingRunsTheRestAndStillFails) {
    const ChipRun run = runOnChip({"-k", "-c", "init 2 8; set linecode x 1; read 0x04 global"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(lines(run.err),
              std::vector<std::string>{"liuctl: set: bad port 'x' (ports are 0..7)"});
    ASSERT_FALSE(run.transfers.empty());
    EXPECT_EQ(run.transfers.back(), "R global 0x04 -> 0x00");
}

TEST(Script, FileErrorsNameFileAndLine) {
    const std::string path = testFilePath("watch.scenario"); // not liuctl commands
    const RunResult run = runAlone({"-f", path});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(lines(run.err), std::vector<std::string>{"liuctl: " + path +
                                                       ":4: unknown command '1.0' (try 'help')"});
}

TEST(Script, UnterminatedQuoteRunsNothing) {
    const ChipRun run = runOnChip({"-c", "init 2 8; echo 'oops"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(lines(run.err), std::vector<std::string>{"liuctl: line 1: unterminated quote"});
    EXPECT_TRUE(run.transfers.empty());
    EXPECT_EQ(run.out, "");
}

TEST(Script, QuotesKeepSeparatorsAndCommentsEndAtTheLine) {
    const RunResult run = runAlone({"-c", "echo 'a; b' \"# c\" # gone; echo gone too\necho d"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "a; b # c\nd\n");
}

TEST(Script, CommandsNeedInitFirst) {
    const ChipRun run = runOnChip({"-c", "show"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lines(run.err),
              std::vector<std::string>{
                  "liuctl: show: the library is not initialised: run 'init INOUT PORTS' first"});
    EXPECT_TRUE(run.transfers.empty());
}

TEST(Script, InitOptionRunsBeforeTheCommands) {
    const ChipRun run = runOnChip({"--init", "sym,2", "-c", "get linecode all"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "liuDrv_init -> using the HTQ buildin SPI kernel module with IOCTL\n"
                       "LIU 82V5088 up: 2 ports, symmetrical line interface (2)\n"
                       "line code with liuDrv_getLineCode:\n"
                       "PORT  LINE CODE\n"
                       "0     1\n"
                       "1     1\n");
}

// ---- Options and help ----------------------------------------------------

TEST(Options, HelpGoesToStdout) {
    const RunResult run = runAlone({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("Usage: liuctl [OPTIONS]\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "\n  watch [INTERVAL] [COUNT]")) << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(Options, HelpForOneCommand) {
    const RunResult run = runAlone({"-c", "help set"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("Usage: set SETTING PORTS VALUE\n")) << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(Options, UsageErrorsExitTwo) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"-z"}, "liuctl: unknown option '-z'"},
        {{"--colour"}, "liuctl: unknown option '--colour'"},
        {{"-c"}, "liuctl: option '-c' needs an argument"},
        {{"show"}, "liuctl: unexpected argument 'show' (commands go into -c or -f)"},
        {{"--init", "2"}, "liuctl: --init: expected INOUT,PORTS, got '2'"},
    };
    for (const auto& c : cases) {
        const RunResult run = runAlone(c.args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_EQ(lines(run.err), (std::vector<std::string>{c.message, "Try 'liuctl --help'."}));
        EXPECT_EQ(run.out, "");
    }
}

TEST(Options, MissingScriptFileFails) {
    const RunResult run = runAlone({"-f", "/nonexistent/bringup.liuctl"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lines(run.err),
              std::vector<std::string>{"liuctl: cannot read '/nonexistent/bringup.liuctl'"});
}

// ---- Library results -----------------------------------------------------

struct LibraryFailure {
    const char* name;
    const char* commands;
    const char* scenario; // text of a scenario file, may be empty
    const char* message;  // liuctl's line
    const char* trace;    // the library's error trace text, at the end of its line
};

void PrintTo(const LibraryFailure& failure, std::ostream* out) {
    *out << '"' << failure.commands << '"';
}

class LibraryFailureTest : public ::testing::TestWithParam<LibraryFailure> {};

TEST_P(LibraryFailureTest, ReportsTheResultWithTheTraceErrorLine) {
    const LibraryFailure& failure = GetParam();
    std::string scenario;
    if (failure.scenario[0] != '\0') {
        char path[] = "/tmp/liuctl-test-scenario-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        const std::string text = failure.scenario;
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        scenario = path;
    }
    const ChipRun run = runOnChip({"-c", failure.commands}, scenario);
    if (!scenario.empty()) {
        std::remove(scenario.c_str());
    }

    EXPECT_EQ(run.status, 1);
    const auto err = lines(run.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), failure.message);
    // The trace's error line: "ERROR 255 <source>:<line> <text>".
    const std::regex traceLine("ERROR 255 \\S+:[0-9]+ (.*)");
    std::vector<std::string> traced;
    for (const auto& line : err) {
        std::smatch match;
        if (std::regex_match(line, match, traceLine)) {
            traced.push_back(match[1]);
        }
    }
    EXPECT_NE(std::find(traced.begin(), traced.end(), failure.trace), traced.end()) << run.err;
}

const LibraryFailure kLibraryFailures[] = {
    {"T1OnAsymmetricalInterface", "init asym 8; set linetype 4 t1", "",
     "liuctl: set linetype: port 4: library result -1",
     "liuDrv_pulsMaskConfiguration: T1/JT1, unsupported input/output type:1"},
    {"BuildOutCannotBeReadBack", "init 2 8; set linetype 4 t1; get lbo 4", "",
     "liuctl: get lbo: port 4: library result -1",
     "liuDrv_getLineBuildOut: LBO not set, pulse template: 1"},
    {"SecondInit", "init 2 8; init 2 8", "", "liuctl: init: library result -1",
     "liuDrv_init: libliuDrv was already initialized!"},
    {"DeviceRefused", "init 2 8", "0 fail open on\n", "liuctl: init: library result -1",
     "liuDrv_init: open failed!"},
    {"FailedTransfer", "init 2 8", "0 fail next\n", "liuctl: init: library result 1",
     "liuDrv_write: SPI read failure!"},
    {"LineCodeSidesDisagree", "init 2 8; write 0x22 2 0x01; get linecode 2", "",
     "liuctl: get linecode: port 2: library result -1",
     "liuDrv_getLineCode: line code unknown, tcf0Val 1 rcf0Val 0"},
    {"ShowGoesOnAfterAFailedGet", "init 2 8; write 0x28 1 0x03; show", "",
     "liuctl: show: port 1 liuDrv_getLineCode: library result -1",
     "liuDrv_getLineCode: line code unknown, tcf0Val 0 rcf0Val 3"},
};

INSTANTIATE_TEST_SUITE_P(Commands, LibraryFailureTest, ::testing::ValuesIn(kLibraryFailures),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// ---- A whole session against its expected output ---------------------------

TEST(Session, OutputMatchesTheExpectedFile) {
    const ChipRun run = runOnChip({"-x", "-k", "-f", testFilePath("session.liuctl")},
                                  testFilePath("session.scenario"));
    EXPECT_EQ(run.status, 1) << run.err;
    // The expected file starts with its licence line.
    const std::string expected = testFile("session.expected");
    EXPECT_EQ(run.out, expected.substr(expected.find('\n') + 1));

    // The two commands the library refused, and nothing else, failed.
    std::vector<std::string> failures;
    for (const auto& line : lines(run.err)) {
        if (line.starts_with("liuctl: ")) {
            failures.push_back(line.substr(line.rfind(".liuctl:") + 8));
        }
    }
    EXPECT_EQ(failures, (std::vector<std::string>{"33: set linetype: port 1: library result -1",
                                                  "35: get lbo: port 2: library result -1"}));
    // The dump went to stderr, as the library prints it.
    EXPECT_TRUE(contains(run.err, "\n Dump of pulse shaping parameters port: 0\n")) << run.err;
    EXPECT_TRUE(contains(run.err, "Ext. termination: FALSE\n")) << run.err;
}

// The registers liuctl reads for show are the three it names, once per port,
// after the library's own get operations.
TEST(Session, ShowReadsOnlyTheRegistersItShows) {
    const ChipRun run = runOnChip({"-c", "init 2 1; read 0x04 global; show"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto marker =
        std::find(run.transfers.begin(), run.transfers.end(), "R global 0x04 -> 0x00");
    ASSERT_NE(marker, run.transfers.end());
    const std::vector<std::string> shown(marker + 1, run.transfers.end());
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "R ch0 0x28 -> 0x14", "R ch0 0x22 -> 0x10", // liuDrv_getLineCode
                         "R ch0 0x29 -> 0x54",                       // liuDrv_getHaulType
                         "R ch0 0x2b -> 0x00", "R ch0 0x2b -> 0x00",
                         "R ch0 0x2b -> 0x00",                       // three loopbacks
                         "R ch0 0x22 -> 0x10", "R ch0 0x28 -> 0x14", // tx, rx power
                         "R ch0 0x20 -> 0x00", "R ch0 0x32 -> 0x09",
                         "R ch0 0x23 -> 0x01"})); // mode, termination, template
}

// ---- JSON ----------------------------------------------------------------

std::vector<JsonValue> parseLines(const std::string& out) {
    std::vector<JsonValue> values;
    for (const auto& line : lines(out)) {
        values.push_back(JsonValue::parse(line));
    }
    return values;
}

TEST(Json, EveryCommandReportsOneObjectAndTheValuesReadBack) {
    const ChipRun run =
        runOnChip({"--json", "-c",
                   "init sym 4; set linecode 1 2; set linetype 2 t1; set lbo 2 3; get linetype 2; "
                   "poll; show 1-2; read 0x23 2; write 0x23 0 0x0c; dump 0; refclk b 3; has los 3; "
                   "state"},
                  testFilePath("session.scenario"));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<JsonValue> reports;
    ASSERT_NO_THROW(reports = parseLines(run.out)) << run.out;
    std::vector<std::string> commands;
    for (const auto& report : reports) {
        commands.push_back(report["command"].string());
    }
    ASSERT_EQ(commands,
              (std::vector<std::string>{"init", "set", "set", "set", "get", "poll", "show", "read",
                                        "write", "dump", "refclk", "has", "state"}));
    const JsonValue& init = reports[0];
    EXPECT_EQ(init["result"].number(), 0);
    EXPECT_EQ(init["ports"].number(), 4);

    const JsonValue& lineCode = reports[1]["ports"][0];
    EXPECT_EQ(lineCode["port"].number(), 1);
    EXPECT_EQ(lineCode["readBack"]["source"].string(), "liuDrv_getLineCode");
    EXPECT_EQ(lineCode["readBack"]["value"].number(), 2);

    const JsonValue& lineType = reports[2]["ports"][0]["readBack"];
    EXPECT_EQ(lineType["source"].string(), "chip registers");
    EXPECT_EQ(lineType["modeRegister"].number(), 1);
    EXPECT_EQ(lineType["termination"].string(), "T1");
    EXPECT_EQ(lineType["terminationRegister"].number(), 0x12);
    EXPECT_EQ(lineType["templateCode"].string(), "T1");

    EXPECT_EQ(reports[3]["ports"][0]["readBack"]["templateCodeRegister"].number(), 0x08);

    const JsonValue& got = reports[4]["ports"][0];
    EXPECT_EQ(got["value"].number(), 1);
    EXPECT_EQ(got["text"].string(), "E1");
    EXPECT_EQ(got["registers"]["mode"].string(), "T1/JT1");

    const JsonValue& poll = reports[5];
    EXPECT_EQ(poll["ports"].array().size(), 4u);
    EXPECT_EQ(poll["ports"][1]["AIS"].string(), "active");
    EXPECT_EQ(poll["ports"][1]["PRBS"].string(), "active");
    EXPECT_EQ(poll["ports"][1]["LOS"].string(), "initial");
    EXPECT_EQ(poll["ports"][3]["LOS"].string(), "active");

    const JsonValue& show = reports[6];
    ASSERT_EQ(show["ports"].array().size(), 2u);
    EXPECT_EQ(show["ports"][0]["library"]["linecode"].number(), 2);
    EXPECT_EQ(show["ports"][0]["registers"]["termination"].string(), "symmetrical E1");
    EXPECT_EQ(show["ports"][0]["alarms"]["AIS"].string(), "active");
    EXPECT_EQ(show["ports"][1]["registers"]["templateCodeRegister"].number(), 0x08);
    EXPECT_EQ(show["ports"][1]["library"]["txpower"].number(), 0);
    EXPECT_TRUE(show["errors"].array().empty());

    EXPECT_EQ(reports[7]["value"].number(), 0x08);
    EXPECT_EQ(reports[7]["channel"].number(), 2);
    EXPECT_EQ(reports[9]["result"].number(), 0);
    EXPECT_TRUE(contains(reports[9]["printout"].string(),
                         "Sample UI1  UI2  UI3  UI4\n  01   0x00 0x00 0x00 0x00 \n"));
    EXPECT_EQ(reports[10]["readBack"]["portB"].number(), 3);
    EXPECT_EQ(reports[11]["ports"][0]["status"].number(), 1);
    EXPECT_EQ(reports[12]["liuDrv_maxPorts"].number(), 8); // the dump set it
    // The library's start-up line stays off stdout.
    EXPECT_TRUE(contains(run.err, "liuDrv_init -> using the HTQ buildin SPI kernel module"));
}

TEST(Json, FailedCommandStillReportsItsResult) {
    const ChipRun run = runOnChip({"--json", "-c", "init asym 8; set linetype 0,4 t1"});
    EXPECT_EQ(run.status, 1);
    const auto reports = parseLines(run.out);
    ASSERT_EQ(reports.size(), 2u);
    ASSERT_EQ(reports[1]["ports"].array().size(), 1u);
    EXPECT_EQ(reports[1]["ports"][0]["port"].number(), 0);
    EXPECT_EQ(reports[1]["ports"][0]["result"].number(), -1);
    EXPECT_FALSE(reports[1]["ports"][0].has("readBack"));
}

// ---- watch ---------------------------------------------------------------

// watch.scenario changes an alarm every half second from 1 s on; polls every
// 0.1 s see each change in order, however late liuctl started (up to 1 s).
TEST(Watch, SeesEveryChangeInOrderAndSumsThemUp) {
    const ChipRun run = runOnChip({"-c", "init 2 8; watch 0.1 50"}, testFilePath("watch.scenario"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::regex changeLine(
        "(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z)  port (\\d+) +(\\w+) +(\\w+)");
    std::vector<std::string> changes;
    std::vector<std::string> stamps;
    std::vector<std::string> summary;
    bool inSummary = false;
    for (const auto& line : lines(run.out)) {
        std::smatch match;
        if (std::regex_match(line, match, changeLine)) {
            changes.push_back(match[2].str() + " " + match[3].str() + " " + match[4].str());
            stamps.push_back(match[1]);
        } else if (inSummary) {
            summary.push_back(line);
        } else if (line == "watch: 50 polls; alarms that changed:") {
            inSummary = true;
        }
    }
    EXPECT_EQ(changes,
              (std::vector<std::string>{"1 LOS active", "5 AIS active", "1 LOS inactive",
                                        "5 AIS inactive", "1 LOS active", "1 LOS inactive"}))
        << run.out;
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
    ASSERT_EQ(summary.size(), 3u) << run.out;
    EXPECT_EQ(summary[0], "PORT  INDICATION  WENT ACTIVE  NOW       SINCE");
    ASSERT_EQ(stamps.size(), 6u);
    EXPECT_EQ(summary[1], "1     LOS         2            inactive  " + stamps[5]);
    EXPECT_EQ(summary[2], "5     AIS         1            inactive  " + stamps[3]);
}

// The same changes as JSON lines, then the summary; show before the watch
// has no poll to report, show after it reports the watch's last poll.
TEST(Watch, JsonStreamsChangesAndShowUsesTheLastPoll) {
    const ChipRun run = runOnChip({"--json", "-c", "init 2 8; show 1; watch 0.1 50; show 1"},
                                  testFilePath("watch.scenario"));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<JsonValue> reports;
    ASSERT_NO_THROW(reports = parseLines(run.out)) << run.out;
    ASSERT_EQ(reports.size(), 10u) << run.out;
    EXPECT_TRUE(reports[1]["ports"][0]["alarms"].isNull());
    std::vector<std::string> events;
    for (std::size_t i = 2; i < 8; ++i) {
        EXPECT_EQ(reports[i]["event"].string(), "alarm");
        events.push_back(std::to_string(static_cast<int>(reports[i]["port"].number())) + " " +
                         reports[i]["indication"].string() + " " + reports[i]["state"].string());
    }
    EXPECT_EQ(events,
              (std::vector<std::string>{"1 LOS active", "5 AIS active", "1 LOS inactive",
                                        "5 AIS inactive", "1 LOS active", "1 LOS inactive"}));
    const JsonValue& summary = reports[8];
    EXPECT_EQ(summary["command"].string(), "watch");
    EXPECT_EQ(summary["polls"].number(), 50);
    EXPECT_FALSE(summary["interrupted"].boolean());
    ASSERT_EQ(summary["changes"].array().size(), 2u);
    EXPECT_EQ(summary["changes"][0]["indication"].string(), "LOS");
    EXPECT_EQ(summary["changes"][0]["wentActive"].number(), 2);
    EXPECT_EQ(summary["changes"][0]["since"].string(), reports[7]["time"].string());
    EXPECT_EQ(summary["changes"][1]["port"].number(), 5);
    EXPECT_EQ(summary["changes"][1]["wentActive"].number(), 1);
    const JsonValue& alarms = reports[9]["ports"][0]["alarms"];
    EXPECT_EQ(alarms["LOS"].string(), "inactive");
    EXPECT_EQ(alarms["AIS"].string(), "initial");
}

} // namespace
