// Fixtures of the VISA tests: the stand-in libraries under the names the binding looks for, the
// stand-in's call trace, the SOCKET name of a loopback server, and a pseudo-terminal that stands
// in for a COM port. Every wait has a deadline.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/StandInLibraries.h"
#include "streams/LoopbackServer.h"
#include "support/PseudoTerminal.h"
#include "support/TestSupport.h"

namespace VisaTest {

constexpr const char *SystemLibrary = "libvisa32.so";
constexpr const char *MakerLibrary = "libpelmora.so";
constexpr const char *IncompleteLibrary = "libvisa32-incomplete.so";

// $KORVALIS_LIBRARY_PATH names a folder that holds the given stand-ins under the given file names.
class LibraryFolder {
public:
    using Files = std::vector<std::pair<std::string, std::string>>;
    // An empty folder: no VISA library at all.
    LibraryFolder() : LibraryFolder(Files{}) {}
    // Pairs of (stand-in file, name in the folder).
    explicit LibraryFolder(const Files &files) : mPath("KORVALIS_LIBRARY_PATH", mDir.Path()) {
        for (const auto &file : files)
            std::filesystem::create_symlink(StandIns::Directory() + "/" + file.first, mDir.File(file.second));
    }
    std::string File(const std::string &name) const { return mDir.File(name); }

private:
    TestSupport::TempDir mDir;
    TestSupport::ScopedEnv mPath;
};

// The stand-in's trace: one line per VISA call, "<library> <call> ... -> <status>".
class Trace {
public:
    Trace() : mVariable("KORVALIS_VISA_TRACE", mDir.File("trace.txt")) {}
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(TestSupport::ReadFile(mDir.File("trace.txt")));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    // Lines that contain the text.
    std::vector<std::string> With(const std::string &text) const {
        std::vector<std::string> found;
        for (const std::string &line : Lines())
            if (line.find(text) != std::string::npos)
                found.push_back(line);
        return found;
    }
    // Lines of one call that contain the text.
    std::vector<std::string> Calls(const std::string &call, const std::string &text = std::string()) const {
        std::vector<std::string> found;
        for (const std::string &line : With(" " + call + " "))
            if (line.find(text) != std::string::npos)
                found.push_back(line);
        return found;
    }
    void Clear() { TestSupport::WriteFile(mDir.File("trace.txt"), ""); }

private:
    TestSupport::TempDir mDir;
    TestSupport::ScopedEnv mVariable;
};

inline bool WaitReadable(int fd, int milliseconds) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, milliseconds) == 1;
}

// Reads until the text ends with the terminator, the count is reached or the deadline passed.
inline std::string ReceiveFrom(int fd, const std::string &terminator, size_t count = 4096,
                               int milliseconds = 2000) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (text.size() < count &&
           (terminator.empty() || text.size() < terminator.size() ||
            text.compare(text.size() - terminator.size(), terminator.size(), terminator) != 0)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 || !WaitReadable(fd, static_cast<int>(left)))
            break;
        char chunk[512];
        const ssize_t got = ::read(fd, chunk, std::min(sizeof(chunk), count - text.size()));
        if (got <= 0)
            break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

inline void SendTo(int fd, const std::string &text) {
    ASSERT_EQ(static_cast<ssize_t>(text.size()), ::write(fd, text.data(), text.size()));
}

// The SOCKET resource of a loopback server.
inline std::string SocketResource(const LoopbackServer &server) {
    return "TCPIP0::127.0.0.1::" + std::to_string(server.Port()) + "::SOCKET";
}

// A pseudo-terminal whose device stands in for COM<n>: the test talks on the master side.
using TestSupport::PseudoTerminal;

} // namespace VisaTest
