// Helpers that the device streams and their pages take from the core: splitting texts, comparing
// without regard to case, frequency texts, and the gate that a removal or an unload closes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <thread>

#include "core/DeviceDriverBase.h"
#include "core/EntryGate.h"
#include "core/StringUtils.h"

namespace {

// A closing waits for the entry inside and wakes when it leaves, not at its bound; a bounded
// closing gives up at its bound; no entry passes a closed gate.
TEST(EntryGate, AClosingWakesAtTheLastLeaveOrGivesUpAtItsBound) {
    using namespace std::chrono_literals;
    EntryGate gate;
    std::atomic<bool> closed{false};
    auto entry = std::make_unique<EntryGate::Pass>(gate);
    ASSERT_TRUE(entry->IsInside());
    const auto start = std::chrono::steady_clock::now();
    std::thread closer([&] { closed = gate.Close(std::chrono::seconds(10)); });
    while (!gate.IsClosed())
        std::this_thread::yield();
    EXPECT_FALSE(EntryGate::Pass(gate).IsInside());
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(closed) << "closed while an entry was inside";
    entry.reset();
    closer.join();
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "the closing slept until its bound";

    EntryGate held;
    const EntryGate::Pass inside(held);
    EXPECT_FALSE(held.Close(std::chrono::milliseconds(30)));
    EXPECT_TRUE(EntryGate::Pass(nullptr).IsInside()); // no gate: always let in
}

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
