// The plug-in as the host loads it: every export answers, the plug-in unloads and loads again in
// one process, and a process that exits with it loaded exits cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "support/TestSupport.h"

using namespace TestSupport;

namespace {

ProcessResult RunHost(const std::string &script, const std::vector<std::string> &options = {}) {
    std::vector<std::string> argv{RunnerEnv("KORVALIS_HOST_PROGRAM")};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("--script");
    argv.push_back("-");
    return RunProcess(argv, script, std::chrono::seconds(60));
}

size_t Count(const std::string &text, const std::string &pattern) {
    std::regex re(pattern);
    return static_cast<size_t>(std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

class PluginLoad : public ::testing::Test {
protected:
    IsolatedEnvironment mEnv;
};

} // namespace

TEST_F(PluginLoad, EveryExportRefusesAnUnknownHandle) {
    auto r = RunHost("create NO_SUCH_DRIVER\nall 0\nall 65535\nall 0x12340000\n");
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_NE(r.Output.find("CreateNewDeviceDriver result=0x300000CF DeviceID=65535"), std::string::npos) << r.Output;
    // Seventeen exports per "all", each refused.
    EXPECT_EQ(Count(r.Output, "result=0x300000D0"), 3u * 17u) << r.Output;
    EXPECT_EQ(Count(r.Output, "result="), 1u + 3u * 17u) << r.Output;
}

TEST_F(PluginLoad, UnloadsAndLoadsAgainInOneProcess) {
    auto r = RunHost("load\ncheck 0\nunload\nload\ncheck 0\nreload\nall 1\nunload\n");
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(Count(r.Output, "unloaded rc=0"), 3u) << r.Output;
    EXPECT_EQ(Count(r.Output, "loaded .*PontisPecos.so"), 3u) << r.Output;
    EXPECT_EQ(Count(r.Output, "CheckDevice result=0x300000D0"), 3u) << r.Output;
}

TEST_F(PluginLoad, ProcessExitsCleanlyWithThePluginLoaded) {
    auto r = RunHost("load\ninit 0\n");
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.Signal, 0) << r.Output;
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
}

TEST_F(PluginLoad, OnlyTheExportsAreVisible) {
    auto r = RunProcess({"/usr/bin/nm", "-D", "--defined-only", RunnerEnv("KORVALIS_PLUGIN")}, "", std::chrono::seconds(30));
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    std::vector<std::string> names;
    std::regex re(R"(^\S+ [TtWw] (\S+)$)");
    std::istringstream in(r.Output);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, re))
            names.push_back(m[1]);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected{"CheckDevice",       "CreateNewDeviceDriver", "DeInitDevice",
                                      "GetDriverVersion",  "GetErrorString",        "GetInfo",
                                      "GetInfoString",     "GetValue",              "GetValueString",
                                      "InitDevice",        "LoadConfiguration",     "Registered",
                                      "RemoveDeviceDriver", "SaveConfiguration",    "SetSetting",
                                      "SetValue",          "ShowConfigurationDialog", "UnRegistered"};
    EXPECT_EQ(names, expected);
}
