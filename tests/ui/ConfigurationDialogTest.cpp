// A driver's configuration dialog under Xvfb, from the host's call: the driver's pages and its
// RAW page as tabs in list order under the driver's description, the values they store, the
// "cannot be configured" box, and what the call answers where no window can be shown.
#include <gtest/gtest.h>

#include <thread>

#include "ConfigurationWindowFixture.h"
#include "core/ADConvertorBase.h"
#include "core/DriverRecords.h"
#include "core/ResultCodes.h"
#include "core/StringUtils.h"

namespace {

// An AD converter with two pages of its own in front of the framework's RAW page.
class PagedConverter : public ADConvertorBase {
public:
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override {
        FirstPage = new FlagPage(&Settings);
        PanelResourceNameList::AddUnique(panels, FirstPage, "TestFlagPage", "Flags & Counts");
        PanelResourceNameList::AddUnique(panels, new NamePage(&Settings), "TestNamePage", "Name");
        return FirstNonZero(PanelResult, ADConvertorBase::AddConfigurationDialogPanels(hWnd, panels));
    }

    PageSettings Settings;
    wxPanel *FirstPage = nullptr;
    DWORD PanelResult = 0;
};

class PlainConverter : public ADConvertorBase {};

class ConfigurationDialogTest : public ConfigurationWindowTest {
protected:
    void Load(ADConvertorBase &driver, const std::string &rawSection) {
        const std::string file = mDir.File("driver.ini");
        TestSupport::WriteFile(file, "[Common]\nDescription=X1 meter\nDeviceBrand=Alpha\nDeviceType=X1\n" +
                                         rawSection);
        ASSERT_EQ(0u, driver.LoadConfiguration(nullptr, file.c_str()));
    }

    TestSupport::TempDir mDir;
};

TEST_F(ConfigurationDialogTest, TheDriversPagesAreTabsInListOrderUnderItsDescription) {
    DriverRecords records;
    PagedConverter driver;
    Load(driver, "[ADConverterBase]\nUseRAW=1\nShowRAWControl=1\n");
    driver.Settings.SetCount(12);
    std::vector<wxString> titles;
    SetModalDialogSink([&](wxDialog &dialog) {
        EXPECT_EQ("Alpha X1 meter", dialog.GetTitle());
        EXPECT_FALSE(mHost->IsEnabled());
        if (auto *tabs = Find<wxNotebook>(dialog, GenericTabsName)) {
            for (size_t i = 0; i < tabs->GetPageCount(); ++i)
                titles.push_back(tabs->GetPageText(i));
            EXPECT_EQ(driver.FirstPage, tabs->GetPage(0));
        }
        auto *count = Find<wxTextCtrl>(dialog, "ID_COUNT");
        auto *raw = Find<wxCheckBox>(dialog, "ID_USE_RAW_VALUE");
        if (count == nullptr || raw == nullptr) {
            ADD_FAILURE() << "a page is missing";
            return wxID_CANCEL;
        }
        EXPECT_EQ("12", count->GetValue());
        EXPECT_TRUE(raw->GetValue());
        raw->SetValue(false);
        count->ChangeValue("13");
        return wxID_OK;
    });
    EXPECT_EQ(0u, driver.ShowConfigurationDialog(HostHandle()));
    const std::vector<wxString> expected = {"Flags & Counts", "Name", "RAW Settings"};
    EXPECT_EQ(expected, titles);
    EXPECT_FALSE(driver.GetUseRAW());
    EXPECT_EQ(13, driver.Settings.GetCount());
    EXPECT_TRUE(mHost->IsEnabled());

    auto call =
        DriverRecords::FindCall(records.Take(), L"DeviceDriverBase", L"ShowTabbedConfigurationDialog");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Complete", call->End.Level);
    EXPECT_EQ(L"ShowTabbedConfigurationDialog(\"Alpha X1 meter\")", call->End.Value(L"description"));
}

TEST_F(ConfigurationDialogTest, CancelLeavesTheDriverAsItWasAndTheRawPageComesOnlyWhenAsked) {
    PagedConverter driver;
    Load(driver, "[ADConverterBase]\nUseRAW=1\nShowRAWControl=0\n");
    size_t pageCount = 0;
    SetModalDialogSink([&](wxDialog &dialog) {
        auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
        auto *count = Find<wxTextCtrl>(dialog, "ID_COUNT");
        if (tabs == nullptr || count == nullptr) {
            ADD_FAILURE() << "a page is missing";
            return wxID_CANCEL;
        }
        pageCount = tabs->GetPageCount();
        count->ChangeValue("99");
        return wxID_CANCEL;
    });
    EXPECT_EQ(0u, driver.ShowConfigurationDialog(HostHandle()));
    EXPECT_EQ(2u, pageCount);
    EXPECT_EQ(0, driver.Settings.Stores);
    EXPECT_TRUE(driver.GetUseRAW());
}

TEST_F(ConfigurationDialogTest, ADriverWithoutPagesSaysSoOverTheHostWindow) {
    PlainConverter driver;
    Load(driver, "");
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &) {
        bSinkRan = true;
        return wxID_OK;
    });
    EXPECT_EQ(0u, driver.ShowConfigurationDialog(HostHandle()));
    EXPECT_FALSE(bSinkRan);
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(L"This Device Driver cannot be configured", mBoxes[0].Text);
    EXPECT_EQ(L"Alpha X1 meter", mBoxes[0].Caption);
    EXPECT_EQ(0x40u, mBoxes[0].Style);
    EXPECT_EQ(HostHandle(), mBoxes[0].Window);
}

TEST_F(ConfigurationDialogTest, OffTheGuiThreadTheCallAnswersThatNoWindowCanBeShown) {
    PagedConverter driver;
    Load(driver, "[ADConverterBase]\nShowRAWControl=1\n");
    bool bSinkRan = false;
    SetModalDialogSink([&](wxDialog &) {
        bSinkRan = true;
        return wxID_OK;
    });
    DWORD result = 0;
    std::thread worker([&] { result = driver.ShowConfigurationDialog(HostHandle()); });
    worker.join();
    EXPECT_EQ(ResultCode::ConfigurationWindowUnavailable, result);
    EXPECT_FALSE(bSinkRan);
    EXPECT_TRUE(mHost->IsEnabled());
}

TEST_F(ConfigurationDialogTest, PagesOfAFailedCollectionAndRejectedDuplicatesAreDeleted) {
    PagedConverter driver;
    Load(driver, "[ADConverterBase]\nShowRAWControl=1\n");
    driver.PanelResult = 0x30001234;
    const int flagPages = FlagPage::Alive, namePages = NamePage::Alive;
    EXPECT_EQ(0x30001234u, driver.ShowConfigurationDialog(HostHandle()));
    // The collection created the pages; nothing shows them, nothing may keep them.
    EXPECT_EQ(flagPages, FlagPage::Alive);
    EXPECT_EQ(namePages, NamePage::Alive);

    PanelResourceNameList panels;
    EXPECT_EQ(0u, driver.RAWControl::AddConfigurationDialogPanels(nullptr, panels));
    auto *duplicate = new FlagPage(&driver.Settings);
    wxWeakRef<wxPanel> duplicateRef(duplicate);
    PanelResourceNameList::AddUnique(panels, duplicate, "RAWControlConfigurationPanel", "RAW Settings");
    EXPECT_EQ(1u, panels.size());
    EXPECT_FALSE(duplicateRef);
    DeleteConfigurationPages(panels);
}

} // namespace
