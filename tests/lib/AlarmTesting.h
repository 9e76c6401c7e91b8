// SPDX-License-Identifier: MIT
// Helpers shared by the alarm test suites: a fixture that brings the library
// up on the simulated chip, the bus reads of the transfer log in short form,
// and the alarm change lines of the trace.
#pragma once

#include "LiuDrvInternal.h"
#include "LiuSimTest.h"
#include "TransferText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace alarmtest {

constexpr std::uint8_t kAlarmStatus = 0x36;
constexpr const char* kChangeFormat = "======== LIU[%d] %s %s ========";

using AlarmTable = std::int32_t[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];

// One bus access in short form, as the transfer log describes it without the
// value: "R ch2 0x36".
inline std::string R(unsigned channel, std::uint8_t reg) {
    char text[32];
    std::snprintf(text, sizeof text, "R ch%u 0x%02x", channel, reg);
    return text;
}

// The expected alarm change line for a port, a 4-character event name and
// "  active" / "inactive".
inline std::string change(int port, const char* name, const char* state) {
    char text[64];
    std::snprintf(text, sizeof text, "======== LIU[%d] %s %s ========", port, name, state);
    return text;
}

// "%p" as the trace facility formats it.
inline std::string pointerText(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    return text;
}

class AlarmTest : public LiuSimTest {
  protected:
    // Brings the library up and forgets the start-up's transfers and traces,
    // keeping the source string the library traced with.
    void init(std::uint8_t maxPorts = 8) {
        ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, maxPorts), 0);
        const auto startup = traces();
        ASSERT_FALSE(startup.empty());
        librarySource_ = startup.front().source;
        chip().clearLog();
        liutrace::clear();
    }

    // The log's transfers in short form, value left out; failed ones marked.
    std::vector<std::string> busAccesses() const {
        std::vector<std::string> accesses;
        for (const std::string& line : transfers()) {
            std::string access = line.substr(0, line.find(" -> "));
            access = access.substr(0, access.find(" <- "));
            if (line.find("FAILED") != std::string::npos) {
                access += " FAILED";
            }
            accesses.push_back(access);
        }
        return accesses;
    }

    // The alarm change lines traced since the last clear, oldest first.
    std::vector<std::string> changes() const {
        std::vector<std::string> lines;
        for (const auto& record : tracesWithFormat(kChangeFormat)) {
            lines.push_back(record.text);
        }
        return lines;
    }

    // Every trace text except the handler's entry trace.
    std::vector<std::string> tracesBesidesEntry() const {
        std::vector<std::string> texts;
        for (const auto& record : traces()) {
            if (record.format != "%s(alarmstate=%p)") {
                texts.push_back(record.text);
            }
        }
        return texts;
    }

    std::string librarySource_;
};

inline constexpr const char* kActive = "  active";
inline constexpr const char* kInactive = "inactive";

struct Indication {
    int eventId;
    const char* name; // as traced: 4 characters
    std::uint8_t mask;
};

constexpr Indication kLos{LIUDRV_EVENT_LOS, "LOS ", 0x01};
constexpr Indication kAis{LIUDRV_EVENT_AIS, "AIS ", 0x02};
constexpr Indication kDf{LIUDRV_EVENT_DF, "DF  ", 0x04};
constexpr Indication kTlos{LIUDRV_EVENT_TLOS, "TLOS", 0x08};
constexpr Indication kPrbs{LIUDRV_EVENT_PRBS, "PRBS", 0x10};
constexpr Indication kEq{LIUDRV_EVENT_EQ, "EQ  ", 0x80};
inline const Indication kIndications[] = {kLos, kAis, kDf, kTlos, kPrbs, kEq};

inline void PrintTo(const Indication& indication, std::ostream* out) {
    *out << '"' << indication.name << '"';
}

inline std::string indicationName(const ::testing::TestParamInfo<Indication>& info) {
    std::string name = info.param.name;
    name.erase(name.find_last_not_of(' ') + 1);
    return name;
}

// A caller's buffer with guard bytes right behind the 448 bytes of the table.
struct GuardedTable {
    AlarmTable table;
    std::uint8_t guard[64];
};
static_assert(sizeof(AlarmTable) == 448);
static_assert(offsetof(GuardedTable, guard) == sizeof(AlarmTable));

constexpr std::uint8_t kPattern = 0xA5;

class AlarmHandlerTest : public AlarmTest {
  protected:
    // Polls once into the guarded buffer (pattern-filled first) and checks
    // the result, the guard bytes and that every entry is a state.
    void poll() {
        std::memset(&buffer_, kPattern, sizeof buffer_);
        ASSERT_EQ(liuDrv_alarmHandler(buffer_.table), 0);
        for (const std::uint8_t byte : buffer_.guard) {
            ASSERT_EQ(byte, kPattern) << "the copy ran past the 448 bytes of the table";
        }
        for (const auto& row : buffer_.table) {
            for (const std::int32_t entry : row) {
                ASSERT_TRUE(entry >= 1 && entry <= 3) << "entry " << entry;
            }
        }
    }

    // Polls and returns the change lines this poll traced.
    std::vector<std::string> pollChanges() {
        liutrace::clear();
        poll();
        return changes();
    }

    std::int32_t state(int port, int eventId) const { return buffer_.table[port][eventId]; }

    // Every entry of the copied table is 1 except the ones listed.
    struct Entry {
        int port;
        int eventId;
        std::int32_t state;
    };
    void expectTable(const std::vector<Entry>& changed) const {
        AlarmTable expected;
        for (auto& row : expected) {
            for (std::int32_t& entry : row) {
                entry = LIUDRV_ALARM_INITIAL;
            }
        }
        for (const Entry& entry : changed) {
            expected[entry.port][entry.eventId] = entry.state;
        }
        for (int port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
            EXPECT_THAT(buffer_.table[port], ::testing::ElementsAreArray(expected[port]))
                << "port " << port;
        }
    }

    GuardedTable buffer_{};
};

inline std::vector<std::string> pollOfPorts(unsigned ports) {
    std::vector<std::string> reads;
    for (unsigned port = 0; port < ports; ++port) {
        reads.insert(reads.end(), 6, R(port, kAlarmStatus));
    }
    return reads;
}

} // namespace alarmtest
