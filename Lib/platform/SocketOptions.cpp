// Socket option values of this system.
#include "platform/SocketOptions.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace Platform {

int TcpOptionLevel() {
    return IPPROTO_TCP;
}

int TcpNoDelayOption() {
    return TCP_NODELAY;
}

} // namespace Platform
