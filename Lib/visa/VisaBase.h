// VisaBase: one VISA instrument session and everything the plug-in does with it. Opens the default
// resource manager and a session on a resource name, learns the kind of resource (GPIB, LAN
// VXI-11/HiSLIP/SOCKET, serial, USB), configures time-out, terminations and buffers, and offers
// write, read, write-read, buffer clearing, device clear, locking, error texts and the serial
// line operations. Every operation returns a result code: 0, a VISA status (its 32-bit pattern)
// or one of the layer's own codes. Operations on a closed session do nothing and return 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/HostTypes.h"
#include "visa/VisaLibrary.h"

// What kind of device a session reaches; the numbers are the stream client's connection kinds.
enum VisaDeviceKind : int32_t {
    VisaDeviceUnknown = -1,
    VisaDeviceGPIB = 0,
    VisaDeviceINSTR = 1, // message-based instrument: LAN VXI-11 and HiSLIP
    VisaDeviceASRL = 2,
    VisaDeviceSOCKET = 3,
    VisaDeviceUSB = 4,
};

// A refused serial line parameter (VI_ERROR_NSUP_ATTR_STATE), one code per attribute.
constexpr DWORD VisaBaudRateRefused = 0x30000131;
constexpr DWORD VisaParityRefused = 0x30000132;
constexpr DWORD VisaDataBitsRefused = 0x30000133;
constexpr DWORD VisaStopBitsRefused = 0x30000134;
constexpr DWORD VisaFlowControlRefused = 0x30000135;
constexpr DWORD VisaDTRStateRefused = 0x30000136;
// CheckIdentification: the answer to "*IDN?" does not contain the expected text.
constexpr DWORD VisaIdentificationMismatch = 0x300000CE;

class VisaBase {
public:
    // The default resource name until one is set.
    static constexpr const char *DefaultResourceName = "Insert the Visa identification here";
    // Largest count one read asks the library for.
    static constexpr size_t MaxReadCount = 16u * 1024u * 1024u;
    // Most bytes DropWaitingInput reads before it leaves the rest to the buffer clearing of the
    // next exchange.
    static constexpr size_t MaxDroppedInput = 65536;

    explicit VisaBase(int nLibraryPreference);
    virtual ~VisaBase();
    VisaBase(const VisaBase &) = delete;
    VisaBase &operator=(const VisaBase &) = delete;

    virtual DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *buffer, uint32_t size,
                                 uint32_t *length);
    virtual DWORD CheckIdentification(const std::string &sExpected);
    // Writes a non-empty command, then reads up to count bytes in up to five attempts; the bytes
    // of every attempt are kept.
    virtual DWORD WriteRead(const std::string &sCommand, size_t nCount, std::string &sResponse);
    virtual DWORD ClearInputBuffers();
    // A socket resource: reads and drops what waits without waiting, which also notes a peer that
    // closed or reset the connection (IsConnectionLost); any other resource: ClearInputBuffers.
    virtual DWORD DropWaitingInput();
    virtual DWORD ClearOutputBuffers();
    virtual DWORD FlushInputBuffers();
    virtual DWORD FlushOutputBuffers();
    virtual DWORD ClearOrFlushBuffer(ViUInt16 mask);
    virtual DWORD ClearDevice();
    virtual DWORD Lock(ViUInt32 milliseconds);
    virtual DWORD Unlock();

    DWORD OpenDevice(ViUInt32 openTimeout);
    bool IsOpen() const;
    // A transfer of the open session found its connection gone: VI_ERROR_CONN_LOST, or an I/O
    // error of a socket resource (what a peer that closed gives). Cleared when the session closes.
    bool IsConnectionLost() const { return mbConnectionLost; }
    DWORD CloseSession();
    // Closes session and resource manager and unloads the library.
    DWORD CloseAll();
    // One library read of up to count bytes (binary, NUL bytes kept).
    DWORD Read(size_t nCount, std::string &sText);
    DWORD Write(const std::string &sText);
    DWORD SetTermination(bool bReadTerminationInUse, ViUInt8 character, bool bCharacterEnabled);
    DWORD SetEndSettings(bool bSendEnd, ViUInt8 writeTermination, bool bAppend);
    DWORD SetTimeout(ViUInt32 milliseconds);
    void SetResourceName(const std::string &sName) { msResourceName = sName; }
    const std::string &GetResourceName() const { return msResourceName; }
    void SetReadChunkSize(ViUInt32 nSize) { mnReadChunkSize = nSize; }
    void SetUnchunkedRead(bool bUnchunked) { mbUnchunkedRead = bUnchunked; }
    static bool IsInVisaErrorOrWarningRange(DWORD dwCode);
    // A raw socket resource: "TCPIP[n]::host::port::SOCKET" (letter case does not matter).
    static bool IsSocketResourceName(const std::string &sName);

    // Serial (ASRL) sessions only.
    // parity: 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits: 0 one, 1 one and a half, 2 two.
    DWORD ConfigureSerialPort(uint32_t baudRate, int parity, int dataBits, int stopBits,
                              bool bAssertDTRAndRTS, bool bXonXoff);
    DWORD SetRTSState(bool bAsserted);
    uint32_t GetAvailableBytes();
    DWORD WaitForSerialInput(uint32_t timeout, uint32_t &available);

    // What the open found out.
    VisaDeviceKind GetDeviceKind() const { return mnDeviceKind; }
    ViUInt16 GetInterfaceType() const { return mInterfaceType; }
    bool IsHiSLIP() const { return mbHiSLIP; }
    ViUInt32 GetTimeout() const { return mTimeout; }
    // Size of the read buffer (it only grows).
    ViUInt32 GetReadBufferSize() const { return mnReadBufferSize; }

protected:
    DWORD ReadResourceInfo();
    VisaDeviceKind DetermineDeviceKind();
    void NoteConnectionStatus(ViStatus status);
    bool IsSerial() const { return mInterfaceType == VI_INTF_ASRL; }

    std::string msResourceName = DefaultResourceName;
    ViSession mResourceManager = 0;
    ViSession mSession = 0;
    ViUInt16 mInterfaceType = 0;
    VisaDeviceKind mnDeviceKind = VisaDeviceUnknown;
    ViUInt16 mIOProtocol = 0;
    bool mbHiSLIP = false;
    bool mbConnectionLost = false;
    ViUInt8 mWriteTermination = '\n';
    bool mbAppendWriteTermination = true;
    bool mbSendEnd = true;
    ViUInt8 mReadTermination = '\n';
    bool mbTerminationCharacterEnabled = true;
    bool mbReadTerminationInUse = false;
    ViUInt32 mTimeout = 10000;
    bool mbSerialCharacterEvent = false;
    ViUInt32 mnReadChunkSize = 1024;
    bool mbUnchunkedRead = false;
    VisaLibrary mLibrary;
    std::unique_ptr<ViUInt8[]> mReadBuffer;
    ViUInt32 mnReadBufferSize = 0;
};
