// The GPIB bus timing of every process that shares the lock directory: the file "gpibsrq-timing"
// there, opened by the lock files' rules (no link followed, a regular file with one name, made
// 0666, never truncated), holding plain numbers. It holds the last bus access (its user's delay
// and the counter reading of its end), and the turns of the accesses: each access takes the next
// turn under the file's exclusive flock, waits until the access of the turn before has ended (or
// its process is gone) and the gap after it has passed, and records its end in its turn's slot.
// The slots are fewer than the turns: a turn takes its slot only once no turn waits for the one
// before in it, so an access never begins before the gap after the one before, however many wait
// and however late that one came. What is read is checked (size, mark, check word); anything
// else counts as nothing recorded. When the file cannot be used, or its flock is not had by the
// access's deadline, the access keeps this process's own timing. Any local user may write the
// file: its readers bound what they take from it, and one deadline bounds an access's whole wait,
// the flock's included.
#pragma once

#include <cstdint>

namespace GpibSrq {

struct BusTiming {
    uint32_t Delay = 0;   // microseconds
    uint64_t Counter = 0; // CLOCK_MONOTONIC in microseconds
};

// The last access; a counter ahead of the clock (a file from before a restart) counts as none.
BusTiming ReadBusTiming();
// A null part keeps its stored value.
void WriteBusTiming(const uint32_t *delay, const uint64_t *counter);

// Returns when an access of a user with that delay may begin: after the access of the turn before
// plus the larger of the own delay and that access's delay (GpibSrqApi::NextBusAccess), the wait
// for the turn and the others' delays ending at otherDelayLimit after the call; the own delay
// after the access before always counts, one not ended by that deadline counting as ending then.
// The turn for EndBusAccess, 0 when none was taken.
uint64_t WaitForBusAccess(uint32_t delay, uint32_t otherDelayLimit);
// Records the end of the turn's access, and as the last access; the flock is waited for until the
// deadline of this thread's WaitForBusAccess of the turn, 3 ms at least.
void EndBusAccess(uint64_t turn, uint32_t delay, uint64_t end);

// Closes the store's file and frees it: for the library's unload, once no call is inside. Nothing
// of the store may be used after it.
void FreeStore();

} // namespace GpibSrq
