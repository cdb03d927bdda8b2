// Timing over the monotonic microsecond clock of the platform.
#include "core/Timing.h"

#include "platform/Clock.h"

#include <cmath>
#include <thread>

namespace {

// Longest wait that goes through the precise wait; longer ones use only the millisecond clock.
constexpr uint32_t LongestPreciseWait = 600000;

// Set once, by the first Timing made in the process; read-only afterwards.
struct ProcessClock {
    uint64_t StartCounter;
    bool HighResolution;
};

const ProcessClock &GetProcessClock() {
    static const ProcessClock clock{Platform::MonotonicMicroseconds(), true};
    return clock;
}

// The end of a precise wait that is polled, not slept: a sleep ends some tens of microseconds late,
// more on a busy machine, while polling ends at the first reading past the time.
constexpr uint64_t PolledMicroseconds = 1000;

// The millisecond loop's sleep while this many whole milliseconds remain: 10, 0 (yield) or none (-1).
int PauseFor(uint64_t remainingMilliseconds) {
    if (remainingMilliseconds > 20)
        return 10;
    if (remainingMilliseconds > 3)
        return 0;
    return -1;
}

} // namespace

Timing::Timing() {
    GetProcessClock();
}

Timing::~Timing() = default;

uint64_t Timing::ReadCounter() {
    return Platform::MonotonicMicroseconds();
}

void Timing::Pause(uint64_t microseconds) {
    if (microseconds == 0)
        std::this_thread::yield();
    else
        Platform::SleepMicroseconds(microseconds);
}

bool Timing::IsHighResolution() const {
    return GetProcessClock().HighResolution;
}

uint32_t Timing::GetMilliseconds() {
    // Counted from the first Timing; the 64-bit microsecond count cannot overflow in practice
    // and is cut to 32 bits only at the end.
    const uint64_t elapsed = ReadCounter() - GetProcessClock().StartCounter;
    return static_cast<uint32_t>(elapsed / 1000u);
}

uint32_t Timing::ElapsedSince(uint32_t start) {
    return GetMilliseconds() - start;
}

uint32_t Timing::RemainingTime(uint32_t start, uint32_t timeout) {
    const uint32_t elapsed = ElapsedSince(start);
    return elapsed >= timeout ? 0 : timeout - elapsed;
}

uint64_t Timing::TicksToMicroseconds(uint64_t first, uint64_t second) const {
    // The counter already counts microseconds.
    return first > second ? first - second : second - first;
}

void Timing::Wait(uint32_t milliseconds) {
    if (milliseconds <= LongestPreciseWait && IsHighResolution())
        WaitPrecise(MillisecondsToMicroseconds(milliseconds));
    else
        WaitByMilliseconds(milliseconds);
}

void Timing::WaitByMilliseconds(uint32_t milliseconds) {
    // Measured as elapsed time since the start, so a wrap of the clock does not end the wait early.
    const uint32_t start = GetMilliseconds();
    for (;;) {
        const uint32_t remaining = RemainingTime(start, milliseconds);
        if (remaining == 0)
            return;
        const int pause = PauseFor(remaining);
        if (pause >= 0)
            Pause(MillisecondsToMicroseconds(static_cast<uint32_t>(pause)));
    }
}

void Timing::WaitPrecise(uint64_t microseconds) {
    if (!IsHighResolution()) {
        const uint64_t milliseconds = MicrosecondsToMilliseconds(microseconds);
        Wait(milliseconds > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(milliseconds));
        return;
    }
    const uint64_t start = ReadCounter();
    for (;;) {
        const uint64_t elapsed = TicksToMicroseconds(start, ReadCounter());
        if (elapsed >= microseconds)
            return;
        const uint64_t remaining = microseconds - elapsed;
        if (remaining > PolledMicroseconds)
            Pause(remaining - PolledMicroseconds);
    }
}

void Timing::Sleep(uint32_t milliseconds) {
    const uint64_t start = ReadCounter();
    const uint64_t total = MillisecondsToMicroseconds(milliseconds);
    for (;;) {
        const uint64_t elapsed = TicksToMicroseconds(start, ReadCounter());
        if (elapsed >= total)
            return;
        Pause(total - elapsed);
    }
}

uint64_t MillisecondsToMicroseconds(uint64_t milliseconds) {
    return milliseconds * 1000u;
}

uint64_t MicrosecondsToMilliseconds(uint64_t microseconds) {
    return microseconds / 1000u;
}

int CompareWithTolerance(double first, double second, double tolerance) {
    if (first == second)
        return 0;
    const double difference = std::fabs(first - second);
    double relative = difference;
    if (first != 0.0 && second != 0.0)
        relative = difference / std::fmax(std::fabs(first), std::fabs(second));
    if (tolerance >= relative)
        return 0;
    return first > second ? 1 : -1;
}

int AlmostEqual(double first, double second) {
    return CompareWithTolerance(first, second, 1e-8);
}
