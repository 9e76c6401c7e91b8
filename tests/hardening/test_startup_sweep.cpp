// SPDX-License-Identifier: MIT
// Start-up failure sweep: liuDrv_init(2, 1) with one of its transfers failed,
// once for each step of start-up, in a process of its own (the library
// starts once per process).  Start-up stops right there: the failed transfer
// is the last, followed by its error line only (and by the line type
// read-out's "failed" line inside haul 2), with result 1 (-1 for the
// read-out); initialised all the same, so that a second start-up is refused
// without a transfer.  (What start-up does before the failure is the golden
// case startup/OnePort.)
#include "LiuSimTest.h"

#include <LiuDrv.h>

namespace {

// Position of the failed transfer among the 144 of start-up, one per step.
enum Step : std::size_t {
    Reset = 1,
    ReceiverRead,
    ReceiverWrite,
    TransmitterRead,
    TransmitterWrite,
    TransmitRead,
    TransmitWrite,
    ReceiveRead,
    ReceiveWrite,
    Register2CWrite,
    ModeRead,
    TerminationWrite,
    Register2AWrite,
    TemplateWrite,
    HaulRead,
    ReadOutFirstWrite,
    ReadOutFirstRead,
    ReadOutLastRead = 143,
    HaulWrite
};

class StartupSweep : public LiuSimTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(StartupSweep, StopsAtTheFailedTransferAndStaysInitialised) {
    const std::size_t k = GetParam();
    const bool readout = k >= ReadOutFirstWrite && k <= ReadOutLastRead;
    chip().failTransfer(k);

    EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 1), readout ? -1 : 1);

    const auto log = chip().log();
    ASSERT_EQ(log.size(), k);
    EXPECT_FALSE(log.back().ok);
    const auto stream = liutrace::stream();
    const std::vector<std::string> tail(stream.end() - (readout ? 3 : 2), stream.end());
    const bool write = log.back().access == liusim::Access::Write;
    std::vector<std::string> wanted = {transfers().back(),
                                       write ? "E liuDrv_write: SPI read failure!"
                                             : "E liuDrv_read: SPI read failure!"};
    if (readout) {
        wanted.push_back("E liuDrv_getLineType failed");
    }
    EXPECT_EQ(tail, wanted);
    EXPECT_EQ(liuDrv_inited, 1);
    chip().clearLog();
    EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 1), -1);
    EXPECT_TRUE(chip().log().empty());
}

INSTANTIATE_TEST_SUITE_P(Steps, StartupSweep,
                         ::testing::Values(Reset, ReceiverRead, ReceiverWrite, TransmitterRead,
                                           TransmitterWrite, TransmitRead, TransmitWrite,
                                           ReceiveRead, ReceiveWrite, Register2CWrite, ModeRead,
                                           TerminationWrite, Register2AWrite, TemplateWrite,
                                           HaulRead, ReadOutFirstWrite, ReadOutFirstRead,
                                           ReadOutLastRead, HaulWrite));

} // namespace
