// The detector reply's number read without the expression, against the expression's answer.
#include "pecos/DetectorNumber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "core/StringUtils.h"
#include "support/TestSupport.h"

namespace {

// The expression's answer: its first match, converted as a float; none beyond the float's range.
bool ReadWithExpression(const std::string &reply, float &value) {
    double number = 0.0;
    if (RegexMatch<double>(reply, FloatNumberPattern, number, false) != 0 ||
        !std::isfinite(static_cast<float>(number)))
        return false;
    value = static_cast<float>(number);
    return true;
}

// Same found-or-not and the same float, bit for bit (so -0.0 and 0.0 differ).
void ExpectSameAnswer(const std::string &reply) {
    float fast = 1234.5f, reference = 1234.5f;
    const bool fastFound = ReadDetectorNumber(reply, fast);
    const bool referenceFound = ReadWithExpression(reply, reference);
    ASSERT_EQ(referenceFound, fastFound) << "reply '" << reply << "'";
    ASSERT_EQ(0, std::memcmp(&fast, &reference, sizeof fast))
        << "reply '" << reply << "': " << fast << " against " << reference;
}

// Also under a decimal-comma locale, which the host may have set.
TEST(DetectorNumberTest, GivesTheExpressionsAnswerForChosenReplies) {
    const char *const replies[] = {
        "",
        "12.5",
        "12.5\n",
        "-3.2E+01 V",
        "word 7",
        "1.2.3",
        "5.",
        ".5",
        "-.5e-3x",
        "+-5",
        "--1",
        "1e",
        "1e+",
        "1.e5",
        "1E-05",
        "e5",
        "-e5",
        "+",
        ".",
        "-0",
        "0.0000",
        "abc",
        "Failure 3",
        "1e999",
        "-1e999",
        "1e-999",
        "1e-310",
        "3.4028235e38",
        "3.4028236e38",
        "1.17549435e-38",
        "00000000000000000000000000000000000001.5",
        "0.1234567890123456789012345678901234567890",
        "12,5",
        "1 000",
        "\t+7\r\n",
        "x\xc3\xa9 4.5",
        "\xff"
        "9",
    };
    for (const bool comma : {false, true}) {
        SCOPED_TRACE(comma ? "decimal comma" : "C locale");
        std::unique_ptr<TestSupport::ScopedDecimalCommaLocale> locale;
        if (comma) {
            locale = std::make_unique<TestSupport::ScopedDecimalCommaLocale>();
            ASSERT_TRUE(locale->Active()) << TestSupport::DecimalCommaLocaleName << " is missing";
        }
        for (const char *reply : replies)
            ExpectSameAnswer(reply);
        ExpectSameAnswer(std::string("8\0"
                                     "9",
                                     3));
        ExpectSameAnswer(std::string("\0"
                                     "8",
                                     2));
    }
}

TEST(DetectorNumberTest, GivesTheExpressionsAnswerForGeneratedReplies) {
    // Bytes that matter to the pattern, more often than others, and a few that do not.
    const std::string alphabet = "0123456789012345....++--eEeE ,x\n\t\xc3\xa9";
    std::mt19937 random(20261207);
    std::uniform_int_distribution<size_t> length(0, 14);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    for (int i = 0; i < 30000; ++i) {
        std::string reply;
        for (size_t n = length(random); n > 0; --n)
            reply += alphabet[pick(random)];
        ExpectSameAnswer(reply);
        if (HasFatalFailure())
            return;
    }
}

} // namespace
