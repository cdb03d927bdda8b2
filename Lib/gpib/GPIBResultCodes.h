// Result codes of the GPIB layer. Their texts live in the language library (resource 573, text
// number = the code, the address description as first argument); see NI488GPIB::GetErrorString.
#pragma once

#include "gpib/Gpib32Api.h"
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

// The layer's own codes: NullArgument, NoServiceRequest and NoBoardHandle to SRQEntryPointMissing.
constexpr bool IsGPIBCode(DWORD code) {
    return code == NullArgument || code == NoServiceRequest ||
           (code >= NoBoardHandle && code <= SRQEntryPointMissing);
}

// The Windows code of a library that could not be freed (ERROR_INVALID_HANDLE).
constexpr DWORD LibraryNotFreed = 6;

// The result code of an NI-488.2 error (iberr, and for EDVR the driver's code in ibcntl).
constexpr DWORD FromNI488Error(int iberr, long ibcntl) {
    switch (iberr) {
    case NI488::EDVR:
        switch (static_cast<uint32_t>(ibcntl)) {
        case 0xE1080080u:
        case 0xE1080081u:
            return 0x3000023B;
        case 0xE1060071u:
            return 0x3000023C;
        case 0xE1060075u:
            return 0x3000023D;
        case 0xE1060078u:
            return 0x3000023E;
        case 0xE1060077u:
            return 0x3000023F;
        case 0xE1080086u:
            return 0x30000240;
        case 0xE00A0047u:
            return 0x30000241;
        default:
            return SystemError;
        }
    case NI488::ECIC:
        return 0x30000209;
    case NI488::ENOL:
        return 0x3000020A;
    case NI488::EADR:
        return 0x3000020B;
    case NI488::EARG:
        return Argument;
    case NI488::ESAC:
        return 0x3000020D;
    case NI488::EABO:
        return TimeOut;
    case NI488::ENEB:
        return 0x3000020F;
    case NI488::EDMA:
        return 0x30000210;
    case NI488::EOIP:
        return 0x30000211;
    case NI488::ECAP:
        return Capability;
    case NI488::EFSO:
        return 0x30000213;
    case NI488::EBUS:
        return 0x30000214;
    case NI488::ESTB:
        return 0x30000215;
    case NI488::ESRQ:
        return 0x30000216;
    case NI488::ETAB:
        return 0x30000217;
    case NI488::ELCK:
        return Locked;
    case NI488::EARM:
        return 0x30000231;
    case NI488::EHDL:
        return 0x30000232;
    case NI488::EWIP:
        return 0x30000233;
    case NI488::ERST:
        return 0x30000234;
    case NI488::EPWR:
        return 0x30000236;
    default:
        return UnknownGPIBError;
    }
}

} // namespace GPIBResult
