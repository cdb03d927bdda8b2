// A TCP server on 127.0.0.1 for the stream tests and benchmarks: it accepts any number of
// connections on one thread, keeps what each one received, answers complete lines through an
// optional responder, and lets the test send to or close a connection. Every wait has a deadline.
//
//   LoopbackServer server;                                // listening on an ephemeral port
//   server.SetResponder([](const std::string &line) { return line; });   // echo each line
//   stream config address: server.Address()               // "tcpip://127.0.0.1:<port>"
//   server.WaitForReceived(0, "*IDN?\n");                 // bytes on the wire of connection 0
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    // Called on the server thread with each complete line (termination included); its result is
    // sent back on the same connection (nothing when empty).
    using Responder = std::function<std::string(const std::string &line)>;

    // Port 0: an ephemeral port.
    explicit LoopbackServer(std::string lineEnd = "\n", uint16_t port = 0) : mLineEnd(std::move(lineEnd)) {
        mListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(mListener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        ::bind(mListener, reinterpret_cast<sockaddr *>(&address), sizeof(address));
        ::listen(mListener, 16);
        socklen_t length = sizeof(address);
        ::getsockname(mListener, reinterpret_cast<sockaddr *>(&address), &length);
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { Serve(); });
    }

    ~LoopbackServer() { Stop(); }
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    void Stop() {
        if (mStop.exchange(true))
            return;
        mThread.join();
        std::lock_guard<std::mutex> guard(mLock);
        CloseRetired();
        for (Connection &connection : mConnections)
            if (connection.Socket >= 0)
                ::close(connection.Socket);
        ::close(mListener);
    }

    uint16_t Port() const { return mPort; }
    std::string Address() const { return "tcpip://127.0.0.1:" + std::to_string(mPort); }

    void SetResponder(Responder responder) {
        std::lock_guard<std::mutex> guard(mLock);
        mResponder = std::move(responder);
    }
    size_t ConnectionCount() {
        std::lock_guard<std::mutex> guard(mLock);
        return mConnections.size();
    }
    bool WaitForConnections(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, timeout, [&] { return mConnections.size() >= count; });
    }
    // Everything connection n received so far.
    std::string Received(size_t n) {
        std::lock_guard<std::mutex> guard(mLock);
        return n < mConnections.size() ? mConnections[n].Received : std::string();
    }
    bool WaitForReceived(size_t n, const std::string &expected,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, timeout, [&] {
            return n < mConnections.size() && mConnections[n].Received.size() >= expected.size();
        }) && mConnections[n].Received == expected;
    }
    // Every complete line of every connection, in the order the server handled them.
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(mLock);
        return mLines;
    }
    bool WaitForLines(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, timeout, [&] { return mLines.size() >= count; });
    }
    // Sends on connection n (all bytes, blocking).
    void Send(size_t n, const std::string &bytes) {
        std::lock_guard<std::mutex> guard(mLock);
        if (n < mConnections.size())
            SendAll(mConnections[n].Socket, bytes);
    }
    // Closes connection n: its peer reads the end of the data.
    void Close(size_t n) { Retire(n, false); }
    // Closes connection n with a reset instead of the end of the data.
    void Reset(size_t n) { Retire(n, true); }
    // While off, nothing more is received: a peer's sends fill the buffers and then wait.
    void SetReceiving(bool receiving) { mReceiving = receiving; }

private:
    struct Connection {
        int Socket;
        std::string Received;
        std::string Line;
    };

    static void SendAll(int socket, const std::string &bytes) {
        size_t sent = 0;
        while (socket >= 0 && sent < bytes.size()) {
            const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<size_t>(n);
        }
    }

    // The server thread polls and reads copies of the descriptors outside the lock, so only it
    // closes them, between two polls: a descriptor closed elsewhere could meanwhile be the number
    // of a new connection. The caller waits until its connection is closed.
    void Retire(size_t n, bool bReset) {
        std::unique_lock<std::mutex> guard(mLock);
        if (n >= mConnections.size() || mConnections[n].Socket < 0)
            return;
        const int socket = mConnections[n].Socket;
        mConnections[n].Socket = -1;
        if (bReset) {
            const linger abort{1, 0};
            ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
        }
        mRetired.push_back(socket);
        mChanged.wait_for(guard, std::chrono::seconds(5), [&] { return mRetired.empty(); });
    }

    void CloseRetired() {
        for (const int socket : mRetired)
            ::close(socket);
        mRetired.clear();
        mChanged.notify_all();
    }

    void Serve() {
        while (!mStop) {
            std::vector<pollfd> watched{{mListener, POLLIN, 0}};
            {
                std::lock_guard<std::mutex> guard(mLock);
                CloseRetired();
                for (const Connection &connection : mConnections)
                    watched.push_back({mReceiving ? connection.Socket : -1, POLLIN, 0});
            }
            if (::poll(watched.data(), watched.size(), 10) <= 0)
                continue;
            if (watched[0].revents & POLLIN) {
                const int accepted = ::accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
                if (accepted >= 0) {
                    const int on = 1;
                    ::setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
                    std::lock_guard<std::mutex> guard(mLock);
                    mConnections.push_back({accepted, std::string(), std::string()});
                    mChanged.notify_all();
                }
            }
            for (size_t i = 1; i < watched.size(); ++i)
                if (watched[i].fd >= 0 && (watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    Receive(i - 1, watched[i].fd);
        }
    }

    void Receive(size_t index, int socket) {
        char buffer[4096];
        const ssize_t n = ::recv(socket, buffer, sizeof(buffer), MSG_DONTWAIT);
        std::lock_guard<std::mutex> guard(mLock);
        Connection &connection = mConnections[index];
        if (connection.Socket != socket)
            return;
        if (n <= 0) {
            if (n == 0) {
                ::close(socket);
                connection.Socket = -1;
                mChanged.notify_all();
            }
            return;
        }
        connection.Received.append(buffer, static_cast<size_t>(n));
        connection.Line.append(buffer, static_cast<size_t>(n));
        size_t end;
        while (!mLineEnd.empty() && (end = connection.Line.find(mLineEnd)) != std::string::npos) {
            const std::string line = connection.Line.substr(0, end + mLineEnd.size());
            connection.Line.erase(0, end + mLineEnd.size());
            mLines.push_back(line);
            if (mResponder)
                SendAll(connection.Socket, mResponder(line));
        }
        mChanged.notify_all();
    }

    std::string mLineEnd;
    int mListener = -1;
    uint16_t mPort = 0;
    std::atomic<bool> mStop{false};
    std::atomic<bool> mReceiving{true};
    std::thread mThread;
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<Connection> mConnections;
    std::vector<int> mRetired; // closed connections' sockets, for the server thread to close
    std::vector<std::string> mLines;
    Responder mResponder;
};
