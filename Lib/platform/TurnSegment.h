// The turn record that the processes using one named mutex share: a System V shared memory
// segment keyed by the lock file's identity. A segment of the same layout, keyed by the lock
// directory's path, counts the lock files opened there. Its size is fixed when it is made, so nobody can cut
// it under a process that has it attached (a mapping of the lock file itself would end that
// process with SIGBUS once another user truncated the file). Everything in it is a plain number
// that any local user may overwrite: it orders the waiters, flock on the lock file decides.
#pragma once

#include <cstdint>
#include <string>

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
    uint64_t magic;   // TurnSegmentMagic (DirectorySegmentMagic) once a process took the segment
    uint64_t device;  // the lock file's st_dev (0 for a directory)
    uint64_t inode;   // and st_ino (a hash of the directory's path)
    uint32_t closing; // set while a leaving process decides whether it was the last one
    uint32_t opened;  // directory segments: changes whenever a process opens a lock file there
    TurnRecord turn;
};

constexpr uint64_t TurnSegmentMagic = 0x4B4F52564C4F434Bull;      // "KORVLOCK"
constexpr uint64_t DirectorySegmentMagic = 0x4B4F5256444C4F43ull; // "KORVDLOC"

// The segment's key for a lock file (never IPC_PRIVATE).
key_t TurnSegmentKey(dev_t device, ino_t inode);
// The key of the directory segment, and the hash it is claimed with, for a lock directory's path.
uint64_t DirectoryHash(const std::string &directory);
key_t DirectorySegmentKey(uint64_t directoryHash);

} // namespace Platform
