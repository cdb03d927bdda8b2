#include "platform/SharedDirectory.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

int OpenSharedDirectory(const std::string &path) {
    // A trailing '/' would make the last part's link be followed.
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (dir.empty()) {
        errno = ENOENT;
        return -1;
    }
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        close(fd);
        errno = ENOTDIR;
        return -1;
    }
    const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite && (st.st_mode & S_ISVTX) == 0) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

bool IsSafeSharedDirectory(const std::string &dir) {
    int fd = OpenSharedDirectory(dir);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace Platform
