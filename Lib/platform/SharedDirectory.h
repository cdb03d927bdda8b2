// Directories that several users share (mailslot, locks): only a real directory is used, never a
// symbolic link, and one that others can write to must have the sticky bit, so that nobody can
// replace another user's files in it.
#pragma once

#include <string>

namespace Platform {

// Opens the directory itself (a symbolic link as its last part is refused) and checks it as above.
// The descriptor (close-on-exec) or -1 with errno set (ELOOP, ENOTDIR, EPERM, ...).
int OpenSharedDirectory(const std::string &dir);

// The same check without keeping the directory open.
bool IsSafeSharedDirectory(const std::string &dir);

// $KORVALIS_LOCK_DIR, default /tmp/korvalis-locks: where the files live that several processes
// share (named-mutex lock files, the GPIB timing store).
std::string LockDirectory();

// Creates the directory with mode 1777 when it is missing (missing parents as ordinary
// directories), so that every user's processes can create files in it.
void MakeSharedDirectory(const std::string &dir);

// Opens (creating it with mode 0666 when missing) a file in a shared directory for reading and
// writing: never through a symbolic link, never a FIFO or device (no blocking open), never a file
// with a second name, and only in a directory that OpenSharedDirectory accepts (made again when it
// went away). Never truncated. The descriptor (close-on-exec) or -1 with errno set.
int OpenSharedFile(const std::string &path);

} // namespace Platform
