// What tests may ask the service-request stand-in beyond the library's own entry points.
#pragma once

#include <cstdint>

extern "C" {
// Callbacks delivered so far and SetExpectingSRQ calls, in all registrations.
int32_t gpibsrqStandInCallbacks(void);
int32_t gpibsrqStandInExpectations(void);
// Registrations alive now.
int32_t gpibsrqStandInRegistrations(void);
// What GetLastGPIBError answers from now on.
void gpibsrqStandInSetLastError(uint32_t error);
// Forgets the counters and the timing store.
void gpibsrqStandInReset(void);
}

namespace GpibSrqStandIn {
using CountFunction = decltype(&::gpibsrqStandInCallbacks);
using SetLastErrorFunction = decltype(&::gpibsrqStandInSetLastError);
using ResetFunction = decltype(&::gpibsrqStandInReset);
} // namespace GpibSrqStandIn
