// A private environment with a listening collector, for tests that check the records a component
// sends to the call log.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "QuellinRecord.h"
#include "logging/QuellinEntry.h"
#include "support/TestSupport.h"

class RecordCapture {
public:
    RecordCapture() {
        // The process-wide socket may still point at an earlier test's collector: send until one
        // record arrives here, then start from a quiet slot.
        for (int attempt = 0; attempt < 40; ++attempt) {
            {
                QuellinEntry entry("RecordCapture", "Prime");
                entry.Log(QuellinLevelNote);
            }
            if (mCollector.Next(std::chrono::milliseconds(25)))
                break;
        }
        mCollector.Drain(std::chrono::milliseconds(50));
    }

    const TestSupport::IsolatedEnvironment &Environment() const { return mEnvironment; }
    // Everything sent since the last call.
    std::vector<Quellin::Record> Records() { return mCollector.Drain(std::chrono::milliseconds(150)); }

    static std::vector<Quellin::Record> WithModule(const std::vector<Quellin::Record> &records,
                                                   const std::wstring &module) {
        std::vector<Quellin::Record> found;
        for (const Quellin::Record &record : records)
            if (record.Module == module)
                found.push_back(record);
        return found;
    }

private:
    TestSupport::IsolatedEnvironment mEnvironment;
    Quellin::Collector mCollector;
};
