// The record capture with lookups of the records that one logged operation wrote (its begin and
// end record, its note records).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "QuellinRecord.h"
#include "logging/RecordCapture.h"

class DriverRecords : public RecordCapture {
public:
    struct Call {
        Quellin::Record Begin;
        Quellin::Record End;
    };

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
};
