// The driver base through a test driver: identifiers answered and refused, the host-version gate
// and the warning queue, the framework's error texts, the host's automation objects, the driver
// description and the configuration entry, each with the records a collector receives.
#include "core/DeviceDriverBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include <wx/panel.h>

#include "DriverRecords.h"
#include "core/ProgramSettingsDatabase.h"
#include "logging/DriverLog.h"
#include "platform/MessageBox.h"

namespace {

class TestDriver : public DeviceDriverBase {
public:
    using DeviceDriverBase::msBrand;
    using DeviceDriverBase::msDescription;
    using DeviceDriverBase::msOwnDescription;
    using DeviceDriverBase::msType;

    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override {
        for (size_t i = 0; i < PagesToAdd.size(); ++i)
            PanelResourceNameList::AddUnique(panels, PagesToAdd[i], "TestPanel",
                                             wxString::Format("Test %zu", i));
        return PanelResult != 0 ? PanelResult : DeviceDriverBase::AddConfigurationDialogPanels(hWnd, panels);
    }

    std::vector<wxPanel *> PagesToAdd;
    DWORD PanelResult = 0;
};

// A host object whose properties are other objects; counts its references, never deletes itself.
class FakeHostObject : public IHostAutomationObject {
public:
    uint32_t AddRef() override { return static_cast<uint32_t>(++References); }
    uint32_t Release() override { return static_cast<uint32_t>(--References); }
    IHostAutomationObject *GetPropertyObject(const char *name) override {
        auto it = Properties.find(name);
        if (it == Properties.end())
            return nullptr;
        it->second->AddRef();
        return it->second;
    }
    ~FakeHostObject() override = default;

    int References = 1;
    std::map<std::string, FakeHostObject *> Properties;
};

using BoxRecorder = TestSupport::MessageBoxRecorder;

constexpr DWORD FirstWarning = 0x3C000000;
constexpr DWORD LastWarning = 0x3FFFFFFF;

class DeviceDriverBaseTest : public ::testing::Test {
protected:
    std::vector<Quellin::Record> Records() { return mRecords.Take(); }

    DWORD GetValue(DWORD id, void *data1, void *data2) { return mDriver.GetValue(nullptr, id, data1, data2); }
    DWORD SetValue(DWORD id, void *data1, void *data2) { return mDriver.SetValue(nullptr, id, data1, data2); }
    DWORD SetVersion(const char *text) {
        return SetValue(ValueID::SetKorvalisVersion, const_cast<char *>(text), nullptr);
    }

    DriverRecords mRecords;
    TestDriver mDriver;
};

} // namespace

TEST(ResultSeverityTextTest, BoundaryCodes) {
    EXPECT_STREQ(L"Complete", ResultSeverityText(0));
    EXPECT_STREQ(L"Warning", ResultSeverityText(0x3C000000));
    EXPECT_STREQ(L"Warning", ResultSeverityText(0x3FFFFFFF));
    EXPECT_STREQ(L"Error", ResultSeverityText(0x3BFFFFFF));
    EXPECT_STREQ(L"Error", ResultSeverityText(0x40000000));
    EXPECT_STREQ(L"Error", ResultSeverityText(0x300000D0));
}

// ---- Identifiers ---------------------------------------------------------------------------------

TEST_F(DeviceDriverBaseTest, UnhandledIdentifiersAreRefusedWithTheirCodesAndWriteNoOutput) {
    for (DWORD id : {57ul, 59ul, 0ul}) {
        uint32_t word = 77, other = 88;
        EXPECT_EQ(0x300000CDu, GetValue(id, &word, &other)) << id;
        EXPECT_EQ(77u, word);
        EXPECT_EQ(88u, other);
    }
    auto records = Records();
    auto call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"GetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Note", call->Begin.Level);
    EXPECT_EQ(L"57", call->Begin.Value(L"dwValueID"));
    EXPECT_EQ(L"Error", call->End.Level);
    EXPECT_EQ(L"DeviceDriverBase::GetValue(57)", call->End.Value(L"description"));
    EXPECT_EQ(std::to_wstring(0x300000CD), call->End.Value(L"Err", L"!output"));

    char buffer[8] = "junk";
    uint32_t filled = 5;
    EXPECT_EQ(0x300000CDu, mDriver.GetValueString(nullptr, 54, "x", buffer, sizeof buffer, &filled));
    EXPECT_STREQ("junk", buffer);
    EXPECT_EQ(0x300000CCu, SetValue(1, nullptr, nullptr));
    EXPECT_EQ(0x300000CCu, SetValue(6, nullptr, nullptr));
    EXPECT_EQ(0x300000D4u, mDriver.SetSetting(nullptr, 4002, 1.0));
    EXPECT_EQ(0x300000D4u, mDriver.SetSetting(nullptr, 4005, 1.0));
    records = Records();
    call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"GetValueString");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"DeviceDriverBase::GetValueString(54)", call->End.Value(L"description"));
    call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"SetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"DeviceDriverBase::SetValue(1)", call->End.Value(L"description"));
    call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"SetSetting");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"4002", call->Begin.Value(L"dwSettingID"));
    EXPECT_EQ(L"SetSettingNotFound(4002)", call->End.Value(L"description"));
}

TEST_F(DeviceDriverBaseTest, DefaultOperationsAnswerAndRecordAsNotImplemented) {
    uint32_t state = 7;
    EXPECT_EQ(0u, GetValue(54, const_cast<char *>("Gain"), &state));
    EXPECT_EQ(7u, state);
    double input = 2.5;
    EXPECT_EQ(0x300000CBu, GetValue(55, const_cast<char *>("Level"), &input));
    EXPECT_EQ(2.5, input);
    EXPECT_EQ(0u, GetValue(56, nullptr, nullptr));

    auto records = Records();
    ASSERT_EQ(
        1u, DriverRecords::Notes(records, L"DeviceDriverBase", L"GetSpecificSettingState('Not Implemented!')")
                .size());
    EXPECT_EQ(L"Warning", DriverRecords::Notes(records, L"DeviceDriverBase",
                                               L"GetSpecificSettingState('Not Implemented!')")[0]
                              .Level);
    ASSERT_EQ(1u,
              DriverRecords::Notes(records, L"DeviceDriverBase", L"CheckDeviceOnStream('Not Implemented!')")
                  .size());

    auto call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"GetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Complete", call->End.Level);
    EXPECT_EQ(L"GetSpecificSettingState(\"Gain\", 7)", call->End.Value(L"description"));
    EXPECT_EQ(L"Gain", call->End.Value(L"Setting", L"!input"));
    const Quellin::Item *stateItem = call->End.Find(L"State", L"!output");
    ASSERT_NE(nullptr, stateItem);
    EXPECT_EQ(L"7", stateItem->Value);
    EXPECT_EQ('a', stateItem->Type);

    char buffer[20] = "leftover";
    uint32_t filled = 9;
    EXPECT_EQ(0u, mDriver.GetValueString(nullptr, 53, "Name", buffer, sizeof buffer, &filled));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ(0u, filled);
    records = Records();
    ASSERT_EQ(
        1u,
        DriverRecords::Notes(records, L"DeviceDriverBase", L"GetSpecificSetting('Not Implemented!')").size());
    call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"GetValueString");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"GetSpecificSetting(\"Name\", \"\", 20, 0)", call->End.Value(L"description"));
    EXPECT_EQ(L"Name", call->End.Value(L"Data1"));
    EXPECT_EQ(L"0", call->End.Value(L"pdwFilledSize"));

    // The refusing defaults write nothing.
    double value = 1.0;
    EXPECT_EQ(0x300000D3u, mDriver.GetInfo(nullptr, 1, &value));
    EXPECT_EQ(0x300000D3u, mDriver.GetInfoString(nullptr, 1, buffer, sizeof buffer, &filled));
    EXPECT_EQ(0x300000CBu, mDriver.GetDriverVersion(nullptr, buffer));
    EXPECT_EQ(0x300000CBu, SetValue(4, const_cast<char *>("A"), nullptr));
    EXPECT_EQ(0u, mDriver.Registered(nullptr) + mDriver.UnRegistered(nullptr) + mDriver.CheckDevice(nullptr) +
                      mDriver.InitDevice(nullptr) + mDriver.DeInitDevice(nullptr));
    records = Records();
    call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"SetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"SetSpecificSetting(A, <NULL>)", call->End.Value(L"description"));
    EXPECT_EQ(1u, DriverRecords::CountModule(records, L"DeviceDriverBase")); // SetValue's begin record
}

TEST_F(DeviceDriverBaseTest, NullHostAddressesAreRefusedWithACodeInsteadOfACrash) {
    uint32_t word = 5;
    EXPECT_EQ(ResultCode::ValueDataMissing, GetValue(54, nullptr, &word));
    EXPECT_EQ(ResultCode::ValueDataMissing, GetValue(54, const_cast<char *>("x"), nullptr));
    EXPECT_EQ(ResultCode::ValueDataMissing, GetValue(55, const_cast<char *>("x"), nullptr));
    EXPECT_EQ(ResultCode::ValueDataMissing, GetValue(58, &word, nullptr));
    EXPECT_EQ(ResultCode::ValueDataMissing, GetValue(58, nullptr, &word));
    EXPECT_EQ(ResultCode::ValueDataMissing, SetValue(2, nullptr, nullptr));
    EXPECT_EQ(ResultCode::ValueDataMissing, SetValue(3, nullptr, &word));
    EXPECT_EQ(ResultCode::KorvalisVersionMissing, SetValue(5, nullptr, nullptr));
    EXPECT_EQ("", mDriver.GetKorvalisVersion().GetText());

    char buffer[4] = "abc";
    uint32_t filled = 3;
    EXPECT_EQ(ResultCode::FilledSizeMissing, mDriver.GetValueString(nullptr, 53, "x", buffer, 4, nullptr));
    EXPECT_EQ(ResultCode::TextBufferMissing, mDriver.GetValueString(nullptr, 53, "x", nullptr, 4, &filled));
    EXPECT_EQ(0u, filled);
    EXPECT_EQ(ResultCode::TextBufferMissing,
              mDriver.GetValueString(nullptr, 53, nullptr, buffer, 4, &filled));
    EXPECT_EQ(ResultCode::ValueDataMissing, mDriver.GetCurrentFrequency(nullptr, nullptr));

    // The end records of GetValue name the refused operation.
    std::vector<std::wstring> descriptions;
    for (const Quellin::Record &record : Records())
        if (record.RecordKind == Quellin::Record::Kind::End && record.Level == L"Error" &&
            record.Value(L"Err", L"!output") == std::to_wstring(ResultCode::ValueDataMissing) &&
            record.Value(L"description").rfind(L"Get", 0) == 0)
            descriptions.push_back(record.Value(L"description"));
    const std::vector<std::wstring> expected{L"GetSpecificSettingState(<NULL>)",
                                             L"GetSpecificSettingState(<NULL>)", L"GetSpecificInput(<NULL>)",
                                             L"GetQueuedWarning(<NULL>)", L"GetQueuedWarning(<NULL>)"};
    EXPECT_EQ(expected, descriptions);
}

// GetErrorString answers every framework code with the table's text (the version text with the
// minimum version), and nothing for the codes the host knows.
TEST_F(DeviceDriverBaseTest, ErrorStringsComeFromTheFrameworkTable) {
    const std::pair<DWORD, std::string> expected[] = {
        {0x300000CB, ""},
        {0x300000D0, ""},
        {0x300000D7, "The used Korvalis version is too old. This driver can only be used in Korvalis version "
                     "2024.1.1 and higher"},
        {0x300000E0, "No configuration file name given"},
        {0x300000E1, "The configuration file could not be written"},
        {0x300000E8, "A data address that this value identifier needs was not given."},
        {0x300000E9, "The address that receives the length of the text was not given."},
        {0x300000EA, "A text or text buffer that the call needs was not given."},
        {0x300000EB, "No Korvalis version text was given."},
        {0x300000EC, "The configuration window cannot be shown."},
        {0x300000ED, "No further driver can be created: every DeviceID is in use."},
        {0x300000EE, "The driver call failed unexpectedly."},
        {0x300002E4, "The response of a TCPIP controlled device is larger than expected."},
        {0x300002E5, "Could not find VISA32.DLL. Is VISA installed? (Here the file libvisa32.so, looked for "
                     "in the folders of KORVALIS_LIBRARY_PATH, then by the dynamic loader.)"},
        {0x300000FF, ""},
    };
    for (const auto &[code, text] : expected) {
        char buffer[256];
        uint32_t read = 99;
        EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, code, buffer, sizeof buffer, &read));
        EXPECT_EQ(text, std::string(buffer, read)) << std::hex << code;
    }
    for (const ResultCode::CodeText &entry : ResultCode::FrameworkCodes) {
        char buffer[256];
        uint32_t read = 0;
        mDriver.GetErrorString(nullptr, entry.Code, buffer, sizeof buffer, &read);
        EXPECT_EQ(entry.Text == nullptr, read == 0) << std::hex << entry.Code;
    }
}

TEST_F(DeviceDriverBaseTest, SettingsFlagsTreatTinyValuesAsZero) {
    struct Case {
        double Value;
        bool Expected;
    };
    for (const Case &c : {Case{1.0, true}, Case{0.0, false}, Case{-1.0, true}, Case{1e-9, false}}) {
        EXPECT_EQ(0u, mDriver.SetSetting(nullptr, 4004, c.Value));
        EXPECT_EQ(c.Expected, mDriver.GetUseMiliHzFrequency()) << c.Value;
        EXPECT_EQ(0u, mDriver.SetSetting(nullptr, 4003, c.Value));
        EXPECT_EQ(c.Expected, mDriver.GetUseDoubles()) << c.Value;
    }
    mDriver.SetSetting(nullptr, 4004, 1.0);
    mDriver.SetSetting(nullptr, 4003, 0.0);
    auto records = Records();
    std::vector<std::wstring> descriptions;
    for (const auto &record : records)
        if (record.RecordKind == Quellin::Record::Kind::End)
            descriptions.push_back(record.Value(L"description"));
    ASSERT_GE(descriptions.size(), 2u);
    EXPECT_EQ(L"SetSetting(\"Use miliHzFrequency in all device driver function calls\")",
              descriptions[descriptions.size() - 2]);
    EXPECT_EQ(L"SetSetting(\"Do not use doubles in all device driver function calls\")", descriptions.back());
}

TEST_F(DeviceDriverBaseTest, LastCWFrequencyComesBackAsTheCurrentFrequency) {
    double frequency = -1;
    EXPECT_EQ(0u, mDriver.GetCurrentFrequency(nullptr, &frequency));
    EXPECT_EQ(0.0, frequency);
    double given = 123.456;
    EXPECT_EQ(0u, SetValue(2, &given, nullptr));
    EXPECT_EQ(0u, mDriver.GetCurrentFrequency(nullptr, &frequency));
    EXPECT_DOUBLE_EQ(123.456, frequency);
    auto call = DriverRecords::FindCall(Records(), L"DeviceDriverBase", L"SetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"SetLastCWFrequency(123.456)", call->End.Value(L"description"));
    EXPECT_EQ(L"Complete", call->End.Level);
}

// ---- Host version and warnings -------------------------------------------------------------------

TEST_F(DeviceDriverBaseTest, HostVersionGate) {
    EXPECT_EQ(0x300000D7u, SetVersion("2023.12.1"));
    EXPECT_EQ("2023.12.1", mDriver.GetKorvalisVersion().GetText());
    EXPECT_FALSE(mDriver.AreQueuedWarningsSupported());
    EXPECT_EQ(0u, SetVersion("2024.1.1"));
    EXPECT_FALSE(mDriver.AreQueuedWarningsSupported());
    EXPECT_EQ(0u, SetVersion("2025.1.1"));
    EXPECT_TRUE(mDriver.AreQueuedWarningsSupported());
    EXPECT_EQ(0u, SetVersion("2024.1.1"));
    EXPECT_TRUE(mDriver.AreQueuedWarningsSupported()) << "never cleared";
    EXPECT_EQ(0x300000D7u, SetVersion("2024.0.9"));
    EXPECT_EQ("2024.0.9", mDriver.GetKorvalisVersion().GetText());

    auto call = DriverRecords::FindCall(Records(), L"DeviceDriverBase", L"SetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"SetKorvalisVersion(2023.12.1)", call->End.Value(L"description"));
    EXPECT_EQ(L"Error", call->End.Level);
}

TEST_F(DeviceDriverBaseTest, WarningsAreDroppedUntilTheHostAcceptsThem) {
    mDriver.PushWarningToQueue(FirstWarning);
    EXPECT_EQ(0u, mDriver.GetQueuedWarningCount());
    uint32_t code = 99, remaining = 99;
    EXPECT_EQ(0u, GetValue(58, &code, &remaining));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(0u, remaining);
    auto records = Records();
    auto notes = DriverRecords::Notes(records, L"DeviceDriverBase", L"PushWarningToQueue(\"1006632960\")");
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ(L"Warning", notes[0].Level);
    EXPECT_TRUE(notes[0].Items.empty());
}

TEST_F(DeviceDriverBaseTest, QueuedWarningsComeBackOldestFirst) {
    ASSERT_EQ(0u, SetVersion("2025.1.1"));
    mDriver.PushWarningToQueue(FirstWarning);
    mDriver.PushWarningToQueue(LastWarning);
    EXPECT_EQ(2u, mDriver.GetQueuedWarningCount());
    Records();

    uint32_t code = 0, remaining = 0;
    EXPECT_EQ(FirstWarning, GetValue(58, &code, &remaining));
    EXPECT_EQ(FirstWarning, code);
    EXPECT_EQ(1u, remaining);
    auto call = DriverRecords::FindCall(Records(), L"DeviceDriverBase", L"GetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Complete", call->End.Level);
    EXPECT_EQ(L"GetQueuedWarning(1006632960, 1)", call->End.Value(L"description"));
    EXPECT_EQ(L"1006632960", call->End.Value(L"returnedWarning", L"!output"));
    EXPECT_EQ(L"1", call->End.Value(L"remainingWarnings", L"!output"));

    EXPECT_EQ(LastWarning, GetValue(58, &code, &remaining));
    EXPECT_EQ(LastWarning, code);
    EXPECT_EQ(0u, remaining);
    EXPECT_EQ(0u, GetValue(58, &code, &remaining));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(0u, remaining);
}

TEST_F(DeviceDriverBaseTest, CodesOutsideTheWarningRangeAreNeverQueuedAndGoToTheDriverLog) {
    const std::string logPath = mRecords.Environment().DriveC() + "/DDLOGGER.DAT";
    TestSupport::WriteFile(logPath, "");
    DriverLogFile::CheckEnabled();
    ASSERT_EQ(0u, SetVersion("2025.1.1"));

    for (DWORD code : {FirstWarning - 1, DWORD(0x40000000), DWORD(0)})
        mDriver.PushWarningToQueue(code);
    EXPECT_EQ(0u, mDriver.GetQueuedWarningCount());
    const std::string log = TestSupport::ReadFile(logPath);
    EXPECT_NE(
        std::string::npos,
        log.find("DeviceDriverBase::PushWarningToQueue: PushWarningToQueue is called with non-warning code: "
                 "\"1006632959\""))
        << log;
    EXPECT_NE(std::string::npos, log.find("non-warning code: \"1073741824\""));
    EXPECT_NE(std::string::npos, log.find("non-warning code: \"0\""));

    std::filesystem::remove(logPath);
    DriverLogFile::CheckEnabled();
}

TEST_F(DeviceDriverBaseTest, WarningsPushedFromManyThreadsAreEachDeliveredOnce) {
    ASSERT_EQ(0u, SetVersion("2025.1.1"));
    constexpr int Threads = 4, PerThread = 500;
    std::atomic<bool> go{false};
    std::vector<std::thread> pushers;
    for (int t = 0; t < Threads; ++t)
        pushers.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < PerThread; ++i)
                mDriver.PushWarningToQueue(FirstWarning + DWORD(t * PerThread + i));
        });
    go = true;
    std::set<uint32_t> delivered;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (delivered.size() < size_t(Threads * PerThread) && std::chrono::steady_clock::now() < deadline) {
        uint32_t code = 0, remaining = 0;
        mDriver.GetQueuedWarning(&code, &remaining);
        if (code != 0) {
            EXPECT_TRUE(delivered.insert(code).second) << "delivered twice: " << code;
        }
    }
    for (auto &pusher : pushers)
        pusher.join();
    EXPECT_EQ(size_t(Threads * PerThread), delivered.size());
    EXPECT_EQ(0u, mDriver.GetQueuedWarningCount());
}

// ---- Error texts ---------------------------------------------------------------------------------

TEST_F(DeviceDriverBaseTest, ErrorTextsFitTheBufferTheHostGave) {
    const std::string full = "The used Korvalis version is too old. This driver can only be used in Korvalis "
                             "version 2024.1.1 and higher";
    char buffer[256];
    uint32_t read = 0;
    EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, 0x300000D7, buffer, 256, &read));
    EXPECT_EQ(full, buffer);
    EXPECT_EQ(full.size(), read);

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, 0x300000D7, buffer, 20, &read));
    EXPECT_EQ(full.substr(0, 19), buffer);
    EXPECT_EQ(19u, read);
    EXPECT_EQ('x', buffer[20]);

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, 0x300000D7, buffer, 1, &read));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ(0u, read);
    EXPECT_EQ('x', buffer[1]);

    std::memset(buffer, 'x', sizeof buffer);
    read = 5;
    EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, 0x300000D7, buffer, 0, &read));
    EXPECT_EQ('x', buffer[0]) << "size 0: nothing written";
    EXPECT_EQ(0u, read);

    read = 5;
    EXPECT_EQ(ResultCode::TextBufferMissing,
              mDriver.GetErrorString(nullptr, 0x300000D7, nullptr, 256, &read));
    EXPECT_EQ(0u, read);
    EXPECT_EQ(ResultCode::FilledSizeMissing,
              mDriver.GetErrorString(nullptr, 0x300000D7, buffer, 256, nullptr));

    EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, 0x300002E4, buffer, 256, &read));
    EXPECT_STREQ("The response of a TCPIP controlled device is larger than expected.", buffer);
    EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, 0x300002E5, buffer, 256, &read));
    EXPECT_STREQ("Could not find VISA32.DLL. Is VISA installed? (Here the file libvisa32.so, looked for in "
                 "the folders of KORVALIS_LIBRARY_PATH, then by the dynamic loader.)",
                 buffer);

    // Every code that the plug-in adds for a refused host argument or a failed call has a text.
    for (DWORD code :
         {ResultCode::ValueDataMissing, ResultCode::FilledSizeMissing, ResultCode::TextBufferMissing,
          ResultCode::KorvalisVersionMissing, ResultCode::ConfigurationWindowUnavailable,
          ResultCode::DriverTableFull, ResultCode::DriverCallFailed}) {
        read = 0;
        EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, code, buffer, 256, &read)) << code;
        EXPECT_GT(read, 0u) << "no text for " << code;
    }
    EXPECT_STREQ(ResultCode::DriverCallFailedText, buffer);

    std::strcpy(buffer, "old");
    read = 3;
    EXPECT_EQ(0u, mDriver.GetErrorString(nullptr, 0x300000CB, buffer, 256, &read));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ(0u, read);

    auto records = Records();
    auto call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"GetErrorString");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Error", call->End.Level);
    EXPECT_EQ(std::wstring(full.begin(), full.end()), call->End.Value(L"description"));
}

TEST_F(DeviceDriverBaseTest, ErrorBoxShowsTextAndCodeOrNothing) {
    BoxRecorder boxes;
    mDriver.msBrand = L"Alpha";
    mDriver.ShowError(nullptr, 0);
    mDriver.ShowError(nullptr, 0x300000CB);
    EXPECT_TRUE(boxes.Boxes.empty());

    mDriver.ShowError(nullptr, 0x300000D7);
    ASSERT_EQ(1u, boxes.Boxes.size());
    const std::wstring &text = boxes.Boxes[0].Text;
    EXPECT_EQ(0u, text.find(L"Error: The used Korvalis version is too old."));
    const std::wstring tail = L" and higher\n\nCode: 805306583 (hex: 0x300000d7)";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(tail, text.substr(text.size() - tail.size()));
    EXPECT_EQ(L"Alpha", boxes.Boxes[0].Caption);
    EXPECT_EQ(0x10u, boxes.Boxes[0].Style);
}

// ---- Automation objects --------------------------------------------------------------------------

TEST_F(DeviceDriverBaseTest, TestDataLeadsToTheInformationItems) {
    FakeHostObject eut, testData, standardTestData, items;
    testData.Properties["StandardTestData"] = &standardTestData;
    standardTestData.Properties["InformationItems"] = &items;
    {
        TestDriver driver;
        IHostAutomationObject *eutSlot = &eut, *dataSlot = &testData;
        EXPECT_EQ(0u, driver.SetValue(nullptr, 3, &eutSlot, &dataSlot));
        EXPECT_EQ(&eut, driver.GetEut().GetDispatch());
        EXPECT_EQ(&testData, driver.GetTestData().GetDispatch());
        EXPECT_EQ(&items, driver.GetInformationItems().GetDispatch());
        EXPECT_EQ(1, standardTestData.References) << "the temporary is released";
        EXPECT_EQ(2, items.References);
    }
    EXPECT_EQ(1, eut.References);
    EXPECT_EQ(1, testData.References);
    EXPECT_EQ(1, items.References);

    auto records = Records();
    auto call = DriverRecords::FindCall(records, L"DeviceDriverBase", L"SetInformationItems");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Complete", call->End.Level);
    EXPECT_EQ(16u, call->Begin.Value(L"*pEut").size());
}

TEST_F(DeviceDriverBaseTest, TheSecondObjectMayBeTheInformationItemsThemselves) {
    FakeHostObject items, previousEut;
    IHostAutomationObject *eutSlot = &previousEut, *itemsSlot = &items;
    EXPECT_EQ(0u, SetValue(3, &eutSlot, &itemsSlot));
    EXPECT_EQ(&items, mDriver.GetInformationItems().GetDispatch());
    EXPECT_TRUE(mDriver.GetTestData().IsEmpty());
    EXPECT_EQ(2, items.References);

    IHostAutomationObject *none = nullptr;
    EXPECT_EQ(0u, SetValue(3, &none, &none));
    EXPECT_TRUE(mDriver.GetEut().IsEmpty());
    EXPECT_TRUE(mDriver.GetInformationItems().IsEmpty());
    EXPECT_EQ(1, items.References);
    EXPECT_EQ(1, previousEut.References);
}

// ---- Description and configuration entry ---------------------------------------------------------

TEST(DriverDescriptionTest, BrandAndTypeJoinUnlessTheDescriptionHoldsThem) {
    EXPECT_EQ(L"Alpha X1 meter", BuildDriverDescription(L"Alpha", L"X1", L"X1 meter"));
    EXPECT_EQ(L"Alpha X1 meter", BuildDriverDescription(L"Alpha", L"X1", L"Alpha X1 meter"));
    EXPECT_EQ(L"", BuildDriverDescription(L"", L"", L""));
    EXPECT_EQ(L"Alpha X1 meter", BuildDriverDescription(L" Alpha\t", L"\nX1\r", L"\vmeter \a"));
    EXPECT_EQ(L"", TrimDefault(std::wstring(L" \t\0\n", 4)));
    EXPECT_EQ(L"a b", TrimDefault(std::wstring(L"\0a b\0", 5)));
}

TEST_F(DeviceDriverBaseTest, CommonTableSetsTheDescriptionAndIsNeverWritten) {
    TestSupport::TempDir dir;
    const std::string file = dir.File("driver.ini");
    TestSupport::WriteFile(file, "[Common]\nDescription=X1 meter\nDeviceBrand=Alpha\nDeviceType=X1\n");
    EXPECT_EQ(0u, mDriver.LoadConfiguration(nullptr, file.c_str()));
    EXPECT_EQ(L"Alpha X1 meter", mDriver.GetDriverDescription());

    auto call = DriverRecords::FindCall(Records(), L"DeviceDriverBase", L"LoadProgramSettings");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Complete", call->End.Level);
    EXPECT_EQ(L"LoadProgramSettings(\"X1 meter\",  \"Alpha\",  \"X1\")", call->End.Value(L"description"));
    EXPECT_EQ(L"Alpha", call->End.Value(L"msBrand", L"!output"));

    // Keys missing: the members keep their values; a save writes no "Common" key.
    TestSupport::WriteFile(file, "[Common]\nOther=1\n");
    EXPECT_EQ(0u, mDriver.LoadConfiguration(nullptr, file.c_str()));
    EXPECT_EQ(L"Alpha X1 meter", mDriver.GetDriverDescription());
    TestSupport::WriteFile(file, "[Common]\nDescription=hand written\n");
    EXPECT_EQ(0u, mDriver.SaveConfiguration(nullptr, file.c_str()));
    EXPECT_EQ("[Common]\nDescription=hand written\n", TestSupport::ReadFile(file));

    // A driver's own description is its title only where the table's parts leave the title empty.
    const std::pair<const char *, const wchar_t *> titles[] = {
        {"[Other]\nKey=1\n", L"own meter"},
        {"[Common]\nDescription=\n", L"own meter"},
        {"[Common]\nDeviceBrand=ACME\nDeviceType=X9\n", L"ACME X9"},
        {"[Common]\nDescription=X1 meter\n", L"X1 meter"},
    };
    for (const auto &[text, title] : titles) {
        TestDriver driver;
        driver.msOwnDescription = L"own meter";
        TestSupport::WriteFile(file, text);
        EXPECT_EQ(0u, driver.LoadConfiguration(nullptr, file.c_str()));
        EXPECT_EQ(title, driver.GetDriverDescription()) << text;
    }

    Records();
    std::shared_ptr<ProgramSettingsDatabase> none;
    EXPECT_EQ(0u, mDriver.LoadProgramSettings(nullptr, none));
    call = DriverRecords::FindCall(Records(), L"DeviceDriverBase", L"LoadProgramSettings");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Warning", call->End.Level);
    EXPECT_EQ(L"LoadProgramSettings(\"Didn't load\")", call->End.Value(L"description"));
}

TEST_F(DeviceDriverBaseTest, ADriverWithoutPagesSaysItCannotBeConfigured) {
    BoxRecorder boxes;
    mDriver.msBrand = L"Alpha";
    mDriver.msDescription = L"meter";
    EXPECT_EQ(0u, mDriver.ShowConfigurationDialog(nullptr));
    ASSERT_EQ(1u, boxes.Boxes.size());
    EXPECT_EQ(L"This Device Driver cannot be configured", boxes.Boxes[0].Text);
    EXPECT_EQ(L"Alpha meter", boxes.Boxes[0].Caption);
    EXPECT_EQ(0x40u, boxes.Boxes[0].Style);

    auto records = Records();
    auto tabbed = DriverRecords::FindCall(records, L"DeviceDriverBase", L"ShowTabbedConfigurationDialog");
    ASSERT_TRUE(tabbed);
    EXPECT_EQ(L"Warning", tabbed->End.Level);
    EXPECT_EQ(L"ShowTabbedConfigurationDialog(\"DeviceDriver cannot be configured\")",
              tabbed->End.Value(L"description"));
    auto notes = DriverRecords::Notes(records, L"DeviceDriverBase", L"ShowConfigurationDialogUnavailable");
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ(L"Device cannot be configured", notes[0].Value(L"Message"));
    auto outer = DriverRecords::FindCall(records, L"DeviceDriverBase", L"ShowConfigurationDialog");
    ASSERT_TRUE(outer);
    EXPECT_EQ(L"Complete", outer->End.Level);
}

TEST_F(DeviceDriverBaseTest, PagesThatCannotBeShownGiveACodeAndAFailingPageListShowsNothing) {
    BoxRecorder boxes;
    mDriver.PanelResult = 0x30001234;
    EXPECT_EQ(0x30001234u, mDriver.ShowConfigurationDialog(nullptr));
    auto call = DriverRecords::FindCall(Records(), L"DeviceDriverBase", L"ShowTabbedConfigurationDialog");
    ASSERT_TRUE(call);
    EXPECT_EQ(std::to_wstring(0x30001234), call->End.Value(L"ErrorCode"));

    mDriver.PanelResult = 0;
    mDriver.PagesToAdd = {nullptr, new wxPanel()};
    EXPECT_EQ(ResultCode::ConfigurationWindowUnavailable, mDriver.ShowConfigurationDialog(nullptr));
    EXPECT_TRUE(boxes.Boxes.empty());
}
