// The page on which a VISA resource name is built from an alias, a GPIB address, a LAN address, a
// serial port or free VISA text (XRC panel "VisaConfiguration"). VisaConfigurationDialog and the
// VISA stream's page share this base; they differ only in how strictly they read a stored name.
// Controls are filled with ChangeValue, so that filling them runs no text handler; a stored GPIB
// address or port number the choices do not hold opens on the free-text field.
#pragma once

#include <string>

#include <wx/panel.h>

class wxChoice;
class wxRadioButton;
class wxTextCtrl;

inline constexpr const char *VisaConfigurationResource = "VisaConfiguration";
inline constexpr const char *VisaConfigurationTitle = "VISA";
// What the LAN field shows when the stored name holds no address.
inline constexpr const char *VisaDefaultLanAddress = "10.10.10.10";

// How a stored name is read back into the controls.
struct VisaResourcePatterns {
    bool bIgnoreCase;
    const char *sSerialPattern; // group 1: the port number
    const char *sGpibPattern;   // group 1: the address
    const char *sLanPattern;    // group 1: the host
};

class VisaResourcePage : public wxPanel {
public:
    static constexpr int ChoiceItems = 32;

    // The resource name being built.
    const std::string &GetResource() const { return msResource; }

protected:
    explicit VisaResourcePage(const VisaResourcePatterns &patterns) : mPatterns(patterns) {}

    // Hides the warning when VISA loads, finds the controls, fills them from the name.
    void InitialisePage(const std::string &sResource);
    // Enables the input of the checked choice and builds the name from it.
    void RebuildResourceName();
    // resource = the control's text.
    void TakeText(wxTextCtrl *text);

    std::string msResource;
    wxRadioButton *mRadAlias = nullptr;
    wxRadioButton *mRadGpib = nullptr;
    wxRadioButton *mRadLan = nullptr;
    wxRadioButton *mRadRs232 = nullptr;
    wxRadioButton *mRadVisa = nullptr;
    wxTextCtrl *mTxtAlias = nullptr;
    wxChoice *mOptGpib = nullptr;
    wxTextCtrl *mTxtLan = nullptr;
    wxChoice *mCboRs232 = nullptr;
    wxTextCtrl *mTxtVisa = nullptr;

private:
    VisaResourcePatterns mPatterns;
};
