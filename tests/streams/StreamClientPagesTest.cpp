// The stream client's pages under Xvfb: the "Communication" page selects the kind by its tab and the
// "Identification" page edits the expected response, warns while it differs from the driver's
// default and restores it; each page is photographed into build/screenshots.
#include "streams/DeviceStreamClient.h"

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/notebook.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "streams/StreamClientFixture.h"
#include "streams/etherds/EthernetDeviceStream.h"
#include "ui/ConfigurationWindowFixture.h"

namespace {

// A kind with a "NoConfig" page of its own (or a page whose resource is missing).
class PagedConfiguration : public TestConfiguration {
public:
    explicit PagedConfiguration(const std::string &sKind, const char *resource = "NoConfig")
        : TestConfiguration(sKind), mResource(resource) {}
    DWORD AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &panels) override {
        PanelResourceNameList::AddUnique(panels, new wxPanel(), mResource,
                                         wxString::FromUTF8(GetIDString().c_str()));
        return 0;
    }

private:
    const char *mResource;
};

const StreamTypeRegistrar gKindA(
    "TestPagedA", +[]() -> DeviceStreamConfiguration * { return new PagedConfiguration("TestPagedA"); });
const StreamTypeRegistrar gKindB(
    "TestPagedB", +[]() -> DeviceStreamConfiguration * { return new PagedConfiguration("TestPagedB"); });
const StreamTypeRegistrar gLostPage(
    "TestLostPage",
    +[]() -> DeviceStreamConfiguration * { return new PagedConfiguration("TestLostPage", "NoSuchPanel"); });

class StreamClientPagesTest : public ConfigurationWindowTest {
protected:
    // Shows the page of the tab and saves the dialog's picture once every control of the page shows.
    void Photograph(wxDialog &dialog, int tab, const std::string &name) {
        auto *tabs = Find<wxNotebook>(dialog, GenericTabsName);
        ASSERT_NE(nullptr, tabs);
        dialog.Show();
        tabs->SetSelection(tab);
        EXPECT_TRUE(Screenshot::Capture(dialog, *tabs->GetPage(tab), name));
    }

    DWORD ShowPages(DeviceStreamClientWithStream &client) {
        PanelResourceNameList pages;
        EXPECT_EQ(0u, client.AddConfigurationDialogPanels(HostHandle(), pages));
        EXPECT_EQ(2u, pages.size());
        return ShowTabbedConfigurationPages(HostHandle(), pages, L"Stream client");
    }
};

} // namespace

TEST_F(StreamClientPagesTest, CommunicationPageSelectsTheKindOfItsTab) {
    DeviceStreamClientWithStream client("");
    DeviceStreamConfigurationManager &manager = client.GetConfigurationManager();
    manager.SetSupportedStreams("TestPagedA;TestPagedB");
    manager.SetSelected("TestPagedB");
    SetModalDialogSink([&](wxDialog &dialog) {
        auto *list = Find<wxNotebook>(dialog, "wxID_StreamList");
        EXPECT_NE(nullptr, list);
        if (list == nullptr)
            return wxID_CANCEL;
        EXPECT_EQ(2u, list->GetPageCount());
        EXPECT_EQ("TestPagedB", list->GetPageText(list->GetSelection()));
        Photograph(dialog, 0, "stream-client-communication");
        list->SetSelection(0);
        return wxID_OK;
    });
    EXPECT_EQ(0u, ShowPages(client));
    EXPECT_EQ("TestPagedA", manager.GetSelected());
    EXPECT_TRUE(manager.GetDefaultStreamConfigurationLoaded());
}

// The one tab left when a kind's page did not load is no choice between the kinds: the selection
// stays as it was.
TEST_F(StreamClientPagesTest, CommunicationPageWithoutAKindsPageKeepsTheSelection) {
    DeviceStreamClientWithStream client("");
    DeviceStreamConfigurationManager &manager = client.GetConfigurationManager();
    manager.SetSupportedStreams("TestPagedA;TestLostPage");
    manager.SetSelected("TestLostPage");
    wxLogNull quiet; // wx reports the missing resource
    auto *dialog = new wxDialog(nullptr, wxID_ANY, "Communication");
    auto *page = new DeviceStreamConfigurationManagerConfigurationPanel(&manager);
    ASSERT_TRUE(
        wxXmlResource::Get()->LoadPanel(page, dialog, DeviceStreamConfigurationManager::PageResourceName));
    page->InitDialog();
    EXPECT_EQ(1u, Find<wxNotebook>(*page, "wxID_StreamList")->GetPageCount());
    EXPECT_TRUE(page->TransferDataFromWindow());
    EXPECT_EQ("TestLostPage", manager.GetSelected());
    delete dialog;
}

// A kind's own page inside the "Communication" page stores its values with the selection.
TEST_F(StreamClientPagesTest, CommunicationPageStoresTheSettingsOfTheKindsPages) {
    DeviceStreamClientWithStream client("");
    DeviceStreamConfigurationManager &manager = client.GetConfigurationManager();
    manager.SetSupportedStreams("TestPagedA;TCPIP");
    manager.SetSelected("TestPagedA");
    SetModalDialogSink([&](wxDialog &dialog) {
        auto *list = Find<wxNotebook>(dialog, "wxID_StreamList");
        auto *address = Find<wxTextCtrl>(dialog, "txtAddress");
        EXPECT_TRUE(list != nullptr && address != nullptr);
        if (list == nullptr || address == nullptr)
            return wxID_CANCEL;
        EXPECT_EQ("TCPIP", list->GetPageText(0)); // the kinds in the order of their ids
        list->SetSelection(0);
        address->SetValue("tcpip://127.0.0.1:15444");
        return wxID_OK;
    });
    EXPECT_EQ(0u, ShowPages(client));
    EXPECT_EQ("TCPIP", manager.GetSelected());
    EXPECT_EQ("ETHER:tcpip://127.0.0.1:15444", manager.FindConfiguration("TCPIP")->GetIdentifier());
}

TEST_F(StreamClientPagesTest, IdentificationPageWarnsWhileTheExpectedResponseDiffersAndRestoresIt) {
    DeviceStreamClientWithStream client("PECOS-8");
    client.ChangeExpectedResponse("XYZ");
    client.GetConfigurationManager().SetSupportedStreams("TestPagedA");
    auto warningShown = [](wxDialog &dialog) {
        bool shown = true;
        for (const char *name : {"ID_WARNING_TXT", "ID_WARNING_ICON", "ID_RESTORE_DEFAULT"}) {
            wxWindow *control = dialog.FindWindow(name);
            EXPECT_NE(nullptr, control) << name;
            shown = shown && control != nullptr && control->IsShown();
        }
        return shown;
    };
    SetModalDialogSink([&](wxDialog &dialog) {
        auto *text = Find<wxTextCtrl>(dialog, "ID_EXPECTED_RESPONSE");
        EXPECT_NE(nullptr, text);
        if (text == nullptr)
            return wxID_CANCEL;
        EXPECT_EQ("XYZ", text->GetValue());
        EXPECT_TRUE(warningShown(dialog));
        Photograph(dialog, 1, "stream-client-identification");
        wxCommandEvent press(wxEVT_BUTTON, XRCID("ID_RESTORE_DEFAULT"));
        press.SetEventObject(dialog.FindWindow("ID_RESTORE_DEFAULT"));
        dialog.FindWindow("ID_RESTORE_DEFAULT")->GetEventHandler()->ProcessEvent(press);
        EXPECT_EQ("PECOS-8", text->GetValue());
        EXPECT_FALSE(warningShown(dialog));
        text->SetValue("^PECOS-[0-9]+");
        EXPECT_TRUE(warningShown(dialog));
        return wxID_OK;
    });
    EXPECT_EQ(0u, ShowPages(client));
    EXPECT_EQ("^PECOS-[0-9]+", client.GetExpectedResponse());
    EXPECT_EQ("PECOS-8", client.GetDefaultExpectedResponse());
}
