// Shared pieces of the stream-client tests: a configuration kind of the tests' own that a manager
// can hold under any kind id, a manager that takes such configurations directly, a settings file
// opened as the host opens it, and a driver's client connected from such a file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/ProgramSettingsDatabase.h"
#include "streams/DeviceStreamClient.h"
#include "support/TestSupport.h"

// Stores one text under its own table ("<kind>", key "Value") below the caller's table.
class TestConfiguration : public DeviceStreamConfiguration {
public:
    explicit TestConfiguration(const std::string &sKind, std::string sValue = std::string())
        : DeviceStreamConfiguration(sKind), Value(std::move(sValue)) {}

    DWORD LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override {
        ++Loads;
        database->PushTable(GetIDString());
        Value = database->ReadStdString("Value", Value);
        database->PopTable();
        return LoadResult;
    }
    DWORD SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override {
        ++Saves;
        database->PushTable(GetIDString());
        database->WriteStdString("Value", Value);
        database->PopTable();
        return 0;
    }
    bool LessThan(std::shared_ptr<DeviceStreamConfiguration> other) override {
        const int order = Compare(other.get());
        if (order != 0)
            return order < 0;
        return Value < static_cast<TestConfiguration &>(*other).Value;
    }
    DWORD ShowConfigurationDialog(HostWindow, const std::wstring &sTitle) override {
        DialogTitles.push_back(sTitle);
        return 0;
    }
    std::string GetIdentifier() override { return "TEST:" + Value; }
    bool IsValid() override { return !Value.empty(); }

    std::string Value;
    int Loads = 0;
    int Saves = 0;
    DWORD LoadResult = 0;
    std::vector<std::wstring> DialogTitles;
};

// A manager whose configurations the test hands in.
class TestManager : public DeviceStreamConfigurationManager {
public:
    std::shared_ptr<TestConfiguration> Add(const std::string &sKind) {
        auto configuration = std::make_shared<TestConfiguration>(sKind);
        mConfigurations[sKind] = configuration;
        return configuration;
    }
};

// An INI file as the host hands it to a driver: opened for the whole load or save.
class SettingsFile {
public:
    explicit SettingsFile(const std::string &sContent = std::string()) {
        if (!sContent.empty())
            TestSupport::WriteFile(Path(), sContent);
    }
    std::string Path() const { return mDir.File("driver.ini"); }
    std::string Text() const { return TestSupport::ReadFile(Path()); }
    // Runs the step with the database open, as the host's load and save do.
    template <typename F> DWORD With(F step) {
        std::shared_ptr<ProgramSettingsDatabase> database = CreateINIProgramSettingsDatabase(Path());
        database->Open();
        const DWORD result = step(database);
        database->Close();
        return result;
    }

private:
    TestSupport::TempDir mDir;
};

// A driver's client of the stream kind from the host's settings ("Stream Config" tables), connected.
inline std::unique_ptr<DeviceStreamClientWithStream> ConnectedDriver(const std::string &sKind,
                                                                     const std::string &sTables) {
    auto client = std::make_unique<DeviceStreamClientWithStream>("");
    client->GetConfigurationManager().SetSupportedStreams(sKind);
    SettingsFile file("[Stream Config]\nSelected=" + sKind + "\n" + sTables);
    EXPECT_EQ(0u, file.With([&](auto &db) { return client->LoadProgramSettings(nullptr, db); }));
    EXPECT_EQ(0u, client->ConnectStream(nullptr, false));
    return client;
}
