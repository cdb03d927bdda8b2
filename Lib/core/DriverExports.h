// What each exported function does: find the driver by the low 16 bits of DeviceID, call its
// operation, hand over one queued warning after success, and (all but GetValue, SetValue and
// GetValueString) write a begin and an end record under module "DeviceDriver". The plug-in's
// exports forward here with the host's arguments unchanged.
#pragma once

#include <cstdint>

#include "core/ResultCodes.h"
#include "platform/HostTypes.h"

namespace DriverExports {

// The driver table's handle in a 32-bit DeviceID argument: only the low 16 bits count.
inline DeviceIDType HandleOf(uint32_t DeviceID) {
    return static_cast<DeviceIDType>(DeviceID & 0xFFFF);
}

uint32_t RemoveDeviceDriver(void *hWnd, uint32_t DeviceID);
uint32_t LoadConfiguration(void *hWnd, uint32_t DeviceID, const char *Filename);
uint32_t SaveConfiguration(void *hWnd, uint32_t DeviceID, const char *Filename);
uint32_t Registered(void *hWnd, uint32_t DeviceID);
uint32_t UnRegistered(void *hWnd, uint32_t DeviceID);
uint32_t CheckDevice(void *hWnd, uint32_t DeviceID);
uint32_t InitDevice(void *hWnd, uint32_t DeviceID);
uint32_t DeInitDevice(void *hWnd, uint32_t DeviceID);
uint32_t ShowConfigurationDialog(void *hWnd, uint32_t DeviceID);
uint32_t SetValue(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, void *Data1, void *Data2);
uint32_t GetValue(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, void *Data1, void *Data2);
uint32_t GetValueString(void *hWnd, uint32_t DeviceID, uint32_t dwValueID, const char *Data1,
                        char *sInfoBuffer, uint32_t dwBufferSize, uint32_t *pdwFilledSize);
uint32_t GetInfo(void *hWnd, uint32_t DeviceID, uint32_t Info, double *Value);
uint32_t GetInfoString(void *hWnd, uint32_t DeviceID, uint32_t Info, char *Buffer, uint32_t BufferSize,
                       uint32_t *FilledSize);
uint32_t SetSetting(void *hWnd, uint32_t DeviceID, uint32_t Setting, double Value);
uint32_t GetDriverVersion(void *hWnd, uint32_t DeviceID, char *strVer);
uint32_t GetErrorString(void *hWnd, uint32_t DeviceID, uint32_t Err, char *Description, uint32_t BufferSize,
                        uint32_t *Read);

} // namespace DriverExports
