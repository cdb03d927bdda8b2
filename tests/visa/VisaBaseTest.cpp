// VisaBase through the stand-in VISA library over real loopback sockets and a pseudo-terminal:
// open, transfers, terminations, time-outs, locks, buffers, error texts and the serial operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

#include "core/ResultCodes.h"
#include "visa/VisaBase.h"
#include "visa/VisaTestFixtures.h"

using namespace VisaTest;

namespace {

// An attribute id as the stand-in's trace shows it, and an attribute write: "<id> <value>".
std::string Id(ViAttr attribute) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(attribute));
    return text;
}
std::string Attribute(ViAttr attribute, unsigned value) {
    return Id(attribute) + " " + std::to_string(value);
}

// What the trace shows of some attributes: the writes in order and the ids read.
struct AttributeUse {
    std::vector<std::string> Written;
    std::set<std::string> Read;
};

// With bReadBack each successful write must be followed by a read of the attribute (the
// effective value).
AttributeUse UseOf(const Trace &trace, const std::vector<ViAttr> &attributes, bool bReadBack) {
    std::set<std::string> ids;
    for (ViAttr attribute : attributes)
        ids.insert(Id(attribute));
    AttributeUse use;
    const std::vector<std::string> lines = trace.Lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        std::string library, call, vi, id, value, arrow, status;
        in >> library >> call >> vi >> id >> value >> arrow >> status;
        if (ids.count(id) == 0)
            continue;
        if (call == "viGetAttribute")
            use.Read.insert(id);
        if (call != "viSetAttribute")
            continue;
        use.Written.push_back(id + " " + value);
        if (bReadBack && status == "0x00000000") {
            EXPECT_TRUE(i + 1 < lines.size() &&
                        lines[i + 1].find(" viGetAttribute " + vi + " " + id + " ") != std::string::npos)
                << lines[i] << " is not read back";
        }
    }
    return use;
}

const std::vector<ViAttr> SetterAttributes = {VI_ATTR_TMO_VALUE,       VI_ATTR_TERMCHAR,
                                              VI_ATTR_TERMCHAR_EN,     VI_ATTR_ASRL_END_IN,
                                              VI_ATTR_SUPPRESS_END_EN, VI_ATTR_SEND_END_EN};
const std::vector<ViAttr> EndAttributes = {VI_ATTR_TERMCHAR_EN, VI_ATTR_ASRL_END_IN, VI_ATTR_SUPPRESS_END_EN,
                                           VI_ATTR_SEND_END_EN};

class VisaSessionTest : public ::testing::Test {
protected:
    LibraryFolder mFolder{LibraryFolder::Files{{SystemLibrary, SystemLibrary}}};
    Trace mTrace;
    LoopbackServer mServer;
};

TEST_F(VisaSessionTest, ASocketSessionWritesAndReadsLines) {
    VisaBase session(VisaSystemLibraryOnly);
    session.SetResourceName(SocketResource(mServer));
    ASSERT_EQ(0u, session.SetTermination(true, '\n', true));
    ASSERT_EQ(0u, session.OpenDevice(2000));
    ASSERT_TRUE(mServer.WaitForConnections(1));
    EXPECT_EQ(VisaDeviceSOCKET, session.GetDeviceKind());
    EXPECT_FALSE(session.IsHiSLIP());
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", " 0x3FFF019B 1 -> 0x00000000").size()) << "keep-alive";
    EXPECT_EQ(1u, mTrace.Calls("viUnlock", "-> 0x00000000").size()) << "the open's lock is released";

    EXPECT_EQ(0u, session.Write("MEAS?"));
    EXPECT_EQ(0u, session.Write("MEAS2?\n"));
    EXPECT_TRUE(mServer.WaitForReceived(0, "MEAS?\nMEAS2?\n")) << mServer.Received(0);
    mServer.Send(0, std::string("1.25\n2", 6));
    std::string text;
    EXPECT_EQ(0u, session.Read(100, text));
    EXPECT_EQ("1.25\n", text);
    // A silent device: the rest times out with the bytes that came.
    EXPECT_EQ(0u, session.SetTimeout(100));
    EXPECT_EQ(100u, session.GetTimeout());
    EXPECT_EQ(VisaStatusCode(VI_ERROR_TMO), session.Read(100, text));
    EXPECT_EQ("2", text);
}

TEST_F(VisaSessionTest, WriteReadKeepsWhatEachAttemptReceived) {
    VisaBase session(VisaSystemLibraryOnly);
    session.SetResourceName(SocketResource(mServer));
    session.SetTermination(true, '\n', true);
    session.SetTimeout(50);
    ASSERT_EQ(0u, session.OpenDevice(2000));
    ASSERT_TRUE(mServer.WaitForConnections(1));
    mServer.Send(0, "12");
    mTrace.Clear();
    std::string response;
    EXPECT_EQ(VisaStatusCode(VI_ERROR_TMO), session.WriteRead("READ?", 100, response));
    EXPECT_EQ("12", response);
    EXPECT_EQ(5u, mTrace.Calls("viRead").size());
    EXPECT_TRUE(mServer.WaitForReceived(0, "READ?\n")) << mServer.Received(0);
    // Count 0: only the write.
    mTrace.Clear();
    EXPECT_EQ(0u, session.WriteRead("INIT", 0, response));
    EXPECT_TRUE(mTrace.Calls("viRead").empty());
}

TEST_F(VisaSessionTest, SocketReadsWithTerminationAreCutToTheChunkSize) {
    VisaBase session(VisaSystemLibraryOnly);
    session.SetResourceName(SocketResource(mServer));
    session.SetTermination(true, '\n', true);
    ASSERT_EQ(0u, session.OpenDevice(2000));
    ASSERT_TRUE(mServer.WaitForConnections(1));
    mServer.Send(0, std::string(3000, 'x') + "\n");
    std::string text;
    EXPECT_EQ(0u, session.Read(5000, text));
    EXPECT_EQ(1024u, text.size());
    EXPECT_EQ(1034u, session.GetReadBufferSize());
    session.SetUnchunkedRead(true);
    EXPECT_EQ(0u, session.Read(5000, text));
    EXPECT_EQ(1977u, text.size());
    EXPECT_EQ(5010u, session.GetReadBufferSize());
    EXPECT_EQ(0u, session.Read(0, text));
    EXPECT_TRUE(text.empty());
}

struct KindCase {
    const char *resource; // %u: the listener's port
    const char *unsupported;
    VisaDeviceKind kind;
};

class VisaDeviceKindTest : public VisaSessionTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(VisaDeviceKindTest, TheKindComesFromTheClassOrTheName) {
    TestSupport::ScopedEnv ports("KORVALIS_VISA_INSTR_PORTS", "myscope=" + std::to_string(mServer.Port()));
    TestSupport::ScopedEnv unsupported("KORVALIS_VISA_UNSUPPORTED", GetParam().unsupported);
    VisaBase session(VisaSystemLibraryOnly);
    char name[128];
    std::snprintf(name, sizeof(name), GetParam().resource, mServer.Port());
    session.SetResourceName(name);
    ASSERT_EQ(0u, session.OpenDevice(2000));
    EXPECT_TRUE(mServer.WaitForConnections(1));
    EXPECT_EQ(GetParam().kind, session.GetDeviceKind());
    EXPECT_EQ(VI_INTF_TCPIP, session.GetInterfaceType());
    EXPECT_FALSE(session.IsHiSLIP());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, VisaDeviceKindTest,
    ::testing::Values(KindCase{"TCPIP0::127.0.0.1::%u::SOCKET", "", VisaDeviceSOCKET},
                      KindCase{"TCPIP0::127.0.0.1::%u::SOCKET", "BFFF0001", VisaDeviceSOCKET},
                      KindCase{"TCPIP0::myscope::INSTR", "", VisaDeviceINSTR},
                      KindCase{"TCPIP::myscope::inst0::INSTR", "BFFF0001,3FFF0703", VisaDeviceINSTR}));

TEST_F(VisaSessionTest, AbsentResourcesAndAFailedOpenLeaveNothingOpen) {
    TestSupport::ScopedEnv ports("KORVALIS_VISA_INSTR_PORTS", "myscope=" + std::to_string(mServer.Port()));
    VisaBase session(VisaSystemLibraryOnly);
    for (const char *absent :
         {"TCPIP0::myscope::hislip0::INSTR", "GPIB0::12::INSTR", "TCPIP0::otherhost::INSTR"}) {
        session.SetResourceName(absent);
        EXPECT_EQ(VisaStatusCode(VI_ERROR_RSRC_NFOUND), session.OpenDevice(500)) << absent;
        EXPECT_FALSE(session.IsOpen());
    }
    // The session opens but its set-up fails: it is closed again, and the next open opens anew.
    session.SetResourceName(SocketResource(mServer));
    {
        TestSupport::ScopedEnv unsupported("KORVALIS_VISA_UNSUPPORTED", "3FFF001C");
        mTrace.Clear();
        EXPECT_EQ(VisaStatusCode(VI_ERROR_NSUP_ATTR), session.OpenDevice(2000));
    }
    EXPECT_FALSE(session.IsOpen());
    EXPECT_EQ(1u, mTrace.Calls("viClose").size());
    EXPECT_EQ(0u, session.OpenDevice(2000));
    EXPECT_TRUE(session.IsOpen());
    EXPECT_EQ(2u, mTrace.Calls("viOpen", SocketResource(mServer)).size());
}

TEST_F(VisaSessionTest, AnExclusiveLockKeepsOtherSessionsOut) {
    VisaBase first(VisaSystemLibraryOnly), second(VisaSystemLibraryOnly);
    first.SetResourceName(SocketResource(mServer));
    second.SetResourceName(SocketResource(mServer));
    ASSERT_EQ(0u, first.OpenDevice(2000));
    ASSERT_EQ(0u, second.OpenDevice(2000));
    EXPECT_EQ(0u, first.Lock(1000));
    EXPECT_EQ(0u, first.Lock(1000)) << "nested";
    EXPECT_EQ(VisaStatusCode(VI_ERROR_TMO), second.Lock(50));
    EXPECT_EQ(VisaStatusCode(VI_ERROR_RSRC_LOCKED), second.Write("X"));
    EXPECT_EQ(0u, first.Unlock());
    EXPECT_EQ(0u, first.Unlock());
    EXPECT_EQ(0u, first.Unlock()) << "not locked counts as success";
    EXPECT_EQ(0u, second.Lock(50));
    EXPECT_EQ(0u, second.Unlock());
}

TEST_F(VisaSessionTest, BufferOperationsOnLanSessionsAreMapped) {
    VisaBase session(VisaSystemLibraryOnly);
    session.SetResourceName(SocketResource(mServer));
    ASSERT_EQ(0u, session.OpenDevice(2000));
    mTrace.Clear();
    EXPECT_EQ(0u, session.ClearInputBuffers());
    EXPECT_EQ(0u, session.FlushOutputBuffers());
    EXPECT_EQ(1u, mTrace.Calls("viFlush", "mask=64 -> 0xBFFF003D").size());
    EXPECT_EQ(0u, session.ClearDevice());
    EXPECT_TRUE(mTrace.Calls("viClear").empty()) << "device clear is for GPIB sessions";
    // A closed session does nothing.
    VisaBase closed(VisaSystemLibraryOnly);
    std::string text = "old";
    EXPECT_EQ(0u, closed.Write("X"));
    EXPECT_EQ(0u, closed.Read(10, text));
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(0u, closed.Lock(10));
}

struct SetterStep {
    const char *what;
    std::function<DWORD(VisaBase &)> set;
    std::vector<std::string> written;
    const char *refused = ""; // attributes whose writes the library refuses
};

// On an open socket session each setter reads the attribute first and writes (and reads back) only
// what differs; a refused END suppression counts as done.
TEST_F(VisaSessionTest, SettersWriteAnAttributeOnlyWhenItsValueDiffers) {
    VisaBase session(VisaSystemLibraryOnly);
    session.SetResourceName(SocketResource(mServer));
    ASSERT_EQ(0u, session.OpenDevice(2000));
    const SetterStep steps[] = {
        {"same time-out", [](VisaBase &v) { return v.SetTimeout(10000); }, {}},
        {"new time-out",
         [](VisaBase &v) { return v.SetTimeout(2500); },
         {Attribute(VI_ATTR_TMO_VALUE, 2500)}},
        {"termination in use",
         [](VisaBase &v) { return v.SetTermination(true, '\n', true); },
         {Attribute(VI_ATTR_TERMCHAR_EN, 1)}},
        {"same termination", [](VisaBase &v) { return v.SetTermination(true, '\n', true); }, {}},
        {"new character",
         [](VisaBase &v) { return v.SetTermination(true, '\r', true); },
         {Attribute(VI_ATTR_TERMCHAR, 13)}},
        {"character disabled",
         [](VisaBase &v) { return v.SetTermination(true, '\n', false); },
         {Attribute(VI_ATTR_TERMCHAR_EN, 0), Attribute(VI_ATTR_SUPPRESS_END_EN, 0)}},
        {"not in use",
         [](VisaBase &v) { return v.SetTermination(false, '\n', false); },
         {Attribute(VI_ATTR_SUPPRESS_END_EN, 1)}},
        {"suppression refused",
         [](VisaBase &v) { return v.SetTermination(true, '\n', false); },
         {Attribute(VI_ATTR_SUPPRESS_END_EN, 0)},
         "3FFF0036"},
        {"same END", [](VisaBase &v) { return v.SetEndSettings(true, '\n', true); }, {}},
        {"no END",
         [](VisaBase &v) { return v.SetEndSettings(false, '\r', false); },
         {Attribute(VI_ATTR_SEND_END_EN, 0)}},
        {"END again",
         [](VisaBase &v) { return v.SetEndSettings(true, '\n', true); },
         {Attribute(VI_ATTR_SEND_END_EN, 1)}},
    };
    for (const SetterStep &step : steps) {
        TestSupport::ScopedEnv refused("KORVALIS_VISA_REFUSED", step.refused);
        mTrace.Clear();
        EXPECT_EQ(0u, step.set(session)) << step.what;
        EXPECT_EQ(step.written, UseOf(mTrace, SetterAttributes, true).Written) << step.what;
    }
    EXPECT_EQ(2500u, session.GetTimeout());
}

struct TerminationCase {
    const char *what;
    const char *resource;
    std::vector<std::string> openWritten;  // opened with the termination stored as not in use
    std::vector<std::string> inUseWritten; // then the termination taken into use
    bool bSuppressionTouched;
    const char *unsupported = "";
};

// Which attribute ends reads at the termination (VI_ATTR_ASRL_END_IN on serial sessions,
// VI_ATTR_TERMCHAR_EN on the others), and that HiSLIP sessions leave the END suppression alone.
TEST_F(VisaSessionTest, EachKindOfSessionEndsReadsThroughItsOwnAttributes) {
    PseudoTerminal port{3};
    ASSERT_TRUE(port.IsReady()) << "no pseudo-terminal";
    const std::string listed = "myscope=" + std::to_string(mServer.Port());
    TestSupport::ScopedEnv instr("KORVALIS_VISA_INSTR_PORTS", listed);
    TestSupport::ScopedEnv hislip("KORVALIS_VISA_HISLIP_PORTS", listed);
    const std::string suppress1 = Attribute(VI_ATTR_SUPPRESS_END_EN, 1),
                      suppress0 = Attribute(VI_ATTR_SUPPRESS_END_EN, 0);
    const TerminationCase cases[] = {
        {"socket", "", {suppress1}, {Attribute(VI_ATTR_TERMCHAR_EN, 1)}, true},
        {"VXI-11",
         "TCPIP0::myscope::INSTR",
         {suppress1},
         {Attribute(VI_ATTR_TERMCHAR_EN, 1), suppress0},
         true},
        {"HiSLIP", "TCPIP0::myscope::hislip0::INSTR", {}, {Attribute(VI_ATTR_TERMCHAR_EN, 1)}, false},
        {"HiSLIP by name",
         "TCPIP0::myscope::hislip0::INSTR",
         {},
         {Attribute(VI_ATTR_TERMCHAR_EN, 1)},
         false,
         "3FFF0703"},
        {"serial",
         "ASRL3::INSTR",
         {Attribute(VI_ATTR_ASRL_END_IN, 0), suppress1},
         {Attribute(VI_ATTR_ASRL_END_IN, 2), suppress0},
         true},
    };
    for (const TerminationCase &c : cases) {
        TestSupport::ScopedEnv unsupported("KORVALIS_VISA_UNSUPPORTED", c.unsupported);
        VisaBase session(VisaSystemLibraryOnly);
        session.SetResourceName(*c.resource != 0 ? c.resource : SocketResource(mServer));
        session.SetTermination(false, '\n', true);
        mTrace.Clear();
        ASSERT_EQ(0u, session.OpenDevice(2000)) << c.what;
        const AttributeUse open = UseOf(mTrace, EndAttributes, false);
        EXPECT_EQ(c.openWritten, open.Written) << c.what;
        mTrace.Clear();
        EXPECT_EQ(0u, session.SetTermination(true, '\n', true)) << c.what;
        const AttributeUse inUse = UseOf(mTrace, EndAttributes, true);
        EXPECT_EQ(c.inUseWritten, inUse.Written) << c.what;
        const std::string suppression = Id(VI_ATTR_SUPPRESS_END_EN);
        EXPECT_EQ(c.bSuppressionTouched, open.Read.count(suppression) + inUse.Read.count(suppression) > 0)
            << c.what;
        EXPECT_EQ(1u, open.Read.count(Id(VI_ATTR_SEND_END_EN)))
            << c.what << ": END on writes is read at every open";
    }
}

struct BufferCase {
    const char *what;
    const char *resource;
    std::vector<std::string> buffers; // "mask=<m> size=<n>" of each viSetBuf
    std::vector<std::string> queue;   // the queue length written
    size_t events;                    // serial-character events enabled
    DWORD result;
    const char *refused = "";
};

// The open sizes the buffers, and on serial sessions the event queue before it enables the
// serial-character event; a refused queue length fails the open.
TEST_F(VisaSessionTest, TheOpenSizesBuffersAndTheSerialEventQueue) {
    PseudoTerminal port{3};
    ASSERT_TRUE(port.IsReady()) << "no pseudo-terminal";
    const std::string queue = Attribute(VI_ATTR_MAX_QUEUE_LENGTH, 1024);
    const BufferCase cases[] = {
        {"socket", "", {"mask=3 size=512"}, {}, 0, 0},
        {"serial", "ASRL3::INSTR", {"mask=3 size=512", "mask=48 size=10240"}, {queue}, 1, 0},
        {"serial, queue refused",
         "ASRL3::INSTR",
         {"mask=3 size=512", "mask=48 size=10240"},
         {queue},
         0,
         VisaStatusCode(VI_ERROR_NSUP_ATTR_STATE),
         "3FFF0005"},
    };
    for (const BufferCase &c : cases) {
        TestSupport::ScopedEnv refused("KORVALIS_VISA_REFUSED", c.refused);
        VisaBase session(VisaSystemLibraryOnly);
        session.SetResourceName(*c.resource != 0 ? c.resource : SocketResource(mServer));
        mTrace.Clear();
        EXPECT_EQ(c.result, session.OpenDevice(2000)) << c.what;
        std::vector<std::string> buffers;
        for (const std::string &line : mTrace.Calls("viSetBuf"))
            buffers.push_back(line.substr(line.find("mask="), line.find(" ->") - line.find("mask=")));
        EXPECT_EQ(c.buffers, buffers) << c.what;
        EXPECT_EQ(c.queue, UseOf(mTrace, {VI_ATTR_MAX_QUEUE_LENGTH}, false).Written) << c.what;
        EXPECT_EQ(c.events, mTrace.Calls("viEnableEvent").size()) << c.what;
    }
}

struct TextCase {
    DWORD code;
    bool bLibrary;
    DWORD result;
    const char *text;
};

class VisaErrorTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(VisaErrorTextTest, TextsComeFromTheLayerTheLibraryOrTheFallback) {
    const TextCase &c = GetParam();
    LibraryFolder folder(c.bLibrary ? LibraryFolder::Files{{SystemLibrary, SystemLibrary}}
                                    : LibraryFolder::Files{});
    VisaBase session(VisaPreferSystemLibrary);
    char buffer[300] = "stale";
    uint32_t length = 99;
    EXPECT_EQ(c.result, session.GetErrorString(nullptr, c.code, buffer, sizeof(buffer), &length));
    EXPECT_STREQ(c.text, buffer);
    EXPECT_EQ(std::strlen(c.text), length);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, VisaErrorTextTest,
    ::testing::Values(
        TextCase{0x300002E4, false, 0, "The response of a TCPIP controlled device is larger than expected."},
        TextCase{0x300002E5, true, 0,
                 "Could not find VISA32.DLL. Is VISA installed? (Here the file libvisa32.so, looked for in "
                 "the folders of KORVALIS_LIBRARY_PATH, then by the dynamic loader.)"},
        TextCase{0xBFFF003E, true, 0, "Could not perform operation because of I/O error."},
        TextCase{0xBFFF0037, true, 0, "Device reported an input protocol error during transfer."},
        TextCase{0xBFFF00A7, true, 0, "Machine not available"}, TextCase{0xBFFF0099, true, 0, ""},
        TextCase{0xBFFF0015, false, 0, "Timeout expired before operation completed."},
        TextCase{0xBFFF003E, false, ResultCode::VisaLibraryNotFound, ""}));

TEST(VisaErrorTextTest, AShortBufferGetsWhatFits) {
    LibraryFolder folder;
    VisaBase session(VisaPreferMakerLibrary);
    char buffer[5];
    uint32_t length = 0;
    EXPECT_EQ(0u, session.GetErrorString(nullptr, 0xBFFF0015, buffer, sizeof(buffer), &length));
    EXPECT_STREQ("Time", buffer);
    EXPECT_EQ(4u, length);
    EXPECT_EQ(0u, session.GetErrorString(nullptr, 0xBFFF0015, nullptr, 0, nullptr));
}

// ---- Serial sessions over a pseudo-terminal --------------------------------------------------------

class VisaSerialTest : public VisaSessionTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(mPort.IsReady()) << "no pseudo-terminal";
        mSession.SetResourceName("ASRL3::INSTR");
        mSession.SetTermination(true, '\n', true);
        ASSERT_EQ(0u, mSession.OpenDevice(2000));
    }
    PseudoTerminal mPort{3};
    VisaBase mSession{VisaPreferMakerLibrary};
};

TEST_F(VisaSerialTest, TheLineSettingsReachThePort) {
    EXPECT_EQ(VisaDeviceASRL, mSession.GetDeviceKind());
    EXPECT_EQ(1u, mTrace.Calls("viEnableEvent").size());
    EXPECT_EQ(0u, mSession.ConfigureSerialPort(19200, 2, 7, 2, true, true));
    termios t = mPort.Attributes();
    EXPECT_EQ(static_cast<speed_t>(B19200), cfgetospeed(&t));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    // A pseudo-terminal keeps eight bits without parity: those two are seen in the trace.
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", " 0x3FFF0022 7 -> 0x00000000").size());
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", " 0x3FFF0023 2 -> 0x00000000").size());
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", " 0x3FFF00B2 1 -> 0x00000000").size()) << "DTR";
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", " 0x3FFF00C0 1 -> 0x00000000").size()) << "RTS";
    // Out-of-range values fall back; flow control already in place is only read.
    mTrace.Clear();
    EXPECT_EQ(0u, mSession.ConfigureSerialPort(9600, 5, 9, 3, false, true));
    t = mPort.Attributes();
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", " 0x3FFF0022 8 -> 0x00000000").size());
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", " 0x3FFF0023 0 -> 0x00000000").size());
    EXPECT_TRUE(mTrace.Calls("viSetAttribute", " 0x3FFF0025 ").empty());
    EXPECT_TRUE(mTrace.Calls("viSetAttribute", " 0x3FFF00B2 ").empty());
}

TEST_F(VisaSerialTest, ARefusedParityStopsTheSetUp) {
    TestSupport::ScopedEnv refused("KORVALIS_VISA_REFUSED", "3FFF0023");
    mTrace.Clear();
    EXPECT_EQ(VisaParityRefused, mSession.ConfigureSerialPort(4800, 1, 8, 0, true, false));
    EXPECT_EQ(1u, mTrace.Calls("viSetAttribute", " 0x3FFF0021 4800 -> 0x00000000").size());
    EXPECT_TRUE(mTrace.With("0x3FFF0022").empty());
    termios t = mPort.Attributes();
    EXPECT_EQ(static_cast<speed_t>(B4800), cfgetospeed(&t));
}

TEST_F(VisaSerialTest, LinesTravelBothWays) {
    EXPECT_EQ(0u, mSession.Write("IDN?"));
    EXPECT_EQ("IDN?\n", ReceiveFrom(mPort.Master(), "\n"));
    uint32_t available = 99;
    EXPECT_EQ(VisaStatusCode(VI_ERROR_TMO), mSession.WaitForSerialInput(50, available));
    EXPECT_EQ(0u, available);
    SendTo(mPort.Master(), "OK\nrest");
    EXPECT_EQ(0u, mSession.WaitForSerialInput(2000, available));
    EXPECT_GT(available, 0u);
    std::string text;
    EXPECT_EQ(0u, mSession.Read(100, text));
    EXPECT_EQ("OK\n", text);
    // Without the termination a read ends at the count.
    EXPECT_EQ(0u, mSession.SetTermination(false, '\n', true));
    EXPECT_EQ(0u, mSession.Read(4, text));
    EXPECT_EQ("rest", text);
}

TEST_F(VisaSessionTest, SerialOperationsIgnoreOtherSessions) {
    VisaBase session(VisaSystemLibraryOnly);
    session.SetResourceName(SocketResource(mServer));
    ASSERT_EQ(0u, session.OpenDevice(2000));
    uint32_t available = 7;
    EXPECT_EQ(0u, session.ConfigureSerialPort(9600, 0, 8, 0, true, false));
    EXPECT_EQ(0u, session.SetRTSState(true));
    EXPECT_EQ(0u, session.WaitForSerialInput(10, available));
    EXPECT_EQ(0u, available);
    EXPECT_TRUE(mTrace.With("0x3FFF0021").empty());
}

} // namespace
