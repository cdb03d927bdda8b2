// DeviceStreamLockerMixin<T>: adds the scoped DeviceStreamLocker to anything that has Lock and
// Unlock (a stream, or a driver-side client that forwards them to its stream). A locker counts the
// locks it obtained and gives every one of them back when it ends; one that never obtained a lock
// releases nothing.
#pragma once

#include "platform/HostTypes.h"

template <typename T> class DeviceStreamLockerMixin : public T {
public:
    using T::T;

    class DeviceStreamLocker {
    public:
        explicit DeviceStreamLocker(DeviceStreamLockerMixin *target) : mTarget(target) {}
        virtual ~DeviceStreamLocker() {
            while (mdwHeld > 0)
                Unlock(nullptr);
        }
        DeviceStreamLocker(const DeviceStreamLocker &) = delete;
        DeviceStreamLocker &operator=(const DeviceStreamLocker &) = delete;

        // The target's Lock; counted only when obtained.
        virtual DWORD Lock(HostWindow hWnd, double dSeconds) {
            if (mTarget == nullptr)
                return 0;
            const DWORD result = mTarget->Lock(hWnd, dSeconds);
            if (result == 0)
                ++mdwHeld;
            return result;
        }

        // The target's Unlock while this locker holds a lock; 0 and nothing otherwise.
        DWORD Unlock(HostWindow hWnd) {
            if (mdwHeld == 0)
                return 0;
            --mdwHeld;
            return mTarget->Unlock(hWnd);
        }

        DWORD GetHeld() const { return mdwHeld; }

    private:
        DeviceStreamLockerMixin *mTarget;
        DWORD mdwHeld = 0; // locks held, never below 0
    };
};
