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
#include <set>

namespace {

using liuops::Guard;
using liuops::Operation;

std::string portRefusal(const Operation& op, int port, int last) {
    return "liuDrv_" + std::string(op.name) + ": portId=" + std::to_string(port) +
           " not matching, allowed is 0.." + std::to_string(last);
}

// A refused register access: the write's own message, else the read's.
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
        const auto stream = liutrace::stream();
        EXPECT_EQ(stream.empty() ? "" : stream.back(), "E " + error) << "last";
        EXPECT_EQ(std::count_if(stream.begin(), stream.end(), [](auto& l) { return l[0] == 'E'; }),
                  1);
    }
};

// Not started: the port guard refuses port 0 (range 0..-1), and with a port
// count written into the global, refuses as not initialised; the operations
// without a guard fail their transfer on the device not opened.
TEST_F(BadInput, BeforeStartUpEveryOperationIsRefusedOrFailsItsTransfer) {
    ASSERT_EQ(liuDrv_inited, 0) << "this test must run first in the process";
    for (const Operation& op : liuops::operations()) {
        if (op.guard == Guard::Port) {
            expectRefused(op, 0, portRefusal(op, 0, -1));
        }
    }
    liuDrv_maxPorts = 8;
    for (const Operation& op : liuops::operations()) {
        const std::string name = op.name;
        if (op.guard != Guard::None) {
            expectRefused(op, 0, "liuDrv_" + name + ": not inited or LIU failure!");
        } else if (name != "init" && name != "setInOutType" && name != "broadcastMode") {
            expectRefused(op, op.example[op.arity > 1 ? 1 : 0],
                          accessRefusal(op, ": SPI read failure!"), op.failed.result);
        }
    }
}

// Ports from the port count on, with or without an out-parameter; the null
// out-parameter refused after the port guard.
TEST_F(BadInput, PortsAndNullOutParameters) {
    startLibrary();
    for (const Operation& op : liuops::operations()) {
        if (op.handsBack && op.guard != Guard::Inited) {
            expectRefused(op, op.guard == Guard::Port ? 7 : op.example[1],
                          "liuDrv_" + std::string(op.name) + ": null pointer argument!", -1, true);
        }
        if (op.guard != Guard::Port) {
            continue;
        }
        for (int port : {8, 15, 16, 255, 65535}) {
            expectRefused(op, port, portRefusal(op, port, 7), -1, port == 16);
        }
    }
}

// Codes of port 3 around and far beyond their ranges; the input/output
// type is refused by the next line type set (E1, then T1).
TEST_F(BadInput, CodesOutsideTheirRanges) {
    startLibrary();
    const struct {
        const char* operation;
        int first, last;
        const char* refusal;
    } codes[] = {
        {"setLineType", 1, 3, "liuDrv_pulsMaskConfiguration: unknown lineType: %d"},
        {"setLineCode", 1, 2, "liuDrv_setLineCode: unknown linecode %d"},
        {"setLineBuildOut", 1, 4, "liuDrv_lboConfiguration: unknown lbo: %d"},
        {"setLineLength", 1, 5, "liuDrv_lineLenConfiguration: unknown lineLen: %d"},
        {"setHaulType", 1, 2, "liuDrv_setHaulType unknown haul :%d !"},
        {"E1", 1, 2, "liuDrv_pulsMaskConfiguration: unknown input/output type:%d"},
        {"T1", 2, 2, "liuDrv_pulsMaskConfiguration: T1/JT1, unsupported input/output type:%d"}};
    for (const auto& range : codes) {
        for (int code : std::set<int>{INT_MIN, -1, 0, range.first - 1, range.first, range.last,
                                      range.last + 1, INT_MAX}) {
            SCOPED_TRACE(std::string(range.refusal) + " with " + std::to_string(code));
            liuDrv_lineType = LIUDRV_LINE_TYPE_E1;
            liutrace::clear();
            const bool inout = range.operation[0] != 's';
            inout ? liuDrv_setInOutType(code) : void();
            const int args[] = {3, inout ? (range.operation[0] == 'E' ? 1 : 2) : code};
            EXPECT_EQ(
                liuops::findOperation(inout ? "setLineType" : range.operation)->call(args, nullptr),
                code >= range.first && code <= range.last ? 0 : -1);
            const auto stream = liutrace::stream();
            const auto error =
                std::find_if(stream.begin(), stream.end(), [](auto& l) { return l[0] == 'E'; });
            char refusal[160];
            std::snprintf(refusal, sizeof refusal, range.refusal, code);
            EXPECT_EQ(error == stream.end() ? "(none)" : error->substr(2),
                      code >= range.first && code <= range.last ? "(none)" : refusal);
        }
    }
}

// Register access, the alarm readers and the dump take a channel: its low
// four bits, 0 for the global selector 0xFFFF; 0xFFFE, a second LIU, is refused.
TEST_F(BadInput, ChannelSelectors) {
    startLibrary();
    for (const char* unguarded : {"write", "read", "hasLos", "hasPrbs", "dumpPulseShapeParam"}) {
        const Operation& op = *liuops::findOperation(unguarded);
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
    liuDrv_maxPorts = 255; // beyond the 16 rows of the alarm table: 16 ports polled
    liuops::Out out;
    chip().clearLog();
    EXPECT_EQ(liuDrv_alarmHandler(out.table), 0);
    EXPECT_EQ(chip().log().size(), 6u * LIUDRV_ALARM_PORTS);
}

} // namespace
