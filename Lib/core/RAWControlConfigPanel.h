// The configuration page of the use-RAW-value option of an AD converter (XRC panel
// "RAWControlConfigurationPanel", check box "ID_USE_RAW_VALUE"). The check box is bound to the
// driver's RAWControl by a validator when the page is initialised; the option is stored only when
// the dialog's values are transferred back (OK).
#pragma once

#include <string>

#include <wx/event.h>

#include "ui/ValidatorBasedPanel.h"

class RAWControl;
class wxWindow;

class RAWControlConfigPanel : public ValidatorBasedPanel {
public:
    // The control is not owned; it lives as long as its driver.
    explicit RAWControlConfigPanel(RAWControl *pRAWControl);

    void OnInitDialog(wxInitDialogEvent &event);
    void OnUpdateControls(wxShowEvent &event);
    void OnUpdateControls(wxCommandEvent &event);
    // Controls that depend on the option: none on this page.
    void UpdateControls();

    RAWControl *GetRAWControl() const { return mRAWControl; }

    static constexpr const char *UseRAWValueControl = "ID_USE_RAW_VALUE";

private:
    RAWControl *mRAWControl;

    wxDECLARE_EVENT_TABLE();
};

// True only when the window has a child of that name that is a checked check box.
bool IsCheckBoxChecked(wxWindow *window, const std::string &sName);
