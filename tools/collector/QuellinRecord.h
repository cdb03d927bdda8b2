// Parsing of call-log records as the log collector receives them, and a collector that tests and
// the quellin-collector program use to capture records from the mailslot.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/Mailslot.h"

namespace Quellin {

struct Item {
    std::wstring Section; // "!input", "!output", "!general" or "" before any marker
    char Type;            // 'i' or 'a' for a pair, 'm' for a marker, 'n' for a lone name
    std::wstring Name;    // marker text for 'm'
    std::wstring Value;
};

struct Record {
    enum class Kind { Begin, End, Note, Unknown };
    Kind RecordKind = Kind::Unknown;
    std::wstring Raw;
    std::wstring Tag, Process, Entry, Time, Module, Function, Level;
    std::vector<Item> Items;
    bool Complete = true; // false when the text ended inside a field or a counted value

    // First pair of that name (in the given section when one is named), or null.
    const Item *Find(const std::wstring &name, const std::wstring &section = std::wstring()) const;
    // Value of the first pair of that name, "" when there is none.
    std::wstring Value(const std::wstring &name, const std::wstring &section = std::wstring()) const;
    size_t CountMarkers(const std::wstring &marker) const;
};

Record ParseRecord(const std::wstring &raw);
// One line for people: kind, head fields and every item.
std::wstring DescribeRecord(const Record &record);
// The text with control characters (C0, DEL, C1) and NULs written as \xNN, so that a line of
// output stays one line and nobody can send terminal control sequences through the collector.
std::wstring EscapeControls(const std::wstring &text);

// Creates the mailslot and receives records from it.
class Collector {
public:
    explicit Collector(const std::wstring &slotName = L"QuellinSlot");
    bool IsOpen() const { return mReader.IsOpen(); }
    std::optional<Record> Next(std::chrono::milliseconds timeout);
    // Records until count arrived or the timeout ran out (all that arrived).
    std::vector<Record> Collect(size_t count, std::chrono::milliseconds timeout);
    // Everything that arrives within the quiet period after the last record.
    std::vector<Record> Drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(200));

private:
    Platform::MailslotReader mReader;
};

} // namespace Quellin
