// The PECOS drivers through the plug-in's exports against the PECOS simulator: the lines the
// server receives for init, reads, events and de-init, replies and their faults, the device
// check, settings files and the error texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/StringUtils.h"
#include "logging/RecordCapture.h"
#include "pecos/PecosPlugin.h"
#include "pecos/PecosSimulator.h"
#include "pecos/PontisPecosBase.h"
#include "platform/NamedMutex.h"
#include "platform/TurnSegment.h"
#include "streams/StreamLocking.h"
#include "support/ChildProcessTest.h"

using namespace PecosTest;
using Lines = std::vector<std::string>;

namespace {

// True when a loopback listener could bind the port now.
bool LoopbackPortFree(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

class PecosDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PluginExports::Get().Loaded()) << TestSupport::RunnerEnv("KORVALIS_PLUGIN");
    }

    // An AD converter configured for the simulator with the given detectors.
    std::string AdSettings(const PecosSimulator &simulator, const std::vector<std::string> &detectors) {
        return mSettings.Server(simulator.Port()).Login("user", "pw").Detectors(detectors).Write();
    }

    TestSupport::IsolatedEnvironment mEnvironment;
    SettingsFile mSettings;
};

} // namespace

TEST_F(PecosDriverTest, FactoryKnowsBothKeysWhateverTheirCaseAndBlanks) {
    struct Case {
        const char *Key;
        uint32_t Result;
        uint32_t ChannelCountResult; // 752 answers on the AD converter only
    };
    const Case cases[] = {{"PONTISPECOS_AD_8", 0, 0},
                          {" pontispecos_ad_8\t", 0, 0},
                          {"PONTISPECOS_EUT_8", 0, 0x300000CD},
                          {"Pontispecos_Eut_8 ", 0, 0x300000CD},
                          {"PONTISPECOS_AD", UnknownDriverType, 0},
                          {"PONTISPECOS_AD_8X", UnknownDriverType, 0},
                          {"", UnknownDriverType, 0}};
    for (const Case &c : cases) {
        HostDriver driver(c.Key);
        EXPECT_CODE(c.Result, driver.Created) << c.Key;
        if (c.Result != 0) {
            EXPECT_EQ(0xFFFF, driver.Id) << c.Key;
            continue;
        }
        uint32_t count = 0;
        EXPECT_EQ(c.ChannelCountResult,
                  PluginExports::Get().GetValue(nullptr, driver.Id, 752, &count, nullptr))
            << c.Key;
        EXPECT_EQ(c.ChannelCountResult == 0 ? 8u : 0u, count) << c.Key;
    }
    uint16_t id = 7;
    EXPECT_CODE(UnknownDriverType, PluginExports::Get().CreateNewDeviceDriver(0, nullptr, &id));
    EXPECT_EQ(0xFFFF, id);
    EXPECT_CODE(UnknownDriverType,
                PluginExports::Get().CreateNewDeviceDriver(0, "PONTISPECOS_AD_8", nullptr));
}

// Every code that the PECOS drivers return has its text, and the same one whether the driver never
// connected, failed to connect, is connected, was de-initialised or has VISA selected.
TEST_F(PecosDriverTest, ErrorTextsInEveryConnectionState) {
    const std::pair<uint32_t, std::string> texts[] = {
        {0x3000BB1D,
         "Authorisation has failed.\nPlease make sure the right credentials are used and try again.\n"},
        {0x3000BB1E,
         "Invalid Detector ID configured in Device driver.\nPlease make sure that the configured ID "
         "matches the name of the Detector\nAlso make sure that the detectors are enabled in the Pecos "
         "software.\n"},
        {0x3000BB1F,
         "Too many AD Channels have been configured in Korvalis.\nPlease make sure the number of AD "
         "channels matches the amount of detectors.\nAlso make sure that the detectors are enabled in "
         "the Pecos software."},
        {0x3000BB20, "Invalid XML data received from server.\n"},
        {0x3000BB21, "The PECOS XML interface support is not enabled, please check your PECOS license."},
        {0x3000BB22,
         "A subscribe (SUB) prefix is set in the detector channel map in the device driver settings. "
         "This is not allowed."},
        {0x3000BB23,
         "No detector response was returned.\nAre the detector names configured correctly?\nOr are "
         "incorrect user credentials configured?"},
        {StreamNotConnected, "Device stream is not connected."},
        {0x300002D3, "Ethernet not connected"}};
    // Texts worded elsewhere: the fresh driver's text in every state.
    const uint32_t described[] = {0x300002D0, 0x300002D1, 0x300002D2, 0x300002D4, 0x300002D5, 0x300002DA,
                                  0x300002DB, 0x300002DC, 0xBFFF0015, 0x30000006, 0x3000012E, 0x3000019F,
                                  0x300001A1, 0x300001A2, 0x30000096, 0x30001F40, 0x30001F43, 0x30001F44,
                                  0x300000D7, 0x300000E1, 0x300000E2, 0x300000EE, 0x300002E5};
    PecosSimulator simulator;
    const std::string connected = mSettings.Server(simulator.Port()).Write();
    SettingsFile noServer;
    const std::string failing = noServer.Set("Stream Config.Ethernet", "Address", "tcpip://:15444").Write();
    SettingsFile visa;
    const std::string visaSelected = visa.Set("Stream Config", "Selected", "VISA").Write();
    for (const char *key : {"PONTISPECOS_AD_8", "PONTISPECOS_EUT_8"}) {
        HostDriver driver(key);
        std::map<uint32_t, std::string> known(std::begin(texts), std::end(texts));
        for (uint32_t code : described)
            known[code];
        auto expectTexts = [&](const char *state) {
            for (auto &[code, expected] : known) {
                std::string text;
                EXPECT_TRUE(driver.ErrorText(code, text) == 0 && !text.empty()) << state << std::hex << code;
                if (expected.empty())
                    expected = text;
                EXPECT_EQ(expected, text) << key << " " << state;
            }
        };
        expectTexts("fresh");
        ASSERT_CODE(0u, driver.Load(failing));
        ASSERT_CODE(0x300002D0u, driver.Init());
        expectTexts("after a failed connect");
        ASSERT_CODE(0u, driver.Load(connected));
        ASSERT_CODE(0u, driver.Init());
        expectTexts("connected");
        ASSERT_CODE(0u, driver.DeInit());
        expectTexts("after de-init");
        ASSERT_CODE(0u, driver.Load(visaSelected));
        expectTexts("with VISA selected");
    }
}

// Init switches the configured detectors on, reads send the names as configured, de-init
// switches them off and closes the connection. "REQ-" is left out of the command lines.
TEST_F(PecosDriverTest, ADConverterLineSequence) {
    PecosSimulator simulator({"--value", "REQ-D1=12.5", "--value", "D3=-3.2E+01 dBm", "--require-enable"});
    HostDriver driver("PONTISPECOS_AD_8");
    ASSERT_CODE(0u, driver.Load(AdSettings(simulator, {"REQ-D1", "", "D3"})));
    ASSERT_CODE(0u, driver.Init());
    float value = 0;
    EXPECT_CODE(0u, driver.Read(0, value));
    EXPECT_FLOAT_EQ(12.5f, value);
    EXPECT_CODE(0u, driver.Read(2, value));
    EXPECT_FLOAT_EQ(-32.0f, value);
    EXPECT_CODE(0u, driver.DeInit());
    ASSERT_TRUE(simulator.WaitForClosed(1));
    EXPECT_EQ((Lines{"AUTH-user:pw", "CMD-D1-ENABLE-YES", "CMD-D1-ACTIVATE-YES", "CMD-D3-ENABLE-YES",
                     "CMD-D3-ACTIVATE-YES", "REQ-D1", "D3", "CMD-D1-ENABLE-NO", "CMD-D3-ENABLE-NO"}),
              simulator.Received());
}

// The first number of the reply is the value; "Failure" anywhere, no number at all or one beyond the
// host's float is 0x3000BB23 and leaves the host's value alone. A stray line in front of the answer
// is no answer.
TEST_F(PecosDriverTest, RepliesAndTheirValues) {
    PecosSimulator simulator;
    HostDriver driver("PONTISPECOS_AD_8");
    ASSERT_CODE(0u, driver.Load(AdSettings(simulator, {"D1"})));
    ASSERT_CODE(0u, driver.Init());
    const struct {
        const char *Reply;
        uint32_t Result;
        float Value;
    } cases[] = {{"12.5", 0, 12.5f},
                 {"-3.2E+01 dBm", 0, -32.0f},
                 {"Level 7", 0, 7.0f},
                 {"+.5e1", 0, 5.0f},
                 {"FAILURE", NoDetectorResponse, 99.0f},
                 {"Detector 4 Failure", NoDetectorResponse, 99.0f},
                 {"no number", NoDetectorResponse, 99.0f},
                 {"", NoDetectorResponse, 99.0f},
                 {"AUTH OK\\n3", NoDetectorResponse, 99.0f},
                 {"1e40", NoDetectorResponse, 99.0f},
                 {"-1e40 dBm", NoDetectorResponse, 99.0f},
                 {"1e-40", 0, 1e-40f}};
    for (const auto &c : cases) {
        ASSERT_TRUE(simulator.Control(std::string("on D1 reply=") + c.Reply));
        float value = 99.0f;
        EXPECT_CODE(c.Result, driver.Read(0, value)) << c.Reply;
        EXPECT_FLOAT_EQ(c.Value, value) << c.Reply;
    }
    EXPECT_CODE(0u, driver.DeInit());
}

// Channels without a detector (8 and above, or an empty name) fail at once and send nothing.
TEST_F(PecosDriverTest, ChannelsWithoutDetectorSendNothing) {
    PecosSimulator simulator({"--value", "D3=1"});
    HostDriver driver("PONTISPECOS_AD_8");
    ASSERT_CODE(0u, driver.Load(AdSettings(simulator, {"", "", "D3"})));
    ASSERT_CODE(0u, driver.Init());
    for (uint32_t channel : {0u, 1u, 8u, 100u, 0xFFFFFFFFu}) {
        float value = 99.0f;
        EXPECT_CODE(NoDetectorResponse, driver.Read(channel, value)) << channel;
        EXPECT_FLOAT_EQ(99.0f, value);
    }
    float value = 0;
    EXPECT_CODE(0u, driver.Read(2, value));
    EXPECT_CODE(0u, driver.DeInit());
    ASSERT_TRUE(simulator.WaitForClosed(1));
    EXPECT_EQ((Lines{"AUTH-user:pw", "CMD-D3-ENABLE-YES", "CMD-D3-ACTIVATE-YES", "D3", "CMD-D3-ENABLE-NO"}),
              simulator.Received());
}

// Answers that the driver does not read (to the login, two lines to one request) are discarded
// before the next request, also when they come late.
TEST_F(PecosDriverTest, StrayAndLateRepliesAreDiscardedBeforeTheNextRequest) {
    PecosSimulator simulator(
        {"--on", "@auth delay=200 reply=AUTH-OK", "--on", "D1 times=1 reply=1\\nEXTRA 5", "--value", "D2=2"});
    HostDriver driver("PONTISPECOS_AD_8");
    ASSERT_CODE(0u, driver.Load(AdSettings(simulator, {"D1", "D2"})));
    ASSERT_CODE(0u, driver.Init());
    float value = 0;
    EXPECT_CODE(0u, driver.Read(0, value));
    EXPECT_FLOAT_EQ(1.0f, value);
    ASSERT_TRUE(simulator.WaitFor([](const std::vector<SimulatorEvent> &events) {
        for (const auto &event : events)
            if (event.Kind == ">" && event.Text == "AUTH-OK")
                return true;
        return false;
    }));
    EXPECT_CODE(0u, driver.Read(1, value));
    EXPECT_FLOAT_EQ(2.0f, value);
    EXPECT_CODE(0u, driver.DeInit());
}

// A detector map with a name that cannot be sent - one with "SUB-" (0x3000BB22) or a control character
// (0x3000BB1E) - fails InitDevice before anything is connected; such a user name or password gives
// 0x3000BB1D the same way. The settings file keeps the text.
TEST_F(PecosDriverTest, SettingsThatCannotBeSentStayOffTheWire) {
    for (const std::string bad : {"SUB-D2", "D2\rCMD-D9-ENABLE-YES", "\x1B[2J", "D\x7F", "D\t2"}) {
        SCOPED_TRACE(testing::PrintToString(bad));
        const bool subscribe = bad.rfind("SUB-", 0) == 0;
        PecosSimulator simulator;
        SettingsFile settings;
        HostDriver driver("PONTISPECOS_AD_8");
        ASSERT_EQ(
            0u, driver.Load(
                    settings.Server(simulator.Port()).Login("u", "p").Detectors({"D1", bad, "D3"}).Write()));
        EXPECT_CODE(subscribe ? 0x3000BB22u : InvalidDetectorID, driver.Init());
        float value = 99.0f;
        if (!subscribe) {
            EXPECT_CODE(InvalidDetectorID, driver.Read(1, value));
        }
        EXPECT_CODE(StreamNotConnected, driver.Read(0, value));
        EXPECT_CODE(StreamNotConnected, driver.DeInit());
        // (The profile writer itself refuses line breaks in values.)
        TestSupport::TempDir dir;
        if (bad.find('\r') == std::string::npos) {
            ASSERT_CODE(0u, driver.Save(dir.File("saved.ini")));
            EXPECT_NE(std::string::npos, TestSupport::ReadFile(dir.File("saved.ini")).find("=" + bad + "\n"));
        }

        for (const auto &login : {std::pair<std::string, std::string>{bad, "p"}, {"u", bad}}) {
            SettingsFile eutSettings;
            HostDriver eut("PONTISPECOS_EUT_8");
            ASSERT_EQ(
                0u, eut.Load(eutSettings.Server(simulator.Port()).Login(login.first, login.second).Write()));
            EXPECT_CODE(subscribe ? 0u : AuthorisationFailed, eut.Init());
            eut.DeInit();
        }
        // Only the EUT controllers logging in with "SUB-D2" connected.
        const size_t connections = subscribe ? 2 : 0;
        EXPECT_TRUE(simulator.WaitForClosed(connections));
        EXPECT_EQ(connections, simulator.Count("open"));
        for (const std::string &line : simulator.Received())
            EXPECT_EQ(std::string::npos, line.find("CMD-")) << line;
    }
}

// The pauses: the detector state toggle delay before the first detector and after each command
// line (300 ms, two detectors: five pauses switching on, three switching off), 100 ms after each
// screen line (fourteen at init).
TEST_F(PecosDriverTest, PausesAfterDetectorCommandsAndScreenLines) {
    PecosSimulator simulator;
    HostDriver ad("PONTISPECOS_AD_8"), eut("PONTISPECOS_EUT_8");
    const std::string settings =
        mSettings.Server(simulator.Port()).Login("u", "p").Detectors({"D1", "", "D3"}, "300").Write();
    ASSERT_CODE(0u, ad.Load(settings));
    ASSERT_CODE(0u, eut.Load(settings));
    const struct {
        const char *Call;
        std::function<uint32_t()> Run;
        std::chrono::milliseconds Least;
        int Pauses;
    } calls[] = {{"AD init", [&] { return ad.Init(); }, std::chrono::milliseconds(1500), 5},
                 {"AD de-init", [&] { return ad.DeInit(); }, std::chrono::milliseconds(900), 3},
                 {"EUT init", [&] { return eut.Init(); }, std::chrono::milliseconds(1400), 14},
                 {"EUT event", [&] { return eut.Event(40, 0.0); }, std::chrono::milliseconds(100), 1},
                 {"EUT de-init", [&] { return eut.DeInit(); }, std::chrono::milliseconds(0), 0}};
    for (const auto &call : calls) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        EXPECT_CODE(0u, call.Run()) << call.Call;
        const double took = TestSupport::MillisecondsSince(start);
        EXPECT_GE(took, call.Least.count()) << call.Call;
        EXPECT_LT(took, (call.Least + TestSupport::SchedulingSlack).count()) << call.Call;
        // A pause sleeps and polls only its last millisecond: a polled 50 ms slice costs one more.
        if (call.Pauses > 0) {
            EXPECT_LT(static_cast<double>(std::clock() - cpu) / call.Pauses, CLOCKS_PER_SEC * 0.0025)
                << call.Call << ": processor time per pause";
        }
    }
}

// The channel maximum is 10000.0 for every channel, without any traffic.
TEST_F(PecosDriverTest, ChannelMaximumWithoutTraffic) {
    PecosSimulator simulator;
    HostDriver driver("PONTISPECOS_AD_8");
    ASSERT_CODE(0u, driver.Load(AdSettings(simulator, {"D1"})));
    for (uint32_t channel : {0u, 7u, 8u, 0xFFFFFFFFu}) {
        float maximum = 0;
        EXPECT_CODE(0u, PluginExports::Get().GetValue(nullptr, driver.Id, 751, &channel, &maximum))
            << channel;
        EXPECT_FLOAT_EQ(10000.0f, maximum) << channel;
    }
    EXPECT_EQ(0u, simulator.Count("open"));
}

// Lines to be sent while no connection is wanted (before init, after de-init) are refused with
// 0x30001F41 and open nothing; so is a second de-init, whose switch-off lines have no connection.
TEST_F(PecosDriverTest, LinesWithoutAWantedConnection) {
    PecosSimulator simulator;
    HostDriver ad("PONTISPECOS_AD_8"), eut("PONTISPECOS_EUT_8");
    const std::string settings = AdSettings(simulator, {"D1"});
    ASSERT_CODE(0u, ad.Load(settings));
    ASSERT_CODE(0u, eut.Load(settings));
    float value = 99.0f;
    const std::pair<const char *, std::function<uint32_t()>> calls[] = {
        {"read", [&] { return ad.Read(0, value); }},
        {"event", [&] { return eut.Event(7, 150.0); }},
        {"AD de-init", [&] { return ad.DeInit(); }},
        {"EUT de-init", [&] { return eut.DeInit(); }}};
    for (const char *phase : {"before init", "after de-init"}) {
        for (const auto &call : calls)
            EXPECT_CODE(StreamNotConnected, call.second()) << call.first << " " << phase;
        ASSERT_CODE(0u, ad.Init());
        ASSERT_CODE(0u, eut.Init());
        ASSERT_CODE(0u, ad.DeInit());
        ASSERT_CODE(0u, eut.DeInit());
    }
    EXPECT_FLOAT_EQ(99.0f, value);
    EXPECT_EQ(4u, simulator.Count("open"));
}

// The EUT controller: fourteen dash lines at init, one line per known event with the value
// rules applied to the host's value too, nothing for other events.
TEST_F(PecosDriverTest, EUTControllerScreenLines) {
    PecosSimulator simulator;
    HostDriver driver("PONTISPECOS_EUT_8");
    ASSERT_CODE(0u, driver.Load(mSettings.Server(simulator.Port()).Login("eut", "x").Write()));
    ASSERT_CODE(0u, driver.Init());
    const struct {
        uint32_t Event;
        double Value;
        const char *Line; // null: nothing sent
        double After;
    } events[] = {{7, 150, "FREQUENCY Frequency: 150 MHz ", 150},
                  {7, 1200000, "FREQUENCY Frequency: 1.2E+06 MHz ", 1200000},
                  {8, -12.5, "CARRIERLEVEL Carrier level: -12.5 dBm", -12.5},
                  {11, 3, "AVERAGE Average-field: 3 V/m", 3},
                  {12, 4.25, "CALCULATEDFIELD Calculated-field: 4.25 V/m", 4.25},
                  {24, -200, "FORWARDPOWER Forward power: -150 dBm ", -150},
                  {26, -150.5, "REFLECTEDPOWER Reflected power: -150 dBm", -150},
                  {40, 9, "MODULATION Modulation On", 9},
                  {41, 9, "MODULATION Modulation Off", 9},
                  {46, -0.05, "FIELDSTRENGTH Field: -0.05 V/m ", -0.05},
                  {46, -0.2, "FIELDSTRENGTH Field: 0 V/m ", 0},
                  {48, 2.5, "HEIGHT Height: 2.5 m", 2.5},
                  {52, 90, "ANGLE Angle: 90 degrees", 90},
                  {54, 0.125, "CALCULATEDCURRENT Calculated current: 0.125 A", 0.125},
                  {55, 3, "CALCULATEDVOLTAGE Calculated voltage: 3 V", 3},
                  {57, -160, "NETTOPOWER Netto power: -150 dBm", -150},
                  {63, 1.0, "POLARISATION Polarisation: horizontal", 1.0},
                  {63, 2.0, "POLARISATION Polarisation: vertical", 2.0},
                  {1, 5, nullptr, 5},
                  {56, 5, nullptr, 5},
                  {64, 5, nullptr, 5},
                  {1000, 5, nullptr, 5}};
    Lines expected = Join({{"AUTH-eut:x"}, DashLines});
    for (const auto &e : events) {
        double value = e.Value;
        EXPECT_CODE(0u, driver.Event(e.Event, value)) << e.Event;
        EXPECT_DOUBLE_EQ(e.After, value) << e.Event;
        if (e.Line != nullptr)
            expected.push_back(e.Line);
    }
    EXPECT_CODE(0u, driver.Event(2, 0.0)); // TestStopped
    EXPECT_CODE(0u, driver.DeInit());
    ASSERT_TRUE(simulator.WaitForClosed(1));
    EXPECT_EQ(Join({expected, DashLines}), simulator.Received());
}

// The device check (export CheckDevice and GetValue 56): "IDN?" on a connection of its own,
// without login; the answer must contain the expected identification.
TEST_F(PecosDriverTest, DeviceCheckByIdentification) {
    for (const char *identification : {"PECOS-8", "pecos-8 server 2.1", "OTHER-3"}) {
        PecosSimulator simulator({"--idn", identification});
        const uint32_t expected = std::string(identification) == "OTHER-3" ? IdentificationMismatch : 0;
        for (const char *key : {"PONTISPECOS_AD_8", "PONTISPECOS_EUT_8"}) {
            HostDriver driver(key);
            SettingsFile settings;
            ASSERT_CODE(0u, driver.Load(settings.Server(simulator.Port()).Write()));
            EXPECT_CODE(expected, driver.Check()) << key << " " << identification;
            EXPECT_EQ(expected, PluginExports::Get().GetValue(nullptr, driver.Id, 56, nullptr, nullptr))
                << key;
            if (expected != 0) {
                std::string text;
                driver.ErrorText(expected, text);
                EXPECT_NE(std::string::npos, text.find("\"OTHER-3\"")) << text;
                EXPECT_NE(std::string::npos, text.find("\"PECOS-8\"")) << text;
            }
        }
        ASSERT_TRUE(simulator.WaitForClosed(4));
        EXPECT_EQ(Lines(4, "IDN?"), simulator.Received()) << identification;
    }
}

// What a settings file gives is saved back; without the "PontisPecos" table the credentials
// are the defaults.
TEST_F(PecosDriverTest, SettingsRoundTrip) {
    PecosSimulator simulator;
    HostDriver driver("PONTISPECOS_AD_8");
    mSettings.Server(simulator.Port()).Login("Ann", "p=w;1").Detectors({"REQ-A", "B"}, "5");
    ASSERT_CODE(0u, driver.Load(mSettings.Write()));
    TestSupport::TempDir dir;
    ASSERT_CODE(0u, driver.Save(dir.File("saved.ini")));
    const std::string saved = TestSupport::ReadFile(dir.File("saved.ini"));
    for (const char *line : {"[PontisPecos]\nUserName=Ann\nPassword=p=w;1\n",
                             "Detector 1 name=REQ-A\nDetector 2 name=B\nDetector 3 name=\n",
                             "DetectorStateToggleDelay=5\n", "Address=tcpip://127.0.0.1:"})
        EXPECT_NE(std::string::npos, saved.find(line)) << line << "\n" << saved;

    HostDriver reloaded("PONTISPECOS_AD_8");
    ASSERT_CODE(0u, reloaded.Load(dir.File("saved.ini")));
    ASSERT_CODE(0u, reloaded.Init());
    EXPECT_CODE(0u, reloaded.DeInit());

    SettingsFile noLogin;
    HostDriver defaults("PONTISPECOS_EUT_8");
    ASSERT_CODE(0u, defaults.Load(noLogin.Server(simulator.Port()).Write()));
    ASSERT_CODE(0u, defaults.Init());
    EXPECT_CODE(0u, defaults.DeInit());
    ASSERT_TRUE(simulator.WaitForClosed(2));
    EXPECT_EQ("AUTH-Ann:p=w;1", simulator.Received(1).at(0));
    EXPECT_EQ("AUTH-vurno:vurno", simulator.Received(2).at(0));
}

// The password reaches the server unchanged, but no call record holds it: the login line's records
// (init, reconnect; TCP, VISA) mask it by its place, also where a server sends the line back in
// its reply, the settings' load and save show none. Its text elsewhere (in the user name, in
// "Write") stays as it is. The logins are counted at the server: the call log may lose records
// on a busy machine (a full mailslot queue), so only the rows together must show masked logins.
TEST_F(PecosDriverTest, ThePasswordStaysOutOfTheCallLog) {
    const struct {
        std::string User, Password, Kind;
        bool Echo;
    } rows[] = {
        // VISA's write record shows 80 bytes: the line is cut there with 12 bytes of the password.
        {std::string(62, 'u'), "Zq7!mW4-xR9#kTb2pLv8", "TCPIP", false},
        {std::string(62, 'u'), "Zq7!mW4-xR9#kTb2pLv8", "VISA", false},
        {"administrator", "admin", "TCPIP", false},
        {"user", "e", "TCPIP", false},
        {"operator", "Zq7!mW4-xR9#kTb2pLv8", "TCPIP", true},
        {"operator", "Zq7!mW4-xR9#kTb2pLv8", "VISA", true},
        {"admin", "p4ss", "TCPIP", true},
        {"admin", "x9", "VISA", true},
    };
    size_t loggedLogins = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.User + ":" + row.Password + " " + row.Kind + (row.Echo ? " echoed" : ""));
        RecordCapture capture(false);
        Lines rules{"--value", "D1=1"};
        // The echo comes within the wait for quiet input after the login, the reading well after it.
        if (row.Echo)
            rules.insert(rules.end(), {"--on", "@auth delay=30 reply=AUTH-" + row.User + ":" + row.Password,
                                       "--on", "D1 delay=150"});
        PecosSimulator simulator(rules);
        SettingsFile settings;
        settings.Server(simulator.Port(), row.Kind).Login(row.User, row.Password).Detectors({"D1"});
        HostDriver driver("PONTISPECOS_AD_8");
        ASSERT_CODE(0u, driver.Load(settings.Write()));
        ASSERT_CODE(0u, driver.Init());
        const auto read = [&] {
            float value = 0;
            EXPECT_CODE(0u, driver.Read(0, value));
            EXPECT_EQ(1.0f, value);
        };
        read();
        ASSERT_TRUE(simulator.Control("drop"));
        ASSERT_TRUE(simulator.WaitForClosed(1));
        read();
        EXPECT_CODE(0u, driver.Save(settings.Path()));
        EXPECT_CODE(0u, driver.DeInit());
        ASSERT_TRUE(simulator.WaitForClosed(2));
        for (unsigned connection = 1; connection <= 2; ++connection)
            EXPECT_EQ("AUTH-" + row.User + ":" + row.Password, simulator.Received(connection).at(0));
        size_t masks = 0, maskedLogins = 0;
        for (const Quellin::Record &record : capture.Records()) {
            const std::string raw = ToStdString(record.Raw);
            if (row.Password.size() > 10) {
                EXPECT_EQ(std::string::npos, raw.find(row.Password.substr(0, row.Password.size() / 2)))
                    << raw;
            }
            masks += TestSupport::Count(raw, "\\*{8}");
            maskedLogins += TestSupport::Count(raw, "AUTH-" + row.User + ":\\*{8}");
        }
        EXPECT_EQ(maskedLogins, masks);
        loggedLogins += maskedLogins;
    }
    EXPECT_GT(loggedLogins, 0u) << "no login record reached the call log";
}

// Drivers that were never configured, or configured by a file without stream settings, go to
// 127.0.0.1:15444.
TEST_F(PecosDriverTest, UnconfiguredDriversUseTheDefaultPort) {
    PecosSimulator simulator({}, 15444);
    if (simulator.Port() != 15444u && !LoopbackPortFree(15444))
        GTEST_SKIP() << "port 15444 is in use on this machine";
    ASSERT_EQ(15444u, simulator.Port());
    {
        HostDriver never("PONTISPECOS_EUT_8");
        ASSERT_CODE(0u, never.Init());
        EXPECT_CODE(0u, never.DeInit());
    }
    {
        HostDriver byFile("PONTISPECOS_AD_8");
        ASSERT_CODE(0u, byFile.Load(mSettings.Detectors({"D1"}).Write()));
        ASSERT_CODE(0u, byFile.Init());
        EXPECT_CODE(0u, byFile.DeInit());
    }
    // Another program on the machine may use the port as well: the drivers' connections are found by
    // their logins.
    auto linesAfter = [&](const std::string &login) {
        for (const SimulatorEvent &event : simulator.Events())
            if (event.Kind == "open") {
                const Lines lines = simulator.Received(event.Connection);
                if (!lines.empty() && lines.front() == login)
                    return lines;
            }
        return Lines{};
    };
    const Lines never = Join({{"AUTH-:"}, DashLines});
    EXPECT_TRUE(TestSupport::WaitUntil(
        [&] { return linesAfter("AUTH-:") == never && linesAfter("AUTH-vurno:vurno").size() == 4; },
        std::chrono::seconds(10)));
    EXPECT_EQ(never, linesAfter("AUTH-:"));
    EXPECT_EQ((Lines{"AUTH-vurno:vurno", "CMD-D1-ENABLE-YES", "CMD-D1-ACTIVATE-YES", "CMD-D1-ENABLE-NO"}),
              linesAfter("AUTH-vurno:vurno"));
}

// Over VISA (the stand-in VISA library): the same lines, and two drivers hold a session each on
// the one socket resource. After a server restart (that forgot the detectors) the next read opens a
// new session (its open is tried again while the server refuses), logs in and switches the
// detectors on again.
TEST_F(PecosDriverTest, OverVisaTheSameLinesOnASessionPerDriver) {
    auto first = std::make_unique<PecosSimulator>(std::vector<std::string>{"--value", "D1=2.25"});
    PecosSimulator &simulator = *first;
    mSettings.Set("Stream Config", "Selected", "VISA")
        .Set("Stream Config.VISA", "Identifier",
             "TCPIP::127.0.0.1::" + std::to_string(simulator.Port()) + "::SOCKET")
        .Login("v", "w")
        .Detectors({"D1"});
    const std::string settings = mSettings.Write();
    HostDriver ad("PONTISPECOS_AD_8"), eut("PONTISPECOS_EUT_8");
    ASSERT_CODE(0u, ad.Load(settings));
    ASSERT_CODE(0u, eut.Load(settings));
    EXPECT_CODE(0u, ad.Check());
    ASSERT_CODE(0u, ad.Init());
    ASSERT_CODE(0u, eut.Init());
    float value = 0;
    EXPECT_CODE(0u, ad.Read(0, value));
    EXPECT_FLOAT_EQ(2.25f, value);
    EXPECT_CODE(0u, eut.Event(41, 0.0));
    EXPECT_CODE(0u, eut.DeInit());
    ASSERT_TRUE(simulator.WaitForClosed(2));
    EXPECT_EQ(Lines{"IDN?"}, simulator.Received(1));
    EXPECT_EQ((Lines{"AUTH-v:w", "CMD-D1-ENABLE-YES", "CMD-D1-ACTIVATE-YES", "D1"}), simulator.Received(2));
    EXPECT_EQ(Join({{"AUTH-v:w"}, DashLines, {"MODULATION Modulation Off"}}), simulator.Received(3));
    const unsigned port = simulator.Port();
    first.reset();
    // The server is back while the read's session is being refused: the open is tried again.
    auto restarted =
        std::make_unique<PecosSimulator>(Lines{"--require-enable", "--value", "D1=3.5", "--away"}, port);
    ASSERT_EQ(port, restarted->Port());
    std::thread restart([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(restarted->Control("listen"));
    });
    EXPECT_CODE(0u, ad.Read(0, value));
    restart.join();
    EXPECT_FLOAT_EQ(3.5f, value);
    EXPECT_CODE(0u, ad.DeInit());
    ASSERT_TRUE(restarted->WaitForClosed(1));
    EXPECT_EQ((Lines{"AUTH-v:w", "CMD-D1-ENABLE-YES", "CMD-D1-ACTIVATE-YES", "D1", "CMD-D1-ENABLE-NO"}),
              restarted->Received());
}

namespace {

// What the host does in a thread while it removes the driver, and what the driver has left on.
struct RemovalRow {
    const char *Name;
    const char *Key;
    const char *Kind;   // of the stream
    Lines Names;        // the detector map
    const char *Delay;  // the toggle delay once initialised
    const char *Before; // "drop": the server closes the connection; "away": it is gone; "move": the
                        // settings name another server; "lock": the test holds the stream's lock
                        // file and lets it go after the removal; "kept": it never lets go; "busy":
                        // another driver of the process reads under the lock, answered after 2.5 s;
                        // "full": the server is replaced by one whose accept queue is full
    std::function<uint32_t(HostDriver &)> Call;
    size_t RemoveAt; // the host removes the driver once the server received this many lines, or (0) once
                     // the call connects again (with Settle: once that long passed; to a full
                     // queue: once the connect is in progress)
    Lines Warned;    // the detectors the removal names as left on
    const char *Rule = "";      // the server's once initialised; $LOCK: the stream's lock file
    unsigned Settle = 0;        // ms between RemoveAt and the removal, for the call to reach its wait; a
                                // call that waits for a held lock is removed once its wait is queued
    uint32_t Code = 0x300000D0; // the call's answer
};

std::string LockFile(const char *kind, unsigned port) {
    const std::string server =
        kind == std::string("VISA")
            ? "VISA:" + PecosVisaResource("127.0.0.1", static_cast<unsigned short>(port))
            : "ETHER:tcpip://127.0.0.1:" + std::to_string(port);
    return Platform::NamedMutex::LockFilePath(MakeStreamLockName(server));
}

// True once a wait for the lock file, held outside the turns, took its ticket: one out, no holder.
bool LockWaitQueued(const std::string &path) {
    struct stat st;
    void *segment =
        ::stat(path.c_str(), &st) != 0
            ? reinterpret_cast<void *>(-1)
            : ::shmat(::shmget(Platform::TurnSegmentKey(st.st_dev, st.st_ino), 0, 0), nullptr, SHM_RDONLY);
    if (segment == reinterpret_cast<void *>(-1))
        return false;
    const auto *turn = &static_cast<Platform::TurnSegment *>(segment)->turn;
    const bool queued = TestSupport::WaitUntil(
        [&] {
            return __atomic_load_n(&turn->next, __ATOMIC_SEQ_CST) !=
                       __atomic_load_n(&turn->serving, __ATOMIC_SEQ_CST) &&
                   __atomic_load_n(&turn->holder, __ATOMIC_SEQ_CST) == 0;
        },
        std::chrono::seconds(10));
    ::shmdt(segment);
    return queued;
}

// Time, level and name of each record, one a line.
std::string Trail(const std::vector<Quellin::Record> &records) {
    std::string trail;
    for (const Quellin::Record &record : records)
        trail +=
            ToStdString(record.Time + L" " + record.Level + L" " + record.Module + L"::" + record.Function) +
            "\n";
    return trail;
}

// The call ends soon after the removal with 0x300000D0 and no connect, login or line goes out after
// it, also once a lock it waited for is let go, or a server that was away is back; the removal names
// what stays switched on.
void RunRemoval(const RemovalRow &row) {
    SCOPED_TRACE(row.Name + std::string(" ") + row.Kind);
    RecordCapture capture(false);
    auto simulator = std::make_unique<PecosSimulator>(std::vector<std::string>{"--value", "D1=1.5"});
    const unsigned port = simulator->Port();
    PecosSimulator other;
    const std::string before = row.Before;
    std::unique_ptr<TestSupport::FullListener> full;
    HostDriver driver(row.Key);
    SettingsFile quick, settings;
    ASSERT_CODE(0u, driver.Load(quick.Server(port, row.Kind).Login("u", "p").Detectors(row.Names).Write()));
    ASSERT_CODE(0u, driver.Init());
    ASSERT_CODE(0u, driver.Load(settings.Server(before == "move" ? other.Port() : port, row.Kind)
                                    .Login("u", "p")
                                    .Detectors(row.Names, row.Delay)
                                    .Write()));
    std::string rule = row.Rule;
    if (rule.find("$LOCK") != std::string::npos)
        rule.replace(rule.find("$LOCK"), 5, LockFile(row.Kind, port));
    if (!rule.empty()) {
        // The initialisation's lines are answered before the rule comes: it is for the call's.
        ASSERT_TRUE(simulator->WaitForReceived(row.Names.empty() ? 15 : 1 + 2 * row.Names.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_TRUE(simulator->Control("on " + rule));
    }
    int lock = -1;
    if (before == "drop") {
        ASSERT_TRUE(simulator->Control("drop"));
        ASSERT_TRUE(simulator->WaitForClosed(1));
    } else if (before == "away") {
        // Back on the same port once told to listen: started now, before the call's thread.
        simulator.reset();
        simulator = std::make_unique<PecosSimulator>(std::vector<std::string>{"--away"}, port);
        ASSERT_EQ(port, simulator->Port());
    } else if (before == "full") {
        simulator = std::make_unique<PecosSimulator>();
        full = std::make_unique<TestSupport::FullListener>(static_cast<uint16_t>(port));
        ASSERT_EQ(port, full->Port());
    } else if (before == "lock" || before == "kept") {
        lock = ::open(LockFile(row.Kind, port).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_EQ(0, ::flock(lock, LOCK_EX));
    }
    std::unique_ptr<HostDriver> neighbour;
    std::atomic<uint32_t> otherResult{1};
    std::thread otherRead;
    if (before == "busy") {
        neighbour = std::make_unique<HostDriver>(row.Key);
        ASSERT_CODE(0u, neighbour->Load(settings.Path()));
        ASSERT_CODE(0u, neighbour->Init());
        ASSERT_TRUE(simulator->Control("on D1 times=1 delay=2500"));
        otherRead = std::thread([&] {
            float value = 0;
            otherResult = neighbour->Read(0, value);
        });
        ASSERT_TRUE(simulator->WaitFor([](const std::vector<SimulatorEvent> &events) {
            return std::any_of(events.begin(), events.end(),
                               [](auto &e) { return e.Kind == "<" && e.Text == "D1"; });
        }));
    }
    std::atomic<uint32_t> result{0};
    std::atomic<bool> ended{false};
    std::thread call([&] {
        result = row.Call(driver);
        ended = true;
    });
    // A connect that nothing ends is refused after a while, so that the row fails rather than hangs.
    std::thread refuse([&] {
        if (full && !TestSupport::WaitUntil([&] { return ended.load(); }, std::chrono::seconds(5)))
            full->Refuse();
    });
    const bool lockWait = before == "lock" || before == "kept" || rule.find("lock=") != std::string::npos;
    const bool reached =
        (row.RemoveAt > 0 ? simulator->WaitForReceived(row.RemoveAt)
         : full           ? TestSupport::WaitUntil([&] { return full->ConnectsInProgress() == 1; },
                                         std::chrono::seconds(10))
         : row.Settle > 0 ? true
                          : capture.WaitFor([](const std::vector<Quellin::Record> &records) {
                                return std::any_of(records.begin(), records.end(),
                                                   [](auto &r) { return r.Function == L"Reconnect()"; });
                            })) &&
        (rule.find("lock=") == std::string::npos ||
         simulator->WaitFor([](const std::vector<SimulatorEvent> &events) {
             return std::any_of(events.begin(), events.end(), [](auto &e) { return e.Kind == "lock"; });
         })) &&
        (!lockWait || LockWaitQueued(LockFile(row.Kind, port)));
    std::this_thread::sleep_for(std::chrono::milliseconds(row.Settle));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_CODE(0u, driver.Remove());
    const double removed = TestSupport::MillisecondsSince(start);
    const size_t atRemoval = simulator->Received().size();
    if (full) {
        EXPECT_EQ(0u, full->ConnectsInProgress()) << "a connect went on after the removal";
    }
    // What the call waited for comes after the removal: the lock, or the server back.
    EXPECT_TRUE(simulator->Control(before == "away" ? "listen" : "unlock"));
    if (before == "lock")
        ::close(lock);
    const double back = TestSupport::MillisecondsSince(start);
    call.join();
    const double took = TestSupport::MillisecondsSince(start);
    refuse.join();
    if (before == "kept")
        ::close(lock);
    if (otherRead.joinable()) {
        otherRead.join();
        EXPECT_CODE(0u, otherResult.load()) << "the other driver's read";
    }
    const std::vector<Quellin::Record> records = capture.Records();
    EXPECT_TRUE(reached);
    EXPECT_LT(took, 1000) << "the removed driver went on (removed after " << removed
                          << " ms, the waits ended after " << back << " ms); the records:\n"
                          << Trail(records);
    EXPECT_CODE(row.Code, result.load());
    if (before == "away") {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(0u, simulator->Count("open")) << "a connect after the removal";
    }
    EXPECT_EQ(atRemoval, simulator->Received().size())
        << "lines after the removal " << JoinTexts(simulator->Received(), "|");
    EXPECT_EQ(0u, other.Count("open")) << "a connect to the other server";
    const size_t warnings = std::count_if(records.begin(), records.end(), [&](const Quellin::Record &r) {
        return r.Raw.find(L"Detectors left switched on at ") != std::wstring::npos;
    });
    EXPECT_EQ(row.Warned.empty() ? 0u : 1u, warnings);
    const std::string names = JoinTexts(row.Warned, ", ");
    if (!row.Warned.empty()) {
        EXPECT_TRUE(std::any_of(records.begin(), records.end(), [&](const Quellin::Record &r) {
            return r.Raw.find(ToStdWstring(std::to_string(port) + "::SOCKET: " + names)) !=
                       std::wstring::npos ||
                   r.Raw.find(ToStdWstring(std::to_string(port) + ": " + names)) != std::wstring::npos;
        })) << names;
    }
}

} // namespace

// A driver that the host removes while a call of another thread works - a restore, a switch-off, a
// connect to a server that is away or whose accept queue is full, the screen lines of TestStopped -
// stops there: no connect, login or line goes out after the removal, the call answers 0x300000D0
// (an event whose line went out before, its own result), and the removal names the detectors it
// leaves switched on.
TEST_F(PecosDriverTest, ARemovedDriverSendsNothingMore) {
    const Lines eight{"D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8"}, three{"D1", "D2", "D3"},
        two{"D1", "D2"};
    auto read = [](HostDriver &driver) {
        float value = 0;
        return driver.Read(0, value);
    };
    auto event = [](uint32_t number) {
        return [number](HostDriver &driver) { return driver.Event(number, 0.0); };
    };
    const auto deInit = [](HostDriver &driver) { return driver.DeInit(); };
    const auto init = [](HostDriver &driver) { return driver.Init(); };
    const char *ad = "PONTISPECOS_AD_8", *eut = "PONTISPECOS_EUT_8";
    const RemovalRow rows[] = {
        {"a restore", ad, "TCPIP", eight, "300", "drop", read, 17 + 2, eight},
        // The pause after the first line would outlast the test's bound.
        {"a switch-off", ad, "TCPIP", three, "2000", "", deInit, 7 + 1, {"D2", "D3"}},
        {"a read while the server is away", ad, "TCPIP", three, "0", "away", read, 0, three},
        {"a read while the server is away", ad, "VISA", three, "0", "away", read, 0, three},
        {"an event while the server is away", eut, "TCPIP", {}, "0", "away", event(41), 0, {}},
        {"an event while the server is away", eut, "VISA", {}, "0", "away", event(41), 0, {}},
        {"an InitDevice while the server is away", ad, "TCPIP", two, "0", "away", init, 0, two, "", 300},
        {"an InitDevice while the server is away", ad, "VISA", two, "0", "away", init, 0, two, "", 300},
        {"an InitDevice while the server's queue is full", ad, "TCPIP", two, "0", "full", init, 0, two},
        {"a read while the server's queue is full", ad, "TCPIP", two, "0", "full", read, 0, two},
        {"TestStopped", eut, "TCPIP", {}, "0", "", event(2), 15 + 1, {}},
        // Its line went out: the removal cut only the pause after it.
        {"an event in its closing pause", eut, "TCPIP", {}, "0", "", event(41), 15 + 1, {}, "", 0, 0},
        {"a switch-on waiting for the lock", ad, "TCPIP", two, "100", "", init, 5 + 3, two,
         "CMD-D1-ACTIVATE-YES times=1 lock=$LOCK"},
        {"a dash line waiting for the lock",
         eut,
         "TCPIP",
         {},
         "0",
         "",
         event(2),
         15 + 1,
         {},
         "FREQUENCY* times=1 lock=$LOCK"},
        {"an event waiting for the lock", eut, "VISA", {}, "0", "lock", event(41), 15, {}},
        {"a read waiting for the lock", ad, "TCPIP", two, "0", "lock", read, 5, two},
        {"a de-init waiting for the lock", ad, "VISA", two, "0", "lock", deInit, 5, two},
        {"a lock never let go", ad, "TCPIP", two, "0", "kept", read, 5, two},
        {"a read behind another driver's read", ad, "TCPIP", two, "0", "busy", read, 0, two, "", 200},
        {"a read behind another driver's read", ad, "VISA", two, "0", "busy", read, 0, two, "", 200},
        {"the quiet input after a reconnect's login", ad, "TCPIP", two, "0", "drop", read, 5 + 1, two,
         "@auth times=1 pace=40 reply=0123456789012345678901234567890123456789", 150},
        {"a move's ending", ad, "TCPIP", three, "200", "move", init, 7 + 1, {"D2", "D3"}},
        {"a move's ending", ad, "VISA", three, "200", "move", init, 7 + 1, {"D2", "D3"}},
    };
    for (const RemovalRow &row : rows)
        RunRemoval(row);
}

// Both drivers on one server, over each stream kind, as a lab uses them, each on a connection of its
// own: while one AD converter reads in a thread without pause, the EUT controller is initialised, sends
// events and is de-initialised, and a second AD converter does the same with a read after the server
// dropped every connection (both AD converters log in again, each under the stream's lock), round
// after round. Over VISA the lines without reply wait for the reader's hold on the resource instead of
// being refused.
TEST_F(PecosDriverTest, BothDriversOnOneServerWhileOneReads) {
    for (const auto &[kind, rounds] : {std::pair<const char *, long>{"VISA", 8}, {"TCPIP", 3}}) {
        SCOPED_TRACE(kind);
        PecosSimulator simulator({"--value", "D1=1.5", "--value", "D2=2.5"});
        SettingsFile file;
        const std::string settings =
            file.Server(simulator.Port(), kind).Login("user", "pw").Detectors({"D1", "D2"}).Write();
        HostDriver reader("PONTISPECOS_AD_8"), eut("PONTISPECOS_EUT_8"), second("PONTISPECOS_AD_8");
        for (HostDriver *driver : {&reader, &eut, &second})
            ASSERT_CODE(0u, driver->Load(settings));
        ASSERT_CODE(0u, reader.Init());
        std::atomic<bool> stop{false};
        std::atomic<int> reads{0}, failed{0}, wrong{0};
        std::thread reading([&] {
            while (!stop) {
                float value = 0;
                const uint32_t result = reader.Read(0, value);
                failed += result != 0;
                wrong += result == 0 && value != 1.5f;
                ++reads;
            }
        });
        const auto start = std::chrono::steady_clock::now();
        const int readsBefore = reads;
        for (int round = 0; round < rounds; ++round) {
            float value = 0;
            // A braced list runs its calls in order.
            for (const uint32_t result :
                 {eut.Init(), eut.Event(7, 150.0), eut.Event(41, 0.0), eut.DeInit(), second.Init()})
                EXPECT_CODE(0u, result) << round;
            // The drop finds every connection made so far: four a round, the reader's first.
            EXPECT_TRUE(TestSupport::WaitUntil(
                [&] { return static_cast<long>(simulator.Count("open")) >= 3 + 4 * round; },
                std::chrono::seconds(10)));
            ASSERT_TRUE(simulator.Control("drop"));
            for (const uint32_t result : {second.Read(1, value), second.DeInit()})
                EXPECT_CODE(0u, result) << round;
            EXPECT_FLOAT_EQ(2.5f, value) << round;
        }
        const double took = TestSupport::MillisecondsSince(start);
        const int readsDuring = reads - readsBefore;
        stop = true;
        reading.join();
        EXPECT_CODE(0u, reader.DeInit());
        // The reader kept reading while the rounds ran: at least one read per 10 ms.
        EXPECT_GT(readsDuring, took / 10) << "in " << took << " ms";
        EXPECT_EQ(0, wrong) << "of " << reads << " reads";
        // Over TCP a drop in place of the reply is no reading.
        EXPECT_LE(failed, std::string(kind) == "VISA" ? 0 : rounds) << "of " << reads << " reads";
        ASSERT_TRUE(simulator.WaitForClosed(1 + 4 * rounds));
        EXPECT_EQ(1 + 4 * rounds, static_cast<long>(simulator.Count("open")));
        const Lines received = simulator.Received();
        for (const std::string &line :
             Join({DashLines, {"FREQUENCY Frequency: 150 MHz ", "MODULATION Modulation Off"}}))
            EXPECT_EQ(rounds, std::count(received.begin(), received.end(), line)) << line;
        EXPECT_EQ(rounds + 1, std::count(received.begin(), received.end(), "CMD-D2-ENABLE-NO"));
    }
}

// A server that closes or resets the connection right after a line without reply: the next lines
// answer 0 and reach it on a new connection with the session restored. When that happens during
// the AD converter's switch-on, the new connection gets the detectors switched on so far restored and
// then the rest of the switch-on, no line twice, and InitDevice answers 0. When it happens in place of
// a reply, that read is none and the next one reads on a new connection; over VISA the read itself
// finds the connection lost and sends the request once more. A device check after the server closed
// an idle connection connects again, as a read does.
TEST_F(PecosDriverTest, LinesAfterTheServerClosedOrResetTheConnection) {
    for (const char *kind : {"TCPIP", "VISA"}) {
        for (const std::string action : {"drop", "reset"}) {
            SCOPED_TRACE(kind + (" " + action));
            // The switch-on is cut after the first line of one detector, a close after the last.
            const bool drop = action == "drop";
            const std::string cutAt = drop ? "CMD-D2-ENABLE-YES" : "CMD-D1-ENABLE-YES";
            PecosSimulator simulator({"--require-enable", "--value", "D1=1.5", "--value", "D2=2.5", "--on",
                                      cutAt + " times=1 " + action});
            SettingsFile settings;
            settings.Server(simulator.Port(), kind).Login("user", "pw").Detectors({"D1", "D2"}, "200");
            HostDriver eut("PONTISPECOS_EUT_8"), ad("PONTISPECOS_AD_8");
            ASSERT_CODE(0u, eut.Load(settings.Write()));
            ASSERT_CODE(0u, ad.Load(settings.Path()));
            ASSERT_CODE(0u, eut.Init());
            ASSERT_TRUE(simulator.Control("on @screen times=1 " + action));
            EXPECT_CODE(0u, eut.Event(41, 0.0));
            EXPECT_CODE(0u, eut.Event(40, 0.0));
            EXPECT_CODE(0u, eut.Event(7, 150.0));
            EXPECT_CODE(0u, eut.DeInit());
            EXPECT_CODE(0u, ad.Init());
            // InitDevice made the new connection: its last line found the close.
            EXPECT_TRUE(
                TestSupport::WaitUntil([&] { return simulator.Count("open") >= 4; }, std::chrono::seconds(2)))
                << "the switch-on's last line went into the closed connection";
            float value = 0;
            EXPECT_CODE(0u, ad.Read(1, value));
            EXPECT_FLOAT_EQ(2.5f, value);
            const Lines cut =
                drop ? Lines{"AUTH-user:pw", "CMD-D1-ENABLE-YES", "CMD-D1-ACTIVATE-YES", "CMD-D2-ENABLE-YES"}
                     : Lines{"AUTH-user:pw", "CMD-D1-ENABLE-YES"};
            EXPECT_EQ(cut, simulator.Received(3));
            EXPECT_EQ((Lines{"AUTH-user:pw", "CMD-D1-ENABLE-YES", "CMD-D1-ACTIVATE-YES", "CMD-D2-ENABLE-YES",
                             "CMD-D2-ACTIVATE-YES", "D2"}),
                      simulator.Received(4));
            ASSERT_TRUE(simulator.Control("on D1 times=1 " + action));
            EXPECT_EQ(std::string(kind) == "VISA" ? 0 : NoDetectorResponse, ad.Read(0, value));
            value = 0;
            EXPECT_CODE(0u, ad.Read(0, value));
            EXPECT_FLOAT_EQ(1.5f, value);
            ASSERT_TRUE(simulator.Control(action));
            ASSERT_TRUE(simulator.WaitForClosed(5));
            EXPECT_CODE(0u, ad.Check());
            EXPECT_CODE(0u, ad.DeInit());
            EXPECT_TRUE(simulator.WaitForClosed(6));
            EXPECT_EQ((Lines{"AUTH-user:pw", "MODULATION Modulation On", "FREQUENCY Frequency: 150 MHz "}),
                      simulator.Received(2));
            EXPECT_EQ((Lines{"AUTH-user:pw", "CMD-D1-ENABLE-YES", "CMD-D1-ACTIVATE-YES", "CMD-D2-ENABLE-YES",
                             "CMD-D2-ACTIVATE-YES", "IDN?", "CMD-D1-ENABLE-NO", "CMD-D2-ENABLE-NO"}),
                      simulator.Received(6));
        }
    }
}

namespace {

// A read of a host process: when it began and ended (steady clock, shared by the processes, in ms).
struct TimedRead {
    unsigned Process = 0;
    double Start = 0, End = 0;
};

double SteadyMilliseconds() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Only a child of the test below: an AD converter for each reader, read once the file "go" exists;
// prints "read PROCESS START END CODE" for each read.
class PecosLockChild : public ::testing::Test {};
CHILD_TEST_F(PecosLockChild, ReadsWhenTold, "KORVALIS_LOCK_CHILD") {
    unsigned port = 0, readers = 0, reads = 0, index = 0;
    char kind[16] = {}, folder[4096] = {};
    ASSERT_EQ(6, std::sscanf(TestSupport::RunnerEnv("KORVALIS_LOCK_CHILD").c_str(), "%u %u %u %u %15s %4095s",
                             &port, &readers, &reads, &index, kind, folder))
        << "KORVALIS_LOCK_CHILD is not \"<port> <readers> <reads> <index> <kind> <folder>\"";
    SettingsFile settings;
    settings.Server(port, kind).Login("user", "pw").Detectors({"D1"}).Write();
    std::vector<std::unique_ptr<HostDriver>> drivers;
    for (unsigned n = 0; n < readers; ++n) {
        drivers.push_back(std::make_unique<HostDriver>(PecosDriverFactory::ADConverterKey));
        ASSERT_CODE(0u, drivers[n]->Load(settings.Path()) | drivers[n]->Init());
    }
    TestSupport::WriteFile(std::string(folder) + "/ready-" + std::to_string(index), "");
    const std::string go = std::string(folder) + "/go";
    ASSERT_TRUE(
        TestSupport::WaitUntil([&] { return ::access(go.c_str(), F_OK) == 0; }, std::chrono::seconds(120)));
    std::vector<std::string> lines(readers);
    std::vector<std::thread> threads;
    for (unsigned n = 0; n < readers; ++n)
        threads.emplace_back([&, n] {
            for (unsigned read = 0; read < reads; ++read) {
                float value = 0;
                const double start = SteadyMilliseconds();
                const uint32_t result = drivers[n]->Read(0, value);
                lines[n] += "read " + std::to_string(index) + " " + std::to_string(start) + " " +
                            std::to_string(SteadyMilliseconds()) + " " + std::to_string(result) + "\n";
            }
        });
    for (unsigned n = 0; n < readers; ++n) {
        threads[n].join();
        std::printf("%s", lines[n].c_str());
    }
}

// Host processes whose drivers read one server through the stream's lock are served in the order
// they came, at the server's pace: no read waits much longer than a round of the others' reads, and
// two processes of two readers each get equal shares. Rows: processes, readers (drivers) each,
// reads each, the server's answer time.
TEST_F(PecosDriverTest, HostProcessesReadInTurnAtTheServersPace) {
    struct Row {
        unsigned Processes, Readers, Reads, AnswerMs;
        const char *Kind;
    };
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    for (const Row row :
         {Row{12, 1, 15, 30, "TCPIP"}, Row{2, 2, 10, 150, "TCPIP"}, Row{2, 2, 10, 150, "VISA"}}) {
        SCOPED_TRACE(std::to_string(row.Processes) + " processes, " + row.Kind);
        TestSupport::TempDir folder;
        PecosSimulator simulator(
            {"--value", "D1=1.5", "--on", "@detector delay=" + std::to_string(row.AnswerMs)});
        std::string output;
        std::mutex outputLock;
        std::vector<std::thread> runs;
        for (unsigned n = 0; n < row.Processes; ++n)
            runs.emplace_back([&, n] {
                const std::string child = std::to_string(simulator.Port()) + " " +
                                          std::to_string(row.Readers) + " " + std::to_string(row.Reads) +
                                          " " + std::to_string(n) + " " + row.Kind + " " + folder.Path();
                const std::string out =
                    TestSupport::RunProcess({"/usr/bin/env", "KORVALIS_LOCK_CHILD=" + child, self,
                                             "--gtest_filter=PecosLockChild.*"},
                                            "", std::chrono::seconds(180))
                        .Output;
                const std::lock_guard<std::mutex> guard(outputLock);
                output += out;
            });
        unsigned ready = 0;
        TestSupport::WaitUntil(
            [&] {
                while (ready < row.Processes &&
                       ::access(folder.File("ready-" + std::to_string(ready)).c_str(), F_OK) == 0)
                    ++ready;
                return ready == row.Processes;
            },
            std::chrono::seconds(120));
        TestSupport::WriteFile(folder.File("go"), "");
        for (std::thread &run : runs)
            run.join();
        std::vector<TimedRead> reads;
        std::istringstream words(output);
        for (std::string word; words >> word;) {
            TimedRead read;
            uint32_t code = 0;
            if (word == "read" && words >> read.Process >> read.Start >> read.End >> code && code == 0)
                reads.push_back(read);
        }
        ASSERT_EQ(row.Processes * row.Readers * row.Reads, reads.size()) << output;
        // The longest read, and the span in which every process reads.
        double longest = 0, from = 0, to = 1e300;
        for (unsigned n = 0; n < row.Processes; ++n) {
            double first = 1e300, last = 0;
            for (const TimedRead &read : reads)
                if (read.Process == n)
                    first = std::min(first, read.Start), last = std::max(last, read.End);
            from = std::max(from, first), to = std::min(to, last);
        }
        std::vector<unsigned> ended(row.Processes);
        for (const TimedRead &read : reads) {
            longest = std::max(longest, read.End - read.Start);
            ended[read.Process] += read.End > from && read.End <= to;
        }
        const double round = row.Processes * row.Readers * row.AnswerMs;
        EXPECT_LT(longest, (row.Processes > 2 ? 3 : 2) * round) << "a read waited far longer than a round";
        if (row.Processes == 2) {
            const unsigned total = ended[0] + ended[1];
            EXPECT_GT(total * 1000.0 / (to - from), 0.9 * 1000.0 / row.AnswerMs)
                << total << " reads in " << to - from;
            for (const unsigned share : ended)
                EXPECT_TRUE(share >= 0.45 * total && share <= 0.55 * total)
                    << share << " of " << total << " reads";
        }
    }
}
