// Libraries bound at run time. "NAME.DLL" maps to libNAME.so with NAME lower-cased, searched
// first in the directories of $KORVALIS_LIBRARY_PATH, then by the dynamic loader.
#pragma once

#include <string>

#include "platform/HostTypes.h"

namespace Platform {

// The Windows error of a library that lacks an entry point (ERROR_PROC_NOT_FOUND), the code by
// which the layers that bind libraries report one.
constexpr DWORD EntryPointNotFound = 127;

std::string MapLibraryName(const std::string &dllName);
// The file that Load tries first: the first match in $KORVALIS_LIBRARY_PATH, else the mapped name
// (left to the loader's search). Readers of a library's version block use it before loading.
std::string FindLibraryFile(const std::string &dllName);

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    // False when the library cannot be found or loaded (LastError says why). With besideModule,
    // the folder of the real file of the module that holds that address comes after those of
    // $KORVALIS_LIBRARY_PATH: a companion library installed beside the plug-in.
    bool Load(const std::string &dllName, const void *besideModule = nullptr);
    // False when the library could not be closed: it stays loaded (LastError says why).
    bool Unload();
    bool IsLoaded() const { return mHandle != nullptr; }
    // Null when not loaded or the entry point is missing.
    void *GetSymbol(const char *name);
    // Sets entry to the named entry point (null when missing); whether it was found.
    template <typename Function> bool Bind(const char *name, Function &entry) {
        entry = reinterpret_cast<Function>(GetSymbol(name));
        return entry != nullptr;
    }
    // Path of the file that was loaded.
    const std::string &FilePath() const { return mFilePath; }
    const std::string &LastError() const { return mLastError; }

private:
    void *mHandle = nullptr;
    std::string mFilePath;
    std::string mLastError;
};

// Keeps an already loaded library mapped for the life of the process (wx and GTK).
bool PinLoadedLibrary(const std::string &soName);

} // namespace Platform
