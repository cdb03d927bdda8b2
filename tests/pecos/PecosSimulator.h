// The PECOS simulator as a child process of the test: started on a free loopback port (or a given
// one), told what to answer through its control channel, and read back through its event log
// ("N open", "N < LINE", "N > REPLY", "N cut TEXT", "N drop", "N close"; see tools/pecos-sim).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace PecosTest {

struct SimulatorEvent {
    unsigned Connection = 0;
    std::string Kind; // open, <, >, cut, partial, drop, close
    std::string Text; // unescaped
};

class PecosSimulator {
public:
    // options are the simulator's own (--value, --on, --strict, --away ...); port 0 picks a free port.
    // Started before the threads that use it: its fork then meets no lock held by them.
    explicit PecosSimulator(const std::vector<std::string> &options = {}, unsigned port = 0) {
        const std::string program = TestSupport::RunnerEnv("KORVALIS_PECOS_SIMULATOR");
        std::vector<std::string> argv{program, "--port", std::to_string(port), "--quiet", "--control",
                                      "--log", LogPath()};
        argv.insert(argv.end(), options.begin(), options.end());
        Start(argv);
        const std::string first = ReadLine(std::chrono::seconds(10));
        std::istringstream in(first);
        std::string word, address;
        if (in >> word >> address >> mPort && (word == "listening" || word == "away"))
            return;
        mPort = 0;
    }

    ~PecosSimulator() {
        if (mInput >= 0)
            ::close(mInput); // the simulator ends when its control channel closes
        if (mPid > 0) {
            int status = 0;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (::waitpid(mPid, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ::kill(mPid, SIGKILL);
                    ::waitpid(mPid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        if (mOutput >= 0)
            ::close(mOutput);
    }

    PecosSimulator(const PecosSimulator &) = delete;
    PecosSimulator &operator=(const PecosSimulator &) = delete;

    // 0 when the simulator did not start listening.
    unsigned Port() const { return mPort; }

    // One control command ("on RULE", "value NAME TEXT", "drop", "clear" ...); true once the
    // simulator acknowledged it.
    bool Control(const std::string &command) {
        const std::string line = command + "\n";
        if (mInput < 0 || ::write(mInput, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return false;
        return ReadLine(std::chrono::seconds(10)) == "ok";
    }

    std::vector<SimulatorEvent> Events() const {
        std::vector<SimulatorEvent> events;
        std::istringstream in(TestSupport::ReadFile(mLogPath));
        for (std::string line; std::getline(in, line);) {
            SimulatorEvent event;
            std::istringstream fields(line);
            fields >> event.Connection >> event.Kind;
            const size_t text = line.find(' ') + 1 + event.Kind.size();
            event.Text = text < line.size() ? Unescape(line.substr(text + 1)) : std::string();
            events.push_back(event);
        }
        return events;
    }

    // The lines received, on one connection or (0) on all.
    std::vector<std::string> Received(unsigned connection = 0) const {
        std::vector<std::string> lines;
        for (const auto &event : Events())
            if (event.Kind == "<" && (connection == 0 || event.Connection == connection))
                lines.push_back(event.Text);
        return lines;
    }

    size_t Count(const std::string &kind) const {
        size_t n = 0;
        for (const auto &event : Events())
            n += event.Kind == kind ? 1 : 0;
        return n;
    }

    bool WaitFor(const std::function<bool(const std::vector<SimulatorEvent> &)> &condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        return TestSupport::WaitUntil([&] { return condition(Events()); }, timeout);
    }

    // Waits until as many connections have closed.
    bool WaitForClosed(size_t connections,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        return TestSupport::WaitUntil([&] { return Count("close") >= connections; }, timeout);
    }

    bool WaitForReceived(size_t lines, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        return TestSupport::WaitUntil([&] { return Count("<") >= lines; }, timeout);
    }

private:
    const std::string &LogPath() {
        mLogPath = mDir.File("simulator.log");
        return mLogPath;
    }

    static std::string Unescape(const std::string &text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\\' || i + 1 == text.size()) {
                out += text[i];
                continue;
            }
            const char c = text[++i];
            if (c == 'n')
                out += '\n';
            else if (c == 'r')
                out += '\r';
            else if (c == 't')
                out += '\t';
            else if (c == 'x' && i + 2 < text.size()) {
                out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
            } else
                out += c;
        }
        return out;
    }

    void Start(const std::vector<std::string> &argv) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0)
            return;
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        // Made before the fork: the child of a process with other threads must not allocate (an
        // allocator lock held by one of them at the fork is never let go there).
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        mPid = ::fork();
        if (mPid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        mInput = in[1];
        mOutput = out[0];
        ::signal(SIGPIPE, SIG_IGN);
    }

    // One line of the simulator's stdout, "" at the deadline or at its end.
    std::string ReadLine(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const size_t end = mPending.find('\n');
            if (end != std::string::npos) {
                std::string line = mPending.substr(0, end);
                mPending.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (mOutput < 0 || left <= 0)
                return std::string();
            pollfd p{mOutput, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(mOutput, buffer, sizeof buffer);
            if (n <= 0)
                return std::string();
            mPending.append(buffer, static_cast<size_t>(n));
        }
    }

    TestSupport::TempDir mDir;
    std::string mLogPath;
    pid_t mPid = -1;
    int mInput = -1;
    int mOutput = -1;
    std::string mPending;
    unsigned mPort = 0;
};

} // namespace PecosTest
