// Mutex and Event over the platform's named mutex and event.
#include "streams/StreamLocking.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "core/ResultCodes.h"
#include "platform/NamedMutex.h"
#include "platform/Text.h"

std::wstring MakeStreamLockName(const std::string &sIdentifier) {
    return L"Global\\" + Platform::Utf8ToWide(Platform::AsciiUpper("Korvalis:DS:" + sIdentifier));
}

Mutex::Mutex(const std::wstring &sName) : msName(sName) {
    if (!msName.empty())
        Create();
}

Mutex::~Mutex() = default;

std::wstring Mutex::GetName() const {
    std::lock_guard<std::mutex> guard(mGuard);
    return msName;
}

bool Mutex::IsOpen() const {
    std::lock_guard<std::mutex> guard(mGuard);
    return mHandle != nullptr;
}

void Mutex::SetName(const std::wstring &sName) {
    std::lock_guard<std::mutex> guard(mGuard);
    msName = sName;
    if (!mHandle && !msName.empty())
        mHandle = std::make_shared<Platform::NamedMutex>(msName);
}

DWORD Mutex::Create() {
    std::lock_guard<std::mutex> guard(mGuard);
    mHandle.reset();
    if (msName.empty())
        return StreamResult::LockNotAvailable;
    mHandle = std::make_shared<Platform::NamedMutex>(msName);
    return 0;
}

std::shared_ptr<Platform::NamedMutex> Mutex::OpenHandle() {
    std::lock_guard<std::mutex> guard(mGuard);
    if (!mHandle && !msName.empty())
        mHandle = std::make_shared<Platform::NamedMutex>(msName);
    return mHandle;
}

DWORD Mutex::Lock(DWORD dwMilliseconds) {
    const std::shared_ptr<Platform::NamedMutex> handle = OpenHandle();
    if (!handle)
        return StreamResult::LockNotAvailable;
    switch (handle->Wait(dwMilliseconds)) {
    case Platform::WaitObject0:
        mbTakenFromDeadHolder = false;
        return 0;
    case Platform::WaitAbandoned:
        mbTakenFromDeadHolder = true;
        return 0;
    case Platform::WaitTimeout:
        return StreamResult::LockTimeout;
    case Platform::WaitCancelled:
        // The cancel of a call is its driver's removal.
        return ResultCode::NoDriverForDeviceID;
    default:
        // The lock file could not be opened: the lock cannot be had.
        return StreamResult::LockNotAvailable;
    }
}

DWORD Mutex::Unlock() {
    std::shared_ptr<Platform::NamedMutex> handle;
    {
        std::lock_guard<std::mutex> guard(mGuard);
        handle = mHandle;
    }
    if (handle)
        handle->Release();
    return 0;
}

Event::Event() {
    Create();
}

Event::~Event() {
    Close();
}

DWORD Event::Create() {
    if (const DWORD closed = Close(); closed != 0)
        return closed;
    std::atomic_store(&mHandle, std::make_shared<Platform::Event>(true, false));
    return 0;
}

DWORD Event::Set() {
    std::shared_ptr<Platform::Event> handle = std::atomic_load(&mHandle);
    if (!handle)
        return StreamResult::EventClosed;
    handle->Set();
    return 0;
}

DWORD Event::Reset() {
    std::shared_ptr<Platform::Event> handle = std::atomic_load(&mHandle);
    if (!handle)
        return StreamResult::EventClosed;
    handle->Reset();
    return 0;
}

DWORD Event::Wait(DWORD dwMilliseconds) {
    // A waiter keeps the event alive while another thread closes it.
    std::shared_ptr<Platform::Event> handle = std::atomic_load(&mHandle);
    if (!handle)
        return StreamResult::EventClosed;
    try {
        const DWORD outcome = handle->Wait(dwMilliseconds);
        if (outcome == Platform::WaitObject0)
            return 0;
        // A wait that failed is no time-out: its own code goes to the caller.
        return outcome == Platform::WaitTimeout ? StreamResult::EventTimeout : outcome;
    } catch (const std::system_error &error) {
        return error.code().value() != 0 ? static_cast<DWORD>(error.code().value()) : Platform::WaitFailed;
    }
}

DWORD Event::Close() {
    std::shared_ptr<Platform::Event> handle =
        std::atomic_exchange(&mHandle, std::shared_ptr<Platform::Event>());
    if (!handle)
        return 0;
    handle->Set();
    std::this_thread::yield();
    return 0;
}
