// Named mutexes and events.
//
// Every object of one name in the process shares one state (owner thread, recursion count, the
// lock file's descriptor, the turn record), found through a process-wide table keyed by the lock
// file's path. Between the threads of this process the state's owner decides, and the threads that
// wait for it queue in the order they came: the first of the queue becomes the owner once there is
// none, and only then takes the process's turn among the other processes. Across processes
// the owner holds flock on the lock file, the one kernel object that lets go of a holder that
// died. Beside it the processes share a turn record (TurnSegment.h): a ticket counter, the ticket
// being served, a wake-up word for futex waits and the holder's process id. A process takes a
// ticket and tries flock when its turn comes; a release hands the turn on and wakes the waiters at
// once, so a releasing process queues behind those that were waiting. The record is a hint that
// anybody may scribble on: flock alone decides who holds the lock, a waiter whose turn does not
// come while the lock is free takes it after a short grace, and every value read is checked.
// A new owner that finds a holder's id in the record knows that it died holding it
// (WaitAbandoned). A thread that ends while holding a mutex abandons it too.
// A wait is one piece, with one place in the queue and one ticket, from its start to its end: the
// lock, its deadline or the cancel of the calling thread's call (CurrentCancel), which a waiter
// hears from when it first has to block: the cancel wakes the queue and, while the thread waits
// for its turn, the turn record's wake-up word. A wait that ends without the lock passes its turn
// on when it has come.
//
// The segments' life. A process attaches the turn segment of a lock file when it opens the file
// at its first wait on the name, making it (zeroed, mode 0666) when there is none; the first to
// attach claims it for the file (magic, device, inode), and one that is of another size or
// claimed for another file is not used. It stays attached while the file is open: until the last
// object of the name in the process goes, the file is found without its name, the process ends
// or this code is unloaded; a forked child only lets go of the parent's attachment. The process
// that detaches last removes the segment (when it may): it marks the segment closing, sees that
// nobody else is attached and removes it; a process attaching meanwhile waits for the mark to go
// and attaches again (to a new segment when the old one went), and a mark that stays (its process
// died) is cleared after a short while. The lock directory has a segment of its own, made,
// attached and removed the same way, that counts the lock files opened there: an owner asks the
// lock file's link count only when that count moved since it last asked, or a second has passed.
// Without System V shared memory, or without a usable turn segment, the lock is flock alone: an
// infinite wait blocks in flock, a timed one tries it after growing pauses, waiters take no turns
// and a holder that died in another process is not reported as WaitAbandoned. Without a
// directory segment the link count is asked at every acquisition.
#include "platform/NamedMutex.h"

#include "platform/Cancel.h"
#include "platform/Clock.h"
#include "platform/SharedDirectory.h"
#include "platform/Text.h"
#include "platform/TurnSegment.h"

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
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Platform {

struct NamedMutex::Shared {
    // A thread of this process waiting to become the owner, in the queue.
    struct Queued {
        Queued *previous = nullptr;
        Queued *next = nullptr;
    };
    std::string path; // lock file; empty for an unnamed mutex (this process only)
    std::mutex lock;
    std::condition_variable released; // the owner went, or the queue or a cancel changed
    Queued *first = nullptr;          // the queue of waiting threads, in the order they came
    Queued *last = nullptr;
    std::thread::id owner;  // default id: nobody
    bool acquiring = false; // the owner is still waiting for the file lock
    uint32_t count = 0;
    int fd = -1;                           // the lock file, open from the first wait on (-1: not open)
    TurnSegment *segment = nullptr;        // the file's turn record, attached while fd is open
    int segmentId = -1;                    // its System V id
    TurnRecord *turn = nullptr;            // inside segment; null without one (locked by flock alone)
    DirectorySegment *directory = nullptr; // the lock directory's segment, attached while fd is open
    int directoryId = -1;                  // its System V id
    bool nameKnown = false;                // the link count was found above 0 ...
    uint32_t nameOpened = 0;               // ... when the directory's count of opened files was this
    uint64_t nameCheckedAt = 0;            // ... at this time (coarse monotonic microseconds)
    uint32_t ticket = 0;                   // the owner's ticket while it holds the file lock
    uint32_t pid = 0;                      // this process's id, taken when fd was opened
    bool abandoned = false;                // the last owner thread ended without releasing
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

std::atomic<bool> gTableMade{false};

SharedTable &Table() {
    // Made in static storage and never destroyed: nothing stays on the heap once every mutex is
    // gone, so an unloaded library leaves nothing behind.
    alignas(SharedTable) static unsigned char storage[sizeof(SharedTable)];
    static SharedTable *table = [] {
        auto *t = new (storage) SharedTable;
        pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
        gTableMade = true;
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
            if (state->segment != nullptr)
                shmdt(state->segment);
            if (state->directory != nullptr)
                shmdt(state->directory);
            state->segment = nullptr;
            state->segmentId = -1;
            state->turn = nullptr;
            state->directory = nullptr;
            state->directoryId = -1;
            state->nameKnown = false;
            if (state->fd >= 0)
                close(state->fd);
            state->fd = -1;
            state->owner = std::thread::id();
            state->acquiring = false;
            state->count = 0;
            state->abandoned = false;
            state->first = nullptr; // the waiting threads were the parent's
            state->last = nullptr;
        }
        state->lock.unlock();
    }
    if (child) {
        // The child frees nothing: not every allocator is safe across fork() (AddressSanitizer's is
        // not), and a lock that another thread of the parent held there is never let go here. The
        // references the list held stay with the child, which mostly runs another program anyway.
        new (&t.forking) std::vector<std::shared_ptr<Shared>>();
        t.lock.unlock();
        return;
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

// ---- The turn record ----------------------------------------------------------------------------

// How long a waiter whose turn it is next lets the lock lie free before it takes it (the waiter
// whose turn it was died, or is stopped or slow: a waiter that left marked its ticket gone, and
// the turn passed it at once), and how long waiters further back wait for the turn to move at all
// before they look at the lock themselves. The grace outlasts a busy machine's wake-up, so that a
// waiter that is merely slow keeps its turn. A waiter whose turn it is tries a lock that is held
// outside the turns this often.
constexpr auto HandOverGrace = std::chrono::milliseconds(20);
constexpr auto StallBackstop = std::chrono::milliseconds(50);
constexpr auto HeldOutsideRetry = std::chrono::milliseconds(2);
// How long the link count found last stands while no lock file was opened in the directory.
constexpr uint64_t NameTrustMicroseconds = 1000000;
// Largest process id Linux hands out.
constexpr uint32_t LargestProcessId = 4194304;

uint32_t Load(const uint32_t &word) {
    return __atomic_load_n(&word, __ATOMIC_SEQ_CST);
}
void Store(uint32_t &word, uint32_t value) {
    __atomic_store_n(&word, value, __ATOMIC_SEQ_CST);
}
uint32_t FetchAdd(uint32_t &word, uint32_t value) {
    return __atomic_fetch_add(&word, value, __ATOMIC_SEQ_CST);
}
bool CompareExchange(uint32_t &word, uint32_t expected, uint32_t value) {
    return __atomic_compare_exchange_n(&word, &expected, value, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

// Tickets wrap around: the distance from the ticket being served to ours.
int32_t TurnsAhead(uint32_t ticket, uint32_t serving) {
    return static_cast<int32_t>(ticket - serving);
}

void FutexWait(uint32_t &word, uint32_t expected, std::chrono::nanoseconds timeout) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timespec relative{static_cast<time_t>(seconds.count()), static_cast<long>((timeout - seconds).count())};
    // Not FUTEX_PRIVATE_FLAG: the word lives in memory that other processes share.
    syscall(SYS_futex, &word, FUTEX_WAIT, expected, &relative, nullptr, 0);
}

void FutexWakeAll(uint32_t &word) {
    syscall(SYS_futex, &word, FUTEX_WAKE, std::numeric_limits<int>::max(), nullptr, nullptr, 0);
}

// True when the waiter of the ticket left it (a mark anybody may scribble: it only moves turns).
bool Gone(TurnRecord &turn, uint32_t ticket) {
    return Load(turn.gone[ticket % TurnRecord::GoneSlots]) == ~ticket;
}

// Moves the turn on from ticket (when it is still ticket's turn), past the tickets that are gone,
// and wakes the waiters.
void PassTurn(TurnRecord &turn, uint32_t ticket) {
    for (uint32_t passed = 0;
         passed < TurnRecord::GoneSlots && CompareExchange(turn.serving, ticket, ticket + 1); ++passed) {
        ++ticket;
        if (TurnsAhead(Load(turn.next), ticket) <= 0 || !Gone(turn, ticket))
            break;
    }
    FetchAdd(turn.wake, 1);
    if (Load(turn.next) != Load(turn.serving))
        FutexWakeAll(turn.wake);
}

// A waiter leaves its ticket without the lock: marked gone before the turn is looked at, so that
// either this waiter or the one that hands the turn to the ticket passes it on.
void LeaveTurn(TurnRecord &turn, uint32_t ticket) {
    Store(turn.gone[ticket % TurnRecord::GoneSlots], ~ticket);
    PassTurn(turn, ticket);
}

// True when the record names a holder that never released: a process id with its check word.
bool TakeOverHolder(TurnRecord &turn, uint32_t me) {
    const uint32_t holder = Load(turn.holder);
    const bool named = holder != 0 && holder <= LargestProcessId && Load(turn.check) == ~holder;
    Store(turn.check, ~me);
    Store(turn.holder, me);
    return named;
}

// Gives up the file lock and hands the turn on; the descriptor stays open for the next wait. A
// clean release clears the holder record; an abandoned one leaves it so that the next owner in
// any process sees WaitAbandoned.
void DropFileLock(Shared &s, bool clean) {
    if (s.fd < 0)
        return;
    if (clean && s.turn != nullptr) {
        Store(s.turn->holder, 0);
        Store(s.turn->check, 0);
    }
    flock(s.fd, LOCK_UN);
    if (s.turn != nullptr)
        PassTurn(*s.turn, s.ticket);
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

// ---- The turn segment ---------------------------------------------------------------------------

// Set once the segments were let go at exit or unload: nothing is attached after that.
std::atomic<bool> gSegmentsSwept{false};

// How long a process that attaches lets a segment's closing mark stand (its last user is deciding
// whether to remove it, a matter of two system calls), and how long one that leaves waits for
// another leaving at the same time.
constexpr auto ClosingPatience = std::chrono::milliseconds(2);
constexpr auto ClosingPause = std::chrono::microseconds(100);

// Sets word to value when it is still zero; true when it holds value then.
bool Claim(uint64_t &word, uint64_t value) {
    uint64_t expected = 0;
    return __atomic_compare_exchange_n(&word, &expected, value, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST) ||
           expected == value;
}

constexpr uint64_t HashStart = 1469598103934665603ull; // FNV-1a

uint64_t HashByte(uint64_t hash, unsigned char byte) {
    return (hash ^ byte) * 1099511628211ull;
}

key_t SegmentKey(uint64_t magic, uint64_t first, uint64_t second) {
    uint64_t hash = HashStart;
    for (uint64_t word : {magic, first, second})
        for (int i = 0; i < 8; ++i)
            hash = HashByte(hash, static_cast<unsigned char>(word >> (8 * i)));
    const auto key = static_cast<key_t>((hash ^ (hash >> 32)) & 0x7FFFFFFF);
    return key == IPC_PRIVATE ? 1 : key;
}

// Claims a segment for its lock file or directory: true when it is (now) that one's.
bool ClaimSegment(TurnSegment &segment, uint64_t device, uint64_t inode) {
    return Claim(segment.magic, TurnSegmentMagic) && Claim(segment.device, device) &&
           Claim(segment.inode, inode);
}
bool ClaimSegment(DirectorySegment &segment, uint64_t directoryHash) {
    return Claim(segment.magic, DirectorySegmentMagic) && Claim(segment.path, directoryHash);
}

// Attaches the segment of a key, made (zeroed, mode 0666 so that every user's processes share it)
// when missing, and claims it for the identity given. Null without one: no System V shared
// memory, a segment of the key that is of another size, another's or not ours to use.
template <typename Segment, typename... Identity>
Segment *AttachSegment(key_t key, int &segmentId, Identity... identity) {
    if (gSegmentsSwept.load())
        return nullptr;
    const auto since = SteadyClock::now();
    for (;;) {
        const int id = shmget(key, sizeof(Segment), IPC_CREAT | 0666);
        if (id < 0)
            return nullptr;
        struct shmid_ds info;
        if (shmctl(id, IPC_STAT, &info) != 0 || info.shm_segsz != sizeof(Segment))
            return nullptr;
        void *address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void *>(-1))
            return nullptr;
        auto *segment = static_cast<Segment *>(address);
        // Attached before the closing mark is read: a leaving process that set it counts us.
        const uint32_t closing = Load(segment->closing);
        const bool patient = SteadyClock::now() - since < ClosingPatience;
        if (closing != 0 && patient) {
            // Being removed (the next shmget makes a new one), or kept: look again.
            shmdt(address);
            std::this_thread::sleep_for(ClosingPause);
            continue;
        }
        // A mark that stays belongs to a process that died deciding (or is nonsense): cleared.
        if (closing != 0)
            CompareExchange(segment->closing, closing, 0);
        if (!ClaimSegment(*segment, identity...)) {
            shmdt(address);
            return nullptr;
        }
        segmentId = id;
        return segment;
    }
}

// Detaches a segment. The last process attached removes it (when its user may), so that segments
// do not outlive the processes that use them; the closing mark keeps a process attaching meanwhile
// off a segment that goes.
template <typename Segment> void DetachSegment(Segment *&segment, int &segmentId) {
    if (segment == nullptr)
        return;
    const auto since = SteadyClock::now();
    bool marked = false;
    while (!(marked = CompareExchange(segment->closing, 0, 1)) &&
           SteadyClock::now() - since < ClosingPatience)
        std::this_thread::sleep_for(ClosingPause);
    if (marked) {
        struct shmid_ds info;
        const bool last = shmctl(segmentId, IPC_STAT, &info) == 0 && info.shm_nattch == 1;
        if (!last || shmctl(segmentId, IPC_RMID, nullptr) != 0)
            Store(segment->closing, 0);
    }
    shmdt(segment);
    segment = nullptr;
    segmentId = -1;
}

// The turn segment of the open lock file; without one the file is locked by flock alone. Beside
// it the lock directory's segment, whose count of opened lock files this open moves on.
void AttachSegments(Shared &s) {
    struct stat st;
    if (fstat(s.fd, &st) != 0)
        return;
    s.segment =
        AttachSegment<TurnSegment>(TurnSegmentKey(st.st_dev, st.st_ino), s.segmentId,
                                   static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
    s.turn = s.segment != nullptr ? &s.segment->turn : nullptr;
    const uint64_t directory = DirectoryHash(s.path.substr(0, s.path.find_last_of('/')));
    s.directory = AttachSegment<DirectorySegment>(DirectorySegmentKey(directory), s.directoryId, directory);
    if (s.directory != nullptr)
        FetchAdd(s.directory->opened, 1);
    s.nameKnown = false;
}

void DetachSegments(Shared &s) {
    DetachSegment(s.segment, s.segmentId);
    s.turn = nullptr;
    DetachSegment(s.directory, s.directoryId);
    s.nameKnown = false;
}

void CloseStateFile(Shared &s) {
    DetachSegments(s);
    if (s.fd >= 0)
        close(s.fd);
    s.fd = -1;
}

// Mutex objects that are never destroyed (held by objects that live until the process ends) would
// leave their segments behind: at exit, and when this code is unloaded, every state lets go of its
// segment as a last object would. A state whose owner is still taking the file lock keeps it.
struct SegmentSweeper {
    ~SegmentSweeper() {
        gSegmentsSwept = true;
        if (!gTableMade)
            return;
        SharedTable &t = Table();
        std::vector<std::shared_ptr<Shared>> states;
        {
            std::lock_guard<std::mutex> guard(t.lock);
            for (auto &entry : t.entries)
                if (auto state = entry.second.lock())
                    states.push_back(std::move(state));
        }
        for (auto &state : states) {
            std::lock_guard<std::mutex> guard(state->lock);
            if (!state->acquiring)
                DetachSegments(*state);
        }
        // states lets go here, outside the table lock (a last reference erases its table entry).
    }
} gSegmentSweeper;

// Opens the state's lock file and attaches its turn record unless it is open.
bool OpenStateFile(Shared &s) {
    if (s.fd >= 0)
        return true;
    s.fd = OpenSharedFile(s.path);
    if (s.fd < 0)
        return false;
    s.pid = static_cast<uint32_t>(getpid());
    AttachSegments(s);
    return true;
}

enum class FileLock { Obtained, TimedOut, Cancelled, Failed };

// The end of a wait, read from the clock when a wait first needs it: a lock that is had at once
// reads no clock.
class Deadline {
public:
    explicit Deadline(DWORD timeoutMilliseconds)
        : mInfinite(timeoutMilliseconds == Infinite),
          mTimeout(std::chrono::milliseconds(timeoutMilliseconds)) {}
    bool IsInfinite() const { return mInfinite; }
    SteadyClock::time_point At() {
        if (!mKnown) {
            mAt = SteadyClock::now() + mTimeout;
            mKnown = true;
        }
        return mAt;
    }

private:
    bool mInfinite;
    bool mKnown = false;
    SteadyClock::duration mTimeout;
    SteadyClock::time_point mAt;
};

// How a wait hears the cancel of the calling thread's call. The hearing is registered when the wait
// first has to block (never while the state's lock is held: its waker takes it), and lasts until the
// wait ends. The waker wakes the threads queued on the state, and the turn record's sleepers while
// the waiting thread is the owner taking the file lock: it moves the wake-up word on, so that a
// sleep that began after the waiter last looked at the cancel ends at once.
class CancelHearing {
public:
    explicit CancelHearing(Shared &state) : mState(state), mSignal(CurrentCancel()) {}
    void Begin() {
        if (mSignal != nullptr && !mHearing)
            mHearing.emplace(mSignal, &Wake, this);
    }
    bool Cancelled() const { return mSignal != nullptr && mSignal->IsCancelled(); }
    bool CanBeCancelled() const { return mSignal != nullptr; }

private:
    static void Wake(void *context) {
        auto &hearing = *static_cast<CancelHearing *>(context);
        Shared &s = hearing.mState;
        const std::lock_guard<std::mutex> guard(s.lock);
        if (s.owner == hearing.mThread && s.acquiring && s.turn != nullptr) {
            FetchAdd(s.turn->wake, 1);
            FutexWakeAll(s.turn->wake);
        }
        s.released.notify_all();
    }

    Shared &mState;
    const std::thread::id mThread = std::this_thread::get_id();
    CancelSignal *mSignal;
    std::optional<CancelSignal::Hearing> mHearing;
};

// flock on a lock file without a turn record: blocking for an infinite wait that no cancel can
// end, else tried again after growing pauses until the deadline (at least once) or the cancel.
FileLock PollFileLock(int fd, Deadline &deadline, CancelHearing &hearing) {
    if (deadline.IsInfinite() && !hearing.CanBeCancelled()) {
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
        if (hearing.Cancelled())
            return FileLock::Cancelled;
        SteadyClock::duration sleep = pause;
        if (!deadline.IsInfinite()) {
            const auto now = SteadyClock::now();
            if (now >= deadline.At())
                return FileLock::TimedOut;
            sleep = std::min<SteadyClock::duration>(pause, deadline.At() - now);
        }
        std::this_thread::sleep_for(sleep);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    }
}

// flock on the lock file in turn: a ticket, then a sleep on the wake word until the turn is ours.
// The lock is tried out of turn when the turn has not moved for a while (its ticket's waiter is
// gone) and once more at the deadline, so that a free lock is never missed; whoever takes it out
// of turn moves the turn to its ticket, and the waiters passed over try at every hand-over. The
// ticket holds for the whole wait; at the cancel it is given up without another try.
FileLock LockFileInTurn(int fd, TurnRecord &turn, uint32_t &ticket, Deadline &deadline,
                        CancelHearing &hearing) {
    const bool infinite = deadline.IsInfinite();
    ticket = FetchAdd(turn.next, 1);
    if (TurnsAhead(ticket, Load(turn.serving)) <= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
        return FileLock::Obtained;
    hearing.Begin();
    uint32_t seen = Load(turn.serving);
    auto since = SteadyClock::now();
    for (;;) {
        const uint32_t wake = Load(turn.wake);
        if (hearing.Cancelled()) {
            LeaveTurn(turn, ticket);
            return FileLock::Cancelled;
        }
        const uint32_t serving = Load(turn.serving);
        auto now = SteadyClock::now();
        if (serving != seen) {
            seen = serving;
            since = now;
        }
        const int32_t ahead = TurnsAhead(ticket, serving);
        const SteadyClock::duration patience = ahead <= 0   ? HeldOutsideRetry
                                               : ahead == 1 ? HandOverGrace
                                                            : StallBackstop;
        const bool last = !infinite && now >= deadline.At();
        if (ahead <= 0 || now - since >= patience || last) {
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
                // Out of turn: the turn moves to this ticket (never back).
                uint32_t current = Load(turn.serving);
                while (TurnsAhead(ticket, current) > 0 && !CompareExchange(turn.serving, current, ticket))
                    current = Load(turn.serving);
                return FileLock::Obtained;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                LeaveTurn(turn, ticket);
                return FileLock::Failed;
            }
            if (last) {
                LeaveTurn(turn, ticket);
                return FileLock::TimedOut;
            }
            since = now; // somebody holds it: patience again
        }
        SteadyClock::duration sleep = since + patience - now;
        if (!infinite)
            sleep = std::min<SteadyClock::duration>(sleep, deadline.At() - now);
        FutexWait(turn.wake, wake, std::max<SteadyClock::duration>(sleep, std::chrono::microseconds(50)));
    }
}

// False when the open lock file has lost its name (removed, or its directory was): processes that
// open the name now get another file, so a lock on this one would exclude nobody.
// Asks for the link count alone: a query of the times would make every later write update them
// at full resolution.
bool HasLinks(int fd) {
    struct statx st;
    return statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_NLINK, &st) != 0 ||
           (st.stx_mask & STATX_NLINK) == 0 || st.stx_nlink > 0;
}

// HasLinks for the state's file, asked only when it could have changed: another file of the name
// can only come into use through an open, and every open in the directory moves its count on. The
// count is a hint that anybody may scribble on, so the link count is asked at least once a
// second as well, and always without a directory segment. Run by the owner while it acquires.
bool StillNamed(Shared &s, int fd) {
    uint32_t opened = 0;
    uint64_t now = 0;
    if (s.directory != nullptr) {
        opened = Load(s.directory->opened);
        now = CoarseMonotonicMicroseconds();
        if (s.nameKnown && opened == s.nameOpened && now - s.nameCheckedAt < NameTrustMicroseconds)
            return true;
    }
    const bool named = HasLinks(fd);
    s.nameKnown = named && s.directory != nullptr;
    s.nameOpened = opened;
    s.nameCheckedAt = now;
    return named;
}

} // namespace

key_t TurnSegmentKey(dev_t device, ino_t inode) {
    return SegmentKey(TurnSegmentMagic, static_cast<uint64_t>(device), static_cast<uint64_t>(inode));
}

uint64_t DirectoryHash(const std::string &directory) {
    uint64_t hash = HashStart;
    for (unsigned char c : directory)
        hash = HashByte(hash, c);
    return hash;
}

key_t DirectorySegmentKey(uint64_t directoryHash) {
    return SegmentKey(DirectorySegmentMagic, 0, directoryHash);
}

NamedMutex::Shared::~Shared() {
    // The last object of the name is gone: a lock still held counts as abandoned. The lock is
    // given up explicitly: a child forked meanwhile may still share the open file.
    if (fd >= 0 && owner != std::thread::id() && !acquiring)
        DropFileLock(*this, false);
    CloseStateFile(*this);
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

namespace {

void Enqueue(Shared &s, Shared::Queued &queued) {
    queued.previous = s.last;
    (s.last != nullptr ? s.last->next : s.first) = &queued;
    s.last = &queued;
}

// Takes a thread out of the queue. One that leaves it without becoming the owner tells the next
// one when that one becomes the first.
void Dequeue(Shared &s, Shared::Queued &queued, bool leaving) {
    const bool wasFirst = s.first == &queued;
    (queued.previous != nullptr ? queued.previous->next : s.first) = queued.next;
    (queued.next != nullptr ? queued.next->previous : s.last) = queued.previous;
    if (leaving && wasFirst && s.first != nullptr)
        s.released.notify_all();
}

} // namespace

DWORD NamedMutex::Wait(DWORD timeoutMilliseconds) {
    Shared &s = *mShared;
    Deadline deadline(timeoutMilliseconds);
    const auto me = std::this_thread::get_id();
    // Made before the lock is taken: the hearing ends after it is let go.
    CancelHearing hearing(s);

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
    if (s.owner != std::thread::id() || s.first != nullptr) {
        // Behind the owner and the threads that came before.
        Shared::Queued queued;
        Enqueue(s, queued);
        bool heard = false;
        while (s.owner != std::thread::id() || s.first != &queued) {
            if (!heard) {
                heard = true;
                guard.unlock();
                hearing.Begin();
                guard.lock();
                continue;
            }
            DWORD ended = 0;
            if (hearing.Cancelled())
                ended = WaitCancelled;
            else if (deadline.IsInfinite())
                s.released.wait(guard);
            else if (s.released.wait_until(guard, deadline.At()) == std::cv_status::timeout &&
                     (s.owner != std::thread::id() || s.first != &queued))
                ended = WaitTimeout;
            if (ended != 0) {
                Dequeue(s, queued, true);
                return ended;
            }
        }
        Dequeue(s, queued, false);
    }

    s.owner = me;
    bool abandoned = false;
    if (!s.path.empty()) {
        s.acquiring = true;
        FileLock result = FileLock::Failed;
        while (OpenStateFile(s)) {
            // Other threads of the process wait in the queue meanwhile; the file lock is taken
            // outside the state lock (the owner alone uses or replaces the descriptor).
            const int fd = s.fd;
            TurnRecord *turn = s.turn;
            uint32_t ticket = 0;
            guard.unlock();
            result = turn != nullptr ? LockFileInTurn(fd, *turn, ticket, deadline, hearing)
                                     : PollFileLock(fd, deadline, hearing);
            const bool named = result != FileLock::Obtained || StillNamed(s, fd);
            if (named && result == FileLock::Obtained && turn != nullptr) {
                abandoned = TakeOverHolder(*turn, s.pid);
            } else if (!named) {
                flock(fd, LOCK_UN);
                if (turn != nullptr)
                    PassTurn(*turn, ticket);
            }
            guard.lock();
            s.ticket = ticket;
            if (named)
                break;
            CloseStateFile(s); // open the file of that name now
            result = FileLock::Failed;
        }
        if (result != FileLock::Obtained) {
            s.owner = std::thread::id();
            s.acquiring = false;
            s.released.notify_all();
            return result == FileLock::TimedOut    ? WaitTimeout
                   : result == FileLock::Cancelled ? WaitCancelled
                                                   : WaitFailed;
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
