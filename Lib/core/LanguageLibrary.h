// clsTovikLng: the language-resource library "TovikLang.dll" for one resource number. Each user of
// a text makes its own short-lived object; the library is loaded on first use and freed again
// when the object ends.
#pragma once

#include "core/TovikLangApi.h"
#include "platform/DynamicLibrary.h"
#include "platform/HostTypes.h"

#include <string>

// The text that stands for every text while the library cannot be loaded.
constexpr const char *TovikLangLoadFailureText = "Can not load TovikLang.dll";

class clsTovikLng {
public:
    // Windows error code of Load when the library cannot be loaded (a missing entry point gives
    // Platform::EntryPointNotFound).
    static constexpr DWORD ErrorLibraryNotFound = 126;

    explicit clsTovikLng(DWORD dwResourceNumber);
    virtual ~clsTovikLng();
    clsTovikLng(const clsTovikLng &) = delete;
    clsTovikLng &operator=(const clsTovikLng &) = delete;

    // Loads the library, binds its entry points and loads the resource; 0 or a Windows error code.
    DWORD Load();
    // Text dwTextNumber of the resource with the arguments filled in; the load failure text when
    // the library cannot be used, empty when the library has no such text.
    std::string
    getText(DWORD dwTextNumber, const std::string &sArgument1 = std::string(),
            const std::string &sArgument2 = std::string(), const std::string &sArgument3 = std::string(),
            const std::string &sArgument4 = std::string(), const std::string &sArgument5 = std::string(),
            const std::string &sArgument6 = std::string(), const std::string &sArgument7 = std::string(),
            const std::string &sArgument8 = std::string(), const std::string &sArgument9 = std::string(),
            const std::string &sArgument10 = std::string());
    // Releases the resource and frees the library.
    void Unload();
    DWORD FreeModule();

    DWORD GetResourceNumber() const { return mdwResourceNumber; }
    bool IsResourceLoaded() const { return mbLoaded; }
    bool IsLibraryLoaded() const { return mLibrary.IsLoaded(); }

private:
    void ClearEntryPoints();

    DWORD mdwResourceNumber;
    bool mbLoaded = false;
    Platform::DynamicLibrary mLibrary;
    TovikLangApi::SetBaseLanguageDirectoryFunction mSetBaseLanguageDirectory = nullptr;
    TovikLangApi::GetAvailableLanguageFunction mGetAvailableLanguage = nullptr;
    TovikLangApi::LoadLanguageResourceFunction mLoadLanguageResource = nullptr;
    TovikLangApi::UnloadLanguageResourceFunction mUnloadLanguageResource = nullptr;
    TovikLangApi::GetFontFunction mGetFont = nullptr;
    TovikLangApi::GetTextFunction mGetText = nullptr;
};
