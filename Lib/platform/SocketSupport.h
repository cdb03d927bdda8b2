// What code that holds a socket of a socket library (wx) needs of the system beyond that
// library: option values for its SetOption, and a readiness wait that neither spins nor changes
// the socket's modes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Platform {

// Level and option name of TCP_NODELAY (segments are sent at once, not held back by Nagle's rule).
int TcpOptionLevel();
int TcpNoDelayOption();

// True when input, the end of the data or an error waits on the socket descriptor within the
// milliseconds (0: look once, do not wait). False for an invalid descriptor, and as soon as the
// interrupt flag (when given; looked at every 20 ms) is set.
bool WaitReadable(int socket, uint32_t milliseconds, const std::atomic<bool> *interrupt = nullptr);

// Bytes that wait on the socket already, taken without waiting: their count (above 0), 0 when none
// are there yet, -1 at the end of the data or on an error (left for the caller's own receive to
// find and report).
long ReceiveWaiting(int socket, void *buffer, size_t size);

} // namespace Platform
