// A host window under Xvfb with the configuration resources loaded, two test pages bound to a
// settings object, and helpers to find, edit and photograph the controls of a shown dialog and to
// check that its pages fit.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/notebook.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/utils.h>
#include <wx/xrc/xmlres.h>

#include "core/ResourceWindows.h"
#include "platform/MessageBox.h"
#include "support/TestSupport.h"
#include "ui/ValidatorBasedPanel.h"
#include "ui/Screenshot.h"
#include "ui/WxTestEnvironment.h"
#include "ui/wxCustomValidator.h"

// The values the two test pages edit; counts every store.
class PageSettings {
public:
    bool GetFlag() const { return mbFlag; }
    void SetFlag(bool bFlag) {
        mbFlag = bFlag;
        ++Stores;
    }
    int GetCount() const { return miCount; }
    void SetCount(int iCount) {
        miCount = iCount;
        ++Stores;
    }
    std::string GetName() const { return msName; }
    void SetName(std::string sName) {
        msName = std::move(sName);
        ++Stores;
    }

    int Stores = 0;

private:
    bool mbFlag = false;
    int miCount = 0;
    std::string msName;
};

// Page "TestFlagPage": check box ID_FLAG and text ID_COUNT.
class FlagPage : public ValidatorBasedPanel {
public:
    explicit FlagPage(PageSettings *settings) : mSettings(settings) {
        ++Alive;
        Bind(wxEVT_INIT_DIALOG, &FlagPage::OnInitDialog, this);
    }
    ~FlagPage() override { --Alive; }
    void OnInitDialog(wxInitDialogEvent &event) {
        ++InitCount;
        AttachValidator(this, "ID_FLAG",
                        new wxTemplatePropertyValidator<PageSettings, bool>(mSettings, &PageSettings::GetFlag,
                                                                            &PageSettings::SetFlag, "%d"));
        AttachValidator(this, "ID_COUNT",
                        new wxTemplatePropertyValidator<PageSettings, int>(mSettings, &PageSettings::GetCount,
                                                                           &PageSettings::SetCount, "%d"));
        event.Skip(true);
    }
    int InitCount = 0;
    static inline int Alive = 0;

private:
    PageSettings *mSettings;
};

// Page "TestNamePage": text ID_NAME. A plain wxPanel: its label stays empty on GTK.
class NamePage : public wxPanel {
public:
    explicit NamePage(PageSettings *settings) : mSettings(settings) {
        ++Alive;
        Bind(wxEVT_INIT_DIALOG, &NamePage::OnInitDialog, this);
    }
    ~NamePage() override { --Alive; }
    void OnInitDialog(wxInitDialogEvent &event) {
        ++InitCount;
        AttachValidator(this, "ID_NAME",
                        new wxTemplatePropertyValidator<PageSettings, std::string>(
                            mSettings, &PageSettings::GetName, &PageSettings::SetName, ""));
        event.Skip(true);
    }
    int InitCount = 0;
    static inline int Alive = 0;

private:
    PageSettings *mSettings;
};

inline const char *TestResources = R"(<?xml version="1.0" encoding="UTF-8"?>
<resource xmlns="http://www.wxwidgets.org/wxxrc" version="2.5.3.0">
  <object class="wxPanel" name="TestFlagPage">
    <object class="wxBoxSizer">
      <orient>wxVERTICAL</orient>
      <object class="sizeritem"><flag>wxALL</flag><border>6</border>
        <object class="wxCheckBox" name="ID_FLAG"><label>Flag</label></object>
      </object>
      <object class="sizeritem"><flag>wxALL</flag><border>6</border>
        <object class="wxTextCtrl" name="ID_COUNT"/>
      </object>
    </object>
  </object>
  <object class="wxPanel" name="TestNamePage">
    <object class="wxBoxSizer">
      <orient>wxVERTICAL</orient>
      <object class="sizeritem"><flag>wxALL</flag><border>6</border>
        <object class="wxStaticText"><label>Instrument name</label></object>
      </object>
      <object class="sizeritem"><flag>wxALL|wxEXPAND</flag><border>6</border>
        <object class="wxTextCtrl" name="ID_NAME"/>
      </object>
    </object>
  </object>
  <object class="wxDialog" name="TestTitledDialog">
    <title>Titled</title>
    <object class="wxBoxSizer">
      <orient>wxVERTICAL</orient>
      <object class="sizeritem"><object class="wxTextCtrl" name="ID_NAME"/></object>
      <object class="sizeritem">
        <object class="wxStdDialogButtonSizer">
          <object class="button"><object class="wxButton" name="wxID_OK"><label>OK</label></object></object>
          <object class="button"><object class="wxButton" name="wxID_CANCEL"><label>Cancel</label></object></object>
        </object>
      </object>
    </object>
  </object>
  <object class="wxDialog" name="TestUntitledDialog">
    <object class="wxBoxSizer">
      <orient>wxVERTICAL</orient>
      <object class="sizeritem"><object class="wxTextCtrl" name="ID_NAME"/></object>
    </object>
  </object>
  <object class="wxFrame" name="TestTitledFrame">
    <title>Frame</title>
    <object class="wxPanel" name="ID_FRAME_PANEL"/>
  </object>
  <object class="wxFrame" name="TestUntitledFrame">
    <object class="wxPanel" name="ID_FRAME_PANEL"/>
  </object>
</resource>
)";

class ConfigurationWindowTest : public ::testing::Test {
public:
    // Once per program: wx keeps the files and rereads a changed one.
    static void SetUpTestSuite() {
        Platform::SetGuiThread();
        if (sResourceDir)
            return;
        wxInitAllImageHandlers();
        // The plug-in's own resources, as the build copies them beside the plug-in.
        std::string folder = TestSupport::RunnerEnv("KORVALIS_XRC_PATH");
        if (folder.empty() && !TestSupport::RunnerEnv("KORVALIS_TEST_SOURCE_DIR").empty())
            folder = TestSupport::RunnerEnv("KORVALIS_TEST_SOURCE_DIR") + "/../resources";
        ASSERT_FALSE(folder.empty()) << "set KORVALIS_XRC_PATH to the folder of the .xrc files";
        wxArrayString files;
        wxDir::GetAllFiles(wxString::FromUTF8(folder.c_str()), &files, "*.xrc", wxDIR_FILES);
        ASSERT_FALSE(files.empty()) << folder;
        for (const wxString &file : files)
            ASSERT_TRUE(wxXmlResource::Get()->LoadFile(wxFileName(file))) << file;
        sResourceDir = std::make_unique<TestSupport::TempDir>();
        const std::string testFile = sResourceDir->File("TestPages.xrc");
        TestSupport::WriteFile(testFile, TestResources);
        ASSERT_TRUE(wxXmlResource::Get()->LoadFile(wxFileName(wxString::FromUTF8(testFile.c_str()))));
    }

protected:
    void SetUp() override {
        mHost = new wxFrame(nullptr, wxID_ANY, "Korvalis");
        mHost->Show();
    }

    void TearDown() override {
        SetModalDialogSink(nullptr);
        delete mHost;
        // Windows that a test left up must not leak into the next one.
        while (wxTopLevelWindows.GetFirst() != nullptr)
            delete wxTopLevelWindows.GetFirst()->GetData();
    }

    HostWindow HostHandle() const { return static_cast<wxWindow *>(mHost); }

    template <typename T> static T *Find(wxWindow &root, const char *name) {
        return dynamic_cast<T *>(root.FindWindow(name));
    }

    // Runs wx's event handling until the condition holds; false after ten seconds.
    static bool Pump(const std::function<bool()> &condition) {
        return Screenshot::Pump(condition, std::chrono::seconds(10));
    }

    // What the window shows now, read back from the screen (see Screenshot::Capture for pictures
    // of a page).
    static wxImage Photograph(wxWindow &window) { return Screenshot::Photograph(window); }

    // Runs show while a timer watches for its modal dialog: when the dialog is first on screen (or
    // after ten seconds) inspect sees it, then the dialog is cancelled. Whether it was on screen.
    static bool InspectModalDialog(const std::function<void()> &show,
                                   const std::function<void(wxDialog &)> &inspect) {
        bool bSeen = false;
        bool bShown = false;
        int ticks = 0;
        wxTimer timer;
        timer.Bind(wxEVT_TIMER, [&](wxTimerEvent &) {
            for (wxWindow *window : wxTopLevelWindows) {
                auto *dialog = dynamic_cast<wxDialog *>(window);
                if (dialog == nullptr || !dialog->IsModal())
                    continue;
                // Seen one tick after it is first shown, with the work its showing queued done (on
                // a loaded machine the show event may come after the window is on screen).
                const bool bWasShown = bShown;
                bShown = dialog->IsShownOnScreen();
                wxTheApp->ProcessPendingEvents();
                if (++ticks > 100 || (bShown && bWasShown && !bSeen)) {
                    bSeen = dialog->IsShownOnScreen();
                    inspect(*dialog);
                    dialog->EndModal(wxID_CANCEL);
                }
                return;
            }
        });
        timer.Start(100);
        show();
        timer.Stop();
        return bSeen;
    }

    // Saves <build>/screenshots/<name>.png of the shown dialog once every control of it shows.
    static void SaveScreenshot(wxWindow &dialog, const std::string &name) {
        EXPECT_TRUE(Screenshot::Capture(dialog, dialog, name));
    }

    // Shows the tabbed dialog and checks every page of its tabs, and of notebooks on its pages:
    // the page has the room its controls ask for, inside the dialog, and its tab shows its title
    // (GTK puts tabs that do not fit behind scroll arrows, where no point of the notebook hits them).
    static ::testing::AssertionResult EveryPageFits(wxDialog &dialog) {
        auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
        if (tabs == nullptr)
            return ::testing::AssertionFailure() << "no " << GenericTabsName;
        dialog.Show();
        wxImage shot;
        if (::testing::AssertionResult painted = Screenshot::WaitUntilPainted(dialog, dialog, shot); !painted)
            return painted;
        const wxRect room(dialog.ClientToScreen(wxPoint(0, 0)), dialog.GetClientSize());
        std::string faults;
        std::function<void(wxNotebook &)> check = [&](wxNotebook &book) {
            std::vector<bool> hit(book.GetPageCount(), false);
            const wxSize size = book.GetSize();
            for (int y = 0; y < size.y; y += 2)
                for (int x = 0; x < size.x; x += 2)
                    if (const int page = book.HitTest(wxPoint(x, y)); page != wxNOT_FOUND)
                        hit[page] = true;
            for (size_t i = 0; i < book.GetPageCount(); ++i) {
                wxWindow &page = *book.GetPage(i);
                const std::string name = "\"" + book.GetPageText(i).utf8_string() + "\"";
                if (!hit[i])
                    faults += " the tab " + name + " is hidden;";
                const wxSize wanted = page.GetBestSize();
                const wxRect rect(page.GetScreenPosition(), page.GetSize());
                if (wanted.x > rect.width || wanted.y > rect.height)
                    faults += " " + name + " wants " + std::to_string(wanted.x) + "x" +
                              std::to_string(wanted.y) + ", has " + std::to_string(rect.width) + "x" +
                              std::to_string(rect.height) + ";";
                if (!room.Contains(rect))
                    faults += " " + name + " reaches out of the dialog;";
                for (wxWindow *child : page.GetChildren())
                    if (auto *inner = dynamic_cast<wxNotebook *>(child))
                        check(*inner);
            }
        };
        check(*tabs);
        if (faults.empty())
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "pages that do not fit:" << faults;
    }

    wxFrame *mHost = nullptr;
    TestSupport::MessageBoxRecorder mRecorder; // answers with each box's default button
    std::vector<Platform::MessageBoxRequest> &mBoxes = mRecorder.Boxes;
    static inline std::unique_ptr<TestSupport::TempDir> sResourceDir;
};
