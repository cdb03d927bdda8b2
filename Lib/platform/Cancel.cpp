// The cancel signal: a flag, the hearings' list under a lock, an eventfd made on first use.
#include "platform/Cancel.h"

#include <cstdint>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Platform {

namespace {

// The calling thread's signal, under a thread-specific key rather than a thread_local: a
// thread_local gives every host thread that calls in a dynamic TLS block of the plug-in, which
// outlives the plug-in's unload. The key is deleted when this code is unloaded or the process exits.
struct CurrentKey {
    CurrentKey() { mbValid = pthread_key_create(&mKey, nullptr) == 0; }
    ~CurrentKey() {
        if (mbValid.exchange(false))
            pthread_key_delete(mKey);
    }
    CancelSignal *Get() const {
        return mbValid ? static_cast<CancelSignal *>(pthread_getspecific(mKey)) : nullptr;
    }
    void Set(CancelSignal *signal) {
        if (mbValid)
            pthread_setspecific(mKey, signal);
    }

private:
    pthread_key_t mKey{};
    std::atomic<bool> mbValid{false};
};
CurrentKey gCurrent;

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
    return gCurrent.Get();
}

CancelScope::CancelScope(CancelSignal *signal) : mPrevious(gCurrent.Get()) {
    gCurrent.Set(signal);
}

CancelScope::~CancelScope() {
    gCurrent.Set(mPrevious);
}

} // namespace Platform
