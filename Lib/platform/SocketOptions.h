// Socket option values that a socket library's SetOption needs, for code that may not include the
// system's network headers.
#pragma once

namespace Platform {

// Level and option name of TCP_NODELAY (segments are sent at once, not held back by Nagle's rule).
int TcpOptionLevel();
int TcpNoDelayOption();

} // namespace Platform
