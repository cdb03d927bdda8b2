// Settings files of older drivers, with the GPIB and RS-232 settings and the GPIB/RS-232 selection
// outside the streams: the older form sits in "Stream Config" ("Communication" as its key, the
// tables "GPIB" and "RS232" below it). It is converted on load and written back on save.
#include <gtest/gtest.h>

#include "StreamTestEnvironment.h"
#include "core/ProgramSettingsDatabase.h"
#include "gpib/NIGPIBDeviceStream.h"
#include "platform/MessageBox.h"
#include "rs232/RS232DeviceStream.h"
#include "streams/DeviceStreamConfigurationManager.h"

namespace {

class LegacySettingsTest : public ::testing::Test {
protected:
    void SetUp() override { mManager.SetSupportedStreams("GPIB;CompliantGPIB;RS-232"); }

    DWORD Load(const std::string &sContents) {
        TestSupport::WriteFile(msFile, sContents);
        auto database = CreateINIProgramSettingsDatabase(msFile);
        database->Open();
        const DWORD result = mManager.LoadConfiguration(database);
        database->Close();
        return result;
    }
    std::string Save() {
        auto database = CreateINIProgramSettingsDatabase(msFile);
        database->Open();
        EXPECT_EQ(0u, mManager.SaveConfiguration(database));
        database->Close();
        return TestSupport::ReadFile(msFile);
    }
    NI488GPIBConfiguration &Gpib(const char *kind = "GPIB") {
        return *dynamic_cast<NI488GPIBConfiguration *>(mManager.FindConfiguration(kind).get());
    }
    RS232DeviceStreamConfiguration &Rs232() {
        return *dynamic_cast<RS232DeviceStreamConfiguration *>(mManager.FindConfiguration("RS-232").get());
    }

    TestSupport::TempDir mDir;
    std::string msFile = mDir.File("driver.ini");
    TestSupport::MessageBoxRecorder mBoxes;
    DeviceStreamConfigurationManager mManager;
};

TEST_F(LegacySettingsTest, TheOlderSelectionChoosesTheKindWhenNoneIsSelected) {
    const std::pair<const char *, const char *> cases[] = {{"0", "RS-232"}, {"1", "GPIB"}};
    for (const auto &[communication, kind] : cases) {
        DeviceStreamConfigurationManager manager;
        manager.SetSupportedStreams("GPIB;RS-232");
        TestSupport::WriteFile(msFile, std::string("[Stream Config]\nCommunication=") + communication +
                                           "\n[Stream Config.RS232]\nCOMPort=3\n");
        auto database = CreateINIProgramSettingsDatabase(msFile);
        database->Open();
        EXPECT_EQ(0u, manager.LoadConfiguration(database));
        EXPECT_EQ(kind, manager.GetSelected());
        EXPECT_EQ(static_cast<DWORD>(std::stoi(communication)), manager.GetLegacySelector());
    }
}

TEST_F(LegacySettingsTest, AnOlderGPIBTableFillsOnlyWhatItHolds) {
    // Readdress off and address 9 on the stream before the older file is read.
    Gpib().SetReaddress(false);
    Gpib().SetSecondaryAddress(9);
    ASSERT_EQ(0u, Load("[Stream Config]\nSelected=GPIB\n[Stream Config.GPIB]\nPriAdr=5\n"));
    for (const char *kind : {"GPIB", "CompliantGPIB"}) {
        EXPECT_EQ(5, Gpib(kind).GetPrimaryAddress()) << kind;
        EXPECT_EQ(0, static_cast<int>(Gpib(kind).GetBoard())) << kind;
    }
    EXPECT_EQ(9, Gpib().GetSecondaryAddress());
    EXPECT_FALSE(Gpib().GetReaddress());
    EXPECT_EQ("GPIB:0,5,9", Gpib().GetIdentifier());
}

TEST_F(LegacySettingsTest, AnOlderRS232TableFillsTheRS232Stream) {
    ASSERT_EQ(0u, Load("[Stream Config]\nSelected=RS-232\n[Stream Config.RS232]\nCOMPort=4\nBaudRate=" +
                       std::to_string(static_cast<int>(Br9600)) + "\n"));
    EXPECT_EQ(4, Rs232().GetCOMPort());
    EXPECT_EQ(Br9600, Rs232().GetBaudRate());
    EXPECT_EQ("RS232:COM4", Rs232().GetIdentifier());
}

TEST_F(LegacySettingsTest, AFileWithoutOlderSettingsChangesNothing) {
    const std::string gpib = Gpib().GetIdentifier();
    const std::string rs232 = Rs232().GetIdentifier();
    ASSERT_EQ(0u, Load("[Stream Config]\nSelected=GPIB\n"));
    EXPECT_EQ(gpib, Gpib().GetIdentifier());
    EXPECT_EQ(rs232, Rs232().GetIdentifier());
    EXPECT_EQ(DeviceStreamConfigurationManager::NoLegacySelection, mManager.GetLegacySelector());
}

TEST_F(LegacySettingsTest, SavingWritesTheOlderTablesButNotTheSelection) {
    ASSERT_EQ(0u, Load("[Stream Config]\nSelected=GPIB\n"));
    Gpib().SetAddress(1, 7, 0);
    Gpib("CompliantGPIB").SetAddress(0, 12, 0);
    Rs232().SetCOMPort(2);
    mManager.SetSelected("RS-232");
    const std::string file = Save();
    // The older keys that no stream writes ("Implementation") are there; CompliantGPIB, written
    // last, holds the GPIB keys; the older selection is not written.
    EXPECT_NE(std::string::npos, file.find("Selected=RS-232\n")) << file;
    EXPECT_NE(std::string::npos, file.find("[Stream Config.GPIB]\nBoard=0\nPriAdr=12\nSecAdr=0\nWait="))
        << file;
    EXPECT_NE(std::string::npos, file.find("Implementation=")) << file;
    EXPECT_NE(std::string::npos, file.find("[Stream Config.RS232]\nCOMPort=2\n")) << file;
    EXPECT_EQ(std::string::npos, file.find("Communication")) << file;

    DeviceStreamConfigurationManager reread;
    reread.SetSupportedStreams("GPIB;CompliantGPIB;RS-232");
    auto database = CreateINIProgramSettingsDatabase(msFile);
    database->Open();
    EXPECT_EQ(0u, reread.LoadConfiguration(database));
    EXPECT_EQ("RS-232", reread.GetSelected());
    EXPECT_EQ("RS232:COM2", reread.FindConfiguration("RS-232")->GetIdentifier());
}

} // namespace
