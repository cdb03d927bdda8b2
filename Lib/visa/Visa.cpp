// Visa's settings, its page and the pass-through of the session operations.
#include "visa/Visa.h"

#include <wx/xrc/xmlres.h>

#include "core/ProgramSettingsDatabase.h"
#include "core/ResourceWindows.h"

Visa::Visa() : mSession(VisaSystemLibraryOnly) {}

Visa::~Visa() = default;

DWORD Visa::LoadProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(SettingsTable);
    SetResourceName(database->ReadStdString(IdentifierKey, GetResourceName()));
    database->PopTable();
    return 0;
}

DWORD Visa::SaveProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(SettingsTable);
    database->WriteStdString(IdentifierKey, GetResourceName());
    database->PopTable();
    return 0;
}

DWORD Visa::ShowConfigurationDialog(HostWindow hWnd) {
    return ShowConfigurationPanel(hWnd, std::string());
}

DWORD Visa::ShowConfigurationPanel(HostWindow hWnd, const std::string &sTitle) {
    ShowConfigurationWindowAsDialog(new VisaConfigurationDialog(this), hWnd, VisaConfigurationResource,
                                    wxString::FromUTF8(sTitle.c_str()));
    return 0;
}

DWORD Visa::AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new VisaConfigurationDialog(this), VisaConfigurationResource,
                                     VisaConfigurationTitle);
    return 0;
}

DWORD Visa::GetErrorString(HostWindow hWnd, DWORD dwCode, char *buffer, uint32_t size, uint32_t *length) {
    return mSession.GetErrorString(hWnd, dwCode, buffer, size, length);
}

DWORD Visa::CheckIdentification(HostWindow, const std::string &sExpected) {
    return mSession.CheckIdentification(sExpected);
}

DWORD Visa::WriteRead(HostWindow, const std::string &sCommand, size_t nCount, std::string &sResponse) {
    return mSession.WriteRead(sCommand, nCount, sResponse);
}

DWORD Visa::ClearInputBuffers(HostWindow) {
    return mSession.ClearInputBuffers();
}

DWORD Visa::ClearOutputBuffers(HostWindow) {
    return mSession.ClearOutputBuffers();
}

DWORD Visa::ClearDevice(HostWindow) {
    return mSession.ClearDevice();
}

DWORD Visa::Lock(HostWindow, ViUInt32 milliseconds) {
    return mSession.Lock(milliseconds);
}

DWORD Visa::Unlock(HostWindow) {
    return mSession.Unlock();
}

DWORD Visa::FlushInputBuffers(HostWindow) {
    return mSession.FlushInputBuffers();
}

DWORD Visa::FlushOutputBuffers(HostWindow) {
    return mSession.FlushOutputBuffers();
}

// ---- The page ----------------------------------------------------------------------------------

namespace {

// This page reads stored names without regard to case; its LAN pattern takes a dotted quad only.
const VisaResourcePatterns VisaPanelPatterns = {
    true,
    "^ASRL([0-9]+)::INSTR",
    "^GPIB0::([0-9]+)::INSTR",
    "^TCPIP[0-9]?::((?:[0-9]+\\.){3}[0-9]+)::INSTR",
};

} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(VisaConfigurationDialog, VisaResourcePage)
    EVT_INIT_DIALOG(VisaConfigurationDialog::OnInit)
    EVT_RADIOBUTTON(XRCID("ID_RADALIAS"), VisaConfigurationDialog::OnResourceChanged)
    EVT_RADIOBUTTON(XRCID("ID_RADGPIB"), VisaConfigurationDialog::OnResourceChanged)
    EVT_RADIOBUTTON(XRCID("ID_RADLAN"), VisaConfigurationDialog::OnResourceChanged)
    EVT_RADIOBUTTON(XRCID("ID_RADRS232"), VisaConfigurationDialog::OnResourceChanged)
    EVT_RADIOBUTTON(XRCID("ID_RADVISA"), VisaConfigurationDialog::OnResourceChanged)
    EVT_TEXT(XRCID("ID_TXTALIAS"), VisaConfigurationDialog::OnAliasText)
    EVT_TEXT(XRCID("ID_TXTLAN"), VisaConfigurationDialog::OnLanText)
    EVT_TEXT(XRCID("ID_TXTVISA"), VisaConfigurationDialog::OnVisaText)
    EVT_CHOICE(XRCID("ID_CBORS232"), VisaConfigurationDialog::OnResourceChanged)
    EVT_CHOICE(XRCID("ID_OPTGPIB"), VisaConfigurationDialog::OnResourceChanged)
wxEND_EVENT_TABLE()

VisaConfigurationDialog::VisaConfigurationDialog(Visa *owner)
    : VisaResourcePage(VisaPanelPatterns), mOwner(owner) {}
// clang-format on

void VisaConfigurationDialog::OnInit(wxInitDialogEvent &event) {
    InitialisePage(mOwner != nullptr ? mOwner->GetResourceName() : std::string());
    wxCommandEvent none;
    OnResourceChanged(none);
    event.Skip(true);
}

void VisaConfigurationDialog::OnResourceChanged(wxCommandEvent &event) {
    RebuildResourceName();
    event.Skip(true);
}

void VisaConfigurationDialog::OnAliasText(wxCommandEvent &) {
    TakeText(mTxtAlias);
    wxCommandEvent none;
    OnResourceChanged(none);
}

void VisaConfigurationDialog::OnLanText(wxCommandEvent &) {
    TakeText(mTxtLan);
    wxCommandEvent none;
    OnResourceChanged(none);
}

void VisaConfigurationDialog::OnVisaText(wxCommandEvent &) {
    TakeText(mTxtVisa);
}

bool VisaConfigurationDialog::TransferDataFromWindow() {
    if (mOwner != nullptr)
        mOwner->SetResourceName(msResource);
    return true;
}
