// The port driver over a pseudo-terminal: line settings on the terminal, refused and busy ports,
// shared ports, reads by count, termination and silence, writes with RTS, error texts.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "core/DriverRecords.h"
#include "logging/RecordTable.h"
#include "core/StandInLibraries.h"
#include "platform/SerialPort.h"
#include "rs232/RS232DeviceDriver.h"
#include "support/PseudoTerminal.h"
#include "support/TestSupport.h"
#include "visa/VisaTestFixtures.h"

// open(2) of this path runs out of memory: a port whose open throws.
std::atomic<const char *> gThrowingPath{nullptr};
extern "C" int open(const char *path, int flags, ...) {
    if (gThrowingPath != nullptr && std::strcmp(gThrowingPath, path) == 0)
        throw std::bad_alloc();
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    static const auto next = reinterpret_cast<int (*)(const char *, int, ...)>(dlsym(RTLD_NEXT, "open"));
    return next(path, flags, mode);
}

namespace {

constexpr int Port = 7;

// The language library without a VISA library: the VISA probe of this program answers "no".
const VisaTest::LibraryFolder gLibraries(VisaTest::LibraryFolder::Files{
    {"libtoviklang.so", "libtoviklang.so"}});

using Clock = std::chrono::steady_clock;
using TestSupport::MillisecondsSince;

// A driver on the test port through the serial API.
template <typename D = RS232DeviceDriver> std::unique_ptr<D> MakeDriver() {
    auto driver = std::make_unique<D>();
    driver->SetCOMPort(Port);
    driver->SetImplementation(RS232Configuration::ImplementationSerialApi);
    return driver;
}

template <typename D> DWORD OpenAsConfigured(D &driver) {
    return driver.Open(driver.GetBaudRate(), driver.GetParity(), driver.GetDataBits(), driver.GetStopBits());
}

class RS232DeviceDriverTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mTerminal.IsReady()); }

    RS232RunTimeDataWindows *RunTimeData() {
        return dynamic_cast<RS232RunTimeDataWindows *>(RS232DeviceDriver::FindSharedRunTimeData(Port));
    }

    TestSupport::IsolatedEnvironment mEnvironment;
    TestSupport::PseudoTerminal mTerminal{Port};
};

// A pseudo-terminal keeps 8 data bits and no parity whatever it is asked: those two are not seen.
TEST_F(RS232DeviceDriverTest, TheLineSettingsReachTheTerminal) {
    struct Case {
        BaudRate Rate;
        Parity LineParity;
        DataBits Bits;
        StopBits Stop;
        bool XonXoff;
        int ExpectedStop;
    };
    const Case cases[] = {{Br19200, None, Data8, Stop1, false, 1},   {Br9600, Odd, Data7, Stop2, true, 2},
                          {Br115200, Even, Data6, Stop1, false, 1},  {Br50, Mark, Data5, Stop15, false, 2},
                          {Br921600, Space, Data8, Stop2, false, 2}, {Br300, None, Data7, Stop1, true, 1}};
    for (const Case &test : cases) {
        auto driver = MakeDriver();
        driver->SetXonXoffFlowControl(test.XonXoff);
        ASSERT_EQ(0u, driver->Open(test.Rate, test.LineParity, test.Bits, test.Stop)) << test.Rate;
        const auto line = mTerminal.Settings();
        EXPECT_EQ(static_cast<unsigned>(test.Rate), line.BaudRate);
        EXPECT_EQ(test.ExpectedStop, line.StopBits);
        EXPECT_EQ(test.XonXoff, line.XonXoff);
        EXPECT_TRUE(line.Raw);
        EXPECT_EQ(0u, driver->Close());
    }
}

TEST_F(RS232DeviceDriverTest, SettingsThePortRefusesGive87AndLeaveNothingOpen) {
    struct Case {
        BaudRate Rate;
        Parity LineParity;
        DataBits Bits;
        StopBits Stop;
    };
    const Case cases[] = {{static_cast<BaudRate>(14400), None, Data8, Stop1},
                          {Br9600, static_cast<Parity>(7), Data8, Stop1},
                          {Br9600, None, static_cast<DataBits>(9), Stop1},
                          {Br9600, None, Data8, static_cast<StopBits>(3)},
                          {Br9600, None, Data8, Stop15},
                          {Br9600, None, Data5, Stop2}};
    for (const Case &test : cases) {
        auto driver = MakeDriver();
        EXPECT_EQ(87u, driver->Open(test.Rate, test.LineParity, test.Bits, test.Stop)) << test.Rate;
        EXPECT_FALSE(driver->IsRunTimeDataOpen());
        EXPECT_EQ(nullptr, RS232DeviceDriver::FindSharedRunTimeData(Port));
    }
    // The refused opens held nothing: the port opens at once.
    Platform::SerialPort other;
    EXPECT_EQ(0u, other.Open(Port));
}

TEST_F(RS232DeviceDriverTest, AMissingPortAndAPortInUseGiveTheirCodes) {
    TestSupport::TempDir dir;
    TestSupport::WriteFile(dir.File("plain"), "not a terminal");
    struct Case {
        int PortNumber;
        std::string Path;
        DWORD Expected;
    };
    const Case cases[] = {{8, dir.File("absent"), RS232Result::PortNotFound},
                          {8, dir.File("plain"), RS232Result::PortNotFound},
                          {0, "", RS232Result::PortAccessDenied}};
    for (const Case &test : cases) {
        TestSupport::ScopedEnv path("KORVALIS_COM8", test.Path);
        auto driver = MakeDriver();
        driver->SetCOMPort(test.PortNumber);
        EXPECT_EQ(test.Expected, OpenAsConfigured(*driver)) << test.Path;
        EXPECT_EQ(nullptr, RS232DeviceDriver::FindSharedRunTimeData(test.PortNumber));
    }

    // Another program holds the port.
    Platform::SerialPort other;
    ASSERT_EQ(0u, other.Open(Port));
    auto driver = MakeDriver();
    EXPECT_EQ(RS232Result::PortAccessDenied, OpenAsConfigured(*driver));
    other.Close();
    // A port whose open threw is not left busy: the next open goes ahead. One left busy holds that
    // open and every later open of the port for ever: the program ends at the deadline.
    gThrowingPath = mTerminal.SlavePath().c_str();
    EXPECT_THROW(OpenAsConfigured(*driver), std::bad_alloc);
    gThrowingPath = nullptr;
    auto opened = std::make_shared<std::promise<DWORD>>();
    std::future<DWORD> next = opened->get_future();
    std::thread([opened, port = driver.get()] { opened->set_value(OpenAsConfigured(*port)); }).detach();
    if (next.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the open after a thrown open still waits after 5 s: the port was left busy";
        std::fflush(stdout);
        std::_Exit(EXIT_FAILURE);
    }
    EXPECT_EQ(0u, next.get());
}

TEST_F(RS232DeviceDriverTest, FailuresAreLoggedWithTheirTexts) {
    DriverRecords records;
    {
        TestSupport::ScopedEnv path("KORVALIS_COM8", "/nonexistent/port");
        auto missing = MakeDriver();
        missing->SetCOMPort(8);
        EXPECT_EQ(RS232Result::PortNotFound, OpenAsConfigured(*missing));
    }
    RS232RunTimeDataWindows closed;
    EXPECT_EQ(0u, closed.Close());
    EXPECT_EQ(RS232Result::PortNotOpen, closed.ClearInBuffer());
    const std::vector<std::string> failures = {
        "B CreateRunTimeDataObject Note",
        "E CreateRunTimeDataObject Complete",
        "B Open Note",
        "N Open Error | De COM-poort is niet goed geopend",
        "E Open Error | Open(8) | Err=0x3000012F",
        "B Close Note",
        "E Close Warning | Close(closing while not opened) | Err=0x00000000",
        "B ClearInBuffer() Note",
        "E ClearInBuffer() Error | ClearInBuffer(PurgeComm returned error: 805306668)"};
    EXPECT_EQ(failures, RecordTable::Rows(records.Take(), L"RS232"));

    auto driver = MakeDriver();
    ASSERT_EQ(0u, OpenAsConfigured(*driver));
    records.Take();
    ASSERT_TRUE(mTerminal.Send("abc"));
    std::string text;
    EXPECT_EQ(StreamResult::ReadTimeout, driver->Read(text, 5));
    const std::vector<std::string> timeout = {"B Read() Note",
                                              "E Read() Error | Read(\"abc\", 5) | Err=0x3000012E"};
    EXPECT_EQ(timeout, RecordTable::Rows(records.Take(), L"RS232"));
}

TEST_F(RS232DeviceDriverTest, DriversWithEqualSettingsShareOnePortUntilTheLastCloses) {
    auto first = MakeDriver<RS232SharedDeviceDriver>();
    auto second = MakeDriver<RS232SharedDeviceDriver>();
    const auto start = Clock::now();
    ASSERT_EQ(0u, OpenAsConfigured(*first));
    EXPECT_GE(MillisecondsSince(start), 50);
    ASSERT_EQ(0u, OpenAsConfigured(*second));
    RS232RunTimeData *shared = RS232DeviceDriver::FindSharedRunTimeData(Port);
    ASSERT_NE(nullptr, shared);
    EXPECT_EQ(2u, shared->GetUsageCount());

    // Other settings, or no sharing, are refused while the port is held.
    auto otherRate = MakeDriver<RS232SharedDeviceDriver>();
    otherRate->SetBaudRate(Br9600);
    EXPECT_EQ(RS232Result::PortAccessDenied, OpenAsConfigured(*otherRate));
    auto unshared = MakeDriver();
    EXPECT_EQ(RS232Result::PortAccessDenied, OpenAsConfigured(*unshared));
    EXPECT_EQ(2u, shared->GetUsageCount());

    EXPECT_EQ(0u, first->Close());
    EXPECT_EQ(0u, first->Close()); // no second use to drop
    EXPECT_EQ(shared, RS232DeviceDriver::FindSharedRunTimeData(Port));
    EXPECT_TRUE(second->IsRunTimeDataOpen());
    EXPECT_EQ(1u, shared->GetUsageCount());
    ASSERT_EQ(0u, second->Write("still open"));
    EXPECT_EQ("still open", mTerminal.Receive(10));
    EXPECT_EQ(0u, second->Close());
    EXPECT_EQ(nullptr, RS232DeviceDriver::FindSharedRunTimeData(Port));
}

TEST_F(RS232DeviceDriverTest, AnUnsharedPortIsExclusiveAndItsEntryLeavesUnderTheKeyOfTheOpen) {
    auto driver = MakeDriver();
    ASSERT_EQ(0u, OpenAsConfigured(*driver));
    auto second = MakeDriver();
    EXPECT_EQ(RS232Result::PortAccessDenied, OpenAsConfigured(*second));
    driver->SetCOMPort(Port + 1);
    EXPECT_EQ(0u, driver->Close());
    EXPECT_EQ(nullptr, RS232DeviceDriver::FindSharedRunTimeData(Port));
    EXPECT_EQ(0u, OpenAsConfigured(*second));
}

TEST_F(RS232DeviceDriverTest, OptimizedReadEndsAtCountTerminationLineEndOrDeadline) {
    struct Case {
        const char *Name;
        std::string Sent;
        DWORD Count;
        std::string Termination;
        bool NewLineEnds;
        std::string Expected;
        bool EndsEarly; // well before the deadline
    };
    const Case cases[] = {
        {"silence", "ABCD", 10, "", false, "ABCD", false},
        {"count", "0123456789", 4, "", false, "0123", true},
        {"termination", "dataEND", 100, "END", false, "dataEND", true},
        {"carriage return", "OK\r", 100, "", true, "OK\r", true},
        {"line feed", "OK\n", 100, "", true, "OK\n", true},
        {"line end ignored", "OK\n", 100, "", false, "OK\n", false},
    };
    for (const Case &test : cases) {
        auto driver = MakeDriver();
        driver->SetNewLineReturnIsEndOfString(test.NewLineEnds);
        ASSERT_EQ(0u, OpenAsConfigured(*driver));
        ASSERT_EQ(0u, driver->ClearInBuffer());
        ASSERT_TRUE(mTerminal.Send(test.Sent));
        const DWORD timeout = test.EndsEarly ? 5000 : 400;
        std::string text;
        const auto start = Clock::now();
        EXPECT_EQ(0u, driver->OptimizedRead(text, test.Count, timeout, test.Termination)) << test.Name;
        const double elapsed = MillisecondsSince(start);
        EXPECT_EQ(test.Expected, text) << test.Name;
        if (test.EndsEarly)
            EXPECT_LT(elapsed, 2000) << test.Name;
        else
            EXPECT_GE(elapsed, 350) << test.Name;
        driver->Close();
    }
}

TEST_F(RS232DeviceDriverTest, AReadThatTimesOutGivesWhatCameAndTheTimeoutCode) {
    auto driver = MakeDriver();
    ASSERT_EQ(0u, OpenAsConfigured(*driver));
    ASSERT_EQ(0u, driver->SetTimeout(0)); // still 100 ms for a read
    std::string text = "old";
    auto start = Clock::now();
    EXPECT_EQ(StreamResult::ReadTimeout, driver->Read(text, 5));
    EXPECT_GE(MillisecondsSince(start), 90);
    EXPECT_EQ("", text);

    // The gap after the last byte ends a read that has begun.
    ASSERT_TRUE(mTerminal.Send("abc"));
    start = Clock::now();
    EXPECT_EQ(StreamResult::ReadTimeout, driver->Read(text, 5));
    EXPECT_LT(MillisecondsSince(start), 90);
    EXPECT_EQ("abc", text);

    // The time-out stays stored until the next wait reports it, once.
    ASSERT_TRUE(mTerminal.Send("q"));
    DWORD available = 0;
    EXPECT_EQ(StreamResult::ReadTimeout, driver->WaitCommEvent(100, available));
    EXPECT_EQ(0u, driver->WaitCommEvent(1000, available));
    EXPECT_EQ(1u, available);
    EXPECT_EQ(0u, driver->Read(text, 1));

    // A count that would wrap a buffer size is read like any other.
    ASSERT_TRUE(mTerminal.Send("xyz"));
    start = Clock::now();
    EXPECT_EQ(StreamResult::ReadTimeout, driver->Read(text, 0xFFFFFFFF));
    EXPECT_EQ("xyz", text);

    char buffer[4] = {'?', '?', '?', '?'};
    DWORD read = 99;
    ASSERT_TRUE(mTerminal.Send("12345"));
    EXPECT_EQ(0u, driver->Read(buffer, 3, &read));
    EXPECT_EQ(3u, read);
    EXPECT_STREQ("123", buffer);

    // A far end that hung up ends a read at once: the device failed.
    mTerminal.HangUp();
    EXPECT_EQ(Platform::SerialError::IoDevice, driver->Read(text, 5));
}

TEST_F(RS232DeviceDriverTest, AWriteRaisesRTSBeforeAndDropsItAfter) {
    for (const bool bAroundWrite : {true, false}) {
        auto driver = MakeDriver();
        driver->SetRTSAroundWrite(bAroundWrite);
        ASSERT_EQ(0u, OpenAsConfigured(*driver));
        const Platform::SerialPort &port = RunTimeData()->GetPort();
        const unsigned before = port.GetRtsChanges();
        DWORD written = 0;
        EXPECT_EQ(0u, driver->Write("*IDN?\n", 6, &written));
        EXPECT_EQ(6u, written);
        EXPECT_EQ("*IDN?\n", mTerminal.Receive(6));
        EXPECT_FALSE(port.GetRequestedRts());
        EXPECT_EQ(bAroundWrite ? 2u : 0u, port.GetRtsChanges() - before);
        driver->Close();
    }
}

TEST_F(RS232DeviceDriverTest, AClosedDriverAnswersWithoutAPort) {
    auto driver = MakeDriver();
    std::string text = "old";
    EXPECT_EQ(RS232Result::NoRunTimeData, driver->Read(text, 4));
    EXPECT_EQ("", text);
    DWORD written = 0;
    EXPECT_EQ(RS232Result::NoRunTimeData, driver->Write("abc", 3, &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(RS232Result::NoRunTimeData, driver->Lock(1.0));
    EXPECT_EQ(RS232Result::NoRunTimeData, driver->ClearInBuffer());
    EXPECT_EQ(0u, driver->SetTimeout(10));
    text = "old";
    EXPECT_EQ(0u, driver->OptimizedRead(text, 4, 100, ""));
    EXPECT_EQ("", text);
    EXPECT_EQ(0u, driver->Close());

    RS232RunTimeDataWindows closed;
    EXPECT_EQ(0u, closed.Close());
    EXPECT_EQ(RS232Result::PortNotOpen, closed.Write("x"));
    EXPECT_EQ(RS232Result::PortNotOpen, closed.GetLastErrorCode());
}

TEST_F(RS232DeviceDriverTest, AfterAFailedOpenTheCallsAnswerThatThePortIsClosed) {
    TestSupport::ScopedEnv path("KORVALIS_COM8", "/nonexistent/port");
    auto driver = MakeDriver();
    driver->SetCOMPort(8);
    ASSERT_EQ(RS232Result::PortNotFound, OpenAsConfigured(*driver));
    std::string text;
    DWORD written = 9;
    DWORD available = 0;
    const std::pair<const char *, DWORD> calls[] = {{"Read", driver->Read(text, 4)},
                                                    {"Write", driver->Write("abc", 3, &written)},
                                                    {"Lock", driver->Lock(1.0)},
                                                    {"ClearInBuffer", driver->ClearInBuffer()},
                                                    {"WaitCommEvent", driver->WaitCommEvent(10, available)}};
    for (const auto &call : calls)
        EXPECT_EQ(RS232Result::PortNotOpen, call.second) << call.first;
    EXPECT_EQ(0u, written);
    // Closed, the driver holds nothing.
    EXPECT_EQ(0u, driver->Close());
    EXPECT_EQ(RS232Result::NoRunTimeData, driver->Read(text, 4));
}

TEST_F(RS232DeviceDriverTest, AWriteReportsTheBytesThePortTook) {
    auto driver = MakeDriver();
    driver->SetCOMPort(9);
    DWORD written = 0;
    {
        TestSupport::PseudoTerminal other{9};
        ASSERT_TRUE(other.IsReady());
        ASSERT_EQ(0u, OpenAsConfigured(*driver));
        EXPECT_EQ(0u, driver->Write("ab", 2, &written));
        EXPECT_EQ(2u, written);
    }
    // The other end is gone: the write fails and nothing counts as written.
    written = 9;
    EXPECT_NE(0u, driver->Write("abc", 3, &written));
    EXPECT_EQ(0u, written);
}

TEST_F(RS232DeviceDriverTest, ErrorTextsComeFromTheLanguageLibrary) {
    auto driver = MakeDriver();
    char buffer[128] = {};
    uint32_t length = 0;
    {
        EXPECT_EQ(0u,
                  driver->GetErrorString(nullptr, RS232Result::PortNotFound, buffer, sizeof buffer, &length));
        EXPECT_STREQ("COM7 does not exist.", buffer);
        EXPECT_EQ(20u, length);
        EXPECT_EQ(0u, driver->GetErrorString(nullptr, RS232Result::PortNotFound, buffer, 5, &length));
        EXPECT_STREQ("COM7", buffer);
        EXPECT_EQ(0u, driver->GetErrorString(nullptr, 0x30009999, buffer, sizeof buffer, &length));
        EXPECT_EQ(0u, length);
    }
    StandIns::LanguageLibraryMissing missing;
    if (!StandIns::LanguageLibraryMissing::ReallyMissing())
        GTEST_SKIP() << "the language library is still loadable";
    EXPECT_EQ(0u, driver->GetErrorString(nullptr, RS232Result::PortNotFound, buffer, sizeof buffer, &length));
    EXPECT_STREQ("Can not load TovikLang.dll", buffer);
}

} // namespace
