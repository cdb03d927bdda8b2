// The UDP stream against datagram peers on 127.0.0.1: its configuration, the datagrams on the wire
// and their source port, one datagram per read, the read time-out, a driver's exchanges against a
// peer's late answer or empty datagram, and the sound results where no socket exists or the local
// port is taken. The tests bind the fixed local port 51456 and hold a CTest resource lock for it;
// where another program holds that port they fail and say so.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "LoopbackDatagramPeer.h"
#include "StreamClientFixture.h"
#include "StreamTestEnvironment.h"
#include "core/ProgramSettingsDatabase.h"
#include "platform/Clock.h"
#include "streams/etherds/EthernetDeviceStream.h"
#include "streams/etherds/UDPDeviceStream.h"
#include "StandInClient.h"

namespace {

using namespace std::chrono_literals;

DeviceStreamClient *Client(int n) {
    static char entries[2];
    return StandInClient(&entries[n]);
}

class UDPStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The stream binds no other port: a test that cannot bind it fails rather than pass unseen.
        ASSERT_TRUE(LoopbackDatagramPeer(UDPDeviceStream::LocalPort, true).Bound())
            << "another program holds the UDP stream's fixed local port 51456, so no test of the stream "
               "can run here; `ss -ulpn 'sport = :51456'` names it";
        mConfiguration->SetAddress(mPeer.Address());
        mStream.SetTimeout(nullptr, 2.0);
    }
    void TearDown() override { mStream.Disconnect(nullptr, Client(0)); }

    DWORD Connect() { return mStream.Connect(nullptr, mConfiguration, Client(0)); }

    // A driver's client to the peer, with the time-out; junk ones are refused.
    std::unique_ptr<DeviceStreamClientWithStream> Driver(double dTimeout = 1.0) {
        auto client = ConnectedDriver("UDP", "[Stream Config.Ethernet]\nAddress=" + mPeer.Address());
        for (const double seconds : {dTimeout, std::nan(""), -1.0})
            EXPECT_EQ(seconds == dTimeout ? 0u : StreamResult::CouldNotSetValue,
                      client->SetTimeout(nullptr, seconds));
        return client;
    }

    LoopbackDatagramPeer mPeer;
    std::shared_ptr<UDPDeviceStreamConfig> mConfiguration = std::make_shared<UDPDeviceStreamConfig>();
    UDPDeviceStream mStream;
};

TEST(UDPConfiguration, DefaultsIdentifierAndTheTableItSharesWithTCP) {
    UDPDeviceStreamConfig fresh;
    EXPECT_EQ("UDP", fresh.GetIDString());
    EXPECT_EQ("tcpip://localhost:63452", fresh.GetAddress());
    EXPECT_EQ("UDP:tcpip://localhost:63452", fresh.GetIdentifier());
    EXPECT_FALSE(fresh.IsValid());

    TestSupport::TempDir dir;
    auto database = CreateINIProgramSettingsDatabase(dir.File("driver.ini"));
    database->Open();
    database->PushTable("Stream Config");
    fresh.SetAddress("tcpip://127.0.0.1:5025");
    EXPECT_EQ(0u, fresh.SaveProgramSettings(database));
    EthernetDeviceStreamConfig tcp;
    EXPECT_EQ(0u, tcp.LoadProgramSettings(database));
    EXPECT_EQ("tcpip://127.0.0.1:5025", tcp.GetAddress());
    database->Close();
    EXPECT_NE(std::string::npos, TestSupport::ReadFile(dir.File("driver.ini"))
                                     .find("[Stream Config.Ethernet]\nAddress=tcpip://127.0.0.1:5025\n"));
}

TEST(UDPConfiguration, TheKindIsRegistered) {
    std::unique_ptr<WriteReadDeviceStream> stream(CreateStream("UDP"));
    EXPECT_NE(nullptr, dynamic_cast<UDPDeviceStream *>(stream.get()));
    std::unique_ptr<DeviceStreamConfiguration> configuration(CreateConfiguration("UDP"));
    EXPECT_NE(nullptr, dynamic_cast<UDPDeviceStreamConfig *>(configuration.get()));
}

TEST_F(UDPStreamTest, ACommandIsOneDatagramFromTheFixedLocalPort) {
    ASSERT_EQ(0u, Connect());
    EXPECT_TRUE(mStream.IsConnected());
    const std::pair<const char *, const char *> cases[] = {
        {"MEAS?", "MEAS?\n"}, {"MEAS?\n", "MEAS?\n"}, {"", "\n"}};
    for (const auto &[command, wire] : cases) {
        EXPECT_EQ(0u, mStream.Write(nullptr, command, true));
        std::string datagram;
        uint16_t sender = 0;
        ASSERT_TRUE(mPeer.Receive(datagram, sender)) << command;
        EXPECT_EQ(wire, datagram);
        EXPECT_EQ(51456, sender);
    }
    // Nothing else was sent: no "*OPC?" for the wait flag.
    std::string extra;
    uint16_t sender = 0;
    EXPECT_FALSE(mPeer.Receive(extra, sender, 100ms));
}

TEST_F(UDPStreamTest, EachReadTakesOneDatagramFromAnySender) {
    ASSERT_EQ(0u, Connect());
    LoopbackDatagramPeer stranger;
    mPeer.SendTo(51456, "hello");
    stranger.SendTo(51456, std::string(100, 'x'));
    mPeer.SendTo(51456, "second\nline\n");
    std::string response;
    EXPECT_EQ(StreamResult::ReadTimeout, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("hello", response);
    EXPECT_EQ(0u, mStream.Read(nullptr, response, 100));
    EXPECT_EQ(std::string(100, 'x'), response);
    EXPECT_EQ(StreamResult::ReadTimeout, mStream.Read(nullptr, response, 100));
    EXPECT_EQ("second\nline\n", response);
}

TEST_F(UDPStreamTest, NoDatagramWithinTheTimeoutIsTheReadTimeout) {
    ASSERT_EQ(0u, Connect());
    mStream.SetTimeout(nullptr, 0.3);
    std::string response = "old";
    const uint64_t start = Platform::MonotonicMicroseconds();
    EXPECT_EQ(StreamResult::ReadTimeout, mStream.Read(nullptr, response, 100));
    const double elapsed = (Platform::MonotonicMicroseconds() - start) / 1000.0;
    EXPECT_EQ("", response);
    EXPECT_GE(elapsed, 250.0);
    EXPECT_LT(elapsed, 2000.0);
}

TEST_F(UDPStreamTest, AReadTakesNoMoreThanADatagramHoldsWhateverTheCount) {
    ASSERT_EQ(0u, Connect());
    const struct {
        DWORD Count;
        size_t Size;
        DWORD Result;
    } cases[] = {{0xFFFFFFFF, 5, StreamResult::ReadTimeout},
                 {0xFFFFFFFF, 65507, StreamResult::ReadTimeout},
                 {65507, 65507, 0}};
    for (const auto &c : cases) {
        const std::string datagram(c.Size, 'd');
        mPeer.SendTo(51456, datagram);
        std::string response;
        EXPECT_EQ(c.Result, mStream.Read(nullptr, response, c.Count)) << c.Count << " " << c.Size;
        EXPECT_EQ(datagram, response);
    }
}

// Late answers of earlier commands wait in the socket: none of them is taken as the answer.
TEST_F(UDPStreamTest, ClearingDropsEveryWaitingDatagram) {
    ASSERT_EQ(0u, Connect());
    for (const char *stale : {"STALE1\n", "STALE2\n", "STALE3\n"})
        mPeer.SendTo(51456, stale);
    std::this_thread::sleep_for(20ms);
    std::thread answer([&] {
        std::string datagram;
        uint16_t sender = 0;
        if (mPeer.Receive(datagram, sender) && datagram == "MEAS?\n")
            mPeer.SendTo(sender, "FRESH\n");
    });
    std::string response;
    DWORD count = 100;
    EXPECT_EQ(0u, mStream.WriteRead(nullptr, "MEAS?", response, count, 1));
    answer.join();
    EXPECT_EQ("FRESH\n", response);
}

TEST_F(UDPStreamTest, APeerThatKeepsSendingHoldsTheClearingNoLongerThanTheTimeout) {
    ASSERT_EQ(0u, Connect());
    mStream.SetTimeout(nullptr, 0.3);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const uint64_t end = Platform::MonotonicMicroseconds() + 5000000;
        while (!stop && Platform::MonotonicMicroseconds() < end)
            mPeer.SendTo(51456, "noise");
    });
    std::this_thread::sleep_for(20ms);
    const uint64_t start = Platform::MonotonicMicroseconds();
    EXPECT_EQ(0u, mStream.ClearInputBuffers(nullptr));
    const double elapsed = (Platform::MonotonicMicroseconds() - start) / 1000.0;
    stop = true;
    flood.join();
    EXPECT_LT(elapsed, 1500.0);
}

// The peer answers "Q<n>" with "R<n>\n" after a fortieth of the time-out, or 0.3 or 0.5 of it;
// answer 2 comes after its exchange gave up (at once, 2.3 or 5 time-outs late), after an empty
// datagram, or is followed by datagrams that never stop. No exchange answers with another's
// answer, but one (or fails with 0x300001A2) where the answer is time-outs late to a quick peer;
// input that never goes quiet fails the next exchange with a code, and its command is not sent.
TEST_F(UDPStreamTest, ALateAnswerCostsAtMostOneAnswerAndAnEmptyDatagramNone) {
    enum class Answer2 { Late, Empty, Noise };
    const struct {
        const char *Name;
        Answer2 Kind;
        double Late; // time-outs after the query; 0: once its exchange returned
        int Last, Wrong;
        double T;       // the time-out, long enough for noise to stay noise on a loaded machine
        double Latency; // the peer's answer time, in time-outs
    } rows[] = {{"after its exchange", Answer2::Late, 0, 3, 0, 1.0, 0.025},
                {"after an empty datagram", Answer2::Empty, 0, 3, 0, 1.0, 0.025},
                {"2.3 time-outs late", Answer2::Late, 2.3, 12, 1, 1.0, 0.025},
                {"5 time-outs late", Answer2::Late, 5.0, 36, 1, 1.0, 0.025},
                {"never quiet", Answer2::Noise, 0, 5, 0, 2.0, 0.025},
                {"2.3 time-outs late, answers after 0.3", Answer2::Late, 2.3, 8, 0, 1.0, 0.3},
                {"2.3 time-outs late, answers after 0.5", Answer2::Late, 2.3, 8, 0, 1.0, 0.5}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Name);
        const double T = row.T;
        auto driver = Driver(T);
        std::atomic<int> done{0};
        std::vector<int> queries;
        std::thread late;
        std::thread peer([&] {
            std::string q;
            uint16_t sender = 0;
            for (int n = 0; n != row.Last && mPeer.Receive(q, sender, 3s);) {
                n = std::stoi(q.substr(1));
                queries.push_back(n);
                std::this_thread::sleep_for(std::chrono::duration<double>(T * row.Latency));
                if (n == 2 && row.Kind == Answer2::Empty) {
                    mPeer.SendTo(sender, "");
                    std::this_thread::sleep_for(30ms);
                } else if (n == 2 && row.Late > 0) {
                    late = std::thread([&, sender] {
                        std::this_thread::sleep_for(
                            std::chrono::duration<double>(T * (row.Late - row.Latency)));
                        mPeer.SendTo(sender, "R2\n");
                    });
                    continue;
                } else if (n == 2) {
                    TestSupport::WaitUntil([&] { return done >= 2; }, 10s);
                    std::this_thread::sleep_for(30ms);
                    for (int k = 0; row.Kind == Answer2::Noise && done < 3 && k < 2000; ++k)
                        mPeer.SendTo(sender, "noise"), std::this_thread::sleep_for(2ms);
                }
                mPeer.SendTo(sender, "R" + q.substr(1));
            }
        });
        int wrong = 0;
        for (int n = 1; n <= row.Last; done = n++) {
            std::string response;
            DWORD count = 100;
            const auto start = std::chrono::steady_clock::now();
            const DWORD result = driver->WriteRead(nullptr, "Q" + std::to_string(n), response, count, 1);
            if (row.Kind == Answer2::Noise && n == 3) {
                EXPECT_EQ(StreamResult::InputNeverQuiet, result) << std::hex << result;
                EXPECT_LT(TestSupport::MillisecondsSince(start), 1200 * T);
                continue;
            }
            // A late answer may also cost the exchange that was dropping it when it came.
            EXPECT_TRUE(result == 0 || result == StreamResult::InputNeverQuiet)
                << n << std::hex << ": 0x" << result;
            if (result != 0 ||
                (response != "R" + std::to_string(n) + "\n" && !(n == 2 && response.empty()))) {
                EXPECT_LT(wrong++, row.Wrong) << "a wrong answer " << n << ": " << response;
            }
        }
        peer.join();
        if (late.joinable())
            late.join();
        if (row.Kind == Answer2::Noise) {
            EXPECT_EQ(0, std::count(queries.begin(), queries.end(), 3));
        }
    }
}

// A name that does not resolve would leave the peer unset, which is this machine.
TEST_F(UDPStreamTest, AnEmptyOrUnresolvableServerIsNeverSentTo) {
    const std::string port = std::to_string(mPeer.Port());
    const std::pair<std::string, DWORD> addresses[] = {
        {"tcpip://:" + port, StreamResult::EthernetNoServer},
        {"tcpip://gone.invalid:" + port, StreamResult::EthernetNotConnected}};
    for (const auto &[address, code] : addresses) {
        mConfiguration->SetDefaultServer("127.0.0.1");
        mConfiguration->SetAddress(address);
        EXPECT_EQ(code, Connect()) << address;
        EXPECT_FALSE(mStream.IsConnected()) << address;
    }
    // Every write resolves the peer again: a name that stopped resolving fails the write.
    mConfiguration->SetAddress(mPeer.Address());
    ASSERT_EQ(0u, Connect());
    mConfiguration->SetAddress("tcpip://gone.invalid:" + port);
    EXPECT_EQ(StreamResult::EthernetNotConnected, mStream.Write(nullptr, "MEAS?", false));
    std::string datagram;
    uint16_t sender = 0;
    EXPECT_FALSE(mPeer.Receive(datagram, sender, 100ms)) << datagram;
}

TEST_F(UDPStreamTest, WriteReadGivesTheAnswerDatagram) {
    ASSERT_EQ(0u, Connect());
    std::thread answer([&] {
        std::string datagram;
        uint16_t sender = 0;
        if (mPeer.Receive(datagram, sender) && datagram == "*IDN?\n")
            mPeer.SendTo(sender, "ACME,UDP-1\n");
    });
    std::string response;
    DWORD count = 100;
    EXPECT_EQ(0u, mStream.WriteReadUntilAnswer(nullptr, "*IDN?", response, count, 0));
    answer.join();
    EXPECT_EQ("ACME,UDP-1\n", response);
}

TEST_F(UDPStreamTest, WithoutASocketWriteAndReadReportNotConnected) {
    std::string response;
    EXPECT_EQ(StreamResult::EthernetNotConnected, mStream.Write(nullptr, "MEAS?", false));
    EXPECT_EQ(StreamResult::EthernetNotConnected, mStream.Read(nullptr, response, 10));
    ASSERT_EQ(0u, Connect());
    EXPECT_EQ(0u, mStream.Disconnect(nullptr, Client(0)));
    EXPECT_FALSE(mStream.IsConnected());
    EXPECT_EQ(StreamResult::EthernetNotConnected, mStream.Write(nullptr, "MEAS?", false));
    // The port is free again.
    LoopbackDatagramPeer rebinding(51456, true);
    EXPECT_TRUE(rebinding.Bound());
}

TEST_F(UDPStreamTest, ATakenLocalPortFailsTheConnect) {
    LoopbackDatagramPeer holder(51456, true);
    ASSERT_TRUE(holder.Bound());
    EXPECT_EQ(StreamResult::EthernetServerNotCreated, Connect());
    EXPECT_FALSE(mStream.IsConnected());
    EXPECT_EQ(0u, mStream.GetClientCount());
}

TEST_F(UDPStreamTest, AnIPv6PeerFailsTheConnect) {
    mConfiguration->SetAddress("tcpip://[::1]:5025");
    EXPECT_EQ(StreamResult::EthernetUnsupportedHost, Connect());
    EXPECT_FALSE(mStream.IsConnected());
}

} // namespace
