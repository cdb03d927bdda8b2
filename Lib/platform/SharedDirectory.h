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

} // namespace Platform
