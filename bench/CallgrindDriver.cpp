// SPDX-License-Identifier: MIT
// Runs one operation of the driver COUNT times against the simulated chip
// served in this process, for instruction counting under callgrind:
//
//   valgrind --tool=callgrind --toggle-collect=liuBench_measure
//            liu_callgrind_driver OPERATION [COUNT]
//
// Only liuBench_measure (the COUNT calls) is counted: start-up, the
// operation's preparation and one warm-up call stay outside.  The operation
// "init" counts liuDrv_init itself (once; COUNT is ignored).  The trace
// facility is the host's console one (libliuTrace), at the level that
// LIU_TRACE selects.  On success the driver prints one line on stdout:
//
//   operation NAME calls COUNT transfers TRANSFERS-PER-CALL
//
// `liu_callgrind_driver --list` prints the operation names, one a line.
#include "LiuDrv.h"
#include "LiuOperations.h"
#include "SimChip.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr long kDefaultCount = 100;

int startDriver() {
    return liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, liubench::kPorts);
}

} // namespace

// Kept out of line and unmangled: callgrind counts what runs inside it.
extern "C" __attribute__((noinline)) int liuBench_measure(int (*run)(), long count) {
    int failures = 0;
    for (long i = 0; i < count; ++i) {
        failures += run() != 0 ? 1 : 0;
    }
    return failures;
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        std::puts("init");
        for (const liubench::Operation& operation : liubench::operations()) {
            std::puts(operation.name);
        }
        return 0;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "Usage: liu_callgrind_driver OPERATION [COUNT]\n"
                             "       liu_callgrind_driver --list\n");
        return 2;
    }
    const std::string_view name = argv[1];
    long count = argc == 3 ? std::strtol(argv[2], nullptr, 10) : kDefaultCount;
    if (count <= 0) {
        std::fprintf(stderr, "liu_callgrind_driver: COUNT must be a positive number\n");
        return 2;
    }
    liusim::LiuModel& model = liusim::SimChip::start().model();

    if (name == "init") {
        count = 1;
        if (liuBench_measure(startDriver, count) != 0) {
            std::fprintf(stderr, "liu_callgrind_driver: liuDrv_init failed\n");
            return 1;
        }
    } else {
        const liubench::Operation* operation = liubench::findOperation(name);
        if (operation == nullptr) {
            std::fprintf(stderr, "liu_callgrind_driver: unknown operation \"%s\"\n", argv[1]);
            return 2;
        }
        if (startDriver() != 0) {
            std::fprintf(stderr, "liu_callgrind_driver: liuDrv_init failed\n");
            return 1;
        }
        if (operation->prepare != nullptr) {
            operation->prepare();
        }
        liubench::QuietStderr quiet(operation->printsOnStderr);
        if (operation->run() != operation->expectedResult) {
            std::fprintf(stderr, "liu_callgrind_driver: %s: unexpected result\n", argv[1]);
            return 1;
        }
        model.clearLog();
        liuBench_measure(operation->run, count);
    }
    const std::size_t transfers = model.log().size();
    std::printf("operation %s calls %ld transfers %zu\n", argv[1], count,
                transfers / static_cast<std::size_t>(count));
    return 0;
}
