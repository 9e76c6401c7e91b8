// SPDX-License-Identifier: MIT
// Soak: 100,000 cycles of one alarm poll and one configuration step against
// the simulated chip, with alarm indications coming and going and a failed
// transfer now and then.  The library runs inside a long-lived host process:
// over the whole run the process's heap, address space and open
// descriptors must not grow, and every call must keep giving its
// contract's results.
#include "LiuDrvInternal.h"
#include "LiuSimTest.h"

#include <dirent.h>
#include <malloc.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define LIU_SOAK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LIU_SOAK_UNDER_ASAN 1
#endif
#endif
#ifdef LIU_SOAK_UNDER_ASAN
// The sanitizer runtime's count of bytes allocated and not yet freed.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

constexpr int kCycles = 100000;
constexpr int kWarmUpCycles = 2000;
// The harness's own records (transfer log, trace record) are emptied at this
// interval, so that what remains is the library's footprint.
constexpr int kHousekeepingInterval = 1000;
constexpr int kFaultInterval = 997;

struct Footprint {
    std::size_t heapInUse;
    long addressSpacePages;
    int openDescriptors;
};

int openDescriptors() {
    int count = 0;
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return -1;
    }
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(directory);
    return count - 1; // the directory's own descriptor
}

[[maybe_unused]] long addressSpacePages() {
    long size = -1;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &size) != 1) {
            size = -1;
        }
        std::fclose(statm);
    }
    return size;
}

// Under AddressSanitizer the heap is its allocator's (mallinfo2 knows
// nothing of it), and its shadow memory and quarantine make the address
// space move on their own.
Footprint footprint() {
#ifdef LIU_SOAK_UNDER_ASAN
    return {__sanitizer_get_current_allocated_bytes(), 0, openDescriptors()};
#else
    return {mallinfo2().uordblks, addressSpacePages(), openDescriptors()};
#endif
}

class Soak : public LiuSimTest {
  protected:
    // One cycle: indications of a few ports change, one poll, one
    // configuration step chosen by the cycle number.  Counts results that
    // break the contract.
    void cycle(int number) {
        const auto port = static_cast<uint16_t>(number % 8);
        chip().setAlarmStatus(port, static_cast<uint8_t>((number / 8) % 3 == 0 ? 0x93 : 0x00));
        if (number % kFaultInterval == 0) {
            chip().failTransfer(1 + static_cast<uint64_t>(number % 40));
        }

        const int polled = liuDrv_alarmHandler(table_);
        if (polled != 0) {
            ++badResults_;
        }
        for (int row = 0; row < LIUDRV_ALARM_PORTS; ++row) {
            for (int entry = 0; entry < LIUDRV_ALARM_ENTRIES; ++entry) {
                const int32_t state = table_[row][entry];
                const bool fixed = entry == 0 || row >= 8;
                if (fixed ? state != LIUDRV_ALARM_INITIAL
                          : state < LIUDRV_ALARM_INITIAL || state > LIUDRV_ALARM_INACTIVE) {
                    ++badTableEntries_;
                }
            }
        }

        int value = -7;
        int rc = 0;
        switch (number % 10) {
        case 0:
            rc = liuDrv_setLineCode(port, 1 + number % 2);
            break;
        case 1:
            rc = liuDrv_getLineCode(port, &value);
            break;
        case 2:
            rc = liuDrv_setLoopRemote(port, number % 3);
            break;
        case 3:
            rc = liuDrv_getLoopAnalog(port, &value);
            break;
        case 4:
            rc = liuDrv_setPowerupTx(port, number % 2);
            break;
        case 5:
            rc = liuDrv_getPowerupRx(port, &value);
            break;
        case 6:
            rc = liuDrv_setHaulType(port, 1);
            break;
        case 7:
            rc = liuDrv_getHaulType(port, &value);
            break;
        case 8:
            rc = liuDrv_setRefAClock(port);
            break;
        default:
            // The long ones (pulse mask, waveform read-out) once per 1000 cycles.
            rc = number % 1000 == 9    ? liuDrv_setHaulType(port, 2)
                 : number % 1000 == 19 ? liuDrv_setLineType(port, 1 + number % 3)
                                       : liuDrv_setLoopDigital(port, 1);
            break;
        }
        if (rc != 0 && rc != 1 && rc != -1) {
            ++badResults_;
        }
        if (rc != 0 && value != -7) {
            ++outWrittenOnFailure_;
        }
        if (number % kHousekeepingInterval == 0) {
            chip().clearFaults();
            chip().clearLog();
            liutrace::clear();
        }
    }

    int32_t table_[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES] = {};
    int badResults_ = 0;
    int badTableEntries_ = 0;
    int outWrittenOnFailure_ = 0;
};

TEST_F(Soak, HundredThousandPollsAndConfigurationsDoNotGrowTheProcess) {
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
    for (int number = 1; number <= kWarmUpCycles; ++number) {
        cycle(number);
    }
    const uint64_t transfersBefore = chip().transferCount();
    const Footprint before = footprint();
    const auto start = std::chrono::steady_clock::now();

    for (int number = kWarmUpCycles + 1; number <= kWarmUpCycles + kCycles; ++number) {
        cycle(number);
    }

    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Footprint after = footprint();
    const uint64_t transfers = chip().transferCount() - transfersBefore;
    RecordProperty("cycles", kCycles);
    RecordProperty("transfers", static_cast<int>(transfers));
    RecordProperty("milliseconds", static_cast<int>(seconds * 1000));
    std::printf("soak: %d cycles, %llu transfers in %.1f s; heap in use %zu -> %zu bytes, "
                "address space %ld -> %ld pages, descriptors %d -> %d\n",
                kCycles, static_cast<unsigned long long>(transfers), seconds, before.heapInUse,
                after.heapInUse, before.addressSpacePages, after.addressSpacePages,
                before.openDescriptors, after.openDescriptors);

    EXPECT_GE(transfers, static_cast<uint64_t>(kCycles) * 48);
    EXPECT_EQ(badResults_, 0);
    EXPECT_EQ(badTableEntries_, 0);
    EXPECT_EQ(outWrittenOnFailure_, 0);
    EXPECT_GT(before.openDescriptors, 0);
    EXPECT_EQ(after.openDescriptors, before.openDescriptors);
    EXPECT_LE(after.addressSpacePages, before.addressSpacePages);
    // The harness's record vectors keep their largest capacity; allow for
    // one more doubling of them, far below a leak of even a byte per cycle.
    EXPECT_LE(after.heapInUse, before.heapInUse + 64 * 1024);
}

} // namespace
