// SPDX-License-Identifier: MIT
// Start-up: the cases of golden/startup.golden, and what they cannot show:
// how the device is opened, the trace set registration and the LIU's time
// to settle after its reset.  The library starts once per process, so every
// test here runs in a process of its own.
#include "Golden.h"
#include "LiuSimTest.h"

#include <LiuDrv.h>

#include <fcntl.h>

#include <chrono>
#include <cstdarg>
#include <cstring>

namespace {

int deviceOpenFlags = -1;

} // namespace

// The library's open calls, seen on their way to the chip binding (the
// executable is linked with -Wl,--wrap=open).
extern "C" int __real_open(const char* path, int flags, ...);
extern "C" int __wrap_open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const unsigned mode = (flags & O_CREAT) != 0 ? va_arg(arguments, unsigned) : 0;
    va_end(arguments);
    if (std::strcmp(path, "/dev/spidev0.0") == 0) {
        deviceOpenFlags = flags;
    }
    return __real_open(path, flags, mode);
}

namespace {

class Startup : public LiuSimTest, public ::testing::WithParamInterface<golden::Case> {};

TEST_P(Startup, Case) {
    golden::run(GetParam(), chip());
}

INSTANTIATE_TEST_SUITE_P(Cases, Startup,
                         ::testing::ValuesIn(golden::load(LIU_GOLDEN_DIR "/startup.golden")),
                         golden::testName);

TEST_F(Startup, OpensTheDeviceReadWriteRegistersItsTraceSetAndLetsTheLiuSettle) {
    ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 1), 0);

    EXPECT_EQ(deviceOpenFlags & O_ACCMODE, O_RDWR);
    const auto registrations = liutrace::registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].name, "liuDrv_trace");
    EXPECT_EQ(registrations[0].first, 0);
    EXPECT_EQ(registrations[0].last, 250);
    EXPECT_EQ(registrations[0].defaultLevel, 65);
    EXPECT_EQ(registrations[0].mask, LIUDRV_TRACE_MASK);
    EXPECT_TRUE(registrations[0].idGiven);
    EXPECT_EQ(liuTsId, liutrace::kDefaultTraceSetId);
    EXPECT_EQ(firstCall, 1);
    EXPECT_EQ(liuDrv_regOffs, 0);
    const auto log = chip().log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_GE(log[1].time - log[0].time, std::chrono::microseconds(2000)) << "after the reset";
}

TEST_F(Startup, RegistersItsTraceSetAgainWhileTheIdStaysUnset) {
    liutrace::setTraceSetId(-1);
    chip().failOpen(true);
    EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), -1);
    EXPECT_EQ(liuTsId, -1);
    liutrace::setTraceSetId(23);
    chip().failOpen(false);
    EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
    EXPECT_EQ(liuTsId, 23);
    EXPECT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), -1);
    EXPECT_EQ(liutrace::registrations().size(), 2u);
}

} // namespace
