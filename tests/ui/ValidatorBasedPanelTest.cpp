// Configuration pages loaded from XRC: the label of a loaded page, binding in the initialisation
// handler, opening and confirming a page without edits, enabling controls by name and the window
// walk before showing.
#include "ui/ValidatorBasedPanel.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include <wx/frame.h>
#include <wx/notebook.h>
#include <wx/weakref.h>
#include <wx/xrc/xmlres.h>

#include "WxTestEnvironment.h"
#include "core/PanelResourceName.h"
#include "platform/MessageBox.h"
#include "support/TestSupport.h"
#include "ui/wxCustomValidator.h"
#include "ui/wxDecorator.h"

namespace {

const char *const PageResource = R"(<?xml version="1.0" encoding="UTF-8"?>
<resource xmlns="http://www.wxwidgets.org/wxxrc" version="2.5.3.0">
  <object class="wxPanel" name="TestConfigurationPanel">
    <object class="wxBoxSizer">
      <orient>wxVERTICAL</orient>
      <object class="sizeritem"><object class="wxTextCtrl" name="ID_NAME"/></object>
      <object class="sizeritem"><object class="wxTextCtrl" name="ID_NOTES"><style>wxTE_MULTILINE</style></object></object>
      <object class="sizeritem"><object class="wxCheckBox" name="ID_USEFACTOR"><label>Use factor</label></object></object>
      <object class="sizeritem"><object class="wxTextCtrl" name="ID_FACTOR"/></object>
      <object class="sizeritem"><object class="wxComboBox" name="ID_BAUDRATE"/></object>
      <object class="sizeritem"><object class="wxComboBox" name="ID_ADDRESS"/></object>
      <object class="sizeritem"><object class="wxSpinCtrl" name="ID_TIMEOUT"><min>0</min><max>1000</max></object></object>
    </object>
  </object>
  <object class="wxDialog" name="TestConfigurationDialog">
    <object class="wxTextCtrl" name="ID_NAME"/>
  </object>
</resource>
)";

struct PageSettings {
    std::string sName = "PECOS-8";
    std::string sNotes = "first line\nsecond line";
    bool bUseFactor = false;
    double dFactor = 1.25;
    BaudRate eRate = Br19200;
    int nAddress = 12;
    int nTimeout = 250;
    int nStores = 0;

    std::string GetName() const { return sName; }
    void SetName(const std::string &value) { sName = value, ++nStores; }
    std::string GetNotes() const { return sNotes; }
    void SetNotes(const std::string &value) { sNotes = value, ++nStores; }
    bool GetUseFactor() const { return bUseFactor; }
    void SetUseFactor(bool value) { bUseFactor = value, ++nStores; }
    double GetFactor() const { return dFactor; }
    void SetFactor(double value) { dFactor = value, ++nStores; }
    BaudRate GetRate() const { return eRate; }
    void SetRate(BaudRate value) { eRate = value, ++nStores; }
    int GetAddress() const { return nAddress; }
    void SetAddress(int value) { nAddress = value, ++nStores; }
    int GetTimeout() const { return nTimeout; }
    void SetTimeout(int value) { nTimeout = value, ++nStores; }
};

// A page as drivers write them: validators attached in the initialisation handler, dependent
// controls brought up to date, the event skipped. Counts the text events it sees.
class TestPage : public ValidatorBasedPanel {
public:
    explicit TestPage(PageSettings *settings) : mSettings(settings) {
        Bind(wxEVT_INIT_DIALOG, &TestPage::OnInitDialog, this);
        Bind(wxEVT_TEXT, [this](wxCommandEvent &event) {
            ++mTextEvents;
            event.Skip();
        });
    }

    int mTextEvents = 0;

private:
    template <typename V> using Property = wxTemplatePropertyValidator<PageSettings, V>;

    void OnInitDialog(wxInitDialogEvent &event) {
        AttachValidator(
            this, "ID_NAME",
            new Property<std::string>(mSettings, &PageSettings::GetName, &PageSettings::SetName, ""));
        AttachValidator(
            this, "ID_NOTES",
            new Property<std::string>(mSettings, &PageSettings::GetNotes, &PageSettings::SetNotes, ""));
        AttachValidator(
            this, "ID_USEFACTOR",
            new Property<bool>(mSettings, &PageSettings::GetUseFactor, &PageSettings::SetUseFactor, ""));
        AttachValidator(this, "ID_FACTOR",
                        new EnabledValidator(new Property<double>(mSettings, &PageSettings::GetFactor,
                                                                  &PageSettings::SetFactor, "%lg")));
        auto rates = std::make_shared<std::set<BaudRate>>(std::set<BaudRate>{Br9600, Br19200, Br38400});
        AttachValidator(
            this, "ID_BAUDRATE",
            new AllowedSetDecoratorValidator<BaudRate>(
                new Property<BaudRate>(mSettings, &PageSettings::GetRate, &PageSettings::SetRate, ""),
                rates));
        AttachValidator(
            this, "ID_ADDRESS",
            new wxRangeDecoratorValidator<int>(
                new wxComboBoxDecoratorValidator<int>(
                    new Property<int>(mSettings, &PageSettings::GetAddress, &PageSettings::SetAddress, "%d"),
                    0, 30),
                0, 30));
        AttachValidator(
            this, "ID_TIMEOUT",
            new Property<int>(mSettings, &PageSettings::GetTimeout, &PageSettings::SetTimeout, "%d"));
        EnableControl(this, "ID_FACTOR", mSettings->bUseFactor);
        event.Skip();
    }

    PageSettings *mSettings;
};

// The page resource in a private file, loaded once into wx's resource collection.
class ValidatorBasedPanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sDir = new TestSupport::TempDir();
        const std::string path = sDir->File("TestPages.xrc");
        TestSupport::WriteFile(path, PageResource);
        ASSERT_TRUE(wxXmlResource::Get()->Load(wxString::FromUTF8(path)));
    }
    static void TearDownTestSuite() {
        delete sDir;
        sDir = nullptr;
    }

    void SetUp() override { mFrame = new wxFrame(nullptr, wxID_ANY, "pages"); }
    void TearDown() override { delete mFrame; }

    TestPage *LoadPage() {
        auto *page = new TestPage(&mSettings);
        EXPECT_TRUE(wxXmlResource::Get()->LoadPanel(page, mFrame, "TestConfigurationPanel"));
        return page;
    }

    template <typename T> static T *Child(wxWindow *page, const char *name) {
        return dynamic_cast<T *>(page->FindWindow(name));
    }

    static TestSupport::TempDir *sDir;
    PageSettings mSettings;
    wxFrame *mFrame = nullptr;
    TestSupport::MessageBoxRecorder mRecorder{Platform::IdOk};
    std::vector<Platform::MessageBoxRequest> &mBoxes = mRecorder.Boxes;
};

TestSupport::TempDir *ValidatorBasedPanelTest::sDir = nullptr;

} // namespace

TEST_F(ValidatorBasedPanelTest, ALoadedPageWithoutLabelIsKnownByItsName) {
    auto *plain = new wxPanel();
    ASSERT_TRUE(wxXmlResource::Get()->LoadPanel(plain, mFrame, "TestConfigurationPanel"));
    EXPECT_TRUE(plain->GetLabel().empty()) << "GTK gives a loaded panel no label";
    EXPECT_EQ("TestConfigurationPanel", WindowLabelOrName(plain));

    TestPage *page = LoadPage();
    EXPECT_EQ("TestConfigurationPanel", page->GetLabel());
    page->SetLabel("Detector Map");
    EXPECT_EQ("Detector Map", page->GetLabel());
    EXPECT_EQ("Detector Map", WindowLabelOrName(page));

    auto *dialog = new ValidatorBasedDialog();
    ASSERT_TRUE(wxXmlResource::Get()->LoadDialog(dialog, mFrame, "TestConfigurationDialog"));
    EXPECT_EQ("", dialog->GetLabel()) << "a dialog's label is its title, an empty one included";
    dialog->Destroy();
    EXPECT_EQ("", WindowLabelOrName(nullptr));
}

TEST_F(ValidatorBasedPanelTest, OpeningAPageShowsTheSettingsWithoutTextEvents) {
    TestPage *page = LoadPage();
    page->InitDialog();
    EXPECT_EQ("PECOS-8", Child<wxTextCtrl>(page, "ID_NAME")->GetValue());
    EXPECT_EQ("first line\nsecond line", Child<wxTextCtrl>(page, "ID_NOTES")->GetValue());
    EXPECT_FALSE(Child<wxCheckBox>(page, "ID_USEFACTOR")->GetValue());
    EXPECT_EQ("1.25", Child<wxTextCtrl>(page, "ID_FACTOR")->GetValue())
        << "a disabled control is still filled";
    EXPECT_FALSE(Child<wxTextCtrl>(page, "ID_FACTOR")->IsEnabled());
    EXPECT_EQ(3u, Child<wxComboBox>(page, "ID_BAUDRATE")->GetCount());
    EXPECT_EQ("19200", Child<wxComboBox>(page, "ID_BAUDRATE")->GetValue());
    EXPECT_EQ(31u, Child<wxComboBox>(page, "ID_ADDRESS")->GetCount());
    EXPECT_EQ("12", Child<wxComboBox>(page, "ID_ADDRESS")->GetValue());
    EXPECT_EQ(250, Child<wxSpinCtrl>(page, "ID_TIMEOUT")->GetValue());
    EXPECT_EQ(0, page->mTextEvents);
    EXPECT_EQ(0, mSettings.nStores);
}

TEST_F(ValidatorBasedPanelTest, OpeningAndConfirmingWithoutEditsChangesNothing) {
    const PageSettings before = mSettings;
    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE(opening);
        TestPage *page = LoadPage();
        page->InitDialog();
        ASSERT_TRUE(page->Validate());
        ASSERT_TRUE(page->TransferDataFromWindow());
        EXPECT_EQ(before.sName, mSettings.sName);
        EXPECT_EQ(before.sNotes, mSettings.sNotes);
        EXPECT_EQ(before.bUseFactor, mSettings.bUseFactor);
        EXPECT_EQ(before.dFactor, mSettings.dFactor);
        EXPECT_EQ(before.eRate, mSettings.eRate);
        EXPECT_EQ(before.nAddress, mSettings.nAddress);
        EXPECT_EQ(before.nTimeout, mSettings.nTimeout);
        page->Destroy();
    }
    EXPECT_GT(mSettings.nStores, 0);
    EXPECT_TRUE(mBoxes.empty());
}

TEST_F(ValidatorBasedPanelTest, EditsAreStoredOnlyWhenEveryControlValidates) {
    TestPage *page = LoadPage();
    page->InitDialog();
    Child<wxTextCtrl>(page, "ID_NAME")->ChangeValue("PECOS-9");
    Child<wxComboBox>(page, "ID_BAUDRATE")->ChangeValue("4800");
    EXPECT_FALSE(page->Validate());
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(L"The value ('4800') you specified is not valid.\nLowest valid value is 9600.", mBoxes[0].Text);
    EXPECT_EQ("PECOS-8", mSettings.sName);

    Child<wxComboBox>(page, "ID_BAUDRATE")->ChangeValue("38400");
    Child<wxComboBox>(page, "ID_ADDRESS")->ChangeValue("31");
    EXPECT_FALSE(page->Validate()) << "address above 30";
    Child<wxComboBox>(page, "ID_ADDRESS")->ChangeValue("30");
    ASSERT_TRUE(page->Validate());
    ASSERT_TRUE(page->TransferDataFromWindow());
    EXPECT_EQ("PECOS-9", mSettings.sName);
    EXPECT_EQ(Br38400, mSettings.eRate);
    EXPECT_EQ(30, mSettings.nAddress);
}

TEST_F(ValidatorBasedPanelTest, EnableControlFindsTheControlByName) {
    TestPage *page = LoadPage();
    wxWindow *name = page->FindWindow("ID_NAME");
    EnableControl(page, "ID_NAME", false);
    EXPECT_FALSE(name->IsEnabled());
    EnableControl(page, "ID_NOSUCHCONTROL", false);
    EnableControl(nullptr, "ID_NAME", true);
    EXPECT_FALSE(name->IsEnabled());
    for (wxWindowList::compatibility_iterator node = page->GetChildren().GetFirst(); node;
         node = node->GetNext())
        if (node->GetData() != name) {
            EXPECT_TRUE(node->GetData()->IsEnabled()) << node->GetData()->GetName();
        }
    EnableControl(page, "ID_NAME", true);
    EXPECT_TRUE(name->IsEnabled());
}

TEST_F(ValidatorBasedPanelTest, TheWalkClearsTheExtraStyleOfEveryPanelAndNotebookBelowTheRoot) {
    auto *dialog = new wxDialog(mFrame, wxID_ANY, "tabs");
    const long dialogStyle = dialog->GetExtraStyle() | wxWS_EX_BLOCK_EVENTS;
    dialog->SetExtraStyle(dialogStyle);
    auto *notebook = new wxNotebook(dialog, wxID_ANY);
    auto *first = new wxPanel(notebook, wxID_ANY);
    auto *second = new wxPanel(notebook, wxID_ANY);
    notebook->AddPage(first, "first");
    notebook->AddPage(second, "second");
    auto *holder = new wxWindow(second, wxID_ANY);
    auto *nested = new wxPanel(holder, wxID_ANY);
    auto *text = new wxTextCtrl(first, wxID_ANY);
    for (wxWindow *window : std::initializer_list<wxWindow *>{notebook, first, second, holder, nested, text})
        window->SetExtraStyle(wxWS_EX_BLOCK_EVENTS);

    ForEachChildWindow(dialog);
    EXPECT_EQ(dialogStyle, dialog->GetExtraStyle());
    EXPECT_EQ(0, notebook->GetExtraStyle());
    EXPECT_EQ(0, first->GetExtraStyle());
    EXPECT_EQ(0, second->GetExtraStyle());
    EXPECT_EQ(0, nested->GetExtraStyle()) << "the walk descends through windows of any class";
    EXPECT_EQ(wxWS_EX_BLOCK_EVENTS, holder->GetExtraStyle());
    EXPECT_EQ(wxWS_EX_BLOCK_EVENTS, text->GetExtraStyle());

    ForEachChildWindow(nullptr);
    wxObject notAWindow;
    ForEachChildWindow(&notAWindow);
    dialog->Destroy();
}

TEST_F(ValidatorBasedPanelTest, ThePageListKeepsOneEntryPerResourceNameAndTitle) {
    PanelResourceNameList pages;
    pages.push_back(nullptr);
    EXPECT_FALSE(pages.Contains("RAWControlConfigurationPanel", "RAW Settings")) << "null entries skipped";
    auto *first = new wxPanel();
    PanelResourceNameList::AddUnique(pages, first, "RAWControlConfigurationPanel", "RAW Settings");
    EXPECT_TRUE(pages.Contains("RAWControlConfigurationPanel", "RAW Settings"));
    EXPECT_FALSE(pages.Contains("RAWControlConfigurationPanel", "RAW settings")) << "case-sensitive";
    EXPECT_FALSE(pages.Contains("rawcontrolconfigurationpanel", "RAW Settings"));

    // The same page again: one entry, and the panel made for the second registration goes.
    auto *again = new wxPanel();
    wxWeakRef<wxPanel> againRef(again);
    PanelResourceNameList::AddUnique(pages, again, "RAWControlConfigurationPanel", "RAW Settings");
    EXPECT_EQ(2u, pages.size());
    EXPECT_FALSE(againRef);
    PanelResourceNameList::AddUnique(pages, first, "RAWControlConfigurationPanel", "RAW Settings");
    EXPECT_EQ(2u, pages.size());

    // Another title is another page.
    auto *other = new wxPanel();
    PanelResourceNameList::AddUnique(pages, other, "RAWControlConfigurationPanel", "RAW");
    ASSERT_EQ(3u, pages.size());
    EXPECT_EQ(first, pages[1]->GetPanel());
    EXPECT_EQ(other, pages[2]->GetPanel());
    EXPECT_EQ("RAW", pages[2]->GetTitle());
    EXPECT_EQ("RAWControlConfigurationPanel", pages[2]->GetResourceName());
    delete first;
    delete other;
}
