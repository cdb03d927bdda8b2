// The "Authorisation" and "Detector Map" pages: their event tables and validators.
#include "pecos/PontisPecosPanels.h"

#include "pecos/PontisPecosADConverter.h"
#include "pecos/PontisPecosBase.h"

template <typename B> void PontisPecosLoginPanel<B>::OnInitDialog(wxInitDialogEvent &event) {
    if (mDriver != nullptr) {
        using Validator = wxTemplatePropertyValidator<PontisPecosBase<B>, std::string>;
        AttachValidator(
            this, "ID_USERNAME",
            new Validator(mDriver, &PontisPecosBase<B>::GetUserName, &PontisPecosBase<B>::SetUserName, "%d"));
        AttachValidator(
            this, "ID_PASSWORD",
            new Validator(mDriver, &PontisPecosBase<B>::GetPassword, &PontisPecosBase<B>::SetPassword, "%d"));
    }
    event.Skip(true);
}

wxTemplatePropertyValidator<StorableMemberVariable<std::string>, std::string> *
PontisPecosDetectorMapPanel::MakeDetectorNameValidator(StorableMemberVariable<std::string> &detector) {
    return new wxTemplatePropertyValidator<StorableMemberVariable<std::string>, std::string>(
        &detector, &StorableMemberVariable<std::string>::GetValue,
        &StorableMemberVariable<std::string>::SetValue, std::string());
}

void PontisPecosDetectorMapPanel::OnInitDialog(wxInitDialogEvent &event) {
    if (mDriver != nullptr)
        for (uint32_t n = 1; n <= PontisPecosADConverterBase::DetectorCount; ++n)
            AttachValidator(this, "ID_DETECTOR_NAME" + std::to_string(n),
                            MakeDetectorNameValidator(mDriver->GetDetectorMember(n - 1)));
    event.Skip(true);
}

// clang-format off
wxBEGIN_EVENT_TABLE_TEMPLATE1(PontisPecosLoginPanel, ValidatorBasedPanel, B)
    EVT_INIT_DIALOG(PontisPecosLoginPanel<B>::HandleInitDialog)
    EVT_SHOW(PontisPecosLoginPanel<B>::HandleShow)
wxEND_EVENT_TABLE()

wxBEGIN_EVENT_TABLE(PontisPecosDetectorMapPanel, ValidatorBasedPanel)
    EVT_INIT_DIALOG(PontisPecosDetectorMapPanel::HandleInitDialog)
    EVT_SHOW(PontisPecosDetectorMapPanel::HandleShow)
wxEND_EVENT_TABLE()

template class PontisPecosLoginPanel<ADConvertorBase>;
template class PontisPecosLoginPanel<SwitchMatrixBase>;
// clang-format on
