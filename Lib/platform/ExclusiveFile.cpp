// Exclusive append through flock(LOCK_EX | LOCK_NB) on a regular file opened with O_APPEND (no
// symbolic link followed, no blocking open).
#include "platform/ExclusiveFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

bool IsRegularFile(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string CreateUniqueFile(const std::string &prefix) {
    std::string path = prefix + "XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return std::string();
    ::close(fd);
    return path;
}

ExclusiveAppendFile::~ExclusiveAppendFile() {
    Close();
}

ExclusiveAppendFile::OpenResult ExclusiveAppendFile::Open(const std::string &path) {
    Close();
    mLastError = 0;
    int fd;
    do {
        fd = ::open(path.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        mLastError = static_cast<uint32_t>(errno);
        return OpenResult::Failed;
    }
    // A FIFO or device put in the file's place is not written (it could block every writer).
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        mLastError = EINVAL;
        return OpenResult::Failed;
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return OpenResult::Busy;
        mLastError = static_cast<uint32_t>(error);
        return OpenResult::Failed;
    }
    mFd = fd;
    return OpenResult::Opened;
}

uint32_t ExclusiveAppendFile::Append(const void *data, size_t size) {
    if (mFd < 0)
        return EBADF;
    const char *next = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t written = ::write(mFd, next, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return static_cast<uint32_t>(errno);
        }
        next += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

uint32_t ExclusiveAppendFile::Close() {
    if (mFd < 0)
        return 0;
    // Closing the descriptor drops the lock with it.
    int rc = ::close(mFd);
    mFd = -1;
    return rc == 0 ? 0 : static_cast<uint32_t>(errno);
}

} // namespace Platform
