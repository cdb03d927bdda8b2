// Service-request GPIB. NI4882MGPIB registers its device with GPIBSRQ.DLL, so that the device's
// service requests reach SRQHandler on the library's thread, and asks the library for its last
// error after each successful bus call. NI4882CompliantGPIB uses the requests for IEEE 488.2
// status reporting: it enables MAV and ESB (OPC only) on the device, appends "*OPC" to commands
// that must complete and waits for the handler instead of polling; the handler reads responses
// (MAV), keeps output that came unasked, and reads the event status register (ESB).
//
// Threads: the caller's and GPIBSRQ.DLL's. The handler runs under the section for its whole run;
// the caller holds it only to prepare and send, to take the response and to disable requests,
// never while waiting or while registering or unregistering (unregistering waits for a running
// handler). A request that comes while the device opens is only noted by the handler: the open
// serves it under the section once the device is open, so the handler's time-out for its own
// read never reaches the device's open and its read finds the device.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "core/Timing.h"
#include "gpib/NI488GPIB.h"
#include "platform/NamedMutex.h"

class NI4882MGPIB : public NI488GPIB {
public:
    NI4882MGPIB(int nBoard, int nPrimary, int nSecondary);
    // Unregisters (waiting for a running handler) before anything is freed.
    ~NI4882MGPIB() override;

    DWORD OpenDevice(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary) override;
    DWORD CloseDevice(HostWindow hWnd) override;
    DWORD CheckLastGPIBError(HostWindow hWnd, DWORD result) override;
    virtual DWORD SendCommandAndWait(HostWindow hWnd, const std::string &sText);
    // Called on GPIBSRQ.DLL's thread with the device's status byte; does nothing here.
    virtual DWORD SRQHandler(unsigned char statusByte);

    // The callback registered with GPIBSRQ.DLL; the context is the driver.
    static uint32_t SRQCallback(unsigned char statusByte, void *context);

    uint32_t GetRegistration() const { return mRegistration; }
    GPIBSRQLibrary &GetSRQLibrary() { return mSRQLibrary; }

protected:
    // Unregisters the device when it is registered.
    DWORD StopServiceRequests(HostWindow hWnd);

    GPIBSRQLibrary mSRQLibrary;
    uint32_t mRegistration = 0;
};

class NI4882CompliantGPIB : public NI4882MGPIB {
public:
    // States of a running SaveSendGPIB (1, a send without waiting, goes straight to Complete).
    enum State { Idle = 0, WaitingForOPC = 2, WaitingForResponse = 3, Complete = 4 };

    NI4882CompliantGPIB(int nBoard, int nPrimary, int nSecondary);
    ~NI4882CompliantGPIB() override;

    DWORD OpenDevice(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary) override;
    DWORD CloseDevice(HostWindow hWnd) override;
    DWORD GetIdentificationString(HostWindow hWnd, std::string *reply) override;
    DWORD SendCommand(HostWindow hWnd, const std::string &sText, bool bWaitForOPC) override;
    DWORD SaveSendGPIB(HostWindow hWnd, const std::string &sText, bool bWaitForOPC,
                       unsigned long nReadResponseBytes, std::string *response) override;
    DWORD SRQHandler(unsigned char statusByte) override;
    // "*CLS", "*SRE 48", "*ESE 1", each while the previous one succeeded.
    virtual DWORD EnableSRQ(HostWindow hWnd);
    // "*SRE 0" and "*ESE 0", both always.
    virtual DWORD DisableSRQ(HostWindow hWnd);
    // Called by the handler with each status byte; 0 here.
    virtual DWORD OnSRQStatusByte(unsigned char statusByte);
    // Also drops the output the handler kept.
    DWORD DiscardOutput(HostWindow hWnd, unsigned int nMilliseconds) override;

    int GetState() const { return meState; }
    // The longest wait for a service request in milliseconds; 0: three times the I/O time-out.
    void LimitResponseWait(unsigned int nMilliseconds) { mnResponseWaitLimit = nMilliseconds; }
    // Whether the response the last SaveSendGPIB handed out ended its message (END).
    bool LastResponseEnded() const { return mbLastResponseEnded; }

private:
    // The handler's work on one status byte; the open runs it for a request that came meanwhile.
    DWORD ServeRequest(unsigned char statusByte);
    // Keeps the first error the handler met since the last reset.
    void RecordHandlerError(DWORD result);
    bool IsHandlerThread() const;

    std::atomic<DWORD> meSRQHandlerError{0};
    std::atomic<int> meState{Idle};
    Timing mTiming;
    Platform::Event mOperationComplete{true, false};
    std::recursive_mutex mSection;
    std::atomic<unsigned long> mlSuggestedReadSize{1024};
    std::string msResponse;
    bool mbResponseEnded = false; // under the section: the last read into the response ended its message
    bool mbLastResponseEnded = false;
    unsigned int mnResponseWaitLimit = 0;
    // Under the section: an open is running, and the status bytes of the requests it met (-1: none).
    bool mbOpening = false;
    int mnOpeningRequests = -1;
};
