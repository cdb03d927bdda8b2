// The exports as the host calls them, with test drivers in the driver table: handles, refusals,
// warnings, the call records that a collector receives, and the host's buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/DeviceDriverBase.h"
#include "core/DeviceDriverTable.h"
#include "logging/RecordCapture.h"
#include "plugin/PluginExports.h"

namespace {

constexpr uint32_t NoDriver = 0x300000D0;

// A driver that counts the calls that reach it and answers what the test sets.
class TestDriver : public DeviceDriverBase {
public:
    explicit TestDriver(std::atomic<int> *destroyed = nullptr) : mDestroyed(destroyed) {}
    ~TestDriver() override {
        if (mDestroyed != nullptr)
            ++*mDestroyed;
    }

    DWORD CheckDevice(HostWindow) override { return Called(); }
    DWORD InitDevice(HostWindow) override { return Called(); }
    DWORD DeInitDevice(HostWindow) override { return Called(); }
    DWORD Registered(HostWindow) override { return Called(); }
    DWORD UnRegistered(HostWindow) override { return Called(); }
    DWORD ShowConfigurationDialog(HostWindow) override { return Called(); }
    DWORD LoadConfiguration(HostWindow, const char *) override { return Called(); }
    DWORD SaveConfiguration(HostWindow, const char *) override { return Called(); }
    DWORD SetSetting(HostWindow, DWORD, double) override { return Called(); }
    DWORD GetDriverVersion(HostWindow, char *) override { return Called(); }
    DWORD GetInfo(HostWindow, DWORD, double *value) override {
        if (value != nullptr)
            *value = 2.5;
        return Called();
    }
    DWORD GetInfoString(HostWindow hWnd, DWORD id, char *buffer, uint32_t size, uint32_t *filled) override {
        ++Calls;
        if (LieAboutLength && filled != nullptr) {
            std::memset(buffer, 'x', size);
            *filled = 1000;
            return Result;
        }
        DeviceDriverBase::GetInfoString(hWnd, id, buffer, size, filled);
        return Result;
    }
    DWORD GetErrorString(HostWindow hWnd, DWORD code, char *buffer, uint32_t size, uint32_t *read) override {
        ++Calls;
        return DeviceDriverBase::GetErrorString(hWnd, code, buffer, size, read);
    }
    DWORD SetValue(HostWindow hWnd, DWORD id, void *d1, void *d2) override {
        ++Calls;
        return DeviceDriverBase::SetValue(hWnd, id, d1, d2);
    }
    DWORD GetValue(HostWindow hWnd, DWORD id, void *d1, void *d2) override {
        if (id != ValueID::GetQueuedWarning)
            ++Calls;
        return DeviceDriverBase::GetValue(hWnd, id, d1, d2);
    }
    DWORD GetValueString(HostWindow hWnd, DWORD id, const char *d1, char *buffer, uint32_t size,
                         uint32_t *filled) override {
        ++Calls;
        return DeviceDriverBase::GetValueString(hWnd, id, d1, buffer, size, filled);
    }

    std::atomic<int> Calls{0};
    DWORD Result = 0;
    bool LieAboutLength = false;

private:
    DWORD Called() {
        ++Calls;
        return Result;
    }
    std::atomic<int> *mDestroyed;
};

// Adds a driver and keeps a pointer for the test (the table owns it).
TestDriver *AddDriver(DeviceIDType expected, std::atomic<int> *destroyed = nullptr) {
    auto driver = std::make_unique<TestDriver>(destroyed);
    TestDriver *raw = driver.get();
    DeviceIDType id = 0x1234;
    EXPECT_EQ(DeviceDriverTable::Instance().Add(std::move(driver), id), 0u);
    EXPECT_EQ(id, expected);
    return raw;
}

void RemoveAll() {
    DeviceDriverTable &table = DeviceDriverTable::Instance();
    while (table.GetSlotCount() > 0)
        table.Remove(static_cast<DeviceIDType>(table.GetSlotCount() - 1));
}

// Every one of the seventeen exports once; returns their results.
std::vector<uint32_t> CallAll(uint32_t id) {
    char text[64] = {};
    uint32_t word = 0, word2 = 0;
    double value = 0;
    std::vector<uint32_t> r;
    r.push_back(LoadConfiguration(nullptr, id, "x.ini"));
    r.push_back(SaveConfiguration(nullptr, id, "x.ini"));
    r.push_back(Registered(nullptr, id));
    r.push_back(UnRegistered(nullptr, id));
    r.push_back(CheckDevice(nullptr, id));
    r.push_back(InitDevice(nullptr, id));
    r.push_back(DeInitDevice(nullptr, id));
    r.push_back(ShowConfigurationDialog(nullptr, id));
    r.push_back(SetValue(nullptr, id, 2, &value, nullptr));
    r.push_back(GetValue(nullptr, id, 56, &word, &word2));
    r.push_back(GetValueString(nullptr, id, 53, "name", text, sizeof text, &word));
    r.push_back(GetInfo(nullptr, id, 1, &value));
    r.push_back(GetInfoString(nullptr, id, 1, text, sizeof text, &word));
    r.push_back(SetSetting(nullptr, id, 4003, 1));
    r.push_back(GetDriverVersion(nullptr, id, text));
    r.push_back(GetErrorString(nullptr, id, 0x300000D7, text, sizeof text, &word));
    r.push_back(RemoveDeviceDriver(nullptr, id));
    return r;
}

class DriverTableExports : public ::testing::Test {
protected:
    void SetUp() override { RemoveAll(); }
    void TearDown() override { RemoveAll(); }
    TestSupport::IsolatedEnvironment mEnv;
};

// A driver whose InitDevice calls back into the exports on its own thread, then holds until the
// test releases it.
struct BlockingDriver : TestDriver {
    using TestDriver::TestDriver;
    DWORD InitDevice(HostWindow) override {
        Reentered = ::CheckDevice(nullptr, 0);
        std::unique_lock<std::mutex> lock(Lock);
        Entered = true;
        Changed.notify_all();
        Changed.wait_for(lock, std::chrono::seconds(10), [this] { return Release; });
        return 0;
    }
    bool WaitEntered() {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, std::chrono::seconds(10), [&] { return Entered; });
    }
    void ReleaseCall() {
        std::lock_guard<std::mutex> lock(Lock);
        Release = true;
        Changed.notify_all();
    }
    std::mutex Lock;
    std::condition_variable Changed;
    bool Entered = false, Release = false;
    uint32_t Reentered = 0xFFFFFFFF;
};

// Enters a BlockingDriver at handle 0.
BlockingDriver *AddBlockingDriver(std::atomic<int> &destroyed) {
    auto owned = std::make_unique<BlockingDriver>(&destroyed);
    BlockingDriver *driver = owned.get();
    DeviceIDType id = 0xFFFF;
    EXPECT_EQ(DeviceDriverTable::Instance().Add(std::move(owned), id), 0u);
    EXPECT_EQ(id, 0);
    return driver;
}

// The begin records of module "DeviceDriver" and the end records of the same entries, in order.
std::vector<Quellin::Record> DriverRecords(const std::vector<Quellin::Record> &records) {
    std::vector<Quellin::Record> found;
    std::vector<std::wstring> entries;
    for (const Quellin::Record &record : records) {
        if (record.RecordKind == Quellin::Record::Kind::Begin && record.Module == L"DeviceDriver") {
            entries.push_back(record.Entry);
            found.push_back(record);
        } else if (record.RecordKind == Quellin::Record::Kind::End &&
                   std::find(entries.begin(), entries.end(), record.Entry) != entries.end()) {
            found.push_back(record);
        }
    }
    return found;
}

class ExportRecords : public ::testing::Test {
protected:
    void SetUp() override { RemoveAll(); }
    void TearDown() override { RemoveAll(); }

    // The begin and end record of the one "DeviceDriver" entry among the records.
    std::pair<Quellin::Record, Quellin::Record> BeginEnd() {
        std::vector<Quellin::Record> records = DriverRecords(mCapture.Records());
        EXPECT_EQ(records.size(), 2u);
        if (records.size() != 2)
            return {};
        EXPECT_EQ(records[0].RecordKind, Quellin::Record::Kind::Begin);
        EXPECT_EQ(records[1].RecordKind, Quellin::Record::Kind::End);
        EXPECT_EQ(records[0].Level, L"Note");
        EXPECT_EQ(records[0].Entry, records[1].Entry);
        return {records[0], records[1]};
    }

    RecordCapture mCapture;
};

} // namespace

TEST_F(DriverTableExports, HandlesAreReusedLowestFirstAndTrailingFreeSlotsDropped) {
    DeviceDriverTable &table = DeviceDriverTable::Instance();
    std::atomic<int> destroyed{0};
    AddDriver(0, &destroyed);
    AddDriver(1, &destroyed);
    AddDriver(2, &destroyed);

    EXPECT_EQ(RemoveDeviceDriver(nullptr, 1), 0u);
    EXPECT_EQ(destroyed, 1) << "the driver is deleted inside RemoveDeviceDriver";
    EXPECT_EQ(table.GetSlotCount(), 3u);
    EXPECT_FALSE(table.IsValidHandle(1));
    AddDriver(1, &destroyed);

    EXPECT_EQ(RemoveDeviceDriver(nullptr, 2), 0u);
    EXPECT_EQ(table.GetSlotCount(), 2u);
    EXPECT_EQ(RemoveDeviceDriver(nullptr, 0), 0u);
    EXPECT_EQ(table.GetSlotCount(), 2u) << "slot 1 is still in use";
    EXPECT_EQ(RemoveDeviceDriver(nullptr, 1), 0u);
    EXPECT_EQ(table.GetSlotCount(), 0u);
    EXPECT_EQ(destroyed, 4);
    AddDriver(0, &destroyed);
}

TEST_F(DriverTableExports, EveryExportRefusesAHandleThatNamesNoDriver) {
    TestDriver *first = AddDriver(0);
    AddDriver(1);
    TestDriver *third = AddDriver(2);
    ASSERT_EQ(RemoveDeviceDriver(nullptr, 1), 0u);

    // A free slot inside the table, one beyond it, and the handle that never names a driver.
    for (uint32_t id : {1u, 3u, 0xFFFFu, 0x0001FFFFu}) {
        std::vector<uint32_t> results = CallAll(id);
        ASSERT_EQ(results.size(), 17u);
        for (size_t i = 0; i < results.size(); ++i)
            EXPECT_EQ(results[i], NoDriver) << "export " << i << " handle " << id;
    }
    EXPECT_EQ(first->Calls, 0);
    EXPECT_EQ(third->Calls, 0);
    EXPECT_EQ(DeviceDriverTable::Instance().GetSlotCount(), 3u);
    EXPECT_TRUE(DeviceDriverTable::Instance().IsValidHandle(0));
    EXPECT_TRUE(DeviceDriverTable::Instance().IsValidHandle(2));

    // Only the low 16 bits of DeviceID count.
    EXPECT_EQ(CheckDevice(nullptr, 0x12340000), 0u);
    EXPECT_EQ(first->Calls, 1);
    EXPECT_EQ(RemoveDeviceDriver(nullptr, 0xABCD0002), 0u);
    EXPECT_FALSE(DeviceDriverTable::Instance().IsValidHandle(2));
}

TEST_F(DriverTableExports, ASuccessfulCallHandsOverOneQueuedWarningOldestFirst) {
    TestDriver *driver = AddDriver(0);
    // Before the host passed a version of at least 2025.1.1 warnings are dropped.
    driver->PushWarningToQueue(0x3C000009);
    EXPECT_EQ(InitDevice(nullptr, 0), 0u);

    char version[] = "2025.1.1";
    ASSERT_EQ(SetValue(nullptr, 0, ValueID::SetKorvalisVersion, version, nullptr), 0u);
    driver->PushWarningToQueue(0x3C000001);
    driver->PushWarningToQueue(0x3FFFFFFF);

    // Never from GetErrorString, Registered, UnRegistered.
    char text[32];
    uint32_t read = 0;
    EXPECT_EQ(Registered(nullptr, 0), 0u);
    EXPECT_EQ(UnRegistered(nullptr, 0), 0u);
    EXPECT_EQ(GetErrorString(nullptr, 0, 0x300000D7, text, sizeof text, &read), 0u);

    // An error keeps the warnings queued.
    driver->Result = 0x30000001;
    EXPECT_EQ(CheckDevice(nullptr, 0), 0x30000001u);
    driver->Result = 0;

    EXPECT_EQ(InitDevice(nullptr, 0), 0x3C000001u);
    double value = 0;
    EXPECT_EQ(GetInfo(nullptr, 0, 1, &value), 0x3FFFFFFFu);
    EXPECT_EQ(DeInitDevice(nullptr, 0), 0u);
    EXPECT_EQ(driver->GetQueuedWarningCount(), 0u);

    // SetValue, GetValue and GetValueString hand them over too.
    driver->PushWarningToQueue(0x3C000002);
    driver->PushWarningToQueue(0x3C000003);
    driver->PushWarningToQueue(0x3C000004);
    double frequency = 100;
    EXPECT_EQ(SetValue(nullptr, 0, ValueID::SetLastCWFrequency, &frequency, nullptr), 0x3C000002u);
    uint32_t state = 0, unused = 0;
    EXPECT_EQ(GetValue(nullptr, 0, ValueID::CheckDeviceOnStream, &state, &unused), 0x3C000003u);
    uint32_t filled = 0;
    EXPECT_EQ(GetValueString(nullptr, 0, ValueID::GetSpecificSetting, "name", text, sizeof text, &filled),
              0x3C000004u);
}

TEST_F(DriverTableExports, RemovingADriverThatIsStillInACallDeletesItWhenTheCallEnds) {
    std::atomic<int> destroyed{0};
    BlockingDriver *driver = AddBlockingDriver(destroyed);

    auto call = std::async(std::launch::async, [] { return InitDevice(nullptr, 0); });
    ASSERT_TRUE(driver->WaitEntered());
    // The table is not locked while the driver runs: removing and adding go on.
    EXPECT_EQ(RemoveDeviceDriver(nullptr, 0), 0u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(CheckDevice(nullptr, 0), NoDriver);
    driver->ReleaseCall();
    ASSERT_EQ(call.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    // The call that the removal overtook answers for the removal.
    EXPECT_EQ(call.get(), NoDriver);
    EXPECT_EQ(destroyed, 1);
}

// A second host thread's call on a busy driver waits for the first call (and finds the driver
// gone when it was removed meanwhile); the driver's own calls back into the exports go ahead,
// and so do calls on other drivers.
TEST_F(DriverTableExports, CallsOnOneDriverTakeTurnsCallsOnOtherDriversGoAhead) {
    std::atomic<int> destroyed{0};
    BlockingDriver *busy = AddBlockingDriver(destroyed);
    TestDriver *other = AddDriver(1);

    auto init = std::async(std::launch::async, [] { return InitDevice(nullptr, 0); });
    ASSERT_TRUE(busy->WaitEntered());
    EXPECT_EQ(busy->Reentered, 0u);
    EXPECT_EQ(CheckDevice(nullptr, 1), 0u);
    EXPECT_EQ(other->Calls, 1);
    EXPECT_EQ(init.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    auto waiting = std::async(std::launch::async, [] { return CheckDevice(nullptr, 0); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(RemoveDeviceDriver(nullptr, 0), 0u);
    busy->ReleaseCall();
    ASSERT_EQ(init.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(init.get(), NoDriver);
    EXPECT_EQ(waiting.get(), NoDriver);
    EXPECT_EQ(destroyed, 1);
}

TEST_F(DriverTableExports, AFullTableRefusesAndDeletesTheDriver) {
    DeviceDriverTable &table = DeviceDriverTable::Instance();
    std::atomic<int> destroyed{0};
    for (uint32_t i = 0; i < DeviceDriverTable::MaximumSlots; ++i) {
        DeviceIDType id = 0;
        ASSERT_EQ(table.Add(std::make_unique<DeviceDriverBase>(), id), 0u);
        ASSERT_EQ(id, i);
    }
    DeviceIDType id = 7;
    EXPECT_EQ(table.Add(std::make_unique<TestDriver>(&destroyed), id), ResultCode::DriverTableFull);
    EXPECT_EQ(id, DeviceDriverTable::NoDeviceID);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(table.GetSlotCount(), DeviceDriverTable::MaximumSlots);
    EXPECT_EQ(CheckDevice(nullptr, 0xFFFF), NoDriver);

    // A freed handle is taken again.
    ASSERT_TRUE(table.Remove(40000));
    EXPECT_EQ(table.Add(std::make_unique<DeviceDriverBase>(), id), 0u);
    EXPECT_EQ(id, 40000);
}

// ---- Records and host buffers ----------------------------------------------------------------------

TEST_F(ExportRecords, ACallWritesItsBeginAndEndRecord) {
    TestDriver *driver = AddDriver(0);
    AddDriver(1);
    AddDriver(2);
    AddDriver(3);
    mCapture.Records();

    EXPECT_EQ(CheckDevice(nullptr, 3), 0u);
    auto [begin, end] = BeginEnd();
    EXPECT_EQ(begin.Function, L"CheckDevice");
    EXPECT_EQ(begin.Value(L"description", L"!input"), L"CheckDevice(3)");
    EXPECT_EQ(begin.Value(L"DeviceID", L"!input"), L"3");
    EXPECT_EQ(begin.Find(L"DeviceID")->Type, 'a');
    EXPECT_EQ(end.Level, L"Complete");
    EXPECT_EQ(end.Value(L"Err", L"!output"), L"0");

    driver->Result = 0x3C000005;
    EXPECT_EQ(InitDevice(nullptr, 0), 0x3C000005u);
    std::tie(begin, end) = BeginEnd();
    EXPECT_EQ(end.Level, L"Warning");
    EXPECT_EQ(end.Value(L"Err"), std::to_wstring(0x3C000005));
    driver->Result = 0;

    EXPECT_EQ(DeInitDevice(nullptr, 9), NoDriver);
    std::tie(begin, end) = BeginEnd();
    EXPECT_EQ(begin.Value(L"description"), L"DeInitDevice(9)");
    EXPECT_EQ(end.Level, L"Error");

    EXPECT_EQ(LoadConfiguration(nullptr, 0, nullptr), 0u);
    std::tie(begin, end) = BeginEnd();
    EXPECT_EQ(begin.Value(L"description"), L"LoadConfiguration(0, <NULL>)");

    EXPECT_EQ(SetSetting(nullptr, 0, 4003, 1.5), 0u);
    std::tie(begin, end) = BeginEnd();
    EXPECT_EQ(begin.Value(L"description"), L"SetSetting(0, 4003, 1.5)");
    EXPECT_EQ(begin.Value(L"Setting"), L"4003");
    EXPECT_EQ(begin.Value(L"Value"), L"1.5");

    double value = 0;
    EXPECT_EQ(GetInfo(nullptr, 2, 7, &value), 0u);
    std::tie(begin, end) = BeginEnd();
    EXPECT_EQ(begin.Value(L"description"), L"GetInfo(2, 7, (..))");
    EXPECT_EQ(end.Value(L"description"), L"GetInfo(2, 7, 2.5)");
    EXPECT_EQ(end.Value(L"Value"), L"2.5");
    EXPECT_EQ(GetInfo(nullptr, 2, 7, nullptr), 0u);
    std::tie(begin, end) = BeginEnd();
    EXPECT_EQ(end.Value(L"description"), L"GetInfo(2, 7, <NULL>)");

    // GetValue, SetValue and GetValueString write no record of their own.
    uint32_t a = 0, b = 0;
    GetValue(nullptr, 0, 56, &a, &b);
    EXPECT_TRUE(DriverRecords(mCapture.Records()).empty());
}

TEST_F(ExportRecords, GetDriverVersionOfTheFrameworkIsAnError) {
    DeviceIDType id = 0;
    ASSERT_EQ(DeviceDriverTable::Instance().Add(std::make_unique<DeviceDriverBase>(), id), 0u);
    mCapture.Records();
    char version[16] = "unchanged";
    EXPECT_EQ(GetDriverVersion(nullptr, 0, version), 0x300000CBu);
    EXPECT_STREQ(version, "unchanged");
    auto [begin, end] = BeginEnd();
    EXPECT_EQ(begin.Value(L"description"), L"GetDriverVersion(0, (..))");
    EXPECT_EQ(begin.Value(L"strVer"), L"(..)");
    EXPECT_EQ(end.Level, L"Error");
}

TEST_F(ExportRecords, GetErrorStringStaysInsideBuffersOfAnySize) {
    AddDriver(0);
    mCapture.Records();
    const std::string full = "The used Korvalis version is too old. This driver can only be used in Korvalis "
                             "version 2024.1.1 and higher";
    for (uint32_t size : {0u, 1u, 20u, 256u}) {
        SCOPED_TRACE(size);
        std::vector<char> buffer(size + 16, '\x5A');
        uint32_t read = 0xDEAD;
        EXPECT_EQ(GetErrorString(nullptr, 0, 0x300000D7, buffer.data(), size, &read), 0u);
        for (size_t i = size; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '\x5A') << "written past the buffer at " << i;
        EXPECT_LE(read, size);
        auto [begin, end] = BeginEnd();
        EXPECT_EQ(begin.Value(L"description"), L"GetErrorString(0, 805306583, (..))");
        EXPECT_EQ(begin.Value(L"BufferSize"), std::to_wstring(size));
        EXPECT_EQ(begin.Value(L"Err", L"!input"), L"805306583");
        const std::wstring text = end.Value(L"Description");
        EXPECT_LE(text.size(), size);
        EXPECT_EQ(ToStdString(text), full.substr(0, text.size()));
        EXPECT_EQ(end.Value(L"Read"), std::to_wstring(read));
        EXPECT_EQ(end.Value(L"description"), L"GetErrorString(0, 805306583, \"" + text + L"\", " +
                                                 std::to_wstring(size) + L", " + std::to_wstring(read) +
                                                 L")");
        if (size == 256) {
            EXPECT_EQ(text, ToStdWstring(full));
            EXPECT_EQ(std::string(buffer.data()), full);
        }
    }
    // Null addresses from the host: no crash, and the records show no text.
    uint32_t read = 0;
    char small[8];
    GetErrorString(nullptr, 0, 0x300000D7, nullptr, 64, &read);
    EXPECT_EQ(BeginEnd().second.Value(L"Description"), L"");
    GetErrorString(nullptr, 0, 0x300000D7, nullptr, 64, nullptr);
    EXPECT_EQ(BeginEnd().second.Value(L"Read"), L"0");
    GetErrorString(nullptr, 0, 0x300000D7, small, sizeof small, nullptr);
    EXPECT_EQ(BeginEnd().second.Value(L"Description"), L"");
}

TEST_F(ExportRecords, EndRecordsReadHostBuffersOnlyWithinBufferSize) {
    TestDriver *driver = AddDriver(0);
    mCapture.Records();
    // A driver that claims more characters than the buffer holds.
    driver->LieAboutLength = true;
    std::vector<char> buffer(8 + 16, '\x5A');
    uint32_t filled = 0;
    EXPECT_EQ(GetInfoString(nullptr, 0, 4, buffer.data(), 8, &filled), 0u);
    auto [begin, end] = BeginEnd();
    EXPECT_EQ(begin.Value(L"BufferSize"), L"8");
    EXPECT_EQ(end.Value(L"Info"), L"xxxxxxxx");
    EXPECT_EQ(end.Value(L"FilledSize"), L"1000");
    EXPECT_EQ(end.Value(L"description"), L"GetInfoString(0, 4, \"xxxxxxxx\", 8, 1000)");

    // The framework's answer, and null addresses.
    driver->LieAboutLength = false;
    EXPECT_EQ(GetInfoString(nullptr, 0, 4, buffer.data(), 8, &filled), 0u);
    std::tie(begin, end) = BeginEnd();
    EXPECT_EQ(end.Value(L"description"), L"GetInfoString(0, 4, \"\", 8, 0)");
    GetInfoString(nullptr, 0, 4, nullptr, 8, &filled);
    EXPECT_EQ(BeginEnd().second.Value(L"Info"), L"");
    GetInfoString(nullptr, 0, 4, buffer.data(), 8, nullptr);
    EXPECT_EQ(BeginEnd().second.Value(L"FilledSize"), L"0");
    GetInfoString(nullptr, 0, 4, nullptr, 0, nullptr);
    BeginEnd();

    // No driver: the host's buffer and count are not read.
    char untouched[4] = {'a', 'b', 'c', 'd'};
    uint32_t count = 4;
    EXPECT_EQ(GetInfoString(nullptr, 5, 4, untouched, 4, &count), NoDriver);
    std::vector<Quellin::Record> records = DriverRecords(mCapture.Records());
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().Value(L"description"), L"GetInfoString(5, 4, \"\", 4, 0)");
    EXPECT_EQ(records.back().Level, L"Error");
}
