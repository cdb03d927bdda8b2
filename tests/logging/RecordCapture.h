// A private environment with a listening collector, for tests that check the records a component
// sends to the call log. The collector is read all the time (the slot holds only a few unread
// records), and Records() waits until everything sent before it has arrived: it sends a mark of
// its own and returns what came before the mark.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "QuellinRecord.h"
#include "logging/QuellinEntry.h"
#include "support/TestSupport.h"

class RecordCapture {
public:
    RecordCapture() {
        mReader = std::thread([this] {
            while (!mStop) {
                if (auto record = mCollector.Next(std::chrono::milliseconds(20))) {
                    std::lock_guard<std::mutex> lock(mLock);
                    mReceived.push_back(std::move(*record));
                    mArrived.notify_all();
                }
            }
        });
        // The process-wide socket may still point at an earlier test's collector: mark until a mark
        // arrives here; whatever came before it is dropped.
        bool primed = false;
        for (int attempt = 0; attempt < 40 && !primed; ++attempt)
            primed = UntilMark(std::chrono::milliseconds(250)).has_value();
        EXPECT_TRUE(primed) << "the call log never reached the test's collector";
    }
    ~RecordCapture() {
        mStop = true;
        mReader.join();
    }
    RecordCapture(const RecordCapture &) = delete;
    RecordCapture &operator=(const RecordCapture &) = delete;

    const TestSupport::IsolatedEnvironment &Environment() const { return mEnvironment; }

    // Every record sent (by any thread or process) before this call, and not yet taken.
    std::vector<Quellin::Record> Records() {
        std::optional<std::vector<Quellin::Record>> records = UntilMark(std::chrono::seconds(10));
        if (records)
            return std::move(*records);
        ADD_FAILURE() << "the records did not arrive within 10 s";
        std::lock_guard<std::mutex> lock(mLock);
        std::vector<Quellin::Record> taken;
        taken.swap(mReceived);
        return taken;
    }
    std::vector<Quellin::Record> Take() { return Records(); }

    // Waits until the records received so far (not taken) satisfy the condition; false at the deadline.
    bool WaitFor(const std::function<bool(const std::vector<Quellin::Record> &)> &condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mLock);
        return mArrived.wait_for(lock, timeout, [&] { return condition(mReceived); });
    }

    static std::vector<Quellin::Record> WithModule(const std::vector<Quellin::Record> &records,
                                                   const std::wstring &module) {
        std::vector<Quellin::Record> found;
        for (const Quellin::Record &record : records)
            if (record.Module == module)
                found.push_back(record);
        return found;
    }

private:
    // Sends a mark and waits for it: the records before it, without any mark.
    std::optional<std::vector<Quellin::Record>> UntilMark(std::chrono::milliseconds timeout) {
        static std::atomic<unsigned> marks{0};
        const std::wstring mark = std::to_wstring(++marks);
        {
            QuellinEntry entry("RecordCapture", "Mark");
            entry.Log(QuellinLevelNote, L"mark", mark);
        }
        auto isMark = [&mark](const Quellin::Record &record) {
            return record.Module == L"RecordCapture" && record.Value(L"mark") == mark;
        };
        std::unique_lock<std::mutex> lock(mLock);
        size_t at = 0;
        const bool arrived = mArrived.wait_for(lock, timeout, [&] {
            for (; at < mReceived.size(); ++at)
                if (isMark(mReceived[at]))
                    return true;
            return false;
        });
        if (!arrived)
            return std::nullopt;
        std::vector<Quellin::Record> before;
        for (size_t i = 0; i < at; ++i)
            if (mReceived[i].Module != L"RecordCapture")
                before.push_back(std::move(mReceived[i]));
        mReceived.erase(mReceived.begin(), mReceived.begin() + static_cast<std::ptrdiff_t>(at + 1));
        return before;
    }

    TestSupport::IsolatedEnvironment mEnvironment;
    Quellin::Collector mCollector;
    std::mutex mLock;
    std::condition_variable mArrived;
    std::vector<Quellin::Record> mReceived;
    std::atomic<bool> mStop{false};
    std::thread mReader;
};
