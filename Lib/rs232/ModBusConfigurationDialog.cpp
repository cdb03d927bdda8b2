// The ModBus address dialog: the address binding and the serial settings button.
#include "rs232/ModBusConfigurationDialog.h"

#include <wx/xrc/xmlres.h>

#include "rs232/ModBusDeviceDriver.h"
#include "ui/wxCustomValidator.h"

// clang-format off
wxBEGIN_EVENT_TABLE(ModBusConfigurationDialog, ValidatorBasedDialog)
    EVT_INIT_DIALOG(ModBusConfigurationDialog::OnInitDialog)
    EVT_BUTTON(XRCID("ID_COMPORT"), ModBusConfigurationDialog::OnRS232Configuration)
wxEND_EVENT_TABLE()

ModBusConfigurationDialog::ModBusConfigurationDialog(ModBusDeviceDriver *pDriver)
    : mDriver(pDriver) {}
// clang-format on

void ModBusConfigurationDialog::OnInitDialog(wxInitDialogEvent &event) {
    if (FindWindow("ID_ADDRESS") != nullptr)
        AttachValidator(this, "ID_ADDRESS",
                        new wxTemplatePropertyValidator<ModBusDeviceDriver, unsigned char>(
                            mDriver, &ModBusDeviceDriver::GetAddress, &ModBusDeviceDriver::SetAddress, "%d"));
    event.Skip(true);
}

void ModBusConfigurationDialog::OnRS232Configuration(wxCommandEvent &) {
    mDriver->CreateConfigurationPanel(static_cast<HostWindow>(wxGetTopLevelParent(this)),
                                      "RS232 Configuration");
}
