// The exported functions over the driver table. While no driver exists every handle is refused.
#include "plugin/PluginExports.h"

#include "platform/ModuleEntry.h"

namespace {

constexpr uint32_t NoDriverForDeviceID = 0x300000D0;
constexpr uint32_t UnknownDriverType = 0x300000CF;
constexpr uint16_t NoDeviceID = 0xFFFF;

uint32_t Refuse() {
    Platform::ModuleEntry::EnterThread();
    return NoDriverForDeviceID;
}

} // namespace

PONTIS_EXPORT uint32_t CreateNewDeviceDriver(uint32_t, const char *, uint16_t *DeviceID) {
    Platform::ModuleEntry::EnterThread();
    if (DeviceID != nullptr)
        *DeviceID = NoDeviceID;
    return UnknownDriverType;
}

PONTIS_EXPORT uint32_t RemoveDeviceDriver(void *, uint32_t) { return Refuse(); }
PONTIS_EXPORT uint32_t LoadConfiguration(void *, uint32_t, const char *) { return Refuse(); }
PONTIS_EXPORT uint32_t SaveConfiguration(void *, uint32_t, const char *) { return Refuse(); }
PONTIS_EXPORT uint32_t Registered(void *, uint32_t) { return Refuse(); }
PONTIS_EXPORT uint32_t UnRegistered(void *, uint32_t) { return Refuse(); }
PONTIS_EXPORT uint32_t CheckDevice(void *, uint32_t) { return Refuse(); }
PONTIS_EXPORT uint32_t InitDevice(void *, uint32_t) { return Refuse(); }
PONTIS_EXPORT uint32_t DeInitDevice(void *, uint32_t) { return Refuse(); }
PONTIS_EXPORT uint32_t ShowConfigurationDialog(void *, uint32_t) { return Refuse(); }
PONTIS_EXPORT uint32_t SetValue(void *, uint32_t, uint32_t, void *, void *) { return Refuse(); }
PONTIS_EXPORT uint32_t GetValue(void *, uint32_t, uint32_t, void *, void *) { return Refuse(); }
PONTIS_EXPORT uint32_t GetValueString(void *, uint32_t, uint32_t, const char *, char *, uint32_t, uint32_t *) {
    return Refuse();
}
PONTIS_EXPORT uint32_t GetInfo(void *, uint32_t, uint32_t, double *) { return Refuse(); }
PONTIS_EXPORT uint32_t GetInfoString(void *, uint32_t, uint32_t, char *, uint32_t, uint32_t *) { return Refuse(); }
PONTIS_EXPORT uint32_t SetSetting(void *, uint32_t, uint32_t, double) { return Refuse(); }
PONTIS_EXPORT uint32_t GetDriverVersion(void *, uint32_t, char *) { return Refuse(); }
PONTIS_EXPORT uint32_t GetErrorString(void *, uint32_t, uint32_t, char *, uint32_t, uint32_t *) { return Refuse(); }
