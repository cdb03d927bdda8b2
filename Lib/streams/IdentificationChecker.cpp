// The identification check, its mismatch text and the "Identification" page.
#include "streams/IdentificationChecker.h"

#include <wx/button.h>
#include <wx/textctrl.h>
#include <wx/xrc/xmlres.h>

DWORD IdentificationCheckerInformation::CheckIdentification(const std::string &sResponse) {
    if (Contains(sResponse, msExpectedResponse, true) || MatchesRegex(sResponse, msExpectedResponse, true))
        return 0;
    return mdwMismatchCode;
}

void IdentificationCheckerInformation::SetExpectedResponse(const std::string &sExpectedResponse) {
    msExpectedResponse = sExpectedResponse;
}

void IdentificationCheckerInformation::SetIdentificationQuery(const std::string &sQuery) {
    msIdentificationQuery = sQuery;
}

std::string IdentificationMismatchText(const std::string &sReceived, const std::string &sExpected) {
    return "The received identification of the device (\"" + TrimDefault(sReceived) +
           "\") is not matching with the expected identification (\"" + sExpected + "\").";
}

IdentificationCheckerPage::IdentificationCheckerPage(std::string sDefaultExpectedResponse)
    : msDefaultExpectedResponse(std::move(sDefaultExpectedResponse)) {
    Bind(wxEVT_INIT_DIALOG, &IdentificationCheckerPage::OnInitDialog, this);
    Bind(wxEVT_TEXT, &IdentificationCheckerPage::OnTextChanged, this, XRCID(ExpectedResponseControl));
    Bind(wxEVT_BUTTON, &IdentificationCheckerPage::OnRestoreDefault, this, XRCID(RestoreDefaultControl));
}

void IdentificationCheckerPage::OnInitDialog(wxInitDialogEvent &event) {
    AttachExpectedResponseValidator();
    TransferDataToWindow();
    UpdateWarning();
    event.Skip(true);
}

void IdentificationCheckerPage::OnTextChanged(wxCommandEvent &event) {
    UpdateWarning();
    event.Skip(true);
}

void IdentificationCheckerPage::OnRestoreDefault(wxCommandEvent &event) {
    if (auto *text = dynamic_cast<wxTextCtrl *>(FindWindow(ExpectedResponseControl)))
        text->SetValue(wxString::FromUTF8(msDefaultExpectedResponse.c_str()));
    UpdateWarning();
    event.Skip(true);
}

void IdentificationCheckerPage::UpdateWarning() {
    auto *text = dynamic_cast<wxTextCtrl *>(FindWindow(ExpectedResponseControl));
    if (text == nullptr)
        return;
    const bool bDiffers = WxStringToStdString(text->GetValue()) != msDefaultExpectedResponse;
    for (const char *name : {WarningTextControl, WarningIconControl, RestoreDefaultControl})
        if (wxWindow *control = FindWindow(name))
            control->Show(bDiffers);
    Layout();
}
