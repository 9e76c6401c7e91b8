// SPDX-License-Identifier: MIT
// Port counts at start-up: liuDrv_init accepts any maxPorts.  Whatever the
// count, start-up gives every port its defaults on channel port AND 0x0F,
// the port guard follows the count, the reference clock outputs take ports
// 0 to 7 only, and the alarm poll reads and records only the ports that have
// a row in the 16-row alarm state table; every other row stays initial.
// One start-up per process.
#include "LiuDrvInternal.h"
#include "LiuSimTest.h"
#include "TransferText.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int32_t kSentinel = 0x5A5AA5A5;
constexpr std::size_t kStartupTransfersPerPort = 143; // power x2, pulse mask, haul 2
constexpr uint8_t kAlarmStatus = 0x36;

using AlarmTable = int32_t[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];

std::string guardRefusal(const char* operation, int port, int last) {
    char text[128];
    std::snprintf(text, sizeof text, "%s: portId=%d not matching, allowed is 0..%d", operation,
                  port, last);
    return text;
}

class PortCount : public LiuSimTest, public ::testing::WithParamInterface<int> {
  protected:
    // One poll into a sentinel-filled table; checks the reads it made.
    void poll(AlarmTable& table, int polledPorts) {
        std::fill(&table[0][0], &table[0][0] + LIUDRV_ALARM_PORTS * LIUDRV_ALARM_ENTRIES,
                  kSentinel);
        chip().clearLog();
        ASSERT_EQ(liuDrv_alarmHandler(table), 0);
        const auto log = chip().log();
        ASSERT_EQ(log.size(), static_cast<std::size_t>(6 * polledPorts));
        for (std::size_t i = 0; i < log.size(); ++i) {
            EXPECT_EQ(log[i].access, liusim::Access::Read) << liusim::describe(log[i]);
            EXPECT_EQ(log[i].channel, i / 6) << liusim::describe(log[i]);
            EXPECT_EQ(log[i].reg, kAlarmStatus) << liusim::describe(log[i]);
        }
    }

    // Rows below polledPorts hold state for LOS and TLOS, every other entry 1.
    static void expectTable(const AlarmTable& table, int polledPorts, int32_t state) {
        for (int port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
            for (int event = 0; event < LIUDRV_ALARM_ENTRIES; ++event) {
                const bool raised =
                    port < polledPorts && (event == LIUDRV_EVENT_LOS || event == LIUDRV_EVENT_TLOS);
                EXPECT_EQ(table[port][event], raised ? state : LIUDRV_ALARM_INITIAL)
                    << "port " << port << " event " << event;
            }
        }
    }
};

TEST_P(PortCount, StartsUpGuardsAndPollsWithinTheTable) {
    const int count = GetParam();
    const int polledPorts = std::min(count, LIUDRV_ALARM_PORTS);
    const int referencePorts = std::min(count, 8);

    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, static_cast<uint8_t>(count)), 0);

    EXPECT_EQ(liuDrv_maxPorts, count);
    EXPECT_EQ(chip().log().size(), 1 + kStartupTransfersPerPort * static_cast<std::size_t>(count));
    for (unsigned channel = 0; channel < LIUDRV_ALARM_PORTS; ++channel) {
        const bool configured = static_cast<int>(channel) < count;
        EXPECT_EQ(chip().reg(channel, 0x28), configured ? 0x14 : 0x00) << "channel " << channel;
        EXPECT_EQ(chip().reg(channel, 0x22), configured ? 0x10 : 0x00) << "channel " << channel;
        EXPECT_EQ(chip().reg(channel, 0x23), configured ? 0x01 : 0x00) << "channel " << channel;
        EXPECT_EQ(chip().reg(channel, 0x29), configured ? 0x54 : 0x00) << "channel " << channel;
    }

    for (unsigned channel = 0; channel < LIUDRV_ALARM_PORTS; ++channel) {
        chip().setAlarmStatus(channel, LIUDRV_STATUS_LOS | LIUDRV_STATUS_TLOS);
    }
    AlarmTable table;
    poll(table, polledPorts);
    expectTable(table, polledPorts, LIUDRV_ALARM_ACTIVE);

    int haul = kSentinel;
    if (count > 0) {
        EXPECT_EQ(liuDrv_getHaulType(static_cast<uint16_t>(count - 1), &haul), 0);
        EXPECT_EQ(haul, LIUDRV_HAUL_2);
        EXPECT_EQ(liuDrv_setRefAClock(static_cast<uint16_t>(referencePorts - 1)), 0);
    }
    liutrace::clear();
    haul = kSentinel;
    EXPECT_EQ(liuDrv_getHaulType(static_cast<uint16_t>(count), &haul), -1);
    EXPECT_EQ(haul, kSentinel);
    EXPECT_EQ(lastTrace().text, guardRefusal("liuDrv_getHaulType", count, count - 1));
    chip().clearLog();
    EXPECT_EQ(liuDrv_setRefBClock(static_cast<uint16_t>(referencePorts)), -1);
    EXPECT_EQ(lastTrace().text,
              guardRefusal("liuDrv_setRefBClock", referencePorts, referencePorts - 1));
    EXPECT_TRUE(chip().log().empty());
}

INSTANTIATE_TEST_SUITE_P(Counts, PortCount, ::testing::Values(0, 8, 9, 16, 17, 255),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "maxPorts" + std::to_string(info.param);
                         });

} // namespace
