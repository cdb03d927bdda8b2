// The PECOS driver factory.
#include "pecos/PecosDriverFactory.h"

#include <memory>

#include "core/DeviceDriverTable.h"
#include "core/StringUtils.h"
#include "pecos/PontisPecosADConverter.h"
#include "pecos/PontisPecosEUTController.h"

namespace PecosDriverFactory {

bool CaseInsensitiveEqual(const std::string &a, const std::string &b) {
    return TrimDefault(ToUpper(a)) == TrimDefault(ToUpper(b));
}

DWORD CreateNewDeviceDriver(const char *sKey, uint16_t *pDeviceID) {
    if (pDeviceID != nullptr)
        *pDeviceID = DeviceDriverTable::NoDeviceID;
    if (sKey == nullptr || pDeviceID == nullptr)
        return ResultCode::UnknownDriverType;
    std::unique_ptr<DeviceDriverBase> driver;
    if (CaseInsensitiveEqual(sKey, ADConverterKey))
        driver = std::make_unique<PontisPecosSCPI_ADConverter>(ExpectedIdentification);
    else if (CaseInsensitiveEqual(sKey, EUTControllerKey))
        driver = std::make_unique<PontisPecosSCPI_EUTController>(ExpectedIdentification);
    else
        return ResultCode::UnknownDriverType;
    DeviceIDType handle = DeviceDriverTable::NoDeviceID;
    const DWORD result = DeviceDriverTable::Instance().Add(std::move(driver), handle);
    *pDeviceID = handle;
    return result;
}

} // namespace PecosDriverFactory
