// The GPIB/RS-232 choice of a driver that reaches its instrument either way: one number,
// "Communication" (1 GPIB, anything else RS-232), stored at the settings table that is current
// when it is loaded or saved. GPIBRS232Configuration shows it as two radio buttons with a set-up
// button each, as the dialog "GPIBRS232Communication" or the page "GPIBRS232Panel"; a set-up button
// opens the GPIB or RS-232 settings of the same driver object, when it is one.
#pragma once

#include <memory>
#include <string>

#include <wx/event.h>

#include "core/PanelResourceName.h"
#include "platform/HostTypes.h"
#include "ui/ValidatorBasedPanel.h"

class ProgramSettingsDatabase;

class GPIBRS232 {
public:
    GPIBRS232() = default;
    virtual ~GPIBRS232() = default;

    // The dialog, titled with "TEST" after the given title; 0 whatever it answered.
    virtual DWORD ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle);
    // Adds the page "GPIBRS232Panel" titled "GPIB/RS232"; 0.
    virtual DWORD AddConfigurationPanel(HostWindow hWnd, PanelResourceNameList &panels);
    // "Communication" at the database's current table, the current value as default; 0, also
    // without a database.
    virtual DWORD LoadConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database);
    virtual DWORD SaveConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database);
    virtual void SetCommunication(int nCommunication);

    int GetCommunication() const { return mnCommunication; }
    bool IsGPIB() const { return mnCommunication == 1; }
    bool IsRS232() const { return !IsGPIB(); }
    void SetGPIB(bool bGPIB) { mnCommunication = bGPIB ? 1 : 0; }
    void SetRS232(bool bRS232) { SetGPIB(!bRS232); }

    static constexpr const char *CommunicationKey = "Communication";
    static constexpr const char *DialogResourceName = "GPIBRS232Communication";
    static constexpr const char *PanelResourceNameText = "GPIBRS232Panel";

private:
    int mnCommunication = 0;
};

// B is ValidatorBasedDialog (the dialog) or ValidatorBasedPanel (the page).
template <typename B> class GPIBRS232Configuration : public B {
public:
    // The choice is not owned; it outlives the window.
    explicit GPIBRS232Configuration(GPIBRS232 *pChoice);

    void OnInitDialog(wxInitDialogEvent &event);
    void OnShow(wxShowEvent &event);
    void OnRadio(wxCommandEvent &event);
    void OnGPIBSetup(wxCommandEvent &event);
    void OnRS232Setup(wxCommandEvent &event);
    // The GPIB set-up button is enabled exactly when GPIB is chosen, the RS-232 one otherwise.
    void UpdateSetupButtons();

    GPIBRS232 *GetChoice() const { return mChoice; }

private:
    GPIBRS232 *mChoice;
};

extern template class GPIBRS232Configuration<ValidatorBasedDialog>;
extern template class GPIBRS232Configuration<ValidatorBasedPanel>;
