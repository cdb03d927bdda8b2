// The GPIB stream kinds against the stand-ins: configurations, the connect sequence and the EOS
// settings, writes and reads, the bus lock after the named lock (also held by another process),
// two kinds on one address, set-up failures and settings out of range, output that a read left in
// the device, and the device check's device-clear option.
#include "gpib/NIGPIBDeviceStream.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "gpib/GPIBResultCodes.h"
#include "gpib/GpibStandIns.h"
#include "platform/NamedMutex.h"
#include "streams/DeviceStreamClient.h"
#include "support/TestSupport.h"

namespace {

std::shared_ptr<NIGPIBDeviceStreamConfiguration> GpibConfiguration(int primary,
                                                                   const char *kind = GPIBStreamKind) {
    std::shared_ptr<NIGPIBDeviceStreamConfiguration> configuration;
    if (std::string(kind) == GPIBStreamKind)
        configuration = std::make_shared<NIGPIBDeviceStreamConfiguration>();
    else
        configuration = std::make_shared<NICompliantGPIBDeviceStreamConfiguration>();
    configuration->SetPrimaryAddress(primary);
    return configuration;
}

class NIGPIBDeviceStreamTest : public GpibStandInTest {
protected:
    void SetUp() override {
        GpibStandInTest::SetUp();
        AddInstrument(0, 5, 0, "ACME,DMM,1,2");
        SetReply(0, 5, 0, "MEAS?", "1.25");
    }
    // A driver's client of the kind, its settings as a host's file gives them (these lines win over
    // PriAdr=5 after them), connected with ClientTimeout; else the code of the load or the connect.
    DWORD ConnectClient(DeviceStreamClientWithStreamBase &client, const std::string &sKind,
                        const std::string &sSettings) {
        const std::string path = mFolder.File("driver.ini");
        TestSupport::WriteFile(path, "[Stream Config]\nSelected=" + sKind + "\n[Stream Config.GPIB]\n" +
                                         sSettings + "PriAdr=5\n");
        auto database = CreateINIProgramSettingsDatabase(path);
        database->Open();
        client.GetConfigurationManager().SetSupportedStreams("GPIB;CompliantGPIB");
        DWORD result = client.LoadProgramSettings(nullptr, database);
        database->Close();
        result = result != 0 ? result : client.ConnectStream(nullptr, false);
        return result != 0 ? result : client.SetTimeout(nullptr, ClientTimeout);
    }
    // The answer to a write-read of one try, which must succeed.
    std::string Exchange(DeviceStreamClientWithStreamBase &client, const char *command, DWORD count = 100) {
        std::string answer;
        EXPECT_EQ(0u, client.WriteRead(nullptr, command, answer, count, 1)) << command;
        return answer;
    }

    static constexpr double ClientTimeout = 0.5;
    TestSupport::MessageBoxRecorder mBoxes;
    TestSupport::TempDir mFolder;
    DeviceStreamClient mClient;
    DeviceStreamClient mOtherClient;
};

TEST_F(NIGPIBDeviceStreamTest, ConfigurationsOrderAndName) {
    NIGPIBDeviceStreamConfiguration fresh;
    EXPECT_EQ("GPIB:0,1,0", fresh.GetIdentifier());
    EXPECT_TRUE(fresh.IsValid());
    EXPECT_TRUE(fresh.GetClearDevice());
    EXPECT_TRUE(fresh.GetReaddress());
    fresh.SetPrimaryAddress(0);
    EXPECT_FALSE(fresh.IsValid());

    auto first = GpibConfiguration(5);
    first->SetWait(100);
    auto second = GpibConfiguration(4);
    second->SetWait(200);
    EXPECT_FALSE(first->LessThan(second));
    EXPECT_TRUE(second->LessThan(first));
    auto same = GpibConfiguration(5);
    same->SetWait(100);
    EXPECT_FALSE(first->LessThan(same));
    EXPECT_FALSE(same->LessThan(first));
    same->SetReaddress(false);
    EXPECT_TRUE(same->LessThan(first));
    // Two kinds on one instrument: one lock name, two streams.
    auto compliant = GpibConfiguration(5, CompliantGPIBStreamKind);
    compliant->SetWait(100);
    EXPECT_EQ(first->GetIdentifier(), compliant->GetIdentifier());
    EXPECT_TRUE(compliant->LessThan(first));
    EXPECT_FALSE(first->LessThan(compliant));
    EXPECT_EQ((std::vector<std::string>{"CompliantGPIB", "GPIB"}),
              std::vector<std::string>({CreateConfigurationOfKind("CompliantGPIB")->GetIDString(),
                                        CreateConfigurationOfKind("GPIB")->GetIDString()}));
}

TEST_F(NIGPIBDeviceStreamTest, ConnectSetsTheEndOfStringAndWritesTerminateOnce) {
    NIGPIBDeviceStream stream;
    stream.SetReadTermination(nullptr, "\n", true);
    stream.SetWriteTermination(nullptr, "\n", true);
    stream.SetTimeout(nullptr, 2.0);
    ASSERT_EQ(0u, stream.Connect(nullptr, GpibConfiguration(5), &mClient));
    EXPECT_TRUE(stream.IsConnected());
    EXPECT_EQ(L"Global\\KORVALIS:DS:GPIB:0,5,0", stream.GetLockName());
    // The service-request watch's handle (16) first, then the driver's (17).
    EXPECT_EQ((std::vector<std::string>{"ibdev(0,5,0,8,1,0x0)", "ibdev(0,5,0,13,1,0x140A)"}),
              TraceOf("ibdev"));
    EXPECT_EQ((std::vector<std::string>{"ibconfig(0,7,0)", "ibconfig(17,6,1)", "ibconfig(17,12,1)",
                                        "ibconfig(17,15,10)", "ibconfig(17,14,1)", "ibconfig(17,13,0)",
                                        "ibconfig(17,4,1)"}),
              TraceOf("ibconfig"));
    EXPECT_EQ(std::vector<std::string>{"ibtmo(17,12)"}, TraceOf("ibtmo"));

    EXPECT_EQ(0u, stream.Write(nullptr, "*IDN?", false));
    std::string response;
    EXPECT_EQ(0u, stream.Read(nullptr, response, 100));
    EXPECT_EQ("ACME,DMM,1,2\n", response);
    EXPECT_EQ(0u, stream.Write(nullptr, "MEAS?\n", false));
    EXPECT_EQ("*IDN?\nMEAS?\n", Received(0, 5));
    EXPECT_EQ(0u, stream.Read(nullptr, response, 3));
    EXPECT_EQ("1.2", response);
    EXPECT_EQ(0u, stream.Read(nullptr, response, 100));
    EXPECT_EQ("5\n", response);
    // The time-out of the stream is back after each read.
    EXPECT_EQ(2.0, stream.GetTimeout(nullptr));
    EXPECT_EQ(0u, stream.Write(nullptr, "VOLT 5", true));
    EXPECT_EQ("*IDN?\nMEAS?\nVOLT 5;*OPC?\n", Received(0, 5));
    // "*OPC?" not answered in time.
    FailNext("ibrd", NI488::EABO, 0);
    EXPECT_EQ(StreamResult::OperationCompleteMissing, stream.Write(nullptr, "VOLT 6", true));

    // Disconnect closes the device; the driver stays for the next connect.
    EXPECT_EQ(0u, stream.Disconnect(nullptr, &mClient));
    EXPECT_FALSE(stream.IsConnected());
    EXPECT_NE(nullptr, stream.GetDriver());
}

TEST_F(NIGPIBDeviceStreamTest, EmptyReadTerminationAndEndOfMessages) {
    NIGPIBDeviceStream stream;
    ASSERT_EQ(0u, stream.Connect(nullptr, GpibConfiguration(5), &mClient));
    EXPECT_EQ(std::vector<std::string>{"ibdev(0,5,0,13,1,0x1400)"}, TraceOf("ibdev(0,5,0,13"));
    EXPECT_EQ(std::vector<std::string>{"ibconfig(17,12,0)"}, TraceOf("ibconfig(17,12"));
    // Read termination off: END ends the read at once, no waiting for count bytes.
    stream.SetReadTermination(nullptr, "\n", false);
    stream.SetTimeout(nullptr, 5.0);
    ASSERT_EQ(0u, stream.Write(nullptr, "MEAS?", false));
    const auto start = std::chrono::steady_clock::now();
    std::string response;
    EXPECT_EQ(0u, stream.Read(nullptr, response, 100));
    EXPECT_LT(TestSupport::MillisecondsSince(start), 1000);
    EXPECT_EQ("1.25\n", response);
    // Nothing more: the device's time-out.
    EXPECT_EQ(GPIBResult::TimeOut, stream.Read(nullptr, response, 100));
}

TEST_F(NIGPIBDeviceStreamTest, DelayAndBusLock) {
    NIGPIBDeviceStream stream;
    auto configuration = GpibConfiguration(5);
    configuration->SetWait(200);
    ASSERT_EQ(0u, stream.Connect(nullptr, configuration, &mClient));
    stream.WriteReadDeviceStream::SetMinimumDelay(50);
    EXPECT_EQ(200u, stream.GetMinimumDelay());
    // The stream's own delay becomes the driver's Wait.
    stream.SetMinimumDelay(300);
    EXPECT_EQ(300u, stream.GetDriver()->GetWait());
    ClearTrace();
    EXPECT_EQ(0u, stream.Lock(nullptr, 2.5));
    EXPECT_EQ(0u, stream.Unlock(nullptr));
    EXPECT_EQ((std::vector<std::string>{"iblck(17,1,2500)", "iblck(17,0,0)"}), Trace());
    // A bus lock that fails gives the named lock back.
    HoldLock(0, 5, 0, 1);
    EXPECT_EQ(GPIBResult::Locked, stream.Lock(nullptr, 0.05));
    bool obtained = false;
    std::thread other([&] {
        Platform::NamedMutex mutex(stream.GetLockName());
        obtained = mutex.Wait(0) == Platform::WaitObject0;
        if (obtained)
            mutex.Release();
    });
    other.join();
    EXPECT_TRUE(obtained);
}

TEST_F(NIGPIBDeviceStreamTest, AnotherProcessHoldingTheNamedLockKeepsTheBusFree) {
    NIGPIBDeviceStream stream;
    ASSERT_EQ(0u, stream.Connect(nullptr, GpibConfiguration(5), &mClient));
    int toChild[2], toParent[2];
    ASSERT_EQ(0, pipe(toChild));
    ASSERT_EQ(0, pipe(toParent));
    const pid_t child = fork();
    if (child == 0) {
        Platform::NamedMutex mutex(L"Global\\KORVALIS:DS:GPIB:0,5,0");
        char c = mutex.Wait(2000) == Platform::WaitObject0 ? 'L' : 'F';
        (void)!write(toParent[1], &c, 1);
        pollfd p{toChild[0], POLLIN, 0};
        poll(&p, 1, 10000);
        mutex.Release();
        _exit(0);
    }
    char c = 0;
    pollfd p{toParent[0], POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 10000));
    ASSERT_EQ(1, read(toParent[0], &c, 1));
    ASSERT_EQ('L', c);
    ClearTrace();
    EXPECT_EQ(StreamResult::LockTimeout, stream.Lock(nullptr, 0.2));
    EXPECT_TRUE(TraceOf("iblck").empty());
    (void)!write(toChild[1], "R", 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(0u, stream.Lock(nullptr, 2.0));
    EXPECT_EQ(std::vector<std::string>{"iblck(17,1,2000)"}, TraceOf("iblck"));
    EXPECT_EQ(0u, stream.Unlock(nullptr));
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
        close(fd);
}

TEST_F(NIGPIBDeviceStreamTest, TwoClientsShareTheDeviceUntilTheLastLeaves) {
    NIGPIBDeviceStream stream;
    ASSERT_EQ(0u, stream.Connect(nullptr, GpibConfiguration(5), &mClient));
    ASSERT_EQ(0u, stream.Connect(nullptr, GpibConfiguration(5), &mOtherClient));
    EXPECT_EQ(1u, TraceOf("ibdev(0,5,0,13").size());
    EXPECT_EQ(2u, stream.GetClientCount());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, &mClient));
    EXPECT_TRUE(TraceOf("ibonl(17,0)").empty());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, &mOtherClient));
    EXPECT_EQ(1u, TraceOf("ibonl(17,0)").size());
}

TEST_F(NIGPIBDeviceStreamTest, BothKindsOnOneAddressExcludeEachOther) {
    NIGPIBDeviceStream plain;
    NI4882CompliantGPIBDeviceStream compliant;
    ASSERT_EQ(0u, plain.Connect(nullptr, GpibConfiguration(5), &mClient));
    ASSERT_EQ(0u, compliant.Connect(nullptr, GpibConfiguration(5, CompliantGPIBStreamKind), &mOtherClient));
    EXPECT_EQ(plain.GetLockName(), compliant.GetLockName());
    ASSERT_EQ(0u, plain.Lock(nullptr, 1.0));
    DWORD other = 0;
    std::thread([&] { other = compliant.Lock(nullptr, 0.1); }).join();
    EXPECT_EQ(StreamResult::LockTimeout, other);
    EXPECT_EQ(0u, plain.Unlock(nullptr));
    std::thread([&] {
        other = compliant.Lock(nullptr, 1.0);
        compliant.Unlock(nullptr);
    }).join();
    EXPECT_EQ(0u, other);
    compliant.Disconnect(nullptr, &mOtherClient);
}

TEST_F(NIGPIBDeviceStreamTest, FailedChecksLeaveNothingOpen) {
    NIGPIBDeviceStream stream;
    // A configuration of the other kind: no driver stays, so the right one configures a new one.
    EXPECT_EQ(StreamResult::InvalidConfigurationObject,
              stream.Connect(nullptr, GpibConfiguration(5, CompliantGPIBStreamKind), &mClient));
    EXPECT_EQ(nullptr, stream.GetDriver());
    EXPECT_FALSE(stream.IsConnected());
    // A set-up step after the open fails: the device is closed again, no client registered.
    FailNext("ibtmo", 4, 0);
    EXPECT_EQ(GPIBResult::Argument, stream.Connect(nullptr, GpibConfiguration(5), &mClient));
    EXPECT_EQ(std::vector<std::string>{"ibdev(0,5,0,13,1,0x1400)"}, TraceOf("ibdev(0,5,0,13"));
    EXPECT_EQ(1u, TraceOf("ibonl(17,0)").size());
    EXPECT_FALSE(stream.IsConnected());
    EXPECT_EQ(0u, stream.GetClientCount());
    EXPECT_EQ(0u, stream.Connect(nullptr, GpibConfiguration(5), &mClient));
    EXPECT_TRUE(stream.IsConnected());
    // A refused connect (no instrument at the address): writes and reads reach nothing.
    for (const char *kind : {GPIBStreamKind, CompliantGPIBStreamKind}) {
        std::unique_ptr<NIGPIBDeviceStream> refused(
            kind == GPIBStreamKind ? new NIGPIBDeviceStream : new NI4882CompliantGPIBDeviceStream);
        EXPECT_EQ(0x3000020Au, refused->Connect(nullptr, GpibConfiguration(6, kind), &mOtherClient)) << kind;
        ClearTrace();
        std::string response;
        DWORD count = 10;
        EXPECT_EQ(StreamResult::StreamNotConnected, refused->Write(nullptr, "*IDN?", false)) << kind;
        EXPECT_EQ(StreamResult::StreamNotConnected, refused->Read(nullptr, response, count)) << kind;
        EXPECT_EQ(StreamResult::StreamNotConnected, refused->WriteRead(nullptr, "*IDN?", response, count, 1))
            << kind;
        EXPECT_TRUE(TraceOf("ibwrt").empty() && TraceOf("ibrd").empty()) << kind;
        // Addresses out of range, also beyond 32 bits (4294967301 is not 5): refused at connect,
        // before anything watches or opens the address.
        const std::pair<const char *, DWORD> junk[] = {{"PriAdr=4294967301\n", GPIBResult::Argument},
                                                       {"PriAdr=31\n", GPIBResult::Argument},
                                                       {"SecAdr=4294967392\n", GPIBResult::Argument},
                                                       {"SecAdr=95\n", GPIBResult::Argument},
                                                       {"Board=4294967296\n", GPIBResult::BoardOutOfRange}};
        for (const auto &[settings, code] : junk) {
            DeviceStreamClientWithStreamBase client("ACME");
            ClearTrace();
            EXPECT_EQ(code, ConnectClient(client, kind, settings)) << kind << " " << settings;
            EXPECT_TRUE(TraceOf("ibdev").empty()) << kind << " " << settings;
        }
    }
}

// Output that a read left in the device (the rest of a reply cut at the count, a reply that came
// after the time-out, each read timing out with the reply queued) never answers the next query of
// a driver's client, whether the instrument would drop it (IEEE 488.2, reporting the interrupted
// query) or send it (an older one). A read that times out fails the exchange within 1.2
// time-outs with EABO's code; a silent instrument, on CompliantGPIB, with its missing service
// request's. Junk time-outs are refused.
TEST_F(NIGPIBDeviceStreamTest, OutputLeftByAReadNeverAnswersTheNextQuery) {
    const struct {
        const char *Instrument, *Settings;
        bool KeepsOutput;
    } instruments[] = {
        {"IEEE 488.2", "", false}, {"older", "", true}, {"older, Clear off", "Clear=0\n", true}};
    const struct {
        const char *Left, *Command;
        DWORD Count;
        const char *Answer;
        DWORD Code, CompliantCode;
    } exchanges[] = {
        {"count", "*IDN?", 5, "ACME,", 0, 0},
        {"time-out", "*IDN?", 100, "", GPIBResult::TimeOut, GPIBResult::TimeOut},
        {"silent instrument", "*CLS", 100, "", GPIBResult::TimeOut, GPIBResult::NoServiceRequest}};
    for (const char *kind : {GPIBStreamKind, CompliantGPIBStreamKind})
        for (const auto &instrument : instruments)
            for (const auto &exchange : exchanges) {
                SCOPED_TRACE(std::string(kind) + ", " + instrument.Instrument + ", " + exchange.Left);
                KeepOutput(0, 5, 0, instrument.KeepsOutput);
                DeviceStreamClientWithStreamBase client("ACME");
                ASSERT_EQ(0u, ConnectClient(client, kind, instrument.Settings));
                for (const double junk : {std::nan(""), -1.0})
                    EXPECT_EQ(StreamResult::CouldNotSetValue, client.SetTimeout(nullptr, junk)) << junk;
                // The stream's read (GPIB); the handler's read (CompliantGPIB).
                if (exchange.Left == std::string("time-out"))
                    FailNext("ibrd", NI488::EABO, 0);
                const DWORD code = kind == GPIBStreamKind ? exchange.Code : exchange.CompliantCode;
                const auto start = std::chrono::steady_clock::now();
                std::string answer;
                DWORD count = exchange.Count;
                const DWORD result = client.WriteRead(nullptr, exchange.Command, answer, count, 1);
                // On a loaded machine the handler's failed read may come after the wait ended.
                const bool bLateHandler = kind != std::string(GPIBStreamKind) &&
                                          code == GPIBResult::TimeOut &&
                                          result == GPIBResult::NoServiceRequest;
                EXPECT_TRUE(result == code || bLateHandler) << std::hex << "0x" << result;
                EXPECT_EQ(exchange.Answer, answer);
                EXPECT_LT(TestSupport::MillisecondsSince(start),
                          1.2 * ClientTimeout * 1000 + TestSupport::SchedulingSlack.count());
                EXPECT_EQ(0, PendingFailures());
                EXPECT_EQ("1.25\n", Exchange(client, "MEAS?"));
                EXPECT_EQ("0,\"No error\"\n", Exchange(client, "SYST:ERR?"));
                EXPECT_EQ(0u, client.DisconnectStream(nullptr));
            }
}

// An instrument that keeps talking where a read left its output (a long trace on its way) holds
// the next command back by the drop before it for a fifth of the time-out, no longer; the command
// then ends the talk and gets its answer.
TEST_F(NIGPIBDeviceStreamTest, ADropBeforeACommandEndsAtAFifthOfTheTimeOut) {
    const double dTimeout = 3.0;
    for (const char *kind : {GPIBStreamKind, CompliantGPIBStreamKind}) {
        SCOPED_TRACE(kind);
        DeviceStreamClientWithStreamBase client("ACME");
        ASSERT_EQ(0u, ConnectClient(client, kind, "Clear=0\n"));
        ASSERT_EQ(0u, client.SetTimeout(nullptr, dTimeout));
        EXPECT_EQ("ACME,", Exchange(client, "*IDN?", 5));
        TalkFor(0, 5, 0, static_cast<long>(2000 * dTimeout));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ("1.25\n", Exchange(client, "MEAS?"));
        const double elapsed = TestSupport::MillisecondsSince(start);
        EXPECT_GT(elapsed, 0.9 * 1000 * dTimeout / 5)
            << "the drop ended before its bound while the instrument talked";
        EXPECT_LT(elapsed, 1000 * dTimeout * 0.6);
        EXPECT_EQ(0u, client.DisconnectStream(nullptr));
    }
}

TEST_F(NIGPIBDeviceStreamTest, CompliantStreamWaitsByServiceRequest) {
    NI4882CompliantGPIBDeviceStream stream;
    stream.SetWriteTermination(nullptr, "\n", true);
    stream.SetReadTermination(nullptr, "\n", true);
    stream.SetTimeout(nullptr, 1.0);
    ASSERT_EQ(0u, stream.Connect(nullptr, GpibConfiguration(5, CompliantGPIBStreamKind), &mClient));
    ASSERT_NE(nullptr, stream.GetCompliantDriver());
    EXPECT_EQ(0u, stream.Write(nullptr, "VOLT 5", true));
    EXPECT_NE(std::string::npos, Received(0, 5).find("VOLT 5;*OPC\n"));
    std::string response;
    EXPECT_EQ(0u, stream.WriteAndRead(nullptr, "MEAS?", false, response, 64));
    EXPECT_EQ("1.25\n", response);
    ASSERT_EQ(0u, stream.Write(nullptr, "MEAS?", false));
    EXPECT_EQ(0u, stream.Read(nullptr, response, 64));
    EXPECT_EQ("1.25\n", response);
    // Output that came unasked, once the handler holds it, is handed out at most count bytes a read.
    ClearTrace();
    QueueOutput(0, 5, 0, "ACME,DMM,1,2\n", 13);
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return !TraceOf("ibrd").empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(0u, stream.Read(nullptr, response, 5));
    EXPECT_EQ("ACME,", response);
    EXPECT_EQ(0u, stream.Read(nullptr, response, 64));
    EXPECT_EQ("DMM,1,2\n", response);
    EXPECT_EQ(0u, stream.Disconnect(nullptr, &mClient));
    EXPECT_EQ(0, OpenDevices(0, 5, 0));
}

// The driver-side device check switches the device clear off and restores it, also after a
// failed check.
TEST_F(NIGPIBDeviceStreamTest, DeviceCheckRestoresTheClearOption) {
    for (const char *expected : {"ACME", "SOMEONE ELSE"}) {
        SCOPED_TRACE(expected);
        DeviceStreamClientWithStreamBase client(expected);
        DeviceStreamConfigurationManager &manager = client.GetConfigurationManager();
        manager.SetSupportedStreams("GPIB");
        auto configuration =
            std::dynamic_pointer_cast<NIGPIBDeviceStreamConfiguration>(manager.FindConfiguration("GPIB"));
        ASSERT_TRUE(configuration);
        configuration->SetPrimaryAddress(5);
        manager.SetSelected("GPIB");
        ClearTrace();
        const DWORD result = client.CheckDeviceOnStream(nullptr);
        EXPECT_EQ(std::string(expected) == "ACME", result == 0) << std::hex << result;
        EXPECT_EQ(1u, TraceOf("ibdev(0,5,0,13").size());
        EXPECT_TRUE(TraceOf("ibclr").empty());
        EXPECT_TRUE(configuration->GetClearDevice());
    }
}

} // namespace
