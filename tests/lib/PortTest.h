// SPDX-License-Identifier: MIT
// PortTest: LiuSimTest with the helpers the port operation suites share.
//
//  - startLibrary(): liuDrv_init on the simulated chip, then forget the
//    start-up's transfers and trace lines, so a test sees only its own.
//  - W/R/WFailed/RFailed: one expected transfer, in the text of the
//    fixture's transfers() ("W ch3 0x23 <- 0x08", "R global 0x07 -> 0xff").
//  - Call/Detail/Error: one expected trace line (level, text), compared
//    with traceLines().
//  - TearDown checks that every trace line recorded carried the trace mask,
//    one source string, a positive line and a valid id/level pair.
#pragma once

#include "LiuSimTest.h"
#include "TransferText.h"

#include <LiuDrv.h>
#include <LiuDrvInternal.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace porttest {

// Channel argument of W/R for a device-global register.
constexpr int kGlobal = -1;

inline std::string channelText(int channel) {
    return channel == kGlobal ? std::string("global") : "ch" + std::to_string(channel);
}

inline std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

inline std::string W(int channel, std::uint8_t reg, std::uint8_t value) {
    return "W " + channelText(channel) + " " + hex(reg) + " <- " + hex(value);
}
inline std::string R(int channel, std::uint8_t reg, std::uint8_t value) {
    return "R " + channelText(channel) + " " + hex(reg) + " -> " + hex(value);
}
inline std::string WFailed(int channel, std::uint8_t reg, std::uint8_t value) {
    return W(channel, reg, value) + " FAILED";
}
inline std::string RFailed(int channel, std::uint8_t reg) {
    return "R " + channelText(channel) + " " + hex(reg) + " -> -- FAILED";
}

// One trace line: its level and text.  The id that goes with the level
// (255 for errors, liuTsId otherwise) is checked for every line in TearDown.
struct TraceLine {
    int level;
    std::string text;
    bool operator==(const TraceLine&) const = default;
};

inline void PrintTo(const TraceLine& line, std::ostream* out) {
    const char* kind = line.level == LIUDRV_TRACE_LEVEL_ERROR    ? "error"
                       : line.level == LIUDRV_TRACE_LEVEL_CALL   ? "call"
                       : line.level == LIUDRV_TRACE_LEVEL_DETAIL ? "detail"
                                                                 : "level?";
    *out << kind << " \"" << line.text << "\"";
}

inline TraceLine Error(std::string text) {
    return {LIUDRV_TRACE_LEVEL_ERROR, std::move(text)};
}
inline TraceLine Call(std::string text) {
    return {LIUDRV_TRACE_LEVEL_CALL, std::move(text)};
}
inline TraceLine Detail(std::string text) {
    return {LIUDRV_TRACE_LEVEL_DETAIL, std::move(text)};
}
// The detail line liuDrv_write leaves for every register it wrote.
inline TraceLine Wrote(std::uint8_t reg, std::uint8_t value) {
    return Detail("liuDrv_write: reg=" + hex(reg) + " value=" + hex(value));
}
inline TraceLine ReadFailed() {
    return Error("liuDrv_read: SPI read failure!");
}
inline TraceLine WriteFailed() {
    return Error("liuDrv_write: SPI read failure!");
}
inline TraceLine PortRefused(const std::string& operation, unsigned port, int highest) {
    return Error(operation + ": portId=" + std::to_string(port) + " not matching, allowed is 0.." +
                 std::to_string(highest));
}
inline TraceLine NotInited(const std::string& operation) {
    return Error(operation + ": not inited or LIU failure!");
}
inline TraceLine NullArgument(const std::string& operation) {
    return Error(operation + ": null pointer argument!");
}

// Name of a parameterised case for a byte value: "x24".
inline std::string byteName(const ::testing::TestParamInfo<std::uint8_t>& info) {
    char text[8];
    std::snprintf(text, sizeof text, "x%02X", static_cast<unsigned>(info.param));
    return text;
}

// Value an out-parameter is preset to, to see that a refusal leaves it alone.
constexpr int kUntouched = 0x5A5A;

class PortTest : public LiuSimTest {
  protected:
    // Brings the library up and forgets what start-up did on the bus and in
    // the trace.
    void startLibrary(std::uint8_t ports = 8, int inoutType = LIUDRV_INOUT_SYMMETRICAL) {
        ASSERT_EQ(liuDrv_init(inoutType, ports), 0);
        forget();
    }

    // Forgets every transfer and trace line recorded so far.
    void forget() {
        chip().clearLog();
        liutrace::clear();
    }

    std::vector<TraceLine> traceLines() const {
        std::vector<TraceLine> lines;
        for (const liutrace::TraceRecord& record : traces()) {
            lines.push_back({record.level, record.text});
        }
        return lines;
    }

    void TearDown() override {
        const auto records = traces();
        for (const liutrace::TraceRecord& record : records) {
            SCOPED_TRACE(record.text);
            EXPECT_EQ(record.mask, LIUDRV_TRACE_MASK);
            EXPECT_GT(record.line, 0);
            EXPECT_FALSE(record.source.empty());
            EXPECT_EQ(record.source, records.front().source);
            if (record.level == LIUDRV_TRACE_LEVEL_ERROR) {
                EXPECT_EQ(record.id, LIUDRV_TRACE_ERROR_ID);
            } else {
                EXPECT_TRUE(record.level == LIUDRV_TRACE_LEVEL_CALL ||
                            record.level == LIUDRV_TRACE_LEVEL_DETAIL);
                EXPECT_EQ(record.id, liuTsId);
            }
        }
    }
};

} // namespace porttest
