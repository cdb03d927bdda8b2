// Checks shared by the two VISA resource pages: each stored name opens on its choice, OK without an
// edit stores the name unchanged, and each opened page is photographed under build/screenshots.
#pragma once

#include <functional>
#include <string>

#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>

#include "ui/ConfigurationWindowFixture.h"

namespace VisaPages {

struct PageCase {
    const char *stored;
    const char *checked; // the radio button that is checked
    const char *control; // a control and the text it shows
    const char *shown;
};

// Cases both pages read alike.
inline const PageCase CommonCases[] = {
    {"", "ID_RADVISA", "ID_TXTVISA", ""},
    {"MyAlias", "ID_RADALIAS", "ID_TXTALIAS", "MyAlias"},
    {"ASRL3::INSTR", "ID_RADRS232", "ID_CBORS232", "COM3"},
    {"GPIB0::12::INSTR", "ID_RADGPIB", "ID_OPTGPIB", "12"},
    {"TCPIP0::myscope::INSTR", "ID_RADVISA", "ID_TXTLAN", "10.10.10.10"},
    {"ASRL40::INSTR", "ID_RADVISA", "ID_TXTVISA", "ASRL40::INSTR"},
    {"GPIB1::12::INSTR", "ID_RADVISA", "ID_TXTVISA", "GPIB1::12::INSTR"},
    {"TCPIP0::192.168.0.9::INSTR", "ID_RADLAN", "ID_TXTLAN", "192.168.0.9"},
};

inline std::string ControlText(wxWindow &page, const char *name) {
    wxWindow *window = page.FindWindow(name);
    if (auto *text = dynamic_cast<wxTextCtrl *>(window))
        return ToStdString(text->GetValue());
    if (auto *choice = dynamic_cast<wxChoice *>(window))
        return ToStdString(choice->GetStringSelection());
    return "<no control " + std::string(name) + ">";
}

inline bool IsChecked(wxWindow &page, const char *name) {
    auto *radio = dynamic_cast<wxRadioButton *>(page.FindWindow(name));
    return radio != nullptr && radio->GetValue();
}

// Checks a radio button as a person does: its value, then its event.
inline void Click(wxWindow &page, const char *name) {
    auto *radio = dynamic_cast<wxRadioButton *>(page.FindWindow(name));
    ASSERT_NE(nullptr, radio) << name;
    radio->SetValue(true);
    wxCommandEvent event(wxEVT_RADIOBUTTON, radio->GetId());
    event.SetEventObject(radio);
    event.SetInt(1);
    radio->GetEventHandler()->ProcessEvent(event);
}

class VisaPageTest : public ConfigurationWindowTest {
protected:
    // Shows the page for a stored name through show() and answers OK; photographs it when
    // screenshot is not empty. Returns the name stored afterwards via stored().
    void OpenAndConfirm(const PageCase &c, const std::function<void()> &show, const std::string &screenshot,
                        const std::function<void(wxDialog &)> &edit = nullptr) {
        bool bShown = false;
        SetModalDialogSink([&](wxDialog &dialog) {
            bShown = true;
            EXPECT_TRUE(IsChecked(dialog, c.checked)) << c.stored;
            EXPECT_EQ(c.shown, ControlText(dialog, c.control)) << c.stored;
            if (!screenshot.empty())
                Photograph(dialog, screenshot);
            if (edit)
                edit(dialog);
            return wxID_OK;
        });
        show();
        EXPECT_TRUE(bShown);
    }

    // Saves build/screenshots/<name>.png once every control of the page shows.
    static void Photograph(wxDialog &dialog, const std::string &name) {
        dialog.Show();
        EXPECT_TRUE(Screenshot::Capture(dialog, dialog, name));
    }

    TestSupport::TempDir mScratch;
};

} // namespace VisaPages
