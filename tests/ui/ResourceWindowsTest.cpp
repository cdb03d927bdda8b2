// Configuration windows under Xvfb: the tabbed dialog with two test pages and the RAW page, a
// panel inside the generic dialog, dialog and frame classes from their own resources, the host
// window around the run, the clean-up of everything a run leaves, the stand-in of the modal loop
// and one real modal loop, and screenshots of every page.
#include <gtest/gtest.h>

#include <thread>

#include <wx/timer.h>

#include "ConfigurationWindowFixture.h"
#include "core/ADConvertorBase.h"
#include "core/DriverRecords.h"
#include "ui/Screenshot.h"
#include "core/RAWControlConfigPanel.h"
#include "core/ResultCodes.h"

namespace {

constexpr int NotShown = static_cast<int>(ResultCode::ConfigurationWindowUnavailable);

class TabbedDialogTest : public ConfigurationWindowTest {
protected:
    // Two test pages and the RAW page, in this order.
    PanelResourceNameList MakePages() {
        mFlagPage = new FlagPage(&mSettings);
        mNamePage = new NamePage(&mSettings);
        mRawPage = new RAWControlConfigPanel(&mRaw);
        PanelResourceNameList pages;
        PanelResourceNameList::AddUnique(pages, mFlagPage, "TestFlagPage", "Flags & Counts");
        PanelResourceNameList::AddUnique(pages, mNamePage, "TestNamePage", "Name && Text");
        PanelResourceNameList::AddUnique(pages, mRawPage, "RAWControlConfigurationPanel", "RAW Settings");
        return pages;
    }

    void SetDistinctValues() {
        mSettings.SetFlag(true);
        mSettings.SetCount(42);
        mSettings.SetName("PECOS-8 bench");
        mRaw.SetUseRAW(true);
        mSettings.Stores = 0;
    }

    // Changes every control of the three pages away from the values of SetDistinctValues.
    static void EditEveryPage(wxDialog &dialog) {
        Find<wxCheckBox>(dialog, "ID_FLAG")->SetValue(false);
        Find<wxTextCtrl>(dialog, "ID_COUNT")->ChangeValue("7");
        Find<wxTextCtrl>(dialog, "ID_NAME")->ChangeValue("renamed");
        Find<wxCheckBox>(dialog, "ID_USE_RAW_VALUE")->SetValue(false);
    }

    PageSettings mSettings;
    RAWControl mRaw{false, true, "ADConverterBase", "UseRAW", "RAW Settings"};
    FlagPage *mFlagPage = nullptr;
    NamePage *mNamePage = nullptr;
    RAWControlConfigPanel *mRawPage = nullptr;
};

TEST_F(TabbedDialogTest, PagesAppearInListOrderWithTheirAmpersandsShownOverADisabledHost) {
    PanelResourceNameList pages = MakePages();
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &dialog) {
        bSinkRan = true;
        EXPECT_EQ("Alpha X1 meter", dialog.GetTitle());
        EXPECT_FALSE(mHost->IsEnabled());
        EXPECT_EQ(mHost, dialog.GetParent());
        auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
        if (tabs == nullptr) {
            ADD_FAILURE() << "no GenericTabs";
            return wxID_CANCEL;
        }
        EXPECT_EQ(3u, tabs->GetPageCount());
        if (tabs->GetPageCount() == 3) {
            EXPECT_EQ(mFlagPage, tabs->GetPage(0));
            EXPECT_EQ(mNamePage, tabs->GetPage(1));
            EXPECT_EQ(mRawPage, tabs->GetPage(2));
            // GTK shows the text without mnemonics: a lone '&' would vanish.
            EXPECT_EQ("Flags & Counts", tabs->GetPageText(0));
            EXPECT_EQ("Name & Text", tabs->GetPageText(1));
            EXPECT_EQ("RAW Settings", tabs->GetPageText(2));
        }
        EXPECT_EQ(dialog.GetSize(), dialog.GetMinSize());
        return wxID_CANCEL;
    });
    EXPECT_EQ(wxID_CANCEL, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha X1 meter"));
    EXPECT_TRUE(bSinkRan);
    EXPECT_TRUE(mHost->IsEnabled());
}

TEST_F(TabbedDialogTest, OkStoresTheValuesOfEveryPage) {
    SetDistinctValues();
    PanelResourceNameList pages = MakePages();
    SetModalDialogSink([](wxDialog &dialog) {
        EditEveryPage(dialog);
        return wxID_OK;
    });
    EXPECT_EQ(wxID_OK, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha"));
    EXPECT_FALSE(mSettings.GetFlag());
    EXPECT_EQ(7, mSettings.GetCount());
    EXPECT_EQ("renamed", mSettings.GetName());
    EXPECT_FALSE(mRaw.GetUseRAW());
}

TEST_F(TabbedDialogTest, CancelStoresNothing) {
    SetDistinctValues();
    PanelResourceNameList pages = MakePages();
    SetModalDialogSink([](wxDialog &dialog) {
        EditEveryPage(dialog);
        return wxID_CANCEL;
    });
    EXPECT_EQ(wxID_CANCEL, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha"));
    EXPECT_EQ(0, mSettings.Stores);
    EXPECT_TRUE(mSettings.GetFlag());
    EXPECT_EQ(42, mSettings.GetCount());
    EXPECT_EQ("PECOS-8 bench", mSettings.GetName());
    EXPECT_TRUE(mRaw.GetUseRAW());
}

TEST_F(TabbedDialogTest, OpenAndOkWithoutEditsChangesNothingOnAnyPage) {
    SetDistinctValues();
    PanelResourceNameList pages = MakePages();
    SetModalDialogSink([](wxDialog &dialog) {
        // Every page was initialised: its validators filled the controls.
        EXPECT_TRUE(Find<wxCheckBox>(dialog, "ID_FLAG")->GetValue());
        EXPECT_EQ("42", Find<wxTextCtrl>(dialog, "ID_COUNT")->GetValue());
        EXPECT_EQ("PECOS-8 bench", Find<wxTextCtrl>(dialog, "ID_NAME")->GetValue());
        EXPECT_TRUE(Find<wxCheckBox>(dialog, "ID_USE_RAW_VALUE")->GetValue());
        return wxID_OK;
    });
    EXPECT_EQ(wxID_OK, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha"));
    EXPECT_EQ(3, mSettings.Stores); // each control stored its own value back
    EXPECT_TRUE(mSettings.GetFlag());
    EXPECT_EQ(42, mSettings.GetCount());
    EXPECT_EQ("PECOS-8 bench", mSettings.GetName());
    EXPECT_TRUE(mRaw.GetUseRAW());
}

TEST_F(TabbedDialogTest, APageWithAnEmptyLabelIsStillInitialisedOnce) {
    PanelResourceNameList pages = MakePages();
    int namePageInits = -1;
    SetModalDialogSink([&](wxDialog &) {
        // The premise: an XRC panel of a plain wxPanel class has no label on this platform.
        EXPECT_TRUE(mNamePage->GetLabel().empty());
        namePageInits = mNamePage->InitCount;
        EXPECT_EQ(1, mFlagPage->InitCount);
        return wxID_CANCEL;
    });
    ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha");
    EXPECT_EQ(1, namePageInits);
}

TEST_F(TabbedDialogTest, TheDialogAndItsPagesAreDeletedWhenTheRunEnds) {
    PanelResourceNameList pages = MakePages();
    wxWeakRef<wxPanel> flag(mFlagPage), name(mNamePage), raw(mRawPage);
    wxWeakRef<wxWindow> shownDialog;
    SetModalDialogSink([&](wxDialog &dialog) {
        shownDialog = &dialog;
        return wxID_OK;
    });
    ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha");
    EXPECT_FALSE(shownDialog);
    EXPECT_FALSE(flag);
    EXPECT_FALSE(name);
    EXPECT_FALSE(raw);
    EXPECT_EQ(mHost, wxTopLevelWindows.GetFirst()->GetData());
    EXPECT_EQ(1u, wxTopLevelWindows.GetCount());
}

// A dialog without one of its pages would store a part of the settings: it is not shown.
TEST_F(TabbedDialogTest, APageWhoseResourceIsMissingKeepsTheDialogFromBeingShown) {
    auto *missing = new FlagPage(&mSettings);
    auto *present = new FlagPage(&mSettings);
    wxWeakRef<wxPanel> missingRef(missing), presentRef(present);
    PanelResourceNameList pages;
    PanelResourceNameList::AddUnique(pages, missing, "NoSuchPanel", "Missing");
    pages.push_back(nullptr);
    PanelResourceNameList::AddUnique(pages, nullptr, "TestNamePage", "Without panel");
    PanelResourceNameList::AddUnique(pages, present, "TestFlagPage", "Present");
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &) {
        bSinkRan = true;
        return wxID_OK;
    });
    {
        wxLogNull quiet; // wx reports the missing resource
        EXPECT_EQ(NotShown, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha"));
    }
    EXPECT_FALSE(bSinkRan);
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(L"Dialog ('Alpha') could not be loaded. The configuration window cannot be shown.",
              mBoxes[0].Text);
    EXPECT_FALSE(missingRef);
    EXPECT_FALSE(presentRef);
}

TEST_F(TabbedDialogTest, AnEmptyListSaysTheDialogCouldNotBeLoaded) {
    PanelResourceNameList pages;
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &) {
        bSinkRan = true;
        return wxID_OK;
    });
    EXPECT_EQ(NotShown, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha 50% meter"));
    EXPECT_FALSE(bSinkRan);
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(L"Dialog ('Alpha 50% meter') could not be loaded. The configuration window cannot be shown.",
              mBoxes[0].Text);
    EXPECT_EQ(L"Alpha 50% meter", mBoxes[0].Caption);
    EXPECT_EQ(0x10u, mBoxes[0].Style);
    EXPECT_EQ(HostHandle(), mBoxes[0].Window);
    EXPECT_TRUE(mHost->IsEnabled());
}

TEST_F(TabbedDialogTest, WithoutAPersonTheAnswerComesFromTheEnvironment) {
    SetDistinctValues();
    {
        PanelResourceNameList pages = MakePages();
        EXPECT_EQ(wxID_CANCEL, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha"));
        EXPECT_EQ(0, mSettings.Stores);
    }
    {
        TestSupport::ScopedEnv answer("KORVALIS_DIALOG_ANSWER", "OK");
        PanelResourceNameList pages = MakePages();
        EXPECT_EQ(wxID_OK, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha"));
        EXPECT_EQ(3, mSettings.Stores);
        EXPECT_EQ(42, mSettings.GetCount());
        EXPECT_TRUE(mRaw.GetUseRAW());
    }
}

TEST_F(TabbedDialogTest, AValueThatDoesNotValidateTurnsOkIntoCancel) {
    SetDistinctValues();
    PanelResourceNameList pages = MakePages();
    // A validator that refuses whatever the control holds.
    class Refusing : public wxValidator {
    public:
        wxObject *Clone() const override { return new Refusing; }
        bool Validate(wxWindow *) override { return false; }
        bool TransferToWindow() override { return true; }
        bool TransferFromWindow() override { return true; }
    };
    SetModalDialogSink([](wxDialog &dialog) {
        EditEveryPage(dialog);
        Find<wxTextCtrl>(dialog, "ID_NAME")->SetValidator(Refusing());
        return wxID_OK;
    });
    EXPECT_EQ(wxID_CANCEL, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha"));
    EXPECT_EQ(0, mSettings.Stores);
    EXPECT_TRUE(mRaw.GetUseRAW());
}

// The real modal loop: a timer inside it checks the host and presses OK as a person would.
TEST_F(TabbedDialogTest, ARealModalRunEndsWithTheOkButton) {
    TestSupport::ScopedEnv interactive("KORVALIS_NONINTERACTIVE", "0");
    SetDistinctValues();
    PanelResourceNameList pages = MakePages();
    bool bHostDisabled = false;
    bool bPressed = false;
    int ticks = 0;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent &) {
        ++ticks;
        for (wxWindow *window : wxTopLevelWindows) {
            auto *dialog = dynamic_cast<wxDialog *>(window);
            if (dialog == nullptr || !dialog->IsModal())
                continue;
            if (ticks > 100) { // deadline: ten seconds
                dialog->EndModal(wxID_ABORT);
                return;
            }
            if (!dialog->IsShownOnScreen() || bPressed)
                return;
            bHostDisabled = !mHost->IsEnabled();
            Find<wxTextCtrl>(*dialog, "ID_COUNT")->ChangeValue("9");
            wxWindow *ok = dialog->FindWindow(wxID_OK);
            wxCommandEvent press(wxEVT_BUTTON, wxID_OK);
            press.SetEventObject(ok);
            bPressed = true;
            ok->GetEventHandler()->ProcessEvent(press);
            return;
        }
    });
    timer.Start(100);
    EXPECT_EQ(wxID_OK, ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha"));
    timer.Stop();
    EXPECT_TRUE(bPressed);
    EXPECT_TRUE(bHostDisabled);
    EXPECT_TRUE(mHost->IsEnabled());
    EXPECT_EQ(9, mSettings.GetCount());
    EXPECT_TRUE(mRaw.GetUseRAW());
}

TEST_F(TabbedDialogTest, OffTheGuiThreadNothingIsShownAndThePagesAreDeleted) {
    PanelResourceNameList pages = MakePages();
    wxWeakRef<wxPanel> flag(mFlagPage), raw(mRawPage);
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &) {
        bSinkRan = true;
        return wxID_OK;
    });
    DWORD result = 0;
    std::thread worker([&] { result = ShowTabbedConfigurationPages(HostHandle(), pages, L"Alpha"); });
    worker.join();
    EXPECT_EQ(ResultCode::ConfigurationWindowUnavailable, result);
    EXPECT_FALSE(bSinkRan);
    EXPECT_FALSE(flag);
    EXPECT_FALSE(raw);
    EXPECT_TRUE(mHost->IsEnabled());

    // On the GUI thread the same call offers the window and answers 0 whatever it returned.
    PanelResourceNameList shown = MakePages();
    EXPECT_EQ(0u, ShowTabbedConfigurationPages(HostHandle(), shown, L"Alpha"));
    EXPECT_TRUE(bSinkRan);
}

TEST_F(TabbedDialogTest, AHandleThatIsNoWindowOfOursGivesNoParent) {
    PanelResourceNameList pages = MakePages();
    int foreign = 0;
    wxWindow *parent = mHost;
    SetModalDialogSink([&](wxDialog &dialog) {
        parent = dialog.GetParent();
        return wxID_CANCEL;
    });
    ShowTabbedConfigurationWindow(pages, &foreign, "Alpha");
    EXPECT_EQ(nullptr, parent);
}

TEST_F(TabbedDialogTest, LoadingWritesItsDriverLogLines) {
    DriverRecords records;
    PanelResourceNameList pages = MakePages();
    SetModalDialogSink([](wxDialog &) { return wxID_CANCEL; });
    ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha");
    {
        wxLogNull quiet;
        EXPECT_EQ(nullptr, LoadDialog(mHost, "NoSuchDialog"));
    }
    std::vector<std::wstring> lines;
    for (const Quellin::Record &record : records.Take())
        if (record.Module == L"wxDLLApp" && record.Level == L"DDLOG")
            lines.push_back(record.Value(L"DDL_log_data"));
    const std::vector<std::wstring> expected = {L"Going to LoadDialog", L"Dialog seems to be loaded",
                                                L"Going to LoadDialog",
                                                L"Dialog could NOT be loaded by LoadDialog"};
    EXPECT_EQ(expected, lines);
}

// Saves one PNG per page under <build>/screenshots for a person to look at, once every control of
// the page has been painted.
TEST_F(TabbedDialogTest, ScreenshotsOfEveryPageShowTheirControls) {
    SetDistinctValues();
    PanelResourceNameList pages = MakePages();
    size_t captured = 0;
    SetModalDialogSink([&](wxDialog &dialog) {
        dialog.Show();
        auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
        for (size_t i = 0; tabs != nullptr && i < tabs->GetPageCount(); ++i) {
            tabs->SetSelection(i);
            EXPECT_TRUE(
                Screenshot::Capture(dialog, *tabs->GetPage(i), "tabbed-page-" + std::to_string(i + 1)));
            ++captured;
        }
        return wxID_CANCEL;
    });
    ShowTabbedConfigurationWindow(pages, HostHandle(), "Alpha X1 meter");
    EXPECT_EQ(3u, captured);
}

// A control that paints nothing is reported by name.
TEST_F(TabbedDialogTest, AScreenshotReportsAControlThatShowsNothing) {
    auto *frame = new wxFrame(mHost, wxID_ANY, "blank");
    auto *page = new wxPanel(frame);
    new wxWindow(page, wxID_ANY, wxPoint(10, 10), wxSize(40, 20), 0, "ID_BLANK");
    frame->Show();
    wxImage shot;
    const ::testing::AssertionResult painted =
        Screenshot::WaitUntilPainted(*frame, *page, shot, std::chrono::milliseconds(500));
    EXPECT_FALSE(painted);
    EXPECT_NE(std::string(painted.message()).find("ID_BLANK"), std::string::npos) << painted.message();
    frame->Destroy();
}

// ---- One window object ----------------------------------------------------------------------

class SingleWindowTest : public ConfigurationWindowTest {};

TEST_F(SingleWindowTest, APanelIsShownInsideTheGenericDialog) {
    PageSettings settings;
    settings.SetCount(5);
    auto *page = new FlagPage(&settings);
    wxWeakRef<wxPanel> pageRef(page);
    SetModalDialogSink([&](wxDialog &dialog) {
        EXPECT_EQ("Counts", dialog.GetTitle());
        EXPECT_FALSE(mHost->IsEnabled());
        wxWindow *generic = dialog.FindWindow(GenericPanelName);
        EXPECT_NE(nullptr, generic);
        EXPECT_EQ(generic, page->GetParent());
        EXPECT_EQ(1, page->InitCount);
        EXPECT_EQ("5", Find<wxTextCtrl>(dialog, "ID_COUNT")->GetValue());
        EXPECT_EQ(dialog.GetSize(), dialog.GetMinSize());
        Find<wxTextCtrl>(dialog, "ID_COUNT")->ChangeValue("6");
        return wxID_OK;
    });
    EXPECT_EQ(wxID_OK, ShowConfigurationWindowAsDialog(page, HostHandle(), "TestFlagPage", "Counts"));
    EXPECT_EQ(6, settings.GetCount());
    EXPECT_FALSE(pageRef);
    EXPECT_TRUE(mHost->IsEnabled());
    EXPECT_TRUE(mBoxes.empty());
}

TEST_F(SingleWindowTest, APlainPanelWithAnEmptyLabelIsStillShownAndInitialised) {
    PageSettings settings;
    settings.SetName("bench");
    auto *page = new NamePage(&settings);
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &dialog) {
        bSinkRan = true;
        EXPECT_TRUE(page->GetLabel().empty());
        EXPECT_EQ(1, page->InitCount);
        EXPECT_EQ("bench", Find<wxTextCtrl>(dialog, "ID_NAME")->GetValue());
        return wxID_CANCEL;
    });
    EXPECT_EQ(wxID_CANCEL, ShowConfigurationWindowAsDialog(page, HostHandle(), "TestNamePage", "Name"));
    EXPECT_TRUE(bSinkRan);
}

TEST_F(SingleWindowTest, APanelWhoseResourceIsMissingIsDeletedAndSaysTheDialogCouldNotBeLoaded) {
    PageSettings settings;
    auto *page = new FlagPage(&settings);
    wxWeakRef<wxPanel> pageRef(page);
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &) {
        bSinkRan = true;
        return wxID_OK;
    });
    {
        wxLogNull quiet;
        EXPECT_EQ(NotShown, ShowConfigurationWindowAsDialog(page, HostHandle(), "NoSuchPanel", "Counts"));
    }
    EXPECT_FALSE(bSinkRan);
    EXPECT_FALSE(pageRef);
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(L"Dialog ('Counts') could not be loaded. The configuration window cannot be shown.",
              mBoxes[0].Text);
    EXPECT_EQ(1u, wxTopLevelWindows.GetCount());
    EXPECT_TRUE(mHost->IsEnabled());
}

TEST_F(SingleWindowTest, ADialogClassRunsModallyWithTheGivenTitleAndIsDeletedAfterwards) {
    auto *dialog = new wxDialog;
    wxWeakRef<wxDialog> dialogRef(dialog);
    SetModalDialogSink([&](wxDialog &shown) {
        EXPECT_EQ(dialog, &shown);
        EXPECT_EQ("My Title", shown.GetTitle());
        EXPECT_FALSE(mHost->IsEnabled());
        return wxID_OK;
    });
    EXPECT_EQ(wxID_OK, ShowConfigurationWindowAsDialog(dialog, HostHandle(), "TestTitledDialog", "My Title"));
    EXPECT_FALSE(dialogRef);
    EXPECT_TRUE(mHost->IsEnabled());
}

// A dialog with an empty title is never run: it gives the "debugging" box and is deleted, then the
// box that no dialog comes.
void ExpectDebuggingBoxInsteadOfTheDialog(wxDialog *dialog, HostWindow host,
                                          const std::vector<Platform::MessageBoxRequest> &boxes) {
    wxWeakRef<wxDialog> dialogRef(dialog);
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &) {
        bSinkRan = true;
        return wxID_OK;
    });
    EXPECT_EQ(NotShown, ShowConfigurationWindowAsDialog(dialog, host, "TestUntitledDialog", "Title"));
    EXPECT_FALSE(bSinkRan);
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(L"Name in ShowDialog in IsEmpty(): ", boxes[0].Text);
    EXPECT_EQ(L"debugging", boxes[0].Caption);
    EXPECT_EQ(0x10u, boxes[0].Style);
    EXPECT_EQ(nullptr, boxes[0].Window);
    EXPECT_EQ(L"Dialog ('Title') could not be loaded. The configuration window cannot be shown.",
              boxes[1].Text);
    EXPECT_FALSE(dialogRef);
}

TEST_F(SingleWindowTest, ADialogWithAnEmptyTitleGivesTheDebuggingBoxAndIsNotLeaked) {
    ExpectDebuggingBoxInsteadOfTheDialog(new wxDialog, HostHandle(), mBoxes);
    EXPECT_EQ(1u, wxTopLevelWindows.GetCount());
}

TEST_F(SingleWindowTest, AValidatorBasedDialogWithAnEmptyTitleAlsoGivesTheDebuggingBox) {
    ExpectDebuggingBoxInsteadOfTheDialog(new ValidatorBasedDialog, HostHandle(), mBoxes);
}

TEST_F(SingleWindowTest, AFrameWithAnEmptyTitleGivesTheDebuggingBoxAndIsNotLeaked) {
    auto *frame = new wxFrame;
    wxWeakRef<wxFrame> frameRef(frame);
    EXPECT_EQ(NotShown, ShowConfigurationWindow(frame, HostHandle(), "TestUntitledFrame", "Title", false));
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(L"Name in LoadFrameFromResource in IsEmpty(): ", mBoxes[0].Text);
    EXPECT_EQ(L"debugging", mBoxes[0].Caption);
    EXPECT_FALSE(frameRef);
    EXPECT_EQ(1u, wxTopLevelWindows.GetCount());
}

TEST_F(SingleWindowTest, AFrameIsShownWithoutAModalLoopAndStaysUp) {
    auto *frame = new wxFrame;
    wxWeakRef<wxFrame> frameRef(frame);
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &) {
        bSinkRan = true;
        return wxID_OK;
    });
    EXPECT_EQ(0, ShowConfigurationWindow(frame, HostHandle(), "TestTitledFrame", "Live view", true));
    EXPECT_FALSE(bSinkRan);
    ASSERT_TRUE(frameRef);
    EXPECT_TRUE(frame->IsShown());
    EXPECT_EQ("Live view", frame->GetTitle());
    EXPECT_EQ(mHost, frame->GetParent());
    EXPECT_TRUE(mHost->IsEnabled());
}

TEST_F(SingleWindowTest, OffTheGuiThreadTheObjectIsDeletedAndNothingIsShown) {
    PageSettings settings;
    auto *page = new FlagPage(&settings);
    wxWeakRef<wxPanel> pageRef(page);
    int result = -1;
    std::thread worker(
        [&] { result = ShowConfigurationWindowAsDialog(page, HostHandle(), "TestFlagPage", "Counts"); });
    worker.join();
    EXPECT_EQ(NotShown, result);
    EXPECT_FALSE(pageRef);
    EXPECT_TRUE(mHost->IsEnabled());
}

} // namespace
