// The HTTP stream against a loopback web server of the tests' own, driven through a driver's stream
// client: the request bytes on the wire, one connection per request, the first body line as the
// answer, the completeness rules of a response, and the codes, deadline and bound of a faulty one.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <tuple>

#include "LoopbackServer.h"
#include "StreamClientFixture.h"
#include "StreamTestEnvironment.h"
#include "core/ProgramSettingsDatabase.h"
#include "platform/Cancel.h"
#include "platform/Clock.h"
#include "streams/DeviceStreamClient.h"
#include "streams/etherds/HTTPDeviceStream.h"
#include "support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

// Answers each request (on its own connection, in order) with the next response and then closes
// the connection, as a web server without keep-alive does, or resets it, leaves it open, or sends
// 64 MB more and leaves it open. A response's parts apart by Later go out 200 ms apart.
class WebServer {
public:
    static constexpr char Later = '\x01';
    enum class Ending { Close, Reset, Stall, Flood };
    explicit WebServer(std::vector<std::string> responses, Ending ending = Ending::Close, uint16_t port = 0)
        : mServer("\n", port), mResponses(std::move(responses)) {
        mThread = std::thread([this, ending] {
            for (size_t n = 0; n < mResponses.size() && !mStop; ++n) {
                while (!mStop && (mServer.ConnectionCount() <= n ||
                                  mServer.Received(n).find("\r\n\r\n") == std::string::npos))
                    std::this_thread::sleep_for(2ms);
                for (size_t begin = 0, end = 0; end != std::string::npos; begin = end + 1) {
                    end = mResponses[n].find(Later, begin);
                    if (begin != 0)
                        std::this_thread::sleep_for(200ms);
                    mServer.Send(n, mResponses[n].substr(begin, end - begin));
                }
                for (int block = 0; ending == Ending::Flood && block < 1024 && !mStop; ++block)
                    mServer.Send(n, std::string(1 << 16, '0'));
                if (ending == Ending::Close)
                    mServer.Close(n);
                else if (ending == Ending::Reset)
                    mServer.Reset(n);
            }
        });
    }
    ~WebServer() {
        mStop = true;
        mThread.join();
    }
    std::string Address() const { return mServer.Address(); }
    LoopbackServer &Server() { return mServer; }

private:
    LoopbackServer mServer;
    std::vector<std::string> mResponses;
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

// A driver's client connected to the server named by the host's settings; junk time-outs are
// refused.
class HTTPStreamTest : public ::testing::Test {
protected:
    DWORD Connect(const std::string &address, double dTimeout = 2.0) {
        mClient.GetConfigurationManager().SetSupportedStreams("HTTP");
        SettingsFile file("[Stream Config]\nSelected=HTTP\n[Stream Config.HTTP]\nAddress=" + address + "\n");
        const DWORD result =
            file.With([&](auto &database) { return mClient.LoadProgramSettings(nullptr, database); });
        mClient.SetTimeout(nullptr, dTimeout);
        const DWORD connected = result != 0 ? result : mClient.ConnectStream(nullptr, false);
        for (const double junk : {std::nan(""), -1.0})
            EXPECT_EQ(StreamResult::CouldNotSetValue, mClient.SetTimeout(nullptr, junk)) << junk;
        return connected;
    }
    const HTTPDeviceStream &Stream() {
        return *DeviceStreamBaseDecorator::FindStreamOfType<HTTPDeviceStream>(mClient.GetEmbeddedStream());
    }
    void TearDown() override { mClient.DisconnectStream(nullptr); }

    DeviceStreamClientWithStream mClient{""};
};

const char *const Hello = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

TEST_F(HTTPStreamTest, EachCommandIsOneGetRequestOnItsOwnConnection) {
    const std::pair<const char *, const char *> cases[] = {
        {"status", "GET /status HTTP/1.1\r\n\r\n"},
        {"/a/b \n", "GET /a/b HTTP/1.1\r\n\r\n"},
        {"", "GET / HTTP/1.1\r\n\r\n"},
        {"/set?v=1 2\tx\r\ny", "GET /set?v=1%202%09x%0D%0Ay HTTP/1.1\r\n\r\n"},
        {"/m\xC3\xA4ss", "GET /m\xC3\xA4ss HTTP/1.1\r\n\r\n"},
    };
    WebServer web(std::vector<std::string>(std::size(cases), Hello));
    ASSERT_EQ(0u, Connect(web.Address()));
    for (size_t n = 0; n < std::size(cases); ++n) {
        EXPECT_EQ(0u, mClient.Write(nullptr, cases[n].first, false)) << n;
        EXPECT_TRUE(web.Server().WaitForReceived(n, cases[n].second))
            << n << ": " << web.Server().Received(n);
        std::string body;
        EXPECT_EQ(0u, mClient.Read(nullptr, body, 100));
        EXPECT_EQ("hello", body);
    }
    EXPECT_EQ(std::size(cases), web.Server().ConnectionCount());
}

TEST_F(HTTPStreamTest, ReadGivesTheFirstBodyLineOnce) {
    WebServer web(
        {Hello, "HTTP/1.0 200 OK\nServer: x\n\n12.5 dBm\nsecond line\n", "HTTP/1.1 204 No Content\r\n\r\n"});
    ASSERT_EQ(0u, Connect(web.Address()));
    const std::pair<const char *, const char *> answers[] = {{"a", "hello"}, {"b", "12.5 dBm"}, {"c", ""}};
    for (const auto &[path, body] : answers) {
        const uint64_t t0 = Platform::MonotonicMicroseconds();
        EXPECT_EQ(0u, mClient.Write(nullptr, path, false));
        // The server's close ends the request, not the time-out.
        EXPECT_LT((Platform::MonotonicMicroseconds() - t0) / 1e6, 1.0) << path;
        std::string response = "old";
        EXPECT_EQ(0u, mClient.Read(nullptr, response, 1));
        EXPECT_EQ(body, response);
        EXPECT_EQ(StreamResult::HttpAllDataRead, mClient.Read(nullptr, response, 1));
        EXPECT_EQ("", response);
    }
}

TEST_F(HTTPStreamTest, WriteReadGivesTheBody) {
    WebServer web({"HTTP/1.1 200 OK\r\ncontent-length:4\r\n\r\n42.0"});
    ASSERT_EQ(0u, Connect(web.Address()));
    std::string response;
    DWORD count = 100;
    EXPECT_EQ(0u, mClient.WriteReadUntilAnswer(nullptr, "/value", response, count, 0));
    EXPECT_EQ("42.0", response);
}

// A body shorter than its length or its chunks, an error status, a length of any size, chunks
// (also endless, longer than their size or with a size that is no number), a coding or length
// that cannot be read, interim responses, a body at and past the bound, a server that never stops
// sending, and responses without a body (204, 304) on a connection the server closes or keeps,
// some with the body apart from the header: the exchange ends within its time-out (at once where
// the response ends with its header or is refused) with the response's code and keeps at most the
// bounded body; Read gives the first body line unless the body was cut or not read.
TEST_F(HTTPStreamTest, AResponseAnswersItsBodyOrItsCodeWithinTheTimeOut) {
    using E = WebServer::Ending;
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const std::string cut = ok + "Content-Length: 11\r\n\r\n+1.2";
    const std::string length = ok + "Content-Length: ";
    const std::string chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
    const std::string bound(HTTPDeviceStream::ResponseLimit, '7');
    const std::string notModified = "HTTP/1.1 304 Not Modified\r\nContent-Length: 120\r\n\r\n";
    const char later = WebServer::Later;
    const struct {
        const char *Case;
        std::string Response;
        E Ending;
        DWORD Code;
        std::string Body;
        bool AtOnce = false; // the answer comes well before the time-out
    } cases[] = {
        {"a cut body, closed", cut, E::Close, 0x300002D5, ""},
        {"a cut body, kept open", cut, E::Stall, 0x300002D5, ""},
        {"a cut body, reset", cut, E::Reset, 0x300002D5, ""},
        {"status 500 with a length",
         "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 15\r\n\r\n42 broken probe", E::Close,
         0x300002DA, "42 broken probe"},
        {"status 404 without a length", "HTTP/1.1 404 Not Found\r\n\r\nno such path\n", E::Close, 0x300002DA,
         "no such path"},
        {"a length of 30000 digits", length + std::string(30000, '9') + "\r\n\r\n+1.2\n", E::Close, 0,
         "+1.2"},
        {"a length of a million digits", length + std::string(1000000, '9') + "\r\n\r\n+1.2\n", E::Stall, 0,
         "+1.2"},
        {"a length beyond 64 bits", length + "99999999999999999999999\r\n\r\n" + later + "+1.2\n", E::Close,
         0, "+1.2"},
        {"chunks apart", chunked + later + "b\r\n+1.2" + later + "50E+01\n\r\n0\r\n\r\n", E::Stall, 0,
         "+1.250E+01"},
        {"chunks with an extension and a trailer",
         chunked + "5;x=1\r\n+1.25\r\n6\r\n0E+01\n\r\n0\r\nVia: x\r\n\r\n", E::Stall, 0, "+1.250E+01"},
        {"no last chunk, closed", chunked + "b\r\n+1.250E+01\n\r\n", E::Close, 0x300002D5, ""},
        {"a chunk size that is no number", chunked + "z\r\n+1.250E+01\n\r\n0\r\n\r\n", E::Stall, 0x300002DB,
         ""},
        {"a chunk size with junk after it", chunked + "4z\r\n+1.2\r\n0\r\n\r\n", E::Stall, 0x300002DB, "",
         true},
        {"a chunk longer than its size", chunked + "3\r\n+1.25\r\n0\r\n\r\n", E::Stall, 0x300002DB, "", true},
        {"an endless chunk size line", chunked, E::Flood, 0x300002DB, "", true},
        {"an endless chunk of size FFFFFFFFFF", chunked + "FFFFFFFFFF\r\n", E::Flood, 0x300002DC, "", true},
        {"gzip, chunked", ok + "Transfer-Encoding: gzip, chunked\r\n\r\nb\r\n+1.250E+01\n\r\n0\r\n\r\n",
         E::Stall, 0x300002DB, ""},
        {"two lengths that differ", ok + "Content-Length: 3\r\nContent-Length: 11\r\n\r\n+1.250E+01\n",
         E::Stall, 0x300002DB, ""},
        {"a list of lengths that differ", length + "3, 11\r\n\r\n+1.250E+01\n", E::Stall, 0x300002DB, ""},
        {"a length that is no number", length + "3abc\r\n\r\n+1.250E+01\n", E::Stall, 0x300002DB, ""},
        {"a list of equal lengths", length + "5, 05\r\n\r\n" + later + "+1.25", E::Stall, 0, "+1.25"},
        {"interim responses",
         "HTTP/1.1 100 Continue\r\n\r\n" + std::string(1, later) +
             "HTTP/1.1 103 Early Hints\r\nLink: </s>\r\n\r\n" + length + "4\r\n\r\n42.0",
         E::Stall, 0, "42.0"},
        {"a body at the bound", length + std::to_string(bound.size()) + "\r\n\r\n" + later + bound, E::Stall,
         0, bound},
        {"a body past the bound", length + std::to_string(bound.size() + 1) + "\r\n\r\n" + bound + "7",
         E::Stall, 0x300002DC, ""},
        {"an endless body without a length", ok + "\r\n12.5\n", E::Flood, 0x300002DC, ""},
        {"an endless body of a length past the bound", length + "99999999999\r\n\r\n12.5\n", E::Flood,
         0x300002DC, ""},
        {"204, closed", "HTTP/1.1 204 No Content\r\n\r\n", E::Close, 0, "", true},
        {"204, kept open", "HTTP/1.1 204 No Content\r\n\r\n", E::Stall, 0, "", true},
        {"304 with a length, closed", notModified, E::Close, 0x300002DA, "", true},
        {"304 with a length, kept open", notModified, E::Stall, 0x300002DA, "", true},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.Case);
        WebServer web({row.Response}, row.Ending);
        // A long time-out shows an answer that waits for it.
        const double dTimeout = row.AtOnce ? 5.0 : 1.0;
        ASSERT_EQ(0u, Connect(web.Address(), dTimeout));
        const uint64_t start = Platform::MonotonicMicroseconds();
        EXPECT_EQ(0u, mClient.Write(nullptr, "value", false));
        EXPECT_LT((Platform::MonotonicMicroseconds() - start) / 1e6, row.AtOnce ? 0.4 * dTimeout : 1.2);
        EXPECT_LE(Stream().GetResponseBuffer().size(), HTTPDeviceStream::ResponseLimit + 1000);
        std::string answer;
        const DWORD result = mClient.Read(nullptr, answer, 100);
        EXPECT_EQ(row.Code, result) << std::hex << "0x" << result;
        EXPECT_TRUE(answer == row.Body) << answer.size() << " bytes: " << answer.substr(0, 40);
        EXPECT_EQ(0u, mClient.DisconnectStream(nullptr));
    }
}

// A server that refuses connections for a while and then stalls: the time-out counts from the
// request's start, the connect included.
TEST_F(HTTPStreamTest, ALateConnectLeavesLessTimeForTheResponse) {
    auto web = std::make_unique<WebServer>(std::vector<std::string>{});
    const uint16_t port = web->Server().Port();
    ASSERT_EQ(0u, Connect(web->Address(), 1.0));
    web.reset();
    std::thread late([&] {
        std::this_thread::sleep_for(600ms);
        web = std::make_unique<WebServer>(
            std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"},
            WebServer::Ending::Stall, port);
    });
    const uint64_t start = Platform::MonotonicMicroseconds();
    EXPECT_EQ(0u, mClient.Write(nullptr, "value", false));
    EXPECT_LT((Platform::MonotonicMicroseconds() - start) / 1e6, 1.2);
    late.join();
    ASSERT_TRUE(web->Server().WaitForReceived(0, "GET /value HTTP/1.1\r\n\r\n"));
}

// A keep-alive server answers on the connection and never closes it: the response is complete
// by its length at once, and the stream closes the connection for the next request.
TEST_F(HTTPStreamTest, AKeepAliveServerCostsNoTimeOut) {
    LoopbackServer server;
    server.SetResponder([](const std::string &line) { return line == "\r\n" ? std::string(Hello) : ""; });
    ASSERT_EQ(0u, Connect(server.Address()));
    for (const char *path : {"a", "b"}) {
        const uint64_t start = Platform::MonotonicMicroseconds();
        EXPECT_EQ(0u, mClient.Write(nullptr, path, false));
        EXPECT_LT((Platform::MonotonicMicroseconds() - start) / 1e6, 1.0) << path;
        std::string body;
        EXPECT_EQ(0u, mClient.Read(nullptr, body, 1));
        EXPECT_EQ("hello", body);
    }
    EXPECT_EQ(2u, server.ConnectionCount());
}

// A server whose accept queue is full leaves the request's connect unanswered: the exchange ends
// within about its time-out, or at once at the cancel of the call it runs for, with no connect left
// in progress. A connect that nothing ends is refused after a while (a failure, no hang).
TEST_F(HTTPStreamTest, AConnectToAFullQueueEndsAtTheTimeOutOrTheCancel) {
    auto web = std::make_unique<LoopbackServer>();
    ASSERT_EQ(0u, Connect(web->Address(), 1.0));
    const uint16_t port = web->Port();
    web.reset();
    TestSupport::FullListener full(port);
    Platform::CancelSignal cancel;
    std::thread refuse([&] {
        if (cancel.SleepUntil(std::chrono::steady_clock::now() + 8s))
            full.Refuse();
    });
    for (const double timeout : {1.0, 10.0}) {
        EXPECT_EQ(0u, mClient.SetTimeout(nullptr, timeout));
        std::thread cancelling([&] {
            if (timeout > 1 && TestSupport::WaitUntil([&] { return full.ConnectsInProgress() == 1; }, 5s))
                cancel.Cancel();
        });
        const auto start = std::chrono::steady_clock::now();
        const Platform::CancelScope scope(&cancel);
        EXPECT_EQ(StreamResult::EthernetNotConnected, mClient.Write(nullptr, "value", false));
        EXPECT_LT(TestSupport::MillisecondsSince(start), 3000) << "the connect went on, time-out " << timeout;
        cancelling.join();
        EXPECT_EQ(0u, full.ConnectsInProgress());
    }
    refuse.join();
}

TEST(HTTPResponse, CompleteByLengthOrByItsEnd) {
    const std::pair<const char *, bool> cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhell", false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", true},
        {"HTTP/1.1 200 OK\r\ncontent-length:5\r\n\r\nhello", true},
        {"HTTP/1.1 200 OK\r\nContent-Length:  5\r\n\r\nhello", false},
        {"HTTP/1.1 200 OK\r\nServer: x\r\nContent-Length: 0\r\n\r\n", true},
        {"HTTP/1.0 200 OK\nContent-Length: 2\n\nok", true},
        {"HTTP/1.0 200 OK\nServer: x\n\n", true},
        {"HTTP/1.1 200 OK\nServer: x\n\n", false},
        {"HTTP/1.1 200 OK\nVia: HTTP/1.0 proxy\n\n", false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 4294967301\r\n\r\nhello", false},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody", false},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody\n", true},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n", false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n", false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", true},
    };
    HTTPDeviceStream stream;
    for (const auto &[response, complete] : cases)
        EXPECT_EQ(complete, stream.IsResponseComplete(response)) << response;
}

TEST(HTTPConfiguration, DefaultsIdentifierTableAndRegistration) {
    HTTPDeviceStreamConfig fresh;
    EXPECT_EQ("HTTP", fresh.GetIDString());
    EXPECT_EQ("HTTP:tcpip://http://localhost:80", fresh.GetIdentifier());
    EXPECT_FALSE(fresh.IsValid());
    fresh.SetAddress("tcpip://127.0.0.1:8080");
    EXPECT_EQ("HTTP:tcpip://127.0.0.1:8080", fresh.GetIdentifier());

    TestSupport::TempDir dir;
    auto database = CreateINIProgramSettingsDatabase(dir.File("driver.ini"));
    database->Open();
    database->PushTable("Stream Config");
    EXPECT_EQ(0u, fresh.SaveProgramSettings(database));
    HTTPDeviceStreamConfig loaded;
    EXPECT_EQ(0u, loaded.LoadProgramSettings(database));
    EXPECT_EQ("tcpip://127.0.0.1:8080", loaded.GetAddress());
    database->Close();
    EXPECT_NE(std::string::npos, TestSupport::ReadFile(dir.File("driver.ini"))
                                     .find("[Stream Config.HTTP]\nAddress=tcpip://127.0.0.1:8080\n"));

    std::unique_ptr<WriteReadDeviceStream> stream(CreateStream("HTTP"));
    EXPECT_NE(nullptr, dynamic_cast<HTTPDeviceStream *>(stream.get()));
    std::unique_ptr<DeviceStreamConfiguration> configuration(CreateConfiguration("HTTP"));
    EXPECT_NE(nullptr, dynamic_cast<HTTPDeviceStreamConfig *>(configuration.get()));
}

} // namespace
