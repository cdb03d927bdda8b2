// The RS-232 settings page with the language library missing: every name is the load failure
// text, the rates are still numbers, and the page still binds and stores. The names are taken
// once per process, so this is a program of its own.
#include <gtest/gtest.h>

#include "RS232Pages.h"
#include "core/LanguageLibrary.h"
#include "core/StandInLibraries.h"
#include "rs232/RS232DeviceDriver.h"

namespace {

const StandIns::LanguageLibraryMissing gLanguage;

TEST_F(RS232PagesTest, ThePageShowsTheLoadFailureTextForEveryName) {
    if (!StandIns::LanguageLibraryMissing::ReallyMissing())
        GTEST_SKIP() << "the language library is still loadable";
    RS232DeviceDriver driver;
    driver.SetCOMPort(3);
    Answer("rs232-configuration-without-language", [](wxDialog &dialog) {
        EXPECT_EQ("3", Inspect(dialog, "ID_COMPORT").Text);
        EXPECT_EQ(TovikLangLoadFailureText, Inspect(dialog, "ID_PARITY").Text);
        EXPECT_EQ(TovikLangLoadFailureText, Inspect(dialog, "ID_DATABITS").Text);
        EXPECT_EQ(TovikLangLoadFailureText, Inspect(dialog, "ID_STOPBITS").Text);
        EXPECT_EQ("19200", Inspect(dialog, "ID_BAUDRATE").Text);
        Find<wxTextCtrl>(dialog, "ID_COMPORT")->ChangeValue("4");
        return wxID_OK;
    });
    EXPECT_EQ(wxID_OK, driver.CreateConfigurationPanel(HostHandle(), "COM settings"));
    EXPECT_EQ(4, driver.GetCOMPort());
    EXPECT_EQ(None, driver.GetParity());
    EXPECT_EQ(Data8, driver.GetDataBits());
}

} // namespace
