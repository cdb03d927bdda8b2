// Whether a window system can be reached: wx starts as a GUI application only when it can.
#pragma once

namespace Platform {

// True when the display named by $DISPLAY (X11) or $WAYLAND_DISPLAY (Wayland) accepts a
// connection now. The probe connection is closed again at once.
bool DisplayAvailable();

} // namespace Platform
