// Named mutexes across threads and processes, and events.
#include "platform/NamedMutex.h"
#include "platform/TurnSegment.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Platform;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

long ElapsedMs(SteadyClock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count());
}

// A forked child that talks to the test through two pipes. The child runs body and leaves with
// _exit(body's result); it never returns into the test framework.
class ChildProcess {
public:
    explicit ChildProcess(const std::function<int(ChildProcess &)> &body) {
        if (pipe(mToChild) != 0 || pipe(mToParent) != 0)
            return;
        mPid = fork();
        if (mPid == 0) {
            close(mToChild[1]);
            close(mToParent[0]);
            mIn = mToChild[0];
            mOut = mToParent[1];
            int rc = 99;
            try {
                rc = body(*this);
            } catch (...) {
            }
            _exit(rc);
        }
        close(mToChild[0]);
        close(mToParent[1]);
        mIn = mToParent[0];
        mOut = mToChild[1];
    }
    ~ChildProcess() {
        if (mPid > 0 && !mJoined) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
        close(mIn);
        close(mOut);
    }
    bool Started() const { return mPid > 0; }
    void Send(char c) { (void)!write(mOut, &c, 1); }
    // The next byte from the other side, or 0 when none came in time.
    char Receive(std::chrono::milliseconds timeout = 10s) {
        pollfd p{mIn, POLLIN, 0};
        char c = 0;
        if (poll(&p, 1, static_cast<int>(timeout.count())) == 1 && read(mIn, &c, 1) == 1)
            return c;
        return 0;
    }
    void Kill() { Signal(SIGKILL); }
    void Signal(int signal) { kill(mPid, signal); }
    // Exit code, or -1 when the child did not end in time (it is killed then).
    int Join(std::chrono::milliseconds timeout = 10s) {
        auto deadline = SteadyClock::now() + timeout;
        int status = 0;
        while (waitpid(mPid, &status, WNOHANG) == 0) {
            if (SteadyClock::now() >= deadline) {
                kill(mPid, SIGKILL);
                waitpid(mPid, &status, 0);
                mJoined = true;
                return -1;
            }
            std::this_thread::sleep_for(2ms);
        }
        mJoined = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    int mToChild[2] = {-1, -1};
    int mToParent[2] = {-1, -1};
    int mIn = -1, mOut = -1;
    pid_t mPid = -1;
    bool mJoined = false;
};

// Result of a wait sent over a pipe as one character.
char Code(DWORD result) {
    switch (result) {
    case WaitObject0:
        return 'O';
    case WaitAbandoned:
        return 'A';
    case WaitTimeout:
        return 'T';
    default:
        return 'F';
    }
}

class NamedMutexTest : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment mEnv;
    std::wstring mName = L"Global\\KORVALIS:DS:VISA:TCPIP0::127.0.0.1::INST0::INSTR";
};

TEST_F(NamedMutexTest, ExcludesOtherProcessesUntilReleased) {
    NamedMutex mutex(mName);
    ChildProcess child([&](ChildProcess &self) {
        NamedMutex own(mName);
        self.Send(Code(own.Wait(0)));
        if (self.Receive() != 'R')
            return 1;
        std::this_thread::sleep_for(100ms);
        return own.Release() ? 0 : 2;
    });
    ASSERT_TRUE(child.Started());
    ASSERT_EQ('O', child.Receive());

    auto start = SteadyClock::now();
    EXPECT_EQ(WaitTimeout, mutex.Wait(300));
    long waited = ElapsedMs(start);
    EXPECT_GE(waited, 300);
    EXPECT_LT(waited, 300 + TestSupport::SchedulingSlack.count());

    // The child releases only after the infinite wait has started; it ends by itself if not.
    child.Send('R');
    EXPECT_EQ(WaitObject0, mutex.Wait(Infinite));
    EXPECT_EQ(0, child.Join());
    EXPECT_TRUE(mutex.Release());
}

TEST_F(NamedMutexTest, TimedWaitObtainsItWhenTheOtherProcessReleases) {
    NamedMutex mutex(mName);
    ChildProcess child([&](ChildProcess &self) {
        NamedMutex own(mName);
        self.Send(Code(own.Wait(0)));
        std::this_thread::sleep_for(200ms);
        return own.Release() ? 0 : 2;
    });
    ASSERT_EQ('O', child.Receive());
    EXPECT_EQ(WaitObject0, mutex.Wait(5000));
    EXPECT_EQ(0, child.Join());
    mutex.Release();
}

TEST_F(NamedMutexTest, KilledHolderCountsAsObtained) {
    NamedMutex mutex(mName);
    ChildProcess child([&](ChildProcess &self) {
        NamedMutex own(mName);
        self.Send(Code(own.Wait(0)));
        self.Receive(30s); // until killed
        return 0;
    });
    ASSERT_EQ('O', child.Receive());
    EXPECT_EQ(WaitTimeout, mutex.Wait(0));
    child.Kill();
    EXPECT_EQ(-1, child.Join());

    EXPECT_EQ(WaitAbandoned, mutex.Wait(2000));
    EXPECT_TRUE(mutex.Release());
    // A clean release leaves no trace of a dead holder.
    EXPECT_EQ(WaitObject0, mutex.Wait(0));
    EXPECT_TRUE(mutex.Release());
}

// A stopped holder still holds: a timed wait ends at its deadline, and once the holder goes on
// and releases, the next wait obtains it.
TEST_F(NamedMutexTest, StoppedHolderKeepsItAndWaitsTimeOut) {
    NamedMutex mutex(mName);
    ChildProcess holder([&](ChildProcess &self) {
        NamedMutex own(mName);
        self.Send(Code(own.Wait(0)));
        if (self.Receive(30s) != 'R')
            return 1;
        return own.Release() ? 0 : 2;
    });
    ASSERT_EQ('O', holder.Receive());
    holder.Signal(SIGSTOP);
    auto timed = std::async(std::launch::async, [&] {
        const auto start = SteadyClock::now();
        const DWORD result = mutex.Wait(300);
        return std::make_pair(result, ElapsedMs(start));
    });
    const bool inTime = timed.wait_for(5s) == std::future_status::ready;
    holder.Signal(SIGCONT);
    holder.Send('R');
    ASSERT_TRUE(inTime) << "the wait went past its deadline";
    const auto [result, waited] = timed.get();
    EXPECT_EQ(WaitTimeout, result);
    EXPECT_GE(waited, 300);
    EXPECT_LT(waited, 300 + TestSupport::SchedulingSlack.count());
    EXPECT_EQ(0, holder.Join());
    EXPECT_EQ(WaitObject0, mutex.Wait(0));
    EXPECT_TRUE(mutex.Release());
}

// The process that releases queues behind the one that was waiting, and the hand-over wakes it.
// A waiter that gets no processor within the hand-over's grace is passed over by design, so a
// loaded machine may cost a round; taking the lock back ahead of the waiter fails every round.
TEST_F(NamedMutexTest, AReleasingProcessQueuesBehindAWaitingOne) {
    NamedMutex mutex(mName);
    bool queued = false;
    for (int round = 0; round < 3 && !queued; ++round) {
        ASSERT_EQ(WaitObject0, mutex.Wait(0));
        ChildProcess waiter([&](ChildProcess &self) {
            NamedMutex own(mName);
            self.Send('W');
            const DWORD result = own.Wait(5000);
            self.Send(Code(result));
            std::this_thread::sleep_for(100ms);
            return own.Release() ? 0 : 2;
        });
        ASSERT_EQ('W', waiter.Receive());
        std::this_thread::sleep_for(100ms); // the child is queued by now
        ASSERT_TRUE(mutex.Release());
        const auto released = SteadyClock::now();
        EXPECT_EQ(WaitObject0, mutex.Wait(5000));
        queued = ElapsedMs(released) >= 90 && waiter.Receive(0ms) == 'O';
        EXPECT_TRUE(mutex.Release());
        EXPECT_EQ(0, waiter.Join());
    }
    EXPECT_TRUE(queued) << "taken back ahead of the waiting process";
}

// Processes that take the lock again at once are served in turn: nobody waits much longer than
// one round of the others' holds, and nobody times out.
TEST_F(NamedMutexTest, ContendingProcessesAreServedInTurn) {
    constexpr int Processes = 8;
    constexpr int Rounds = 8;
    constexpr auto Hold = 4ms;
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < Processes; ++i) {
        children.push_back(std::make_unique<ChildProcess>([&](ChildProcess &self) {
            NamedMutex own(mName);
            if (self.Receive() != 'S')
                return 1;
            long longest = 0;
            for (int round = 0; round < Rounds; ++round) {
                const auto start = SteadyClock::now();
                if (own.Wait(5000) != WaitObject0)
                    return 2;
                longest = std::max(longest, ElapsedMs(start));
                std::this_thread::sleep_for(Hold);
                own.Release();
            }
            self.Send(static_cast<char>(std::min(longest / 2, 120L) + 1)); // in 2 ms steps
            return 0;
        }));
        ASSERT_TRUE(children.back()->Started());
    }
    for (auto &child : children)
        child->Send('S');
    const long fairTurn = Processes * static_cast<long>(Hold.count());
    for (auto &child : children) {
        const long longest = (child->Receive() - 1) * 2L;
        EXPECT_GE(longest, 0);
        EXPECT_LE(longest, 4 * fairTurn) << "a wait far longer than one round of turns";
        EXPECT_EQ(0, child->Join()) << "a wait timed out";
    }
}

// A waiter that times out or is killed while queued does not hold up those behind it: the one
// behind takes the lock far short of its own deadline, where a hold-up would end; the ticket of one
// that timed out is passed by at the release itself. The bound is the
// loaded machine's slack: the span holds three wake-ups of two processes, which a busy machine
// may each put off by many time slices.
TEST_F(NamedMutexTest, AQueuedWaiterThatLeavesHoldsNobodyUp) {
    const DWORD behindTimeout = 4 * TestSupport::SchedulingSlack.count();
    for (const bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "killed" : "timed out");
        NamedMutex mutex(mName);
        ASSERT_EQ(WaitObject0, mutex.Wait(0));
        auto queue = [&](DWORD timeout) {
            return std::make_unique<ChildProcess>([&, timeout](ChildProcess &self) {
                NamedMutex own(mName);
                self.Send('W');
                const DWORD result = own.Wait(timeout);
                self.Send(Code(result));
                return result == WaitObject0 && own.Release() ? 0 : 2;
            });
        };
        auto leaving = queue(killed ? 10000 : 300);
        ASSERT_EQ('W', leaving->Receive());
        std::this_thread::sleep_for(50ms);
        auto behind = queue(behindTimeout);
        ASSERT_EQ('W', behind->Receive());
        std::this_thread::sleep_for(50ms);
        if (killed) {
            leaving->Kill();
            EXPECT_EQ(-1, leaving->Join());
        } else {
            EXPECT_EQ('T', leaving->Receive());
        }
        ASSERT_TRUE(mutex.Release());
        const auto released = SteadyClock::now();
        if (!killed) {
            // The release passed the turn by the ticket that was left, right to the one behind.
            struct stat st;
            ASSERT_EQ(0, stat(NamedMutex::LockFilePath(mName).c_str(), &st));
            void *segment = shmat(shmget(TurnSegmentKey(st.st_dev, st.st_ino), 0, 0), nullptr, SHM_RDONLY);
            ASSERT_NE(reinterpret_cast<void *>(-1), segment);
            const TurnRecord &turn = static_cast<TurnSegment *>(segment)->turn;
            EXPECT_LE(turn.next - turn.serving, 1u) << "the turn stayed at the ticket that was left";
            shmdt(segment);
        }
        EXPECT_EQ('O', behind->Receive());
        EXPECT_LT(ElapsedMs(released), TestSupport::SchedulingSlack.count());
        EXPECT_EQ(0, behind->Join());
    }
}

// Any local user may write the turn record: nonsense in it never lets two processes hold the
// lock, nor keeps a free lock from being taken before the deadline.
TEST_F(NamedMutexTest, NonsenseInTheTurnRecordCostsNoExclusion) {
    const uint32_t pid = static_cast<uint32_t>(getpid());
    const std::pair<const char *, std::function<void(TurnSegment &)>> cases[] = {
        {"all ones", [](TurnSegment &s) { memset(&s.turn, 0xFF, sizeof s.turn); }},
        {"turn far ahead", [](TurnSegment &s) { s.turn = {7, 5, 0x80000000u, 0, 0, {}}; }},
        {"turn far behind", [](TurnSegment &s) { s.turn = {7, 0x70000000u, 3, 0, 0, {}}; }},
        {"holder without its check", [pid](TurnSegment &s) { s.turn = {0, 0, 0, pid, 0, {}}; }},
        {"holder out of range", [](TurnSegment &s) { s.turn = {0, 0, 0, 0x7FFFFFFFu, ~0x7FFFFFFFu, {}}; }},
        {"closing mark left", [](TurnSegment &s) { s.closing = ~0u; }},
        {"another file's", [](TurnSegment &s) { s.inode = ~s.inode; }},
    };
    const std::string path = NamedMutex::LockFilePath(mName);
    for (const auto &[what, scribble] : cases) {
        SCOPED_TRACE(what);
        NamedMutex mutex(mName);
        ASSERT_EQ(WaitObject0, mutex.Wait(0));
        ASSERT_TRUE(mutex.Release());
        struct stat st;
        ASSERT_EQ(0, stat(path.c_str(), &st));
        const int id = shmget(TurnSegmentKey(st.st_dev, st.st_ino), 0, 0);
        ASSERT_GE(id, 0);
        void *segment = shmat(id, nullptr, 0);
        ASSERT_NE(reinterpret_cast<void *>(-1), segment);
        scribble(*static_cast<TurnSegment *>(segment));
        shmdt(segment);

        ChildProcess holder([&](ChildProcess &self) {
            NamedMutex own(mName);
            const DWORD result = own.Wait(1000);
            self.Send(result == WaitAbandoned ? 'O' : Code(result));
            if (self.Receive() != 'R')
                return 1;
            return own.Release() ? 0 : 2;
        });
        ASSERT_EQ('O', holder.Receive());
        EXPECT_EQ(WaitTimeout, mutex.Wait(0));
        holder.Send('R');
        EXPECT_EQ(0, holder.Join());
        const auto start = SteadyClock::now();
        EXPECT_EQ(WaitObject0, mutex.Wait(1000));
        EXPECT_LT(ElapsedMs(start), 500);
        EXPECT_TRUE(mutex.Release());
    }
}

// Any local user may also cut a lock file or write into it while others hold and wait: nobody
// crashes and the lock still excludes.
TEST_F(NamedMutexTest, ALockFileCutOrOverwrittenCostsNoExclusion) {
    const std::string path = NamedMutex::LockFilePath(mName);
    auto rewrite = [&](const std::string &content) {
        const int fd = open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(0, ftruncate(fd, 0));
        EXPECT_EQ(static_cast<ssize_t>(content.size()), write(fd, content.data(), content.size()));
        close(fd);
    };
    NamedMutex mutex(mName);
    ASSERT_EQ(WaitObject0, mutex.Wait(0));
    ChildProcess waiter([&](ChildProcess &self) {
        NamedMutex own(mName);
        self.Send('W');
        self.Send(Code(own.Wait(5000)));
        if (self.Receive() != 'R')
            return 1;
        return own.Release() ? 0 : 2;
    });
    ASSERT_EQ('W', waiter.Receive());
    std::this_thread::sleep_for(50ms); // queued by now
    rewrite("");
    ASSERT_TRUE(mutex.Release());
    EXPECT_EQ('O', waiter.Receive());
    rewrite(std::string(4096, '\xA5'));
    EXPECT_EQ(WaitTimeout, mutex.Wait(0));
    waiter.Send('R');
    EXPECT_EQ(0, waiter.Join());
    EXPECT_EQ(WaitObject0, mutex.Wait(1000));
    EXPECT_TRUE(mutex.Release());
}

TEST_F(NamedMutexTest, RecursiveForItsOwnerWithBalancedReleases) {
    NamedMutex mutex(mName);
    NamedMutex sameName(mName);
    EXPECT_EQ(WaitObject0, mutex.Wait(0));
    EXPECT_EQ(WaitObject0, mutex.Wait(0));
    EXPECT_EQ(WaitObject0, sameName.Wait(0)); // one mutex per name: the owner enters again

    auto otherProcessGets = [&] {
        ChildProcess child([&](ChildProcess &) {
            NamedMutex own(mName);
            return own.Wait(0) == WaitObject0 ? 0 : 1;
        });
        return child.Join() == 0;
    };
    EXPECT_TRUE(mutex.Release());
    EXPECT_TRUE(sameName.Release());
    EXPECT_FALSE(otherProcessGets());
    EXPECT_TRUE(mutex.Release());
    EXPECT_TRUE(otherProcessGets());
    EXPECT_FALSE(mutex.Release());
}

TEST_F(NamedMutexTest, SecondObjectOnAnotherThreadWaits) {
    NamedMutex mutex(mName);
    ASSERT_EQ(WaitObject0, mutex.Wait(0));

    auto timedOut = std::async(std::launch::async, [&] {
        NamedMutex other(mName);
        auto start = SteadyClock::now();
        DWORD result = other.Wait(200);
        return std::make_pair(result, ElapsedMs(start));
    });
    ASSERT_EQ(std::future_status::ready, timedOut.wait_for(5s));
    auto [result, waited] = timedOut.get();
    EXPECT_EQ(WaitTimeout, result);
    EXPECT_GE(waited, 200);
    EXPECT_LT(waited, 200 + TestSupport::SchedulingSlack.count());

    std::atomic<bool> obtained{false};
    auto obtains = std::async(std::launch::async, [&] {
        NamedMutex other(mName);
        DWORD r = other.Wait(5000);
        obtained = true;
        other.Release();
        return r;
    });
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return mutex.WaitingThreads() == 1; }, 5s));
    EXPECT_FALSE(obtained);
    EXPECT_TRUE(mutex.Release());
    ASSERT_EQ(std::future_status::ready, obtains.wait_for(5s));
    EXPECT_EQ(WaitObject0, obtains.get());
}

TEST_F(NamedMutexTest, ReleaseByANonOwnerChangesNothing) {
    NamedMutex mutex(mName);
    ASSERT_EQ(WaitObject0, mutex.Wait(0));
    auto foreign = std::async(std::launch::async, [&] {
        bool released = mutex.Release();
        return std::make_pair(released, mutex.Wait(0));
    });
    ASSERT_EQ(std::future_status::ready, foreign.wait_for(5s));
    auto [released, waitResult] = foreign.get();
    EXPECT_FALSE(released);
    EXPECT_EQ(WaitTimeout, waitResult);
    EXPECT_TRUE(mutex.Release());
    EXPECT_FALSE(mutex.Release());
}

TEST_F(NamedMutexTest, ThreadThatEndsHoldingItAbandonsIt) {
    NamedMutex mutex(mName);
    std::thread([&] { EXPECT_EQ(WaitObject0, mutex.Wait(0)); }).join();
    EXPECT_EQ(WaitAbandoned, mutex.Wait(1000));
    EXPECT_TRUE(mutex.Release());
    EXPECT_EQ(WaitObject0, mutex.Wait(0));
    EXPECT_TRUE(mutex.Release());
}

// Forked while the parent holds it, and while the parent only has its lock file open.
TEST_F(NamedMutexTest, ForkedChildNeitherOwnsNorKeepsTheParentsLock) {
    for (bool heldAtFork : {true, false}) {
        SCOPED_TRACE(heldAtFork);
        NamedMutex mutex(mName);
        ASSERT_EQ(WaitObject0, mutex.Wait(0));
        if (!heldAtFork) {
            ASSERT_TRUE(mutex.Release());
        }
        ChildProcess inheritor([&](ChildProcess &self) {
            if (self.Receive() != 'W')
                return 1;
            self.Send(Code(mutex.Wait(0)));
            self.Receive(); // stays alive with its copy of everything until told to go
            return 0;
        });
        if (!heldAtFork) {
            ASSERT_EQ(WaitObject0, mutex.Wait(0));
        }
        inheritor.Send('W');
        EXPECT_EQ('T', inheritor.Receive());
        EXPECT_TRUE(mutex.Release());

        ChildProcess other([&](ChildProcess &) {
            NamedMutex own(mName);
            return own.Wait(0) == WaitObject0 && own.Release() ? 0 : 1;
        });
        EXPECT_EQ(0, other.Join());
        inheritor.Send('Q');
        EXPECT_EQ(0, inheritor.Join());
    }
}

// A cleaner of temporary files may remove the lock directory while a mutex object lives on: the
// mutex then excludes through the file that other processes open now.
TEST_F(NamedMutexTest, ALockFileRemovedMeanwhileGivesWayToTheNewOne) {
    NamedMutex mutex(mName);
    ASSERT_EQ(WaitObject0, mutex.Wait(0));
    ASSERT_TRUE(mutex.Release());
    std::filesystem::remove_all(mEnv.LockDir());

    ChildProcess holder([&](ChildProcess &self) {
        NamedMutex own(mName);
        self.Send(Code(own.Wait(0)));
        if (self.Receive() != 'R')
            return 1;
        return own.Release() ? 0 : 2;
    });
    ASSERT_EQ('O', holder.Receive());
    EXPECT_EQ(WaitTimeout, mutex.Wait(0));
    holder.Send('R');
    EXPECT_EQ(0, holder.Join());
    EXPECT_EQ(WaitObject0, mutex.Wait(0));
    EXPECT_TRUE(mutex.Release());
}

// Without another process opening the name, a removed lock file is still noticed, within about a
// second: the mutex makes the file anew and excludes through it.
TEST_F(NamedMutexTest, ARemovedLockFileIsNoticedWithoutANewOpen) {
    const std::string path = NamedMutex::LockFilePath(mName);
    NamedMutex mutex(mName);
    ASSERT_EQ(WaitObject0, mutex.Wait(0));
    ASSERT_TRUE(mutex.Release());
    ASSERT_TRUE(std::filesystem::remove(path));
    std::this_thread::sleep_for(1100ms);
    ASSERT_EQ(WaitObject0, mutex.Wait(0));
    EXPECT_TRUE(std::filesystem::exists(path));
    ChildProcess other([&](ChildProcess &) {
        NamedMutex own(mName);
        return own.Wait(0) == WaitTimeout ? 0 : 1;
    });
    EXPECT_EQ(0, other.Join());
    EXPECT_TRUE(mutex.Release());
}

TEST_F(NamedMutexTest, LockFilesLiveInTheLockDirectoryUnderSafeNames) {
    const std::string path = NamedMutex::LockFilePath(mName);
    ASSERT_EQ(mEnv.LockDir() + "/", path.substr(0, mEnv.LockDir().size() + 1));
    const std::string file = path.substr(mEnv.LockDir().size() + 1);
    EXPECT_EQ(std::string::npos, file.find_first_of("/\\:"));
    EXPECT_NE(NamedMutex::LockFilePath(L"Global\\a"), NamedMutex::LockFilePath(L"Global/a"));
    EXPECT_NE(NamedMutex::LockFilePath(L"MUTEX"), NamedMutex::LockFilePath(L"mutex"));

    std::wstring longName(1000, L'x');
    std::wstring otherLongName = longName + L"y";
    std::string longPath = NamedMutex::LockFilePath(longName);
    EXPECT_LT(longPath.size() - mEnv.LockDir().size(), 255u);
    EXPECT_NE(longPath, NamedMutex::LockFilePath(otherLongName));

    // The directory is made on demand, writable by everyone; lock files are too.
    TestSupport::ScopedEnv dir("KORVALIS_LOCK_DIR", mEnv.Root() + "/fresh/locks");
    NamedMutex mutex(longName);
    ASSERT_EQ(WaitObject0, mutex.Wait(0));
    struct stat st;
    ASSERT_EQ(0, stat((mEnv.Root() + "/fresh/locks").c_str(), &st));
    EXPECT_EQ(01777u, st.st_mode & 07777);
    ASSERT_EQ(0, stat(NamedMutex::LockFilePath(longName).c_str(), &st));
    EXPECT_EQ(0666u, st.st_mode & 0777);
    EXPECT_TRUE(mutex.Release());
}

// The lock directory may be shared by several users: a planted link or a directory that others
// can rearrange is not used, and a lock file is opened without following, blocking or changing
// anything a lock file would not hold.
TEST_F(NamedMutexTest, LockDirectoryAndFilesThatOthersCouldPlantAreRefused) {
    const std::string root = mEnv.Root();
    std::filesystem::create_directory(root + "/real");
    std::filesystem::create_directory_symlink(root + "/real", root + "/link");
    for (const auto &[dir, mode] :
         {std::pair<const char *, mode_t>{"link", 0}, {"open", 0777}, {"group", 0775}}) {
        SCOPED_TRACE(dir);
        const std::string path = root + "/" + dir;
        if (mode != 0) {
            std::filesystem::create_directory(path);
            ASSERT_EQ(0, chmod(path.c_str(), mode));
        }
        TestSupport::ScopedEnv env("KORVALIS_LOCK_DIR", path);
        NamedMutex mutex(mName);
        EXPECT_EQ(WaitFailed, mutex.Wait(0));
        EXPECT_TRUE(std::filesystem::is_empty(root + "/real"));
    }

    // In the lock directory: a link, a FIFO and a second name of another file are no lock files.
    const std::string victim = root + "/victim";
    TestSupport::WriteFile(victim, "precious");
    const std::string path = NamedMutex::LockFilePath(mName);
    std::filesystem::create_directories(mEnv.LockDir());
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        std::filesystem::remove(path);
        if (kind == 0)
            std::filesystem::create_symlink(victim, path);
        else if (kind == 1)
            ASSERT_EQ(0, mkfifo(path.c_str(), 0666));
        else
            std::filesystem::create_hard_link(victim, path);
        NamedMutex mutex(mName);
        auto result = std::async(std::launch::async, [&] { return mutex.Wait(0); });
        ASSERT_EQ(std::future_status::ready, result.wait_for(10s)) << "the open blocked";
        EXPECT_EQ(WaitFailed, result.get());
    }
    EXPECT_EQ("precious", TestSupport::ReadFile(victim));

    // An existing lock file keeps its mode and is never cut.
    std::filesystem::remove(path);
    TestSupport::WriteFile(path, std::string(40, ' '));
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    NamedMutex mutex(mName);
    EXPECT_EQ(WaitObject0, mutex.Wait(0));
    EXPECT_TRUE(mutex.Release());
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(40, st.st_size);
}

TEST_F(NamedMutexTest, UnnamedMutexIsPrivateToItsObject) {
    NamedMutex first(L"");
    NamedMutex second(L"");
    EXPECT_EQ("", NamedMutex::LockFilePath(L""));
    EXPECT_EQ(WaitObject0, first.Wait(0));
    auto other =
        std::async(std::launch::async, [&] { return std::make_pair(second.Wait(0), first.Wait(0)); });
    ASSERT_EQ(std::future_status::ready, other.wait_for(5s));
    auto [secondResult, firstResult] = other.get();
    EXPECT_EQ(WaitObject0, secondResult);
    EXPECT_EQ(WaitTimeout, firstResult);
    EXPECT_TRUE(first.Release());
}

TEST_F(NamedMutexTest, ALibraryThatUsedItOnThisThreadStillUnloads) {
    const std::string binaryDir = TestSupport::RunnerEnv("KORVALIS_BINARY_DIR");
    if (binaryDir.empty())
        GTEST_SKIP() << "run through ctest (the probe library lies in the build tree)";
    const std::string probe = binaryDir + "/stand-ins/libnamedmutexprobe.so";
    for (int round = 0; round < 2; ++round) {
        void *library = dlopen(probe.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        using LockOnce = unsigned long (*)(const wchar_t *);
        auto lockOnce = reinterpret_cast<LockOnce>(dlsym(library, "NamedMutexProbeLockOnce"));
        ASSERT_NE(lockOnce, nullptr);
        EXPECT_EQ(WaitObject0, lockOnce(mName.c_str()));
        ASSERT_EQ(0, dlclose(library));
        // Per-thread bookkeeping must not pin the library (the plug-in unloads and loads again).
        void *still = dlopen(probe.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(still, nullptr) << "the library stayed mapped after its last dlclose";
        if (still != nullptr)
            dlclose(still);
    }
}

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
    Event event(true, false);
    EXPECT_EQ(WaitTimeout, event.Wait(0));
    event.Set();
    EXPECT_EQ(WaitObject0, event.Wait(0));
    EXPECT_EQ(WaitObject0, event.Wait(0));
    event.Reset();
    auto start = SteadyClock::now();
    EXPECT_EQ(WaitTimeout, event.Wait(100));
    EXPECT_GE(ElapsedMs(start), 100);
    EXPECT_LT(ElapsedMs(start), 100 + TestSupport::SchedulingSlack.count());
}

TEST(EventTest, ManualResetSetReleasesEveryWaiter) {
    Event event(true, false);
    std::vector<std::future<DWORD>> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.push_back(std::async(std::launch::async, [&] { return event.Wait(5000); }));
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return event.WaitingThreads() == 3; }, 5s));
    event.Set();
    for (auto &w : waiters) {
        ASSERT_EQ(std::future_status::ready, w.wait_for(5s));
        EXPECT_EQ(WaitObject0, w.get());
    }
}

TEST(EventTest, AutoResetLetsOneWaiterThroughPerSet) {
    Event event(false, true);
    EXPECT_EQ(WaitObject0, event.Wait(0));
    EXPECT_EQ(WaitTimeout, event.Wait(0));

    std::vector<std::future<DWORD>> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.push_back(std::async(std::launch::async, [&] { return event.Wait(2000); }));
    ASSERT_TRUE(TestSupport::WaitUntil([&] { return event.WaitingThreads() == 2; }, 5s));
    event.Set();
    int obtained = 0, timedOut = 0;
    for (auto &w : waiters) {
        ASSERT_EQ(std::future_status::ready, w.wait_for(5s));
        DWORD r = w.get();
        obtained += r == WaitObject0;
        timedOut += r == WaitTimeout;
    }
    EXPECT_EQ(1, obtained);
    EXPECT_EQ(1, timedOut);
    EXPECT_EQ(WaitTimeout, event.Wait(0));
}

} // namespace
