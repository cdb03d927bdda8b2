// RS-232 over VISA: with a VISA library on the search path a port without a chosen implementation
// is a VISA serial session ("COM<n>" first, then "ASRL<n>::INSTR"), set up under a 5 s session
// lock; reads, writes and the stream go through it. The VISA stand-in serves the pseudo-terminal.
#include <gtest/gtest.h>

#include <thread>

#include "rs232/RS232DeviceStream.h"
#include "support/PseudoTerminal.h"
#include "support/TestSupport.h"
#include "visa/VisaBase.h"
#include "visa/VisaTestFixtures.h"
#include "streams/StandInClient.h"

namespace {

// The system VISA library and the language library: the VISA probe of this program answers "yes".
const VisaTest::LibraryFolder gLibraries(VisaTest::LibraryFolder::Files{
    {VisaTest::SystemLibrary, VisaTest::SystemLibrary}, {"libtoviklang.so", "libtoviklang.so"}});

constexpr int Port = 11;

class RS232VisaTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mTerminal.IsReady()); }

    TestSupport::IsolatedEnvironment mEnvironment;
    TestSupport::PseudoTerminal mTerminal{Port};
    VisaTest::Trace mTrace;
};

TEST_F(RS232VisaTest, APortOpensAsAVisaSerialSessionUnderAFiveSecondLock) {
    RS232DeviceDriver driver;
    driver.SetCOMPort(Port);
    driver.SetBaudRate(Br115200);
    driver.SetStopBits(Stop2);
    ASSERT_EQ(0u, driver.Open(Br115200, None, Data8, Stop2));
    EXPECT_NE(nullptr, dynamic_cast<RS232RunTimeDataVISA *>(RS232DeviceDriver::FindSharedRunTimeData(Port)));
    const std::vector<std::string> opens = mTrace.Calls("viOpen");
    ASSERT_EQ(2u, opens.size());
    EXPECT_NE(std::string::npos, opens[0].find("viOpen COM11 ")) << opens[0];
    EXPECT_NE(std::string::npos, opens[0].find("0xBFFF0011")) << opens[0];
    EXPECT_NE(std::string::npos, opens[1].find("viOpen ASRL11::INSTR mode=5 timeout=5000 -> ")) << opens[1];
    EXPECT_EQ("0x00000000", opens[1].substr(opens[1].size() - 10)) << opens[1];
    const std::vector<std::string> locks = mTrace.Calls("viLock");
    ASSERT_EQ(1u, locks.size());
    EXPECT_NE(std::string::npos, locks[0].find("timeout=5000")) << locks[0];
    const auto line = mTerminal.Settings();
    EXPECT_EQ(115200u, line.BaudRate);
    EXPECT_EQ(2, line.StopBits);
    driver.Close();

    // The serial API when the driver asks for it, VISA or not.
    RS232DeviceDriver serial;
    serial.SetCOMPort(Port);
    serial.SetImplementation(RS232Configuration::ImplementationSerialApi);
    ASSERT_EQ(0u, serial.Open(Br19200, None, Data8, Stop1));
    EXPECT_NE(nullptr,
              dynamic_cast<RS232RunTimeDataWindows *>(RS232DeviceDriver::FindSharedRunTimeData(Port)));
}

TEST_F(RS232VisaTest, ReadsEndAtTheLineEndTheCountOrTheTimeout) {
    RS232DeviceDriver driver;
    driver.SetCOMPort(Port);
    ASSERT_EQ(0u, driver.Open(Br19200, None, Data8, Stop1));
    EXPECT_EQ(0u, driver.Write("*IDN?\n"));
    EXPECT_EQ("*IDN?\n", mTerminal.Receive(6));

    ASSERT_TRUE(mTerminal.Send("PECOS-8\n"));
    std::string text;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, driver.OptimizedRead(text, 100, 3000, ""));
    EXPECT_EQ("PECOS-8\n", text);
    EXPECT_LT(TestSupport::MillisecondsSince(start), 2000);
    ASSERT_TRUE(mTerminal.Send("0123456789"));
    EXPECT_EQ(0u, driver.OptimizedRead(text, 4, 3000, ""));
    EXPECT_EQ("0123", text);
    EXPECT_EQ(0u, driver.OptimizedRead(text, 10, 300, ""));
    EXPECT_EQ("456789", text);

    ASSERT_EQ(0u, driver.SetTimeout(100));
    ASSERT_TRUE(mTerminal.Send("abc"));
    EXPECT_EQ(StreamResult::ReadTimeout, driver.Read(text, 5));
    EXPECT_EQ("abc", text);
}

TEST_F(RS232VisaTest, TheStreamTalksThroughVisaWithALockPerTransaction) {
    auto configuration = std::make_shared<RS232DeviceStreamConfiguration>();
    configuration->SetCOMPort(Port);
    configuration->SetCOMPortSharing(true);
    RS232DeviceStream stream;
    int client = 0;
    ASSERT_EQ(0u, stream.Connect(nullptr, configuration, StandInClient(&client)));
    stream.SetTimeout(nullptr, 2.0);
    std::thread instrument([this] {
        if (mTerminal.Receive(100, "\n") == "MEAS?\n")
            mTerminal.Send("4.25\n");
    });
    std::string response;
    DWORD count = 100;
    EXPECT_EQ(0u, stream.WriteRead(nullptr, "MEAS?", response, count, 3));
    instrument.join();
    EXPECT_EQ("4.25\n", response);
    EXPECT_EQ(nullptr, RS232DeviceDriver::FindSharedRunTimeData(Port)); // closed after the transaction
    EXPECT_EQ(1u, mTrace.Calls("viOpen", "ASRL11::INSTR").size());
    stream.Disconnect(nullptr, StandInClient(&client));
}

TEST_F(RS232VisaTest, ASlowOpenHoldsUpOnlyItsOwnPort) {
    // Someone else holds the port's VISA lock: the driver's open waits for it (up to 5 s).
    VisaBase holder(0);
    holder.SetResourceName("ASRL11::INSTR");
    ASSERT_EQ(0u, holder.OpenDevice(1000));
    ASSERT_EQ(0u, holder.Lock(1000));
    RS232SharedDeviceDriver first, second;
    first.SetCOMPort(Port);
    second.SetCOMPort(Port);
    DWORD firstResult = 1, secondResult = 1;
    std::thread firstOpen([&] { firstResult = first.Open(Br9600, None, Data8, Stop1); });
    EXPECT_TRUE(TestSupport::WaitUntil([&] { return !mTrace.Calls("viOpen", "COM11").empty(); },
                                       std::chrono::seconds(5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    TestSupport::PseudoTerminal otherTerminal{12};
    RS232DeviceDriver other;
    other.SetCOMPort(12);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, other.Open(Br9600, None, Data8, Stop1));
    EXPECT_EQ(0u, other.Close());
    EXPECT_LT(TestSupport::MillisecondsSince(start), 2000);

    // An opener of the same port waits for the first open and then shares it.
    std::thread secondOpen([&] { secondResult = second.Open(Br9600, None, Data8, Stop1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0u, holder.CloseAll());
    firstOpen.join();
    secondOpen.join();
    EXPECT_EQ(0u, firstResult);
    EXPECT_EQ(0u, secondResult);
    RS232RunTimeData *shared = RS232DeviceDriver::FindSharedRunTimeData(Port);
    ASSERT_NE(nullptr, shared);
    EXPECT_EQ(2u, shared->GetUsageCount());
    EXPECT_EQ(2u, mTrace.Calls("viOpen", "ASRL11::INSTR").size()); // the holder's and the first's
}

TEST_F(RS232VisaTest, AClosedDriverTakesVisaTextsFromATemporarySession) {
    RS232DeviceDriver driver;
    char buffer[256] = {};
    uint32_t length = 0;
    EXPECT_EQ(0u, driver.GetErrorString(nullptr, 0xBFFF0015, buffer, sizeof buffer, &length));
    EXPECT_GT(length, 0u);
    EXPECT_EQ(std::string(buffer).size(), length);
    EXPECT_EQ(0u, driver.GetErrorString(nullptr, RS232Result::PortNotOpen, buffer, sizeof buffer, &length));
    EXPECT_STREQ("COM1 is not open.", buffer);
}

} // namespace
