// The outside programs as people and tests run them: their command-line conventions, the host's
// command and script modes, and the log collector as a process that prints the records it receives.
#include "platform/Mailslot.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <sstream>

using namespace TestSupport;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Every tool: --help on standard output with exit 0, a bad option and a number it cannot read
// (trailing junk included) on standard error with the usage error's exit 2.
TEST(ToolCommandLineTest, HelpOnStandardOutputErrorsOnStandardError) {
    IsolatedEnvironment env;
    const struct {
        std::string Program, Listed;
        std::vector<std::string> BadNumber;
    } tools[] = {
        {"korvalis-host", "get-error-string", {"get-value", "5", "750", "u32:7x"}},
        {"korvalis-host", "get-error-string", {"set-value", "5", "1500", "u32:7", "f64:1.5x"}},
        {"korvalis-wxhost", "without it the window waits for a person", {"set-setting", "5", "4003", "one"}},
        {"quellin-collector", "--timeout", {"--count", "abc"}},
        {"quellin-collector", "--timeout", {"--timeout", "0.2", "--count", "1x"}},
        {"pecos-simulator", "sync", {"--port", ""}}};
    for (const auto &tool : tools) {
        SCOPED_TRACE(tool.Program);
        // Standard output in Output, standard error in Errors.
        auto run = [&](std::vector<std::string> args) {
            const std::string errors = env.Root() + "/stderr.txt";
            args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>'" + errors + "'",
                                       RunnerEnv("KORVALIS_BINARY_DIR") + "/tools/" + tool.Program});
            auto result = std::make_pair(RunProcess(args, "", 20s), std::string());
            result.second = ReadFile(errors);
            return result;
        };
        const auto [help, helpErrors] = run({"--help"});
        EXPECT_EQ(0, help.ExitCode) << helpErrors;
        EXPECT_EQ(0u, help.Output.rfind("usage: " + tool.Program + " ", 0)) << help.Output;
        EXPECT_NE(std::string::npos, help.Output.find(tool.Listed)) << help.Output;
        EXPECT_EQ("", helpErrors);
        const auto [option, optionErrors] = run({"--no-such-option"});
        EXPECT_EQ(2, option.ExitCode) << option.Output << optionErrors;
        EXPECT_EQ("", option.Output);
        EXPECT_NE(std::string::npos, optionErrors.find("unknown option --no-such-option")) << optionErrors;
        const auto [number, numberErrors] = run(tool.BadNumber);
        EXPECT_EQ(2, number.ExitCode) << number.Output << numberErrors;
        EXPECT_NE(std::string::npos, numberErrors.find(tool.Program + ": bad ")) << numberErrors;
    }
}

class HostProgramTest : public ::testing::Test {
protected:
    ProcessResult Host(std::vector<std::string> args, const std::string &input = std::string()) {
        args.insert(args.begin(), RunnerEnv("KORVALIS_HOST_PROGRAM"));
        return RunProcess(args, input, 60s);
    }
    IsolatedEnvironment mEnv;
};

TEST_F(HostProgramTest, ScriptRunsEveryLineInOneProcess) {
    const std::string script = "# a comment line\n"
                               "echo first line\n"
                               "\n"
                               "create NO_SUCH_DRIVER   # the factory knows no such key\n"
                               "check $ID\n"
                               "get-error-string 7 0x300000D0 16\n"
                               "sleep 1\n"
                               "echo last line\n";
    auto r = Host({"--script", "-"}, script);
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output; // calls answered error codes
    // The lines come in script order (anything else, such as the toolkit's warnings, may lie between).
    const std::vector<std::string> expected{"first line",
                                            "loaded " + RunnerEnv("KORVALIS_PLUGIN"),
                                            "CreateNewDeviceDriver result=0x300000CF DeviceID=65535",
                                            "CheckDevice result=0x300000D0",
                                            "GetErrorString result=0x300000D0 read=0 text=\"\"",
                                            "last line"};
    size_t next = 0;
    for (const std::string &line : Lines(r.Output))
        if (next < expected.size() && line == expected[next])
            ++next;
    EXPECT_EQ(next, expected.size()) << "missing or out of order: "
                                     << expected[std::min(next, expected.size() - 1)] << "\n"
                                     << r.Output;
    EXPECT_EQ(Count(r.Output, "result="), 3u) << r.Output;
}

// Errors name their line; a word in quotes keeps its blanks.
TEST_F(HostProgramTest, ScriptFromAFileAndUnknownCommandsFail) {
    TempDir dir;
    const std::string settings = dir.File("my settings # 1.ini");
    WriteFile(dir.File("calls.txt"),
              "check 3\nno-such-command 1\ninit 3\ncreate PONTISPECOS_AD_8\n"
              "load-config $ID \"\"\nsave-config $ID \"\"\n"
              "save-config $ID \"" +
                  settings + "\"\nload-config $ID \"" + settings +
                  "\" # read back\nremove $ID\nget-value 1 u32:\"7\nget-value 1 750 u32:x\n");
    auto r = Host({"--script", dir.File("calls.txt")});
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 2) << r.Output; // the unknown command is reported...
    EXPECT_NE(r.Output.find("korvalis-host: line 2: unknown command no-such-command"), std::string::npos)
        << r.Output;
    EXPECT_NE(r.Output.find("CheckDevice result=0x300000D0"), std::string::npos) << r.Output;
    // ...and the script goes on.
    EXPECT_NE(r.Output.find("InitDevice result=0x300000D0"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("SaveConfiguration result=0x00000000"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("LoadConfiguration result=0x00000000"), std::string::npos) << r.Output;
    EXPECT_TRUE(std::filesystem::exists(settings));
    // An empty file name is no name, as null is.
    EXPECT_EQ(Count(r.Output, "Configuration result=0x300000E0"), 2u) << r.Output;
    EXPECT_NE(r.Output.find("korvalis-host: line 10: a quote is not closed"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("korvalis-host: line 11: bad u32 value 'x'"), std::string::npos) << r.Output;

    auto missing = Host({"--script", dir.File("absent.txt")});
    EXPECT_EQ(missing.ExitCode, 2) << missing.Output;
}

TEST_F(HostProgramTest, OneCommandFromTheCommandLine) {
    auto r = Host({"get-value", "5", "750", "u32:0"});
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output;
    EXPECT_EQ(Count(r.Output, "GetValue result=0x300000D0 data1=0 "), 1u) << r.Output;
    EXPECT_EQ(Host({"create", "PONTISPECOS_XX_8"}).ExitCode, 1);
    EXPECT_EQ(Host({"--script", "-"}, "create PONTISPECOS_AD_8\nremove $ID\n").ExitCode, 0);

    auto usage = Host({});
    EXPECT_EQ(usage.ExitCode, 2) << usage.Output;
    EXPECT_NE(usage.Output.find("usage: korvalis-host"), std::string::npos) << usage.Output;
    EXPECT_EQ(Host({"--no-such-option"}).ExitCode, 2);
}

// A command given fewer or more arguments than its line in the help, or a word that is no command,
// is a usage error that calls nothing; an operator who finds no control to set, or no dialog, fails
// the run, and a wx host that cannot start says when no display is set.
TEST_F(HostProgramTest, CommandsTakeTheArgumentsTheHelpLists) {
    const struct {
        std::vector<std::string> Args;
        std::string Said;
    } rows[] = {
        {{"create"}, "create lacks arguments (usage: create KEY)"},
        {{"create", "PONTISPECOS_AD_8", "x"}, "create has too many arguments"},
        {{"load-config", "1"}, "load-config lacks arguments (usage: load-config ID FILE)"},
        {{"save-config", "1"}, "save-config lacks arguments"},
        {{"init", "1", "2"}, "init has too many arguments (usage: init ID)"},
        {{"get-info-string", "1", "2", "3", "4"}, "get-info-string has too many arguments"},
        {{"frobnicate"}, "unknown command frobnicate"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Args[0]);
        auto r = Host(row.Args);
        EXPECT_EQ(r.ExitCode, 2) << r.Output;
        EXPECT_EQ(Count(r.Output, "result="), 0u) << r.Output;
        EXPECT_NE(r.Output.find(row.Said), std::string::npos) << r.Output;
    }
    const std::string wxHost = RunnerEnv("KORVALIS_BINARY_DIR") + "/tools/korvalis-wxhost";
    auto headless =
        RunProcess({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", wxHost, "echo"}, "", 60s);
    EXPECT_EQ(headless.ExitCode, 1) << headless.Output;
    EXPECT_NE(headless.Output.find("wx could not start (no display"), std::string::npos) << headless.Output;
    if (std::getenv("DISPLAY") == nullptr)
        GTEST_SKIP() << "the wx host's dialogs need a display";
    ScopedEnv person("KORVALIS_NONINTERACTIVE", "0");
    const std::string broken = mEnv.Root() + "/xrc";
    std::filesystem::copy(RunnerEnv("KORVALIS_BINARY_DIR") + "/plugin/xrc", broken);
    WriteFile(broken + "/Broken.xrc", "<resource>");
    // Rows: the resource folder ("": the plug-in's own), the lines between create and remove, the
    // exit status, what the host says and what it does not.
    const struct {
        std::string Resources, Script;
        int ExitCode;
        std::string Said, Unsaid;
    } operatorRows[] = {
        {"",
         "operator set ID_USERNAME op\noperator set ID_NO_SUCH x\noperator answer cancel\nconfigure $ID\n", 1,
         "line 5: operator found no control ID_NO_SUCH in", "found no control ID_USERNAME"},
        {"", "operator answer ok\nregistered $ID\n", 1, "line 3: operator saw no dialog", "operator sees"},
        // An XRC error opens no box that would wait for a person.
        {broken, "operator answer cancel\nconfigure $ID\n", 0,
         "line 1: wx error: Cannot load resources from file", "saw no dialog"},
        {"", "operator answer ok\noperator set ID_USERNAME op\n", 1,
         "operator lines that no call took up: \"operator answer ok\", \"operator set ID_USERNAME op\"",
         "operator sees"},
    };
    for (const auto &row : operatorRows) {
        SCOPED_TRACE(row.Script);
        ScopedEnv resources("KORVALIS_XRC_PATH", row.Resources);
        auto r = RunProcess({wxHost, "--hwnd", "window", "--script", "-"},
                            "create PONTISPECOS_EUT_8\n" + row.Script, 60s);
        EXPECT_EQ(r.ExitCode, row.ExitCode) << r.Output;
        EXPECT_NE(r.Output.find("korvalis-wxhost: " + row.Said), std::string::npos) << r.Output;
        EXPECT_EQ(Count(r.Output, row.Unsaid), 0u) << r.Output;
    }
    // A box that no operator answer closes waits for a person, and says so.
    ScopedEnv noResources("KORVALIS_XRC_PATH", mEnv.Root());
    const std::string waits = "operator waits for a person to close the box";
    auto box =
        RunProcess({wxHost, "--hwnd", "window", "--script", "-"},
                   "create PONTISPECOS_EUT_8\noperator set ID_USERNAME op\nconfigure $ID\n", 20s, waits);
    EXPECT_NE(box.Output.find(waits), std::string::npos) << box.Output;
    auto misused =
        RunProcess({wxHost, "--script", "-"}, "operator answer maybe\noperator set ID_USERNAME\n", 60s);
    EXPECT_EQ(misused.ExitCode, 2) << misused.Output;
    EXPECT_EQ(Count(misused.Output, "bad operator command \\(usage: operator photograph FOLDER PREFIX "), 2u)
        << misused.Output;
}

TEST_F(HostProgramTest, MissingPluginIsReportedNotACrash) {
    auto r = Host({"--plugin", mEnv.Root() + "/NoSuchPlugin.so", "check", "0"});
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.Signal, 0) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output;
    EXPECT_NE(r.Output.find("load failed"), std::string::npos) << r.Output;
}

TEST_F(HostProgramTest, BufferSizesBeyondWhatTheHostAllocatesAreRefused) {
    auto r = Host({"--script", "-"}, "get-info-string 0 1 0xFFFFFFFF\nget-error-string 0 0x300000D0 -1\n"
                                     "get-value-string 0 53 null 0\n");
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.Signal, 0) << r.Output;
    EXPECT_EQ(r.ExitCode, 2) << r.Output;
    EXPECT_EQ(Count(r.Output, "bad buffer size"), 2u) << r.Output;
    EXPECT_EQ(Count(r.Output, "GetValueString result=0x300000D0 filled=0"), 1u) << r.Output;
}

class CollectorProgramTest : public ::testing::Test {
protected:
    // Starts the collector in the background; the result arrives when it ends.
    std::future<ProcessResult> StartCollector(std::vector<std::string> args) {
        args.insert(args.begin(), RunnerEnv("KORVALIS_COLLECTOR"));
        auto future = std::async(std::launch::async, [args] { return RunProcess(args, "", 60s); });
        mSlotReady = WaitUntil([this] { return Open(); }, 10s);
        return future;
    }
    bool Open() { return mWriter.Open(L"QuellinSlot"); }

    IsolatedEnvironment mEnv;
    Platform::MailslotWriter mWriter;
    bool mSlotReady = false;
};

TEST_F(CollectorProgramTest, PrintsRawRecordsAndEndsAfterCount) {
    auto collector = StartCollector({"--raw", "--count", "2", "--timeout", "20"});
    ASSERT_TRUE(mSlotReady);
    EXPECT_EQ(mWriter.SendRecord(L"first \u00E9 record"), 0u);
    // Anyone may write to the slot: control characters and NULs are printed escaped.
    EXPECT_EQ(mWriter.SendRecord(std::wstring(L"sec\0ond\n\x1B[2J\x9B\x7F\\x", 16)), 0u);
    ASSERT_EQ(collector.wait_for(20s), std::future_status::ready);
    ProcessResult r = collector.get();
    EXPECT_FALSE(r.TimedOut) << r.Output;
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    std::vector<std::string> expected{"listening " + mEnv.MailslotDir() + "/QuellinSlot",
                                      "first \xC3\xA9 record", "sec\\x00ond\\x0A\\x1B[2J\\x9B\\x7F\\x"};
    EXPECT_EQ(Lines(r.Output), expected);
    // The collector takes its socket file with it.
    EXPECT_FALSE(std::filesystem::exists(mEnv.MailslotDir() + "/QuellinSlot"));
}

TEST_F(CollectorProgramTest, TimeoutEndsAQuietCollectorShortOfItsCount) {
    auto start = std::chrono::steady_clock::now();
    auto collector = StartCollector({"--raw", "--count", "5", "--timeout", "0.5"});
    ASSERT_TRUE(mSlotReady);
    EXPECT_EQ(mWriter.SendRecord(L"only one"), 0u);
    ASSERT_EQ(collector.wait_for(20s), std::future_status::ready);
    ProcessResult r = collector.get();
    EXPECT_LT(TestSupport::MillisecondsSince(start), 10000);
    EXPECT_EQ(r.ExitCode, 3) << r.Output; // fewer records than asked for
    EXPECT_EQ(Count(r.Output, "only one"), 1u) << r.Output;
}

TEST_F(CollectorProgramTest, ShowsThePluginsCallRecordsAsFields) {
    auto collector = StartCollector({"--timeout", "3"});
    ASSERT_TRUE(mSlotReady);
    auto host = RunProcess({RunnerEnv("KORVALIS_HOST_PROGRAM"), "check", "9"}, "", 60s);
    EXPECT_EQ(host.ExitCode, 1) << host.Output; // no driver 9
    ASSERT_EQ(collector.wait_for(30s), std::future_status::ready);
    ProcessResult r = collector.get();
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    // The export's call opens and closes one record pair.
    EXPECT_GE(Count(r.Output, "BEGIN pid=[0-9]+ .*DeviceDriver::CheckDevice"), 1u) << r.Output;
    EXPECT_GE(Count(r.Output, "END   pid=[0-9]+ "), 1u) << r.Output;
}

// The records' milliseconds are unpadded (".44" is 44 ms); the collector shows three digits.
TEST_F(CollectorProgramTest, ShowsMillisecondsWithThreeDigits) {
    auto collector = StartCollector({"--count", "3", "--timeout", "20"});
    ASSERT_TRUE(mSlotReady);
    EXPECT_EQ(mWriter.SendRecord(L"!logb;1;0x1;1700000000.44;M;F;Note;"), 0u);
    EXPECT_EQ(mWriter.SendRecord(L"!loge;1;0x1;1700000000.250;Complete;"), 0u);
    EXPECT_EQ(mWriter.SendRecord(L"!logn;12.7,---,---;---;M;F;Note;"), 0u);
    ASSERT_EQ(collector.wait_for(20s), std::future_status::ready);
    const std::string out = collector.get().Output;
    EXPECT_NE(out.find("BEGIN pid=1 entry=0x1 t=1700000000.044 M::F"), std::string::npos) << out;
    EXPECT_NE(out.find("END   pid=1 entry=0x1 t=1700000000.250 "), std::string::npos) << out;
    EXPECT_NE(out.find("NOTE  t=12.007,---,--- M::F"), std::string::npos) << out;
}

TEST_F(CollectorProgramTest, SecondCollectorOnALiveSlotIsRefused) {
    auto first = StartCollector({"--count", "1", "--timeout", "20"});
    ASSERT_TRUE(mSlotReady);
    auto second = RunProcess({RunnerEnv("KORVALIS_COLLECTOR"), "--timeout", "1"}, "", 20s);
    EXPECT_EQ(second.ExitCode, 1) << second.Output;
    EXPECT_NE(second.Output.find("cannot create"), std::string::npos) << second.Output;
    EXPECT_NE(second.Output.find("the mailslot is in use"), std::string::npos) << second.Output;
    EXPECT_EQ(mWriter.SendRecord(L"ends the first"), 0u);
    ASSERT_EQ(first.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(first.get().ExitCode, 0);
}

} // namespace
