// The host's window handle is opaque: it becomes a parent only when it is a wx top-level window
// of this process.
#pragma once

#include "platform/HostTypes.h"

class wxWindow;

namespace Platform {

// GUI thread only (it walks wx's list of top-level windows).
wxWindow *ParentFromHandle(HostWindow handle);
// True when wx can show windows (a display and a GUI application).
bool CanShowWindows();

} // namespace Platform
