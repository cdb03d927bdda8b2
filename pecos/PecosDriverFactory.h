// The driver factory behind the export CreateNewDeviceDriver: the PECOS driver named by a type key
// ("PONTISPECOS_AD_8", "PONTISPECOS_EUT_8"; case and surrounding blanks do not matter), entered in
// the driver table. Writes no call record.
#pragma once

#include <cstdint>
#include <string>

#include "platform/HostTypes.h"

namespace PecosDriverFactory {

constexpr const char *ADConverterKey = "PONTISPECOS_AD_8";
constexpr const char *EUTControllerKey = "PONTISPECOS_EUT_8";
constexpr const char *ExpectedIdentification = "PECOS-8";

// Both texts upper-cased and trimmed of the default blanks, then compared (type keys).
bool CaseInsensitiveEqual(const std::string &a, const std::string &b);

// 0 and the new driver's handle; 0x300000CF (handle 0xFFFF) for an unknown or missing key or a
// missing handle address; the table's refusal when every handle is taken.
DWORD CreateNewDeviceDriver(const char *sKey, uint16_t *pDeviceID);

} // namespace PecosDriverFactory
