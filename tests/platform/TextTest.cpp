// Text conversions and locale independence of casing and number formatting.
#include "platform/Text.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <clocale>
#include <cstdio>
#include <locale.h>

using namespace Platform;

namespace {

// The decimal-comma locale, or null when it is missing.
locale_t DecimalCommaLocale() {
    return newlocale(LC_ALL_MASK, TestSupport::DecimalCommaLocaleName, static_cast<locale_t>(nullptr));
}

// Runs the body with the thread's locale set to loc, restoring the previous one.
template <typename Body> void WithLocale(locale_t loc, Body body) {
    locale_t previous = uselocale(loc);
    body();
    uselocale(previous);
}

std::string Format(double value) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%G", value);
    return buffer;
}

} // namespace

TEST(TextTest, Utf8RoundTripsThroughWideAndUtf16) {
    const std::string samples[] = {"", "plain", "D\xC3\xA9tecteur", "\xE2\x82\xAC 5",
                                   "\xF0\x9F\x94\xA7 tool"};
    for (const std::string &utf8 : samples) {
        std::wstring wide = Utf8ToWide(utf8);
        EXPECT_EQ(WideToUtf8(wide), utf8);
        EXPECT_EQ(Utf16ToWide(WideToUtf16(wide)), wide);
        EXPECT_EQ(Utf16ToWide(Utf16LEBytesToUtf16(WideToUtf16LEBytes(wide))), wide);
    }
    EXPECT_EQ(Utf8ToWide("D\xC3\xA9tecteur"), std::wstring(L"D\u00E9tecteur"));
}

TEST(TextTest, CharactersBeyondTheBmpBecomeSurrogatePairs) {
    std::wstring wrench = Utf8ToWide("\xF0\x9F\x94\xA7");
    ASSERT_EQ(wrench.size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(wrench[0]), 0x1F527u);
    EXPECT_EQ(WideToUtf16(wrench), std::u16string({0xD83D, 0xDD27}));
    EXPECT_EQ(WideToUtf16LEBytes(wrench), std::string("\x3D\xD8\x27\xDD", 4));
    EXPECT_EQ(Utf16Length(L"D\u00E9tecteur"), 9u);
    EXPECT_EQ(Utf16Length(wrench + L"ab"), 4u);
}

TEST(TextTest, Utf16LEBytesHaveNoByteOrderMarkAndNoTerminator) {
    EXPECT_EQ(WideToUtf16LEBytes(L"A\u00E9"), std::string("A\0\xE9\0", 4));
    EXPECT_EQ(WideToUtf16LEBytes(L""), std::string());
}

TEST(TextTest, InvalidInputBecomesReplacementCharacters) {
    // Lone continuation byte, truncated sequence, overlong encoding, encoded surrogate.
    EXPECT_EQ(Utf8ToWide("a\x80z"), std::wstring(L"a\uFFFDz"));
    EXPECT_EQ(Utf8ToWide("a\xC3"), std::wstring(L"a\uFFFD"));
    EXPECT_EQ(Utf8ToWide("\xE2\x82z"), std::wstring(L"\uFFFDz"));
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), std::wstring(L"\uFFFD\uFFFD"));
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), std::wstring(L"\uFFFD"));
    EXPECT_EQ(Utf8ToWide("\xF5\x80\x80\x80").find(L'\uFFFD'), 0u);
    // Lone surrogates in UTF-16, and wide values that are no character.
    EXPECT_EQ(Utf16ToWide(std::u16string({u'a', 0xD800, u'b'})), std::wstring(L"a\uFFFDb"));
    EXPECT_EQ(Utf16ToWide(std::u16string({0xDC00})), std::wstring(L"\uFFFD"));
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
    // An odd trailing byte is not half a character.
    EXPECT_EQ(Utf16LEBytesToUtf16(std::string("A\0B", 3)), std::u16string(u"A"));
}

TEST(TextTest, CasingChangesAsciiLettersOnlyWhateverTheLocale) {
    auto check = [] {
        EXPECT_EQ(AsciiUpper(std::string("lock-i d\xC3\xA9tecteur \xE9")), "LOCK-I D\xC3\xA9TECTEUR \xE9");
        EXPECT_EQ(AsciiLower(std::string("ABC \xC3\x89Z")), "abc \xC3\x89z");
        EXPECT_EQ(AsciiUpper(std::wstring(L"d\u00E9tecteur i")), std::wstring(L"D\u00E9TECTEUR I"));
        EXPECT_EQ(AsciiLower(std::wstring(L"\u00C9TAT I")), std::wstring(L"\u00C9tat i"));
        EXPECT_EQ(AsciiUpper('q'), 'Q');
        EXPECT_EQ(AsciiUpper(L'\u00E9'), L'\u00E9');
    };
    check();
    for (const char *name : {"C.UTF-8", "de_DE.UTF-8", "de_DE.ISO-8859-1", "tr_TR.UTF-8"}) {
        locale_t loc = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
        if (loc == static_cast<locale_t>(nullptr))
            continue;
        SCOPED_TRACE(name);
        WithLocale(loc, check);
        freelocale(loc);
    }
}

TEST(TextTest, ScopedCLocaleFormatsNumbersWithAPointAndRestores) {
    locale_t comma = DecimalCommaLocale();
    ASSERT_NE(comma, static_cast<locale_t>(nullptr))
        << TestSupport::DecimalCommaLocaleName << " is missing: run scripts/setup";
    WithLocale(comma, [] {
        ASSERT_EQ(Format(2.5), "2,5");
        {
            ScopedCLocale cLocale;
            EXPECT_EQ(Format(2.5), "2.5");
            EXPECT_EQ(Format(1.25e-7), "1.25E-07");
            {
                ScopedCLocale nested;
                EXPECT_EQ(Format(3.5), "3.5");
            }
            EXPECT_EQ(Format(3.5), "3.5");
        }
        EXPECT_EQ(Format(2.5), "2,5");
    });
    freelocale(comma);
}
