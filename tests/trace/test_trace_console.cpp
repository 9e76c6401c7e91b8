// SPDX-License-Identifier: MIT
// libliuTrace, the console trace facility: the line layout on stderr, the
// level filter (liuTrace_setLevel before the first call wins, else LIU_TRACE
// read at the first call), the trace set ids.  A process per test.
#include "LiuDrv.h"
#include "LiuTrace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

const std::string kError = "ERROR 255 drvs/liuDrv/LiuDrv.cpp:120 liuDrv_read: SPI read failure!\n";
const std::string kCall = "CALL 1 drvs/liuDrv/LiuDrv.cpp:300 liuDrv_setLineType: port=3\n";
const std::string kDetail = "DETAIL 1 drvs/liuDrv/LiuDrv.cpp:140 liuDrv_write: reg=0x04\n";

std::string emitOneOfEachLevel() {
    CaptureStderr();
    const char* source = "drvs/liuDrv/LiuDrv.cpp";
    tracePrintf(255, LIUDRV_TRACE_LEVEL_ERROR, LIUDRV_TRACE_MASK, source, 120,
                "%s: SPI read failure!", "liuDrv_read");
    tracePrintf(1, LIUDRV_TRACE_LEVEL_CALL, LIUDRV_TRACE_MASK, source, 300, "%s: port=%d",
                "liuDrv_setLineType", 3);
    tracePrintf(1, LIUDRV_TRACE_LEVEL_DETAIL, LIUDRV_TRACE_MASK, source, 140,
                "liuDrv_write: reg=0x%02x", 4);
    return GetCapturedStderr();
}

// LIU_TRACE (null: unset), the level set before the first call (0: none), the lines shown.
class ConsoleTrace : public ::testing::TestWithParam<std::tuple<const char*, int, std::string>> {};

TEST_P(ConsoleTrace, ShowsTheLinesItsFilterLets) {
    const auto& [environment, level, shown] = GetParam();
    environment != nullptr ? setenv("LIU_TRACE", environment, 1) : unsetenv("LIU_TRACE");
    if (level != 0) {
        liuTrace_setLevel(level);
    }
    EXPECT_EQ(emitOneOfEachLevel(), shown);
    setenv("LIU_TRACE", "detail", 1); // too late: read at the first call
    EXPECT_EQ(emitOneOfEachLevel(), shown);
}

using Filter = std::tuple<const char*, int, std::string>;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Filters, ConsoleTrace, ::testing::Values(
    Filter{nullptr, 0, kError}, Filter{nullptr, LIU_TRACE_SHOW_DETAILS, kError + kCall + kDetail},
    Filter{nullptr, LIU_TRACE_SHOW_CALLS, kError + kCall}, Filter{nullptr, LIU_TRACE_SHOW_NONE, ""},
    Filter{"call", 0, kError + kCall}, Filter{"detail", 0, kError + kCall + kDetail},
    Filter{"off", 0, ""}, Filter{"0x20", 0, kError + kCall}, Filter{"detail", LIU_TRACE_SHOW_ERRORS, kError}));
// clang-format on

TEST(ConsoleTraceLines, UnknownEnvironmentValueIsReported) {
    setenv("LIU_TRACE", "verbose", 1);
    CaptureStderr();
    EXPECT_EQ(liuTrace_level(), LIU_TRACE_SHOW_ERRORS);
    EXPECT_NE(GetCapturedStderr().find("liuTrace: ignoring LIU_TRACE=\"verbose\""),
              std::string::npos);
}

TEST(ConsoleTraceLines, TraceSetsGetIncreasingIds) {
    int16_t ids[2] = {-1, -1};
    EXPECT_EQ(initTraceSet("liuDrv_trace", 0, 250, 65, LIUDRV_TRACE_MASK, &ids[0]), 0);
    EXPECT_EQ(initTraceSet("other", 0, 10, 1, 0, &ids[1]), 0);
    EXPECT_EQ(ids[0] * 10 + ids[1], 12);
    EXPECT_EQ(initTraceSet("liuDrv_trace", 0, 250, 65, LIUDRV_TRACE_MASK, nullptr), -1);
}

} // namespace
