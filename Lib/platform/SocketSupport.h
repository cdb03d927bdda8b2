// What code that holds a socket of a socket library (wx) needs of the system beyond that
// library: option values for its SetOption, and a readiness wait that neither spins nor changes
// the socket's modes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Platform {

class CancelSignal;

// Level and option name of TCP_NODELAY (segments are sent at once, not held back by Nagle's rule).
int TcpOptionLevel();
int TcpNoDelayOption();

// True when input, the end of the data or an error waits on the socket descriptor within the
// milliseconds (0: look once, do not wait). False for an invalid descriptor, and as soon as the
// interrupt flag (when given; looked at every 20 ms) is set.
bool WaitReadable(int socket, uint32_t milliseconds, const std::atomic<bool> *interrupt = nullptr);

// When the next datagram waiting on the socket is empty, takes it and answers true; false when
// none waits or it holds bytes.
bool TakeEmptyDatagram(int socket);

// The wait that a blocking receive or send of ReceiveWithin makes at most before it returns
// (with nothing), so that a caller sees an interrupt or its deadline within that time.
inline constexpr uint32_t ReceiveSliceMilliseconds = 20;

// Makes the connected stream socket blocking, with receives and sends that give up after
// ReceiveSliceMilliseconds: one system call then waits for an answer and takes it. False (and the
// socket as it was) when the system refuses.
bool MakeBlockingInSlices(int socket);

// One receive of at most size bytes into the buffer of a socket made blocking in slices: the count
// (above 0) once bytes came, 0 when none came within the milliseconds (0: take only what waits; at
// most one slice is waited, a caller loops until its own deadline), -1 at the end of the data or
// on an error (left for the caller's own receive to find and report). Never more than one slice
// while the interrupt flag (when given) is set.
long ReceiveWithin(int socket, void *buffer, size_t size, uint32_t milliseconds,
                   const std::atomic<bool> *interrupt = nullptr);

// One send of at most size bytes on a socket made blocking in slices: the count (above 0) of bytes
// that went, 0 when none could go within one slice or a signal came first (wx's own wait would
// count that signal as a lost connection), -1 on an error (left for the caller's own send to find
// and report).
long SendWithin(int socket, const void *data, size_t size);

// How a connect try ended.
enum class ConnectEnd { Connected, Failed, TimedOut, Cancelled };

// Connects a new TCP socket to the IPv4 address (dotted text) and port, waiting at most the
// milliseconds and no longer than the cancel (when given) takes to come; a cancel that came before
// starts no connect. The connected socket is blocking, with SO_REUSEADDR, as the socket library
// makes its client sockets. Its descriptor, or -1 with the reason in end.
int ConnectWithin(const std::string &address, uint16_t port, uint32_t milliseconds, CancelSignal *cancel,
                  ConnectEnd &end);

// Moves the descriptor to the number place (whose socket closes) and closes the old number; false,
// and both left as they were, when the system refuses.
bool MoveDescriptor(int descriptor, int place);
// Closes the descriptor (when not -1).
void CloseDescriptor(int descriptor);

} // namespace Platform
