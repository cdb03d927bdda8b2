// The functions that the host calls, with this port's types: a window handle is void*, every
// 32-bit word is uint32_t, texts are UTF-8.
#pragma once

#include <cstdint>

#include "platform/HostTypes.h"

#define PONTIS_EXPORT_LIST(X)                                                                                \
    X(CreateNewDeviceDriver, (uint32_t, const char *, uint16_t *))                                           \
    X(RemoveDeviceDriver, (void *, uint32_t))                                                                \
    X(LoadConfiguration, (void *, uint32_t, const char *))                                                   \
    X(SaveConfiguration, (void *, uint32_t, const char *))                                                   \
    X(Registered, (void *, uint32_t))                                                                        \
    X(UnRegistered, (void *, uint32_t))                                                                      \
    X(CheckDevice, (void *, uint32_t))                                                                       \
    X(InitDevice, (void *, uint32_t))                                                                        \
    X(DeInitDevice, (void *, uint32_t))                                                                      \
    X(ShowConfigurationDialog, (void *, uint32_t))                                                           \
    X(SetValue, (void *, uint32_t, uint32_t, void *, void *))                                                \
    X(GetValue, (void *, uint32_t, uint32_t, void *, void *))                                                \
    X(GetValueString, (void *, uint32_t, uint32_t, const char *, char *, uint32_t, uint32_t *))              \
    X(GetInfo, (void *, uint32_t, uint32_t, double *))                                                       \
    X(GetInfoString, (void *, uint32_t, uint32_t, char *, uint32_t, uint32_t *))                             \
    X(SetSetting, (void *, uint32_t, uint32_t, double))                                                      \
    X(GetDriverVersion, (void *, uint32_t, char *))                                                          \
    X(GetErrorString, (void *, uint32_t, uint32_t, char *, uint32_t, uint32_t *))

// Function pointer types for a host that binds the exports at run time: PFN_GetValue, ...
#define PONTIS_DECLARE_PFN(name, args) typedef uint32_t(*PFN_##name) args;
PONTIS_EXPORT_LIST(PONTIS_DECLARE_PFN)
#undef PONTIS_DECLARE_PFN

PONTIS_EXPORT uint32_t CreateNewDeviceDriver(uint32_t unused, const char *driverTypeKey, uint16_t *DeviceID);
PONTIS_EXPORT uint32_t RemoveDeviceDriver(void *hWnd, uint32_t DeviceID);
PONTIS_EXPORT uint32_t LoadConfiguration(void *hWnd, uint32_t DeviceID, const char *Filename);
PONTIS_EXPORT uint32_t SaveConfiguration(void *hWnd, uint32_t DeviceID, const char *Filename);
PONTIS_EXPORT uint32_t Registered(void *hWnd, uint32_t DeviceID);
PONTIS_EXPORT uint32_t UnRegistered(void *hWnd, uint32_t DeviceID);
PONTIS_EXPORT uint32_t CheckDevice(void *hWnd, uint32_t DeviceID);
PONTIS_EXPORT uint32_t InitDevice(void *hWnd, uint32_t DeviceID);
PONTIS_EXPORT uint32_t DeInitDevice(void *hWnd, uint32_t DeviceID);
PONTIS_EXPORT uint32_t ShowConfigurationDialog(void *hWnd, uint32_t DeviceID);
PONTIS_EXPORT uint32_t SetValue(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, void *Data1, void *Data2);
PONTIS_EXPORT uint32_t GetValue(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, void *Data1, void *Data2);
PONTIS_EXPORT uint32_t GetValueString(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, const char *Data1,
                                      char *sInfoBuffer, uint32_t dwBufferSize, uint32_t *pdwFilledSize);
PONTIS_EXPORT uint32_t GetInfo(void *hWnd, uint32_t DeviceID, uint32_t Info, double *Value);
PONTIS_EXPORT uint32_t GetInfoString(void *hWnd, uint32_t DeviceID, uint32_t Info, char *Buffer,
                                     uint32_t BufferSize, uint32_t *FilledSize);
PONTIS_EXPORT uint32_t SetSetting(void *hWnd, uint32_t DeviceID, uint32_t Setting, double Value);
PONTIS_EXPORT uint32_t GetDriverVersion(void *hWnd, uint32_t DeviceID, char *strVer);
PONTIS_EXPORT uint32_t GetErrorString(void *hWnd, uint32_t DeviceID, uint32_t Err, char *Description,
                                      uint32_t BufferSize, uint32_t *Read);
