// Message boxes: wx dialogs on the GUI thread (the thread that loaded the plug-in). Not shown in
// non-interactive mode (KORVALIS_NONINTERACTIVE=1), on another thread or without a display: then
// the default button answers. Tests may install a sink that answers instead.
#pragma once

#include <functional>
#include <string>

#include "platform/HostTypes.h"

namespace Platform {

// Win32-compatible style bits and answers.
enum : unsigned {
    MbOk = 0x0,
    MbOkCancel = 0x1,
    MbAbortRetryIgnore = 0x2,
    MbYesNoCancel = 0x3,
    MbYesNo = 0x4,
    MbRetryCancel = 0x5,
    MbIconError = 0x10,
    MbIconQuestion = 0x20,
    MbIconWarning = 0x30,
    MbIconInformation = 0x40,
    MbDefButton1 = 0x000,
    MbDefButton2 = 0x100,
    MbDefButton3 = 0x200,
    MbTypeMask = 0xF,
    MbIconMask = 0xF0,
    MbDefMask = 0xF00,
};
enum : int { IdOk = 1, IdCancel = 2, IdAbort = 3, IdRetry = 4, IdIgnore = 5, IdYes = 6, IdNo = 7 };

struct MessageBoxRequest {
    HostWindow Window;
    std::wstring Text;
    std::wstring Caption;
    unsigned Style;
};

struct MessageBoxAnswer {
    int Button;      // IdOk, IdYes, ...
    bool Shown;      // a person saw it (or the sink answered)
    bool Suppressed; // not shown although interactive: other thread or no display
};

// The default button's answer for a style.
int DefaultButton(unsigned style);
MessageBoxAnswer ShowMessageBox(const MessageBoxRequest &request);

using MessageBoxSink = std::function<int(const MessageBoxRequest &)>;
// Installs (or with an empty function removes) a sink that answers every box.
void SetMessageBoxSink(MessageBoxSink sink);

// The thread that may show windows; set when the plug-in is loaded.
void SetGuiThread();
bool IsGuiThread();

} // namespace Platform
