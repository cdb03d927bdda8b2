// The RS-232 pages shown in the generic dialog under Xvfb: what each control shows, whether it is
// enabled, what a combo box offers, and a screenshot of the painted page.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <wx/combobox.h>

#include "ui/ConfigurationWindowFixture.h"

class RS232PagesTest : public ConfigurationWindowTest {
protected:
    struct Control {
        std::string Text;
        bool Enabled = false;
        std::vector<std::string> Items; // combo boxes only
    };

    static Control Inspect(wxWindow &dialog, const char *name) {
        Control control;
        wxWindow *window = dialog.FindWindow(name);
        if (window == nullptr) {
            ADD_FAILURE() << "no control " << name;
            return control;
        }
        control.Enabled = window->IsEnabled();
        if (auto *combo = dynamic_cast<wxComboBox *>(window)) {
            control.Text = combo->GetValue().utf8_string();
            for (unsigned i = 0; i < combo->GetCount(); ++i)
                control.Items.push_back(combo->GetString(i).utf8_string());
        } else if (auto *text = dynamic_cast<wxTextCtrl *>(window)) {
            control.Text = text->GetValue().utf8_string();
        } else if (auto *check = dynamic_cast<wxCheckBox *>(window)) {
            control.Text = check->IsChecked() ? "checked" : "unchecked";
        }
        return control;
    }

    // Runs the showing call with a sink that shows the dialog, saves a screenshot of the painted
    // page as build/screenshots/<shot>.png, hands the dialog to the check and answers with its result.
    void Answer(const std::string &shot, const std::function<int(wxDialog &)> &check) {
        SetModalDialogSink([this, shot, check](wxDialog &dialog) {
            mShown = true;
            dialog.Show();
            EXPECT_TRUE(Screenshot::Capture(dialog, dialog, shot));
            return check(dialog);
        });
    }

    bool mShown = false;
};
