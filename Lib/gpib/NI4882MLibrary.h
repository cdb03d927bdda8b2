// The NI-488.2 library "GPIB-32.DLL" and the service-request library "GPIBSRQ.DLL", bound at run
// time. GPIBCheckVersion decides from the registry and the library's version block whether the
// installed GPIB library may be used; GPIBSRQLibrary binds GPIBSRQ.DLL (service requests, the
// machine-wide turns and time of the last bus access, with a process-wide fallback);
// NI4882MLibrary binds GPIB-32.DLL and runs the logged bus operations on one board and one device
// handle.
//
// Every bus operation with a handle of -1 does nothing and returns 0. Operations marked as timed
// keep the larger of the own and the last user's bus delay between two bus accesses; the last
// user's delay counts at most for the device's I/O time-out (any local user may write the store).
// With GPIBSRQ.DLL's turn calls the users take turns, so two that wait for the same access never
// go together.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "core/Timing.h"
#include "gpib/Gpib32Api.h"
#include "gpib/GpibSrqApi.h"
#include "platform/DynamicLibrary.h"
#include "platform/HostTypes.h"

class QuellinEntry;

// Module name of the GPIB call records.
inline constexpr const wchar_t *GPIBLogModule = L"NIGPIBDD";

class GPIBCheckVersion {
public:
    virtual ~GPIBCheckVersion();
    // 0 when the installed library may be used; 0x30000237 / 0x3000023A for an NI-488.2M older
    // than major version 15.
    virtual DWORD CheckNI4882MVersion();
    // Vendor mode of Agilent/Keysight IO Libraries, from the registry and the version block of
    // "GPIB-32.DLL". Always 0.
    DWORD HasAgilent488EnabledMode(bool &bEnabled);
};

class GPIBSRQLibrary : public GPIBCheckVersion {
public:
    GPIBSRQLibrary();
    ~GPIBSRQLibrary() override;
    GPIBSRQLibrary(const GPIBSRQLibrary &) = delete;
    GPIBSRQLibrary &operator=(const GPIBSRQLibrary &) = delete;

    // 0 when loaded. A library that lacks one of the four registration entry points is not kept.
    DWORD LoadGPIBSRQDLL();
    // 0, or LibraryNotFreed with the library still loaded and bound.
    DWORD UnloadGPIBSRQDLL();
    bool IsLoaded() const { return mModule.IsLoaded(); }

    // 0x30000247 when the entry point is not bound.
    DWORD RegisterSRQHandler(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary,
                             GpibSrqCallback callback, void *context, uint32_t *registration);
    DWORD UnRegisterSRQHandler(HostWindow hWnd, uint32_t registration);
    DWORD SetExpectingSRQ(HostWindow hWnd, uint32_t registration);
    // 0 when not bound.
    DWORD GetLastGPIBError(HostWindow hWnd, uint32_t registration);
    // Without the entry points: the process-wide pair, read and written as one; 0x30000005 when
    // an address is missing (the other value is still handled).
    DWORD GetLastTimingInformation(uint32_t *delay, uint64_t *counter);
    DWORD SetLastTimingInformation(const uint32_t *delay, const uint64_t *counter);
    // Returns when a bus access of that delay may begin: GPIBSRQ.DLL's WaitForBusAccess (the users
    // take turns); without it, the precise wait after the last access that GetLastTimingInformation
    // gives. *turn (0 without it) goes to EndBusAccess.
    DWORD WaitForBusAccess(uint32_t delay, uint32_t otherDelayLimit, uint64_t *turn);
    // GPIBSRQ.DLL's EndBusAccess; without it, SetLastTimingInformation(delay, counter).
    DWORD EndBusAccess(uint64_t turn, uint32_t delay, uint64_t counter);

private:
    void ClearEntryPoints();

    Platform::DynamicLibrary mModule;
    GpibSrqApi::RegisterSRQHandlerFunction mRegisterSRQHandler = nullptr;
    GpibSrqApi::UnRegisterSRQHandlerFunction mUnRegisterSRQHandler = nullptr;
    GpibSrqApi::UnRegisterAllHandlersFunction mUnRegisterAllHandlers = nullptr;
    GpibSrqApi::SetExpectingSRQFunction mSetExpectingSRQ = nullptr;
    GpibSrqApi::GetLastGPIBErrorFunction mGetLastGPIBError = nullptr;
    GpibSrqApi::CheckGPIBBussesFunction mCheckGPIBBusses = nullptr;
    GpibSrqApi::SetLastTimingInformationFunction mSetLastTimingInformation = nullptr;
    GpibSrqApi::GetLastTimingInformationFunction mGetLastTimingInformation = nullptr;
    GpibSrqApi::WaitForBusAccessFunction mWaitForBusAccess = nullptr;
    GpibSrqApi::EndBusAccessFunction mEndBusAccess = nullptr;
};

class NI4882MLibrary : public GPIBCheckVersion {
public:
    NI4882MLibrary();
    ~NI4882MLibrary() override;
    NI4882MLibrary(const NI4882MLibrary &) = delete;
    NI4882MLibrary &operator=(const NI4882MLibrary &) = delete;

    // Checks the installed version, binds GPIB-32.DLL (a library that lacks an entry point is not
    // kept) and then loads GPIBSRQ.DLL; once bound, only the GPIBSRQ.DLL step repeats.
    DWORD LoadGPIB32DLLs();
    // Unloads GPIBSRQ.DLL (its result ignored), then GPIB-32.DLL: 0, or LibraryNotFreed with the
    // library still loaded and bound.
    DWORD UnloadGPIB32DLLs();
    bool IsLoaded() const { return mModule.IsLoaded(); }

    // The calling thread's status, error and count; 0 while not bound.
    int CallThreadIbsta();
    int CallThreadIberr();
    long CallThreadIbcntl();

    // ---- Bus operations ----
    DWORD SendGPIB(HostWindow hWnd, const std::string &sText);
    // Reads up to maxLen bytes; a terminating 0 follows when there is room.
    DWORD ReceiveGPIB(HostWindow hWnd, char *buffer, long maxLen);
    // The bytes read (NUL bytes included); nothing changes while no device is open.
    DWORD ReceiveGPIBString(HostWindow hWnd, std::string *out, long maxLen);
    DWORD ClearGPIB(HostWindow hWnd);
    DWORD GoOnlineDevice(HostWindow hWnd);
    DWORD GoOfflineDevice(HostWindow hWnd);
    DWORD GoToLocalDevice(HostWindow hWnd);
    DWORD CommandGPIB(HostWindow hWnd, const std::string &sCommand);
    DWORD OpenDeviceConnection(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary, int nTimeOutCode,
                               int nEndOfStringMode, char cEndOfString);
    DWORD FindBoard(HostWindow hWnd, int nBoard);
    DWORD ConfigBoardGPIB(HostWindow hWnd, int nOption, int nValue);
    // Skipped when the option is outside 0..IbcLON or the device already has the value.
    DWORD ConfigDeviceGPIB(HostWindow hWnd, int nOption, int nValue);
    DWORD AskConfigBoardGPIB(HostWindow hWnd, int nOption, int *pnValue);
    DWORD SetTimeOutGPIB(HostWindow hWnd, int nCode);
    DWORD LockDevice(HostWindow hWnd, unsigned int nWaitMilliseconds);
    DWORD UnLockDevice(HostWindow hWnd);

    DWORD ConvertGPIBErrorCode(HostWindow hWnd, int nIberr, long nIbcntl, bool bDeviceCall,
                               const std::string &sDescription);

    int GetBoardHandle() const { return mnBoardHandle; }
    void SetBoardHandle(int nHandle) { mnBoardHandle = nHandle; }
    int GetDeviceHandle() const { return mnDeviceHandle; }
    // A new handle forgets what was configured on the old one.
    void SetDeviceHandle(int nHandle);
    bool IsDeviceOpen() const { return mnDeviceHandle != -1; }
    long GetLastReadCount() const { return mlLastReadCount; }
    // True when the last read ended with END (or the EOS character).
    bool LastReadEnded() const { return mbLastReadEnded; }
    DWORD GetBusDelay() const { return mdwBusDelay; }
    void SetBusDelay(DWORD dwMicroseconds) { mdwBusDelay = dwMicroseconds; }
    // The device's I/O time-out, also the most of another user's bus delay that is kept.
    unsigned int GetIOTimeOutMilliseconds() const { return mnIOTimeOutMilliseconds; }
    void SetIOTimeOutMilliseconds(unsigned int nMilliseconds) { mnIOTimeOutMilliseconds = nMilliseconds; }
    GPIBSRQLibrary &GetTimingLibrary() { return mSRQLibrary; }

private:
    void ClearEntryPoints();
    void ResetConfigCache();
    // Returns the access's turn for RecordBusAccess.
    uint64_t WaitBusDelay();
    void RecordBusAccess(uint64_t nTurn);
    // A logged call on the device handle with the bus delay kept, whose description is the
    // function's name and "()"; 0 without a device.
    DWORD TimedDeviceCall(HostWindow hWnd, const char *sFunction, bool bBound,
                          const std::function<int()> &call);
    // Logs the end of a call whose status is nIbsta; converts an error.
    DWORD FinishCall(QuellinEntry &entry, HostWindow hWnd, int nIbsta, bool bDeviceCall,
                     const std::string &sDescription);

    int mnBoardHandle = -1;
    int mnDeviceHandle = -1;
    Platform::DynamicLibrary mModule;
    GPIBSRQLibrary mSRQLibrary;
    std::array<int, NI488::IbcLON + 1> mConfigCache;

    Gpib32Api::ThreadIbstaFunction mThreadIbsta = nullptr;
    Gpib32Api::ThreadIberrFunction mThreadIberr = nullptr;
    Gpib32Api::ThreadIbcntlFunction mThreadIbcntl = nullptr;
    Gpib32Api::IbcacFunction mIbcac = nullptr;
    Gpib32Api::IbclrFunction mIbclr = nullptr;
    Gpib32Api::IbdevFunction mIbdev = nullptr;
    Gpib32Api::IbfindWFunction mIbfindW = nullptr;
    Gpib32Api::IblocFunction mIbloc = nullptr;
    Gpib32Api::IbonlFunction mIbonl = nullptr;
    Gpib32Api::IbrdFunction mIbrd = nullptr;
    Gpib32Api::IbsicFunction mIbsic = nullptr;
    Gpib32Api::IbwrtFunction mIbwrt = nullptr;
    Gpib32Api::IbsreFunction mIbsre = nullptr;
    Gpib32Api::IbrspFunction mIbrsp = nullptr;
    Gpib32Api::IbcmdFunction mIbcmd = nullptr;
    Gpib32Api::IbpctFunction mIbpct = nullptr;
    Gpib32Api::IbwaitFunction mIbwait = nullptr;
    Gpib32Api::IbrsvFunction mIbrsv = nullptr;
    Gpib32Api::IbrscFunction mIbrsc = nullptr;
    Gpib32Api::IbtmoFunction mIbtmo = nullptr;
    Gpib32Api::IbconfigFunction mIbconfig = nullptr;
    Gpib32Api::IbaskFunction mIbask = nullptr;
    Gpib32Api::IbtrgFunction mIbtrg = nullptr;
    Gpib32Api::IbnotifyFunction mIbnotify = nullptr;
    Gpib32Api::IblinesFunction mIblines = nullptr;
    Gpib32Api::IblckFunction mIblck = nullptr;

    long mlLastReadCount = 0;
    bool mbLastReadEnded = false;
    DWORD mdwBusDelay = 0;
    std::atomic<unsigned int> mnIOTimeOutMilliseconds{10000};
    Timing mTiming;
};
