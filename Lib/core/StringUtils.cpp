// Text and number helpers: the shared printf-style formatters, tolerant parsers, trimming,
// searching, UTF-8 conversions, host-buffer helpers and wxRegEx matching.
#include "core/StringUtils.h"

#include "core/DLLMain.h"
#include "core/NeverDestroyed.h"
#include "core/Saturating.h"
#include "platform/Text.h"

#include <wx/log.h>
#include <wx/regex.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

namespace {

// One shared buffer per character width. The call mutex serialises whole formatting calls, the
// buffer mutex guards the block itself (the release functions take only that one). The two
// buffers are never destroyed: the plug-in's detach, which releases their blocks, may run after
// the static destructors at process exit.
template <typename Char> struct FormatBuffer {
    std::mutex callMutex;
    std::mutex bufferMutex;
    Char *data = nullptr;
    size_t size = 0;
};

FormatBuffer<char> &NarrowFormatBuffer() {
    static NeverDestroyed<FormatBuffer<char>> buffer;
    return buffer.Get();
}

FormatBuffer<wchar_t> &WideFormatBuffer() {
    static NeverDestroyed<FormatBuffer<wchar_t>> buffer;
    return buffer.Get();
}

// Caller holds the buffer mutex.
template <typename Char> void FreeBuffer(FormatBuffer<Char> &buffer) {
    delete[] buffer.data;
    buffer.data = nullptr;
    buffer.size = 0;
}

// Returns the length the full output needs (narrow), -1 when it does not fit (wide), or -1 on an
// encoding error.
int BoundedFormat(char *buffer, size_t size, const char *format, va_list args) {
    return std::vsnprintf(buffer, size, format, args);
}

int BoundedFormat(wchar_t *buffer, size_t size, const wchar_t *format, va_list args) {
    return std::vswprintf(buffer, size, format, args);
}

// Results longer than this many characters give the format text instead.
constexpr size_t MaxFormattedLength = 16 * 1024 * 1024;

template <typename Char>
std::basic_string<Char> FormatWith(FormatBuffer<Char> &buffer, const Char *format, va_list args) {
    if (format == nullptr)
        return std::basic_string<Char>();
    std::lock_guard<std::mutex> callLock(buffer.callMutex);
    std::unique_lock<std::mutex> bufferLock(buffer.bufferMutex);
    // Numbers as in the C locale; narrow texts in a wide format (and the reverse) as UTF-8.
    const Platform::ScopedCLocale cLocale;

    const size_t formatLength = std::char_traits<Char>::length(format);
    size_t needed = std::max<size_t>(10 * formatLength, 1024);
    for (;;) {
        if (needed > MaxFormattedLength + 1)
            break;
        if (needed > buffer.size) {
            FreeBuffer(buffer);
            buffer.data = new (std::nothrow) Char[needed];
            if (buffer.data != nullptr)
                buffer.size = needed;
        }
        if (buffer.data == nullptr)
            break;
        va_list attempt;
        va_copy(attempt, args);
        errno = 0;
        const int n = BoundedFormat(buffer.data, buffer.size, format, attempt);
        const int error = errno;
        va_end(attempt);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size)
            return std::basic_string<Char>(buffer.data, static_cast<size_t>(n));
        if (n >= 0) {
            needed = static_cast<size_t>(n) + 1; // narrow: the exact length is known
        } else {
            // A text that cannot be converted fails at any size; a wide result that did not fit
            // only says so.
            if (error == EILSEQ || sizeof(Char) == 1)
                break;
            needed = std::min(buffer.size * 4, MaxFormattedLength + 1);
            if (needed <= buffer.size)
                break;
        }
    }
    return std::basic_string<Char>(format, formatLength);
}

template <typename Char> void ReleaseBuffer(FormatBuffer<Char> &buffer) {
    std::lock_guard<std::mutex> bufferLock(buffer.bufferMutex);
    FreeBuffer(buffer);
}

bool IsNumberCharacter(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == ',' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

template <typename T> T ParseNumberWith(const std::string &text, const char *format, const T &defaultValue) {
    if (text.empty() || format == nullptr || *format == 0)
        return defaultValue;
    const std::string normalised = NormaliseNumberText(DecimalCommaToPoint(text));
    const Platform::ScopedCLocale cLocale;
    T value{};
    if (std::sscanf(normalised.c_str(), format, &value) == 1)
        return value;
    return defaultValue;
}

template <typename T> T ScanWith(const std::string &text, const std::string &format, const T &defaultValue) {
    if (text.empty() || format.empty())
        return defaultValue;
    const Platform::ScopedCLocale cLocale;
    T value{};
    if (std::sscanf(text.c_str(), format.c_str(), &value) == 1)
        return value;
    return defaultValue;
}

// Compiled expressions by pattern and case flag, so that a pattern used on every read (a
// detector reply, a status answer) is compiled once. wxRegEx keeps the last match inside the
// object, so a match runs under the cache's lock. Bounded: patterns may come from settings.
class RegexCache {
public:
    static constexpr size_t MaximumEntries = 64;

    // Runs work(expression) under the lock; RegexResultInvalidRegex when the pattern does not compile.
    template <typename Work> DWORD With(const wxString &pattern, bool bIgnoreCase, Work &&work) {
        std::lock_guard<std::mutex> guard(mLock);
        auto key = std::make_pair(pattern, bIgnoreCase);
        auto found = mEntries.find(key);
        if (found == mEntries.end()) {
            if (mEntries.size() >= MaximumEntries)
                mEntries.clear();
            auto expression = std::make_unique<wxRegEx>();
            if (!Compile(*expression, pattern, bIgnoreCase))
                expression.reset();
            found = mEntries.emplace(std::move(key), std::move(expression)).first;
        }
        if (!found->second)
            return RegexResultInvalidRegex;
        return work(*found->second);
    }

    void Clear() {
        std::lock_guard<std::mutex> guard(mLock);
        mEntries.clear();
    }

private:
    // A pattern that does not compile is a result code, not a log message box. Switching wx's
    // logging off touches the thread's wx records: once they are going at exit, the compile goes
    // ahead without the switch (a valid pattern logs nothing).
    static bool Compile(wxRegEx &expression, const wxString &pattern, bool bIgnoreCase) {
        const EntryGate::Pass records(WxRecordsGate());
        std::optional<wxLogNull> quiet;
        if (records)
            quiet.emplace();
        return expression.Compile(pattern, wxRE_ADVANCED | (bIgnoreCase ? wxRE_ICASE : 0));
    }

    std::mutex mLock;
    std::map<std::pair<wxString, bool>, std::unique_ptr<wxRegEx>> mEntries;
};

// Never destroyed (callers may run in static destructors); emptied when the plug-in detaches.
RegexCache &CompiledExpressions() {
    static NeverDestroyed<RegexCache> cache;
    return cache.Get();
}

void ReleaseCompiledExpressions() {
    CompiledExpressions().Clear();
}

const bool gReleaseExpressionsAtDetach = (AddProcessDetachStep(&ReleaseCompiledExpressions), true);

// Plain ASCII without null bytes: the text as the expression sees it is the same characters.
bool IsPlainAscii(const std::string &text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u != 0 && u < 0x80;
    });
}

// A pattern of plain ASCII without any character that has a meaning in an expression.
bool IsLiteralPattern(const std::string &pattern) {
    return !pattern.empty() && std::all_of(pattern.begin(), pattern.end(), [](char c) {
        switch (c) {
        case '\\':
        case '^':
        case '$':
        case '.':
        case '|':
        case '?':
        case '*':
        case '+':
        case '(':
        case ')':
        case '[':
        case ']':
        case '{':
        case '}':
            return false;
        default: {
            const auto u = static_cast<unsigned char>(c);
            return u != 0 && u < 0x80;
        }
        }
    });
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

// ---- Formatting ----------------------------------------------------------------------------------

std::string FormatStringV(const char *format, va_list args) {
    return FormatWith(NarrowFormatBuffer(), format, args);
}

std::string FormatString(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string result = FormatStringV(format, args);
    va_end(args);
    return result;
}

std::wstring FormatWStringV(const wchar_t *format, va_list args) {
    return FormatWith(WideFormatBuffer(), format, args);
}

std::wstring FormatWString(const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring result = FormatWStringV(format, args);
    va_end(args);
    return result;
}

void ReleaseFormatBuffer() {
    ReleaseBuffer(NarrowFormatBuffer());
}

void ReleaseFormatWBuffer() {
    ReleaseBuffer(WideFormatBuffer());
}

std::string UnsignedToString(const unsigned int &value) {
    return FormatString("%u", value);
}

std::string IntToString(const int &value) {
    return FormatString("%d", value);
}

std::string FloatToString(const float &value) {
    return FormatString("%G", static_cast<double>(value));
}

std::string DoubleToString(const double &value) {
    return FormatString("%lG", value);
}

std::string BoolToString(const bool &value) {
    return value ? "TRUE" : "FALSE";
}

template <> std::string FormatValue<int>(const int &value, const std::string &format) {
    return FormatString(format.c_str(), value);
}

std::string QuoteString(const std::string &text) {
    return "\"" + text + "\"";
}

std::wstring QuoteString(const std::wstring &text) {
    return L"\"" + text + L"\"";
}

// ---- Parsing -------------------------------------------------------------------------------------

int ScanValue(const std::string &text, const std::string &format, const int &defaultValue) {
    return ScanWith<int>(text, format, defaultValue);
}

int ParseInt(const std::string &text) {
    return ScanValue(text, "%d", 0);
}

int ParseIntOr(const std::string &text, const int &defaultValue) {
    return ScanValue(text, "%d", defaultValue);
}

unsigned int ParseUnsignedOr(const std::string &text, const unsigned int &defaultValue) {
    return ScanWith<unsigned int>(text, "%u", defaultValue);
}

unsigned int ParseUnsigned(const std::string &text) {
    return ParseUnsignedOr(text, 0u);
}

float StringToFloat(const std::string &text, const float &defaultValue) {
    return ParseNumberWith<float>(text, "%f", defaultValue);
}

double StringToDouble(const std::string &text, const double &defaultValue) {
    return ParseNumberWith<double>(text, "%lf", defaultValue);
}

float ParseFloat(const std::string &text) {
    return StringToFloat(text, 0.0f);
}

double ParseDouble(const std::string &text) {
    return StringToDouble(text, 0.0);
}

std::string DecimalCommaToPoint(const std::string &text) {
    std::string result(text);
    const size_t comma = result.find(',');
    if (comma != std::string::npos)
        result[comma] = '.';
    return result;
}

// Replaces every match of "([+-])([ ]*)([0-9.,eE+-]+)" by "\1\3".
std::string NormaliseNumberText(const std::string &text) {
    std::string result;
    result.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '+' || c == '-') {
            size_t j = i + 1;
            while (j < text.size() && text[j] == ' ')
                ++j;
            if (j < text.size() && IsNumberCharacter(text[j])) {
                result += c;
                while (j < text.size() && IsNumberCharacter(text[j]))
                    result += text[j++];
                i = j;
                continue;
            }
        }
        result += c;
        ++i;
    }
    return result;
}

bool ParseBoolOr(const std::string &text, const bool &defaultValue) {
    const std::string word = TrimDefault(ToUpper(text));
    struct Word {
        const char *text;
        bool value;
    };
    static const Word words[] = {{"0", false},     {"1", true},  {"OK", true},   {"TRUE", true},
                                 {"FALSE", false}, {"ON", true}, {"OFF", false}, {"YES", true},
                                 {"NO", false},    {"JA", true}, {"NEE", false}, {"SI", true},
                                 {"NON", false}};
    for (const Word &entry : words) {
        if (word == entry.text)
            return entry.value;
    }
    return ParseInt(word) != 0 ? true : defaultValue;
}

bool ParseBool(const std::string &text) {
    return ParseBoolOr(text, false);
}

std::string ParseString(const std::string &text) {
    return text;
}

// ---- Numbers and units ---------------------------------------------------------------------------

double SecondsToMilliseconds(double seconds) {
    return seconds * 1000.0;
}

double MillisecondsToSeconds(const unsigned int &milliseconds) {
    return static_cast<double>(milliseconds) / 1000.0;
}

unsigned int SaturatingToUnsigned(const double &value) {
    return SaturatingCast<unsigned int>(value);
}

bool IsInRange(const int &value, const int &minimum, const int &maximum) {
    return minimum <= value && value <= maximum;
}

DWORD FirstNonZero(const DWORD &first, const DWORD &second) {
    return first != 0 ? first : second;
}

// ---- Trimming and cleaning -----------------------------------------------------------------------

template <typename Char>
std::basic_string<Char> TrimWith(const std::basic_string<Char> &text,
                                 const std::basic_string<Char> &characters) {
    const size_t first = text.find_first_not_of(characters);
    if (first == std::basic_string<Char>::npos)
        return std::basic_string<Char>();
    const size_t last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

std::string Trim(const std::string &text, const std::string &characters) {
    return TrimWith(text, characters);
}

std::string TrimLeft(const std::string &text, const std::string &characters) {
    const size_t first = text.find_first_not_of(characters);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first);
}

std::string TrimRight(const std::string &text, const std::string &characters) {
    const size_t last = text.find_last_not_of(characters);
    if (last == std::string::npos)
        return std::string();
    return text.substr(0, last + 1);
}

std::string TrimDefault(const std::string &text) {
    return Trim(text, WhitespaceCharacters);
}

std::wstring TrimDefault(const std::wstring &text) {
    static const std::wstring characters(WhitespaceCharacters.begin(), WhitespaceCharacters.end());
    return TrimWith(text, characters);
}

std::string TrimRightDefault(const std::string &text) {
    return TrimRight(text, WhitespaceCharacters);
}

std::string TrimLeftWith(const std::string &text, const char *characters) {
    return TrimLeft(text, characters != nullptr ? std::string(characters) : std::string());
}

std::string TrimRightWith(const std::string &text, const char *characters) {
    return TrimRight(text, characters != nullptr ? std::string(characters) : std::string());
}

std::string RemoveCharacters(const std::string &text, const std::string &characters) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (characters.find(c) == std::string::npos)
            result += c;
    }
    return result;
}

void RemoveSpaces(std::string &text) {
    text = RemoveCharacters(text, " ");
}

std::string SurroundWith(const std::string &text, const std::string &affix) {
    const bool starts = StartsWith(text, affix, false);
    const bool ends = EndsWith(text, affix, false);
    return (starts ? std::string() : affix) + text + (ends ? std::string() : affix);
}

std::string ReplaceAll(const std::string &text, const std::string &search, const std::string &replacement) {
    std::string result(text);
    if (search.empty())
        return result;
    size_t position = result.find(search);
    while (position != std::string::npos) {
        result.replace(position, search.size(), replacement);
        position = result.find(search, position + replacement.size());
    }
    return result;
}

wxString EscapeAmpersands(const wxString &text) {
    wxString result(text);
    size_t position = result.find(wxT('&'));
    while (position != wxString::npos) {
        if (result.compare(position, 2, wxT("&&")) != 0)
            result.replace(position, 1, wxT("&&"));
        position = result.find(wxT('&'), position + 2);
    }
    return result;
}

void AppendBytes(std::string &text, const void *bytes, size_t count) {
    if (bytes == nullptr || count == 0)
        return;
    text.reserve(text.size() + count);
    text.append(static_cast<const char *>(bytes), count);
}

// ---- Comparing and searching ---------------------------------------------------------------------

int CompareStrings(const std::string &first, const std::string &second, bool bIgnoreCase) {
    if (bIgnoreCase)
        return ToUpper(first).compare(ToUpper(second));
    return first.compare(second);
}

bool Contains(const std::string &text, const std::string &part, bool bIgnoreCase) {
    if (bIgnoreCase)
        return ToUpper(text).find(ToUpper(part)) != std::string::npos;
    return text.find(part) != std::string::npos;
}

bool StartsWith(const std::string &text, const std::string &prefix, bool bIgnoreCase) {
    if (text.size() < prefix.size())
        return false;
    if (!bIgnoreCase)
        return text.compare(0, prefix.size(), prefix) == 0;
    return CompareStrings(prefix, text.substr(0, prefix.size()), bIgnoreCase) == 0;
}

bool EndsWith(const std::string &text, const std::string &suffix, bool bIgnoreCase) {
    if (text.size() < suffix.size())
        return false;
    if (!bIgnoreCase)
        return text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
    return CompareStrings(suffix, text.substr(text.size() - suffix.size()), bIgnoreCase) == 0;
}

// ---- Case and conversions ------------------------------------------------------------------------

std::string ToLower(const std::string &text) {
    return Platform::AsciiLower(text);
}

std::string ToUpper(const std::string &text) {
    return Platform::AsciiUpper(text);
}

std::string ToUpperStdString(const wxString &text) {
    return ToUpper(ToStdString(text));
}

std::string ToStdString(const std::wstring &text) {
    return Platform::WideToUtf8(text);
}

std::string ToStdString(const wxString &text) {
    return text.utf8_string();
}

std::string ToStdString(const char *text) {
    return text != nullptr ? std::string(text) : std::string();
}

std::wstring ToStdWstring(const std::string &text) {
    return Platform::Utf8ToWide(text);
}

std::wstring ToStdWstring(const char *text) {
    return text != nullptr ? Platform::Utf8ToWide(text) : std::wstring();
}

std::wstring ToStdWstring(const wxString &text) {
    return text.ToStdWstring();
}

std::string WxStringToStdString(const wxString &text) {
    return text.utf8_string();
}

std::wostream &operator<<(std::wostream &stream, const char *text) {
    stream << ToStdWstring(text);
    return stream;
}

std::wostream &operator<<(std::wostream &stream, const std::string &text) {
    stream << ToStdWstring(text);
    return stream;
}

// ---- Host buffers --------------------------------------------------------------------------------

std::string HostBufferText(const char *buffer, uint32_t size, uint32_t count) {
    if (buffer == nullptr)
        return std::string();
    const size_t limit = std::min(size, count);
    const void *end = std::memchr(buffer, 0, limit);
    return std::string(buffer, end ? static_cast<size_t>(static_cast<const char *>(end) - buffer) : limit);
}

void ClearErrorText(char *buffer, uint32_t size, uint32_t *length) {
    if (length != nullptr)
        *length = 0;
    if (buffer != nullptr && size > 0)
        buffer[0] = 0;
}

void CopyStringToBuffer(const std::string &text, char *buffer, uint32_t size, uint32_t *length) {
    if (length != nullptr)
        *length = 0;
    if (buffer == nullptr || length == nullptr || size == 0)
        return;
    size_t count = std::min<size_t>(text.size(), size - 1);
    // Back off to the start of a UTF-8 character that would be cut.
    if (count < text.size()) {
        while (count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80)
            --count;
    }
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count), buffer);
    buffer[count] = 0;
    *length = static_cast<uint32_t>(count);
}

// ---- Regular expressions -------------------------------------------------------------------------

DWORD RegexMatchText(const std::string &text, const wxString &pattern, std::string &matched,
                     bool bIgnoreCase) {
    // Invalid UTF-8 bytes become U+FFFD rather than emptying the whole text.
    const wxString subject(ToStdWstring(text));
    return CompiledExpressions().With(pattern, bIgnoreCase, [&](wxRegEx &expression) -> DWORD {
        if (!expression.Matches(subject))
            return RegexResultNoMatch;
        const size_t count = expression.GetMatchCount();
        if (count == 0)
            return RegexResultNoGroup;
        const size_t index = count >= 2 ? 1 : 0;
        size_t start = 0;
        size_t length = 0;
        if (!expression.GetMatch(&start, &length, index))
            return RegexResultNoGroup;
        if (start == static_cast<size_t>(-1) || start > subject.length())
            return RegexResultGroupAbsent;
        matched = subject.Mid(start, length).utf8_string();
        return 0;
    });
}

DWORD ExtractNumberByRegex(const std::string &text, const wxString &pattern, unsigned int &value,
                           bool bIgnoreCase) {
    return RegexMatch<unsigned int>(text, pattern, value, bIgnoreCase);
}

DWORD RegExMatch(const std::string &text, const wxString &pattern, int &value, bool bIgnoreCase) {
    return RegexMatch<int>(text, pattern, value, bIgnoreCase);
}

bool MatchesRegex(const std::string &text, const std::string &pattern, bool bIgnoreCase) {
    // A literal pattern in plain ASCII text is a search: no conversion, no expression.
    if (IsLiteralPattern(pattern) && IsPlainAscii(text)) {
        if (!bIgnoreCase)
            return text.find(pattern) != std::string::npos;
        return std::search(text.begin(), text.end(), pattern.begin(), pattern.end(),
                           [](char a, char b) { return AsciiLower(a) == AsciiLower(b); }) != text.end();
    }
    std::string matched;
    const DWORD result = RegexMatch<std::string>(text, wxString(ToStdWstring(pattern)), matched, bIgnoreCase);
    return result == 0 || result == RegexResultGroupAbsent;
}

// ---- Splitting -----------------------------------------------------------------------------------

void SplitString(const std::string &text, std::vector<std::string> &pieces, const std::string &delimiters,
                 bool bKeepEmpty) {
    std::string piece;
    for (const char c : text) {
        if (delimiters.find(c) == std::string::npos) {
            piece += c;
            continue;
        }
        if (bKeepEmpty || !piece.empty())
            pieces.push_back(piece);
        piece.clear();
    }
    if (!piece.empty())
        pieces.push_back(piece);
}

template <typename Text>
Text JoinTexts(const std::vector<Text> &texts, const typename Text::value_type *separator) {
    Text joined;
    for (const Text &text : texts) {
        if (&text != &texts.front())
            joined += separator;
        joined += text;
    }
    return joined;
}
template std::string JoinTexts(const std::vector<std::string> &, const char *);
template std::wstring JoinTexts(const std::vector<std::wstring> &, const wchar_t *);

bool CaseInsensitiveEqual(const std::string &first, const std::string &second) {
    return Platform::AsciiUpper(first) == Platform::AsciiUpper(second);
}
