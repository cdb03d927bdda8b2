// The RS-232 pages with the language library present: names from the library, enabled flags,
// the offered values, the values taken back on OK, and a screenshot of each page.
#include <gtest/gtest.h>

#include "RS232Pages.h"
#include "core/StandInLibraries.h"
#include "rs232/RS232DeviceDriver.h"

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

} // namespace
