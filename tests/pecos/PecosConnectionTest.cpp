// The PECOS drivers' connection, through the export procedures in the test's own process (so that
// the driver's stream gets a short time-out) against the PECOS simulator: replies that stay
// incomplete are no reading and close the connection, and a connection that the server closed
// is opened again, with a login, before the next line.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pecos/PecosPlugin.h"
#include "pecos/PecosSimulator.h"
#include "streams/StreamTestEnvironment.h"

using namespace PecosTest;
using Lines = std::vector<std::string>;

namespace {

constexpr double ShortTimeout = 0.3; // s
constexpr uint32_t EthernetNotConnected = 0x300002D3;
constexpr int DeviceCheck = -1; // a step that runs the device check instead of a read

class PecosConnectionTest : public ::testing::Test {
protected:
    // A driver in this process on the simulator's port, with the short time-out, initialised.
    std::unique_ptr<HostDriver> Initialised(const char *key, unsigned port) {
        auto driver = std::make_unique<HostDriver>(key, PluginExports::InProcess());
        EXPECT_EQ(0u, driver->Created);
        SettingsFile settings;
        EXPECT_EQ(0u,
                  driver->Load(settings.Server(port).Login("user", "pw").Detectors({"D1", "D2"}).Write()));
        EXPECT_EQ(0u, driver->Client()->SetTimeout(nullptr, ShortTimeout));
        EXPECT_EQ(0u, driver->Init());
        return driver;
    }
};

} // namespace

// A reply that does not end with its line feed - cut off by a close, late, slower than the
// time-out, missing - is no reading: 0x3000BB23, and the driver closes its connection, so that
// the rest of it never becomes a later value. The same holds for the identification of a
// connected driver. The next read connects again, with a login.
TEST_F(PecosConnectionTest, IncompleteRepliesAreNoReadingAndCloseTheConnection) {
    struct Step {
        int Channel; // or DeviceCheck
        uint32_t Result;
        float Value; // after the step; 99 is the value the step started with
    };
    const struct {
        std::vector<std::string> Rules;
        std::vector<Step> Steps;
    } cases[] = {
        {{"D1 times=1 cut=2 reply=1234.5"}, {{0, NoDetectorResponse, 99}, {1, 0, 2.5f}}},
        {{"D1 times=1 pace=100 reply=1234.5"}, {{0, NoDetectorResponse, 99}, {1, 0, 2.5f}}},
        {{"@detector delay=400"}, {{0, NoDetectorResponse, 99}, {1, NoDetectorResponse, 99}}},
        {{"D1 times=1 silent"}, {{0, NoDetectorResponse, 99}, {1, 0, 2.5f}}},
        {{"IDN? times=1 delay=400", "D1 delay=150"},
         {{DeviceCheck, IdentificationMismatch, 99}, {0, 0, 1.5f}}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> options{"--value", "D1=1.5", "--value", "D2=2.5"};
        for (const std::string &rule : c.Rules)
            options.insert(options.end(), {"--on", rule});
        SCOPED_TRACE(c.Rules.front());
        PecosSimulator simulator(options);
        auto driver = Initialised("PONTISPECOS_AD_8", simulator.Port());
        for (const Step &step : c.Steps) {
            float value = 99.0f;
            if (step.Channel == DeviceCheck)
                EXPECT_EQ(step.Result, driver->Check());
            else
                EXPECT_EQ(step.Result, driver->Read(static_cast<uint32_t>(step.Channel), value))
                    << step.Channel;
            EXPECT_FLOAT_EQ(step.Value, value) << step.Channel;
        }
        ASSERT_TRUE(simulator.Control("clear"));
        float value = 0;
        EXPECT_EQ(0u, driver->Read(1, value));
        EXPECT_FLOAT_EQ(2.5f, value);
        // The last connection is a new one with a login, and the detectors are not switched again.
        const unsigned last = static_cast<unsigned>(simulator.Count("open"));
        EXPECT_GE(last, 2u);
        const Lines lines = last >= 2 ? simulator.Received(last) : Lines();
        EXPECT_EQ("AUTH-user:pw", lines.empty() ? std::string() : lines.front());
        for (const std::string &line : lines)
            EXPECT_NE(0u, line.rfind("CMD-", 0)) << line;
    }
}

// The server restarts: while it is down each line tries to connect again and fails with the
// connect's code; once it is back, the next line connects, logs in and lets the login's late
// answer pass before its request. A connection that the server drops is opened again too.
TEST_F(PecosConnectionTest, ServerRestartAndDropReconnectWithLogin) {
    auto first = std::make_unique<PecosSimulator>(std::vector<std::string>{"--value", "D1=1.5"});
    const unsigned port = first->Port();
    auto ad = Initialised("PONTISPECOS_AD_8", port);
    auto eut = Initialised("PONTISPECOS_EUT_8", port);
    float value = 0;
    EXPECT_EQ(0u, ad->Read(0, value));
    first.reset();

    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(EthernetNotConnected, ad->Read(0, value));
        EXPECT_EQ(EthernetNotConnected, eut->Event(41, 0.0));
    }

    PecosSimulator second({"--value", "D1=2.5", "--on", "D1 delay=60", "--on", "@auth delay=20 reply=9.75"},
                          port);
    ASSERT_EQ(port, second.Port());
    EXPECT_EQ(0u, ad->Read(0, value));
    EXPECT_FLOAT_EQ(2.5f, value);
    EXPECT_EQ(0u, eut->Event(41, 0.0));
    ASSERT_TRUE(second.Control("drop"));
    ASSERT_TRUE(second.WaitForClosed(2));
    value = 0;
    EXPECT_EQ(0u, ad->Read(0, value));
    EXPECT_FLOAT_EQ(2.5f, value);
    EXPECT_EQ(0u, ad->DeInit());
    EXPECT_EQ(0u, eut->DeInit());
    ASSERT_TRUE(second.WaitForClosed(3));
    EXPECT_EQ((Lines{"AUTH-user:pw", "D1"}), second.Received(1));
    EXPECT_EQ((Lines{"AUTH-user:pw", "MODULATION Modulation Off"}), second.Received(2));
    EXPECT_EQ((Lines{"AUTH-user:pw", "D1", "CMD-D1-ENABLE-NO", "CMD-D2-ENABLE-NO"}), second.Received(3));
}
