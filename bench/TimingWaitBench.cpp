// The precise wait against the yield-and-poll loop it replaced, in the same run: how late each
// wait ends (median and 99th percentile) and the processor time it takes, for GPIB bus gaps
// (0.5, 2 and 5 ms), an EUT event's screen pause (100 ms) and a toggle delay (750 ms). Beside
// them, a plain sleep of the same length: the slept gap of GPIBSRQ.DLL's turns.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "core/Timing.h"
#include "platform/Clock.h"

namespace {

uint64_t Nanoseconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// The former precise wait, kept here only to be compared: 10 ms sleeps while more than 20 whole
// milliseconds remain, yields while more than 3 remain, then polls the counter.
void FormerYieldAndPollWait(uint64_t microseconds) {
    const uint64_t start = Platform::MonotonicMicroseconds();
    for (;;) {
        const uint64_t elapsed = Platform::MonotonicMicroseconds() - start;
        if (elapsed >= microseconds)
            return;
        const uint64_t remaining = (microseconds - elapsed) / 1000u;
        if (remaining > 20)
            Platform::SleepMilliseconds(10);
        else if (remaining > 3)
            std::this_thread::yield();
    }
}

void PreciseWait(uint64_t microseconds) {
    Timing().WaitPrecise(microseconds);
}

// Sleeps without polling, as GPIBSRQ.DLL sleeps the gap after the access before.
void PlainSleep(uint64_t microseconds) {
    Platform::SleepMicroseconds(microseconds);
}

// Reports the lateness (median and 99th percentile, µs) and the processor time per wait (µs).
void MeasureWaits(benchmark::State &state, void (*waitFor)(uint64_t), uint64_t microseconds) {
    std::vector<double> lateness;
    lateness.reserve(static_cast<size_t>(state.max_iterations));
    uint64_t cpu = 0;
    for (auto _ : state) {
        const uint64_t cpuBefore = Nanoseconds(CLOCK_THREAD_CPUTIME_ID);
        const uint64_t before = Nanoseconds(CLOCK_MONOTONIC);
        waitFor(microseconds);
        const uint64_t after = Nanoseconds(CLOCK_MONOTONIC);
        cpu += Nanoseconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
        lateness.push_back(
            (static_cast<double>(after - before) - static_cast<double>(microseconds) * 1000.0) / 1000.0);
    }
    std::sort(lateness.begin(), lateness.end());
    const size_t count = lateness.size();
    state.counters["late_med_us"] = lateness[count / 2];
    state.counters["late_p99_us"] = lateness[(count * 99 + 99) / 100 - 1];
    state.counters["cpu_us"] = static_cast<double>(cpu) / 1000.0 / static_cast<double>(count);
}

// Each length with enough waits for its percentiles, within 15 s of waiting; the strategies of
// one length run one after the other.
int RegisterWaits() {
    struct Length {
        uint64_t Microseconds;
        int Waits;
    };
    struct Strategy {
        const char *Name;
        void (*WaitFor)(uint64_t);
    };
    const Length lengths[] = {{500, 2000}, {2000, 1000}, {5000, 500}, {100000, 150}, {750000, 20}};
    const Strategy strategies[] = {{"FormerYieldAndPollWait", FormerYieldAndPollWait},
                                   {"PreciseWait", PreciseWait},
                                   {"PlainSleep", PlainSleep}};
    for (const Length &length : lengths)
        for (const Strategy &strategy : strategies)
            benchmark::RegisterBenchmark(
                (std::string(strategy.Name) + "/" + std::to_string(length.Microseconds)).c_str(),
                MeasureWaits, strategy.WaitFor, length.Microseconds)
                ->Iterations(length.Waits)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
    return 0;
}

const int Registered = RegisterWaits();

} // namespace
