// The built plug-in loaded as a host loads it (its file, or a link to it, with RTLD_LOCAL), and the
// functions it does not export, found by their value in its file's symbol table: a test calls the
// plug-in's own copy of the framework, inside its image.
#pragma once

#include <dlfcn.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

class DeviceStreamConfiguration;

class PluginImage {
public:
    // The creators of the stream and configuration registries, by kind id.
    static constexpr const char *CreateStreamSymbol =
        "_Z12CreateStreamRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE";
    static constexpr const char *CreateConfigurationSymbol =
        "_Z25CreateConfigurationOfKindRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE";
    using CreateConfigurationFunction = std::shared_ptr<DeviceStreamConfiguration>(const std::string &);

    explicit PluginImage(const std::string &path) : mHandle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        std::istringstream lines(
            TestSupport::RunProcess({"/usr/bin/nm", "--defined-only", path}, "", std::chrono::seconds(30))
                .Output);
        std::string value, type, name;
        for (std::string line; std::getline(lines, line);)
            if (std::istringstream(line) >> value >> type >> name)
                mSymbols[name] = std::stoull(value, nullptr, 16);
        // The load address: an export's address less its value in the file.
        const void *exported = mHandle != nullptr ? dlsym(mHandle, "GetDriverVersion") : nullptr;
        if (exported != nullptr && mSymbols.count("GetDriverVersion") == 1)
            mBase = reinterpret_cast<uintptr_t>(exported) - mSymbols["GetDriverVersion"];
    }
    ~PluginImage() {
        if (mHandle != nullptr)
            dlclose(mHandle);
    }
    PluginImage(const PluginImage &) = delete;
    PluginImage &operator=(const PluginImage &) = delete;

    bool IsLoaded() const { return mBase != 0; }

    // The plug-in's copy of a function; null when its file lacks the name.
    template <typename F> F *Inside(const std::string &mangledName) const {
        const auto found = mSymbols.find(mangledName);
        return IsLoaded() && found != mSymbols.end() ? reinterpret_cast<F *>(mBase + found->second) : nullptr;
    }

private:
    void *mHandle;
    std::map<std::string, uintptr_t> mSymbols;
    uintptr_t mBase = 0;
};
