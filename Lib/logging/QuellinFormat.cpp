// Value texts of the call log, formatted in the C locale whatever locale the host set.
#include "logging/QuellinFormat.h"

#include <charconv>

namespace QuellinFormat {

namespace {

std::wstring Widen(const char *first, const char *last) {
    return std::wstring(first, last);
}

} // namespace

std::wstring SignedText(long long value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(buffer, result.ptr);
}

std::wstring UnsignedText(unsigned long long value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(buffer, result.ptr);
}

std::wstring DoubleText(double value) {
    // to_chars with the general format and a precision is the C library's "%g", without a locale.
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return Widen(buffer, result.ptr);
}

std::wstring NarrowText(const char *text) {
    return ToStdWstring(NullGuard(text));
}

std::wstring WideText(const wchar_t *text) {
    return std::wstring(NullGuard(text));
}

std::wstring WxText(const wxString &text) {
    return ToStdWstring(text);
}

} // namespace QuellinFormat
