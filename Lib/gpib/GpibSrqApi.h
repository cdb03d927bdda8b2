// Entry points of the service-request library "GPIBSRQ.DLL", bound at run time by name: it calls
// a registered callback on a thread of its own when a device requests service, and keeps the time
// of the last bus access for every GPIB user. The binding and the stand-in include this header.
#pragma once

#include <algorithm>
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
// Ours, beside the above: returns when a bus access of a user with that delay may begin, the
// users taking turns (GpibSrqApi::NextBusAccess after the access before); *turn for EndBusAccess.
uint32_t WaitForBusAccess(uint32_t delay, uint32_t otherDelayLimit, uint64_t *turn);
// The access of the turn ended at that counter reading; also recorded as the last access.
uint32_t EndBusAccess(uint64_t turn, uint32_t delay, uint64_t counter);
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
using WaitForBusAccessFunction = decltype(&::WaitForBusAccess);
using EndBusAccessFunction = decltype(&::EndBusAccess);

// The gap after the last access (lastDelay) that an access with that delay keeps, in
// microseconds: the larger of the own delay and the last delay up to otherDelayLimit.
inline uint32_t BusGap(uint32_t lastDelay, uint32_t delay, uint32_t otherDelayLimit) {
    return std::max(delay, std::min(lastDelay, otherDelayLimit));
}

// When a bus access at `now` may begin after the last one (lastDelay, lastCounter), all in
// microseconds: once BusGap has passed since it. A last counter ahead of now (a record from
// before a restart) counts as none.
inline uint64_t NextBusAccess(uint32_t lastDelay, uint64_t lastCounter, uint32_t delay,
                              uint32_t otherDelayLimit, uint64_t now) {
    if (lastCounter > now)
        return now;
    return std::max(now, lastCounter + BusGap(lastDelay, delay, otherDelayLimit));
}
} // namespace GpibSrqApi
