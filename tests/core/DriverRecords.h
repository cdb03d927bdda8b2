// A private collector for the driver-base tests, and lookups of the records that one logged
// operation wrote (its begin and end record, its note records).
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <vector>

#include "QuellinRecord.h"
#include "logging/QuellinEntry.h"
#include "support/TestSupport.h"

class DriverRecords {
public:
    struct Call {
        Quellin::Record Begin;
        Quellin::Record End;
    };

    DriverRecords() {
        // The process-wide socket may still point at an earlier collector: send until one record
        // arrives here, then start from a quiet slot.
        for (int attempt = 0; attempt < 40; ++attempt) {
            {
                QuellinEntry entry("DriverRecords", "Prime");
                entry.Log(QuellinLevelNote);
            }
            if (mCollector.Next(std::chrono::milliseconds(25)))
                break;
        }
        mCollector.Drain(std::chrono::milliseconds(50));
        // The slot holds only a few unread records: read continuously so that none is dropped.
        mReader = std::thread([this] {
            while (!mStop) {
                if (auto record = mCollector.Next(std::chrono::milliseconds(20))) {
                    std::lock_guard<std::mutex> lock(mLock);
                    mReceived.push_back(std::move(*record));
                }
            }
        });
    }
    ~DriverRecords() {
        mStop = true;
        mReader.join();
    }
    DriverRecords(const DriverRecords &) = delete;
    DriverRecords &operator=(const DriverRecords &) = delete;

    const TestSupport::IsolatedEnvironment &Environment() const { return mEnvironment; }

    // Everything received since the last call, once the slot has been quiet for a moment.
    std::vector<Quellin::Record> Take() {
        size_t seen = static_cast<size_t>(-1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::lock_guard<std::mutex> lock(mLock);
            if (mReceived.size() == seen || std::chrono::steady_clock::now() > deadline) {
                std::vector<Quellin::Record> taken;
                taken.swap(mReceived);
                return taken;
            }
            seen = mReceived.size();
        }
    }

    // The first begin record of the module and function, with the end record of its entry.
    static std::optional<Call> FindCall(const std::vector<Quellin::Record> &records,
                                        const std::wstring &module, const std::wstring &function) {
        for (size_t i = 0; i < records.size(); ++i) {
            const Quellin::Record &begin = records[i];
            if (begin.RecordKind != Quellin::Record::Kind::Begin || begin.Module != module ||
                begin.Function != function)
                continue;
            for (size_t j = i + 1; j < records.size(); ++j)
                if (records[j].RecordKind == Quellin::Record::Kind::End && records[j].Entry == begin.Entry &&
                    records[j].Process == begin.Process)
                    return Call{begin, records[j]};
        }
        return std::nullopt;
    }

    static std::vector<Quellin::Record> Notes(const std::vector<Quellin::Record> &records,
                                              const std::wstring &module, const std::wstring &function) {
        std::vector<Quellin::Record> found;
        for (const Quellin::Record &record : records)
            if (record.RecordKind == Quellin::Record::Kind::Note && record.Module == module &&
                record.Function == function)
                found.push_back(record);
        return found;
    }

    static size_t CountModule(const std::vector<Quellin::Record> &records, const std::wstring &module) {
        size_t count = 0;
        for (const Quellin::Record &record : records)
            if (record.Module == module)
                ++count;
        return count;
    }

private:
    TestSupport::IsolatedEnvironment mEnvironment;
    Quellin::Collector mCollector;
    std::mutex mLock;
    std::vector<Quellin::Record> mReceived;
    std::atomic<bool> mStop{false};
    std::thread mReader;
};
