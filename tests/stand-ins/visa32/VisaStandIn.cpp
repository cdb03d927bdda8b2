// A VISA library of our own for tests and the demo. It speaks real TCP on loopback and serial
// over a pseudo-terminal:
//   TCPIP[n]::host::port::SOCKET       a raw socket; host must be a loopback address or localhost
//   TCPIP[n]::host[::inst0]::INSTR     a raw socket to the port that $KORVALIS_VISA_INSTR_PORTS
//                                      gives the host ("host=port;host=port"): a loopback host is
//                                      connected itself, any other on 127.0.0.1
//   TCPIP[n]::host::hislipN::INSTR     a HiSLIP session: like INSTR with the port that
//                                      $KORVALIS_VISA_HISLIP_PORTS gives the host; absent when not
//                                      listed
//   ASRL<n>[::INSTR]                   $KORVALIS_COM<n>, else /dev/ttyS<n-1>
// Reads end as the standard says: at the count, at the termination character when
// VI_ATTR_TERMCHAR_EN (or VI_ATTR_ASRL_END_IN = TERMCHAR) is set, at END (on TCP: the end of the
// data received so far, unless VI_ATTR_SUPPRESS_END_EN), else with VI_ERROR_TMO. Exclusive locks
// hold across the sessions of the process.
//
// Test controls (read at each call): $KORVALIS_VISA_TRACE names a file that gets one line per
// call, "<library> <call> <arguments> -> <status>"; $KORVALIS_VISA_UNSUPPORTED lists attribute ids
// (hex) answered VI_ERROR_NSUP_ATTR; $KORVALIS_VISA_REFUSED lists attribute ids whose writes are
// answered VI_ERROR_NSUP_ATTR_STATE; $KORVALIS_VISA_NO_CHARACTER_EVENTS set refuses the serial
// character event (VI_ERROR_INV_EVENT), as a library without it does.
#include "visa/VisaApi.h"

#include "core/NeverDestroyed.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

extern "C" int __cxa_atexit(void (*func)(void *), void *arg, void *dso);

#ifndef VISA_STANDIN_NAME
#define VISA_STANDIN_NAME "visa32"
#endif

namespace {

enum class Kind { ResourceManager, Socket, Instr, Serial };

struct Session {
    Kind kind = Kind::ResourceManager;
    ViSession rm = 0;
    std::string name; // canonical resource name
    int fd = -1;
    ViUInt16 intfNum = 0;
    std::string input; // received, not yet read
    ViUInt32 tmo = 2000;
    ViUInt8 termchar = '\n';
    bool termcharEn = false;
    bool sendEnd = true;
    bool suppressEnd = false;
    bool keepalive = false;
    ViUInt32 maxQueue = 50;
    ViUInt32 baud = 9600;
    ViUInt16 dataBits = 8, parity = 0, stopBits = 10, flow = 0, endIn = VI_ASRL_END_TERMCHAR, endOut = 0;
    ViInt16 dtr = 1, rts = 1;
    bool charEvents = false;
    bool hislip = false;
};

struct ResourceLock {
    ViSession owner = 0;
    int count = 0;
};

// The tables are never destroyed: a call on another thread may still use them while the process
// exits. (Objects in the library's own storage, not function statics: those would keep it from
// unloading.)
std::mutex gMutex;
NeverDestroyed<std::condition_variable> gLockReleasedKept;
std::condition_variable &gLockReleased = gLockReleasedKept.Get();
NeverDestroyed<std::map<ViSession, Session>> gSessionsKept;
std::map<ViSession, Session> &gSessions = gSessionsKept.Get();
NeverDestroyed<std::map<std::string, ResourceLock>> gLocksKept;
std::map<std::string, ResourceLock> &gLocks = gLocksKept.Get(); // by upper-cased resource name
ViSession gNextSession = 1;

// Posted by an exit handler that runs before the static destructors at exit and not at an unload:
// the C library's own function on a page outside the heap, as the plug-in's entry does.
sem_t *gExiting = nullptr;

// At an unload (nobody calls the library then) the tables are emptied, so that the memory they
// hold goes with the library; at exit they stay for the calls still running.
struct EmptyAtUnload {
    ~EmptyAtUnload() {
        int exiting = 0;
        if (gExiting != nullptr && sem_getvalue(gExiting, &exiting) == 0 && exiting > 0)
            return;
        std::lock_guard<std::mutex> guard(gMutex);
        gSessions.clear();
        gLocks.clear();
    }
} gEmptyAtUnload;

// Made after gEmptyAtUnload: its handler comes first at exit.
struct ExitMark {
    ExitMark() {
        void *page = mmap(nullptr, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED)
            return;
        gExiting = static_cast<sem_t *>(page);
        sem_init(gExiting, 0, 0);
        __cxa_atexit(reinterpret_cast<void (*)(void *)>(reinterpret_cast<void (*)()>(&sem_post)), gExiting,
                     page);
    }
} gExitMark;

using Clock = std::chrono::steady_clock;

// Decimal text; std::to_string would bring a unique symbol that keeps the library from unloading.
// (The stand-in must unload like a DLL, so that tests can take it away again.)
std::string Decimal(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof(text), "%lu", value);
    return text;
}

std::string Upper(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool ListContains(const char *variable, ViAttr attribute) {
    const char *list = std::getenv(variable);
    if (list == nullptr)
        return false;
    std::string text(list);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(",; ", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        if (!item.empty() && std::strtoul(item.c_str(), nullptr, 16) == attribute)
            return true;
        start = end + 1;
    }
    return false;
}

void Trace(const char *format, ...) {
    const char *path = std::getenv("KORVALIS_VISA_TRACE");
    if (path == nullptr || *path == 0)
        return;
    char line[1024];
    int length = std::snprintf(line, sizeof(line), "%s ", VISA_STANDIN_NAME);
    va_list args;
    va_start(args, format);
    length += std::vsnprintf(line + length, sizeof(line) - static_cast<size_t>(length) - 1, format, args);
    va_end(args);
    length = std::min<int>(length, static_cast<int>(sizeof(line)) - 2);
    line[length++] = '\n';
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t ignored = ::write(fd, line, static_cast<size_t>(length));
    (void)ignored;
    ::close(fd);
}

// Printable text of transferred bytes for the trace (control characters escaped).
std::string Printable(const ViUInt8 *data, size_t count) {
    std::string text;
    for (size_t i = 0; i < count && text.size() < 200; ++i) {
        const unsigned char c = data[i];
        if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            text += hex;
        } else
            text += static_cast<char>(c);
    }
    return text;
}

Session *Find(ViObject vi) {
    auto it = gSessions.find(vi);
    return it == gSessions.end() ? nullptr : &it->second;
}

// The lock entry of a resource, made on first use. Entries are inserted, not made by operator[]:
// its piecewise construction brings a unique symbol that keeps the library from unloading.
ResourceLock &LockOf(const std::string &key) {
    auto it = gLocks.find(key);
    if (it == gLocks.end())
        it = gLocks.insert(std::make_pair(key, ResourceLock())).first;
    return it->second;
}

std::string LockKey(const Session &session) {
    return Upper(session.name);
}

// VI_ERROR_RSRC_LOCKED when another session holds the resource exclusively.
ViStatus CheckAccess(const Session &session, ViSession vi) {
    auto it = gLocks.find(LockKey(session));
    if (it != gLocks.end() && it->second.count > 0 && it->second.owner != vi)
        return VI_ERROR_RSRC_LOCKED;
    return VI_SUCCESS;
}

// Waits (gMutex held through the lock) until the resource can be locked by vi.
ViStatus AcquireLock(std::unique_lock<std::mutex> &held, const std::string &key, ViSession vi,
                     ViUInt32 timeout) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        ResourceLock &lock = LockOf(key);
        if (lock.count == 0 || lock.owner == vi) {
            lock.owner = vi;
            ++lock.count;
            return lock.count > 1 ? VI_SUCCESS_NESTED_EXCLUSIVE : VI_SUCCESS;
        }
        if (timeout == VI_TMO_INFINITE)
            gLockReleased.wait(held);
        else if (gLockReleased.wait_until(held, deadline) == std::cv_status::timeout) {
            const ResourceLock &now = LockOf(key);
            if (now.count > 0 && now.owner != vi)
                return VI_ERROR_TMO;
        }
    }
}

void ReleaseAllLocks(ViSession vi) {
    for (auto &entry : gLocks)
        if (entry.second.owner == vi && entry.second.count > 0) {
            entry.second.count = 0;
            entry.second.owner = 0;
        }
    gLockReleased.notify_all();
}

bool IsLoopbackHost(const std::string &host) {
    if (Upper(host) == "LOCALHOST" || host == "::1")
        return true;
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

// Port of a host from the list in the variable ("host=port;host=port"); 0 when it is not listed.
unsigned ListedPort(const char *variable, const std::string &host) {
    const char *list = std::getenv(variable);
    if (list == nullptr)
        return 0;
    const std::string text(list);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        const size_t equals = item.find('=');
        if (equals != std::string::npos && Upper(item.substr(0, equals)) == Upper(host))
            return static_cast<unsigned>(std::strtoul(item.c_str() + equals + 1, nullptr, 10));
        start = end + 1;
    }
    return 0;
}

int MillisecondsUntil(Clock::time_point deadline, bool infinite) {
    if (infinite)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

ViStatus ConnectLoopback(const std::string &host, unsigned port, ViUInt32 timeout, int &fd) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_family = AF_UNSPEC;
    addrinfo *found = nullptr;
    const std::string service = Decimal(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return VI_ERROR_RSRC_NFOUND;
    ViStatus status = VI_ERROR_RSRC_NFOUND;
    for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
        const int s = ::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (s < 0)
            continue;
        int result = ::connect(s, a->ai_addr, a->ai_addrlen);
        if (result != 0 && errno == EINPROGRESS) {
            pollfd p{s, POLLOUT, 0};
            const int wait =
                timeout == VI_TMO_INFINITE ? -1 : static_cast<int>(std::min<ViUInt32>(timeout, 600000));
            if (::poll(&p, 1, wait) == 1) {
                int error = 0;
                socklen_t length = sizeof(error);
                getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
                result = error == 0 ? 0 : -1;
            } else {
                status = VI_ERROR_TMO;
            }
        }
        if (result == 0) {
            const int one = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            fd = s;
            status = VI_SUCCESS;
        } else {
            ::close(s);
        }
    }
    freeaddrinfo(found);
    return status;
}

speed_t BaudConstant(ViUInt32 baud) {
    switch (baud) {
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return 0;
    }
}

// Writes the serial line settings of the session to its terminal.
ViStatus ApplyLine(Session &s) {
    termios t{};
    if (tcgetattr(s.fd, &t) != 0)
        return VI_ERROR_IO;
    cfmakeraw(&t);
    const speed_t speed = BaudConstant(s.baud);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag |= s.dataBits == 5 ? CS5 : s.dataBits == 6 ? CS6 : s.dataBits == 7 ? CS7 : CS8;
    if (s.parity != VI_ASRL_PAR_NONE)
        t.c_cflag |= PARENB;
    if (s.parity == VI_ASRL_PAR_ODD || s.parity == VI_ASRL_PAR_MARK)
        t.c_cflag |= PARODD;
    if (s.parity == VI_ASRL_PAR_MARK || s.parity == VI_ASRL_PAR_SPACE)
        t.c_cflag |= CMSPAR;
    if (s.stopBits != VI_ASRL_STOP_ONE)
        t.c_cflag |= CSTOPB;
    if (s.flow & VI_ASRL_FLOW_RTS_CTS)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    if (s.flow & VI_ASRL_FLOW_XON_XOFF)
        t.c_iflag |= IXON | IXOFF;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(s.fd, TCSANOW, &t) == 0)
        return VI_SUCCESS;
    // A pseudo-terminal always keeps eight data bits and no parity; the rest must have taken.
    termios now{};
    const tcflag_t forced = CSIZE | PARENB | PARODD | CMSPAR;
    if (tcgetattr(s.fd, &now) == 0 && (now.c_cflag & ~forced) == (t.c_cflag & ~forced) &&
        now.c_iflag == t.c_iflag && cfgetospeed(&now) == speed)
        return VI_SUCCESS;
    return VI_ERROR_IO;
}

struct ParsedName {
    Kind kind = Kind::Socket;
    ViUInt16 board = 0;
    std::string host;
    unsigned port = 0;
    std::string canonical;
    bool hislip = false;
};

std::vector<std::string> SplitName(const std::string &name) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find("::", start);
        parts.push_back(name.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 2;
    }
}

bool BoardNumber(const std::string &prefix, const std::string &head, ViUInt16 &board) {
    if (Upper(head.substr(0, prefix.size())) != prefix)
        return false;
    const std::string digits = head.substr(prefix.size());
    if (digits.size() > 3 || !std::all_of(digits.begin(), digits.end(),
                                          [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    board = digits.empty() ? 0 : static_cast<ViUInt16>(std::stoul(digits));
    return true;
}

// VI_SUCCESS, VI_ERROR_RSRC_NFOUND (a name of a kind this library has no device for) or
// VI_ERROR_INV_RSRC_NAME.
ViStatus ParseName(const std::string &name, ParsedName &parsed) {
    const std::vector<std::string> parts = SplitName(name);
    if (parts.empty() || parts[0].empty())
        return VI_ERROR_INV_RSRC_NAME;
    const std::string last = Upper(parts.back());
    if (BoardNumber("ASRL", parts[0], parsed.board)) {
        if (parts.size() > 2 || (parts.size() == 2 && last != "INSTR") || parsed.board == 0)
            return VI_ERROR_INV_RSRC_NAME;
        parsed.kind = Kind::Serial;
        parsed.canonical = "ASRL" + Decimal(parsed.board) + "::INSTR";
        return VI_SUCCESS;
    }
    if (BoardNumber("TCPIP", parts[0], parsed.board)) {
        const std::string board = "TCPIP" + Decimal(parsed.board) + "::";
        if (parts.size() == 4 && last == "SOCKET") {
            parsed.kind = Kind::Socket;
            parsed.host = parts[1];
            char *end = nullptr;
            const unsigned long port = std::strtoul(parts[2].c_str(), &end, 10);
            if (parts[1].empty() || parts[2].empty() || *end != 0 || port == 0 || port > 65535)
                return VI_ERROR_INV_RSRC_NAME;
            parsed.port = static_cast<unsigned>(port);
            parsed.canonical = board + parsed.host + "::" + parts[2] + "::SOCKET";
            return VI_SUCCESS;
        }
        if ((parts.size() == 2 && last != "SOCKET") || (parts.size() == 3 && last == "INSTR") ||
            (parts.size() == 4 && last == "INSTR")) {
            parsed.kind = Kind::Instr;
            parsed.host = parts[1];
            if (parsed.host.empty() || parsed.host == "INSTR")
                return VI_ERROR_INV_RSRC_NAME;
            std::string device = parts.size() == 4 ? parts[2] : "inst0";
            parsed.hislip = Upper(device).rfind("HISLIP", 0) == 0;
            parsed.canonical = board + parsed.host + "::" + device + "::INSTR";
            return VI_SUCCESS;
        }
        return VI_ERROR_INV_RSRC_NAME;
    }
    return VI_ERROR_RSRC_NFOUND; // GPIB, USB, PXI, VXI and aliases: no such device here
}

ViStatus OpenDevice(const ParsedName &parsed, ViUInt32 timeout, Session &session) {
    session.name = parsed.canonical;
    session.intfNum = parsed.board;
    session.kind = parsed.kind;
    if (parsed.kind == Kind::Serial) {
        char variable[32];
        std::snprintf(variable, sizeof(variable), "KORVALIS_COM%u", static_cast<unsigned>(parsed.board));
        const char *path = std::getenv(variable);
        const std::string device =
            path != nullptr && *path != 0 ? path : "/dev/ttyS" + Decimal(parsed.board - 1);
        session.fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (session.fd < 0)
            return VI_ERROR_RSRC_NFOUND;
        return ApplyLine(session);
    }
    session.hislip = parsed.hislip;
    if (parsed.kind == Kind::Socket) {
        if (!IsLoopbackHost(parsed.host))
            return VI_ERROR_RSRC_NFOUND;
        return ConnectLoopback(parsed.host, parsed.port, timeout, session.fd);
    }
    const unsigned port =
        ListedPort(parsed.hislip ? "KORVALIS_VISA_HISLIP_PORTS" : "KORVALIS_VISA_INSTR_PORTS", parsed.host);
    if (port == 0)
        return VI_ERROR_RSRC_NFOUND;
    return ConnectLoopback(IsLoopbackHost(parsed.host) ? parsed.host : "127.0.0.1", port, timeout,
                           session.fd);
}

void CloseOne(ViSession vi) {
    Session *s = Find(vi);
    if (s == nullptr)
        return;
    if (s->fd >= 0)
        ::close(s->fd);
    ReleaseAllLocks(vi);
    gSessions.erase(vi);
}

bool IsTcp(const Session &s) {
    return s.kind == Kind::Socket || s.kind == Kind::Instr;
}

// Receives what is there, waiting up to the deadline for the first byte; the mutex is released
// while waiting, so the session is looked up again afterwards. VI_SUCCESS with bytes appended to
// the input, VI_ERROR_TMO, or an error.
ViStatus Receive(std::unique_lock<std::mutex> &held, ViSession vi, Clock::time_point deadline,
                 bool infinite) {
    Session *s = Find(vi);
    if (s == nullptr)
        return VI_ERROR_INV_OBJECT;
    const int fd = s->fd;
    const bool tcp = IsTcp(*s);
    held.unlock();
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, MillisecondsUntil(deadline, infinite));
    char chunk[4096];
    ssize_t got = -1;
    int error = 0;
    if (ready == 1) {
        got = ::read(fd, chunk, sizeof(chunk));
        error = errno;
    }
    held.lock();
    s = Find(vi);
    if (s == nullptr)
        return VI_ERROR_INV_OBJECT;
    if (ready == 0)
        return VI_ERROR_TMO;
    if (got > 0) {
        s->input.append(chunk, static_cast<size_t>(got));
        return VI_SUCCESS;
    }
    if (got == 0)
        return tcp ? VI_ERROR_CONN_LOST : VI_ERROR_TMO;
    return (error == EAGAIN || error == EINTR) ? VI_SUCCESS : VI_ERROR_IO;
}

// Appends what can be read at once without waiting.
void ReceiveWaiting(Session &s) {
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::recv(s.fd, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (got <= 0)
            return;
        s.input.append(chunk, static_cast<size_t>(got));
    }
}

ViStatus ReadLocked(std::unique_lock<std::mutex> &held, ViSession vi, ViBuf buf, ViUInt32 cnt,
                    ViUInt32 &done) {
    done = 0;
    Session *s = Find(vi);
    if (s == nullptr || s->kind == Kind::ResourceManager)
        return VI_ERROR_INV_OBJECT;
    ViStatus status = CheckAccess(*s, vi);
    if (status != VI_SUCCESS)
        return status;
    const bool infinite = s->tmo == VI_TMO_INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : s->tmo);
    for (;;) {
        s = Find(vi);
        if (s == nullptr)
            return VI_ERROR_INV_OBJECT;
        const bool stopAtTermchar =
            s->termcharEn || (s->kind == Kind::Serial && s->endIn == VI_ASRL_END_TERMCHAR);
        size_t used = 0;
        bool ended = false;
        while (used < s->input.size() && done < cnt) {
            const unsigned char c = static_cast<unsigned char>(s->input[used++]);
            buf[done++] = c;
            if (stopAtTermchar && c == s->termchar) {
                ended = true;
                break;
            }
        }
        s->input.erase(0, used);
        if (ended)
            return VI_SUCCESS_TERM_CHAR;
        if (done == cnt)
            return VI_SUCCESS_MAX_CNT;
        if (done > 0 && IsTcp(*s) && !s->suppressEnd) {
            ReceiveWaiting(*s);
            if (s->input.empty())
                return VI_SUCCESS; // END: the data received so far is the message
            continue;
        }
        status = Receive(held, vi, deadline, infinite);
        if (status != VI_SUCCESS)
            return status;
    }
}

const char *KnownStatusText(ViStatus status) {
    switch (status) {
    case VI_SUCCESS:
        return "Operation completed successfully.";
    case VI_SUCCESS_TERM_CHAR:
        return "The specified termination character was read.";
    case VI_SUCCESS_MAX_CNT:
        return "The number of bytes read is equal to the input count.";
    case VI_ERROR_TMO:
        return "Timeout expired before operation completed.";
    case VI_ERROR_RSRC_NFOUND:
        return "Insufficient location information or resource not present in the system.";
    case VI_ERROR_INV_RSRC_NAME:
        return "Invalid resource reference specified. Parsing error.";
    case VI_ERROR_RSRC_LOCKED:
        return "Specified type of lock cannot be obtained, or specified operation cannot be performed, "
               "because the resource is locked.";
    case VI_ERROR_INV_OBJECT:
        return "The given session or object reference is invalid.";
    case VI_ERROR_NSUP_ATTR:
        return "The specified attribute is not defined or supported by the referenced resource.";
    case VI_ERROR_NSUP_ATTR_STATE:
        return "The specified state of the attribute is not valid, or is not supported as defined by the "
               "resource.";
    case VI_ERROR_IO:
        return "Could not perform operation because of I/O error.";
    case VI_ERROR_INV_MASK:
        return "Invalid buffer mask specified.";
    case VI_ERROR_SESN_NLOCKED:
        return "The current session did not have any lock on the resource.";
    case VI_ERROR_CONN_LOST:
        return "The connection for the given session has been lost.";
    default:
        return nullptr;
    }
}

} // namespace

extern "C" {

ViStatus viOpenDefaultRM(ViSession *vi) {
    std::lock_guard<std::mutex> guard(gMutex);
    if (vi == nullptr)
        return VI_ERROR_INV_PARAMETER;
    const ViSession id = gNextSession++;
    Session manager;
    manager.kind = Kind::ResourceManager;
    gSessions.insert(std::make_pair(id, manager));
    *vi = id;
    Trace("viOpenDefaultRM -> %u 0x%08X", id, 0u);
    return VI_SUCCESS;
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViSession *vi) {
    std::unique_lock<std::mutex> held(gMutex);
    ViStatus status = VI_SUCCESS;
    ViSession id = 0;
    Session *rm = Find(sesn);
    ParsedName parsed;
    if (vi != nullptr)
        *vi = 0;
    if (rm == nullptr || rm->kind != Kind::ResourceManager || vi == nullptr)
        status = VI_ERROR_INV_OBJECT;
    else if (name == nullptr)
        status = VI_ERROR_INV_RSRC_NAME;
    else if ((mode & ~(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK | VI_LOAD_CONFIG)) != 0)
        status = VI_ERROR_INV_ACC_MODE;
    else
        status = ParseName(name, parsed);
    if (status == VI_SUCCESS) {
        Session session;
        session.rm = sesn;
        held.unlock();
        status = OpenDevice(parsed, timeout, session);
        held.lock();
        if (status != VI_SUCCESS) {
            if (session.fd >= 0)
                ::close(session.fd);
        } else {
            id = gNextSession++;
            gSessions.insert(std::make_pair(id, session));
            if (mode & VI_EXCLUSIVE_LOCK) {
                status = AcquireLock(held, Upper(parsed.canonical), id, timeout);
                if (status == VI_ERROR_TMO)
                    status = VI_ERROR_RSRC_LOCKED;
                if (status != VI_SUCCESS) {
                    CloseOne(id);
                    id = 0;
                }
            }
            *vi = id;
        }
    }
    Trace("viOpen %s mode=%u timeout=%u -> %u 0x%08X", name ? name : "(null)", mode, timeout, id,
          static_cast<unsigned>(status));
    return status;
}

ViStatus viClose(ViObject vi) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    if (s == nullptr)
        status = VI_ERROR_INV_OBJECT;
    else if (s->kind == Kind::ResourceManager) {
        std::vector<ViSession> owned;
        for (const auto &entry : gSessions)
            if (entry.second.rm == vi)
                owned.push_back(entry.first);
        for (ViSession child : owned)
            CloseOne(child);
        gSessions.erase(vi);
    } else {
        CloseOne(vi);
    }
    Trace("viClose %u -> 0x%08X", vi, static_cast<unsigned>(status));
    return status;
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32 *retCnt) {
    std::unique_lock<std::mutex> held(gMutex);
    ViUInt32 done = 0;
    ViStatus status = VI_SUCCESS;
    Session *s = Find(vi);
    if (s == nullptr || s->kind == Kind::ResourceManager)
        status = VI_ERROR_INV_OBJECT;
    else if (buf == nullptr && cnt > 0)
        status = VI_ERROR_INV_PARAMETER;
    else
        status = CheckAccess(*s, vi);
    bool end = false;
    if (status == VI_SUCCESS) {
        end = s->sendEnd;
        const int fd = s->fd;
        const bool tcp = IsTcp(*s);
        const bool infinite = s->tmo == VI_TMO_INFINITE;
        const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : s->tmo);
        held.unlock();
        while (done < cnt) {
            const ssize_t sent =
                tcp ? ::send(fd, buf + done, cnt - done, MSG_NOSIGNAL) : ::write(fd, buf + done, cnt - done);
            if (sent > 0) {
                done += static_cast<ViUInt32>(sent);
                continue;
            }
            if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, MillisecondsUntil(deadline, infinite)) == 0) {
                    status = VI_ERROR_TMO;
                    break;
                }
                continue;
            }
            status = tcp ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
            break;
        }
        held.lock();
    }
    if (retCnt != nullptr)
        *retCnt = done;
    Trace("viWrite %u \"%s\" end=%d -> %u 0x%08X", vi, Printable(buf, buf ? cnt : 0).c_str(), end ? 1 : 0,
          done, static_cast<unsigned>(status));
    return status;
}

ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32 *retCnt) {
    std::unique_lock<std::mutex> held(gMutex);
    ViUInt32 done = 0;
    const ViStatus status =
        buf == nullptr && cnt > 0 ? VI_ERROR_INV_PARAMETER : ReadLocked(held, vi, buf, cnt, done);
    if (retCnt != nullptr)
        *retCnt = done;
    Trace("viRead %u count=%u \"%s\" -> %u 0x%08X", vi, cnt, Printable(buf, done).c_str(), done,
          static_cast<unsigned>(status));
    return status;
}

#ifndef VISA_STANDIN_WITHOUT_ENABLE_EVENT
ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism, ViEventFilter context) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    if (s == nullptr || s->kind == Kind::ResourceManager)
        status = VI_ERROR_INV_OBJECT;
    else if (eventType != VI_EVENT_ASRL_CHAR || s->kind != Kind::Serial ||
             std::getenv("KORVALIS_VISA_NO_CHARACTER_EVENTS") != nullptr)
        status = VI_ERROR_INV_EVENT;
    else if (mechanism != VI_QUEUE)
        status = VI_ERROR_INV_MECH;
    else {
        status = s->charEvents ? VI_SUCCESS_EVENT_EN : VI_SUCCESS;
        s->charEvents = true;
    }
    Trace("viEnableEvent %u 0x%08X mechanism=%u context=%u -> 0x%08X", vi, eventType, mechanism, context,
          static_cast<unsigned>(status));
    return status;
}
#endif

ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    if (s == nullptr)
        status = VI_ERROR_INV_OBJECT;
    else if (eventType != VI_EVENT_ASRL_CHAR)
        status = VI_ERROR_INV_EVENT;
    else {
        status = s->charEvents ? VI_SUCCESS : VI_SUCCESS_EVENT_DIS;
        s->charEvents = false;
    }
    Trace("viDisableEvent %u 0x%08X mechanism=%u -> 0x%08X", vi, eventType, mechanism,
          static_cast<unsigned>(status));
    return status;
}

// Character events are not queued one by one: waiting asks the line for data.
ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    const ViStatus status = s == nullptr                      ? VI_ERROR_INV_OBJECT
                            : eventType != VI_EVENT_ASRL_CHAR ? VI_ERROR_INV_EVENT
                                                              : VI_SUCCESS_QUEUE_EMPTY;
    Trace("viDiscardEvents %u 0x%08X mechanism=%u -> 0x%08X", vi, eventType, mechanism,
          static_cast<unsigned>(status));
    return status;
}

ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout, ViEventType *outEventType,
                       ViEvent *outContext) {
    std::unique_lock<std::mutex> held(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    if (s == nullptr)
        status = VI_ERROR_INV_OBJECT;
    else if (inEventType != VI_EVENT_ASRL_CHAR)
        status = VI_ERROR_INV_EVENT;
    else if (!s->charEvents)
        status = VI_ERROR_NENABLED;
    else if (s->input.empty()) {
        const bool infinite = timeout == VI_TMO_INFINITE;
        status =
            Receive(held, vi, Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeout), infinite);
    }
    if (status == VI_SUCCESS) {
        if (outEventType != nullptr)
            *outEventType = VI_EVENT_ASRL_CHAR;
        if (outContext != nullptr)
            *outContext = 0;
    }
    Trace("viWaitOnEvent %u 0x%08X timeout=%u -> 0x%08X", vi, inEventType, timeout,
          static_cast<unsigned>(status));
    return status;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    if (s == nullptr)
        status = VI_ERROR_INV_OBJECT;
    else if (ListContains("KORVALIS_VISA_UNSUPPORTED", attrName))
        status = VI_ERROR_NSUP_ATTR;
    else if (ListContains("KORVALIS_VISA_REFUSED", attrName))
        status = VI_ERROR_NSUP_ATTR_STATE;
    else {
        const bool serial = s->kind == Kind::Serial;
        const bool boolean = attrValue == VI_TRUE || attrValue == VI_FALSE;
        bool line = false;
        switch (attrName) {
        case VI_ATTR_TMO_VALUE:
            s->tmo = static_cast<ViUInt32>(attrValue);
            break;
        case VI_ATTR_TERMCHAR:
            if (attrValue > 0xFF)
                status = VI_ERROR_NSUP_ATTR_STATE;
            else
                s->termchar = static_cast<ViUInt8>(attrValue);
            break;
        case VI_ATTR_TERMCHAR_EN:
            status = boolean ? (s->termcharEn = attrValue != 0, VI_SUCCESS) : VI_ERROR_NSUP_ATTR_STATE;
            break;
        case VI_ATTR_SEND_END_EN:
            status = boolean ? (s->sendEnd = attrValue != 0, VI_SUCCESS) : VI_ERROR_NSUP_ATTR_STATE;
            break;
        case VI_ATTR_SUPPRESS_END_EN:
            status = boolean ? (s->suppressEnd = attrValue != 0, VI_SUCCESS) : VI_ERROR_NSUP_ATTR_STATE;
            break;
        case VI_ATTR_TCPIP_KEEPALIVE:
            if (s->kind != Kind::Socket)
                status = VI_ERROR_NSUP_ATTR;
            else
                status = boolean ? (s->keepalive = attrValue != 0, VI_SUCCESS) : VI_ERROR_NSUP_ATTR_STATE;
            break;
        case VI_ATTR_MAX_QUEUE_LENGTH:
            s->maxQueue = static_cast<ViUInt32>(attrValue);
            break;
        case VI_ATTR_ASRL_BAUD:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else if (BaudConstant(static_cast<ViUInt32>(attrValue)) == 0)
                status = VI_ERROR_NSUP_ATTR_STATE;
            else {
                s->baud = static_cast<ViUInt32>(attrValue);
                line = true;
            }
            break;
        case VI_ATTR_ASRL_DATA_BITS:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else if (attrValue < 5 || attrValue > 8)
                status = VI_ERROR_NSUP_ATTR_STATE;
            else {
                s->dataBits = static_cast<ViUInt16>(attrValue);
                line = true;
            }
            break;
        case VI_ATTR_ASRL_PARITY:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else if (attrValue > VI_ASRL_PAR_SPACE)
                status = VI_ERROR_NSUP_ATTR_STATE;
            else {
                s->parity = static_cast<ViUInt16>(attrValue);
                line = true;
            }
            break;
        case VI_ATTR_ASRL_STOP_BITS:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else if (attrValue != VI_ASRL_STOP_ONE && attrValue != VI_ASRL_STOP_ONE5 &&
                     attrValue != VI_ASRL_STOP_TWO)
                status = VI_ERROR_NSUP_ATTR_STATE;
            else {
                s->stopBits = static_cast<ViUInt16>(attrValue);
                line = true;
            }
            break;
        case VI_ATTR_ASRL_FLOW_CNTRL:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else if (attrValue != VI_ASRL_FLOW_NONE && attrValue != VI_ASRL_FLOW_XON_XOFF &&
                     attrValue != VI_ASRL_FLOW_RTS_CTS)
                status = VI_ERROR_NSUP_ATTR_STATE;
            else {
                s->flow = static_cast<ViUInt16>(attrValue);
                line = true;
            }
            break;
        case VI_ATTR_ASRL_END_IN:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else if (attrValue != VI_ASRL_END_NONE && attrValue != VI_ASRL_END_TERMCHAR)
                status = VI_ERROR_NSUP_ATTR_STATE;
            else
                s->endIn = static_cast<ViUInt16>(attrValue);
            break;
        case VI_ATTR_ASRL_END_OUT:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                s->endOut = static_cast<ViUInt16>(attrValue);
            break;
        case VI_ATTR_ASRL_DTR_STATE:
        case VI_ATTR_ASRL_RTS_STATE: {
            const ViInt16 state = static_cast<ViInt16>(attrValue);
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else if (state != VI_STATE_ASSERTED && state != VI_STATE_UNASSERTED)
                status = VI_ERROR_NSUP_ATTR_STATE;
            else
                (attrName == VI_ATTR_ASRL_DTR_STATE ? s->dtr : s->rts) = state;
            break;
        }
        default:
            status = VI_ERROR_NSUP_ATTR;
            break;
        }
        if (status == VI_SUCCESS && line)
            status = ApplyLine(*s);
    }
    Trace("viSetAttribute %u 0x%08X %llu -> 0x%08X", vi, attrName, static_cast<unsigned long long>(attrValue),
          static_cast<unsigned>(status));
    return status;
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void *attrValue) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    std::string shown;
    auto put16 = [&](ViUInt16 value) {
        std::memcpy(attrValue, &value, sizeof(value));
        shown = Decimal(value);
    };
    auto putS16 = [&](ViInt16 value) {
        std::memcpy(attrValue, &value, sizeof(value));
        shown = Decimal(value);
    };
    auto put32 = [&](ViUInt32 value) {
        std::memcpy(attrValue, &value, sizeof(value));
        shown = Decimal(value);
    };
    auto putText = [&](const std::string &text) {
        std::snprintf(static_cast<char *>(attrValue), VisaApi::TextSize, "%s", text.c_str());
        shown = text;
    };
    if (s == nullptr)
        status = VI_ERROR_INV_OBJECT;
    else if (attrValue == nullptr)
        status = VI_ERROR_INV_PARAMETER;
    else if (ListContains("KORVALIS_VISA_UNSUPPORTED", attrName))
        status = VI_ERROR_NSUP_ATTR;
    else {
        const bool device = s->kind != Kind::ResourceManager;
        const bool serial = s->kind == Kind::Serial;
        switch (attrName) {
        case VI_ATTR_RSRC_NAME:
            putText(device ? s->name : "::INSTR");
            break;
        case VI_ATTR_RSRC_CLASS:
            putText(!device ? "INSTR" : s->kind == Kind::Socket ? "SOCKET" : "INSTR");
            break;
        case VI_ATTR_RSRC_MANF_NAME:
            putText(VISA_STANDIN_NAME " stand-in");
            break;
        case VI_ATTR_RSRC_MANF_ID:
            put16(0x3FF);
            break;
        case VI_ATTR_RSRC_SPEC_VERSION:
            put32(0x00500800);
            break;
        case VI_ATTR_RSRC_IMPL_VERSION:
            put32(0x00010000);
            break;
        case VI_ATTR_TMO_VALUE:
            put32(s->tmo);
            break;
        case VI_ATTR_MAX_QUEUE_LENGTH:
            put32(s->maxQueue);
            break;
        case VI_ATTR_INTF_TYPE:
            if (!device)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(serial ? VI_INTF_ASRL : VI_INTF_TCPIP);
            break;
        case VI_ATTR_INTF_NUM:
            put16(s->intfNum);
            break;
        case VI_ATTR_IO_PROT:
            put16(VI_PROT_NORMAL);
            break;
        case VI_ATTR_TERMCHAR: {
            const ViUInt8 value = s->termchar;
            std::memcpy(attrValue, &value, sizeof(value));
            shown = Decimal(value);
            break;
        }
        case VI_ATTR_TERMCHAR_EN:
            put16(s->termcharEn ? VI_TRUE : VI_FALSE);
            break;
        case VI_ATTR_SEND_END_EN:
            put16(s->sendEnd ? VI_TRUE : VI_FALSE);
            break;
        case VI_ATTR_SUPPRESS_END_EN:
            put16(s->suppressEnd ? VI_TRUE : VI_FALSE);
            break;
        case VI_ATTR_TCPIP_KEEPALIVE:
            if (s->kind != Kind::Socket)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(s->keepalive ? VI_TRUE : VI_FALSE);
            break;
        case VI_ATTR_TCPIP_IS_HISLIP:
            if (s->kind != Kind::Instr)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(s->hislip ? VI_TRUE : VI_FALSE);
            break;
        case VI_ATTR_ASRL_AVAIL_NUM:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else {
                int waiting = 0;
                if (ioctl(s->fd, FIONREAD, &waiting) != 0)
                    waiting = 0;
                put32(static_cast<ViUInt32>(waiting) + static_cast<ViUInt32>(s->input.size()));
            }
            break;
        case VI_ATTR_ASRL_BAUD:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                put32(s->baud);
            break;
        case VI_ATTR_ASRL_DATA_BITS:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(s->dataBits);
            break;
        case VI_ATTR_ASRL_PARITY:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(s->parity);
            break;
        case VI_ATTR_ASRL_STOP_BITS:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(s->stopBits);
            break;
        case VI_ATTR_ASRL_FLOW_CNTRL:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(s->flow);
            break;
        case VI_ATTR_ASRL_END_IN:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(s->endIn);
            break;
        case VI_ATTR_ASRL_END_OUT:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                put16(s->endOut);
            break;
        case VI_ATTR_ASRL_DTR_STATE:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                putS16(s->dtr);
            break;
        case VI_ATTR_ASRL_RTS_STATE:
            if (!serial)
                status = VI_ERROR_NSUP_ATTR;
            else
                putS16(s->rts);
            break;
        default:
            status = VI_ERROR_NSUP_ATTR;
            break;
        }
    }
    Trace("viGetAttribute %u 0x%08X -> %s 0x%08X", vi, attrName, shown.c_str(),
          static_cast<unsigned>(status));
    return status;
}

ViStatus viClear(ViSession vi) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status =
        s == nullptr || s->kind == Kind::ResourceManager ? VI_ERROR_INV_OBJECT : CheckAccess(*s, vi);
    if (status == VI_SUCCESS) {
        s->input.clear();
        if (IsTcp(*s))
            ReceiveWaiting(*s);
        else
            tcflush(s->fd, TCIOFLUSH);
        s->input.clear();
    }
    Trace("viClear %u -> 0x%08X", vi, static_cast<unsigned>(status));
    return status;
}

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    if (s == nullptr || s->kind == Kind::ResourceManager)
        status = VI_ERROR_INV_OBJECT;
    else if (mask == 0 || (mask & ~(VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF)) != 0 ||
             (s->kind != Kind::Serial && (mask & (VI_IO_IN_BUF | VI_IO_OUT_BUF)) != 0))
        status = VI_ERROR_INV_MASK;
    Trace("viSetBuf %u mask=%u size=%u -> 0x%08X", vi, mask, size, static_cast<unsigned>(status));
    return status;
}

ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]) {
    const char *text = KnownStatusText(status);
    const ViStatus result = text != nullptr ? VI_SUCCESS : VI_WARN_UNKNOWN_STATUS;
    if (desc != nullptr)
        std::snprintf(desc, VisaApi::TextSize, "%s", text != nullptr ? text : "Unknown status code.");
    Trace("viStatusDesc %u 0x%08X -> 0x%08X", vi, static_cast<unsigned>(status),
          static_cast<unsigned>(result));
    return desc == nullptr ? VI_ERROR_INV_PARAMETER : result;
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status =
        s == nullptr || s->kind == Kind::ResourceManager ? VI_ERROR_INV_OBJECT : CheckAccess(*s, vi);
    const ViUInt16 serialMasks = VI_IO_IN_BUF | VI_IO_OUT_BUF | VI_IO_IN_BUF_DISCARD | VI_IO_OUT_BUF_DISCARD;
    if (status == VI_SUCCESS) {
        if (mask == 0 || (s->kind != Kind::Serial && (mask & serialMasks) != 0))
            status = VI_ERROR_INV_MASK;
        else if (s->kind == Kind::Serial) {
            if (mask & (VI_IO_IN_BUF | VI_IO_IN_BUF_DISCARD)) {
                tcflush(s->fd, TCIFLUSH);
                s->input.clear();
            }
            if (mask & VI_IO_OUT_BUF_DISCARD)
                tcflush(s->fd, TCOFLUSH);
            if (mask & VI_IO_OUT_BUF)
                tcdrain(s->fd);
        }
        if (status == VI_SUCCESS && (mask & (VI_READ_BUF | VI_READ_BUF_DISCARD)))
            s->input.clear();
    }
    Trace("viFlush %u mask=%u -> 0x%08X", vi, mask, static_cast<unsigned>(status));
    return status;
}

ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViChar accessKey[]) {
    std::unique_lock<std::mutex> held(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    (void)requestedKey;
    if (s == nullptr || s->kind == Kind::ResourceManager)
        status = VI_ERROR_INV_OBJECT;
    else if (lockType != VI_EXCLUSIVE_LOCK)
        status = VI_ERROR_INV_LOCK_TYPE; // shared locks are not offered here
    else {
        status = AcquireLock(held, LockKey(*s), vi, timeout);
    }
    if (accessKey != nullptr)
        accessKey[0] = 0;
    Trace("viLock %u type=%u timeout=%u -> 0x%08X", vi, lockType, timeout, static_cast<unsigned>(status));
    return status;
}

ViStatus viUnlock(ViSession vi) {
    std::lock_guard<std::mutex> guard(gMutex);
    Session *s = Find(vi);
    ViStatus status = VI_SUCCESS;
    if (s == nullptr || s->kind == Kind::ResourceManager)
        status = VI_ERROR_INV_OBJECT;
    else {
        auto it = gLocks.find(LockKey(*s));
        if (it == gLocks.end() || it->second.count == 0 || it->second.owner != vi)
            status = VI_ERROR_SESN_NLOCKED;
        else {
            --it->second.count;
            status = it->second.count > 0 ? VI_SUCCESS_NESTED_EXCLUSIVE : VI_SUCCESS;
            if (it->second.count == 0) {
                it->second.owner = 0;
                gLockReleased.notify_all();
            }
        }
    }
    Trace("viUnlock %u -> 0x%08X", vi, static_cast<unsigned>(status));
    return status;
}

} // extern "C"
