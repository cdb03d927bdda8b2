// Socket option values and the readiness wait over poll.
#include "platform/SocketSupport.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

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

long ReceiveWaiting(int socket, void *buffer, size_t size) {
    if (socket < 0)
        return -1;
    ssize_t received;
    while ((received = recv(socket, buffer, size, MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    if (received > 0)
        return static_cast<long>(received);
    return received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
}

} // namespace Platform
