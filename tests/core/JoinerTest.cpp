// The joiners of a typed driver base and a stream client, with a stand-in stream client that
// records its calls: both sides always run, the driver side's failure wins, pages keep the driver's
// first, and error texts come from the driver side before the stream side.
#include "core/ResourceWindows.h"
#include "core/TwoBaseClasses.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/ADConvertorBase.h"
#include "core/ProgramSettingsDatabase.h"
#include "core/SwitchMatrixBase.h"
#include "support/TestSupport.h"

namespace {

using CallOrder = std::vector<std::string>;

// The stream client's side as the joiners see it.
class FakeStreamClient {
public:
    explicit FakeStreamClient(std::string sExpectedIdentification)
        : ExpectedIdentification(std::move(sExpectedIdentification)) {}
    virtual ~FakeStreamClient() = default;

    virtual DWORD LoadProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) {
        Order->push_back("stream load");
        return LoadResult;
    }
    virtual DWORD SaveProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) {
        Order->push_back("stream save");
        return SaveResult;
    }
    virtual DWORD AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &panels) {
        PanelResourceNameList::AddUnique(panels, nullptr, "StreamSelectionPanel", "Stream");
        PanelResourceNameList::AddUnique(panels, nullptr, "IdentificationPanel", "Identification");
        return PanelsResult;
    }
    virtual DWORD GetErrorString(HostWindow, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                 uint32_t *pdwRead) {
        ++ErrorTextsAsked;
        if (dwCode == StreamCode)
            CopyStringToBuffer("Stream failure", sBuffer, dwBufferSize, pdwRead);
        return ErrorResult;
    }

    static constexpr DWORD StreamCode = 0x30000200;
    std::string ExpectedIdentification;
    CallOrder *Order = nullptr;
    DWORD LoadResult = 0, SaveResult = 0, PanelsResult = 0, ErrorResult = 0;
    int ErrorTextsAsked = 0;
};

// A storable member of the driver side: the end of DeviceDriverBase's load and save.
class RecordingMember : public SavableLoadableClass {
public:
    DWORD LoadProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) override {
        Order->push_back("driver load");
        return Result;
    }
    DWORD SaveProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) override {
        Order->push_back("driver save");
        return Result;
    }
    CallOrder *Order = nullptr;
    DWORD Result = 0;
};

template <typename B> class JoinedDriver : public TwoBaseClasses<B, FakeStreamClient> {
public:
    JoinedDriver() {
        Member.Order = &Order;
        this->FakeStreamClient::Order = &Order;
        this->mStorableMembers.RegisterMember(&Member);
    }
    RecordingMember Member;
    CallOrder Order;
};

using JoinedConverter = JoinedDriver<ADConvertorBase>;
using JoinedSwitchMatrix = JoinedDriver<SwitchMatrixBase>;

// A driver with texts of its own above the joiner.
class DriverWithOwnTexts : public JoinedSwitchMatrix {
public:
    static constexpr DWORD OwnCode = 0x30000300;
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwRead) override {
        if (dwCode == OwnCode) {
            CopyStringToBuffer("Own failure", sBuffer, dwBufferSize, pdwRead);
            return 0;
        }
        return JoinedSwitchMatrix::GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwRead);
    }
};

constexpr DWORD StreamFailure = 0x30000201;
constexpr DWORD DriverFailure = 0x30000301;

} // namespace

TEST(JoinerTest, TheStreamSideIsBuiltWithoutAnExpectedIdentification) {
    JoinedConverter driver;
    EXPECT_EQ("", driver.ExpectedIdentification);
    uint32_t count = 0;
    EXPECT_EQ(0u, driver.GetValue(nullptr, 752, &count, nullptr));
    EXPECT_EQ(8u, count);
}

TEST(JoinerTest, SettingsRunBothSidesAndTheDriverSidesFailureWins) {
    TestSupport::TempDir dir;
    std::shared_ptr<ProgramSettingsDatabase> database =
        CreateINIProgramSettingsDatabase(dir.File("settings.ini"));
    JoinedConverter driver;
    driver.LoadResult = StreamFailure;
    EXPECT_EQ(StreamFailure, driver.LoadProgramSettings(nullptr, database));
    EXPECT_EQ((CallOrder{"stream load", "driver load"}), driver.Order);

    driver.Member.Result = DriverFailure;
    EXPECT_EQ(DriverFailure, driver.LoadProgramSettings(nullptr, database));
    driver.LoadResult = 0;
    EXPECT_EQ(DriverFailure, driver.LoadProgramSettings(nullptr, database));

    driver.Order.clear();
    driver.Member.Result = 0;
    driver.SaveResult = StreamFailure;
    EXPECT_EQ(StreamFailure, driver.SaveProgramSettings(nullptr, database));
    driver.Member.Result = DriverFailure;
    EXPECT_EQ(DriverFailure, driver.SaveProgramSettings(nullptr, database));
    EXPECT_EQ((CallOrder{"stream save", "driver save", "stream save", "driver save"}), driver.Order);

    JoinedSwitchMatrix matrix;
    matrix.LoadResult = StreamFailure;
    EXPECT_EQ(StreamFailure, matrix.LoadProgramSettings(nullptr, database));
    EXPECT_EQ((CallOrder{"stream load", "driver load"}), matrix.Order);
}

TEST(JoinerTest, ConfigurationLoadReachesTheRAWOptionThroughTheJoiner) {
    TestSupport::TempDir dir;
    const std::string file = dir.File("joined.ini");
    TestSupport::WriteFile(file, "[ADConverterBase]\nUseRAW=1\nShowRAWControl=1\n");
    JoinedConverter driver;
    driver.LoadResult = StreamFailure;
    EXPECT_EQ(StreamFailure, driver.LoadConfiguration(nullptr, file.c_str()));
    EXPECT_TRUE(driver.GetUseRAW()) << "the driver side is loaded after the stream side failed";

    PanelResourceNameList panels;
    EXPECT_EQ(0u, driver.AddConfigurationDialogPanels(nullptr, panels));
    ASSERT_EQ(3u, panels.size());
    EXPECT_EQ("RAWControlConfigurationPanel", panels[0]->GetResourceName());
    EXPECT_EQ("StreamSelectionPanel", panels[1]->GetResourceName());
    EXPECT_EQ("IdentificationPanel", panels[2]->GetResourceName());
    DeleteConfigurationPages(panels);
}

TEST(JoinerTest, SwitchMatrixPagesAreTheStreamSidesOnly) {
    JoinedSwitchMatrix matrix;
    matrix.PanelsResult = StreamFailure;
    PanelResourceNameList panels;
    EXPECT_EQ(StreamFailure, matrix.AddConfigurationDialogPanels(nullptr, panels));
    ASSERT_EQ(2u, panels.size());
    EXPECT_EQ("StreamSelectionPanel", panels[0]->GetResourceName());
}

TEST(JoinerTest, ErrorTextsComeFromTheDriverSideFirst) {
    JoinedConverter driver;
    DeviceDriverBase &base = driver;
    char buffer[256];
    uint32_t read = 0;

    EXPECT_EQ(0u, base.GetErrorString(nullptr, 0x300000D7, buffer, sizeof buffer, &read));
    EXPECT_EQ(0, std::strncmp(buffer, "The used Korvalis version is too old.", 37));
    EXPECT_GT(read, 0u);
    EXPECT_EQ(0, driver.ErrorTextsAsked);

    EXPECT_EQ(0u, base.GetErrorString(nullptr, FakeStreamClient::StreamCode, buffer, sizeof buffer, &read));
    EXPECT_STREQ("Stream failure", buffer);
    EXPECT_EQ(14u, read);
    EXPECT_EQ(1, driver.ErrorTextsAsked);

    driver.ErrorResult = StreamFailure;
    std::strcpy(buffer, "old");
    read = 3;
    EXPECT_EQ(StreamFailure, base.GetErrorString(nullptr, 0x300000CB, buffer, sizeof buffer, &read));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ(0u, read);
    EXPECT_EQ(2, driver.ErrorTextsAsked);

    // A failing driver side ends the call after the clearing step.
    read = 7;
    EXPECT_EQ(ResultCode::TextBufferMissing,
              base.GetErrorString(nullptr, FakeStreamClient::StreamCode, nullptr, 10, &read));
    EXPECT_EQ(0u, read);
    EXPECT_EQ(ResultCode::FilledSizeMissing,
              base.GetErrorString(nullptr, FakeStreamClient::StreamCode, buffer, sizeof buffer, nullptr));
    EXPECT_EQ(2, driver.ErrorTextsAsked);

    // Size 0: nothing written, the driver side knows no text that fits, the stream side is asked.
    driver.ErrorResult = 0;
    buffer[0] = 'x';
    EXPECT_EQ(0u, base.GetErrorString(nullptr, 0x300000D7, buffer, 0, &read));
    EXPECT_EQ('x', buffer[0]);
    EXPECT_EQ(0u, read);
    EXPECT_EQ(3, driver.ErrorTextsAsked);
}

TEST(JoinerTest, ADriversOwnTextsStandAboveTheJoiner) {
    DriverWithOwnTexts driver;
    DeviceDriverBase &base = driver;
    char buffer[64];
    uint32_t read = 0;
    EXPECT_EQ(0u, base.GetErrorString(nullptr, DriverWithOwnTexts::OwnCode, buffer, sizeof buffer, &read));
    EXPECT_STREQ("Own failure", buffer);
    EXPECT_EQ(0u, base.GetErrorString(nullptr, FakeStreamClient::StreamCode, buffer, sizeof buffer, &read));
    EXPECT_STREQ("Stream failure", buffer);
    EXPECT_EQ(1, driver.ErrorTextsAsked);
}
