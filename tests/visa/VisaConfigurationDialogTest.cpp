// The page of a Visa object: reading stored names, building names, the warning, and the settings.
#include <gtest/gtest.h>

#include "core/ProgramSettingsDatabase.h"
#include "visa/Visa.h"
#include "visa/VisaPageChecks.h"
#include "visa/VisaTestFixtures.h"

using namespace VisaPages;

namespace {

class VisaConfigurationDialogTest : public VisaPageTest {};

TEST_F(VisaConfigurationDialogTest, OpeningAndConfirmingChangesNothing) {
    int n = 0;
    for (const PageCase &c : CommonCases) {
        Visa visa;
        visa.SetResourceName(c.stored);
        OpenAndConfirm(
            c, [&] { visa.ShowConfigurationPanel(HostHandle(), "VISA"); },
            n < 6 ? "visa-configuration-" + std::to_string(++n) : std::string());
        EXPECT_EQ(c.stored, visa.GetResourceName());
    }
}

TEST_F(VisaConfigurationDialogTest, StoredNamesAreReadWithoutRegardToCase) {
    const PageCase cases[] = {
        {"asrl3::instr", "ID_RADRS232", "ID_CBORS232", "COM3"},
        {"TCPIP::192.168.0.9::INSTR", "ID_RADLAN", "ID_TXTLAN", "192.168.0.9"},
    };
    const char *stored[] = {"ASRL3::INSTR", "TCPIP0::192.168.0.9::INSTR"};
    for (size_t i = 0; i < 2; ++i) {
        Visa visa;
        visa.SetResourceName(cases[i].stored);
        OpenAndConfirm(
            cases[i], [&] { visa.ShowConfigurationPanel(HostHandle(), ""); }, "");
        EXPECT_EQ(stored[i], visa.GetResourceName());
    }
}

TEST_F(VisaConfigurationDialogTest, ChoosingLanBuildsTheName) {
    Visa visa;
    visa.SetResourceName("MyAlias");
    OpenAndConfirm(
        CommonCases[1], [&] { visa.ShowConfigurationPanel(HostHandle(), "VISA"); }, "",
        [](wxDialog &dialog) {
            Click(dialog, "ID_RADLAN");
            EXPECT_EQ("TCPIP0::10.10.10.10::INSTR", ControlText(dialog, "ID_TXTVISA"));
            EXPECT_FALSE(dialog.FindWindow("ID_TXTALIAS")->IsEnabled());
            EXPECT_TRUE(dialog.FindWindow("ID_TXTLAN")->IsEnabled());
        });
    EXPECT_EQ("TCPIP0::10.10.10.10::INSTR", visa.GetResourceName());
}

TEST_F(VisaConfigurationDialogTest, TheWarningShowsOnlyWithoutVisa) {
    for (bool bLibrary : {true, false}) {
        VisaTest::LibraryFolder folder(
            bLibrary ? VisaTest::LibraryFolder::Files{{VisaTest::SystemLibrary, VisaTest::SystemLibrary}}
                     : VisaTest::LibraryFolder::Files{});
        Visa visa;
        visa.SetResourceName("GPIB0::12::INSTR");
        OpenAndConfirm(
            CommonCases[3], [&] { visa.ShowConfigurationPanel(HostHandle(), "VISA"); },
            bLibrary ? "" : "visa-configuration-without-visa",
            [&](wxDialog &dialog) {
                for (const char *name : {"ID_TWARNING", "ID_IWARNING", "ID_LWARNING"})
                    EXPECT_EQ(!bLibrary, dialog.FindWindow(name)->IsShown()) << name;
                // The warning names the file looked for.
                EXPECT_EQ(!bLibrary, dialog.FindWindow("ID_TWARNING")->GetLabel().Contains("libvisa32.so"));
            });
        EXPECT_EQ("GPIB0::12::INSTR", visa.GetResourceName());
    }
}

TEST_F(VisaConfigurationDialogTest, TheNameIsStoredUnderVisaIdentifier) {
    const std::string file = mScratch.File("settings.ini");
    TestSupport::WriteFile(file, "[Other]\nIdentifier=x\n");
    Visa visa;
    visa.SetResourceName("kept");
    EXPECT_EQ(0u, visa.LoadConfiguration(nullptr, file.c_str()));
    EXPECT_EQ("kept", visa.GetResourceName());
    visa.SetResourceName("TCPIP0::1.2.3.4::INSTR");
    EXPECT_EQ(0u, visa.SaveConfiguration(nullptr, file.c_str()));
    EXPECT_NE(std::string::npos,
              TestSupport::ReadFile(file).find("[VISA]\nIdentifier=TCPIP0::1.2.3.4::INSTR\n"));
    Visa other;
    other.LoadConfiguration(nullptr, file.c_str());
    EXPECT_EQ("TCPIP0::1.2.3.4::INSTR", other.GetResourceName());
    PanelResourceNameList pages;
    visa.AddConfigurationDialogPanels(nullptr, pages);
    visa.AddConfigurationDialogPanels(nullptr, pages);
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("VisaConfiguration", pages[0]->GetResourceName());
    EXPECT_EQ("VISA", pages[0]->GetTitle());
    DeleteConfigurationPages(pages);
}

} // namespace
