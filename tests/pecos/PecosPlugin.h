// The plug-in as the host loads it (build/plugin/PontisPecos.so, bound by name), PECOS drivers
// created and removed through its exports, and the settings files that configure them. The same
// exports also run in the test's own process (PluginExports::InProcess), where a test reaches the
// driver object itself, for instance to give its stream a short time-out.
#pragma once

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/DeviceDriverBase.h"
#include "core/DeviceDriverTable.h"
#include "core/DriverExports.h"
#include "pecos/PecosDriverFactory.h"
#include "plugin/PluginExports.h"
#include "streams/DeviceStreamClient.h"
#include "support/TestSupport.h"

namespace PecosTest {

constexpr uint32_t AuthorisationFailed = 0x3000BB1D;
constexpr uint32_t InvalidDetectorID = 0x3000BB1E;
constexpr uint32_t NoDetectorResponse = 0x3000BB23;
constexpr uint32_t StreamNotConnected = 0x30001F41;
constexpr uint32_t UnknownDriverType = 0x300000CF;
constexpr uint32_t IdentificationMismatch = 0x30000096;

// Result codes compared, and printed in hex as the README and the call log's readers give them.
inline ::testing::AssertionResult SameCode(const char *expectedText, const char *actualText,
                                           uint64_t expected, uint64_t actual) {
    if (expected == actual)
        return ::testing::AssertionSuccess();
    std::ostringstream text;
    text << std::hex << std::showbase << actualText << " is " << actual << ", expected " << expectedText
         << " = " << expected;
    return ::testing::AssertionFailure() << text.str();
}
#define EXPECT_CODE(expected, actual) EXPECT_PRED_FORMAT2(PecosTest::SameCode, expected, actual)
#define ASSERT_CODE(expected, actual) ASSERT_PRED_FORMAT2(PecosTest::SameCode, expected, actual)

// The exports, bound once per test program; the plug-in stays loaded, as in a host.
struct PluginExports {
#define PONTIS_BIND_MEMBER(name, args) PFN_##name name = nullptr;
    PONTIS_EXPORT_LIST(PONTIS_BIND_MEMBER)
#undef PONTIS_BIND_MEMBER

    static PluginExports &Get() {
        static PluginExports exports = Load();
        return exports;
    }
    // The framework's export procedures linked into the test, with the PECOS factory.
    static PluginExports &InProcess() {
        static PluginExports exports = [] {
            PluginExports e;
            e.CreateNewDeviceDriver = [](uint32_t, const char *key, uint16_t *id) {
                return static_cast<uint32_t>(PecosDriverFactory::CreateNewDeviceDriver(key, id));
            };
            e.RemoveDeviceDriver = &DriverExports::RemoveDeviceDriver;
            e.LoadConfiguration = &DriverExports::LoadConfiguration;
            e.SaveConfiguration = &DriverExports::SaveConfiguration;
            e.CheckDevice = &DriverExports::CheckDevice;
            e.InitDevice = &DriverExports::InitDevice;
            e.DeInitDevice = &DriverExports::DeInitDevice;
            e.SetValue = &DriverExports::SetValue;
            e.GetValue = &DriverExports::GetValue;
            e.GetErrorString = &DriverExports::GetErrorString;
            return e;
        }();
        return exports;
    }
    bool Loaded() const {
        return GetValue != nullptr;
    }

private:
    static PluginExports Load() {
        PluginExports exports;
        void *handle = ::dlopen(TestSupport::RunnerEnv("KORVALIS_PLUGIN").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return exports;
#define PONTIS_BIND_SYMBOL(name, args) exports.name = reinterpret_cast<PFN_##name>(::dlsym(handle, #name));
        PONTIS_EXPORT_LIST(PONTIS_BIND_SYMBOL)
#undef PONTIS_BIND_SYMBOL
        return exports;
    }
};

// One driver in the plug-in's table for the life of the object.
class HostDriver {
public:
    explicit HostDriver(const char *key, PluginExports &exports = PluginExports::Get()) : mExports(exports) {
        Created = mExports.CreateNewDeviceDriver(0, key, &Id);
    }
    // A driver object of the test's own making, entered in this process's driver table.
    explicit HostDriver(std::unique_ptr<DeviceDriverBase> driver) : mExports(PluginExports::InProcess()) {
        Created = static_cast<uint32_t>(DeviceDriverTable::Instance().Add(std::move(driver), Id));
    }
    ~HostDriver() {
        if (Created == 0 && !mRemoved)
            mExports.RemoveDeviceDriver(nullptr, Id);
    }
    uint32_t Remove() {
        mRemoved = true;
        return mExports.RemoveDeviceDriver(nullptr, Id);
    }
    HostDriver(const HostDriver &) = delete;
    HostDriver &operator=(const HostDriver &) = delete;

    uint32_t Load(const std::string &file) { return mExports.LoadConfiguration(nullptr, Id, file.c_str()); }
    uint32_t Save(const std::string &file) { return mExports.SaveConfiguration(nullptr, Id, file.c_str()); }
    uint32_t Init() { return mExports.InitDevice(nullptr, Id); }
    uint32_t DeInit() { return mExports.DeInitDevice(nullptr, Id); }
    uint32_t Check() { return mExports.CheckDevice(nullptr, Id); }
    uint32_t Read(uint32_t channel, float &value) {
        return mExports.GetValue(nullptr, Id, 750, &channel, &value);
    }
    uint32_t Event(uint32_t event, double &value) {
        return mExports.SetValue(nullptr, Id, 1500, &event, &value);
    }
    uint32_t Event(uint32_t event, double &&value) { return Event(event, value); }
    uint32_t ErrorText(uint32_t code, std::string &text) {
        char buffer[512] = {};
        uint32_t read = 0;
        const uint32_t result = mExports.GetErrorString(nullptr, Id, code, buffer, sizeof buffer, &read);
        text.assign(buffer, read);
        return result;
    }

    // In-process drivers only: the stream client of the driver object.
    DeviceStreamClientWithStream *Client() const {
        return dynamic_cast<DeviceStreamClientWithStream *>(
            DeviceDriverTable::Instance().GetDriver(Id).get());
    }

    uint16_t Id = 0xFFFF;
    uint32_t Created = 0;

private:
    PluginExports &mExports;
    bool mRemoved = false;
};

// A settings file; tables in the order given, keys in each table in the order given.
class SettingsFile {
public:
    using Table = std::vector<std::pair<std::string, std::string>>;

    SettingsFile &Set(const std::string &table, const std::string &key, const std::string &value) {
        for (auto &entry : mTables)
            if (entry.first == table) {
                entry.second.emplace_back(key, value);
                return *this;
            }
        mTables.push_back({table, {{key, value}}});
        return *this;
    }
    // The PECOS server at 127.0.0.1 on the port, over TCP or (kind "VISA") its VISA socket resource.
    SettingsFile &Server(unsigned port, const std::string &kind = "TCPIP") {
        Set("Stream Config", "Selected", kind);
        Set("Stream Config.VISA", "Identifier", "TCPIP::127.0.0.1::" + std::to_string(port) + "::SOCKET");
        return Set("Stream Config.Ethernet", "Address", "tcpip://127.0.0.1:" + std::to_string(port));
    }
    SettingsFile &Login(const std::string &user, const std::string &password) {
        Set("PontisPecos", "UserName", user);
        return Set("PontisPecos", "Password", password);
    }
    // Detector n + 1 name for each entry; a toggle delay of 0 unless one is given.
    SettingsFile &Detectors(const std::vector<std::string> &names, const std::string &delay = "0") {
        for (size_t n = 0; n < names.size(); ++n)
            Set("PontisPecos_ADConverter", "Detector " + std::to_string(n + 1) + " name", names[n]);
        return Set("PontisPecos_ADConverter", "DetectorStateToggleDelay", delay);
    }
    std::string Write() {
        std::string text;
        for (const auto &table : mTables) {
            text += "[" + table.first + "]\n";
            for (const auto &entry : table.second)
                text += entry.first + "=" + entry.second + "\n";
        }
        TestSupport::WriteFile(mDir.File("driver.ini"), text);
        return mDir.File("driver.ini");
    }
    std::string Path() const { return mDir.File("driver.ini"); }

private:
    TestSupport::TempDir mDir;
    std::vector<std::pair<std::string, Table>> mTables;
};

// The parts one after the other.
inline std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The EUT controller's fourteen screen lines of InitDevice and TestStopped.
inline const std::vector<std::string> DashLines{"FREQUENCY Frequency ---",
                                                "FIELDSTRENGTH Field ---",
                                                "FORWARDPOWER Forward power ---",
                                                "REFLECTEDPOWER Reflected power ---",
                                                "NETTOPOWER Netto power ---",
                                                "CARRIERLEVEL Carrier level ---",
                                                "AVERAGE Average-field: ---",
                                                "CALCULATEDFIELD Calculated-field: ---",
                                                "MODULATION Modulation ---",
                                                "HEIGHT Height: ---",
                                                "ANGLE Angle: ---",
                                                "CALCULATEDCURRENT Calculated current: ---",
                                                "CALCULATEDVOLTAGE Calculated voltage: ---",
                                                "POLARISATION Polarisation: ---"};

// The lines without reply of an AD converter's detectors: "on" gives ENABLE and ACTIVATE of each.
inline std::vector<std::string> Detectors(const std::string &state, const std::vector<std::string> &names) {
    std::vector<std::string> lines;
    for (const std::string &name : names) {
        if (state == "on")
            lines.insert(lines.end(), {"CMD-" + name + "-ENABLE-YES", "CMD-" + name + "-ACTIVATE-YES"});
        else
            lines.push_back("CMD-" + name + "-ENABLE-NO");
    }
    return lines;
}

} // namespace PecosTest
