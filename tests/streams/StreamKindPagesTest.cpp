// The pages of the UDP, HTTP and manual kinds under Xvfb: the network kinds share the address
// page (titled with their own kind id), the manual kind has nothing to configure. A screenshot of
// each.
#include <gtest/gtest.h>

#include <wx/textctrl.h>

#include "streams/ManualDeviceStream.h"
#include "streams/etherds/HTTPDeviceStream.h"
#include "streams/etherds/UDPDeviceStream.h"
#include "ui/ConfigurationWindowFixture.h"

namespace {

class StreamKindPagesTest : public ConfigurationWindowTest {
protected:
    // The configuration's one page, shown over the host window; the sink shows it, photographs it
    // and hands it to the check.
    int ShowPage(DeviceStreamConfiguration &configuration, const char *resource, const std::string &shot,
                 const std::function<int(wxDialog &)> &check) {
        PanelResourceNameList pages;
        EXPECT_EQ(0u, configuration.AddConfigurationDialogPanels(HostHandle(), pages));
        EXPECT_EQ(1u, pages.size());
        if (pages.size() != 1)
            return 0;
        EXPECT_EQ(resource, pages[0]->GetResourceName());
        EXPECT_EQ(configuration.GetIDString(), pages[0]->GetTitle());
        SetModalDialogSink([&](wxDialog &dialog) {
            dialog.Show();
            Pump([&] { return dialog.IsShownOnScreen(); });
            SaveScreenshot(dialog, shot);
            return check(dialog);
        });
        return ShowConfigurationWindowAsDialog(pages[0]->GetPanel(), HostHandle(),
                                               pages[0]->GetResourceName(), pages[0]->GetTitle());
    }
};

TEST_F(StreamKindPagesTest, TheNetworkKindsEditTheirAddressOnTheSharedPage) {
    UDPDeviceStreamConfig udp;
    HTTPDeviceStreamConfig http;
    const struct {
        NetworkBasedDeviceStreamConfig *Configuration;
        const char *Shot;
        const char *Typed;
    } kinds[] = {{&udp, "udp-page", "tcpip://127.0.0.1:5025"},
                 {&http, "http-page", "tcpip://127.0.0.1:8080"}};
    for (const auto &kind : kinds) {
        kind.Configuration->SetAddress("tcpip://127.0.0.1:1");
        EXPECT_EQ(wxID_OK, ShowPage(*kind.Configuration, "dlgEthernetDeviceStreamConfiguration", kind.Shot,
                                    [&](wxDialog &dialog) {
                                        auto *address = Find<wxTextCtrl>(dialog, "txtAddress");
                                        EXPECT_EQ("tcpip://127.0.0.1:1", address->GetValue());
                                        address->ChangeValue(kind.Typed);
                                        return wxID_OK;
                                    }));
        EXPECT_EQ(kind.Typed, kind.Configuration->GetAddressText());
    }
}

TEST_F(StreamKindPagesTest, TheManualKindShowsAnEmptyPage) {
    ManualDeviceStreamConfiguration manual;
    EXPECT_EQ(wxID_OK, ShowPage(manual, "NoConfig", "manual-page", [](wxDialog &) { return wxID_OK; }));
    EXPECT_TRUE(mBoxes.empty());
}

} // namespace
