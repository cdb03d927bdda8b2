// The System V shared memory segments of the named mutexes: the turn record that the processes
// using one named mutex share, keyed by the lock file's identity, and the lock directory's count
// of opened lock files, keyed by the directory's path. A segment's size is fixed when it is made,
// so nobody can cut it under a process that has it attached (a mapping of the lock file itself
// would end that process with SIGBUS once another user truncated the file). Everything in them is
// a plain number that any local user may overwrite: they order the waiters and spare system calls,
// flock on the lock file decides.
#pragma once

#include <cstdint>
#include <string>

#include <sys/types.h>

namespace Platform {

struct TurnRecord {
    static constexpr uint32_t GoneSlots = 64;
    uint32_t wake;    // changes at every hand-over; waiters sleep on it (futex)
    uint32_t next;    // the next ticket to hand out
    uint32_t serving; // the ticket whose turn it is (held or about to be taken)
    uint32_t holder;  // process id of the holder, 0 after a clean release
    uint32_t check;   // ~holder: a holder id counts only with it
    // ~ticket in slot ticket % GoneSlots: the ticket's waiter left without the lock (timed out or
    // cancelled), and the turn passes it by.
    uint32_t gone[GoneSlots];
};

struct TurnSegment {
    uint64_t magic;   // TurnSegmentMagic once a process took the segment
    uint64_t device;  // the lock file's st_dev
    uint64_t inode;   // and st_ino
    uint32_t closing; // set while a leaving process decides whether it was the last one
    TurnRecord turn;
};

struct DirectorySegment {
    uint64_t magic;   // DirectorySegmentMagic once a process took the segment
    uint64_t path;    // DirectoryHash of the lock directory
    uint32_t closing; // as in TurnSegment
    uint32_t opened;  // changes whenever a process opens a lock file in the directory
};

// Part of the segment's key: a segment of another layout has another key.
constexpr uint64_t TurnSegmentMagic = 0x4B4F52564C4F4332ull;      // "KORVLOC2"
constexpr uint64_t DirectorySegmentMagic = 0x4B4F5256444C4F43ull; // "KORVDLOC"

// The segment's key for a lock file (never IPC_PRIVATE).
key_t TurnSegmentKey(dev_t device, ino_t inode);
// The key of the directory segment, and the hash it is claimed with, for a lock directory's path.
uint64_t DirectoryHash(const std::string &directory);
key_t DirectorySegmentKey(uint64_t directoryHash);

} // namespace Platform
