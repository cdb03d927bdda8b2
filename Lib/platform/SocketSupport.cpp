// Socket option values and the readiness wait over poll.
#include "platform/SocketSupport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>

#include "platform/Clock.h"

namespace Platform {

int TcpOptionLevel() {
    return IPPROTO_TCP;
}

int TcpNoDelayOption() {
    return TCP_NODELAY;
}

bool WaitReadable(int socket, uint32_t milliseconds, const std::atomic<bool> *interrupt) {
    // Slices of a wait that another thread may interrupt.
    constexpr uint64_t InterruptSlice = 20;
    if (socket < 0)
        return false;
    if (milliseconds == 0) {
        // A look only: no clock.
        if (interrupt != nullptr && interrupt->load())
            return false;
        pollfd watched{socket, POLLIN, 0};
        int rc;
        while ((rc = poll(&watched, 1, 0)) < 0 && errno == EINTR) {
        }
        return rc > 0;
    }
    uint64_t now = MonotonicMicroseconds();
    const uint64_t deadline = now + static_cast<uint64_t>(milliseconds) * 1000u;
    for (bool first = true;; first = false) {
        if (!first)
            now = MonotonicMicroseconds();
        if (interrupt != nullptr && interrupt->load())
            return false;
        uint64_t left = now >= deadline ? 0 : (deadline - now + 999u) / 1000u;
        if (interrupt != nullptr && left > InterruptSlice)
            left = InterruptSlice;
        pollfd watched{socket, POLLIN, 0};
        const int rc = poll(&watched, 1, static_cast<int>(left > INT_MAX ? INT_MAX : left));
        if (rc > 0)
            return true;
        if (rc == 0 ? MonotonicMicroseconds() >= deadline : errno != EINTR)
            return false;
    }
}

bool MakeBlockingInSlices(int socket) {
    if (socket < 0)
        return false;
    timeval slice{};
    slice.tv_usec = static_cast<suseconds_t>(ReceiveSliceMilliseconds) * 1000;
    // The sends' limit first: a blocking send without one could wait for ever on a peer that
    // reads nothing.
    if (setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof(slice)) != 0 ||
        setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof(slice)) != 0)
        return false;
    const int flags = fcntl(socket, F_GETFL);
    return flags >= 0 && ((flags & O_NONBLOCK) == 0 || fcntl(socket, F_SETFL, flags & ~O_NONBLOCK) == 0);
}

bool TakeEmptyDatagram(int socket) {
    char unused = 0;
    // With MSG_TRUNC a peek gives the datagram's whole length, whatever the buffer holds.
    if (recv(socket, &unused, sizeof unused, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT) != 0)
        return false;
    return recv(socket, &unused, sizeof unused, MSG_DONTWAIT) == 0;
}

long ReceiveWithin(int socket, void *buffer, size_t size, uint32_t milliseconds,
                   const std::atomic<bool> *interrupt) {
    if (socket < 0)
        return -1;
    int flags = 0;
    if (milliseconds == 0 || (interrupt != nullptr && interrupt->load())) {
        flags = MSG_DONTWAIT;
    } else if (milliseconds < ReceiveSliceMilliseconds) {
        // Shorter than the socket's own limit: a wait of just that long first.
        if (!WaitReadable(socket, milliseconds, interrupt))
            return 0;
        flags = MSG_DONTWAIT;
    }
    // A signal ends the wait like its slice (a receive with a time-out is not restarted): the
    // caller looks at its deadline and its interrupt before it waits again.
    const ssize_t received = recv(socket, buffer, size, flags);
    if (received > 0)
        return static_cast<long>(received);
    return received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

long SendWithin(int socket, const void *data, size_t size) {
    if (socket < 0)
        return -1;
    const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL);
    if (sent > 0)
        return static_cast<long>(sent);
    return sent == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

} // namespace Platform
