#include "platform/SharedDirectory.h"

#include <cerrno>
#include <cstdlib>
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

std::string LockDirectory() {
    const char *dir = getenv("KORVALIS_LOCK_DIR");
    return dir && *dir ? std::string(dir) : std::string("/tmp/korvalis-locks");
}

namespace {
void MakeDirectories(const std::string &dir, mode_t mode) {
    struct stat st;
    if (dir.empty() || stat(dir.c_str(), &st) == 0)
        return;
    size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirectories(dir.substr(0, slash), 0777);
    if (mkdir(dir.c_str(), mode) == 0 && mode != 0777)
        chmod(dir.c_str(), mode); // the umask may have cut the mode
}
} // namespace

void MakeSharedDirectory(const std::string &dir) {
    MakeDirectories(dir, 01777);
}

int OpenSharedFile(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    const std::string dir = path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    int dirFd = OpenSharedDirectory(dir);
    if (dirFd < 0 && errno == ENOENT) {
        MakeSharedDirectory(dir);
        dirFd = OpenSharedDirectory(dir);
    }
    if (dirFd < 0)
        return -1;
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    bool created = true;
    int fd = openat(dirFd, name.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = openat(dirFd, name.c_str(), flags);
    }
    close(dirFd);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    if (created)
        fchmod(fd, 0666); // the umask may have cut the mode
    return fd;
}

} // namespace Platform
