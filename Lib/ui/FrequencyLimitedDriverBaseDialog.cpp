// The frequency-limit dialog: its validators, the enabled state of the frequency fields and the
// labels that name the default range.
#include "ui/FrequencyLimitedDriverBaseDialog.h"

#include <wx/checkbox.h>
#include <wx/xrc/xmlres.h>

#include "core/DeviceDriverBase.h"
#include "core/FrequencyLimitedDriverBase.h"
#include "core/RAWControlConfigPanel.h"
#include "logging/QuellinEntry.h"
#include "ui/wxCustomValidator.h"
#include "ui/wxDecorator.h"

namespace {

constexpr const char *UseDefaultStart = "ID_USEDEFAULTSTART";
constexpr const char *UseDefaultStop = "ID_USEDEFAULTSTOP";
constexpr const char *StartControls[] = {"ID_STARTTEXT1", "ID_STARTFREQ", "ID_STARTTEXT2"};
constexpr const char *StopControls[] = {"ID_STOPTEXT1", "ID_STOPFREQ", "ID_STOPTEXT2"};

// Frequencies are held in MHz.
double ToHertz(const FrequencyBase<9> &frequency) {
    return frequency.ToDouble() * 1e6;
}

void SetCheckBoxLabel(wxWindow *dialog, const char *sName, const std::string &sLabel) {
    if (auto *checkBox = dynamic_cast<wxCheckBox *>(dialog->FindWindow(sName)))
        checkBox->SetLabel(wxString::FromUTF8(sLabel.c_str()));
}

} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(FrequencyLimitedDriverBaseDialog, ValidatorBasedDialog)
    EVT_INIT_DIALOG(FrequencyLimitedDriverBaseDialog::OnInitDialog)
    EVT_CHECKBOX(XRCID("ID_USEDEFAULTSTART"), FrequencyLimitedDriverBaseDialog::OnUseDefaultClicked)
    EVT_CHECKBOX(XRCID("ID_USEDEFAULTSTOP"), FrequencyLimitedDriverBaseDialog::OnUseDefaultClicked)
    EVT_SHOW(FrequencyLimitedDriverBaseDialog::OnShow)
wxEND_EVENT_TABLE()

FrequencyLimitedDriverBaseDialog::FrequencyLimitedDriverBaseDialog(FrequencyLimitedDriverBase *pDriver)
    : mDriver(pDriver) {}
// clang-format on

void FrequencyLimitedDriverBaseDialog::OnInitDialog(wxInitDialogEvent &event) {
    QuellinEntry entry("FrequencyLimitedDriverBaseDialog", "OnInitDialog");
    entry.LogBegin(QuellinLevelNote);
    using Flag = wxTemplatePropertyValidator<FrequencyLimitedDriverBase, bool>;
    using Frequency = wxTemplatePropertyValidator<FrequencyLimitedDriverBase, FrequencyBase<9>>;
    AttachValidator(this, UseDefaultStart,
                    new Flag(mDriver, &FrequencyLimitedDriverBase::GetUseDefaultStartFrequency,
                             &FrequencyLimitedDriverBase::SetUseDefaultStartFrequency, "%d"));
    AttachValidator(
        this, "ID_STARTFREQ",
        new EnabledValidator(new Frequency(mDriver, &FrequencyLimitedDriverBase::GetStartFrequency,
                                           &FrequencyLimitedDriverBase::SetStartFrequency, "%lG")));
    AttachValidator(this, UseDefaultStop,
                    new Flag(mDriver, &FrequencyLimitedDriverBase::GetUseDefaultStopFrequency,
                             &FrequencyLimitedDriverBase::SetUseDefaultStopFrequency, "%d"));
    AttachValidator(
        this, "ID_STOPFREQ",
        new EnabledValidator(new Frequency(mDriver, &FrequencyLimitedDriverBase::GetStopFrequency,
                                           &FrequencyLimitedDriverBase::SetStopFrequency, "%lG")));
    UpdateDefaultFrequencyLabels();
    // The dialog's own handling then fills the controls. A modal run sends its show event before
    // this one, while the check boxes were still clear: the fields follow the stored choice once
    // the controls are filled.
    event.Skip(true);
    CallAfter(&FrequencyLimitedDriverBaseDialog::UpdateEnabledState);
    entry.LogEnd(QuellinLevelComplete);
}

void FrequencyLimitedDriverBaseDialog::OnUseDefaultClicked(wxCommandEvent &event) {
    UpdateEnabledState();
    event.Skip(true);
}

void FrequencyLimitedDriverBaseDialog::OnShow(wxShowEvent &event) {
    UpdateEnabledState();
    UpdateDefaultFrequencyLabels();
    event.Skip(true);
}

void FrequencyLimitedDriverBaseDialog::UpdateEnabledState() {
    const bool bStartEnabled = !IsCheckBoxChecked(this, UseDefaultStart);
    for (const char *sName : StartControls)
        EnableControl(this, sName, bStartEnabled);
    const bool bStopEnabled = !IsCheckBoxChecked(this, UseDefaultStop);
    for (const char *sName : StopControls)
        EnableControl(this, sName, bStopEnabled);
}

void FrequencyLimitedDriverBaseDialog::UpdateDefaultFrequencyLabels() {
    if (mDriver == nullptr)
        return;
    SetCheckBoxLabel(this, UseDefaultStart,
                     "Use default st&art frequency of " + DeviceDriverBase::ConvertFrequencyToText(
                                                              ToHertz(mDriver->GetDefaultStartFrequency())));
    SetCheckBoxLabel(this, UseDefaultStop,
                     "Use default stop &frequency of " + DeviceDriverBase::ConvertFrequencyToText(
                                                             ToHertz(mDriver->GetDefaultStopFrequency())));
}
