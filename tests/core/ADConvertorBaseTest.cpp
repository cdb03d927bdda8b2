// The AD converter base through test drivers: the channel identifiers with their records, the
// hand-down of every other identifier, the RAW option in a settings file and its page.
#include "core/ResourceWindows.h"
#include "core/ADConvertorBase.h"

#include <gtest/gtest.h>

#include "DriverRecords.h"
#include "platform/MessageBox.h"

namespace {

// The framework's defaults only.
class PlainConverter : public ADConvertorBase {};

// Answers every channel with a value of its own; the channel number is not checked.
class MeasuringConverter : public ADConvertorBase {
public:
    MeasuringConverter() { SetChannelCount(3); }
    DWORD GetChannelValue(HostWindow, uint32_t *pdwChannel, float *pfValue) override {
        LastChannel = *pdwChannel;
        *pfValue = 0.123456789f;
        return 0;
    }
    DWORD GetChannelMaxValue(HostWindow, uint32_t *, float *pfMaxValue) override {
        *pfMaxValue = 2500000.0f;
        return 0x3C000001;
    }
    uint32_t LastChannel = 0;
};

class ADConvertorBaseTest : public ::testing::Test {
protected:
    std::vector<Quellin::Record> Records() { return mRecords.Take(); }
    std::optional<DriverRecords::Call> GetValueCall(const std::vector<Quellin::Record> &records) {
        return DriverRecords::FindCall(records, L"ADConvertorBase", L"GetValue");
    }

    DriverRecords mRecords;
    TestSupport::TempDir mDir;
};

} // namespace

TEST_F(ADConvertorBaseTest, ChannelCountIsEightUntilTheDriverSetsIt) {
    PlainConverter plain;
    uint32_t count = 0;
    EXPECT_EQ(0u, plain.GetValue(nullptr, 752, &count, nullptr));
    EXPECT_EQ(8u, count);
    MeasuringConverter measuring;
    EXPECT_EQ(0u, measuring.GetValue(nullptr, 752, &count, nullptr));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(3u, measuring.GetChannelCountValue());

    auto records = Records();
    auto call = GetValueCall(records);
    ASSERT_TRUE(call);
    EXPECT_TRUE(call->Begin.Items.empty());
    EXPECT_EQ(L"Complete", call->End.Level);
    EXPECT_EQ(L"GetChannelCount(8)", call->End.Value(L"description"));
    EXPECT_EQ(L"8", call->End.Value(L"ChannelCount", L"!output"));
}

TEST_F(ADConvertorBaseTest, ChannelValuesComeFromTheDriverAndAreRecordedAfterTheCall) {
    PlainConverter plain;
    uint32_t channel = 5;
    float value = 1.5f;
    EXPECT_EQ(0x300000CBu, plain.GetValue(nullptr, 750, &channel, &value));
    EXPECT_EQ(1.5f, value);
    auto call = GetValueCall(Records());
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Error", call->End.Level);
    EXPECT_EQ(L"GetChannelValue(5, 1.5)", call->End.Value(L"description"));
    EXPECT_EQ(L"5", call->End.Value(L"Channel", L"!input"));
    EXPECT_EQ(L"1.5", call->End.Value(L"Value", L"!output"));

    MeasuringConverter measuring;
    channel = 9; // beyond the count: the driver decides
    EXPECT_EQ(0u, measuring.GetValue(nullptr, 750, &channel, &value));
    EXPECT_EQ(9u, measuring.LastChannel);
    EXPECT_FLOAT_EQ(0.123456789f, value);
    call = GetValueCall(Records());
    ASSERT_TRUE(call);
    EXPECT_EQ(L"GetChannelValue(9, 0.123457)", call->End.Value(L"description"));

    EXPECT_EQ(0x3C000001u, measuring.GetValue(nullptr, 751, &channel, &value));
    call = GetValueCall(Records());
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Warning", call->End.Level);
    EXPECT_EQ(L"GetChannelMaxValue(9, 2.5e+06)", call->End.Value(L"description"));
    EXPECT_EQ(L"2.5e+06", call->End.Value(L"MaxValue", L"!output"));

    EXPECT_EQ(ResultCode::ValueDataMissing, measuring.GetValue(nullptr, 750, &channel, nullptr));
    EXPECT_EQ(ResultCode::ValueDataMissing, measuring.GetValue(nullptr, 751, nullptr, &value));
    EXPECT_EQ(ResultCode::ValueDataMissing, measuring.GetValue(nullptr, 752, nullptr, nullptr));
}

TEST_F(ADConvertorBaseTest, OtherIdentifiersReachTheDriverBase) {
    PlainConverter plain;
    uint32_t word = 3, other = 4;
    EXPECT_EQ(0x300000CDu, plain.GetValue(nullptr, 57, &word, &other));
    auto records = Records();
    auto call = GetValueCall(records);
    ASSERT_TRUE(call);
    EXPECT_EQ(L"GetValue(\"DeviceDriverBaseCall\")", call->End.Value(L"description"));
    std::vector<std::wstring> names;
    for (const Quellin::Item &item : call->End.Items)
        if (item.Type != 'm')
            names.push_back(item.Name);
    EXPECT_EQ((std::vector<std::wstring>{L"description", L"Err"}), names);
    EXPECT_TRUE(DriverRecords::FindCall(records, L"DeviceDriverBase", L"GetValue"));

    EXPECT_EQ(0x300000D7u, plain.SetValue(nullptr, 5, const_cast<char *>("2020.1.1"), nullptr));
    EXPECT_EQ("2020.1.1", plain.GetKorvalisVersion().GetText());
    call = DriverRecords::FindCall(Records(), L"ADConvertorBase", L"SetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"5", call->Begin.Value(L"dwValueID"));
    EXPECT_EQ(L"Error", call->End.Level);
}

TEST_F(ADConvertorBaseTest, RAWOptionLoadsSavesAndOffersItsPageOnlyWhenAsked) {
    const std::string file = mDir.File("ad.ini");
    PlainConverter converter;
    PanelResourceNameList panels;

    TestSupport::WriteFile(file, "[ADConverterBase]\nUseRAW=TRUE\nShowRAWControl=FALSE\n");
    EXPECT_EQ(0u, converter.LoadConfiguration(nullptr, file.c_str()));
    EXPECT_TRUE(converter.GetUseRAW());
    EXPECT_EQ(0u, converter.AddConfigurationDialogPanels(nullptr, panels));
    EXPECT_TRUE(panels.empty());

    TestSupport::WriteFile(file, "[ADConverterBase]\nShowRAWControl=1\n");
    EXPECT_EQ(0u, converter.LoadConfiguration(nullptr, file.c_str()));
    EXPECT_TRUE(converter.GetUseRAW()) << "a missing key keeps the flag";
    EXPECT_EQ(0u, converter.AddConfigurationDialogPanels(nullptr, panels));
    ASSERT_EQ(1u, panels.size());
    EXPECT_EQ("RAWControlConfigurationPanel", panels[0]->GetResourceName());
    EXPECT_EQ("RAW Settings", panels[0]->GetTitle());
    EXPECT_EQ(0u, converter.AddConfigurationDialogPanels(nullptr, panels));
    EXPECT_EQ(1u, panels.size()) << "the page is listed once";
    DeleteConfigurationPages(panels);

    converter.SetUseRAW(false);
    const std::string saved = mDir.File("saved.ini");
    EXPECT_EQ(0u, converter.SaveConfiguration(nullptr, saved.c_str()));
    const std::string text = TestSupport::ReadFile(saved);
    EXPECT_NE(std::string::npos, text.find("[ADConverterBase]")) << text;
    EXPECT_NE(std::string::npos, text.find("UseRAW=")) << text;
    EXPECT_NE(std::string::npos, text.find("ShowRAWControl=")) << text;

    PlainConverter reloaded;
    reloaded.SetUseRAW(true);
    EXPECT_EQ(0u, reloaded.LoadConfiguration(nullptr, saved.c_str()));
    EXPECT_FALSE(reloaded.GetUseRAW());
    PanelResourceNameList reloadedPanels;
    reloaded.AddConfigurationDialogPanels(nullptr, reloadedPanels);
    EXPECT_EQ(1u, reloadedPanels.size());
    DeleteConfigurationPages(reloadedPanels);

    // A file without the table leaves both flags.
    const std::string other = mDir.File("other.ini");
    TestSupport::WriteFile(other, "[Common]\nDescription=meter\n");
    EXPECT_EQ(0u, reloaded.LoadConfiguration(nullptr, other.c_str()));
    EXPECT_FALSE(reloaded.GetUseRAW());
    reloadedPanels.clear();
    reloaded.AddConfigurationDialogPanels(nullptr, reloadedPanels);
    EXPECT_EQ(1u, reloadedPanels.size());
    DeleteConfigurationPages(reloadedPanels);
}

TEST_F(ADConvertorBaseTest, WithoutPagesTheConverterSaysItCannotBeConfigured) {
    std::vector<Platform::MessageBoxRequest> boxes;
    {
        TestSupport::MessageBoxRecorder recorder(Platform::IdOk);
        PlainConverter converter;
        EXPECT_EQ(0u, converter.ShowConfigurationDialog(nullptr));
        boxes = recorder.Boxes;
    }
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"This Device Driver cannot be configured", boxes[0].Text);
    EXPECT_EQ(0x40u, boxes[0].Style);
    auto records = Records();
    auto notes = DriverRecords::Notes(records, L"ADConvertorBase", L"ShowConfigurationDialogUnavailable");
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ(L"Note", notes[0].Level);
    EXPECT_TRUE(notes[0].Items.empty());
    EXPECT_TRUE(
        DriverRecords::Notes(records, L"DeviceDriverBase", L"ShowConfigurationDialogUnavailable").empty());
}
