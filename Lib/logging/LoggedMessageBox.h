// Logged message boxes: every box the plug-in shows is first written to the call log, and the
// framework's error messages also go to the driver log file.
#pragma once

#include <string>

#include "core/StringUtils.h"
#include "platform/HostTypes.h"

// Shows the box (Platform::ShowMessageBox) after one note record that describes it; returns the
// answering button. A box that could not be shown (another thread, no display) is answered by its
// default button, writes a "Warning" note record and sets *suppressed when asked.
int MessageBoxW(HostWindow owner, const std::wstring &text, const std::wstring &caption, unsigned int type,
                bool *suppressed = nullptr);
int MessageBoxA(HostWindow owner, const std::string &text, const std::string &caption, unsigned int type,
                bool *suppressed = nullptr);

// Writes the message to the driver log file and shows it with the function as caption.
void ShowErrorMessage(std::wstring message, std::string function);
void ShowFunctionErrorMessage(const std::string &message, std::string function);
