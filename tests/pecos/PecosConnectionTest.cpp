// The PECOS drivers' connection, through the export procedures in the test's own process (so that
// the driver's stream gets a short time-out) against the PECOS simulator: replies that stay
// incomplete are no reading and close the connection, a connection that the server closed is
// opened again, with a login, before the next line, a login time-out counts as success, and the
// call records of each driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/ProgramSettingsDatabase.h"
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

constexpr double ReplyTimeout = 1.0; // s; ample for a loopback reply on a busy machine
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
                    double timeout = ReplyTimeout) {
        EXPECT_CODE(0u, driver.Created);
        SettingsFile settings;
        EXPECT_CODE(
            0u, driver.Load(
                    settings.Server(port).Login("user", "pw").Detectors({"D1", "D2"}, toggleDelay).Write()));
        EXPECT_CODE(0u, driver.Client()->SetTimeout(nullptr, timeout));
        EXPECT_CODE(result, driver.Init());
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
        {{"D1 times=1 pace=250 reply=1234.5"}, {{0, NoDetectorResponse, 99}, {1, 0, 2.5f}}},
        {{"@detector delay=1300"}, {{0, NoDetectorResponse, 99}, {1, NoDetectorResponse, 99}}},
        {{"D1 times=1 silent"}, {{0, NoDetectorResponse, 99}, {1, 0, 2.5f}}},
        {{"IDN? times=1 delay=1300", "D1 delay=150"},
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
                EXPECT_CODE(step.Result, driver->Check());
            else
                EXPECT_CODE(step.Result, driver->Read(static_cast<uint32_t>(step.Channel), value))
                    << step.Channel;
            EXPECT_FLOAT_EQ(step.Value, value) << step.Channel;
        }
        ASSERT_TRUE(simulator.Control("clear"));
        float value = 0;
        EXPECT_CODE(0u, driver->Read(1, value));
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
    EXPECT_CODE(0u, ad->Read(0, value));
    first.reset();
    PecosSimulator second({"--require-enable", "--value", "D1=2.5", "--on", "D1 delay=60", "--on",
                           "@auth delay=20 reply=9.75", "--away"},
                          port);
    ASSERT_EQ(port, second.Port());

    ASSERT_CODE(0u, ad->Client()->SetTimeout(nullptr, 1.0)); // one connect per read, sleeping between tries
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        EXPECT_CODE(EthernetNotConnected, ad->Read(0, value));
        EXPECT_LT(TestSupport::MillisecondsSince(start), 1900);
        // Sleeping between the connect's tries costs a few ms; polling their ends 50 ms and more.
        EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 40);
        EXPECT_CODE(EthernetNotConnected, eut->Event(41, 0.0));
    }

    ASSERT_TRUE(second.Control("listen"));
    EXPECT_CODE(0u, ad->Read(0, value));
    EXPECT_FLOAT_EQ(2.5f, value);
    EXPECT_CODE(0u, eut->Event(41, 0.0));
    ASSERT_TRUE(second.Control("drop"));
    ASSERT_TRUE(second.WaitForClosed(2));
    value = 0;
    EXPECT_CODE(0u, ad->Read(0, value));
    EXPECT_FLOAT_EQ(2.5f, value);
    EXPECT_CODE(0u, ad->DeInit());
    EXPECT_CODE(0u, eut->DeInit());
    ASSERT_TRUE(second.WaitForClosed(3));
    EXPECT_EQ(Restored({"D1"}), second.Received(1));
    EXPECT_EQ((Lines{"AUTH-user:pw", "MODULATION Modulation Off"}), second.Received(2));
    EXPECT_EQ(Restored({"D1", "CMD-D1-ENABLE-NO", "CMD-D2-ENABLE-NO"}), second.Received(3));
}

// A server whose accept queue is full leaves a connect unanswered: InitDevice gives up within about
// the stream's time-out. A connect that nothing ends is refused after a while (a failure, no hang).
TEST_F(PecosConnectionTest, AConnectToAFullQueueEndsAtTheTimeOut) {
    TestSupport::FullListener full;
    HostDriver driver(PecosDriverFactory::ADConverterKey, PluginExports::InProcess());
    std::atomic<bool> ended{false};
    std::thread refuse([&] {
        if (!TestSupport::WaitUntil([&] { return ended.load(); }, std::chrono::seconds(4)))
            full.Refuse();
    });
    const auto start = std::chrono::steady_clock::now();
    Initialise(driver, full.Port(), EthernetNotConnected);
    const double took = TestSupport::MillisecondsSince(start);
    ended = true;
    refuse.join();
    EXPECT_LT(took, 3000 * ReplyTimeout) << "the connect went on past the time-out";
    EXPECT_EQ(0u, full.ConnectsInProgress());
}

// Two drivers whose checks share one stream: while the AD converter's check waits (for a silent
// server, or in the connect loop to a refusing one), the EUT controller's check waits for the
// stream behind it. Removed, the controller answers 0x300000D0 at once; the AD converter's check
// still runs to its own answer at its time-out.
TEST_F(PecosConnectionTest, ARemovedDriverDoesNotWaitBehindAnotherOnTheirStream) {
    constexpr double Timeout = 3.0; // s
    for (const char *kind : {"TCPIP", "VISA"})
        for (const Lines &options : {Lines{"--on", "IDN? silent"}, Lines{"--away"}}) {
            SCOPED_TRACE(kind + (" " + options[0]));
            PecosSimulator simulator(options);
            SettingsFile settings;
            const std::string file =
                settings.Server(simulator.Port(), kind).Login("user", "pw").Detectors({"D1"}).Write();
            HostDriver converter(PecosDriverFactory::ADConverterKey, PluginExports::InProcess()),
                controller(PecosDriverFactory::EUTControllerKey, PluginExports::InProcess());
            for (HostDriver *driver : {&converter, &controller})
                EXPECT_CODE(0u, driver->Load(file) | driver->Client()->SetTimeout(nullptr, Timeout));
            std::atomic<uint32_t> first{0}, second{0};
            const auto start = std::chrono::steady_clock::now();
            std::thread waiting([&] { first = converter.Check(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            std::thread behind([&] { second = controller.Check(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const auto removal = std::chrono::steady_clock::now();
            EXPECT_CODE(0u, controller.Remove());
            behind.join();
            const double removed = TestSupport::MillisecondsSince(removal);
            waiting.join();
            EXPECT_CODE(0x300000D0u, second.load());
            EXPECT_LT(removed, 1000) << "the removed driver waited behind the other";
            EXPECT_TRUE(first != 0 && first != 0x300000D0u) << std::hex << first;
            EXPECT_GT(TestSupport::MillisecondsSince(start), 900 * Timeout) << "the other's check was cut";
        }
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
    EXPECT_CODE(0u, ad.Read(0, value));
    EXPECT_FLOAT_EQ(1.5f, value);
    EXPECT_CODE(0u, eut.Event(41, 0.0));
    EXPECT_CODE(0u, ad.DeInit());
    EXPECT_CODE(0u, eut.DeInit());
    ASSERT_TRUE(simulator.WaitForClosed(4));
    EXPECT_EQ(Restored({"D1", "CMD-D1-ENABLE-NO", "CMD-D2-ENABLE-NO"}), simulator.Received(3));
    EXPECT_EQ((Lines{"AUTH-user:pw", "MODULATION Modulation Off"}), simulator.Received(4));
}

// A failed InitDevice closes the connection, and no line goes out after it (0x30001F41). First it
// switches off the detectors the driver switched on, also by an earlier InitDevice, over the
// logged-in connection that is still there, never over a new one: a server gone during the switch-on
// costs one connect attempt, one that closes at every switch-on costs one reconnect (whose restore
// never connects again). DeInitDevice switches off what was switched on, whatever the map says now.
TEST_F(PecosConnectionTest, AFailedInitLeavesNoConnection) {
    constexpr double Timeout = 1.0; // s; each row takes less than twice that
    using Change = std::function<SettingsFile &(SettingsFile &)>;
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
            ASSERT_CODE(0u, ad.Load(row.Then(changed).Write()));
            start = std::chrono::steady_clock::now();
            EXPECT_CODE(row.Result, row.DeInitThen ? ad.DeInit() : ad.Init());
        } else {
            // The server's close arrives in the pause.
            Initialise(ad, simulator.Port(), row.Result, "100", Timeout);
        }
        EXPECT_LT(TestSupport::MillisecondsSince(start), 2000 * Timeout);
        float value = 0;
        EXPECT_CODE(StreamNotConnected, ad.Read(0, value));
        start = std::chrono::steady_clock::now();
        EXPECT_CODE(row.DeInit, ad.DeInit());
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
        EXPECT_CODE(StreamNotConnected, eut.Event(41, 0.0));
        ASSERT_TRUE(simulator.WaitForClosed(1));
        EXPECT_EQ(Lines{"AUTH-user:pw"}, simulator.Received());
    }
}

namespace {

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

// A row of a session table: steps, then what simulators A and B received on each of their
// connections. The steps are separated by ";", each of words, optionally followed by "-> CODE"
// (what it answers, else 0; CODE a name of Codes) and "within T" (the time-outs it takes at most; a
// bound that lies between the row's pauses plus one time-out and the same plus two, so that a
// machine under load does not reach it and a second wait does):
//   "A D1 D2"        settings naming server A (B; C refuses) with that detector map and the
//                    server's login, for both drivers; A takes "user:pw", B "ub:pb", and neither acts on
//                    the lines of another login
//   "pw P", "user U" the last settings with the password P, the user name U
//   "page A"         the stream settings of A only, as the Communication page gives them
//   "init", "deinit", "check", "read N", "read N=V", "remove"
//                    the AD converter's calls ("=V": the value read)
//   "eut init", "eut deinit", "eut check", "eut event N"
//                    the EUT controller's calls (event value 0)
//   "A:COMMAND"      a simulator's control command, "$LOCK" standing for its stream's lock file;
//                    "A:drop" and "A:reset" wait until the simulator did it
//   "lock", "unlock" the test holds A's lock file, or lets it go
//   "B@A"            simulator B starts anew on A's port
//   "warned A D1 D2" the call log holds the warning that D1, D2 stay switched on at A's server
//   "told B A"       the call log holds the warning that the settings name B while the session is at A
// A row fails unless it names every warning. A connection's lines are items separated by ", ":
// "login" (the server's), "on D1 D2" (ENABLE and ACTIVATE of each), "off D1 D2", "dashes" (the EUT's
// fourteen) or the line itself.
struct SessionRow {
    const char *Name;
    const char *Steps;
    std::vector<std::string> A, B;
};

const std::map<std::string, uint32_t> Codes{{"0", 0},
                                            {"lock", StreamResult::LockTimeout},
                                            {"notconnected", StreamNotConnected},
                                            {"refused", EthernetNotConnected},
                                            {"noresponse", NoDetectorResponse},
                                            {"authorisation", AuthorisationFailed},
                                            {"subscribe", 0x3000BB22},
                                            {"mismatch", IdentificationMismatch}};

class SessionWorld {
public:
    static constexpr double Timeout = 1.0; // s

    explicit SessionWorld(const std::string &kind) : mKind(kind) {
        for (const char name : {'A', 'B'})
            Start(name, 0);
        mPorts['C'] = RefusingPort();
        EXPECT_CODE(0u, mAd.Created);
        EXPECT_CODE(0u, mEut.Created);
    }

    void Run(const std::string &step) {
        SCOPED_TRACE(step);
        std::istringstream words(step.substr(0, step.find(" -> ")));
        std::string what;
        words >> what;
        HostDriver &driver = what == "eut" ? mEut : mAd;
        if (what == "eut")
            words >> what;
        const auto start = std::chrono::steady_clock::now();
        uint32_t result = 0;
        if (what.size() == 1) {
            mUser = mPassword = std::string();
            Configure(what[0], Rest(words));
        } else if (what == "pw" || what == "user") {
            (what == "pw" ? mPassword : mUser) = Rest(words).at(0);
            Configure(mServer, mNames);
        } else if (what == "page")
            Page(Rest(words).at(0)[0]);
        else if (what.size() > 2 && what[1] == ':')
            Control(what[0], step.substr(2));
        else if (what == "B@A") {
            mSimulators['B'].reset();
            mLogins['B'] = mLogins['A'];
            Start('B', mPorts['A']);
        } else if (what == "lock") {
            mLock = ::open(LockPath('A').c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            ASSERT_EQ(0, ::flock(mLock, LOCK_EX));
        } else if (what == "unlock") {
            ::close(mLock);
        } else if (what == "warned") {
            words >> what;
            ++mWarnings;
            const std::wstring text = ToStdWstring("Detectors left switched on at " + Server(what[0]) + ": " +
                                                   JoinTexts(Rest(words), ", "));
            EXPECT_TRUE(Logged(text)) << "no warning that the detectors stay on";
        } else if (what == "told") {
            std::string session;
            words >> what >> session;
            ++mTold;
            const std::wstring text = ToStdWstring("The settings name " + Server(what[0]) +
                                                   ", the session is at " + Server(session[0]) + ":");
            EXPECT_TRUE(Logged(text)) << "no warning that the settings name another server";
        } else if (what == "remove") {
            result = driver.Remove();
        } else if (what == "init") {
            result = driver.Init();
        } else if (what == "deinit") {
            result = driver.DeInit();
        } else if (what == "check") {
            result = driver.Check();
        } else if (what == "event") {
            uint32_t event = 0;
            words >> event;
            result = driver.Event(event, 0.0);
        } else if (what == "read") {
            uint32_t channel = 0;
            float expected = 0, value = 0;
            words >> channel;
            const bool bValue = words.get() == '=' && (words >> expected);
            result = driver.Read(channel, value);
            if (bValue) {
                EXPECT_FLOAT_EQ(expected, value);
            }
        } else {
            FAIL() << "unknown step";
        }
        std::string code;
        double within = 0;
        std::istringstream outcome(
            step.find(" -> ") == std::string::npos ? "" : step.substr(step.find(" -> ") + 4));
        outcome >> code >> what >> within;
        // Over VISA a refused connect answers VISA's own code.
        const uint32_t expected = code.empty() ? 0 : Codes.at(code);
        EXPECT_CODE(expected == EthernetNotConnected && mKind == "VISA" ? VisaResourceNotFound : expected,
                    result);
        if (within > 0) {
            EXPECT_LT(TestSupport::MillisecondsSince(start), within * Timeout * 1000);
        }
    }

    // Removes the drivers, then compares the lines of each connection and the warnings.
    void Check(const SessionRow &row) {
        mAd.Remove();
        mEut.Remove();
        for (const auto &[name, expected] :
             {std::pair<char, const std::vector<std::string> *>{'A', &row.A}, {'B', &row.B}}) {
            PecosSimulator &simulator = *mSimulators[name];
            EXPECT_TRUE(simulator.WaitForClosed(expected->size()));
            ASSERT_EQ(expected->size(), simulator.Count("open")) << name;
            for (size_t connection = 0; connection < expected->size(); ++connection)
                EXPECT_EQ(ConnectionLines(name, (*expected)[connection]),
                          simulator.Received(static_cast<unsigned>(connection + 1)))
                    << name << " connection " << connection + 1;
        }
        EXPECT_EQ(mWarnings, Logged(L"Detectors left switched on at ")) << "warnings";
        EXPECT_EQ(mTold, Logged(L"The settings name ")) << "warnings of another server";
    }

private:
    Lines ConnectionLines(char server, const std::string &items) {
        Lines lines;
        for (size_t at = 0; at < items.size();) {
            const size_t end = std::min(items.find(", ", at), items.size());
            const std::string item = items.substr(at, end - at);
            at = end + 2;
            std::istringstream words(item);
            std::string first;
            words >> first;
            const Lines part = item == "login"                   ? Lines{"AUTH-" + mLogins.at(server)}
                               : item == "dashes"                ? DashLines
                               : first == "on" || first == "off" ? Detectors(first, Rest(words))
                                                                 : Lines{item};
            lines.insert(lines.end(), part.begin(), part.end());
        }
        return lines;
    }
    void Start(char name, unsigned port) {
        mSimulators[name] = std::make_unique<PecosSimulator>(
            std::vector<std::string>{"--value", "D1=1.5", "--value", "D2=2.5", "--value", "D3=3.5", "--login",
                                     mLogins.at(name)},
            port);
        mPorts[name] = mSimulators[name]->Port();
        ASSERT_NE(0u, mPorts[name]);
    }
    void Configure(char server, const Lines &names) {
        mServer = server;
        mNames = names;
        const std::string login = mLogins.at(server);
        const size_t colon = login.find(':');
        SettingsFile settings;
        const std::string file = settings.Server(mPorts.at(server), mKind)
                                     .Login(mUser.empty() ? login.substr(0, colon) : mUser,
                                            mPassword.empty() ? login.substr(colon + 1) : mPassword)
                                     .Detectors(names, "100")
                                     .Write();
        for (HostDriver *driver : {&mAd, &mEut}) {
            ASSERT_CODE(0u, driver->Load(file));
            ASSERT_CODE(0u, driver->Client()->SetTimeout(nullptr, Timeout));
        }
    }
    // The server's stream settings only, without the drivers' settings load.
    void Page(char server) {
        SettingsFile settings;
        auto database = CreateINIProgramSettingsDatabase(settings.Server(mPorts.at(server), mKind).Write());
        database->Open();
        for (HostDriver *driver : {&mAd, &mEut})
            EXPECT_CODE(0u, driver->Client()->GetConfigurationManager().LoadConfiguration(database));
        database->Close();
    }
    void Control(char name, std::string command) {
        const size_t at = command.find("$LOCK");
        if (at != std::string::npos)
            command.replace(at, 5, LockPath(name));
        PecosSimulator &simulator = *mSimulators.at(name);
        ASSERT_TRUE(simulator.Control(command));
        if (command == "drop" || command == "reset") {
            ASSERT_TRUE(simulator.WaitFor([&](const std::vector<SimulatorEvent> &events) {
                return std::any_of(events.begin(), events.end(),
                                   [&](const SimulatorEvent &e) { return e.Kind == command; });
            }));
        }
    }
    std::string Server(char name) const {
        const auto port = static_cast<unsigned short>(mPorts.at(name));
        return mKind == "VISA" ? "VISA:" + PecosVisaResource("127.0.0.1", port)
                               : "ETHER:tcpip://127.0.0.1:" + std::to_string(port);
    }
    std::string LockPath(char name) const {
        return Platform::NamedMutex::LockFilePath(MakeStreamLockName(Server(name)));
    }
    static Lines Rest(std::istream &words) {
        Lines rest;
        for (std::string word; words >> word;)
            rest.push_back(word);
        return rest;
    }
    // How many records so far hold the text.
    size_t Logged(const std::wstring &text) {
        for (Quellin::Record &record : mCapture.Records())
            mRecords.push_back(std::move(record));
        return static_cast<size_t>(
            std::count_if(mRecords.begin(), mRecords.end(),
                          [&](const Quellin::Record &r) { return r.Raw.find(text) != std::wstring::npos; }));
    }

    const std::string mKind;
    std::map<char, std::string> mLogins{{'A', "user:pw"}, {'B', "ub:pb"}, {'C', "uc:pc"}};
    char mServer = 'A';
    Lines mNames;
    std::string mUser, mPassword; // of the settings where not the server's
    RecordCapture mCapture{false};
    std::vector<Quellin::Record> mRecords;
    std::map<char, std::unique_ptr<PecosSimulator>> mSimulators;
    std::map<char, unsigned> mPorts;
    HostDriver mAd{"PONTISPECOS_AD_8", PluginExports::InProcess()};
    HostDriver mEut{"PONTISPECOS_EUT_8", PluginExports::InProcess()};
    int mLock = -1;
    size_t mWarnings = 0;
    size_t mTold = 0;
};

// The session tables run over each stream kind, as tests of their own.
class PecosSessionTest : public ::testing::TestWithParam<std::string> {
protected:
    void Run(const std::vector<SessionRow> &rows) {
        for (const SessionRow &row : rows) {
            SCOPED_TRACE(row.Name);
            SessionWorld world(GetParam());
            for (size_t at = 0; at < std::strlen(row.Steps);) {
                const size_t end = std::min(std::string(row.Steps).find("; ", at), std::strlen(row.Steps));
                world.Run(std::string(row.Steps).substr(at, end - at));
                at = end + 2;
            }
            world.Check(row);
        }
    }
};

INSTANTIATE_TEST_SUITE_P(Kinds, PecosSessionTest, ::testing::Values("TCPIP", "VISA"));

} // namespace

// Every session of an AD converter switches off at its end what it switched on, at the server it
// switched it on at, also once the settings name another server: over the session's connection, or
// over one new connection to that server when that one is gone (closed, reset, lost to a read),
// without a restore. A new InitDevice at another server ends the earlier session first; what that
// server cannot take (a held lock, a refused connect) is forgotten with a warning and does not fail
// the new session.
TEST_P(PecosSessionTest, EachSessionSwitchesOffWhatItSwitchedOnAtItsServer) {
    Run({
        {"to another server",
         "A D1 D2; init; B D3 D4; init; B:drop; read 0; deinit",
         {"login, on D1 D2, off D1 D2"},
         {"login, on D3 D4", "login, on D3 D4, D3, off D3 D4"}},
        {"to a server that refuses",
         "A D1 D2; init; C D3 D4; init -> refused within 2; deinit -> notconnected",
         {"login, on D1 D2, off D1 D2"},
         {}},
        {"to another server after the first closed the idle connection",
         "A D1 D2; init; A:drop; B D3 D4; init; deinit",
         {"login, on D1 D2", "login, off D1 D2"},
         {"login, on D3 D4, off D3 D4"}},
        {"to another server after the first reset the idle connection",
         "A D1 D2; init; A:reset; B D3 D4; init; deinit",
         {"login, on D1 D2", "login, off D1 D2"},
         {"login, on D3 D4, off D3 D4"}},
        {"to another server whose drop a read met first",
         "A D1 D2; init; B D3 D4; A:drop; read 0 -> notconnected; told B A; init; deinit",
         {"login, on D1 D2", "login, off D1 D2"},
         {"login, on D3 D4, off D3 D4"}},
        {"to another server with a map that keeps D1",
         "A D1 D2; init; B D1 D3; init; deinit",
         {"login, on D1 D2, off D1 D2"},
         {"login, on D1 D3, off D1 D3"}},
        {"to another server while the first one's lock is held",
         "A D1 D2; init; B D3 D4; lock; init -> 0 within 2.2; warned A D1 D2; unlock; deinit",
         {"login, on D1 D2"},
         {"login, on D3 D4, off D3 D4"}},
        {"de-initialised after the settings named another server",
         "A D1 D2; init; B D3 D4; deinit",
         {"login, on D1 D2, off D1 D2"},
         {}},
        {"de-initialised again after the settings named another server",
         "A D1 D2; init; B D3 D4; lock; deinit -> lock within 1.9; unlock; deinit",
         {"login, on D1 D2", "login, off D1 D2"},
         {}},
        {"de-initialised after the settings named another server and the first one closed",
         "A D1 D2; init; B D3 D4; A:drop; read 0 -> notconnected; told B A; deinit",
         {"login, on D1 D2", "login, off D1 D2"},
         {}},
    });
}

// The same at one server: a new InitDevice switches off what its map leaves out over its own
// connection, and a switch-off that lost its lock or its server leaves the rest to the next; only
// names whose switch-on line may have gone out count, connections that the server closes in the
// middle send no line twice, and a removed driver names what stays on.
TEST_P(PecosSessionTest, EachSessionAtOneServerSwitchesOffWhatItSwitchedOn) {
    Run({
        {"maps changing at one server",
         "A D1 D2; init; A D2 D3; init; A D3 D4; init; deinit",
         {"login, on D1 D2", "login, off D1, on D2 D3", "login, off D2, on D3 D4, off D3 D4"},
         {}},
        {"a close after the switch-off of a new map",
         "A D1 D2; init; A D2 D3; A:on CMD-D1-ENABLE-NO times=1 drop; init; deinit",
         {"login, on D1 D2", "login, off D1", "login, on D2 D3, off D2 D3"},
         {}},
        {"a changed map at one server after its connection was lost",
         "A D1 D2; init; A:drop; A D2 D3; init -> 0 within 1.5; deinit",
         {"login, on D1 D2", "login, off D1, on D2 D3, off D2 D3"},
         {}},
        {"a reconnect after the settings' password was edited",
         "A D1 D2; init; pw other; A:drop; read 0=1.5; deinit",
         {"login, on D1 D2", "login, on D1 D2, D1, off D1 D2"},
         {}},
        {"a re-init whose login cannot be sent",
         "A D1 D2; init; pw \x1B; init -> authorisation; read 0=1.5; deinit",
         {"login, on D1 D2, D1, off D1 D2"},
         {}},
        {"a re-init whose map cannot be sent",
         "A D1 D2; init; A D1 SUB-D3; init -> subscribe; read 0=1.5; deinit",
         {"login, on D1 D2, D1, off D1 D2"},
         {}},
        {"reads after a re-init refused for a name with SUB-",
         "A D1 D2; init; A D1 SUB-D2; init -> subscribe; read 1 -> subscribe; read 0=1.5; deinit",
         {"login, on D1 D2, D1, off D1 D2"},
         {}},
        {"reads of a map with SUB- loaded mid-session",
         "A D1 D2; init; A D1 SUB-D2; read 1 -> subscribe; read 0=1.5; deinit",
         {"login, on D1 D2, D1, off D1 D2"},
         {}},
        {"a re-init whose user name holds a colon",
         "A D1 D2; init; eut init; user u:x; init -> authorisation; eut init -> authorisation; read 0=1.5; "
         "deinit; eut deinit",
         {"login, on D1 D2, D1, off D1 D2", "login, dashes"},
         {}},
        {"a held lock",
         "A D1 D2 D3 D4; init; lock; deinit -> lock within 1.9; unlock; deinit; deinit -> notconnected",
         {"login, on D1 D2 D3 D4", "login, off D1 D2 D3 D4"},
         {}},
        {"a lock held from right after the login",
         "A:on @auth times=1 lock=$LOCK reply=ok; A D1 D2; init -> lock within 1.9; A:unlock; "
         "deinit -> notconnected",
         {"login"},
         {}},
        {"a lock held from right after the first detector",
         "A:on CMD-D1-ACTIVATE-YES times=1 lock=$LOCK; A D1 D2; init -> lock within 1.9; A:unlock; deinit",
         {"login, on D1", "login, off D1"},
         {}},
        {"a close after a switch-off line",
         "A D1 D2; init; A:on CMD-D1-ENABLE-NO times=1 drop; deinit",
         {"login, on D1 D2, off D1", "login, off D2"},
         {}},
        {"a close after an ACTIVATE line",
         "A:on CMD-D1-ACTIVATE-YES times=1 drop; A D1 D2; init; read 1=2.5; deinit",
         {"login, on D1", "login, on D1 D2, D2, off D1 D2"},
         {}},
        {"a server that stops on an ACTIVATE line",
         "A:on CMD-D2-ACTIVATE-YES stop; A D1 D2 D3 D4; init -> refused within 2.2; B@A; deinit",
         {"login, on D1 D2"},
         {"login, off D1 D2"}},
        {"a server that stops in the switch-off",
         "A D1 D2 D3; init; A:on CMD-D1-ENABLE-NO stop; deinit -> refused within 1.8; remove; warned A D2 D3",
         {"login, on D1 D2 D3, off D1"},
         {}},
        {"a close 30 ms after the login",
         "A:on @auth times=1 delay=30 drop; A D1 D2; init; read 1=2.5; deinit",
         {"login", "login, on D1 D2, D2, off D1 D2"},
         {}},
    });
}

// A re-init at the same server with another login ends the earlier session with its own login
// first, then switches off again, under the new login, what the new map leaves out: whichever login
// the server takes, nothing of the earlier session stays on unrecorded. "A:login" is a password
// changed at the server.
TEST_P(PecosSessionTest, AReInitWithAnotherLoginEndsTheEarlierSessionWithItsOwn) {
    Run({
        {"another password at a server that takes only the old one",
         "A D1 D2; init; A D1 D3; pw other; init; deinit",
         {"login, on D1 D2, off D1 D2", "AUTH-user:other, off D2, on D1 D3, off D1 D3"},
         {}},
        {"another password at a server that takes only the new one",
         "A D1 D2; init; A:login user:other; A:drop; A D1 D3; pw other; init; read 0=1.5; deinit",
         {"login, on D1 D2", "login, off D1 D2", "AUTH-user:other, off D2, on D1 D3, D1, off D1 D3"},
         {}},
        {"another user name at a server that takes only the old one",
         "A D1 D2; init; user other; init; deinit",
         {"login, on D1 D2, off D1 D2", "AUTH-other:pw, on D1 D2, off D1 D2"},
         {}},
        {"another user name at a server that takes only the new one",
         "A D1 D2; init; A:login other:pw; A:drop; A D2 D3; user other; init; read 0=2.5; deinit",
         {"login, on D1 D2", "login, off D1 D2", "AUTH-other:pw, off D1, on D2 D3, D2, off D2 D3"},
         {}},
    });
}

// A session answers only for the server the settings name: once they name another one, a read, an
// event and a device check of either driver answer 0x30001F41 until the next InitDevice, whether the
// session's connection is open or gone, and nothing goes to either server. Without a live session
// the device check asks the server the settings name. A device check whose reply stays incomplete
// closes the connection it made again for the session.
TEST_P(PecosSessionTest, ASessionAnswersOnlyForTheServerTheSettingsName) {
    Run({
        {"settings naming another server",
         "A D1 D2; init; eut init; B D3 D4; read 0 -> notconnected; check -> notconnected; told B A; "
         "eut event 41 -> notconnected; eut check -> notconnected; eut told B A; A:drop; read 0 -> "
         "notconnected; "
         "eut event 41 -> notconnected; eut check -> notconnected; eut init; deinit",
         {"login, on D1 D2", "login, dashes", "login, off D1 D2"},
         {"login, dashes"}},
        {"settings that move away, back and away again, by file and by page",
         "A D1 D2; init; B D3; read 0 -> notconnected; told B A; A D1 D2; read 0=1.5; B D3; read 0 -> "
         "notconnected; told B A; A D1 D2; B D3; read 0 -> notconnected; told B A; page A; read 0=3.5; "
         "page B; read 0 -> notconnected; told B A; deinit",
         {"login, on D1 D2, D1, D3, off D1 D2"},
         {}},
        {"no live session",
         "A D1 D2; init; lock; deinit -> lock within 1.9; unlock; eut init; eut deinit; B D3; check; "
         "eut check; remove; warned A D1 D2",
         {"login, on D1 D2", "login, dashes"},
         {"IDN?", "IDN?"}},
        {"a device check's incomplete reply on a new connection",
         "A D1 D2; init; A:on D1 times=1 pace=400; read 0 -> noresponse; A:on IDN? times=1 pace=200; "
         "check -> mismatch; read 0=1.5; deinit",
         {"login, on D1 D2, D1", "login, on D1 D2, IDN?", "login, on D1 D2, D1, off D1 D2"},
         {}},
    });
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
             EXPECT_CODE(0u, driver.Read(0, value));
             EXPECT_CODE(0u, driver.Check());
             EXPECT_CODE(0u, PluginExports::InProcess().GetValue(nullptr, driver.Id, 56, nullptr, nullptr));
             ASSERT_TRUE(simulator.Control("drop"));
             ASSERT_TRUE(simulator.WaitForClosed(1));
             EXPECT_CODE(0u, driver.Read(0, value));
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
             EXPECT_CODE(0u, driver.Event(41, 0.0));
             EXPECT_CODE(0u, driver.Check());
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
        EXPECT_CODE(0u, driver->DeInit());
        EXPECT_EQ(d.Expected, PecosCallRecords(capture.Records())) << d.Key;
    }
}
