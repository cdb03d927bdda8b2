// The PECOS drivers' configuration dialog under Xvfb: the tabs in their order, every page fitting
// the dialog, values typed into the login and detector pages reaching the PECOS server, and the
// dialogs as the wx host meets them, with screenshots of every tab.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
    // Shows the driver's dialog, where every page must fit; the sink sees it, and its answer ends
    // the modal run.
    std::vector<std::string> ShowDialog(DeviceDriverBase &driver,
                                        const std::function<int(wxDialog &)> &sink) {
        std::vector<std::string> titles;
        SetModalDialogSink([&](wxDialog &dialog) {
            auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
            for (size_t i = 0; tabs != nullptr && i < tabs->GetPageCount(); ++i)
                titles.push_back(tabs->GetPageText(i).utf8_string());
            EXPECT_TRUE(EveryPageFits(dialog));
            return sink(dialog);
        });
        EXPECT_CODE(0u, driver.ShowTabbedConfigurationDialog(HostHandle()));
        return titles;
    }
};

} // namespace

TEST_F(PecosPagesTest, ADConverterTabsAndEditedValuesOnTheWire) {
    PecosSimulator simulator({"--value", "SENSOR-3=3.5"});
    PontisPecosSCPI_ADConverter driver("PECOS-8");
    SettingsFile settings;
    ASSERT_CODE(0u,
                driver.LoadConfiguration(HostHandle(), settings.Server(simulator.Port()).Write().c_str()));
    const auto titles = ShowDialog(driver, [&](wxDialog &dialog) {
        Find<wxTextCtrl>(dialog, "ID_USERNAME")->SetValue("operator");
        Find<wxTextCtrl>(dialog, "ID_PASSWORD")->SetValue("s3cret");
        Find<wxTextCtrl>(dialog, "ID_DETECTOR_NAME3")->SetValue("SENSOR-3");
        for (int n = 1; n <= 8; ++n) // the field of detector n is the host's channel n-1
            EXPECT_EQ("Detector " + std::to_string(n) + " (host channel " + std::to_string(n - 1) + "):",
                      Find<wxWindow>(dialog, ("ID_DETECTOR_LABEL" + std::to_string(n)).c_str())
                          ->GetLabel()
                          .utf8_string());
        return wxID_OK;
    });
    EXPECT_EQ((std::vector<std::string>{"Authorisation", "Communication", "Identification", "Detector Map"}),
              titles);
    EXPECT_EQ("SENSOR-3", driver.GetDetectorName(2));

    ASSERT_CODE(0u, driver.InitDevice(HostHandle()));
    uint32_t channel = 2;
    float value = 0;
    EXPECT_CODE(0u, driver.GetChannelValue(HostHandle(), &channel, &value));
    EXPECT_FLOAT_EQ(3.5f, value);
    EXPECT_CODE(0u, driver.DeInitDevice(HostHandle()));
    ASSERT_TRUE(simulator.WaitForClosed(1));
    EXPECT_EQ((std::vector<std::string>{"AUTH-operator:s3cret", "CMD-SENSOR-3-ENABLE-YES",
                                        "CMD-SENSOR-3-ACTIVATE-YES", "SENSOR-3", "CMD-SENSOR-3-ENABLE-NO"}),
              simulator.Received());
}

TEST_F(PecosPagesTest, EUTControllerHasNoDetectorMap) {
    PontisPecosSCPI_EUTController driver("PECOS-8");
    const auto titles = ShowDialog(driver, [&](wxDialog &) { return wxID_CANCEL; });
    EXPECT_EQ((std::vector<std::string>{"Authorisation", "Communication", "Identification"}), titles);
}

// Collecting the pages twice lists each once; the rejected second pages are deleted (the
// sanitizer build reports them otherwise).
TEST_F(PecosPagesTest, PagesCollectedTwiceAreListedOnce) {
    PontisPecosSCPI_ADConverter driver("PECOS-8");
    PanelResourceNameList pages;
    ASSERT_CODE(0u, driver.AddConfigurationDialogPanels(HostHandle(), pages));
    const size_t count = pages.size();
    ASSERT_CODE(0u, driver.AddConfigurationDialogPanels(HostHandle(), pages));
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
        ASSERT_CODE(
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
    EXPECT_CODE(0u, driver.DefaultStreamConfiguration(HostHandle()));
    EXPECT_EQ("TCPIP::127.0.0.1::15444::SOCKET", visa->GetResourceName());
}

// The dialogs as the wx host meets them: the plug-in loaded by dlopen and nothing of the test in
// its process. A person (the host's operator) photographs every tab, types and presses OK; with
// no person, the answer "ok" stores what the dialog holds; a message box reaches its answer.
TEST(PecosDialogsInTheHost, OpenAndStoreWhatWasChanged) {
    if (std::getenv("DISPLAY") == nullptr)
        GTEST_SKIP() << "the wx host needs a display";
    const std::string host = TestSupport::RunnerEnv("KORVALIS_BINARY_DIR") + "/tools/korvalis-wxhost";
    const std::string folder = TestSupport::RunnerEnv("KORVALIS_BINARY_DIR") + "/screenshots";
    TestSupport::IsolatedEnvironment isolated;
    auto run = [&](const std::string &interactive, const std::string &script) {
        TestSupport::ScopedEnv mode("KORVALIS_NONINTERACTIVE", interactive == "person" ? "0" : "1");
        TestSupport::ScopedEnv answer("KORVALIS_DIALOG_ANSWER", "ok");
        return TestSupport::RunProcess({host, "--hwnd", "window", "--script", "-"}, script,
                                       std::chrono::seconds(120));
    };
    struct Case {
        const char *Key;
        const char *Prefix;
        const char *Title;
        size_t Pictures;      // every tab, and the second tab of the stream choice
        std::string Typed;    // operator lines
        std::string Expected; // in the saved file
    };
    const Case cases[] = {
        {"PONTISPECOS_AD_8", "pecos-ad", "PECOS-8 AD converter", 5,
         "operator set ID_USERNAME operator\noperator set ID_DETECTOR_NAME3 SENSOR-3\n",
         "Detector 3 name=SENSOR-3"},
        {"PONTISPECOS_EUT_8", "pecos-eut", "PECOS-8 EUT controller", 4, "operator set ID_USERNAME operator\n",
         "UserName=operator"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Key);
        SettingsFile settings;
        const std::string loaded = settings.Server(1).Login("carol", "pw").Write();
        const std::string saved = isolated.Root() + "/" + c.Prefix + ".ini";
        auto r = run("person", std::string("create ") + c.Key + "\nload-config $ID " + loaded +
                                   "\noperator photograph " + folder + " " + c.Prefix + "\n" + c.Typed +
                                   "operator answer ok\nconfigure $ID\nsave-config $ID " + saved +
                                   "\nremove $ID\n");
        ASSERT_EQ(0, r.ExitCode) << r.Output;
        EXPECT_NE(std::string::npos, r.Output.find("ShowConfigurationDialog result=0x00000000")) << r.Output;
        EXPECT_NE(std::string::npos, r.Output.find(std::string("operator sees \"") + c.Title + "\""))
            << r.Output;
        EXPECT_EQ(c.Pictures, TestSupport::Count(r.Output, "operator photographed .*/screenshots/" +
                                                               std::string(c.Prefix) + "-"))
            << r.Output;
        EXPECT_CODE(0u, TestSupport::Count(r.Output, "operator could not")) << r.Output;
        const std::string file = TestSupport::ReadFile(saved);
        EXPECT_NE(std::string::npos, file.find(c.Expected)) << file;
        EXPECT_NE(std::string::npos, file.find("UserName=operator")) << file;

        // No person: the answer "ok" stores what the dialog shows, so an address loaded without a
        // port comes back with the default port (load and save alone keep it as it was).
        SettingsFile portless;
        portless.Set("Stream Config", "Selected", "TCPIP")
            .Set("Stream Config.Ethernet", "Address", "tcpip://127.0.0.1");
        r = run("none", std::string("create ") + c.Key + "\nload-config $ID " + portless.Write() +
                            "\nconfigure $ID\nsave-config $ID " + saved + "\nremove $ID\n");
        EXPECT_NE(std::string::npos, r.Output.find("ShowConfigurationDialog result=0x00000000")) << r.Output;
        const std::string stored = TestSupport::ReadFile(saved);
        EXPECT_NE(std::string::npos, stored.find("Address=tcpip://127.0.0.1:15444\n")) << stored;
    }
    // A message box reaches the operator: without its resources the dialog cannot be loaded.
    TestSupport::ScopedEnv noResources("KORVALIS_XRC_PATH", isolated.Root());
    auto r = run("person", "create PONTISPECOS_EUT_8\noperator answer ok\nconfigure $ID\nremove $ID\n");
    EXPECT_NE(std::string::npos,
              r.Output.find("could not be loaded. The configuration window cannot be shown."))
        << r.Output;
    EXPECT_NE(std::string::npos, r.Output.find("ShowConfigurationDialog result=0x300000EC")) << r.Output;

    // With only the generic resources that box comes, not a dialog without pages, and the run ends.
    const std::string generic = isolated.Root() + "/generic";
    std::filesystem::create_directory(generic);
    for (const char *name : {"/GenericDialog.xrc", "/GenericTabbedDialog.xrc"})
        std::filesystem::copy_file(TestSupport::RunnerEnv("KORVALIS_BINARY_DIR") + "/plugin/xrc" + name,
                                   generic + name);
    TestSupport::ScopedEnv genericOnly("KORVALIS_XRC_PATH", generic);
    TestSupport::ScopedEnv person("KORVALIS_NONINTERACTIVE", "0");
    r = TestSupport::RunProcess({host, "--hwnd", "window", "--script", "-"},
                                "create PONTISPECOS_AD_8\noperator photograph " + isolated.Root() +
                                    " generic\noperator answer ok\nconfigure $ID\nremove $ID\n",
                                std::chrono::seconds(30));
    ASSERT_FALSE(r.TimedOut) << r.Output;
    EXPECT_NE(std::string::npos, r.Output.find("ShowConfigurationDialog result=0x300000EC")) << r.Output;
}
