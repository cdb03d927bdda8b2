// A UDP socket on 127.0.0.1 for the UDP stream tests: it receives datagrams with the sender's
// port, and sends datagrams to a local port. Every wait has a deadline.
//
//   LoopbackDatagramPeer peer;                       // bound to an ephemeral port
//   stream config address: peer.Address()           // "tcpip://127.0.0.1:<port>"
//   peer.Receive(datagram, senderPort);              // false when nothing came within the wait
//   peer.SendTo(51456, "reply");
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

class LoopbackDatagramPeer {
public:
    // Port 0 takes an ephemeral port; binding a given port may fail (Bound() tells).
    explicit LoopbackDatagramPeer(uint16_t port = 0, bool bAnyAddress = false) {
        mSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(bAnyAddress ? INADDR_ANY : INADDR_LOOPBACK);
        address.sin_port = htons(port);
        mBound = ::bind(mSocket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
        socklen_t length = sizeof(address);
        ::getsockname(mSocket, reinterpret_cast<sockaddr *>(&address), &length);
        mPort = ntohs(address.sin_port);
    }
    ~LoopbackDatagramPeer() { ::close(mSocket); }
    LoopbackDatagramPeer(const LoopbackDatagramPeer &) = delete;
    LoopbackDatagramPeer &operator=(const LoopbackDatagramPeer &) = delete;

    bool Bound() const { return mBound; }
    uint16_t Port() const { return mPort; }
    std::string Address() const { return "tcpip://127.0.0.1:" + std::to_string(mPort); }

    // One datagram and the port it came from.
    bool Receive(std::string &datagram, uint16_t &senderPort,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        pollfd watched{mSocket, POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(timeout.count())) != 1)
            return false;
        char buffer[65536];
        sockaddr_in sender{};
        socklen_t length = sizeof(sender);
        const ssize_t n =
            ::recvfrom(mSocket, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr *>(&sender), &length);
        if (n < 0)
            return false;
        datagram.assign(buffer, static_cast<size_t>(n));
        senderPort = ntohs(sender.sin_port);
        return true;
    }

    void SendTo(uint16_t port, const std::string &datagram) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        ::sendto(mSocket, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&address),
                 sizeof(address));
    }

private:
    int mSocket = -1;
    bool mBound = false;
    uint16_t mPort = 0;
};
