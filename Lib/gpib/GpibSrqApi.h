// Entry points of the service-request library "GPIBSRQ.DLL", bound at run time by name: it calls
// a registered callback on a thread of its own when a device requests service, and keeps the time
// of the last bus access for every GPIB user. The binding and the stand-in include this header.
#pragma once

#include <cstdint>

extern "C" {
// Called with the device's serial-poll status byte and the context given at registration.
using GpibSrqCallback = uint32_t (*)(unsigned char statusByte, void *context);

uint32_t RegisterSRQHandler(void *hWnd, int board, int primary, int secondary, GpibSrqCallback callback,
                            void *context, uint32_t *registration);
// Returns only when no callback of the registration is running any more (or when called from it).
uint32_t UnRegisterSRQHandler(void *hWnd, uint32_t registration);
uint32_t UnRegisterAllHandlers(void *hWnd);
uint32_t SetExpectingSRQ(void *hWnd, uint32_t registration);
uint32_t CheckGPIBBusses(void *hWnd);
uint32_t GetLastGPIBError(void *hWnd, uint32_t registration);
// Delay in microseconds and counter reading (microseconds) of the last bus access.
uint32_t SetLastTimingInformation(const uint32_t *delay, const uint64_t *counter);
uint32_t GetLastTimingInformation(uint32_t *delay, uint64_t *counter);
}

namespace GpibSrqApi {
constexpr const char *LibraryName = "GPIBSRQ.DLL";
using RegisterSRQHandlerFunction = decltype(&::RegisterSRQHandler);
using UnRegisterSRQHandlerFunction = decltype(&::UnRegisterSRQHandler);
using UnRegisterAllHandlersFunction = decltype(&::UnRegisterAllHandlers);
using SetExpectingSRQFunction = decltype(&::SetExpectingSRQ);
using CheckGPIBBussesFunction = decltype(&::CheckGPIBBusses);
using GetLastGPIBErrorFunction = decltype(&::GetLastGPIBError);
using SetLastTimingInformationFunction = decltype(&::SetLastTimingInformation);
using GetLastTimingInformationFunction = decltype(&::GetLastTimingInformation);
} // namespace GpibSrqApi
