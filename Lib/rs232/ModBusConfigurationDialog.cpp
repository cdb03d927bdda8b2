// The ModBus address dialog: the address binding and the serial settings button.
#include "rs232/ModBusConfigurationDialog.h"

#include <wx/xrc/xmlres.h>

#include "core/ModBusDeviceDriver.h"
#include "rs232/RS232DeviceDriver.h"
#include "ui/wxCustomValidator.h"

// clang-format off
wxBEGIN_EVENT_TABLE(ModBusConfigurationDialog, ValidatorBasedDialog)
    EVT_INIT_DIALOG(ModBusConfigurationDialog::OnInitDialog)
    EVT_BUTTON(XRCID("ID_COMPORT"), ModBusConfigurationDialog::OnRS232Configuration)
wxEND_EVENT_TABLE()
    // clang-format on

    ModBusConfigurationDialog::ModBusConfigurationDialog(ModBusDeviceDriver *pDriver)
    : mDriver(pDriver) {}

void ModBusConfigurationDialog::OnInitDialog(wxInitDialogEvent &event) {
    if (FindWindow("ID_ADDRESS") != nullptr)
        AttachValidator(this, "ID_ADDRESS",
                        new wxTemplatePropertyValidator<ModBusDeviceDriver, unsigned char>(
                            mDriver, &ModBusDeviceDriver::GetAddress, &ModBusDeviceDriver::SetAddress, "%d"));
    event.Skip(true);
}

void ModBusConfigurationDialog::OnRS232Configuration(wxCommandEvent &) {
    // The port settings belong to the same driver object, when it is an RS-232 driver.
    if (auto *port = dynamic_cast<RS232DeviceDriver *>(mDriver))
        port->CreateConfigurationPanel(static_cast<HostWindow>(wxGetTopLevelParent(this)),
                                       "RS232 Configuration");
}
