// SPDX-License-Identifier: MIT
// Heap allocations made inside the driver: none, in any operation, on its
// success paths, its refusals and its failed transfers.
//
// The executable replaces the C library's allocator entry points (malloc,
// calloc, realloc, free, the aligned variants) and the global operator
// new/delete with counting ones that forward to glibc's own allocator.  They
// count only while a test has switched counting on around driver calls, and
// the driver's calls out of itself are linked through wrappers (-Wl,--wrap)
// that switch counting off for their duration:
//   open, ioctl             the simulated chip and its binding, which
//                           allocate as they please;
//   initTraceSet,           the trace facility, here one that does nothing:
//   tracePrintf             the host's facility is not the driver's cost.
// What the C library does on the driver's behalf (printf, fprintf, usleep)
// is counted.
#include "LiuDrv.h"
#include "LiuOperations.h"
#include "LiuSimTest.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void noteAllocation() {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

// Switches counting off for its lifetime (calls out of the driver).
class CountingPause {
  public:
    CountingPause() : was_(counting.exchange(false)) {}
    ~CountingPause() { counting.store(was_); }
    CountingPause(const CountingPause&) = delete;
    CountingPause& operator=(const CountingPause&) = delete;

  private:
    bool was_;
};

// Counts the allocations made while fn runs.
template <typename Function> long allocationsDuring(Function fn) {
    allocations.store(0);
    counting.store(true);
    fn();
    counting.store(false);
    return allocations.load();
}

} // namespace

// ---- Allocator interposer ----------------------------------------------------

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);

void* malloc(std::size_t size) noexcept {
    noteAllocation();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    noteAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) noexcept {
    noteAllocation();
    return __libc_realloc(pointer, size);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    noteAllocation();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    noteAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** pointer, std::size_t alignment, std::size_t size) noexcept {
    noteAllocation();
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr) {
        return ENOMEM;
    }
    *pointer = block;
    return 0;
}

void free(void* pointer) noexcept {
    __libc_free(pointer);
}
} // extern "C"

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void operator delete(void* pointer) noexcept {
    std::free(pointer);
}

void operator delete[](void* pointer) noexcept {
    std::free(pointer);
}

void operator delete(void* pointer, std::size_t) noexcept {
    std::free(pointer);
}

void operator delete[](void* pointer, std::size_t) noexcept {
    std::free(pointer);
}

// ---- The driver's calls out of itself ------------------------------------------

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_ioctl(int fd, unsigned long request, ...);

int __wrap_open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const unsigned mode = (flags & O_CREAT) != 0 ? va_arg(arguments, unsigned) : 0;
    va_end(arguments);
    CountingPause pause;
    return __real_open(path, flags, mode);
}

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    CountingPause pause;
    return __real_ioctl(fd, request, argument);
}

int __wrap_initTraceSet(const char* /*name*/, int /*first*/, int /*last*/, int /*defaultLevel*/,
                        unsigned int /*mask*/, int16_t* id) {
    if (id != nullptr) {
        *id = 1;
    }
    return 0;
}

int __wrap_tracePrintf(int /*id*/, int /*level*/, unsigned int /*mask*/, const char* /*source*/,
                       int /*line*/, const char* /*format*/, ...) {
    return 0;
}
} // extern "C"

// ---- Tests -------------------------------------------------------------------------

namespace liubench {
// Test names and failure messages show the operation by its name.
void PrintTo(const Operation& operation, std::ostream* out) {
    *out << operation.name;
}
} // namespace liubench

namespace {

using liubench::Operation;

class AllocationTest : public LiuSimTest {
  protected:
    void init(std::uint8_t ports = liubench::kPorts) {
        ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, ports), 0);
        chip().clearLog();
    }
};

// Blocks escape through it, so an optimising compiler cannot drop an
// allocation paired with its release.
void* volatile escaped = nullptr;

// The counter sees what it must see: without this the tests below could
// pass with an interposer that never runs.
TEST_F(AllocationTest, InterposerCountsHeapUseAndPausesAroundTheBus) {
    EXPECT_EQ(allocationsDuring([] { escaped = std::malloc(32); }), 1);
    std::free(escaped);
    EXPECT_EQ(allocationsDuring([] { escaped = std::calloc(4, 8); }), 1);
    std::free(escaped);
    EXPECT_GE(allocationsDuring([] { escaped = new std::string(64, 'x'); }), 1);
    delete static_cast<std::string*>(escaped);
    EXPECT_GE(allocationsDuring([] { escaped = new std::vector<int>(16, 1); }), 1);
    delete static_cast<std::vector<int>*>(escaped);
    EXPECT_EQ(allocationsDuring([] {
                  CountingPause pause;
                  escaped = std::malloc(32);
              }),
              0);
    std::free(escaped);
}

TEST_F(AllocationTest, StartupAllocatesNothing) {
    EXPECT_EQ(allocationsDuring(
                  [] { EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, liubench::kPorts), 0); }),
              0);
    EXPECT_EQ(chip().log().size(), 1145u) << "start-up did not run in full";
}

class OperationAllocationTest : public AllocationTest,
                                public ::testing::WithParamInterface<Operation> {};

TEST_P(OperationAllocationTest, AllocatesNothing) {
    const Operation& operation = GetParam();
    init();
    if (operation.prepare != nullptr) {
        operation.prepare();
    }
    liubench::QuietStderr quiet(operation.printsOnStderr);
    for (int call = 1; call <= 3; ++call) {
        int result = 0;
        EXPECT_EQ(allocationsDuring([&] { result = operation.run(); }), 0) << "call " << call;
        EXPECT_EQ(result, operation.expectedResult) << "call " << call;
    }
}

// Every transfer fails: each operation stops at its first failed transfer
// with its error trace (or, in the poll, reports every indication present).
TEST_P(OperationAllocationTest, AllocatesNothingWhenTransfersFail) {
    const Operation& operation = GetParam();
    init();
    if (operation.prepare != nullptr) {
        operation.prepare();
    }
    chip().failFrom(1);
    liubench::QuietStderr quiet(operation.printsOnStderr);
    EXPECT_EQ(allocationsDuring([&] { operation.run(); }), 0);
    EXPECT_EQ(allocationsDuring([&] { operation.run(); }), 0);
}

INSTANTIATE_TEST_SUITE_P(Operations, OperationAllocationTest,
                         ::testing::ValuesIn(liubench::operations().begin(),
                                             liubench::operations().end()),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                             return std::string(info.param.name);
                         });

// Refusals: port out of range, unknown codes, null pointers, second LIU.
TEST_F(AllocationTest, RefusalsAllocateNothing) {
    init();
    int value = 0;
    std::uint8_t byte = 0;
    const long counted = allocationsDuring([&] {
        EXPECT_EQ(liuDrv_setLineType(8, LIUDRV_LINE_TYPE_T1), -1);
        EXPECT_EQ(liuDrv_setLineType(1, 7), -1);
        EXPECT_EQ(liuDrv_getLineCode(8, &value), -1);
        EXPECT_EQ(liuDrv_setLineCode(1, 0), -1);
        EXPECT_EQ(liuDrv_setLineBuildOut(1, 9), -1);
        EXPECT_EQ(liuDrv_setLineLength(1, -1), -1);
        EXPECT_EQ(liuDrv_setHaulType(1, 0), -1);
        EXPECT_EQ(liuDrv_getLoopAnalog(1, nullptr), -1);
        EXPECT_EQ(liuDrv_setRefBClock(8), -1);
        EXPECT_EQ(liuDrv_read(0x07, LIUDRV_CHANNEL_SECOND, &byte), 1);
        EXPECT_EQ(liuDrv_dumpPulseShapeParam(1), -1);
        EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), -1);
    });
    EXPECT_EQ(counted, 0);
}

// Every alarm indication of every port changing at each poll: the state
// table updates and the change lines cost nothing on the heap either.
TEST_F(AllocationTest, AlarmChangesAllocateNothing) {
    init();
    std::int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    for (const std::uint8_t status : {0xFF, 0x00, 0x9F, 0x02}) {
        for (unsigned channel = 0; channel < liubench::kPorts; ++channel) {
            chip().setAlarmStatus(channel, status);
        }
        EXPECT_EQ(allocationsDuring([&] { EXPECT_EQ(liuDrv_alarmHandler(table), 0); }), 0);
        EXPECT_EQ(table[7][LIUDRV_EVENT_LOS], (status & 0x01) != 0 ? 2 : 3);
    }
}

} // namespace
