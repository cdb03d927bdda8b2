// The RAW option page: its validator and its event handlers.
#include "core/RAWControlConfigPanel.h"

#include <wx/checkbox.h>
#include <wx/xrc/xmlres.h>

#include "core/ADConvertorBase.h"
#include "ui/wxCustomValidator.h"

// clang-format off
wxBEGIN_EVENT_TABLE(RAWControlConfigPanel, ValidatorBasedPanel)
    EVT_INIT_DIALOG(RAWControlConfigPanel::OnInitDialog)
    EVT_SHOW(RAWControlConfigPanel::OnUpdateControls)
    EVT_CHECKBOX(XRCID("ID_USE_RAW_VALUE"), RAWControlConfigPanel::OnUpdateControls)
wxEND_EVENT_TABLE()

RAWControlConfigPanel::RAWControlConfigPanel(RAWControl *pRAWControl) : mRAWControl(pRAWControl) {}
// clang-format on

void RAWControlConfigPanel::OnInitDialog(wxInitDialogEvent &event) {
    AttachValidator(this, UseRAWValueControl,
                    new wxTemplatePropertyValidator<RAWControl, bool>(mRAWControl, &RAWControl::GetUseRAW,
                                                                      &RAWControl::SetUseRAW, "%d"));
    UpdateControls();
    // The panel's own handling then fills the check box from the option.
    event.Skip(true);
}

void RAWControlConfigPanel::OnUpdateControls(wxShowEvent &event) {
    UpdateControls();
    event.Skip(true);
}

void RAWControlConfigPanel::OnUpdateControls(wxCommandEvent &event) {
    UpdateControls();
    event.Skip(true);
}

void RAWControlConfigPanel::UpdateControls() {}

bool IsCheckBoxChecked(wxWindow *window, const std::string &sName) {
    if (window == nullptr)
        return false;
    auto *checkBox = dynamic_cast<wxCheckBox *>(window->FindWindow(wxString::FromUTF8(sName.c_str())));
    return checkBox != nullptr && checkBox->IsChecked();
}
