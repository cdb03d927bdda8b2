// Named mutexes and events.
//
// Every object of one name in the process shares one state (owner thread, recursion count, the
// lock file's descriptor), found through a process-wide table keyed by the lock file's path. The
// descriptor is opened at the first wait and stays open while an object of the name exists, so an
// uncontended wait and release cost flock, one read and two writes. Across processes the owner
// holds flock on that file; between the threads of this process (which share the descriptor and
// so its flock) the state's owner decides. The owner writes its process id into the file and
// clears it on release, so a new owner that finds an id there knows the previous holder died
// while holding it (WaitAbandoned). A thread that ends while holding a mutex abandons it too.
#include "platform/NamedMutex.h"

#include "platform/SharedDirectory.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

// Size of the holder record at the start of a lock file.
constexpr size_t RecordSize = 16;

struct NamedMutex::Shared {
    std::string path; // lock file; empty for an unnamed mutex (this process only)
    std::mutex lock;
    std::condition_variable released;
    std::thread::id owner;  // default id: nobody
    bool acquiring = false; // the owner is still waiting for the file lock
    uint32_t count = 0;
    int fd = -1;                  // the lock file, open from the first wait on (-1: not open)
    char record[RecordSize] = {}; // this process's holder record, made when fd was opened
    bool abandoned = false;       // the last owner thread ended without releasing
    std::atomic<uint32_t> waiting{0};
    ~Shared();
};

namespace {

using SteadyClock = std::chrono::steady_clock;
using Shared = NamedMutex::Shared;

// Safe file name: letters, digits, '-', '_' and '.' stay, every other byte of the UTF-8 name is
// %XX. Names whose encoding would be too long keep a prefix and a hash of the whole name.
std::string EncodeName(const std::wstring &name) {
    static const char hex[] = "0123456789ABCDEF";
    const std::string utf8 = WideToUtf8(name);
    std::string out;
    for (unsigned char c : utf8) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    constexpr size_t MaxEncoded = 200;
    if (out.size() > MaxEncoded) {
        uint64_t hash = 1469598103934665603ull; // FNV-1a
        for (unsigned char c : utf8) {
            hash ^= c;
            hash *= 1099511628211ull;
        }
        char tail[24];
        snprintf(tail, sizeof tail, "~%016llX", static_cast<unsigned long long>(hash));
        out = out.substr(0, MaxEncoded - 20) + tail;
    }
    return out + ".lock";
}

// The process-wide table of named states. Never destroyed: mutex objects may outlive statics.
struct SharedTable {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<Shared>> entries;
    std::vector<std::shared_ptr<Shared>> forking; // locked across fork()
};

void BeforeFork();
void AfterForkInParent();
void AfterForkInChild();

SharedTable &Table() {
    // Made in static storage and never destroyed: nothing stays on the heap once every mutex is
    // gone, so an unloaded library leaves nothing behind.
    alignas(SharedTable) static unsigned char storage[sizeof(SharedTable)];
    static SharedTable *table = [] {
        auto *t = new (storage) SharedTable;
        pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
        return t;
    }();
    return *table;
}

// fork() copies the states but not the threads: every state is locked while the process forks so
// that the child gets consistent copies.
void BeforeFork() {
    SharedTable &t = Table();
    t.lock.lock();
    for (auto &entry : t.entries) {
        if (auto state = entry.second.lock()) {
            state->lock.lock();
            t.forking.push_back(std::move(state));
        }
    }
}

void FinishFork(bool child) {
    SharedTable &t = Table();
    for (auto &state : t.forking) {
        if (child) {
            // The child owns nothing. Its inherited descriptor shares the parent's open file and
            // so its flock, which a lock by the child would join and which would outlive the
            // parent: close it (without touching the file's content); the child opens its own.
            if (state->fd >= 0)
                close(state->fd);
            state->fd = -1;
            state->owner = std::thread::id();
            state->acquiring = false;
            state->count = 0;
            state->abandoned = false;
        }
        state->lock.unlock();
    }
    std::vector<std::shared_ptr<Shared>> done;
    done.swap(t.forking);
    t.lock.unlock();
    // done lets go here, outside the table lock (a last reference erases its table entry).
}

void AfterForkInParent() {
    FinishFork(false);
}
void AfterForkInChild() {
    FinishFork(true);
}

// The holder record: the process id in a fixed slot at the start of the file, blanked on a clean
// release. It is overwritten in place, never truncated.
constexpr char BlankRecord[RecordSize + 1] = "               \n";
static_assert(sizeof BlankRecord == RecordSize + 1, "a record is 15 characters and a line end");

void MakeRecord(char (&record)[RecordSize], long pid) {
    char text[RecordSize + 1];
    snprintf(text, sizeof text, "%-15ld\n", pid);
    std::copy(text, text + RecordSize, record);
}

void WriteRecord(int fd, const char *record) {
    if (pwrite(fd, record, RecordSize, 0) != static_cast<ssize_t>(RecordSize)) {
        // Without a record a later death of this process is reported as a plain WaitObject0.
    }
}

// Reads the previous holder's record and writes ours. True when a record was there.
bool TakeOverRecord(int fd, const char *record) {
    char old[RecordSize];
    ssize_t n = pread(fd, old, sizeof old, 0);
    bool abandoned = false;
    for (ssize_t i = 0; i < n; ++i)
        abandoned = abandoned || (old[i] >= '0' && old[i] <= '9');
    WriteRecord(fd, record);
    return abandoned;
}

// Gives up the file lock; the descriptor stays open for the next wait. A clean release clears the
// holder record; an abandoned one leaves it so that the next owner in any process sees
// WaitAbandoned.
void DropFileLock(Shared &s, bool clean) {
    if (s.fd < 0)
        return;
    if (clean)
        WriteRecord(s.fd, BlankRecord); // (a record left behind only means WaitAbandoned next)
    flock(s.fd, LOCK_UN);
}

// Mutexes the calling thread holds, abandoned when the thread ends.
class HeldByThread {
public:
    ~HeldByThread() {
        const auto me = std::this_thread::get_id();
        for (auto &held : mHeld) {
            auto state = held.lock();
            if (!state)
                continue;
            std::lock_guard<std::mutex> guard(state->lock);
            if (state->owner != me || state->acquiring)
                continue;
            DropFileLock(*state, false);
            state->owner = std::thread::id();
            state->count = 0;
            state->abandoned = true;
            state->released.notify_all();
        }
    }
    void Add(const std::shared_ptr<Shared> &state) { mHeld.push_back(state); }
    void Forget() { mHeld.clear(); }
    void Remove(const Shared *state) {
        mHeld.erase(std::remove_if(mHeld.begin(), mHeld.end(),
                                   [state](const std::weak_ptr<Shared> &held) {
                                       auto s = held.lock();
                                       return !s || s.get() == state;
                                   }),
                    mHeld.end());
    }

private:
    std::vector<std::weak_ptr<Shared>> mHeld;
};

// The calling thread's list, kept under a thread-specific key rather than a thread_local object:
// a thread_local with a destructor would keep the plug-in mapped after its last unload. The key is
// deleted when this code is unloaded (lists of threads still running then are left alone).
pthread_key_t gHeldKey;
std::atomic<bool> gHeldKeyValid{false};

void ThreadEndedHolding(void *held) {
    delete static_cast<HeldByThread *>(held);
}

struct HeldKeyOwner {
    HeldKeyOwner() {
        if (pthread_key_create(&gHeldKey, &ThreadEndedHolding) == 0)
            gHeldKeyValid = true;
    }
    ~HeldKeyOwner() {
        if (!gHeldKeyValid.exchange(false))
            return;
        // The unloading (or exiting) thread's list goes now, without abandoning what it holds
        // (a key's values are not destroyed with the key).
        if (auto *held = static_cast<HeldByThread *>(pthread_getspecific(gHeldKey))) {
            held->Forget();
            delete held;
        }
        pthread_key_delete(gHeldKey);
    }
};

// Null when the key is gone (unload or exit under way) and create is false or fails.
HeldByThread *HeldList(bool create) {
    static HeldKeyOwner owner;
    if (!gHeldKeyValid)
        return nullptr;
    auto *held = static_cast<HeldByThread *>(pthread_getspecific(gHeldKey));
    if (held == nullptr && create) {
        held = new HeldByThread;
        if (pthread_setspecific(gHeldKey, held) != 0) {
            delete held;
            return nullptr;
        }
    }
    return held;
}

// Opens the state's lock file unless it is open, with this process's holder record.
bool OpenStateFile(Shared &s) {
    if (s.fd >= 0)
        return true;
    s.fd = OpenSharedFile(s.path);
    if (s.fd < 0)
        return false;
    MakeRecord(s.record, static_cast<long>(getpid()));
    // Reading the record then leaves the access time alone (allowed on our own files only).
    const int flags = fcntl(s.fd, F_GETFL);
    if (flags >= 0)
        fcntl(s.fd, F_SETFL, flags | O_NOATIME);
    return true;
}

enum class FileLock { Obtained, TimedOut, Failed };

// flock on the lock file: blocking for an infinite wait, else tried again after growing pauses
// until the deadline (at least once).
FileLock LockFile(int fd, bool infinite, SteadyClock::time_point deadline) {
    if (infinite) {
        int rc;
        while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        return rc == 0 ? FileLock::Obtained : FileLock::Failed;
    }
    auto pause = std::chrono::microseconds(500);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return FileLock::Obtained;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return FileLock::Failed;
        const auto now = SteadyClock::now();
        if (now >= deadline)
            return FileLock::TimedOut;
        std::this_thread::sleep_for(std::min<SteadyClock::duration>(pause, deadline - now));
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    }
}

// False when the open lock file has lost its name (removed, or its directory was): processes that
// open the name now get another file, so a lock on this one would exclude nobody.
// Asks for the link count alone: a query of the times would make every later write update them
// at full resolution.
bool StillNamed(int fd) {
    struct statx st;
    return statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_NLINK, &st) != 0 ||
           (st.stx_mask & STATX_NLINK) == 0 || st.stx_nlink > 0;
}

} // namespace

NamedMutex::Shared::~Shared() {
    // The last object of the name is gone: a lock still held counts as abandoned. The lock is
    // given up explicitly: a child forked meanwhile may still share the open file.
    if (fd >= 0) {
        if (owner != std::thread::id())
            flock(fd, LOCK_UN);
        close(fd);
    }
    if (path.empty())
        return;
    SharedTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.entries.find(path);
    if (it != t.entries.end() && it->second.expired())
        t.entries.erase(it);
}

std::string NamedMutex::LockFilePath(const std::wstring &name) {
    if (name.empty())
        return std::string();
    return LockDirectory() + "/" + EncodeName(name);
}

NamedMutex::NamedMutex(const std::wstring &name) : mName(name) {
    if (name.empty()) {
        mShared = std::make_shared<Shared>();
        return;
    }
    const std::string dir = LockDirectory();
    MakeSharedDirectory(dir);
    const std::string path = dir + "/" + EncodeName(name);
    SharedTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    std::weak_ptr<Shared> &entry = t.entries[path];
    mShared = entry.lock();
    if (!mShared) {
        mShared = std::make_shared<Shared>();
        mShared->path = path;
        entry = mShared;
    }
}

NamedMutex::~NamedMutex() = default;

DWORD NamedMutex::Wait(DWORD timeoutMilliseconds) {
    Shared &s = *mShared;
    const bool infinite = timeoutMilliseconds == Infinite;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMilliseconds);
    const auto me = std::this_thread::get_id();

    std::unique_lock<std::mutex> guard(s.lock);
    if (s.owner == me && !s.acquiring) {
        if (s.count == std::numeric_limits<uint32_t>::max())
            return WaitFailed;
        ++s.count;
        return WaitObject0;
    }
    struct Counted {
        std::atomic<uint32_t> &count;
        explicit Counted(std::atomic<uint32_t> &c) : count(c) { ++count; }
        ~Counted() { --count; }
    } counted(s.waiting);
    auto isFree = [&s] { return s.owner == std::thread::id(); };
    if (infinite)
        s.released.wait(guard, isFree);
    else if (!s.released.wait_until(guard, deadline, isFree))
        return WaitTimeout;

    s.owner = me;
    bool abandoned = false;
    if (!s.path.empty()) {
        s.acquiring = true;
        FileLock result = FileLock::Failed;
        while (OpenStateFile(s)) {
            // Other threads of the process wait on the condition meanwhile; the file lock is taken
            // outside the state lock (the owner alone uses or replaces the descriptor).
            const int fd = s.fd;
            guard.unlock();
            result = LockFile(fd, infinite, deadline);
            const bool named = result != FileLock::Obtained || StillNamed(fd);
            if (named && result == FileLock::Obtained)
                abandoned = TakeOverRecord(fd, s.record);
            else if (!named)
                flock(fd, LOCK_UN);
            guard.lock();
            if (named)
                break;
            close(s.fd); // open the file of that name now
            s.fd = -1;
            result = FileLock::Failed;
        }
        if (result != FileLock::Obtained) {
            s.owner = std::thread::id();
            s.acquiring = false;
            s.released.notify_all();
            return result == FileLock::TimedOut ? WaitTimeout : WaitFailed;
        }
        s.acquiring = false;
    }
    abandoned = abandoned || s.abandoned;
    s.abandoned = false;
    s.count = 1;
    if (HeldByThread *held = HeldList(true))
        held->Add(mShared);
    return abandoned ? WaitAbandoned : WaitObject0;
}

uint32_t NamedMutex::WaitingThreads() const {
    return mShared->waiting.load();
}

bool NamedMutex::Release() {
    Shared &s = *mShared;
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.owner != std::this_thread::get_id() || s.acquiring || s.count == 0)
        return false;
    if (--s.count > 0)
        return true;
    DropFileLock(s, true);
    s.owner = std::thread::id();
    if (HeldByThread *held = HeldList(false))
        held->Remove(&s);
    s.released.notify_all();
    return true;
}

struct Event::State {
    std::mutex lock;
    std::condition_variable signalled;
    bool manualReset;
    bool set;
    uint32_t waiting = 0;
};

Event::Event(bool manualReset, bool initialState) : mState(new State) {
    mState->manualReset = manualReset;
    mState->set = initialState;
}

Event::~Event() = default;

void Event::Set() {
    std::lock_guard<std::mutex> guard(mState->lock);
    mState->set = true;
    if (mState->manualReset)
        mState->signalled.notify_all();
    else
        mState->signalled.notify_one();
}

void Event::Reset() {
    std::lock_guard<std::mutex> guard(mState->lock);
    mState->set = false;
}

DWORD Event::Wait(DWORD timeoutMilliseconds) {
    State &s = *mState;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    std::unique_lock<std::mutex> guard(s.lock);
    auto isSet = [&s] { return s.set; };
    ++s.waiting;
    const bool signalled = timeoutMilliseconds == Infinite ? (s.signalled.wait(guard, isSet), true)
                                                           : s.signalled.wait_until(guard, deadline, isSet);
    --s.waiting;
    if (!signalled)
        return WaitTimeout;
    if (!s.manualReset)
        s.set = false; // an auto-reset event lets one waiter through per Set
    return WaitObject0;
}

uint32_t Event::WaitingThreads() const {
    std::lock_guard<std::mutex> guard(mState->lock);
    return mState->waiting;
}

} // namespace Platform
