// SPDX-License-Identifier: MIT
// Runs one operation of the driver COUNT times against the simulated chip
// served in this process, for instruction counting under callgrind:
//
//   valgrind --tool=callgrind --toggle-collect=liuBench_measure
//            liu_callgrind_driver OPERATION [COUNT]
//
// Only liuBench_measure (the COUNT calls) is counted: start-up, the row's
// preparation and one warm-up call stay outside.  The row "init" counts
// liuDrv_init itself (once; COUNT is ignored).  The trace facility is the
// host's console one (libliuTrace), at the level that LIU_TRACE selects.  On
// success the driver prints one line on stdout:
//
//   operation NAME calls COUNT transfers TRANSFERS-PER-CALL
//
// `liu_callgrind_driver --list` prints the row names (bench/BenchRows.h),
// one a line.
#include "BenchRows.h"
#include "SimChip.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

namespace {

constexpr long kDefaultCount = 100;

liuops::Out out;

} // namespace

// Kept out of line and unmangled: callgrind counts what runs inside it.
extern "C" __attribute__((noinline)) long liuBench_measure(const liubench::Row* row, long count) {
    long unexpected = 0;
    for (long i = 0; i < count; ++i) {
        unexpected += row->call(out) != row->result ? 1 : 0;
    }
    return unexpected;
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const liubench::Row& row : liubench::rows()) {
            std::puts(row.name);
        }
        return 0;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "Usage: liu_callgrind_driver OPERATION [COUNT]\n"
                             "       liu_callgrind_driver --list\n");
        return 2;
    }
    long count = argc == 3 ? std::strtol(argv[2], nullptr, 10) : kDefaultCount;
    if (count <= 0) {
        std::fprintf(stderr, "liu_callgrind_driver: COUNT must be a positive number\n");
        return 2;
    }
    const liubench::Row* row = liubench::findRow(argv[1]);
    if (row == nullptr) {
        std::fprintf(stderr, "liu_callgrind_driver: unknown operation \"%s\"\n", argv[1]);
        return 2;
    }
    liusim::LiuModel& model = liusim::SimChip::start().model();
    if (row->once) {
        count = 1;
    } else if (liubench::startUp() != 0) {
        std::fprintf(stderr, "liu_callgrind_driver: liuDrv_init failed\n");
        return 1;
    }
    long unexpected = 0;
    {
        std::optional<liuops::QuietStderr> quiet;
        if (row->operation->prints && !row->once) {
            quiet.emplace();
        }
        if (!row->once) {
            if (row->prepare != nullptr) {
                row->prepare(row->args);
            }
            unexpected += row->call(out) != row->result ? 1 : 0;
            model.clearLog();
        }
        unexpected += liuBench_measure(row, count);
    }
    if (unexpected != 0) {
        std::fprintf(stderr, "liu_callgrind_driver: %s: unexpected result\n", argv[1]);
        return 1;
    }
    const std::size_t transfers = model.log().size();
    std::printf("operation %s calls %ld transfers %zu\n", argv[1], count,
                transfers / static_cast<std::size_t>(count));
    return 0;
}
