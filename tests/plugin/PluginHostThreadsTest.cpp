// The loaded plug-in called from many host threads at once, against the PECOS simulator: a PECOS
// AD converter read by sixteen threads while another de-initialises and initialises it, two
// drivers on one server whose checks share one stream, a worker thread that calls each copy of a
// plug-in that is unloaded and loaded again, and a host that exits while a call runs.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sstream>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "pecos/PecosPlugin.h"
#include "logging/RecordCapture.h"
#include "pecos/PecosSimulator.h"
#include "pecos/PecosDriverFactory.h"

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

// An AD converter and an EUT controller with the same server settings and no session: each
// check connects the stream they share, asks for the identification and lets the stream go.
// Row: the stream kind, and whether the AD converter also initialises, reads and de-initialises
// between its checks.
class SharedServerThreads : public ::testing::TestWithParam<std::tuple<std::string, bool>> {};

TEST_P(SharedServerThreads, DriversOnOneServerTakeTurnsAtTheirStream) {
    ASSERT_TRUE(PluginExports::Get().Loaded()) << TestSupport::RunnerEnv("KORVALIS_PLUGIN");
    const auto [kind, bInitialising] = GetParam();
    TestSupport::IsolatedEnvironment environment;
    PecosSimulator simulator({"--value", "D1=4"});
    ASSERT_NE(0u, simulator.Port());
    SettingsFile settings;
    const std::string file =
        settings.Server(simulator.Port(), kind).Login("user", "pw").Detectors({"D1"}).Write();
    HostDriver converter(PecosDriverFactory::ADConverterKey),
        controller(PecosDriverFactory::EUTControllerKey);
    ASSERT_EQ(0u, converter.Load(file));
    ASSERT_EQ(0u, controller.Load(file));

    std::atomic<int> calls{0}, failures{0};
    std::atomic<uint32_t> firstFailure{0};
    auto count = [&](const char *what, uint32_t result) {
        ++calls;
        if (result != 0 && failures++ == 0) {
            firstFailure = result;
            std::printf("%s: 0x%08X\n", what, result);
        }
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::thread checker([&] {
        while (std::chrono::steady_clock::now() < end)
            count("EUT controller CheckDevice", controller.Check());
    });
    while (std::chrono::steady_clock::now() < end) {
        if (bInitialising) {
            float value = 0;
            count("InitDevice", converter.Init());
            count("GetValue", converter.Read(0, value));
            count("DeInitDevice", converter.DeInit());
        }
        count("AD converter CheckDevice", converter.Check());
    }
    checker.join();
    EXPECT_EQ(0, failures.load()) << "first failure 0x" << std::hex << firstFailure.load();
    EXPECT_GT(calls.load(), 4);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SharedServerThreads,
                         ::testing::Combine(::testing::Values(std::string("TCPIP"), std::string("VISA")),
                                            ::testing::Bool()),
                         [](const auto &info) {
                             return std::get<0>(info.param) +
                                    (std::get<1>(info.param) ? "_InitialisingBesideChecks" : "_Checks");
                         });

namespace {

// One thread that runs the given work when asked, for the life of the object.
class Worker {
public:
    Worker() : mThread([this] { Serve(); }) {}
    ~Worker() {
        Run(nullptr);
        mThread.join();
    }
    // Runs the work on the worker and waits for it; null ends the worker.
    void Run(std::function<void()> work) {
        std::unique_lock<std::mutex> guard(mLock);
        mWork = std::move(work);
        mPending = true;
        mChanged.notify_all();
        mChanged.wait(guard, [&] { return !mPending; });
    }

private:
    void Serve() {
        for (;;) {
            std::unique_lock<std::mutex> guard(mLock);
            mChanged.wait(guard, [&] { return mPending; });
            const std::function<void()> work = std::move(mWork);
            if (work)
                work();
            mPending = false;
            mChanged.notify_all();
            if (!work)
                return;
        }
    }

    std::mutex mLock;
    std::condition_variable mChanged;
    std::function<void()> mWork;
    bool mPending = false;
    std::thread mThread;
};

// The address range that the file's mappings span in this process; empty when it is not mapped.
std::pair<uintptr_t, uintptr_t> MappedRange(const std::string &file) {
    std::pair<uintptr_t, uintptr_t> range{UINTPTR_MAX, 0};
    std::istringstream maps(TestSupport::ReadFile("/proc/self/maps"));
    for (std::string line; std::getline(maps, line);) {
        if (line.size() < file.size() || line.compare(line.size() - file.size(), file.size(), file) != 0)
            continue;
        unsigned long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx", &start, &end) == 2)
            range = {std::min<uintptr_t>(range.first, start), std::max<uintptr_t>(range.second, end)};
    }
    return range.second == 0 ? std::pair<uintptr_t, uintptr_t>{0, 0} : range;
}

std::string Self() {
    char self[4096] = {};
    return ::readlink("/proc/self/exe", self, sizeof(self) - 1) > 0 ? self : "";
}

} // namespace

// A worker thread that called the plug-in outlives its unload and calls the next copy; that copy's
// records arrive, every time.
TEST(PluginReloadThreads, AThreadThatOutlivedAnUnloadCallsTheNextCopy) {
    TestSupport::IsolatedEnvironment environment;
    RecordCapture capture(false);
    const std::string plugin = TestSupport::RunnerEnv("KORVALIS_PLUGIN");
    Worker worker;
    // Each copy's addresses stay taken after its unload, as other libraries may take them in a
    // host: the next copy is loaded elsewhere.
    std::vector<std::pair<void *, size_t>> reserved;
    for (int cycle = 0; cycle < 3; ++cycle) {
        void *handle = ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, handle) << ::dlerror();
        const auto create =
            reinterpret_cast<PFN_CreateNewDeviceDriver>(::dlsym(handle, "CreateNewDeviceDriver"));
        const auto registered = reinterpret_cast<PFN_Registered>(::dlsym(handle, "Registered"));
        const auto remove = reinterpret_cast<PFN_RemoveDeviceDriver>(::dlsym(handle, "RemoveDeviceDriver"));
        uint16_t id = 0xFFFF;
        ASSERT_EQ(0u, create(0, PecosDriverFactory::ADConverterKey, &id));
        capture.Records();
        uint32_t result = 1;
        worker.Run([&] { result = registered(nullptr, id); });
        EXPECT_EQ(0u, result) << "cycle " << cycle;
        size_t calls = 0;
        for (const Quellin::Record &record : capture.Records())
            calls += record.Function == L"Registered" ? 1 : 0;
        EXPECT_GE(calls, 1u) << "no record of the worker's call, cycle " << cycle;
        EXPECT_EQ(0u, remove(nullptr, id));
        ASSERT_EQ(0, ::dlclose(handle)) << ::dlerror();
        ASSERT_EQ(nullptr, ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_NOLOAD))
            << "still loaded, cycle " << cycle;
    }
}

// Runs only as a child of the test below: reads on a thread, and initialises again now and then,
// until the main thread exits; a call that fails once the exit has begun ends the process with 3.
TEST(PluginExitChild, ExitsWhileAThreadCalls) {
    const std::string options = TestSupport::RunnerEnv("KORVALIS_EXIT_CHILD");
    if (options.empty())
        GTEST_SKIP() << "runs as a child process only";
    unsigned port = 0, delay = 0;
    ASSERT_EQ(2, std::sscanf(options.c_str(), "%u %u", &port, &delay));
    SettingsFile settings;
    HostDriver *driver = new HostDriver(PecosDriverFactory::ADConverterKey); // the host never removes it
    ASSERT_EQ(0u, driver->Load(settings.Server(port).Login("user", "pw").Detectors({"D1"}).Write()));
    ASSERT_EQ(0u, driver->Init());
    std::atomic<bool> calling{false};
    std::thread([&calling, driver] {
        for (unsigned n = 1;; ++n) {
            float value = 0;
            uint32_t result = driver->Read(0, value);
            if (result == 0 && n % 50 == 0)
                result = driver->DeInit() | driver->Init();
            calling = true;
            if (result != 0) {
                std::printf("a call ended with 0x%08X during the exit\n", result);
                std::fflush(stdout);
                ::_exit(3);
            }
        }
    }).detach();
    TestSupport::WaitUntil([&] { return calling.load(); }, std::chrono::seconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::exit(0);
}

// Twenty hosts exit between 10 and 300 ms into their calls: none ends with a signal or a failed call.
TEST(PluginExit, AHostThatExitsDuringACallEndsCleanly) {
    TestSupport::IsolatedEnvironment environment;
    PecosSimulator simulator({"--value", "D1=4"});
    ASSERT_NE(0u, simulator.Port());
    std::vector<TestSupport::ProcessResult> results(20);
    for (size_t first = 0; first < results.size(); first += 4) {
        std::vector<std::thread> runs;
        for (size_t run = first; run < first + 4; ++run)
            runs.emplace_back([&, run] {
                const std::string options =
                    std::to_string(simulator.Port()) + " " + std::to_string(10 + run * 15);
                results[run] = TestSupport::RunProcess({"/usr/bin/env", "KORVALIS_EXIT_CHILD=" + options,
                                                        Self(), "--gtest_filter=PluginExitChild.*"},
                                                       "", std::chrono::seconds(60));
            });
        for (std::thread &run : runs)
            run.join();
    }
    for (size_t run = 0; run < results.size(); ++run) {
        EXPECT_EQ(0, results[run].Signal) << "run " << run << "\n" << results[run].Output;
        EXPECT_EQ(0, results[run].ExitCode) << "run " << run << "\n" << results[run].Output;
    }
}
