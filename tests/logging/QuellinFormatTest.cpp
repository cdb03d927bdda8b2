// Value formatting, argument packing and the text builders of the call log.
#include "logging/ConcealedText.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"

#include "core/FrequencyBase.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <locale>
#include <thread>

namespace {

enum class EventKind { First = 0, Second = 1, Third = 2 };
enum PlainKind { PlainA = -3 };

// A decimal comma and digit grouping: what a host's locale may impose on the global C++ locale.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};
struct CommaWPunct : std::numpunct<wchar_t> {
    wchar_t do_decimal_point() const override { return L','; }
    wchar_t do_thousands_sep() const override { return L'.'; }
    std::string do_grouping() const override { return "\3"; }
};

class ScopedGlobalLocale {
public:
    ScopedGlobalLocale()
        : mOld(std::locale::global(
              std::locale(std::locale(std::locale::classic(), new CommaPunct), new CommaWPunct))) {}
    ~ScopedGlobalLocale() { std::locale::global(mOld); }

private:
    std::locale mOld;
};

class FormatValueTest : public ::testing::Test {
protected:
    template <typename T> std::wstring F(const T &value) { return mEntry.FormatValue(value); }
    QuellinEntry mEntry{L"Format", L"Test"};
};

TEST_F(FormatValueTest, IntegersTaggedByTheirType) {
    EXPECT_EQ(F(-7), L"i:-7");
    EXPECT_EQ(F(0u), L"i:0");
    EXPECT_EQ(F(static_cast<unsigned char>(200)), L"i:200");
    EXPECT_EQ(F(static_cast<unsigned short>(80)), L"a:80");
    EXPECT_EQ(F(-1L), L"a:-1");
    EXPECT_EQ(F(4294967295UL), L"a:4294967295");
    EXPECT_EQ(F(static_cast<short>(-5)), L"a:-5");
    EXPECT_EQ(F(int64_t{-9000000000}), L"a:-9000000000");
}

TEST_F(FormatValueTest, DesignWordsKeepTagA) {
    // DWORD is its own type, not unsigned int: result codes and ids keep "a".
    const DWORD code = 0x300000CB;
    EXPECT_EQ(F(code), L"a:805306571");
    EXPECT_EQ(QuellinEntry::TypeTag(code), L"a");
    EXPECT_EQ(QuellinEntry::TypeTag(1u), L"i");
    EXPECT_EQ(QuellinEntry::TypeTag(uint32_t{1}), L"i"); // uint32_t is unsigned int here
}

TEST_F(FormatValueTest, EnumerationsAsIntWithTagA) {
    EXPECT_EQ(F(EventKind::Third), L"a:2");
    EXPECT_EQ(F(PlainA), L"a:-3");
}

TEST_F(FormatValueTest, BoolAndChar) {
    EXPECT_EQ(F(true), L"a:True");
    EXPECT_EQ(F(false), L"a:False");
    EXPECT_EQ(F('x'), L"a:x");
}

TEST_F(FormatValueTest, FloatingPointGeneralNotation) {
    EXPECT_EQ(F(1234567.0), L"a:1.23457e+06");
    EXPECT_EQ(F(2.5f), L"a:2.5");
    EXPECT_EQ(F(0.1), L"a:0.1");
    EXPECT_EQ(F(100.0), L"a:100");
    EXPECT_EQ(F(0.00001), L"a:1e-05");
    EXPECT_EQ(F(-0.5), L"a:-0.5");
}

TEST_F(FormatValueTest, NumbersIgnoreTheHostLocale) {
    ScopedGlobalLocale commaLocale;
    EXPECT_EQ(F(1234.5), L"a:1234.5");
    EXPECT_EQ(F(1234567), L"i:1234567");
    EXPECT_EQ(MakeString(1234.5, ' ', 1234567), "1234.5 1234567");
    EXPECT_EQ(MakeWString(0.25, L' ', 98765L), L"0.25 98765");
}

TEST_F(FormatValueTest, TextsAndNullPointers) {
    const char *nullNarrow = nullptr;
    char *nullMutable = nullptr;
    const wchar_t *nullWide = nullptr;
    EXPECT_EQ(F(nullNarrow), L"a:<NULL>");
    EXPECT_EQ(F(nullMutable), L"a:<NULL>");
    EXPECT_EQ(F(nullWide), L"a:<NULL>");
    EXPECT_EQ(F(std::string()), L"a:");
    EXPECT_EQ(F(std::string("a:b;c")), L"a:a:b;c");
    EXPECT_EQ(F(std::wstring(L"ab\0cd", 5)), L"a:ab");
    EXPECT_EQ(F(wxString("wx text")), L"a:wx text");
    char buffer[] = "buf";
    EXPECT_EQ(F(static_cast<char *>(buffer)), L"a:buf");
}

TEST_F(FormatValueTest, NarrowTextsAreUtf8) {
    EXPECT_EQ(F(std::string("Gr\xC3\xBC\xC3\x9F")), L"a:Gr\u00FC\u00DF");
    EXPECT_EQ(F("\xE2\x82\xAC"), L"a:\u20AC");
}

TEST_F(FormatValueTest, WindowHandleAsFullWidthHex) {
    void *handle = reinterpret_cast<void *>(uintptr_t{0xABCDEF12});
    EXPECT_EQ(F(handle), L"a:00000000ABCDEF12");
    EXPECT_EQ(F(static_cast<void *>(nullptr)), L"a:0000000000000000");
}

// ---- Packing and joining ----

TEST(PackArguments, PairsMarkersAndLoneNames) {
    QuellinEntry entry(L"M", L"F");
    EXPECT_EQ(entry.PackArguments(), L"");
    EXPECT_EQ(entry.PackArguments("Count", 5u), L"i:Count;5;");
    EXPECT_EQ(entry.PackArguments("Cmd", std::string("a;b")), L"a:Cmd;3;a;b;");
    EXPECT_EQ(entry.PackArguments(L"!input", "Name", std::string("ab")), L"!input;a:Name;2;ab;");
    EXPECT_EQ(entry.PackArguments("file", "C:\\x.dll"), L"a:file;8;C:\\x.dll;");
    // A name without its value is written alone, without a tag.
    EXPECT_EQ(entry.PackArguments("a", 1, "last"), L"i:a;1;last;");
    // A value that begins with '!' is a value, not a marker.
    EXPECT_EQ(entry.PackArguments("v", "!input"), L"a:v;6;!input;");
    EXPECT_EQ(entry.PackArguments("b", true, "c", 'q'), L"a:b;4;True;a:c;1;q;");
}

TEST(PackArguments, CountsUtf16Units) {
    QuellinEntry entry(L"M", L"F");
    // One character outside the basic plane is two UTF-16 units.
    EXPECT_EQ(entry.PackArguments("smile", std::wstring(L"x\U0001F600")), L"a:smile;3;x\U0001F600;");
    EXPECT_EQ(entry.PackArguments("u", std::string("\xC3\xBC")), L"a:u;1;\u00FC;");
}

TEST(JoinFields, MovesTheValueTagToTheName) {
    std::vector<std::wstring> fields = {L"a:!general", L"a:n", L"i:3", L"a:m", L"a:x:y", L"a:lone"};
    EXPECT_EQ(QuellinEntry::JoinFields(fields), L"!general;i:n;3;a:m;3;x:y;lone;");
    EXPECT_EQ(QuellinEntry::JoinFields(std::vector<std::wstring>()), L"");
}

// A secret that begins its line is masked wherever it stands whole; a text that stands where a name
// does is masked as a value is; a kept line is masked in every thread's records until dropped.
TEST(JoinFields, ConcealsSecretsInEveryField) {
    QuellinEntry entry(L"M", L"F");
    {
        const ConcealedText token("tok-123", 0);
        EXPECT_EQ(entry.PackArguments("v", "tok-123\n", "w", "x tok-12"),
                  L"a:v;9;********\n;a:w;8;x tok-12;");
    }
    {
        const ConcealedText login("AUTH-u:pw", 7);
        EXPECT_EQ(entry.PackArguments(std::string("AUTH-u:pw")), L"AUTH-u:********;");
        EXPECT_EQ(entry.PackArguments(std::string("AUTH-u:pw"), 1), L"i:AUTH-u:********;1;");
    }
    KeptConcealedText kept;
    std::thread([&] { kept.Keep("AUTH-k:pw", 7); }).join();
    EXPECT_EQ(entry.PackArguments("r", "AUTH-k:pw"), L"a:r;15;AUTH-k:********;");
    kept.Drop();
    EXPECT_EQ(entry.PackArguments("r", "AUTH-k:pw"), L"a:r;9;AUTH-k:pw;");
}

TEST(SplitTypePrefix, CutsAtTheFirstColon) {
    std::wstring text = L"a:b:c";
    EXPECT_EQ(QuellinEntry::SplitTypePrefix(text), L"a:");
    EXPECT_EQ(text, L"b:c");
    text = L"plain";
    EXPECT_EQ(QuellinEntry::SplitTypePrefix(text), L"");
    EXPECT_EQ(text, L"plain");
}

TEST(CommandText, OnlyReservedMarkersCount) {
    EXPECT_TRUE(QuellinEntry::IsReservedMarker(L"!input"));
    EXPECT_TRUE(QuellinEntry::IsReservedMarker(L"!output"));
    EXPECT_TRUE(QuellinEntry::IsReservedMarker(L"!general"));
    EXPECT_FALSE(QuellinEntry::IsReservedMarker(L"!Input"));
    EXPECT_FALSE(QuellinEntry::IsReservedMarker(L""));
    EXPECT_TRUE(QuellinEntry::IsCommandText(L"!input;i:a;1;"));
    EXPECT_TRUE(QuellinEntry::IsCommandText(L"!output"));
    EXPECT_FALSE(QuellinEntry::IsCommandText(L"!inputs;i:a;1;"));
    EXPECT_FALSE(QuellinEntry::IsCommandText(L"!x;"));
    EXPECT_FALSE(QuellinEntry::IsCommandText(L"i:a;1;!input;"));
    EXPECT_FALSE(QuellinEntry::IsCommandText(L""));
}

TEST(FormatTime, MillisecondsUnpadded) {
    EXPECT_EQ(QuellinEntry::FormatTime({1700000000, 7}), L"1700000000.7");
    EXPECT_EQ(QuellinEntry::FormatTime({1700000000, 250}), L"1700000000.250");
    EXPECT_EQ(QuellinEntry::FormatTime({12, 0}), L"12.0");
    EXPECT_EQ(QuellinEntry::FormatTime({1700000001, 999}), L"1700000001.999");
}

// ---- Text builders ----

TEST(MakeString, ConcatenatesWithoutSeparators) {
    EXPECT_EQ(MakeString("SetCommand", "(", "\"", std::string("*IDN?"), "\"", ", ", 5u, ")"),
              "SetCommand(\"*IDN?\", 5)");
    EXPECT_EQ(MakeString(), "");
    EXPECT_EQ(MakeString(true, false), "10");
    EXPECT_EQ(MakeString(static_cast<unsigned char>(65)), "A");
    EXPECT_EQ(MakeString(1234567.0, ' ', 0.1f, ' ', -3L, ' ', static_cast<unsigned short>(7)),
              "1.23457e+06 0.1 -3 7");
}

TEST(MakeString, NullPointersAndConversions) {
    const char *nullNarrow = nullptr;
    const wchar_t *nullWide = nullptr;
    EXPECT_EQ(MakeString("x=", nullNarrow), "x=<NULL>");
    EXPECT_EQ(MakeWString(L"x=", nullWide, L",", nullNarrow), L"x=<NULL>,<NULL>");
    EXPECT_EQ(MakeString(std::wstring(L"\u00FC")), "\xC3\xBC");
    EXPECT_EQ(MakeWString(std::string("\xC3\xBC"), 'z'), L"\u00FCz");
    EXPECT_EQ(MakeString(wxString(L"\u20AC")), "\xE2\x82\xAC");
    EXPECT_EQ(MakeWString(wxString(L"\u20AC")), L"\u20AC");
    EXPECT_EQ(NullGuard(nullNarrow), std::string("<NULL>"));
    EXPECT_EQ(NullGuard(nullWide), std::wstring(L"<NULL>"));
}

TEST(MakeString, PointersAsFullWidthHex) {
    const void *pointer = reinterpret_cast<const void *>(uintptr_t{0x1F});
    EXPECT_EQ(MakeString(pointer), "000000000000001F");
    EXPECT_EQ(MakeWString(pointer), L"000000000000001F");
}

TEST(MakeString, ManipulatorsHoldForTheRestOfTheCall) {
    EXPECT_EQ(MakeString(std::setfill('0'), std::setw(8), std::hex, 0xbeefUL, ' ', 255UL), "0000beef ff");
    // A fresh call starts again in decimal.
    EXPECT_EQ(MakeString(255), "255");
}

TEST(MakeString, Frequency) {
    EXPECT_EQ(MakeString("f=", FrequencyBase<9>(1000.5)), "f=1000.5");
    EXPECT_EQ(MakeString(FrequencyBase<9>(0.1)), "0.1");
}

} // namespace
