// Message boxes where nobody can see them, and host window handles checked against wx's windows.
#include "platform/MessageBox.h"

#include "platform/WindowHandle.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>

using namespace Platform;

namespace {
MessageBoxRequest Box(unsigned style) {
    return MessageBoxRequest{nullptr, L"Text \u00E9", L"Caption", style};
}
} // namespace

TEST(MessageBoxTest, DefaultButtonIsTheNamedButtonOfTheStyle) {
    struct Case {
        unsigned Style;
        int Expected;
    } cases[] = {
        {MbOk, IdOk},
        {MbOk | MbDefButton2, IdOk}, // no second button: the first
        {MbOkCancel, IdOk},
        {MbOkCancel | MbDefButton2 | MbIconQuestion, IdCancel},
        {MbYesNo, IdYes},
        {MbYesNo | MbDefButton2, IdNo},
        {MbYesNoCancel | MbDefButton2, IdNo},
        {MbYesNoCancel | MbDefButton3 | MbIconWarning, IdCancel},
        {MbRetryCancel, IdRetry},
        {MbRetryCancel | MbDefButton2, IdCancel},
        {MbAbortRetryIgnore, IdAbort},
        {MbAbortRetryIgnore | MbDefButton2, IdRetry},
        {MbAbortRetryIgnore | MbDefButton3 | MbIconError, IdIgnore},
        {MbYesNo | MbDefButton3, IdYes},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Style);
        EXPECT_EQ(DefaultButton(c.Style), c.Expected);
    }
}

TEST(MessageBoxTest, NonInteractiveAnswersTheDefaultWithoutShowing) {
    TestSupport::ScopedEnv flag("KORVALIS_NONINTERACTIVE", "1");
    SetGuiThread();
    for (unsigned style : {unsigned(MbOk), MbOkCancel | MbDefButton2, MbYesNoCancel | MbDefButton3,
                           unsigned(MbAbortRetryIgnore)}) {
        MessageBoxAnswer answer = ShowMessageBox(Box(style));
        EXPECT_EQ(answer.Button, DefaultButton(style));
        EXPECT_FALSE(answer.Shown);
        EXPECT_FALSE(answer.Suppressed);
    }
}

TEST(MessageBoxTest, SinkAnswersEveryBoxUntilRemoved) {
    TestSupport::ScopedEnv flag("KORVALIS_NONINTERACTIVE", "1");
    MessageBoxRequest seen{};
    SetMessageBoxSink([&](const MessageBoxRequest &request) {
        seen = request;
        return IdNo;
    });
    MessageBoxAnswer answer = ShowMessageBox(Box(MbYesNo | MbIconQuestion));
    SetMessageBoxSink(nullptr);
    EXPECT_EQ(answer.Button, IdNo);
    EXPECT_TRUE(answer.Shown);
    EXPECT_FALSE(answer.Suppressed);
    EXPECT_EQ(seen.Text, L"Text \u00E9");
    EXPECT_EQ(seen.Caption, L"Caption");
    EXPECT_EQ(seen.Style, MbYesNo | MbIconQuestion);

    answer = ShowMessageBox(Box(MbYesNo));
    EXPECT_EQ(answer.Button, IdYes);
    EXPECT_FALSE(answer.Shown);
}

TEST(MessageBoxTest, InteractiveBoxesAreSuppressedOffTheGuiThreadOrWithoutDisplay) {
    TestSupport::ScopedEnv flag("KORVALIS_NONINTERACTIVE", "0");
    SetGuiThread();
    EXPECT_TRUE(IsGuiThread());
    MessageBoxAnswer fromWorker{};
    bool workerIsGui = true;
    std::thread([&] {
        workerIsGui = IsGuiThread();
        fromWorker = ShowMessageBox(Box(MbOkCancel | MbDefButton2));
    }).join();
    EXPECT_FALSE(workerIsGui);
    EXPECT_EQ(fromWorker.Button, IdCancel);
    EXPECT_FALSE(fromWorker.Shown);
    EXPECT_TRUE(fromWorker.Suppressed);

    // The GUI thread, but no wx application: nothing can be shown.
    ASSERT_EQ(wxTheApp, nullptr);
    EXPECT_FALSE(CanShowWindows());
    MessageBoxAnswer answer = ShowMessageBox(Box(MbRetryCancel));
    EXPECT_EQ(answer.Button, IdRetry);
    EXPECT_TRUE(answer.Suppressed);
}

TEST(WindowHandleTest, OnlyThisProcessesTopLevelWindowsBecomeParents) {
    int notAWindow = 0;
    EXPECT_EQ(ParentFromHandle(nullptr), nullptr);
    EXPECT_EQ(ParentFromHandle(&notAWindow), nullptr);
    if (TestSupport::RunnerEnv("DISPLAY").empty())
        GTEST_SKIP() << "no display (run under Xvfb)";

    int argc = 1;
    char name[] = "WindowHandleTest";
    char *argv[] = {name, nullptr};
    wxApp::SetInstance(new wxApp);
    ASSERT_TRUE(wxEntryStart(argc, argv));
    ASSERT_TRUE(wxTheApp->CallOnInit());
    EXPECT_TRUE(CanShowWindows());
    wxFrame *frame = new wxFrame(nullptr, wxID_ANY, "top");
    wxWindow *child = new wxWindow(frame, wxID_ANY);
    EXPECT_EQ(ParentFromHandle(frame), frame);
    EXPECT_EQ(ParentFromHandle(child), nullptr) << "only top-level windows";
    // A dangling or foreign value is compared, never followed.
    EXPECT_EQ(ParentFromHandle(reinterpret_cast<void *>(uintptr_t(0x10))), nullptr);
    EXPECT_EQ(ParentFromHandle(&notAWindow), nullptr);
    delete frame;
    EXPECT_EQ(ParentFromHandle(frame), nullptr);
    wxTheApp->OnExit();
    wxEntryCleanup();
}
