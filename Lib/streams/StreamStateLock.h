// The state lock of a stream that drivers share: recursive per thread, and a wait for it ends at the
// cancel of the calling thread's call (Platform::CurrentCancel), so that a removed driver never waits
// behind another driver's use of the stream. Uncontended, taking and leaving it costs no system call.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "platform/Cancel.h"

class StreamStateLock {
public:
    // Whether a wait for the lock ends at the cancel of the caller's call: every wait does, but that
    // of a step that gives back what the call took (a disconnect, an unlock).
    enum class Wait { UntilCancelled, ToTheEnd };

    // True once the calling thread holds the lock; false when the cancel came first.
    bool Take(Wait wait) {
        const std::thread::id self = std::this_thread::get_id();
        std::unique_lock<std::mutex> lock(mMutex);
        if (mDepth != 0 && mOwner != self) {
            ++mWaiting;
            const auto free = [this] { return mDepth == 0; };
            while (!free()) {
                // Each wait has a deadline far ahead rather than none: the clock's largest time
                // would overflow in the wait.
                const auto later = Platform::CancelSignal::Clock::now() + std::chrono::hours(1);
                if (wait == Wait::ToTheEnd)
                    mReleased.wait_until(lock, later, free);
                else if (!Platform::WaitUnlessCancelled(mReleased, lock, later, free) &&
                         Platform::CurrentCallCancelled())
                    break;
            }
            --mWaiting;
            if (!free())
                return false;
        }
        mOwner = self;
        ++mDepth;
        return true;
    }
    void Release() {
        const std::lock_guard<std::mutex> guard(mMutex);
        if (--mDepth == 0) {
            mOwner = std::thread::id();
            if (mWaiting != 0)
                mReleased.notify_all();
        }
    }

private:
    std::mutex mMutex;
    std::condition_variable mReleased;
    std::thread::id mOwner;
    size_t mDepth = 0;
    size_t mWaiting = 0;
};

// The state lock held for a scope, or nothing when the wait ended at the cancel; made without a lock
// it holds nothing and needs nothing.
class StreamStateHold {
public:
    StreamStateHold() = default;
    StreamStateHold(StreamStateLock &lock, StreamStateLock::Wait wait)
        : mLock(&lock), mbHeld(lock.Take(wait)) {}
    ~StreamStateHold() {
        if (mbHeld)
            mLock->Release();
    }
    StreamStateHold(StreamStateHold &&other) noexcept : mLock(other.mLock), mbHeld(other.mbHeld) {
        other.mbHeld = false;
        other.mLock = nullptr;
    }
    StreamStateHold(const StreamStateHold &) = delete;
    StreamStateHold &operator=(const StreamStateHold &) = delete;
    StreamStateHold &operator=(StreamStateHold &&) = delete;

    // The wait for the lock ended at the cancel: nothing of the stream may be touched.
    bool Cancelled() const { return mLock != nullptr && !mbHeld; }

private:
    StreamStateLock *mLock = nullptr;
    bool mbHeld = false;
};
