// The loaded plug-in called from many host threads at once: a PECOS AD converter read by sixteen
// threads while another de-initialises and initialises it, against the PECOS simulator.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "pecos/PecosPlugin.h"
#include "pecos/PecosSimulator.h"

using namespace PecosTest;

// Every call ends, the driver's own calls are never disturbed, a read that succeeds carries the
// detector's value, and the driver ends up initialised and reading.
TEST(PluginHostThreads, ReadersRunThroughRepeatedDeInitAndInit) {
    ASSERT_TRUE(PluginExports::Get().Loaded()) << TestSupport::RunnerEnv("KORVALIS_PLUGIN");
    TestSupport::IsolatedEnvironment environment;
    PecosSimulator simulator({"--value", "D1=4"});
    ASSERT_NE(0u, simulator.Port());
    SettingsFile settings;
    HostDriver driver("PONTISPECOS_AD_8");
    ASSERT_EQ(0u,
              driver.Load(settings.Server(simulator.Port()).Login("user", "pw").Detectors({"D1"}).Write()));
    ASSERT_EQ(0u, driver.Init());

    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, wrongValues{0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::vector<std::thread> readers;
    for (int n = 0; n < 16; ++n)
        readers.emplace_back([&] {
            while (!done && std::chrono::steady_clock::now() < deadline) {
                float value = 0;
                if (driver.Read(0, value) == 0) {
                    ++reads;
                    wrongValues += value != 4.0f ? 1 : 0;
                }
            }
        });
    int failedToggles = 0;
    for (int cycle = 0; cycle < 30; ++cycle) {
        failedToggles += driver.DeInit() != 0 ? 1 : 0;
        if (driver.Init() != 0) {
            ++failedToggles;
            continue;
        }
        // Let the readers in before the next de-init.
        const int before = reads;
        TestSupport::WaitUntil([&] { return reads >= before + 16; }, std::chrono::seconds(10));
    }
    done = true;
    for (std::thread &reader : readers)
        reader.join();

    EXPECT_EQ(0, failedToggles);
    EXPECT_EQ(0, wrongValues);
    EXPECT_GT(reads, 0);
    float value = 0;
    EXPECT_EQ(0u, driver.Read(0, value));
    EXPECT_FLOAT_EQ(4.0f, value);
    EXPECT_EQ(0u, driver.DeInit());
}
