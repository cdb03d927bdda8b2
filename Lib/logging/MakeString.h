// Text builders: MakeString and MakeWString stream their arguments, in order and with nothing
// between them, into a fresh string stream in its default state (C locale, six significant digits,
// bool as 1/0, decimal). Narrow texts are UTF-8; a null C-string pointer prints "<NULL>"; a pointer
// prints as upper-case hexadecimal zero-padded to the pointer's width.
#pragma once

#include "core/StringUtils.h"

#include <cstdint>
#include <locale>
#include <sstream>
#include <string>
#include <type_traits>

// The texts that stand in for null C-string pointers; never written.
inline const char *const NullGuardText = "<NULL>";
inline const wchar_t *const NullGuardWText = L"<NULL>";

inline const char *NullGuard(const char *text) {
    return text ? text : NullGuardText;
}
inline const wchar_t *NullGuard(const wchar_t *text) {
    return text ? text : NullGuardWText;
}

namespace MakeStringDetail {

// Upper-case hexadecimal, zero-padded to the pointer's width, no prefix.
template <typename CharT> std::basic_string<CharT> PointerText(const void *pointer) {
    constexpr size_t Digits = sizeof(void *) * 2;
    std::basic_string<CharT> text(Digits, CharT('0'));
    auto value = reinterpret_cast<uintptr_t>(pointer);
    for (size_t i = Digits; i-- > 0; value >>= 4)
        text[i] = static_cast<CharT>("0123456789ABCDEF"[value & 0xF]);
    return text;
}

// One narrow character as a wide one: ASCII unchanged, any other byte (part of a UTF-8 sequence
// on its own) as U+FFFD.
inline wchar_t WidenChar(char c) {
    return static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : static_cast<wchar_t>(0xFFFD);
}

template <typename T> using Plain = std::remove_cv_t<std::decay_t<T>>;

template <typename T>
constexpr bool IsNarrowCString = std::is_same_v<Plain<T>, const char *> || std::is_same_v<Plain<T>, char *>;
template <typename T>
constexpr bool IsWideCString =
    std::is_same_v<Plain<T>, const wchar_t *> || std::is_same_v<Plain<T>, wchar_t *>;
// Object pointers other than texts print as addresses; function pointers (manipulators) do not.
template <typename T>
constexpr bool IsAddress = std::is_pointer_v<Plain<T>> && !IsNarrowCString<T> && !IsWideCString<T> &&
                           !std::is_function_v<std::remove_pointer_t<Plain<T>>>;

template <typename T> void InsertNarrow(std::ostream &out, const T &value) {
    if constexpr (IsNarrowCString<T>)
        out << NullGuard(value);
    else if constexpr (IsWideCString<T>)
        out << ToStdString(std::wstring(NullGuard(value)));
    else if constexpr (std::is_same_v<Plain<T>, std::wstring>)
        out << ToStdString(value);
    else if constexpr (std::is_same_v<Plain<T>, wxString>)
        out << ToStdString(value);
    else if constexpr (IsAddress<T>)
        out << PointerText<char>(static_cast<const void *>(value));
    else
        out << value;
}

template <typename T> void InsertWide(std::wostream &out, const T &value) {
    if constexpr (IsNarrowCString<T>)
        out << ToStdWstring(NullGuard(value));
    else if constexpr (IsWideCString<T>)
        out << NullGuard(value);
    else if constexpr (std::is_same_v<Plain<T>, std::string>)
        out << ToStdWstring(value);
    else if constexpr (std::is_same_v<Plain<T>, wxString>)
        out << ToStdWstring(value);
    else if constexpr (std::is_same_v<Plain<T>, char>)
        out << WidenChar(value);
    else if constexpr (IsAddress<T>)
        out << PointerText<wchar_t>(static_cast<const void *>(value));
    else
        out << value;
}

} // namespace MakeStringDetail

template <typename... Args> std::string MakeString(const Args &...args) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    (MakeStringDetail::InsertNarrow(out, args), ...);
    return out.str();
}

template <typename... Args> std::wstring MakeWString(const Args &...args) {
    std::wostringstream out;
    out.imbue(std::locale::classic());
    (MakeStringDetail::InsertWide(out, args), ...);
    return out.str();
}
