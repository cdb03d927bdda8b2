// The PECOS server's default VISA resource for a VISA stream configuration.
#include "pecos/PontisPecosBase.h"

void ApplyPecosVisaDefault(const std::shared_ptr<DeviceStreamConfiguration> &, const std::string &) {}
