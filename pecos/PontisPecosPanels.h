// The PECOS drivers' own configuration pages: "Authorisation" (user name and password of the
// login, both drivers) and "Detector Map" (the eight detector names, AD converter only). Both bind
// their text controls to the driver by property validators when they are initialised.
#pragma once

#include <string>

#include <wx/event.h>

#include "core/StorableMembers.h"
#include "ui/ValidatorBasedPanel.h"
#include "ui/wxCustomValidator.h"

template <typename B> class PontisPecosBase;
class PontisPecosADConverterBase;

template <typename B> class PontisPecosLoginPanel : public ValidatorBasedPanel {
public:
    static constexpr const char *ResourceName = "PontisPecosUserConfiguration";
    static constexpr const char *Title = "Authorisation";

    // The driver is not owned and may be null (nothing is bound then).
    explicit PontisPecosLoginPanel(PontisPecosBase<B> *driver) : mDriver(driver) {}

    virtual void OnInitDialog(wxInitDialogEvent &event);
    virtual void OnShow(wxShowEvent &event) { event.Skip(); }

private:
    void HandleInitDialog(wxInitDialogEvent &event) { OnInitDialog(event); }
    void HandleShow(wxShowEvent &event) { OnShow(event); }

    PontisPecosBase<B> *mDriver;
    wxDECLARE_EVENT_TABLE();
};

class PontisPecosDetectorMapPanel : public ValidatorBasedPanel {
public:
    static constexpr const char *ResourceName = "PontisPecosDetectorMap";
    static constexpr const char *Title = "Detector Map";

    explicit PontisPecosDetectorMapPanel(PontisPecosADConverterBase *driver) : mDriver(driver) {}

    virtual void OnInitDialog(wxInitDialogEvent &event);
    virtual void OnShow(wxShowEvent &event) { event.Skip(); }

    static wxTemplatePropertyValidator<StorableMemberVariable<std::string>, std::string> *
    MakeDetectorNameValidator(StorableMemberVariable<std::string> &detector);

private:
    void HandleInitDialog(wxInitDialogEvent &event) { OnInitDialog(event); }
    void HandleShow(wxShowEvent &event) { OnShow(event); }

    PontisPecosADConverterBase *mDriver;
    wxDECLARE_EVENT_TABLE();
};
