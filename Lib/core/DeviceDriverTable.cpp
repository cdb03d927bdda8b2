// The driver table and the warning hand-over after a successful call.
#include "core/DeviceDriverTable.h"

#include <cstdint>

#include "core/DLLMain.h"
#include "core/DeviceDriverBase.h"
#include "core/NeverDestroyed.h"

namespace {
// At an unload the table lets go of its slots; at process exit it stays, as calls may still run.
void ReleaseTableAtUnload() {
    if (!DLLProcessIsEnding())
        DeviceDriverTable::Instance().LetGo();
}
const bool gReleaseAtDetach = (AddProcessDetachStep(&ReleaseTableAtUnload), true);
} // namespace

DeviceDriverTable &DeviceDriverTable::Instance() {
    // Never destroyed: a call on another thread may reach it while the process exits.
    static NeverDestroyed<DeviceDriverTable> table;
    return table.Get();
}

DeviceDriverTable::~DeviceDriverTable() {
    LetGo();
}

void DeviceDriverTable::LetGo() {
    std::vector<DeviceDriverHolder> slots;
    {
        std::lock_guard<std::mutex> guard(mLock);
        slots.swap(mSlots);
    }
    // The host did not remove these drivers; their destructors must not run behind its back at
    // unload or exit, so the table lets go of them without deleting them.
    for (DeviceDriverHolder &slot : slots) {
        if (slot.mDriver)
            new std::shared_ptr<DeviceDriverBase>(std::move(slot.mDriver));
    }
}

DWORD DeviceDriverTable::Add(std::unique_ptr<DeviceDriverBase> driver, DeviceIDType &deviceID) {
    std::shared_ptr<DeviceDriverBase> shared(std::move(driver));
    std::shared_ptr<DriverCallLock> callLock = std::make_shared<DriverCallLock>();
    {
        std::lock_guard<std::mutex> guard(mLock);
        for (size_t index = 0; index < mSlots.size(); ++index) {
            if (!mSlots[index].mInUse) {
                mSlots[index].mInUse = true;
                mSlots[index].mDriver = std::move(shared);
                mSlots[index].mCallLock = std::move(callLock);
                deviceID = static_cast<DeviceIDType>(index);
                return ResultCode::Success;
            }
        }
        if (mSlots.size() < MaximumSlots) {
            mSlots.emplace_back();
            mSlots.back().mInUse = true;
            mSlots.back().mDriver = std::move(shared);
            mSlots.back().mCallLock = std::move(callLock);
            deviceID = static_cast<DeviceIDType>(mSlots.size() - 1);
            return ResultCode::Success;
        }
    }
    // Refused: the driver is deleted outside the lock.
    deviceID = NoDeviceID;
    shared.reset();
    return ResultCode::DriverTableFull;
}

bool DeviceDriverTable::IsValidHandle(DeviceIDType deviceID) const {
    std::lock_guard<std::mutex> guard(mLock);
    return deviceID < mSlots.size() && mSlots[deviceID].mInUse;
}

std::shared_ptr<DeviceDriverBase> DeviceDriverTable::GetDriver(DeviceIDType deviceID) const {
    std::lock_guard<std::mutex> guard(mLock);
    if (deviceID >= mSlots.size())
        return nullptr;
    return mSlots[deviceID].GetDriver();
}

std::shared_ptr<DriverCallLock> DeviceDriverTable::GetCallLock(DeviceIDType deviceID) const {
    std::lock_guard<std::mutex> guard(mLock);
    if (deviceID >= mSlots.size() || !mSlots[deviceID].mInUse)
        return nullptr;
    return mSlots[deviceID].mCallLock;
}

std::shared_ptr<DeviceDriverBase> DeviceDriverTable::GetDriver(DeviceIDType deviceID,
                                                               const DriverCallLock &callLock) const {
    std::lock_guard<std::mutex> guard(mLock);
    if (deviceID >= mSlots.size() || mSlots[deviceID].mCallLock.get() != &callLock)
        return nullptr;
    return mSlots[deviceID].GetDriver();
}

bool DeviceDriverTable::Remove(DeviceIDType deviceID) {
    std::shared_ptr<DeviceDriverBase> removed;
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (deviceID < mSlots.size() && mSlots[deviceID].mInUse) {
            removed = std::move(mSlots[deviceID].mDriver);
            mSlots[deviceID].mCallLock.reset();
            mSlots[deviceID].mInUse = false;
        }
        while (!mSlots.empty() && !mSlots.back().mInUse)
            mSlots.pop_back();
    }
    // The driver's destructor runs here, unless another thread is still inside one of its calls.
    const bool found = removed != nullptr;
    if (found)
        removed->MarkRemoved();
    removed.reset();
    return found;
}

size_t DeviceDriverTable::GetSlotCount() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mSlots.size();
}

DWORD FetchQueuedWarning(HostWindow hWnd, DWORD result, DeviceDriverBase &driver) {
    if (result != ResultCode::Success)
        return result;
    uint32_t warning = 0;
    uint32_t count = driver.GetQueuedWarningCount();
    if (count > 0) {
        driver.GetValue(hWnd, ValueID::GetQueuedWarning, &warning, &count);
        return warning;
    }
    return result;
}
