// SPDX-License-Identifier: MIT
// Suites linked with the shared libliuDrv (liu_add_test_suite ... SHARED):
// the library's own open/ioctl calls must reach the simulated chip and its
// trace calls the recorder, through either binding.
#include "LiuDrv.h"
#include "LiuSimTest.h"

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;

class SharedLibraryTest : public LiuSimTest {
  protected:
    void SetUp() override {
        LiuSimTest::SetUp();
        ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
        chip().clearLog();
        liutrace::clear();
    }
};

TEST_F(SharedLibraryTest, RegisterAccessesReachTheChip) {
    chip().setAlarmStatus(3, 0x01);
    std::uint8_t value = 0;

    EXPECT_EQ(liuDrv_read(0x36, 3, &value), 0);
    EXPECT_EQ(liuDrv_write(0x2B, 3, 0x04, 1), 0);

    EXPECT_EQ(value, 0x01);
    EXPECT_EQ(chip().reg(3, 0x2B), 0x04);
    EXPECT_THAT(transfers(), ElementsAre("R ch3 0x36 -> 0x01", "W ch3 0x2b <- 0x04"));
    EXPECT_EQ(lastTrace().text, "liuDrv_write: reg=0x2b value=0x04");
}

TEST_F(SharedLibraryTest, FailedTransferIsReportedThroughTheRecorder) {
    chip().failTransfer(1);
    std::uint8_t value = 0x5A;

    EXPECT_EQ(liuDrv_read(0x36, 3, &value), 1);

    EXPECT_EQ(value, 0x5A);
    const auto failure = lastTrace();
    EXPECT_EQ(failure.id, LIUDRV_TRACE_ERROR_ID);
    EXPECT_EQ(failure.level, LIUDRV_TRACE_LEVEL_ERROR);
    EXPECT_EQ(failure.text, "liuDrv_read: SPI read failure!");
}

} // namespace
