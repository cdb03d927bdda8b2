// Whether a window system can be reached: wx starts as a GUI application only when it can.
#pragma once

namespace Platform {

// A connection to the display named by $WAYLAND_DISPLAY (Wayland) or $DISPLAY (X11), opened only
// to learn whether the display can be reached. Keep it open until GTK has made its own: an X
// server resets itself when its last client goes, and a connection made during that reset fails.
class DisplayProbe {
public:
    DisplayProbe();
    ~DisplayProbe();
    DisplayProbe(const DisplayProbe &) = delete;
    DisplayProbe &operator=(const DisplayProbe &) = delete;

    bool IsReachable() const { return mConnection != nullptr; }

private:
    void *mLibrary = nullptr;
    void *mConnection = nullptr;
    bool mWayland = false;
};

} // namespace Platform
