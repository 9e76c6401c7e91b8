// SPDX-License-Identifier: MIT
// The recording trace sink the test suites link: what it keeps of each
// call, the id it hands out, and clear().
#include "TraceRecorder.h"

#include "LiuDrv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using liutrace::TraceRecord;

TEST(TraceRecorder, KeepsEveryFieldOfATraceLine) {
    liutrace::clear();
    tracePrintf(1, LIUDRV_TRACE_LEVEL_DETAIL, LIUDRV_TRACE_MASK, "drvs/liuDrv/LiuDrv.cpp", 140,
                "%s: reg=0x%02x value=0x%02x", "liuDrv_write", 0x23, 0x08);

    const auto records = liutrace::records();
    ASSERT_EQ(records.size(), 1u);
    const TraceRecord& record = records[0];
    EXPECT_EQ(record.id, 1);
    EXPECT_EQ(record.level, LIUDRV_TRACE_LEVEL_DETAIL);
    EXPECT_EQ(record.mask, LIUDRV_TRACE_MASK);
    EXPECT_EQ(record.source, "drvs/liuDrv/LiuDrv.cpp");
    EXPECT_EQ(record.line, 140);
    EXPECT_EQ(record.format, "%s: reg=0x%02x value=0x%02x");
    EXPECT_EQ(record.text, "liuDrv_write: reg=0x23 value=0x08");
}

TEST(TraceRecorder, KeepsLinesInOrderAndAbsentTextsAsEmpty) {
    liutrace::clear();
    tracePrintf(255, LIUDRV_TRACE_LEVEL_ERROR, 0, nullptr, 1, "%s: only 1 LIU existing!",
                "liuDrv_read");
    tracePrintf(7, LIUDRV_TRACE_LEVEL_CALL, 0, "x.c", 2, nullptr);

    const auto records = liutrace::records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "liuDrv_read: only 1 LIU existing!");
    EXPECT_EQ(records[0].source, "");
    EXPECT_EQ(records[1].format, "");
    EXPECT_EQ(records[1].text, "");
}

TEST(TraceRecorder, InitTraceSetRecordsItsArgumentsAndStoresTheConfiguredId) {
    liutrace::clear();
    int16_t id = -1;

    EXPECT_EQ(initTraceSet("liuDrv_trace", 0, 250, 65, LIUDRV_TRACE_MASK, &id), 0);
    EXPECT_EQ(id, liutrace::kDefaultTraceSetId);
    liutrace::setTraceSetId(42);
    EXPECT_EQ(initTraceSet("again", 1, 2, 3, 4, &id), 0);
    EXPECT_EQ(id, 42);

    const auto sets = liutrace::registrations();
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].name, "liuDrv_trace");
    EXPECT_EQ(sets[0].first, 0);
    EXPECT_EQ(sets[0].last, 250);
    EXPECT_EQ(sets[0].defaultLevel, 65);
    EXPECT_EQ(sets[0].mask, LIUDRV_TRACE_MASK);
    EXPECT_TRUE(sets[0].idGiven);
    EXPECT_EQ(liutrace::initCalls(), 2);
}

TEST(TraceRecorder, InitTraceSetWithoutIdIsRecordedAndRefused) {
    liutrace::clear();

    EXPECT_EQ(initTraceSet(nullptr, 0, 250, 65, LIUDRV_TRACE_MASK, nullptr), -1);

    const auto sets = liutrace::registrations();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].name, "");
    EXPECT_FALSE(sets[0].idGiven);
}

TEST(TraceRecorder, ClearForgetsEverythingAndRestoresTheDefaultId) {
    int16_t id = -1;
    liutrace::setTraceSetId(3);
    initTraceSet("liuDrv_trace", 0, 250, 65, LIUDRV_TRACE_MASK, &id);
    tracePrintf(1, 0x10, 0, "s", 1, "x");

    liutrace::clear();
    initTraceSet("liuDrv_trace", 0, 250, 65, LIUDRV_TRACE_MASK, &id);

    EXPECT_TRUE(liutrace::records().empty());
    EXPECT_EQ(liutrace::initCalls(), 1);
    EXPECT_EQ(id, liutrace::kDefaultTraceSetId);
}

TEST(TraceRecorder, LinesFromSeveralThreadsAreAllKept) {
#ifdef LIU_TESTS_UNDER_EMULATION
    GTEST_SKIP() << "threads crash the user-mode emulator";
#endif
    liutrace::clear();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 250; ++i) {
                tracePrintf(t, 0x10, 0, "s", i, "%d/%d", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(liutrace::records().size(), 1000u);
}

} // namespace
