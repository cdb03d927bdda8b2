#include "TimingStore.h"

#include "platform/Clock.h"
#include "platform/SharedDirectory.h"

#include <cerrno>
#include <mutex>
#include <string>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace GpibSrq {

namespace {

constexpr const char *FileName = "gpibsrq-timing";
constexpr uint32_t Mark = 0x47505442; // "GPTB"

// The file's whole content: four plain numbers in this machine's byte order.
struct Record {
    uint32_t Mark;
    uint32_t Delay;
    uint64_t Counter;
    uint64_t Check;
};
static_assert(sizeof(Record) == 24, "the record has no padding");

uint64_t CheckWord(uint32_t delay, uint64_t counter) {
    uint64_t x = counter ^ (static_cast<uint64_t>(delay) << 32 | Mark);
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    return x;
}

// How long the file's flock is waited for. A holder of ours keeps it only for one read or write;
// one that keeps it longer (any local user can) must not slow the bus access, which then keeps
// this process's own timing.
constexpr uint64_t LockWait = 3000; // microseconds
constexpr uint64_t LockRetryPause = 200;

bool LockFile(int fd, int operation) {
    const uint64_t deadline = Platform::MonotonicMicroseconds() + LockWait;
    for (;;) {
        if (flock(fd, operation | LOCK_NB) == 0)
            return true;
        if ((errno != EWOULDBLOCK && errno != EINTR) || Platform::MonotonicMicroseconds() >= deadline)
            return false;
        Platform::SleepMicroseconds(LockRetryPause);
    }
}

class Store {
public:
    BusTiming Read() {
        std::lock_guard<std::mutex> guard(mLock);
        const int fd = File();
        if (fd < 0 || !LockFile(fd, LOCK_SH))
            return mLocal;
        const BusTiming timing = ReadRecord(fd);
        flock(fd, LOCK_UN);
        return timing;
    }

    void Write(const uint32_t *delay, const uint64_t *counter) {
        std::lock_guard<std::mutex> guard(mLock);
        const int fd = File();
        const bool shared = fd >= 0 && LockFile(fd, LOCK_EX);
        BusTiming timing = shared ? ReadRecord(fd) : mLocal;
        if (delay != nullptr)
            timing.Delay = *delay;
        if (counter != nullptr)
            timing.Counter = *counter;
        mLocal = timing;
        if (!shared)
            return;
        const Record record{Mark, timing.Delay, timing.Counter, CheckWord(timing.Delay, timing.Counter)};
        (void)!pwrite(fd, &record, sizeof record, 0);
        flock(fd, LOCK_UN);
    }

private:
    static BusTiming ReadRecord(int fd) {
        Record record{};
        BusTiming timing;
        if (pread(fd, &record, sizeof record, 0) != static_cast<ssize_t>(sizeof record) ||
            record.Mark != Mark || record.Check != CheckWord(record.Delay, record.Counter) ||
            record.Counter > Platform::MonotonicMicroseconds())
            return timing;
        timing.Delay = record.Delay;
        timing.Counter = record.Counter;
        return timing;
    }

    // The store's descriptor for the current lock directory; opened again when the directory
    // changed or the file lost its name.
    int File() {
        const std::string path = Platform::LockDirectory() + "/" + FileName;
        if (mFd >= 0) {
            struct stat st;
            if (path == mPath && fstat(mFd, &st) == 0 && st.st_nlink == 1)
                return mFd;
            close(mFd);
            mFd = -1;
        }
        mPath = path;
        mFd = Platform::OpenSharedFile(path);
        return mFd;
    }

    std::mutex mLock;
    int mFd = -1;
    std::string mPath;
    BusTiming mLocal;
};

// Never destroyed: drivers may record a bus access while the process ends.
Store &TheStore() {
    static Store *store = new Store;
    return *store;
}

} // namespace

BusTiming ReadBusTiming() {
    return TheStore().Read();
}

void WriteBusTiming(const uint32_t *delay, const uint64_t *counter) {
    TheStore().Write(delay, counter);
}

} // namespace GpibSrq
