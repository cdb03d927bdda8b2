// Run-time binding: DLL names mapped to shared objects, the search path, missing pieces.
#include "platform/DynamicLibrary.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Platform;
namespace fs = std::filesystem;

TEST(DynamicLibraryTest, MapsDllNamesToSharedObjects) {
    EXPECT_EQ(MapLibraryName("visa32.DLL"), "libvisa32.so");
    EXPECT_EQ(MapLibraryName("GPIB-32.DLL"), "libgpib-32.so");
    EXPECT_EQ(MapLibraryName("TovikLang.dll"), "libtoviklang.so");
    EXPECT_EQ(MapLibraryName("PlatformProbe.Dll"), "libplatformprobe.so");
    EXPECT_EQ(MapLibraryName("NoSuffix"), "libnosuffix.so");
    EXPECT_EQ(MapLibraryName("C:\\Windows\\System32\\visa32.dll"), "libvisa32.so");
    EXPECT_EQ(MapLibraryName(".dll"), "");
    EXPECT_EQ(MapLibraryName(""), "");
}

class DynamicLibraryLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The stand-ins are built beside the tests: <build>/stand-ins next to <build>/tests.
        std::string binaryDir = TestSupport::RunnerEnv("KORVALIS_BINARY_DIR");
        const bool underRunner = !binaryDir.empty();
        if (binaryDir.empty())
            binaryDir = fs::canonical("/proc/self/exe").parent_path().parent_path().string();
        mStandIns = binaryDir + "/stand-ins";
        // ctest builds the stand-ins first: there a missing one is a failure, not a skip.
        if (underRunner)
            ASSERT_TRUE(fs::exists(mStandIns + "/libplatformprobe.so"))
                << "stand-in library not built in " << mStandIns;
        else if (!fs::exists(mStandIns + "/libplatformprobe.so"))
            GTEST_SKIP() << "stand-in library not built in " << mStandIns;
    }
    std::string mStandIns;
};

TEST_F(DynamicLibraryLoadTest, FindsALibraryThroughTheSearchPath) {
    TestSupport::TempDir empty;
    TestSupport::ScopedEnv path("KORVALIS_LIBRARY_PATH", empty.Path() + "::" + mStandIns + "/");
    DynamicLibrary library;
    ASSERT_TRUE(library.Load("PlatformProbe.DLL")) << library.LastError();
    EXPECT_EQ(library.FilePath(), mStandIns + "/libplatformprobe.so");
    using Answer = int (*)(int);
    auto answer = reinterpret_cast<Answer>(library.GetSymbol("PlatformProbeAnswer"));
    ASSERT_NE(answer, nullptr) << library.LastError();
    EXPECT_EQ(answer(20), 41);

    EXPECT_EQ(library.GetSymbol("NoSuchEntryPoint"), nullptr);
    EXPECT_NE(library.LastError().find("NoSuchEntryPoint"), std::string::npos) << library.LastError();
    EXPECT_TRUE(library.IsLoaded());

    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(library.GetSymbol("PlatformProbeAnswer"), nullptr);
}

TEST_F(DynamicLibraryLoadTest, MissingOrBrokenLibraryIsAnError) {
    TestSupport::TempDir dir;
    // Found on the path but not a shared object: reported, not fatal.
    TestSupport::WriteFile(dir.File("libbroken.so"), "not an ELF file");
    TestSupport::ScopedEnv path("KORVALIS_LIBRARY_PATH", dir.Path() + ":" + mStandIns);
    DynamicLibrary library;
    EXPECT_FALSE(library.Load("NoSuchLibrary.DLL"));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_NE(library.LastError().find("libnosuchlibrary.so"), std::string::npos) << library.LastError();
    EXPECT_FALSE(library.Load("Broken.DLL"));
    EXPECT_FALSE(library.LastError().empty());
    EXPECT_EQ(library.GetSymbol("PlatformProbeAnswer"), nullptr);
    // A failed load leaves the object usable.
    EXPECT_TRUE(library.Load("PlatformProbe.DLL")) << library.LastError();
    EXPECT_TRUE(library.LastError().empty());
}

TEST(DynamicLibraryPinTest, PinsOnlyLibrariesAlreadyLoaded) {
    EXPECT_TRUE(PinLoadedLibrary("libc.so.6"));
    EXPECT_FALSE(PinLoadedLibrary("libplatformprobe-never-loaded.so"));
}
