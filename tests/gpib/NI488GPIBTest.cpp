// NI488GPIB against the GPIB stand-in: the open sequence on the bus, time-out codes, the iberr
// mapping, reads, the status byte and error queue, error texts, the configuration cache, the bus
// lock and the bus delay.
#include "gpib/NI488GPIB.h"

#include <chrono>
#include <cstring>
#include <filesystem>

#include "core/DriverRecords.h"
#include "gpib/GPIBResultCodes.h"
#include "gpib/GpibStandIns.h"
#include "logging/RecordTable.h"
#include "support/TestSupport.h"

namespace {

class NI488GPIBTest : public GpibStandInTest {
protected:
    void SetUp() override {
        GpibStandInTest::SetUp();
        AddInstrument(0, 5, 0, "ACME,DMM,1,2");
        AddInstrument(0, 6, 96, "ACME,SWITCH,3,4");
    }
    NI488GPIB mGpib{0, 5, 0};
};

TEST_F(NI488GPIBTest, OpenAndCloseIssueTheCallsInOrder) {
    mGpib.SetEndOfString('\n', eeosmEightBitCompare | eeosmTerminateReadOnEOS);
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    const std::vector<std::string> open = {
        "ibfindW(GPIB0)", "ibconfig(0,7,0)",   "ibask(0,1)",       "ibdev(0,5,0,13,1,0x140A)",
        "ibonl(16,1)",    "iblck(16,1,10000)", "ibconfig(16,6,1)", "ibclr(16)",
        "iblck(16,0,0)",  "ibcmd(0,11)"};
    EXPECT_EQ(open, Trace());
    ClearTrace();
    EXPECT_EQ(0u, mGpib.CloseDevice(nullptr));
    EXPECT_EQ((std::vector<std::string>{"ibloc(16)", "ibonl(16,0)"}), Trace());
    EXPECT_FALSE(mGpib.IsDeviceOpen());
    // Without Clear and Readdress: no ibclr, IbcREADDR 0.
    mGpib.SetClearDevice(false);
    mGpib.SetReaddress(false);
    ClearTrace();
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    EXPECT_TRUE(TraceOf("ibclr").empty());
    EXPECT_EQ(std::vector<std::string>{"ibconfig(17,6,0)"}, TraceOf("ibconfig(17"));
}

TEST_F(NI488GPIBTest, OpenFailuresCloseTheDevice) {
    SetBoard(0, 1, 5);
    EXPECT_EQ(GPIBResult::DeviceAtBoardAddress, mGpib.OpenDevice(nullptr, 0, 5, 0));
    // Addresses that no device has are refused before the library is asked.
    EXPECT_EQ(GPIBResult::Argument, mGpib.OpenDevice(nullptr, 0, 31, 0));
    EXPECT_EQ(GPIBResult::Argument, mGpib.OpenDevice(nullptr, 0, 6, 95));
    EXPECT_TRUE(TraceOf("ibdev").empty());
    EXPECT_EQ(GPIBResult::BoardOutOfRange, mGpib.OpenDevice(nullptr, 4, 5, 0));
    SetBoard(0, 1, 0);
    SetBoard(1, 0, 0);
    EXPECT_EQ(GPIBResult::NoBoardHandle, mGpib.OpenDevice(nullptr, 1, 5, 0));
    // Someone else holds the instrument's lock longer than the time-out.
    HoldLock(0, 5, 0, 1);
    mGpib.SetTimeOutMilliseconds(nullptr, 100);
    ClearTrace();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GPIBResult::Locked, mGpib.OpenDevice(nullptr, 0, 5, 0));
    EXPECT_GE(TestSupport::MillisecondsSince(start), 100);
    EXPECT_EQ(std::vector<std::string>{"iblck(16,1,100)"}, TraceOf("iblck"));
    EXPECT_EQ(std::vector<std::string>{"ibonl(16,0)"}, TraceOf("ibonl(16,0"));
    EXPECT_FALSE(mGpib.IsDeviceOpen());
}

TEST_F(NI488GPIBTest, ABoardOpensWithoutADeviceAndSetsHS488) {
    ASSERT_EQ(0u, mGpib.OpenBoard(nullptr, 0));
    EXPECT_EQ(0, mGpib.GetLibrary().GetBoardHandle());
    EXPECT_FALSE(mGpib.IsDeviceOpen());
    EXPECT_EQ(0u, mGpib.EnableHS488(nullptr));
    EXPECT_EQ(0u, mGpib.DisableHS488(nullptr));
    EXPECT_EQ((std::vector<std::string>{"ibfindW(GPIB0)", "ibconfig(0,7,0)", "ibconfig(0,31,5)",
                                        "ibconfig(0,31,0)"}),
              Trace());
    // A board that is missing or out of range leaves no board handle.
    SetBoard(1, 0, 0);
    EXPECT_EQ(GPIBResult::NoBoardHandle, mGpib.OpenBoard(nullptr, 1));
    EXPECT_EQ(-1, mGpib.GetLibrary().GetBoardHandle());
    EXPECT_EQ(GPIBResult::BoardOutOfRange, mGpib.OpenBoard(nullptr, 4));
    // An open device is closed first.
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    ClearTrace();
    ASSERT_EQ(0u, mGpib.OpenBoard(nullptr, 0));
    EXPECT_FALSE(mGpib.IsDeviceOpen());
    EXPECT_EQ(std::vector<std::string>{"ibonl(16,0)"}, TraceOf("ibonl"));
}

TEST_F(NI488GPIBTest, FailuresAreLoggedWithTheirTexts) {
    DriverRecords records;
    SetBoard(0, 1, 5);
    EXPECT_EQ(GPIBResult::DeviceAtBoardAddress, mGpib.OpenDevice(nullptr, 0, 5, 0));
    const std::vector<std::string> atBoardAddress = {
        "B OpenDevice Note",
        "B CheckNI4882MVersion Note",
        "B HasAgilent488EnabledMode Note",
        "E HasAgilent488EnabledMode Complete | Err=0x00000000",
        "N CheckNI4882MVersion Note | Not in Agilent GPIB mode, using National Instruments GPIB instead.",
        "N CheckNI4882MVersion Note | NI key not found. National Instruments is probably not installed. "
        "Software may continue with Agilent IO software.",
        "E CheckNI4882MVersion Complete | CheckNI4882MVersion. Used NI 488.2M library version is. | "
        "Err=0x00000000",
        "B LoadGPIB32DLLs Note | Load GPIB32 DLL's",
        "E LoadGPIB32DLLs Complete",
        "B LoadGPIBSRQDLL Note",
        "E LoadGPIBSRQDLL Complete | Err=0x00000000",
        "B FindBoard Note | FindBoard(0)",
        "E FindBoard Complete",
        "B ConfigBoardGPIB Note | ConfigBoardGPIB(7, 0)",
        "E ConfigBoardGPIB Complete | Err=0x00000000",
        "B AskConfigBoardGPIB Note | AskConfigBoardGPIB(1)",
        "E AskConfigBoardGPIB Complete | Err=0x00000000",
        "E OpenDevice Error | Err=0x30000235"};
    EXPECT_EQ(atBoardAddress, RecordTable::Rows(records.Take(), GPIBLogModule));

    SetBoard(0, 1, 0);
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    records.Take();
    FailNext("ibwrt", NI488::ENOL, 0);
    std::string reply;
    EXPECT_EQ(0x3000020Au, mGpib.GetIdentificationString(nullptr, &reply));
    EXPECT_EQ(GPIBResult::TimeOut, mGpib.ReceiveGPIBString(nullptr, &reply, 100));
    const std::vector<std::string> transfers = {
        "B SendGPIB Note | SendGPIB(\"*IDN?\")",
        "N ConvertGPIBErrorCode Error | SendGPIB(\"*IDN?\") | Err=0x3000020A",
        "E SendGPIB Error | Err=0x3000020A",
        "N GetIdentificationString Error | Something went wrong sending the get identification request | "
        "Err=0x3000020A",
        "B ReceiveGPIB Note | ReceiveGPIB(<buffer>, 100)",
        "N ConvertGPIBErrorCode Error | ReceiveGPIB(<buffer>, 100) | Err=0x3000020E",
        "E ReceiveGPIB Error | Err=0x3000020E"};
    EXPECT_EQ(transfers, RecordTable::Rows(records.Take(), GPIBLogModule));
}

TEST_F(NI488GPIBTest, MillisecondsBecomeTimeOutCodes) {
    const struct {
        unsigned int Milliseconds;
        int Code;
        unsigned int Effective;
    } cases[] = {{0, 5, 1},
                 {1, 5, 1},
                 {10, 7, 10},
                 {11, 8, 30},
                 {2500, 12, 3000},
                 {10000, 13, 10000},
                 {1000000, 17, 1000000},
                 {1000001, 13, 10000}};
    for (const auto &c : cases) {
        EXPECT_EQ(0u, mGpib.SetTimeOutMilliseconds(nullptr, c.Milliseconds));
        EXPECT_EQ(c.Code, mGpib.GetTimeOutCode()) << c.Milliseconds;
        EXPECT_EQ(c.Effective, mGpib.GetTimeOutMilliseconds()) << c.Milliseconds;
    }
    for (int code : {0, 18, -1}) {
        mGpib.SetTimeOutCode(nullptr, code);
        EXPECT_EQ(13, mGpib.GetTimeOutCode());
        EXPECT_EQ(10000u, mGpib.GetTimeOutMilliseconds());
    }
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    ClearTrace();
    mGpib.SetTimeOutMilliseconds(nullptr, 250);
    EXPECT_EQ(std::vector<std::string>{"ibtmo(16,10)"}, Trace());
}

TEST_F(NI488GPIBTest, IberrBecomesResultCodes) {
    const struct {
        int Iberr;
        long Ibcntl;
        DWORD Result;
    } cases[] = {{0, 0xE1080080, 0x3000023B}, {0, 0xE1080081, 0x3000023B}, {0, 0xE1060071, 0x3000023C},
                 {0, 0xE1060075, 0x3000023D}, {0, 0xE1060078, 0x3000023E}, {0, 0xE1060077, 0x3000023F},
                 {0, 0xE1080086, 0x30000240}, {0, 0xE00A0047, 0x30000241}, {0, 1, 0x30000208},
                 {1, 0, 0x30000209},          {2, 0, 0x3000020A},          {3, 0, 0x3000020B},
                 {4, 0, 0x3000020C},          {5, 0, 0x3000020D},          {6, 0, 0x3000020E},
                 {7, 0, 0x3000020F},          {8, 0, 0x30000210},          {9, 0, 0x300001F7},
                 {10, 0, 0x30000211},         {11, 0, 0x30000212},         {12, 0, 0x30000213},
                 {13, 0, 0x300001F7},         {14, 0, 0x30000214},         {15, 0, 0x30000215},
                 {16, 0, 0x30000216},         {17, 0, 0x300001F7},         {19, 0, 0x300001F7},
                 {20, 0, 0x30000217},         {21, 0, 0x30000230},         {22, 0, 0x30000231},
                 {23, 0, 0x30000232},         {24, 0, 0x300001F7},         {25, 0, 0x300001F7},
                 {26, 0, 0x30000233},         {27, 0, 0x30000234},         {28, 0, 0x30000236},
                 {29, 0, 0x300001F7}};
    for (const auto &c : cases)
        EXPECT_EQ(c.Result, mGpib.GetLibrary().ConvertGPIBErrorCode(nullptr, c.Iberr, c.Ibcntl, true, "test"))
            << c.Iberr << " " << c.Ibcntl;
    // Through the bus: a write that times out.
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    FailNext("ibwrt", 6, 0);
    EXPECT_EQ(GPIBResult::TimeOut, mGpib.SendGPIB(nullptr, "*RST"));
}

TEST_F(NI488GPIBTest, ReadsKeepTheirBytesAndTimeOut) {
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    std::string reply;
    EXPECT_EQ(0u, mGpib.GetIdentificationString(nullptr, &reply));
    EXPECT_EQ("ACME,DMM,1,2\n", reply);
    EXPECT_EQ("*IDN?", Received(0, 5));
    const char binary[] = {'#', '3', '\0', 'A', '\0'};
    QueueOutput(0, 5, 0, binary, 5);
    EXPECT_EQ(0u, mGpib.ReceiveGPIBString(nullptr, &reply, 3));
    EXPECT_EQ(std::string("#3\0", 3), reply);
    EXPECT_EQ(0u, mGpib.ReceiveGPIBString(nullptr, &reply, 100));
    EXPECT_EQ(std::string("A\0", 2), reply);
    EXPECT_TRUE(mGpib.GetLibrary().LastReadEnded());
    EXPECT_EQ(GPIBResult::TimeOut, mGpib.ReceiveGPIBString(nullptr, &reply, 100));
    EXPECT_EQ("", reply);
    EXPECT_EQ(GPIBResult::Argument, mGpib.ReceiveGPIBString(nullptr, &reply, -1));
    EXPECT_EQ(GPIBResult::Argument, mGpib.ReceiveGPIBString(nullptr, nullptr, 10));
}

TEST_F(NI488GPIBTest, StatusByteAndErrorQueue) {
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    EXPECT_EQ(0u, mGpib.QueryDeviceStatus(nullptr, 0));
    EXPECT_EQ(0x30000005u, mGpib.QueryDeviceStatus(nullptr, 0x30000005));
    PushError(0, 5, 0, "-222,\"Data out of range\"");
    PushError(0, 5, 0, "-113,\"Undefined header\"");
    EXPECT_EQ(GPIBResult::SpecificSystemError, mGpib.QueryDeviceStatus(nullptr, 0));
    EXPECT_EQ("-222,\"Data out of range\"\n", mGpib.GetSpecificSystemError());
    char text[200];
    uint32_t length = 0;
    mGpib.GetErrorString(nullptr, GPIBResult::SpecificSystemError, text, sizeof text, &length);
    EXPECT_STREQ("Specific System Error: -222,\"Data out of range\"\n", text);
    EXPECT_EQ(0u, mGpib.DrainDeviceErrors(nullptr));
    EXPECT_EQ("-113,\"Undefined header\"\n", mGpib.GetSpecificSystemError());
    EXPECT_EQ(0u, mGpib.QueryDeviceStatus(nullptr, 0));
}

TEST_F(NI488GPIBTest, ErrorTextsNameTheAddress) {
    StandIns::LanguageLibraryPresent language;
    char text[200];
    uint32_t length = 99;
    mGpib.GetErrorString(nullptr, GPIBResult::TimeOut, text, sizeof text, &length);
    EXPECT_STREQ("board 0, address 5: GPIB time-out: the device did not answer in time.", text);
    EXPECT_EQ(std::strlen(text), length);
    NI488GPIB secondary(0, 6, 96);
    secondary.GetErrorString(nullptr, GPIBResult::GPIB32NotLoaded, text, sizeof text, &length);
    EXPECT_STREQ(
        "board 0, address 6, secondary address 96: GPIB-32.DLL could not be loaded. Is a GPIB library "
        "installed?",
        text);
    // Codes below the framework's range: the buffer is emptied, nothing else.
    mGpib.GetErrorString(nullptr, 5, text, sizeof text, &length);
    EXPECT_STREQ("", text);
    EXPECT_EQ(0u, length);
    // Size 0 writes nothing; a short buffer is cut.
    text[0] = 'x';
    mGpib.GetErrorString(nullptr, GPIBResult::TimeOut, text, 0, &length);
    EXPECT_EQ('x', text[0]);
    mGpib.GetErrorString(nullptr, GPIBResult::TimeOut, text, 6, &length);
    EXPECT_STREQ("board", text);
}

TEST_F(NI488GPIBTest, ConfigurationCacheFollowsTheDeviceHandle) {
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    ClearTrace();
    EXPECT_EQ(0u, mGpib.ConfigDeviceGPIB(nullptr, NI488::IbcEOSrd, 1));
    EXPECT_EQ(0u, mGpib.ConfigDeviceGPIB(nullptr, NI488::IbcEOSrd, 1));
    EXPECT_EQ(0u, mGpib.ConfigDeviceGPIB(nullptr, 35, 1));
    EXPECT_EQ(std::vector<std::string>{"ibconfig(16,12,1)"}, Trace());
    // A reopened device has its settings again (a skipped EOS setting would cut binary reads).
    mGpib.CloseDevice(nullptr);
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    ClearTrace();
    EXPECT_EQ(0u, mGpib.ConfigDeviceGPIB(nullptr, NI488::IbcEOSrd, 1));
    EXPECT_EQ(std::vector<std::string>{"ibconfig(17,12,1)"}, Trace());
}

// Our GPIBSRQ.DLL takes turns; one without the turn calls gets the wait after the last access.
TEST_F(NI488GPIBTest, BusDelayHoldsAcrossDriverObjects) {
    const std::string standIns = StandIns::Directory();
    const TestSupport::TempDir hidden;
    std::filesystem::create_symlink(standIns + "/libgpib-32.so", hidden.File("libgpib-32.so"));
    std::filesystem::create_symlink(standIns + "/libgpibsrq-notiming.so", hidden.File("libgpibsrq.so"));
    for (const bool turns : {true, false}) {
        SCOPED_TRACE(turns ? "our library" : "turn calls hidden");
        const TestSupport::ScopedEnv path("KORVALIS_LIBRARY_PATH", turns ? GpibLibraryPath() : hidden.Path());
        NI488GPIB first(0, 5, 0);
        NI488GPIB other(0, 6, 96);
        first.SetWait(2000);
        ASSERT_EQ(0u, first.OpenDevice(nullptr, 0, 5, 0));
        ASSERT_EQ(0u, other.OpenDevice(nullptr, 0, 6, 96));
        for (int round = 0; round < 3; ++round) {
            ASSERT_EQ(0u, first.SendGPIB(nullptr, "A"));
            const auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(0u, other.SendGPIB(nullptr, "B"));
            EXPECT_GE(TestSupport::MillisecondsSince(start), 1.9);
        }
        EXPECT_EQ(2000u, first.GetWait());
    }
}

TEST_F(NI488GPIBTest, SendWithOperationCompleteQueriesIt) {
    ASSERT_EQ(0u, mGpib.OpenDevice(nullptr, 0, 5, 0));
    SetReply(0, 5, 0, "MEAS?", "1.5");
    std::string response;
    EXPECT_EQ(0u, mGpib.SaveSendGPIB(nullptr, "VOLT 5", true, 0, &response));
    EXPECT_EQ(0u, mGpib.SaveSendGPIB(nullptr, "MEAS?", false, 64, &response));
    EXPECT_EQ("1.5\n", response);
    EXPECT_EQ("VOLT 5;*OPC?MEAS?", Received(0, 5));
}

} // namespace
