// The root of every device stream: the object that owns one connection to an instrument and
// carries text commands to it and responses back.
//
// A stream is shared by the drivers whose configurations are equal: it counts its clients, really
// opens the device for the first one (Connect) and really closes it after the last one
// (Disconnect). Every kind follows the same contracts:
//   Connect:    VerifyCorrectConfigurationObject, SetLockName(configuration identifier), open when
//               IsFirstClient (then set the connected flag), RegisterClient when connected.
//   Disconnect: when UnregisterClient is true, close and clear the connected flag.
// Callers serialise whole operations with the stream's named Mutex (Lock/Unlock, usually through
// a DeviceStreamLocker). The members change under the stream's state lock (HoldState), which the
// drivers' decorators hold around every operation but the named lock's own wait. A removed driver's
// wait for the state lock ends at its removal.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core/ResultCodes.h"
#include "platform/HostTypes.h"
#include "streams/CommunicationDelayer.h"
#include "streams/StreamLocking.h"
#include "streams/StreamStateLock.h"

class DeviceStreamClient;
class DeviceStreamConfiguration;

// Result codes that every stream kind shares (besides ResultCode::OperationNotProvided, the default
// of Connect, Write and Read).
namespace StreamResult {
constexpr DWORD EmbeddedStreamMissing = 0x30000006;    // a decorator or client holds no stream
constexpr DWORD ReadTimeout = 0x3000012E;              // the end of the data for the write-read
constexpr DWORD OperationCompleteMissing = 0x3000019A; // no reply to the "*OPC?" of a write
constexpr DWORD CannotCreateStream = 0x30001F40;
constexpr DWORD StreamNotConnected = 0x30001F41;
constexpr DWORD StreamNotLocked = 0x30001F42;
constexpr DWORD StreamNotCreated = 0x30001F43;
constexpr DWORD InvalidConfigurationObject = 0x30001F44;
constexpr DWORD DeviceSystemError = 0x30001F45;
constexpr DWORD CouldNotSetValue = 0x30001F46;
constexpr DWORD InputNeverQuiet = 0x300001A2; // late input kept coming: the exchange wrote nothing

// Plain texts of the shared codes that no stream kind describes, the lock's and the event's
// included; the stream client gives them when nothing else knew a text.
inline constexpr ResultCode::CodeText SharedCodes[] = {
    {EmbeddedStreamMissing, "The driver holds no device stream."},
    {ReadTimeout, "The device did not send the complete response within the time-out."},
    {OperationCompleteMissing, "The device did not report operation complete within the time-out."},
    {EventClosed, "The event of the device stream is not open."},
    {EventNotCreated, "The event of the device stream could not be created."},
    {EventTimeout, "The wait for the event of the device stream timed out."},
    {LockNotAvailable, "The lock of the device stream is not available."},
    {LockTimeout, "The lock of the device stream was not obtained within the time-out."},
    {InputNeverQuiet, "The device kept sending after an answer was lost: the command was not sent."},
};

// The table's text of a code; null for any other code.
constexpr const char *SharedText(DWORD code) {
    for (const ResultCode::CodeText &entry : SharedCodes)
        if (entry.Code == code)
            return entry.Text;
    return nullptr;
}
} // namespace StreamResult

// A time-out a stream can take: a number of seconds, 0 or more (not NaN). The RS-232, UDP and GPIB
// streams refuse any other with StreamResult::CouldNotSetValue and keep the one they had.
inline bool IsUsableTimeout(double dSeconds) {
    return dSeconds >= 0.0;
}

// The command with ";*OPC?" appended ("*OPC?" alone for an empty one) when waiting for operation
// complete; else the command itself.
std::string WithOperationCompleteQuery(const std::string &sCommand, bool bWaitForOPC);

class DeviceStreamSeparatedReadWrite {
public:
    DeviceStreamSeparatedReadWrite();
    virtual ~DeviceStreamSeparatedReadWrite();
    DeviceStreamSeparatedReadWrite(const DeviceStreamSeparatedReadWrite &) = delete;
    DeviceStreamSeparatedReadWrite &operator=(const DeviceStreamSeparatedReadWrite &) = delete;

    virtual DWORD SetWriteTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled);
    virtual DWORD SetReadTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled);
    virtual DWORD SetTimeout(HostWindow hWnd, double dSeconds);
    virtual double GetTimeout(HostWindow hWnd);
    // Microseconds.
    virtual DWORD GetMinimumDelay();
    virtual void SetMinimumDelay(DWORD dwMicroseconds);
    virtual DWORD Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                          DeviceStreamClient *clientEntry);
    virtual DWORD Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry);
    virtual bool IsConnected();
    // Waits for the stream's Mutex; the seconds become milliseconds clamped to 32 bits.
    virtual DWORD Lock(HostWindow hWnd, double dSeconds);
    virtual DWORD Unlock(HostWindow hWnd);
    virtual DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC);
    // Appends nothing: the response is replaced by what was read, at most dwCount bytes.
    virtual DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount);
    virtual DWORD ClearInputBuffers(HostWindow hWnd);
    // Drops what waits in the input and finds out on the way whether the peer closed or reset the
    // connection (IsConnected tells it afterwards). The base clears the input buffers.
    virtual DWORD DropWaitingInput(HostWindow hWnd);
    virtual DWORD ClearOutputBuffers(HostWindow hWnd);
    virtual DWORD ClearDevice(HostWindow hWnd);
    virtual DWORD GetLastWriteCount();
    virtual DWORD GetAuxiliaryValue(DWORD &dwValue);
    virtual DWORD SetAuxiliaryValue(DWORD dwValue);
    // The kind's own texts; the base gives none.
    virtual DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                 uint32_t *pdwLength);
    virtual void InterruptWait();
    virtual DeviceStreamParameters GetParameters();
    // The read termination when it is on, else empty: what GetParameters tells of it, without
    // the copy.
    virtual std::string GetReadTerminationInUse();
    virtual void SetParameters(const DeviceStreamParameters &parameters);
    // Connected and used by exactly one client.
    virtual bool HasSingleClient();
    // 0, or InvalidConfigurationObject (with a logged message) when there is no configuration,
    // no expected id, or a configuration of another kind.
    virtual DWORD VerifyCorrectConfigurationObject(std::shared_ptr<DeviceStreamConfiguration> configObject,
                                                   const std::string &objectIDDescription);

    // ---- Used by every kind's Connect and Disconnect ----

    // A client is given and none is registered yet.
    bool IsFirstClient(HostWindow hWnd, DeviceStreamClient *clientEntry);
    void RegisterClient(HostWindow hWnd, DeviceStreamClient *clientEntry);
    // Removes the client; true when no client is left, the device is then to be closed. The
    // stream's own entry of the shared-stream map is dropped then.
    bool UnregisterClient(HostWindow hWnd, DeviceStreamClient *clientEntry);
    // Names the stream's Mutex after the configuration identifier (MakeStreamLockName).
    void SetLockName(const std::string &sIdentifier);

    // The lock's name; empty until the first Connect.
    std::wstring GetLockName() const { return mLock.GetName(); }
    // 0 when the wait for the state lock ended at the cancel.
    size_t GetClientCount() {
        const auto hold = HoldState();
        return hold.Cancelled() ? 0 : mClients.size();
    }

    // The state lock: while it is held no other thread connects, sets, uses or disconnects the
    // stream. Uncontended it costs no system call. Never held while waiting for the named Mutex. A
    // wait for it ends at the cancel of the caller's call (the hold tells), unless told to wait to
    // the end.
    StreamStateHold HoldState(StreamStateLock::Wait wait = StreamStateLock::Wait::UntilCancelled) const {
        return StreamStateHold(mStateLock, wait);
    }

protected:
    // The command with the write termination appended (when enabled) unless it ends with it already.
    std::string WithWriteTermination(const std::string &sCommand) const;
    // Reads piece by piece within the stream's time-out: before each piece the time-out is set to
    // what remains of it, afterwards it is restored (restored: the code of that). readPiece reads one
    // piece and clears bMore when the response is complete. The code that ended the loop.
    DWORD ReadWithinTimeout(HostWindow hWnd, const std::function<DWORD(bool &bMore)> &readPiece,
                            DWORD &restored);

    // Bytes of the last write; the network and UDP reads keep the count of their last read here
    // as well (GetLastWriteCount then gives that).
    DWORD mdwLastWriteCount = 0;
    bool mbConnected = false;
    DeviceStreamParameters mParameters;
    DWORD mdwAuxiliaryValue = 0;
    std::set<DeviceStreamClient *> mClients;
    Mutex mLock;

private:
    mutable StreamStateLock mStateLock;
};
