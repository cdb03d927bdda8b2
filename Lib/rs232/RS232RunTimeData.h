// The open state of one COM port, behind one interface with two implementations: the serial API
// (RS232RunTimeDataWindows, over Platform::SerialPort) and a VISA serial session
// (RS232RunTimeDataVISA). The driver chooses one, opens it with the port's settings and forwards
// reads, writes, waits and buffer clears to it; the shared-port registry owns it and counts its
// users.
#pragma once

#include <memory>
#include <string>

#include "core/EnumClass.h"
#include "platform/HostTypes.h"
#include "platform/SerialPort.h"
#include "streams/DeviceStreamSeparatedReadWrite.h"

class RS232Configuration;

// Own result codes of the port access. A read that ends at its time-out gives every stream's read
// time-out, StreamResult::ReadTimeout.
namespace RS232Result {
constexpr DWORD PortNotOpen = 0x3000012C;
constexpr DWORD NotAllBytesWritten = 0x3000012D;
constexpr DWORD PortNotFound = 0x3000012F;
constexpr DWORD PortAccessDenied = 0x30000130;
constexpr DWORD NoRunTimeData = 0x30000137;

// The codes whose texts the language library holds with the port's name: the own ones and the
// read time-out.
constexpr bool HasPortText(DWORD code) {
    return (code >= PortNotOpen && code <= PortAccessDenied) || code == NoRunTimeData;
}
} // namespace RS232Result

// A Windows error number as a result: 2 the port is missing, 5 and 183 it is in use or denied;
// every other value unchanged.
DWORD ConvertWindowsErrorCode(DWORD error);

// A usage count that never goes below 0.
template <typename T> class UsageCountTemplate {
public:
    void IncrementUsageCount() { ++mCount; }
    void DecrementUsageCount() {
        if (mCount > 0)
            --mCount;
    }
    T GetUsageCount() const { return mCount; }

private:
    T mCount = 0;
};

class RS232RunTimeData : public UsageCountTemplate<unsigned int> {
public:
    // The port's time-out between transfers, in milliseconds.
    static constexpr DWORD PortTimeout = 3000;
    // The serial API's longest pause between two bytes of one read, in milliseconds.
    static constexpr DWORD ReadInterval = 10;
    // A VISA time-out (VI_ERROR_TMO) as it reaches the driver.
    static constexpr DWORD VisaTimeoutStatus = 0xBFFF0015;

    RS232RunTimeData() = default;
    virtual ~RS232RunTimeData() = default;
    RS232RunTimeData(const RS232RunTimeData &) = delete;
    RS232RunTimeData &operator=(const RS232RunTimeData &) = delete;

    virtual DWORD Open(BaudRate eBaudRate, Parity eParity, DataBits eDataBits, StopBits eStopBits,
                       const RS232Configuration &configuration) = 0;
    virtual DWORD Close() = 0;
    virtual DWORD Lock(double dSeconds) = 0;
    virtual DWORD Unlock() = 0;
    // Up to count bytes; fewer at the time-out give StreamResult::ReadTimeout with what came.
    virtual DWORD Read(std::string &sText, DWORD dwCount) = 0;
    // dwWritten: the bytes the port took (none when the write failed before the data).
    virtual DWORD Write(const std::string &sText, DWORD &dwWritten) = 0;
    DWORD Write(const std::string &sText) {
        DWORD dwWritten = 0;
        return Write(sText, dwWritten);
    }
    virtual DWORD ClearOutBuffer() = 0;
    virtual DWORD ClearInBuffer() = 0;
    virtual DWORD GetInputQueueCount() = 0;
    virtual DWORD GetOutputQueueCount() = 0;
    virtual DWORD SetTimeout(DWORD dwMilliseconds) = 0;
    virtual DWORD SetTimeoutMinimum() = 0;
    // Waits up to the time-out for received bytes; available is what is queued.
    virtual DWORD WaitCommEvent(DWORD dwTimeout, DWORD &dwAvailable) = 0;
    virtual bool IsOpen() const = 0;
    virtual DWORD SetReadTermination(const std::string &sTermination) = 0;
    virtual DWORD ApplyNewLineTermination() = 0;
    virtual DWORD GetLastErrorCode() const = 0;
    virtual void ClearLastError() = 0;
    virtual DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *pBuffer, uint32_t dwSize,
                                 uint32_t *pdwLength) = 0;
};

class RS232RunTimeDataWindows : public RS232RunTimeData {
public:
    // A read reserves at most this much; a larger count grows with the bytes that come.
    static constexpr DWORD ReadReserveLimit = 65536;

    RS232RunTimeDataWindows();
    ~RS232RunTimeDataWindows() override;

    DWORD Open(BaudRate eBaudRate, Parity eParity, DataBits eDataBits, StopBits eStopBits,
               const RS232Configuration &configuration) override;
    DWORD Close() override;
    DWORD Lock(double dSeconds) override;
    DWORD Unlock() override;
    DWORD Read(std::string &sText, DWORD dwCount) override;
    using RS232RunTimeData::Write;
    DWORD Write(const std::string &sText, DWORD &dwWritten) override;
    DWORD ClearOutBuffer() override;
    DWORD ClearInBuffer() override;
    DWORD GetInputQueueCount() override;
    DWORD GetOutputQueueCount() override;
    DWORD SetTimeout(DWORD dwMilliseconds) override;
    DWORD SetTimeoutMinimum() override;
    DWORD WaitCommEvent(DWORD dwTimeout, DWORD &dwAvailable) override;
    bool IsOpen() const override;
    DWORD SetReadTermination(const std::string &sTermination) override;
    DWORD ApplyNewLineTermination() override;
    DWORD GetLastErrorCode() const override;
    void ClearLastError() override;
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *pBuffer, uint32_t dwSize,
                         uint32_t *pdwLength) override;
    // Whether the port can still report its queues; the port keeps no communication-error flags.
    virtual DWORD GetCommError();

    // The port itself (tests read its modem-line requests).
    const Platform::SerialPort &GetPort() const { return mPort; }

private:
    DWORD ApplyPortSettings(BaudRate eBaudRate, Parity eParity, DataBits eDataBits, StopBits eStopBits,
                            const RS232Configuration &configuration);
    // Stores the error as the last error and returns its conversion.
    DWORD Fail(DWORD dwError);
    DWORD ApplyTimeouts(const Platform::SerialTimeouts &timeouts, const wchar_t *function);
    // The bytes waiting in the input (or output) queue; 0 with the last error set on failure.
    DWORD QueueCount(bool bInput);

    Platform::SerialPort mPort;
    DWORD mdwLastError = 0;
    bool mbRTSAroundWrite = false;
};

class VisaBase;

class RS232RunTimeDataVISA : public RS232RunTimeData {
public:
    // The open time-out of the session and the seconds its set-up holds the session lock.
    static constexpr uint32_t OpenTimeout = 5000;
    static constexpr double OpenLockSeconds = 5.0;

    RS232RunTimeDataVISA();
    ~RS232RunTimeDataVISA() override;

    // "COM<n>" first, then "ASRL<n>::INSTR"; the set-up runs under the session lock.
    DWORD Open(BaudRate eBaudRate, Parity eParity, DataBits eDataBits, StopBits eStopBits,
               const RS232Configuration &configuration) override;
    DWORD Close() override;
    DWORD Lock(double dSeconds) override;
    DWORD Unlock() override;
    DWORD Read(std::string &sText, DWORD dwCount) override;
    using RS232RunTimeData::Write;
    // The whole text counts as written when the session took it.
    DWORD Write(const std::string &sText, DWORD &dwWritten) override;
    DWORD ClearOutBuffer() override;
    DWORD ClearInBuffer() override;
    DWORD GetInputQueueCount() override;
    DWORD GetOutputQueueCount() override;
    DWORD SetTimeout(DWORD dwMilliseconds) override;
    DWORD SetTimeoutMinimum() override;
    DWORD WaitCommEvent(DWORD dwTimeout, DWORD &dwAvailable) override;
    bool IsOpen() const override;
    // The first character of the text ends a read; an empty text ends none.
    DWORD SetReadTermination(const std::string &sTermination) override;
    // LF ends a read when NewLineReturnIsEndOfString, else no character does.
    DWORD ApplyNewLineTermination() override;
    DWORD GetLastErrorCode() const override;
    void ClearLastError() override;
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *pBuffer, uint32_t dwSize,
                         uint32_t *pdwLength) override;

    const VisaBase &GetSession() const { return *mSession; }

private:
    std::unique_ptr<VisaBase> mSession;
    bool mbReadTerminationEnabled = false;
    char mcReadTermination = '\n';
    bool mbNewLineReturnIsEndOfString = false;
};
