// SPDX-License-Identifier: MIT
// Helpers shared by the library suites: a readable form of the SPI bus log
// and of the trace lines, builders for the sequences that several operations
// share (pulse mask configuration, waveform read-out), and a fixture that
// brings the library up and starts each check from an empty log.
#pragma once

#include "LiuSimTest.h"

#include <LiuDrv.h>
#include <LiuDrvInternal.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace libtest {

// ---- Bus log ---------------------------------------------------------------
// One transfer as "W 3 0x22=0x10" (write of 0x10 to register 0x22 of channel
// 3) or "R 3 0x22" (read); a transfer failed by the chip gets " FAILED".  The
// channel is the bank the frame selected (0 for the global registers too).
inline std::string W(unsigned channel, unsigned reg, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, "W %u 0x%02x=0x%02x", channel, reg, value);
    return text;
}

inline std::string R(unsigned channel, unsigned reg) {
    char text[32];
    std::snprintf(text, sizeof text, "R %u 0x%02x", channel, reg);
    return text;
}

inline std::string failed(const std::string& transfer) {
    return transfer + " FAILED";
}

using Bus = std::vector<std::string>;

inline Bus busOf(const std::vector<liusim::Transfer>& log) {
    Bus bus;
    for (const liusim::Transfer& transfer : log) {
        std::string text = transfer.access == liusim::Access::Write
                               ? W(transfer.channel, transfer.reg, transfer.value)
                               : R(transfer.channel, transfer.reg);
        bus.push_back(transfer.ok ? text : failed(text));
    }
    return bus;
}

inline void append(Bus& to, const Bus& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// The 128 transfers of the waveform read-out of a port: for UI 0..3 and
// sample 0..15 the sample address written to 0x25, then a read of 0x26.
inline Bus readOutBus(unsigned port) {
    Bus bus;
    for (unsigned ui = 0; ui < 4; ++ui) {
        for (unsigned index = 0; index < 16; ++index) {
            bus.push_back(W(port, 0x25, 0xC0 + ui * 16 + index));
            bus.push_back(R(port, 0x26));
        }
    }
    return bus;
}

// ---- Trace lines -----------------------------------------------------------
// A text ending in '*' stands for every text that begins with the rest: for
// a value the library is free to choose.
struct Line {
    int id;
    int level;
    std::string text;

    bool matches(const Line& actual) const {
        if (id != actual.id || level != actual.level) {
            return false;
        }
        if (!text.empty() && text.back() == '*') {
            return actual.text.starts_with(text.substr(0, text.size() - 1));
        }
        return text == actual.text;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Line& line) {
    return out << "{id " << line.id << ", level 0x" << std::hex << line.level << std::dec << ", \""
               << line.text << "\"}";
}

inline std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string fmt(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Expected lines of each kind; call and detail lines carry liuTsId as it
// stands when the expectation is built.
inline Line E(const std::string& text) {
    return {LIUDRV_TRACE_ERROR_ID, LIUDRV_TRACE_LEVEL_ERROR, text};
}
inline Line C(const std::string& text) {
    return {liuTsId, LIUDRV_TRACE_LEVEL_CALL, text};
}
inline Line D(const std::string& text) {
    return {liuTsId, LIUDRV_TRACE_LEVEL_DETAIL, text};
}

using Lines = std::vector<Line>;

inline void append(Lines& to, const Lines& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// Compares a recorded sequence (bus transfers or trace lines) with the
// expected one; on a difference names the first differing position.
inline bool sameItem(const std::string& expected, const std::string& actual) {
    return expected == actual;
}
inline bool sameItem(const Line& expected, const Line& actual) {
    return expected.matches(actual);
}

template <typename Item>
::testing::AssertionResult sameSequence(const std::vector<Item>& actual,
                                        const std::vector<Item>& expected) {
    const std::size_t common = std::min(actual.size(), expected.size());
    std::size_t at = 0;
    while (at < common && sameItem(expected[at], actual[at])) {
        ++at;
    }
    if (at == common && actual.size() == expected.size()) {
        return ::testing::AssertionSuccess();
    }
    auto result = ::testing::AssertionFailure();
    result << actual.size() << " items recorded, " << expected.size()
           << " expected; first difference at index " << at << "\n";
    const std::size_t from = at > 3 ? at - 3 : 0;
    for (std::size_t i = from; i < at + 4 && i < std::max(actual.size(), expected.size()); ++i) {
        result << "  [" << i << "] expected: ";
        if (i < expected.size()) {
            result << expected[i];
        } else {
            result << "(nothing)";
        }
        result << "\n  [" << i << "] recorded: ";
        if (i < actual.size()) {
            result << actual[i];
        } else {
            result << "(nothing)";
        }
        result << "\n";
    }
    return result;
}

inline Line writeLine(unsigned reg, unsigned value) {
    return D(fmt("liuDrv_write: reg=0x%02x value=0x%02x", reg, value));
}

// The read-out's own lines for a port whose 64 samples are samples[ui][index]:
// two detail lines with UI 0, 64 sample lines, the result line.
inline Lines readOutOwnLines(unsigned port, const std::uint8_t (&samples)[4][16]) {
    const std::uint8_t* s = samples[0];
    Lines lines = {
        D(fmt("UI1: 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x\n", s[0], s[1], s[2],
              s[3], s[4], s[5], s[6], s[7])),
        D(fmt("     0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x\n", s[8], s[9], s[10],
              s[11], s[12], s[13], s[14], s[15])),
    };
    for (unsigned ui = 0; ui < 4; ++ui) {
        for (unsigned index = 0; index < 16; ++index) {
            lines.push_back(C(fmt("liuDrv_getUserArbitraryWaveform(port=%u, ...) i:%u sample:%d - "
                                  "0x%02x",
                                  port, ui, index, samples[ui][index])));
        }
    }
    lines.push_back(C("liuDrv_getUserArbitraryWaveform returns template=1)"));
    return lines;
}

// Every line of a successful read-out: the 64 sample address writes, then
// the read-out's own lines.
inline Lines readOutLines(unsigned port, const std::uint8_t (&samples)[4][16]) {
    Lines lines;
    for (unsigned address = 0xC0; address < 0x100; ++address) {
        lines.push_back(writeLine(0x25, address));
    }
    append(lines, readOutOwnLines(port, samples));
    return lines;
}

inline Lines readOutLines(unsigned port) {
    const std::uint8_t zero[4][16] = {};
    return readOutLines(port, zero);
}

// ---- Pulse mask configuration -------------------------------------------------
// The line interface a line type gets with an input/output type, from the
// table of successful configurations; detected is null when refused.
struct LineInterface {
    const char* detected;
    int pulseTemplate;
    std::uint8_t termination;
};

inline LineInterface lineInterface(int lineType, int inoutType) {
    if (lineType == 1 && inoutType == 1) {
        return {"ASYMMETRICAL E1", 0, 0x00};
    }
    if (lineType == 1 && inoutType == 2) {
        return {"SYMMETRICAL E1", 1, 0x09};
    }
    if (lineType == 2 && inoutType == 2) {
        return {"SYMMETRICAL T1", 8, 0x12};
    }
    if (lineType == 3 && inoutType == 2) {
        return {"SYMMETRICAL JT1", 7, 0x1B};
    }
    return {nullptr, 0, 0};
}

// Pulse template code written for liuDrv_lineType; 0 for none.
inline std::uint8_t templateCode(int lineTypeGlobal) {
    switch (lineTypeGlobal) {
    case 1:
        return 0x01;
    case 2:
        return 0x08;
    case 3:
        return 0x07;
    default:
        return 0;
    }
}

struct PulseMaskRun {
    Bus bus;
    Lines lines;
    int result;
};

// The transfers, trace lines and result of liuDrv_pulsMaskConfiguration(port,
// lineType) on an initialised library, with registers 0x22, 0x28 and 0x20
// holding tcf0, rcf0 and mode and the two globals as given.
inline PulseMaskRun pulseMaskRun(unsigned port, int lineType, int inoutType, int lineTypeGlobal,
                                 std::uint8_t tcf0, std::uint8_t rcf0, std::uint8_t mode) {
    PulseMaskRun run;
    run.lines.push_back(
        D(fmt("liuDrv_pulsMaskConfiguration(port=%u, lineType=%d)", port, lineType)));
    const unsigned newTcf0 = tcf0 & 0x10;
    const unsigned newRcf0 = (rcf0 & 0x10) | 0x04;
    append(run.bus, {R(port, 0x22), W(port, 0x22, newTcf0), R(port, 0x28), W(port, 0x28, newRcf0),
                     W(port, 0x2C, 0x02)});
    append(run.lines, {writeLine(0x22, newTcf0), writeLine(0x28, newRcf0), writeLine(0x2C, 0x02)});
    if (lineType < 1 || lineType > 3) {
        run.lines.push_back(E(fmt("liuDrv_pulsMaskConfiguration: unknown lineType: %d", lineType)));
        run.result = -1;
        return run;
    }
    run.bus.push_back(R(port, 0x20));
    const bool t1Mode = lineType != 1;
    if (((mode & 0x01) != 0) != t1Mode) {
        const unsigned newMode = t1Mode ? (mode | 0x01u) : (mode & 0xFEu);
        run.bus.push_back(W(port, 0x20, newMode));
        run.lines.push_back(writeLine(0x20, newMode));
    }
    const LineInterface interface = lineInterface(lineType, inoutType);
    if (interface.detected == nullptr) {
        run.lines.push_back(
            E(fmt(lineType == 1 ? "liuDrv_pulsMaskConfiguration: unknown input/output type:%d"
                                : "liuDrv_pulsMaskConfiguration: T1/JT1, unsupported "
                                  "input/output type:%d",
                  inoutType)));
        run.result = -1;
        return run;
    }
    run.lines.push_back(C(fmt("liuDrv_pulsMaskConfiguration: port=%u, %s line I/F detected", port,
                              interface.detected)));
    append(run.bus, {W(port, 0x32, interface.termination), W(port, 0x2A, 0x18)});
    append(run.lines, {writeLine(0x32, interface.termination), writeLine(0x2A, 0x18),
                       C(fmt("liuDrv_setUserArbitraryWaveform(port=%u, template=%d)", port,
                             interface.pulseTemplate))});
    const std::uint8_t code = templateCode(lineTypeGlobal);
    if (code == 0) {
        run.lines.push_back(E(
            fmt("liuDrv_setUserArbitraryWaveform(port=%u, ...) should never come to here", port)));
        run.result = -1;
        return run;
    }
    run.bus.push_back(W(port, 0x23, code));
    run.lines.push_back(writeLine(0x23, code));
    run.result = 0;
    return run;
}

// ---- Fixture -----------------------------------------------------------------
class LibTest : public LiuSimTest {
  protected:
    // liuDrv_init that must succeed; the bus log and the trace record start
    // empty afterwards.
    void initLibrary(int inoutType = LIUDRV_INOUT_SYMMETRICAL, std::uint8_t ports = 8) {
        ASSERT_EQ(liuDrv_init(inoutType, ports), 0);
        startCheck();
    }

    // Forget the bus log and the trace lines recorded so far.
    void startCheck() {
        chip().clearLog();
        liutrace::clear();
    }

    Bus bus() { return busOf(chip().log()); }

    Lines lines() const {
        Lines result;
        for (const liutrace::TraceRecord& record : traces()) {
            result.push_back({record.id, record.level, record.text});
        }
        return result;
    }

    // Every trace line carries the mask, one source string, a positive line
    // number and one of the three levels; error lines carry id 255.  (The
    // id of the other lines is checked where the lines are compared.)
    void expectWellFormedTraces() const {
        const auto all = traces();
        for (const liutrace::TraceRecord& record : all) {
            SCOPED_TRACE(record.text);
            EXPECT_EQ(record.mask, LIUDRV_TRACE_MASK);
            EXPECT_FALSE(record.source.empty());
            EXPECT_EQ(record.source, all.front().source);
            EXPECT_GT(record.line, 0);
            if (record.level == LIUDRV_TRACE_LEVEL_ERROR) {
                EXPECT_EQ(record.id, LIUDRV_TRACE_ERROR_ID);
            } else {
                EXPECT_TRUE(record.level == LIUDRV_TRACE_LEVEL_CALL ||
                            record.level == LIUDRV_TRACE_LEVEL_DETAIL);
            }
        }
    }

    void TearDown() override { expectWellFormedTraces(); }
};

} // namespace libtest
