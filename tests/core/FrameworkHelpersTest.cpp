// Helpers that the device streams and their pages take from the core: splitting texts, comparing
// without regard to case, and frequency texts.
#include <gtest/gtest.h>

#include <clocale>

#include "core/DeviceDriverBase.h"
#include "core/StringUtils.h"

namespace {

TEST(SplitString, EmptyPiecesStayOnlyWhenAskedAndATrailingDelimiterAddsNone) {
    struct Case {
        const char *text;
        bool keepEmpty;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"a,b;c", false, {"a", "b", "c"}},
        {"a,,b", false, {"a", "b"}},
        {",a,", false, {"a"}},
        {"a,,b", true, {"a", "", "b"}},
        {",a,", true, {"", "a"}},
        {"", true, {}},
        {"GPIB0::5::INSTR", true, {"GPIB0", "", "5", "", "INSTR"}},
    };
    for (const Case &c : cases) {
        std::vector<std::string> pieces{"kept"};
        SplitString(c.text, pieces, c.text[0] == 'G' ? ":" : ",;", c.keepEmpty);
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
        EXPECT_EQ(expected, pieces) << c.text << " " << c.keepEmpty;
    }
}

TEST(CaseInsensitiveEqual, OnlyAsciiLettersIgnoreCase) {
    EXPECT_TRUE(CaseInsensitiveEqual("tcpip", "TCPIP"));
    EXPECT_FALSE(CaseInsensitiveEqual("TCPIP", "TCPIP0"));
    EXPECT_FALSE(CaseInsensitiveEqual("\xC3\xA4", "\xC3\x84")); // ä and Ä stay apart
}

TEST(ConvertFrequencyToText, OneDecimalInTheUnitOfItsMagnitudeInAnyLocale) {
    const char *previous = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const std::pair<double, const char *> cases[] = {{1.5e9, "1.5 GHz"},
                                                     {80e6, "80.0 MHz"},
                                                     {9999.0, "10.0 kHz"},
                                                     {150.0, "150.0 Hz"},
                                                     {-2e6, "-2.0 MHz"}};
    for (const auto &[hertz, text] : cases)
        EXPECT_EQ(text, DeviceDriverBase::ConvertFrequencyToText(hertz)) << hertz;
    if (previous != nullptr)
        std::setlocale(LC_NUMERIC, "C");
}

} // namespace
