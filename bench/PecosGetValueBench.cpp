// One channel read of the PECOS AD converter (GetValue 750 through the plug-in's exports, the
// plug-in loaded as the host loads it) against the PECOS simulator answering at once, beside a
// plain socket client sending the same request to the same simulator in the same run, and the plain
// client with the system calls that the driver's lock and input look take on top. The parts
// of the driver's road are measured on their own: the driver called directly (no export layer),
// the stream lock, one logged call without a collector, and the reply parsing.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include <wx/init.h>
#include <wx/socket.h>

#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "pecos/DetectorNumber.h"
#include "pecos/PecosPlugin.h"
#include "pecos/PecosSimulator.h"
#include "pecos/PontisPecosADConverter.h"
#include "platform/SocketSupport.h"
#include "streams/StreamLocking.h"

namespace {

namespace fs = std::filesystem;

const char *const Request = "REQ-D1";
const float Answer = 12.5f;

// wx with its sockets, private mailslot and lock folders (no collector), the simulator and the
// settings file of the driver, for the whole run.
struct BenchWorld {
    BenchWorld() {
        mDir = fs::temp_directory_path() / ("pecos-bench-" + std::to_string(getpid()));
        fs::create_directories(mDir);
        setenv("KORVALIS_MAILSLOT_DIR", (mDir / "mailslot").c_str(), 1);
        setenv("KORVALIS_LOCK_DIR", (mDir / "locks").c_str(), 1);
        setenv("KORVALIS_NONINTERACTIVE", "1", 1);
        setenv("KORVALIS_PECOS_SIMULATOR", PECOS_SIMULATOR_PATH, 0);
        setenv("KORVALIS_PLUGIN", PONTIS_PLUGIN_PATH, 0);
        Simulator = std::make_unique<PecosTest::PecosSimulator>(
            std::vector<std::string>{"--value", std::string(Request) + "=12.5"});
        Settings = mSettingsFile.Server(Simulator->Port()).Detectors({Request}).Write();
    }
    ~BenchWorld() {
        Simulator.reset();
        std::error_code ignored;
        fs::remove_all(mDir, ignored);
    }
    wxInitializer Wx;
    bool Sockets = wxSocketBase::Initialize();
    fs::path mDir;
    std::unique_ptr<PecosTest::PecosSimulator> Simulator;
    PecosTest::SettingsFile mSettingsFile;
    std::string Settings;
};

BenchWorld &World() {
    static BenchWorld world;
    return world;
}

// A plain connection to the simulator, -1 when it failed.
int ConnectToSimulator() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(World().Simulator->Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One request of the plain client: the line out, bytes in until the line end; false when the
// answer is not the simulator's.
bool PlainExchange(int fd, const std::string &line) {
    ::send(fd, line.data(), line.size(), 0);
    std::string reply;
    char buffer[256];
    while (reply.find('\n') == std::string::npos) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<size_t>(n));
    }
    return std::strtof(reply.c_str(), nullptr) == Answer;
}

// The plain client: one connection, one exchange per read.
void PlainSocketClient(benchmark::State &state) {
    const int fd = ConnectToSimulator();
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    const std::string line = std::string(Request) + "\n";
    for (auto _ : state) {
        if (!PlainExchange(fd, line)) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    ::close(fd);
}

// The plain client with the system calls that the driver's guarantees take on top: the file lock
// taken and given back, and the look for waiting input before the request.
void PlainClientWithLockCalls(benchmark::State &state) {
    const int fd = ConnectToSimulator();
    const std::string lockFile = (World().mDir / "plain.lock").string();
    const int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || lock < 0) {
        state.SkipWithError("connect or open failed");
        return;
    }
    const std::string line = std::string(Request) + "\n";
    for (auto _ : state) {
        ::flock(lock, LOCK_EX | LOCK_NB);
        pollfd look{fd, POLLIN, 0};
        ::poll(&look, 1, 0);
        const bool right = PlainExchange(fd, line);
        ::flock(lock, LOCK_UN);
        if (!right) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    ::close(lock);
    ::close(fd);
}

// GetValue 750 through the exports of the loaded plug-in.
void ExportsGetValue750(benchmark::State &state) {
    World();
    PecosTest::HostDriver driver("PONTISPECOS_AD_8");
    if (driver.Created != 0 || driver.Load(World().Settings) != 0 || driver.Init() != 0) {
        state.SkipWithError("driver not ready");
        return;
    }
    for (auto _ : state) {
        float value = 0;
        if (driver.Read(0, value) != 0 || value != Answer) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    driver.DeInit();
}

// The same read on a driver object of this program: the road without the export layer.
void DriverGetChannelValue(benchmark::State &state) {
    World();
    PontisPecosSCPI_ADConverter driver("PECOS-8");
    if (driver.LoadConfiguration(nullptr, World().Settings.c_str()) != 0 || driver.InitDevice(nullptr) != 0) {
        state.SkipWithError("driver not ready");
        return;
    }
    for (auto _ : state) {
        uint32_t channel = 0;
        float value = 0;
        if (driver.GetChannelValue(nullptr, &channel, &value) != 0 || value != Answer) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    driver.DeInitDevice(nullptr);
}

// The stream's cross-process lock, taken and given back once per read.
void StreamLockUnlock(benchmark::State &state) {
    World();
    Mutex mutex(MakeStreamLockName("ETHER:tcpip://127.0.0.1:1"));
    for (auto _ : state) {
        mutex.Lock(10000);
        mutex.Unlock();
    }
}

// The stream's look for waiting input on a quiet connection (the input clearing before a request;
// the wait before a receive is the same call with a time-out).
void SocketInputLook(benchmark::State &state) {
    const int fd = ConnectToSimulator();
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(Platform::WaitReadable(fd, 0));
    ::close(fd);
}

// Taking an answer that has arrived: one receive on a socket made blocking in slices (the
// stream's way), against a wait for readiness and a receive on a non-blocking one. Both rows send
// the answer first, so their difference is the receive's.
template <bool InSlices> void AnswerReceive(benchmark::State &state) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    if (InSlices)
        Platform::MakeBlockingInSlices(pair[0]);
    else
        ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    char buffer[64];
    for (auto _ : state) {
        if (::send(pair[1], "12.5\n", 5, MSG_NOSIGNAL) != 5) {
            state.SkipWithError("send failed");
            break;
        }
        long received = 0;
        if (InSlices)
            received = Platform::ReceiveWithin(pair[0], buffer, sizeof(buffer), 1000);
        else if (Platform::WaitReadable(pair[0], 1000))
            received = ::recv(pair[0], buffer, sizeof(buffer), MSG_DONTWAIT);
        benchmark::DoNotOptimize(received);
    }
    ::close(pair[0]);
    ::close(pair[1]);
}

// One call record (entry, begin, end) while no collector listens.
void LoggedCallWithoutCollector(benchmark::State &state) {
    World();
    for (auto _ : state) {
        QuellinEntry entry("PontisPecosSCPI_ADConverter", "GetChannelValue()");
        entry.LogBegin(QuellinLevelNote);
        entry.LogEnd(QuellinLevelComplete, L"Err", DWORD{0});
    }
}

// The checks of one reply: "Failure" anywhere, then the first number.
void ReplyParsing(benchmark::State &state) {
    World();
    const std::string reply = "12.5\n";
    for (auto _ : state) {
        float value = 0;
        const bool failure = MatchesRegex(reply, "Failure", true);
        const bool parsed = ReadDetectorNumber(reply, value);
        benchmark::DoNotOptimize(failure);
        benchmark::DoNotOptimize(parsed);
    }
}

} // namespace

BENCHMARK(PlainSocketClient)->UseRealTime();
BENCHMARK(PlainClientWithLockCalls)->UseRealTime();
BENCHMARK(ExportsGetValue750)->UseRealTime();
BENCHMARK(DriverGetChannelValue)->UseRealTime();
BENCHMARK(StreamLockUnlock);
BENCHMARK(SocketInputLook);
BENCHMARK(AnswerReceive<true>)->Name("AnswerReceiveInSlices");
BENCHMARK(AnswerReceive<false>)->Name("AnswerReceivePollFirst");
BENCHMARK(LoggedCallWithoutCollector);
BENCHMARK(ReplyParsing);
