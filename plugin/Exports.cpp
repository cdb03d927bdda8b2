// The exported functions: each enters the calling thread for the call (PluginCall), then forwards the host's
// arguments unchanged to the driver framework (CreateNewDeviceDriver to the PECOS driver factory).
#include "plugin/PluginExports.h"

#include "core/DLLMain.h"
#include "core/DriverExports.h"
#include "pecos/PecosDriverFactory.h"
#include "platform/ModuleEntry.h"

PONTIS_EXPORT uint32_t CreateNewDeviceDriver(uint32_t, const char *driverTypeKey, uint16_t *DeviceID) {
    const PluginCall call;
    return static_cast<uint32_t>(PecosDriverFactory::CreateNewDeviceDriver(driverTypeKey, DeviceID));
}

PONTIS_EXPORT uint32_t RemoveDeviceDriver(void *hWnd, uint32_t DeviceID) {
    const PluginCall call;
    return DriverExports::RemoveDeviceDriver(hWnd, DeviceID);
}

PONTIS_EXPORT uint32_t LoadConfiguration(void *hWnd, uint32_t DeviceID, const char *Filename) {
    const PluginCall call;
    return DriverExports::LoadConfiguration(hWnd, DeviceID, Filename);
}

PONTIS_EXPORT uint32_t SaveConfiguration(void *hWnd, uint32_t DeviceID, const char *Filename) {
    const PluginCall call;
    return DriverExports::SaveConfiguration(hWnd, DeviceID, Filename);
}

PONTIS_EXPORT uint32_t Registered(void *hWnd, uint32_t DeviceID) {
    const PluginCall call;
    return DriverExports::Registered(hWnd, DeviceID);
}

PONTIS_EXPORT uint32_t UnRegistered(void *hWnd, uint32_t DeviceID) {
    const PluginCall call;
    return DriverExports::UnRegistered(hWnd, DeviceID);
}

PONTIS_EXPORT uint32_t CheckDevice(void *hWnd, uint32_t DeviceID) {
    const PluginCall call;
    return DriverExports::CheckDevice(hWnd, DeviceID);
}

PONTIS_EXPORT uint32_t InitDevice(void *hWnd, uint32_t DeviceID) {
    const PluginCall call;
    return DriverExports::InitDevice(hWnd, DeviceID);
}

PONTIS_EXPORT uint32_t DeInitDevice(void *hWnd, uint32_t DeviceID) {
    const PluginCall call;
    return DriverExports::DeInitDevice(hWnd, DeviceID);
}

PONTIS_EXPORT uint32_t ShowConfigurationDialog(void *hWnd, uint32_t DeviceID) {
    const PluginCall call;
    return DriverExports::ShowConfigurationDialog(hWnd, DeviceID);
}

PONTIS_EXPORT uint32_t SetValue(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, void *Data1, void *Data2) {
    const PluginCall call;
    return DriverExports::SetValue(hWnd, DeviceID, dwValueID, Data1, Data2);
}

PONTIS_EXPORT uint32_t GetValue(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, void *Data1, void *Data2) {
    const PluginCall call;
    return DriverExports::GetValue(hWnd, DeviceID, dwValueID, Data1, Data2);
}

PONTIS_EXPORT uint32_t GetValueString(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, const char *Data1,
                                      char *sInfoBuffer, uint32_t dwBufferSize, uint32_t *pdwFilledSize) {
    const PluginCall call;
    return DriverExports::GetValueString(hWnd, DeviceID, dwValueID, Data1, sInfoBuffer, dwBufferSize,
                                         pdwFilledSize);
}

PONTIS_EXPORT uint32_t GetInfo(void *hWnd, uint32_t DeviceID, uint32_t Info, double *Value) {
    const PluginCall call;
    return DriverExports::GetInfo(hWnd, DeviceID, Info, Value);
}

PONTIS_EXPORT uint32_t GetInfoString(void *hWnd, uint32_t DeviceID, uint32_t Info, char *Buffer,
                                     uint32_t BufferSize, uint32_t *FilledSize) {
    const PluginCall call;
    return DriverExports::GetInfoString(hWnd, DeviceID, Info, Buffer, BufferSize, FilledSize);
}

PONTIS_EXPORT uint32_t SetSetting(void *hWnd, uint32_t DeviceID, uint32_t Setting, double Value) {
    const PluginCall call;
    return DriverExports::SetSetting(hWnd, DeviceID, Setting, Value);
}

PONTIS_EXPORT uint32_t GetDriverVersion(void *hWnd, uint32_t DeviceID, char *strVer) {
    const PluginCall call;
    return DriverExports::GetDriverVersion(hWnd, DeviceID, strVer);
}

PONTIS_EXPORT uint32_t GetErrorString(void *hWnd, uint32_t DeviceID, uint32_t Err, char *Description,
                                      uint32_t BufferSize, uint32_t *Read) {
    const PluginCall call;
    return DriverExports::GetErrorString(hWnd, DeviceID, Err, Description, BufferSize, Read);
}
