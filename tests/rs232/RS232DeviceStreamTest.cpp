// The "RS-232" stream over a pseudo-terminal: connection without and with port sharing (lock per
// transaction), the bytes a write puts on the wire, a write-read against a responding instrument,
// a driver's exchanges against an instrument's faults (late, slow, cut or paced answers, a dead
// process's answer, a hang-up), and the configuration's order, identifier, settings and legacy
// copies. The VISA stand-in loads; ports go through the serial API unless a test asks for VISA.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <csignal>
#include <future>
#include <map>
#include <optional>
#include <thread>

#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "core/StandInLibraries.h"
#include "platform/SerialPort.h"
#include "rs232/RS232DeviceStream.h"
#include "streams/StreamClientFixture.h"
#include "support/PseudoTerminal.h"
#include "streams/StandInClient.h"
#include "visa/VisaTestFixtures.h"

namespace {

using namespace std::chrono_literals;

// The VISA stand-in and no language library on the search path.
const VisaTest::LibraryFolder gLibraries(VisaTest::LibraryFolder::Files{
    {VisaTest::SystemLibrary, VisaTest::SystemLibrary}});

constexpr int Port = 9;

// The port's back-ends: the serial API, and VISA with the serial character event or without it
// (its waits then poll).
enum class Backend { SerialApi, VisaEvents, VisaPolling };

// A stream whose port goes through the serial API.
struct SerialApiStream : RS232DeviceStream {
    SerialApiStream() { GetDriver().SetImplementation(RS232Configuration::ImplementationSerialApi); }
};

class RS232DeviceStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mTerminal.IsReady()); }

    std::shared_ptr<RS232DeviceStreamConfiguration> Configuration(bool bSharing) {
        auto configuration = std::make_shared<RS232DeviceStreamConfiguration>();
        configuration->SetCOMPort(Port);
        configuration->SetCOMPortSharing(bSharing);
        return configuration;
    }

    // Whether another program could open the port now.
    static bool PortIsFree() {
        Platform::SerialPort other;
        return other.Open(Port) == 0;
    }

    DeviceStreamClient *Client(int index = 0) { return StandInClient(&mClients[index]); }

    // A driver's client on the port over the back-end with the time-out; junk ones are refused.
    std::unique_ptr<DeviceStreamClientWithStream>
    Driver(bool bSharing, int nPort = Port, double dTimeout = 1.0, Backend backend = Backend::SerialApi) {
        auto client =
            ConnectedDriver("RS-232", "[Stream Config.RS232]\nCOMPortSharing=" + std::to_string(bSharing) +
                                          "\nCOMPort=" + std::to_string(nPort));
        UseBackend(*client, backend);
        for (const double seconds : {dTimeout, std::nan(""), -1.0})
            EXPECT_EQ(seconds == dTimeout ? 0u : StreamResult::CouldNotSetValue,
                      client->SetTimeout(nullptr, seconds));
        return client;
    }

    // The client's port goes through the back-end from its next open on; an open port opens again.
    void UseBackend(DeviceStreamClientWithStream &client, Backend backend) {
        mNoCharacterEvents.reset();
        if (backend == Backend::VisaPolling)
            mNoCharacterEvents.emplace("KORVALIS_VISA_NO_CHARACTER_EVENTS", "1");
        const auto stream =
            DeviceStreamBaseDecorator::FindStreamOfType<RS232DeviceStream>(client.GetEmbeddedStream());
        ASSERT_NE(nullptr, stream);
        RS232DeviceDriver &port = stream->GetDriver();
        port.SetImplementation(backend == Backend::SerialApi
                                   ? RS232Configuration::ImplementationSerialApi
                                   : RS232Configuration::ImplementationVisaWhenAvailable);
        if (port.IsRunTimeDataOpen()) {
            port.Close();
            ASSERT_EQ(
                0u, port.Open(port.GetBaudRate(), port.GetParity(), port.GetDataBits(), port.GetStopBits()));
            const auto *visa = dynamic_cast<const RS232RunTimeDataVISA *>(
                RS232DeviceDriver::FindSharedRunTimeData(port.GetCOMPort()));
            ASSERT_EQ(backend != Backend::SerialApi, visa != nullptr);
        }
    }

    static DWORD Exchange(DeviceStreamClientWithStream &driver, int n, std::string &sResponse) {
        DWORD count = 100;
        return driver.WriteRead(nullptr, "Q" + std::to_string(n), sResponse, count, 1);
    }

    // Exchanges "Q<first>" to "Q<last>" must answer 0 and "R<n>\n", but exchange nLeftOut and at
    // most nWrong others (a wrong answer or InputNeverQuiet); exchange nNeverQuiet must answer
    // InputNeverQuiet within 1.2 time-outs; from exchange nHealthy on, each costs what a healthy
    // one does: less than the instrument's answer time and a tenth of the time-out, which a drain
    // takes at least.
    void ExpectOwnAnswers(DeviceStreamClientWithStream &driver, int first, int last, int nLeftOut = 0,
                          int nWrong = 0, int nNeverQuiet = 0, int nHealthy = 0) {
        const double dTimeout = driver.GetTimeout(nullptr);
        int wrong = 0;
        for (int n = first; n <= last; mDone = n++) {
            std::string response;
            const auto start = std::chrono::steady_clock::now();
            const DWORD result = Exchange(driver, n, response);
            if (n == nNeverQuiet) {
                EXPECT_EQ(StreamResult::InputNeverQuiet, result) << std::hex << result;
                EXPECT_LT(TestSupport::MillisecondsSince(start), 1200 * dTimeout);
                continue;
            }
            if (nHealthy != 0 && n >= nHealthy) {
                EXPECT_LT(TestSupport::MillisecondsSince(start), mLatency.count() + 100 * dTimeout) << n;
            }
            // A late answer may also cost the exchange that was dropping it when it came.
            EXPECT_TRUE(result == 0 || result == StreamResult::InputNeverQuiet)
                << n << std::hex << ": 0x" << result;
            if (result != 0 || (n != nLeftOut && response != "R" + std::to_string(n) + "\n")) {
                EXPECT_LT(wrong++, nWrong) << "a wrong answer " << n << ": " << response;
            }
        }
    }

    // The instrument answers "Q<n>" with "R<n>\n" after mLatency, exchange 3 by answer3, up to
    // "Q<last>"; mQueries gets the numbers asked.
    void Answer(int last, const std::function<void()> &answer3 = nullptr) {
        for (int n = 0; n != last;) {
            const std::string q = mTerminal.Receive(100, "\n", 5s);
            if (q.size() < 3)
                return;
            n = std::stoi(q.substr(1));
            mQueries.push_back(n);
            std::this_thread::sleep_for(mLatency);
            if (n == 3 && answer3)
                answer3();
            else
                mTerminal.Send("R" + std::to_string(n) + "\n");
        }
    }

    TestSupport::IsolatedEnvironment mEnvironment;
    TestSupport::PseudoTerminal mTerminal{Port};
    int mClients[2] = {};
    std::atomic<int> mDone{0}; // the last exchange that returned
    std::chrono::milliseconds mLatency{0};
    std::vector<int> mQueries;
    std::thread mLateAnswer;
    std::optional<TestSupport::ScopedEnv> mNoCharacterEvents;
};

// The driver's exchanges over each back-end.
class RS232ExchangeTest : public RS232DeviceStreamTest, public ::testing::WithParamInterface<Backend> {};

void PrintTo(Backend backend, std::ostream *out) {
    const char *names[] = {"SerialApi", "VisaEvents", "VisaPolling"};
    *out << names[static_cast<int>(backend)];
}

std::string BackendName(const ::testing::TestParamInfo<Backend> &info) {
    return ::testing::PrintToString(info.param);
}

INSTANTIATE_TEST_SUITE_P(Backends, RS232ExchangeTest,
                         ::testing::Values(Backend::SerialApi, Backend::VisaEvents, Backend::VisaPolling),
                         BackendName);

TEST_F(RS232DeviceStreamTest, WithoutSharingTheFirstClientOpensAndTheLastClosesThePort) {
    SerialApiStream stream;
    ASSERT_EQ(0u, stream.Connect(nullptr, Configuration(false), Client(0)));
    EXPECT_TRUE(stream.IsConnected());
    EXPECT_FALSE(PortIsFree());
    EXPECT_EQ(L"Global\\KORVALIS:DS:RS232:COM9", stream.GetLockName());
    ASSERT_EQ(0u, stream.Connect(nullptr, Configuration(false), Client(1)));
    EXPECT_EQ(2u, stream.GetClientCount());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, Client(0)));
    EXPECT_FALSE(PortIsFree());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, Client(1)));
    EXPECT_FALSE(stream.IsConnected());
    EXPECT_TRUE(PortIsFree());
}

TEST_F(RS232DeviceStreamTest, WithSharingThePortIsOpenOnlyWithinTheOutermostLock) {
    SerialApiStream stream;
    ASSERT_EQ(0u, stream.Connect(nullptr, Configuration(true), Client()));
    EXPECT_TRUE(stream.IsConnected());
    EXPECT_TRUE(PortIsFree());
    ASSERT_EQ(0u, stream.Lock(nullptr, 1.0));
    EXPECT_FALSE(PortIsFree());
    ASSERT_EQ(0u, stream.Lock(nullptr, 1.0));
    EXPECT_EQ(2u, stream.GetTransactionCount());
    EXPECT_EQ(0u, stream.Unlock(nullptr));
    EXPECT_FALSE(PortIsFree());
    EXPECT_EQ(0u, stream.Write(nullptr, "PING", false));
    EXPECT_EQ("PING\n", mTerminal.Receive(5));
    EXPECT_EQ(0u, stream.Unlock(nullptr));
    EXPECT_TRUE(PortIsFree());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, Client()));
}

TEST_F(RS232DeviceStreamTest, APortThatCannotOpenAtTheLockLeavesTheStreamUnlocked) {
    SerialApiStream stream;
    ASSERT_EQ(0u, stream.Connect(nullptr, Configuration(true), Client()));
    {
        Platform::SerialPort other;
        ASSERT_EQ(0u, other.Open(Port));
        EXPECT_EQ(RS232Result::PortAccessDenied, stream.Lock(nullptr, 1.0));
    }
    EXPECT_EQ(0u, stream.GetTransactionCount());
    DWORD otherThread = 1;
    std::thread([&] {
        Mutex probe(stream.GetLockName());
        otherThread = probe.Lock(0);
        probe.Unlock();
    }).join();
    EXPECT_EQ(0u, otherThread);
    EXPECT_EQ(0u, stream.Lock(nullptr, 1.0));
    EXPECT_EQ(0u, stream.Unlock(nullptr));
}

TEST_F(RS232DeviceStreamTest, AWritePutsTheTerminationsOnTheWire) {
    struct Case {
        std::string Command;
        bool WaitForOPC;
        bool StreamTermination; // the stream's own "\n"
        CommunicationTerminationOption Option;
        std::string Wire;
    };
    const Case cases[] = {
        {"MEAS", true, true, LineFeed, "MEAS;*OPC?\n"},
        {"", true, true, LineFeed, "*OPC?\n"},
        {"A\n", false, true, LineFeed, "A\n"},
        {"X", false, true, NoTermination, "X\n"},
        {"X", false, false, CarrierReturn, "X\r"},
        {"A", false, false, CarrierReturnPlusLineFeed, "A\r\n"},
        {"AB", false, false, CarrierReturnPlusLineFeed, "AB\r\n"},
        {"AB\r\n", false, false, CarrierReturnPlusLineFeed, "AB\r\n"},
        {"Z", false, true, CarrierReturnPlusLineFeed, "Z\n\r\n"},
    };
    for (const Case &test : cases) {
        auto configuration = Configuration(false);
        configuration->SetSendTermination(test.Option);
        SerialApiStream stream;
        ASSERT_EQ(0u, stream.Connect(nullptr, configuration, Client()));
        stream.SetWriteTermination(nullptr, "\n", test.StreamTermination);
        stream.SetTimeout(nullptr, 0.3);
        EXPECT_EQ(0u, stream.Write(nullptr, test.Command, test.WaitForOPC)) << test.Command;
        EXPECT_EQ(test.Wire, mTerminal.Receive(test.Wire.size() + 1, "", std::chrono::milliseconds(300)))
            << test.Command;
        stream.Disconnect(nullptr, Client());
    }
}

TEST_F(RS232DeviceStreamTest, AWriteOnADisconnectedStreamSendsNothingAndFails) {
    RS232DeviceStream stream;
    EXPECT_EQ(RS232Result::PortNotOpen, stream.Write(nullptr, "*RST", false));
    EXPECT_EQ(0u, stream.ClearInputBuffers(nullptr));
    EXPECT_EQ("", mTerminal.Receive(1, "", std::chrono::milliseconds(100)));
}

TEST_F(RS232DeviceStreamTest, AWriteReadGetsTheInstrumentsReply) {
    for (const bool bSharing : {false, true}) {
        SerialApiStream stream;
        ASSERT_EQ(0u, stream.Connect(nullptr, Configuration(bSharing), Client()));
        stream.SetTimeout(nullptr, 2.0);
        std::thread instrument([this] {
            if (mTerminal.Receive(100, "\n") == "*IDN?\n")
                mTerminal.Send("PECOS-8\r\n");
        });
        std::string response;
        DWORD count = 100;
        EXPECT_EQ(0u, stream.WriteRead(nullptr, "*IDN?", response, count, 3));
        instrument.join();
        EXPECT_EQ("PECOS-8\r\n", response);
        EXPECT_EQ(0u, stream.GetTransactionCount());
        EXPECT_EQ(bSharing, PortIsFree());
        stream.Disconnect(nullptr, Client());
    }
}

// Exchange 3 gives up, or is cut at its count, while its answer still comes (the instrument
// answers after 25 ms, or after 0.3 or 0.5 time-outs): no later exchange takes what came, or one
// only where the answer is time-outs late to a quick instrument; once what came was dropped, the
// exchanges cost what healthy ones do. Input that never goes quiet after a lost answer fails the
// next exchange with a code, and its command is not sent.
TEST_P(RS232ExchangeTest, AnAnswerThatCameLateOrWasCutCostsAtMostOneAnswer) {
    const auto late = [this](double dTimeouts) {
        return [this, dTimeouts](double T) {
            mLateAnswer = std::thread([this, dTimeouts, T] {
                std::this_thread::sleep_for(std::chrono::duration<double>(dTimeouts * T) - mLatency);
                mTerminal.Send("R3\n");
            });
        };
    };
    const struct {
        const char *Name;
        std::function<void(double T)> Answer3;
        int Last, Wrong, NeverQuiet, Healthy;
        double T, Latency; // the time-out, and the instrument's answer time in time-outs
    } rows[] = {
        {"after its exchange",
         [this](double) {
             TestSupport::WaitUntil([this] { return mDone >= 3; }, 5s);
             std::this_thread::sleep_for(30ms);
             mTerminal.Send("R3\n");
         },
         8, 0, 0, 5, 2.0, 0.0125},
        {"cut at the count", [this](double) { mTerminal.Send(std::string(4000, 'x')); }, 8, 0, 0, 5, 2.0,
         0.0125},
        {"2.3 time-outs late", late(2.3), 25, 1, 0, 10, 2.0, 0.0125},
        {"5 time-outs late", late(5.0), 36, 1, 0, 0, 2.0, 0.0125},
        {"never quiet",
         [this](double) {
             TestSupport::WaitUntil([this] { return mDone >= 3; }, 5s);
             while (mDone < 4)
                 mTerminal.Send("x"), std::this_thread::sleep_for(5ms);
         },
         6, 0, 4, 0, 2.0, 0.0125},
        {"2.3 time-outs late, answers after 0.3", late(2.3), 8, 0, 0, 5, 1.0, 0.3},
        {"2.3 time-outs late, answers after 0.5", late(2.3), 8, 0, 0, 5, 1.0, 0.5},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Name);
        mDone = 0;
        mQueries.clear();
        mLatency = std::chrono::milliseconds(static_cast<int>(row.Latency * row.T * 1000));
        auto driver = Driver(false, Port, row.T, GetParam());
        std::thread instrument([&] { Answer(row.Last, [&] { row.Answer3(row.T); }); });
        ExpectOwnAnswers(*driver, 1, row.Last, 3, row.Wrong, row.NeverQuiet, row.Healthy);
        instrument.join();
        if (mLateAnswer.joinable())
            mLateAnswer.join();
        if (row.NeverQuiet != 0) {
            EXPECT_EQ(0, std::count(mQueries.begin(), mQueries.end(), row.NeverQuiet));
        }
    }
}

// Replies read to a count of 8 without a line end: whole records cost no drain; the rest of a
// reply cut at the count, paced at line speed, and a record that comes unasked 1 ms after the
// answer never become an answer.
TEST_P(RS232ExchangeTest, RecordsReadToTheirCountAreWholeOrTheirRestIsDropped) {
    const auto record = [](int n) { return FormatString("B%07d", n); };
    const auto reply = [](int n) { return FormatString("R%03d:abcdefghijk", n); };
    const auto line = [](int n) { return FormatString("R%d,+1.2345E+01\r\n", n); };
    const struct {
        const char *Name;
        std::function<std::string(int)> Reply;
        std::chrono::microseconds Pace; // between two bytes
        bool Unasked;
        double T, Cost; // the time-out; the exchanges' bound in time-outs, or 0
    } rows[] = {{"whole records", record, 0us, false, 5.0, 0.1},
                {"16 bytes, a byte a millisecond", reply, 1000us, false, 1.0, 0},
                {"16 bytes, a byte a tenth of a millisecond", reply, 100us, false, 1.0, 0},
                {"a line, a byte a millisecond", line, 1000us, false, 1.0, 0},
                {"a record and an unasked one 1 ms later", record, 0us, true, 1.0, 0}};
    constexpr int Last = 12;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Name);
        auto driver = Driver(false, Port, row.T, GetParam());
        std::thread instrument([&] {
            for (std::string q; (q = mTerminal.Receive(100, "\n", 3s)).size() >= 3;) {
                const int n = std::stoi(q.substr(1));
                mTerminal.SendPaced(row.Reply(n), row.Pace);
                if (row.Unasked)
                    std::this_thread::sleep_for(1ms), mTerminal.Send(FormatString("U%07d", n));
                if (n == Last)
                    break;
            }
        });
        const auto start = std::chrono::steady_clock::now();
        for (int n = 1; n <= Last && TestSupport::MillisecondsSince(start) < 3000 * row.T; ++n) {
            std::string response;
            DWORD count = 8;
            EXPECT_EQ(0u, driver->WriteRead(nullptr, "Q" + std::to_string(n), response, count, 1)) << n;
            EXPECT_EQ(row.Reply(n).substr(0, 8), response) << n;
        }
        if (row.Cost > 0) {
            EXPECT_LT(TestSupport::MillisecondsSince(start), 1000 * row.Cost * row.T);
        }
        instrument.join();
    }
}

// A driver in another process is killed while it waits on the shared port: the answer it waited
// for, which still comes, is no answer of this process.
TEST_F(RS232DeviceStreamTest, TheAnswerOfAProcessKilledWithinItsExchangeIsDropped) {
    if (geteuid() != 0)
        GTEST_SKIP() << "the killed opener leaves the terminal exclusive while the test holds it open";
    const pid_t child = fork();
    std::string response;
    if (child == 0)
        _exit(static_cast<int>(Exchange(*Driver(true, Port, 2.0), 0, response)));
    ASSERT_EQ("Q0\n", mTerminal.Receive(100, "\n", 5s));
    std::this_thread::sleep_for(100ms);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::thread instrument([this] { // still busy with the dead driver's command
        std::this_thread::sleep_for(200ms);
        mTerminal.Send("R0\n");
        Answer(2);
    });
    ExpectOwnAnswers(*Driver(true, Port, 2.0), 1, 2);
    instrument.join();
}

// The far end hangs up within an exchange, before or after a part of the answer: that exchange and
// the next fail at once with a code (and so leave the lock to others), which has a text.
TEST_F(RS232DeviceStreamTest, AHungUpPortFailsItsExchangesAtOnce) {
    for (const bool bPartial : {false, true})
        for (const bool bSharing : {false, true}) {
            TestSupport::PseudoTerminal terminal{10};
            auto driver = Driver(bSharing, 10);
            std::thread instrument([&] {
                terminal.Receive(100, "\n");
                terminal.Send(bPartial ? "R1 par" : "");
                std::this_thread::sleep_for(100ms);
                terminal.HangUp();
            });
            auto exchanges = std::async(std::launch::async, [&] {
                for (int n = 1; n <= 2; ++n) {
                    const auto start = std::chrono::steady_clock::now();
                    std::string response;
                    EXPECT_NE(0u, Exchange(*driver, n, response)) << bPartial << bSharing << n;
                    EXPECT_LT(TestSupport::MillisecondsSince(start), 500.0) << bPartial << bSharing << n;
                }
            });
            if (exchanges.wait_for(10s) != std::future_status::ready) {
                ADD_FAILURE() << "an exchange on the hung-up port did not return";
                std::_Exit(1);
            }
            instrument.join();
            char text[200] = "";
            uint32_t length = 0;
            EXPECT_EQ(0u, driver->GetErrorString(nullptr, 1117, text, sizeof text, &length));
            EXPECT_NE(nullptr, std::strstr(text, "hung up")) << text;
        }
}

// ---- Configuration ------------------------------------------------------------------------------

TEST_F(RS232DeviceStreamTest, ConfigurationsOrderByPortFirstAndIgnoreSharing) {
    auto com1 = Configuration(false);
    com1->SetCOMPort(1);
    com1->SetBaudRate(Br921600);
    auto com2 = Configuration(false);
    com2->SetCOMPort(2);
    com2->SetBaudRate(Br50);
    EXPECT_TRUE(com1->LessThan(com2));
    EXPECT_FALSE(com2->LessThan(com1));
    auto sharedCom1 = Configuration(true);
    sharedCom1->SetCOMPort(1);
    sharedCom1->SetBaudRate(Br921600);
    EXPECT_FALSE(com1->LessThan(sharedCom1));
    EXPECT_FALSE(sharedCom1->LessThan(com1));
    sharedCom1->SetXonXoffFlowControl(true);
    EXPECT_TRUE(com1->LessThan(sharedCom1));
    com1->SetCOMPort(12);
    EXPECT_EQ("RS232:COM12", com1->GetIdentifier());
    EXPECT_TRUE(com1->IsValid());
    com1->SetCOMPort(0);
    EXPECT_FALSE(com1->IsValid());
}

TEST_F(RS232DeviceStreamTest, TheKindIsRegisteredForStreamAndConfiguration) {
    std::unique_ptr<DeviceStreamConfiguration> configuration(CreateConfiguration("RS-232"));
    ASSERT_NE(nullptr, configuration);
    EXPECT_EQ("RS-232", configuration->GetIDString());
    std::unique_ptr<WriteReadDeviceStream> stream(CreateStream("RS-232"));
    EXPECT_NE(nullptr, dynamic_cast<RS232DeviceStream *>(stream.get()));
}

TEST_F(RS232DeviceStreamTest, TheSettingsRoundTripThroughTheTableRS232) {
    TestSupport::TempDir dir;
    const std::string file = dir.File("stream.ini");
    auto original = Configuration(true);
    original->SetBaudRate(Br57600);
    original->SetParity(Even);
    original->SetSendTermination(CarrierReturnPlusLineFeed);
    original->SetReceiveTermination(LineFeed);
    original->SetNewLineReturnIsEndOfString(false);
    original->SetRTSEnable(true); // not stored
    {
        auto database = CreateINIProgramSettingsDatabase(file);
        database->Open();
        database->PushTable("Stream Config");
        EXPECT_EQ(0u, original->SaveProgramSettings(database));
        database->Close();
    }
    const std::string text = TestSupport::ReadFile(file);
    EXPECT_NE(std::string::npos, text.find("[Stream Config.RS232]")) << text;
    EXPECT_NE(std::string::npos, text.find("COMPortSharing=")) << text;
    EXPECT_EQ(std::string::npos, text.find("RTS")) << text;
    auto loaded = std::make_shared<RS232DeviceStreamConfiguration>();
    auto database = CreateINIProgramSettingsDatabase(file);
    database->Open();
    database->PushTable("Stream Config");
    EXPECT_EQ(0u, loaded->LoadProgramSettings(database));
    EXPECT_FALSE(loaded->GetRTSEnable());
    loaded->SetRTSEnable(true);
    EXPECT_FALSE(loaded->LessThan(original));
    EXPECT_FALSE(original->LessThan(loaded));
    EXPECT_TRUE(loaded->GetCOMPortSharing());
}

TEST_F(RS232DeviceStreamTest, TheLegacyCopiesCarryTheTenValues) {
    RS232Configuration legacy;
    legacy.SetCOMPort(4);
    legacy.SetParity(Mark);
    legacy.SetBaudRate(Br4800);
    legacy.SetDataBits(Data7);
    legacy.SetStopBits(Stop2);
    legacy.SetCOMPortSharing(true);
    legacy.SetRTSAroundWrite(false);
    legacy.SetNewLineReturnIsEndOfString(false);
    legacy.SetRTSEnable(true);
    legacy.SetXonXoffFlowControl(true);
    RS232DeviceStreamConfiguration stream;
    stream.SetFromRS232Configuration(legacy);
    RS232Configuration back;
    stream.CopyToRS232Configuration(back);
    EXPECT_TRUE(back.IsSameConfiguration(legacy));
    EXPECT_FALSE(back.GetRTSAroundWrite());
    EXPECT_FALSE(back.GetNewLineReturnIsEndOfString());
    EXPECT_EQ("RS232:COM4", stream.GetIdentifier());
}

// Without the language library only the port's own codes read its load failure.
TEST_F(RS232DeviceStreamTest, WithoutTheLanguageLibraryEveryCodeKeepsItsText) {
    ASSERT_TRUE(StandIns::LanguageLibraryMissing::ReallyMissing()) << "the language library is loadable";
    auto driver = Driver(false);
    for (const auto &[code, expected] : std::map<DWORD, std::string>{
             {0x300001A2, "The device kept sending after an answer was lost: the command was not sent."},
             {0x3000012E, "The device did not send the complete response within the time-out."},
             {0x30001F46, "Could not set value in device"},
             {0x3000012F, "Can not load TovikLang.dll"}}) {
        char text[200] = "";
        uint32_t length = 0;
        EXPECT_EQ(0u, driver->GetErrorString(nullptr, code, text, sizeof text, &length));
        EXPECT_EQ(expected, std::string(text, length)) << std::hex << code;
    }
}

} // namespace
