// Run-time binding of libraries named the Windows way ("NAME.DLL") over dlopen.
#include "platform/DynamicLibrary.h"

#include "platform/Environment.h"
#include "platform/Text.h"

#include <dlfcn.h>
#include <link.h>

#include <mutex>

namespace Platform {

std::string MapLibraryName(const std::string &dllName) {
    std::string name = dllName;
    // Only the file name counts; a directory part of a Windows path has no meaning here.
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.size() >= 4 && AsciiLower(name.substr(name.size() - 4)) == ".dll")
        name.erase(name.size() - 4);
    if (name.empty())
        return std::string();
    return "lib" + AsciiLower(name) + ".so";
}

std::string FindLibraryFile(const std::string &dllName) {
    const std::string soName = MapLibraryName(dllName);
    if (soName.empty())
        return std::string();
    const std::string searchPath = GetEnv("KORVALIS_LIBRARY_PATH");
    size_t begin = 0;
    while (begin < searchPath.size()) {
        size_t end = searchPath.find(':', begin);
        if (end == std::string::npos)
            end = searchPath.size();
        const std::string dir = searchPath.substr(begin, end - begin);
        begin = end + 1;
        if (dir.empty())
            continue;
        const std::string candidate = dir + (dir.back() == '/' ? "" : "/") + soName;
        if (FileExists(candidate))
            return candidate;
    }
    return soName;
}

namespace {
std::string DlErrorText(const std::string &fallback) {
    const char *text = dlerror();
    return text ? text : fallback;
}

// Loads and unloads run one at a time. The loader orders them anyway, but a race detector does not
// see its lock: a library that one thread unloads and another maps again at the same address
// would look like a race between the two threads' writes to the library's data. Recursive: a
// library's initialisers may load another.
std::unique_lock<std::recursive_mutex> LoaderTurn() {
    static std::recursive_mutex turn;
    return std::unique_lock<std::recursive_mutex>(turn);
}

void *OpenLibrary(const std::string &file) {
    auto turn = LoaderTurn();
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}
} // namespace

DynamicLibrary::~DynamicLibrary() {
    Unload();
}

bool DynamicLibrary::Load(const std::string &dllName, const void *besideModule) {
    Unload();
    mLastError.clear();
    std::string soName = MapLibraryName(dllName);
    if (soName.empty()) {
        mLastError = "invalid library name \"" + dllName + "\"";
        return false;
    }
    std::string searchPath = GetEnv("KORVALIS_LIBRARY_PATH");
    const std::string module = besideModule != nullptr ? ModuleFilePath(besideModule) : std::string();
    if (module.find('/') != std::string::npos)
        searchPath += ":" + module.substr(0, module.find_last_of('/'));
    size_t begin = 0;
    while (begin <= searchPath.size() && !searchPath.empty()) {
        size_t end = searchPath.find(':', begin);
        if (end == std::string::npos)
            end = searchPath.size();
        std::string dir = searchPath.substr(begin, end - begin);
        begin = end + 1;
        if (dir.empty())
            continue;
        std::string candidate = dir + (dir.back() == '/' ? "" : "/") + soName;
        if (!FileExists(candidate))
            continue;
        dlerror();
        mHandle = OpenLibrary(candidate);
        if (mHandle != nullptr) {
            mFilePath = candidate;
            return true;
        }
        // Found but unusable (wrong architecture, missing dependency): say why, keep searching.
        mLastError = DlErrorText("cannot load " + candidate);
    }
    dlerror();
    mHandle = OpenLibrary(soName);
    if (mHandle == nullptr) {
        std::string loaderError = DlErrorText("cannot load " + soName);
        mLastError = mLastError.empty() ? loaderError : mLastError + "; " + loaderError;
        return false;
    }
    mLastError.clear();
    link_map *map = nullptr;
    if (dlinfo(mHandle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        *map->l_name)
        mFilePath = map->l_name;
    else
        mFilePath = soName;
    return true;
}

bool DynamicLibrary::Unload() {
    // The handle is tested and cleared in the turn: two threads never close it twice.
    auto turn = LoaderTurn();
    if (mHandle != nullptr) {
        dlerror();
        if (dlclose(mHandle) != 0) {
            const char *error = dlerror();
            mLastError = error != nullptr ? error : "the library could not be closed";
            return false;
        }
        mHandle = nullptr;
    }
    mFilePath.clear();
    return true;
}

void *DynamicLibrary::GetSymbol(const char *name) {
    if (mHandle == nullptr) {
        mLastError = "library not loaded";
        return nullptr;
    }
    if (name == nullptr || *name == '\0') {
        mLastError = "no entry point name";
        return nullptr;
    }
    dlerror();
    void *symbol = dlsym(mHandle, name);
    if (symbol == nullptr)
        mLastError = DlErrorText(std::string("entry point ") + name + " not found");
    return symbol;
}

bool PinLoadedLibrary(const std::string &soName) {
    // The extra reference is never dropped: RTLD_NODELETE keeps the mapping until exit.
    return dlopen(soName.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

} // namespace Platform
