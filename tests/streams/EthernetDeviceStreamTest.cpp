// The TCP stream against a loopback server: addresses, settings, the bytes on the wire, the
// completion rules of a read, pending input, the operation-complete wait, dropped connections,
// Nagle's rule, write-read through the stream, and two processes sharing one stream name.
#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "LoopbackServer.h"
#include "StreamTestEnvironment.h"
#include "core/ProgramSettingsDatabase.h"
#include "streams/etherds/EthernetDeviceStream.h"
#include "streams/etherds/HTTPDeviceStream.h"
#include "support/ChildProcessTest.h"
#include "StandInClient.h"

namespace {

using namespace std::chrono_literals;

DeviceStreamClient *Client(int n) {
    static char entries[4];
    return StandInClient(&entries[n]);
}

std::shared_ptr<EthernetDeviceStreamConfig> ConfigurationFor(const std::string &address) {
    auto configuration = std::make_shared<EthernetDeviceStreamConfig>();
    configuration->SetAddress(address);
    return configuration;
}

using TestSupport::MillisecondsSince;

// ---- Configuration --------------------------------------------------------------------------------

TEST(EthernetConfiguration, AddressesAreNormalisedWithTheDefaultsForWhatIsMissing) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "tcpip://192.168.13.89:7895"},
        {"tcpip://10.0.0.7:5025", "tcpip://10.0.0.7:5025"},
        {"tcpip://10.0.0.7", "tcpip://10.0.0.7:7895"},
        {"tcpip://10.0.0.7:0", "tcpip://10.0.0.7:7895"},
        {"tcpip://10.0.0.7:x", "tcpip://10.0.0.7:7895"},
        {"tcpip://10.0.0.7:5025x", "tcpip://10.0.0.7:7895"},
        {"tcpip://10.0.0.7:50a25/path", "tcpip://10.0.0.7:7895"},
        {"tcpip://10.0.0.7:5025/path", "tcpip://10.0.0.7:5025"},
        {"tcpip://10.0.0.7:70000", "tcpip://10.0.0.7:7895"},
        {"tcpip://10.0.0.7:4294972191", "tcpip://10.0.0.7:7895"},
        {"10.0.0.7:5025", "tcpip://192.168.13.89:7895"},
        {"tcpip://instrument.local:5025", "tcpip://instrument.local:5025"},
        {"tcpip://[::1]:5025", "tcpip://[::1]:5025"},
    };
    for (const auto &[address, normal] : cases)
        EXPECT_EQ(normal, ConfigurationFor(address)->GetAddress()) << address;
    EthernetDeviceStreamConfig fresh;
    EXPECT_EQ("ETHER:tcpip://192.168.13.89:7895", fresh.GetIdentifier());
    EXPECT_FALSE(fresh.IsValid());
    fresh.SetDefaultServer("127.0.0.1");
    fresh.SetDefaultPort(15444);
    EXPECT_EQ("tcpip://127.0.0.1:15444", fresh.GetAddress());
    EXPECT_TRUE(ConfigurationFor("x")->IsValid());
}

TEST(EthernetConfiguration, EqualNormalisedAddressesShareAndKindsOrderFirst) {
    auto bare = ConfigurationFor("tcpip://127.0.0.1");
    auto full = ConfigurationFor("tcpip://127.0.0.1:7895");
    EXPECT_FALSE(bare->LessThan(full));
    EXPECT_FALSE(full->LessThan(bare));
    auto other = ConfigurationFor("tcpip://127.0.0.2:7895");
    EXPECT_TRUE(full->LessThan(other));
    EXPECT_FALSE(other->LessThan(full));
}

TEST(EthernetConfiguration, TheAddressLivesInItsOwnTableBelowTheCallers) {
    TestSupport::TempDir dir;
    const std::string file = dir.File("driver.ini");
    std::shared_ptr<ProgramSettingsDatabase> database = CreateINIProgramSettingsDatabase(file);
    ASSERT_TRUE(database);
    database->Open();
    database->PushTable("Stream Config");
    EXPECT_EQ(0u, ConfigurationFor("tcpip://127.0.0.1:5025")->SaveProgramSettings(database));
    EthernetDeviceStreamConfig loaded;
    EXPECT_EQ(0u, loaded.LoadProgramSettings(database));
    database->WriteValue("Selected", std::string("TCPIP")); // still in the caller's table
    database->PopTable();
    database->Close();
    EXPECT_EQ("tcpip://127.0.0.1:5025", loaded.GetAddressText());
    const std::string text = TestSupport::ReadFile(file);
    EXPECT_NE(std::string::npos, text.find("[Stream Config.Ethernet]\nAddress=tcpip://127.0.0.1:5025\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("[Stream Config]\nSelected=TCPIP\n")) << text;
    std::shared_ptr<ProgramSettingsDatabase> none;
    EXPECT_EQ(0u, loaded.LoadProgramSettings(none));
}

TEST(EthernetErrors, EveryNetworkCodeHasItsTextAndOthersHaveNone) {
    EthernetDeviceStream stream;
    char text[200];
    uint32_t length = 99;
    EXPECT_EQ(0u, stream.GetErrorString(nullptr, 0x300002D6, text, sizeof(text), &length));
    EXPECT_STREQ("Ethernet Timeout detected", text);
    EXPECT_EQ(25u, length);
    EXPECT_EQ(0u, stream.GetErrorString(nullptr, 0x30000001, text, sizeof(text), &length));
    EXPECT_STREQ("", text);
    EXPECT_EQ(0u, length);
    EXPECT_EQ(0u, stream.GetErrorString(nullptr, 0x300002D8, text, sizeof(text), &length));
    EXPECT_STREQ("Could not connect to the specified address and port. The receiving address should be a "
                 "local address and port.",
                 text);
    char small[8];
    EXPECT_EQ(0u, stream.GetErrorString(nullptr, 0x300002D3, small, sizeof(small), &length));
    EXPECT_STREQ("Etherne", small);
}

// ---- Connection -----------------------------------------------------------------------------------

class EthernetStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        mStream.SetTimeout(nullptr, 2.0);
        ASSERT_EQ(0u, mStream.Connect(nullptr, ConfigurationFor(mServer.Address()), Client(0)));
        ASSERT_TRUE(mServer.WaitForConnections(1));
    }
    void TearDown() override { mStream.Disconnect(nullptr, Client(0)); }

    LoopbackServer mServer;
    EthernetDeviceStream mStream;
};

TEST_F(EthernetStreamTest, TheWriteTerminationIsAddedOnce) {
    EXPECT_EQ(0u, mStream.Write(nullptr, "*IDN?", false));
    EXPECT_EQ(6u, mStream.GetLastWriteCount());
    EXPECT_EQ(0u, mStream.Write(nullptr, "*RST\n", false));
    mStream.SetWriteTermination(nullptr, "\r\n", true);
    EXPECT_EQ(0u, mStream.Write(nullptr, "A\n", false));
    mStream.SetWriteTermination(nullptr, "\r\n", false);
    EXPECT_EQ(0u, mStream.Write(nullptr, "B", false));
    EXPECT_TRUE(mServer.WaitForReceived(0, "*IDN?\n*RST\nA\n\r\nB"));
    EXPECT_EQ(L"Global\\KORVALIS:DS:ETHER:TCPIP://127.0.0.1:" + std::to_wstring(mServer.Port()),
              mStream.GetLockName());
}

TEST_F(EthernetStreamTest, AReadEndsAtTheTerminationAndKeepsTheRestForTheNextRead) {
    mServer.Send(0, "ABC\nDE");
    std::string response;
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("ABC\n", response);
    EXPECT_EQ(4u, mStream.GetLastWriteCount());
    EXPECT_EQ("DE", mStream.GetPendingInput());
    mServer.Send(0, "F\n");
    EXPECT_EQ(0u, mStream.Read(nullptr, response, 4));
    EXPECT_EQ("DEF\n", response);
}

TEST_F(EthernetStreamTest, AReadNeverTakesMoreThanCountFromTheSocket) {
    mServer.Send(0, "ABCDEFG");
    std::string response;
    mStream.SetTimeout(nullptr, 0.5);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 4));
    EXPECT_LT(MillisecondsSince(start), 400.0);
    EXPECT_EQ("ABCD", response);
    EXPECT_EQ("", mStream.GetPendingInput());
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("EFG", response);
}

TEST_F(EthernetStreamTest, WithAnEmptyTerminationAResponseEndsAfterTenQuietMilliseconds) {
    mStream.SetReadTermination(nullptr, "", true);
    mServer.Send(0, "12.5");
    std::string response;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("12.5", response);
    EXPECT_LT(MillisecondsSince(start), 500.0);
}

TEST_F(EthernetStreamTest, AReadOfAnIncompleteResponseEndsAtTheTimeOut) {
    mStream.SetTimeout(nullptr, 0.3);
    mServer.Send(0, "PART");
    std::string response;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("PART", response);
    EXPECT_GE(MillisecondsSince(start), 290.0);
    EXPECT_LT(MillisecondsSince(start), 1500.0);
}

TEST_F(EthernetStreamTest, TheOperationCompleteWaitSkipsSeparatorsAndTimesOut) {
    mServer.SetResponder([](const std::string &line) { return line == "*OPC?\n" ? "\n1\n" : ""; });
    EXPECT_EQ(0u, mStream.Write(nullptr, "", true));
    EXPECT_TRUE(mServer.WaitForReceived(0, "*OPC?\n"));
    mServer.SetResponder(nullptr);
    mStream.SetTimeout(nullptr, 0.3);
    EXPECT_EQ(0x3000019Au, mStream.Write(nullptr, "INIT", true));
    EXPECT_TRUE(mServer.WaitForReceived(0, "*OPC?\nINIT\n*OPC?\n"));
}

TEST_F(EthernetStreamTest, APeerThatClosesEndsTheReadAtOnceWithWhatArrived) {
    mServer.Send(0, "LAST");
    mServer.Close(0);
    std::string response;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("LAST", response);
    EXPECT_LT(MillisecondsSince(start), 500.0);
    EXPECT_FALSE(mStream.IsConnected());
    // Nothing can be sent any more, and that is reported.
    EXPECT_EQ(0x300002D3u, mStream.Write(nullptr, "X", false));
    EXPECT_EQ(0x300002D3u, mStream.Read(nullptr, response, 100));
}

TEST_F(EthernetStreamTest, APeerThatResetsEndsTheReadAtOnceWithWhatArrived) {
    mServer.Send(0, "PART");
    std::string response;
    mStream.SetTimeout(nullptr, 0.05);
    ASSERT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    ASSERT_EQ("PART", response);
    mStream.SetTimeout(nullptr, 2.0);
    mServer.Reset(0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(0u, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("", response);
    EXPECT_LT(MillisecondsSince(start), 500.0);
    EXPECT_FALSE(mStream.IsConnected());
}

// A wait for the answer ends at its time-out, short ones included, or soon after an interrupt.
TEST_F(EthernetStreamTest, AWaitingReadEndsOnTimeOrWhenInterrupted) {
    struct Case {
        double Timeout;     // seconds
        int InterruptAfter; // milliseconds; -1: none
        double AtLeast;     // milliseconds
        double Below;       // milliseconds
    };
    // A read ends once its whole milliseconds have passed: at least a millisecond less in truth.
    const Case cases[] = {
        {0.005, -1, 3.9, 500.0}, {0.015, -1, 13.9, 500.0}, {0.045, -1, 43.9, 500.0}, {5.0, 50, 45.0, 1000.0}};
    for (const Case &c : cases) {
        mStream.SetTimeout(nullptr, c.Timeout);
        std::thread interrupter;
        if (c.InterruptAfter >= 0)
            interrupter = std::thread([this, &c] {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.InterruptAfter));
                mStream.InterruptWait();
            });
        std::string response;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100)) << c.Timeout;
        const double took = MillisecondsSince(start);
        if (interrupter.joinable())
            interrupter.join();
        EXPECT_EQ("", response) << c.Timeout;
        EXPECT_GE(took, c.AtLeast) << c.Timeout;
        EXPECT_LT(took, c.Below) << c.Timeout;
        EXPECT_TRUE(mStream.IsConnected()) << c.Timeout;
    }
    // The connection still carries answers afterwards.
    mServer.Send(0, "OK\n");
    std::string response;
    mStream.SetTimeout(nullptr, 2.0);
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("OK\n", response);
}

// Signals to the calling thread (a profiler's timer, say) while it waits for an answer or for
// room to send.
class EthernetSignalTest : public EthernetStreamTest {
protected:
    void SetUp() override {
        EthernetStreamTest::SetUp();
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        ASSERT_EQ(0, sigaction(SIGUSR1, &action, &mPrevious));
    }
    void StartSignals(std::chrono::milliseconds period) {
        const pthread_t caller = pthread_self();
        mDone = false;
        mSignaller = std::thread([this, caller, period] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            while (!mDone && std::chrono::steady_clock::now() < until) {
                pthread_kill(caller, SIGUSR1);
                std::this_thread::sleep_for(period);
            }
        });
    }
    void TearDown() override {
        StopSignals();
        sigaction(SIGUSR1, &mPrevious, nullptr);
        EthernetStreamTest::TearDown();
    }
    void StopSignals() {
        mDone = true;
        if (mSignaller.joinable())
            mSignaller.join();
    }

    struct sigaction mPrevious {};
    std::atomic<bool> mDone{false};
    std::thread mSignaller;
};

// The read still ends at its time-out instead of waiting again from the start after every signal.
TEST_F(EthernetSignalTest, AReadEndsAtItsTimeOut) {
    StartSignals(5ms);
    mStream.SetTimeout(nullptr, 0.1);
    std::string response;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    const double took = MillisecondsSince(start);
    StopSignals();
    EXPECT_GE(took, 95.0);
    EXPECT_LT(took, 1000.0);
}

// A write that waits for room goes on after each signal and sends everything: signals that come
// during a send, and signals that come after a send's slice ran out.
TEST_F(EthernetSignalTest, AWriteThatWaitsForRoomSendsEverything) {
    mStream.SetTimeout(nullptr, 5.0);
    mStream.SetWriteTermination(nullptr, "\n", false);
    // Lines, so that the server's line buffer stays short.
    std::string block;
    for (int i = 0; i < (1 << 17); ++i)
        block += std::string(63, 'x') + "\n";
    std::string received;
    for (const auto period : {5ms, 50ms}) {
        SCOPED_TRACE(std::to_string(period.count()) + " ms between signals");
        mServer.SetReceiving(false);
        StartSignals(period);
        std::thread resume([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            mServer.SetReceiving(true);
        });
        EXPECT_EQ(0u, mStream.Write(nullptr, block, false));
        StopSignals();
        resume.join();
        ASSERT_EQ(block.size(), mStream.GetLastWriteCount());
        received += block;
        ASSERT_TRUE(mServer.WaitForReceived(0, received, std::chrono::seconds(10)));
    }
}

TEST_F(EthernetStreamTest, AWriteToAPeerThatReadsNothingFailsAfterTheTimeOut) {
    mServer.SetReceiving(false);
    mStream.SetTimeout(nullptr, 0.3);
    const std::string block(32u << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0x300002D4u, mStream.Write(nullptr, block, false));
    const double took = MillisecondsSince(start);
    EXPECT_GE(took, 250.0);
    EXPECT_LT(took, 3000.0);
    EXPECT_GT(mStream.GetLastWriteCount(), 0u);
    EXPECT_LT(mStream.GetLastWriteCount(), block.size());
    mServer.SetReceiving(true);
}

TEST_F(EthernetStreamTest, PendingInputIsHandedOutAfterTheConnectionIsGone) {
    mServer.Send(0, "A\nB\n");
    std::string response;
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("A\n", response);
    mStream.InternalDisconnect(nullptr);
    ASSERT_FALSE(mStream.IsConnected());
    EXPECT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("B\n", response);
    EXPECT_EQ(0x300002D3u, mStream.Read(nullptr, response, 100));
}

// Whichever exchange meets a connection that the device closed or reset, the stream counts it as
// gone: the next client's Connect opens a new one and the next line goes there.
TEST(EthernetDroppedConnection, TheNextClientReopensWhateverExchangeMetTheDrop) {
    struct Case {
        const char *What;
        bool Reset; // the device resets the connection instead of closing it
        std::function<void(EthernetDeviceStream &)> Meet;
    };
    const auto read = [](EthernetDeviceStream &stream) {
        std::string response;
        stream.Read(nullptr, response, 100);
    };
    const Case cases[] = {
        {"closed, read", false, read},
        {"reset, look before a line", true,
         [](EthernetDeviceStream &stream) { stream.DropWaitingInput(nullptr); }},
        {"reset, send", true, [](EthernetDeviceStream &stream) { stream.Write(nullptr, "LOST", false); }},
        {"reset, read", true, read},
    };
    for (const Case &c : cases) {
        LoopbackServer server;
        EthernetDeviceStream stream;
        stream.SetTimeout(nullptr, 2.0);
        ASSERT_EQ(0u, stream.Connect(nullptr, ConfigurationFor(server.Address()), Client(0))) << c.What;
        ASSERT_TRUE(server.WaitForConnections(1)) << c.What;
        if (c.Reset)
            server.Reset(0);
        else
            server.Close(0);
        // Past the arrival of the device's reset or end of the data.
        std::this_thread::sleep_for(50ms);
        const auto start = std::chrono::steady_clock::now();
        c.Meet(stream);
        EXPECT_LT(MillisecondsSince(start), 1000.0) << c.What;
        EXPECT_FALSE(stream.IsConnected()) << c.What << ": the dropped connection still counts as open";
        EXPECT_EQ(0u, stream.Connect(nullptr, ConfigurationFor(server.Address()), Client(1))) << c.What;
        EXPECT_TRUE(server.WaitForConnections(2, 1s))
            << c.What << ": the next client opened no new connection";
        EXPECT_EQ(0u, stream.Write(nullptr, "AGAIN", false)) << c.What;
        EXPECT_TRUE(server.WaitForReceived(1, "AGAIN\n", 1s)) << c.What;
        stream.Disconnect(nullptr, Client(1));
        stream.Disconnect(nullptr, Client(0));
    }
}

TEST_F(EthernetStreamTest, ACommandSentInTwoPiecesIsNotHeldBackByNagle) {
    mServer.SetResponder([](const std::string &line) { return line; });
    std::string response;
    DWORD count = 100;
    // Past the start of the connection, where the peer acknowledges every segment at once.
    for (int i = 0; i < 20; ++i) {
        response.clear();
        ASSERT_EQ(0u, mStream.WriteRead(nullptr, "WARM", response, count, 1));
    }
    mStream.SetWriteTermination(nullptr, "\n", false);
    double worst = 0;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(0u, mStream.Write(nullptr, "MEAS", false));
        ASSERT_EQ(0u, mStream.Write(nullptr, "URE\n", false));
        ASSERT_EQ(0x3000012Eu, mStream.Read(nullptr, response, 100));
        worst = std::max(worst, MillisecondsSince(start));
        EXPECT_EQ("MEASURE\n", response);
    }
    EXPECT_LT(worst, 10.0);
}

TEST_F(EthernetStreamTest, WriteReadExchangesACommandAndItsAnswer) {
    mServer.SetResponder([](const std::string &line) { return line == "CH1\n" ? "\r\n-12.5\n" : ""; });
    std::string response;
    DWORD count = 500000;
    EXPECT_EQ(0u, mStream.WriteReadUntilAnswer(nullptr, "CH1", response, count, 3));
    EXPECT_EQ("-12.5\n", response);
    response.clear();
    EXPECT_EQ(0u, mStream.WriteRead(nullptr, "CH1", response, count, 3));
    EXPECT_EQ("-12.5\n", response);
}

TEST(EthernetConnect, ARefusedConnectionIsRetriedWithPausesUntilTheTimeOut) {
    uint16_t port;
    {
        LoopbackServer closed;
        port = closed.Port();
    }
    EthernetDeviceStream stream;
    stream.SetTimeout(nullptr, 0.3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        0x300002D3u,
        stream.Connect(nullptr, ConfigurationFor("tcpip://127.0.0.1:" + std::to_string(port)), Client(0)));
    EXPECT_GE(MillisecondsSince(start), 250.0);
    EXPECT_LT(MillisecondsSince(start), 2000.0);
    EXPECT_FALSE(stream.IsConnected());
    EXPECT_FALSE(stream.HasSingleClient());
    EXPECT_EQ(0x300002D2u, stream.Connect(nullptr, ConfigurationFor("tcpip://[::1]:5025"), Client(0)));
}

// An unset address would be this machine: an empty server or a name that does not resolve must
// not reach whatever listens on the local port of that number.
TEST(EthernetConnect, AnEmptyOrUnresolvableServerFailsAtOnceAndOpensNothing) {
    LoopbackServer local;
    const std::string port = std::to_string(local.Port());
    const std::pair<std::string, DWORD> addresses[] = {
        {"tcpip://:" + port, 0x300002D0u},
        {"tcpip://pecos-lab-typo.invalid:" + port, 0x300002D3u},
    };
    const std::pair<std::shared_ptr<NetworkBasedDeviceStream>,
                    std::shared_ptr<NetworkBasedDeviceStreamConfig>>
        kinds[] = {{std::make_shared<EthernetDeviceStream>(), std::make_shared<EthernetDeviceStreamConfig>()},
                   {std::make_shared<HTTPDeviceStream>(), std::make_shared<HTTPDeviceStreamConfig>()}};
    for (const auto &[stream, configuration] : kinds)
        for (const auto &[address, code] : addresses) {
            const std::string what = stream->GetKindId() + " " + address;
            configuration->SetDefaultServer("127.0.0.1");
            configuration->SetAddress(address);
            stream->SetTimeout(nullptr, 2.0);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(code, stream->Connect(nullptr, configuration, Client(0))) << what;
            EXPECT_LT(MillisecondsSince(start), 1000.0) << what;
            EXPECT_FALSE(stream->IsConnected()) << what;
            EXPECT_NE(0u, stream->Write(nullptr, "*IDN?", false)) << what;
        }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(0u, local.ConnectionCount());
}

TEST(EthernetConnect, AWriteOnAClosedStreamSendsNothingAndSaysSo) {
    EthernetDeviceStream stream;
    EXPECT_EQ(0x300002D3u, stream.Write(nullptr, "*RST", false));
    std::string response;
    EXPECT_EQ(0x300002D3u, stream.Read(nullptr, response, 10));
}

// ---- Two processes on one stream name --------------------------------------------------------------

// Runs only as a child of the test below: exchanges "<pid> begin" and "<pid> end" under the lock.
class EthernetChild : public ::testing::Test {};
CHILD_TEST_F(EthernetChild, ExchangesPairsUnderTheStreamLock, "KORVALIS_STREAM_CHILD") {
    const std::string address = TestSupport::RunnerEnv("KORVALIS_STREAM_CHILD");
    EthernetDeviceStream stream;
    ASSERT_EQ(0u, stream.Connect(nullptr, ConfigurationFor(address), Client(0)));
    const std::string id = std::to_string(getpid());
    for (int i = 0; i < 20; ++i) {
        DeviceStreamLockerMixin<DeviceStreamSeparatedReadWrite>::DeviceStreamLocker locker(&stream);
        ASSERT_EQ(0u, locker.Lock(nullptr, 10.0));
        std::string response;
        DWORD count = 100;
        ASSERT_EQ(0u, stream.WriteRead(nullptr, id + " begin", response, count, 1));
        std::this_thread::sleep_for(1ms);
        response.clear();
        ASSERT_EQ(0u, stream.WriteRead(nullptr, id + " end", response, count, 1));
    }
    stream.Disconnect(nullptr, Client(0));
}

TEST(EthernetProcesses, TwoProcessesOnOneStreamNameNeverInterleave) {
    LoopbackServer server;
    server.SetResponder([](const std::string &line) { return line; });
    TestSupport::ScopedEnv child("KORVALIS_STREAM_CHILD", server.Address());
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    std::vector<TestSupport::ProcessResult> results(2);
    std::vector<std::thread> runs;
    for (size_t i = 0; i < 2; ++i)
        runs.emplace_back([&, i] {
            results[i] = TestSupport::RunProcess({self, "--gtest_filter=EthernetChild.*"}, "", 60s);
        });
    for (std::thread &run : runs)
        run.join();
    for (const auto &result : results)
        ASSERT_EQ(0, result.ExitCode) << result.Output;
    const std::vector<std::string> lines = server.Lines();
    ASSERT_EQ(80u, lines.size());
    for (size_t i = 0; i < lines.size(); i += 2) {
        const std::string owner = lines[i].substr(0, lines[i].find(' '));
        EXPECT_EQ(owner + " begin\n", lines[i]) << i;
        EXPECT_EQ(owner + " end\n", lines[i + 1]) << i;
    }
}

} // namespace
