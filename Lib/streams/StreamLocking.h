// The cross-process lock of a device stream and the event of the service-request streams.
//
// Mutex is a named mutex shared by every stream object of that name in any process: recursive per
// thread, exclusive across processes, obtained when its holder died. The stream names it
// "Global\KORVALIS:DS:" + upper-cased configuration identifier (MakeStreamLockName) when it
// connects; until then it has no name and cannot be locked.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/HostTypes.h"

namespace Platform {
class NamedMutex;
class Event;
} // namespace Platform

// Result codes of the lock and the event.
namespace StreamResult {
constexpr DWORD LockNotAvailable = 0x3000019F; // the mutex could not be created, or has no name yet
constexpr DWORD LockTimeout = 0x300001A1;      // not obtained within the time-out
constexpr DWORD EventClosed = 0x3000019B;      // event operation on a closed event
constexpr DWORD EventNotCreated = 0x3000019C;  // the event could not be created
constexpr DWORD EventTimeout = 0x3000019D;     // the event wait timed out
} // namespace StreamResult

// "Global\" + "Korvalis:DS:" + identifier, upper-cased ASCII only, as a wide text.
std::wstring MakeStreamLockName(const std::string &sIdentifier);

class Mutex {
public:
    // A non-empty name creates the mutex at once.
    explicit Mutex(const std::wstring &sName = std::wstring());
    virtual ~Mutex();
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;

    virtual std::wstring GetName() const;
    // An open mutex keeps its handle; a closed one is created under the new name.
    void SetName(const std::wstring &sName);
    // Closes an open handle and opens the mutex of the current name.
    DWORD Create();
    // 0 when obtained (also from a dead holder), LockTimeout, LockNotAvailable, or
    // NoDriverForDeviceID when the calling driver was removed while the call waited.
    DWORD Lock(DWORD dwMilliseconds);
    // Whether the last Lock that obtained the mutex took it over from a holder that died.
    bool TakenFromDeadHolder() const { return mbTakenFromDeadHolder.load(); }
    // 0, also when the calling thread did not hold it.
    DWORD Unlock();
    bool IsOpen() const;

private:
    // The open handle, made for the name when there is none; null without a name.
    std::shared_ptr<Platform::NamedMutex> OpenHandle();

    // Name and handle change under mGuard; a waiter keeps its own reference to the handle, so the
    // wait itself holds no lock of this object.
    mutable std::mutex mGuard;
    std::wstring msName;
    std::shared_ptr<Platform::NamedMutex> mHandle;
    std::atomic<bool> mbTakenFromDeadHolder{false};
};

// Manual-reset event, not signalled when created.
class Event {
public:
    Event();
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    DWORD Create();
    DWORD Set();
    DWORD Reset();
    // 0 when signalled, EventTimeout at the deadline, EventClosed when closed; a failed wait gives
    // the system's code (the wait's failure outcome, or the errno-style code of its error).
    DWORD Wait(DWORD dwMilliseconds);
    // Sets the event (releasing every waiter), yields once and closes it.
    DWORD Close();
    bool IsOpen() const { return std::atomic_load(&mHandle) != nullptr; }

private:
    std::shared_ptr<Platform::Event> mHandle;
};
