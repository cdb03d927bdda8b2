// Result codes of the GPIB layer. Their texts live in the language library (resource 573, text
// number = the code, the address description as first argument); see NI488GPIB::GetErrorString.
#pragma once

#include "platform/HostTypes.h"

namespace GPIBResult {

constexpr DWORD NullArgument = 0x30000005;         // a timing value's address was not given
constexpr DWORD NoServiceRequest = 0x3000019A;     // no service request within three time-outs
constexpr DWORD NoBoardHandle = 0x300001F5;        // ibfindW gave no board handle
constexpr DWORD UnknownGPIBError = 0x300001F7;     // an iberr without a code of its own
constexpr DWORD SystemError = 0x30000208;          // EDVR with an unlisted driver code
constexpr DWORD TimeOut = 0x3000020E;              // EABO
constexpr DWORD Argument = 0x3000020C;             // EARG
constexpr DWORD Capability = 0x30000212;           // ECAP
constexpr DWORD Locked = 0x30000230;               // ELCK
constexpr DWORD GPIB32NotLoaded = 0x3000022E;      // GPIB-32.DLL could not be loaded
constexpr DWORD BoardOutOfRange = 0x3000022F;      // board number outside 0..3
constexpr DWORD DeviceAtBoardAddress = 0x30000235; // the device's address is the board's own
constexpr DWORD NI4882MTooOld = 0x30000237;        // NI-488.2M major version 2 or lower
constexpr DWORD QueryError = 0x30000238;           // the device reported a query error
constexpr DWORD SpecificSystemError = 0x30000239;  // the device's "SYST:ERR?" text is kept
constexpr DWORD NI4882MOld = 0x3000023A;           // NI-488.2M major version 3 to 14
constexpr DWORD SRQLibraryNotLoaded = 0x30000246;  // GPIBSRQ.DLL could not be loaded
constexpr DWORD SRQEntryPointMissing = 0x30000247; // a service-request entry point is not bound

// The Windows code of an entry point that a library lacks.
constexpr DWORD ProcedureNotFound = 127;
// The Windows code of a library that could not be freed (ERROR_INVALID_HANDLE).
constexpr DWORD LibraryNotFreed = 6;

} // namespace GPIBResult
