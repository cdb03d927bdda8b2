// Service-request GPIB against the two stand-ins: registration, the operation-complete wait with
// and without a request, responses read by the handler, output that came unasked (also announced
// while the device opens), query errors and resends, and unregistering before the device or the
// driver goes.
#include "gpib/NI4882MGPIB.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "gpib/GPIBResultCodes.h"
#include "gpib/GpibStandIns.h"
#include "support/TestSupport.h"

namespace {

class NI4882MGPIBTest : public GpibStandInTest {
protected:
    void SetUp() override {
        GpibStandInTest::SetUp();
        AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
        SetReply(0, 5, 0, "MEAS?", "1.25");
        mGpib = std::make_unique<NI4882CompliantGPIB>(0, 5, 0);
        // Every wait below ends within three seconds.
        mGpib->SetTimeOutMilliseconds(nullptr, 1000);
    }
    void TearDown() override {
        mGpib.reset();
        EXPECT_EQ(0, OpenDevices(0, 5, 0));
    }
    std::unique_ptr<NI4882CompliantGPIB> mGpib;
};

TEST_F(NI4882MGPIBTest, OpenEnablesRequestsAndCloseDisablesThem) {
    ASSERT_EQ(0u, mGpib->OpenDevice(nullptr, 0, 5, 0));
    EXPECT_NE(0u, mGpib->GetRegistration());
    // The driver's handle and the service-request watch's own.
    EXPECT_EQ(2, OpenDevices(0, 5, 0));
    EXPECT_EQ("*CLS*SRE 48*ESE 1", Received(0, 5));
    const int handle = mGpib->GetLibrary().GetDeviceHandle();
    ClearTrace();
    EXPECT_EQ(0u, mGpib->CloseDevice(nullptr));
    // The watch has let go of the device before the driver's handle goes.
    const std::vector<std::string> trace = Trace();
    const auto local = std::find(trace.begin(), trace.end(), "ibloc(" + std::to_string(handle) + ")");
    EXPECT_EQ(1, std::count_if(trace.begin(), local,
                               [](const std::string &line) { return line.rfind("ibonl(", 0) == 0; }));
    EXPECT_EQ(0, OpenDevices(0, 5, 0));
    EXPECT_EQ(0u, mGpib->GetRegistration());
    EXPECT_EQ("*CLS*SRE 48*ESE 1*SRE 0*ESE 0", Received(0, 5));
    // Closed: the disabling sends reach nothing, and nothing is unregistered.
    EXPECT_EQ(0u, mGpib->CloseDevice(nullptr));
    EXPECT_EQ("*CLS*SRE 48*ESE 1*SRE 0*ESE 0", Received(0, 5));
}

TEST_F(NI4882MGPIBTest, OperationCompleteArrivesAsServiceRequest) {
    ASSERT_EQ(0u, mGpib->OpenDevice(nullptr, 0, 5, 0));
    std::string response;
    EXPECT_EQ(0u, mGpib->SaveSendGPIB(nullptr, "VOLT 5", true, 0, &response));
    EXPECT_EQ(0u, mGpib->SaveSendGPIB(nullptr, "VOLT 6\r\n", true, 0, &response));
    EXPECT_EQ(0u, mGpib->SaveSendGPIB(nullptr, "", true, 0, &response));
    EXPECT_EQ(0u, mGpib->SaveSendGPIB(nullptr, "", false, 0, &response));
    const std::string wire = Received(0, 5);
    EXPECT_NE(std::string::npos, wire.find("VOLT 5;*OPC*ESR?")) << wire;
    EXPECT_NE(std::string::npos, wire.find("VOLT 6;*OPC\r\n*ESR?")) << wire;
    EXPECT_NE(std::string::npos, wire.find("*ESR?*OPC*ESR?")) << wire;
    EXPECT_EQ(NI4882CompliantGPIB::Complete, mGpib->GetState());
}

TEST_F(NI4882MGPIBTest, NoRequestEndsAfterThreeTimeOuts) {
    ASSERT_EQ(0u, mGpib->OpenDevice(nullptr, 0, 5, 0));
    // The device no longer reports operation complete.
    ASSERT_EQ(0u, mGpib->SendGPIB(nullptr, "*ESE 0"));
    mGpib->SetTimeOutMilliseconds(nullptr, 30);
    const auto start = std::chrono::steady_clock::now();
    std::string response;
    EXPECT_EQ(GPIBResult::NoServiceRequest, mGpib->SaveSendGPIB(nullptr, "VOLT 5", true, 0, &response));
    const double waited = TestSupport::MillisecondsSince(start);
    EXPECT_GE(waited, 90);
    EXPECT_LT(waited, 2000);
}

TEST_F(NI4882MGPIBTest, HandlerReadsResponsesAndKeepsUnaskedOutput) {
    ASSERT_EQ(0u, mGpib->OpenDevice(nullptr, 0, 5, 0));
    std::string response;
    EXPECT_EQ(0u, mGpib->SaveSendGPIB(nullptr, "MEAS?", false, 64, &response));
    EXPECT_EQ("1.25\n", response);
    EXPECT_EQ(0u, mGpib->SaveSendGPIB(nullptr, "MEAS?", false, 3, &response));
    EXPECT_EQ("1.2", response);
    std::string rest;
    EXPECT_EQ(0u, mGpib->ReceiveGPIBString(nullptr, &rest, 100));
    EXPECT_EQ("5\n", rest);
    ClearTrace();
    QueueOutput(0, 5, 0, "EVENT 7\n", 8);
    // The handler reads it on the request.
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return !TraceOf("ibrd").empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(0u, mGpib->SaveSendGPIB(nullptr, "", false, 64, &response));
    EXPECT_EQ("EVENT 7\n", response);
    // Handed out once: the next read waits for new output instead of repeating it.
    mGpib->SetTimeOutMilliseconds(nullptr, 30);
    EXPECT_EQ(GPIBResult::NoServiceRequest, mGpib->SaveSendGPIB(nullptr, "", false, 64, &response));
    EXPECT_TRUE(TraceOf("ibwrt").empty());
}

TEST_F(NI4882MGPIBTest, ARequestMetByTheOpenIsServedOnceTheDeviceIsOpen) {
    // Output left from before, announced to a watch that comes while the driver opens: the device
    // open waits until the watch has handed the request on.
    NI488GPIB earlier(0, 5, 0);
    ASSERT_EQ(0u, earlier.OpenDevice(nullptr, 0, 5, 0));
    ASSERT_EQ(0u, earlier.SendGPIB(nullptr, "*SRE 16"));
    QueueOutput(0, 5, 0, "EARLY\n", 6);
    ASSERT_EQ(0u, earlier.CloseDevice(nullptr));
    HoldOpen(0, 5, 0, 1);
    mGpib->SetClearDevice(false); // a device clear would discard the output
    ClearTrace();
    ASSERT_EQ(0u, mGpib->OpenDevice(nullptr, 0, 5, 0));
    // The device keeps the driver's time-out: the last code it was opened or set with.
    const int handle = mGpib->GetLibrary().GetDeviceHandle();
    int code = -1;
    for (const std::string &line : Trace()) {
        int board = 0, pad = 0, sad = 0, device = 0, value = 0;
        if (std::sscanf(line.c_str(), "ibdev(%d,%d,%d,%d", &board, &pad, &sad, &value) == 4 ||
            (std::sscanf(line.c_str(), "ibtmo(%d,%d", &device, &value) == 2 && device == handle))
            code = value; // the driver's ibdev comes after the watch's
    }
    EXPECT_EQ(mGpib->GetTimeOutCode(), code);
    std::string response;
    EXPECT_EQ(0u, mGpib->SaveSendGPIB(nullptr, "", false, 64, &response));
    EXPECT_EQ("EARLY\n", response);
}

// A driver whose handler takes its time over unasked output (right after it set 10 ms for the
// read) and, once, sends and reads from inside the handler through the status-byte hook.
class HookedGPIB : public NI4882CompliantGPIB {
public:
    using NI4882CompliantGPIB::NI4882CompliantGPIB;
    DWORD CheckLastGPIBError(HostWindow hWnd, DWORD result) override {
        if (SlowUnaskedRead && std::this_thread::get_id() != mCaller && GetTimeOutMilliseconds() == 10 &&
            !InUnaskedRead.exchange(true))
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return NI4882CompliantGPIB::CheckLastGPIBError(hWnd, result);
    }
    DWORD OnSRQStatusByte(unsigned char) override {
        if (ReadInHook && !HookDone) {
            HookResult = SaveSendGPIB(nullptr, HookCommand, false, 64, &HookResponse);
            HookDone = true;
        }
        return 0;
    }
    std::atomic<bool> SlowUnaskedRead{false}, InUnaskedRead{false};
    std::atomic<bool> ReadInHook{false}, HookDone{false};
    std::atomic<DWORD> HookResult{0};
    std::string HookCommand, HookResponse;

private:
    const std::thread::id mCaller = std::this_thread::get_id();
};

TEST_F(NI4882MGPIBTest, ACallDuringTheHandlersOwnReadWaitsThreeOfItsTimeOuts) {
    HookedGPIB driver(0, 5, 0);
    ASSERT_EQ(0u, driver.OpenDevice(nullptr, 0, 5, 0));
    ASSERT_EQ(0u, driver.SendGPIB(nullptr, "*ESE 0"));
    driver.SetTimeOutMilliseconds(nullptr, 100);
    driver.SlowUnaskedRead = true;
    QueueOutput(0, 5, 0, "EVENT 7\n", 8);
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return driver.InUnaskedRead.load(); }, std::chrono::seconds(5)));
    const auto start = std::chrono::steady_clock::now();
    std::string response;
    EXPECT_EQ(GPIBResult::NoServiceRequest, driver.SaveSendGPIB(nullptr, "VOLT 5", true, 0, &response));
    EXPECT_GE(TestSupport::MillisecondsSince(start), 300);
    EXPECT_EQ(100u, driver.GetTimeOutMilliseconds());
    // A close then disables requests after that read, with the driver's time-out again.
    ClearTrace();
    driver.InUnaskedRead = false;
    QueueOutput(0, 5, 0, "EVENT 8\n", 8);
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return driver.InUnaskedRead.load(); }, std::chrono::seconds(5)));
    EXPECT_EQ(0u, driver.CloseDevice(nullptr));
    const std::vector<std::string> trace = Trace();
    const auto disable = std::find_if(trace.begin(), trace.end(), [](const std::string &line) {
        return line.find("*SRE 0") != std::string::npos;
    });
    EXPECT_EQ(1, std::count_if(trace.begin(), disable,
                               [](const std::string &line) { return line.rfind("ibrd(", 0) == 0; }));
}

TEST_F(NI4882MGPIBTest, InsideTheHandlerAReadIsTriedFiveTimesAndKeepsItsError) {
    const struct {
        const char *Command;
        DWORD Result;
        const char *Response;
        size_t Reads; // the handler's own read of the output first
    } cases[] = {{"MEAS?", 0, "1.25\n", 2}, {"", GPIBResult::TimeOut, "", 6}};
    for (const auto &c : cases) {
        HookedGPIB driver(0, 5, 0);
        ASSERT_EQ(0u, driver.OpenDevice(nullptr, 0, 5, 0));
        ClearTrace();
        driver.HookCommand = c.Command;
        driver.ReadInHook = true;
        QueueOutput(0, 5, 0, "X\n", 2);
        ASSERT_TRUE(TestSupport::WaitUntil([&] { return driver.HookDone.load(); }, std::chrono::seconds(5)));
        EXPECT_EQ(c.Result, driver.HookResult.load()) << c.Command;
        EXPECT_EQ(c.Response, driver.HookResponse) << c.Command;
        EXPECT_EQ(c.Reads, TraceOf("ibrd").size()) << c.Command;
    }
}

TEST_F(NI4882MGPIBTest, TheEventStatusIsAskedUpToFiveTimes) {
    const struct {
        int FailedReads;
        DWORD Result;
        size_t Asked;
    } cases[] = {{2, 0, 4}, {5, GPIBResult::NoServiceRequest, 5}};
    for (const auto &c : cases) {
        auto driver = std::make_unique<NI4882CompliantGPIB>(0, 5, 0);
        ASSERT_EQ(0u, driver->OpenDevice(nullptr, 0, 5, 0));
        driver->SetTimeOutMilliseconds(nullptr, 300);
        ClearTrace();
        for (int n = 0; n < c.FailedReads; ++n)
            FailNext("ibrd", NI488::EABO, 0);
        std::string response;
        EXPECT_EQ(c.Result, driver->SaveSendGPIB(nullptr, "VOLT 5", true, 0, &response)) << c.FailedReads;
        // Without an answer the event status counts as 0: no operation complete. Each ask drops the
        // answer that was not read, with a query error: the one answered reports it, and the command
        // is sent again.
        EXPECT_TRUE(TestSupport::WaitUntil([&] { return TraceOf("ibwrt(17,\"*ESR?\"").size() >= c.Asked; },
                                           std::chrono::seconds(5)));
        EXPECT_EQ(c.Asked, TraceOf("ibwrt(17,\"*ESR?\"").size()) << c.FailedReads;
        driver.reset();
        Reset();
        AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
    }
}

TEST_F(NI4882MGPIBTest, QueryErrorsAreResentFiveTimes) {
    ASSERT_EQ(0u, mGpib->OpenDevice(nullptr, 0, 5, 0));
    // The device reports query errors as well, and answers every query with one.
    ASSERT_EQ(0u, mGpib->SendGPIB(nullptr, "*ESE 5"));
    SetQueryError(0, 5, 0, 1);
    std::string response;
    EXPECT_EQ(GPIBResult::QueryError, mGpib->SaveSendGPIB(nullptr, "MEAS?", true, 0, &response));
    const std::string wire = Received(0, 5);
    size_t count = 0;
    for (size_t at = wire.find("MEAS?;*OPC"); at != std::string::npos; at = wire.find("MEAS?;*OPC", at + 1))
        ++count;
    EXPECT_EQ(6u, count) << wire;
}

TEST_F(NI4882MGPIBTest, LibraryErrorsFollowSuccessfulCalls) {
    NI4882MGPIB plain(0, 5, 0);
    ASSERT_EQ(0u, plain.OpenDevice(nullptr, 0, 5, 0));
    // The watch meets a bus error: the next good call reports it, the one after that is clean.
    FailNext("ibwait", NI488::EDMA, 0);
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return PendingFailures() == 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(0x30000210u, plain.SendGPIB(nullptr, "*RST"));
    EXPECT_EQ(0u, plain.SendGPIB(nullptr, "*RST"));
}

TEST_F(NI4882MGPIBTest, DestroyingWhileRequestsArriveWaitsForTheHandler) {
    for (int round = 0; round < 20; ++round) {
        auto driver = std::make_unique<NI4882CompliantGPIB>(0, 5, 0);
        ASSERT_EQ(0u, driver->OpenDevice(nullptr, 0, 5, 0));
        QueueOutput(0, 5, 0, "X\n", 2);
        driver.reset();
        EXPECT_EQ(0, OpenDevices(0, 5, 0));
    }
}

} // namespace
