// The bases of every configuration panel and dialog, and the helpers that bind a page's controls:
// attaching validators by resource name, enabling controls by name and the window walk that runs
// before a configuration window is shown.
//
// A page derives from ValidatorBasedPanel (or ValidatorBasedDialog), is loaded from its XRC
// resource by the window that shows it, and attaches its validators in its wxEVT_INIT_DIALOG
// handler, which then skips the event so that wx transfers the values into the controls.
#pragma once

#include <string>
#include <type_traits>

#include <wx/dialog.h>
#include <wx/panel.h>
#include <wx/string.h>
#include <wx/toplevel.h>

class wxObject;
class wxValidator;
class wxWindow;

// The window's label; its name when the label is empty. Windows loaded from XRC carry no label on
// GTK, while the showing routines tell a loaded window by a non-empty label.
wxString WindowLabelOrName(const wxWindow *window);

template <typename W> class ValidatorSupport : public W {
public:
    ValidatorSupport() = default;
    ~ValidatorSupport() override = default;

    // A panel without label is known by its name; a dialog's label is its title, which stays as
    // it is (an empty title is reported when the dialog is loaded).
    wxString GetLabel() const override {
        const wxString label = W::GetLabel();
        if constexpr (std::is_base_of_v<wxTopLevelWindow, W>)
            return label;
        else
            return label.empty() ? W::GetName() : label;
    }
};

class ValidatorBasedPanel : public ValidatorSupport<wxPanel> {
public:
    ValidatorBasedPanel() = default;
};

class ValidatorBasedDialog : public ValidatorSupport<wxDialog> {
public:
    ValidatorBasedDialog() = default;
};

// Gives the control a copy of the validator (wxWindow::SetValidator clones it), then deletes the
// validator, also when there is no control. A null validator does nothing.
void SetValidatorAndDelete(wxWindow *control, wxValidator *validator);

// Finds the panel's child by its resource name and hands it and the validator to
// SetValidatorAndDelete: the validator is always consumed.
void AttachValidator(wxWindow *panel, const std::string &sName, wxValidator *validator);

// Enables or disables the child of that resource name; a name that matches no child does nothing.
void EnableControl(wxWindow *panel, const std::string &sName, bool bEnable);

// Null does nothing. A window root gets its own extra style again; then every child, in wx's child
// order, that is a wxPanel or a wxNotebook gets extra style 0, and the walk descends into every
// child.
void ForEachChildWindow(wxObject *root);
