// Splits a record into its head fields and its name/value items, using the unit counts of "a"
// values so that values holding ';' are taken whole.
#include "QuellinRecord.h"

#include <sstream>

#include "platform/Text.h"

namespace Quellin {

namespace {

class FieldReader {
public:
    explicit FieldReader(const std::wstring &text) : mText(text) {}
    bool AtEnd() const { return mPos >= mText.size(); }
    // Next field up to ';'; false when the text ends without one.
    bool Next(std::wstring &field) {
        size_t end = mText.find(L';', mPos);
        if (end == std::wstring::npos) {
            field = mText.substr(mPos);
            mPos = mText.size();
            return false;
        }
        field = mText.substr(mPos, end - mPos);
        mPos = end + 1;
        return true;
    }
    // A value of the given number of UTF-16 units, then ';'.
    bool Counted(size_t units, std::wstring &value) {
        value.clear();
        size_t taken = 0;
        while (taken < units && mPos < mText.size()) {
            wchar_t c = mText[mPos++];
            value += c;
            taken += (static_cast<unsigned long>(c) > 0xFFFF) ? 2 : 1;
        }
        if (taken != units || mPos >= mText.size() || mText[mPos] != L';')
            return false;
        ++mPos;
        return true;
    }

private:
    const std::wstring &mText;
    size_t mPos = 0;
};

bool IsMarker(const std::wstring &field) {
    return !field.empty() && field[0] == L'!';
}

// The record's milliseconds are unpadded (".44" is 44 ms): shown with three digits.
std::wstring ShownTime(std::wstring time) {
    const size_t point = time.find(L'.');
    if (point == std::wstring::npos)
        return time;
    size_t digits = 0;
    while (point + 1 + digits < time.size() && time[point + 1 + digits] >= L'0' &&
           time[point + 1 + digits] <= L'9')
        ++digits;
    if (digits >= 1 && digits < 3)
        time.insert(point + 1, 3 - digits, L'0');
    return time;
}

} // namespace

Record ParseRecord(const std::wstring &raw) {
    Record r;
    r.Raw = raw;
    FieldReader reader(raw);
    std::wstring f;
    if (!reader.Next(r.Tag)) {
        r.Complete = false;
        return r;
    }
    std::vector<std::wstring *> head;
    if (r.Tag == L"!logb") {
        r.RecordKind = Record::Kind::Begin;
        head = {&r.Process, &r.Entry, &r.Time, &r.Module, &r.Function, &r.Level};
    } else if (r.Tag == L"!loge") {
        r.RecordKind = Record::Kind::End;
        head = {&r.Process, &r.Entry, &r.Time, &r.Level};
    } else if (r.Tag == L"!logn") {
        r.RecordKind = Record::Kind::Note;
        std::wstring placeholder;
        head = {&r.Time, &placeholder, &r.Module, &r.Function, &r.Level};
        for (auto *h : head) {
            if (!reader.Next(*h)) {
                r.Complete = false;
                return r;
            }
        }
        head.clear();
    } else {
        r.Complete = false;
        return r;
    }
    for (auto *h : head) {
        if (!reader.Next(*h)) {
            r.Complete = false;
            return r;
        }
    }
    std::wstring section;
    while (!reader.AtEnd()) {
        std::wstring field;
        if (!reader.Next(field)) {
            r.Complete = false;
            break;
        }
        Item item{section, 'n', field, L""};
        if (IsMarker(field)) {
            item.Type = 'm';
            section = field;
            item.Section = section;
        } else if (field.size() >= 2 && field[1] == L':' && (field[0] == L'i' || field[0] == L'a')) {
            item.Type = static_cast<char>(field[0]);
            item.Name = field.substr(2);
            if (item.Type == 'i') {
                if (!reader.Next(item.Value))
                    r.Complete = false;
            } else {
                std::wstring count;
                bool ok = reader.Next(count);
                size_t units = 0;
                try {
                    units = ok ? std::stoul(count) : 0;
                } catch (...) {
                    ok = false;
                }
                if (!ok || !reader.Counted(units, item.Value))
                    r.Complete = false;
            }
        }
        r.Items.push_back(item);
        if (!r.Complete)
            break;
    }
    return r;
}

const Item *Record::Find(const std::wstring &name, const std::wstring &section) const {
    for (const auto &item : Items)
        if ((item.Type == 'i' || item.Type == 'a') && item.Name == name &&
            (section.empty() || item.Section == section))
            return &item;
    return nullptr;
}

std::wstring Record::Value(const std::wstring &name, const std::wstring &section) const {
    const Item *item = Find(name, section);
    return item ? item->Value : std::wstring();
}

size_t Record::CountMarkers(const std::wstring &marker) const {
    size_t n = 0;
    for (const auto &item : Items)
        if (item.Type == 'm' && item.Name == marker)
            ++n;
    return n;
}

std::wstring EscapeControls(const std::wstring &text) {
    static const wchar_t hex[] = L"0123456789ABCDEF";
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        const auto code = static_cast<uint32_t>(c);
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            out += L"\\x";
            out += hex[code >> 4];
            out += hex[code & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring DescribeRecord(const Record &r) {
    std::wostringstream out;
    switch (r.RecordKind) {
    case Record::Kind::Begin:
        out << L"BEGIN pid=" << r.Process << L" entry=" << r.Entry << L" t=" << ShownTime(r.Time) << L" "
            << r.Module << L"::" << r.Function << L" [" << r.Level << L"]";
        break;
    case Record::Kind::End:
        out << L"END   pid=" << r.Process << L" entry=" << r.Entry << L" t=" << ShownTime(r.Time) << L" ["
            << r.Level << L"]";
        break;
    case Record::Kind::Note:
        out << L"NOTE  t=" << ShownTime(r.Time) << L" " << r.Module << L"::" << r.Function << L" [" << r.Level
            << L"]";
        break;
    default:
        out << L"?     " << r.Raw;
        return out.str();
    }
    for (const auto &item : r.Items) {
        if (item.Type == 'm')
            out << L" " << item.Name;
        else if (item.Type == 'n')
            out << L" " << item.Name;
        else
            out << L" " << item.Name << L"=\"" << item.Value << L"\"";
    }
    if (!r.Complete)
        out << L" (incomplete)";
    return out.str();
}

Collector::Collector(const std::wstring &slotName) {
    mReader.Create(slotName);
}

std::optional<Record> Collector::Next(std::chrono::milliseconds timeout) {
    auto text = mReader.Receive(timeout);
    if (!text)
        return std::nullopt;
    return ParseRecord(*text);
}

std::vector<Record> Collector::Collect(size_t count, std::chrono::milliseconds timeout) {
    std::vector<Record> records;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (records.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        auto r = Next(left);
        if (!r)
            break;
        records.push_back(std::move(*r));
    }
    return records;
}

std::vector<Record> Collector::Drain(std::chrono::milliseconds quiet) {
    std::vector<Record> records;
    while (auto r = Next(quiet))
        records.push_back(std::move(*r));
    return records;
}

} // namespace Quellin
