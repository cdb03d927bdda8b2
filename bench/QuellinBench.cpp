// Cost of one logged call (entry, begin record, end record): with no collector, with a collector
// draining the mailslot, and the raw datagram sends of the same records for comparison.
#include "logging/QuellinEntry.h"
#include "platform/Mailslot.h"
#include "platform/Text.h"

#include <benchmark/benchmark.h>
#include <wx/utils.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A private mailslot directory for the whole run.
class BenchEnvironment {
public:
    BenchEnvironment() {
        mDir = fs::temp_directory_path() / ("quellin-bench-" + std::to_string(Platform::CurrentProcessId()));
        fs::create_directories(mDir);
        wxSetEnv("KORVALIS_MAILSLOT_DIR", mDir.string());
    }
    ~BenchEnvironment() {
        std::error_code ignored;
        fs::remove_all(mDir, ignored);
    }

private:
    fs::path mDir;
};
BenchEnvironment Environment;

// Receives and counts records on its own thread until stopped.
class DrainingCollector {
public:
    DrainingCollector() {
        mReader.Create(L"QuellinSlot");
        mThread = std::thread([this] {
            while (!mStop.load())
                if (mReader.ReceiveBytes(20ms))
                    ++mReceived;
        });
    }
    ~DrainingCollector() {
        mStop = true;
        mThread.join();
    }
    bool IsOpen() const { return mReader.IsOpen(); }
    // Waits until the count arrived or nothing came for a while; returns what arrived.
    uint64_t WaitFor(uint64_t count) {
        uint64_t last = mReceived.load();
        auto quietSince = std::chrono::steady_clock::now();
        while (mReceived.load() < count && std::chrono::steady_clock::now() - quietSince < 1s) {
            std::this_thread::sleep_for(1ms);
            if (mReceived.load() != last) {
                last = mReceived.load();
                quietSince = std::chrono::steady_clock::now();
            }
        }
        return mReceived.load();
    }

private:
    Platform::MailslotReader mReader;
    std::atomic<bool> mStop{false};
    std::atomic<uint64_t> mReceived{0};
    std::thread mThread;
};

void LoggedCall() {
    QuellinEntry entry("DeviceDriver", "GetValue");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, "GetValue(58)", "ID", DWORD{58}, "Channel", 3u);
    entry.LogEnd(QuellinLevelComplete, "Result", DWORD{0});
}

void BM_LoggedCallNoCollector(benchmark::State &state) {
    QuellinEntry::ProcessSocket()->Close();
    for (auto _ : state)
        LoggedCall();
}
BENCHMARK(BM_LoggedCallNoCollector);

// What the constructor's open attempt costs alone while no collector exists.
void BM_OpenAttemptNoCollector(benchmark::State &state) {
    Platform::MailslotWriter writer;
    const std::wstring slot = QuellinSlotName;
    for (auto _ : state)
        benchmark::DoNotOptimize(writer.Open(slot));
}
BENCHMARK(BM_OpenAttemptNoCollector);

void BM_LoggedCallCollector(benchmark::State &state) {
    QuellinEntry::ProcessSocket()->Close();
    DrainingCollector collector;
    if (!collector.IsOpen()) {
        state.SkipWithError("no collector");
        return;
    }
    for (auto _ : state)
        LoggedCall();
    const uint64_t sent = 2 * static_cast<uint64_t>(state.iterations());
    const uint64_t received = collector.WaitFor(sent);
    state.counters["records"] = static_cast<double>(sent);
    state.counters["lost"] = static_cast<double>(sent - received);
    QuellinEntry::ProcessSocket()->Close();
}
BENCHMARK(BM_LoggedCallCollector)->Iterations(100000);

// The same two records, built once and only sent.
void BM_RawSendCollector(benchmark::State &state) {
    QuellinEntry::ProcessSocket()->Close();
    DrainingCollector collector;
    Platform::MailslotWriter writer;
    if (!collector.IsOpen() || !writer.Open(L"QuellinSlot")) {
        state.SkipWithError("no collector");
        return;
    }
    const std::string begin = Platform::WideToUtf16LEBytes(
        L"!logb;12345;00007FFD12345678;1700000000.250;DeviceDriver;GetValue;Note;!input;"
        L"a:description;12;GetValue(58);a:ID;2;58;i:Channel;3;");
    const std::string end = Platform::WideToUtf16LEBytes(
        L"!loge;12345;00007FFD12345678;1700000000.251;Complete;!output;a:Result;1;0;");
    for (auto _ : state) {
        writer.Send(begin.data(), begin.size());
        writer.Send(end.data(), end.size());
    }
    const uint64_t sent = 2 * static_cast<uint64_t>(state.iterations());
    const uint64_t received = collector.WaitFor(sent);
    state.counters["records"] = static_cast<double>(sent);
    state.counters["lost"] = static_cast<double>(sent - received);
}
BENCHMARK(BM_RawSendCollector)->Iterations(100000);

} // namespace
