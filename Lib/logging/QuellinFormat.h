// Value formatting of the call log: the type tag of each loggable value type ("i" for int, unsigned
// int and unsigned char, "a" for every other type) and the text that a value contributes to a
// record. QuellinEntry::FormatValue joins the two into one packed field '<tag>:<text>'.
#pragma once

#include <string>
#include <type_traits>

#include "logging/MakeString.h"

namespace QuellinFormat {

template <typename T> using Plain = MakeStringDetail::Plain<T>;

// "i" belongs to exactly three types; integers of every other width, enumerations, texts,
// floating-point values and window handles get "a".
template <typename T>
constexpr bool IsIntTagged = std::is_same_v<Plain<T>, int> || std::is_same_v<Plain<T>, unsigned int> ||
                             std::is_same_v<Plain<T>, unsigned char>;

template <typename T>
constexpr bool IsWindowHandle = std::is_same_v<Plain<T>, void *> || std::is_same_v<Plain<T>, const void *>;

// The value types that have a text in the log.
template <typename T>
constexpr bool IsLoggable = std::is_same_v<Plain<T>, bool> || std::is_same_v<Plain<T>, char> ||
                            std::is_same_v<Plain<T>, unsigned char> || std::is_same_v<Plain<T>, short> ||
                            std::is_same_v<Plain<T>, unsigned short> || std::is_same_v<Plain<T>, int> ||
                            std::is_same_v<Plain<T>, unsigned int> || std::is_same_v<Plain<T>, long> ||
                            std::is_same_v<Plain<T>, unsigned long> || std::is_same_v<Plain<T>, long long> ||
                            std::is_same_v<Plain<T>, unsigned long long> || std::is_enum_v<Plain<T>> ||
                            std::is_same_v<Plain<T>, float> || std::is_same_v<Plain<T>, double> ||
                            MakeStringDetail::IsNarrowCString<T> || MakeStringDetail::IsWideCString<T> ||
                            std::is_same_v<Plain<T>, std::string> || std::is_same_v<Plain<T>, std::wstring> ||
                            std::is_same_v<Plain<T>, wxString> || IsWindowHandle<T>;

// Texts of the value kinds (C locale throughout).
std::wstring SignedText(long long value);
std::wstring UnsignedText(unsigned long long value);
std::wstring DoubleText(double value);      // general notation, six significant digits, like "%g"
std::wstring NarrowText(const char *text);  // UTF-8; null gives "<NULL>"
std::wstring WideText(const wchar_t *text); // up to the first NUL; null gives "<NULL>"
std::wstring WxText(const wxString &text);

template <typename T> std::wstring ValueText(const T &value) {
    static_assert(IsLoggable<T>, "this type has no text in the call log");
    using P = Plain<T>;
    if constexpr (std::is_same_v<P, bool>)
        return value ? L"True" : L"False";
    else if constexpr (std::is_same_v<P, char>)
        return std::wstring(1, MakeStringDetail::WidenChar(value));
    else if constexpr (std::is_enum_v<P>)
        return SignedText(static_cast<int>(value));
    else if constexpr (std::is_integral_v<P> && std::is_signed_v<P>)
        return SignedText(value);
    else if constexpr (std::is_integral_v<P>)
        return UnsignedText(value);
    else if constexpr (std::is_floating_point_v<P>)
        return DoubleText(static_cast<double>(value));
    else if constexpr (MakeStringDetail::IsNarrowCString<T>)
        return NarrowText(value);
    else if constexpr (MakeStringDetail::IsWideCString<T>)
        return WideText(value);
    else if constexpr (std::is_same_v<P, std::string>)
        return ToStdWstring(value);
    else if constexpr (std::is_same_v<P, std::wstring>)
        return WideText(value.c_str());
    else if constexpr (std::is_same_v<P, wxString>)
        return WxText(value);
    else
        return MakeStringDetail::PointerText<wchar_t>(value);
}

template <typename T> const wchar_t *TypeTag() {
    return IsIntTagged<T> ? L"i" : L"a";
}

} // namespace QuellinFormat
