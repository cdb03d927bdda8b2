// The built plug-in loaded as a host loads it (dlopen of its file, or of a link to it, with
// RTLD_LOCAL), and the functions it does not export, found by their value in its file's symbol
// table: a test calls the plug-in's own copy of the framework, inside its image.
#pragma once

#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

class DeviceStreamConfiguration;

class PluginImage {
public:
    // The stream and configuration registries' creators, by kind id.
    static constexpr const char *CreateStreamSymbol =
        "_Z12CreateStreamRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE";
    static constexpr const char *CreateConfigurationSymbol =
        "_Z25CreateConfigurationOfKindRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE";
    using CreateConfigurationFunction = std::shared_ptr<DeviceStreamConfiguration>(const std::string &);

    explicit PluginImage(const std::string &path) {
        const auto listed =
            TestSupport::RunProcess({"/usr/bin/nm", "--defined-only", path}, "", std::chrono::seconds(30));
        std::istringstream lines(listed.Output);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string value, type, name;
            if (fields >> value >> type >> name)
                mSymbols[name] = static_cast<uintptr_t>(std::stoull(value, nullptr, 16));
        }
        mHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (mHandle == nullptr) {
            mError = dlerror();
            return;
        }
        // The load address: an export's address less its value in the file.
        const void *exported = dlsym(mHandle, "GetDriverVersion");
        if (exported != nullptr && mSymbols.count("GetDriverVersion") == 1)
            mBase = reinterpret_cast<uintptr_t>(exported) - mSymbols["GetDriverVersion"];
        else
            mError = "no GetDriverVersion in " + path;
    }
    ~PluginImage() {
        if (mHandle != nullptr)
            dlclose(mHandle);
    }
    PluginImage(const PluginImage &) = delete;
    PluginImage &operator=(const PluginImage &) = delete;

    // Loaded, and its load address known; else Error says why.
    bool IsLoaded() const { return mBase != 0; }
    const std::string &Error() const { return mError; }

    // The plug-in's copy of a function; null when its file lacks the name.
    template <typename F> F *Inside(const std::string &mangledName) const {
        const auto found = mSymbols.find(mangledName);
        if (!IsLoaded() || found == mSymbols.end())
            return nullptr;
        return reinterpret_cast<F *>(mBase + found->second);
    }

private:
    std::map<std::string, uintptr_t> mSymbols;
    void *mHandle = nullptr;
    uintptr_t mBase = 0;
    std::string mError;
};
