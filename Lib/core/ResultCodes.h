// Result codes of the driver framework, each with its text beside it, and the rule that turns a
// result into its severity word. 0 is success, 0x3C000000 to 0x3FFFFFFF are warnings, every other
// value is an error.
#pragma once

#include "platform/HostTypes.h"

namespace ResultCode {

constexpr DWORD Success = 0;
constexpr DWORD WarningFirst = 0x3C000000;
constexpr DWORD WarningLast = 0x3FFFFFFF;

// Codes whose meaning the host knows; GetErrorString gives them no text.
constexpr DWORD OperationNotProvided = 0x300000CB; // the driver does not provide the operation
constexpr DWORD SetValueIdNotHandled = 0x300000CC; // SetValue: value identifier not handled
constexpr DWORD GetValueIdNotHandled = 0x300000CD; // GetValue, GetValueString: identifier not handled
constexpr DWORD UnknownDriverType = 0x300000CF;    // CreateNewDeviceDriver: no driver of that type key
constexpr DWORD NoDriverForDeviceID = 0x300000D0;  // the DeviceID names no driver
constexpr DWORD NoInformationItem = 0x300000D3;    // GetInfo, GetInfoString: no such information item
constexpr DWORD SettingIdNotHandled = 0x300000D4;  // SetSetting: setting identifier not handled

// Codes with a text of the framework.
constexpr DWORD KorvalisVersionTooOld = 0x300000D7;
// The text is this, the minimum version ("2024.1.1") and KorvalisVersionTooOldTextEnd.
constexpr const char *KorvalisVersionTooOldText =
    "The used Korvalis version is too old. This driver can only be used in Korvalis version ";
constexpr const char *KorvalisVersionTooOldTextEnd = " and higher";

constexpr DWORD TcpipResponseTooLarge = 0x300002E4;
constexpr const char *TcpipResponseTooLargeText =
    "The response of a TCPIP controlled device is larger than expected.";

constexpr DWORD VisaLibraryNotFound = 0x300002E5;
constexpr const char *VisaLibraryNotFoundText = "Could not find VISA32.DLL. Is VISA installed?";

// Refusals of host arguments that cannot be used: the call does nothing else.
constexpr DWORD ValueDataMissing = 0x300000E8;
constexpr const char *ValueDataMissingText = "A data address that this value identifier needs was not given.";

constexpr DWORD FilledSizeMissing = 0x300000E9;
constexpr const char *FilledSizeMissingText =
    "The address that receives the length of the text was not given.";

constexpr DWORD TextBufferMissing = 0x300000EA;
constexpr const char *TextBufferMissingText = "A text or text buffer that the call needs was not given.";

constexpr DWORD KorvalisVersionMissing = 0x300000EB;
constexpr const char *KorvalisVersionMissingText = "No Korvalis version text was given.";

// No window can be shown: no display, or the call came on another thread than the GUI thread.
constexpr DWORD ConfigurationWindowUnavailable = 0x300000EC;
constexpr const char *ConfigurationWindowUnavailableText = "The configuration window cannot be shown.";

// Every handle from 0 to 0xFFFE names a driver: the new driver is deleted.
constexpr DWORD DriverTableFull = 0x300000ED;
constexpr const char *DriverTableFullText = "No further driver can be created: every DeviceID is in use.";

// A driver call ended with an exception; it must not reach the host.
constexpr DWORD DriverCallFailed = 0x300000EE;
constexpr const char *DriverCallFailedText = "The driver call failed unexpectedly.";

} // namespace ResultCode

// 0x3C000000 to 0x3FFFFFFF inclusive.
inline bool IsWarningCode(DWORD code) {
    return code >= ResultCode::WarningFirst && code <= ResultCode::WarningLast;
}

// "Complete" for 0, "Warning" for a warning code, "Error" for any other code.
inline const wchar_t *ResultSeverityText(DWORD code) {
    if (code == ResultCode::Success)
        return L"Complete";
    return IsWarningCode(code) ? L"Warning" : L"Error";
}
