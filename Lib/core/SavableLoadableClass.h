// The roots of everything that keeps settings: an object that loads and saves itself through a
// settings database, and one that also answers the host's LoadConfiguration and
// SaveConfiguration by opening an INI database over the host's file.
#pragma once

#include <memory>

#include "core/ResultCodes.h"
#include "platform/HostTypes.h"

class ProgramSettingsDatabase;

// Results of a configuration load or save that never reached the object's settings (texts in the
// framework's table).
constexpr DWORD ConfigurationNoFileName = ResultCode::ConfigurationNoFileName;
constexpr const char *ConfigurationNoFileNameText = ResultCode::ConfigurationNoFileNameText;
constexpr DWORD ConfigurationNotWritten = ResultCode::ConfigurationNotWritten;
constexpr const char *ConfigurationNotWrittenText = ResultCode::ConfigurationNotWrittenText;
constexpr DWORD ConfigurationNotRead = ResultCode::ConfigurationNotRead;
constexpr const char *ConfigurationNotReadText = ResultCode::ConfigurationNotReadText;

// Text of the codes above; null for any other code.
const char *ConfigurationErrorText(DWORD code);

class SavableLoadableClass {
public:
    virtual ~SavableLoadableClass() = default;
    virtual DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database);
    virtual DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database);
};

class SaveLoadConfigurationConvertor : public SavableLoadableClass {
public:
    // Loads the most derived object from the INI file of that name (used as given). A missing
    // file loads the defaults; a file that exists but cannot be read loads nothing.
    virtual DWORD LoadConfiguration(HostWindow hWnd, const char *Filename);
    // Saves into that file; sections and keys the save does not write stay as they were.
    virtual DWORD SaveConfiguration(HostWindow hWnd, const char *Filename);
};
