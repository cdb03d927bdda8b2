// The stream framework: defaults, the connect contract with shared streams, lock names and the
// named lock, lockers, events, the pause between transfers, the kind registries and write-read
// with its retries and log texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "ScriptedStream.h"
#include "StreamTestEnvironment.h"
#include "core/DriverRecords.h"
#include "streams/DeviceStreamConfigurationManager.h"
#include "platform/Clock.h"

namespace {

const StreamTypeRegistrar gScriptedStream(ScriptedKind, &CreateStreamOf<ScriptedStream>);
const StreamTypeRegistrar gScriptedConfiguration(ScriptedKind, &CreateConfigurationOf<ScriptedConfiguration>);

std::shared_ptr<ScriptedStream> AsScripted(const std::shared_ptr<WriteReadDeviceStream> &stream) {
    return std::dynamic_pointer_cast<ScriptedStream>(stream);
}

// ---- Stream base ----------------------------------------------------------------------------------

TEST(StreamBase, ANewStreamHasTheDefaults) {
    WriteReadDeviceStream stream;
    DeviceStreamParameters parameters = stream.GetParameters();
    EXPECT_EQ("\n", parameters.sReadTermination);
    EXPECT_TRUE(parameters.bReadTerminationEnabled);
    EXPECT_EQ("\n", parameters.sWriteTermination);
    EXPECT_TRUE(parameters.bWriteTerminationEnabled);
    EXPECT_EQ(10.0, stream.GetTimeout(nullptr));
    EXPECT_EQ(0u, stream.GetMinimumDelay());
    EXPECT_FALSE(stream.IsConnected());
    EXPECT_EQ(0u, stream.GetLastWriteCount());
    DWORD value = 7;
    stream.SetAuxiliaryValue(5);
    EXPECT_EQ(0u, stream.GetAuxiliaryValue(value));
    EXPECT_EQ(0u, value);
    std::string response;
    EXPECT_EQ(0x300000CBu, stream.Write(nullptr, "X", false));
    EXPECT_EQ(0x300000CBu, stream.Read(nullptr, response, 1));
    EXPECT_EQ(0x300000CBu,
              stream.Connect(nullptr, std::make_shared<ScriptedConfiguration>(), ClientEntry(0)));
}

TEST(StreamBase, AConfigurationOfAnotherKindOrNoneIsRefusedWithMessages) {
    TestSupport::MessageBoxRecorder boxes;
    ScriptedStream stream;
    const auto other = CreateConfigurationOfKind("TCPIP");
    ASSERT_TRUE(other);
    EXPECT_EQ(0x30001F44u, stream.Connect(nullptr, other, ClientEntry(0)));
    EXPECT_EQ(0, stream.Opens);
    ASSERT_EQ(3u, boxes.Boxes.size());
    EXPECT_NE(std::wstring::npos,
              boxes.Boxes[0].Text.find(L"configObject->GetIDString() != objectIDDescription"));
    EXPECT_NE(std::wstring::npos, boxes.Boxes[1].Text.find(L"TCPIP"));
    EXPECT_NE(std::wstring::npos, boxes.Boxes[2].Text.find(L"SCRIPTED"));
    EXPECT_EQ(0x30001F44u, stream.Connect(nullptr, nullptr, ClientEntry(0)));
    EXPECT_NE(std::wstring::npos, boxes.Boxes.back().Text.find(L"configObject = NULL"));
    EXPECT_EQ(0x30001F44u, stream.VerifyCorrectConfigurationObject(other, ""));
    EXPECT_NE(std::wstring::npos, boxes.Boxes.back().Text.find(L"objectIDDescription.empty()"));
}

// ---- Shared streams -------------------------------------------------------------------------------

TEST(SharedStreams, TwoClientsShareOneStreamThatTheLastOneCloses) {
    auto configuration = std::make_shared<ScriptedConfiguration>("bus");
    auto first = AsScripted(SharedDeviceStreams::GetStreamForConfiguration(configuration, true));
    ASSERT_TRUE(first);
    auto equal = std::make_shared<ScriptedConfiguration>("bus");
    auto second = AsScripted(SharedDeviceStreams::GetStreamForConfiguration(equal, true));
    EXPECT_EQ(first, second);
    EXPECT_NE(first, AsScripted(SharedDeviceStreams::GetStreamForConfiguration(equal, false)));

    EXPECT_EQ(0u, first->Connect(nullptr, configuration, ClientEntry(0)));
    EXPECT_EQ(0u, first->Connect(nullptr, equal, ClientEntry(1)));
    EXPECT_EQ(1, first->Opens);
    EXPECT_EQ(L"Global\\KORVALIS:DS:SCRIPTED:BUS", first->GetLockName());
    EXPECT_FALSE(first->HasSingleClient());
    first->Disconnect(nullptr, ClientEntry(0));
    EXPECT_TRUE(first->IsConnected());
    EXPECT_TRUE(first->HasSingleClient());
    EXPECT_EQ(first, SharedDeviceStreams::Find(equal));
    first->Disconnect(nullptr, ClientEntry(1));
    EXPECT_EQ(1, first->Closes);
    EXPECT_FALSE(first->IsConnected());
    EXPECT_FALSE(SharedDeviceStreams::Find(equal));
    EXPECT_NE(first, AsScripted(SharedDeviceStreams::GetStreamForConfiguration(equal, true)));
    SharedDeviceStreams::Clear();
}

TEST(SharedStreams, AStreamDropsOnlyItsOwnEntryEvenWhenTheUserEditedAConfiguration) {
    auto one = std::make_shared<ScriptedConfiguration>("one");
    auto two = std::make_shared<ScriptedConfiguration>("two");
    auto streamOne = AsScripted(SharedDeviceStreams::GetStreamForConfiguration(one, true));
    auto streamTwo = AsScripted(SharedDeviceStreams::GetStreamForConfiguration(two, true));
    streamOne->Connect(nullptr, one, ClientEntry(0));
    streamTwo->Connect(nullptr, two, ClientEntry(1));
    one->Name = "two"; // now equal to the other stream's configuration
    streamOne->Disconnect(nullptr, ClientEntry(0));
    EXPECT_EQ(1u, SharedDeviceStreams::Size());
    EXPECT_EQ(streamTwo, SharedDeviceStreams::Find(std::make_shared<ScriptedConfiguration>("two")));
    SharedDeviceStreams::Clear();
    EXPECT_EQ(0u, SharedDeviceStreams::Size());
}

TEST(SharedStreams, TheMapKeepsAStreamAliveThatDisconnectsItsLastClientThroughARawPointer) {
    auto configuration = std::make_shared<ScriptedConfiguration>("alone");
    ScriptedStream *stream =
        AsScripted(SharedDeviceStreams::GetStreamForConfiguration(configuration, true)).get();
    stream->Connect(nullptr, configuration, ClientEntry(0));
    // The map holds the only reference; the stream must outlive its own Disconnect.
    stream->Disconnect(nullptr, ClientEntry(0));
    EXPECT_EQ(1, stream->Closes);
    SharedDeviceStreams::Clear();
}

// Drivers that connect at the same moment to one configuration: exactly one of them made the
// stream they all share (only that one gives the stream its settings).
TEST(SharedStreams, RacingConnectsAgreeOnWhoMadeTheStream) {
    constexpr int Drivers = 8;
    for (int round = 0; round < 100; ++round) {
        std::vector<std::unique_ptr<DeviceStreamConfigurationManager>> managers;
        for (int i = 0; i < Drivers; ++i) {
            managers.push_back(std::make_unique<DeviceStreamConfigurationManager>());
            managers.back()->SetSupportedStreams(ScriptedKind);
            managers.back()->SetSelected(ScriptedKind);
        }
        std::vector<std::shared_ptr<WriteReadDeviceStream>> streams(Drivers);
        bool created[Drivers] = {};
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < Drivers; ++i)
            threads.emplace_back([&, i] {
                ++ready;
                while (ready < Drivers)
                    std::this_thread::yield();
                managers[i]->GetSelectedDeviceStream(streams[i], true, created[i]);
            });
        for (std::thread &thread : threads)
            thread.join();
        ASSERT_EQ(1, std::count(std::begin(created), std::end(created), true)) << "round " << round;
        for (const auto &stream : streams)
            ASSERT_EQ(streams[0], stream);
        SharedDeviceStreams::Clear();
    }
}

// ---- Registries -----------------------------------------------------------------------------------

TEST(KindRegistries, TheFirstCreatorOfAnIdStaysAndUnknownIdsCreateNothing) {
    EXPECT_TRUE(gScriptedStream.IsRegistered());
    EXPECT_FALSE(StreamTypeRegistrar(ScriptedKind, &CreateStreamOf<WriteReadDeviceStream>).IsRegistered());
    EXPECT_TRUE(AsScripted(CreateStreamForConfiguration(std::make_shared<ScriptedConfiguration>())));
    EXPECT_EQ(nullptr, CreateStream("NOSUCH"));
    EXPECT_EQ(nullptr, CreateConfiguration("NOSUCH"));
    EXPECT_FALSE(CreateStreamForConfiguration(nullptr));
    const std::vector<std::string> kinds = GetRegisteredKinds();
    EXPECT_TRUE(std::is_sorted(kinds.begin(), kinds.end()));
    EXPECT_NE(kinds.end(), std::find(kinds.begin(), kinds.end(), "TCPIP"));
}

TEST(KindRegistries, CompareOrdersByKind) {
    ScriptedConfiguration scripted;
    auto tcp = CreateConfigurationOfKind("TCPIP");
    EXPECT_EQ(0, scripted.Compare(&scripted));
    EXPECT_EQ(-1, scripted.Compare(tcp.get())); // "SCRIPTED" < "TCPIP"
    EXPECT_EQ(1, tcp->Compare(&scripted));
    EXPECT_EQ(1, scripted.Compare(nullptr));
    EXPECT_TRUE(ConfigurationLess(nullptr, tcp));
}

// ---- Locking --------------------------------------------------------------------------------------

TEST(StreamLock, LockNamesAreUpperCasedIdentifiersInTheGlobalNamespace) {
    const std::pair<const char *, const wchar_t *> cases[] = {
        {"VISA:TCPIP0::10.0.0.5::inst0::INSTR", L"Global\\KORVALIS:DS:VISA:TCPIP0::10.0.0.5::INST0::INSTR"},
        {"MANUAL", L"Global\\KORVALIS:DS:MANUAL"},
        {"RS232:COM3", L"Global\\KORVALIS:DS:RS232:COM3"},
        {"ETHER:tcpip://gerät:1", L"Global\\KORVALIS:DS:ETHER:TCPIP://GERäT:1"},
    };
    for (const auto &[identifier, name] : cases)
        EXPECT_EQ(name, MakeStreamLockName(identifier)) << identifier;
}

TEST(StreamLock, AnUnnamedStreamCannotBeLockedAndUnlockAloneSucceeds) {
    ScriptedStream stream;
    EXPECT_EQ(0x3000019Fu, stream.Lock(nullptr, 1.0));
    EXPECT_EQ(0u, stream.Unlock(nullptr));
}

TEST(StreamLock, AnotherHolderMakesAZeroWaitTimeOutAndANestedLockIsRecursive) {
    ScriptedStream stream;
    stream.SetLockName("HOLDER");
    ScriptedStream other;
    other.SetLockName("HOLDER");
    EXPECT_EQ(0u, stream.Lock(nullptr, 0.0));
    EXPECT_EQ(0u, stream.Lock(nullptr, -1.0));
    DWORD elsewhere = 1;
    std::thread([&] { elsewhere = other.Lock(nullptr, 0.0); }).join();
    EXPECT_EQ(0x300001A1u, elsewhere);
    stream.Unlock(nullptr);
    std::thread([&] { elsewhere = other.Lock(nullptr, 0.0); }).join();
    EXPECT_EQ(0x300001A1u, elsewhere);
    stream.Unlock(nullptr);
    std::thread([&] {
        elsewhere = other.Lock(nullptr, 0.0);
        other.Unlock(nullptr);
    }).join();
    EXPECT_EQ(0u, elsewhere);
}

// Counts the lock calls that reach it.
class CountingLockTarget : public DeviceStreamSeparatedReadWrite {
public:
    DWORD Lock(HostWindow, double) override {
        ++Locks;
        return LockResult;
    }
    DWORD Unlock(HostWindow) override {
        ++Unlocks;
        return 0;
    }
    int Locks = 0;
    int Unlocks = 0;
    DWORD LockResult = 0;
};

TEST(StreamLock, ALockerReleasesExactlyTheLocksItObtained) {
    DeviceStreamLockerMixin<CountingLockTarget> target;
    {
        DeviceStreamLockerMixin<CountingLockTarget>::DeviceStreamLocker locker(&target);
        locker.Lock(nullptr, 1.0);
        locker.Lock(nullptr, 1.0);
        target.LockResult = 0x300001A1;
        EXPECT_EQ(0x300001A1u, locker.Lock(nullptr, 1.0));
        EXPECT_EQ(2u, locker.GetHeld());
    }
    EXPECT_EQ(3, target.Locks);
    EXPECT_EQ(2, target.Unlocks);
    {
        DeviceStreamLockerMixin<CountingLockTarget>::DeviceStreamLocker locker(&target);
        EXPECT_EQ(0u, locker.Unlock(nullptr));
    }
    EXPECT_EQ(2, target.Unlocks);
}

TEST(StreamEvent, ASetEventReleasesEveryWaitUntilItIsReset) {
    Event event;
    EXPECT_EQ(0x3000019Du, event.Wait(0));
    EXPECT_EQ(0u, event.Set());
    EXPECT_EQ(0u, event.Wait(0));
    EXPECT_EQ(0u, event.Wait(0));
    EXPECT_EQ(0u, event.Reset());
    EXPECT_EQ(0x3000019Du, event.Wait(10));
    EXPECT_EQ(0u, event.Close());
    EXPECT_EQ(0x3000019Bu, event.Wait(0));
    EXPECT_EQ(0x3000019Bu, event.Set());
    EXPECT_EQ(0x3000019Bu, event.Reset());
}

// ---- Pause between transfers ----------------------------------------------------------------------

TEST(CommunicationDelay, TheSecondTransferWaitsTheRestOfTheMinimumDelay) {
    CommunicationDelayer delayer;
    delayer.SetMinimumDelay(5000);
    delayer.StoreLastCommunicationTime();
    const uint64_t stored = Platform::MonotonicMicroseconds();
    Platform::SleepMilliseconds(1);
    delayer.WaitRemainingDelay();
    EXPECT_GE(Platform::MonotonicMicroseconds() - stored, 4900u);

    delayer.SetMinimumDelay(0);
    delayer.StoreLastCommunicationTime();
    const uint64_t before = Platform::MonotonicMicroseconds();
    delayer.WaitRemainingDelay();
    EXPECT_LT(Platform::MonotonicMicroseconds() - before, 1000u);

    // Copies keep the delay and the time of the last transfer.
    delayer.SetMinimumDelay(300000);
    CommunicationDelayer copy(delayer);
    EXPECT_EQ(300000u, copy.GetMinimumDelay());
    EXPECT_EQ(delayer.GetLastTransferTime(), copy.GetLastTransferTime());
}

// A transfer noted while no delay is set still counts in full for a delay set afterwards.
TEST(CommunicationDelay, ADelaySetAfterAnUndelayedTransferIsKeptInFull) {
    for (const DWORD delay : {2000u, 5000u, 20000u}) {
        CommunicationDelayer delayer;
        delayer.SetMinimumDelay(0);
        const uint64_t before = Platform::MonotonicMicroseconds();
        delayer.StoreLastCommunicationTime();
        delayer.SetMinimumDelay(delay);
        delayer.WaitRemainingDelay();
        const uint64_t waited = Platform::MonotonicMicroseconds() - before;
        EXPECT_GE(waited, delay) << delay;
        EXPECT_LT(waited, delay + 100000u) << delay;
    }
}

// ---- Write-read -----------------------------------------------------------------------------------

class WriteReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u,
                  mStream.Connect(nullptr, std::make_shared<ScriptedConfiguration>("wr"), ClientEntry(0)));
    }
    void TearDown() override { mStream.Disconnect(nullptr, ClientEntry(0)); }
    ScriptedStream mStream;
};

TEST_F(WriteReadTest, AnEmptyCommandOnlyReads) {
    mStream.Reads = {{"1.5\n", 0}};
    std::string response;
    DWORD count = 100;
    EXPECT_EQ(0u, mStream.WriteRead(nullptr, "", response, count, 3));
    EXPECT_EQ("1.5\n", response);
    EXPECT_EQ(std::vector<std::string>{"read 100"}, mStream.Calls);
}

TEST_F(WriteReadTest, LeadingLineBreaksAreDroppedAndTheAnswerIsReadAgain) {
    mStream.Reads = {{"\r\n", StreamResult::ReadTimeout}, {"42\n", 0}};
    std::string response;
    DWORD count = 100;
    EXPECT_EQ(0u, mStream.WriteRead(nullptr, "MEAS?", response, count, 3));
    EXPECT_EQ("42\n", response);
    const std::vector<std::string> calls = {"clear", "write MEAS?", "read 100", "read 100"};
    EXPECT_EQ(calls, mStream.Calls);
}

TEST_F(WriteReadTest, AFailingWriteIsTriedAgainAndEachTryIsLogged) {
    DriverRecords records;
    mStream.WriteResult = 0x300002D4;
    std::string response;
    DWORD count = 10;
    EXPECT_EQ(0x300002D4u, mStream.WriteRead(nullptr, "X", response, count, 3));
    std::vector<std::wstring> texts;
    for (const Quellin::Record &record : records.Take())
        if (record.Module == L"RetryLoop" && record.Level == L"Error")
            texts.push_back(record.Value(QuellinDescription));
    const std::vector<std::wstring> expected = {L"(1/3) RetryLoop: Error: 805307092",
                                                L"(2/3) RetryLoop: Error: 805307092",
                                                L"(3/3) RetryLoop: Error: 805307092"};
    EXPECT_EQ(expected, texts);
}

TEST_F(WriteReadTest, AFailedTryStartsAgainFromTheCallersResponse) {
    mStream.Reads = {{"", 0x300002D5}, {"OK\n", 0}};
    std::string response = "prefix:";
    DWORD count = 100;
    EXPECT_EQ(0u, mStream.WriteRead(nullptr, "", response, count, 2));
    EXPECT_EQ("prefix:OK\n", response);
}

TEST_F(WriteReadTest, UntilAnswerReadsAgainWhileTheInstrumentIsSilent) {
    std::string response;
    DWORD count = 500000;
    EXPECT_EQ(0u, mStream.WriteReadUntilAnswer(nullptr, "CH1", response, count, 5));
    EXPECT_EQ("", response);
    const std::vector<std::string> calls = {"clear",       "write CH1",   "read 500000", "read 500000",
                                            "read 500000", "read 500000", "read 500000"};
    EXPECT_EQ(calls, mStream.Calls);
}

TEST_F(WriteReadTest, UntilAnswerStopsAtTheFirstAnswerAndDoesNotRetryFailures) {
    mStream.Reads = {{"\n", 0}, {"7\n", StreamResult::ReadTimeout}};
    std::string response;
    DWORD count = 50;
    EXPECT_EQ(0u, mStream.WriteReadUntilAnswer(nullptr, "CH1", response, count, 5));
    EXPECT_EQ("7\n", response);
    EXPECT_EQ(4u, mStream.Calls.size());
    mStream.WriteResult = 0x300002D4;
    EXPECT_EQ(0x300002D4u, mStream.WriteReadUntilAnswer(nullptr, "CH1", response, count, 5));
}

TEST(RetryCounter, ACounterOfNoTriesIsFinishedAtOnce) {
    EXPECT_TRUE(RetryCounter(0).IsFinished());
    RetryCounter counter(2);
    counter.NewTry();
    EXPECT_FALSE(counter.IsFinished());
    counter.NewTry();
    EXPECT_TRUE(counter.IsFinished());
    int runs = 0;
    EXPECT_EQ(5u, RetryLoop(0, "RetryLoop").Run([&] {
        ++runs;
        ThrowIfError(5);
    }));
    EXPECT_EQ(1, runs);
}

} // namespace
