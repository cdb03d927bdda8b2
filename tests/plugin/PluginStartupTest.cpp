// Start-up and shut-down inside a process that has no wx application: the module entry as the
// plug-in installs it, host threads whose wx log messages become call records, and the XRC
// resources loaded at start-up; in a host's own wx application, where failed wx checks go.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include <wx/app.h>
#include <wx/log.h>
#include <wx/xrc/xmlres.h>

#include "core/DLLApp.h"
#include "core/DLLMain.h"
#include "core/DLLModule.h"
#include "logging/RecordCapture.h"
#include "plugin/PluginExports.h"
#include "platform/ModuleEntry.h"

namespace {

const char *const TestPanelXrc = R"(<?xml version="1.0" encoding="UTF-8"?>
<resource xmlns="http://www.wxwidgets.org/wxxrc" version="2.5.3.0">
  <object class="wxPanel" name="StartupTestPanel"/>
</resource>
)";

// The plug-in's records of wx log messages among the records.
std::vector<Quellin::Record> WxRecords(const std::vector<Quellin::Record> &records) {
    return RecordCapture::WithModule(records, L"wxLogQuellin");
}

bool HasDriverLogNote(const std::vector<Quellin::Record> &records, const std::wstring &prefix) {
    for (const Quellin::Record &record : RecordCapture::WithModule(records, L"wxDLLApp"))
        if (record.Function.rfind(prefix, 0) == 0)
            return true;
    return false;
}

class PluginStartup : public ::testing::Test {
protected:
    void SetUp() override {
        mXrc = std::make_unique<TestSupport::ScopedEnv>("KORVALIS_XRC_PATH", mXrcDir.Path());
        TestSupport::WriteFile(mXrcDir.File("startup.xrc"), TestPanelXrc);
        ASSERT_EQ(wxAppConsole::GetInstance(), nullptr);
        mModule = std::make_unique<Platform::ModuleEntry>(&DLLModuleEntry);
    }
    void TearDown() override {
        mModule.reset();
        EXPECT_EQ(wxAppConsole::GetInstance(), nullptr) << "wx is ended by the module that started it";
    }

    RecordCapture mCapture;
    TestSupport::TempDir mXrcDir;
    std::unique_ptr<TestSupport::ScopedEnv> mXrc;
    std::unique_ptr<Platform::ModuleEntry> mModule;
};

} // namespace

TEST_F(PluginStartup, AHostThreadGetsItsWxMessagesRecordedDuringACall) {
    ASSERT_TRUE(DLLOwnsWxWidgets());
    ASSERT_NE(AsDLLApp(wxAppConsole::GetInstance()), nullptr);
    mCapture.Records();

    std::thread host([] {
        {
            const PluginCall call; // as every export does: the first call attaches the thread
            wxLogWarning("disk %d is full", 3);
            wxLogError("no answer");
            wxLogMessage("plain");
        }
        EXPECT_EQ(nullptr, wxLog::SetThreadActiveTarget(nullptr)) << "the call's target outlived it";
    });
    host.join();
    std::vector<Quellin::Record> records = mCapture.Records();
    std::vector<Quellin::Record> wx = WxRecords(records);
    ASSERT_EQ(wx.size(), 3u);
    EXPECT_EQ(wx[0].Function, L"wxWidgets");
    EXPECT_EQ(wx[0].Level, L"Warning");
    EXPECT_EQ(wx[0].Value(L"description"), L"Warning: disk 3 is full");
    EXPECT_EQ(wx[0].Value(L"msg", L"!input"), L"disk 3 is full");
    EXPECT_EQ(wx[0].Value(L"Level", L"!input"), L"2");
    EXPECT_NE(wx[0].Value(L"filename", L"!input").find(L"PluginStartupTest.cpp"), std::wstring::npos);
    EXPECT_NE(wx[0].Value(L"line number", L"!input"), L"");
    EXPECT_EQ(wx[0].Find(L"line number")->Type, 'i');
    EXPECT_NE(wx[0].Value(L"function", L"!input"), L"");
    EXPECT_NE(wx[0].Value(L"thread", L"!input"), L"");
    EXPECT_EQ(wx[1].Level, L"Error");
    EXPECT_EQ(wx[1].Value(L"description"), L"Error: no answer");
    EXPECT_EQ(wx[2].Level, L"Note");
    EXPECT_EQ(wx[2].Value(L"description"), L"plain");
    EXPECT_TRUE(HasDriverLogNote(records, L"DLL_THREAD_ATTACH: "));
    EXPECT_TRUE(HasDriverLogNote(records, L"DLL_THREAD_DETACH: "));

    // The next thread and the main thread still log to the application's target.
    std::thread second([] {
        const PluginCall call;
        wxLogWarning("second thread");
    });
    second.join();
    wxLogWarning("main thread");
    wx = WxRecords(mCapture.Records());
    ASSERT_EQ(wx.size(), 2u);
    EXPECT_EQ(wx[0].Value(L"msg"), L"second thread");
    EXPECT_EQ(wx[1].Value(L"msg"), L"main thread");
}

TEST_F(PluginStartup, StartUpRecordsTheApplicationAndLoadsTheXrcResources) {
    auto *module = dynamic_cast<DefaultResourcesDLLModule *>(DLLCurrentModule());
    ASSERT_NE(module, nullptr);
    ASSERT_EQ(module->GetLoadedResourceFiles().size(), 1u);
    EXPECT_NE(wxXmlResource::Get()->GetResourceNode("StartupTestPanel"), nullptr);

    // The thread that loaded the module gets no thread attach of its own.
    mCapture.Records();
    CheckDevice(nullptr, 0xFFFF);
    EXPECT_FALSE(HasDriverLogNote(mCapture.Records(), L"DLL_THREAD_ATTACH: "));

    mModule.reset();
    std::vector<Quellin::Record> records = mCapture.Records();
    EXPECT_TRUE(HasDriverLogNote(records, L"FreeLibrary  is called"));
    EXPECT_TRUE(HasDriverLogNote(records, L"wxWidgets is now deinitialized"));
}

// In a host's own wx application a failed wx check is recorded; while nobody is there to answer
// (KORVALIS_NONINTERACTIVE=1) it does not reach the host's handler, whose box would wait, else it does.
TEST(PluginInAHostApplication, AFailedWxCheckReachesTheHostsHandlerOnlyWhileSomebodyAnswers) {
    static int hostHandlerCalls = 0;
    ASSERT_EQ(wxAppConsole::GetInstance(), nullptr);
    ASSERT_TRUE(wxInitialize());
    const wxAssertHandler_t hostDefault =
        wxSetAssertHandler([](const wxString &, int, const wxString &, const wxString &, const wxString &) {
            ++hostHandlerCalls;
        });
    RecordCapture capture;
    {
        Platform::ModuleEntry module(&DLLModuleEntry);
        for (const char *interactive : {"1", "0"}) {
            TestSupport::ScopedEnv env("KORVALIS_NONINTERACTIVE", interactive);
            hostHandlerCalls = 0;
            wxFAIL_MSG("a check of the test");
            EXPECT_EQ(std::string(interactive) == "1" ? 0 : 1, hostHandlerCalls) << interactive;
            EXPECT_EQ(1u, RecordCapture::WithModule(capture.Records(), L"DLLApp").size()) << interactive;
        }
    }
    hostHandlerCalls = 0;
    wxFAIL_MSG("after the unload");
    EXPECT_EQ(1, hostHandlerCalls) << "the host's handler is back";
    wxSetAssertHandler(hostDefault);
    wxUninitialize();
}

TEST(wxLogQuellinLevels, FatalErrorsAndErrorsAreErrorsEverythingBelowWarningIsANote) {
    EXPECT_STREQ(L"Error", wxLogQuellin::LevelWord(wxLOG_FatalError));
    EXPECT_STREQ("Error: ", wxLogQuellin::DescriptionPrefix(wxLOG_FatalError));
    EXPECT_STREQ(L"Error", wxLogQuellin::LevelWord(wxLOG_Error));
    EXPECT_STREQ(L"Warning", wxLogQuellin::LevelWord(wxLOG_Warning));
    EXPECT_STREQ("Warning: ", wxLogQuellin::DescriptionPrefix(wxLOG_Warning));
    for (wxLogLevel level : {wxLogLevel(wxLOG_Message), wxLogLevel(wxLOG_Status), wxLogLevel(wxLOG_Info),
                             wxLogLevel(wxLOG_Debug), wxLogLevel(wxLOG_Trace), wxLogLevel(wxLOG_Progress),
                             wxLogLevel(wxLOG_User + 3)}) {
        EXPECT_STREQ(L"Note", wxLogQuellin::LevelWord(level)) << level;
        EXPECT_STREQ("", wxLogQuellin::DescriptionPrefix(level)) << level;
    }
}
