#include "TimingStore.h"

#include "gpib/GpibSrqApi.h"
#include "platform/Clock.h"
#include "platform/SharedDirectory.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <string>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace GpibSrq {

namespace {

constexpr const char *FileName = "gpibsrq-timing";
constexpr uint32_t Mark = 0x47505442;     // "GPTB"
constexpr uint32_t TurnMark = 0x47505454; // "GPTT"

// The file's content, plain numbers in this machine's byte order: the last access first, ...
struct Record {
    uint32_t Mark;
    uint32_t Delay;
    uint64_t Counter;
    uint64_t Check;
};
static_assert(sizeof(Record) == 24, "the record has no padding");

// ... then the next turn to hand out ...
struct TurnCounter {
    uint32_t Mark;
    uint32_t Unused;
    uint64_t Next;
    uint64_t Check;
};
static_assert(sizeof(TurnCounter) == 24, "the turn counter has no padding");

// ... and a slot for every turn modulo Slots: the id of the process that took the turn until its
// access ends, then 0 with the end and the delay of the access.
struct Slot {
    uint64_t Turn;
    uint64_t End;
    uint32_t Delay;
    uint32_t Owner;
    uint64_t Check;
};
static_assert(sizeof(Slot) == 32, "a slot has no padding");
constexpr uint64_t Slots = 16;

off_t SlotOffset(uint64_t turn) {
    return static_cast<off_t>(sizeof(Record) + sizeof(TurnCounter) + turn % Slots * sizeof(Slot));
}

uint64_t Mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    return x;
}

uint64_t CheckWord(uint32_t delay, uint64_t counter) {
    return Mix(counter ^ (static_cast<uint64_t>(delay) << 32 | Mark));
}

uint64_t CheckWord(uint64_t next) {
    return Mix(next ^ TurnMark);
}

uint64_t CheckWord(const Slot &slot) {
    return Mix(slot.Turn ^
               Mix(slot.End ^ Mix((static_cast<uint64_t>(slot.Delay) << 32 | slot.Owner) ^ TurnMark)));
}

Slot MakeSlot(uint64_t turn, uint64_t end, uint32_t delay, uint32_t owner) {
    Slot slot{turn, end, delay, owner, 0};
    slot.Check = CheckWord(slot);
    return slot;
}

// The slot that holds the turn; false when what it holds fails the checks.
bool ReadSlot(int fd, uint64_t turn, Slot &slot) {
    return pread(fd, &slot, sizeof slot, SlotOffset(turn)) == static_cast<ssize_t>(sizeof slot) &&
           slot.Check == CheckWord(slot);
}

void WriteSlot(int fd, const Slot &slot) {
    (void)!pwrite(fd, &slot, sizeof slot, SlotOffset(slot.Turn));
}

// Ended, or ended and not yet reaped by its parent (a zombie, state 'Z' in /proc/<id>/stat after
// the parenthesised name): such a process takes no more turns either.
bool ProcessGone(uint32_t processId) {
    if (Platform::ProcessHasEnded(processId))
        return true;
    std::ifstream stat("/proc/" + std::to_string(processId) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const size_t nameEnd = line.rfind(')');
    return nameEnd != std::string::npos && line.compare(nameEnd, 3, ") Z") == 0;
}

// An access that no turn waits for any more: ended, or its process gone.
bool Finished(const Slot &slot) {
    return slot.Owner == 0 || ProcessGone(slot.Owner);
}

// The shortest wait for the file's flock. A holder of ours keeps it only for one read or write,
// but a busy machine may stop it meanwhile for longer: a turn's wait for the flock counts against
// the access's deadline (a holder that never lets go, any local user can be one, costs each access
// that much at most). The last access alone (the timing calls without turns) waits this long.
constexpr uint64_t LockWait = 3000; // microseconds
constexpr uint64_t LockRetryPause = 200;

// The deadline of this thread's access of the turn, for the flock of its end.
struct AccessDeadline {
    uint64_t Turn = 0;
    uint64_t Deadline = 0;
};
thread_local AccessDeadline tAccess;

// Where the access of a turn stands.
enum class TurnState { Coming, Ended, Gone };

// Whether a turn holds its slot: the turn Slots before it may still be waited for, and a turn whose
// slot a later turn took is waited for by nobody.
enum class SlotClaim { Held, Waiting, Lost };

// Under the flock: whether the slot may take the turn, which it may once nothing valid is in it, or
// the turn Slots before has finished, or the turn after that one (its only waiter) has. A turn
// still to come in the slot is so never taken for gone by the turn that waits for it.
SlotClaim MayTake(int fd, uint64_t turn) {
    Slot slot{};
    if (!ReadSlot(fd, turn, slot) || slot.Turn == turn)
        return SlotClaim::Held;
    if (slot.Turn > turn)
        return SlotClaim::Lost;
    if ((slot.Turn + Slots == turn && Finished(slot)) || turn <= Slots)
        return SlotClaim::Held;
    // The turn Slots before is still to come, or has not taken the slot yet.
    const uint64_t waiter = turn - Slots + 1;
    Slot next{};
    return ReadSlot(fd, waiter, next) && (next.Turn > waiter || (next.Turn == waiter && Finished(next)))
               ? SlotClaim::Held
               : SlotClaim::Waiting;
}

class Store {
public:
    Store() = default;
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;
    ~Store() {
        if (mFd >= 0)
            close(mFd);
    }

    BusTiming Read() {
        BusTiming timing;
        if (UnderFlock(LOCK_SH, Platform::MonotonicMicroseconds() + LockWait,
                       [&](int fd) { timing = LastAccess(ReadRecord(fd)); }))
            return timing;
        std::lock_guard<std::mutex> guard(mLock);
        return mLocal;
    }

    void Write(const uint32_t *delay, const uint64_t *counter) {
        const auto update = [&](BusTiming timing) {
            if (delay != nullptr)
                timing.Delay = *delay;
            if (counter != nullptr)
                timing.Counter = *counter;
            mLocal = timing;
        };
        if (UnderFlock(LOCK_EX, Platform::MonotonicMicroseconds() + LockWait, [&](int fd) {
                update(LastAccess(ReadRecord(fd)));
                WriteRecord(fd, mLocal);
            }))
            return;
        std::lock_guard<std::mutex> guard(mLock);
        update(mLocal);
    }

    // The next turn, and its slot when that is free; 0 when the flock is not had by the deadline.
    // A counter that fails its checks goes on after the largest turn in the slots.
    uint64_t TakeTurn(SlotClaim &claim, uint64_t deadline) {
        uint64_t turn = 0;
        UnderFlock(LOCK_EX, deadline, [&](int fd) { turn = NextTurn(fd, claim); });
        return turn;
    }

    // Takes the turn's slot once it is free; Waiting also while the flock is held elsewhere.
    SlotClaim ClaimSlot(uint64_t turn) {
        SlotClaim claim = SlotClaim::Waiting;
        UnderFlock(LOCK_EX, 0, [&](int fd) { claim = Claim(fd, turn); });
        return claim;
    }

    // Read without the flock: a slot being written fails its check and counts as still to come, as
    // does one that the turn has not taken yet; one that a later turn took counts as gone (it was
    // taken only once no turn waited for it), and so does one whose process has ended.
    TurnState StateOf(uint64_t turn, BusTiming &access) {
        std::lock_guard<std::mutex> guard(mLock);
        const int fd = File();
        if (fd < 0)
            return TurnState::Gone;
        Slot slot{};
        if (!ReadSlot(fd, turn, slot) || slot.Turn < turn)
            return TurnState::Coming;
        if (slot.Turn > turn)
            return TurnState::Gone;
        if (slot.Owner == 0) {
            access = BusTiming{slot.Delay, slot.End};
            return TurnState::Ended;
        }
        return ProcessGone(slot.Owner) ? TurnState::Gone : TurnState::Coming;
    }

    // The last access as the file holds it, read without the flock; this process's own without a
    // turn.
    BusTiming RecordedAccess(bool withTurn) {
        std::lock_guard<std::mutex> guard(mLock);
        const int fd = File();
        return withTurn && fd >= 0 ? ReadRecord(fd) : mLocal;
    }

    // Records the end as the last access, then in the turn's slot when the slot still holds the
    // turn or may take it, both under one flock, waited for until the deadline: so the last access
    // holds the end of every turn whose slot shows it ended or was taken again. Without the flock
    // only a slot held is written.
    void End(uint64_t turn, uint32_t delay, uint64_t end, uint64_t deadline) {
        const Slot ended = MakeSlot(turn, end, delay, 0);
        if (UnderFlock(LOCK_EX, deadline, [&](int fd) {
                mLocal = BusTiming{delay, end};
                if (LastAccess(ReadRecord(fd)).Counter <= end)
                    WriteRecord(fd, mLocal);
                if (turn != 0 && MayTake(fd, turn) == SlotClaim::Held)
                    WriteSlot(fd, ended);
            }))
            return;
        std::lock_guard<std::mutex> guard(mLock);
        mLocal = BusTiming{delay, end};
        const int fd = File();
        Slot slot{};
        if (fd >= 0 && turn != 0 && ReadSlot(fd, turn, slot) && slot.Turn == turn)
            WriteSlot(fd, ended);
    }

private:
    // Runs work(fd) under mLock and the file's exclusive or shared flock, tried until the deadline
    // (at least once); between tries mLock is free, so that this process's other accesses go on
    // polling. False, without work, when the file cannot be used or the flock is not had.
    template <typename Work> bool UnderFlock(int operation, uint64_t deadline, Work &&work) {
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(mLock);
                const int fd = File();
                if (fd < 0)
                    return false;
                if (flock(fd, operation | LOCK_NB) == 0) {
                    work(fd);
                    flock(fd, LOCK_UN);
                    return true;
                }
                if (errno != EWOULDBLOCK && errno != EINTR)
                    return false;
            }
            const uint64_t now = Platform::MonotonicMicroseconds();
            if (now >= deadline)
                return false;
            Platform::SleepMicroseconds(std::min(LockRetryPause, deadline - now));
        }
    }

    // Under the flock: hands out the next turn and takes its slot when it may.
    uint64_t NextTurn(int fd, SlotClaim &claim) {
        TurnCounter counter{};
        uint64_t turn = 0;
        if (pread(fd, &counter, sizeof counter, sizeof(Record)) == static_cast<ssize_t>(sizeof counter) &&
            counter.Mark == TurnMark && counter.Check == CheckWord(counter.Next))
            turn = counter.Next;
        if (turn == 0) {
            for (uint64_t index = 0; index < Slots; ++index) {
                Slot slot{};
                if (ReadSlot(fd, index, slot))
                    turn = std::max(turn, slot.Turn);
            }
            ++turn;
        }
        const TurnCounter next{TurnMark, 0, turn + 1, CheckWord(turn + 1)};
        (void)!pwrite(fd, &next, sizeof next, sizeof(Record));
        claim = turn != 0 ? Claim(fd, turn) : SlotClaim::Lost;
        return turn;
    }

    // Under the flock: takes the turn's slot when it may.
    SlotClaim Claim(int fd, uint64_t turn) {
        const SlotClaim claim = MayTake(fd, turn);
        if (claim == SlotClaim::Held)
            WriteSlot(fd, MakeSlot(turn, 0, 0, Platform::CurrentProcessId()));
        return claim;
    }

    // The file's pair when it holds a whole record that passes the checks, else none.
    static BusTiming ReadRecord(int fd) {
        Record record{};
        BusTiming timing;
        if (pread(fd, &record, sizeof record, 0) != static_cast<ssize_t>(sizeof record) ||
            record.Mark != Mark || record.Check != CheckWord(record.Delay, record.Counter))
            return timing;
        timing.Delay = record.Delay;
        timing.Counter = record.Counter;
        return timing;
    }

    // As the last access: one ahead of the clock (a file from before a restart) counts as none.
    static BusTiming LastAccess(const BusTiming &timing) {
        return timing.Counter > Platform::MonotonicMicroseconds() ? BusTiming() : timing;
    }

    static void WriteRecord(int fd, const BusTiming &timing) {
        const Record record{Mark, timing.Delay, timing.Counter, CheckWord(timing.Delay, timing.Counter)};
        (void)!pwrite(fd, &record, sizeof record, 0);
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

// Made at its first use and let go only by FreeStore.
Store *gStore = nullptr;
std::once_flag gStoreMade;
Store &TheStore() {
    std::call_once(gStoreMade, [] { gStore = new Store; });
    return *gStore;
}

} // namespace

void FreeStore() {
    delete gStore;
    gStore = nullptr;
}

BusTiming ReadBusTiming() {
    return TheStore().Read();
}

void WriteBusTiming(const uint32_t *delay, const uint64_t *counter) {
    TheStore().Write(delay, counter);
}

uint64_t WaitForBusAccess(uint32_t delay, uint32_t otherDelayLimit) {
    Store &store = TheStore();
    const uint64_t start = Platform::MonotonicMicroseconds();
    // One deadline for the flock, the turn and the others' delays, whatever the file holds.
    const uint64_t deadline = start + otherDelayLimit;
    SlotClaim claim = SlotClaim::Lost;
    const uint64_t turn = store.TakeTurn(claim, std::max(deadline, start + LockWait));
    tAccess = AccessDeadline{turn, deadline};
    BusTiming before;
    if (turn > 1) {
        for (;;) {
            if (claim == SlotClaim::Waiting)
                claim = store.ClaimSlot(turn);
            const TurnState state = store.StateOf(turn - 1, before);
            const uint64_t now = Platform::MonotonicMicroseconds();
            if (state != TurnState::Coming)
                break;
            if (now >= deadline) {
                // The access before may still be on the bus: taken as ending now, so that the own
                // delay after it counts.
                before = BusTiming{0, now};
                break;
            }
            // Often while the access before may end any moment, seldom while it takes long.
            const uint64_t pause = std::clamp<uint64_t>((now - start) / 8, 50, 1000);
            Platform::SleepMicroseconds(std::min(pause, deadline - now));
        }
    }
    const BusTiming last = store.RecordedAccess(turn != 0);
    const uint64_t now = Platform::MonotonicMicroseconds();
    const uint64_t others =
        std::max(GpibSrqApi::NextBusAccess(last.Delay, last.Counter, delay, otherDelayLimit, now),
                 GpibSrqApi::NextBusAccess(before.Delay, before.Counter, delay, otherDelayLimit, now));
    // The own delay after the access before always counts.
    const uint64_t own = std::max(GpibSrqApi::NextBusAccess(0, last.Counter, delay, 0, now),
                                  GpibSrqApi::NextBusAccess(0, before.Counter, delay, 0, now));
    const uint64_t at = std::max(std::min(others, deadline), own);
    if (at > now)
        Platform::SleepMicroseconds(at - now);
    return turn;
}

void EndBusAccess(uint64_t turn, uint32_t delay, uint64_t end) {
    const uint64_t deadline = tAccess.Turn == turn ? tAccess.Deadline : 0;
    TheStore().End(turn, delay, end, std::max(deadline, Platform::MonotonicMicroseconds() + LockWait));
}

} // namespace GpibSrq
