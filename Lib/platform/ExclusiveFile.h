// A file opened for appending under an exclusive lock that is tried once, without waiting
// (the stand-in of an exclusive, non-shared Windows open). The lock keeps other processes out;
// threads of one process must serialise among themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Platform {

// True when the path names an existing regular file (not a directory, not missing).
bool IsRegularFile(const std::string &path);

// Makes a new empty file, readable and writable by its owner only, named prefix followed by six
// random characters. The name is taken exclusively: whatever already exists under it, a link too,
// is never opened. Its path, or "" when none could be made (errno tells why).
std::string CreateUniqueFile(const std::string &prefix);

class ExclusiveAppendFile {
public:
    enum class OpenResult { Opened, Busy, Failed };

    ExclusiveAppendFile() = default;
    ~ExclusiveAppendFile();
    ExclusiveAppendFile(const ExclusiveAppendFile &) = delete;
    ExclusiveAppendFile &operator=(const ExclusiveAppendFile &) = delete;

    // Opens the file for writing at its end, creating it when missing, and tries once to lock it
    // exclusively. Busy: another open file holds the lock (nothing stays open). A symbolic link is
    // not followed (ELOOP) and anything but a regular file is refused (EINVAL).
    OpenResult Open(const std::string &path);
    // Writes every byte at the end of the file. 0 or an errno-style code.
    uint32_t Append(const void *data, size_t size);
    // Unlocks and closes. 0 or an errno-style code; 0 when not open.
    uint32_t Close();
    bool IsOpen() const { return mFd >= 0; }
    // errno-style code of the last failed Open (0 after a good or busy one).
    uint32_t LastError() const { return mLastError; }

private:
    int mFd = -1;
    uint32_t mLastError = 0;
};

} // namespace Platform
