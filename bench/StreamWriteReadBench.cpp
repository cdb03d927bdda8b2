// One short command and its one-line answer over TCP to a loopback echo server: through the TCP
// stream's write-read (lock, clear, write, read, log records), and through a plain socket client
// that sends the line and receives until the line end, in the same run.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include <wx/init.h>
#include <wx/socket.h>
#include <wx/utils.h>

#include "StreamBenchWorld.h"
#include "streams/LoopbackServer.h"
#include "streams/etherds/EthernetDeviceStream.h"
#include "streams/StandInClient.h"

namespace {

// The stream benchmarks' world and the echo server, for the whole run.
struct BenchWorld : StreamBenchWorld {
    BenchWorld() : StreamBenchWorld("stream-bench") {
        Server.SetResponder([](const std::string &line) { return line; });
    }
    LoopbackServer Server;
};

BenchWorld &World() {
    static BenchWorld world;
    return world;
}

// The TCP stream connected to the echo server.
class ConnectedStream {
public:
    ConnectedStream() {
        auto configuration = std::make_shared<EthernetDeviceStreamConfig>();
        configuration->SetAddress(World().Server.Address());
        Ok = Stream.Connect(nullptr, configuration, Client()) == 0;
    }
    ~ConnectedStream() { Stream.Disconnect(nullptr, Client()); }
    DeviceStreamClient *Client() { return StandInClient(&mClient); }
    EthernetDeviceStream Stream;
    bool Ok = false;

private:
    char mClient = 0;
};

// A write-read of "MEAS:VOLT?" per iteration; stops with an error at a wrong answer.
void WriteReads(benchmark::State &state, ConnectedStream &connected) {
    for (auto _ : state) {
        std::string response;
        DWORD count = 100;
        connected.Stream.WriteRead(nullptr, "MEAS:VOLT?", response, count, 3);
        if (response != "MEAS:VOLT?\n") {
            state.SkipWithError("wrong answer");
            break;
        }
    }
}

// The whole write-read: the stream's cross-process lock, clearing the input, write and read.
void StreamWriteRead(benchmark::State &state) {
    ConnectedStream connected;
    if (!connected.Ok) {
        state.SkipWithError("connect failed");
        return;
    }
    WriteReads(state, connected);
}
BENCHMARK(StreamWriteRead)->Unit(benchmark::kMicrosecond);

// The whole write-read inside an operation that holds the lock already (the lock is then taken
// again by the same thread, which costs no system call).
void StreamWriteReadUnderHeldLock(benchmark::State &state) {
    ConnectedStream connected;
    if (!connected.Ok || connected.Stream.Lock(nullptr, 10.0) != 0) {
        state.SkipWithError("connect or lock failed");
        return;
    }
    WriteReads(state, connected);
    connected.Stream.Unlock(nullptr);
}
BENCHMARK(StreamWriteReadUnderHeldLock)->Unit(benchmark::kMicrosecond);

// The stream's transfer alone: Write and Read, as a caller that already holds the lock makes them.
void StreamWriteThenRead(benchmark::State &state) {
    ConnectedStream connected;
    if (!connected.Ok) {
        state.SkipWithError("connect failed");
        return;
    }
    for (auto _ : state) {
        std::string response;
        connected.Stream.Write(nullptr, "MEAS:VOLT?", false);
        connected.Stream.Read(nullptr, response, 100);
        if (response != "MEAS:VOLT?\n") {
            state.SkipWithError("wrong answer");
            break;
        }
    }
}
BENCHMARK(StreamWriteThenRead)->Unit(benchmark::kMicrosecond);

// The stream's lock alone.
void StreamLockUnlock(benchmark::State &state) {
    ConnectedStream connected;
    for (auto _ : state) {
        connected.Stream.Lock(nullptr, 10.0);
        connected.Stream.Unlock(nullptr);
    }
}
BENCHMARK(StreamLockUnlock)->Unit(benchmark::kMicrosecond);

void PlainSocketWriteRead(benchmark::State &state) {
    BenchWorld &world = World();
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(world.Server.Port());
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    if (::connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        state.SkipWithError("connect failed");
        ::close(socket);
        return;
    }
    const std::string command = "MEAS:VOLT?\n";
    for (auto _ : state) {
        ::send(socket, command.data(), command.size(), MSG_NOSIGNAL);
        std::string response;
        char buffer[128];
        while (response.find('\n') == std::string::npos) {
            const ssize_t n = ::recv(socket, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            response.append(buffer, static_cast<size_t>(n));
        }
        if (response != command) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    ::close(socket);
}
BENCHMARK(PlainSocketWriteRead)->Unit(benchmark::kMicrosecond);

} // namespace
