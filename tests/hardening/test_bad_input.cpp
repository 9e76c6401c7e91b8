// SPDX-License-Identifier: MIT
// Bad input matrix over the operation table: the library not started, ports
// at and beyond the port count, null out-parameters, codes outside their
// ranges, the channel selectors, a port count beyond the alarm table.  A
// refusal comes back with its result and its one error line, last, without
// a transfer and without writing an out-parameter.  The first test runs
// before the library is started.
#include "LiuSimTest.h"
#include "Operations.h"

#include <climits>
#include <cstdio>
#include <functional>
#include <set>

namespace {

using liuops::Guard;
using liuops::Operation;

std::string portRefusal(const Operation& op, int port, int last) {
    return "liuDrv_" + std::string(op.name) + ": portId=" + std::to_string(port) +
           " not matching, allowed is 0.." + std::to_string(last);
}

// The message of a refused register access: the read's, but a write's own.
std::string accessRefusal(const Operation& op, const char* message) {
    return (op.name == std::string("write") ? "liuDrv_write" : "liuDrv_read") +
           std::string(message);
}

class BadInput : public LiuSimTest {
  protected:
    // op with its example arguments, the port (or channel) replaced.
    void expectRefused(const Operation& op, int port, const std::string& error, int result = -1,
                       bool null = false) {
        SCOPED_TRACE(std::string(op.name) + " port " + std::to_string(port));
        int args[4] = {op.example[0], op.example[1], op.example[2], op.example[3]};
        args[op.guard == Guard::None && op.arity > 1 ? 1 : 0] = port;
        liuops::Out out;
        chip().clearLog();
        liutrace::clear();
        liuops::QuietStderr quiet;
        EXPECT_EQ(op.call(args, null ? nullptr : &out), result);
        EXPECT_TRUE(out.untouched());
        EXPECT_TRUE(chip().log().empty());
        auto stream = liutrace::stream();
        EXPECT_EQ(stream.empty() ? "" : stream.back(), "E " + error) << "last";
        stream.erase(
            std::remove_if(stream.begin(), stream.end(), [](auto& l) { return l[0] != 'E'; }),
            stream.end());
        EXPECT_EQ(stream.size(), 1u) << "one error line";
    }
};

TEST_F(BadInput, BeforeStartUpEveryOperationIsRefusedOrFailsItsTransfer) {
    ASSERT_EQ(liuDrv_inited, 0) << "this test must run first in the process";
    for (const Operation& op : liuops::operations()) {
        if (op.guard == Guard::Port) {
            expectRefused(op, 0, portRefusal(op, 0, -1));
        }
    }
    liuDrv_maxPorts = 8;
    for (const Operation& op : liuops::operations()) {
        if (op.guard != Guard::None) {
            expectRefused(op, 0, "liuDrv_" + std::string(op.name) + ": not inited or LIU failure!");
        }
    }
    for (const char* name :
         {"write", "read", "isLiuConnected", "hasLos", "hasPrbs", "dumpPulseShapeParam"}) {
        const Operation& op = *liuops::findOperation(name);
        expectRefused(op, op.example[op.arity > 1 ? 1 : 0],
                      accessRefusal(op, ": SPI read failure!"), op.failed.result);
    }
}

TEST_F(BadInput, PortsFromThePortCountOnAreRefusedAndTheLastServed) {
    startLibrary();
    for (const Operation& op : liuops::operations()) {
        if (op.guard != Guard::Port) {
            continue;
        }
        for (int port : {8, 15, 16, 255, 65535}) {
            expectRefused(op, port, portRefusal(op, port, 7));
        }
        const int last[4] = {7, op.example[1]};
        liuops::Out out;
        liutrace::clear();
        op.call(last, &out);
        for (const std::string& line : liutrace::stream()) {
            EXPECT_EQ(line.find("not matching"), std::string::npos) << line;
        }
    }
    liuDrv_maxPorts = 16; // the reference clock fields hold ports 0 to 7
    for (const char* name : {"setRefAClock", "setRefBClock"}) {
        expectRefused(*liuops::findOperation(name), 8,
                      portRefusal(*liuops::findOperation(name), 8, 7));
    }
}

TEST_F(BadInput, NullOutParametersAreRefusedAfterThePortGuard) {
    startLibrary();
    for (const Operation& op : liuops::operations()) {
        if (op.handsBack && op.guard != Guard::Inited) {
            const std::string refusal =
                "liuDrv_" + std::string(op.name) + ": null pointer argument!";
            expectRefused(op, op.guard == Guard::Port ? 7 : op.example[1], refusal, -1, true);
        }
        if (op.handsBack && op.guard == Guard::Port) {
            expectRefused(op, 8, portRefusal(op, 8, 7), -1, true);
        }
    }
}

TEST_F(BadInput, CodesOutsideTheirRangesAreRefused) {
    startLibrary();
    const struct {
        int first, last;
        const char* refusal;
        std::function<int(int)> call;
    } codes[] = {
        {1, 3, "liuDrv_pulsMaskConfiguration: unknown lineType: %d",
         [](int c) { return liuDrv_setLineType(3, c); }},
        {1, 2, "liuDrv_setLineCode: unknown linecode %d",
         [](int c) { return liuDrv_setLineCode(3, c); }},
        {1, 4, "liuDrv_lboConfiguration: unknown lbo: %d",
         [](int c) { return liuDrv_setLineBuildOut(3, c); }},
        {1, 5, "liuDrv_lineLenConfiguration: unknown lineLen: %d",
         [](int c) { return liuDrv_setLineLength(3, c); }},
        {1, 2, "liuDrv_setHaulType unknown haul :%d !",
         [](int c) { return liuDrv_setHaulType(3, c); }},
        {1, 2, "liuDrv_pulsMaskConfiguration: unknown input/output type:%d",
         [](int c) { return liuDrv_setInOutType(c), liuDrv_setLineType(3, 1); }},
        {2, 2, "liuDrv_pulsMaskConfiguration: T1/JT1, unsupported input/output type:%d",
         [](int c) { return liuDrv_setInOutType(c), liuDrv_setLineType(3, 2); }},
    };
    for (const auto& range : codes) {
        for (int code : std::set<int>{INT_MIN, -1, 0, range.first - 1, range.first, range.last,
                                      range.last + 1, INT_MAX}) {
            SCOPED_TRACE(std::string(range.refusal) + " with " + std::to_string(code));
            liuDrv_lineType = LIUDRV_LINE_TYPE_E1;
            liutrace::clear();
            const bool accepted = code >= range.first && code <= range.last;
            EXPECT_EQ(range.call(code), accepted ? 0 : -1);
            const auto stream = liutrace::stream();
            const auto error =
                std::find_if(stream.begin(), stream.end(), [](auto& l) { return l[0] == 'E'; });
            char refusal[160];
            std::snprintf(refusal, sizeof refusal, range.refusal, code);
            EXPECT_EQ(error == stream.end() ? "" : *error,
                      accepted ? "" : std::string("E ") + refusal);
        }
    }
}

// Register access, the alarm readers and the dump take a channel: its low
// four bits, 0 for the global selector 0xFFFF; 0xFFFE, a second LIU, is refused.
TEST_F(BadInput, ChannelSelectors) {
    startLibrary();
    for (const char* name : {"write", "read", "hasLos", "hasPrbs", "dumpPulseShapeParam"}) {
        const Operation& op = *liuops::findOperation(name);
        for (const auto& [selector, channel] : {std::pair{0xFFFF, 0},
                                                {0, 0},
                                                {15, 15},
                                                {16, 0},
                                                {0x1A, 10},
                                                {0xFFF3, 3},
                                                {0xFFFD, 13}}) {
            SCOPED_TRACE(std::string(op.name) + " channel " + std::to_string(selector));
            presetBusyChip();
            int args[4] = {op.example[0], op.example[1], op.example[2], op.example[3]};
            args[op.arity > 1 ? 1 : 0] = selector;
            liuops::Out out;
            liuops::QuietStderr quiet;
            EXPECT_EQ(op.call(args, &out), 0);
            for (const liusim::Transfer& transfer : chip().log()) {
                EXPECT_EQ(transfer.channel, channel);
            }
        }
        expectRefused(op, 0xFFFE, accessRefusal(op, ": only 1 LIU existing!"), op.failed.result);
    }
}

TEST_F(BadInput, PortCountBeyondTheAlarmTableIsPolledUpToItsSixteenRows) {
    startLibrary();
    liuDrv_maxPorts = 255;
    liuops::Out out;
    EXPECT_EQ(liuDrv_alarmHandler(out.table), 0);
    EXPECT_EQ(chip().log().size(), 6u * LIUDRV_ALARM_PORTS);
}

} // namespace
