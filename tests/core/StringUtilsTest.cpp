// Text and number helpers: shared formatters, tolerant parsers, trimming, UTF-8 conversions, host
// buffers, regular expressions, and the number code under a decimal-comma locale.
#include "core/StringUtils.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <clocale>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::string_literals;

// ---- Formatting ----------------------------------------------------------------------------------

TEST(FormatStringTest, OutputBeyondTheFirstBufferIsComplete) {
    ReleaseFormatBuffer();
    const std::string word(3000, 'x');
    // Two arguments, so a retry with a used-up argument list would print garbage or crash.
    EXPECT_EQ(FormatString("%s-%d", word.c_str(), 42), word + "-42");
    EXPECT_EQ(FormatString("%s|%s", word.c_str(), word.c_str()), word + "|" + word);
    // A buffer that has grown serves short formats as well.
    EXPECT_EQ(FormatString("%u", 7u), "7");
}

TEST(FormatStringTest, WideOutputBeyondTheFirstBufferIsComplete) {
    ReleaseFormatWBuffer();
    const std::wstring word(1500, L'\x00FC');
    EXPECT_EQ(FormatWString(L"%ls=%d", word.c_str(), -3), word + L"=-3");
    EXPECT_EQ(FormatWString(L"Gr\x00FC\x00DF"
                            L"e %ls",
                            L"\x03A9"),
              L"Gr\x00FC\x00DF"
              L"e \x03A9");
    ReleaseFormatWBuffer();
    EXPECT_EQ(FormatWString(L"%d", 5), L"5");
}

// Long results and texts of the other width are formatted whole; only a result beyond the
// 16 Mi-character limit (or a text that cannot be converted) gives the format text.
TEST(FormatStringTest, LongResultsAndMixedWidthsAreFormattedWhole) {
    const std::wstring wide(300000, L'\x00E9');
    EXPECT_EQ(FormatWString(L"<%ls>", wide.c_str()), L"<" + wide + L">");
    EXPECT_EQ(FormatString("%ls|%d", L"D\x00E9tecteur \x20AC", 7), "D\xC3\xA9tecteur \xE2\x82\xAC|7");
    EXPECT_EQ(FormatWString(L"%s|%d", "D\xC3\xA9tecteur", 7), L"D\x00E9tecteur|7");
    const std::string huge(16 * 1024 * 1024, 'x');
    EXPECT_EQ(FormatString("%s", huge.c_str()).size(), huge.size());
    EXPECT_EQ(FormatString("%s.", huge.c_str()), "%s.");
    EXPECT_EQ(FormatWString(L"%s", "\xFF"), L"%s");
    ReleaseFormatBuffer();
    ReleaseFormatWBuffer();
}

TEST(FormatStringTest, NullFormatGivesEmptyText) {
    EXPECT_EQ(FormatString(nullptr), "");
    EXPECT_EQ(FormatWString(nullptr), L"");
}

TEST(FormatStringTest, ConcurrentCallersGetTheirOwnTexts) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string fill(1000 + 300 * t, static_cast<char>('a' + t));
            for (int i = 0; i < 200; ++i) {
                if (FormatString("%s%d", fill.c_str(), i) != fill + std::to_string(i))
                    ++failures[t];
                if (i % 50 == 0)
                    ReleaseFormatBuffer();
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int count : failures)
        EXPECT_EQ(count, 0);
}

TEST(ValueTextTest, SettingsTexts) {
    EXPECT_EQ(IntToString(-17), "-17");
    EXPECT_EQ(UnsignedToString(4294967295u), "4294967295");
    EXPECT_EQ(FloatToString(0.1f), "0.1");
    EXPECT_EQ(FloatToString(1e-7f), "1E-07");
    EXPECT_EQ(DoubleToString(123456789.0), "1.23457E+08");
    EXPECT_EQ(DoubleToString(2.5), "2.5");
    EXPECT_EQ(BoolToString(true), "TRUE");
    EXPECT_EQ(BoolToString(false), "FALSE");
    EXPECT_EQ(FormatValue<int>(3, "COM%i"), "COM3");
    EXPECT_EQ(QuoteString("GPIB"), "\"GPIB\"");
}

// ---- Parsing -------------------------------------------------------------------------------------

TEST(NumberParsingTest, SignBlankAndDecimalComma) {
    EXPECT_DOUBLE_EQ(StringToDouble("- 1,5", 9.0), -1.5);
    EXPECT_DOUBLE_EQ(StringToDouble("+  2,25", 9.0), 2.25);
    EXPECT_FLOAT_EQ(StringToFloat("1,5", 9.0f), 1.5f);
    EXPECT_DOUBLE_EQ(ParseDouble("-1.5E+03"), -1500.0);
    EXPECT_DOUBLE_EQ(StringToDouble("", 9.0), 9.0);
    EXPECT_DOUBLE_EQ(StringToDouble("abc", 9.0), 9.0);
    EXPECT_FLOAT_EQ(ParseFloat("volts"), 0.0f);
    EXPECT_EQ(DecimalCommaToPoint("1,2,3"), "1.2,3");
    EXPECT_EQ(NormaliseNumberText("U = - 1.5 V"), "U = -1.5 V");
    EXPECT_EQ(NormaliseNumberText("a - b"), "a - b");
}

TEST(NumberParsingTest, IntegersAndDefaults) {
    EXPECT_EQ(ParseInt(" 42"), 42);
    EXPECT_EQ(ParseInt("abc"), 0);
    EXPECT_EQ(ParseIntOr("", 7), 7);
    EXPECT_EQ(ParseIntOr("x", 7), 7);
    EXPECT_EQ(ScanValue("12", "", 5), 5);
    EXPECT_EQ(ScanValue("COM4", "COM%d", 0), 4);
    EXPECT_EQ(ParseUnsigned("4000000000"), 4000000000u);
    EXPECT_EQ(ParseUnsignedOr("none", 9u), 9u);
}

TEST(BoolParsingTest, WordTable) {
    EXPECT_TRUE(ParseBool("  yes \t"));
    EXPECT_FALSE(ParseBoolOr("NeE", true));
    EXPECT_TRUE(ParseBool("2"));
    EXPECT_TRUE(ParseBool("TRUE"));
    EXPECT_FALSE(ParseBoolOr("false", true));
    EXPECT_FALSE(ParseBoolOr("0", true));
    EXPECT_TRUE(ParseBool("on"));
    EXPECT_TRUE(ParseBool("Ja"));
    EXPECT_FALSE(ParseBoolOr("non", true));
    EXPECT_TRUE(ParseBool("1\0"s));
    EXPECT_TRUE(ParseBoolOr("maybe", true));
    EXPECT_FALSE(ParseBoolOr("maybe", false));
    EXPECT_FALSE(ParseBool(""));
}

// ---- Numbers and units ---------------------------------------------------------------------------

TEST(UnitsTest, SaturatingConversion) {
    EXPECT_EQ(SaturatingToUnsigned(5e9), 0xFFFFFFFFu);
    EXPECT_EQ(SaturatingToUnsigned(-1.0), 0u);
    EXPECT_EQ(SaturatingToUnsigned(2.9), 2u);
    EXPECT_EQ(SaturatingToUnsigned(std::numeric_limits<double>::quiet_NaN()), 0u);
    EXPECT_EQ(SaturatingToUnsigned(std::numeric_limits<double>::infinity()), 0xFFFFFFFFu);
    EXPECT_EQ(SaturatingToUnsigned(SecondsToMilliseconds(2.5)), 2500u);
    EXPECT_DOUBLE_EQ(MillisecondsToSeconds(1500u), 1.5);
    EXPECT_TRUE(IsInRange(3, 3, 5));
    EXPECT_FALSE(IsInRange(6, 3, 5));
    EXPECT_EQ(FirstNonZero(0, 7), 7u);
    EXPECT_EQ(FirstNonZero(3, 7), 3u);
}

// ---- Trimming and cleaning -----------------------------------------------------------------------

TEST(TrimTest, WhitespaceSetIncludesNul) {
    EXPECT_EQ(WhitespaceCharacters.size(), 9u);
    EXPECT_EQ(TrimDefault(" \t\n\0abc d\0\r\v "s), "abc d");
    EXPECT_EQ(TrimDefault("\a\b\f \0"s), "");
    EXPECT_EQ(TrimDefault(""), "");
    EXPECT_EQ(TrimRightDefault("  x  \r\n"), "  x");
    EXPECT_EQ(TrimLeftWith("xxaxx", "x"), "axx");
    EXPECT_EQ(TrimRightWith("xxaxx", "x"), "xxa");
    EXPECT_EQ(TrimLeftWith("xa", nullptr), "xa");
    EXPECT_EQ(Trim("--", "-"), "");
}

TEST(TextEditTest, ReplaceSurroundRemoveEscape) {
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("a\r\nb\r\n", "\r\n", "\n"), "a\nb\n");
    EXPECT_EQ(SurroundWith("abc", "\""), "\"abc\"");
    EXPECT_EQ(SurroundWith("\"abc", "\""), "\"abc\"");
    EXPECT_EQ(SurroundWith("\"", "\""), "\"");
    EXPECT_EQ(RemoveCharacters("a-b_c", "-_"), "abc");
    std::string spaced = " a b ";
    RemoveSpaces(spaced);
    EXPECT_EQ(spaced, "ab");
    EXPECT_EQ(EscapeAmpersands(wxString("a&b&&c&")), wxString("a&&b&&c&&"));
    EXPECT_EQ(JoinTexts(std::vector<std::string>{"a", "", "c"}, ", "), "a, , c");
    EXPECT_EQ(JoinTexts(std::vector<std::wstring>{L"\u00E9"}, L", "), L"\u00E9");
    EXPECT_EQ(JoinTexts(std::vector<std::string>{}, ", "), "");

    std::string bytes = "x";
    const unsigned char raw[] = {'a', 0, 'b'};
    AppendBytes(bytes, raw, sizeof raw);
    EXPECT_EQ(bytes, "xa\0b"s);
    AppendBytes(bytes, nullptr, 5);
    EXPECT_EQ(bytes.size(), 4u);
}

// ---- Comparing, case and conversions -------------------------------------------------------------

TEST(CompareTest, CaseFlagAndBounds) {
    EXPECT_TRUE(EndsWith("*IDN?\n", "", false));
    EXPECT_TRUE(EndsWith("*IDN?\n", "\n", false));
    EXPECT_FALSE(EndsWith("*IDN?\n", "\r\n", false));
    EXPECT_FALSE(EndsWith("\n", "?\n", false));
    EXPECT_FALSE(EndsWith("REPLY OK", "ok", false));
    EXPECT_TRUE(EndsWith("REPLY OK", "ok", true));
    EXPECT_TRUE(StartsWith("pecos-8", "pecos", false));
    EXPECT_FALSE(StartsWith("ab", "abc", false));
    EXPECT_TRUE(StartsWith("pecos-8", "PECOS", true));
    EXPECT_FALSE(StartsWith("pecos-8", "PECOS", false));
    EXPECT_TRUE(Contains("Stream Config", "CONFIG", true));
    EXPECT_FALSE(Contains("Stream Config", "CONFIG", false));
    EXPECT_EQ(CompareStrings("abc", "ABC", true), 0);
    EXPECT_LT(CompareStrings("ABC", "abc", false), 0);
}

TEST(ConversionTest, CasingIsAsciiOnlyAndTextsAreUtf8) {
    const std::string german = "Stra\xC3\x9F"
                               "e \xC3\xBC";
    EXPECT_EQ(ToUpper(german), "STRA\xC3\x9F"
                               "E \xC3\xBC");
    EXPECT_EQ(ToLower("ABC\xC3\x9C"), "abc\xC3\x9C");
    EXPECT_EQ(ToStdWstring(german), L"Stra\x00DF"
                                    L"e \x00FC");
    EXPECT_EQ(ToStdString(ToStdWstring(german)), german);
    EXPECT_EQ(ToStdString(wxString::FromUTF8(german)), german);
    EXPECT_EQ(WxStringToStdString(wxString(L"\x03A9")), "\xCE\xA9");
    EXPECT_EQ(ToStdWstring(wxString(L"\x03A9")), L"\x03A9");
    EXPECT_EQ(ToUpperStdString(wxString(L"\x00E4x")), "\xC3\xA4X");
    EXPECT_EQ(ToStdString(static_cast<const char *>(nullptr)), "");
    EXPECT_EQ(ToStdWstring(static_cast<const char *>(nullptr)), L"");

    std::wostringstream stream;
    stream << german << " " << std::string("\xCE\xA9");
    EXPECT_EQ(stream.str(), L"Stra\x00DF"
                            L"e \x00FC \x03A9");
}

// ---- Host buffers --------------------------------------------------------------------------------

TEST(HostBufferTest, NothingWrittenOutsideTheGivenSize) {
    char buffer[8] = "xxxxxxx";
    uint32_t length = 99;
    ClearErrorText(buffer, 0, &length);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer[0], 'x');
    ClearErrorText(nullptr, 8, nullptr);
    ClearErrorText(buffer, 8, nullptr);
    EXPECT_EQ(buffer[0], 0);

    std::fill(buffer, buffer + 8, 'x');
    length = 99;
    CopyStringToBuffer("hello", buffer, 0, &length);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer[0], 'x');
    length = 99;
    CopyStringToBuffer("hello", nullptr, 8, &length);
    EXPECT_EQ(length, 0u);
    CopyStringToBuffer("hello", buffer, 8, nullptr);
    EXPECT_EQ(buffer[0], 'x');

    CopyStringToBuffer("hello", buffer, 1, &length);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 'x');

    CopyStringToBuffer("hello", buffer, 4, &length);
    EXPECT_EQ(length, 3u);
    EXPECT_STREQ(buffer, "hel");
    CopyStringToBuffer("ok", buffer, 8, &length);
    EXPECT_EQ(length, 2u);
    EXPECT_STREQ(buffer, "ok");
}

TEST(HostBufferTest, CutNeverSplitsAUtf8Character) {
    char buffer[4];
    uint32_t length = 99;
    CopyStringToBuffer("ab\xC3\xBC", buffer, 4, &length);
    EXPECT_EQ(length, 2u);
    EXPECT_STREQ(buffer, "ab");
}

// ---- Regular expressions -------------------------------------------------------------------------

TEST(RegexTest, FloatPatternPicksTheNumber) {
    float value = 0;
    EXPECT_EQ(RegexMatch<float>("LEVEL -1.25E+02 dBuV", FloatNumberPattern, value, false), 0u);
    EXPECT_FLOAT_EQ(value, -125.0f);
    double reading = 0;
    EXPECT_EQ(RegexMatch<double>("+3.5", FloatNumberPattern, reading, false), 0u);
    EXPECT_DOUBLE_EQ(reading, 3.5);
    EXPECT_EQ(RegexMatch<float>("no number", FloatNumberPattern, value, false), RegexResultNoMatch);
    EXPECT_FLOAT_EQ(value, -125.0f);
}

TEST(RegexTest, GroupsAndResultCodes) {
    std::string out = "keep";
    EXPECT_EQ(RegexMatch<std::string>("ac", "a(b)?c", out, false), RegexResultGroupAbsent);
    EXPECT_EQ(out, "keep");
    EXPECT_TRUE(MatchesRegex("ac", "a(b)?c", false));
    EXPECT_EQ(RegexMatch<std::string>("xyz", "a(b)?c", out, false), RegexResultNoMatch);
    EXPECT_FALSE(MatchesRegex("xyz", "a(b)?c", false));
    EXPECT_EQ(RegexMatch<std::string>("abc", "x(", out, false), RegexResultInvalidRegex);
    EXPECT_EQ(out, "keep");

    EXPECT_EQ(RegexMatch<std::string>("id PECOS-8 ok", "pecos-[0-9]", out, true), 0u);
    EXPECT_EQ(out, "PECOS-8");
    EXPECT_EQ(RegexMatch<std::string>("id PECOS-8 ok", "pecos-[0-9]", out, false), RegexResultNoMatch);

    unsigned int status = 0;
    EXPECT_EQ(ExtractNumberByRegex("STB 32", "STB ([0-9]+)", status, false), 0u);
    EXPECT_EQ(status, 32u);
    int number = 0;
    EXPECT_EQ(RegExMatch("GPIB0::-7::INSTR", "::(-?[0-9]+)::", number, false), 0u);
    EXPECT_EQ(number, -7);
}

TEST(RegexTest, LiteralPatternsMatchAsTheExpressionDoes) {
    // Literal patterns in plain text take a search instead of the expression: same answers.
    struct Case {
        const char *text;
        const char *pattern;
        bool ignoreCase;
    };
    const Case cases[] = {
        {"12.5\n", "Failure", true},
        {"Detector FAILURE\n", "Failure", true},
        {"Detector FAILURE\n", "Failure", false},
        {"failur", "Failure", true},
        {"REQ-D1", "SUB-", false},
        {"SUB-D1", "SUB-", false},
        {"sub-d1", "SUB-", false},
        {"sub-d1", "SUB-", true},
        {"", "OK", false},
        {"a OK b", "OK", false},
        {"xFaIlUrEx", "fAiLuRe", true},
        {"  ", " ", false},
        // Patterns with a character of meaning go to the expression.
        {"abc", "a.c", false},
        {"a+b", "a+b", false},
        {"a$b", "a$b", false},
        {"a^b", "a^b", false},
        {"a|b", "x|b", false},
        {"a?", "ab?", false},
        {"a*", "ab*", false},
        {"a[b]", "[b]", false},
        {"a{2}", "a{2}", false},
        {"a\\d", "\\d", false},
    };
    for (const Case &c : cases) {
        std::string matched;
        const DWORD code =
            RegexMatch<std::string>(c.text, wxString::FromUTF8(c.pattern), matched, c.ignoreCase);
        EXPECT_EQ(MatchesRegex(c.text, c.pattern, c.ignoreCase), code == 0 || code == RegexResultGroupAbsent)
            << c.text << " / " << c.pattern;
    }
}

TEST(RegexTest, NonAsciiTextKeepsCharacterPositions) {
    std::string out;
    EXPECT_EQ(RegexMatch<std::string>("T\xC3\xBC"
                                      "r 25\xC2\xB0"
                                      "C",
                                      wxString::FromUTF8("([0-9]+\xC2\xB0.)"), out, false),
              0u);
    EXPECT_EQ(out, "25\xC2\xB0"
                   "C");
}

TEST(RegexTest, StrayByteInAReplyDoesNotHideTheNumber) {
    // An instrument that answers in Latin-1 ("\xB0" for the degree sign) is not valid UTF-8.
    float value = 0;
    EXPECT_EQ(RegexMatch<float>("T=25.5\xB0"
                                "C",
                                FloatNumberPattern, value, false),
              0u);
    EXPECT_FLOAT_EQ(value, 25.5f);
    EXPECT_TRUE(MatchesRegex("\xB0"
                             "C OK",
                             "OK", false));
}

// ---- Host locale ---------------------------------------------------------------------------------

// Switches the process to the decimal-comma locale.
class DecimalCommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mLocale.Active())
            << TestSupport::DecimalCommaLocaleName << " is missing: run scripts/setup";
    }

    TestSupport::ScopedDecimalCommaLocale mLocale;
};

TEST_F(DecimalCommaLocale, NumbersStayInTheCLocale) {
    ASSERT_EQ(*std::localeconv()->decimal_point, ',');
    EXPECT_EQ(DoubleToString(1.5), "1.5");
    EXPECT_EQ(FloatToString(0.25f), "0.25");
    EXPECT_EQ(FormatString("%.2f", 2.5), "2.50");
    EXPECT_EQ(FormatWString(L"%.1f", 2.5), L"2.5");
    EXPECT_DOUBLE_EQ(StringToDouble("1.5", 0.0), 1.5);
    EXPECT_DOUBLE_EQ(StringToDouble("- 1,5", 0.0), -1.5);
    EXPECT_FLOAT_EQ(ParseFloat("2.75"), 2.75f);
    EXPECT_EQ(ParseInt("12"), 12);
}
