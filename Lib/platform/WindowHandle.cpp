// Host window handles checked against this process's wx top-level windows.
#include "platform/WindowHandle.h"

#include <dlfcn.h>

#include <wx/app.h>
#include <wx/toplevel.h>

namespace Platform {

wxWindow *ParentFromHandle(HostWindow handle) {
    if (handle == nullptr || !CanShowWindows())
        return nullptr;
    // The handle is only compared, never followed, until it is known to be one of ours.
    for (wxWindowList::compatibility_iterator node = wxTopLevelWindows.GetFirst(); node;
         node = node->GetNext()) {
        wxWindow *window = node->GetData();
        if (static_cast<void *>(window) == handle)
            return window->IsBeingDeleted() ? nullptr : window;
    }
    return nullptr;
}

bool CanShowWindows() {
    // A console application object (no display) is not a wxApp: ask the base class.
    wxAppConsole *app = wxAppConsole::GetInstance();
    if (app == nullptr || !app->IsGUI())
        return false;
    // A GUI application object alone does not prove that GTK reached a display.
    using DisplayGetter = void *(*)();
    auto getDisplay = reinterpret_cast<DisplayGetter>(dlsym(RTLD_DEFAULT, "gdk_display_get_default"));
    return getDisplay == nullptr || getDisplay() != nullptr;
}

} // namespace Platform
