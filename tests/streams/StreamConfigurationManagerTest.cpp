// The stream configuration manager over INI files: the selected kind and its fallbacks, the tables
// nested below "Stream Config", the supported kinds and the texts of the stream codes.
#include "streams/DeviceStreamConfigurationManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "streams/StreamClientFixture.h"

namespace {

struct SelectionCase {
    const char *Name;
    std::vector<std::string> Kinds;
    std::string Ini;
    std::string DefaultKind;
    DWORD LegacySelector;
    std::string Expected;
    bool Box;
};

void PrintTo(const SelectionCase &c, std::ostream *out) {
    *out << c.Name;
}

class SelectionTest : public ::testing::TestWithParam<SelectionCase> {
protected:
    TestSupport::IsolatedEnvironment mEnvironment;
    TestSupport::MessageBoxRecorder mBoxes;
};

} // namespace

TEST_P(SelectionTest, TheSelectedKindFallsBackToAKindTheDriverHas) {
    const SelectionCase &c = GetParam();
    TestManager manager;
    for (const std::string &kind : c.Kinds)
        manager.Add(kind);
    manager.SetDefaultKind(c.DefaultKind);
    manager.SetLegacySelector(c.LegacySelector);
    SettingsFile file(c.Ini);
    EXPECT_EQ(0u, file.With([&](auto &db) { return manager.LoadConfiguration(db); }));
    EXPECT_EQ(c.Expected, manager.GetSelected());
    ASSERT_EQ(c.Box ? 1u : 0u, mBoxes.Boxes.size());
    if (c.Box) {
        EXPECT_EQ(L"No communication streams programmed", mBoxes.Boxes[0].Text);
        EXPECT_EQ(L"Selected Stream", mBoxes.Boxes[0].Caption);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, SelectionTest,
    ::testing::Values(
        SelectionCase{
            "Stored", {"TCPIP", "VISA"}, "[Stream Config]\nSelected=VISA\n", "TCPIP", 255, "VISA", false},
        SelectionCase{"GpibToCompliant",
                      {"CompliantGPIB"},
                      "[Stream Config]\nSelected=GPIB\n",
                      "",
                      255,
                      "CompliantGPIB",
                      false},
        SelectionCase{"CompliantToGpib",
                      {"GPIB", "TCPIP"},
                      "[Stream Config]\nSelected=CompliantGPIB\n",
                      "TCPIP",
                      255,
                      "GPIB",
                      false},
        SelectionCase{"LegacySerial",
                      {"RS-232", "TCPIP"},
                      "[Stream Config]\nSelected=UDP\n",
                      "TCPIP",
                      0,
                      "RS-232",
                      false},
        SelectionCase{
            "LegacyGpib", {"GPIB", "TCPIP"}, "[Stream Config]\nSelected=UDP\n", "TCPIP", 1, "GPIB", false},
        SelectionCase{
            "DefaultKind", {"TCPIP", "VISA"}, "[Other]\nSelected=VISA\n", "TCPIP", 255, "TCPIP", false},
        SelectionCase{
            "FirstKind", {"VISA", "RS-232"}, "[Stream Config]\nSelected=UDP\n", "HTTP", 255, "RS-232", false},
        SelectionCase{"NoKindAtAll", {}, "[Stream Config]\nSelected=UDP\n", "TCPIP", 255, "UDP", true}),
    [](const ::testing::TestParamInfo<SelectionCase> &info) { return std::string(info.param.Name); });

TEST(StreamConfigurationManagerTest, ConfigurationsNestBelowStreamConfigAndEachLoadsOnce) {
    TestSupport::IsolatedEnvironment environment;
    TestManager manager;
    auto tcp = manager.Add("TCPIP");
    auto visa = manager.Add("VISA");
    SettingsFile file("[Stream Config]\nSelected=VISA\nDefaultStreamConfigurationLoaded=TRUE\n"
                      "[Stream Config.TCPIP]\nValue=tcp-a\n[Stream Config.VISA]\nValue=visa-b\n"
                      "[TCPIP]\nValue=wrong\n");
    ASSERT_EQ(0u, file.With([&](auto &db) { return manager.LoadConfiguration(db); }));
    EXPECT_EQ("tcp-a", tcp->Value);
    EXPECT_EQ("visa-b", visa->Value);
    EXPECT_TRUE(manager.GetDefaultStreamConfigurationLoaded());
    EXPECT_EQ(2, visa->Loads); // the selected one first, then every one
    EXPECT_EQ(1, tcp->Loads);

    manager.SetSelected("TCPIP");
    tcp->Value = "tcp-c";
    SettingsFile saved;
    ASSERT_EQ(0u, saved.With([&](auto &db) { return manager.SaveConfiguration(db); }));
    const std::string text = saved.Text();
    EXPECT_NE(std::string::npos,
              text.find("[Stream Config]\nSelected=TCPIP\nDefaultStreamConfigurationLoaded=1\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("[Stream Config.TCPIP]\nValue=tcp-c\n")) << text;
    EXPECT_NE(std::string::npos, text.find("[Stream Config.VISA]\nValue=visa-b\n")) << text;
}

TEST(StreamConfigurationManagerTest, AFailingConfigurationStopsTheLoadWithItsCode) {
    TestSupport::IsolatedEnvironment environment;
    TestManager manager;
    auto first = manager.Add("A");
    auto second = manager.Add("B");
    first->LoadResult = 0x30000999;
    manager.SetDefaultKind("B");
    SettingsFile file;
    EXPECT_EQ(0x30000999u, file.With([&](auto &db) { return manager.LoadConfiguration(db); }));
    EXPECT_EQ(1, second->Loads); // as the selected one only
}

TEST(StreamConfigurationManagerTest, SupportedStreamsComeFromTheRegistry) {
    DeviceStreamConfigurationManager manager;
    manager.SetSupportedStreams(";;TCPIP;NoSuchKind;");
    ASSERT_EQ(1u, manager.GetConfigurations().size());
    EXPECT_EQ("TCPIP", manager.FindConfiguration("TCPIP")->GetIDString());
    EXPECT_FALSE(manager.FindConfiguration(""));

    manager.SetSupportedStreams("");
    std::vector<std::string> kinds = GetRegisteredKinds();
    std::vector<std::string> held;
    for (const auto &entry : manager.GetConfigurations())
        held.push_back(entry.first);
    EXPECT_EQ(kinds, held);
    EXPECT_NE(kinds.end(), std::find(kinds.begin(), kinds.end(), "TCPIP"));
}

TEST(StreamConfigurationManagerTest, StreamCodesHaveTheirTextsAndAWrittenTextStays) {
    TestSupport::IsolatedEnvironment environment;
    DeviceStreamConfigurationManager manager;
    const std::vector<std::pair<DWORD, std::string>> texts = {
        {0x30001F40, "Can not create requested device stream."},
        {0x30001F41, "Device stream is not connected."},
        {0x30001F42, "Device stream is not locked."},
        {0x30001F43, "Requested device stream not created."},
        {0x30001F44, "Invalid Configuration object created."},
        {0x30001F46, "Could not set value in device"},
        {0x30001F45, ""},
        {0x30000123, ""}};
    for (const auto &[code, text] : texts) {
        char buffer[64] = "x";
        uint32_t length = 0;
        EXPECT_EQ(0u, manager.GetErrorString(nullptr, code, buffer, sizeof buffer, &length));
        EXPECT_EQ(text, text.empty() ? std::string() : std::string(buffer, length)) << std::hex << code;
    }
    char shortBuffer[8];
    uint32_t length = 0;
    manager.GetErrorString(nullptr, 0x30001F41, shortBuffer, sizeof shortBuffer, &length);
    EXPECT_EQ("Device ", std::string(shortBuffer));
    char kept[16] = "earlier";
    length = 7;
    manager.GetErrorString(nullptr, 0x30001F41, kept, sizeof kept, &length);
    EXPECT_EQ("earlier", std::string(kept));
}

TEST(StreamConfigurationManagerTest, VisaCodesGetVisaTextsWhileAConfigurationIsSelected) {
    TestSupport::IsolatedEnvironment environment;
    TestManager manager;
    constexpr DWORD VisaTimeout = 0xBFFF0015;
    char text[256];
    uint32_t length = 0;
    EXPECT_EQ(0u, manager.GetErrorString(nullptr, VisaTimeout, text, sizeof text, &length));
    EXPECT_EQ(0u, length);
    manager.Add("TCPIP");
    manager.SetSelected("TCPIP");
    EXPECT_EQ(0u, manager.GetErrorString(nullptr, VisaTimeout, text, sizeof text, &length));
    EXPECT_NE(0u, length);
}

// Without a stream: the selected kind's texts, else the plain texts of the shared stream codes.
TEST(StreamConfigurationManagerTest, TheSelectedKindsTextsNeedNoStream) {
    TestSupport::IsolatedEnvironment environment;
    const std::tuple<const char *, DWORD, std::string> cases[] = {
        {"TCPIP", 0x300002D3, "Ethernet not connected"},
        {"TCPIP", 0x300002D8,
         "Could not connect to the specified address and port (192.168.13.89:7895). The receiving address "
         "should be a local address and port."},
        {"TCPIP", 0x3000012E, "The device did not send the complete response within the time-out."},
        {"GPIB", 0x3000020A, "board 0, address 1: No listener on the GPIB bus."},
        {"GPIB", 0x3000019A, "board 0, address 1: The device did not request service in time."},
        {"RS-232", 0x3000012F, "COM1 does not exist."},
        {"RS-232", 0x3000012E, "COM1 did not answer in time."}};
    for (const auto &[kind, code, expected] : cases) {
        DeviceStreamConfigurationManager manager;
        manager.SetSupportedStreams("TCPIP;GPIB;RS-232");
        manager.SetSelected(kind);
        char text[256] = "";
        uint32_t length = 0;
        EXPECT_EQ(0u, manager.GetErrorString(nullptr, code, text, sizeof text, &length));
        EXPECT_EQ(expected, std::string(text, length)) << kind << " " << std::hex << code;
    }
}

TEST(StreamConfigurationManagerTest, ADriverWithOneKindShowsThatKindsDialog) {
    TestSupport::IsolatedEnvironment environment;
    TestManager manager;
    auto only = manager.Add("TCPIP");
    manager.SetSelected("TCPIP");
    EXPECT_EQ(0u, manager.ShowConfigurationDialog(nullptr, L"Meter"));
    EXPECT_EQ(std::vector<std::wstring>{L"Meter"}, only->DialogTitles);
}
