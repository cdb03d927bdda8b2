// Binding controls to validators by resource name, enabling controls by name and the window walk
// before a configuration window is shown.
#include "ui/ValidatorBasedPanel.h"

#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/validate.h>
#include <wx/window.h>

wxString WindowLabelOrName(const wxWindow *window) {
    if (window == nullptr)
        return wxString();
    const wxString label = window->GetLabel();
    return label.empty() ? window->GetName() : label;
}

void SetValidatorAndDelete(wxWindow *control, wxValidator *validator) {
    if (validator == nullptr)
        return;
    if (control != nullptr)
        control->SetValidator(*validator);
    delete validator;
}

void AttachValidator(wxWindow *panel, const std::string &sName, wxValidator *validator) {
    if (validator == nullptr)
        return;
    wxWindow *control = panel != nullptr ? panel->FindWindow(wxString::FromUTF8(sName)) : nullptr;
    SetValidatorAndDelete(control, validator);
}

void EnableControl(wxWindow *panel, const std::string &sName, bool bEnable) {
    if (panel == nullptr)
        return;
    if (wxWindow *control = panel->FindWindow(wxString::FromUTF8(sName)))
        control->Enable(bEnable);
}

void ForEachChildWindow(wxObject *root) {
    if (root == nullptr)
        return;
    wxWindow *window = dynamic_cast<wxWindow *>(root);
    if (window == nullptr)
        return;
    window->SetExtraStyle(window->GetExtraStyle());
    for (wxWindowList::compatibility_iterator node = window->GetChildren().GetFirst(); node;
         node = node->GetNext()) {
        wxWindow *child = node->GetData();
        if (dynamic_cast<wxPanel *>(child) != nullptr || dynamic_cast<wxNotebook *>(child) != nullptr)
            child->SetExtraStyle(0);
        ForEachChildWindow(child);
    }
}
