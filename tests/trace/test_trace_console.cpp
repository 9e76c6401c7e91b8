// SPDX-License-Identifier: MIT
// libliuTrace, the console trace facility: line layout on stderr, the level
// filter, LIU_TRACE, and trace set registration.  Each test runs in its own
// process, so "the first call" is the first call of the test.
#include "LiuTrace.h"

#include "LiuDrv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

constexpr unsigned kMask = LIUDRV_TRACE_MASK;

// What the driver emits for a failed register read, a call and a register write.
void emitOneOfEachLevel() {
    tracePrintf(255, LIUDRV_TRACE_LEVEL_ERROR, kMask, "drvs/liuDrv/LiuDrv.cpp", 120,
                "%s: SPI read failure!", "liuDrv_read");
    tracePrintf(1, LIUDRV_TRACE_LEVEL_CALL, kMask, "drvs/liuDrv/LiuDrv.cpp", 300, "%s: port=%d",
                "liuDrv_setLineType", 3);
    tracePrintf(1, LIUDRV_TRACE_LEVEL_DETAIL, kMask, "drvs/liuDrv/LiuDrv.cpp", 140,
                "%s: reg=0x%02x value=0x%02x", "liuDrv_write", 0x04, 0x01);
}

const char* const kErrorLine =
    "ERROR 255 drvs/liuDrv/LiuDrv.cpp:120 liuDrv_read: SPI read failure!\n";
const char* const kCallLine = "CALL 1 drvs/liuDrv/LiuDrv.cpp:300 liuDrv_setLineType: port=3\n";
const char* const kDetailLine =
    "DETAIL 1 drvs/liuDrv/LiuDrv.cpp:140 liuDrv_write: reg=0x04 value=0x01\n";

std::string emittedWithEnvironment(const char* value) {
    setenv("LIU_TRACE", value, 1);
    int16_t id = -1;
    CaptureStderr();
    initTraceSet("liuDrv_trace", 0, 250, 65, kMask, &id);
    emitOneOfEachLevel();
    return GetCapturedStderr();
}

TEST(ConsoleTrace, ShowsOnlyErrorsByDefault) {
    unsetenv("LIU_TRACE");
    CaptureStderr();
    emitOneOfEachLevel();

    EXPECT_EQ(GetCapturedStderr(), kErrorLine);
    EXPECT_EQ(liuTrace_level(), LIU_TRACE_SHOW_ERRORS);
}

TEST(ConsoleTrace, DetailLevelShowsEveryLineInOrder) {
    liuTrace_setLevel(LIU_TRACE_SHOW_DETAILS);
    CaptureStderr();
    emitOneOfEachLevel();

    EXPECT_EQ(GetCapturedStderr(), std::string(kErrorLine) + kCallLine + kDetailLine);
}

TEST(ConsoleTrace, CallLevelDropsDetails) {
    liuTrace_setLevel(LIU_TRACE_SHOW_CALLS);
    CaptureStderr();
    emitOneOfEachLevel();

    EXPECT_EQ(GetCapturedStderr(), std::string(kErrorLine) + kCallLine);
}

TEST(ConsoleTrace, OffShowsNothingNotEvenErrors) {
    liuTrace_setLevel(LIU_TRACE_SHOW_NONE);
    CaptureStderr();
    emitOneOfEachLevel();

    EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(ConsoleTrace, OtherLevelsPrintInHexAndMissingPartsStayVisible) {
    liuTrace_setLevel(0);
    CaptureStderr();
    tracePrintf(4, 0x40, kMask, nullptr, 7, "text with its own newline\n");
    tracePrintf(4, 0x40, kMask, "a.c", 8, nullptr);

    EXPECT_EQ(GetCapturedStderr(), "0x40 4 ?:7 text with its own newline\n0x40 4 a.c:8 \n");
}

TEST(ConsoleTrace, LongTextIsWrittenWhole) {
    const std::string longText(3000, 'x');
    CaptureStderr();
    tracePrintf(255, LIUDRV_TRACE_LEVEL_ERROR, kMask, "s.c", 1, "%s|", longText.c_str());

    EXPECT_EQ(GetCapturedStderr(), "ERROR 255 s.c:1 " + longText + "|\n");
}

TEST(ConsoleTrace, EnvironmentChoosesTheFilterByName) {
    EXPECT_EQ(emittedWithEnvironment("call"), std::string(kErrorLine) + kCallLine);
    EXPECT_EQ(liuTrace_level(), LIU_TRACE_SHOW_CALLS);
}

TEST(ConsoleTrace, EnvironmentDetailShowsEverything) {
    EXPECT_EQ(emittedWithEnvironment("detail"), std::string(kErrorLine) + kCallLine + kDetailLine);
}

TEST(ConsoleTrace, EnvironmentOffSilencesErrors) {
    EXPECT_EQ(emittedWithEnvironment("off"), "");
}

TEST(ConsoleTrace, EnvironmentTakesANumber) {
    EXPECT_EQ(emittedWithEnvironment("0x20"), std::string(kErrorLine) + kCallLine);
    EXPECT_EQ(liuTrace_level(), 0x20);
}

TEST(ConsoleTrace, UnknownEnvironmentValueIsReportedOnceAndIgnored) {
    const std::string emitted = emittedWithEnvironment("verbose");
    CaptureStderr();
    emitOneOfEachLevel();
    const std::string later = GetCapturedStderr();

    EXPECT_THAT(emitted, HasSubstr("liuTrace: ignoring LIU_TRACE=\"verbose\""));
    EXPECT_THAT(emitted, HasSubstr(kErrorLine));
    EXPECT_THAT(emitted, ::testing::Not(HasSubstr(kCallLine)));
    EXPECT_EQ(later, kErrorLine);
}

TEST(ConsoleTrace, EnvironmentIsReadOnlyAtTheFirstCall) {
    unsetenv("LIU_TRACE");
    int16_t id = -1;
    initTraceSet("liuDrv_trace", 0, 250, 65, kMask, &id);
    setenv("LIU_TRACE", "detail", 1);

    EXPECT_EQ(liuTrace_level(), LIU_TRACE_SHOW_ERRORS);
}

TEST(ConsoleTrace, SetLevelBeforeTheFirstCallWinsOverTheEnvironment) {
    liuTrace_setLevel(LIU_TRACE_SHOW_ERRORS);
    EXPECT_EQ(emittedWithEnvironment("detail"), kErrorLine);
}

TEST(ConsoleTrace, InitTraceSetStoresIncreasingPositiveIds) {
    int16_t first = -1;
    int16_t second = -1;

    EXPECT_EQ(initTraceSet("liuDrv_trace", 0, 250, 65, kMask, &first), 0);
    EXPECT_EQ(initTraceSet("other", 0, 10, 1, 0, &second), 0);

    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
}

TEST(ConsoleTrace, InitTraceSetWithoutIdIsRefused) {
    EXPECT_EQ(initTraceSet("liuDrv_trace", 0, 250, 65, kMask, nullptr), -1);
}

} // namespace
