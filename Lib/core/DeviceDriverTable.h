// The process-wide table of drivers behind the exports. A driver's handle (DeviceID) is the index
// of its slot; the lowest free slot is reused and free slots at the end are dropped, so a handle
// stays valid until its own driver is removed. Handles 0 to 0xFFFE can name drivers, 0xFFFF never.
//
// Table operations take the table's lock; drivers run outside it. Each driver has a call lock of
// its own (recursive per thread) that the exports hold around every call on it, so that calls on
// one driver take turns and calls on different drivers run side by side. Waiting callers share
// ownership of that lock, so removing the driver never destroys a lock that someone waits on. A
// driver that one thread is calling when another removes it is deleted when that call ends.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "core/ResultCodes.h"
#include "platform/HostTypes.h"

class DeviceDriverBase;

// Serialises the calls on one driver.
using DriverCallLock = std::recursive_mutex;

// One slot: free, or in use with the driver that the table owns and the driver's call lock.
class DeviceDriverHolder {
public:
    bool IsInUse() const { return mInUse; }
    // The driver while the slot is in use, otherwise null.
    std::shared_ptr<DeviceDriverBase> GetDriver() const { return mInUse ? mDriver : nullptr; }

private:
    friend class DeviceDriverTable;
    bool mInUse = false;
    std::shared_ptr<DeviceDriverBase> mDriver;
    std::shared_ptr<DriverCallLock> mCallLock;
};

class DeviceDriverTable {
public:
    static constexpr DeviceIDType NoDeviceID = 0xFFFF;
    static constexpr size_t MaximumSlots = 0xFFFF; // handles 0 to 0xFFFE

    // The one table of the process.
    static DeviceDriverTable &Instance();

    DeviceDriverTable() = default;
    // Releases the table only: drivers that the host did not remove are not deleted.
    ~DeviceDriverTable();
    DeviceDriverTable(const DeviceDriverTable &) = delete;
    DeviceDriverTable &operator=(const DeviceDriverTable &) = delete;

    // Takes ownership of the driver and enters it in the lowest free slot (or a new last one):
    // 0 and its handle in deviceID. When every handle is taken the driver is deleted, deviceID
    // becomes NoDeviceID and the result is ResultCode::DriverTableFull.
    DWORD Add(std::unique_ptr<DeviceDriverBase> driver, DeviceIDType &deviceID);
    // True when the handle is below the number of slots and its slot is in use.
    bool IsValidHandle(DeviceIDType deviceID) const;
    // The handle's driver, null when the handle names none.
    std::shared_ptr<DeviceDriverBase> GetDriver(DeviceIDType deviceID) const;
    // The call lock of the handle's driver, null when the handle names none.
    std::shared_ptr<DriverCallLock> GetCallLock(DeviceIDType deviceID) const;
    // The handle's driver if it is still the one that owns callLock, else null (the driver was
    // removed, and maybe another took its handle, while the caller waited for the lock).
    std::shared_ptr<DeviceDriverBase> GetDriver(DeviceIDType deviceID, const DriverCallLock &callLock) const;
    // Deletes the handle's driver (outside the lock) and frees its slot, then drops free slots
    // from the end. False when the handle named no driver.
    bool Remove(DeviceIDType deviceID);

    size_t GetSlotCount() const;
    // Empties the table without deleting the drivers that the host did not remove.
    void LetGo();

private:
    mutable std::mutex mLock;
    std::vector<DeviceDriverHolder> mSlots;
};

// After a call that returned 0: the driver's oldest queued warning (taken off its queue) when
// it has one, else 0. Any other result is returned unchanged.
DWORD FetchQueuedWarning(HostWindow hWnd, DWORD result, DeviceDriverBase &driver);
