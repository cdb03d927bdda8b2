// The RS-232 pages with the language library present: names from the library, enabled flags,
// the offered values, the values taken back on OK, and a screenshot of each page.
#include <gtest/gtest.h>

#include "RS232Pages.h"
#include "core/StandInLibraries.h"
#include "rs232/RS232DeviceDriver.h"
#include "rs232/RS232DeviceStream.h"

namespace {

const StandIns::LanguageLibraryPresent gLanguage;

TEST_F(RS232PagesTest, AFreshPortShowsItsPortEditableAndTheLineParametersDisabled) {
    RS232DeviceDriver driver;
    Answer("rs232-configuration", [](wxDialog &dialog) {
        const Control port = Inspect(dialog, "ID_COMPORT");
        EXPECT_EQ("1", port.Text);
        EXPECT_TRUE(port.Enabled);
        const Control parity = Inspect(dialog, "ID_PARITY");
        EXPECT_EQ("No parity", parity.Text);
        EXPECT_FALSE(parity.Enabled);
        EXPECT_EQ(
            (std::vector<std::string>{"No parity", "Odd parity", "Even parity", "Mark parity", "Space"}),
            parity.Items);
        const Control rate = Inspect(dialog, "ID_BAUDRATE");
        EXPECT_EQ("19200", rate.Text);
        EXPECT_FALSE(rate.Enabled);
        EXPECT_EQ((std::vector<std::string>{"50", "300", "600", "1200", "2400", "4800", "9600", "19200",
                                            "38400", "57600", "115200", "230400", "460800", "921600"}),
                  rate.Items);
        const Control bits = Inspect(dialog, "ID_DATABITS");
        EXPECT_EQ("8 data bits", bits.Text);
        EXPECT_FALSE(bits.Enabled);
        EXPECT_EQ(4u, bits.Items.size());
        const Control stop = Inspect(dialog, "ID_STOPBITS");
        EXPECT_EQ("1 stop bit", stop.Text);
        EXPECT_FALSE(stop.Enabled);
        EXPECT_EQ((std::vector<std::string>{"1 stop bit", "1.5 stop bits", "2 stop bits"}), stop.Items);
        Find<wxTextCtrl>(dialog, "ID_COMPORT")->ChangeValue("5");
        return wxID_OK;
    });
    EXPECT_EQ(wxID_OK, driver.CreateConfigurationPanel(HostHandle(), "COM settings"));
    EXPECT_TRUE(mShown);
    EXPECT_EQ(5, driver.GetCOMPort());
    EXPECT_EQ(Br19200, driver.GetBaudRate());
    EXPECT_TRUE(mBoxes.empty());
}

TEST_F(RS232PagesTest, TheDriverAddsItsPageOnce) {
    RS232DeviceDriver driver;
    PanelResourceNameList pages;
    driver.AddConfigurationPanel(pages);
    driver.AddConfigurationPanel(pages);
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("RS232Configuration", pages[0]->GetResourceName());
    EXPECT_EQ("RS232", pages[0]->GetTitle());
    DeleteConfigurationPages(pages);
}

TEST_F(RS232PagesTest, TheStreamPageEditsPortLineAndTerminations) {
    RS232DeviceStreamConfiguration configuration;
    configuration.SetCOMPort(2);
    const std::vector<std::string> terminations = {"No termination", "CR", "LF", "CR+LF"};
    Answer("rs232-stream-configuration", [&](wxDialog &dialog) {
        EXPECT_EQ("2", Inspect(dialog, "ID_COMPORT").Text);
        const Control parity = Inspect(dialog, "ID_PARITY");
        EXPECT_EQ("No parity", parity.Text);
        EXPECT_TRUE(parity.Enabled);
        const Control rate = Inspect(dialog, "ID_BAUDRATE");
        EXPECT_EQ("19200", rate.Text);
        EXPECT_EQ(14u, rate.Items.size());
        EXPECT_EQ("8 data bits", Inspect(dialog, "ID_DATABITS").Text);
        EXPECT_EQ("1 stop bit", Inspect(dialog, "ID_STOPBITS").Text);
        const Control send = Inspect(dialog, "ID_SENDTERMINATION");
        EXPECT_EQ("No termination", send.Text);
        EXPECT_EQ(terminations, send.Items);
        EXPECT_EQ(terminations, Inspect(dialog, "ID_RECEIVETERMINATION").Items);
        const Control newLine = Inspect(dialog, "ID_NEWLINERETURNISENDOFSTRING");
        EXPECT_EQ("checked", newLine.Text);
        EXPECT_TRUE(newLine.Enabled);
        Find<wxComboBox>(dialog, "ID_SENDTERMINATION")->SetSelection(3);
        Find<wxComboBox>(dialog, "ID_BAUDRATE")->SetSelection(0);
        Find<wxCheckBox>(dialog, "ID_NEWLINERETURNISENDOFSTRING")->SetValue(false);
        return wxID_OK;
    });
    EXPECT_EQ(static_cast<DWORD>(wxID_OK), configuration.ShowConfigurationDialog(HostHandle(), L"RS-232"));
    EXPECT_EQ(CarrierReturnPlusLineFeed, configuration.GetSendTermination());
    EXPECT_EQ(NoTermination, configuration.GetReceiveTermination());
    EXPECT_EQ(Br50, configuration.GetBaudRate());
    EXPECT_FALSE(configuration.GetNewLineReturnIsEndOfString());
    EXPECT_EQ(2, configuration.GetCOMPort());
}

TEST_F(RS232PagesTest, TheStreamPageDisablesWhatItsFlagsDisable) {
    RS232DeviceStreamConfiguration configuration;
    configuration.SetAllControlsEnabled(false);
    PanelResourceNameList pages;
    EXPECT_EQ(0u, configuration.AddConfigurationDialogPanels(nullptr, pages));
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("RS232StreamConfiguration", pages[0]->GetResourceName());
    EXPECT_EQ("RS-232", pages[0]->GetTitle());
    Answer("rs232-stream-configuration-disabled", [](wxDialog &dialog) {
        EXPECT_TRUE(Inspect(dialog, "ID_COMPORT").Enabled);
        for (const char *name :
             {"ID_PARITY", "ID_BAUDRATE", "ID_DATABITS", "ID_STOPBITS", "ID_SENDTERMINATION",
              "ID_RECEIVETERMINATION", "ID_NEWLINERETURNISENDOFSTRING"})
            EXPECT_FALSE(Inspect(dialog, name).Enabled) << name;
        return wxID_CANCEL;
    });
    ShowTabbedConfigurationWindow(pages, HostHandle(), "Stream");
    EXPECT_TRUE(mShown);
}

} // namespace
