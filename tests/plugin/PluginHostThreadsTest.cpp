// The loaded plug-in called from many host threads at once, against the PECOS simulator: a PECOS
// AD converter read by sixteen threads while another de-initialises and initialises it, two
// drivers whose checks share one stream, a thread that outlives an unload, a host that exits.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <wx/log.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "logging/RecordCapture.h"
#include "support/ChildProcessTest.h"
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

// Two drivers on one server without a session check over the stream they share, 20 times each:
// every check answers 0 and reached the server. Row: the kind; the AD converter also initialises,
// reads and de-initialises between its checks; or the server refuses, so that both checks run their
// connect loops at once (the drivers of this process, with a short time-out) and answer the refusal.
enum class Sharing { Checks, Initialising, Refused };
class SharedServerThreads : public ::testing::TestWithParam<std::tuple<std::string, Sharing>> {};

TEST_P(SharedServerThreads, DriversOnOneServerTakeTurnsAtTheirStream) {
    ASSERT_TRUE(PluginExports::Get().Loaded()) << TestSupport::RunnerEnv("KORVALIS_PLUGIN");
    const auto [kind, sharing] = GetParam();
    const bool bRefused = sharing == Sharing::Refused;
    TestSupport::IsolatedEnvironment environment;
    PecosSimulator simulator(bRefused ? std::vector<std::string>{"--away"}
                                      : std::vector<std::string>{"--value", "D1=4"});
    SettingsFile settings;
    const std::string file =
        settings.Server(simulator.Port(), kind).Login("user", "pw").Detectors({"D1"}).Write();
    PluginExports &exports = bRefused ? PluginExports::InProcess() : PluginExports::Get();
    HostDriver converter(PecosDriverFactory::ADConverterKey, exports),
        controller(PecosDriverFactory::EUTControllerKey, exports);
    ASSERT_EQ(0u, converter.Load(file) | controller.Load(file));
    if (bRefused) {
        ASSERT_EQ(0u, converter.Client()->SetTimeout(nullptr, 0.05) |
                          controller.Client()->SetTimeout(nullptr, 0.05));
    }
    const int rounds = bRefused ? 40 : 20;
    // A stream object made again after both let go takes the configured time-out (10 s): the refused
    // rows stop starting checks after a while instead of running past the test's own time-out.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto more = [&](int n) { return n == 0 || !bRefused || std::chrono::steady_clock::now() < end; };
    constexpr uint32_t NotRun = 0xFFFFFFFF;
    std::vector<uint32_t> results(2 * rounds, NotRun);
    std::thread checker([&] {
        for (int n = 0; n < rounds && more(n); ++n)
            results[n] = controller.Check();
    });
    for (int n = rounds; n < 2 * rounds && more(n - rounds); ++n) {
        results[n] = converter.Check();
        float value = 0;
        if (sharing == Sharing::Initialising) {
            EXPECT_EQ(0u, converter.Init());
            EXPECT_EQ(0u, converter.Read(0, value));
            EXPECT_EQ(4.0f, value);
            EXPECT_EQ(0u, converter.DeInit());
        }
    }
    checker.join();
    for (const uint32_t result : results) {
        if (result != NotRun) {
            EXPECT_CODE(!bRefused ? 0u : kind == "VISA" ? 0xBFFF0011u : 0x300002D3u, result);
        }
    }
    const std::vector<std::string> lines = simulator.Received();
    EXPECT_EQ(bRefused ? 0 : 2 * rounds, std::count(lines.begin(), lines.end(), "IDN?"));
}

std::string SharingName(const ::testing::TestParamInfo<std::tuple<std::string, Sharing>> &info) {
    static const char *const names[] = {"", "_Initialising", "_Refused"};
    return std::get<0>(info.param) + names[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Kinds, SharedServerThreads,
                         ::testing::Combine(::testing::Values(std::string("TCPIP"), std::string("VISA")),
                                            ::testing::Values(Sharing::Checks, Sharing::Initialising,
                                                              Sharing::Refused)),
                         SharingName);

// A worker outlives each of three copies and calls the next (loaded elsewhere); its records arrive.
TEST(PluginReloadThreads, AThreadThatOutlivedAnUnloadCallsTheNextCopy) {
    RecordCapture capture;
    const std::string plugin = std::filesystem::canonical(TestSupport::RunnerEnv("KORVALIS_PLUGIN")).string();
    std::atomic<int> turn{0}; // odd: the worker's
    std::atomic<PFN_Registered> registered{nullptr};
    std::atomic<uint16_t> id{0xFFFF};
    std::atomic<uint32_t> result{1};
    std::atomic<bool> kept{false}; // the worker's wx log target after a call
    std::thread worker([&] {
        for (int cycle = 0; cycle < 3; turn = 2 * ++cycle)
            if (TestSupport::WaitUntil([&] { return turn == 2 * cycle + 1; }, std::chrono::seconds(30)))
                result = registered.load()(nullptr, id),
                kept = wxLog::SetThreadActiveTarget(nullptr) != nullptr;
    });
    for (int cycle = 0; cycle < 3; ++cycle) {
        void *handle = ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, handle) << ::dlerror();
        uint16_t created = 0xFFFF;
        ASSERT_EQ(0u, reinterpret_cast<PFN_CreateNewDeviceDriver>(::dlsym(handle, "CreateNewDeviceDriver"))(
                          0, PecosDriverFactory::ADConverterKey, &created));
        capture.Records();
        id = created, registered = reinterpret_cast<PFN_Registered>(::dlsym(handle, "Registered")),
        turn = 2 * cycle + 1;
        TestSupport::WaitUntil([&] { return turn == 2 * cycle + 2; }, std::chrono::seconds(30));
        EXPECT_EQ(0u, result.exchange(1)) << "cycle " << cycle;
        EXPECT_FALSE(kept) << "the worker kept a log target of the copy, cycle " << cycle;
        const auto records = capture.Records();
        EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                                [](const auto &r) { return r.Function == L"Registered"; }))
            << "no record of the worker's call, cycle " << cycle;
        EXPECT_EQ(0u, reinterpret_cast<PFN_RemoveDeviceDriver>(::dlsym(handle, "RemoveDeviceDriver"))(
                          nullptr, created));
        uintptr_t first = UINTPTR_MAX, last = 0; // the copy's mappings
        std::istringstream maps(TestSupport::ReadFile("/proc/self/maps"));
        for (std::string line; std::getline(maps, line);)
            if (unsigned long start = 0, end = 0; line.find(plugin) != std::string::npos &&
                                                  std::sscanf(line.c_str(), "%lx-%lx", &start, &end) == 2)
                first = std::min<uintptr_t>(first, start), last = std::max<uintptr_t>(last, end);
        ASSERT_EQ(0, ::dlclose(handle)) << ::dlerror();
        // Kept where the range is free (not where the unload left mappings behind).
        ::mmap(reinterpret_cast<void *>(first), last - first, PROT_NONE,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    }
    worker.join();
}

// Only a child of the test below: an AD converter reads (and initialises again) and an EUT
// controller sends events whose values are formatted, each on a thread, until the main thread
// exits; a call that fails once the exit has begun ends the process with 3.
class PluginExitChild : public ::testing::Test {};
CHILD_TEST_F(PluginExitChild, ExitsWhileAThreadCalls, "KORVALIS_EXIT_CHILD") {
    unsigned port = 0, delay = 0;
    char kind[16] = {};
    ASSERT_EQ(3, std::sscanf(TestSupport::RunnerEnv("KORVALIS_EXIT_CHILD").c_str(), "%u %u %15s", &port,
                             &delay, kind))
        << "KORVALIS_EXIT_CHILD is not \"<port> <delay> <kind>\"";
    SettingsFile settings;
    const std::string file = settings.Server(port, kind).Login("user", "pw").Detectors({"D1"}).Write();
    // The host never removes them.
    HostDriver *converter = new HostDriver(PecosDriverFactory::ADConverterKey);
    HostDriver *controller = new HostDriver(PecosDriverFactory::EUTControllerKey);
    ASSERT_EQ(0u, converter->Load(file) | controller->Load(file));
    ASSERT_EQ(0u, converter->Init() | controller->Init());
    auto fail = [](uint32_t result) {
        if (result != 0)
            std::printf("a call ended with 0x%08X during the exit\n", result), std::fflush(stdout),
                ::_exit(3);
    };
    std::atomic<int> calling{0};
    std::thread([&calling, converter, fail] {
        for (unsigned n = 1;; ++n, calling |= 1) {
            float value = 0;
            fail(converter->Read(0, value) | (n % 50 == 0 ? converter->DeInit() | converter->Init() : 0));
        }
    }).detach();
    std::thread([&calling, controller, fail] {
        for (double value = 0.125;; value += 0.25, calling |= 2)
            fail(controller->Event(54, value) | controller->Event(52, 90.0));
    }).detach();
    TestSupport::WaitUntil([&] { return calling.load() == 3; }, std::chrono::seconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::exit(0);
}

// Twenty hosts exit 10 to 295 ms into their calls, over TCP and over VISA: none ends with a signal
// or a failed call.
class PluginExit : public ::testing::TestWithParam<std::string> {};

TEST_P(PluginExit, AHostThatExitsDuringACallEndsCleanly) {
    TestSupport::IsolatedEnvironment environment;
    PecosSimulator simulator({"--value", "D1=4.25"});
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    std::vector<TestSupport::ProcessResult> results(20);
    for (size_t first = 0; first < results.size(); first += 4) {
        std::vector<std::thread> runs;
        for (size_t run = first; run < first + 4; ++run)
            runs.emplace_back([&, run] {
                const std::string child =
                    std::to_string(simulator.Port()) + " " + std::to_string(10 + run * 15) + " " + GetParam();
                results[run] = TestSupport::RunProcess({"/usr/bin/env", "KORVALIS_EXIT_CHILD=" + child, self,
                                                        "--gtest_filter=PluginExitChild.*"},
                                                       "", std::chrono::seconds(60));
            });
        for (std::thread &run : runs)
            run.join();
    }
    for (size_t run = 0; run < results.size(); ++run) {
        EXPECT_TRUE(results[run].Signal == 0 && results[run].ExitCode == 0)
            << "run " << run << ": signal " << results[run].Signal << ", exit code " << results[run].ExitCode
            << "\n"
            << results[run].Output;
        EXPECT_NE(std::string::npos,
                  results[run].Output.find("[ RUN      ] PluginExitChild.ExitsWhileAThreadCalls"))
            << "run " << run << " ran no child:\n"
            << results[run].Output;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PluginExit, ::testing::Values(std::string("TCPIP"), std::string("VISA")),
                         [](const auto &info) { return info.param; });
