// The PECOS drivers' configuration dialog under Xvfb: the tabs in their order, screenshots of
// every page, and values typed into the login and detector pages reaching the PECOS server.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "pecos/PecosPlugin.h"
#include "pecos/PecosSimulator.h"
#include "pecos/PontisPecosADConverter.h"
#include "pecos/PontisPecosEUTController.h"
#include "streams/etherds/NetworkBasedDeviceStream.h"
#include "visa/VISADeviceStream.h"
#include "ui/ConfigurationWindowFixture.h"

using namespace PecosTest;

namespace {

class PecosPagesTest : public ConfigurationWindowTest {
protected:
    // Shows the driver's dialog; the sink sees it, and its answer ends the modal run.
    std::vector<std::string> ShowDialog(DeviceDriverBase &driver,
                                        const std::function<int(wxDialog &)> &sink) {
        std::vector<std::string> titles;
        SetModalDialogSink([&](wxDialog &dialog) {
            auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
            for (size_t i = 0; tabs != nullptr && i < tabs->GetPageCount(); ++i)
                titles.push_back(tabs->GetPageText(i).utf8_string());
            return sink(dialog);
        });
        EXPECT_EQ(0u, driver.ShowTabbedConfigurationDialog(HostHandle()));
        return titles;
    }

    // Photographs every tab of the shown dialog, each once its own controls show, as
    // build/screenshots/<prefix>-<n>-<title>.png; no two tabs give the same picture.
    void Photograph(wxDialog &dialog, const std::string &prefix) {
        dialog.Show();
        auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
        ASSERT_NE(nullptr, tabs);
        std::vector<wxImage> shots;
        for (size_t i = 0; i < tabs->GetPageCount(); ++i) {
            tabs->SetSelection(i);
            std::string title = tabs->GetPageText(i).utf8_string();
            std::replace(title.begin(), title.end(), ' ', '-');
            wxImage shot;
            EXPECT_TRUE(Screenshot::Capture(dialog, *tabs->GetPage(i),
                                            prefix + "-" + std::to_string(i + 1) + "-" + title, &shot));
            for (const wxImage &earlier : shots)
                EXPECT_FALSE(Screenshot::Same(earlier, shot)) << title << " shows an earlier tab";
            shots.push_back(shot);
        }
    }
};

} // namespace

TEST_F(PecosPagesTest, ADConverterTabsScreenshotsAndEditedValuesOnTheWire) {
    PecosSimulator simulator({"--value", "SENSOR-3=3.5"});
    PontisPecosSCPI_ADConverter driver("PECOS-8");
    SettingsFile settings;
    ASSERT_EQ(0u, driver.LoadConfiguration(HostHandle(), settings.Server(simulator.Port()).Write().c_str()));
    const auto titles = ShowDialog(driver, [&](wxDialog &dialog) {
        Photograph(dialog, "pecos-ad");
        Find<wxTextCtrl>(dialog, "ID_USERNAME")->SetValue("operator");
        Find<wxTextCtrl>(dialog, "ID_PASSWORD")->SetValue("s3cret");
        Find<wxTextCtrl>(dialog, "ID_DETECTOR_NAME3")->SetValue("SENSOR-3");
        return wxID_OK;
    });
    EXPECT_EQ((std::vector<std::string>{"Authorisation", "Communication", "Identification", "Detector Map"}),
              titles);
    EXPECT_EQ("SENSOR-3", driver.GetDetectorName(2));

    ASSERT_EQ(0u, driver.InitDevice(HostHandle()));
    uint32_t channel = 2;
    float value = 0;
    EXPECT_EQ(0u, driver.GetChannelValue(HostHandle(), &channel, &value));
    EXPECT_FLOAT_EQ(3.5f, value);
    EXPECT_EQ(0u, driver.DeInitDevice(HostHandle()));
    ASSERT_TRUE(simulator.WaitForClosed(1));
    EXPECT_EQ((std::vector<std::string>{"AUTH-operator:s3cret", "CMD-SENSOR-3-ENABLE-YES",
                                        "CMD-SENSOR-3-ACTIVATE-YES", "SENSOR-3", "CMD-SENSOR-3-ENABLE-NO"}),
              simulator.Received());
}

TEST_F(PecosPagesTest, EUTControllerHasNoDetectorMap) {
    PontisPecosSCPI_EUTController driver("PECOS-8");
    const auto titles = ShowDialog(driver, [&](wxDialog &dialog) {
        Photograph(dialog, "pecos-eut");
        return wxID_CANCEL;
    });
    EXPECT_EQ((std::vector<std::string>{"Authorisation", "Communication", "Identification"}), titles);
}

// Collecting the pages twice lists each once; the rejected second pages are deleted (the
// sanitizer build reports them otherwise).
TEST_F(PecosPagesTest, PagesCollectedTwiceAreListedOnce) {
    PontisPecosSCPI_ADConverter driver("PECOS-8");
    PanelResourceNameList pages;
    ASSERT_EQ(0u, driver.AddConfigurationDialogPanels(HostHandle(), pages));
    const size_t count = pages.size();
    ASSERT_EQ(0u, driver.AddConfigurationDialogPanels(HostHandle(), pages));
    EXPECT_EQ(count, pages.size());
    for (const auto &page : pages)
        delete page->GetPanel();
}

// The detector toggle delay comes from the settings file, cut to 60 s.
TEST_F(PecosPagesTest, ToggleDelayFromTheSettingsFileIsClamped) {
    for (const auto &c : std::vector<std::pair<std::string, unsigned>>{
             {"0", 0}, {"5", 5}, {"60000", 60000}, {"60001", 60000}, {"4294967295", 60000}}) {
        PontisPecosSCPI_ADConverter driver("PECOS-8");
        SettingsFile settings;
        ASSERT_EQ(
            0u, driver.LoadConfiguration(HostHandle(), settings.Detectors({"D1"}, c.first).Write().c_str()));
        EXPECT_EQ(c.second, driver.GetToggleDelay()) << c.first;
    }
}

// The connection defaults stand from the start: TCP to 127.0.0.1:15444, the VISA socket resource.
TEST_F(PecosPagesTest, ConnectionDefaultsAreSetWhenTheDriverIsBuilt) {
    PontisPecosSCPI_EUTController driver("PECOS-8");
    auto &manager = driver.GetConfigurationManager();
    auto tcp = std::dynamic_pointer_cast<NetworkBasedDeviceStreamConfig>(manager.FindConfiguration("TCPIP"));
    ASSERT_NE(nullptr, tcp);
    EXPECT_EQ("tcpip://127.0.0.1:15444", tcp->GetAddress());
    auto visa = std::dynamic_pointer_cast<VISADeviceStreamConfiguration>(manager.FindConfiguration("VISA"));
    ASSERT_NE(nullptr, visa);
    EXPECT_EQ("TCPIP::127.0.0.1::15444::SOCKET", visa->GetResourceName());
    EXPECT_EQ(2u, manager.GetConfigurations().size());
    EXPECT_EQ(0u, driver.DefaultStreamConfiguration(HostHandle()));
    EXPECT_EQ("TCPIP::127.0.0.1::15444::SOCKET", visa->GetResourceName());
}
