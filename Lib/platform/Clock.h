// Clocks, sleeping and process/thread identity.
#pragma once

#include <cstdint>
#include <ctime>

namespace Platform {

// CLOCK_MONOTONIC in microseconds.
inline uint64_t MonotonicMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

// The same clock at the resolution of the system's tick (a few milliseconds), read at a fraction of
// the cost: for intervals that may run late by a tick.
inline uint64_t CoarseMonotonicMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

// Wall clock: seconds since 1970-01-01 UTC and milliseconds 0..999, taken in one read.
struct WallTime {
    int64_t Seconds;
    unsigned Milliseconds;
};
WallTime WallClockNow();

// Local calendar time (the driver log file's time stamps).
struct LocalTime {
    int Year, Month, Day, Hour, Minute, Second, Milliseconds;
};
LocalTime LocalTimeNow();

void SleepMilliseconds(uint32_t milliseconds);
void SleepMicroseconds(uint64_t microseconds);

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();
// True when no process of that id is there to be seen: none at all, or one in another PID
// namespace. An id that no process can have (0, above the largest) counts as ended.
bool ProcessHasEnded(uint32_t processId);

} // namespace Platform
