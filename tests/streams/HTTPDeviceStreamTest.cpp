// The HTTP stream against a loopback web server of the tests' own: the request bytes on the wire,
// one connection per request, the first body line as the answer, the completeness rules of a
// response, and the deadline of the collection.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "LoopbackServer.h"
#include "StreamTestEnvironment.h"
#include "core/ProgramSettingsDatabase.h"
#include "platform/Clock.h"
#include "streams/etherds/HTTPDeviceStream.h"

namespace {

using namespace std::chrono_literals;

DeviceStreamClient *Client() {
    static char entry;
    return reinterpret_cast<DeviceStreamClient *>(&entry);
}

// Answers each request (on its own connection, in order) with the next response and closes the
// connection, as a web server without keep-alive does.
class WebServer {
public:
    explicit WebServer(std::vector<std::string> responses) : mResponses(std::move(responses)) {
        mThread = std::thread([this] {
            for (size_t n = 0; n < mResponses.size() && !mStop; ++n) {
                while (!mStop && (mServer.ConnectionCount() <= n ||
                                  mServer.Received(n).find("\r\n\r\n") == std::string::npos))
                    std::this_thread::sleep_for(2ms);
                mServer.Send(n, mResponses[n]);
                mServer.Close(n);
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

class HTTPStreamTest : public ::testing::Test {
protected:
    DWORD Connect(const std::string &address) {
        mConfiguration->SetAddress(address);
        mStream.SetTimeout(nullptr, 2.0);
        return mStream.Connect(nullptr, mConfiguration, Client());
    }
    void TearDown() override { mStream.Disconnect(nullptr, Client()); }

    std::shared_ptr<HTTPDeviceStreamConfig> mConfiguration = std::make_shared<HTTPDeviceStreamConfig>();
    HTTPDeviceStream mStream;
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
        EXPECT_EQ(0u, mStream.Write(nullptr, cases[n].first, false)) << n;
        EXPECT_TRUE(web.Server().WaitForReceived(n, cases[n].second))
            << n << ": " << web.Server().Received(n);
        std::string body;
        EXPECT_EQ(0u, mStream.Read(nullptr, body, 100));
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
        EXPECT_EQ(0u, mStream.Write(nullptr, path, false));
        // The server's close ends the request, not the time-out.
        EXPECT_LT((Platform::MonotonicMicroseconds() - t0) / 1e6, 1.0) << path;
        std::string response = "old";
        EXPECT_EQ(0u, mStream.Read(nullptr, response, 1));
        EXPECT_EQ(body, response);
        EXPECT_EQ(StreamResult::HttpAllDataRead, mStream.Read(nullptr, response, 1));
        EXPECT_EQ("", response);
    }
}

TEST_F(HTTPStreamTest, WriteReadGivesTheBody) {
    WebServer web({"HTTP/1.1 200 OK\r\ncontent-length:4\r\n\r\n42.0"});
    ASSERT_EQ(0u, Connect(web.Address()));
    std::string response;
    DWORD count = 100;
    EXPECT_EQ(0u, mStream.WriteReadUntilAnswer(nullptr, "/value", response, count, 0));
    EXPECT_EQ("42.0", response);
}

// A server that trickles a body that never completes and never closes: the request still ends.
TEST_F(HTTPStreamTest, CollectingTheResponseEndsAtTheTimeout) {
    LoopbackServer server;
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        if (!server.WaitForReceived(0, "GET /slow HTTP/1.1\r\n\r\n"))
            return;
        server.Send(0, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 200 && !stop; ++i) {
            server.Send(0, "more\n");
            std::this_thread::sleep_for(50ms);
        }
    });
    ASSERT_EQ(0u, Connect(server.Address()));
    mStream.SetTimeout(nullptr, 1.0);
    const uint64_t start = Platform::MonotonicMicroseconds();
    EXPECT_EQ(0u, mStream.Write(nullptr, "slow", false));
    const double seconds = (Platform::MonotonicMicroseconds() - start) / 1e6;
    stop = true;
    trickle.join();
    EXPECT_LT(seconds, 4.0);
    std::string body;
    EXPECT_EQ(0u, mStream.Read(nullptr, body, 1));
    EXPECT_EQ("more", body);
}

// A keep-alive server answers on the connection and never closes it: the response is complete
// by its length at once, and the stream closes the connection for the next request.
TEST_F(HTTPStreamTest, AKeepAliveServerCostsNoTimeOut) {
    LoopbackServer server;
    server.SetResponder([](const std::string &line) { return line == "\r\n" ? std::string(Hello) : ""; });
    ASSERT_EQ(0u, Connect(server.Address()));
    for (const char *path : {"a", "b"}) {
        const uint64_t start = Platform::MonotonicMicroseconds();
        EXPECT_EQ(0u, mStream.Write(nullptr, path, false));
        EXPECT_LT((Platform::MonotonicMicroseconds() - start) / 1e6, 1.0) << path;
        std::string body;
        EXPECT_EQ(0u, mStream.Read(nullptr, body, 1));
        EXPECT_EQ("hello", body);
    }
    EXPECT_EQ(2u, server.ConnectionCount());
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
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody", false},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody\n", true},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n", false},
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
