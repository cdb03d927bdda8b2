// The conversion of older GPIB and RS-232 settings (kept outside the streams) into stream
// configurations. Until the GPIB and RS-232 kinds take part, no older setting is read or written:
// every operation changes nothing and returns 0, and the legacy selector stays as it is.
#include "streams/DeviceStreamConfigurationManager.h"

DWORD DeviceStreamConfigurationManager::LoadLegacyConfiguration(std::shared_ptr<ProgramSettingsDatabase> &,
                                                                const std::string &) {
    return 0;
}

DWORD DeviceStreamConfigurationManager::SaveLegacyConfiguration(std::shared_ptr<ProgramSettingsDatabase> &,
                                                                const std::string &) {
    return 0;
}

DWORD DeviceStreamConfigurationManager::SetGPIBConfiguration(const NI488GPIBConfiguration &) {
    return 0;
}

DWORD DeviceStreamConfigurationManager::SetRS232Configuration(const RS232Configuration &) {
    return 0;
}
