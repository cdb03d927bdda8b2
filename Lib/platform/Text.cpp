// Text conversions: UTF-8, UTF-32 (wchar_t), UTF-16 and UTF-16LE bytes; ASCII casing; C locale.
#include "platform/Text.h"

#include <atomic>
#include <clocale>
#include <locale.h>
#include <mutex>

namespace Platform {

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// A wide character that cannot be encoded (a lone surrogate or beyond U+10FFFF) becomes U+FFFD.
char32_t ValidScalar(wchar_t w) {
    char32_t c = static_cast<char32_t>(w);
    if (c > 0x10FFFF || IsSurrogate(c))
        return Replacement;
    return c;
}

void AppendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string &out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

char AsciiLowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
wchar_t AsciiLowerChar(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// One C locale object, made at first use. Its holder is never destroyed (a call on another thread
// may still format a number while the process exits); ReleaseCLocale frees the object at an
// unload. The UTF-8 form of C where there is one: numbers exactly as in C, multibyte texts as UTF-8.
std::atomic<locale_t> gCLocale{static_cast<locale_t>(nullptr)};

locale_t CLocale() {
    static const bool made = [] {
        locale_t locale = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (locale == static_cast<locale_t>(nullptr))
            locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        gCLocale = locale;
        return true;
    }();
    (void)made;
    return gCLocale;
}

} // namespace

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            // A run of ASCII is copied in one go.
            size_t end = i + 1;
            while (end < n && static_cast<unsigned char>(text[end]) < 0x80)
                ++end;
            out.append(text.begin() + i, text.begin() + end);
            i = end;
            continue;
        }
        size_t length;
        char32_t c;
        char32_t minimum;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2, c = b & 0x1F, minimum = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3, c = b & 0x0F, minimum = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4, c = b & 0x07, minimum = 0x10000;
        } else {
            out += static_cast<wchar_t>(Replacement);
            ++i;
            continue;
        }
        // A truncated or malformed sequence yields one U+FFFD for the bytes consumed so far;
        // the byte that broke it is decoded afresh.
        size_t k = 1;
        for (; k < length && i + k < n; ++k) {
            unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                break;
            c = (c << 6) | (t & 0x3F);
        }
        if (k < length || c < minimum || c > 0x10FFFF || IsSurrogate(c)) {
            out += static_cast<wchar_t>(Replacement);
            i += k;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += length;
    }
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text)
        AppendUtf8(out, ValidScalar(w));
    return out;
}

std::u16string WideToUtf16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t w : text)
        AppendUtf16(out, ValidScalar(w));
    return out;
}

std::wstring Utf16ToWide(std::u16string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsSurrogate(u)) {
            out += static_cast<wchar_t>(Replacement);
        } else {
            out += static_cast<wchar_t>(u);
        }
    }
    return out;
}

std::string WideToUtf16LEBytes(std::wstring_view text) {
    std::u16string units = WideToUtf16(text);
    std::string out;
    out.resize(units.size() * 2);
    for (size_t i = 0; i < units.size(); ++i) {
        out[2 * i] = static_cast<char>(units[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return out;
}

std::u16string Utf16LEBytesToUtf16(std::string_view bytes) {
    std::u16string out;
    out.resize(bytes.size() / 2); // an odd trailing byte is not a unit
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return out;
}

size_t Utf16Length(std::wstring_view text) {
    size_t units = 0;
    for (wchar_t w : text)
        units += ValidScalar(w) >= 0x10000 ? 2 : 1;
    return units;
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
wchar_t AsciiUpper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

std::string AsciiUpper(std::string text) {
    for (char &c : text)
        c = AsciiUpper(c);
    return text;
}

std::string AsciiLower(std::string text) {
    for (char &c : text)
        c = AsciiLowerChar(c);
    return text;
}

std::wstring AsciiUpper(std::wstring text) {
    for (wchar_t &c : text)
        c = AsciiUpper(c);
    return text;
}

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t &c : text)
        c = AsciiLowerChar(c);
    return text;
}

void ReleaseCLocale() {
    const locale_t locale = gCLocale.exchange(static_cast<locale_t>(nullptr));
    if (locale != static_cast<locale_t>(nullptr))
        freelocale(locale);
}

ScopedCLocale::ScopedCLocale() : mPrevious(nullptr) {
    locale_t c = CLocale();
    if (c != static_cast<locale_t>(nullptr))
        mPrevious = uselocale(c);
}

ScopedCLocale::~ScopedCLocale() {
    if (mPrevious != nullptr)
        uselocale(static_cast<locale_t>(mPrevious));
}

} // namespace Platform
