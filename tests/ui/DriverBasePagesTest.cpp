// The frequency-limit dialog, the antenna efficiency page and the ModBus address dialog under
// Xvfb: what each shows of its driver, what it stores on OK, and a screenshot of each.
#include <gtest/gtest.h>

#include <wx/spinctrl.h>
#include <wx/timer.h>

#include "ConfigurationWindowFixture.h"
#include "core/AntennaBase.h"
#include "core/DeviceDriverBase.h"
#include "core/FrequencyLimitedDriverBase.h"
#include "rs232/ModBusDeviceDriver.h"
#include "ui/AntennaEfficiencyPanel.h"
#include "ui/FrequencyLimitedDriverBaseDialog.h"
#include "rs232/ModBusConfigurationDialog.h"

namespace {

class RangedDriver : public FrequencyLimitedDriverBase {
public:
    FrequencyBase<9> GetDefaultStartFrequency() const override { return FrequencyBase<9>(DefaultStart); }
    FrequencyBase<9> GetDefaultStopFrequency() const override { return FrequencyBase<9>(DefaultStop); }
    double DefaultStart = 0.15; // MHz
    double DefaultStop = 6000.0;
};

class DriverBasePagesTest : public ConfigurationWindowTest {
protected:
    // Shows the window modally through the sink, which shows the dialog first (so that it gets
    // its show event) and then runs the check.
    int Run(wxWindow *window, const char *resource, const std::function<int(wxDialog &)> &check) {
        SetModalDialogSink([&](wxDialog &dialog) {
            dialog.Show();
            Pump([&] { return dialog.IsShownOnScreen(); });
            return check(dialog);
        });
        return ShowConfigurationWindowAsDialog(window, HostHandle(), resource, "Settings");
    }

    static void Click(wxCheckBox *box, bool bValue) {
        box->SetValue(bValue);
        wxCommandEvent click(wxEVT_CHECKBOX, box->GetId());
        click.SetEventObject(box);
        click.SetInt(bValue ? 1 : 0);
        box->GetEventHandler()->ProcessEvent(click);
    }
};

TEST_F(DriverBasePagesTest, FrequencyDialogNamesTheDefaultsAndStoresOnlyEnabledFields) {
    RangedDriver driver;
    driver.SetUseDefaultStartFrequency(true);
    driver.SetStartFrequency(FrequencyBase<9>(10.0));
    driver.SetUseDefaultStopFrequency(false);
    driver.SetStopFrequency(FrequencyBase<9>(1000.0));
    const int answer = Run(new FrequencyLimitedDriverBaseDialog(&driver), "FrequencyLimitedDriverBaseDialog",
                           [&](wxDialog &dialog) {
                               EXPECT_EQ("Use default st&art frequency of 150.0 kHz",
                                         Find<wxCheckBox>(dialog, "ID_USEDEFAULTSTART")->GetLabel());
                               EXPECT_EQ("Use default stop &frequency of 6.0 GHz",
                                         Find<wxCheckBox>(dialog, "ID_USEDEFAULTSTOP")->GetLabel());
                               EXPECT_TRUE(Find<wxCheckBox>(dialog, "ID_USEDEFAULTSTART")->IsChecked());
                               EXPECT_EQ("10", Find<wxTextCtrl>(dialog, "ID_STARTFREQ")->GetValue());
                               EXPECT_EQ("1000", Find<wxTextCtrl>(dialog, "ID_STOPFREQ")->GetValue());
                               for (const char *name : {"ID_STARTTEXT1", "ID_STARTFREQ", "ID_STARTTEXT2"})
                                   EXPECT_FALSE(dialog.FindWindow(name)->IsEnabled()) << name;
                               for (const char *name : {"ID_STOPTEXT1", "ID_STOPFREQ", "ID_STOPTEXT2"})
                                   EXPECT_TRUE(dialog.FindWindow(name)->IsEnabled()) << name;
                               SaveScreenshot(dialog, "frequency-limits");
                               Find<wxTextCtrl>(dialog, "ID_STARTFREQ")->ChangeValue("not a number");
                               Find<wxTextCtrl>(dialog, "ID_STOPFREQ")->ChangeValue("2500.125");
                               return wxID_OK;
                           });
    EXPECT_EQ(wxID_OK, answer);
    EXPECT_TRUE(driver.GetUseDefaultStartFrequency());
    EXPECT_EQ(FrequencyBase<9>(10.0).GetRaw(), driver.GetStartFrequency().GetRaw());
    EXPECT_FALSE(driver.GetUseDefaultStopFrequency());
    EXPECT_EQ(FrequencyBase<9>(2500.125).GetRaw(), driver.GetStopFrequency().GetRaw());
}

TEST_F(DriverBasePagesTest, TickingAUseDefaultBoxSwitchesItsFieldsOffAndClearingItOn) {
    RangedDriver driver;
    driver.SetUseDefaultStartFrequency(false);
    driver.SetUseDefaultStopFrequency(false);
    const int answer = Run(new FrequencyLimitedDriverBaseDialog(&driver), "FrequencyLimitedDriverBaseDialog",
                           [&](wxDialog &dialog) {
                               EXPECT_TRUE(dialog.FindWindow("ID_STOPFREQ")->IsEnabled());
                               Click(Find<wxCheckBox>(dialog, "ID_USEDEFAULTSTOP"), true);
                               for (const char *name : {"ID_STOPTEXT1", "ID_STOPFREQ", "ID_STOPTEXT2"})
                                   EXPECT_FALSE(dialog.FindWindow(name)->IsEnabled()) << name;
                               EXPECT_TRUE(dialog.FindWindow("ID_STARTFREQ")->IsEnabled());
                               Click(Find<wxCheckBox>(dialog, "ID_USEDEFAULTSTOP"), false);
                               EXPECT_TRUE(dialog.FindWindow("ID_STOPFREQ")->IsEnabled());
                               Click(Find<wxCheckBox>(dialog, "ID_USEDEFAULTSTART"), true);
                               Find<wxTextCtrl>(dialog, "ID_STARTFREQ")->ChangeValue("77");
                               return wxID_OK;
                           });
    EXPECT_EQ(wxID_OK, answer);
    EXPECT_TRUE(driver.GetUseDefaultStartFrequency());
    EXPECT_EQ(0, driver.GetStartFrequency().GetRaw());
    EXPECT_FALSE(driver.GetUseDefaultStopFrequency());
}

TEST_F(DriverBasePagesTest, TheDefaultLabelsFollowAChangedDefaultOnTheNextShowing) {
    RangedDriver driver;
    auto *dialog = new FrequencyLimitedDriverBaseDialog(&driver);
    Run(dialog, "FrequencyLimitedDriverBaseDialog", [&](wxDialog &shown) {
        driver.DefaultStop = 18000.0;
        shown.Hide();
        shown.Show();
        EXPECT_EQ("Use default stop &frequency of 18.0 GHz",
                  Find<wxCheckBox>(shown, "ID_USEDEFAULTSTOP")->GetLabel());
        return wxID_CANCEL;
    });
}

// A real modal run: the fields of a stored use-default choice are off when the person first sees
// the dialog.
TEST_F(DriverBasePagesTest, ARealModalRunOpensWithTheDefaultFieldsSwitchedOff) {
    TestSupport::ScopedEnv interactive("KORVALIS_NONINTERACTIVE", "0");
    RangedDriver driver;
    driver.SetUseDefaultStartFrequency(true);
    driver.SetUseDefaultStopFrequency(false);
    bool bStartEnabled = true, bStopEnabled = false;
    const bool bSeen = InspectModalDialog(
        [&] {
            ShowConfigurationWindowAsDialog(new FrequencyLimitedDriverBaseDialog(&driver), HostHandle(),
                                            "FrequencyLimitedDriverBaseDialog", "Limits");
        },
        [&](wxDialog &dialog) {
            bStartEnabled = dialog.FindWindow("ID_STARTFREQ")->IsEnabled();
            bStopEnabled = dialog.FindWindow("ID_STOPFREQ")->IsEnabled();
        });
    ASSERT_TRUE(bSeen);
    EXPECT_FALSE(bStartEnabled);
    EXPECT_TRUE(bStopEnabled);
}

TEST_F(DriverBasePagesTest, EfficiencyRunsFromZeroToOneInHundredths) {
    AntennaBase antenna;
    antenna.SetEfficiency(0.75);
    const int answer =
        Run(new AntennaEfficiencyPanel(&antenna), "AntennaEfficiencyPanel", [&](wxDialog &dialog) {
            auto *spin = Find<wxSpinCtrlDouble>(dialog, "ID_EFFICIENCY");
            EXPECT_EQ(0.0, spin->GetMin());
            EXPECT_EQ(1.0, spin->GetMax());
            EXPECT_DOUBLE_EQ(0.01, spin->GetIncrement());
            EXPECT_EQ(2u, spin->GetDigits());
            EXPECT_DOUBLE_EQ(0.75, spin->GetValue());
            SaveScreenshot(dialog, "antenna-efficiency");
            spin->SetValue(0.42);
            return wxID_OK;
        });
    EXPECT_EQ(wxID_OK, answer);
    EXPECT_DOUBLE_EQ(0.42, antenna.GetEfficiency());
}

TEST_F(DriverBasePagesTest, ModBusAddressIsShownAndStoredAsOneByte) {
    ModBusDeviceDriver driver;
    driver.SetAddress(17);
    const int answer =
        Run(new ModBusConfigurationDialog(&driver), "ModBusConfigurationDialog", [&](wxDialog &dialog) {
            EXPECT_EQ("17", Find<wxTextCtrl>(dialog, "ID_ADDRESS")->GetValue());
            EXPECT_NE(nullptr, dialog.FindWindow("ID_COMPORT"));
            SaveScreenshot(dialog, "modbus-address");
            Find<wxTextCtrl>(dialog, "ID_ADDRESS")->ChangeValue("247");
            return wxID_OK;
        });
    EXPECT_EQ(wxID_OK, answer);
    EXPECT_EQ(247, driver.GetAddress());
}

// A ModBus driver talks through its serial port: the port button opens the port's settings.
TEST_F(DriverBasePagesTest, ThePortButtonOpensTheSerialSettingsOfTheDriversPort) {
    ModBusDeviceDriver driver;
    std::vector<std::string> titles;
    SetModalDialogSink([&](wxDialog &dialog) {
        titles.push_back(dialog.GetTitle().utf8_string());
        if (titles.size() == 1) {
            wxWindow *button = dialog.FindWindow("ID_COMPORT");
            wxCommandEvent press(wxEVT_BUTTON, button->GetId());
            press.SetEventObject(button);
            button->GetEventHandler()->ProcessEvent(press);
        }
        return wxID_CANCEL;
    });
    ShowConfigurationWindowAsDialog(new ModBusConfigurationDialog(&driver), HostHandle(),
                                    "ModBusConfigurationDialog", "ModBus");
    EXPECT_EQ((std::vector<std::string>{"ModBus", "RS232 Configuration"}), titles);
}

} // namespace
