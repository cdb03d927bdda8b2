// The turn record that the processes using one named mutex share: a System V shared memory
// segment keyed by the lock file's identity. Its size is fixed when it is made, so nobody can cut
// it under a process that has it attached (a mapping of the lock file itself would end that
// process with SIGBUS once another user truncated the file). Everything in it is a plain number
// that any local user may overwrite: it orders the waiters, flock on the lock file decides.
#pragma once

#include <cstdint>

#include <sys/types.h>

namespace Platform {

struct TurnRecord {
    uint32_t wake;    // changes at every hand-over; waiters sleep on it (futex)
    uint32_t next;    // the next ticket to hand out
    uint32_t serving; // the ticket whose turn it is (held or about to be taken)
    uint32_t spare;
    uint32_t holder; // process id of the holder, 0 after a clean release
    uint32_t check;  // ~holder: a holder id counts only with it
};

struct TurnSegment {
    uint64_t magic;   // TurnSegmentMagic once a process took the segment for a lock file
    uint64_t device;  // that lock file's st_dev
    uint64_t inode;   // and st_ino
    uint32_t closing; // set while a leaving process decides whether it was the last one
    uint32_t spare;
    TurnRecord turn;
};

constexpr uint64_t TurnSegmentMagic = 0x4B4F52564C4F434Bull; // "KORVLOCK"

// The segment's key for a lock file (never IPC_PRIVATE).
key_t TurnSegmentKey(dev_t device, ino_t inode);

} // namespace Platform
