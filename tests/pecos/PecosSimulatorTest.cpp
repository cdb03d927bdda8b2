// The PECOS simulator as the tests and the demo use it: what it answers by default and under
// rules, late answers, drops, and what it records.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "pecos/PecosSimulator.h"
#include "support/TestSupport.h"

using PecosTest::PecosSimulator;

namespace {

// A plain loopback client: sends lines, reads until a count of reply lines or the deadline.
class LineClient {
public:
    explicit LineClient(unsigned port) {
        mSocket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval wait{0, 100000};
        ::setsockopt(mSocket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        mConnected = ::connect(mSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~LineClient() { ::close(mSocket); }
    bool Connected() const { return mConnected; }
    void Send(const std::string &text) {
        ASSERT_EQ(::send(mSocket, text.data(), text.size(), 0), (ssize_t)text.size());
    }
    // Everything received until lines line feeds arrived, the peer closed, or the deadline.
    std::string Read(size_t lines, std::chrono::milliseconds timeout = std::chrono::seconds(5),
                     bool *closed = nullptr) {
        std::string data;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::count(data.begin(), data.end(), '\n') < static_cast<long>(lines) &&
               std::chrono::steady_clock::now() < deadline) {
            char buffer[512];
            const ssize_t n = ::recv(mSocket, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                if (closed != nullptr)
                    *closed = true;
                break;
            }
            if (n > 0)
                data.append(buffer, static_cast<size_t>(n));
        }
        return data;
    }

private:
    int mSocket = -1;
    bool mConnected = false;
};

} // namespace

TEST(PecosSimulator, AnswersIdentificationAndDetectorsButNotLoginCommandsOrScreenLines) {
    PecosSimulator simulator({"--value", "REQ-D1=12.5 V/m"});
    ASSERT_NE(simulator.Port(), 0u);
    LineClient client(simulator.Port());
    ASSERT_TRUE(client.Connected());
    client.Send("AUTH-user:pw\nCMD-D1-ENABLE-YES\nFREQUENCY Frequency ---\nIDN?\nREQ-D1\nD2\n");
    const std::string replies = client.Read(3);
    EXPECT_EQ(replies.substr(0, 17), "PECOS-8\n12.5 V/m\n");
    EXPECT_NE(std::stod(replies.substr(17)), 0.0) << replies; // a generated reading
    EXPECT_EQ(simulator.Received(),
              (std::vector<std::string>{"AUTH-user:pw", "CMD-D1-ENABLE-YES", "FREQUENCY Frequency ---",
                                        "IDN?", "REQ-D1", "D2"}));
}

// Rules given at start and through the control channel; newer ones win, times= runs out.
TEST(PecosSimulator, RulesChangeAnswers) {
    PecosSimulator simulator({"--on", "D1 failure", "--on", "@auth reply=AUTH OK"});
    ASSERT_TRUE(simulator.Control("on D2 times=1 reply=\\tfirst"));
    ASSERT_TRUE(simulator.Control("value D3 7"));
    LineClient client(simulator.Port());
    client.Send("D1\nAUTH-a:b\nD2\nD3\nD2\n");
    const std::string replies = client.Read(5);
    EXPECT_EQ(replies.substr(0, replies.rfind('\n', replies.size() - 2) + 1),
              "Failure\nAUTH OK\n\tfirst\n7\n");
    ASSERT_TRUE(simulator.Control("clear"));
    client.Send("D1\n");
    EXPECT_NE(client.Read(1), "Failure\n");
}

// A late login answer comes after the answers that were due before it.
TEST(PecosSimulator, LateAnswerFollowsLaterLines) {
    PecosSimulator simulator({"--on", "@auth delay=300 reply=LATE", "--value", "D1=1"});
    LineClient client(simulator.Port());
    const auto start = std::chrono::steady_clock::now();
    client.Send("AUTH-a:b\nD1\n");
    EXPECT_EQ(client.Read(1), "1\n");
    EXPECT_EQ(client.Read(1), "LATE\n");
    EXPECT_GE(TestSupport::MillisecondsSince(start), 300);
}

TEST(PecosSimulator, DropsTheConnectionAndRecordsIt) {
    PecosSimulator simulator({"--on", "D1 drop"});
    LineClient client(simulator.Port());
    client.Send("D1\n");
    bool closed = false;
    EXPECT_EQ(client.Read(1, std::chrono::seconds(5), &closed), "");
    EXPECT_TRUE(closed);
    ASSERT_TRUE(simulator.WaitForClosed(1));
    std::vector<std::string> kinds;
    for (const auto &event : simulator.Events())
        kinds.push_back(event.Kind);
    EXPECT_EQ(kinds, (std::vector<std::string>{"open", "<", "drop", "close"}));
}

TEST(PecosSimulator, DetectorsAnswerFailureUntilEnabledAndActivated) {
    PecosSimulator simulator({"--require-enable", "--value", "REQ-D1=3"});
    LineClient client(simulator.Port());
    client.Send("REQ-D1\nCMD-D1-ENABLE-YES\nCMD-D1-ACTIVATE-YES\nREQ-D1\nCMD-D1-ENABLE-NO\nREQ-D1\n");
    EXPECT_EQ(client.Read(3), "Failure\n3\nFailure\n");
}

// cut= sends the first bytes of the answer and closes; pace= sends it a byte at a time.
TEST(PecosSimulator, CutAndPacedAnswers) {
    PecosSimulator simulator({"--on", "D1 cut=3 reply=1234.5", "--on", "D2 pace=60 reply=abc"});
    LineClient cut(simulator.Port());
    cut.Send("D1\n");
    bool closed = false;
    EXPECT_EQ(cut.Read(1, std::chrono::seconds(5), &closed), "123");
    EXPECT_TRUE(closed);
    LineClient paced(simulator.Port());
    const auto start = std::chrono::steady_clock::now();
    paced.Send("D2\n");
    EXPECT_EQ(paced.Read(1), "abc\n");
    EXPECT_GE(TestSupport::MillisecondsSince(start), 180);
    // The reply is recorded once it went out.
    std::vector<std::string> events;
    simulator.WaitFor([&](const std::vector<PecosTest::SimulatorEvent> &all) {
        events.clear();
        for (const auto &event : all)
            if (event.Kind == "cut" || event.Kind == ">")
                events.push_back(event.Kind + " " + event.Text);
        return events.size() >= 2;
    });
    EXPECT_EQ(events, (std::vector<std::string>{"cut 123", "> abc"}));
}

// The control reset acts at once, also on a connection whose answer is delayed.
TEST(PecosSimulator, ResetActsAtOnceDuringADelayedAnswer) {
    PecosSimulator simulator({"--on", "D1 delay=20000 reply=late"});
    LineClient client(simulator.Port());
    client.Send("D1\n");
    ASSERT_TRUE(simulator.WaitForReceived(1));
    ASSERT_TRUE(simulator.Control("reset"));
    bool closed = false;
    EXPECT_EQ(client.Read(1, std::chrono::seconds(10), &closed), "");
    EXPECT_TRUE(closed) << "no reset within 10 s";
}

// --login splits at the first ':' (the rest is the password) and needs one; no option takes an
// option name as its value.
TEST(PecosSimulator, LoginNeedsAColonAndNoOptionTakesAnOptionName) {
    for (const std::vector<std::string> &options :
         {std::vector<std::string>{"--login", "nocolon"}, {"--login", "--strict"}, {"--idn", "--strict"}}) {
        PecosSimulator refused(options);
        EXPECT_EQ(0u, refused.Port()) << options[0] << " " << options[1];
    }
    PecosSimulator simulator({"--login", "u:x:y", "--value", "D1=1"});
    LineClient client(simulator.Port());
    client.Send("AUTH-u:x:y\nD1\n");
    EXPECT_EQ("1\n", client.Read(1));
}
