// The antenna efficiency page: binds the spin control and fixes its range and step.
#include "ui/AntennaEfficiencyPanel.h"

#include <wx/spinctrl.h>

#include "core/AntennaBase.h"
#include "ui/wxCustomValidator.h"

// clang-format off
wxBEGIN_EVENT_TABLE(AntennaEfficiencyPanel, ValidatorBasedPanel)
    EVT_INIT_DIALOG(AntennaEfficiencyPanel::OnInitDialog)
wxEND_EVENT_TABLE()

AntennaEfficiencyPanel::AntennaEfficiencyPanel(AntennaBase *pAntenna) : mAntenna(pAntenna) {}
// clang-format on

void AntennaEfficiencyPanel::OnInitDialog(wxInitDialogEvent &event) {
    AttachValidator(this, "ID_EFFICIENCY",
                    new wxTemplatePropertyValidator<AntennaBase, double>(
                        mAntenna, &AntennaBase::GetEfficiency, &AntennaBase::SetEfficiency, "%lg"));
    if (auto *spin = dynamic_cast<wxSpinCtrlDouble *>(FindWindow("ID_EFFICIENCY"))) {
        spin->SetRange(0.0, 1.0);
        spin->SetIncrement(0.01);
        spin->SetDigits(2);
    }
    event.Skip(true);
}
