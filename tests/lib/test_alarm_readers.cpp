// SPDX-License-Identifier: MIT
// Alarm status readers: one read of register 0x36 of the port's channel per
// call, the result masked with the reader's own bit, no trace and no port
// guard.  A failed read answers the reader's mask.
#include "AlarmTesting.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

using namespace alarmtest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct Reader {
    const char* name;
    int (*read)(std::uint16_t port);
    int mask;
};

const Reader kReaders[] = {
    {"Los", liuDrv_hasLos, 0x01},   {"Ais", liuDrv_hasAis, 0x02},   {"Df", liuDrv_hasDf, 0x04},
    {"Tlos", liuDrv_hasTlos, 0x08}, {"Prbs", liuDrv_hasPrbs, 0x10}, {"Eq", liuDrv_hasEq, 0x80},
};

void PrintTo(const Reader& reader, std::ostream* out) {
    *out << "liuDrv_has" << reader.name;
}

class AlarmReaderTest : public AlarmTest, public ::testing::WithParamInterface<Reader> {};

std::string readerName(const ::testing::TestParamInfo<Reader>& info) {
    return info.param.name;
}

// Register 0x36 of port 2 against its neighbours, which hold the complement
// so that a read of the wrong channel gives the opposite answer.
TEST_P(AlarmReaderTest, MasksTheStatusRegisterOfThePortsChannel) {
    const Reader reader = GetParam();
    init();
    for (const std::uint8_t status : {0x91, 0x60, 0xFF, 0x00, 0x6E}) {
        SCOPED_TRACE(status);
        chip().setAlarmStatus(1, static_cast<std::uint8_t>(~status));
        chip().setAlarmStatus(2, status);
        chip().setAlarmStatus(3, static_cast<std::uint8_t>(~status));
        chip().clearLog();
        liutrace::clear();

        EXPECT_EQ(reader.read(2), status & reader.mask);
        EXPECT_THAT(busAccesses(), ElementsAre(R(2, kAlarmStatus)));
        EXPECT_THAT(traces(), IsEmpty());
    }
}

// No port guard: ports at or above maxPorts are read all the same, on the
// low 4 bits of the port.
TEST_P(AlarmReaderTest, ReadsPortsBeyondThePortCount) {
    const Reader reader = GetParam();
    init(4);
    chip().setAlarmStatus(2, 0x00);
    chip().setAlarmStatus(9, 0xFF);
    chip().setAlarmStatus(15, 0xFF);

    EXPECT_EQ(reader.read(9), reader.mask);
    EXPECT_EQ(reader.read(0x1F), reader.mask);
    EXPECT_EQ(reader.read(0x12), 0);
    EXPECT_THAT(busAccesses(),
                ElementsAre(R(9, kAlarmStatus), R(15, kAlarmStatus), R(2, kAlarmStatus)));
    EXPECT_THAT(traces(), IsEmpty());
}

// The global selector reads the device-global register 0x36 (bank 0).
TEST_P(AlarmReaderTest, GlobalSelectorReadsTheGlobalBank) {
    const Reader reader = GetParam();
    init();
    chip().setAlarmStatus(0, 0x91);
    chip().setAlarmStatus(15, 0x6E);

    EXPECT_EQ(reader.read(LIUDRV_CHANNEL_GLOBAL), 0x91 & reader.mask);
    EXPECT_THAT(busAccesses(), ElementsAre(R(0, kAlarmStatus)));
    EXPECT_THAT(traces(), IsEmpty());
}

// The second-device selector is refused by the read: the reader answers its
// mask, and the only trace is the read's own refusal.
TEST_P(AlarmReaderTest, RefusedSelectorAnswersTheMask) {
    const Reader reader = GetParam();
    init();

    EXPECT_EQ(reader.read(LIUDRV_CHANNEL_SECOND), reader.mask);
    EXPECT_THAT(busAccesses(), IsEmpty());
    EXPECT_THAT(traceTexts(), ElementsAre("liuDrv_read: only 1 LIU existing!"));
}

// Before start-up the device is not open: the read fails and the reader
// answers its mask, whatever the chip holds.
TEST_P(AlarmReaderTest, BeforeInitTheFailedReadAnswersTheMask) {
    const Reader reader = GetParam();
    chip().setAlarmStatus(0, 0x00);

    EXPECT_EQ(reader.read(0), reader.mask);
    EXPECT_THAT(busAccesses(), IsEmpty());
    const auto all = traces();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].text, "liuDrv_read: SPI read failure!");
    EXPECT_EQ(all[0].id, LIUDRV_TRACE_ERROR_ID);
    EXPECT_EQ(all[0].level, LIUDRV_TRACE_LEVEL_ERROR);
}

// A failed transfer answers the mask for that call only; the next call reads
// the register again.
TEST_P(AlarmReaderTest, FailedTransferAnswersTheMaskOnce) {
    const Reader reader = GetParam();
    init();
    chip().setAlarmStatus(5, 0x00);
    chip().failTransfer(1);

    EXPECT_EQ(reader.read(5), reader.mask);
    EXPECT_EQ(reader.read(5), 0);
    EXPECT_THAT(busAccesses(), ElementsAre(R(5, kAlarmStatus) + " FAILED", R(5, kAlarmStatus)));
    EXPECT_THAT(traceTexts(), ElementsAre("liuDrv_read: SPI read failure!"));
}

INSTANTIATE_TEST_SUITE_P(Indications, AlarmReaderTest, ::testing::ValuesIn(kReaders), readerName);

// Every reader makes its own read: six readers, six reads, each seeing the
// register as it is at that moment.
TEST_F(AlarmTest, EachReaderReadsAtItsOwnMoment) {
    init();
    std::array<int, 6> answers{};
    chip().setAlarmStatus(4, 0xFF);
    answers[0] = liuDrv_hasLos(4);
    chip().setAlarmStatus(4, 0x00);
    answers[1] = liuDrv_hasAis(4);
    chip().setAlarmStatus(4, 0xFF);
    answers[2] = liuDrv_hasDf(4);
    answers[3] = liuDrv_hasTlos(4);
    chip().setAlarmStatus(4, 0x00);
    answers[4] = liuDrv_hasPrbs(4);
    chip().setAlarmStatus(4, 0x80);
    answers[5] = liuDrv_hasEq(4);

    EXPECT_THAT(answers, ElementsAre(0x01, 0, 0x04, 0x08, 0, 0x80));
    EXPECT_EQ(busAccesses(), std::vector<std::string>(6, R(4, kAlarmStatus)));
}

} // namespace
