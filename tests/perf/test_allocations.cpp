// SPDX-License-Identifier: MIT
// Heap allocations made inside the driver: none, on start-up, on every
// operation of the table, on refusals, failed transfers and alarm changes.
//
// The executable replaces the C library's allocator entry points and the
// global operator new with counting ones.  The driver's calls out of itself
// are linked through wrappers (-Wl,--wrap) that stop the counting: open and
// ioctl (the simulated chip allocates as it pleases), initTraceSet and
// tracePrintf (the host's trace facility is not the driver's cost; here it
// does nothing).
// What the C library does on the driver's behalf (printf, usleep) counts.
#include "LiuSimTest.h"
#include "Operations.h"

#include <fcntl.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void noteAllocation() {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

// Stops the counting for its lifetime.
struct CountingPause {
    const bool was = counting.exchange(false);
    ~CountingPause() { counting.store(was); }
};

template <typename Function> long allocationsDuring(Function fn) {
    allocations.store(0);
    counting.store(true);
    fn();
    counting.store(false);
    return allocations.load();
}

} // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
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
void free(void* pointer) noexcept {
    __libc_free(pointer);
}

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
int __wrap_initTraceSet(const char*, int, int, int, unsigned int, int16_t* id) {
    *id = 1;
    return 0;
}
int __wrap_tracePrintf(int, int, unsigned int, const char*, int, const char*, ...) {
    return 0;
}
} // extern "C"

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* pointer) noexcept {
    std::free(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    std::free(pointer);
}

namespace {

void* volatile escaped = nullptr;

using Allocations = LiuSimTest;

// The first test of the process: start-up itself.  The counter is seen to count.
TEST_F(Allocations, StartUpAllocatesNothing) {
    EXPECT_EQ(allocationsDuring([] { escaped = new int(1); }), 1);
    delete static_cast<int*>(escaped);
    ASSERT_EQ(liuDrv_inited, 0) << "this test must run first in the process";
    EXPECT_EQ(allocationsDuring([] { EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0); }), 0);
}

TEST_F(Allocations, NoOperationAllocatesWhetherItWorksFailsOrRefuses) {
    startLibrary();
    for (const liuops::Operation& op : liuops::operations()) {
        SCOPED_TRACE(op.name);
        liuops::Out out;
        liuops::QuietStderr quiet;
        presetBusyChip();
        EXPECT_EQ(allocationsDuring([&] { op.call(op.example, &out), op.call(op.example, &out); }),
                  0);
        chip().failFrom(1);
        EXPECT_EQ(allocationsDuring([&] { op.call(op.example, &out); }), 0);
        const int refused[4] = {op.guard == liuops::Guard::Port ? 8 : op.example[0], op.example[1]};
        EXPECT_EQ(allocationsDuring([&] { op.call(refused, nullptr); }), 0);
    }
}

TEST_F(Allocations, AlarmChangesAllocateNothing) {
    startLibrary();
    liuops::Out out;
    for (const std::uint8_t status : {0xFF, 0x00, 0x9F, 0x02}) {
        for (unsigned channel = 0; channel < 8; ++channel) {
            chip().setAlarmStatus(channel, status);
        }
        EXPECT_EQ(allocationsDuring([&] { EXPECT_EQ(liuDrv_alarmHandler(out.table), 0); }), 0);
        EXPECT_EQ(out.table[7][LIUDRV_EVENT_LOS], (status & 0x01) != 0 ? 2 : 3);
    }
}

} // namespace
