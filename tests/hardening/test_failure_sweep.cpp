// SPDX-License-Identifier: MIT
// Failure sweep: every operation of the table that touches the chip, failed
// at every register transfer it makes, on the busy chip preset.  A clean run
// gives the operation's stream of transfers and trace lines; with transfer k
// failed the caller sees that stream up to transfer k, the failed transfer
// with its error line, the operation's own error line where the table gives
// one, and nothing more (the reference clocks and the alarm poll make every
// transfer all the same, by design); the result the table gives; its
// out-parameters untouched; of the printout, a beginning of the clean one.
#include "Golden.h"
#include "LiuSimTest.h"
#include "Operations.h"

#include <algorithm>
#include <ranges>
#include <cstdio>

namespace {

using Lines = std::vector<std::string>;

bool isTransfer(const std::string& line) {
    return line[0] == 'R' || line[0] == 'W';
}

// Transfers without the values read, which may differ after a failure.
Lines accesses(const Lines& stream) {
    Lines all;
    for (const std::string& line : stream | std::views::filter(isTransfer)) {
        all.push_back(line.substr(0, line.find(" -> ")) +
                      (line.ends_with("-- FAILED") ? " FAILED" : ""));
    }
    return all;
}

class FailureSweep : public LiuSimTest, public ::testing::WithParamInterface<const char*> {
  protected:
    // One call on the busy chip, transfer k failed (0: none); the stream and the printout.
    int run(const liuops::Operation& op, std::size_t k, liuops::Out& out, Lines& stream,
            std::string& printed) {
        presetBusyChip();
        if (k != 0) {
            chip().failTransfer(k);
        }
        out.reset();
        ::testing::internal::CaptureStderr();
        const int result = op.call(op.example, &out);
        std::fflush(stderr);
        printed = ::testing::internal::GetCapturedStderr();
        stream = liutrace::stream();
        return result;
    }
};

TEST_P(FailureSweep, EveryTransferPositionFailsCleanly) {
    startLibrary();
    const liuops::Operation& op = *liuops::findOperation(GetParam());
    liuops::Out out;
    Lines clean;
    std::string cleanPrinted;
    run(op, 0, out, clean, cleanPrinted);
    std::vector<std::size_t> positions; // of each transfer in the clean stream
    for (std::size_t i = 0; i < clean.size(); ++i) {
        if (isTransfer(clean[i])) {
            positions.push_back(i);
        }
    }
    ASSERT_FALSE(positions.empty()) << op.name << " made no transfer";

    for (std::size_t k = 1; k <= positions.size() && !HasFailure(); ++k) {
        const std::string& failing = clean[positions[k - 1]];
        SCOPED_TRACE(std::string(op.name) + ": transfer " + std::to_string(k) +
                     " fails: " + failing);
        Lines seen;
        std::string printed;
        const int result = run(op, k, out, seen, printed);

        const bool readout = failing.find(" 0x25 ") != std::string::npos ||
                             failing.find(" 0x26 ") != std::string::npos;
        const liuops::Failure expected = readout ? op.failedReadout : op.failed;
        EXPECT_EQ(result, expected.result);
        const bool write = failing[0] == 'W';
        const std::string failed =
            write ? failing + " FAILED" : failing.substr(0, failing.find("-> ")) + "-> -- FAILED";
        const std::string error =
            write ? "E liuDrv_write: SPI read failure!" : "E liuDrv_read: SPI read failure!";
        if (op.continuesFrom != 0 && static_cast<int>(k) >= op.continuesFrom) {
            Lines wanted = accesses(clean);
            wanted[k - 1] = accesses({failed}).at(0);
            EXPECT_EQ(accesses(seen), wanted);
            EXPECT_EQ(std::count(seen.begin(), seen.end(), error), 1);
        } else {
            Lines wanted(clean.begin(), clean.begin() + static_cast<long>(positions[k - 1]));
            wanted.insert(wanted.end(), {failed, error});
            if (expected.trace != nullptr) {
                wanted.push_back(std::string("E ") + expected.trace);
            }
            EXPECT_EQ(golden::joined(seen), golden::joined(wanted));
        }
        if (result != 0 && op.handsBack) {
            EXPECT_TRUE(out.untouched());
        }
        EXPECT_TRUE(cleanPrinted.starts_with(printed));
    }
}

std::vector<const char*> sweptOperations() { // every operation with transfers
    std::vector<const char*> names;
    for (const liuops::Operation& op : liuops::operations()) {
        const std::string name = op.name;
        if (name != "init" && name != "setInOutType" && name != "broadcastMode") {
            names.push_back(op.name);
        }
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(Operations, FailureSweep, ::testing::ValuesIn(sweptOperations()),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
