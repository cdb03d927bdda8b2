// Display probe: one connection through the client library that GTK itself uses, loaded by name,
// so that a missing or unreachable display is known before GTK is started.
#include "platform/Display.h"

#include <dlfcn.h>

#include "platform/Environment.h"

namespace Platform {

namespace {

struct Connection {
    void *Library = nullptr;
    void *Handle = nullptr;
};

// Opens the library (already mapped by GTK in the usual case) and calls open(default display).
Connection Connect(const char *library, const char *openSymbol) {
    Connection connection;
    connection.Library = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (connection.Library == nullptr)
        return connection;
    using OpenFunction = void *(*)(const char *);
    auto open = reinterpret_cast<OpenFunction>(dlsym(connection.Library, openSymbol));
    if (open != nullptr)
        connection.Handle = open(nullptr);
    if (connection.Handle == nullptr) {
        dlclose(connection.Library);
        connection.Library = nullptr;
    }
    return connection;
}

void CloseWayland(void *connection, void *library) {
    auto close = reinterpret_cast<void (*)(void *)>(dlsym(library, "wl_display_disconnect"));
    if (close != nullptr)
        close(connection);
}

void CloseX11(void *connection, void *library) {
    auto close = reinterpret_cast<int (*)(void *)>(dlsym(library, "XCloseDisplay"));
    if (close != nullptr)
        close(connection);
}

} // namespace

DisplayProbe::DisplayProbe() {
    Connection connection;
    if (!GetEnv("WAYLAND_DISPLAY").empty()) {
        connection = Connect("libwayland-client.so.0", "wl_display_connect");
        mWayland = connection.Handle != nullptr;
    }
    if (connection.Handle == nullptr && !GetEnv("DISPLAY").empty())
        connection = Connect("libX11.so.6", "XOpenDisplay");
    mLibrary = connection.Library;
    mConnection = connection.Handle;
}

DisplayProbe::~DisplayProbe() {
    if (mConnection == nullptr)
        return;
    if (mWayland)
        CloseWayland(mConnection, mLibrary);
    else
        CloseX11(mConnection, mLibrary);
    dlclose(mLibrary);
}

} // namespace Platform
