// SPDX-License-Identifier: MIT
// Heap allocations inside the driver: none, on start-up and on every
// operation of the table, working, failing or refusing.  The C allocator
// (under operator new too) is replaced by a counting one; the driver's calls out of itself pass
// wrappers
// (-Wl,--wrap) that stop the counting: open and ioctl (the simulated chip
// allocates as it pleases), the trace functions (here doing nothing).  What
// the C library does for the driver (printf, usleep) counts.
#include "LiuSimTest.h"
#include "Operations.h"

#include <atomic>
#include <cstdarg>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* counted(void* block) {
    allocations += counting ? 1 : 0;
    return block;
}

struct CountingPause {
    const bool was = counting.exchange(false);
    ~CountingPause() { counting = was; }
};

template <typename Calls> long allocationsDuring(Calls calls) {
    allocations = 0;
    counting = true;
    calls();
    counting = false;
    return allocations;
}

} // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
void* malloc(std::size_t size) noexcept {
    return counted(__libc_malloc(size));
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    return counted(__libc_calloc(count, size));
}
void* realloc(void* block, std::size_t size) noexcept {
    return counted(__libc_realloc(block, size));
}
void free(void* block) noexcept {
    __libc_free(block);
}

int __real_open(const char* path, int flags, ...);
int __real_ioctl(int fd, unsigned long request, ...);
int __wrap_open(const char* path, int flags, ...) {
    CountingPause pause;
    return __real_open(path, flags, 0);
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
    return *id = 1, 0;
}
int __wrap_tracePrintf(int, int, unsigned int, const char*, int, const char*, ...) {
    return 0;
}
} // extern "C"

namespace {

void* volatile escaped = nullptr;

using Allocations = LiuSimTest;

// The first test of the process: start-up; the counter is seen to count.
TEST_F(Allocations, StartUpAllocatesNothing) {
    EXPECT_EQ(allocationsDuring([] { escaped = new int(1); }), 1);
    delete static_cast<int*>(escaped);
    ASSERT_EQ(liuDrv_inited, 0) << "this test must run first in the process";
    EXPECT_EQ(allocationsDuring([] { EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0); }), 0);
}

TEST_F(Allocations, NoOperationAllocatesWorkingFailingOrRefusing) {
    startLibrary();
    for (const liuops::Operation& op : liuops::operations()) {
        SCOPED_TRACE(op.name);
        liuops::Out out;
        liuops::QuietStderr quiet;
        presetBusyChip();
        chip().setAlarmStatus(7, 0xFF); // alarm changes on the first poll, and back on the third
        EXPECT_EQ(allocationsDuring([&] { op.call(op.example, &out), op.call(op.example, &out); }),
                  0);
        chip().failFrom(1);
        EXPECT_EQ(allocationsDuring([&] { op.call(op.example, &out); }), 0);
        const int refused[4] = {op.guard == liuops::Guard::Port ? 8 : op.example[0], op.example[1]};
        EXPECT_EQ(allocationsDuring([&] { op.call(refused, nullptr); }), 0);
    }
}

} // namespace
