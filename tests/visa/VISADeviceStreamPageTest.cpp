// The VISA stream configuration's page: stored names read exactly as written, OK without an edit
// keeps the name, screenshots of each.
#include <gtest/gtest.h>

#include "visa/VISADeviceStream.h"
#include "visa/VisaPageChecks.h"

using namespace VisaPages;

namespace {

class VISAStreamPageTest : public VisaPageTest {
protected:
    void OpenAndConfirm(const PageCase &c, const std::string &screenshot, const std::string &expected,
                        const std::function<void(wxDialog &)> &edit = nullptr) {
        VISADeviceStreamConfiguration configuration;
        configuration.SetIdentifier(VISAIdentifier(c.stored));
        VisaPageTest::OpenAndConfirm(
            c, [&] { configuration.ShowConfigurationDialog(HostHandle(), L"VISA"); }, screenshot, edit);
        EXPECT_EQ(expected, configuration.GetResourceName());
    }
};

TEST_F(VISAStreamPageTest, OpeningAndConfirmingChangesNothing) {
    int n = 0;
    for (const PageCase &c : CommonCases)
        OpenAndConfirm(c, n < 6 ? "visa-stream-configuration-" + std::to_string(++n) : std::string(),
                       c.stored);
}

TEST_F(VISAStreamPageTest, StoredNamesAreReadExactlyAsWritten) {
    OpenAndConfirm({"asrl3::instr", "ID_RADVISA", "ID_TXTVISA", "asrl3::instr"}, "", "asrl3::instr");
    OpenAndConfirm({"TCPIP::192.168.0.9::INSTR", "ID_RADVISA", "ID_TXTLAN", "10.10.10.10"}, "",
                   "TCPIP::192.168.0.9::INSTR");
}

TEST_F(VISAStreamPageTest, EditsBuildTheName) {
    OpenAndConfirm(CommonCases[0], "", "TCPIP0::10.10.10.10::INSTR",
                   [](wxDialog &dialog) { Click(dialog, "ID_RADLAN"); });
    OpenAndConfirm(CommonCases[2], "", "ASRL3::INSTR", [](wxDialog &dialog) {
        Click(dialog, "ID_RADVISA");
        auto *text = dynamic_cast<wxTextCtrl *>(dialog.FindWindow("ID_TXTVISA"));
        ASSERT_NE(nullptr, text);
        EXPECT_TRUE(text->IsEnabled());
        EXPECT_EQ("ASRL3::INSTR", ToStdString(text->GetValue()));
    });
    OpenAndConfirm(CommonCases[2], "", "USB0::1::2::3::INSTR", [](wxDialog &dialog) {
        Click(dialog, "ID_RADVISA");
        dynamic_cast<wxTextCtrl *>(dialog.FindWindow("ID_TXTVISA"))->SetValue("USB0::1::2::3::INSTR");
    });
}

TEST_F(VISAStreamPageTest, ThePageIsOfferedOnceTitledVisa) {
    VISADeviceStreamConfiguration configuration;
    PanelResourceNameList pages;
    configuration.AddConfigurationDialogPanels(nullptr, pages);
    configuration.AddConfigurationDialogPanels(nullptr, pages);
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("VisaConfiguration", pages[0]->GetResourceName());
    EXPECT_EQ("VISA", pages[0]->GetTitle());
    DeleteConfigurationPages(pages);
}

} // namespace
