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
constexpr DWORD KorvalisVersionTooOld = 0x300000D7; // text: the table's, MinimumKorvalisVersion, the end
constexpr DWORD ConfigurationNoFileName = 0x300000E0;
constexpr DWORD ConfigurationNotWritten = 0x300000E1;
constexpr DWORD ConfigurationNotRead = 0x300000E2; // the file exists but is not read
// Refusals of host arguments that cannot be used: the call does nothing else.
constexpr DWORD ValueDataMissing = 0x300000E8;
constexpr DWORD FilledSizeMissing = 0x300000E9;
constexpr DWORD TextBufferMissing = 0x300000EA;
constexpr DWORD KorvalisVersionMissing = 0x300000EB;
// No window can be shown: no display, or the call came on another thread than the GUI thread.
constexpr DWORD ConfigurationWindowUnavailable = 0x300000EC;
// Every handle from 0 to 0xFFFE names a driver: the new driver is deleted.
constexpr DWORD DriverTableFull = 0x300000ED;
// A driver call ended with an exception; it must not reach the host.
constexpr DWORD DriverCallFailed = 0x300000EE;
// Raised by the VISA layer; their texts live here.
constexpr DWORD TcpipResponseTooLarge = 0x300002E4;
constexpr DWORD VisaLibraryNotFound = 0x300002E5;

struct CodeText {
    DWORD Code;
    const char *Text; // null: the code has no text
};

// Every code of the framework with its text.
inline constexpr CodeText FrameworkCodes[] = {
    {OperationNotProvided, nullptr},
    {SetValueIdNotHandled, nullptr},
    {GetValueIdNotHandled, nullptr},
    {UnknownDriverType, nullptr},
    {NoDriverForDeviceID, nullptr},
    {NoInformationItem, nullptr},
    {SettingIdNotHandled, nullptr},
    {KorvalisVersionTooOld,
     "The used Korvalis version is too old. This driver can only be used in Korvalis version "},
    {ConfigurationNoFileName, "No configuration file name given"},
    {ConfigurationNotWritten, "The configuration file could not be written"},
    {ConfigurationNotRead, "The configuration file could not be read"},
    {ValueDataMissing, "A data address that this value identifier needs was not given."},
    {FilledSizeMissing, "The address that receives the length of the text was not given."},
    {TextBufferMissing, "A text or text buffer that the call needs was not given."},
    {KorvalisVersionMissing, "No Korvalis version text was given."},
    {ConfigurationWindowUnavailable, "The configuration window cannot be shown."},
    {DriverTableFull, "No further driver can be created: every DeviceID is in use."},
    {DriverCallFailed, "The driver call failed unexpectedly."},
    {TcpipResponseTooLarge, "The response of a TCPIP controlled device is larger than expected."},
    {VisaLibraryNotFound, "Could not find VISA32.DLL. Is VISA installed? (Here the file libvisa32.so, looked "
                          "for in the folders of KORVALIS_LIBRARY_PATH, then by the dynamic loader.)"},
};

// The table's text of a code; null for a code without text and for any code not in the table.
constexpr const char *FrameworkText(DWORD code) {
    for (const CodeText &entry : FrameworkCodes)
        if (entry.Code == code)
            return entry.Text;
    return nullptr;
}

// The texts by name.
constexpr const char *KorvalisVersionTooOldText = FrameworkText(KorvalisVersionTooOld);
constexpr const char *KorvalisVersionTooOldTextEnd = " and higher";
constexpr const char *ConfigurationNoFileNameText = FrameworkText(ConfigurationNoFileName);
constexpr const char *ConfigurationNotWrittenText = FrameworkText(ConfigurationNotWritten);
constexpr const char *ConfigurationNotReadText = FrameworkText(ConfigurationNotRead);
constexpr const char *ValueDataMissingText = FrameworkText(ValueDataMissing);
constexpr const char *FilledSizeMissingText = FrameworkText(FilledSizeMissing);
constexpr const char *TextBufferMissingText = FrameworkText(TextBufferMissing);
constexpr const char *KorvalisVersionMissingText = FrameworkText(KorvalisVersionMissing);
constexpr const char *ConfigurationWindowUnavailableText = FrameworkText(ConfigurationWindowUnavailable);
constexpr const char *DriverTableFullText = FrameworkText(DriverTableFull);
constexpr const char *DriverCallFailedText = FrameworkText(DriverCallFailed);
constexpr const char *TcpipResponseTooLargeText = FrameworkText(TcpipResponseTooLarge);
constexpr const char *VisaLibraryNotFoundText = FrameworkText(VisaLibraryNotFound);

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
