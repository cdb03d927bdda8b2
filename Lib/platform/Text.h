// Text conversions of the port: narrow texts are UTF-8, wide texts are std::wstring (UTF-32),
// the call log travels as UTF-16LE. Casing is ASCII-only and numbers use the C locale.
#pragma once

#include <string>
#include <string_view>

namespace Platform {

// UTF-8 <-> wide. Invalid input bytes become U+FFFD; nothing is dropped silently.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// Wide <-> UTF-16 (code units), and UTF-16LE bytes for the wire.
std::u16string WideToUtf16(std::wstring_view text);
std::wstring Utf16ToWide(std::u16string_view text);
std::string WideToUtf16LEBytes(std::wstring_view text);
std::u16string Utf16LEBytesToUtf16(std::string_view bytes);
// Number of UTF-16 units a wide text takes.
size_t Utf16Length(std::wstring_view text);

// ASCII-only casing: only a-z / A-Z change, every other byte or character stays.
std::string AsciiUpper(std::string text);
std::string AsciiLower(std::string text);
std::wstring AsciiUpper(std::wstring text);
std::wstring AsciiLower(std::wstring text);
char AsciiUpper(char c);
wchar_t AsciiUpper(wchar_t c);

// Character tests of the C locale, whatever locale is set: '0' to '9'; blank, TAB, LF, VT, FF, CR.
constexpr bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// While alive, the calling thread formats and parses numbers in the C locale (its UTF-8 form, so
// that narrow and wide texts convert through UTF-8).
class ScopedCLocale {
public:
    ScopedCLocale();
    ~ScopedCLocale();
    ScopedCLocale(const ScopedCLocale &) = delete;
    ScopedCLocale &operator=(const ScopedCLocale &) = delete;

private:
    void *mPrevious;
};

// Frees the C locale object at an unload (no call may be running then); a ScopedCLocale made
// after it leaves the thread's locale as it is.
void ReleaseCLocale();

} // namespace Platform
