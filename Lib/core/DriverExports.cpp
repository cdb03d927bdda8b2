// The procedures behind the exports. The host's buffers are never written here: only the driver
// writes them, and the end records read them back through non-null addresses, at most BufferSize
// characters, and only when a driver was called.
#include "core/DriverExports.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "core/DeviceDriverBase.h"
#include "core/DeviceDriverTable.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"

namespace DriverExports {

namespace {

const char *const ModuleName = "DeviceDriver";
const char *const FilledByCall = "(..)";

// Steps 3 to 5 of every export: the driver's result, a queued warning after success, or the
// refusal of a handle that names no driver. ranDriver tells whether a driver was called.
//
// The call runs under the driver's call lock: a second host thread waits until the first one's
// call on that driver (a configuration dialog included) has ended, and the driver's own calls
// back into the exports on the same thread go ahead. The GPIB service-request handler calls
// driver code directly, never through here, so it never waits for this lock.
//
// The call is any callable DWORD(DeviceDriverBase &): taken as it is, not wrapped in a
// std::function, which would allocate for every call that captures more than two references.
template <typename Call>
uint32_t CallDriver(HostWindow hWnd, DeviceIDType id, bool fetchWarning, const Call &call,
                    bool *ranDriver = nullptr) {
    if (ranDriver != nullptr)
        *ranDriver = false;
    DeviceDriverTable &table = DeviceDriverTable::Instance();
    const std::shared_ptr<DriverCallLock> callLock = table.GetCallLock(id);
    if (!callLock)
        return static_cast<uint32_t>(ResultCode::NoDriverForDeviceID);
    const std::lock_guard<DriverCallLock> serialised(*callLock);
    // Released before the lock: a driver removed during this call is deleted under it.
    const std::shared_ptr<DeviceDriverBase> driver = table.GetDriver(id, *callLock);
    if (!driver)
        return static_cast<uint32_t>(ResultCode::NoDriverForDeviceID);
    if (ranDriver != nullptr)
        *ranDriver = true;
    // Every wait of the call hears the driver's removal.
    const Platform::CancelScope removal(&driver->GetRemoval());
    try {
        driver->SetOnlyPauseLeft(false);
        DWORD result = call(*driver);
        // A call that the removal cut short answers for the removal; one that had sent all it sends
        // and that the removal cut only in its closing pause keeps its own result.
        if (driver->IsRemoved() && !driver->IsOnlyPauseLeft())
            return static_cast<uint32_t>(ResultCode::NoDriverForDeviceID);
        if (fetchWarning)
            result = FetchQueuedWarning(hWnd, result, *driver);
        return static_cast<uint32_t>(result);
    } catch (...) {
        return static_cast<uint32_t>(ResultCode::DriverCallFailed);
    }
}

// The count a driver wrote through the host's pointer and the text it left in the host's buffer;
// nothing when no driver ran.
std::pair<DWORD, std::string> FilledText(bool ranDriver, const char *buffer, uint32_t size,
                                         const uint32_t *count) {
    if (!ranDriver)
        return {0, std::string()};
    const DWORD filled = count != nullptr ? *count : 0;
    return {filled, HostBufferText(buffer, size, static_cast<uint32_t>(filled))};
}

// CheckDevice, InitDevice, ... : one driver operation with the window handle only.
uint32_t LoggedWindowCall(const char *name, HostWindow hWnd, uint32_t DeviceID, bool fetchWarning,
                          DWORD (DeviceDriverBase::*operation)(HostWindow)) {
    const DeviceIDType id = HandleOf(DeviceID);
    QuellinEntry entry(ModuleName, name);
    entry.LogBegin(QuellinLevelNote, QuellinDescription, MakeString(name, "(", id, ")"), L"DeviceID", id);
    const uint32_t result = CallDriver(hWnd, id, fetchWarning,
                                       [&](DeviceDriverBase &driver) { return (driver.*operation)(hWnd); });
    entry.LogEnd(ResultSeverityText(result), L"Err", static_cast<DWORD>(result));
    return result;
}

uint32_t LoggedFileCall(const char *name, HostWindow hWnd, uint32_t DeviceID, const char *Filename,
                        DWORD (DeviceDriverBase::*operation)(HostWindow, const char *)) {
    const DeviceIDType id = HandleOf(DeviceID);
    QuellinEntry entry(ModuleName, name);
    entry.LogBegin(QuellinLevelNote, QuellinDescription, MakeString(name, "(", id, ", ", Filename, ")"),
                   L"DeviceID", id, L"Filename", Filename);
    const uint32_t result = CallDriver(
        hWnd, id, true, [&](DeviceDriverBase &driver) { return (driver.*operation)(hWnd, Filename); });
    entry.LogEnd(ResultSeverityText(result), L"Err", static_cast<DWORD>(result));
    return result;
}

} // namespace

uint32_t RemoveDeviceDriver(void *hWnd, uint32_t DeviceID) {
    (void)hWnd;
    const DeviceIDType id = HandleOf(DeviceID);
    QuellinEntry entry(ModuleName, "RemoveDeviceDriver");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, MakeString("RemoveDeviceDriver(", id, ")"),
                   L"DeviceID", id);
    uint32_t result = static_cast<uint32_t>(ResultCode::Success);
    try {
        if (!DeviceDriverTable::Instance().Remove(id))
            result = static_cast<uint32_t>(ResultCode::NoDriverForDeviceID);
    } catch (...) {
        result = static_cast<uint32_t>(ResultCode::DriverCallFailed);
    }
    entry.LogEnd(ResultSeverityText(result), L"Err", static_cast<DWORD>(result));
    return result;
}

uint32_t LoadConfiguration(void *hWnd, uint32_t DeviceID, const char *Filename) {
    return LoggedFileCall("LoadConfiguration", hWnd, DeviceID, Filename,
                          &DeviceDriverBase::LoadConfiguration);
}

uint32_t SaveConfiguration(void *hWnd, uint32_t DeviceID, const char *Filename) {
    return LoggedFileCall("SaveConfiguration", hWnd, DeviceID, Filename,
                          &DeviceDriverBase::SaveConfiguration);
}

uint32_t Registered(void *hWnd, uint32_t DeviceID) {
    return LoggedWindowCall("Registered", hWnd, DeviceID, false, &DeviceDriverBase::Registered);
}

uint32_t UnRegistered(void *hWnd, uint32_t DeviceID) {
    return LoggedWindowCall("UnRegistered", hWnd, DeviceID, false, &DeviceDriverBase::UnRegistered);
}

uint32_t CheckDevice(void *hWnd, uint32_t DeviceID) {
    return LoggedWindowCall("CheckDevice", hWnd, DeviceID, true, &DeviceDriverBase::CheckDevice);
}

uint32_t InitDevice(void *hWnd, uint32_t DeviceID) {
    return LoggedWindowCall("InitDevice", hWnd, DeviceID, true, &DeviceDriverBase::InitDevice);
}

uint32_t DeInitDevice(void *hWnd, uint32_t DeviceID) {
    return LoggedWindowCall("DeInitDevice", hWnd, DeviceID, true, &DeviceDriverBase::DeInitDevice);
}

uint32_t ShowConfigurationDialog(void *hWnd, uint32_t DeviceID) {
    return LoggedWindowCall("ShowConfigurationDialog", hWnd, DeviceID, true,
                            &DeviceDriverBase::ShowConfigurationDialog);
}

uint32_t SetValue(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, void *Data1, void *Data2) {
    return CallDriver(hWnd, HandleOf(DeviceID), true, [&](DeviceDriverBase &driver) {
        return driver.SetValue(hWnd, dwValueID, Data1, Data2);
    });
}

uint32_t GetValue(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, void *Data1, void *Data2) {
    return CallDriver(hWnd, HandleOf(DeviceID), true, [&](DeviceDriverBase &driver) {
        return driver.GetValue(hWnd, dwValueID, Data1, Data2);
    });
}

uint32_t GetValueString(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, const char *Data1,
                        char *sInfoBuffer, uint32_t dwBufferSize, uint32_t *pdwFilledSize) {
    return CallDriver(hWnd, HandleOf(DeviceID), true, [&](DeviceDriverBase &driver) {
        return driver.GetValueString(hWnd, dwValueID, Data1, sInfoBuffer, dwBufferSize, pdwFilledSize);
    });
}

uint32_t GetInfo(void *hWnd, uint32_t DeviceID, uint32_t Info, double *Value) {
    const DeviceIDType id = HandleOf(DeviceID);
    const DWORD info = Info;
    QuellinEntry entry(ModuleName, "GetInfo");
    entry.LogBegin(QuellinLevelNote, QuellinDescription,
                   MakeString("GetInfo(", id, ", ", info, ", ", FilledByCall, ")"), L"DeviceID", id, L"Info",
                   info);
    bool ranDriver = false;
    const uint32_t result = CallDriver(
        hWnd, id, true, [&](DeviceDriverBase &driver) { return driver.GetInfo(hWnd, info, Value); },
        &ranDriver);
    const DWORD err = result;
    if (Value == nullptr) {
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString("GetInfo(", id, ", ", info, ", ", NullGuardText, ")"), L"Value",
                     NullGuardText, L"Err", err);
    } else {
        const double value = ranDriver ? *Value : 0.0;
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString("GetInfo(", id, ", ", info, ", ", value, ")"), L"Value", value, L"Err", err);
    }
    return result;
}

uint32_t GetInfoString(void *hWnd, uint32_t DeviceID, uint32_t Info, char *Buffer, uint32_t BufferSize,
                       uint32_t *FilledSize) {
    const DeviceIDType id = HandleOf(DeviceID);
    const DWORD info = Info;
    const DWORD bufferSize = BufferSize;
    QuellinEntry entry(ModuleName, "GetInfoString");
    entry.LogBegin(QuellinLevelNote, QuellinDescription,
                   MakeString("GetInfoString(", id, ", ", info, ", ", FilledByCall, ")"), L"DeviceID", id,
                   L"Info", info, L"BufferSize", bufferSize);
    bool ranDriver = false;
    const uint32_t result = CallDriver(
        hWnd, id, true,
        [&](DeviceDriverBase &driver) {
            return driver.GetInfoString(hWnd, info, Buffer, BufferSize, FilledSize);
        },
        &ranDriver);
    const auto [filled, text] = FilledText(ranDriver, Buffer, BufferSize, FilledSize);
    entry.LogEnd(
        ResultSeverityText(result), QuellinDescription,
        MakeString("GetInfoString(", id, ", ", info, ", \"", text, "\", ", bufferSize, ", ", filled, ")"),
        L"Info", text, L"FilledSize", filled, L"Err", static_cast<DWORD>(result));
    return result;
}

uint32_t SetSetting(void *hWnd, uint32_t DeviceID, uint32_t Setting, double Value) {
    const DeviceIDType id = HandleOf(DeviceID);
    const DWORD setting = Setting;
    QuellinEntry entry(ModuleName, "SetSetting");
    entry.LogBegin(QuellinLevelNote, QuellinDescription,
                   MakeString("SetSetting(", id, ", ", setting, ", ", Value, ")"), L"DeviceID", id,
                   L"Setting", setting, L"Value", Value);
    const uint32_t result = CallDriver(
        hWnd, id, true, [&](DeviceDriverBase &driver) { return driver.SetSetting(hWnd, setting, Value); });
    entry.LogEnd(ResultSeverityText(result), L"Err", static_cast<DWORD>(result));
    return result;
}

uint32_t GetDriverVersion(void *hWnd, uint32_t DeviceID, char *strVer) {
    const DeviceIDType id = HandleOf(DeviceID);
    QuellinEntry entry(ModuleName, "GetDriverVersion");
    entry.LogBegin(QuellinLevelNote, QuellinDescription,
                   MakeString("GetDriverVersion(", id, ", ", FilledByCall, ")"), L"DeviceID", id, L"strVer",
                   FilledByCall);
    const uint32_t result = CallDriver(
        hWnd, id, true, [&](DeviceDriverBase &driver) { return driver.GetDriverVersion(hWnd, strVer); });
    entry.LogEnd(ResultSeverityText(result), L"Err", static_cast<DWORD>(result));
    return result;
}

uint32_t GetErrorString(void *hWnd, uint32_t DeviceID, uint32_t Err, char *Description, uint32_t BufferSize,
                        uint32_t *Read) {
    const DeviceIDType id = HandleOf(DeviceID);
    const DWORD code = Err;
    const DWORD bufferSize = BufferSize;
    QuellinEntry entry(ModuleName, "GetErrorString");
    entry.LogBegin(QuellinLevelNote, QuellinDescription,
                   MakeString("GetErrorString(", id, ", ", code, ", ", FilledByCall, ")"), L"DeviceID", id,
                   L"BufferSize", bufferSize, L"Err", code);
    bool ranDriver = false;
    const uint32_t result = CallDriver(
        hWnd, id, false,
        [&](DeviceDriverBase &driver) {
            return driver.GetErrorString(hWnd, code, Description, BufferSize, Read);
        },
        &ranDriver);
    const auto [read, text] = FilledText(ranDriver, Description, BufferSize, Read);
    entry.LogEnd(
        ResultSeverityText(result), QuellinDescription,
        MakeString("GetErrorString(", id, ", ", code, ", \"", text, "\", ", bufferSize, ", ", read, ")"),
        L"Description", text, L"Read", read, L"Err", static_cast<DWORD>(result));
    return result;
}

} // namespace DriverExports
