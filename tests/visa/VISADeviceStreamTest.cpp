// The VISA stream kind through the stand-in VISA library over loopback sockets: registration,
// configuration, terminations, reads, locks, clients and the HiSLIP attempt with its memory file.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "core/ProgramSettingsDatabase.h"
#include "core/ResultCodes.h"
#include "visa/VISADeviceStream.h"
#include "visa/VisaTestFixtures.h"
#include "streams/StandInClient.h"

using namespace VisaTest;

namespace {

std::shared_ptr<VISADeviceStreamConfiguration> MakeConfiguration(const std::string &sResource,
                                                                 bool bTryHiSLIP = true) {
    auto configuration = std::make_shared<VISADeviceStreamConfiguration>();
    configuration->SetIdentifier(VISAIdentifier(sResource));
    configuration->SetTryHiSLIP(bTryHiSLIP);
    return configuration;
}

// Stand-ins for driver-side clients, one per slot.
DeviceStreamClient *Client(int &slot) {
    return StandInClient(&slot);
}

TEST(VISAStreamKindTest, TheKindIsRegisteredWithItsConfiguration) {
    std::unique_ptr<WriteReadDeviceStream> stream(CreateStream("VISA"));
    EXPECT_NE(nullptr, dynamic_cast<VISADeviceStream *>(stream.get()));
    std::unique_ptr<DeviceStreamConfiguration> configuration(CreateConfiguration("VISA"));
    ASSERT_NE(nullptr, dynamic_cast<VISADeviceStreamConfiguration *>(configuration.get()));
    EXPECT_EQ("VISA", configuration->GetIDString());
    EXPECT_FALSE(configuration->IsValid());
    EXPECT_EQ("VISA:", configuration->GetIdentifier());
}

TEST(VISAStreamConfigurationTest, ResourceTextsOrderAndIdentify) {
    auto a = MakeConfiguration("GPIB0::5::INSTR");
    auto b = MakeConfiguration("gpib0::5::instr");
    EXPECT_EQ("VISA:GPIB0::5::INSTR", a->GetIdentifier());
    EXPECT_TRUE(a->IsValid());
    EXPECT_TRUE(a->LessThan(b)); // 'G' < 'g': two streams
    EXPECT_FALSE(b->LessThan(a));
    EXPECT_FALSE(a->LessThan(MakeConfiguration("GPIB0::5::INSTR")));
    std::shared_ptr<DeviceStreamConfiguration> tcp(CreateConfiguration("TCPIP"));
    ASSERT_TRUE(tcp);
    EXPECT_EQ(a->Compare(tcp.get()) < 0, a->LessThan(tcp));
}

TEST(VISAStreamConfigurationTest, SettingsLiveInTheVisaTable) {
    TestSupport::TempDir dir;
    const std::string file = dir.File("driver.ini");
    TestSupport::WriteFile(file, "[Other]\nIdentifier=x\n");
    auto configuration = MakeConfiguration("kept", false);
    std::shared_ptr<ProgramSettingsDatabase> database = CreateINIProgramSettingsDatabase(file);
    database->Open();
    configuration->LoadProgramSettings(database);
    EXPECT_EQ("kept", configuration->GetResourceName());
    EXPECT_FALSE(configuration->GetTryHiSLIP());
    configuration->SetIdentifier(VISAIdentifier("TCPIP0::10.0.0.7::INSTR"));
    configuration->SaveProgramSettings(database);
    database->Close();
    EXPECT_NE(std::string::npos,
              TestSupport::ReadFile(file).find("[VISA]\nIdentifier=TCPIP0::10.0.0.7::INSTR\nTryHiSLIP=0\n"));
    auto loaded = MakeConfiguration("", true);
    database->Open();
    loaded->LoadProgramSettings(database);
    database->Close();
    EXPECT_EQ("TCPIP0::10.0.0.7::INSTR", loaded->GetResourceName());
    EXPECT_FALSE(loaded->GetTryHiSLIP());
}

TEST(VISAStreamHiSLIPTest, OnlyPlainLanNamesHaveAHiSLIPForm) {
    const std::pair<const char *, const char *> cases[] = {
        {"TCPIP0::10.0.0.7::INSTR", "TCPIP0::10.0.0.7::hislip0::INSTR"},
        {"TCPIP0::10.0.0.7", "TCPIP0::10.0.0.7::hislip0::INSTR"},
        {"TCPIP::myscope::INSTR", "TCPIP::myscope::hislip0::INSTR"},
        {"TCPIP0::10.0.0.7::inst0::INSTR", ""},
        {"TCPIP0::10.0.0.7::5025::SOCKET", ""},
        {"tcpip0::10.0.0.7::INSTR", ""},
        {"GPIB0::5::INSTR", ""},
        {"ASRL1::INSTR", ""},
        {"MyAlias", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.second, VISADeviceStream::MakeHiSLIPResourceName(VISAIdentifier(c.first))) << c.first;
}

class VISAStreamTest : public ::testing::Test {
protected:
    // A socket stream, connected and with the peer accepted.
    void ConnectSocket(VISADeviceStream &stream, int &client) {
        ASSERT_EQ(0u, stream.Connect(nullptr, MakeConfiguration(SocketResource(mServer)), Client(client)));
        ASSERT_TRUE(mServer.WaitForConnections(1));
    }

    TestSupport::IsolatedEnvironment mEnvironment;
    TestSupport::TempDir mTemp;
    TestSupport::ScopedEnv mTmpDir{"TMPDIR", mTemp.Path()};
    LibraryFolder mFolder{LibraryFolder::Files{{SystemLibrary, SystemLibrary}}};
    Trace mTrace;
    LoopbackServer mServer;
};

TEST_F(VISAStreamTest, CommandsGetTheWholeWriteTermination) {
    VISADeviceStream stream;
    int client = 0;
    ASSERT_EQ(0u, stream.SetWriteTermination(nullptr, "\r\n", true));
    ConnectSocket(stream, client);
    EXPECT_EQ(VisaDeviceSOCKET, stream.GetDeviceKind());
    EXPECT_EQ(0u, stream.Write(nullptr, "MEAS?", false));
    EXPECT_EQ(0u, stream.Write(nullptr, "MEAS?\r\n", false));
    EXPECT_TRUE(mServer.WaitForReceived(0, "MEAS?\r\nMEAS?\r\n")) << mServer.Received(0);
    // The operation-complete query is added and its reply read.
    mServer.Send(0, "1\n");
    EXPECT_EQ(0u, stream.Write(nullptr, "INIT", true));
    EXPECT_TRUE(mServer.WaitForReceived(0, "MEAS?\r\nMEAS?\r\nINIT;*OPC?\r\n")) << mServer.Received(0);
    // A disabled termination appends nothing at all.
    ASSERT_EQ(0u, stream.SetWriteTermination(nullptr, "\n", false));
    EXPECT_EQ(0u, stream.Write(nullptr, "A", false));
    EXPECT_EQ(0u, stream.Write(nullptr, "B\n", false));
    EXPECT_TRUE(mServer.WaitForReceived(0, "MEAS?\r\nMEAS?\r\nINIT;*OPC?\r\nAB\n")) << mServer.Received(0);
    EXPECT_EQ(0u, stream.Write(nullptr, "", false));
}

TEST_F(VISAStreamTest, ReadsEndAtCountTerminationOrTime) {
    VISADeviceStream stream;
    int client = 0;
    ConnectSocket(stream, client);
    mServer.Send(0, "12345678\n");
    std::string response;
    mTrace.Clear();
    EXPECT_EQ(0u, stream.Read(nullptr, response, 5));
    EXPECT_EQ("12345", response);
    EXPECT_EQ(1u, mTrace.Calls("viRead", "count=5 ").size());
    EXPECT_EQ(0u, stream.Read(nullptr, response, 100));
    EXPECT_EQ("678\n", response);
    // A silent instrument: the streams' read time-out, and the time-out is restored.
    ASSERT_EQ(0u, stream.SetTimeout(nullptr, 0.2));
    EXPECT_EQ(StreamResult::ReadTimeout, stream.Read(nullptr, response, 100));
    EXPECT_TRUE(response.empty());
    EXPECT_DOUBLE_EQ(0.2, stream.GetTimeout(nullptr));
    // Through the write-read with retries it is the end of the data, as over TCP.
    DWORD count = 100;
    response.clear();
    EXPECT_EQ(0u, stream.WriteRead(nullptr, "Q?", response, count, 1));
    EXPECT_TRUE(response.empty());
    EXPECT_EQ(0u, stream.Read(nullptr, response, 0));
}

TEST_F(VISAStreamTest, TimeOutsAndLocksReachTheSession) {
    VISADeviceStream stream;
    int client = 0;
    ConnectSocket(stream, client);
    mTrace.Clear();
    EXPECT_EQ(0u, stream.SetTimeout(nullptr, 2.5));
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", "0x3FFF001A 2500 ").size());
    EXPECT_EQ(0u, stream.SetTimeout(nullptr, 1e12));
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", "0x3FFF001A 4294967295 ").size()) << "saturated";
    VISADeviceStream other;
    int otherClient = 0;
    ASSERT_EQ(0u, other.Connect(nullptr, MakeConfiguration(SocketResource(mServer)), Client(otherClient)));
    EXPECT_EQ(0u, stream.Lock(nullptr, 0.0004));
    EXPECT_EQ(1u, mTrace.Calls("viLock", "timeout=0 ").size());
    // Another stream on the same resource: its VISA lock fails and its mutex is given back.
    EXPECT_EQ(VisaStatusCode(VI_ERROR_TMO), other.Lock(nullptr, 0.05));
    EXPECT_EQ(0u, stream.Unlock(nullptr));
    EXPECT_EQ(0u, other.Lock(nullptr, 0.05));
    EXPECT_EQ(0u, other.Unlock(nullptr));
    EXPECT_EQ(L"Global\\KORVALIS:DS:VISA:" + ToStdWstring(ToUpper(SocketResource(mServer))),
              stream.GetLockName());
}

TEST_F(VISAStreamTest, OneOpenServesEveryClient) {
    VISADeviceStream stream;
    int first = 0, second = 0;
    ConnectSocket(stream, first);
    mTrace.Clear();
    EXPECT_EQ(0u, stream.Connect(nullptr, MakeConfiguration(SocketResource(mServer)), Client(second)));
    EXPECT_TRUE(mTrace.Calls("viOpen").empty());
    EXPECT_EQ(2u, stream.GetClientCount());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, Client(first)));
    EXPECT_TRUE(mTrace.Calls("viClose").empty());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, Client(second)));
    EXPECT_EQ(2u, mTrace.Calls("viClose").size()) << "session and resource manager";
    EXPECT_FALSE(stream.IsConnected());
    std::string response;
    EXPECT_EQ(StreamResult::StreamNotConnected, stream.Write(nullptr, "X", false));
    EXPECT_EQ(StreamResult::StreamNotConnected, stream.Read(nullptr, response, 10));
}

TEST_F(VISAStreamTest, AFailedHiSLIPOpenIsRememberedOnce) {
    TestSupport::ScopedEnv ports("KORVALIS_VISA_INSTR_PORTS", "myscope=" + std::to_string(mServer.Port()));
    const std::string memory = mTemp.File("KORVALIS_HISLIP.INI");
    EXPECT_EQ(memory, VISADeviceStream::GetHiSLIPIniPath());
    for (int round = 0; round < 2; ++round) {
        VISADeviceStream stream;
        int client = 0;
        mTrace.Clear();
        ASSERT_EQ(0u, stream.Connect(nullptr, MakeConfiguration("TCPIP0::myscope::INSTR"), Client(client)));
        EXPECT_EQ(VisaDeviceINSTR, stream.GetDeviceKind());
        EXPECT_EQ(round == 0 ? 1u : 0u,
                  mTrace.Calls("viOpen", "TCPIP0::myscope::hislip0::INSTR mode=5 timeout=1000 ").size());
        EXPECT_EQ(1u, mTrace.Calls("viOpen", "TCPIP0::myscope::INSTR mode=5 timeout=5000 ").size());
        EXPECT_EQ("[HiSLIP]\nTCPIP0::MYSCOPE::HISLIP0::INSTR=0\n", TestSupport::ReadFile(memory));
        stream.Disconnect(nullptr, Client(client));
    }
    // Without TryHiSLIP no attempt is made.
    std::filesystem::remove(memory);
    VISADeviceStream stream;
    int client = 0;
    mTrace.Clear();
    ASSERT_EQ(0u,
              stream.Connect(nullptr, MakeConfiguration("TCPIP0::myscope::INSTR", false), Client(client)));
    EXPECT_TRUE(mTrace.Calls("viOpen", "hislip0").empty());
    EXPECT_FALSE(std::filesystem::exists(memory));
}

TEST_F(VISAStreamTest, TheMemoryFileReplacesALinkInsteadOfFollowingIt) {
    const std::string memory = mTemp.File("KORVALIS_HISLIP.INI");
    const std::string victim = mTemp.File("victim.txt");
    TestSupport::WriteFile(victim, "[HiSLIP]\nTCPIP0::OTHER::HISLIP0::INSTR=FALSE\n");
    std::filesystem::create_symlink(victim, memory);
    const HiSLIPIdentifier key{VISAIdentifier("TCPIP0::10.0.0.7::hislip0::INSTR")};
    EXPECT_TRUE(
        VISADeviceStream::ShouldTryHiSLIP(HiSLIPIdentifier{VISAIdentifier("TCPIP0::OTHER::hislip0::INSTR")}));
    VISADeviceStream::StoreHiSLIPResult(key, false);
    EXPECT_EQ("[HiSLIP]\nTCPIP0::OTHER::HISLIP0::INSTR=FALSE\n", TestSupport::ReadFile(victim));
    EXPECT_FALSE(std::filesystem::is_symlink(memory));
    EXPECT_EQ("[HiSLIP]\nTCPIP0::10.0.0.7::HISLIP0::INSTR=0\n", TestSupport::ReadFile(memory));
    EXPECT_FALSE(VISADeviceStream::ShouldTryHiSLIP(key));
    // A second entry keeps the first.
    VISADeviceStream::StoreHiSLIPResult(HiSLIPIdentifier{VISAIdentifier("TCPIP1::b::hislip0::INSTR")}, false);
    EXPECT_FALSE(VISADeviceStream::ShouldTryHiSLIP(key));
    std::set<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(mTemp.Path()))
        if (entry.path().filename().string().find("HISLIP") != std::string::npos)
            left.insert(entry.path().filename().string());
    EXPECT_EQ(std::set<std::string>{"KORVALIS_HISLIP.INI"}, left) << "staging file left behind";
}

// Whatever waits under a name that could be foreseen beside the memory file (another user's file or
// link in a shared temporary directory) is neither written through nor removed.
TEST_F(VISAStreamTest, TheMemoryFileIsNotWrittenThroughAForeseeableName) {
    const std::string memory = mTemp.File("KORVALIS_HISLIP.INI");
    const std::string victim = mTemp.File("victim.txt");
    const std::string placed = memory + "." + std::to_string(::getpid()) + ".new";
    for (const bool bLink : {false, true}) {
        TestSupport::WriteFile(victim, "[HiSLIP]\nOTHER=1\n");
        if (bLink)
            std::filesystem::create_symlink(victim, placed);
        else
            TestSupport::WriteFile(placed, "[HiSLIP]\nOTHER=1\n");
        VISADeviceStream::StoreHiSLIPResult(HiSLIPIdentifier{VISAIdentifier("TCPIP0::a::hislip0::INSTR")},
                                            false);
        EXPECT_EQ("[HiSLIP]\nTCPIP0::A::HISLIP0::INSTR=0\n", TestSupport::ReadFile(memory)) << bLink;
        EXPECT_EQ(bLink, std::filesystem::is_symlink(placed)) << bLink;
        EXPECT_EQ("[HiSLIP]\nOTHER=1\n", TestSupport::ReadFile(placed)) << bLink;
        EXPECT_EQ("[HiSLIP]\nOTHER=1\n", TestSupport::ReadFile(victim)) << bLink;
        std::filesystem::remove(placed);
        std::filesystem::remove(memory);
    }
}

TEST_F(VISAStreamTest, WithoutVisaNothingIsOpenedOrRemembered) {
    LibraryFolder none;
    VISADeviceStream stream;
    int client = 0;
    EXPECT_EQ(ResultCode::VisaLibraryNotFound,
              stream.Connect(nullptr, MakeConfiguration("TCPIP0::10.0.0.7::INSTR"), Client(client)));
    EXPECT_FALSE(stream.IsConnected());
    EXPECT_EQ(0u, stream.GetClientCount());
    EXPECT_FALSE(std::filesystem::exists(mTemp.File("KORVALIS_HISLIP.INI")));
    EXPECT_EQ(StreamResult::InvalidConfigurationObject, stream.Connect(nullptr, nullptr, Client(client)));
    char text[200];
    uint32_t length = 0;
    EXPECT_EQ(0u,
              stream.GetErrorString(nullptr, ResultCode::VisaLibraryNotFound, text, sizeof(text), &length));
    EXPECT_STREQ("Could not find VISA32.DLL. Is VISA installed? (Here the file libvisa32.so, looked for in "
                 "the folders of KORVALIS_LIBRARY_PATH, then by the dynamic loader.)",
                 text);
}

} // namespace
