// The enumeration name tables: the eight framework tables with the language library present and
// missing, lookups and stepping, and the value expressions of definition texts.
#include "core/EnumClass.h"

#include "core/StandInLibraries.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

namespace {

const char *const CanNotLoad = "Can not load TovikLang.dll";

struct ExpectedEntry {
    int32_t Value;
    std::string Name;
    std::vector<std::string> Aliases;
    std::string StandInText; // what the stand-in library gives for the value ("" none)
};

struct ExpectedTable {
    std::string Title;
    std::vector<ExpectedEntry> Entries;
    int32_t Largest;
};

enum class Language { Present, Missing };

// Names of an entry: the shown name, the program's name, then one shown name per alias.
std::vector<std::string> ExpectedNames(const ExpectedEntry &entry, Language language) {
    auto shown = [&](const std::string &name) {
        if (language == Language::Missing)
            return std::string(CanNotLoad);
        return entry.StandInText.empty() ? name : entry.StandInText;
    };
    std::vector<std::string> names{shown(entry.Name), entry.Name};
    for (const std::string &alias : entry.Aliases)
        names.push_back(shown(alias));
    return names;
}

void ExpectTable(const EnumClassTable &table, const ExpectedTable &expected, Language language) {
    SCOPED_TRACE(expected.Title);
    const std::vector<EnumClassEntry> &entries = table.GetEntries();
    ASSERT_EQ(entries.size(), expected.Entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].nValue, expected.Entries[i].Value) << "entry " << i;
        EXPECT_EQ(entries[i].Names, ExpectedNames(expected.Entries[i], language)) << "entry " << i;
        EXPECT_EQ(table.ValueToName(entries[i].nValue), entries[i].GetDisplayName());
    }
    EXPECT_EQ(table.GetLargestValue(), expected.Largest);
}

std::vector<ExpectedTable> FrameworkTables() {
    return {
        {"CouplingType",
         {{1, "AC", {"firstCouplingType"}, "AC coupling"}, {2, "DC", {"lastCouplingType"}, "DC coupling"}},
         2},
        {"GPIBBoardNumbers",
         {{0, "", {"MIN_GPIB_BOARD", "GPIB0"}, "GPIB0"},
          {1, "GPIB1", {}, "GPIB1"},
          {2, "GPIB2", {}, "GPIB2"},
          {3, "GPIB3", {"MAX_GPIB_BOARD"}, "GPIB3"}},
         3},
        {"eEndOfStringMode",
         {{0, "eeosmNone", {}, "No EOS handling"},
          {1, "eeosmTerminateReadOnEOS", {}, "Terminate read on EOS"},
          {2, "eeosmSendEndWithEOS", {}, "Send END with EOS"},
          {4, "eeosmEightBitCompare", {}, "8-bit EOS compare"}},
         4},
        {"BaudRate",
         {{0, "UNKNOWN_BAUDRATE", {}, ""},
          {50, "MIN_BAUDRATE", {"Br50"}, ""},
          {300, "Br300", {}, ""},
          {600, "Br600", {}, ""},
          {1200, "Br1200", {}, ""},
          {2400, "Br2400", {}, ""},
          {4800, "Br4800", {}, ""},
          {9600, "Br9600", {}, "9600 Bd"},
          {19200, "Br19200", {}, "19200 Bd"},
          {38400, "Br38400", {}, ""},
          {57600, "Br57600", {}, ""},
          {115200, "Br115200", {}, ""},
          {230400, "Br230400", {}, ""},
          {460800, "Br460800", {}, ""},
          {921600, "Br921600", {"MAX_BAUDRATE"}, ""}},
         921600},
        {"DataBits",
         {{5, "MIN_DATABITS", {"Data5"}, "5 data bits"},
          {6, "Data6", {}, "6 data bits"},
          {7, "Data7", {}, "7 data bits"},
          {8, "Data8", {"MAX_DATABITS"}, "8 data bits"}},
         8},
        {"Parity",
         {{0, "None", {"firstParity"}, "No parity"},
          {1, "Odd", {}, "Odd parity"},
          {2, "Even", {}, "Even parity"},
          {3, "Mark", {}, "Mark parity"},
          {4, "Space", {"lastParity"}, ""}},
         4},
        {"StopBits",
         {{0, "Stop1", {"MIN_STOPBITS"}, "1 stop bit"},
          {1, "Stop15", {}, "1.5 stop bits"},
          {2, "Stop2", {"MAX_STOPBITS"}, "2 stop bits"}},
         2},
        {"CommunicationTerminationOption",
         {{0, "NoTermination", {"MIN_COMMUNICATION_TERMINATION_OPTION"}, "No termination"},
          {1, "CarrierReturn", {}, "CR"},
          {2, "LineFeed", {}, "LF"},
          {3, "CarrierReturnPlusLineFeed", {"MAX_COMMUNICATION_TERMINATION_OPTION"}, "CR+LF"}},
         3},
    };
}

// Fresh copies of the eight tables, built on first use under the current library path.
struct FreshTables {
    CouplingTypeEnumClass__EnumClass coupling;
    GPIBBoardNumbersEnumClass__EnumClass gpib;
    eEndOfStringModeEnumClass__EnumClass endOfString;
    baudRateEnumClass__EnumClass baudRate;
    dataBitsEnumClass__EnumClass dataBits;
    parityEnumClass__EnumClass parity;
    stopBitsEnumClass__EnumClass stopBits;
    communicationTerminationOptionENUMClass__EnumClass termination;

    std::vector<const EnumClassTable *> All() const {
        return {&coupling, &gpib, &endOfString, &baudRate, &dataBits, &parity, &stopBits, &termination};
    }
};

TEST(EnumClassTablesTest, EightTablesWithTheLanguageLibrary) {
    if (StandIns::Directory().empty())
        GTEST_SKIP() << "stand-in libraries not found";
    StandIns::LanguageLibraryPresent present;
    FreshTables tables;
    const std::vector<ExpectedTable> expected = FrameworkTables();
    const std::vector<const EnumClassTable *> all = tables.All();
    const int32_t resources[] = {601, 599, 598, 590, 588, 587, 589, 600};
    for (size_t i = 0; i < all.size(); ++i) {
        ExpectTable(*all[i], expected[i], Language::Present);
        EXPECT_EQ(all[i]->GetResourceNumber(), resources[i]);
    }
    // A shown name with a blank reads back only by its first word.
    EXPECT_EQ(tables.parity.NameToValue("Odd parity"), Odd);
    EXPECT_EQ(tables.stopBits.NameToValue("2 stop bits"), Stop1);
    EXPECT_EQ(tables.termination.NameToValue("CR+LF"), CarrierReturn);
    // With library texts an alias keeps only the shown text, so it is not found by its own name.
    EXPECT_EQ(tables.dataBits.NameToValue("Data5"), static_cast<DataBits>(0));
    EXPECT_EQ(tables.baudRate.NameToValue("Br50"), Br50); // no library text for 50: the alias stays
    EXPECT_EQ(tables.baudRate.NameToValue("Br300"), Br300);
}

TEST(EnumClassTablesTest, EightTablesWithoutTheLanguageLibrary) {
    StandIns::LanguageLibraryMissing missing;
    ASSERT_TRUE(StandIns::LanguageLibraryMissing::ReallyMissing());
    FreshTables tables;
    const std::vector<ExpectedTable> expected = FrameworkTables();
    const std::vector<const EnumClassTable *> all = tables.All();
    for (size_t i = 0; i < all.size(); ++i)
        ExpectTable(*all[i], expected[i], Language::Missing);
    EXPECT_EQ(tables.parity.ValueToName(Even), CanNotLoad);
    EXPECT_EQ(tables.baudRate.NameToValue("Br9600"), Br9600);
    EXPECT_EQ(tables.parity.NameToValue(CanNotLoad), None);
}

TEST(EnumClassTablesTest, GlobalTerminationTableAndItsFunctions) {
    if (StandIns::Directory().empty())
        GTEST_SKIP() << "stand-in libraries not found";
    StandIns::LanguageLibraryPresent present;
    EXPECT_EQ(CommunicationTerminationOptionToName(LineFeed), "LF");
    EXPECT_EQ(CommunicationTerminationOptionToName(static_cast<CommunicationTerminationOption>(7)),
              "undefined");
    EXPECT_EQ(CommunicationTerminationOptionFromName("LineFeed"), LineFeed);
    EXPECT_EQ(CommunicationTerminationOptionFromName("CarrierReturnPlusLineFeed"), CarrierReturnPlusLineFeed);
    EXPECT_EQ(CommunicationTerminationOptionFromName("CR+LF"), CarrierReturn);
    EXPECT_EQ(CommunicationTerminationOptionFromName("nothing"), NoTermination);
    EXPECT_EQ(parityEnumClass.NextValue(Mark), Space);
}

// Tables without library texts: every shown name is the program's name.
class PlainTableTest : public ::testing::Test {
protected:
    EnumClass<Parity> parity{"({ None = 0, firstParity = 0, Odd, Even, Mark, Space, lastParity=Space })", 0};
    EnumClass<BaudRate> baud{"({ UNKNOWN_BAUDRATE = 0, MIN_BAUDRATE = 50, Br50 = 50, Br300 = 300 })", -5};
    EnumClass<DataBits> data{"({ MIN_DATABITS = 5, Data5 = 5, Data6, Data7, Data8, MAX_DATABITS = 8 })", 0};
};

TEST_F(PlainTableTest, AliasesJoinTheEntryOfTheirValue) {
    ASSERT_EQ(parity.GetEntries().size(), 5u);
    EXPECT_EQ(parity.GetEntries()[0].Names, (std::vector<std::string>{"None", "None", "firstParity"}));
    EXPECT_EQ(parity.GetEntries()[4].Names, (std::vector<std::string>{"Space", "Space", "lastParity"}));
    EXPECT_EQ(parity.NameToValue("lastParity"), Space);
    EXPECT_EQ(parity.NameToValue("  Even and more"), Even);
    EXPECT_EQ(baud.GetEntries()[1].Names, (std::vector<std::string>{"MIN_BAUDRATE", "MIN_BAUDRATE", "Br50"}));
    EXPECT_EQ(baud.NameToValue("Br50"), Br50);
}

TEST_F(PlainTableTest, LookupsAndStepping) {
    EXPECT_EQ(parity.ValueToName(Odd), "Odd");
    EXPECT_EQ(parity.ValueToName(static_cast<Parity>(9)), "undefined");
    EXPECT_EQ(parity.ValueToName(-1), "undefined");
    // An underscore ends the name that is looked up.
    EXPECT_EQ(data.NameToValue("MAX_DATABITS"), static_cast<DataBits>(0));
    EXPECT_EQ(data.NameToValue("Data7"), Data7);
    EXPECT_EQ(parity.NameToValue(""), None);

    EXPECT_EQ(parity.NextValue(None), Odd);
    EXPECT_EQ(parity.NextValue(Space), static_cast<Parity>(5));
    EXPECT_EQ(parity.NextValue(static_cast<Parity>(42)), static_cast<Parity>(5));
    EXPECT_EQ(baud.NextValue(UNKNOWN_BAUDRATE), Br50);
    EXPECT_EQ(baud.NextValue(Br300), static_cast<BaudRate>(301));
    EXPECT_EQ(data.NextValue(Data8), static_cast<DataBits>(9));
    EXPECT_EQ(parity.FindValue(Mark), 3u);
    EXPECT_EQ(parity.FindValue(77), parity.GetEntries().size());
}

TEST(EnumClassDefinitionTest, ItemsOutsideTheGrammarTakeTheNextValue) {
    EnumClass<int32_t> table("({ X = 5, Y, Z = -1, W , , Q = X, R = 2147483647, S })", 0);
    const std::vector<EnumClassEntry> &entries = table.GetEntries();
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].nValue, 5);
    EXPECT_EQ(entries[1].nValue, 6);
    EXPECT_EQ(entries[2].nValue, 7); // "Z = -1": no name, the value after the last entry
    EXPECT_EQ(entries[2].Names, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(entries[3].nValue, 8);
    EXPECT_EQ(entries[3].Names[1], "W ");
    EXPECT_EQ(entries[0].Names, (std::vector<std::string>{"X", "X", "Q"}));
    EXPECT_EQ(entries[4].nValue, INT32_MAX);
    EXPECT_EQ(entries[5].nValue, INT32_MIN); // one past the largest wraps
    EXPECT_EQ(table.GetLargestValue(), INT32_MAX);
    EXPECT_EQ(table.NextValue(INT32_MIN), INT32_MIN);
}

TEST(EnumClassDefinitionTest, EmptyAndMalformedDefinitions) {
    EnumClass<int32_t> empty("({ })", 0);
    EXPECT_TRUE(empty.GetEntries().empty());
    EXPECT_EQ(empty.ValueToName(0), "undefined");
    EXPECT_EQ(empty.NextValue(3), 1);
    EnumClass<int32_t> unclosed("({ A = 3, B", 0);
    ASSERT_EQ(unclosed.GetEntries().size(), 2u);
    EXPECT_EQ(unclosed.NameToValue("B"), 4);
    EnumClass<int32_t> reversed("} A = 3 {", 0);
    EXPECT_TRUE(reversed.GetEntries().empty());
}

TEST(EnumClassExpressionTest, ExpressionsEvaluateLeftToRightAndNeverTrap) {
    EnumClass<int32_t> table("({ A = 3, B, C = 10, DC = 2 })", 0);
    EXPECT_EQ(table.EvaluateExpression("1 + 2 * 3"), 9);
    EXPECT_EQ(table.EvaluateExpression("1 + (2 * 3)"), 7);
    EXPECT_EQ(table.EvaluateExpression("((1 + 1) * (2 + 2)) - 1"), 7);
    EXPECT_EQ(table.EvaluateExpression("(1 + 2"), 3);
    EXPECT_EQ(table.EvaluateExpression("B + C"), 14);
    EXPECT_EQ(table.EvaluateExpression("DC"), 2);
    EXPECT_EQ(table.EvaluateExpression("Unknown + 1"), 1);
    EXPECT_EQ(table.EvaluateExpression("A_B"), 3);
    EXPECT_EQ(table.EvaluateExpression("3 # 4"), 3);
    EXPECT_EQ(table.EvaluateExpression("6 & 3 | 8 ^ 1"), 11);
    EXPECT_EQ(table.EvaluateExpression("17 % 5 - 20 / 4"), -4);
    EXPECT_EQ(table.EvaluateExpression(""), 0);
    EXPECT_EQ(table.EvaluateExpression("  "), 0);
    EXPECT_EQ(table.EvaluateExpression("-5"), -5);
}

TEST(EnumClassExpressionTest, NumberBases) {
    EnumClass<int32_t> table("({ })", 0);
    EXPECT_EQ(table.EvaluateExpression("0x1F"), 31);
    EXPECT_EQ(table.EvaluateExpression("0X10 | 010"), 24);
    EXPECT_EQ(table.EvaluateExpression("017"), 15);
    EXPECT_EQ(table.EvaluateExpression("09"), 0);
    EXPECT_EQ(table.EvaluateExpression("12abc"), 12);
    EXPECT_EQ(table.EvaluateExpression("0"), 0);
    EXPECT_EQ(table.EvaluateExpression("0x"), 0);
}

TEST(EnumClassExpressionTest, DivisionByZeroGivesZeroAndArithmeticWraps) {
    EnumClass<int32_t> table("({ })", 0);
    EXPECT_EQ(table.EvaluateExpression("7 / 0"), 0);
    EXPECT_EQ(table.EvaluateExpression("7 % 0"), 0);
    EXPECT_EQ(table.EvaluateExpression("7 / (1 - 1) + 2"), 2);
    EXPECT_EQ(table.EvaluateExpression("2147483647 + 1"), INT32_MIN);
    EXPECT_EQ(table.EvaluateExpression("0 - 2147483647 - 2"), INT32_MAX);
    EXPECT_EQ(table.EvaluateExpression("65536 * 65536"), 0);
    EXPECT_EQ(table.EvaluateExpression("(0 - 2147483647 - 1) / (0 - 1)"), INT32_MIN);
    EXPECT_EQ(table.EvaluateExpression("(0 - 2147483647 - 1) % (0 - 1)"), 0);
    EXPECT_EQ(table.EvaluateExpression("4294967296"), 0);
    EXPECT_EQ(table.EvaluateExpression("4294967301"), 5);
    EXPECT_EQ(table.EvaluateExpression("0xFFFFFFFF"), -1);
}

TEST(EnumClassConcurrencyTest, FirstUseFromManyThreadsBuildsOneTable) {
    EnumClass<Parity> parity("({ None = 0, firstParity = 0, Odd, Even, Mark, Space, lastParity=Space })", 0);
    std::vector<std::thread> threads;
    std::vector<std::string> seen(8);
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&parity, &seen, i] { seen[i] = parity.ValueToName(Mark); });
    for (std::thread &thread : threads)
        thread.join();
    for (const std::string &name : seen)
        EXPECT_EQ(name, "Mark");
    EXPECT_EQ(parity.GetEntries().size(), 5u);
}

} // namespace
