// Storable members through a real INI file: round trip, order and first failure, the records of
// each member, a missing file name and a file that cannot be written.
#include "core/StorableMembers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>

#include "../logging/RecordCapture.h"
#include "core/ProgramSettingsDatabase.h"

namespace {

// A member that counts its calls and answers with a fixed code.
class CountingMember : public SavableLoadableClass {
public:
    CountingMember(StorableMembersManager &manager, DWORD result) : mResult(result) {
        manager.RegisterMember(this);
    }
    DWORD LoadProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) override {
        ++Loads;
        return mResult;
    }
    DWORD SaveProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) override {
        ++Saves;
        return mResult;
    }
    int Loads = 0;
    int Saves = 0;

private:
    DWORD mResult;
};

// Shaped like a driver: the convertor owns the manager, the derived part declares the members.
class TestDriver : public SaveLoadConfigurationConvertor {
public:
    explicit TestDriver(DWORD middleResult = 0) : Failing(Manager, middleResult) {}
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override {
        return Manager.LoadProgramSettings(hWnd, database);
    }
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override {
        return Manager.SaveProgramSettings(hWnd, database);
    }

    StorableMembersManager Manager;
    StorableMemberVariable<std::string> Name{"PECOS", Manager, "PontisPecos_ADConverter", "Detector 1 name"};
    CountingMember Failing;
    StorableMemberVariable<unsigned int> Delay{250, Manager, "PontisPecos_ADConverter",
                                               "DetectorStateToggleDelay"};
};

constexpr DWORD MemberFailure = 0x30000999;

class StorableMembersTest : public ::testing::Test {
protected:
    std::string IniPath() const { return mCapture.Environment().Root() + "/config.ini"; }
    RecordCapture mCapture;
};

} // namespace

TEST_F(StorableMembersTest, SavedMembersLoadBackFromTheFile) {
    TestSupport::WriteFile(IniPath(), "; kept comment\n[Other]\nx=1\n");
    TestDriver saved;
    saved.Name.SetValue("Det\xC3\xA9"
                        "ctor ; one");
    saved.Delay.SetValue(4294967295u);
    ASSERT_EQ(0u, saved.SaveConfiguration(nullptr, IniPath().c_str()));

    const std::string content = TestSupport::ReadFile(IniPath());
    EXPECT_NE(std::string::npos, content.find("; kept comment"));
    EXPECT_NE(std::string::npos, content.find("[Other]"));
    EXPECT_NE(std::string::npos, content.find("[PontisPecos_ADConverter]"));
    EXPECT_NE(std::string::npos, content.find("DetectorStateToggleDelay=4294967295"));

    TestDriver loaded;
    ASSERT_EQ(0u, loaded.LoadConfiguration(nullptr, IniPath().c_str()));
    EXPECT_EQ("Det\xC3\xA9"
              "ctor ; one",
              loaded.Name.GetValue());
    EXPECT_EQ(4294967295u, loaded.Delay.GetValue());
    EXPECT_EQ(1, loaded.Failing.Loads);
}

TEST_F(StorableMembersTest, AMissingFileOrKeyLeavesTheValuesAndABadNumberReadsAsZero) {
    TestDriver driver;
    EXPECT_EQ(0u, driver.LoadConfiguration(nullptr, (IniPath() + ".missing").c_str()));
    EXPECT_EQ("PECOS", driver.Name.GetValue());
    EXPECT_EQ(250u, driver.Delay.GetValue());

    TestSupport::WriteFile(IniPath(), "[PontisPecos_ADConverter]\nDetectorStateToggleDelay=abc\n");
    EXPECT_EQ(0u, driver.LoadConfiguration(nullptr, IniPath().c_str()));
    EXPECT_EQ("PECOS", driver.Name.GetValue());
    EXPECT_EQ(0u, driver.Delay.GetValue());
}

TEST_F(StorableMembersTest, TheFirstFailingMemberStopsTheWalk) {
    TestSupport::WriteFile(IniPath(), "[PontisPecos_ADConverter]\nDetector 1 name=from file\n"
                                      "DetectorStateToggleDelay=7\n");
    TestDriver driver(MemberFailure);
    EXPECT_EQ(MemberFailure, driver.LoadConfiguration(nullptr, IniPath().c_str()));
    EXPECT_EQ("from file", driver.Name.GetValue());
    EXPECT_EQ(250u, driver.Delay.GetValue());

    const std::string other = IniPath() + ".saved";
    EXPECT_EQ(MemberFailure, driver.SaveConfiguration(nullptr, other.c_str()));
    const std::string content = TestSupport::ReadFile(other);
    EXPECT_NE(std::string::npos, content.find("Detector 1 name=from file"));
    EXPECT_EQ(std::string::npos, content.find("DetectorStateToggleDelay"));
    EXPECT_EQ(1, driver.Failing.Loads);
    EXPECT_EQ(1, driver.Failing.Saves);
}

TEST_F(StorableMembersTest, EachMemberWritesItsNoteRecord) {
    TestSupport::WriteFile(IniPath(), "[PontisPecos_ADConverter]\nDetectorStateToggleDelay=12\n");
    TestDriver driver;
    driver.LoadConfiguration(nullptr, IniPath().c_str());
    driver.SaveConfiguration(nullptr, IniPath().c_str());

    auto records = RecordCapture::WithModule(mCapture.Records(), L"StorableMemberVariable");
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(L"LoadProgramSettings(\"PontisPecos_ADConverter\", \"Detector 1 name\")", records[0].Function);
    EXPECT_EQ(L"Note", records[0].Level);
    EXPECT_NE(std::wstring::npos,
              records[1].Raw.find(L";Note;!input;a:Table;23;PontisPecos_ADConverter;"
                                  L"a:Key;24;DetectorStateToggleDelay;!output;i:Value;12;"))
        << records[1].Raw;
    EXPECT_EQ(L"SaveProgramSettings(\"PontisPecos_ADConverter\", \"Detector 1 name\")", records[2].Function);
    EXPECT_EQ(L"PECOS", records[2].Value(L"Value", L"!input"));
    EXPECT_EQ(L"12", records[3].Value(L"Value", L"!input"));
}

TEST_F(StorableMembersTest, WithoutADatabaseTheManagerCallsNoMemberButAMemberStillLogs) {
    StorableMembersManager manager;
    CountingMember counting(manager, MemberFailure);
    StorableMemberVariable<unsigned int> member(5, manager, "T", "K");
    std::shared_ptr<ProgramSettingsDatabase> none;
    EXPECT_EQ(0u, manager.LoadProgramSettings(nullptr, none));
    EXPECT_EQ(0u, manager.SaveProgramSettings(nullptr, none));
    EXPECT_EQ(0, counting.Loads + counting.Saves);

    EXPECT_EQ(0u, member.LoadProgramSettings(nullptr, none));
    EXPECT_EQ(5u, member.GetValue());
    auto records = RecordCapture::WithModule(mCapture.Records(), L"StorableMemberVariable");
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"LoadProgramSettings(\"T\", \"K\")", records[0].Function);
    EXPECT_EQ(L"5", records[0].Value(L"Value", L"!output"));
}

TEST_F(StorableMembersTest, ANullFileNameIsAnErrorAndTouchesNoFile) {
    TestDriver driver;
    EXPECT_EQ(ConfigurationNoFileName, driver.LoadConfiguration(nullptr, nullptr));
    EXPECT_EQ(ConfigurationNoFileName, driver.SaveConfiguration(nullptr, nullptr));
    EXPECT_EQ(0, driver.Failing.Loads + driver.Failing.Saves);
    EXPECT_STREQ("No configuration file name given", ConfigurationErrorText(ConfigurationNoFileName));
}

TEST_F(StorableMembersTest, ASaveThatCannotReachTheFileIsAnError) {
    // The parent of the file is a regular file, which stops root as well.
    const std::string parent = mCapture.Environment().Root() + "/plain-file";
    TestSupport::WriteFile(parent, "x");
    TestDriver driver;
    EXPECT_EQ(ConfigurationNotWritten, driver.SaveConfiguration(nullptr, (parent + "/config.ini").c_str()));
    EXPECT_STREQ("The configuration file could not be written",
                 ConfigurationErrorText(ConfigurationNotWritten));
    // Loading from there finds nothing and keeps the values.
    EXPECT_EQ(0u, driver.LoadConfiguration(nullptr, (parent + "/config.ini").c_str()));
    EXPECT_EQ("PECOS", driver.Name.GetValue());
}

TEST_F(StorableMembersTest, AFileThatExistsButIsRefusedLoadsNothing) {
    namespace fs = std::filesystem;
    const std::string root = mCapture.Environment().Root();
    const std::string settings = "[PontisPecos_ADConverter]\nDetector 1 name=from file\n";
    const struct {
        const char *Kind;
        std::function<void(const std::string &)> Make;
    } cases[] = {
        {"directory", [](const std::string &path) { fs::create_directory(path); }},
        {"FIFO", [](const std::string &path) { ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600)); }},
        {"link to /dev/zero", [](const std::string &path) { fs::create_symlink("/dev/zero", path); }},
        {"file over 16 MiB",
         [&](const std::string &path) {
             TestSupport::WriteFile(path, settings);
             fs::resize_file(path, (16u << 20) + 1);
         }},
    };
    for (const auto &c : cases) {
        const std::string path = root + "/refused-" + std::to_string(&c - cases);
        c.Make(path);
        TestDriver driver;
        driver.Name.SetValue("kept");
        EXPECT_EQ(ConfigurationNotRead, driver.LoadConfiguration(nullptr, path.c_str())) << c.Kind;
        EXPECT_EQ("kept", driver.Name.GetValue()) << c.Kind;
        EXPECT_EQ(0, driver.Failing.Loads) << c.Kind;
    }
    EXPECT_STREQ("The configuration file could not be read", ConfigurationErrorText(ConfigurationNotRead));
}
