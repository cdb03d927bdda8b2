// The PECOS server's default VISA resource for a VISA stream configuration.
#include "pecos/PontisPecosBase.h"
#include "visa/VISADeviceStream.h"

// A resource the configuration already names (from a settings file or the page) stays.
void ApplyPecosVisaDefault(const std::shared_ptr<DeviceStreamConfiguration> &configuration,
                           const std::string &sResource) {
    auto visa = std::dynamic_pointer_cast<VISADeviceStreamConfiguration>(configuration);
    if (visa && visa->GetResourceName().empty())
        visa->SetIdentifier(VISAIdentifier(sResource));
}
