// Socket option values and the readiness wait over poll.
#include "platform/SocketSupport.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>

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
    const uint64_t deadline = MonotonicMicroseconds() + static_cast<uint64_t>(milliseconds) * 1000u;
    for (;;) {
        const uint64_t now = MonotonicMicroseconds();
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

} // namespace Platform
