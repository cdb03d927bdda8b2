// The VISA binding against the stand-in libraries: which file each preference binds, missing
// libraries and entry points, and wrappers of unbound entry points.
#include <gtest/gtest.h>

#include "QuellinRecord.h"
#include "core/ResultCodes.h"
#include "logging/RecordCapture.h"
#include "visa/VisaBase.h"
#include "visa/VisaLibrary.h"
#include "visa/VisaTestFixtures.h"

using namespace VisaTest;

namespace {

struct PreferenceCase {
    int preference;
    std::vector<std::string> present; // stand-ins in the library folder, under their own names
    DWORD expected;
    const char *bound; // file name that is loaded, "" when none
};

class VisaPreferenceTest : public ::testing::TestWithParam<PreferenceCase> {};

TEST_P(VisaPreferenceTest, TheLibraryOfThePreferenceIsBound) {
    const PreferenceCase &c = GetParam();
    LibraryFolder::Files files;
    for (const std::string &name : c.present)
        files.emplace_back(name, name);
    LibraryFolder folder(files);
    VisaLibrary library(c.preference);
    EXPECT_EQ(c.expected, library.LoadVisaDLL());
    EXPECT_EQ(c.expected == 0, library.IsLoaded());
    const std::string expectedFile = *c.bound != 0 ? folder.File(c.bound) : std::string();
    EXPECT_EQ(expectedFile, library.LoadedFile());
    ViSession rm = 0;
    EXPECT_EQ(c.expected == 0 ? VI_SUCCESS : VI_ERROR_LIBRARY_NFOUND, library.OpenDefaultRM(&rm));
    if (rm != 0)
        library.Close(rm);
}

INSTANTIATE_TEST_SUITE_P(Preferences, VisaPreferenceTest,
                         ::testing::Values(PreferenceCase{0, {SystemLibrary}, 0, SystemLibrary},
                                           PreferenceCase{0, {SystemLibrary, MakerLibrary}, 0, MakerLibrary},
                                           PreferenceCase{1, {MakerLibrary}, 0, MakerLibrary},
                                           PreferenceCase{1, {SystemLibrary, MakerLibrary}, 0, SystemLibrary},
                                           PreferenceCase{
                                               2, {MakerLibrary}, ResultCode::VisaLibraryNotFound, ""},
                                           PreferenceCase{2, {SystemLibrary, MakerLibrary}, 0, SystemLibrary},
                                           PreferenceCase{0, {}, ResultCode::VisaLibraryNotFound, ""},
                                           PreferenceCase{1, {}, ResultCode::VisaLibraryNotFound, ""}));

TEST(VisaLibraryTest, AMissingEntryPointLeavesNothingBound) {
    LibraryFolder folder(LibraryFolder::Files{{IncompleteLibrary, SystemLibrary}});
    RecordCapture capture;
    VisaLibrary library(VisaSystemLibraryOnly);
    EXPECT_EQ(Platform::EntryPointNotFound, library.LoadVisaDLL());
    EXPECT_FALSE(library.IsLoaded());
    // Entry points bound before the missing one answer "not found" as well.
    ViSession rm = 0;
    ViUInt32 count = 0;
    EXPECT_EQ(VI_ERROR_LIBRARY_NFOUND, library.OpenDefaultRM(&rm));
    EXPECT_EQ(VI_ERROR_LIBRARY_NFOUND, library.Write(1, "x", 1, &count));
    EXPECT_EQ(VI_ERROR_LIBRARY_NFOUND, library.Lock(1, 10));
    EXPECT_EQ(VI_ERROR_LIBRARY_NFOUND, library.WaitOnEvent(1, VI_EVENT_ASRL_CHAR, 1, nullptr, nullptr));
    std::vector<std::wstring> messages;
    for (const Quellin::Record &record : RecordCapture::WithModule(capture.Records(), L"VisaLibrary"))
        if (!record.Value(L"Message").empty())
            messages.push_back(record.Value(L"Message"));
    EXPECT_EQ(std::vector<std::wstring>{L"viEnableEvent could not be found in VISA32.DLL"}, messages);
    // A session on such a library reports the binding failure.
    VisaBase session(VisaSystemLibraryOnly);
    EXPECT_EQ(Platform::EntryPointNotFound, session.OpenDevice(100));
    EXPECT_FALSE(session.IsOpen());
}

TEST(VisaLibraryTest, NoLibraryIsAResultCodeEverywhere) {
    LibraryFolder folder;
    RecordCapture capture;
    VisaLibrary library(VisaPreferMakerLibrary);
    bool bAvailable = true;
    EXPECT_EQ(ResultCode::VisaLibraryNotFound, library.IsAvailable(bAvailable));
    EXPECT_FALSE(bAvailable);
    std::string text = "kept";
    EXPECT_EQ(VI_ERROR_LIBRARY_NFOUND, library.GetVisaErrorDescription(0, VI_ERROR_TMO, text));
    EXPECT_EQ("kept", text);
    bool bNoted = false;
    for (const Quellin::Record &record : RecordCapture::WithModule(capture.Records(), L"VisaLibrary"))
        bNoted = bNoted || record.Value(L"Message") == L"Visa could not be loaded";
    EXPECT_TRUE(bNoted);
    VisaBase session(VisaSystemLibraryOnly);
    session.SetResourceName("TCPIP0::127.0.0.1::5025::SOCKET");
    EXPECT_EQ(ResultCode::VisaLibraryNotFound, session.OpenDevice(100));
    EXPECT_EQ(ResultCode::VisaLibraryNotFound, session.CheckIdentification("X"));
}

TEST(VisaLibraryTest, AvailabilityLeavesTheLibraryAsItWas) {
    LibraryFolder folder(LibraryFolder::Files{{SystemLibrary, SystemLibrary}});
    VisaLibrary probe(VisaSystemLibraryOnly);
    bool bAvailable = false;
    EXPECT_EQ(0u, probe.IsAvailable(bAvailable));
    EXPECT_TRUE(bAvailable);
    EXPECT_FALSE(probe.IsLoaded());
    ASSERT_EQ(0u, probe.LoadVisaDLL());
    EXPECT_EQ(0u, probe.IsAvailable(bAvailable));
    EXPECT_TRUE(probe.IsLoaded());
}

TEST(VisaLibraryTest, AttributeTextsUseTheStandardNames) {
    using Texts = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(Texts(L"VI_ATTR_ASRL_END_IN", L"VI_ASRL_END_LAST_BIT "),
              VisaAttributeNameAndValueText(VI_ATTR_ASRL_END_IN, VI_ASRL_END_LAST_BIT));
    EXPECT_EQ(Texts(L"VI_ATTR_INTF_TYPE", L"VI_INTF_TCPIP"),
              VisaAttributeNameAndValueText(VI_ATTR_INTF_TYPE, 6));
    EXPECT_EQ(Texts(L"VI_ATTR_RSRC_MANF_ID", L"0x3FF"),
              VisaAttributeNameAndValueText(VI_ATTR_RSRC_MANF_ID, 0x3FF));
    EXPECT_EQ(Texts(L"VI_ATTR_TERMCHAR_EN", L"7"), VisaAttributeNameAndValueText(VI_ATTR_TERMCHAR_EN, 7));
    EXPECT_EQ(Texts(L"VI_ATTR_ASRL_RTS_STATE", L"VI_STATE_UNASSERTED"),
              VisaAttributeNameAndValueText(VI_ATTR_ASRL_RTS_STATE, 0));
    EXPECT_EQ(Texts(L"305419896", L"42"), VisaAttributeNameAndValueText(0x12345678, 42));
}

} // namespace
