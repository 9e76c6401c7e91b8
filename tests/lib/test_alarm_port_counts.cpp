// SPDX-License-Identifier: MIT
// Alarm poll against the port count given at start-up, up to 255 ports.
// Start-up with 255 ports makes thousands of transfers, so this suite runs on
// the in-process binding of the simulated chip.
#include "AlarmTesting.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace alarmtest;

namespace {

// Rows at and beyond the port count stay initial, as does entry 0 of every
// row; above 16 ports the poll stops at the table's 16 rows.
class PortCountTest : public AlarmHandlerTest, public ::testing::WithParamInterface<int> {};

TEST_P(PortCountTest, PollsOnlyRowsBelowThePortCountAndAtMost16) {
    const int maxPorts = GetParam();
    const int polled = maxPorts < LIUDRV_ALARM_PORTS ? maxPorts : LIUDRV_ALARM_PORTS;
    init(static_cast<std::uint8_t>(maxPorts));
    for (unsigned channel = 0; channel < 16; ++channel) {
        chip().setAlarmStatus(channel, 0xFE); // everything but LOS: all traced
    }

    const auto lines = pollChanges();

    EXPECT_EQ(busAccesses(), pollOfPorts(static_cast<unsigned>(polled)));
    std::vector<std::string> expectedLines;
    std::vector<Entry> active;
    for (int port = 0; port < polled; ++port) {
        for (const Indication& indication : kIndications) {
            if (indication.eventId != LIUDRV_EVENT_LOS) {
                active.push_back({port, indication.eventId, LIUDRV_ALARM_ACTIVE});
                expectedLines.push_back(change(port, indication.name, kActive));
            }
        }
    }
    EXPECT_EQ(lines, expectedLines);
    expectTable(active);
}

INSTANTIATE_TEST_SUITE_P(Counts, PortCountTest, ::testing::Values(0, 1, 8, 15, 16, 17, 255));

} // namespace
