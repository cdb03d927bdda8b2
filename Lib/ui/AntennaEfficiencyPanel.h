// The efficiency page of an antenna driver (XRC panel "AntennaEfficiencyPanel"): one floating-point
// spin control "ID_EFFICIENCY" from 0.00 to 1.00 in steps of 0.01.
#pragma once

#include <wx/event.h>

#include "ui/ValidatorBasedPanel.h"

class AntennaBase;

class AntennaEfficiencyPanel : public ValidatorBasedPanel {
public:
    // The antenna is not owned; it outlives the page.
    explicit AntennaEfficiencyPanel(AntennaBase *pAntenna);

    void OnInitDialog(wxInitDialogEvent &event);

    static constexpr const char *ResourceName = "AntennaEfficiencyPanel";

private:
    AntennaBase *mAntenna;

    wxDECLARE_EVENT_TABLE();
};
