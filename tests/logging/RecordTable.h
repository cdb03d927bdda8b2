// Call records as table rows, for tests that assert what a component logged: one row per record
// of a module, "<kind> <function> <level> | <description or Message> | Err=<Err in hex>" (the parts a
// record lacks are left out).
#pragma once

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "QuellinRecord.h"
#include "core/StringUtils.h"

namespace RecordTable {

inline std::string Row(const Quellin::Record &record) {
    static const char *const kinds[] = {"B", "E", "N", "?"};
    std::string row = std::string(kinds[static_cast<int>(record.RecordKind)]) + " " +
                      ToStdString(record.Function) + " " + ToStdString(record.Level);
    std::wstring text = record.Value(L"description");
    if (text.empty())
        text = record.Value(L"Message");
    if (!text.empty())
        row += " | " + ToStdString(text);
    if (record.Find(L"Err") != nullptr) {
        // A number as the code it is.
        const std::string err = ToStdString(record.Value(L"Err"));
        char *end = nullptr;
        const unsigned long code = std::strtoul(err.c_str(), &end, 10);
        row += " | Err=" + (!err.empty() && *end == '\0' ? FormatString("0x%08lX", code) : err);
    }
    return row;
}

// An end record names neither module nor function: it belongs to the begin record of its entry.
inline std::vector<std::string> Rows(const std::vector<Quellin::Record> &records,
                                     const std::wstring &module) {
    std::map<std::wstring, const Quellin::Record *> begins;
    std::vector<std::string> rows;
    for (const Quellin::Record &record : records) {
        const std::wstring entry = record.Process + L"/" + record.Entry;
        if (record.RecordKind == Quellin::Record::Kind::Begin)
            begins[entry] = &record;
        const Quellin::Record *owner = &record;
        if (record.RecordKind == Quellin::Record::Kind::End && record.Module.empty() &&
            begins.count(entry) != 0)
            owner = begins[entry];
        if (owner->Module != module)
            continue;
        Quellin::Record named = record;
        named.Function = owner->Function;
        rows.push_back(Row(named));
    }
    return rows;
}

} // namespace RecordTable
