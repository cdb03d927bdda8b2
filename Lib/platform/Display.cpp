// Display probe: opens and closes one connection through the client library that GTK itself uses,
// loaded by name, so that a missing or unreachable display is known before GTK is started.
#include "platform/Display.h"

#include <dlfcn.h>

#include "platform/Environment.h"

namespace Platform {

namespace {

// Opens the library (already mapped by GTK in the usual case), calls open(default display) and,
// on success, close(connection).
template <typename CloseResult>
bool ProbeConnection(const char *library, const char *openSymbol, const char *closeSymbol) {
    void *handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return false;
    using OpenFunction = void *(*)(const char *);
    using CloseFunction = CloseResult (*)(void *);
    auto open = reinterpret_cast<OpenFunction>(dlsym(handle, openSymbol));
    auto close = reinterpret_cast<CloseFunction>(dlsym(handle, closeSymbol));
    bool reached = false;
    if (open != nullptr && close != nullptr) {
        void *connection = open(nullptr);
        if (connection != nullptr) {
            reached = true;
            close(connection);
        }
    }
    dlclose(handle);
    return reached;
}

} // namespace

bool DisplayAvailable() {
    if (!GetEnv("WAYLAND_DISPLAY").empty() &&
        ProbeConnection<void>("libwayland-client.so.0", "wl_display_connect", "wl_display_disconnect"))
        return true;
    if (!GetEnv("DISPLAY").empty() && ProbeConnection<int>("libX11.so.6", "XOpenDisplay", "XCloseDisplay"))
        return true;
    return false;
}

} // namespace Platform
