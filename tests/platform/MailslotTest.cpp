// The mailslot over a real collector socket: records on the wire, back-pressure, restarts.
#include "platform/Mailslot.h"

#include "platform/Text.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace Platform;
using namespace std::chrono;

namespace {

const std::wstring SlotName = L"\\\\.\\mailslot\\QuellinSlot";

class MailslotTest : public ::testing::Test {
protected:
    // Sends until one send fails; returns how many succeeded (bounded).
    int FillQueue() {
        for (int i = 0; i < 1000; ++i)
            if (mWriter.SendRecord(L"fill " + std::to_wstring(i)) != 0)
                return i;
        return -1;
    }
    // Nothing more was sent: a mark sent now on a writer of its own is the next record.
    void ExpectNextIsMark() {
        MailslotWriter marker;
        ASSERT_TRUE(marker.Open(SlotName));
        ASSERT_EQ(marker.SendRecord(L"mark"), 0u);
        EXPECT_EQ(mReader.Receive(seconds(10)), std::wstring(L"mark"));
    }
    int Drain() {
        int count = 0;
        while (mReader.ReceiveBytes(milliseconds(0)))
            ++count;
        return count;
    }

    TestSupport::IsolatedEnvironment mEnv;
    MailslotReader mReader;
    MailslotWriter mWriter;
};

} // namespace

TEST_F(MailslotTest, EachRecordIsOneUtf16LEDatagram) {
    ASSERT_TRUE(mReader.Create(SlotName));
    EXPECT_EQ(MailslotPath(SlotName), mEnv.MailslotDir() + "/QuellinSlot");
    EXPECT_EQ(MailslotPath(L"QuellinSlot"), MailslotPath(SlotName));
    ASSERT_TRUE(mWriter.Open(SlotName));

    const std::wstring records[] = {L"A", L"D\u00E9tecteur\t2\u20AC", L"",
                                    std::wstring(1, wchar_t(0x1F527)) + L"z"};
    for (const std::wstring &record : records)
        ASSERT_EQ(mWriter.SendRecord(record), 0u);
    EXPECT_EQ(mReader.ReceiveBytes(seconds(10)), std::string("A\0", 2));
    EXPECT_EQ(mReader.ReceiveBytes(seconds(10)), std::string("D\0\xE9\0t\0e\0c\0t\0e\0u\0r\0\t\0"
                                                             "2\0\xAC\x20",
                                                             24));
    EXPECT_EQ(mReader.ReceiveBytes(seconds(10)), std::string());
    EXPECT_EQ(mReader.Receive(seconds(10)), records[3]);
    ExpectNextIsMark();
}

TEST_F(MailslotTest, LargeRecordArrivesUncut) {
    ASSERT_TRUE(mReader.Create(SlotName));
    ASSERT_TRUE(mWriter.Open(SlotName));
    std::wstring big(30000, L'x');
    big.back() = L'!';
    ASSERT_EQ(mWriter.SendRecord(big), 0u);
    EXPECT_EQ(mReader.Receive(seconds(10)), big);
}

TEST_F(MailslotTest, WithoutCollectorNothingIsOpenedOrSent) {
    EXPECT_FALSE(mWriter.Open(SlotName));
    EXPECT_FALSE(mWriter.IsOpen());
    EXPECT_EQ(mWriter.SendRecord(L"lost"), 0u);
    // A collector that starts later sees nothing from a writer that did not reopen.
    ASSERT_TRUE(mReader.Create(SlotName));
    EXPECT_EQ(mWriter.SendRecord(L"still closed"), 0u);
    ExpectNextIsMark();
    // A plain file under the slot's name is no collector.
    TestSupport::WriteFile(mEnv.MailslotDir() + "/PlainFile", "x");
    EXPECT_FALSE(mWriter.Open(L"PlainFile"));
}

TEST_F(MailslotTest, ReaderCreatesDirectoryAndKeepsALiveSlot) {
    TestSupport::ScopedEnv dir("KORVALIS_MAILSLOT_DIR", mEnv.Root() + "/fresh");
    ASSERT_TRUE(mReader.Create(SlotName));
    MailslotReader second;
    EXPECT_FALSE(second.Create(SlotName)) << "a running collector's slot was taken over";
    ASSERT_TRUE(mWriter.Open(SlotName));
    ASSERT_EQ(mWriter.SendRecord(L"to the first"), 0u);
    EXPECT_EQ(mReader.Receive(seconds(10)), std::wstring(L"to the first"));
}

TEST_F(MailslotTest, BurstArrivesWholeAndInOrderWhileDrained) {
    ASSERT_TRUE(mReader.Create(SlotName));
    ASSERT_TRUE(mWriter.Open(SlotName));
    constexpr int Count = 1000;
    std::vector<std::wstring> received;
    std::thread drain([&] {
        auto deadline = steady_clock::now() + seconds(20);
        while (static_cast<int>(received.size()) < Count && steady_clock::now() < deadline)
            if (auto record = mReader.Receive(milliseconds(200)))
                received.push_back(*record);
    });
    int failures = 0;
    for (int i = 0; i < Count; ++i)
        failures += mWriter.SendRecord(L"record " + std::to_wstring(i) + L" \u00E9") != 0;
    drain.join();
    EXPECT_EQ(failures, 0);
    ASSERT_EQ(received.size(), static_cast<size_t>(Count));
    for (int i = 0; i < Count; ++i)
        ASSERT_EQ(received[i], L"record " + std::to_wstring(i) + L" \u00E9");
}

TEST_F(MailslotTest, StalledCollectorCostsOneShortWaitThenSendsFailFast) {
    ASSERT_TRUE(mReader.Create(SlotName));
    ASSERT_TRUE(mWriter.Open(SlotName));

    auto start = steady_clock::now();
    int accepted = FillQueue();
    const double firstWait = TestSupport::MillisecondsSince(start);
    ASSERT_GT(accepted, 0);
    EXPECT_GE(firstWait, 90) << "a full queue must be waited on";
    EXPECT_LT(firstWait, 100 + TestSupport::SchedulingSlack.count())
        << "a full queue was waited on more than once";

    start = steady_clock::now();
    int failed = 0;
    for (int i = 0; i < 200; ++i)
        failed += mWriter.SendRecord(L"while stalled") != 0;
    EXPECT_EQ(failed, 200);
    EXPECT_LT(TestSupport::MillisecondsSince(start), 100) << "sends waited again after a wait ran out";
    EXPECT_TRUE(mWriter.IsOpen());

    // The collector reads again: records flow, and a full queue is waited on once more.
    EXPECT_EQ(Drain(), accepted);
    ASSERT_EQ(mWriter.SendRecord(L"after the stall"), 0u);
    EXPECT_EQ(mReader.Receive(seconds(10)), std::wstring(L"after the stall"));
    start = steady_clock::now();
    EXPECT_EQ(FillQueue(), accepted);
    EXPECT_GE(TestSupport::MillisecondsSince(start), 90);
}

TEST_F(MailslotTest, WriterReconnectsToARestartedCollector) {
    ASSERT_TRUE(mReader.Create(SlotName));
    ASSERT_TRUE(mWriter.Open(SlotName));
    ASSERT_EQ(mWriter.SendRecord(L"one"), 0u);
    EXPECT_EQ(mReader.Receive(seconds(10)), std::wstring(L"one"));

    mReader.Close();
    EXPECT_NE(mWriter.SendRecord(L"nobody listens"), 0u);
    EXPECT_FALSE(mWriter.IsOpen());
    EXPECT_FALSE(mWriter.Open(SlotName));

    MailslotReader restarted;
    ASSERT_TRUE(restarted.Create(SlotName));
    ASSERT_TRUE(mWriter.Open(SlotName));
    ASSERT_EQ(mWriter.SendRecord(L"two"), 0u);
    EXPECT_EQ(restarted.Receive(seconds(10)), std::wstring(L"two"));
}

TEST_F(MailslotTest, FirstRecordAfterACollectorRestartIsResent) {
    ASSERT_TRUE(mReader.Create(SlotName));
    ASSERT_TRUE(mWriter.Open(SlotName));
    mReader.Close();
    MailslotReader restarted;
    ASSERT_TRUE(restarted.Create(SlotName));
    EXPECT_EQ(mWriter.SendRecord(L"first after the restart"), 0u);
    EXPECT_EQ(restarted.Receive(seconds(10)), std::wstring(L"first after the restart"));
}

// Only a real directory that nobody else can rearrange holds the slot; a missing directory of
// the caller's choosing is made private, the socket is open to every user whatever the umask.
TEST_F(MailslotTest, SlotDirectoryIsCheckedAndTheSocketOpenToAll) {
    const std::string root = mEnv.Root();
    std::filesystem::create_directory(root + "/real");
    std::filesystem::create_directory_symlink(root + "/real", root + "/link");
    struct Case {
        const char *dir;
        mode_t mode; // 0: leave as made
        bool accepted;
    } cases[] = {{"link", 0, false},
                 {"open", 0777, false},
                 {"group", 0770, false},
                 {"sticky", 01777, true},
                 {"missing", 0, true}};
    const mode_t oldMask = umask(077);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dir);
        const std::string dir = root + "/" + c.dir;
        if (c.mode != 0) {
            std::filesystem::create_directory(dir);
            ASSERT_EQ(0, chmod(dir.c_str(), c.mode));
        }
        TestSupport::ScopedEnv env("KORVALIS_MAILSLOT_DIR", dir);
        MailslotReader reader;
        EXPECT_EQ(reader.Create(SlotName), c.accepted);
        EXPECT_FALSE(std::filesystem::exists(root + "/real/QuellinSlot"));
        struct stat st {};
        if (!c.accepted)
            continue;
        ASSERT_EQ(0, lstat(dir.c_str(), &st));
        EXPECT_EQ(c.mode != 0 ? c.mode : 0700u, st.st_mode & 07777);
        ASSERT_EQ(0, lstat((dir + "/QuellinSlot").c_str(), &st));
        EXPECT_EQ(0666u, st.st_mode & 07777);
        // Nothing of the binding is left beside the slot.
        EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir), {}));
    }
    umask(oldMask);
}

TEST_F(MailslotTest, ConcurrentWritersKeepRecordsWhole) {
    ASSERT_TRUE(mReader.Create(SlotName));
    ASSERT_TRUE(mWriter.Open(SlotName));
    constexpr int Threads = 4, PerThread = 100;
    std::atomic<int> failures{0};
    std::vector<std::wstring> received;
    std::thread drain([&] {
        auto deadline = steady_clock::now() + seconds(20);
        while (static_cast<int>(received.size()) < Threads * PerThread && steady_clock::now() < deadline)
            if (auto record = mReader.Receive(milliseconds(200)))
                received.push_back(*record);
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i)
                failures += mWriter.SendRecord(std::wstring(50, wchar_t(L'a' + t))) != 0;
        });
    for (auto &w : writers)
        w.join();
    drain.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_EQ(received.size(), static_cast<size_t>(Threads * PerThread));
    for (const std::wstring &record : received)
        EXPECT_EQ(record, std::wstring(50, record[0]));
}

TEST_F(MailslotTest, ClosedCollectorRemovesOnlyItsOwnSocketFile) {
    const std::string path = MailslotPath(SlotName);
    ASSERT_TRUE(mReader.Create(SlotName));
    ASSERT_TRUE(std::filesystem::exists(path));
    mReader.Close();
    EXPECT_FALSE(std::filesystem::exists(path)) << "a stopped collector left its socket file";

    // A newer collector that replaced the file keeps it when the older one closes.
    ASSERT_TRUE(mReader.Create(SlotName));
    ASSERT_EQ(0, unlink(path.c_str()));
    MailslotReader newer;
    ASSERT_TRUE(newer.Create(SlotName));
    mReader.Close();
    EXPECT_TRUE(std::filesystem::exists(path));
    ASSERT_TRUE(mWriter.Open(SlotName));
    ASSERT_EQ(mWriter.SendRecord(L"to the newer"), 0u);
    EXPECT_EQ(newer.Receive(seconds(10)), std::wstring(L"to the newer"));
}
