// clsTovikLng against the stand-in language library: present, missing and incompletely exported.
#include "core/LanguageLibrary.h"

#include "core/StandInLibraries.h"
#include "stand-ins/toviklang/TovikLangStandIn.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class LanguageLibraryPresentTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (StandIns::Directory().empty())
            GTEST_SKIP() << "stand-in libraries not found";
        mPresent = std::make_unique<StandIns::LanguageLibraryPresent>();
        // The probe keeps the library mapped, so its load counts survive between objects.
        ASSERT_TRUE(mProbe.Load("TovikLang.dll")) << mProbe.LastError();
        mResourceLoads = reinterpret_cast<TovikLangStandIn::ResourceLoadsFunction>(
            mProbe.GetSymbol("toviklangStandInResourceLoads"));
        ASSERT_NE(mResourceLoads, nullptr);
    }

    int32_t Loads(uint32_t resource) { return mResourceLoads(resource); }

    std::unique_ptr<StandIns::LanguageLibraryPresent> mPresent;
    Platform::DynamicLibrary mProbe;
    TovikLangStandIn::ResourceLoadsFunction mResourceLoads = nullptr;
};

TEST_F(LanguageLibraryPresentTest, TextsComeFromTheLoadedResourceWhichIsReleasedAtTheEnd) {
    {
        clsTovikLng language(587);
        EXPECT_FALSE(language.IsLibraryLoaded());
        EXPECT_EQ(language.getText(1), "Odd parity");
        EXPECT_TRUE(language.IsResourceLoaded());
        EXPECT_EQ(Loads(587), 1);
        EXPECT_EQ(language.getText(3), "Mark parity");
        EXPECT_EQ(Loads(587), 1) << "the resource is loaded once per object";
        EXPECT_EQ(language.getText(4), "") << "a text the library does not have";
        EXPECT_EQ(language.getText(1, "ignored"), "Odd parity");
    }
    EXPECT_EQ(Loads(587), 0);
}

TEST_F(LanguageLibraryPresentTest, ArgumentsAreFilledIn) {
    clsTovikLng language(TovikLangStandIn::ProbeResource);
    EXPECT_EQ(language.getText(TovikLangStandIn::ProbeArguments, "one", "two", "3", "4", "5", "6", "7", "8",
                               "9", "ten"),
              "Value one of two, ten.");
}

TEST_F(LanguageLibraryPresentTest, ReturnedCountIsTrustedOnlyWithinTheBufferAndUpToTheNul) {
    clsTovikLng language(TovikLangStandIn::ProbeResource);
    EXPECT_EQ(language.getText(TovikLangStandIn::ProbeCountPastBuffer), "short");
    EXPECT_EQ(language.getText(TovikLangStandIn::ProbeCountPastNul), "abc");
    EXPECT_EQ(language.getText(TovikLangStandIn::ProbeNegativeCount), "");
    EXPECT_EQ(language.getText(TovikLangStandIn::ProbeZeroCount), "");
}

TEST_F(LanguageLibraryPresentTest, ExplicitLoadAndUnload) {
    clsTovikLng language(588);
    EXPECT_EQ(language.Load(), 0u);
    EXPECT_TRUE(language.IsLibraryLoaded());
    EXPECT_EQ(Loads(588), 1);
    EXPECT_EQ(language.getText(8), "8 data bits");
    language.Unload();
    EXPECT_FALSE(language.IsResourceLoaded());
    EXPECT_FALSE(language.IsLibraryLoaded());
    EXPECT_EQ(Loads(588), 0);
    EXPECT_EQ(language.FreeModule(), 0u);
    // Usable again after the unload.
    EXPECT_EQ(language.getText(5), "5 data bits");
    EXPECT_EQ(Loads(588), 1);
}

TEST_F(LanguageLibraryPresentTest, ObjectThatNeverLoadedLeavesTheLibraryAlone) {
    { clsTovikLng language(589); }
    {
        clsTovikLng language(589);
        language.Unload();
        EXPECT_EQ(language.FreeModule(), 0u);
    }
    EXPECT_EQ(Loads(589), 0);
}

TEST(LanguageLibraryMissingTest, EveryTextReadsCanNotLoad) {
    StandIns::LanguageLibraryMissing missing;
    ASSERT_TRUE(StandIns::LanguageLibraryMissing::ReallyMissing());
    clsTovikLng language(587);
    EXPECT_EQ(language.getText(1), "Can not load TovikLang.dll");
    EXPECT_EQ(language.getText(1), "Can not load TovikLang.dll") << "each call tries again";
    EXPECT_EQ(language.Load(), clsTovikLng::ErrorLibraryNotFound);
    EXPECT_FALSE(language.IsLibraryLoaded());
    EXPECT_FALSE(language.IsResourceLoaded());
}

TEST(LanguageLibraryIncompleteTest, MissingEntryPointFailsEveryCallAndKeepsNothingLoaded) {
    const std::string standIns = StandIns::Directory();
    if (standIns.empty())
        GTEST_SKIP() << "stand-in libraries not found";
    TestSupport::TempDir folder;
    std::filesystem::copy_file(standIns + "/libtoviklang-incomplete.so", folder.File("libtoviklang.so"));
    TestSupport::ScopedEnv path("KORVALIS_LIBRARY_PATH", folder.Path());

    clsTovikLng language(587);
    EXPECT_EQ(language.Load(), Platform::EntryPointNotFound);
    EXPECT_FALSE(language.IsLibraryLoaded());
    EXPECT_EQ(language.getText(1), "Can not load TovikLang.dll");
    // A half-bound library once answered the second call with an empty text.
    EXPECT_EQ(language.getText(1), "Can not load TovikLang.dll");
    EXPECT_FALSE(language.IsResourceLoaded());
}

} // namespace
