// The frequency-limit dialog (XRC dialog "FrequencyLimitedDriverBaseDialog"): a use-default check
// box for the start and for the stop of a driver's range, each with a frequency field in MHz that
// the check box switches off. A switched-off field is neither validated nor stored; the check box
// labels name the driver's defaults, rewritten every time the dialog is shown.
#pragma once

#include <wx/event.h>

#include "ui/ValidatorBasedPanel.h"

class FrequencyLimitedDriverBase;

class FrequencyLimitedDriverBaseDialog : public ValidatorBasedDialog {
public:
    // The driver is not owned; it outlives the dialog.
    explicit FrequencyLimitedDriverBaseDialog(FrequencyLimitedDriverBase *pDriver);

    void OnInitDialog(wxInitDialogEvent &event);
    void OnUseDefaultClicked(wxCommandEvent &event);
    void OnShow(wxShowEvent &event);

    // Each frequency field and its two labels are enabled exactly when their check box is clear.
    void UpdateEnabledState();
    // The check box labels with the driver's default frequencies; nothing without a driver.
    void UpdateDefaultFrequencyLabels();

    static constexpr const char *ResourceName = "FrequencyLimitedDriverBaseDialog";

private:
    FrequencyLimitedDriverBase *mDriver;

    wxDECLARE_EVENT_TABLE();
};
