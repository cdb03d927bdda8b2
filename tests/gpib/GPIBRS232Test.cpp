// The GPIB/RS-232 choice: its key at the caller's table, and its dialog and page under Xvfb.
#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/radiobut.h>
#include <wx/timer.h>

#include "core/ProgramSettingsDatabase.h"
#include "gpib/GPIBRS232.h"
#include "gpib/NI488GPIB.h"
#include "rs232/RS232DeviceDriver.h"
#include "ui/ConfigurationWindowFixture.h"

namespace {

// Drivers that reach their instrument either way: the choice and the bus settings are one object.
class GPIBDriverWithChoice : public GPIBRS232, public NI488GPIB {
public:
    GPIBDriverWithChoice() : NI488GPIB(0, 5, 0) {}
};
class RS232DriverWithChoice : public GPIBRS232, public RS232DeviceDriver {};

class GPIBRS232Test : public ConfigurationWindowTest {
protected:
    std::shared_ptr<ProgramSettingsDatabase> OpenDatabase(const std::string &sContents) {
        TestSupport::WriteFile(msFile, sContents);
        auto database = CreateINIProgramSettingsDatabase(msFile);
        database->Open();
        database->PushTable("Stream Config");
        return database;
    }

    static bool Enabled(wxWindow &root, const char *name) { return root.FindWindow(name)->IsEnabled(); }

    static void Press(wxWindow &root, const char *name) {
        wxWindow *button = root.FindWindow(name);
        wxCommandEvent press(wxEVT_BUTTON, button->GetId());
        press.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(press);
    }

    // Presses the set-up button in the choice's dialog; the titles of the dialogs that opened.
    std::vector<std::string> PressInDialog(GPIBRS232 &choice, const char *button) {
        std::vector<std::string> titles;
        SetModalDialogSink([&](wxDialog &dialog) {
            titles.push_back(dialog.GetTitle().utf8_string());
            if (titles.size() == 1)
                Press(dialog, button);
            return wxID_CANCEL;
        });
        choice.ShowConfigurationDialog(HostHandle(), L"Choice");
        return titles;
    }
    static bool Checked(wxWindow &root, const char *name) {
        return Find<wxRadioButton>(root, name)->GetValue();
    }

    TestSupport::TempDir mDir;
    std::string msFile = mDir.File("driver.ini");
};

TEST_F(GPIBRS232Test, CommunicationIsReadAndWrittenAtTheCurrentTable) {
    GPIBRS232 choice;
    auto database = OpenDatabase("[Stream Config]\nCommunication=1\n[Stream Config.GPIB]\nPriAdr=5\n");
    EXPECT_EQ(0u, choice.LoadConfiguration(database));
    EXPECT_TRUE(choice.IsGPIB());
    choice.SetRS232(true);
    EXPECT_EQ(0u, choice.SaveConfiguration(database));
    database->Close();
    EXPECT_NE(std::string::npos, TestSupport::ReadFile(msFile).find("[Stream Config]\nCommunication=0\n"));

    // Absent key: the current value stays.
    GPIBRS232 other;
    other.SetCommunication(7);
    auto empty = OpenDatabase("");
    other.LoadConfiguration(empty);
    EXPECT_EQ(7, other.GetCommunication());
    EXPECT_TRUE(other.IsRS232());

    std::shared_ptr<ProgramSettingsDatabase> none;
    EXPECT_EQ(0u, other.LoadConfiguration(none));
    EXPECT_EQ(0u, other.SaveConfiguration(none));
    EXPECT_EQ(7, other.GetCommunication());
}

TEST_F(GPIBRS232Test, TheDialogShowsTheStoredChoiceAndStoresTheNewOne) {
    for (const int stored : {1, 0, 5}) {
        GPIBRS232 choice;
        choice.SetCommunication(stored);
        const bool bGPIB = stored == 1;
        std::string title;
        SetModalDialogSink([&](wxDialog &dialog) {
            title = dialog.GetTitle().utf8_string();
            dialog.Show();
            Pump([&] { return dialog.IsShownOnScreen(); });
            EXPECT_EQ(bGPIB, Checked(dialog, "ID_GPIBRADIO")) << stored;
            EXPECT_EQ(!bGPIB, Checked(dialog, "ID_RS232RADIO")) << stored;
            EXPECT_EQ(bGPIB, Enabled(dialog, "ID_GPIBSETUP")) << stored;
            EXPECT_EQ(!bGPIB, Enabled(dialog, "ID_RS232SETUP")) << stored;
            // The person picks the other one.
            wxRadioButton *other = Find<wxRadioButton>(dialog, bGPIB ? "ID_RS232RADIO" : "ID_GPIBRADIO");
            other->SetValue(true);
            wxCommandEvent pick(wxEVT_RADIOBUTTON, other->GetId());
            pick.SetEventObject(other);
            other->GetEventHandler()->ProcessEvent(pick);
            EXPECT_EQ(!bGPIB, Enabled(dialog, "ID_GPIBSETUP")) << stored;
            EXPECT_EQ(bGPIB, Enabled(dialog, "ID_RS232SETUP")) << stored;
            return wxID_OK;
        });
        EXPECT_EQ(0u, choice.ShowConfigurationDialog(HostHandle(), L"GPIB/RS232"));
        EXPECT_EQ("GPIB/RS232TEST", title);
        EXPECT_EQ(bGPIB ? 0 : 1, choice.GetCommunication()) << stored;
    }
}

// A real modal run: the set-up buttons follow the stored choice when the person first sees them.
TEST_F(GPIBRS232Test, ARealModalRunOpensWithTheSetupButtonOfTheStoredChoice) {
    TestSupport::ScopedEnv interactive("KORVALIS_NONINTERACTIVE", "0");
    for (const bool bGPIB : {false, true}) {
        GPIBRS232 choice;
        choice.SetGPIB(bGPIB);
        bool bGPIBSetup = !bGPIB, bRS232Setup = bGPIB;
        const bool bSeen =
            InspectModalDialog([&] { choice.ShowConfigurationDialog(HostHandle(), L"GPIB/RS232"); },
                               [&](wxDialog &dialog) {
                                   bGPIBSetup = Enabled(dialog, "ID_GPIBSETUP");
                                   bRS232Setup = Enabled(dialog, "ID_RS232SETUP");
                               });
        ASSERT_TRUE(bSeen);
        EXPECT_EQ(bGPIB, bGPIBSetup);
        EXPECT_EQ(!bGPIB, bRS232Setup);
    }
}

TEST_F(GPIBRS232Test, ThePageIsOneTabAndItsSetupButtonsDoNothingForAFreeStandingChoice) {
    GPIBRS232 choice;
    PanelResourceNameList pages;
    EXPECT_EQ(0u, choice.AddConfigurationPanel(HostHandle(), pages));
    EXPECT_EQ(0u, choice.AddConfigurationPanel(HostHandle(), pages));
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("GPIBRS232Panel", pages[0]->GetResourceName());
    EXPECT_EQ("GPIB/RS232", pages[0]->GetTitle());
    SetModalDialogSink([&](wxDialog &dialog) {
        dialog.Show();
        // Shown, and the set-up buttons follow the choice (RS-232 by default).
        Pump([&] { return dialog.IsShownOnScreen() && !dialog.FindWindow("ID_GPIBSETUP")->IsEnabled(); });
        SaveScreenshot(dialog, "gpib-rs232-choice");
        const size_t windows = wxTopLevelWindows.GetCount();
        for (const char *name : {"ID_RS232SETUP", "ID_GPIBSETUP"}) {
            wxWindow *button = dialog.FindWindow(name);
            wxCommandEvent press(wxEVT_BUTTON, button->GetId());
            press.SetEventObject(button);
            button->GetEventHandler()->ProcessEvent(press);
        }
        EXPECT_EQ(windows, wxTopLevelWindows.GetCount());
        return wxID_CANCEL;
    });
    ShowTabbedConfigurationWindow(pages, HostHandle(), "Driver");
    EXPECT_TRUE(mBoxes.empty());
}

TEST_F(GPIBRS232Test, EachSetupButtonOpensTheSettingsOfTheSameDriver) {
    GPIBDriverWithChoice gpib;
    gpib.SetGPIB(true);
    EXPECT_EQ((std::vector<std::string>{"ChoiceTEST", "GPIB Configuration"}),
              PressInDialog(gpib, "ID_GPIBSETUP"));
    // Not an RS-232 driver: its button does nothing.
    EXPECT_EQ((std::vector<std::string>{"ChoiceTEST"}), PressInDialog(gpib, "ID_RS232SETUP"));

    RS232DriverWithChoice rs232;
    EXPECT_EQ((std::vector<std::string>{"ChoiceTEST", "RS232 Configuration"}),
              PressInDialog(rs232, "ID_RS232SETUP"));
    EXPECT_EQ((std::vector<std::string>{"ChoiceTEST"}), PressInDialog(rs232, "ID_GPIBSETUP"));
}

} // namespace
