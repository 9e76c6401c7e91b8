// SPDX-License-Identifier: MIT
// Time per operation of the driver against the simulated chip, served in
// this process (no umockdev, no thread hand-over), with a trace facility that
// does nothing.  Each operation runs twice:
//   lib/<operation>   the driver's call;
//   bare/<operation>  the same frames as bare SPI_IOC_MESSAGE(1) requests,
//                     prebuilt, in the same order: the bus work alone.
// The frames of the bare loop are those the driver sent for one call, taken
// from the chip's transfer log, so both loops move exactly the same frames.
// bench/run.sh pairs the two and prints their ratio.
// The bare loops write back whole registers as they were when the frames
// were taken, and the benchmarks run in random order, so the chip's state
// before a driver loop is anyone's: each driver loop first runs its
// operation's preparation, which sets up what its result depends on.
#include "LiuDrv.h"
#include "LiuOperations.h"
#include "SimChip.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using liubench::Operation;

constexpr unsigned kFrameLength = 3;

// One prebuilt transfer: its frame, its receive buffer and its record.
struct BareTransfer {
    std::array<std::uint8_t, kFrameLength> frame;
    std::array<std::uint8_t, kFrameLength> reply;
    spi_ioc_transfer record;
};

using BareTransfers = std::vector<BareTransfer>;

// One operation and the frames one call of it puts on the bus.
struct Case {
    const Operation* operation;
    BareTransfers transfers;
};

int spiFd = -1;

void runDriver(benchmark::State& state, const Case* benchCase) {
    const Operation* operation = benchCase->operation;
    if (operation->prepare != nullptr) {
        operation->prepare();
    }
    liubench::QuietStderr quiet(operation->printsOnStderr);
    for (auto _ : state) {
        const int result = operation->run();
        if (result != operation->expectedResult) {
            state.SkipWithError("unexpected result");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    state.counters["frames"] = static_cast<double>(benchCase->transfers.size());
}

void runBare(benchmark::State& state, Case* benchCase) {
    for (auto _ : state) {
        for (BareTransfer& transfer : benchCase->transfers) {
            if (ioctl(spiFd, SPI_IOC_MESSAGE(1), &transfer.record) !=
                static_cast<int>(kFrameLength)) {
                state.SkipWithError("transfer failed");
                return;
            }
        }
        benchmark::ClobberMemory();
    }
    state.counters["frames"] = static_cast<double>(benchCase->transfers.size());
}

// The frames one call of the operation puts on the bus.
BareTransfers framesOf(liusim::SimChip& chip, const Operation& operation) {
    if (operation.prepare != nullptr) {
        operation.prepare();
    }
    chip.model().clearLog();
    {
        liubench::QuietStderr quiet(operation.printsOnStderr);
        operation.run();
    }
    BareTransfers transfers;
    const auto log = chip.model().log();
    transfers.reserve(log.size());
    for (const liusim::Transfer& entry : log) {
        const bool read = entry.access == liusim::Access::Read;
        BareTransfer& transfer = transfers.emplace_back();
        transfer.frame = {static_cast<std::uint8_t>((read ? 0x80 : 0x00) | entry.channel),
                          entry.reg, read ? std::uint8_t{0} : entry.value};
        transfer.reply = {};
    }
    for (BareTransfer& transfer : transfers) {
        transfer.record = spi_ioc_transfer{};
        transfer.record.tx_buf = reinterpret_cast<std::uintptr_t>(transfer.frame.data());
        transfer.record.rx_buf = reinterpret_cast<std::uintptr_t>(transfer.reply.data());
        transfer.record.len = kFrameLength;
        transfer.record.speed_hz = 1000000;
        transfer.record.bits_per_word = 24;
    }
    return transfers;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    liusim::SimChip& chip = liusim::SimChip::start();
    if (liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, liubench::kPorts) != 0) {
        std::fprintf(stderr, "liu_bench: liuDrv_init failed\n");
        return 1;
    }
    spiFd = open("/dev/spidev0.0", O_RDWR | O_CLOEXEC);
    if (spiFd < 0) {
        std::perror("liu_bench: /dev/spidev0.0");
        return 1;
    }

    // Kept alive until the benchmarks have run.
    std::vector<Case> cases;
    cases.reserve(liubench::operations().size());
    for (const Operation& operation : liubench::operations()) {
        Case& benchCase = cases.emplace_back(Case{&operation, framesOf(chip, operation)});
        if (benchCase.transfers.empty()) {
            continue; // no bus work to compare with
        }
        const std::string name = operation.name;
        benchmark::RegisterBenchmark(("lib/" + name).c_str(), runDriver, &benchCase);
        benchmark::RegisterBenchmark(("bare/" + name).c_str(), runBare, &benchCase);
    }
    chip.model().clearLog();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
