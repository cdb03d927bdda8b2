// Socket option values and the readiness wait over poll.
#include "platform/SocketSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/Cancel.h"
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

int ConnectWithin(const std::string &address, uint16_t port, uint32_t milliseconds, CancelSignal *cancel,
                  ConnectEnd &end) {
    end = ConnectEnd::Failed;
    if (cancel != nullptr && cancel->IsCancelled()) {
        end = ConnectEnd::Cancelled;
        return -1;
    }
    if (milliseconds == 0) {
        end = ConnectEnd::TimedOut;
        return -1;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1)
        return -1;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (socket < 0)
        return -1;
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    auto failed = [&](ConnectEnd reason) {
        close(socket);
        end = reason;
        return -1;
    };
    // A signal does not end a connect in progress: the wait below goes on with it.
    if (connect(socket, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0 &&
        errno != EINPROGRESS && errno != EINTR)
        return failed(ConnectEnd::Failed);
    // The connect goes on in the background; the wait ends at its outcome, the deadline or the cancel.
    const int cancelled = cancel != nullptr ? cancel->Descriptor() : -1;
    const uint64_t deadline = MonotonicMicroseconds() + static_cast<uint64_t>(milliseconds) * 1000u;
    for (;;) {
        const uint64_t now = MonotonicMicroseconds();
        if (now >= deadline)
            return failed(ConnectEnd::TimedOut);
        const uint64_t left = (deadline - now + 999u) / 1000u;
        pollfd watched[2] = {{socket, POLLOUT, 0}, {cancelled, POLLIN, 0}};
        const int rc =
            poll(watched, cancelled >= 0 ? 2 : 1, static_cast<int>(left > INT_MAX ? INT_MAX : left));
        if (rc < 0 && errno != EINTR)
            return failed(ConnectEnd::Failed);
        if (rc > 0 && cancelled >= 0 && watched[1].revents != 0)
            return failed(ConnectEnd::Cancelled);
        if (rc > 0 && watched[0].revents != 0)
            break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        return failed(ConnectEnd::Failed);
    const int flags = fcntl(socket, F_GETFL);
    if (flags < 0 || fcntl(socket, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return failed(ConnectEnd::Failed);
    end = ConnectEnd::Connected;
    return socket;
}

bool MoveDescriptor(int descriptor, int place) {
    int rc;
    while ((rc = dup2(descriptor, place)) < 0 && errno == EINTR) {
    }
    if (rc == place)
        close(descriptor);
    return rc == place;
}

void CloseDescriptor(int descriptor) {
    if (descriptor >= 0)
        close(descriptor);
}

} // namespace Platform
