// The cancel signal: a flag, the hearings' list under a lock, an eventfd made on first use.
#include "platform/Cancel.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace Platform {

namespace {
thread_local CancelSignal *tCurrent = nullptr;
} // namespace

CancelSignal::~CancelSignal() {
    if (mDescriptor >= 0)
        close(mDescriptor);
}

void CancelSignal::Cancel() {
    const std::lock_guard<std::mutex> guard(mLock);
    if (mbCancelled.exchange(true, std::memory_order_acq_rel))
        return;
    for (Hearing *hearing = mFirst; hearing != nullptr; hearing = hearing->mNext)
        hearing->mWaker(hearing->mContext);
    if (mDescriptor >= 0) {
        const uint64_t one = 1;
        (void)!write(mDescriptor, &one, sizeof one);
    }
    mSleepers.notify_all();
}

int CancelSignal::Descriptor() {
    const std::lock_guard<std::mutex> guard(mLock);
    if (mDescriptor < 0) {
        mDescriptor = eventfd(mbCancelled.load() ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    return mDescriptor;
}

bool CancelSignal::SleepUntil(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mLock);
    return !mSleepers.wait_until(lock, until, [&] { return mbCancelled.load(); });
}

CancelSignal::Hearing::Hearing(CancelSignal *signal, Waker waker, void *context)
    : mSignal(signal), mWaker(waker), mContext(context) {
    if (mSignal == nullptr)
        return;
    const std::lock_guard<std::mutex> guard(mSignal->mLock);
    mNext = mSignal->mFirst;
    if (mNext != nullptr)
        mNext->mPrevious = this;
    mSignal->mFirst = this;
}

CancelSignal::Hearing::~Hearing() {
    if (mSignal == nullptr)
        return;
    const std::lock_guard<std::mutex> guard(mSignal->mLock);
    if (mPrevious != nullptr)
        mPrevious->mNext = mNext;
    else
        mSignal->mFirst = mNext;
    if (mNext != nullptr)
        mNext->mPrevious = mPrevious;
}

CancelSignal *CurrentCancel() {
    return tCurrent;
}

CancelScope::CancelScope(CancelSignal *signal) : mPrevious(tCurrent) {
    tCurrent = signal;
}

CancelScope::~CancelScope() {
    tCurrent = mPrevious;
}

} // namespace Platform
