// The page of the network kinds under Xvfb: what OK stores for the address, and a screenshot
// that shows the page painted.
#include <gtest/gtest.h>

#include <wx/textctrl.h>

#include "streams/etherds/EthernetDeviceStream.h"
#include "ui/ConfigurationWindowFixture.h"

namespace {

class EthernetPageTest : public ConfigurationWindowTest {
protected:
    // The configuration's page, shown over the host window and answered by the sink.
    int ShowPage(EthernetDeviceStreamConfig &configuration) {
        PanelResourceNameList pages;
        EXPECT_EQ(0u, configuration.AddConfigurationDialogPanels(HostHandle(), pages));
        EXPECT_EQ(1u, pages.size());
        if (pages.size() != 1)
            return 0;
        EXPECT_EQ("dlgEthernetDeviceStreamConfiguration", pages[0]->GetResourceName());
        EXPECT_EQ("TCPIP", pages[0]->GetTitle());
        return ShowConfigurationWindowAsDialog(pages[0]->GetPanel(), HostHandle(),
                                               pages[0]->GetResourceName(), pages[0]->GetTitle());
    }
};

TEST_F(EthernetPageTest, OkKeepsANormalAddressByteForByteAndStoresAnyOtherInNormalForm) {
    const std::pair<const char *, const char *> cases[] = {
        {"tcpip://10.0.0.7:5025", "tcpip://10.0.0.7:5025"},
        {"tcpip://10.0.0.7", "tcpip://10.0.0.7:7895"},
        {"TCPIP://10.0.0.7:0", "tcpip://10.0.0.7:7895"},
        {"10.0.0.7:5025", "tcpip://192.168.13.89:7895"},
        {"", "tcpip://192.168.13.89:7895"},
    };
    SetModalDialogSink([](wxDialog &) { return wxID_OK; });
    for (const auto &[address, stored] : cases) {
        EthernetDeviceStreamConfig configuration;
        configuration.SetAddress(address);
        EXPECT_EQ(wxID_OK, ShowPage(configuration));
        EXPECT_EQ(stored, configuration.GetAddressText()) << address;
    }
}

TEST_F(EthernetPageTest, WhatTheUserTypesIsStoredAndCancelStoresNothing) {
    EthernetDeviceStreamConfig configuration;
    configuration.SetAddress("tcpip://10.0.0.7:5025");
    SetModalDialogSink([&](wxDialog &dialog) {
        Find<wxTextCtrl>(dialog, "txtAddress")->ChangeValue("tcpip://127.0.0.1:15444");
        return wxID_CANCEL;
    });
    EXPECT_EQ(wxID_CANCEL, ShowPage(configuration));
    EXPECT_EQ("tcpip://10.0.0.7:5025", configuration.GetAddressText());
    SetModalDialogSink([&](wxDialog &dialog) {
        Find<wxTextCtrl>(dialog, "txtAddress")->ChangeValue("tcpip://127.0.0.1:15444");
        return wxID_OK;
    });
    EXPECT_EQ(wxID_OK, ShowPage(configuration));
    EXPECT_EQ("tcpip://127.0.0.1:15444", configuration.GetAddressText());
}

// Saves build/screenshots/ethernet-page.png for a person to look at.
TEST_F(EthernetPageTest, ScreenshotShowsTheAddressField) {
    EthernetDeviceStreamConfig configuration;
    configuration.SetAddress("tcpip://127.0.0.1:15444");
    bool bShown = false;
    SetModalDialogSink([&](wxDialog &dialog) {
        bShown = true;
        dialog.Show();
        auto *address = Find<wxTextCtrl>(dialog, "txtAddress");
        EXPECT_NE(nullptr, address);
        if (address != nullptr) {
            EXPECT_EQ("tcpip://127.0.0.1:15444", address->GetValue());
        }
        EXPECT_TRUE(Screenshot::Capture(dialog, dialog, "ethernet-page"));
        return wxID_CANCEL;
    });
    ShowPage(configuration);
    EXPECT_TRUE(bShown);
}

} // namespace
