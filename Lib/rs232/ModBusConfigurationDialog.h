// The ModBus address dialog (XRC dialog "ModBusConfigurationDialog"): the station's bus address
// "ID_ADDRESS" and a button "ID_COMPORT" that opens the serial settings of the driver's port (it
// lives here, beside the RS-232 driver, for that reason).
#pragma once

#include <wx/event.h>

#include "ui/ValidatorBasedPanel.h"

class ModBusDeviceDriver;

class ModBusConfigurationDialog : public ValidatorBasedDialog {
public:
    // The driver is not owned; it outlives the dialog.
    explicit ModBusConfigurationDialog(ModBusDeviceDriver *pDriver);

    void OnInitDialog(wxInitDialogEvent &event);
    void OnRS232Configuration(wxCommandEvent &event);

    static constexpr const char *ResourceName = "ModBusConfigurationDialog";

private:
    ModBusDeviceDriver *mDriver;

    wxDECLARE_EVENT_TABLE();
};
