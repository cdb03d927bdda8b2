// A cancel that waits hear. A driver owns one: the host's removal of the driver fires it, and every
// wait of that driver's calls ends at it, whichever comes first of its event, its deadline and the
// cancel. The call's thread carries the signal of the driver it runs for (CancelScope), so that a
// wait deep in a stream or a lock asks CurrentCancel() without being handed it.
//
// How a wait hears it:
// - a poll adds Descriptor(), which becomes readable at the cancel;
// - a wait on a condition variable, a futex or anything else registers a Hearing, whose waker runs
//   once at the cancel (or at once when the signal was already fired);
// - a pause sleeps with SleepUntil.
// Waiting never costs a system call while nothing is cancelled, except where the wait itself blocks.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Platform {

class CancelSignal {
public:
    using Clock = std::chrono::steady_clock;

    CancelSignal() = default;
    ~CancelSignal();
    CancelSignal(const CancelSignal &) = delete;
    CancelSignal &operator=(const CancelSignal &) = delete;

    // Fires the signal: every Hearing's waker runs, Descriptor() becomes readable and every
    // SleepUntil ends. Once fired it stays fired.
    void Cancel();
    bool IsCancelled() const { return mbCancelled.load(std::memory_order_acquire); }
    // A descriptor that is readable once the signal fired; -1 when none could be made. Made on first
    // use and owned by the signal.
    int Descriptor();
    // Sleeps until the time point; false when the cancel ended the sleep.
    bool SleepUntil(Clock::time_point until);

    // A waiter's registration for the duration of its wait; the waiter asks IsCancelled() once it
    // is made, and so misses no cancel. The waker runs at most once, on the cancelling thread,
    // while the signal's own lock is held: a waker may take the lock its waiter waits under only
    // when the waiter makes and ends its Hearing outside that lock. No waker runs once the
    // destructor returned. A null signal hears nothing.
    class Hearing {
    public:
        using Waker = void (*)(void *context);
        Hearing(CancelSignal *signal, Waker waker, void *context);
        ~Hearing();
        Hearing(const Hearing &) = delete;
        Hearing &operator=(const Hearing &) = delete;

    private:
        friend class CancelSignal;
        CancelSignal *mSignal;
        Waker mWaker;
        void *mContext;
        Hearing *mPrevious = nullptr;
        Hearing *mNext = nullptr;
    };

private:
    std::atomic<bool> mbCancelled{false};
    std::mutex mLock; // the list of hearings, the descriptor, the sleepers
    std::condition_variable mSleepers;
    Hearing *mFirst = nullptr;
    int mDescriptor = -1;
};

// The signal of the driver the calling thread runs a call for; null outside such a call.
CancelSignal *CurrentCancel();
// True when the calling thread's call was cancelled.
inline bool CurrentCallCancelled() {
    const CancelSignal *signal = CurrentCancel();
    return signal != nullptr && signal->IsCancelled();
}

// Makes the signal the calling thread's for the scope; the one before comes back at its end.
class CancelScope {
public:
    explicit CancelScope(CancelSignal *signal);
    ~CancelScope();
    CancelScope(const CancelScope &) = delete;
    CancelScope &operator=(const CancelScope &) = delete;

private:
    CancelSignal *mPrevious;
};

// Waits on the condition variable until ready() holds, the deadline passed or the calling thread's
// call was cancelled; returns ready() as it is then. The caller holds the lock; the Hearing is made
// and ended outside it, so that its waker may take the lock.
template <typename Ready>
bool WaitUnlessCancelled(std::condition_variable &condition, std::unique_lock<std::mutex> &lock,
                         CancelSignal::Clock::time_point deadline, Ready &&ready) {
    if (ready())
        return true;
    struct Context {
        std::mutex *Mutex;
        std::condition_variable *Condition;
    } context{lock.mutex(), &condition};
    CancelSignal *signal = CurrentCancel();
    lock.unlock();
    {
        const CancelSignal::Hearing hearing(
            signal,
            [](void *p) {
                auto *c = static_cast<Context *>(p);
                { const std::lock_guard<std::mutex> taken(*c->Mutex); }
                c->Condition->notify_all();
            },
            &context);
        lock.lock();
        while (!ready() && (signal == nullptr || !signal->IsCancelled()) &&
               condition.wait_until(lock, deadline) != std::cv_status::timeout) {
        }
        lock.unlock();
    }
    lock.lock();
    return ready();
}

} // namespace Platform
