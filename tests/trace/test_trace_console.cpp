// SPDX-License-Identifier: MIT
// libliuTrace, the console trace facility: the line layout on stderr, the
// level filter chosen by liuTrace_setLevel or LIU_TRACE, the trace set ids.
// Each test runs in its own process: "the first call" is the test's first.
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
const std::string kDetail =
    "DETAIL 1 drvs/liuDrv/LiuDrv.cpp:140 liuDrv_write: reg=0x04 value=0x01\n";

// What the library emits for a failed read, a call and a register write.
std::string emitOneOfEachLevel() {
    CaptureStderr();
    tracePrintf(255, LIUDRV_TRACE_LEVEL_ERROR, LIUDRV_TRACE_MASK, "drvs/liuDrv/LiuDrv.cpp", 120,
                "%s: SPI read failure!", "liuDrv_read");
    tracePrintf(1, LIUDRV_TRACE_LEVEL_CALL, LIUDRV_TRACE_MASK, "drvs/liuDrv/LiuDrv.cpp", 300,
                "%s: port=%d", "liuDrv_setLineType", 3);
    tracePrintf(1, LIUDRV_TRACE_LEVEL_DETAIL, LIUDRV_TRACE_MASK, "drvs/liuDrv/LiuDrv.cpp", 140,
                "%s: reg=0x%02x value=0x%02x", "liuDrv_write", 0x04, 0x01);
    return GetCapturedStderr();
}

struct Filter {
    const char* environment; // LIU_TRACE, or null: unset
    int level;               // liuTrace_setLevel before the first call, or 0: none
    std::string shown;
};

class ConsoleTrace : public ::testing::TestWithParam<Filter> {};

TEST_P(ConsoleTrace, ShowsTheLinesItsFilterLets) {
    const Filter& filter = GetParam();
    filter.environment != nullptr ? setenv("LIU_TRACE", filter.environment, 1)
                                  : unsetenv("LIU_TRACE");
    if (filter.level != 0) {
        liuTrace_setLevel(filter.level);
    }
    EXPECT_EQ(emitOneOfEachLevel(), filter.shown);
    setenv("LIU_TRACE", "detail", 1); // read at the first call only
    EXPECT_EQ(emitOneOfEachLevel(), filter.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, ConsoleTrace,
    ::testing::Values(Filter{nullptr, 0, kError},
                      Filter{nullptr, LIU_TRACE_SHOW_DETAILS, kError + kCall + kDetail},
                      Filter{nullptr, LIU_TRACE_SHOW_CALLS, kError + kCall},
                      Filter{nullptr, LIU_TRACE_SHOW_NONE, ""}, Filter{"call", 0, kError + kCall},
                      Filter{"detail", 0, kError + kCall + kDetail}, Filter{"off", 0, ""},
                      Filter{"0x20", 0, kError + kCall}, Filter{"error", 0, kError},
                      Filter{"detail", LIU_TRACE_SHOW_ERRORS, kError}));

TEST(ConsoleTraceLines, OtherLevelsInHexMissingPartsVisibleLongTextsWhole) {
    liuTrace_setLevel(0);
    const std::string longText(3000, 'x');
    CaptureStderr();
    tracePrintf(4, 0x40, LIUDRV_TRACE_MASK, nullptr, 7, "text with its own newline\n");
    tracePrintf(4, 0x40, LIUDRV_TRACE_MASK, "a.c", 8, nullptr);
    tracePrintf(255, LIUDRV_TRACE_LEVEL_ERROR, LIUDRV_TRACE_MASK, "s.c", 1, "%s|",
                longText.c_str());
    EXPECT_EQ(GetCapturedStderr(),
              "0x40 4 ?:7 text with its own newline\n0x40 4 a.c:8 \nERROR 255 s.c:1 " + longText +
                  "|\n");
}

TEST(ConsoleTraceLines, UnknownEnvironmentValueIsReportedOnceAndIgnored) {
    setenv("LIU_TRACE", "verbose", 1);
    const std::string first = emitOneOfEachLevel();
    EXPECT_NE(first.find("liuTrace: ignoring LIU_TRACE=\"verbose\""), std::string::npos) << first;
    EXPECT_EQ(first.substr(first.size() - kError.size()), kError);
    EXPECT_EQ(emitOneOfEachLevel(), kError);
    EXPECT_EQ(liuTrace_level(), LIU_TRACE_SHOW_ERRORS);
}

TEST(ConsoleTraceLines, TraceSetsGetIncreasingIds) {
    int16_t first = -1;
    int16_t second = -1;
    EXPECT_EQ(initTraceSet("liuDrv_trace", 0, 250, 65, LIUDRV_TRACE_MASK, &first), 0);
    EXPECT_EQ(initTraceSet("other", 0, 10, 1, 0, &second), 0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(initTraceSet("liuDrv_trace", 0, 250, 65, LIUDRV_TRACE_MASK, nullptr), -1);
}

} // namespace
