// Test fixtures over the real file system and environment.
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TestSupport {

TempDir::TempDir() {
    std::string base = fs::temp_directory_path().string() + "/pontis-test-XXXXXX";
    std::string buf = base;
    if (mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    mPath = buf;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(mPath, ec);
}

ScopedEnv::ScopedEnv(const std::string &name, const std::string &value) : mName(name) {
    const char *old = getenv(name.c_str());
    mHadOld = old != nullptr;
    if (mHadOld)
        mOld = old;
    setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (mHadOld)
        setenv(mName.c_str(), mOld.c_str(), 1);
    else
        unsetenv(mName.c_str());
}

IsolatedEnvironment::IsolatedEnvironment()
    : mMailslot("KORVALIS_MAILSLOT_DIR", mDir.File("mailslot")),
      mLocks("KORVALIS_LOCK_DIR", mDir.File("locks")), mDriveC("KORVALIS_DRIVE_C", mDir.File("driveC")) {
    fs::create_directories(MailslotDir());
    fs::create_directories(LockDir());
    fs::create_directories(DriveC());
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string RunnerEnv(const char *name) {
    const char *v = getenv(name);
    return v ? v : "";
}

ProcessResult RunProcess(const std::vector<std::string> &argv, const std::string &input,
                         std::chrono::milliseconds timeout) {
    ProcessResult result;
    int in[2], out[2];
    if (pipe(in) != 0)
        return result;
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
        // the child may not read its input; its output and status still tell
    }
    close(in[1]);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buf[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.TimedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r <= 0)
            continue;
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        result.Output.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.Signal = WTERMSIG(status);
    return result;
}

} // namespace TestSupport
