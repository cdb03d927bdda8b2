// The GPIB/RS-232 choice, its settings key and its dialog and page.
#include "gpib/GPIBRS232.h"

#include <wx/radiobut.h>
#include <wx/xrc/xmlres.h>

#include "core/ProgramSettingsDatabase.h"
#include "core/ResourceWindows.h"
#include "gpib/NI488GPIB.h"
#include "rs232/RS232DeviceDriver.h"
#include "ui/wxCustomValidator.h"

DWORD GPIBRS232::ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) {
    ShowConfigurationWindowAsDialog(new GPIBRS232Configuration<ValidatorBasedDialog>(this), hWnd,
                                    DialogResourceName, wxString(sTitle) + "TEST");
    return 0;
}

DWORD GPIBRS232::AddConfigurationPanel(HostWindow, PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new GPIBRS232Configuration<ValidatorBasedPanel>(this),
                                     PanelResourceNameText, "GPIB/RS232");
    return 0;
}

DWORD GPIBRS232::LoadConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (database)
        mnCommunication = database->ReadInt(CommunicationKey, mnCommunication);
    return 0;
}

DWORD GPIBRS232::SaveConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (database)
        database->WriteInt(CommunicationKey, mnCommunication);
    return 0;
}

void GPIBRS232::SetCommunication(int nCommunication) {
    mnCommunication = nCommunication;
}

template <typename B>
GPIBRS232Configuration<B>::GPIBRS232Configuration(GPIBRS232 *pChoice) : mChoice(pChoice) {
    this->Bind(wxEVT_INIT_DIALOG, &GPIBRS232Configuration::OnInitDialog, this);
    this->Bind(wxEVT_SHOW, &GPIBRS232Configuration::OnShow, this);
    this->Bind(wxEVT_BUTTON, &GPIBRS232Configuration::OnRS232Setup, this, XRCID("ID_RS232SETUP"));
    this->Bind(wxEVT_BUTTON, &GPIBRS232Configuration::OnGPIBSetup, this, XRCID("ID_GPIBSETUP"));
    this->Bind(wxEVT_RADIOBUTTON, &GPIBRS232Configuration::OnRadio, this, XRCID("ID_RS232RADIO"));
    this->Bind(wxEVT_RADIOBUTTON, &GPIBRS232Configuration::OnRadio, this, XRCID("ID_GPIBRADIO"));
}

template <typename B> void GPIBRS232Configuration<B>::OnInitDialog(wxInitDialogEvent &event) {
    SetValidatorAndDelete(this->FindWindow("ID_GPIBRADIO"),
                          new wxTemplatePropertyValidator<GPIBRS232, bool>(mChoice, &GPIBRS232::IsGPIB,
                                                                           &GPIBRS232::SetGPIB, "%d"));
    SetValidatorAndDelete(this->FindWindow("ID_RS232RADIO"),
                          new wxTemplatePropertyValidator<GPIBRS232, bool>(mChoice, &GPIBRS232::IsRS232,
                                                                           &GPIBRS232::SetRS232, "%d"));
    // The base then sets the radio buttons. A modal run sends its show event before this one, so
    // the set-up buttons follow the stored choice once the radio buttons are set.
    event.Skip(true);
    this->CallAfter(&GPIBRS232Configuration::UpdateSetupButtons);
}

template <typename B> void GPIBRS232Configuration<B>::OnShow(wxShowEvent &event) {
    UpdateSetupButtons();
    event.Skip(true);
}

template <typename B> void GPIBRS232Configuration<B>::OnRadio(wxCommandEvent &event) {
    UpdateSetupButtons();
    event.Skip(true);
}

template <typename B> void GPIBRS232Configuration<B>::UpdateSetupButtons() {
    auto *gpibRadio = dynamic_cast<wxRadioButton *>(this->FindWindow("ID_GPIBRADIO"));
    const bool bGPIB = gpibRadio != nullptr && gpibRadio->GetValue();
    EnableControl(this, "ID_GPIBSETUP", bGPIB);
    EnableControl(this, "ID_RS232SETUP", !bGPIB);
}

// The settings of the same driver object, when it is a GPIB or an RS-232 driver.
template <typename B> void GPIBRS232Configuration<B>::OnGPIBSetup(wxCommandEvent &) {
    if (auto *gpib = dynamic_cast<NI488GPIB *>(mChoice))
        gpib->ShowConfigurationDialog(static_cast<HostWindow>(wxGetTopLevelParent(this)),
                                      L"GPIB Configuration");
}

template <typename B> void GPIBRS232Configuration<B>::OnRS232Setup(wxCommandEvent &) {
    if (auto *port = dynamic_cast<RS232DeviceDriver *>(mChoice))
        port->CreateConfigurationPanel(static_cast<HostWindow>(wxGetTopLevelParent(this)),
                                       "RS232 Configuration");
}

template class GPIBRS232Configuration<ValidatorBasedDialog>;
template class GPIBRS232Configuration<ValidatorBasedPanel>;
