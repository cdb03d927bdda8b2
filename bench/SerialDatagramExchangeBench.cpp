// A healthy exchange of one short command and its one-line answer through the stream's write-read
// (lock, clear, write, read): RS-232 over a pseudo-terminal through the serial API, and UDP to a
// loopback datagram peer. Both peers echo the command at once. The UDP stream binds the fixed
// local port 51456: nothing else may hold it during the run.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include <wx/init.h>
#include <wx/socket.h>
#include <wx/utils.h>

#include "StreamBenchWorld.h"
#include "rs232/RS232DeviceStream.h"
#include "streams/LoopbackDatagramPeer.h"
#include "streams/StandInClient.h"
#include "streams/etherds/UDPDeviceStream.h"
#include "support/PseudoTerminal.h"

namespace {

constexpr int Port = 7;

struct BenchWorld : StreamBenchWorld {
    BenchWorld() : StreamBenchWorld("exchange-bench") {}
};

BenchWorld &World() {
    static BenchWorld world;
    return world;
}

// A write-read of "MEAS:VOLT?" per iteration; stops with an error at a wrong answer.
void WriteReads(benchmark::State &state, WriteReadDeviceStream &stream) {
    for (auto _ : state) {
        std::string response;
        DWORD count = 100;
        stream.WriteRead(nullptr, "MEAS:VOLT?", response, count, 1);
        if (response != "MEAS:VOLT?\n") {
            state.SkipWithError("wrong answer");
            break;
        }
    }
}

// An instrument on the terminal's master side that sends every line back.
class EchoInstrument {
public:
    explicit EchoInstrument(TestSupport::PseudoTerminal &terminal)
        : mThread([this, &terminal] {
              std::string line;
              while (!mStop) {
                  pollfd entry{terminal.Master(), POLLIN, 0};
                  char byte = 0;
                  if (poll(&entry, 1, 20) == 1 && read(terminal.Master(), &byte, 1) == 1) {
                      line += byte;
                      if (byte == '\n')
                          terminal.Send(line), line.clear();
                  }
              }
          }) {}
    ~EchoInstrument() {
        mStop = true;
        mThread.join();
    }

private:
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

void RS232WriteRead(benchmark::State &state) {
    World();
    TestSupport::PseudoTerminal terminal(Port);
    EchoInstrument instrument(terminal);
    auto configuration = std::make_shared<RS232DeviceStreamConfiguration>();
    configuration->SetCOMPort(Port);
    RS232DeviceStream stream;
    stream.GetDriver().SetImplementation(RS232Configuration::ImplementationSerialApi);
    char client = 0;
    if (!terminal.IsReady() || stream.Connect(nullptr, configuration, StandInClient(&client)) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    WriteReads(state, stream);
    stream.Disconnect(nullptr, StandInClient(&client));
}
BENCHMARK(RS232WriteRead)->Unit(benchmark::kMicrosecond);

void UDPWriteRead(benchmark::State &state) {
    World();
    LoopbackDatagramPeer peer;
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        std::string datagram;
        uint16_t sender = 0;
        while (!stop)
            if (peer.Receive(datagram, sender, std::chrono::milliseconds(20)))
                peer.SendTo(sender, datagram);
    });
    auto configuration = std::make_shared<UDPDeviceStreamConfig>();
    configuration->SetAddress(peer.Address());
    UDPDeviceStream stream;
    char client = 0;
    if (stream.Connect(nullptr, configuration, StandInClient(&client)) == 0)
        WriteReads(state, stream);
    else
        state.SkipWithError("connect failed");
    stream.Disconnect(nullptr, StandInClient(&client));
    stop = true;
    echo.join();
}
BENCHMARK(UDPWriteRead)->Unit(benchmark::kMicrosecond);

} // namespace
