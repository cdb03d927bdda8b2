// Timing: the plug-in's clock and wait primitive. A 32-bit millisecond clock that counts from the
// first Timing made in the process and wraps after 2^32 ms, elapsed and remaining time of a
// timeout (modulo 2^32, so a wrap between start and now does not matter), and waits that end
// within well under a millisecond without holding a processor core. Beside it: AlmostEqual.
#pragma once

#include <cstdint>

class Timing {
public:
    Timing();
    virtual ~Timing();

    // Blocks the calling thread for the given milliseconds.
    virtual void Wait(uint32_t milliseconds);
    // The high-resolution counter, in microseconds.
    virtual uint64_t ReadCounter();

    // Blocks for the given microseconds: sleeps until its last millisecond, then polls the counter.
    void WaitPrecise(uint64_t microseconds);
    // Blocks for at least the given milliseconds by sleeping only, never polling: for pauses whose
    // end may come a little late, such as those between the tries of a connect.
    void Sleep(uint32_t milliseconds);

    uint32_t GetMilliseconds();
    uint32_t ElapsedSince(uint32_t start);
    // Timeout minus the time elapsed since start; 0 once the timeout is reached.
    uint32_t RemainingTime(uint32_t start, uint32_t timeout);
    // Microseconds between two counter readings, whichever comes first.
    uint64_t TicksToMicroseconds(uint64_t first, uint64_t second) const;
    bool IsHighResolution() const;
    bool PerformanceCounterAvailable() const { return IsHighResolution(); }

protected:
    // The sleep of the waits, in microseconds; 0 gives up the rest of the time slice.
    virtual void Pause(uint64_t microseconds);

private:
    void WaitByMilliseconds(uint32_t milliseconds);
};

uint64_t MillisecondsToMicroseconds(uint64_t milliseconds);
uint64_t MicrosecondsToMilliseconds(uint64_t microseconds);

// Three-way comparison within a relative tolerance (absolute when one side is 0): 0 when equal
// within it, -1 when first is smaller, 1 when it is greater.
int CompareWithTolerance(double first, double second, double tolerance);
// CompareWithTolerance with the tolerance 1e-8.
int AlmostEqual(double first, double second);
