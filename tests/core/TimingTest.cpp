// Timing: the waits' sleep schedule and the millisecond clock's wrap, driven by a scripted
// counter; the real clock for a few short waits; the tolerant comparison of doubles.
#include "core/Timing.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <vector>

namespace {

// A Timing whose counter moves only when read or paused, by fixed steps.
class ScriptedTiming : public Timing {
public:
    struct PauseRecord {
        uint64_t Microseconds;
        uint64_t At;
    };

    uint64_t ReadCounter() override {
        ++Reads;
        Now += ReadStep;
        return Now;
    }

    // Moves the millisecond clock to the given reading.
    void SetMilliseconds(uint32_t target) {
        const uint64_t saved = ReadStep;
        ReadStep = 0;
        Now += static_cast<uint64_t>(target - GetMilliseconds()) * 1000u;
        ReadStep = saved;
    }

    // Starts the counter at the real clock, so that it never lies before the process's start.
    uint64_t Now = Platform::MonotonicMicroseconds();
    uint64_t ReadStep = 0;
    uint64_t YieldCost = 0;
    uint64_t PauseLateness = 0; // added to every sleep
    size_t Reads = 0;
    std::vector<PauseRecord> Pauses;

protected:
    void Pause(uint64_t microseconds) override {
        Pauses.push_back({microseconds, Now});
        Now += microseconds == 0 ? YieldCost : microseconds + PauseLateness;
    }
};

TEST(TimingWaitTest, PreciseWaitSleepsUntilItsLastMillisecondThenPolls) {
    // The sleep ends on time, late within the polled millisecond, or past the deadline.
    for (uint64_t lateness : {0u, 600u, 1500u}) {
        ScriptedTiming timing;
        timing.ReadStep = 100;
        timing.PauseLateness = lateness;
        const uint64_t start = timing.Now + timing.ReadStep; // the wait's first reading
        timing.WaitPrecise(25000);
        const uint64_t waited = timing.Now - start;
        EXPECT_GE(waited, 25000u) << lateness;
        if (lateness < 1000) {
            EXPECT_LT(waited, 25000u + timing.ReadStep)
                << lateness << ": ends at the first reading past the time";
        }
        ASSERT_EQ(timing.Pauses.size(), 1u) << lateness << ": one sleep, no yields";
        EXPECT_EQ(timing.Pauses[0].Microseconds, 25000u - 1000u - timing.ReadStep) << lateness;
        // Polled: 1 ms less the sleep's lateness, at one reading per ReadStep.
        EXPECT_LE(timing.Reads, 3u + (lateness < 1000 ? (1000 - lateness) / timing.ReadStep : 0)) << lateness;
    }
}

TEST(TimingWaitTest, WaitOfZeroReturnsAtOnce) {
    ScriptedTiming timing;
    timing.ReadStep = 100;
    timing.Wait(0);
    EXPECT_TRUE(timing.Pauses.empty());
    EXPECT_LE(timing.Reads, 2u);
    timing.WaitPrecise(0);
    EXPECT_TRUE(timing.Pauses.empty());
}

TEST(TimingWaitTest, TenMinuteWaitsLastTheirTime) {
    for (uint32_t milliseconds : {600000u, 600001u}) {
        ScriptedTiming timing;
        timing.ReadStep = 100;
        timing.YieldCost = 1000;
        const uint64_t before = timing.Now;
        timing.Wait(milliseconds);
        const uint64_t waited = timing.Now - before;
        EXPECT_GE(waited, (milliseconds - 1) * 1000ull) << milliseconds;
        EXPECT_LT(waited, (milliseconds + 11) * 1000ull) << milliseconds;
    }
}

TEST(TimingWaitTest, TenMinutesIsTheLongestPreciseWait) {
    // With the counter 0.999 ms past a millisecond tick at the start, the millisecond loop ends up to 0.999
    // ms early (its start is truncated), while the precise wait never ends early.
    for (uint32_t milliseconds : {600000u, 600001u}) {
        ScriptedTiming timing;
        const uint32_t tick = timing.GetMilliseconds();
        while (timing.GetMilliseconds() == tick)
            ++timing.Now;
        timing.Now += 998; // the wait's first reading lands at 0.999 ms
        timing.ReadStep = 1;
        timing.YieldCost = 1000;
        const uint64_t before = timing.Now;
        timing.Wait(milliseconds);
        const uint64_t waited = timing.Now - before;
        if (milliseconds == 600000u)
            EXPECT_GE(waited, milliseconds * 1000ull) << "precise wait";
        else
            EXPECT_LT(waited, milliseconds * 1000ull) << "millisecond loop";
    }
}

TEST(TimingWaitTest, LongWaitAcrossTheClockWrapLastsItsTime) {
    ScriptedTiming timing;
    timing.SetMilliseconds(0xFFFFFFFFu - 100);
    ASSERT_EQ(timing.GetMilliseconds(), 0xFFFFFFFFu - 100);
    timing.ReadStep = 100;
    timing.YieldCost = 1000;
    const uint64_t before = timing.Now;
    timing.Wait(600001);
    const uint64_t waited = timing.Now - before;
    EXPECT_GE(waited, 600000ull * 1000u);
    EXPECT_LT(waited, 600012ull * 1000u);
}

TEST(TimingClockTest, ElapsedAndRemainingAcrossTheWrap) {
    ScriptedTiming timing;
    timing.SetMilliseconds(0xFFFFFFF0u);
    const uint32_t start = timing.GetMilliseconds();
    ASSERT_EQ(start, 0xFFFFFFF0u);
    timing.Now += 20000;
    EXPECT_EQ(timing.GetMilliseconds(), 4u);
    EXPECT_EQ(timing.ElapsedSince(start), 20u);
    EXPECT_EQ(timing.RemainingTime(start, 30), 10u);
    EXPECT_EQ(timing.RemainingTime(start, 20), 0u);
    EXPECT_EQ(timing.RemainingTime(start, 5), 0u);
    EXPECT_EQ(timing.RemainingTime(start, 0), 0u);
    EXPECT_EQ(timing.RemainingTime(start, 0xFFFFFFFFu), 0xFFFFFFFFu - 20);
}

TEST(TimingClockTest, DaysOfUptimeConvertExactly) {
    ScriptedTiming timing;
    const uint32_t start = timing.GetMilliseconds();
    timing.Now += 30ull * 24 * 3600 * 1000000; // 30 days
    EXPECT_EQ(timing.ElapsedSince(start), 2592000000u);
    timing.Now += 30ull * 24 * 3600 * 1000000; // 60 days: past 2^32 ms, the clock has wrapped
    EXPECT_EQ(timing.ElapsedSince(start), static_cast<uint32_t>(5184000000ull - 4294967296ull));
}

TEST(TimingClockTest, TicksToMicrosecondsIsSymmetricAndExact) {
    Timing timing;
    EXPECT_EQ(timing.TicksToMicroseconds(5, 3), 2u);
    EXPECT_EQ(timing.TicksToMicroseconds(3, 5), 2u);
    EXPECT_EQ(timing.TicksToMicroseconds(0, 1ull << 62), 1ull << 62);
    EXPECT_EQ(timing.TicksToMicroseconds(7, 7), 0u);
    EXPECT_EQ(MillisecondsToMicroseconds(0xFFFFFFFFu), 4294967295000ull);
    EXPECT_EQ(MicrosecondsToMilliseconds(1999), 1u);
}

TEST(TimingRealClockTest, ShortWaitsLastAtLeastTheirTime) {
    using Clock = std::chrono::steady_clock;
    Timing timing;
    const uint32_t startMs = timing.GetMilliseconds();
    Clock::time_point before = Clock::now();
    timing.Wait(20);
    auto waited = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before).count();
    EXPECT_GE(waited, 20000 - 1); // the counter truncates to whole microseconds
    EXPECT_LT(waited, 2000000);
    EXPECT_GE(timing.ElapsedSince(startMs), 20u);

    before = Clock::now();
    timing.WaitPrecise(1500);
    waited = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before).count();
    EXPECT_GE(waited, 1500 - 1);
    EXPECT_LT(waited, 2000000);
}

// An EUT event's screen pause (and a toggle delay) sleeps; only its last millisecond is polled.
TEST(TimingRealClockTest, HundredMillisecondWaitUsesLittleProcessorTime) {
    const auto threadCpuMicroseconds = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
    };
    Timing timing;
    const uint64_t before = Platform::MonotonicMicroseconds();
    const uint64_t cpuBefore = threadCpuMicroseconds();
    timing.Wait(100);
    const uint64_t cpu = threadCpuMicroseconds() - cpuBefore;
    EXPECT_GE(Platform::MonotonicMicroseconds() - before, 100000u);
    EXPECT_LT(cpu, 5000u) << "microseconds of processor time";
}

TEST(AlmostEqualTest, RelativeToleranceAndAbsoluteAgainstZero) {
    EXPECT_EQ(AlmostEqual(1000, 1000.000001), 0);
    EXPECT_EQ(AlmostEqual(0, 1e-9), 0);
    EXPECT_EQ(AlmostEqual(-1e-9, 0), 0);
    EXPECT_EQ(AlmostEqual(0, 1e-7), -1);
    EXPECT_EQ(AlmostEqual(1, 1.0001), -1);
    EXPECT_EQ(AlmostEqual(1.0001, 1), 1);
    EXPECT_EQ(AlmostEqual(-2, -2), 0);
    EXPECT_EQ(CompareWithTolerance(100, 101, 0.01), 0);
    EXPECT_EQ(CompareWithTolerance(100, 102, 0.01), -1);
    EXPECT_EQ(CompareWithTolerance(-100, -102, 0.01), 1);
}

} // namespace
