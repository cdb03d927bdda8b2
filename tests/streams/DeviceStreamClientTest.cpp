// The stream client against the TCP stream and a loopback instrument: connecting from the host's
// settings, the settings carried between streams, identification, the device check, IEEE 488.2
// status and the error queue, arbitrary blocks and two drivers on one stream.
#include "streams/DeviceStreamClient.h"

#include <gtest/gtest.h>

#include <deque>

#include "core/SwitchMatrixBase.h"
#include "core/TwoBaseClasses.h"
#include "logging/RecordCapture.h"
#include "streams/LoopbackServer.h"
#include "streams/StreamClientFixture.h"
#include "streams/StreamTestEnvironment.h"

namespace {

// A configuration kind without a stream kind.
const StreamTypeRegistrar gNoStream(
    "TestNoStream", +[]() -> DeviceStreamConfiguration * { return new TestConfiguration("TestNoStream"); });

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        mServer.SetResponder([this](const std::string &line) { return Answer(TrimRightWith(line, "\r\n")); });
    }

    // The instrument: "*IDN?" gives the identification, "*STB?" the status byte with the error
    // bit while errors are queued, "SYST:ERR?" the oldest error, "BLOCK? n" a block of n bytes.
    std::string Answer(const std::string &line) {
        if (line == "*IDN?")
            return Identification + "\n";
        if (line == "*STB?" || line.rfind(";*STB?") != std::string::npos)
            return "+" + std::to_string(Errors.empty() ? 16 : 20) + "\n";
        if (line == "*ESR?")
            return "32\n";
        if (line == "SYST:ERR?") {
            if (Errors.empty())
                return "0,\"No error\"\n";
            const std::string error = Errors.front();
            Errors.pop_front();
            return error + "\n";
        }
        if (line.rfind("BLOCK? ", 0) == 0)
            return Block(std::stoul(line.substr(7)));
        if (line == "INDEF?")
            return "#0" + Data(300, 'a', false) + "\n";
        if (line == "PING")
            return "PONG\n";
        return std::string();
    }

    // Block data hold line feeds; indefinite data cannot.
    static std::string Data(size_t size, char first, bool bLineFeeds = true) {
        std::string data;
        for (size_t i = 0; i < size; ++i)
            data += bLineFeeds && i % 97 == 50 ? '\n' : static_cast<char>(first + i % 26);
        return data;
    }
    static std::string Block(size_t size) {
        const std::string length = std::to_string(size);
        return "#" + std::to_string(length.size()) + length + Data(size, 'A') + "\n";
    }

    // Everything the instrument received, over every connection.
    std::string Bytes() {
        std::string bytes;
        for (size_t i = 0; i < mServer.ConnectionCount(); ++i)
            bytes += mServer.Received(i);
        return bytes.substr(std::min(mMark, bytes.size()));
    }
    // Later Bytes() start here.
    void ClearBytes() {
        mMark = 0;
        mMark = Bytes().size();
    }
    size_t Connections() { return mServer.ConnectionCount(); }

    // A host settings file that selects the TCP stream to the instrument.
    std::string HostSettings() const {
        return "[Stream Config]\nSelected=TCPIP\n[Stream Config.Ethernet]\nAddress=" + mServer.Address() +
               "\n";
    }

    DWORD Load(DeviceStreamClientWithStream &client) {
        client.GetConfigurationManager().SetSupportedStreams("TCPIP");
        SettingsFile file(HostSettings());
        return file.With([&](auto &db) { return client.LoadProgramSettings(nullptr, db); });
    }

    std::string WriteRead(DeviceStreamClientWithStream &client, const std::string &command) {
        std::string response;
        DWORD count = 500;
        EXPECT_EQ(0u, client.WriteRead(nullptr, command, response, count, 1));
        return response;
    }

    LoopbackServer mServer;
    size_t mMark = 0;
    std::string Identification = "ACME,MODEL 7,1234,1.0";
    std::deque<std::string> Errors;
};

} // namespace

TEST_F(ClientTest, ANewClientKeepsDefaultsAndConnectsOnlyToAStreamItCanCreate) {
    DeviceStreamClientWithStream client("");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_DOUBLE_EQ(10.0, client.GetTimeout(nullptr));
    EXPECT_EQ(0x300000CBu, client.Write(nullptr, "PING", false));
    EXPECT_EQ(0x30001F43u, client.ConnectStream(nullptr, false)); // nothing selected
    client.GetConfigurationManager().SetSupportedStreams("TestNoStream");
    client.GetConfigurationManager().SetSelected("TestNoStream");
    EXPECT_EQ(0x30001F40u, client.ConnectStream(nullptr, false));
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(ClientTest, HostSettingsConfigureTheTcpStreamAndItsSettingsSurviveReconnects) {
    DeviceStreamClientWithStream client("");
    ASSERT_EQ(0u, Load(client));
    EXPECT_EQ("ETHER:" + mServer.Address(), client.GetStreamIdentifier());
    EXPECT_TRUE(client.IsStreamConfigurationValid());
    client.SetTimeout(nullptr, 3.0);
    client.SetWriteTermination(nullptr, "\r\n", true);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(0u, client.ConnectStream(nullptr, false));
        EXPECT_TRUE(client.IsConnected());
        EXPECT_DOUBLE_EQ(3.0, client.GetTimeout(nullptr));
        EXPECT_EQ("PONG\n", WriteRead(client, "PING"));
        EXPECT_EQ(0u, client.DisconnectStream(nullptr));
        EXPECT_FALSE(client.IsConnected());
    }
    EXPECT_EQ("PING\r\nPING\r\n", Bytes());
    EXPECT_EQ(2u, Connections());
}

TEST_F(ClientTest, AVisaResourceFromTheHostsFileReachesTheInstrumentAsATcpSocket) {
    DeviceStreamClientWithStream client("ACME");
    client.GetConfigurationManager().SetSupportedStreams("TCPIP;VISA");
    SettingsFile file("[Stream Config]\nSelected=VISA\n[Stream Config.VISA]\nIdentifier=TCPIP0::127.0.0.1::" +
                      std::to_string(mServer.Port()) + "::SOCKET\n");
    ASSERT_EQ(0u, file.With([&](auto &db) { return client.LoadProgramSettings(nullptr, db); }));
    ASSERT_EQ(0u, client.ConnectStream(nullptr, false));
    EXPECT_TRUE(client.UsesTCPIP());
    EXPECT_FALSE(client.GetUsedCommunication(DeviceStreamClientWithStream::TCPIPVXI11));
    EXPECT_FALSE(client.UsesGPIB());
    EXPECT_EQ(0u, client.CheckDeviceOnStream(nullptr));
    EXPECT_EQ("PONG\n", WriteRead(client, "PING"));
}

// The connection kind follows the selected stream kind; a client that is not connected says with
// each answer that it cannot be sure.
TEST(UsedCommunication, FollowsTheSelectedKindAndWarnsWhileNotConnected) {
    RecordCapture capture(false);
    const struct {
        const char *Kind;
        bool Gpib, Serial, Tcp, Udp;
    } cases[] = {{"GPIB", true, false, false, false},
                 {"CompliantGPIB", true, false, false, false},
                 {"RS-232", false, true, false, false},
                 {"UDP", false, false, false, true},
                 {"TCPIP", false, false, true, false}};
    for (const auto &c : cases) {
        DeviceStreamClientWithStream client("");
        client.GetConfigurationManager().SetSupportedStreams("GPIB;CompliantGPIB;RS-232;UDP;TCPIP");
        client.GetConfigurationManager().SetSelected(c.Kind);
        EXPECT_EQ(c.Gpib, client.UsesGPIB()) << c.Kind;
        EXPECT_EQ(c.Serial, client.UsesSerial()) << c.Kind;
        EXPECT_EQ(c.Tcp, client.UsesTCPIP()) << c.Kind;
        EXPECT_EQ(c.Udp, client.UsesUDP()) << c.Kind;
        EXPECT_FALSE(client.GetUsedCommunication(DeviceStreamClientWithStream::TCPIPVXI11)) << c.Kind;
    }
    std::vector<std::wstring> texts;
    for (const Quellin::Record &record :
         RecordCapture::WithModule(capture.Records(), L"DeviceStreamClientWithStream"))
        if (record.Function == L"GetUsedCommunication")
            texts.push_back(record.Level + L" " + record.Value(L"description"));
    const std::wstring warning = L"Warning GetUsedCommunication(): Used communication method cannot be "
                                 L"determined correctly if connection is not opened!";
    ASSERT_EQ(50u, texts.size());
    EXPECT_EQ(warning, texts[0]);
    EXPECT_EQ(L"Note GetUsedCommunication 'GPIB' returns ' true'.", texts[1]);
    EXPECT_EQ(25, std::count(texts.begin(), texts.end(), warning));
}

struct IdentificationCase {
    const char *Name;
    std::string Expected;
    std::string Answer;
    DWORD Result;
};

void PrintTo(const IdentificationCase &c, std::ostream *out) {
    *out << c.Name;
}

class IdentificationTest : public ClientTest, public ::testing::WithParamInterface<IdentificationCase> {};

TEST_P(IdentificationTest, TheDeviceCheckComparesTheAnswerWithTheExpectedResponse) {
    const IdentificationCase &c = GetParam();
    Identification = c.Answer;
    DeviceStreamClientWithStream client(c.Expected);
    ASSERT_EQ(0u, Load(client));
    EXPECT_EQ(c.Result, client.CheckDeviceOnStream(nullptr));
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ("*IDN?\n", Bytes());
    if (c.Result != 0) {
        char text[256];
        uint32_t length = 0;
        EXPECT_EQ(0u, client.GetErrorString(nullptr, c.Result, text, sizeof text, &length));
        EXPECT_EQ("The received identification of the device (\"" + c.Answer +
                      "\") is not matching with the expected identification (\"" + c.Expected + "\").",
                  std::string(text, length));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, IdentificationTest,
    ::testing::Values(IdentificationCase{"Contained", "ACME,MODEL 7", "acme,model 7,1234", 0},
                      IdentificationCase{"RegularExpression", "^ACME,MODEL [0-9]+", "ACME,MODEL 42,9", 0},
                      IdentificationCase{"Mismatch", "XYZ", "ACME", 0x30000096},
                      IdentificationCase{"EmptyExpected", "", "anything", 0}),
    [](const ::testing::TestParamInfo<IdentificationCase> &info) { return std::string(info.param.Name); });

TEST_F(ClientTest, ADeviceCheckOfAConnectedClientKeepsItsStreamWorking) {
    DeviceStreamClientWithStream client("ACME");
    ASSERT_EQ(0u, Load(client));
    ASSERT_EQ(0u, client.ConnectStream(nullptr, false));
    EXPECT_EQ(0u, client.CheckDeviceOnStream(nullptr));
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ("PONG\n", WriteRead(client, "PING"));
    EXPECT_EQ(1u, Connections());
}

TEST_F(ClientTest, StatusQueriesAndTheErrorQueue) {
    DeviceStreamClientWithStream client("");
    ASSERT_EQ(0u, Load(client));
    ASSERT_EQ(0u, client.ConnectStream(nullptr, false));
    unsigned char status = 0;
    bool available = true;
    EXPECT_EQ(0u, client.GetStatusByte(nullptr, status));
    EXPECT_EQ(16, status);
    EXPECT_EQ(0u, client.IsErrorAvailable(nullptr, available));
    EXPECT_FALSE(available);
    EXPECT_EQ(0u, client.GetEventStatusRegister(nullptr, status));
    EXPECT_EQ(32, status);
    EXPECT_EQ(0u, client.ReadErrorQueue(nullptr, "")); // nothing queued
    ClearBytes();

    Errors = {"-100,\"Command error\"", "-222,\"Data out of range\""};
    EXPECT_EQ(0x30001F45u, client.ReadErrorQueue(nullptr, ":ABORT"));
    EXPECT_EQ(":ABORT;*STB?\nSYST:ERR?\n", Bytes());
    char text[128];
    uint32_t length = 0;
    EXPECT_EQ(0u, client.GetErrorString(nullptr, 0x30001F45, text, sizeof text, &length));
    EXPECT_EQ("Specific System Error: -100,\"Command error\"\n", std::string(text, length));

    EXPECT_EQ(0u, client.WaitWhileChecking(nullptr));
    EXPECT_TRUE(Errors.empty());

    Errors = {"-100,\"Command error\""};
    ClearBytes();
    client.SetCheckSystemError(false);
    EXPECT_EQ(0u, client.WaitWhileChecking(nullptr));
    EXPECT_EQ("", Bytes());
}

TEST_F(ClientTest, BlocksArriveWholeWhateverTheirSizeAndContent) {
    DeviceStreamClientWithStream client("");
    ASSERT_EQ(0u, Load(client));
    ASSERT_EQ(0u, client.ConnectStream(nullptr, false));
    for (size_t size : {0u, 11u, 15u, 100000u}) {
        std::string received;
        EXPECT_EQ(0u, client.WriteReadBinaryBlock(nullptr, "BLOCK? " + std::to_string(size), received,
                                                  DeviceStreamClientWithStream::DefaultBlockCount));
        // The termination after the block arrives only when the first read took the whole answer.
        const std::string block = Block(size).substr(0, Block(size).size() - 1);
        EXPECT_EQ(block, received.substr(0, block.size())) << size;
        EXPECT_LE(received.size(), block.size() + 1) << size;
        EXPECT_TRUE(DeviceStreamClientWithStream::IsBlockComplete(received));
        EXPECT_EQ(size, DeviceStreamClientWithStream::GetBlockSize(received, false, 0));
    }
    // An answer that is no block is not cut at the size of the largest header.
    std::string identification;
    EXPECT_EQ(0u, client.WriteReadBinaryBlock(nullptr, "*IDN?", identification,
                                              DeviceStreamClientWithStream::DefaultBlockCount));
    EXPECT_EQ(Identification + "\n", identification);
    std::string indefinite;
    EXPECT_EQ(0u, client.WriteReadBinaryBlock(nullptr, "INDEF?", indefinite,
                                              DeviceStreamClientWithStream::DefaultBlockCount));
    EXPECT_EQ("#0" + Data(300, 'a', false) + "\n", indefinite);
    // The stream's own read termination is back.
    EXPECT_EQ("PONG\n", WriteRead(client, "PING"));
    EXPECT_TRUE(client.GetParameters().bReadTerminationEnabled);
}

TEST(BlockHeaderTest, HeadersAreFoundAsTheStandardDefinesThem) {
    struct Case {
        std::string Text;
        bool Header;
        size_t Start, Digits, Length;
        bool Complete;
    };
    const Case cases[] = {{"#211" + std::string(11, 'x'), true, 0, 2, 11, true},
                          {"#211" + std::string(10, 'x'), true, 0, 2, 11, false},
                          {"ab#15hello", true, 2, 1, 5, true},
                          {"#A#0", true, 2, 0, 0, true},
                          {"#0x", true, 0, 0, 0, true},
                          {"#0xy", false, 0, 0, 0, false},
                          {"#3", false, 0, 0, 0, false},
                          {"#2a1", false, 0, 0, 0, false}};
    for (const Case &c : cases) {
        size_t start = 99, digits = 99, length = 99;
        EXPECT_EQ(c.Header, DeviceStreamClientWithStream::ParseBlockHeader(c.Text, start, digits, length))
            << c.Text;
        if (c.Header) {
            EXPECT_EQ((std::vector<size_t>{c.Start, c.Digits, c.Length}),
                      (std::vector<size_t>{start, digits, length}))
                << c.Text;
        }
        EXPECT_EQ(c.Complete, DeviceStreamClientWithStream::IsBlockComplete(c.Text)) << c.Text;
    }
}

TEST_F(ClientTest, TwoClientsShareOneStreamUntilTheLastLeaves) {
    DeviceStreamClientWithStream first(""), second("");
    ASSERT_EQ(0u, Load(first));
    ASSERT_EQ(0u, Load(second));
    first.SetTimeout(nullptr, 4.0);
    ASSERT_EQ(0u, first.ConnectStream(nullptr, true));
    ASSERT_EQ(0u, second.ConnectStream(nullptr, true));
    EXPECT_EQ(first.GetEmbeddedStream()->GetEmbeddedStream(),
              second.GetEmbeddedStream()->GetEmbeddedStream());
    EXPECT_DOUBLE_EQ(4.0, second.GetTimeout(nullptr)); // the shared stream's settings
    EXPECT_FALSE(first.HasSingleClient());
    EXPECT_TRUE(mServer.WaitForConnections(1));
    EXPECT_EQ(1u, Connections());

    EXPECT_EQ(0u, first.DisconnectStream(nullptr));
    EXPECT_TRUE(second.HasSingleClient());
    EXPECT_EQ("PONG\n", WriteRead(second, "PING"));
    EXPECT_EQ(0u, second.DisconnectStream(nullptr));
    EXPECT_EQ(0u, SharedDeviceStreams::Size());
    ASSERT_EQ(0u, first.ConnectStream(nullptr, true));
    EXPECT_TRUE(mServer.WaitForConnections(2));
}

// The GPIB device-clear option, as the GPIB kind keeps it: off during the check, restored after it
// whether it passed or failed.
TEST_F(ClientTest, TheDeviceCheckSwitchesTheGpibClearOptionOff) {
    static bool clearOption;
    clearOption = true;
    const ClearDeviceOptionSwitch installed =
        SetClearDeviceOptionSwitch([](DeviceStreamConfiguration &, bool bNewState, bool &bOriginalState) {
            bOriginalState = clearOption;
            clearOption = bNewState;
            return true;
        });
    DeviceStreamConfigurationRegistry::Get().Register(
        "GPIB", +[]() -> DeviceStreamConfiguration * { return new TestConfiguration("GPIB"); });
    for (const bool pass : {true, false}) {
        DeviceStreamClientWithStream client(pass ? "ACME" : "XYZ");
        client.GetConfigurationManager().SetSupportedStreams("TCPIP;GPIB");
        SettingsFile file(HostSettings());
        ASSERT_EQ(0u, file.With([&](auto &db) { return client.LoadProgramSettings(nullptr, db); }));
        clearOption = true;
        EXPECT_EQ(pass ? 0u : 0x30000096u, client.CheckDeviceOnStream(nullptr));
        // Restored after a failed check too.
        EXPECT_TRUE(clearOption);
    }
    SetClearDeviceOptionSwitch(installed);
}

// A driver that accepts every queued error reads on, but not for ever.
TEST_F(ClientTest, DrainingAQueueThatNeverEmptiesEnds) {
    class Accepting : public DeviceStreamClientWithStream {
    public:
        Accepting() : DeviceStreamClientWithStream("") {}
        DWORD StoreDeviceError(HostWindow, const std::string &) override { return 0; }
    } client;
    ASSERT_EQ(0u, Load(client));
    ASSERT_EQ(0u, client.ConnectStream(nullptr, false));
    Errors.assign(1000, "-100,\"Command error\"");
    EXPECT_EQ(0u, client.ReadErrorQueue(nullptr, ""));
    EXPECT_EQ(1000u - DeviceStreamClientWithStreamBase::ErrorQueueMaximumReads, Errors.size());
}

// The joiner over the real client: settings from the host's file, both sides' pages.
TEST_F(ClientTest, AJoinedDriverLoadsItsStreamFromTheHostsFile) {
    TwoBaseClasses<SwitchMatrixBase, DeviceStreamClientWithStream> driver;
    driver.GetConfigurationManager().SetSupportedStreams("TCPIP");
    SettingsFile file(HostSettings() +
                      "[SCPI]\nCheckSystemError=FALSE\n[Identification]\nExpectedResponse=ACME\n");
    ASSERT_EQ(0u, file.With([&](auto &db) { return driver.LoadProgramSettings(nullptr, db); }));
    EXPECT_FALSE(driver.GetCheckSystemError());
    EXPECT_EQ("ACME", driver.GetExpectedResponse());
    EXPECT_EQ(0u, driver.DeviceStreamClientWithStream::CheckDeviceOnStream(nullptr));
    char text[64];
    uint32_t length = 0;
    EXPECT_EQ(0u, driver.GetErrorString(nullptr, 0x30001F41, text, sizeof text, &length));
    EXPECT_EQ("Device stream is not connected.", std::string(text, length));
    // A code that nobody knows ends without a text (and without asking round in circles).
    EXPECT_EQ(0u, driver.GetErrorString(nullptr, 0x30000777, text, sizeof text, &length));
    EXPECT_EQ(0u, length);
}
