// Visa: one VisaBase session bound to the settings (table "VISA", key "Identifier") and to the page
// "VisaConfiguration" titled "VISA"; its slots pass the session operations through, so that code
// holding a Visa reaches them like any other configurable object. The session binds only
// "visa32.DLL". VisaConfigurationDialog is that page for a Visa.
#pragma once

#include <memory>
#include <string>

#include <wx/event.h>

#include "core/PanelResourceName.h"
#include "core/SavableLoadableClass.h"
#include "visa/VisaBase.h"
#include "visa/VisaResourcePage.h"

class Visa : public SaveLoadConfigurationConvertor {
public:
    static constexpr const char *SettingsTable = "VISA";
    static constexpr const char *IdentifierKey = "Identifier";

    Visa();
    ~Visa() override;

    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    virtual DWORD ShowConfigurationDialog(HostWindow hWnd);
    virtual DWORD ShowConfigurationPanel(HostWindow hWnd, const std::string &sTitle);
    virtual DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels);
    virtual DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *buffer, uint32_t size,
                                 uint32_t *length);
    virtual DWORD CheckIdentification(HostWindow hWnd, const std::string &sExpected);
    virtual DWORD WriteRead(HostWindow hWnd, const std::string &sCommand, size_t nCount,
                            std::string &sResponse);
    virtual DWORD ClearInputBuffers(HostWindow hWnd);
    virtual DWORD ClearOutputBuffers(HostWindow hWnd);
    virtual DWORD ClearDevice(HostWindow hWnd);
    virtual DWORD Lock(HostWindow hWnd, ViUInt32 milliseconds);
    virtual DWORD Unlock(HostWindow hWnd);
    virtual DWORD FlushInputBuffers(HostWindow hWnd);
    virtual DWORD FlushOutputBuffers(HostWindow hWnd);

    std::string GetResourceName() const { return mSession.GetResourceName(); }
    void SetResourceName(const std::string &sName) { mSession.SetResourceName(sName); }
    DWORD Open(ViUInt32 openTimeout) { return mSession.OpenDevice(openTimeout); }
    DWORD Close() { return mSession.CloseAll(); }
    void SetReadChunkSize(ViUInt32 nSize) { mSession.SetReadChunkSize(nSize); }
    void SetUnchunkedRead(bool bUnchunked) { mSession.SetUnchunkedRead(bUnchunked); }
    VisaBase &GetSession() { return mSession; }
    const VisaBase &GetSession() const { return mSession; }

private:
    VisaBase mSession;
};

class VisaConfigurationDialog : public VisaResourcePage {
public:
    // The owner is not owned; it outlives the page.
    explicit VisaConfigurationDialog(Visa *owner);

    void OnInit(wxInitDialogEvent &event);
    void OnResourceChanged(wxCommandEvent &event);
    void OnAliasText(wxCommandEvent &event);
    void OnLanText(wxCommandEvent &event);
    void OnVisaText(wxCommandEvent &event);
    bool TransferDataFromWindow() override;

private:
    Visa *mOwner;

    wxDECLARE_EVENT_TABLE();
};
