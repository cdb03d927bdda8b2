// The service-request library of tools/gpibsrq over the GPIB stand-in: requests reach the
// callbacks on the library's thread, unregistering while requests arrive (also from the callback itself),
// the watch's errors handed out once, a missing GPIB-32.DLL, a timing store that ignores what it
// cannot trust, and the bus gap kept between processes, however many.
#include "gpib/NI488GPIB.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "gpib/GPIBResultCodes.h"
#include "gpib/GpibStandIns.h"
#include "platform/Clock.h"
#include "support/ChildProcessTest.h"

namespace {

using namespace std::chrono_literals;

struct Requests {
    std::atomic<int> Count{0};
    std::atomic<int> LastStatus{0};
    std::atomic<bool> Inside{false};
    std::atomic<bool> OnOtherThread{true};
    std::thread::id Caller = std::this_thread::get_id();
    // Set for a callback that unregisters itself.
    GPIBSRQLibrary *Library = nullptr;
    uint32_t Registration = 0;
    std::atomic<uint32_t> UnregisterResult{0xFFFFFFFF};
};

uint32_t Counting(unsigned char statusByte, void *context) {
    auto &requests = *static_cast<Requests *>(context);
    requests.Inside = true;
    if (std::this_thread::get_id() == requests.Caller)
        requests.OnOtherThread = false;
    requests.LastStatus = statusByte;
    std::this_thread::sleep_for(2ms); // a callback that is still running when unregistering starts
    ++requests.Count;
    requests.Inside = false;
    if (requests.Library != nullptr && requests.Count == 1)
        requests.UnregisterResult = requests.Library->UnRegisterSRQHandler(nullptr, requests.Registration);
    return 0;
}

class GpibSrqLibraryTest : public GpibStandInTest {
protected:
    void SetUp() override {
        GpibStandInTest::SetUp();
        AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
        ASSERT_EQ(0u, mLibrary.LoadGPIBSRQDLL());
        Bind(mGpib, "ibdev", mIbdev);
        Bind(mGpib, "ibwrt", mIbwrt);
        Bind(mGpib, "ibclr", mIbclr);
        Bind(mGpib, "ibonl", mIbonl);
        // The test's own handle: the instrument requests service when it has output.
        mDevice = mIbdev(0, 5, 0, NI488::T10s, 1, 0);
        ASSERT_GT(mDevice, 0);
        mIbwrt(mDevice, "*SRE 16", 7);
    }
    void TearDown() override {
        mIbonl(mDevice, 0);
        EXPECT_EQ(0, OpenDevices(0, 5, 0));
    }
    void RaiseRequest() {
        mIbclr(mDevice);
        QueueOutput(0, 5, 0, "X\n", 2);
    }

    GPIBSRQLibrary mLibrary;
    Gpib32Api::IbdevFunction mIbdev = nullptr;
    Gpib32Api::IbwrtFunction mIbwrt = nullptr;
    Gpib32Api::IbclrFunction mIbclr = nullptr;
    Gpib32Api::IbonlFunction mIbonl = nullptr;
    int mDevice = -1;
};

TEST_F(GpibSrqLibraryTest, RequestsReachEveryRegistrationOfTheDeviceOnTheLibrarysThread) {
    EXPECT_NE(std::string::npos, mSrq.FilePath().find("/plugin/libgpibsrq.so")) << mSrq.FilePath();
    Requests first, second;
    uint32_t firstRegistration = 0, secondRegistration = 0;
    ASSERT_EQ(0u, mLibrary.RegisterSRQHandler(nullptr, 0, 5, 0, Counting, &first, &firstRegistration));
    ASSERT_EQ(0u, mLibrary.RegisterSRQHandler(nullptr, 0, 5, 0, Counting, &second, &secondRegistration));
    EXPECT_NE(0u, firstRegistration);
    EXPECT_NE(firstRegistration, secondRegistration);
    // The test's handle and one of the library's for the device.
    EXPECT_EQ(2, OpenDevices(0, 5, 0));
    EXPECT_EQ(0u, mLibrary.SetExpectingSRQ(nullptr, firstRegistration));
    RaiseRequest();
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return first.Count == 1 && second.Count == 1; }, 5s));
    EXPECT_EQ(0x50, first.LastStatus); // RQS and MAV
    EXPECT_TRUE(first.OnOtherThread);
    EXPECT_EQ(0u, mLibrary.UnRegisterSRQHandler(nullptr, firstRegistration));
    RaiseRequest();
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return second.Count == 2; }, 5s));
    EXPECT_EQ(1, first.Count);
    EXPECT_EQ(GPIBResult::Argument, mLibrary.UnRegisterSRQHandler(nullptr, firstRegistration));
    EXPECT_EQ(GPIBResult::Argument, mLibrary.SetExpectingSRQ(nullptr, firstRegistration));
    EXPECT_EQ(0u, mLibrary.UnRegisterSRQHandler(nullptr, secondRegistration));
    EXPECT_EQ(1, OpenDevices(0, 5, 0));
}

TEST_F(GpibSrqLibraryTest, UnregisteringWhileRequestsArrive) {
    const auto unregisterAll =
        reinterpret_cast<GpibSrqApi::UnRegisterAllHandlersFunction>(mSrq.GetSymbol("UnRegisterAllHandlers"));
    ASSERT_NE(nullptr, unregisterAll);
    std::atomic<bool> raising{true};
    std::thread raiser([&] {
        while (raising) {
            RaiseRequest();
            std::this_thread::sleep_for(1ms);
        }
    });
    // "beside": another registration of the device stays, so only the callback is waited for.
    for (const std::string how : {"caller", "beside", "all", "callback"}) {
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE(how + " " + std::to_string(round));
            Requests requests, other;
            uint32_t otherRegistration = 0;
            if (how == "beside") {
                ASSERT_EQ(
                    0u, mLibrary.RegisterSRQHandler(nullptr, 0, 5, 0, Counting, &other, &otherRegistration));
            }
            if (how == "callback")
                requests.Library = &mLibrary;
            // The id is handed out before the first callback can run: the callback reads it there.
            uint32_t &registration = requests.Registration;
            ASSERT_EQ(0u, mLibrary.RegisterSRQHandler(nullptr, 0, 5, 0, Counting, &requests, &registration));
            ASSERT_TRUE(TestSupport::WaitUntil([&] { return requests.Count > 0; }, 5s));
            if (how == "callback") {
                // Returns at once on the callback's thread; the watch ends after the callback.
                ASSERT_TRUE(TestSupport::WaitUntil([&] { return requests.UnregisterResult == 0; }, 5s));
                ASSERT_TRUE(TestSupport::WaitUntil([&] { return OpenDevices(0, 5, 0) == 1; }, 5s));
            } else {
                EXPECT_EQ(0u, how == "all" ? unregisterAll(nullptr)
                                           : mLibrary.UnRegisterSRQHandler(nullptr, registration));
                EXPECT_FALSE(requests.Inside);
                EXPECT_EQ(how == "beside" ? 2 : 1, OpenDevices(0, 5, 0));
            }
            const int seen = requests.Count;
            std::this_thread::sleep_for(40ms);
            EXPECT_EQ(seen, requests.Count);
            if (how == "beside") {
                EXPECT_GT(other.Count, 1);
                EXPECT_EQ(0u, mLibrary.UnRegisterSRQHandler(nullptr, otherRegistration));
            }
        }
    }
    raising = false;
    raiser.join();
}

TEST_F(GpibSrqLibraryTest, WatchErrorsAreHandedOutOnce) {
    Requests requests;
    uint32_t registration = 0;
    ASSERT_EQ(0u, mLibrary.RegisterSRQHandler(nullptr, 0, 5, 0, Counting, &requests, &registration));
    EXPECT_EQ(0u, mLibrary.GetLastGPIBError(nullptr, registration));
    FailNext("ibwait", NI488::ELCK, 0); // another process's interface lock: no error of ours
    FailNext("ibwait", NI488::EBUS, 0);
    FailNext("ibwait", NI488::ENOL, 0);
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return PendingFailures() == 0; }, 5s));
    // The first error since the last question, then nothing.
    EXPECT_EQ(0x30000214u, mLibrary.GetLastGPIBError(nullptr, registration));
    EXPECT_EQ(0u, mLibrary.GetLastGPIBError(nullptr, registration));
    EXPECT_EQ(0u, mLibrary.GetLastGPIBError(nullptr, registration + 1));
    // The watch goes on after errors.
    RaiseRequest();
    EXPECT_TRUE(TestSupport::WaitUntil([&] { return requests.Count == 1; }, 5s));
    EXPECT_EQ(0u, mLibrary.UnRegisterSRQHandler(nullptr, registration));
}

// The library as the plug-in loads and unloads it, after a registration and a bus timing: each
// unload unmaps it and gives back the timing file's descriptor and the library's memory.
class GpibSrqUnloadTest : public GpibStandInTest {
protected:
    GpibSrqUnloadTest() { mWithServiceRequests = false; }

    static size_t OpenDescriptors() {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                 std::filesystem::directory_iterator()));
    }
};

TEST_F(GpibSrqUnloadTest, AnUnloadLeavesNoDescriptorOrMemoryBehind) {
    AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
    auto cycle = [&] {
        GPIBSRQLibrary library;
        ASSERT_EQ(0u, library.LoadGPIBSRQDLL());
        Requests requests;
        uint32_t registration = 0;
        ASSERT_EQ(0u, library.RegisterSRQHandler(nullptr, 0, 5, 0, Counting, &requests, &registration));
        const uint32_t delay = 100;
        const uint64_t counter = Platform::MonotonicMicroseconds();
        EXPECT_EQ(0u, library.SetLastTimingInformation(&delay, &counter));
        EXPECT_EQ(0u, library.UnRegisterSRQHandler(nullptr, registration));
        EXPECT_EQ(0u, library.UnloadGPIBSRQDLL());
        EXPECT_EQ(nullptr, dlopen("libgpibsrq.so", RTLD_NOW | RTLD_NOLOAD)) << "still loaded";
        EXPECT_EQ(nullptr, dlopen("libgpibsrq-core.so", RTLD_NOW | RTLD_NOLOAD)) << "code still loaded";
    };
    cycle(); // what the first load leaves (the loader's own) stays
    const size_t descriptors = OpenDescriptors();
    constexpr int Cycles = 20;
    for (int i = 0; i < Cycles; ++i)
        cycle();
    // The library's memory: LeakSanitizer's count at the end.
    EXPECT_EQ(descriptors, OpenDescriptors());
}

// A callback outlasts the unload's wait while another thread's unregistration waits for it: the
// unload gives up after its wait, and the code that both threads are in stays mapped.
TEST_F(GpibSrqUnloadTest, AnUnloadThatGivesUpKeepsTheCodeOfThreadsInsideMapped) {
    AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
    Gpib32Api::IbdevFunction ibdev = nullptr;
    Gpib32Api::IbwrtFunction ibwrt = nullptr;
    Gpib32Api::IbonlFunction ibonl = nullptr;
    Bind(mGpib, "ibdev", ibdev), Bind(mGpib, "ibwrt", ibwrt), Bind(mGpib, "ibonl", ibonl);
    const int device = ibdev(0, 5, 0, NI488::T10s, 1, 0);
    ASSERT_GT(device, 0);
    ibwrt(device, "*SRE 16", 7);
    GPIBSRQLibrary library;
    ASSERT_EQ(0u, library.LoadGPIBSRQDLL());
    // The waiting thread's own entry point: the host object's go with the unload.
    void *loaded = dlopen("libgpibsrq.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, loaded);
    const auto unregister =
        reinterpret_cast<GpibSrqApi::UnRegisterSRQHandlerFunction>(dlsym(loaded, "UnRegisterSRQHandler"));
    dlclose(loaded);
    ASSERT_NE(nullptr, unregister);
    static std::atomic<int> slowState{0}; // 1 inside the callback, 2 returned
    slowState = 0;
    const GpibSrqCallback slow = [](unsigned char, void *) -> uint32_t {
        slowState = 1;
        std::this_thread::sleep_for(7s);
        slowState = 2;
        return 0;
    };
    Requests other;
    uint32_t slowRegistration = 0, otherRegistration = 0;
    ASSERT_EQ(0u, library.RegisterSRQHandler(nullptr, 0, 5, 0, slow, nullptr, &slowRegistration));
    ASSERT_EQ(0u, library.RegisterSRQHandler(nullptr, 0, 5, 0, Counting, &other, &otherRegistration));
    QueueOutput(0, 5, 0, "X\n", 2);
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return slowState == 1; }, 5s));
    std::atomic<uint32_t> unregistered{0xFFFFFFFF};
    std::thread waiter([&] { unregistered = unregister(nullptr, slowRegistration); });
    std::this_thread::sleep_for(200ms); // the unregistration waits for the callback
    EXPECT_EQ(0u, library.UnloadGPIBSRQDLL());
    EXPECT_EQ(1, slowState.load()) << "the unload waited for the callback";
    EXPECT_EQ(nullptr, dlopen("libgpibsrq.so", RTLD_NOW | RTLD_NOLOAD)) << "still loaded";
    waiter.join();
    EXPECT_EQ(2, slowState.load());
    EXPECT_EQ(0u, unregistered.load());
    // The watch ends after the callback.
    EXPECT_TRUE(TestSupport::WaitUntil([&] { return OpenDevices(0, 5, 0) == 1; }, 5s));
    ibonl(device, 0);
}

TEST_F(GpibSrqLibraryTest, TimingStoreIgnoresWhatItCannotTrust) {
    const std::string store = mEnvironment.LockDir() + "/gpibsrq-timing";
    const uint32_t delay = 1500;
    const uint64_t now = Platform::MonotonicMicroseconds();
    ASSERT_EQ(0u, mLibrary.SetLastTimingInformation(&delay, &now));
    const std::string valid = TestSupport::ReadFile(store);
    ASSERT_EQ(24u, valid.size());
    std::string flipped = valid;
    flipped[4] ^= 1;
    const uint64_t ahead = now + 3600000000ull;
    const struct {
        const char *Title;
        std::string Content; // written over the store; empty: the store records a counter ahead
    } cases[] = {{"garbage", std::string(24, '\x5A')},
                 {"short", valid.substr(0, 12)},
                 {"changed delay", flipped},
                 {"counter ahead of the clock", ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Title);
        if (c.Content.empty())
            mLibrary.SetLastTimingInformation(&delay, &ahead);
        else
            TestSupport::WriteFile(store, c.Content);
        uint32_t readDelay = 1;
        uint64_t readCounter = 1;
        EXPECT_EQ(0u, mLibrary.GetLastTimingInformation(&readDelay, &readCounter));
        EXPECT_EQ(0u, readDelay);
        EXPECT_EQ(0u, readCounter);
    }
    // A turn counter that fails its check goes on after the highest turn in the slots.
    uint64_t turn = 0;
    for (int access = 0; access < 20; ++access) {
        ASSERT_EQ(0u, mLibrary.WaitForBusAccess(0, 0, &turn));
        mLibrary.EndBusAccess(turn, 0, Platform::MonotonicMicroseconds());
    }
    const uint64_t highest = turn;
    std::string turns = TestSupport::ReadFile(store);
    turns[40] ^= 1; // the counter's check word
    TestSupport::WriteFile(store, turns);
    ASSERT_EQ(0u, mLibrary.WaitForBusAccess(0, 0, &turn));
    EXPECT_EQ(highest + 1, turn);
    mLibrary.EndBusAccess(turn, 0, Platform::MonotonicMicroseconds());
    // The turn before belongs to a process that has ended but is not reaped yet: not waited for.
    const pid_t child = fork();
    if (child == 0) {
        mLibrary.WaitForBusAccess(0, 0, &turn); // taken, never ended
        _exit(0);
    }
    ASSERT_GT(child, 0);
    siginfo_t ended{};
    ASSERT_EQ(0, waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOWAIT));
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, mLibrary.WaitForBusAccess(0, 3000000, &turn));
    EXPECT_LT(TestSupport::MillisecondsSince(start), 1500) << "ms waited for the turn of an ended process";
    mLibrary.EndBusAccess(turn, 0, Platform::MonotonicMicroseconds());
    waitpid(child, nullptr, 0);
    // A holder of the file's flock that the machine stops for a while holds the access up: it then
    // takes its turn and keeps the gap after another process's access, not this process's timing.
    const int holder = open(store.c_str(), O_RDWR | O_CLOEXEC); // its flock acts as another process's
    const uint32_t otherDelay = 100000;
    const uint64_t beforeOther = Platform::MonotonicMicroseconds();
    if (fork() == 0) {
        const uint64_t at = Platform::MonotonicMicroseconds();
        _exit(mLibrary.SetLastTimingInformation(&otherDelay, &at) == 0 ? 0 : 1);
    }
    int otherStatus = -1;
    ASSERT_TRUE(wait(&otherStatus) > 0 && otherStatus == 0 && flock(holder, LOCK_EX) == 0);
    std::atomic<uint64_t> began{0};
    std::thread access([&] {
        ASSERT_EQ(0u, mLibrary.WaitForBusAccess(0, 1000000, &turn));
        began = Platform::MonotonicMicroseconds();
        mLibrary.EndBusAccess(turn, 0, began);
    });
    std::this_thread::sleep_for(20ms);
    flock(holder, LOCK_UN);
    access.join();
    EXPECT_GE(began, beforeOther + otherDelay) << "us: the access went before the other process's gap";
    // Trusted contents cost an access at most its time-out, and so does the flock held for good.
    // The exchanges run on a thread of their own, left behind when they overrun.
    const auto gpib = std::make_shared<NI488GPIB>(0, 5, 0);
    ASSERT_EQ(0u, gpib->OpenDevice(nullptr, 0, 5, 0));
    ASSERT_EQ(0u, gpib->SetTimeOutMilliseconds(nullptr, 100));
    for (const uint32_t hostile : {0xFFFFFFFFu, 0u}) {
        mLibrary.SetLastTimingInformation(&hostile, &now);
        ASSERT_TRUE(hostile != 0 || flock(holder, LOCK_EX) == 0);
        const int exchanges = hostile != 0 ? 15 : 2; // each access waits for the flock held
        const auto shortest = std::make_shared<std::atomic<uint64_t>>(0); // microseconds, 0 while running
        std::thread([gpib, shortest, exchanges] {
            uint64_t least = UINT64_MAX; // a failed exchange counts as endless
            for (int exchange = 0; exchange < exchanges; ++exchange) {
                const uint64_t start = Platform::MonotonicMicroseconds();
                std::string reply;
                if (gpib->SaveSendGPIB(nullptr, "*IDN?", false, 100, &reply) == 0 &&
                    reply == "ACME,SOURCE,1,2\n")
                    least = std::min(least, Platform::MonotonicMicroseconds() - start + 1);
            }
            *shortest = least;
        }).detach();
        ASSERT_TRUE(TestSupport::WaitUntil([&] { return *shortest != 0; },
                                           (hostile != 0 ? 100ms : exchanges * 2 * 100ms) +
                                               TestSupport::SchedulingSlack))
            << "the exchanges went past their time-out, delay " << hostile;
        // Every exchange answered; after the hostile delay, the later ones without waiting.
        EXPECT_LT(*shortest, hostile != 0 ? 100000u : UINT64_MAX) << "us of the shortest exchange";
    }
    close(holder);
    // Every slot holding a turn that stays to come (this process's, alive), and a last access with
    // the longest delay written anew all the time: each access waits its time-out at most, for the
    // turn and the delay together.
    for (size_t left = 0; left < 16; ++left)
        ASSERT_EQ(0u, mLibrary.WaitForBusAccess(0, 0, &turn));
    // Once the wait for such a turn ran out, the own delay after it still counts.
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, mLibrary.WaitForBusAccess(50000, 100000, &turn));
    EXPECT_GE(TestSupport::MillisecondsSince(start), 150) << "ms: the turn's deadline, then the own delay";
    std::atomic<bool> forging{true};
    std::thread forger([&] {
        const uint32_t longest = 0xFFFFFFFF;
        while (forging) {
            const uint64_t at = Platform::MonotonicMicroseconds();
            mLibrary.SetLastTimingInformation(&longest, &at);
            std::this_thread::sleep_for(1ms);
        }
    });
    const double timeOut = 300;
    ASSERT_EQ(0u, gpib->SetTimeOutMilliseconds(nullptr, static_cast<unsigned int>(timeOut)));
    double longestAccess = 0;
    for (int access = 0; access < 3; ++access) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0u, gpib->SendGPIB(nullptr, "X"));
        longestAccess = std::max(longestAccess, TestSupport::MillisecondsSince(start));
    }
    forging = false;
    forger.join();
    EXPECT_LT(longestAccess, 1.5 * timeOut) << "ms of the longest access";
    // A link in its place is not followed: its target stays as it was.
    const std::string target = mEnvironment.Root() + "/target";
    TestSupport::WriteFile(target, "keep");
    std::filesystem::remove(store);
    std::filesystem::create_symlink(target, store);
    mLibrary.SetLastTimingInformation(&delay, &now);
    EXPECT_EQ("keep", TestSupport::ReadFile(target));
}

constexpr uint32_t BusGap = 2000; // microseconds

std::string ChildFolder() {
    return TestSupport::RunnerEnv("KORVALIS_GPIB_CHILD");
}

// Written whole under another name first: the other process never reads half a file.
void Publish(const std::string &path, const std::string &content) {
    TestSupport::WriteFile(path + ".tmp", content);
    std::rename((path + ".tmp").c_str(), path.c_str());
}

bool WaitForFile(const std::string &path) {
    return TestSupport::WaitUntil([&] { return Platform::FileExists(path); }, 30s);
}

// A folder the children are told of, holding the lock directory that every process shares.
struct SharedBusFolder {
    TestSupport::TempDir Folder;
    TestSupport::ScopedEnv Child{"KORVALIS_GPIB_CHILD", Folder.Path()};
    TestSupport::ScopedEnv Locks{"KORVALIS_LOCK_DIR", Folder.Path() + "/locks"};
};

// Children are this program running one of the child tests below, each on a thread of its own.
class GpibSrqProcessesTest : public GpibStandInTest {
protected:
    void TearDown() override { JoinChildren(); }

    void StartChild(const std::string &test, const std::string &input) {
        char self[4096] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
        // Elements of a deque stay where they are while it grows.
        TestSupport::ProcessResult *result = &mResults.emplace_back();
        mRuns.emplace_back([result, input, program = std::string(self), test] {
            *result =
                TestSupport::RunProcess({program, "--gtest_filter=GpibSrqProcessesTest." + test}, input, 30s);
        });
    }

    void JoinChildren() {
        for (std::thread &run : mRuns)
            run.join();
        mRuns.clear();
    }

    std::deque<TestSupport::ProcessResult> mResults;
    std::vector<std::thread> mRuns;
};

} // namespace

// Without GPIB-32.DLL no registration is possible; the timing store does not need it.
TEST(GpibSrqLibraryAlone, MissingGpib32LibraryGivesItsCode) {
    void *loaded = dlopen("libgpib-32.so", RTLD_NOW | RTLD_NOLOAD);
    if (loaded != nullptr) {
        dlclose(loaded);
        GTEST_SKIP() << "an earlier test of this process loaded GPIB-32.DLL; it cannot be unloaded";
    }
    TestSupport::IsolatedEnvironment environment;
    const std::string standIns = StandIns::Directory();
    TestSupport::ScopedEnv path("KORVALIS_LIBRARY_PATH",
                                standIns.substr(0, standIns.find_last_of('/')) + "/plugin");
    GPIBSRQLibrary library;
    ASSERT_EQ(0u, library.LoadGPIBSRQDLL());
    uint32_t registration = 0;
    EXPECT_EQ(GPIBResult::GPIB32NotLoaded,
              library.RegisterSRQHandler(nullptr, 0, 5, 0, Counting, nullptr, &registration));
    const uint32_t delay = 700;
    const uint64_t counter = Platform::MonotonicMicroseconds();
    EXPECT_EQ(0u, library.SetLastTimingInformation(&delay, &counter));
    uint32_t readDelay = 0;
    uint64_t readCounter = 0;
    EXPECT_EQ(0u, library.GetLastTimingInformation(&readDelay, &readCounter));
    EXPECT_EQ(delay, readDelay);
    EXPECT_EQ(counter, readCounter);
}

// ---- Processes on one bus -----------------------------------------------------------------------

// Runs only as a child of the test below: writes when told, first without a delay of its own,
// then, a while later, with 200 ms; reports when each write began and the first one ended.
CHILD_TEST_F(GpibSrqProcessesTest, ChildWritesWhenTold, "KORVALIS_GPIB_CHILD") {
    const std::string folder = ChildFolder();
    TestSupport::ScopedEnv locks("KORVALIS_LOCK_DIR", folder + "/locks");
    AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
    NI488GPIB gpib(0, 5, 0);
    gpib.SetWait(0);
    ASSERT_EQ(0u, gpib.OpenDevice(nullptr, 0, 5, 0));
    Publish(folder + "/ready", "");
    ASSERT_TRUE(WaitForFile(folder + "/go"));
    const uint64_t firstBegin = Platform::MonotonicMicroseconds();
    ASSERT_EQ(0u, gpib.SendGPIB(nullptr, "CHILD 1"));
    const uint64_t firstEnd = Platform::MonotonicMicroseconds();
    std::this_thread::sleep_for(250ms);
    gpib.SetWait(200000);
    const uint64_t secondBegin = Platform::MonotonicMicroseconds();
    ASSERT_EQ(0u, gpib.SendGPIB(nullptr, "CHILD 2"));
    Publish(folder + "/times",
            std::to_string(firstBegin) + " " + std::to_string(firstEnd) + " " + std::to_string(secondBegin));
}

TEST_F(GpibSrqProcessesTest, TwoProcessesKeepTheBusGapBetweenThem) {
    const SharedBusFolder bus;
    const TestSupport::TempDir &folder = bus.Folder;
    AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
    NI488GPIB gpib(0, 5, 0);
    gpib.SetWait(0);
    ASSERT_EQ(0u, gpib.OpenDevice(nullptr, 0, 5, 0));
    StartChild("ChildWritesWhenTold", "");
    const bool ready = WaitForFile(folder.File("ready"));
    // The child's first write keeps this write's 300 ms.
    gpib.SetWait(300000);
    const uint64_t parentBegin = Platform::MonotonicMicroseconds();
    EXPECT_EQ(0u, gpib.SendGPIB(nullptr, "PARENT 1"));
    gpib.SetWait(0);
    Publish(folder.File("go"), "");
    // This write keeps the child's 200 ms after its second write.
    const bool reported = WaitForFile(folder.File("times"));
    EXPECT_EQ(0u, gpib.SendGPIB(nullptr, "PARENT 2"));
    const uint64_t parentEnd = Platform::MonotonicMicroseconds();
    JoinChildren();
    ASSERT_TRUE(ready && reported) << mResults[0].Output;
    ASSERT_EQ(0, mResults[0].ExitCode) << mResults[0].Output;
    unsigned long long firstBegin = 0, firstEnd = 0, secondBegin = 0;
    ASSERT_EQ(3, std::sscanf(TestSupport::ReadFile(folder.File("times")).c_str(), "%llu %llu %llu",
                             &firstBegin, &firstEnd, &secondBegin));
    EXPECT_GE(firstEnd, parentBegin + 300000);
    EXPECT_GE(parentEnd, secondBegin + 200000);
    EXPECT_GT(firstBegin, parentBegin);
}

// Runs only as a child of the test below: sends with the Wait BusGap once told to, then reports
// when the stand-in saw each write.
CHILD_TEST_F(GpibSrqProcessesTest, ChildSendsWithItsWait, "KORVALIS_GPIB_CHILD") {
    const std::string folder = ChildFolder();
    std::string name;
    size_t sends = 0;
    std::cin >> name >> sends;
    TestSupport::ScopedEnv locks("KORVALIS_LOCK_DIR", folder + "/locks");
    AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
    NI488GPIB gpib(0, 5, 0);
    gpib.SetWait(BusGap);
    ASSERT_EQ(0u, gpib.OpenDevice(nullptr, 0, 5, 0));
    Publish(folder + "/ready" + name, "");
    ASSERT_TRUE(WaitForFile(folder + "/go"));
    for (size_t send = 0; send < sends; ++send)
        ASSERT_EQ(0u, gpib.SendGPIB(nullptr, "X"));
    std::vector<uint64_t> times(sends);
    ASSERT_EQ(static_cast<long>(sends), WriteTimes(times.data(), static_cast<long>(sends)));
    Publish(folder + "/times" + name,
            std::string(reinterpret_cast<const char *>(times.data()), sends * sizeof(uint64_t)));
}

// Processes that wait for the same last access must not go together, however late a busy machine
// lets one of them run, and however many of them wait at once (more than the store's slots).
TEST_F(GpibSrqProcessesTest, ProcessesSendingAtOnceKeepTheWaitBetweenThem) {
    const struct { size_t Processes, Sends; } rows[] = {{2, 300}, {4, 300}, {17, 40}};
    for (const auto &row : rows) {
        TestSupport::TempDir folder;
        TestSupport::ScopedEnv child("KORVALIS_GPIB_CHILD", folder.Path());
        mResults.clear();
        bool ready = true;
        for (size_t index = 0; index < row.Processes; ++index)
            StartChild("ChildSendsWithItsWait", std::to_string(index) + " " + std::to_string(row.Sends));
        for (size_t index = 0; index < row.Processes; ++index)
            ready = ready && WaitForFile(folder.File("ready" + std::to_string(index)));
        Publish(folder.File("go"), "");
        JoinChildren();
        std::vector<std::pair<uint64_t, size_t>> writes; // when, by which process
        for (size_t index = 0; index < row.Processes; ++index) {
            ASSERT_TRUE(ready && mResults[index].ExitCode == 0) << mResults[index].Output;
            const std::string reported = TestSupport::ReadFile(folder.File("times" + std::to_string(index)));
            ASSERT_EQ(row.Sends * sizeof(uint64_t), reported.size());
            for (size_t send = 0; send < row.Sends; ++send) {
                uint64_t when = 0;
                std::memcpy(&when, reported.data() + send * sizeof when, sizeof when);
                writes.emplace_back(when, index);
            }
        }
        std::sort(writes.begin(), writes.end());
        size_t close = 0;
        for (size_t next = 1; next < writes.size(); ++next)
            if (writes[next].second != writes[next - 1].second &&
                writes[next].first - writes[next - 1].first < BusGap / 2)
                ++close;
        EXPECT_LT(close * 20, writes.size() - 1)
            << row.Processes << " processes: " << close << " of " << writes.size() - 1
            << " writes less than 1 ms after another process's";
    }
}

// Runs only as a child of the test below: takes a turn and ends without its access.
CHILD_TEST_F(GpibSrqProcessesTest, ChildLeavesATurn, "KORVALIS_GPIB_CHILD") {
    const std::string folder = ChildFolder();
    TestSupport::ScopedEnv locks("KORVALIS_LOCK_DIR", folder + "/locks");
    GPIBSRQLibrary library;
    uint64_t turn = 0;
    ASSERT_EQ(0u, library.LoadGPIBSRQDLL());
    ASSERT_EQ(0u, library.WaitForBusAccess(0, 0, &turn));
    std::_Exit(0);
}

// A turn whose access does not come holds up the next access for that access's time-out at most,
// the later ones not at all, and none once its process has ended.
TEST_F(GpibSrqProcessesTest, ATurnLeftHoldsUpTheNextAccessAtMostForItsTimeOut) {
    const SharedBusFolder bus;
    AddInstrument(0, 5, 0, "ACME,SOURCE,1,2");
    NI488GPIB gpib(0, 5, 0);
    ASSERT_EQ(0u, gpib.OpenDevice(nullptr, 0, 5, 0));
    const auto timedSend = [&](unsigned int timeOut) {
        EXPECT_EQ(0u, gpib.SetTimeOutMilliseconds(nullptr, timeOut));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0u, gpib.SendGPIB(nullptr, "X"));
        return TestSupport::MillisecondsSince(start);
    };
    StartChild("ChildLeavesATurn", "");
    JoinChildren();
    ASSERT_EQ(0, mResults[0].ExitCode) << mResults[0].Output;
    EXPECT_LT(timedSend(10000), TestSupport::SchedulingSlack.count()) << "waited for an ended process's turn";
    GPIBSRQLibrary library; // a turn of this process's own, still to come
    uint64_t turn = 0;
    ASSERT_EQ(0u, library.LoadGPIBSRQDLL());
    ASSERT_EQ(0u, library.WaitForBusAccess(0, 0, &turn));
    const double timeOut = 1000;
    const auto waited = timedSend(static_cast<unsigned int>(timeOut));
    EXPECT_GE(waited, timeOut);
    EXPECT_LT(waited, 1.5 * timeOut);
    // The accesses after it go on without waiting, also those that come round to its slot.
    const auto start = std::chrono::steady_clock::now();
    for (int access = 0; access < 40; ++access)
        ASSERT_EQ(0u, gpib.SendGPIB(nullptr, "X"));
    EXPECT_LT(TestSupport::MillisecondsSince(start), timeOut / 2) << "ms of 40 accesses";
}
