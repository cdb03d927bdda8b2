// The plug-in as the host loads it: every export answers, the plug-in unloads and loads again in
// one process, a process that exits with it loaded exits cleanly, and a copy or an installed
// plug-in finds its dialog resources or says that its dialog cannot be shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "QuellinRecord.h"
#include "logging/RecordCapture.h"
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

// The folders that the records name as searched for resources (narrow: the test's paths are ASCII).
std::set<std::string> FoldersInCallLog(const std::vector<Quellin::Record> &records) {
    std::set<std::string> folders;
    for (const Quellin::Record &record : records)
        if (const std::wstring folder = record.Value(L"Folder"); !folder.empty())
            folders.emplace(folder.begin(), folder.end());
    return folders;
}

class PluginLoad : public ::testing::Test {
protected:
    IsolatedEnvironment mEnv;
};

// A host whose driver log file exists: the plug-in writes every start-up and shut-down step.
class PluginDriverLog : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(DriverLogPath(), ""); }
    std::string DriverLogPath() const { return mEnv.DriveC() + "/DDLOGGER.DAT"; }

    // The lines without their time: "wxDLLApp: <text>"; the plug-in's path shown as "<path>".
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(DriverLogPath()));
        const std::string path = RunnerEnv("KORVALIS_PLUGIN");
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            size_t start = line.find(": ");
            line = start == std::string::npos ? line : line.substr(start + 2);
            size_t at = line.find(path);
            if (at != std::string::npos)
                line.replace(at, path.size(), "<path>");
            lines.push_back(line);
        }
        return lines;
    }

    IsolatedEnvironment mEnv;
};

const std::vector<std::string> OwnedAttach{"wxDLLApp: DLL_PROCESS_ATTACH: <path>",
                                           "wxDLLApp: wxTheApp was not initializated yet",
                                           "wxDLLApp: wxWidgets is now Initialized",
                                           "wxDLLApp: Going to create specific DLLModule",
                                           "wxDLLApp: Going to initialize created DLLModule",
                                           "wxDLLApp: Dynamic load"};
const std::vector<std::string> OwnedUnload{"wxDLLApp: DLL_PROCESS_DETACH: <path>",
                                           "wxDLLApp: FreeLibrary  is called",
                                           "wxDLLApp: Going to deinitialize DLLModule",
                                           "wxDLLApp: DLLModule deinitialized",
                                           "wxDLLApp: Going to deinitialize wxWidgets Application object",
                                           "wxDLLApp: Going to deinitialize wxWidgets",
                                           "wxDLLApp: wxWidgets is now deinitialized"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace

TEST_F(PluginLoad, EveryExportRefusesAnUnknownHandle) {
    auto r = RunHost("create NO_SUCH_DRIVER\nall 0\nall 65535\nall 0x12340000\n");
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output; // the calls were refused
    EXPECT_NE(r.Output.find("CreateNewDeviceDriver result=0x300000CF DeviceID=65535"), std::string::npos)
        << r.Output;
    // Seventeen exports per "all", each refused.
    EXPECT_EQ(Count(r.Output, "result=0x300000D0"), 3u * 17u) << r.Output;
    EXPECT_EQ(Count(r.Output, "result="), 1u + 3u * 17u) << r.Output;
}

TEST_F(PluginLoad, UnloadsAndLoadsAgainInOneProcess) {
    auto r = RunHost("load\ncheck 0\nunload\nload\ncheck 0\nreload\nall 1\nunload\n");
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output; // the calls were refused
    EXPECT_EQ(Count(r.Output, "unloaded rc=0"), 3u) << r.Output;
    EXPECT_EQ(Count(r.Output, "loaded .*PontisPecos.so"), 3u) << r.Output;
    EXPECT_EQ(Count(r.Output, "CheckDevice result=0x300000D0"), 3u) << r.Output;
}

TEST_F(PluginLoad, ProcessExitsCleanlyWithThePluginLoaded) {
    auto r = RunHost("load\ninit 0\n");
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.Signal, 0) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output; // InitDevice was refused
}

TEST_F(PluginLoad, OnlyTheExportsAreVisible) {
    auto r = RunProcess({"/usr/bin/nm", "-D", "--defined-only", RunnerEnv("KORVALIS_PLUGIN")}, "",
                        std::chrono::seconds(30));
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
    std::vector<std::string> expected{"CheckDevice",
                                      "CreateNewDeviceDriver",
                                      "DeInitDevice",
                                      "GetDriverVersion",
                                      "GetErrorString",
                                      "GetInfo",
                                      "GetInfoString",
                                      "GetValue",
                                      "GetValueString",
                                      "InitDevice",
                                      "LoadConfiguration",
                                      "Registered",
                                      "RemoveDeviceDriver",
                                      "SaveConfiguration",
                                      "SetSetting",
                                      "SetValue",
                                      "ShowConfigurationDialog",
                                      "UnRegistered"};
    EXPECT_EQ(names, expected);
}

// `cmake --install` into a fresh prefix: the installed host, found on PATH, loads the installed
// plug-in, whose dialog opens from the resources beside it. A copy of the object alone answers
// that its dialog cannot be shown, until KORVALIS_XRC_PATH names the resources.
TEST_F(PluginLoad, AnInstalledPluginOpensItsDialogAndACopyWithoutResourcesSaysItCannot) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        GTEST_SKIP() << "the dialog needs a display";
    const std::string prefix = mEnv.Root() + "/prefix", copy = mEnv.Root() + "/PontisPecos.so";
    auto r = RunProcess(
        {RunnerEnv("KORVALIS_CMAKE"), "--install", RunnerEnv("KORVALIS_BINARY_DIR"), "--prefix", prefix}, "",
        std::chrono::seconds(120));
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    for (const char *tool : {"korvalis-host", "korvalis-wxhost", "quellin-collector", "pecos-simulator"})
        EXPECT_TRUE(std::filesystem::exists(prefix + "/bin/" + tool)) << tool;
    ScopedEnv path("PATH", prefix + "/bin:" + RunnerEnv("PATH"));
    ScopedEnv noPlugin("KORVALIS_PLUGIN", ""), noResources("KORVALIS_XRC_PATH", "");
    const std::string script = "create PONTISPECOS_AD_8\nconfigure $ID\nremove $ID\n";
    r = RunProcess({"/bin/sh", "-c", "exec korvalis-host --script -"}, script, std::chrono::seconds(60));
    std::smatch loaded;
    ASSERT_TRUE(std::regex_search(r.Output, loaded, std::regex("loaded (" + prefix + "/.*)/PontisPecos.so")))
        << r.Output;
    const std::string folder = loaded[1];
    for (const char *library : {"/libgpibsrq.so", "/libgpibsrq-core.so"})
        EXPECT_TRUE(std::filesystem::exists(folder + library)) << folder << library;
    EXPECT_EQ(Count(r.Output, "ShowConfigurationDialog result=0x00000000"), 1u) << r.Output;

    std::filesystem::copy_file(folder + "/PontisPecos.so", copy);
    RecordCapture capture(false);
    r = RunHost(script, {"--plugin", copy});
    EXPECT_EQ(Count(r.Output, "ShowConfigurationDialog result=0x300000EC"), 1u) << r.Output;
    EXPECT_EQ(FoldersInCallLog(capture.Records()),
              std::set<std::string>{mEnv.Root() + "/xrc (beside the plug-in)"});
    {
        ScopedEnv resources("KORVALIS_XRC_PATH", folder + "/xrc");
        r = RunHost(script, {"--plugin", copy});
        EXPECT_EQ(Count(r.Output, "ShowConfigurationDialog result=0x00000000"), 1u) << r.Output;
        capture.Records();
    }

    // A folder that lost files gives no dialog, and an OK meant for it stores nothing, as a Cancel
    // does: what is saved after the call is what was loaded, the driver's defaults for a first dialog
    // (the flag, an empty VISA resource filled) included. The call log names the folder and its source.
    const std::string settings = mEnv.Root() + "/loaded.ini", before = mEnv.Root() + "/before.ini",
                      after = mEnv.Root() + "/after.ini";
    WriteFile(settings, "[Stream Config]\nSelected=TCPIP\n[Stream Config.VISA]\nIdentifier=\n"
                        "[Stream Config.Ethernet]\nAddress=tcpip://127.0.0.1:15444\n"
                        "[PontisPecos_ADConverter]\nDetector 3 name=SENSOR-3\n");
    // Rows: the file left out ("*" keeps the generic dialogs alone, "" names no folder that exists,
    // "none" leaves out nothing), the answer, the result and whether the dialog stored.
    const struct {
        std::string Missing;
        const char *Answer, *Result;
        bool Stored;
    } rows[] = {{"dlgEthernetDeviceStreamConfiguration.xrc", "ok", "0x300000EC", false},
                {"VisaConfiguration.xrc", "ok", "0x300000EC", false},
                {"PontisPecosDetectorMap.xrc", "ok", "0x300000EC", false},
                {"*", "ok", "0x300000EC", false},
                {"", "ok", "0x300000EC", false},
                {"none", "cancel", "0x00000000", false},
                {"none", "ok", "0x00000000", true}};
    for (const auto &[missing, answer, result, stored] : rows) {
        SCOPED_TRACE(missing);
        ScopedEnv answered("KORVALIS_DIALOG_ANSWER", answer);
        const std::string partial = mEnv.Root() + "/without-" + (missing == "*" ? "pages" : missing);
        if (!missing.empty())
            std::filesystem::create_directory(partial);
        for (const auto &file : std::filesystem::directory_iterator(folder + "/xrc")) {
            const std::string name = file.path().filename().string();
            if (!missing.empty() && name != missing && (missing != "*" || name.rfind("Generic", 0) == 0))
                std::filesystem::copy_file(file.path(), partial + "/" + name,
                                           std::filesystem::copy_options::overwrite_existing);
        }
        ScopedEnv resources("KORVALIS_XRC_PATH", partial);
        r = RunHost("create PONTISPECOS_AD_8\nload-config $ID " + settings + "\nsave-config $ID " + before +
                        "\nconfigure $ID\nsave-config $ID " + after + "\nremove $ID\n",
                    {"--plugin", copy});
        EXPECT_EQ(Count(r.Output, std::string("ShowConfigurationDialog result=") + result), 1u) << r.Output;
        const std::string saved = ReadFile(after);
        if (stored)
            EXPECT_NE(saved.find("Identifier=TCPIP::127.0.0.1::15444::SOCKET\n"), std::string::npos) << saved;
        else
            EXPECT_EQ(ReadFile(before), saved);
        EXPECT_EQ(FoldersInCallLog(capture.Records()),
                  std::set<std::string>{partial + " (KORVALIS_XRC_PATH)"});
    }
}

TEST_F(PluginDriverLog, OneLoadAndUnloadWritesEveryStepInOrder) {
    RecordCapture capture(false);
    auto r = RunHost("load\nunload\n");
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(Lines(), Join({OwnedAttach, OwnedUnload})) << r.Output;

    // The application that the plug-in made reports its start-up.
    bool initRecord = false;
    std::wstring entry;
    for (const Quellin::Record &record : capture.Records()) {
        if (record.RecordKind == Quellin::Record::Kind::Begin && record.Module == L"DLLApp")
            entry = record.Entry;
        if (record.RecordKind == Quellin::Record::Kind::End && !entry.empty() && record.Entry == entry) {
            EXPECT_EQ(record.Value(L"InitStatus"), L"True");
            EXPECT_EQ(record.Value(L"MainThreadID"), record.Value(L"ThreadID"));
            initRecord = true;
        }
    }
    EXPECT_TRUE(initRecord);
}

TEST_F(PluginDriverLog, LoadUnloadLoadStartsAndEndsWxEachTime) {
    auto r = RunHost("load\ncheck 0\nunload\nload\ncheck 0\nunload\n");
    ASSERT_EQ(r.ExitCode, 1) << r.Output; // CheckDevice was refused
    EXPECT_EQ(Lines(), Join({OwnedAttach, OwnedUnload, OwnedAttach, OwnedUnload}));
}

TEST_F(PluginDriverLog, AProcessExitWithThePluginLoadedLeavesWxStanding) {
    auto r = RunHost("load\ninit 0\n");
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.Signal, 0) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output; // InitDevice was refused
    EXPECT_EQ(Lines(),
              Join({OwnedAttach,
                    {"wxDLLApp: DLL_PROCESS_DETACH: <path>", "wxDLLApp: the process is terminating",
                     "wxDLLApp: Going to deinitialize DLLModule", "wxDLLApp: DLLModule deinitialized"}}));
}

TEST_F(PluginDriverLog, AHostThatIsAWxProgramKeepsItsApplication) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        GTEST_SKIP() << "the wx host needs a display";
    const std::string wxHost = RunnerEnv("KORVALIS_BINARY_DIR") + "/tools/korvalis-wxhost";
    auto r = RunProcess({wxHost, "--hwnd", "window", "--script", "-"}, "load\nall 0\nunload\nload\n",
                        std::chrono::seconds(60));
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output; // the calls were refused
    EXPECT_EQ(Count(r.Output, "result=0x300000D0"), 17u) << r.Output;
    const std::vector<std::string> borrowedAttach{
        "wxDLLApp: DLL_PROCESS_ATTACH: <path>",
        "wxDLLApp: wxTheApp is already present. No initialization needed",
        "wxDLLApp: Going to create specific DLLModule", "wxDLLApp: Going to initialize created DLLModule",
        "wxDLLApp: Dynamic load"};
    const std::vector<std::string> module{"wxDLLApp: Going to deinitialize DLLModule",
                                          "wxDLLApp: DLLModule deinitialized"};
    EXPECT_EQ(Lines(), Join({borrowedAttach,
                             {"wxDLLApp: DLL_PROCESS_DETACH: <path>", "wxDLLApp: FreeLibrary  is called"},
                             module,
                             borrowedAttach,
                             {"wxDLLApp: DLL_PROCESS_DETACH: <path>", "wxDLLApp: the process is terminating"},
                             module}));
}
