// Test fixtures over the real file system and environment.
#include "support/TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define PONTIS_TEST_ASAN 1
// The sanitizer runtime's count of the bytes allocated and not freed.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#else
#define PONTIS_TEST_ASAN 0
#include <malloc.h>
#endif

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TestSupport {

size_t HeapBytesInUse() {
#if PONTIS_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

ScopedDecimalCommaLocale::ScopedDecimalCommaLocale() {
    const char *current = std::setlocale(LC_ALL, nullptr);
    mPrevious = current != nullptr ? current : "C";
    mActive =
        std::setlocale(LC_ALL, DecimalCommaLocaleName) != nullptr && *std::localeconv()->decimal_point == ',';
    if (!mActive)
        std::setlocale(LC_ALL, mPrevious.c_str());
}

ScopedDecimalCommaLocale::~ScopedDecimalCommaLocale() {
    if (mActive)
        std::setlocale(LC_ALL, mPrevious.c_str());
}

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

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

size_t Count(const std::string &text, const std::string &pattern) {
    const std::regex expression(pattern);
    return static_cast<size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), expression), std::sregex_iterator()));
}

std::string RunnerEnv(const char *name) {
    const char *v = getenv(name);
    return v ? v : "";
}

MessageBoxRecorder::MessageBoxRecorder(int answer) {
    Platform::SetMessageBoxSink([this, answer](const Platform::MessageBoxRequest &request) {
        Boxes.push_back(request);
        return answer != 0 ? answer : Platform::DefaultButton(request.Style);
    });
}

MessageBoxRecorder::~MessageBoxRecorder() {
    Platform::SetMessageBoxSink({});
}

ProcessResult RunProcess(const std::vector<std::string> &argv, const std::string &input,
                         std::chrono::milliseconds timeout, const std::string &until) {
    ProcessResult result;
    if (argv.empty())
        return result;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return result;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return result;
    }
    // Made before the fork: the child of a process with other threads must not allocate (an
    // allocator lock held by one of them at the fork is never let go there).
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return result;
    }
    signal(SIGPIPE, SIG_IGN);
    // The input is fed while the output is read, so that neither pipe can fill up and block.
    int inFd = in[1];
    fcntl(inFd, F_SETFL, fcntl(inFd, F_GETFL) | O_NONBLOCK);
    size_t fed = 0;
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    auto left = [&deadline] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                     std::chrono::steady_clock::now())
            .count();
    };
    char buf[4096];
    bool outputOpen = true;
    while (outputOpen) {
        if (left() <= 0) {
            result.TimedOut = true;
            break;
        }
        pollfd p[2] = {{out[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        int r = poll(p, inFd >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left(), 100)));
        if (r <= 0)
            continue;
        if (inFd >= 0 && (p[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(inFd, input.data() + fed, input.size() - fed);
            if (n > 0)
                fed += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || fed == input.size()) {
                close(inFd); // done, or the child does not read its input
                inFd = -1;
            }
        }
        if (p[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            ssize_t n = read(out[0], buf, sizeof buf);
            if (n > 0)
                result.Output.append(buf, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                outputOpen = false;
        }
        if (!until.empty() && result.Output.find(until) != std::string::npos) {
            result.TimedOut = true; // killed below
            break;
        }
    }
    if (inFd >= 0)
        close(inFd);
    close(out[0]);
    // A child that closed its output may still run: it gets until the deadline to end.
    int status = 0;
    for (;;) {
        pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended < 0 && errno == EINTR)
            continue;
        if (ended < 0)
            return result; // not ours to reap: no status known
        if (ended == pid)
            break;
        if (result.TimedOut || left() <= 0) {
            result.TimedOut = true;
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.Signal = WTERMSIG(status);
    return result;
}

FullListener::FullListener(uint16_t port) {
    mListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(mListener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(mListener, reinterpret_cast<sockaddr *>(&address), length);
    ::listen(mListener, 0);
    ::getsockname(mListener, reinterpret_cast<sockaddr *>(&address), &length);
    mPort = ntohs(address.sin_port);
    // Connects until one stays in its handshake: the queue is full then.
    for (pollfd filler{-1, POLLOUT, 0};
         mFillers.size() < 16 && (filler.fd < 0 || ::poll(&filler, 1, 200) != 0);) {
        mFillers.push_back(filler.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        ::connect(filler.fd, reinterpret_cast<sockaddr *>(&address), length);
    }
}

FullListener::~FullListener() {
    for (const int filler : mFillers)
        ::close(filler);
    ::close(mListener);
}

void FullListener::Refuse() const {
    ::shutdown(mListener, SHUT_RDWR);
}

size_t FullListener::ConnectsInProgress() const {
    // The kernel's table: slot, local address, remote address, state (02: SYN_SENT), ...
    std::istringstream table(ReadFile("/proc/net/tcp"));
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", mPort);
    size_t count = 0;
    for (std::string line, slot, local, remote, state; std::getline(table, line);) {
        std::istringstream(line) >> slot >> local >> remote >> state;
        count += remote == wanted && state == "02" ? 1 : 0;
    }
    return count > 0 ? count - 1 : 0; // the last filler's
}

} // namespace TestSupport
