// Environment variables and the places that stand in for the design's Windows paths.
#include "platform/Environment.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

std::string GetEnv(const char *name, const std::string &fallback) {
    const char *value = name ? getenv(name) : nullptr;
    if (value == nullptr || *value == '\0')
        return fallback;
    return value;
}

bool IsNonInteractive() {
    return GetEnv("KORVALIS_NONINTERACTIVE") == "1";
}

std::string DriveCDirectory() {
    return GetEnv("KORVALIS_DRIVE_C", "/");
}

std::string DriveCFile(const std::string &fileName) {
    std::string dir = DriveCDirectory();
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + fileName;
}

namespace {
// A private directory: a real directory (not a symlink) owned by us; others' access is removed.
bool MakePrivateDirectory(const std::string &path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    return (st.st_mode & 077) == 0 || chmod(path.c_str(), 0700) == 0;
}
} // namespace

std::string TemporaryDirectory() {
    std::string dir = GetEnv("TMPDIR");
    if (!dir.empty())
        return dir;
    dir = GetEnv("XDG_RUNTIME_DIR");
    if (!dir.empty())
        return dir;
    dir = "/tmp/korvalis-" + std::to_string(geteuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return std::string();
    // Someone else's directory or a symlink planted under our name is never used.
    if (!MakePrivateDirectory(dir))
        return std::string();
    return dir;
}

std::string SerialPortPath(unsigned portNumber) {
    std::string path = GetEnv(("KORVALIS_COM" + std::to_string(portNumber)).c_str());
    if (!path.empty())
        return path;
    if (portNumber == 0)
        return std::string(); // there is no COM0
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

bool FileExists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string ModuleFilePath(const void *addressInModule) {
    Dl_info info{};
    if (addressInModule == nullptr || dladdr(addressInModule, &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    std::string path = info.dli_fname;
    // The main program may be reported by its bare name; the resolved path is more useful.
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr)
        return resolved;
    if (path.find('/') == std::string::npos) {
        ssize_t n = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
        if (n > 0)
            return std::string(resolved, static_cast<size_t>(n));
    }
    return path;
}

} // namespace Platform
