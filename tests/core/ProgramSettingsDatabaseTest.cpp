// The INI settings database over a temporary file: defaults, round trips of every value type,
// table paths, the open count, long values, hand-written texts and refused writes.
#include "core/ProgramSettingsDatabase.h"

#include "logging/RecordCapture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <iterator>
#include <string>
#include <utility>

using TestSupport::ReadFile;
using TestSupport::WriteFile;

class SettingsFileTest : public ::testing::Test {
protected:
    std::shared_ptr<ProgramSettingsDatabase> Create() { return CreateINIProgramSettingsDatabase(mFile); }

    TestSupport::IsolatedEnvironment mEnvironment;
    TestSupport::TempDir mDir;
    std::string mFile = mDir.File("settings.ini");
};

TEST_F(SettingsFileTest, MissingKeysGiveTheDefaultAfterItsPassageThroughText) {
    auto db = Create();
    db->PushTable("Common"); // closed: ignored, readers still work
    EXPECT_EQ(db->ReadInt("Count", 7), 7);
    EXPECT_TRUE(db->ReadBool("Flag", true));
    EXPECT_FALSE(db->ReadBool("Flag", false));
    EXPECT_DOUBLE_EQ(db->ReadDouble("Level", 1234567.0), 1234570.0);
    EXPECT_EQ(db->ReadUnsigned("Delay", 4000000000u), 4000000000u);
    EXPECT_EQ(db->ReadStdString("Name", "PECOS"), "PECOS");
    EXPECT_EQ(db->ReadString("Name", L"\x03A9"), L"\x03A9");
    EXPECT_FALSE(db->HasWriteFailed());
}

TEST_F(SettingsFileTest, EveryValueTypeSurvivesSaveAndLoad) {
    {
        auto db = Create();
        db->Open();
        db->PushTable("Common");
        db->WriteValue("On", true);
        db->WriteValue("Off", false);
        db->WriteValue("Int", -5);
        db->WriteValue("Unsigned", 4000000000u);
        db->WriteValue("Long", -7L);
        db->WriteValue("UnsignedLong", 3000000000UL);
        db->WriteValue("Float", 0.1f);
        db->WriteValue("Small", 1e-7f);
        db->WriteValue("Double", 2.5);
        db->WriteValue("Big", 123456789.0);
        db->WriteValue("Text", std::string("Gr\xC3\xBC\xC3\x9F"
                                           "e"));
        db->WriteValue("Wide", std::wstring(L"\x03A9 ohm"));
        db->WriteValue("Bytes", U8String{'a', 0xC3, 0xA4});
        db->WriteValue("Wx", wxString(L"\x00E9t\x00E9"));
        db->PopTable();
        db->Close();
        EXPECT_FALSE(db->HasWriteFailed());
    }
    const std::string file = ReadFile(mFile);
    EXPECT_NE(file.find("[Common]"), std::string::npos) << file;
    EXPECT_NE(file.find("On=1\n"), std::string::npos) << file;
    EXPECT_NE(file.find("Off=0\n"), std::string::npos) << file;
    EXPECT_NE(file.find("Float=0.1\n"), std::string::npos) << file;
    EXPECT_NE(file.find("Small=1E-07\n"), std::string::npos) << file;
    EXPECT_NE(file.find("Big=1.23457E+08\n"), std::string::npos) << file;
    EXPECT_NE(file.find("Text=Gr\xC3\xBC\xC3\x9F"
                        "e\n"),
              std::string::npos)
        << file;

    auto db = Create();
    db->Open();
    db->PushTable("Common");
    EXPECT_TRUE(db->ReadValue("On", false));
    EXPECT_FALSE(db->ReadValue("Off", true));
    EXPECT_EQ(db->ReadValue("Int", 0), -5);
    EXPECT_EQ(db->ReadValue("Unsigned", 0u), 4000000000u);
    EXPECT_EQ(db->ReadValue("Long", 0L), -7L);
    EXPECT_EQ(db->ReadValue("UnsignedLong", 0UL), 3000000000UL);
    EXPECT_FLOAT_EQ(db->ReadValue("Float", 0.0f), 0.1f);
    EXPECT_FLOAT_EQ(db->ReadValue("Small", 0.0f), 1e-7f);
    EXPECT_DOUBLE_EQ(db->ReadValue("Double", 0.0), 2.5);
    EXPECT_DOUBLE_EQ(db->ReadValue("Big", 0.0), 123457000.0);
    EXPECT_EQ(db->ReadValue("Text", std::string()), "Gr\xC3\xBC\xC3\x9F"
                                                    "e");
    EXPECT_EQ(db->ReadValue("Wide", std::wstring()), L"\x03A9 ohm");
    EXPECT_EQ(db->ReadValue("Bytes", U8String()), (U8String{'a', 0xC3, 0xA4}));
    wxString wx("old");
    EXPECT_EQ(db->ReadValue("Wx", wx), L"\x00E9t\x00E9");
    EXPECT_EQ(wx, wxString(L"\x00E9t\x00E9"));
    // The current text is the default of a missing key.
    wxString keep("keep");
    EXPECT_EQ(db->ReadValue("Missing", keep), L"keep");
    EXPECT_EQ(keep, wxString("keep"));
}

TEST_F(SettingsFileTest, TablePathsAreTheSections) {
    auto db = CreateINIProgramSettingsDatabase(mFile);
    auto *ini = dynamic_cast<INIProgramSettingsDatabase *>(db.get());
    ASSERT_NE(ini, nullptr);
    db->Open();
    db->PopTable(); // nothing open: no effect
    EXPECT_EQ(ini->GetTablePath(), L"");
    db->PushTable("Stream Config");
    db->PushTable("GPIB");
    EXPECT_EQ(ini->GetTablePath(), L"Stream Config.GPIB");
    db->WriteInt("Address", 12);
    db->PopTable();
    EXPECT_EQ(ini->GetTablePath(), L"Stream Config");
    db->WriteInt("Kind", 2);
    db->PopTable();
    EXPECT_EQ(ini->GetTablePath(), L"");
    db->PopTable();
    db->PushTable("AB");
    db->PushTable("B");
    EXPECT_EQ(ini->GetTablePath(), L"AB.B");
    db->PopTable();
    EXPECT_EQ(ini->GetTablePath(), L"AB");
    db->PopTable();
    db->PopTable();
    db->PushTable("Common");
    EXPECT_EQ(ini->GetTablePath(), L"Common");
    db->Close();

    const std::string file = ReadFile(mFile);
    EXPECT_NE(file.find("[Stream Config.GPIB]"), std::string::npos) << file;
    EXPECT_NE(file.find("[Stream Config]"), std::string::npos) << file;

    auto reader = Create();
    reader->Open();
    reader->PushTable("Stream Config");
    reader->PushTable("GPIB");
    EXPECT_EQ(reader->ReadInt("Address", 0), 12);
    EXPECT_EQ(reader->ReadInt("Kind", 0), 0);
    reader->PopTable();
    EXPECT_EQ(reader->ReadInt("Kind", 0), 2);
}

TEST_F(SettingsFileTest, WritesAndTablesNeedAnOpenDatabase) {
    auto db = Create();
    db->WriteInt("Before", 1);
    db->Open();
    db->Open();
    db->Close();
    EXPECT_TRUE(db->IsOpen());
    db->SetLocation(mDir.File("other.ini")); // open: keeps the old file
    EXPECT_EQ(db->GetLocation(), mFile);
    db->PushTable("T");
    db->WriteInt("During", 2);
    db->Close();
    EXPECT_FALSE(db->IsOpen());
    db->Close();
    EXPECT_FALSE(db->IsOpen());
    db->WriteInt("After", 3);
    db->SetLocation(mDir.File("other.ini"));
    EXPECT_EQ(db->GetLocation(), mDir.File("other.ini"));

    const std::string file = ReadFile(mFile);
    EXPECT_NE(file.find("During=2"), std::string::npos) << file;
    EXPECT_EQ(file.find("Before"), std::string::npos) << file;
    EXPECT_EQ(file.find("After"), std::string::npos) << file;
}

TEST_F(SettingsFileTest, LongValuesAreReadWhole) {
    const std::string value49(49, 'v');
    const std::string value300 = std::string(150, 'a') + std::string(150, 'b');
    WriteFile(mFile, "[Common]\nExact=" + value49 + "\nLong=" + value300 + "\nShort=x\n");
    auto db = CreateINIProgramSettingsDatabase(mFile);
    auto *ini = dynamic_cast<INIProgramSettingsDatabase *>(db.get());
    ASSERT_NE(ini, nullptr);
    db->Open();
    db->PushTable("Common");
    EXPECT_EQ(db->ReadStdString("Short", ""), "x");
    EXPECT_EQ(ini->GetReadBufferCapacity(), 50u);
    EXPECT_EQ(db->ReadStdString("Exact", ""), value49);
    EXPECT_EQ(ini->GetReadBufferCapacity(), 100u);
    EXPECT_EQ(db->ReadStdString("Long", ""), value300);
    EXPECT_EQ(ini->GetReadBufferCapacity(), 400u);
    // A long default of a missing key is returned whole too.
    EXPECT_EQ(db->ReadStdString("Missing", value300 + value300), value300 + value300);
}

TEST_F(SettingsFileTest, HandWrittenTexts) {
    WriteFile(mFile, "[Common]\r\nRatio=1,5\r\nNegative=- 2,5\r\nAnswer=yes\r\nCount=abc\r\n");
    auto db = Create();
    db->Open();
    db->PushTable("Common");
    EXPECT_DOUBLE_EQ(db->ReadDouble("Ratio", 0.0), 1.5);
    EXPECT_FLOAT_EQ(db->ReadFloat("Ratio", 0.0f), 1.5f);
    EXPECT_DOUBLE_EQ(db->ReadDouble("Negative", 0.0), -2.5);
    EXPECT_TRUE(db->ReadBool("Answer", false));
    EXPECT_EQ(db->ReadInt("Count", 7), 0);
    EXPECT_FALSE(db->ReadBool("Count", true));
}

// A stored unsigned number with a minus sign or beyond 32 bits keeps the caller's default instead
// of wrapping around; a text that is no number still reads as 0.
TEST_F(SettingsFileTest, UnsignedTextsOutsideTheRangeKeepTheDefault) {
    const std::pair<const char *, unsigned int> cases[] = {{"-5", 7u},
                                                           {" -1", 7u},
                                                           {"-0", 7u},
                                                           {"4294967296", 7u},
                                                           {"99999999999999999999", 7u},
                                                           {"4294967295", 4294967295u},
                                                           {"00004294967295", 4294967295u},
                                                           {"+12", 12u},
                                                           {"12 s", 12u},
                                                           {"abc", 0u},
                                                           {"-abc", 0u},
                                                           {"", 0u}};
    std::string text = "[PontisPecos_ADConverter]\n";
    for (size_t n = 0; n < std::size(cases); ++n)
        text += "Key" + std::to_string(n) + "=" + cases[n].first + "\n";
    WriteFile(mFile, text);
    auto db = Create();
    db->Open();
    db->PushTable("PontisPecos_ADConverter");
    for (size_t n = 0; n < std::size(cases); ++n) {
        const std::string key = "Key" + std::to_string(n);
        EXPECT_EQ(cases[n].second, db->ReadUnsigned(key, 7u)) << cases[n].first;
        EXPECT_EQ(cases[n].second, db->ReadValue(key, 7ul)) << cases[n].first;
    }
}

TEST_F(SettingsFileTest, LineBreaksInValuesDoNotBreakTheFile) {
    {
        auto db = Create();
        db->Open();
        db->PushTable("Common");
        db->WriteStdString("Reply", "line1\r\nline2\n[Injected]\nKey=evil");
        db->WriteStdString("Next", "kept");
        db->Close();
    }
    const std::string file = ReadFile(mFile);
    EXPECT_EQ(file.find("\n[Injected]"), std::string::npos) << file;
    auto db = Create();
    db->PushTable("Common");
    db->Open();
    db->PushTable("Common");
    EXPECT_EQ(db->ReadStdString("Reply", ""), "line1  line2 [Injected] Key=evil");
    EXPECT_EQ(db->ReadStdString("Next", ""), "kept");
    db->PopTable();
    db->PushTable("Injected");
    EXPECT_EQ(db->ReadStdString("Key", "none"), "none");
}

TEST_F(SettingsFileTest, RefusedWriteIsRememberedAndLogged) {
    RecordCapture capture;
    auto db = CreateINIProgramSettingsDatabase(mDir.File("no such folder/settings.ini"));
    db->Open();
    db->PushTable("Common");
    db->WriteInt("Count", 1);
    db->Close();
    EXPECT_TRUE(db->HasWriteFailed());

    const auto records = RecordCapture::WithModule(capture.Records(), L"INIProgramSettingsDatabase");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Level, L"Error");
    EXPECT_EQ(records[0].Value(L"Key"), L"Count");
    EXPECT_EQ(records[0].Value(L"Section"), L"Common");

    auto good = Create();
    good->Open();
    good->WriteInt("Count", 1);
    EXPECT_FALSE(good->HasWriteFailed());
}

TEST_F(SettingsFileTest, NumbersStayInTheCLocaleUnderADecimalCommaLocale) {
    auto locale = std::make_unique<TestSupport::ScopedDecimalCommaLocale>();
    ASSERT_TRUE(locale->Active()) << TestSupport::DecimalCommaLocaleName << " is missing: run scripts/setup";
    auto db = Create();
    db->Open();
    db->PushTable("Common");
    db->WriteDouble("Double", 1.5);
    db->WriteFloat("Float", 0.25f);
    const double read = db->ReadDouble("Double", 0.0);
    const double missing = db->ReadDouble("Missing", 2.5);
    locale.reset();

    const std::string file = ReadFile(mFile);
    EXPECT_NE(file.find("Double=1.5\n"), std::string::npos) << file;
    EXPECT_NE(file.find("Float=0.25\n"), std::string::npos) << file;
    EXPECT_DOUBLE_EQ(read, 1.5);
    EXPECT_DOUBLE_EQ(missing, 2.5);
}
