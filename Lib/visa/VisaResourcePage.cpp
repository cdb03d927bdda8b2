// Filling the VISA resource page from a stored name and building the name from the controls.
#include "visa/VisaResourcePage.h"

#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "core/StringUtils.h"
#include "platform/DynamicLibrary.h"
#include "visa/VisaLibrary.h"

namespace {

template <typename T> T *FindControl(wxWindow *page, const char *name) {
    return dynamic_cast<T *>(page->FindWindow(name));
}

bool IsChecked(wxRadioButton *radio) {
    return radio != nullptr && radio->GetValue();
}

void Check(wxRadioButton *radio) {
    if (radio != nullptr)
        radio->SetValue(true);
}

void ShowText(wxTextCtrl *text, const std::string &sValue) {
    if (text != nullptr)
        text->ChangeValue(wxString::FromUTF8(sValue.c_str()));
}

std::string TextOf(wxTextCtrl *text) {
    return text != nullptr ? ToStdString(text->GetValue()) : std::string();
}

// The number of group 1 when it names an item of the choices (1 to 32), else 0.
int ChoiceNumber(const std::string &sText, const char *pattern, bool bIgnoreCase) {
    int n = 0;
    if (RegExMatch(sText, pattern, n, bIgnoreCase) != 0)
        return 0;
    return n >= 1 && n <= VisaResourcePage::ChoiceItems ? n : 0;
}

} // namespace

void VisaResourcePage::InitialisePage(const std::string &sResource) {
    {
        VisaLibrary probe(VisaSystemLibraryOnly);
        bool bAvailable = false;
        probe.IsAvailable(bAvailable);
        if (bAvailable) {
            for (const char *name : {"ID_TWARNING", "ID_IWARNING", "ID_LWARNING"})
                if (wxWindow *warning = FindWindow(name))
                    warning->Hide();
        } else if (auto *text = dynamic_cast<wxStaticText *>(FindWindow("ID_TWARNING"))) {
            // The file looked for: its path when KORVALIS_LIBRARY_PATH holds one that did not load.
            const std::string sFile = Platform::FindLibraryFile(VisaSystemLibraryName);
            text->SetLabel(wxString::FromUTF8(
                FormatString("The VISA library %s could not be loaded. Is VISA installed?\nIt is looked for "
                             "in the folders of KORVALIS_LIBRARY_PATH, then by the dynamic loader.",
                             sFile.c_str())
                    .c_str()));
            // The page grows to the longer text: a dialog around it takes the page's size.
            Fit();
        }
    }
    msResource = sResource;
    mRadAlias = FindControl<wxRadioButton>(this, "ID_RADALIAS");
    mRadGpib = FindControl<wxRadioButton>(this, "ID_RADGPIB");
    mRadLan = FindControl<wxRadioButton>(this, "ID_RADLAN");
    mRadRs232 = FindControl<wxRadioButton>(this, "ID_RADRS232");
    mRadVisa = FindControl<wxRadioButton>(this, "ID_RADVISA");
    mTxtAlias = FindControl<wxTextCtrl>(this, "ID_TXTALIAS");
    mOptGpib = FindControl<wxChoice>(this, "ID_OPTGPIB");
    mTxtLan = FindControl<wxTextCtrl>(this, "ID_TXTLAN");
    mCboRs232 = FindControl<wxChoice>(this, "ID_CBORS232");
    mTxtVisa = FindControl<wxTextCtrl>(this, "ID_TXTVISA");

    for (int i = 1; i <= ChoiceItems; ++i) {
        if (mOptGpib != nullptr)
            mOptGpib->Append(wxString::FromUTF8(FormatValue<int>(i, "%i").c_str()));
        if (mCboRs232 != nullptr)
            mCboRs232->Append(wxString::FromUTF8(FormatValue<int>(i, "COM%i").c_str()));
    }
    if (mOptGpib != nullptr)
        mOptGpib->SetSelection(0);
    if (mCboRs232 != nullptr)
        mCboRs232->SetSelection(0);

    if (msResource.find("::") == std::string::npos) {
        if (msResource.empty()) {
            Check(mRadVisa);
            ShowText(mTxtVisa, msResource);
        } else {
            Check(mRadAlias);
            ShowText(mTxtAlias, msResource);
        }
        ShowText(mTxtLan, VisaDefaultLanAddress);
        return;
    }
    bool bFound = false;
    int n = ChoiceNumber(msResource, mPatterns.sSerialPattern, mPatterns.bIgnoreCase);
    if (n > 0) {
        Check(mRadRs232);
        if (mCboRs232 != nullptr)
            mCboRs232->SetSelection(n - 1);
        bFound = true;
    }
    n = ChoiceNumber(msResource, mPatterns.sGpibPattern, mPatterns.bIgnoreCase);
    if (n > 0) {
        Check(mRadGpib);
        if (mOptGpib != nullptr)
            mOptGpib->SetSelection(n - 1);
        bFound = true;
    }
    std::string sHost;
    RegexMatch(msResource, mPatterns.sLanPattern, sHost, mPatterns.bIgnoreCase);
    if (!sHost.empty()) {
        Check(mRadLan);
        ShowText(mTxtLan, sHost);
        bFound = true;
    } else {
        ShowText(mTxtLan, VisaDefaultLanAddress);
    }
    if (!bFound) {
        Check(mRadVisa);
        ShowText(mTxtVisa, msResource);
    }
}

void VisaResourcePage::RebuildResourceName() {
    if (mTxtAlias != nullptr)
        mTxtAlias->Enable(IsChecked(mRadAlias));
    if (IsChecked(mRadAlias))
        msResource = TextOf(mTxtAlias);
    if (mOptGpib != nullptr)
        mOptGpib->Enable(IsChecked(mRadGpib));
    if (IsChecked(mRadGpib) && mOptGpib != nullptr)
        msResource = FormatString("GPIB0::%li::INSTR", static_cast<long>(mOptGpib->GetSelection()) + 1);
    if (mTxtLan != nullptr)
        mTxtLan->Enable(IsChecked(mRadLan));
    if (IsChecked(mRadLan))
        msResource = FormatString("TCPIP0::%s::INSTR", TextOf(mTxtLan).c_str());
    if (mCboRs232 != nullptr)
        mCboRs232->Enable(IsChecked(mRadRs232));
    if (IsChecked(mRadRs232) && mCboRs232 != nullptr)
        msResource = FormatString("ASRL%li::INSTR", static_cast<long>(mCboRs232->GetSelection()) + 1);
    if (mTxtVisa != nullptr) {
        ShowText(mTxtVisa, msResource);
        mTxtVisa->Enable(IsChecked(mRadVisa));
    }
}

void VisaResourcePage::TakeText(wxTextCtrl *text) {
    if (text != nullptr)
        msResource = TextOf(text);
}
