// The serial port settings: defaults, comparison, and the table "RS232" in an INI file.
#include <gtest/gtest.h>

#include <set>

#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "platform/Profile.h"
#include "rs232/RS232Configuration.h"
#include "support/TestSupport.h"

namespace {

class RS232ConfigurationTest : public ::testing::Test {
protected:
    std::shared_ptr<ProgramSettingsDatabase> Database() {
        auto database = CreateINIProgramSettingsDatabase(mFile);
        database->Open();
        return database;
    }
    // The key's value; "-" when the file does not hold it.
    std::string Value(const std::string &section, const std::string &key) {
        std::wstring value;
        if (!Platform::FindProfileString(ToStdWstring(section), ToStdWstring(key), value,
                                         ToStdWstring(mFile)))
            return "-";
        return ToStdString(value);
    }

    TestSupport::IsolatedEnvironment mEnvironment;
    TestSupport::TempDir mDir;
    std::string mFile = mDir.File("settings.ini");
};

TEST_F(RS232ConfigurationTest, AFreshObjectHoldsTheDefaultsAndEveryDeclaredRate) {
    const RS232Configuration configuration;
    EXPECT_EQ(1, configuration.GetCOMPort());
    EXPECT_EQ(None, configuration.GetParity());
    EXPECT_EQ(Data8, configuration.GetDataBits());
    EXPECT_EQ(Br19200, configuration.GetBaudRate());
    EXPECT_EQ(Stop1, configuration.GetStopBits());
    EXPECT_TRUE(configuration.GetRTSAroundWrite());
    EXPECT_TRUE(configuration.GetNewLineReturnIsEndOfString());
    EXPECT_FALSE(configuration.GetRTSEnable() || configuration.GetXonXoffFlowControl() ||
                 configuration.GetCOMPortSharing() || configuration.GetBaudRateEditable());
    EXPECT_EQ(0, configuration.GetImplementation());
    const std::set<BaudRate> expected = {Br50,    Br300,   Br600,   Br1200,   Br2400,   Br4800,   Br9600,
                                         Br19200, Br38400, Br57600, Br115200, Br230400, Br460800, Br921600};
    EXPECT_EQ(expected, configuration.GetAllowedBaudRates());
    EXPECT_EQ(expected, RS232Configuration(configuration).GetAllowedBaudRates());
}

TEST_F(RS232ConfigurationTest, OnlyPortLineParametersHandshakeAndSharingTakePartInTheComparison) {
    struct Case {
        const char *Name;
        void (*Change)(RS232Configuration &);
        bool Same;
    };
    const Case cases[] = {
        {"RTS around write", [](RS232Configuration &c) { c.SetRTSAroundWrite(false); }, true},
        {"implementation", [](RS232Configuration &c) { c.SetImplementation(1); }, true},
        {"new line", [](RS232Configuration &c) { c.SetNewLineReturnIsEndOfString(false); }, true},
        {"port", [](RS232Configuration &c) { c.SetCOMPort(2); }, false},
        {"rate", [](RS232Configuration &c) { c.SetBaudRate(Br9600); }, false},
        {"parity", [](RS232Configuration &c) { c.SetParity(Odd); }, false},
        {"data bits", [](RS232Configuration &c) { c.SetDataBits(Data7); }, false},
        {"stop bits", [](RS232Configuration &c) { c.SetStopBits(Stop2); }, false},
        {"RTS enable", [](RS232Configuration &c) { c.SetRTSEnable(true); }, false},
        {"XON/XOFF", [](RS232Configuration &c) { c.SetXonXoffFlowControl(true); }, false},
        {"sharing", [](RS232Configuration &c) { c.SetCOMPortSharing(true); }, false},
    };
    for (const Case &test : cases) {
        const RS232Configuration first;
        RS232Configuration second;
        test.Change(second);
        EXPECT_EQ(test.Same, first.IsSameConfiguration(second)) << test.Name;
    }
}

TEST_F(RS232ConfigurationTest, SavingWritesTheSixKeysBelowTheParentPathAndAPortOf0As1) {
    RS232Configuration configuration;
    configuration.SetCOMPort(0);
    configuration.SetBaudRate(Br9600);
    configuration.SetParity(Even);
    configuration.SetImplementation(1);
    configuration.SetRTSEnable(true);
    auto database = Database();
    EXPECT_EQ(0u, configuration.SaveProgramSettings(nullptr, database, "Device"));
    database->Close();
    EXPECT_EQ("1", Value("Device.RS232", "COMPort"));
    EXPECT_EQ("2", Value("Device.RS232", "Parity"));
    EXPECT_EQ("8", Value("Device.RS232", "DataBits"));
    EXPECT_EQ("9600", Value("Device.RS232", "BaudRate"));
    EXPECT_EQ("0", Value("Device.RS232", "StopBits"));
    EXPECT_EQ("1", Value("Device.RS232", "Implementation"));
    EXPECT_EQ("-", Value("Device.RS232", "RTSEnable"));
}

TEST_F(RS232ConfigurationTest, LoadingKeepsAStoredPortOf0AndAnEmptyDatabaseChangesNothing) {
    TestSupport::WriteFile(mFile, "[RS232]\nCOMPort=0\nBaudRate=115200\nStopBits=2\n");
    RS232Configuration configuration;
    auto database = Database();
    EXPECT_EQ(0u, configuration.LoadProgramSettings(nullptr, database, ""));
    EXPECT_EQ(0, configuration.GetCOMPort());
    EXPECT_FALSE(configuration.IsValid());
    EXPECT_EQ(Br115200, configuration.GetBaudRate());
    EXPECT_EQ(Stop2, configuration.GetStopBits());
    EXPECT_EQ(Data8, configuration.GetDataBits());

    // Values outside the ranges stay as stored (the port refuses them at the open).
    configuration.SetBaudRate(static_cast<BaudRate>(14400));
    EXPECT_EQ(0u, configuration.SaveProgramSettings(nullptr, database, ""));
    database->Close();
    EXPECT_EQ("14400", Value("RS232", "BaudRate"));

    std::shared_ptr<ProgramSettingsDatabase> none;
    RS232Configuration untouched;
    EXPECT_EQ(0u, untouched.LoadProgramSettings(nullptr, none, "Device"));
    EXPECT_EQ(0u, untouched.SaveProgramSettings(nullptr, none, "Device"));
    EXPECT_EQ(1, untouched.GetCOMPort());
}

TEST_F(RS232ConfigurationTest, ThePortRangeIs1To65534) {
    RS232Configuration configuration;
    for (const auto &[port, valid] :
         {std::pair{0, false}, {1, true}, {65534, true}, {65535, false}, {-3, false}}) {
        configuration.SetCOMPort(port);
        EXPECT_EQ(valid, configuration.IsValid()) << port;
    }
}

} // namespace
