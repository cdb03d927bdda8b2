// Where the design's Windows places live: environment, drive C, temporary directory, ports.
#include "platform/Environment.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Platform;
namespace fs = std::filesystem;

TEST(EnvironmentTest, EmptyVariablesCountAsUnset) {
    TestSupport::ScopedEnv empty("KORVALIS_TEST_VALUE", "");
    EXPECT_EQ(GetEnv("KORVALIS_TEST_VALUE", "fallback"), "fallback");
    TestSupport::ScopedEnv set("KORVALIS_TEST_VALUE", "x y");
    EXPECT_EQ(GetEnv("KORVALIS_TEST_VALUE", "fallback"), "x y");
    {
        TestSupport::ScopedEnv flag("KORVALIS_NONINTERACTIVE", "0");
        EXPECT_FALSE(IsNonInteractive());
    }
    TestSupport::ScopedEnv flag("KORVALIS_NONINTERACTIVE", "1");
    EXPECT_TRUE(IsNonInteractive());
}

TEST(EnvironmentTest, DriveCFollowsTheEnvironmentAtEachCall) {
    {
        TestSupport::ScopedEnv unset("KORVALIS_DRIVE_C", "");
        EXPECT_EQ(DriveCDirectory(), "/");
        EXPECT_EQ(DriveCFile("DDLOGGER.DAT"), "/DDLOGGER.DAT");
    }
    TestSupport::IsolatedEnvironment env;
    EXPECT_EQ(DriveCFile("DDLOGGER.DAT"), env.DriveC() + "/DDLOGGER.DAT");
    TestSupport::ScopedEnv slash("KORVALIS_DRIVE_C", env.Root() + "/other/");
    EXPECT_EQ(DriveCFile("DDLOGGER.DAT"), env.Root() + "/other/DDLOGGER.DAT");
}

TEST(EnvironmentTest, TemporaryDirectoryPrefersTmpdirThenRuntimeDir) {
    {
        TestSupport::ScopedEnv tmp("TMPDIR", "/some/tmp");
        TestSupport::ScopedEnv xdg("XDG_RUNTIME_DIR", "/run/user/1");
        EXPECT_EQ(TemporaryDirectory(), "/some/tmp");
    }
    TestSupport::ScopedEnv tmp("TMPDIR", "");
    {
        TestSupport::ScopedEnv xdg("XDG_RUNTIME_DIR", "/run/user/1");
        EXPECT_EQ(TemporaryDirectory(), "/run/user/1");
    }
    TestSupport::ScopedEnv xdg("XDG_RUNTIME_DIR", "");
    std::string dir = TemporaryDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir, "/tmp") << "never a directory shared by all users";
    EXPECT_EQ(dir.rfind("/tmp/korvalis-", 0), 0u) << dir;
    EXPECT_FALSE(fs::is_symlink(dir));
    ASSERT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(EnvironmentTest, SerialPortsMapToTtysUnlessOverridden) {
    TestSupport::ScopedEnv unset("KORVALIS_COM3", "");
    EXPECT_EQ(SerialPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(SerialPortPath(3), "/dev/ttyS2");
    EXPECT_EQ(SerialPortPath(0), "");
    TestSupport::ScopedEnv pty("KORVALIS_COM3", "/dev/pts/7");
    EXPECT_EQ(SerialPortPath(3), "/dev/pts/7");
    EXPECT_EQ(SerialPortPath(4), "/dev/ttyS3");
}

TEST(EnvironmentTest, FilesAndModules) {
    TestSupport::TempDir dir;
    EXPECT_TRUE(FileExists(dir.Path()));
    EXPECT_FALSE(FileExists(dir.File("missing")));
    TestSupport::WriteFile(dir.File("present"), "");
    EXPECT_TRUE(FileExists(dir.File("present")));

    static int inThisProgram;
    EXPECT_EQ(ModuleFilePath(&inThisProgram), fs::canonical("/proc/self/exe").string());
    EXPECT_EQ(ModuleFilePath(nullptr), "");
}
