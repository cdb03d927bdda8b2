// A serial port with the behaviour of the Windows serial API, over a terminal device: COM<n> is
// $KORVALIS_COM<n> (tests point it at a pseudo-terminal) or /dev/ttyS<n-1>. The open is exclusive
// (TIOCEXCL against other openers, flock against other users of this layer, root included); the
// line is raw, with the settings of a device control block. Reads and writes keep the Windows
// time-out rules (total read time, gap between bytes, total write time) with deadlines from the
// monotonic clock. Failures are Windows error numbers: 2 no such port, 5 in use or denied, 87
// settings the port refuses, 6 not open, 1117 the device failed (or its far end hung up).
// Modem-line calls that the device refuses (a pseudo-terminal has no modem lines) count as done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/HostTypes.h"

namespace Platform {

namespace SerialError {
constexpr DWORD FileNotFound = 2;
constexpr DWORD InvalidHandle = 6;
constexpr DWORD AccessDenied = 5;
constexpr DWORD GenFailure = 31;
constexpr DWORD InvalidParameter = 87;
constexpr DWORD IoDevice = 1117;
constexpr DWORD Timeout = 1460;
} // namespace SerialError

// The fields of a device control block that the port honours.
struct SerialLineSettings {
    DWORD BaudRate = 9600;
    uint8_t ByteSize = 8; // 5 to 8
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one, 1 one and a half (5 data bits only), 2 two (6 to 8 data bits)
    bool OutxCtsFlow = false;
    bool OutX = false; // XON/XOFF on output
    bool InX = false;  // XON/XOFF on input
    bool DtrEnable = true;
    bool RtsEnable = false;
};

// COMMTIMEOUTS, in milliseconds. A read ends at its count, when the total time (multiplier x
// count + constant, when either is set) is over, or when ReadIntervalTimeout passes between two
// bytes; interval MAXDWORD with both totals 0 returns at once with what is queued. A write ends
// when all is written or its total time is over; totals of 0 mean no limit.
struct SerialTimeouts {
    DWORD ReadIntervalTimeout = 0;
    DWORD ReadTotalTimeoutMultiplier = 0;
    DWORD ReadTotalTimeoutConstant = 0;
    DWORD WriteTotalTimeoutMultiplier = 0;
    DWORD WriteTotalTimeoutConstant = 0;
};
constexpr DWORD SerialMaxDword = 0xFFFFFFFF;

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens COM<portNumber> exclusively, raw, with the device's current line settings.
    DWORD Open(unsigned portNumber);
    // Releases the exclusive hold and closes; 0 when not open.
    DWORD Close();
    bool IsOpen() const { return mFd >= 0; }

    // Queue sizes: the terminal's queues are its own, so only the arguments are checked.
    DWORD SetupComm(DWORD inQueue, DWORD outQueue);
    DWORD GetState(SerialLineSettings &settings);
    // 87 for a rate without a terminal speed or a value outside the ranges above.
    DWORD SetState(const SerialLineSettings &settings);
    DWORD GetTimeouts(SerialTimeouts &timeouts) const;
    DWORD SetTimeouts(const SerialTimeouts &timeouts);

    // Appends up to count bytes to text under the read time-outs; read gives how many came.
    DWORD Read(std::string &text, size_t count, size_t &read);
    // Writes under the write time-outs; written may be short when the time ran out.
    DWORD Write(const void *data, size_t length, size_t &written);
    // Waits until the output queue is sent, at most the total write time (3 s when unlimited);
    // 1460 when it was not.
    DWORD Flush();
    DWORD PurgeInput();
    DWORD PurgeOutput();
    DWORD QueueCounts(DWORD &inQueue, DWORD &outQueue);
    // Waits at most milliseconds for received bytes; arrived tells whether any are queued.
    DWORD WaitForInput(DWORD milliseconds, bool &arrived);
    DWORD SetRts(bool bOn);
    DWORD SetDtr(bool bOn);

    // The RTS state last asked for (a pseudo-terminal cannot show it) and the number of changes.
    bool GetRequestedRts() const { return mbRts; }
    unsigned GetRtsChanges() const { return mRtsChanges; }

private:
    DWORD SetModemLine(int line, bool bOn);

    int mFd = -1;
    SerialTimeouts mTimeouts;
    bool mbRts = false;
    unsigned mRtsChanges = 0;
};

// errno of a failed open or call as a Windows error number.
DWORD SerialErrorFromErrno(int error);

} // namespace Platform
