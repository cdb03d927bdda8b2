// The stream kinds that register at static initialisation reach the built plug-in: the plug-in's
// own registry functions (found in its symbol table, called inside the loaded plug-in) list every
// kind that the framework registers, and create a TCPIP configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "streams/DeviceStreamConfiguration.h"
#include "support/PluginImage.h"
#include "support/TestSupport.h"

namespace {

TEST(PluginStreamKinds, EveryFrameworkKindIsRegisteredInThePlugin) {
    const std::string path = TestSupport::RunnerEnv("KORVALIS_PLUGIN");
    const PluginImage plugin(path);
    ASSERT_TRUE(plugin.IsLoaded()) << "KORVALIS_PLUGIN: " << path;
    auto *kinds = plugin.Inside<std::vector<std::string>()>("_Z18GetRegisteredKindsB5cxx11v");
    ASSERT_NE(kinds, nullptr);
    const std::vector<std::string> inPlugin = kinds();
    EXPECT_EQ(inPlugin, GetRegisteredKinds());
    const std::vector<std::string> all = {"CompliantGPIB", "GPIB",  "HTTP", "Manual",
                                          "RS-232",        "TCPIP", "UDP",  "VISA"};
    EXPECT_EQ(all, inPlugin);

    auto *create =
        plugin.Inside<PluginImage::CreateConfigurationFunction>(PluginImage::CreateConfigurationSymbol);
    auto *createStream =
        plugin.Inside<WriteReadDeviceStream *(const std::string &)>(PluginImage::CreateStreamSymbol);
    ASSERT_TRUE(create != nullptr && createStream != nullptr);
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
