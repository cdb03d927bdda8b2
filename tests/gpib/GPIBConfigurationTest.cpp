// The GPIB address settings in an INI file and their page "GPIBConfiguration" under Xvfb.
#include "gpib/NI488GPIB.h"

#include <wx/combobox.h>

#include "core/ProgramSettingsDatabase.h"
#include "core/StandInLibraries.h"
#include "ui/ConfigurationWindowFixture.h"

namespace {

class GPIBSettingsTest : public ::testing::Test {
protected:
    std::shared_ptr<ProgramSettingsDatabase> Open(const std::string &content) {
        TestSupport::WriteFile(mFile, content);
        auto database = CreateINIProgramSettingsDatabase(mFile);
        database->Open();
        return database;
    }
    TestSupport::TempDir mDir;
    std::string mFile = mDir.File("settings.ini");
};

TEST_F(GPIBSettingsTest, LoadReadsTheTableAndFillsAMissingWait) {
    auto database = Open("[GPIB]\nBoard=1\nPriAdr=7\nSecAdr=96\nWait=0\nClear=FALSE\n"
                         "[Other]\nPriAdr=9\nWait=200\n[Other.GPIB]\nPriAdr=11\n");
    NI488GPIBConfiguration configuration(0, 5, 0);
    configuration.SetForcedWait(500);
    EXPECT_EQ(0u, configuration.LoadProgramSettings(nullptr, database, ""));
    EXPECT_EQ("GPIB:1,7,96", configuration.GetIdentifier());
    EXPECT_EQ(500u, configuration.GetWait());
    EXPECT_FALSE(configuration.GetClearDevice());
    EXPECT_TRUE(configuration.GetReaddress());
    EXPECT_EQ(0u, configuration.LoadProgramSettings(nullptr, database, "Other"));
    EXPECT_EQ("GPIB:1,9,96", configuration.GetIdentifier());
    EXPECT_EQ(200u, configuration.GetWait());
    std::shared_ptr<ProgramSettingsDatabase> none;
    EXPECT_EQ(0u, configuration.LoadProgramSettings(nullptr, none, ""));
}

TEST_F(GPIBSettingsTest, SaveWritesEveryKeyAndTheDriverCouplesWaitWithTheBusDelay) {
    auto database = Open("[GPIB]\nWait=300\n");
    NI488GPIB gpib(0, 5, 0);
    EXPECT_EQ(0u, gpib.LoadProgramSettings(nullptr, database, ""));
    EXPECT_EQ(300u, gpib.GetLibrary().GetBusDelay());
    gpib.GetLibrary().SetBusDelay(700);
    gpib.SetReaddress(false);
    EXPECT_EQ(0u, gpib.SaveProgramSettings(nullptr, database, ""));
    database->Close();
    EXPECT_EQ("[GPIB]\nWait=700\nBoard=0\nPriAdr=5\nSecAdr=0\nClear=1\nReaddress=0\n",
              TestSupport::ReadFile(mFile));
}

TEST_F(GPIBSettingsTest, IdentifierValidityAndCopy) {
    NI488GPIBConfiguration source(2, 0, 100);
    EXPECT_EQ("GPIB:2,0,100", source.GetIdentifier());
    EXPECT_FALSE(source.IsValid());
    source.SetPrimaryAddress(4);
    EXPECT_TRUE(source.IsValid());
    source.SetWait(40);
    source.SetForcedWait(900);
    source.SetClearDevice(false);
    NI488GPIB target(0, 1, 0);
    target.CopyFrom(source);
    EXPECT_EQ("GPIB:2,4,100", target.GetIdentifier());
    EXPECT_EQ(40u, target.GetLibrary().GetBusDelay());
    EXPECT_FALSE(target.GetClearDevice());
    EXPECT_EQ(0u, target.GetForcedWait());
}

// ---- The page ------------------------------------------------------------------------------------

class GPIBPageTest : public ConfigurationWindowTest {
protected:
    StandIns::LanguageLibraryPresent mLanguage;
};

std::vector<std::string> Items(wxComboBox *combo) {
    std::vector<std::string> items;
    for (unsigned i = 0; combo != nullptr && i < combo->GetCount(); ++i)
        items.push_back(combo->GetString(i).ToStdString());
    return items;
}

TEST_F(GPIBPageTest, DefaultConfigurationHidesTheAdvancedGroupAndOkStores) {
    NI488GPIBConfiguration configuration(0, 5, 0);
    SetModalDialogSink([&](wxDialog &dialog) {
        auto *primary = Find<wxComboBox>(dialog, "cboPrimaryAdress");
        auto *secondary = Find<wxComboBox>(dialog, "cboSecondaryAdress");
        auto *board = Find<wxComboBox>(dialog, "cboGPIBBoard");
        auto *advanced = Find<wxCheckBox>(dialog, "chkAdvancedConfiguration");
        auto *group = dialog.FindWindow("ID_ENABLEDISABLEITEM");
        EXPECT_TRUE(primary && secondary && board && advanced && group);
        if (!(primary && secondary && board && advanced && group))
            return wxID_CANCEL;
        EXPECT_EQ(31u, primary->GetCount());
        EXPECT_EQ("5", primary->GetValue());
        EXPECT_EQ((std::vector<std::string>{"GPIB0", "GPIB1", "GPIB2", "GPIB3"}), Items(board));
        EXPECT_EQ("GPIB0", board->GetValue());
        EXPECT_EQ(32u, secondary->GetCount());
        EXPECT_EQ("96", Items(secondary)[1]);
        EXPECT_EQ("126", Items(secondary).back());
        EXPECT_FALSE(advanced->IsChecked());
        EXPECT_FALSE(group->IsEnabled());
        // The user checks "Advanced configuration" and picks board 2, address 7, secondary 100.
        advanced->SetValue(true);
        wxCommandEvent check(wxEVT_CHECKBOX, advanced->GetId());
        check.SetEventObject(advanced);
        check.SetInt(1);
        advanced->GetEventHandler()->ProcessEvent(check);
        EXPECT_TRUE(group->IsEnabled());
        primary->SetSelection(7);
        board->SetSelection(2);
        secondary->SetSelection(5);
        Find<wxTextCtrl>(dialog, "txtGPIBDelay")->ChangeValue("250");
        Find<wxCheckBox>(dialog, "ID_CLEARDEVICE")->SetValue(false);
        return wxID_OK;
    });
    auto *page = new NI488GPIBConfigurationDialog(&configuration);
    EXPECT_EQ(wxID_OK, ShowConfigurationWindowAsDialog(page, HostHandle(), "GPIBConfiguration", "GPIB"));
    EXPECT_EQ("GPIB:2,7,100", configuration.GetIdentifier());
    EXPECT_EQ(250u, configuration.GetWait());
    EXPECT_FALSE(configuration.GetClearDevice());
    EXPECT_TRUE(configuration.GetReaddress());
}

TEST_F(GPIBPageTest, AnyAdvancedSettingShowsTheGroup) {
    const struct {
        const char *Title;
        int Board, Secondary;
        DWORD Wait;
        bool Clear, Readdress;
    } cases[] = {{"board", 1, 0, 0, true, true},
                 {"secondary", 0, 96, 0, true, true},
                 {"wait", 0, 0, 10, true, true},
                 {"clear", 0, 0, 0, false, true},
                 {"readdress", 0, 0, 0, true, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Title);
        NI488GPIBConfiguration configuration(c.Board, 5, c.Secondary);
        configuration.SetWait(c.Wait);
        configuration.SetClearDevice(c.Clear);
        configuration.SetReaddress(c.Readdress);
        bool checked = false, enabled = false;
        SetModalDialogSink([&](wxDialog &dialog) {
            checked = Find<wxCheckBox>(dialog, "chkAdvancedConfiguration")->IsChecked();
            enabled = dialog.FindWindow("ID_ENABLEDISABLEITEM")->IsEnabled();
            return wxID_CANCEL;
        });
        ShowConfigurationWindowAsDialog(new NI488GPIBConfigurationDialog(&configuration), HostHandle(),
                                        "GPIBConfiguration", "GPIB");
        EXPECT_TRUE(checked);
        EXPECT_TRUE(enabled);
    }
}

TEST_F(GPIBPageTest, DriverAddsItsPageOnceAndScreenshotShowsIt) {
    NI488GPIB gpib(0, 5, 96);
    gpib.SetWait(100);
    PanelResourceNameList pages;
    EXPECT_EQ(0u, gpib.AddConfigurationPanel(nullptr, pages));
    EXPECT_EQ(0u, gpib.AddConfigurationPanel(nullptr, pages));
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("GPIBConfiguration", pages[0]->GetResourceName());
    EXPECT_EQ("GPIB", pages[0]->GetTitle());

    bool bShown = false;
    SetModalDialogSink([&](wxDialog &dialog) {
        bShown = true;
        dialog.Show();
        auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
        EXPECT_TRUE(
            Screenshot::Capture(dialog, tabs != nullptr ? *tabs->GetPage(0) : dialog, "gpib-configuration"));
        return wxID_CANCEL;
    });
    ShowTabbedConfigurationWindow(pages, HostHandle(), "GPIB device");
    EXPECT_TRUE(bShown);
}

} // namespace
