// The mailslot stand-in over Unix datagram sockets: writers connect and send one datagram per
// record, the collector binds the socket and reads them.
#include "platform/Mailslot.h"

#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/SharedDirectory.h"
#include "platform/Text.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Platform {

namespace {

// Bumped whenever a reader of this process binds a slot: writers then look again at once.
std::atomic<uint64_t> gReaderGeneration{0};
// How long a writer trusts that a slot it did not find is still missing; measured on the coarse
// clock, so up to a tick longer.
constexpr uint64_t MissRetryMicroseconds = 1000;

constexpr const char *DefaultMailslotDir = "/tmp/korvalis-mailslot";
// How long a send waits in total for room in the collector's queue.
constexpr auto FullQueueWait = std::chrono::milliseconds(100);
// The kernel queues at most a few unread datagrams per socket; the byte budget is the larger one.
constexpr int ReceiveBufferBytes = 4 * 1024 * 1024;

bool FillAddress(const std::string &path, sockaddr_un &address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Errors that mean the collector is gone: the writer closes so that a later Open reconnects.
bool ReaderGone(int error) {
    return error == ECONNREFUSED || error == ECONNRESET || error == ENOTCONN || error == ENOENT ||
           error == EPIPE || error == EDESTADDRREQ;
}

// A datagram socket connected to the slot's file, or -1.
int ConnectTo(const std::string &path) {
    struct stat st {};
    sockaddr_un address;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || !FillAddress(path, address))
        return -1;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int RemainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0;
    // Round up so that a wait never ends before the deadline.
    return static_cast<int>(left.count()) + 1;
}

} // namespace

std::string MailslotPath(const std::wstring &slotName) {
    // "\\.\mailslot\NAME" and "NAME" both name the slot NAME; no path separator survives.
    size_t start = slotName.find_last_of(L"\\/");
    std::wstring name = start == std::wstring::npos ? slotName : slotName.substr(start + 1);
    if (name.empty() || name == L"." || name == L"..")
        return std::string();
    std::string dir = GetEnv("KORVALIS_MAILSLOT_DIR", DefaultMailslotDir);
    if (dir.back() != '/')
        dir += '/';
    return dir + WideToUtf8(name);
}

// ---- Writer ----

MailslotWriter::~MailslotWriter() {
    Close();
}

void MailslotWriter::SetFd(int fd) {
    mFd = fd;
    mOpen.store(fd >= 0, std::memory_order_release);
}

bool MailslotWriter::LookDue() const {
    const uint64_t until = mMissUntil.load(std::memory_order_acquire);
    return until == 0 ||
           mMissUntilGeneration.load(std::memory_order_relaxed) !=
               gReaderGeneration.load(std::memory_order_relaxed) ||
           CoarseMonotonicMicroseconds() >= until;
}

bool MailslotWriter::Open(const std::wstring &slotName) {
    std::lock_guard<std::mutex> guard(mLock);
    if (mFd >= 0) {
        close(mFd);
        SetFd(-1);
    }
    // Most calls find no collector. A miss is remembered for a short while, so that a logged call
    // costs no system call then; a collector created in this process is noticed at once.
    const uint64_t now = CoarseMonotonicMicroseconds();
    const uint64_t generation = gReaderGeneration.load(std::memory_order_relaxed);
    if (mMissRemembered && generation == mMissGeneration && now - mMissTime < MissRetryMicroseconds &&
        slotName == mMissSlot)
        return false;
    mPath = MailslotPath(slotName);
    auto miss = [&] {
        mMissRemembered = true;
        mMissSlot = slotName;
        mMissTime = now;
        mMissGeneration = generation;
        mMissUntilGeneration.store(generation, std::memory_order_relaxed);
        mMissUntil.store(now + MissRetryMicroseconds, std::memory_order_release);
        return false;
    };
    int fd = ConnectTo(mPath);
    if (fd < 0)
        return miss();
    SetFd(fd);
    mSkipWaiting = false;
    mMissRemembered = false;
    mMissUntil.store(0, std::memory_order_release);
    return true;
}

void MailslotWriter::Close() {
    std::lock_guard<std::mutex> guard(mLock);
    if (mFd >= 0) {
        close(mFd);
        SetFd(-1);
    }
}

void MailslotWriter::Release() {
    Close();
    std::lock_guard<std::mutex> guard(mLock);
    std::string().swap(mPath);
    std::wstring().swap(mMissSlot);
    mMissRemembered = false;
}

uint32_t MailslotWriter::Send(const void *data, size_t size) {
    std::lock_guard<std::mutex> guard(mLock);
    if (mFd < 0)
        return 0;
    if (data == nullptr && size != 0)
        return EINVAL;
    const auto deadline = std::chrono::steady_clock::now() + FullQueueWait;
    bool resent = false;
    for (;;) {
        ssize_t sent = send(mFd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) {
            mSkipWaiting = false;
            return 0;
        }
        int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
            // A collector that stopped reading costs one wait, not one per record.
            int left = mSkipWaiting ? 0 : RemainingMilliseconds(deadline);
            if (left == 0) {
                mSkipWaiting = true;
                return static_cast<uint32_t>(error);
            }
            pollfd p{mFd, POLLOUT, 0};
            int ready = poll(&p, 1, left);
            if (ready < 0 && errno != EINTR)
                return static_cast<uint32_t>(errno);
            // Short of buffer memory the socket may still poll writable: pace the retries.
            if (ready > 0 && error == ENOBUFS)
                usleep(1000);
            continue;
        }
        if (ReaderGone(error)) {
            close(mFd);
            SetFd(-1);
            // A collector that was restarted gets the record: one reconnection, no waiting.
            if (!resent && (SetFd(ConnectTo(mPath)), mFd >= 0)) {
                resent = true;
                mSkipWaiting = true;
                continue;
            }
        }
        return static_cast<uint32_t>(error);
    }
}

uint32_t MailslotWriter::SendRecord(const std::wstring &record) {
    // No collector is the common case: skip the conversion then.
    if (!IsOpen())
        return 0;
    std::string bytes = WideToUtf16LEBytes(record);
    return Send(bytes.data(), bytes.size());
}

// ---- Reader ----

MailslotReader::~MailslotReader() {
    Close();
}

bool MailslotReader::Create(const std::wstring &slotName) {
    Close();
    std::string path = MailslotPath(slotName);
    sockaddr_un address;
    if (!FillAddress(path, address))
        return false;

    // The default directory is shared by every user: world-writable with the sticky bit. A
    // directory of the caller's own choosing is made private to the caller.
    const std::string dir = path.substr(0, path.find_last_of('/'));
    const bool custom = !GetEnv("KORVALIS_MAILSLOT_DIR").empty();
    if (!dir.empty() && mkdir(dir.c_str(), custom ? 0700 : 01777) == 0 && !custom)
        chmod(dir.c_str(), 01777);
    if (!IsSafeSharedDirectory(dir))
        return false;

    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;

    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            close(fd);
            return false;
        }
        // A live collector keeps its slot; only a stale socket file is replaced.
        int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        bool alive =
            probe >= 0 && connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
        if (probe >= 0)
            close(probe);
        if (alive) {
            close(fd);
            errno = EADDRINUSE;
            return false;
        }
        unlink(path.c_str());
    }

    // Writers of every user may connect: the socket is bound in a private directory, opened to
    // everyone there (where nobody else can swap the file) and then linked into place.
    std::string privateDir = dir + "/.bXXXXXX";
    sockaddr_un privateAddress;
    if (mkdtemp(privateDir.data()) == nullptr) {
        close(fd);
        return false;
    }
    const std::string privatePath = privateDir + "/s";
    bool bound = FillAddress(privatePath, privateAddress) &&
                 bind(fd, reinterpret_cast<const sockaddr *>(&privateAddress), sizeof privateAddress) == 0 &&
                 chmod(privatePath.c_str(), 0666) == 0 && link(privatePath.c_str(), path.c_str()) == 0;
    unlink(privatePath.c_str());
    rmdir(privateDir.c_str());
    if (!bound) {
        close(fd);
        return false;
    }
    struct stat boundFile {};
    if (lstat(path.c_str(), &boundFile) == 0) {
        mFileDevice = static_cast<uint64_t>(boundFile.st_dev);
        mFileInode = static_cast<uint64_t>(boundFile.st_ino);
    }
    int bufferBytes = ReceiveBufferBytes;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    mFd = fd;
    mPath = path;
    gReaderGeneration.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void MailslotReader::Close() {
    if (mFd < 0)
        return;
    // Remove the socket file only when it is still ours (a newer collector may have replaced it).
    struct stat onDisk {};
    bool same = mFileInode != 0 && lstat(mPath.c_str(), &onDisk) == 0 &&
                static_cast<uint64_t>(onDisk.st_ino) == mFileInode &&
                static_cast<uint64_t>(onDisk.st_dev) == mFileDevice;
    close(mFd);
    mFd = -1;
    if (same)
        unlink(mPath.c_str());
    mPath.clear();
    mFileDevice = mFileInode = 0;
}

std::optional<std::string> MailslotReader::ReceiveBytes(std::chrono::milliseconds timeout) {
    if (mFd < 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // The datagram's real size first, so that no record is cut.
        ssize_t size = recv(mFd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (size >= 0) {
            std::string bytes(static_cast<size_t>(size), '\0');
            ssize_t got = recv(mFd, bytes.data(), bytes.size(), MSG_DONTWAIT);
            if (got >= 0) {
                bytes.resize(static_cast<size_t>(got));
                return bytes;
            }
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return std::nullopt;
        }
        int left = RemainingMilliseconds(deadline);
        if (left == 0)
            return std::nullopt;
        pollfd p{mFd, POLLIN, 0};
        if (poll(&p, 1, left) < 0 && errno != EINTR)
            return std::nullopt;
    }
}

std::optional<std::wstring> MailslotReader::Receive(std::chrono::milliseconds timeout) {
    std::optional<std::string> bytes = ReceiveBytes(timeout);
    if (!bytes)
        return std::nullopt;
    return Utf16ToWide(Utf16LEBytesToUtf16(*bytes));
}

} // namespace Platform
