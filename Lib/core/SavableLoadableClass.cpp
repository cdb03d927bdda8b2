// Settings roots: the do-nothing defaults and the configuration load and save over an INI file.
#include "core/SavableLoadableClass.h"

#include <string>

#include "core/ProgramSettingsDatabase.h"

const char *ConfigurationErrorText(DWORD code) {
    switch (code) {
    case ConfigurationNoFileName:
        return ConfigurationNoFileNameText;
    case ConfigurationNotWritten:
        return ConfigurationNotWrittenText;
    case ConfigurationNotRead:
        return ConfigurationNotReadText;
    default:
        return nullptr;
    }
}

DWORD SavableLoadableClass::LoadProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) {
    return 0;
}

DWORD SavableLoadableClass::SaveProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) {
    return 0;
}

namespace {

// An empty name names no file, as a null one does.
bool NamesNoFile(const char *Filename) {
    return Filename == nullptr || *Filename == '\0';
}

} // namespace

DWORD SaveLoadConfigurationConvertor::LoadConfiguration(HostWindow hWnd, const char *Filename) {
    if (NamesNoFile(Filename))
        return ConfigurationNoFileName;
    std::shared_ptr<ProgramSettingsDatabase> database =
        CreateINIProgramSettingsDatabase(std::string(Filename));
    if (!database)
        return 0;
    // Every read of such a file would give its default: the settings stay as they are.
    if (!database->IsReadable())
        return ConfigurationNotRead;
    database->Open();
    const DWORD result = LoadProgramSettings(hWnd, database);
    database->Close();
    return result;
}

DWORD SaveLoadConfigurationConvertor::SaveConfiguration(HostWindow hWnd, const char *Filename) {
    if (NamesNoFile(Filename))
        return ConfigurationNoFileName;
    std::shared_ptr<ProgramSettingsDatabase> database =
        CreateINIProgramSettingsDatabase(std::string(Filename));
    if (!database)
        return 0;
    database->Open();
    DWORD result = SaveProgramSettings(hWnd, database);
    database->Close();
    // A save that did not reach the file must not read as success.
    if (result == 0 && database->HasWriteFailed())
        result = ConfigurationNotWritten;
    return result;
}
