// A pseudo-terminal pair as a serial port: the code under test opens the slave side as COM<n>
// ($KORVALIS_COM<n> points at it), the test plays the instrument on the master side. A second
// slave descriptor, opened first, keeps the terminal alive between opens and reads its line
// settings back.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/TestSupport.h"

namespace TestSupport {

class PseudoTerminal {
public:
    // The line settings the slave side holds now.
    struct LineSettings {
        unsigned BaudRate = 0;
        int DataBits = 0;
        char Parity = '?'; // N, O, E, M, S
        int StopBits = 0;  // 1 or 2
        bool XonXoff = false;
        bool Raw = false; // no canonical input, no echo, no output processing
    };

    explicit PseudoTerminal(unsigned portNumber)
        : mMaster(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)), mPath(SlaveName(mMaster)),
          mSlave(mPath.empty() ? -1 : open(mPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
          mEnv("KORVALIS_COM" + std::to_string(portNumber), mPath) {}

    ~PseudoTerminal() {
        if (mSlave >= 0)
            close(mSlave);
        if (mMaster >= 0)
            close(mMaster);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool IsReady() const { return mMaster >= 0 && mSlave >= 0; }
    const std::string &SlavePath() const { return mPath; }
    // The instrument's side (non-blocking).
    int Master() const { return mMaster; }

    // The slave side's terminal attributes as they are now.
    termios Attributes() const {
        termios attributes{};
        tcgetattr(mSlave, &attributes);
        return attributes;
    }

    // The instrument's side closes, as a cable pulled: the port is hung up for good.
    void HangUp() {
        close(mMaster);
        mMaster = -1;
    }

    // The instrument sends.
    bool Send(const std::string &bytes) {
        return write(mMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // The instrument sends a byte each interval, as a line at its rate does.
    bool SendPaced(const std::string &bytes, std::chrono::microseconds interval) {
        auto next = std::chrono::steady_clock::now();
        for (const char byte : bytes) {
            std::this_thread::sleep_until(next);
            if (write(mMaster, &byte, 1) != 1)
                return false;
            next += interval;
        }
        return true;
    }

    // What the port sent: bytes until count arrived, the text ends with the terminator, or the
    // deadline passed.
    std::string Receive(size_t count, const std::string &terminator = std::string(),
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (received.size() < count) {
            if (!terminator.empty() && received.size() >= terminator.size() &&
                received.compare(received.size() - terminator.size(), terminator.size(), terminator) == 0)
                break;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd entry{mMaster, POLLIN, 0};
            if (poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char byte = 0;
            if (read(mMaster, &byte, 1) == 1)
                received += byte;
        }
        return received;
    }

    LineSettings Settings() const {
        LineSettings line;
        termios attributes{};
        if (tcgetattr(mSlave, &attributes) != 0)
            return line;
        static const struct {
            speed_t Speed;
            unsigned Rate;
        } speeds[] = {{B50, 50},         {B300, 300},      {B600, 600},       {B1200, 1200},
                      {B2400, 2400},     {B4800, 4800},    {B9600, 9600},     {B19200, 19200},
                      {B38400, 38400},   {B57600, 57600},  {B115200, 115200}, {B230400, 230400},
                      {B460800, 460800}, {B921600, 921600}};
        for (const auto &speed : speeds)
            if (cfgetospeed(&attributes) == speed.Speed)
                line.BaudRate = speed.Rate;
        const tcflag_t size = attributes.c_cflag & CSIZE;
        line.DataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
        if (!(attributes.c_cflag & PARENB))
            line.Parity = 'N';
        else if (attributes.c_cflag & CMSPAR)
            line.Parity = (attributes.c_cflag & PARODD) ? 'M' : 'S';
        else
            line.Parity = (attributes.c_cflag & PARODD) ? 'O' : 'E';
        line.StopBits = (attributes.c_cflag & CSTOPB) ? 2 : 1;
        line.XonXoff = (attributes.c_iflag & IXON) && (attributes.c_iflag & IXOFF);
        line.Raw = !(attributes.c_lflag & (ICANON | ECHO)) && !(attributes.c_oflag & OPOST);
        return line;
    }

private:
    static std::string SlaveName(int master) {
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return std::string();
        char name[128] = {};
        return ptsname_r(master, name, sizeof name) == 0 ? std::string(name) : std::string();
    }

    int mMaster;
    std::string mPath;
    int mSlave;
    ScopedEnv mEnv;
};

} // namespace TestSupport
