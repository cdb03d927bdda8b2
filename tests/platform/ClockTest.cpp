// Clocks and process/thread identity.
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <thread>

using namespace Platform;

TEST(ClockTest, SleepsAreMeasuredByTheMonotonicClock) {
    uint64_t before = MonotonicMicroseconds();
    SleepMilliseconds(20);
    uint64_t afterMs = MonotonicMicroseconds();
    SleepMicroseconds(5000);
    uint64_t afterUs = MonotonicMicroseconds();
    EXPECT_GE(afterMs - before, 20000u);
    EXPECT_LT(afterMs - before, 2000000u);
    EXPECT_GE(afterUs - afterMs, 5000u);
}

TEST(ClockTest, WallAndLocalTimeAgreeWithTheSystem) {
    time_t before = time(nullptr);
    WallTime wall = WallClockNow();
    LocalTime local = LocalTimeNow();
    time_t after = time(nullptr);
    EXPECT_GE(wall.Seconds, static_cast<int64_t>(before));
    EXPECT_LE(wall.Seconds, static_cast<int64_t>(after));
    EXPECT_LT(wall.Milliseconds, 1000u);
    tm parts{};
    localtime_r(&after, &parts);
    EXPECT_EQ(local.Year, parts.tm_year + 1900);
    EXPECT_GE(local.Month, 1);
    EXPECT_LE(local.Month, 12);
    EXPECT_GE(local.Day, 1);
    EXPECT_LT(local.Milliseconds, 1000);
}

TEST(ClockTest, ThreadsHaveTheirOwnIds) {
    uint32_t mainThread = CurrentThreadId();
    EXPECT_EQ(mainThread, CurrentProcessId()) << "the main thread's id is the process id";
    uint32_t worker = 0;
    std::thread([&] { worker = CurrentThreadId(); }).join();
    EXPECT_NE(worker, 0u);
    EXPECT_NE(worker, mainThread);
}

TEST(ClockTest, TheCoarseClockIsTheMonotonicClockLateByATickAtMost) {
    for (int i = 0; i < 3; ++i) {
        const uint64_t before = MonotonicMicroseconds();
        const uint64_t coarse = CoarseMonotonicMicroseconds();
        const uint64_t after = MonotonicMicroseconds();
        EXPECT_LE(coarse, after);
        EXPECT_LT(before - std::min(before, coarse), 50000u) << "more than a tick behind";
        SleepMilliseconds(11);
        EXPECT_GT(CoarseMonotonicMicroseconds(), coarse) << "a sleep longer than a tick passes one";
    }
}
