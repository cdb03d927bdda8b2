// The stream configuration manager and its "Communication" page.
#include "streams/DeviceStreamConfigurationManager.h"

#include <utility>
#include <vector>

#include <wx/notebook.h>
#include <wx/xrc/xmlres.h>

#include "core/ResourceWindows.h"
#include "core/StringUtils.h"
#include "logging/Assertion.h"
#include "logging/LoggedMessageBox.h"
#include "logging/QuellinEntry.h"
#include "platform/MessageBox.h"
#include "visa/VisaBase.h"

namespace {

constexpr const char *ManagerModule = "DeviceStreamConfigurationManager";
constexpr int VisaErrorTextPreference = 1;

} // namespace

DeviceStreamConfigurationManager::DeviceStreamConfigurationManager() = default;
DeviceStreamConfigurationManager::~DeviceStreamConfigurationManager() = default;

void DeviceStreamConfigurationManager::SetDefaultStreamConfigurationLoaded(bool bLoaded) {
    mbDefaultStreamConfigurationLoaded = bLoaded;
}

bool DeviceStreamConfigurationManager::GetDefaultStreamConfigurationLoaded() {
    return mbDefaultStreamConfigurationLoaded;
}

void DeviceStreamConfigurationManager::SetSupportedStreams(const std::string &sList) {
    mConfigurations.clear();
    std::vector<std::string> kinds;
    if (!sList.empty())
        SplitString(sList, kinds, ";", false);
    else
        kinds = GetRegisteredKinds();
    for (const std::string &kind : kinds)
        if (std::shared_ptr<DeviceStreamConfiguration> configuration = CreateConfigurationOfKind(kind))
            mConfigurations[configuration->GetIDString()] = configuration;
}

std::shared_ptr<DeviceStreamConfiguration>
DeviceStreamConfigurationManager::FindConfiguration(const std::string &sKind) const {
    if (sKind.empty())
        return nullptr;
    const auto found = mConfigurations.find(sKind);
    return found == mConfigurations.end() ? nullptr : found->second;
}

std::shared_ptr<DeviceStreamConfiguration>
DeviceStreamConfigurationManager::GetSelectedConfiguration() const {
    return FindConfiguration(msSelected.empty() ? msDefaultKind : msSelected);
}

void DeviceStreamConfigurationManager::ResolveSelection() {
    if (GetSelectedConfiguration())
        return;
    std::vector<std::string> candidates;
    if (msSelected == "GPIB")
        candidates.push_back("CompliantGPIB");
    else if (msSelected == "CompliantGPIB")
        candidates.push_back("GPIB");
    if (mdwLegacySelector == 0)
        candidates.push_back("RS-232");
    else if (mdwLegacySelector == 1)
        candidates.push_back("GPIB");
    candidates.push_back(msDefaultKind);
    for (const std::string &candidate : candidates)
        if (FindConfiguration(candidate)) {
            msSelected = candidate;
            return;
        }
    if (mConfigurations.empty())
        MessageBoxA(nullptr, "No communication streams programmed", "Selected Stream",
                    Platform::MbIconWarning);
    else
        msSelected = mConfigurations.begin()->first;
}

DWORD DeviceStreamConfigurationManager::LoadConfiguration(
    std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    // The configurations' tables nest below "Stream Config", and so do the older GPIB and RS-232
    // settings (the older selection is a key of "Stream Config" itself).
    database->PushTable(TableName);
    mbDefaultStreamConfigurationLoaded =
        database->ReadBool(DefaultLoadedKey, mbDefaultStreamConfigurationLoaded);
    DWORD result = LoadLegacyConfiguration(database, std::string());
    if (result == 0) {
        msSelected = database->ReadStdString(SelectedKey, msDefaultKind);
        ResolveSelection();
        if (std::shared_ptr<DeviceStreamConfiguration> selected = GetSelectedConfiguration())
            result = selected->LoadProgramSettings(database);
        for (auto it = mConfigurations.begin(); result == 0 && it != mConfigurations.end(); ++it)
            result = it->second->LoadProgramSettings(database);
    }
    database->PopTable();
    return result;
}

DWORD DeviceStreamConfigurationManager::SaveConfiguration(
    std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(TableName);
    database->WriteStdString(SelectedKey, msSelected.empty() ? msDefaultKind : msSelected);
    database->WriteBool(DefaultLoadedKey, mbDefaultStreamConfigurationLoaded);
    DWORD result = 0;
    for (auto it = mConfigurations.begin(); result == 0 && it != mConfigurations.end(); ++it)
        result = it->second->SaveProgramSettings(database);
    if (result == 0)
        result = SaveLegacyConfiguration(database, std::string());
    DWORD selectedResult = 0;
    if (std::shared_ptr<DeviceStreamConfiguration> selected = GetSelectedConfiguration())
        selectedResult = selected->SaveProgramSettings(database);
    database->PopTable();
    return FirstNonZero(result, selectedResult);
}

DWORD DeviceStreamConfigurationManager::GetSelectedDeviceStream(
    std::shared_ptr<WriteReadDeviceStream> &stream, bool bShare, bool &bCreated) {
    stream.reset();
    bCreated = false;
    const std::shared_ptr<DeviceStreamConfiguration> configuration = GetSelectedConfiguration();
    if (!configuration) {
        ReportAssertion("There is no Device Stream Configuration.",
                        "DeviceStreamConfigurationManager::GetSelectedDeviceStream");
        return 0;
    }
    // One look-up: a connect racing this one must not see a stream it did not make as its own.
    stream = SharedDeviceStreams::GetStreamForConfiguration(configuration, bShare, &bCreated);
    return 0;
}

DWORD DeviceStreamConfigurationManager::ConfigureSelectedStream(HostWindow hWnd, const std::wstring &sTitle) {
    const std::shared_ptr<DeviceStreamConfiguration> configuration = GetSelectedConfiguration();
    if (!configuration) {
        ReportAssertion("cStreamConfig == NULL", "DeviceStreamConfigurationManager::ConfigureSelectedStream");
        return 0;
    }
    return configuration->ShowConfigurationDialog(hWnd, sTitle);
}

DWORD DeviceStreamConfigurationManager::ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) {
    if (mConfigurations.size() == 1)
        return ConfigureSelectedStream(hWnd, sTitle);
    ShowConfigurationWindowAsDialog(new DeviceStreamConfigurationManagerConfigurationPanel(this), hWnd,
                                    PageResourceName, wxString(sTitle));
    return 0;
}

DWORD DeviceStreamConfigurationManager::AddConfigurationDialogPanels(HostWindow,
                                                                     PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(
        panels, new DeviceStreamConfigurationManagerConfigurationPanel(this, std::move(mKeptSettings)),
        PageResourceName, PageTitle);
    return 0;
}

void DeviceStreamConfigurationManager::KeepSettingsUntilStored() {
    mKeptSettings = std::make_unique<DeviceStreamSettingsSnapshot>(*this);
}

// ---- Settings snapshot ----------------------------------------------------------------------------

DeviceStreamSettingsSnapshot::DeviceStreamSettingsSnapshot(DeviceStreamConfigurationManager &manager)
    : mManager(manager), mbDefaultStreamConfigurationLoaded(manager.GetDefaultStreamConfigurationLoaded()),
      msSelected(manager.GetSelected()), mSettings(std::make_shared<MemoryProgramSettingsDatabase>()) {
    mSettings->Open();
    mSettings->PushTable(DeviceStreamConfigurationManager::TableName);
    for (const auto &entry : manager.GetConfigurations())
        entry.second->SaveProgramSettings(mSettings);
    mSettings->PopTable();
}

void DeviceStreamSettingsSnapshot::Restore() {
    mManager.SetDefaultStreamConfigurationLoaded(mbDefaultStreamConfigurationLoaded);
    mManager.SetSelected(msSelected);
    mSettings->PushTable(DeviceStreamConfigurationManager::TableName);
    for (const auto &entry : mManager.GetConfigurations())
        entry.second->LoadProgramSettings(mSettings);
    mSettings->PopTable();
}

bool DeviceStreamConfigurationManager::IsInVisaErrorOrWarningRange(DWORD dwErr) const {
    const bool bInRange = VisaBase::IsInVisaErrorOrWarningRange(dwErr);
    QuellinEntry entry(ManagerModule, "IsInVisaErrorOrWarningRange");
    entry.Log(QuellinLevelNote, L"dwErr", dwErr, L"isInVisaErrorOrWarningRange", bInRange);
    return bInRange;
}

DWORD DeviceStreamConfigurationManager::GetErrorString(HostWindow, DWORD dwCode, char *sBuffer,
                                                       uint32_t dwBufferSize, uint32_t *pdwRead) {
    std::string sText;
    switch (dwCode) {
    case StreamResult::CannotCreateStream:
        sText = StreamManagerText::CannotCreateStream;
        break;
    case StreamResult::StreamNotConnected:
        sText = StreamManagerText::StreamNotConnected;
        break;
    case StreamResult::StreamNotLocked:
        sText = StreamManagerText::StreamNotLocked;
        break;
    case StreamResult::StreamNotCreated:
        sText = StreamManagerText::StreamNotCreated;
        break;
    case StreamResult::InvalidConfigurationObject:
        sText = StreamManagerText::InvalidConfigurationObject;
        break;
    case StreamResult::CouldNotSetValue:
        sText = StreamManagerText::CouldNotSetValue;
        break;
    default: {
        const std::shared_ptr<DeviceStreamConfiguration> selected = GetSelectedConfiguration();
        if (selected && IsInVisaErrorOrWarningRange(dwCode)) {
            // The error texts' library preference: the system's VISA library first.
            VisaBase visa(VisaErrorTextPreference);
            char text[256] = "";
            uint32_t length = 0;
            visa.GetErrorString(nullptr, dwCode, text, sizeof text, &length);
            sText.assign(text, length);
        } else if (selected) {
            sText = selected->GetErrorText(dwCode);
        }
        if (sText.empty() && StreamResult::SharedText(dwCode) != nullptr)
            sText = StreamResult::SharedText(dwCode);
        // A code of another kind, met at a session of a kind selected before (or raised by a
        // layer that kind shares), takes that kind's text.
        for (auto entry = mConfigurations.begin(); sText.empty() && entry != mConfigurations.end(); ++entry)
            if (entry->second != selected)
                sText = entry->second->GetErrorText(dwCode);
        break;
    }
    }
    QuellinEntry entry(ManagerModule, "GetErrorString");
    entry.Log(QuellinLevelNote, L"dwCode", dwCode, L"possibleError", sText);
    if (!sText.empty() && (pdwRead == nullptr || *pdwRead == 0))
        CopyStringToBuffer(sText, sBuffer, dwBufferSize, pdwRead);
    return 0;
}

// ---- The "Communication" page -------------------------------------------------------------------

// clang-format off
wxBEGIN_EVENT_TABLE(DeviceStreamConfigurationManagerConfigurationPanel, wxPanel)
    EVT_INIT_DIALOG(DeviceStreamConfigurationManagerConfigurationPanel::OnInitDialog)
wxEND_EVENT_TABLE()

DeviceStreamConfigurationManagerConfigurationPanel::DeviceStreamConfigurationManagerConfigurationPanel(
    DeviceStreamConfigurationManager *manager,
    std::unique_ptr<DeviceStreamSettingsSnapshot> restoreUnlessStored)
    : mManager(manager), mRestoreUnlessStored(std::move(restoreUnlessStored)) {}
// clang-format on

// A page that goes without having stored (a dialog refused or cancelled) puts the settings back.
DeviceStreamConfigurationManagerConfigurationPanel::~DeviceStreamConfigurationManagerConfigurationPanel() {
    try {
        if (mRestoreUnlessStored)
            mRestoreUnlessStored->Restore();
    } catch (...) {
    }
}

void DeviceStreamConfigurationManagerConfigurationPanel::OnInitDialog(wxInitDialogEvent &event) {
    event.Skip(true);
}

bool DeviceStreamConfigurationManagerConfigurationPanel::TransferDataToWindow() {
    auto *book = dynamic_cast<wxNotebook *>(FindWindow(StreamListControl));
    if (book != nullptr && mManager != nullptr && !mManager->GetConfigurations().empty()) {
        book->DeleteAllPages();
        PanelResourceNameList pages;
        for (const auto &entry : mManager->GetConfigurations())
            entry.second->AddConfigurationDialogPanels(nullptr, pages);
        LoadPanelFromResource(book, pages);
        mbEveryKindShown = true;
        for (const auto &page : pages)
            if (page && page->GetPanel() != nullptr && page->GetPanel()->GetParent() != book)
                mbEveryKindShown = false;
        DeleteConfigurationPages(pages);
        const wxString selected = wxString::FromUTF8(mManager->GetSelected().c_str());
        if (!selected.empty())
            for (size_t i = 0; i < book->GetPageCount(); ++i)
                if (book->GetPageText(i) == selected)
                    book->SetSelection(i);
    }
    return wxPanel::TransferDataToWindow();
}

bool DeviceStreamConfigurationManagerConfigurationPanel::TransferDataFromWindow() {
    auto *book = dynamic_cast<wxNotebook *>(FindWindow(StreamListControl));
    if (book != nullptr && mManager != nullptr && book->GetSelection() != wxNOT_FOUND && mbEveryKindShown)
        mManager->SetSelected(WxStringToStdString(book->GetPageText(book->GetSelection())));
    const bool bStored = wxPanel::TransferDataFromWindow();
    if (bStored)
        mRestoreUnlessStored.reset();
    return bStored;
}

bool DeviceStreamConfigurationManagerConfigurationPanel::Validate() {
    return wxPanel::Validate();
}
