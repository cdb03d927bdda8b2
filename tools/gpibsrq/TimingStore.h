// The delay and counter reading of the last GPIB bus access, one pair for every process that
// shares the lock directory: the file "gpibsrq-timing" there, opened by the lock files' rules
// (no link followed, a regular file with one name, made 0666, never truncated), holding plain
// numbers that are read under a shared and written under an exclusive flock. What is read is
// checked (size, mark, check word, a counter not ahead of the clock); anything else counts as
// nothing recorded. When the file cannot be used, or its flock is not had within a few
// milliseconds, the pair is kept within the process. Any local user may write the file: its
// readers bound what they take from it.
#pragma once

#include <cstdint>

namespace GpibSrq {

struct BusTiming {
    uint32_t Delay = 0;   // microseconds
    uint64_t Counter = 0; // CLOCK_MONOTONIC in microseconds
};

BusTiming ReadBusTiming();
// A null part keeps its stored value.
void WriteBusTiming(const uint32_t *delay, const uint64_t *counter);

} // namespace GpibSrq
