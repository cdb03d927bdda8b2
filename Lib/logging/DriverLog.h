// The driver log file DDLOGGER.DAT in the root of drive C: a plain text file of driver messages,
// one time-stamped line each, written only while the file existed at the latest enabling check.
// Every message also goes to the call log as a note record, whether the file is enabled or not.
#pragma once

#include <string>

#include "platform/HostTypes.h"

class DriverLogFile {
public:
    static constexpr const char *FileName = "DDLOGGER.DAT";

    // Enabled when the file exists as a regular file now. Called at start-up, at thread attach
    // and detach, and whenever a driver is built.
    static void CheckEnabled();
    static bool IsEnabled();
    // Full path of the file (in the drive C directory of the latest check).
    static std::string FilePath();

    // Sends the message to the call log and, when enabled, appends its line to the file.
    // 0 or an errno-style code of the file write; a file kept locked by another process drops the
    // line after three tries and still returns 0.
    static DWORD Write(const std::string &description, const std::string &data);
    static DWORD Write(const std::wstring &description, const std::wstring &data);

    // The line as written: " 9:05:03.042: <description>: <data>\r\n".
    static std::string FormatLine(int hour, int minute, int second, int milliseconds,
                                  const std::string &description, const std::string &data);
};
