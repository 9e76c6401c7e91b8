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
// before a driver loop is anyone's: each driver loop first runs its row's
// preparation, which sets up what its result depends on.
#include "BenchRows.h"
#include "LiuDrv.h"
#include "SimChip.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using liubench::Row;

constexpr unsigned kFrameLength = 3;

// One prebuilt transfer: its frame, its receive buffer and its record.
struct BareTransfer {
    std::array<std::uint8_t, kFrameLength> frame;
    std::array<std::uint8_t, kFrameLength> reply;
    spi_ioc_transfer record;
};

using BareTransfers = std::vector<BareTransfer>;

// One row and the frames one call of it puts on the bus.
struct Case {
    const Row* row;
    BareTransfers transfers;
};

int spiFd = -1;

void runDriver(benchmark::State& state, const Case* benchCase) {
    const Row& row = *benchCase->row;
    if (row.prepare != nullptr) {
        row.prepare(row.args);
    }
    std::optional<liuops::QuietStderr> quiet;
    if (row.operation->prints) {
        quiet.emplace();
    }
    liuops::Out out;
    for (auto _ : state) {
        const int result = row.call(out);
        if (result != row.result) {
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

// The frames one call of the row puts on the bus.
BareTransfers framesOf(liusim::SimChip& chip, const Row& row) {
    if (row.prepare != nullptr) {
        row.prepare(row.args);
    }
    chip.model().clearLog();
    {
        std::optional<liuops::QuietStderr> quiet;
        if (row.operation->prints) {
            quiet.emplace();
        }
        liuops::Out out;
        row.call(out);
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
    if (liubench::startUp() != 0) {
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
    cases.reserve(liubench::rows().size());
    for (const Row& row : liubench::rows()) {
        if (row.once) {
            continue; // start-up: see liu_callgrind_driver
        }
        Case& benchCase = cases.emplace_back(Case{&row, framesOf(chip, row)});
        if (benchCase.transfers.empty()) {
            continue; // no bus work to compare with
        }
        const std::string name = row.name;
        benchmark::RegisterBenchmark(("lib/" + name).c_str(), runDriver, &benchCase);
        benchmark::RegisterBenchmark(("bare/" + name).c_str(), runBare, &benchCase);
    }
    chip.model().clearLog();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
