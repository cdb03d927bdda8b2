// The conversion of older GPIB and RS-232 settings, kept outside the streams, into the stream
// configurations, and their writing back in the old form. The older settings sit where the
// manager is when it calls these operations (the table "Stream Config", below the table prefix
// when one is given): the selection "Communication" as a key there, the tables "GPIB" and "RS232"
// below it.
#include "streams/DeviceStreamConfigurationManager.h"

#include "core/StringUtils.h"
#include "gpib/GPIBRS232.h"
#include "gpib/NI488GPIBConfiguration.h"
#include "rs232/RS232Configuration.h"
#include "rs232/RS232DeviceStream.h"

namespace {

constexpr int UnreadAddress = -1;
constexpr int UnreadPort = 0xFFFF;
constexpr int UnreadSelection = 0xFF;

// Enters the prefix table for the life of the object (nothing for an empty prefix).
class PrefixTable {
public:
    PrefixTable(std::shared_ptr<ProgramSettingsDatabase> &database, const std::string &sPrefix)
        : mDatabase(sPrefix.empty() ? nullptr : database.get()) {
        if (mDatabase != nullptr)
            mDatabase->PushTable(sPrefix);
    }
    ~PrefixTable() {
        if (mDatabase != nullptr)
            mDatabase->PopTable();
    }
    PrefixTable(const PrefixTable &) = delete;
    PrefixTable &operator=(const PrefixTable &) = delete;

private:
    ProgramSettingsDatabase *mDatabase;
};

} // namespace

DWORD DeviceStreamConfigurationManager::LoadLegacyConfiguration(
    std::shared_ptr<ProgramSettingsDatabase> &database, const std::string &sTablePrefix) {
    if (!database)
        return 0;
    const PrefixTable prefix(database, sTablePrefix);
    DWORD result = 0;
    std::shared_ptr<DeviceStreamConfiguration> gpibKind = FindConfiguration("GPIB");
    if (!gpibKind)
        gpibKind = FindConfiguration("CompliantGPIB");
    if (auto *gpib = dynamic_cast<NI488GPIBConfiguration *>(gpibKind.get())) {
        // What the older table does not hold keeps the stream's value: only read fields are copied.
        NI488GPIBConfiguration legacy(UnreadAddress, UnreadAddress, UnreadAddress);
        legacy.CopyFrom(*gpib);
        legacy.SetAddress(UnreadAddress, UnreadAddress, UnreadAddress);
        result = legacy.LoadProgramSettings(nullptr, database, std::string());
        const bool bBoard = static_cast<int>(legacy.GetBoard()) != UnreadAddress;
        const bool bPrimary = legacy.GetPrimaryAddress() != UnreadAddress;
        const bool bSecondary = legacy.GetSecondaryAddress() != UnreadAddress;
        if (result == 0 && (bBoard || bPrimary || bSecondary)) {
            legacy.SetAddress(bBoard ? static_cast<int>(legacy.GetBoard())
                                     : static_cast<int>(gpib->GetBoard()),
                              bPrimary ? legacy.GetPrimaryAddress() : gpib->GetPrimaryAddress(),
                              bSecondary ? legacy.GetSecondaryAddress() : gpib->GetSecondaryAddress());
            SetGPIBConfiguration(legacy);
        }
    }
    const std::shared_ptr<DeviceStreamConfiguration> rs232Kind = FindConfiguration(RS232StreamKind);
    if (result == 0) {
        if (auto *rs232 = dynamic_cast<RS232DeviceStreamConfiguration *>(rs232Kind.get())) {
            RS232Configuration legacy;
            rs232->CopyToRS232Configuration(legacy);
            legacy.SetCOMPort(UnreadPort);
            result = legacy.LoadProgramSettings(nullptr, database, std::string());
            if (result == 0 && legacy.GetCOMPort() != UnreadPort)
                SetRS232Configuration(legacy);
        }
    }
    if (result == 0 && gpibKind && rs232Kind) {
        GPIBRS232 selection;
        selection.SetCommunication(UnreadSelection);
        result = selection.LoadConfiguration(database);
        if (result == 0)
            mdwLegacySelector = static_cast<DWORD>(selection.GetCommunication());
    }
    return result;
}

DWORD DeviceStreamConfigurationManager::SaveLegacyConfiguration(
    std::shared_ptr<ProgramSettingsDatabase> &database, const std::string &sTablePrefix) {
    if (!database)
        return 0;
    const PrefixTable prefix(database, sTablePrefix);
    DWORD result = 0;
    // "CompliantGPIB" is written after "GPIB" into the same keys.
    for (const char *kind : {"GPIB", "CompliantGPIB"}) {
        if (auto *gpib = dynamic_cast<NI488GPIBConfiguration *>(FindConfiguration(kind).get())) {
            NI488GPIBConfiguration legacy(0, 0, 0);
            legacy.CopyFrom(*gpib);
            result = legacy.SaveProgramSettings(nullptr, database, std::string());
            if (result != 0)
                return result;
        }
    }
    if (auto *rs232 =
            dynamic_cast<RS232DeviceStreamConfiguration *>(FindConfiguration(RS232StreamKind).get())) {
        RS232Configuration legacy;
        rs232->CopyToRS232Configuration(legacy);
        result = legacy.SaveProgramSettings(nullptr, database, std::string());
    }
    return result;
}

DWORD DeviceStreamConfigurationManager::SetGPIBConfiguration(const NI488GPIBConfiguration &configuration) {
    for (const char *kind : {"GPIB", "CompliantGPIB"})
        if (auto *gpib = dynamic_cast<NI488GPIBConfiguration *>(FindConfiguration(kind).get()))
            gpib->CopyFrom(configuration);
    return 0;
}

DWORD DeviceStreamConfigurationManager::SetRS232Configuration(const RS232Configuration &configuration) {
    if (auto *rs232 =
            dynamic_cast<RS232DeviceStreamConfiguration *>(FindConfiguration(RS232StreamKind).get()))
        rs232->SetFromRS232Configuration(configuration);
    return 0;
}
