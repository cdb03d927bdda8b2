// The serial port over termios: exclusive open, raw line settings, Windows time-out rules.
#include "platform/SerialPort.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "platform/Clock.h"
#include "platform/Environment.h"

namespace Platform {

namespace {

struct SpeedEntry {
    DWORD Rate;
    speed_t Speed;
};

const SpeedEntry Speeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                             {150, B150},       {200, B200},       {300, B300},       {600, B600},
                             {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                             {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                             {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

bool SpeedOfRate(DWORD rate, speed_t &speed) {
    for (const SpeedEntry &entry : Speeds)
        if (entry.Rate == rate) {
            speed = entry.Speed;
            return true;
        }
    return false;
}

DWORD RateOfSpeed(speed_t speed) {
    for (const SpeedEntry &entry : Speeds)
        if (entry.Speed == speed)
            return entry.Rate;
    return 0;
}

uint64_t NowMs() {
    return MonotonicMicroseconds() / 1000;
}

// A modem-line call that the device does not have (pseudo-terminals) counts as done.
bool IsRefusedModemCall(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Waits for the events on fd until the deadline (0: none); the poll result.
int PollUntil(int fd, short events, uint64_t deadline, short &revents) {
    for (;;) {
        int timeout = -1;
        if (deadline != 0) {
            const uint64_t now = NowMs();
            timeout = now >= deadline ? 0 : static_cast<int>(std::min<uint64_t>(deadline - now, 60000));
        }
        pollfd entry{fd, events, 0};
        const int result = poll(&entry, 1, timeout);
        if (result < 0 && errno == EINTR)
            continue;
        if (result == 0 && deadline != 0 && NowMs() < deadline)
            continue; // a capped wait ended early
        revents = entry.revents;
        return result;
    }
}

} // namespace

DWORD SerialErrorFromErrno(int error) {
    switch (error) {
    case 0:
        return 0;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENOTTY:
        return SerialError::FileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return SerialError::AccessDenied;
    case EINVAL:
        return SerialError::InvalidParameter;
    case EBADF:
        return SerialError::InvalidHandle;
    case EIO:
    case EPIPE:
        return SerialError::IoDevice;
    default:
        return SerialError::GenFailure;
    }
}

SerialPort::~SerialPort() {
    Close();
}

DWORD SerialPort::Open(unsigned portNumber) {
    Close();
    const std::string path = SerialPortPath(portNumber);
    if (path.empty())
        return SerialError::FileNotFound;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return SerialErrorFromErrno(errno);
    if (!isatty(fd)) {
        close(fd);
        return SerialError::FileNotFound;
    }
    // Other users of this layer (root ignores TIOCEXCL) and then everyone else.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        close(fd);
        return SerialErrorFromErrno(error == EWOULDBLOCK ? EBUSY : error);
    }
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0) {
        const int error = errno;
        ioctl(fd, TIOCNXCL);
        close(fd);
        return SerialErrorFromErrno(error);
    }
    attributes.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    attributes.c_oflag &= ~OPOST;
    attributes.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    attributes.c_cflag |= CREAD | CLOCAL;
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &attributes) != 0) {
        const int error = errno;
        ioctl(fd, TIOCNXCL);
        close(fd);
        return SerialErrorFromErrno(error);
    }
    mFd = fd;
    mTimeouts = SerialTimeouts();
    mbRts = false;
    mRtsChanges = 0;
    return 0;
}

DWORD SerialPort::Close() {
    if (mFd < 0)
        return 0;
    ioctl(mFd, TIOCNXCL); // the exclusive mode outlives the descriptor otherwise
    const int result = close(mFd);
    const int error = errno;
    mFd = -1;
    return result == 0 || error == EINTR ? 0 : SerialErrorFromErrno(error);
}

DWORD SerialPort::SetupComm(DWORD inQueue, DWORD outQueue) {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    return inQueue == 0 || outQueue == 0 ? SerialError::InvalidParameter : 0;
}

DWORD SerialPort::GetState(SerialLineSettings &settings) {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    termios attributes{};
    if (tcgetattr(mFd, &attributes) != 0)
        return SerialErrorFromErrno(errno);
    settings.BaudRate = RateOfSpeed(cfgetospeed(&attributes));
    switch (attributes.c_cflag & CSIZE) {
    case CS5:
        settings.ByteSize = 5;
        break;
    case CS6:
        settings.ByteSize = 6;
        break;
    case CS7:
        settings.ByteSize = 7;
        break;
    default:
        settings.ByteSize = 8;
        break;
    }
    if (!(attributes.c_cflag & PARENB))
        settings.Parity = 0;
    else if (attributes.c_cflag & CMSPAR)
        settings.Parity = (attributes.c_cflag & PARODD) ? 3 : 4;
    else
        settings.Parity = (attributes.c_cflag & PARODD) ? 1 : 2;
    settings.StopBits = (attributes.c_cflag & CSTOPB) ? (settings.ByteSize == 5 ? 1 : 2) : 0;
    settings.OutxCtsFlow = (attributes.c_cflag & CRTSCTS) != 0;
    settings.OutX = (attributes.c_iflag & IXON) != 0;
    settings.InX = (attributes.c_iflag & IXOFF) != 0;
    settings.RtsEnable = mbRts;
    return 0;
}

DWORD SerialPort::SetState(const SerialLineSettings &settings) {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    speed_t speed{};
    if (!SpeedOfRate(settings.BaudRate, speed) || settings.ByteSize < 5 || settings.ByteSize > 8 ||
        settings.Parity > 4 || settings.StopBits > 2)
        return SerialError::InvalidParameter;
    // As the Windows driver: one and a half stop bits only with 5 data bits, two only with more.
    if ((settings.StopBits == 1) != (settings.ByteSize == 5) && settings.StopBits != 0)
        return SerialError::InvalidParameter;
    termios attributes{};
    if (tcgetattr(mFd, &attributes) != 0)
        return SerialErrorFromErrno(errno);
    cfsetispeed(&attributes, speed);
    cfsetospeed(&attributes, speed);
    static const tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    attributes.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    attributes.c_cflag |= Sizes[settings.ByteSize - 5] | CREAD | CLOCAL;
    attributes.c_iflag &= ~(INPCK | IXON | IXOFF);
    switch (settings.Parity) {
    case 1:
        attributes.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        attributes.c_cflag |= PARENB;
        break;
    case 3:
        attributes.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 4:
        attributes.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (settings.Parity != 0)
        attributes.c_iflag |= INPCK;
    if (settings.StopBits != 0)
        attributes.c_cflag |= CSTOPB;
    if (settings.OutxCtsFlow)
        attributes.c_cflag |= CRTSCTS;
    if (settings.OutX)
        attributes.c_iflag |= IXON;
    if (settings.InX)
        attributes.c_iflag |= IXOFF;
    if (tcsetattr(mFd, TCSANOW, &attributes) != 0)
        return SerialErrorFromErrno(errno);
    DWORD result = SetDtr(settings.DtrEnable);
    const DWORD rts = SetRts(settings.RtsEnable);
    return result != 0 ? result : rts;
}

DWORD SerialPort::GetTimeouts(SerialTimeouts &timeouts) const {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    timeouts = mTimeouts;
    return 0;
}

DWORD SerialPort::SetTimeouts(const SerialTimeouts &timeouts) {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    mTimeouts = timeouts;
    return 0;
}

DWORD SerialPort::Read(std::string &text, size_t count, size_t &read) {
    read = 0;
    if (mFd < 0)
        return SerialError::InvalidHandle;
    const bool bImmediate = mTimeouts.ReadIntervalTimeout == SerialMaxDword &&
                            mTimeouts.ReadTotalTimeoutMultiplier == 0 &&
                            mTimeouts.ReadTotalTimeoutConstant == 0;
    const uint64_t total = static_cast<uint64_t>(mTimeouts.ReadTotalTimeoutMultiplier) * count +
                           mTimeouts.ReadTotalTimeoutConstant;
    const uint64_t totalDeadline = total != 0 ? NowMs() + total : 0;
    const bool bInterval =
        mTimeouts.ReadIntervalTimeout != 0 && mTimeouts.ReadIntervalTimeout != SerialMaxDword;
    uint64_t lastByte = 0;
    char buffer[4096];
    while (read < count) {
        const ssize_t got = ::read(mFd, buffer, std::min(sizeof buffer, count - read));
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
            read += static_cast<size_t>(got);
            lastByte = NowMs();
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno != EAGAIN)
            return SerialErrorFromErrno(errno);
        if (bImmediate)
            return 0;
        uint64_t deadline = totalDeadline;
        if (bInterval && read > 0) {
            const uint64_t gapEnd = lastByte + mTimeouts.ReadIntervalTimeout;
            deadline = deadline == 0 ? gapEnd : std::min(deadline, gapEnd);
        }
        // The time-out ends the read with what came, whatever the poll below would answer.
        if (deadline != 0 && NowMs() >= deadline)
            return 0;
        short revents = 0;
        const int ready = PollUntil(mFd, POLLIN, deadline, revents);
        if (ready < 0)
            return SerialErrorFromErrno(errno);
        if (ready == 0)
            return 0;
        // A terminal whose far end hung up reports input for ever, and each read finds nothing.
        if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return SerialError::IoDevice;
    }
    return 0;
}

DWORD SerialPort::Write(const void *data, size_t length, size_t &written) {
    written = 0;
    if (mFd < 0)
        return SerialError::InvalidHandle;
    const uint64_t total = static_cast<uint64_t>(mTimeouts.WriteTotalTimeoutMultiplier) * length +
                           mTimeouts.WriteTotalTimeoutConstant;
    const uint64_t deadline = total != 0 ? NowMs() + total : 0;
    const char *bytes = static_cast<const char *>(data);
    while (written < length) {
        const ssize_t sent = ::write(mFd, bytes + written, length - written);
        if (sent > 0) {
            written += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EAGAIN)
            return SerialErrorFromErrno(errno);
        short revents = 0;
        const int ready = PollUntil(mFd, POLLOUT, deadline, revents);
        if (ready < 0)
            return SerialErrorFromErrno(errno);
        if (ready == 0)
            return 0; // the time-out ends the write short
        if ((revents & POLLOUT) == 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return SerialError::IoDevice;
    }
    return 0;
}

DWORD SerialPort::Flush() {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    const DWORD limit = mTimeouts.WriteTotalTimeoutConstant != 0 ? mTimeouts.WriteTotalTimeoutConstant : 3000;
    const uint64_t deadline = NowMs() + limit;
    for (;;) {
        int queued = 0;
        if (ioctl(mFd, TIOCOUTQ, &queued) != 0)
            return IsRefusedModemCall(errno) ? 0 : SerialErrorFromErrno(errno);
        if (queued <= 0)
            return 0;
        if (NowMs() >= deadline)
            return SerialError::Timeout;
        SleepMilliseconds(1);
    }
}

DWORD SerialPort::PurgeInput() {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    return tcflush(mFd, TCIFLUSH) == 0 ? 0 : SerialErrorFromErrno(errno);
}

DWORD SerialPort::PurgeOutput() {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    return tcflush(mFd, TCOFLUSH) == 0 ? 0 : SerialErrorFromErrno(errno);
}

DWORD SerialPort::QueueCounts(DWORD &inQueue, DWORD &outQueue) {
    inQueue = outQueue = 0;
    if (mFd < 0)
        return SerialError::InvalidHandle;
    int in = 0;
    int out = 0;
    if (ioctl(mFd, FIONREAD, &in) != 0)
        return SerialErrorFromErrno(errno);
    if (ioctl(mFd, TIOCOUTQ, &out) != 0 && !IsRefusedModemCall(errno))
        return SerialErrorFromErrno(errno);
    inQueue = in > 0 ? static_cast<DWORD>(in) : 0;
    outQueue = out > 0 ? static_cast<DWORD>(out) : 0;
    return 0;
}

DWORD SerialPort::WaitForInput(DWORD milliseconds, bool &arrived) {
    arrived = false;
    if (mFd < 0)
        return SerialError::InvalidHandle;
    short revents = 0;
    const int ready = PollUntil(mFd, POLLIN, NowMs() + milliseconds, revents);
    if (ready < 0)
        return SerialErrorFromErrno(errno);
    // A hang-up also reports input: the read would find its end, not bytes.
    if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return SerialError::IoDevice;
    arrived = (revents & POLLIN) != 0;
    return 0;
}

DWORD SerialPort::SetModemLine(int line, bool bOn) {
    if (mFd < 0)
        return SerialError::InvalidHandle;
    if (ioctl(mFd, bOn ? TIOCMBIS : TIOCMBIC, &line) != 0 && !IsRefusedModemCall(errno))
        return SerialErrorFromErrno(errno);
    return 0;
}

DWORD SerialPort::SetRts(bool bOn) {
    const DWORD result = SetModemLine(TIOCM_RTS, bOn);
    if (result == 0) {
        if (bOn != mbRts)
            ++mRtsChanges;
        mbRts = bOn;
    }
    return result;
}

DWORD SerialPort::SetDtr(bool bOn) {
    return SetModemLine(TIOCM_DTR, bOn);
}

} // namespace Platform
