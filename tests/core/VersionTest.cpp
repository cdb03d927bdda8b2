// Version texts: parsing, ordering (huge fields included) and the module version-block reader
// over sidecar files.
#include "core/Version.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

std::vector<int32_t> Components(const Version &version) {
    return {version.GetComponent(0), version.GetComponent(1), version.GetComponent(2),
            version.GetComponent(3)};
}

using Fields = std::vector<int32_t>;

TEST(VersionParseTest, DottedNumbersLettersAndSeparators) {
    EXPECT_EQ(Components(Version("2024.1.1")), (Fields{2024, 1, 1, 0}));
    EXPECT_EQ(Components(Version("1.2b")), (Fields{1, 2, 2, 0}));
    EXPECT_EQ(Components(Version("v1.2")), (Fields{22, 2, 0, 0}));
    EXPECT_EQ(Components(Version("Beta3.4")), (Fields{2, 4, 0, 0}));
    EXPECT_EQ(Components(Version("1..2")), (Fields{1, 2, 0, 0}));
    EXPECT_EQ(Components(Version("")), (Fields{0, 0, 0, 0}));
    EXPECT_EQ(Components(Version("1-2.3")), (Fields{1, 0, 0, 0}));
    EXPECT_EQ(Components(Version("1.2.3.4.5")), (Fields{1, 2, 3, 4}));
    EXPECT_EQ(Components(Version("3...")), (Fields{3, 0, 0, 0}));
    EXPECT_EQ(Components(Version("007.08")), (Fields{7, 8, 0, 0}));
    EXPECT_EQ(Components(Version("\xc3\xa9.1")), (Fields{0, 0, 0, 0})) << "a non-ASCII letter is no letter";
}

TEST(VersionParseTest, KeepsTheTextAndClears) {
    Version version("2025.1.1 beta");
    EXPECT_EQ(version.GetText(), "2025.1.1 beta");
    version.Parse("4.5");
    EXPECT_EQ(version.GetText(), "4.5");
    EXPECT_EQ(Components(version), (Fields{4, 5, 0, 0}));
    version.Clear();
    EXPECT_EQ(version.GetText(), "");
    EXPECT_EQ(Components(version), (Fields{0, 0, 0, 0}));
    EXPECT_EQ(Components(Version()), (Fields{0, 0, 0, 0}));
}

TEST(VersionCompareTest, FieldByFieldIgnoringTheText) {
    EXPECT_EQ(Version("2024.1.1").Compare(Version("2024.1.1.0")), 0);
    EXPECT_TRUE(Version("2024.1.1") == Version("2024.1.1.0"));
    EXPECT_GT(Version("2025.1.1").Compare(Version("2024.99.99.99")), 0);
    EXPECT_LT(Version("2024.0.9").Compare(Version("2024.1.1")), 0);
    EXPECT_TRUE(Version("2024.0.9") < Version("2024.1.1"));
    EXPECT_TRUE(Version("2025.1.1") >= Version("2025.1.1"));
    EXPECT_FALSE(Version("2025.1.0") >= Version("2025.1.1"));
    EXPECT_TRUE(Version("1.2b") > Version("1.2a"));
    EXPECT_EQ(Version("1").Compare(Version("3")), -1);
    EXPECT_EQ(Version("3").Compare(Version("1")), 1);
}

TEST(VersionCompareTest, HugeFieldsOrderAboveEverySmallerNumber) {
    EXPECT_EQ(Components(Version("2147483647.1")), (Fields{INT32_MAX, 1, 0, 0}));
    EXPECT_EQ(Components(Version("2024.99999999999.5")), (Fields{2024, INT32_MAX, 5, 0}));
    EXPECT_EQ(Components(Version("00000000000000000012.3")), (Fields{12, 3, 0, 0}));
    // Read with plain %d these would wrap to 1 and to a negative number.
    EXPECT_TRUE(Version("4294967297") > Version("1"));
    EXPECT_TRUE(Version("3000000000.0") > Version("2147483646.9"));
    EXPECT_TRUE(Version("2147483647") > Version("0"));
    EXPECT_TRUE(Version("0") < Version("2147483647"));
    EXPECT_EQ(Version("99999999999").Compare(Version("2147483648")), 0);
}

class VersionBlockTest : public ::testing::Test {
protected:
    std::wstring Module(const std::string &name) {
        std::string path = mDir.File(name);
        TestSupport::WriteFile(path, "not a real library");
        return std::wstring(path.begin(), path.end());
    }

    TestSupport::TempDir mDir;
    std::vector<std::wstring> mNames{L"stale"};
    std::vector<std::wstring> mValues{L"stale", L"values"};
};

TEST_F(VersionBlockTest, FileWithoutBlockListsEachKeyAsItsOwnValue) {
    const std::wstring module = Module("libnone.so");
    EXPECT_TRUE(Version::ReadStrings(module, mNames, mValues));
    const std::vector<std::wstring> keys = {L"Comments",        L"InternalName",     L"ProductName",
                                            L"CompanyName",     L"LegalCopyright",   L"ProductVersion",
                                            L"FileDescription", L"LegalTrademarks",  L"PrivateBuild",
                                            L"FileVersion",     L"OriginalFilename", L"SpecialBuild"};
    EXPECT_EQ(mNames, keys);
    EXPECT_EQ(mValues, keys);
    std::wstring value = L"kept";
    EXPECT_FALSE(Version::QueryVersionValue(module, L"FileVersion", value));
    EXPECT_EQ(value, L"kept");
    const std::string missing = mDir.File("libmissing.so");
    EXPECT_TRUE(Version::ReadStrings(std::wstring(missing.begin(), missing.end()), mNames, mValues));
    EXPECT_EQ(mValues, keys);
    EXPECT_TRUE(Version::ReadStrings(L"", mNames, mValues));
    EXPECT_EQ(mValues, keys);
}

TEST_F(VersionBlockTest, SidecarBlockGivesTheValuesAndEmptyTextsForKeysItLacks) {
    const std::wstring module = Module("libvisa32.so");
    TestSupport::WriteFile(mDir.File("libvisa32.so.version"), "[StringFileInfo]\n"
                                                              "FileVersion = 7.2.0.1\n"
                                                              "ProductName=\"VISA stand-in\"\n"
                                                              "companyname=Example Instruments\n"
                                                              "Comments=\n"
                                                              "Unrelated=ignored\n");
    EXPECT_TRUE(Version::ReadStrings(module, mNames, mValues));
    ASSERT_EQ(mNames.size(), 12u);
    ASSERT_EQ(mValues.size(), 12u);
    EXPECT_EQ(mValues[0], L"");                    // Comments: present and empty
    EXPECT_EQ(mValues[1], L"");                    // InternalName: not in the block
    EXPECT_EQ(mValues[2], L"VISA stand-in");       // ProductName
    EXPECT_EQ(mValues[3], L"Example Instruments"); // CompanyName, key in another case
    EXPECT_EQ(mValues[9], L"7.2.0.1");             // FileVersion

    std::wstring value;
    EXPECT_TRUE(Version::QueryVersionValue(module, L"FileVersion", value));
    EXPECT_EQ(value, L"7.2.0.1");
    value = L"old";
    EXPECT_TRUE(Version::QueryVersionValue(module, L"SpecialBuild", value));
    EXPECT_EQ(value, L"");
}

TEST_F(VersionBlockTest, NonAsciiPathsAndValuesTravelAsUtf8) {
    const std::string name = "libm\xc3\xb6"
                             "dul.so"; // "libmödul.so"
    TestSupport::WriteFile(mDir.File(name), "x");
    TestSupport::WriteFile(mDir.File(name + ".version"),
                           "[StringFileInfo]\nLegalCopyright=\xc2\xa9 2024 M\xc3\xbcller\n");
    const std::wstring module = std::wstring(mDir.Path().begin(), mDir.Path().end()) + L"/libm\u00f6dul.so";
    EXPECT_TRUE(Version::ReadStrings(module, mNames, mValues));
    EXPECT_EQ(mValues[4], L"\u00a9 2024 M\u00fcller");
}

} // namespace
