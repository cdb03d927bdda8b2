// The settings page of a serial port (XRC panel "RS232Configuration"): the port number always
// editable, the four line parameters as combo boxes that their editable flags enable.
#pragma once

#include <wx/event.h>

#include "ui/ValidatorBasedPanel.h"

class RS232Configuration;

class RS232ConfigurationPanel : public ValidatorBasedPanel {
public:
    // The configuration is not owned.
    explicit RS232ConfigurationPanel(RS232Configuration *configuration);

    void OnInitDialog(wxInitDialogEvent &event);

private:
    RS232Configuration *mConfiguration;

    wxDECLARE_EVENT_TABLE();
};
