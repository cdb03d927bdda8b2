// Registry reads from the INI file named by $KORVALIS_REGISTRY, and module version sidecars.
#include "platform/Registry.h"
#include "platform/VersionResource.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace Platform;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    TestSupport::TempDir mDir;
    TestSupport::ScopedEnv mRegistry{"KORVALIS_REGISTRY", mDir.File("registry.ini")};
    const std::wstring mNi = L"HKEY_LOCAL_MACHINE\\Software\\National Instruments\\NI-488.2M";

    void SetUp() override {
        TestSupport::WriteFile(mDir.File("registry.ini"),
                               "[HKEY_LOCAL_MACHINE\\Software\\National Instruments\\NI-488.2M]\n"
                               "CurrentVersion=2.8.1\n"
                               "Agilent488Enabled=dword:1\n"
                               "Largest=dword:4294967295\n"
                               "TooLarge=dword:4294967296\n"
                               "Hex=dword:0x10\n"
                               "Empty=dword:\n");
    }
};

TEST_F(RegistryTest, ReadsNumbersAndTexts) {
    uint32_t number = 7;
    EXPECT_EQ(RegistryResult::Ok, ReadRegistryDword(mNi, L"Agilent488Enabled", number));
    EXPECT_EQ(1u, number);
    EXPECT_EQ(RegistryResult::Ok, ReadRegistryDword(mNi, L"Largest", number));
    EXPECT_EQ(4294967295u, number);
    std::wstring text;
    // Key paths and value names are case-insensitive, as in the registry.
    EXPECT_EQ(RegistryResult::Ok,
              ReadRegistryString(L"hkey_local_machine\\SOFTWARE\\national instruments\\ni-488.2m",
                                 L"currentversion", text));
    EXPECT_EQ(L"2.8.1", text);
}

TEST_F(RegistryTest, ValueOfTheOtherTypeIsWrongType) {
    uint32_t number = 7;
    std::wstring text = L"unchanged";
    EXPECT_EQ(RegistryResult::WrongType, ReadRegistryString(mNi, L"Agilent488Enabled", text));
    EXPECT_EQ(L"unchanged", text);
    EXPECT_EQ(RegistryResult::WrongType, ReadRegistryDword(mNi, L"CurrentVersion", number));
    // Number data that is not a decimal 32-bit number cannot be read as one.
    EXPECT_EQ(RegistryResult::WrongType, ReadRegistryDword(mNi, L"TooLarge", number));
    EXPECT_EQ(RegistryResult::WrongType, ReadRegistryDword(mNi, L"Hex", number));
    EXPECT_EQ(RegistryResult::WrongType, ReadRegistryDword(mNi, L"Empty", number));
    EXPECT_EQ(7u, number);
}

TEST_F(RegistryTest, AbsentFileKeyOrValueIsNotFound) {
    uint32_t number = 0;
    std::wstring text;
    EXPECT_EQ(RegistryResult::NotFound, ReadRegistryDword(mNi, L"Missing", number));
    EXPECT_EQ(RegistryResult::NotFound,
              ReadRegistryString(L"HKEY_LOCAL_MACHINE\\Software\\Agilent\\IO Libraries\\CurrentVersion",
                                 L"CurrentVersion", text));
    {
        TestSupport::ScopedEnv missing("KORVALIS_REGISTRY", mDir.File("absent.ini"));
        EXPECT_EQ(RegistryResult::NotFound, ReadRegistryString(mNi, L"CurrentVersion", text));
    }
    {
        TestSupport::ScopedEnv unset("KORVALIS_REGISTRY", "");
        EXPECT_EQ(RegistryResult::NotFound, ReadRegistryDword(mNi, L"Agilent488Enabled", number));
    }
}

TEST(VersionResourceTest, SidecarFileGivesTheStrings) {
    TestSupport::TempDir dir;
    const std::string module = dir.File("libgpib-32.so");
    TestSupport::WriteFile(module, "not really a library");
    TestSupport::WriteFile(module + ".version", "; version block of the stand-in\n"
                                                "[StringFileInfo]\n"
                                                "CompanyName=Keysight Technologies\n"
                                                "FileVersion = \"17.2.0.1\"\n"
                                                "ProductName=Ger\xC3\xA4ttreiber\n"
                                                "[Other]\nComments=not part of it\n");
    std::map<std::wstring, std::wstring> strings{{L"Stale", L"entry"}};
    ASSERT_TRUE(ReadVersionStrings(module, strings));
    std::map<std::wstring, std::wstring> expected{{L"CompanyName", L"Keysight Technologies"},
                                                  {L"FileVersion", L"17.2.0.1"},
                                                  {L"ProductName", L"Gerättreiber"}};
    EXPECT_EQ(expected, strings);
}

TEST(VersionResourceTest, WithoutSidecarThereIsNoVersionBlock) {
    TestSupport::TempDir dir;
    const std::string module = dir.File("libvisa32.so");
    TestSupport::WriteFile(module, "not really a library");
    std::map<std::wstring, std::wstring> strings{{L"Stale", L"entry"}};
    EXPECT_FALSE(ReadVersionStrings(module, strings));
    EXPECT_TRUE(strings.empty());
    TestSupport::WriteFile(module + ".version", "[Other]\nFileVersion=1\n");
    EXPECT_FALSE(ReadVersionStrings(module, strings));
    EXPECT_FALSE(ReadVersionStrings("", strings));
}

} // namespace
