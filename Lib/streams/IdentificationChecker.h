// Identification checking of the driver-side stream client. The instrument's answer to the
// identification query ("*IDN?" unless a driver sets another) passes when it contains the expected
// response (case ignored) or when the expected response, read as a regular expression, matches it.
//
// IdentificationCheckerInformation holds the query and the expected text; IdentificationChecker<T>
// adds it to a client chain T and remembers the answer of the last failed check for the mismatch
// text; CustomisableIdentificationChecker<T> keeps the driver's default expected text beside the
// one the user may edit on the "Identification" page, stores the edited one in the table
// "Identification" (key "ExpectedResponse") and flags a change.
#pragma once

#include <memory>
#include <string>

#include <wx/event.h>

#include "core/PanelResourceName.h"
#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "platform/HostTypes.h"
#include "ui/ValidatorBasedPanel.h"
#include "ui/wxCustomValidator.h"

class IdentificationCheckerInformation {
public:
    static constexpr DWORD IdentificationMismatch = 0x30000096;
    static constexpr const char *DefaultIdentificationQuery = "*IDN?";

    IdentificationCheckerInformation() = default;
    virtual ~IdentificationCheckerInformation() = default;

    // 0 when the response contains the expected response or the expected response matches it as a
    // regular expression (case ignored both ways); else the mismatch code. An empty expected
    // response passes every response.
    virtual DWORD CheckIdentification(const std::string &sResponse);
    virtual void SetExpectedResponse(const std::string &sExpectedResponse);
    virtual void SetIdentificationQuery(const std::string &sQuery);

    std::string GetExpectedResponse() const { return msExpectedResponse; }
    std::string GetIdentificationQuery() const { return msIdentificationQuery; }
    DWORD GetMismatchCode() const { return mdwMismatchCode; }

protected:
    DWORD mdwMismatchCode = IdentificationMismatch;
    std::string msExpectedResponse;
    std::string msIdentificationQuery = DefaultIdentificationQuery;
};

// The mismatch text: received and expected identification, each between double quotes.
std::string IdentificationMismatchText(const std::string &sReceived, const std::string &sExpected);

template <typename T> class IdentificationChecker : public T, public IdentificationCheckerInformation {
public:
    using T::T;

    // The base check; a failed check keeps the response for the mismatch text.
    DWORD CheckIdentification(const std::string &sResponse) override {
        const DWORD result = IdentificationCheckerInformation::CheckIdentification(sResponse);
        if (result != 0)
            msLastReceivedIdentification = sResponse;
        return result;
    }

    // The mismatch text; any other code goes to the embedded stream's texts (called as T's own
    // operation, so that a client whose texts end here cannot call itself again).
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwRead) override {
        if (dwCode != mdwMismatchCode)
            return T::GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwRead);
        if (pdwRead == nullptr || *pdwRead == 0)
            CopyStringToBuffer(IdentificationMismatchText(msLastReceivedIdentification, msExpectedResponse),
                               sBuffer, dwBufferSize, pdwRead);
        return 0;
    }

    std::string GetLastReceivedIdentification() const { return msLastReceivedIdentification; }

protected:
    std::string msLastReceivedIdentification;
};

// The "Identification" page: the expected response in "ID_EXPECTED_RESPONSE"; a warning text, a
// warning icon and a restore button while it differs from the driver's default.
class IdentificationCheckerPage : public ValidatorBasedPanel {
public:
    static constexpr const char *ResourceName = "IdentificationCheckerPanel";
    static constexpr const char *PageTitle = "Identification";
    static constexpr const char *ExpectedResponseControl = "ID_EXPECTED_RESPONSE";
    static constexpr const char *WarningTextControl = "ID_WARNING_TXT";
    static constexpr const char *WarningIconControl = "ID_WARNING_ICON";
    static constexpr const char *RestoreDefaultControl = "ID_RESTORE_DEFAULT";

    explicit IdentificationCheckerPage(std::string sDefaultExpectedResponse);

    // Shows or hides the warning controls by the text now in the control.
    void UpdateWarning();

protected:
    // Attaches the page's validator to "ID_EXPECTED_RESPONSE".
    virtual void AttachExpectedResponseValidator() = 0;

private:
    void OnInitDialog(wxInitDialogEvent &event);
    void OnTextChanged(wxCommandEvent &event);
    void OnRestoreDefault(wxCommandEvent &event);

    std::string msDefaultExpectedResponse;
};

template <typename T> class CustomisableIdentificationChecker;

template <typename T> class IdentificationCheckerPanel : public IdentificationCheckerPage {
public:
    explicit IdentificationCheckerPanel(CustomisableIdentificationChecker<T> *checker)
        : IdentificationCheckerPage(checker->GetDefaultExpectedResponse()), mChecker(checker) {}

protected:
    void AttachExpectedResponseValidator() override {
        using Checker = CustomisableIdentificationChecker<T>;
        AttachValidator(this, ExpectedResponseControl,
                        new wxTemplatePropertyValidator<Checker, std::string>(
                            mChecker, &Checker::GetExpectedResponse, &Checker::ChangeExpectedResponse, "%s"));
    }

private:
    CustomisableIdentificationChecker<T> *mChecker;
};

template <typename T> class CustomisableIdentificationChecker : public IdentificationChecker<T> {
public:
    using IdentificationChecker<T>::IdentificationChecker;

    // Logs a changed expected response, then the check of IdentificationChecker, so that a
    // mismatch text carries the real answer.
    DWORD CheckIdentification(const std::string &sResponse) override {
        if (this->msExpectedResponse != msDefaultExpectedResponse) {
            QuellinEntry entry("CustomisableIdentificationChecker", "CheckIdentification");
            entry.Log(QuellinLevelWarning, QuellinDescription,
                      std::wstring(L"The default expected response has been changed"), L"Expected Response",
                      this->msExpectedResponse, L"Default expected response", msDefaultExpectedResponse);
        }
        return IdentificationChecker<T>::CheckIdentification(sResponse);
    }

    // The driver's own expected text: the default and the current one.
    void SetExpectedResponse(const std::string &sExpectedResponse) override {
        IdentificationChecker<T>::SetExpectedResponse(sExpectedResponse);
        msDefaultExpectedResponse = sExpectedResponse;
    }

    // The user's expected text (page and settings); the default stays.
    void ChangeExpectedResponse(const std::string &sExpectedResponse) {
        this->msExpectedResponse = sExpectedResponse;
    }
    std::string GetDefaultExpectedResponse() const { return msDefaultExpectedResponse; }

    virtual bool IsIdentificationCustomisable() { return true; }

    // Table "Identification", key "ExpectedResponse"; an absent key keeps the current text.
    virtual DWORD LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) {
        if (!database)
            return 0;
        database->PushTable("Identification");
        this->msExpectedResponse = database->ReadStdString("ExpectedResponse", this->msExpectedResponse);
        database->PopTable();
        return 0;
    }
    virtual DWORD SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) {
        if (!database)
            return 0;
        database->PushTable("Identification");
        database->WriteStdString("ExpectedResponse", this->msExpectedResponse);
        database->PopTable();
        return 0;
    }

    // The "Identification" page, when the identification is customisable.
    virtual DWORD AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &panels) {
        if (IsIdentificationCustomisable())
            PanelResourceNameList::AddUnique(panels, new IdentificationCheckerPanel<T>(this),
                                             IdentificationCheckerPage::ResourceName,
                                             IdentificationCheckerPage::PageTitle);
        return 0;
    }

protected:
    std::string msDefaultExpectedResponse;
};
