// The stream kinds that register at static initialisation reach the built plug-in: the plug-in's
// own registry functions (found in its symbol table, called inside the loaded plug-in) list every
// kind that the framework registers, and create a TCPIP configuration.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "streams/DeviceStreamConfiguration.h"
#include "support/TestSupport.h"

namespace {

// Symbol values of the plug-in file, by name.
std::map<std::string, unsigned long long> SymbolValues(const std::string &path) {
    const auto r =
        TestSupport::RunProcess({"/usr/bin/nm", "--defined-only", path}, "", std::chrono::seconds(30));
    std::map<std::string, unsigned long long> values;
    std::istringstream lines(r.Output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string value, type, name;
        if (fields >> value >> type >> name)
            values[name] = std::stoull(value, nullptr, 16);
    }
    return values;
}

class PluginStreamKinds : public ::testing::Test {
protected:
    void SetUp() override {
        mPath = TestSupport::RunnerEnv("KORVALIS_PLUGIN");
        ASSERT_FALSE(mPath.empty()) << "KORVALIS_PLUGIN is not set";
        mSymbols = SymbolValues(mPath);
        mHandle = dlopen(mPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(mHandle, nullptr) << dlerror();
        // The load address: an export's address minus its value in the file.
        void *exported = dlsym(mHandle, "GetDriverVersion");
        ASSERT_NE(exported, nullptr);
        ASSERT_EQ(mSymbols.count("GetDriverVersion"), 1u);
        mBase = reinterpret_cast<uintptr_t>(exported) - mSymbols["GetDriverVersion"];
    }

    void TearDown() override {
        if (mHandle != nullptr)
            dlclose(mHandle);
    }

    // The plug-in's copy of a function of this program.
    template <typename F> F *Inside(const char *mangledName) {
        EXPECT_EQ(mSymbols.count(mangledName), 1u) << mangledName;
        return reinterpret_cast<F *>(mBase + mSymbols[mangledName]);
    }

    std::string mPath;
    std::map<std::string, unsigned long long> mSymbols;
    void *mHandle = nullptr;
    uintptr_t mBase = 0;
};

TEST_F(PluginStreamKinds, EveryFrameworkKindIsRegisteredInThePlugin) {
    auto *kinds = Inside<std::vector<std::string>()>("_Z18GetRegisteredKindsB5cxx11v");
    ASSERT_NE(kinds, nullptr);
    const std::vector<std::string> inPlugin = kinds();
    EXPECT_EQ(inPlugin, GetRegisteredKinds());
    const std::vector<std::string> all = {"CompliantGPIB", "GPIB",  "HTTP", "Manual",
                                          "RS-232",        "TCPIP", "UDP",  "VISA"};
    EXPECT_EQ(all, inPlugin);

    auto *create = Inside<std::shared_ptr<DeviceStreamConfiguration>(const std::string &)>(
        "_Z25CreateConfigurationOfKindRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE");
    auto *createStream = Inside<WriteReadDeviceStream *(const std::string &)>(
        "_Z12CreateStreamRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE");
    // Each kind has its configuration and its stream.
    for (const std::string &kind : all) {
        const std::shared_ptr<DeviceStreamConfiguration> configuration = create(kind);
        ASSERT_TRUE(configuration) << kind;
        EXPECT_EQ(kind, configuration->GetIDString());
        EXPECT_TRUE(std::unique_ptr<WriteReadDeviceStream>(createStream(kind))) << kind;
    }
    EXPECT_EQ(create("TCPIP")->GetIdentifier(), "ETHER:tcpip://192.168.13.89:7895");
}

} // namespace
