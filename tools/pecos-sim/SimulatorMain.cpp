// pecos-simulator: a stand-in for the PECOS test system's text server, for tests and the demo.
// `pecos-simulator --help` tells its options, events, answers and control commands; the rules are
// told in SimulatorRules.h.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

#include "SimulatorRules.h"
#include "common/CommandLine.h"

const char *const CommandLine::Program = "pecos-simulator";

namespace {

using Clock = std::chrono::steady_clock;

PecosSim::Behaviour gBehaviour;
std::mutex gOutputMutex;
FILE *gLog = nullptr;
bool gQuiet = false;
std::mutex gLoginMutex;
std::string gLogin; // "AUTH-USER:PASSWORD" of --login or the control login, or empty

// USER:PASSWORD split at the first ':', as the drivers' login line is read (a user name holds no
// ':'); false for a text without one.
bool SetLogin(const std::string &text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    std::lock_guard<std::mutex> lock(gLoginMutex);
    gLogin = "AUTH-" + text.substr(0, colon) + ":" + text.substr(colon + 1);
    return true;
}

// True when the login line is another than the server's (--login).
bool IsForeignLogin(const std::string &line) {
    std::lock_guard<std::mutex> lock(gLoginMutex);
    return !gLogin.empty() && line != gLogin;
}

void Record(unsigned connection, const std::string &event) {
    const std::string line = std::to_string(connection) + " " + event + "\n";
    std::lock_guard<std::mutex> lock(gOutputMutex);
    if (gLog != nullptr) {
        std::fputs(line.c_str(), gLog);
        std::fflush(gLog);
    }
    if (!gQuiet) {
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }
}

// Files locked by rules, until the control "unlock".
std::mutex gLocksMutex;
std::vector<int> gLocks;

void HoldLock(unsigned connection, const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(gLocksMutex);
        gLocks.push_back(fd);
    }
    Record(connection, "lock " + PecosSim::Escape(path));
}

void ReleaseLocks() {
    std::lock_guard<std::mutex> lock(gLocksMutex);
    for (const int fd : gLocks)
        ::close(fd);
    gLocks.clear();
}

void Say(const std::string &text) {
    std::lock_guard<std::mutex> lock(gOutputMutex);
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

class Connection;

// Delayed answers of every connection, sent by one thread when they are due; answers that are
// due at once are sent by the connection's reader itself.
class Scheduler {
public:
    void Add(Clock::time_point due, std::shared_ptr<Connection> connection, PecosSim::Answer answer);

private:
    struct Job {
        Clock::time_point Due;
        uint64_t Order;
        std::shared_ptr<Connection> Target;
        PecosSim::Answer Action;
        bool operator>(const Job &other) const {
            return Due != other.Due ? Due > other.Due : Order > other.Order;
        }
    };
    void Run();

    std::mutex mMutex;
    std::condition_variable mWake;
    std::priority_queue<Job, std::vector<Job>, std::greater<Job>> mJobs;
    uint64_t mOrder = 0;
    bool mRunning = false;
};

Scheduler gScheduler;
std::atomic<int> gListener{-1};
std::atomic<int> gAway{-1}; // the bound socket of --away until "listen"

// The server goes away: no connection is accepted any more and every open one is closed.
void StopServing();

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(int socket, unsigned id) : mSocket(socket), mId(id) {}
    ~Connection() {
        if (mSocket >= 0)
            ::close(mSocket);
    }

    void Serve() {
        Record(mId, "open");
        std::string pending;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(mSocket, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                Received(line);
            }
        }
        if (!pending.empty())
            Record(mId, "partial " + PecosSim::Escape(pending));
        Record(mId, "close");
        Unregister();
        // A reset goes out now, not once a delayed answer that holds the connection is due.
        std::lock_guard<std::mutex> lock(mWriteMutex);
        if (mbReset) {
            ::close(mSocket);
            mSocket = -1;
        }
    }

    void Carry(const PecosSim::Answer &answer) {
        if (!answer.LockPath.empty())
            HoldLock(mId, answer.LockPath);
        if (answer.Stop) {
            Record(mId, "stop");
            StopServing();
            return;
        }
        std::lock_guard<std::mutex> lock(mWriteMutex);
        if (mDropped)
            return;
        if (answer.Drop && answer.Reset) {
            // The close of the socket, once its reader has ended, resets the connection.
            mDropped = true;
            mbReset = true;
            Record(mId, "reset");
            const linger abort{1, 0};
            ::setsockopt(mSocket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            ::shutdown(mSocket, SHUT_RD);
            return;
        }
        if (answer.Drop) {
            mDropped = true;
            Record(mId, "drop");
            ::shutdown(mSocket, SHUT_RDWR);
            return;
        }
        if (!answer.Reply)
            return;
        std::string data = answer.Text + "\n";
        const bool cut = answer.Cut && *answer.Cut < data.size();
        if (cut)
            data.resize(*answer.Cut);
        if (!Send(data, answer.PaceMs))
            return;
        if (!cut) {
            Record(mId, "> " + PecosSim::Escape(answer.Text));
            return;
        }
        mDropped = true;
        Record(mId, "cut " + PecosSim::Escape(data));
        ::shutdown(mSocket, SHUT_RDWR);
    }

    // Closes (or resets) the connection.
    void Drop(bool bReset) {
        PecosSim::Answer answer;
        answer.Drop = true;
        answer.Reset = bReset;
        Carry(answer);
    }

    static void DropAll(bool bReset = false) {
        std::lock_guard<std::mutex> lock(sRegistryMutex);
        for (auto &entry : sRegistry)
            if (auto connection = entry.second.lock())
                connection->Drop(bReset);
    }

    void Register() {
        std::lock_guard<std::mutex> lock(sRegistryMutex);
        sRegistry[mId] = shared_from_this();
    }

private:
    void Received(std::string line) {
        Record(mId, "< " + PecosSim::Escape(line));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // After a login other than the server's, no line is answered or acted on.
        if (PecosSim::Classify(line) == PecosSim::LineKind::Auth)
            mbForeignLogin = IsForeignLogin(line);
        if (mbForeignLogin)
            return;
        const Clock::time_point arrived = Clock::now();
        const PecosSim::Answer answer = gBehaviour.Respond(line);
        if (answer.DelayMs == 0)
            Carry(answer);
        else
            gScheduler.Add(arrived + std::chrono::milliseconds(answer.DelayMs), shared_from_this(), answer);
    }

    // Every byte, or one at a time with the pause between; false when the peer is gone.
    bool Send(const std::string &data, unsigned paceMs) {
        const size_t step = paceMs == 0 ? data.size() : 1;
        for (size_t sent = 0; sent < data.size();) {
            if (sent > 0 && paceMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(paceMs));
            const size_t end = std::min(data.size(), sent + step);
            while (sent < end) {
                const ssize_t n = ::send(mSocket, data.data() + sent, end - sent, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return false;
                sent += static_cast<size_t>(n);
            }
        }
        return true;
    }

    void Unregister() {
        std::lock_guard<std::mutex> lock(sRegistryMutex);
        sRegistry.erase(mId);
    }

    int mSocket;
    unsigned mId;
    std::mutex mWriteMutex;
    bool mDropped = false;
    bool mbReset = false;        // the socket closes with a reset once its reader ended
    bool mbForeignLogin = false; // the last login line was not the server's (--login)
    static std::mutex sRegistryMutex;
    static std::map<unsigned, std::weak_ptr<Connection>> sRegistry;
};

std::mutex Connection::sRegistryMutex;
std::map<unsigned, std::weak_ptr<Connection>> Connection::sRegistry;

void Scheduler::Add(Clock::time_point due, std::shared_ptr<Connection> connection, PecosSim::Answer answer) {
    std::lock_guard<std::mutex> lock(mMutex);
    mJobs.push(Job{due, mOrder++, std::move(connection), std::move(answer)});
    if (!mRunning) {
        mRunning = true;
        std::thread([this] { Run(); }).detach();
    }
    mWake.notify_one();
}

void Scheduler::Run() {
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
        if (mJobs.empty()) {
            mWake.wait(lock);
            continue;
        }
        // A copy: a job added while this waits may move the queue's storage.
        const Clock::time_point due = mJobs.top().Due;
        if (Clock::now() < due) {
            mWake.wait_until(lock, due);
            continue;
        }
        Job job = mJobs.top();
        mJobs.pop();
        lock.unlock();
        job.Target->Carry(job.Action);
        job.Target.reset();
        lock.lock();
    }
}

bool IsLoopback(const in_addr &address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

// The loopback socket bound to the port (0: a free one), listening unless away: an away server's
// port stays its own while connects to it are refused.
int Listen(const std::string &bindAddress, unsigned port, unsigned &boundPort, bool away) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1 || !IsLoopback(address.sin_addr)) {
        std::fprintf(stderr, "pecos-simulator: %s is no loopback address\n", bindAddress.c_str());
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        (!away && ::listen(fd, 16) != 0)) {
        std::fprintf(stderr, "pecos-simulator: cannot listen on %s:%u: %s\n", bindAddress.c_str(), port,
                     std::strerror(errno));
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    boundPort = ntohs(address.sin_port);
    return fd;
}

void StopServing() {
    const int listener = gListener.exchange(-1);
    if (listener >= 0)
        ::shutdown(listener, SHUT_RDWR); // ends the accept loop, which closes it
    Connection::DropAll();
}

void AcceptLoop(int listener) {
    unsigned next = 1;
    for (;;) {
        const int socket = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                continue;
            ::close(listener);
            return;
        }
        const int on = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto connection = std::make_shared<Connection>(socket, next++);
        connection->Register();
        std::thread([connection] { connection->Serve(); }).detach();
    }
}

bool AddRule(const std::string &text) {
    std::string error;
    auto rule = PecosSim::ParseRule(text, error);
    if (!rule) {
        std::fprintf(stderr, "pecos-simulator: %s\n", error.c_str());
        return false;
    }
    gBehaviour.AddRule(std::move(*rule));
    return true;
}

bool SetValue(const std::string &assignment, char separator) {
    const size_t at = assignment.find(separator);
    if (at == std::string::npos || at == 0)
        return false;
    gBehaviour.SetValue(assignment.substr(0, at), PecosSim::Unescape(assignment.substr(at + 1)));
    return true;
}

// An away server starts to accept on its port.
bool ListenAfterAway() {
    const int held = gAway.exchange(-1);
    if (held < 0 || ::listen(held, 16) != 0)
        return false;
    gListener = held;
    std::thread(AcceptLoop, held).detach();
    return true;
}

// One control command; false ends the simulator.
bool Control(const std::string &line) {
    const std::string verb = line.substr(0, line.find(' '));
    const std::string rest = verb.size() < line.size() ? line.substr(verb.size() + 1) : std::string();
    if (verb == "quit") {
        Say("ok");
        return false;
    }
    bool ok = true;
    if (verb == "on")
        ok = AddRule(rest);
    else if (verb == "clear")
        gBehaviour.ClearRules();
    else if (verb == "value")
        ok = SetValue(rest, ' ');
    else if (verb == "idn")
        gBehaviour.SetIdentification(PecosSim::Unescape(rest));
    else if (verb == "drop" || verb == "reset")
        Connection::DropAll(verb == "reset");
    else if (verb == "unlock")
        ReleaseLocks();
    else if (verb == "listen")
        ok = ListenAfterAway();
    else if (verb == "login")
        ok = SetLogin(rest);
    else if (verb != "sync" && !verb.empty())
        ok = false;
    Say(ok ? "ok" : "error " + line);
    return true;
}

constexpr const char *Synopsis =
    "usage: pecos-simulator [--port N] [--bind 127.x.x.x] [--log FILE] [--quiet] [--control]\n"
    "                       [--idn TEXT] [--value NAME=TEXT]... [--on RULE]... [--strict] "
    "[--require-enable]\n"
    "                       [--login USER:PASSWORD] [--away]\n"
    "       pecos-simulator --help\n";

void PrintUsage() {
    std::printf("%s", Synopsis);
    std::printf(
        "Listens on a loopback address (--bind, default 127.0.0.1; --port, default 15444, 0 picks a free\n"
        "port) and prints \"listening ADDRESS PORT\" once it accepts connections. Every event goes, one\n"
        "line each, to the --log file and (unless --quiet) to standard output:\n"
        "  N open | N < LINE | N > REPLY | N cut TEXT | N partial TEXT | N drop | N reset | N stop |\n"
        "  N lock PATH | N close\n"
        "N numbers the connections from 1; texts are escaped (\\n \\r \\t \\\\ \\xHH); \"cut\" is the part "
        "of\n"
        "a reply that went out before a rule's cut closed the connection.\n"
        "Lines end at a line feed. IDN? is answered with the identification (--idn, default PECOS-8), a\n"
        "detector name with its --value text or a generated reading; AUTH-, CMD- and screen lines get no\n"
        "answer. --strict: unknown detectors answer \"Failure\"; --require-enable: detectors answer\n"
        "\"Failure\" until enabled and activated. --login: after a login line other than\n"
        "AUTH-USER:PASSWORD, a connection's lines are logged but neither answered nor acted on; the\n"
        "value splits at its first ':', so the user name holds none.\n"
        "An option's value is never an option name.\n"
        "--away: the port is bound but refuses connects (\"away ADDRESS PORT\" in place of \"listening\")\n"
        "until the control command listen.\n"
        "--on RULE: MATCH [delay=MS] [times=N] [cut=N] [pace=MS] [lock=PATH] [drop | reset | stop |\n"
        "  silent | failure | reply=TEXT]; drop closes the connection, reset resets it, stop closes\n"
        "  every connection and listens no more; lock takes the file lock of PATH before the answer\n"
        "  MATCH is a line, a prefix ending in '*', '*', or @auth @cmd @idn @detector @screen; newer\n"
        "  rules are tried first (numbers up to %lu).\n"
        "--control: commands on standard input, each answered \"ok\" or \"error TEXT\"; ends when it "
        "closes:\n"
        "  on RULE | clear | value NAME TEXT | idn TEXT | drop | reset | unlock | listen |\n"
        "  login USER:PASSWORD | sync | quit\n"
        "  (drop closes every connection, reset resets every one at once, also one whose answer is\n"
        "  delayed, unlock lets go of the rules' file locks, listen ends --away, login takes that\n"
        "  login from the next login line on)\n"
        "Exit status: 0, 1 when it cannot listen or open the log, 2 for a usage error.\n",
        PecosSim::LargestRuleNumber);
}

int UsageError(const std::string &problem) {
    return CommandLine::UsageError(problem, Synopsis);
}

} // namespace

int main(int argc, char **argv) {
    unsigned port = 15444;
    std::string bindAddress = "127.0.0.1";
    bool control = false;
    bool away = false;
    static const char *const Options[] = {"--help",  "-h",        "--port",           "--bind", "--log",
                                          "--quiet", "--control", "--away",           "--idn",  "--value",
                                          "--on",    "--strict",  "--require-enable", "--login"};
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        // "--login --port 0" lacks the login's value, rather than logging in as "--port".
        const bool hasValue =
            i + 1 < argc && std::none_of(std::begin(Options), std::end(Options), [&](const char *name) {
                return std::strcmp(name, argv[i + 1]) == 0;
            });
        if (option == "--help" || option == "-h") {
            PrintUsage();
            return 0;
        } else if (option == "--port" && hasValue) {
            uint16_t value = 0;
            if (!CommandLine::ReadNumber("port", argv[++i], value))
                return UsageError("");
            port = value;
        } else if (option == "--bind" && hasValue) {
            bindAddress = argv[++i];
        } else if (option == "--log" && hasValue) {
            gLog = std::fopen(argv[++i], "a");
            if (gLog == nullptr) {
                std::fprintf(stderr, "pecos-simulator: cannot open %s\n", argv[i]);
                return 1;
            }
        } else if (option == "--quiet") {
            gQuiet = true;
        } else if (option == "--control") {
            control = true;
        } else if (option == "--away") {
            away = true;
        } else if (option == "--idn" && hasValue) {
            gBehaviour.SetIdentification(PecosSim::Unescape(argv[++i]));
        } else if (option == "--value" && hasValue) {
            if (!SetValue(argv[++i], '='))
                return UsageError(std::string("bad --value ") + argv[i]);
        } else if (option == "--on" && hasValue) {
            if (!AddRule(argv[++i]))
                return UsageError("");
        } else if (option == "--strict") {
            gBehaviour.SetStrict(true);
        } else if (option == "--require-enable") {
            gBehaviour.SetRequireEnable(true);
        } else if (option == "--login" && hasValue) {
            if (!SetLogin(argv[++i]))
                return UsageError(std::string("--login needs USER:PASSWORD, not ") + argv[i]);
        } else if (option == "--port" || option == "--bind" || option == "--log" || option == "--idn" ||
                   option == "--value" || option == "--on" || option == "--login") {
            return UsageError(option + " needs a value");
        } else {
            return UsageError("unknown option " + option);
        }
    }

    ::signal(SIGPIPE, SIG_IGN);
    // Without a control channel the simulator runs until one of these arrives; they are blocked
    // before any thread starts, so that the main thread alone takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    if (!control)
        ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    unsigned boundPort = 0;
    const int listener = Listen(bindAddress, port, boundPort, away);
    if (listener < 0)
        return 1;
    if (away) {
        gAway = listener;
        Say("away " + bindAddress + " " + std::to_string(boundPort));
    } else {
        Say("listening " + bindAddress + " " + std::to_string(boundPort));
        gListener = listener;
        std::thread(AcceptLoop, listener).detach();
    }

    if (control) {
        std::string line;
        while (std::getline(std::cin, line) && Control(line)) {
        }
    } else {
        int signal = 0;
        ::sigwait(&stop, &signal);
    }
    // Detached threads still serve: leave without running destructors under them.
    std::lock_guard<std::mutex> lock(gOutputMutex);
    if (gLog != nullptr)
        std::fflush(gLog);
    std::fflush(stdout);
    std::_Exit(0);
}
