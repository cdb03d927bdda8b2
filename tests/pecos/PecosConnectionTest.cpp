// The PECOS drivers' connection, through the export procedures in the test's own process (so that
// the driver's stream gets a short time-out) against the PECOS simulator: replies that stay
// incomplete are no reading and close the connection, a connection that the server closed is
// opened again, with a login, before the next line, a login time-out counts as success, and the
// call records of each driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <sstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/StringUtils.h"
#include "logging/RecordCapture.h"
#include "pecos/PecosPlugin.h"
#include "pecos/PecosSimulator.h"
#include "pecos/PontisPecosADConverter.h"
#include "pecos/PontisPecosEUTController.h"
#include "platform/NamedMutex.h"
#include "streams/StreamLocking.h"
#include "streams/StreamTestEnvironment.h"

using namespace PecosTest;
using Lines = std::vector<std::string>;

namespace {

constexpr double ShortTimeout = 0.3; // s
constexpr uint32_t EthernetNotConnected = 0x300002D3;
constexpr uint32_t VisaResourceNotFound = 0xBFFF0011;
constexpr int DeviceCheck = -1; // a step that runs the device check instead of a read

class PecosConnectionTest : public ::testing::Test {
protected:
    // A driver in this process on the simulator's port, with the short time-out, initialised.
    std::unique_ptr<HostDriver> Initialised(const char *key, unsigned port) {
        auto driver = std::make_unique<HostDriver>(key, PluginExports::InProcess());
        Initialise(*driver, port);
        return driver;
    }
    void Initialise(HostDriver &driver, unsigned port, uint32_t result = 0, const char *toggleDelay = "0",
                    double timeout = ShortTimeout) {
        EXPECT_EQ(0u, driver.Created);
        SettingsFile settings;
        EXPECT_EQ(
            0u, driver.Load(
                    settings.Server(port).Login("user", "pw").Detectors({"D1", "D2"}, toggleDelay).Write()));
        EXPECT_EQ(0u, driver.Client()->SetTimeout(nullptr, timeout));
        EXPECT_EQ(result, driver.Init());
    }
};

// What a new connection of an initialised AD converter (detectors D1, D2) receives, then the lines.
Lines Restored(const Lines &then) {
    Lines lines{"AUTH-user:pw", "CMD-D1-ENABLE-YES", "CMD-D1-ACTIVATE-YES", "CMD-D2-ENABLE-YES",
                "CMD-D2-ACTIVATE-YES"};
    lines.insert(lines.end(), then.begin(), then.end());
    return lines;
}

// A driver whose login write answers the code once the line went out, or (bLogin false) whose
// configuration after the login answers it.
template <typename D> class FaultyDriver : public D {
public:
    explicit FaultyDriver(DWORD code = StreamResult::ReadTimeout, bool bLogin = true)
        : D("PECOS-8"), Code(code), AtLogin(bLogin) {}
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override {
        const DWORD result = D::Write(hWnd, sCommand, bWaitForOPC);
        return result == 0 && AtLogin && sCommand.rfind("AUTH-", 0) == 0 ? Code : result;
    }
    DWORD AfterLoginConfiguration(HostWindow) override { return AtLogin ? 0 : Code; }
    const DWORD Code;
    const bool AtLogin;
};

// The PECOS classes' call records, in order: "> module::function [description]" for a begin,
// "< module::function severity code" for its end.
Lines PecosCallRecords(const std::vector<Quellin::Record> &records) {
    static const std::set<std::wstring> modules{
        L"PontisPecosBase<BaseType>",   L"PontisPecosSCPIBase",          L"PontisPecosADConverterBase",
        L"PontisPecosSCPI_ADConverter", L"PontisPecosEUTControllerBase", L"PontisPecosSCPI_EUTController"};
    std::map<std::wstring, std::wstring> open;
    Lines lines;
    for (const Quellin::Record &record : records) {
        const std::wstring key = record.Process + L"/" + record.Entry;
        if (record.RecordKind == Quellin::Record::Kind::Begin && modules.count(record.Module) != 0) {
            open[key] = record.Module + L"::" + record.Function;
            const std::wstring description = record.Value(L"description", L"!input");
            lines.push_back(
                ToStdString(L"> " + open[key] + (description.empty() ? L"" : L" " + description)));
        } else if (record.RecordKind == Quellin::Record::Kind::End && open.count(key) != 0) {
            lines.push_back(
                ToStdString(L"< " + open[key] + L" " + record.Level + L" " + record.Value(L"Err")));
            open.erase(key);
        }
    }
    return lines;
}

} // namespace

// A reply that does not end with its line feed - cut off by a close, late, slower than the
// time-out, missing - is no reading: 0x3000BB23, and the driver closes its connection, so that
// the rest of it never becomes a later value. The same holds for the identification of a
// connected driver. The next read connects again, with a login.
TEST_F(PecosConnectionTest, IncompleteRepliesAreNoReadingAndCloseTheConnection) {
    struct Step {
        int Channel; // or DeviceCheck
        uint32_t Result;
        float Value; // after the step; 99 is the value the step started with
    };
    const struct {
        std::vector<std::string> Rules;
        std::vector<Step> Steps;
    } cases[] = {
        {{"D1 times=1 cut=2 reply=1234.5"}, {{0, NoDetectorResponse, 99}, {1, 0, 2.5f}}},
        {{"D1 times=1 pace=100 reply=1234.5"}, {{0, NoDetectorResponse, 99}, {1, 0, 2.5f}}},
        {{"@detector delay=400"}, {{0, NoDetectorResponse, 99}, {1, NoDetectorResponse, 99}}},
        {{"D1 times=1 silent"}, {{0, NoDetectorResponse, 99}, {1, 0, 2.5f}}},
        {{"IDN? times=1 delay=400", "D1 delay=150"},
         {{DeviceCheck, IdentificationMismatch, 99}, {0, 0, 1.5f}}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> options{"--value", "D1=1.5", "--value", "D2=2.5"};
        for (const std::string &rule : c.Rules)
            options.insert(options.end(), {"--on", rule});
        SCOPED_TRACE(c.Rules.front());
        PecosSimulator simulator(options);
        auto driver = Initialised("PONTISPECOS_AD_8", simulator.Port());
        for (const Step &step : c.Steps) {
            float value = 99.0f;
            if (step.Channel == DeviceCheck)
                EXPECT_EQ(step.Result, driver->Check());
            else
                EXPECT_EQ(step.Result, driver->Read(static_cast<uint32_t>(step.Channel), value))
                    << step.Channel;
            EXPECT_FLOAT_EQ(step.Value, value) << step.Channel;
        }
        ASSERT_TRUE(simulator.Control("clear"));
        float value = 0;
        EXPECT_EQ(0u, driver->Read(1, value));
        EXPECT_FLOAT_EQ(2.5f, value);
        // The last connection is a new one with the session restored: login, detectors on.
        const unsigned last = static_cast<unsigned>(simulator.Count("open"));
        EXPECT_GE(last, 2u);
        Lines lines = simulator.Received(last);
        lines.resize(std::min<size_t>(lines.size(), Restored({}).size()));
        EXPECT_EQ(Restored({}), lines);
    }
}

// The server restarts: while it is down each line tries to connect again and fails with the
// connect's code; once it is back, the next line connects, logs in, lets the login's late answer
// pass and switches the detectors on again (the new server forgot them) before its request. A
// connection that the server drops is opened again too.
TEST_F(PecosConnectionTest, ServerRestartAndDropReconnectWithLogin) {
    auto first = std::make_unique<PecosSimulator>(std::vector<std::string>{"--value", "D1=1.5"});
    const unsigned port = first->Port();
    auto ad = Initialised("PONTISPECOS_AD_8", port);
    auto eut = Initialised("PONTISPECOS_EUT_8", port);
    float value = 0;
    EXPECT_EQ(0u, ad->Read(0, value));
    first.reset();

    ASSERT_EQ(0u, ad->Client()->SetTimeout(nullptr, 1.0)); // one connect per read, sleeping between tries
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        EXPECT_EQ(EthernetNotConnected, ad->Read(0, value));
        EXPECT_LT(TestSupport::MillisecondsSince(start), 1900);
        // Sleeping between the connect's tries costs a few ms; polling their ends 50 ms and more.
        EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 40);
        EXPECT_EQ(EthernetNotConnected, eut->Event(41, 0.0));
    }

    PecosSimulator second(
        {"--require-enable", "--value", "D1=2.5", "--on", "D1 delay=60", "--on", "@auth delay=20 reply=9.75"},
        port);
    ASSERT_EQ(port, second.Port());
    EXPECT_EQ(0u, ad->Read(0, value));
    EXPECT_FLOAT_EQ(2.5f, value);
    EXPECT_EQ(0u, eut->Event(41, 0.0));
    ASSERT_TRUE(second.Control("drop"));
    ASSERT_TRUE(second.WaitForClosed(2));
    value = 0;
    EXPECT_EQ(0u, ad->Read(0, value));
    EXPECT_FLOAT_EQ(2.5f, value);
    EXPECT_EQ(0u, ad->DeInit());
    EXPECT_EQ(0u, eut->DeInit());
    ASSERT_TRUE(second.WaitForClosed(3));
    EXPECT_EQ(Restored({"D1"}), second.Received(1));
    EXPECT_EQ((Lines{"AUTH-user:pw", "MODULATION Modulation Off"}), second.Received(2));
    EXPECT_EQ(Restored({"D1", "CMD-D1-ENABLE-NO", "CMD-D2-ENABLE-NO"}), second.Received(3));
}

// A login whose write times out counts as success, at init and at a reconnect: the driver is
// initialised (de-init switches the detectors off) and wants its connection.
TEST_F(PecosConnectionTest, LoginTimeOutCountsAsSuccess) {
    PecosSimulator simulator({"--value", "D1=1.5"});
    HostDriver ad(std::make_unique<FaultyDriver<PontisPecosSCPI_ADConverter>>());
    HostDriver eut(std::make_unique<FaultyDriver<PontisPecosSCPI_EUTController>>());
    Initialise(ad, simulator.Port());
    Initialise(eut, simulator.Port());
    ASSERT_TRUE(simulator.Control("drop"));
    ASSERT_TRUE(simulator.WaitForClosed(2));
    float value = 0;
    EXPECT_EQ(0u, ad.Read(0, value));
    EXPECT_FLOAT_EQ(1.5f, value);
    EXPECT_EQ(0u, eut.Event(41, 0.0));
    EXPECT_EQ(0u, ad.DeInit());
    EXPECT_EQ(0u, eut.DeInit());
    ASSERT_TRUE(simulator.WaitForClosed(4));
    EXPECT_EQ(Restored({"D1", "CMD-D1-ENABLE-NO", "CMD-D2-ENABLE-NO"}), simulator.Received(3));
    EXPECT_EQ((Lines{"AUTH-user:pw", "MODULATION Modulation Off"}), simulator.Received(4));
}

// A failed InitDevice closes the connection, and no line goes out after it (0x30001F41). First it
// switches off the detectors the driver switched on, also by an earlier InitDevice, over the
// logged-in connection that is still there, never over a new one: a server gone during the switch-on
// costs one connect attempt, one that closes at every switch-on costs one reconnect (whose restore
// never connects again). Settings that cannot be sent fail before anything is sent. DeInitDevice
// switches off what was switched on, whatever the map says now.
TEST_F(PecosConnectionTest, AFailedInitLeavesNoConnection) {
    constexpr double Timeout = 1.0; // s; each row takes less than twice that
    using Change = std::function<SettingsFile &(SettingsFile &)>;
    const Change badUser = [](SettingsFile &s) -> SettingsFile & { return s.Login("user\x1B", "pw"); };
    const Change badMap = [](SettingsFile &s) -> SettingsFile & {
        return s.Detectors({"D1", "D\x1B", "D3"});
    };
    const Change otherMap = [](SettingsFile &s) -> SettingsFile & { return s.Detectors({"D3", "D4"}); };
    const Lines switchedOff = Restored({"CMD-D1-ENABLE-NO", "CMD-D2-ENABLE-NO"});
    const struct {
        DWORD Code; // of the faulty login write, or (AtLogin false) of the configuration after it
        bool AtLogin;
        std::string Rule; // the server's
        Change Then;      // after a good InitDevice: the settings loaded before the call
        bool DeInitThen;  // the call is DeInitDevice, not InitDevice
        uint32_t Result;
        Lines Received;
        size_t Connections;
        uint32_t DeInit = StreamNotConnected; // of the DeInitDevice after the call: what is left on
    } rows[] = {
        {0x300002D4, true, "*", nullptr, false, 0x300002D4, {"AUTH-user:pw"}, 1},
        {0x30001F46, false, "*", nullptr, false, 0x30001F46, {"AUTH-user:pw"}, 1},
        {StreamResult::ReadTimeout, true, "CMD-D1-ENABLE-YES stop", nullptr, false, EthernetNotConnected,
         Lines{"AUTH-user:pw", "CMD-D1-ENABLE-YES"}, 1, EthernetNotConnected},
        {StreamResult::ReadTimeout, true, "CMD-D1-ENABLE-YES times=10 drop", nullptr, false,
         StreamNotConnected,
         Lines{"AUTH-user:pw", "CMD-D1-ENABLE-YES", "AUTH-user:pw", "CMD-D1-ENABLE-YES", "AUTH-user:pw",
               "CMD-D1-ENABLE-NO"},
         3, 0},
        {StreamResult::ReadTimeout, true, "*", badUser, false, AuthorisationFailed, switchedOff, 1},
        {StreamResult::ReadTimeout, true, "*", badMap, false, InvalidDetectorID, switchedOff, 1},
        {StreamResult::ReadTimeout, true, "*", otherMap, true, 0, switchedOff, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Rule + " " + std::to_string(row.Result));
        PecosSimulator simulator({"--on", row.Rule});
        HostDriver ad(std::make_unique<FaultyDriver<PontisPecosSCPI_ADConverter>>(row.Code, row.AtLogin));
        auto start = std::chrono::steady_clock::now();
        if (row.Then) {
            Initialise(ad, simulator.Port(), 0, "0", Timeout);
            SettingsFile changed;
            ASSERT_EQ(0u, ad.Load(row.Then(changed).Write()));
            start = std::chrono::steady_clock::now();
            EXPECT_EQ(row.Result, row.DeInitThen ? ad.DeInit() : ad.Init());
        } else {
            // The server's close arrives in the pause.
            Initialise(ad, simulator.Port(), row.Result, "100", Timeout);
        }
        EXPECT_LT(TestSupport::MillisecondsSince(start), 2000 * Timeout);
        float value = 0;
        EXPECT_EQ(StreamNotConnected, ad.Read(0, value));
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(row.DeInit, ad.DeInit());
        if (row.DeInit == StreamNotConnected) {
            EXPECT_LT(TestSupport::MillisecondsSince(start), 80)
                << "a de-init with nothing to switch off paused";
        }
        ASSERT_TRUE(simulator.WaitForClosed(row.Connections));
        EXPECT_EQ(row.Connections, simulator.Count("open"));
        EXPECT_EQ(row.Received, simulator.Received());
    }
    for (const DWORD code : {0x300002D4u, 0x30001F46u}) {
        PecosSimulator simulator;
        HostDriver eut(
            std::make_unique<FaultyDriver<PontisPecosSCPI_EUTController>>(code, code == 0x300002D4));
        Initialise(eut, simulator.Port(), code);
        EXPECT_EQ(StreamNotConnected, eut.Event(41, 0.0));
        ASSERT_TRUE(simulator.WaitForClosed(1));
        EXPECT_EQ(Lines{"AUTH-user:pw"}, simulator.Received());
    }
}

// A loopback port that nothing listens on (bound once, then closed).
unsigned RefusingPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Every session of an AD converter switches off at its end what it switched on, at the server it
// switched it on at, whatever happened on the way: a new InitDevice switches off what the new
// session does not keep (everything when the settings name another server, also one that refuses),
// a switch-off that lost its lock or its server leaves the rest to the next, connections that the
// server closes in the middle send no line twice, and a device check's incomplete reply closes the
// connection that the check made.
TEST_F(PecosConnectionTest, EachSessionSwitchesOffWhatItSwitchedOnAtItsServer) {
    constexpr double Timeout = 1.0; // s
    const Lines login{"AUTH-user:pw"};
    const Lines d12{"D1", "D2"};
    struct Step {
        std::string Do; // "A D1 D2": settings naming server A (B, or C that refuses); "init", "deinit",
                        // "read N", "check"; "A:COMMAND" to a simulator; "lock", "unlock" A's stream
        uint32_t Result = 0;
        double Within = 0; // time-outs, when bounded
    };
    const struct {
        const char *Name;
        std::vector<Step> Steps;
        std::vector<Lines> A, B; // the lines of each connection
    } rows[] = {
        {"to another server",
         {{"A D1 D2"}, {"init"}, {"B D3 D4"}, {"init"}, {"B:drop"}, {"read 0"}, {"deinit"}},
         {Join({login, Detectors("on", d12), Detectors("off", d12)})},
         {Join({login, Detectors("on", {"D3", "D4"})}),
          Join({login, Detectors("on", {"D3", "D4"}), {"D3"}, Detectors("off", {"D3", "D4"})})}},
        {"to a server that refuses",
         {{"A D1 D2"},
          {"init"},
          {"C D3 D4"},
          {"init", EthernetNotConnected, 2},
          {"deinit", StreamNotConnected}},
         {Join({login, Detectors("on", d12), Detectors("off", d12)})},
         {}},
        {"settings naming another server in the session",
         {{"A D1 D2"},
          {"init"},
          {"B D3 D4"},
          {"A:drop"},
          {"read 0", StreamNotConnected},
          {"deinit", StreamNotConnected}},
         {Join({login, Detectors("on", d12)})},
         {}},
        {"maps changing at one server",
         {{"A D1 D2"}, {"init"}, {"A D2 D3"}, {"init"}, {"A D3 D4"}, {"init"}, {"deinit"}},
         {Join({login, Detectors("on", d12), Detectors("off", {"D1"})}),
          Join({login, Detectors("on", {"D2", "D3"}), Detectors("off", {"D2"})}),
          Join({login, Detectors("on", {"D3", "D4"}), Detectors("off", {"D3", "D4"})})},
         {}},
        {"a held lock",
         {{"A D1 D2 D3 D4"},
          {"init"},
          {"lock"},
          {"deinit", StreamResult::LockTimeout, 1.5},
          {"unlock"},
          {"deinit"},
          {"deinit", StreamNotConnected}},
         {Join({login, Detectors("on", {"D1", "D2", "D3", "D4"})}),
          Join({login, Detectors("off", {"D1", "D2", "D3", "D4"})})},
         {}},
        {"a close after a switch-off line",
         {{"A D1 D2"}, {"init"}, {"A:on CMD-D1-ENABLE-NO times=1 drop"}, {"deinit"}},
         {Join({login, Detectors("on", d12), Detectors("off", {"D1"})}),
          Join({login, Detectors("off", {"D2"})})},
         {}},
        {"a close after an ACTIVATE line",
         {{"A:on CMD-D1-ACTIVATE-YES times=1 drop"}, {"A D1 D2"}, {"init"}, {"read 1"}, {"deinit"}},
         {Join({login, Detectors("on", {"D1"})}),
          Join({login, Detectors("on", d12), {"D2"}, Detectors("off", d12)})},
         {}},
        {"a server that stops in the switch-off",
         {{"A D1 D2 D3"}, {"init"}, {"A:on CMD-D1-ENABLE-NO stop"}, {"deinit", EthernetNotConnected, 1.8}},
         {Join({login, Detectors("on", {"D1", "D2", "D3"}), Detectors("off", {"D1"})})},
         {}},
        {"a device check's incomplete reply on a new connection",
         {{"A D1 D2"},
          {"init"},
          {"A:drop"},
          {"A:on IDN? times=1 pace=200"},
          {"check", IdentificationMismatch},
          {"read 0"},
          {"deinit"}},
         {Join({login, Detectors("on", d12)}), Join({login, Detectors("on", d12), {"IDN?"}}),
          Join({login, Detectors("on", d12), {"D1"}, Detectors("off", d12)})},
         {}},
    };
    for (const std::string kind : {"TCPIP", "VISA"})
        for (const auto &row : rows) {
            SCOPED_TRACE(kind + ": " + row.Name);
            PecosSimulator a, b;
            const std::map<char, unsigned> ports{{'A', a.Port()}, {'B', b.Port()}, {'C', RefusingPort()}};
            HostDriver ad("PONTISPECOS_AD_8", PluginExports::InProcess());
            ASSERT_EQ(0u, ad.Created);
            int lock = -1;
            for (const Step &step : row.Steps) {
                SCOPED_TRACE(step.Do);
                std::istringstream words(step.Do);
                std::string what;
                words >> what;
                const auto start = std::chrono::steady_clock::now();
                uint32_t result = 0;
                if (what.size() == 1) {
                    Lines names;
                    for (std::string name; words >> name;)
                        names.push_back(name);
                    SettingsFile settings;
                    ASSERT_EQ(0u, ad.Load(settings.Server(ports.at(what[0]), kind)
                                              .Login("user", "pw")
                                              .Detectors(names, "100")
                                              .Write()));
                    ASSERT_EQ(0u, ad.Client()->SetTimeout(nullptr, Timeout));
                } else if (what[1] == ':') {
                    ASSERT_TRUE((what[0] == 'A' ? a : b).Control(step.Do.substr(2)));
                    if (step.Do.substr(2) == "drop") {
                        ASSERT_TRUE(
                            (what[0] == 'A' ? a : b).WaitFor([](const std::vector<SimulatorEvent> &events) {
                                return std::count_if(
                                           events.begin(), events.end(),
                                           [](const SimulatorEvent &e) { return e.Kind == "drop"; }) > 0;
                            }));
                    }
                } else if (what == "lock" || what == "unlock") {
                    if (what == "unlock") {
                        ::close(lock);
                        continue;
                    }
                    const std::string path = Platform::NamedMutex::LockFilePath(MakeStreamLockName(
                        kind == "VISA" ? "VISA:" + PecosVisaResource("127.0.0.1", a.Port())
                                       : "ETHER:tcpip://127.0.0.1:" + std::to_string(a.Port())));
                    lock = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
                    ASSERT_EQ(0, ::flock(lock, LOCK_EX)) << path;
                } else if (what == "init") {
                    result = ad.Init();
                } else if (what == "deinit") {
                    result = ad.DeInit();
                } else if (what == "check") {
                    result = ad.Check();
                } else if (what == "read") {
                    uint32_t channel = 0;
                    words >> channel;
                    float value = 0;
                    result = ad.Read(channel, value);
                }
                // Over VISA a refused connect answers VISA's own code.
                EXPECT_EQ(step.Result == EthernetNotConnected && kind == "VISA" ? VisaResourceNotFound
                                                                                : step.Result,
                          result);
                if (step.Within > 0) {
                    EXPECT_LT(TestSupport::MillisecondsSince(start), step.Within * Timeout * 1000);
                }
            }
            ad.Remove();
            for (const auto &[simulator, expected] :
                 {std::pair<PecosSimulator *, const std::vector<Lines> *>{&a, &row.A}, {&b, &row.B}}) {
                EXPECT_TRUE(simulator->WaitForClosed(expected->size()));
                ASSERT_EQ(expected->size(), simulator->Count("open"));
                for (size_t connection = 0; connection < expected->size(); ++connection)
                    EXPECT_EQ((*expected)[connection],
                              simulator->Received(static_cast<unsigned>(connection + 1)))
                        << "connection " << connection + 1;
            }
        }
}

// The PECOS records of one init, read (event), device check (export and GetValue 56), and
// de-init of each driver; the AD converter's second read follows a drop and reconnects.
TEST_F(PecosConnectionTest, CallRecordsOfEachDriver) {
    const std::string ad = "PontisPecosSCPI_ADConverter::", base = "PontisPecosBase<BaseType>::";
    const std::string scpi = "PontisPecosSCPIBase::", eut = "PontisPecosEUTControllerBase::";
    auto call = [](const std::string &name, const std::string &description = std::string()) {
        return Lines{"> " + name + (description.empty() ? "" : " " + description),
                     "< " + name + " Complete 0"};
    };
    auto nest = [](const std::string &name, const Lines &inner) {
        Lines lines{"> " + name};
        lines.insert(lines.end(), inner.begin(), inner.end());
        lines.push_back("< " + name + " Complete 0");
        return lines;
    };
    auto join = [](std::initializer_list<Lines> parts) {
        Lines all;
        for (const Lines &part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const Lines login = nest(base + "InitDevice()", call(scpi + "AuthorizeUser()"));
    Lines screen;
    for (const char *line :
         {"Frequency ---", "Field ---", "Forward power ---", "Reflected power ---", "Netto power ---",
          "Carrier level ---", "Average-field: ---", "Calculated-field: ---", "Modulation ---", "Height: ---",
          "Angle: ---", "Calculated current: ---", "Calculated voltage: ---", "Polarisation: ---"})
        screen = join({screen, call("PontisPecosSCPI_EUTController::SetScreenText",
                                    "SetScreenText(" + std::string(line) + "\n)")});
    const struct {
        const char *Key;
        std::function<void(HostDriver &, PecosSimulator &)> Calls;
        Lines Expected;
    } drivers[] = {
        {"PONTISPECOS_AD_8",
         [](HostDriver &driver, PecosSimulator &simulator) {
             float value = 0;
             EXPECT_EQ(0u, driver.Read(0, value));
             EXPECT_EQ(0u, driver.Check());
             EXPECT_EQ(0u, PluginExports::InProcess().GetValue(nullptr, driver.Id, 56, nullptr, nullptr));
             ASSERT_TRUE(simulator.Control("drop"));
             ASSERT_TRUE(simulator.WaitForClosed(1));
             EXPECT_EQ(0u, driver.Read(0, value));
         },
         join({nest(ad + "InitDevice", join({login, call(ad + "SetAllDetectors", "SetAllDetectors(1)")})),
               call(ad + "GetChannelValue()"), call(scpi + "CheckDevice()"), call(scpi + "CheckDevice()"),
               nest(ad + "GetChannelValue()",
                    nest(base + "Reconnect()", join({call(scpi + "AuthorizeUser()"),
                                                     call(ad + "SetAllDetectors", "SetAllDetectors(1)")}))),
               nest("PontisPecosADConverterBase::DeInitDevice",
                    join({call(ad + "SetAllDetectors", "SetAllDetectors(0)"),
                          call(base + "DeInitDevice()")}))})},
        {"PONTISPECOS_EUT_8",
         [](HostDriver &driver, PecosSimulator &) {
             EXPECT_EQ(0u, driver.Event(41, 0.0));
             EXPECT_EQ(0u, driver.Check());
         },
         join({nest(eut + "InitDevice()", join({login, nest(eut + "ClearScreenText()", screen)})),
               nest(eut + "HandleEvent()",
                    call("PontisPecosSCPI_EUTController::SetScreenText", "SetScreenText(Modulation Off\n)")),
               call(scpi + "CheckDevice()"), call(base + "DeInitDevice()")})},
    };
    RecordCapture capture(false);
    for (const auto &d : drivers) {
        PecosSimulator simulator({"--value", "D1=1.5"});
        auto driver = Initialised(d.Key, simulator.Port());
        d.Calls(*driver, simulator);
        EXPECT_EQ(0u, driver->DeInit());
        EXPECT_EQ(d.Expected, PecosCallRecords(capture.Records())) << d.Key;
    }
}
