// Named mutexes and events.
//
// A named mutex is recursive per thread with owner tracking, shared by every object of the same
// name in the process, and exclusive across processes through flock on a file in
// $KORVALIS_LOCK_DIR (default /tmp/korvalis-locks). Waiters are served in the order they came:
// the threads of a process in a queue of their own, the processes through a turn record in System V
// shared memory. A lock whose holder died counts as obtained. The lock file stays open (once per
// name) while an object of its name exists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/HostTypes.h"

namespace Platform {

class NamedMutex {
public:
    explicit NamedMutex(const std::wstring &name);
    ~NamedMutex();
    NamedMutex(const NamedMutex &) = delete;
    NamedMutex &operator=(const NamedMutex &) = delete;

    // WaitObject0 when obtained (WaitAbandoned when the previous holder died), WaitTimeout at the
    // deadline, WaitCancelled once the calling thread's call was cancelled (CurrentCancel) while it
    // waited, WaitFailed on error. Infinite waits forever, or until the cancel.
    DWORD Wait(DWORD timeoutMilliseconds);
    // False (and nothing changes) when the calling thread does not hold it.
    bool Release();
    const std::wstring &Name() const { return mName; }
    // Threads of this process inside Wait for this name that have not obtained it yet.
    uint32_t WaitingThreads() const;
    // File that carries the cross-process lock for a name.
    static std::string LockFilePath(const std::wstring &name);

    struct Shared;

private:
    std::wstring mName;
    std::shared_ptr<Shared> mShared;
};

// Win32-style event: mutex + condition variable + flag.
class Event {
public:
    Event(bool manualReset, bool initialState);
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    void Set();
    void Reset();
    // WaitObject0 when signalled, WaitTimeout at the deadline.
    DWORD Wait(DWORD timeoutMilliseconds);
    // Threads inside Wait that have not been let through yet.
    uint32_t WaitingThreads() const;

private:
    struct State;
    std::unique_ptr<State> mState;
};

} // namespace Platform
