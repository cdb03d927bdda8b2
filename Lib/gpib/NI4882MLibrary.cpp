// Binding of GPIB-32.DLL and GPIBSRQ.DLL, the installed-version check and the logged bus
// operations.
#include "gpib/NI4882MLibrary.h"

#include <functional>
#include <mutex>
#include <new>
#include <vector>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "core/Version.h"
#include "gpib/GPIBResultCodes.h"
#include "logging/QuellinEntry.h"
#include "platform/Registry.h"

namespace {

constexpr const wchar_t *NIKey = L"HKEY_LOCAL_MACHINE\\Software\\National Instruments\\NI-488.2M";
constexpr const wchar_t *AgilentKey = L"HKEY_LOCAL_MACHINE\\Software\\Agilent\\IO Libraries\\CurrentVersion";

// A registry text as the Windows read gives it into a buffer of that many bytes: false when it
// does not fit, trailing NULs removed.
bool ReadRegistryText(const std::wstring &key, const std::wstring &name, size_t bufferBytes,
                      std::wstring &text) {
    std::wstring value;
    if (Platform::ReadRegistryString(key, name, value) != Platform::RegistryResult::Ok)
        return false;
    if ((value.size() + 1) * 2 > bufferBytes)
        return false;
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    text = value;
    return true;
}

// The stand-in for GPIBSRQ.DLL's timing store while its entry points are missing.
struct TimingFallback {
    std::mutex Lock;
    uint32_t Delay = 0;
    uint64_t Counter = 0;
};
TimingFallback &ProcessTiming() {
    static TimingFallback timing;
    return timing;
}

} // namespace

// ---- GPIBCheckVersion --------------------------------------------------------------------------

GPIBCheckVersion::~GPIBCheckVersion() = default;

DWORD GPIBCheckVersion::CheckNI4882MVersion() {
    QuellinEntry entry(GPIBLogModule, L"CheckNI4882MVersion");
    entry.LogBegin(QuellinLevelNote);
    bool bEnabled = false;
    DWORD result = HasAgilent488EnabledMode(bEnabled);
    uint32_t nMajor = 1;
    uint32_t nMinor = 99;
    std::wstring sVersion;
    if (!bEnabled) {
        entry.Log(QuellinLevelNote, QuellinDescription,
                  L"Not in Agilent GPIB mode, using National Instruments GPIB instead.");
        if (result == 0) {
            if (!Platform::RegistryKeyExists(NIKey)) {
                // Without the key nothing of NI is installed: the Agilent library may still serve.
                entry.Log(QuellinLevelNote, QuellinDescription,
                          L"NI key not found. National Instruments is probably not installed. Software may "
                          L"continue with Agilent IO software.");
            } else {
                uint32_t nValue = 0;
                if (Platform::ReadRegistryDword(NIKey, L"MajorVersion", nValue) ==
                    Platform::RegistryResult::Ok) {
                    nMajor = nValue;
                    if (Platform::ReadRegistryDword(NIKey, L"MinorVersion", nValue) ==
                        Platform::RegistryResult::Ok) {
                        nMinor = nValue;
                        ReadRegistryText(NIKey, L"CurrentVersion", 1024, sVersion);
                    }
                }
                if (nMajor < 15) {
                    entry.Log(QuellinLevelWarning, QuellinDescription,
                              L"The version of the Used NI 488.2M library is too low", L"MajorVersion",
                              nMajor, L"MinorVersion", nMinor, L"CurrentVersion", sVersion);
                    result = nMajor <= 2 ? GPIBResult::NI4882MTooOld : GPIBResult::NI4882MOld;
                }
            }
        }
    }
    const std::wstring sDescription =
        bEnabled ? std::wstring(L"CheckNI4882MVersion. Agilent IO is used.")
                 : L"CheckNI4882MVersion. Used NI 488.2M library version is" + sVersion + L".";
    entry.LogEnd(ResultSeverityText(result), QuellinDescription, sDescription, L"MajorVersion", nMajor,
                 L"MinorVersion", nMinor, L"Agilent488Enabled", bEnabled, L"CurrentVersion", sVersion, L"Err",
                 result);
    return result;
}

DWORD GPIBCheckVersion::HasAgilent488EnabledMode(bool &bEnabled) {
    QuellinEntry entry(GPIBLogModule, L"HasAgilent488EnabledMode");
    entry.LogBegin(QuellinLevelNote);
    bEnabled = false;
    std::wstring sVendorVersion = L"??";
    std::wstring sText;
    if (ReadRegistryText(AgilentKey, L"Agilent488Enabled", 100, sText) && !sText.empty() &&
        ParseBool(ToStdString(sText)))
        bEnabled = true;
    if (ReadRegistryText(AgilentKey, L"CurrentVersion", 100, sText) && !sText.empty()) {
        sVendorVersion = sText;
        bEnabled = true;
    }
    const std::wstring sFile = ToStdWstring(Platform::FindLibraryFile(NI488::LibraryName));
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    Version::ReadStrings(sFile, names, values);
    for (const std::wstring &sValue : values) {
        const std::string sNarrow = ToStdString(sValue);
        if (MatchesRegex(sNarrow, "National Instruments", true))
            bEnabled = false;
        if (MatchesRegex(sNarrow, "Keysight", true))
            bEnabled = true;
    }
    LogFileVersionInfo(L"Nigpibdd", sFile);
    entry.LogEnd(QuellinLevelComplete, L"Agilent488Enabled", bEnabled, L"Agilent Version", sVendorVersion,
                 L"Err", DWORD(0));
    return 0;
}

// ---- GPIBSRQLibrary ------------------------------------------------------------------------------

GPIBSRQLibrary::GPIBSRQLibrary() = default;

GPIBSRQLibrary::~GPIBSRQLibrary() {
    if (mModule.IsLoaded())
        UnloadGPIBSRQDLL();
}

void GPIBSRQLibrary::ClearEntryPoints() {
    mRegisterSRQHandler = nullptr;
    mUnRegisterSRQHandler = nullptr;
    mUnRegisterAllHandlers = nullptr;
    mSetExpectingSRQ = nullptr;
    mGetLastGPIBError = nullptr;
    mCheckGPIBBusses = nullptr;
    mSetLastTimingInformation = nullptr;
    mGetLastTimingInformation = nullptr;
    mWaitForBusAccess = nullptr;
    mEndBusAccess = nullptr;
}

DWORD GPIBSRQLibrary::LoadGPIBSRQDLL() {
    if (mModule.IsLoaded())
        return 0;
    QuellinEntry entry(GPIBLogModule, L"LoadGPIBSRQDLL");
    entry.LogBegin(QuellinLevelNote);
    DWORD result = 0;
    // Ours, installed beside the plug-in.
    static const char sInThisModule = 0;
    if (!mModule.Load(GpibSrqApi::LibraryName, &sInThisModule)) {
        result = GPIBResult::SRQLibraryNotLoaded;
    } else {
        const bool bBound = mModule.Bind("RegisterSRQHandler", mRegisterSRQHandler) &&
                            mModule.Bind("UnRegisterSRQHandler", mUnRegisterSRQHandler) &&
                            mModule.Bind("UnRegisterAllHandlers", mUnRegisterAllHandlers) &&
                            mModule.Bind("SetExpectingSRQ", mSetExpectingSRQ);
        if (!bBound) {
            // Not kept: the next load tries again and reports the same failure.
            result = Platform::EntryPointNotFound;
            mModule.Unload();
            ClearEntryPoints();
        } else {
            // These may be missing; their wrappers cover it.
            mModule.Bind("CheckGPIBBusses", mCheckGPIBBusses);
            mModule.Bind("GetLastGPIBError", mGetLastGPIBError);
            mModule.Bind("SetLastTimingInformation", mSetLastTimingInformation);
            mModule.Bind("GetLastTimingInformation", mGetLastTimingInformation);
            mModule.Bind("WaitForBusAccess", mWaitForBusAccess);
            mModule.Bind("EndBusAccess", mEndBusAccess);
        }
    }
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD GPIBSRQLibrary::UnloadGPIBSRQDLL() {
    // A library that could not be freed stays bound.
    if (!mModule.Unload())
        return GPIBResult::LibraryNotFreed;
    ClearEntryPoints();
    return 0;
}

DWORD GPIBSRQLibrary::RegisterSRQHandler(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary,
                                         GpibSrqCallback callback, void *context, uint32_t *registration) {
    if (mRegisterSRQHandler == nullptr)
        return GPIBResult::SRQEntryPointMissing;
    return mRegisterSRQHandler(hWnd, nBoard, nPrimary, nSecondary, callback, context, registration);
}

DWORD GPIBSRQLibrary::UnRegisterSRQHandler(HostWindow hWnd, uint32_t registration) {
    if (mUnRegisterSRQHandler == nullptr)
        return GPIBResult::SRQEntryPointMissing;
    return mUnRegisterSRQHandler(hWnd, registration);
}

DWORD GPIBSRQLibrary::SetExpectingSRQ(HostWindow hWnd, uint32_t registration) {
    if (mSetExpectingSRQ == nullptr)
        return GPIBResult::SRQEntryPointMissing;
    return mSetExpectingSRQ(hWnd, registration);
}

DWORD GPIBSRQLibrary::GetLastGPIBError(HostWindow hWnd, uint32_t registration) {
    if (mGetLastGPIBError == nullptr)
        return 0;
    return mGetLastGPIBError(hWnd, registration);
}

DWORD GPIBSRQLibrary::GetLastTimingInformation(uint32_t *delay, uint64_t *counter) {
    if (mGetLastTimingInformation != nullptr)
        return mGetLastTimingInformation(delay, counter);
    TimingFallback &timing = ProcessTiming();
    std::lock_guard<std::mutex> lock(timing.Lock);
    if (delay != nullptr)
        *delay = timing.Delay;
    if (counter != nullptr)
        *counter = timing.Counter;
    return delay != nullptr && counter != nullptr ? 0 : GPIBResult::NullArgument;
}

DWORD GPIBSRQLibrary::SetLastTimingInformation(const uint32_t *delay, const uint64_t *counter) {
    if (mSetLastTimingInformation != nullptr)
        return mSetLastTimingInformation(delay, counter);
    TimingFallback &timing = ProcessTiming();
    std::lock_guard<std::mutex> lock(timing.Lock);
    if (delay != nullptr)
        timing.Delay = *delay;
    if (counter != nullptr)
        timing.Counter = *counter;
    return delay != nullptr && counter != nullptr ? 0 : GPIBResult::NullArgument;
}

DWORD GPIBSRQLibrary::WaitForBusAccess(uint32_t delay, uint32_t otherDelayLimit, uint64_t *turn) {
    if (mWaitForBusAccess != nullptr && mEndBusAccess != nullptr)
        return mWaitForBusAccess(delay, otherDelayLimit, turn);
    if (turn == nullptr)
        return GPIBResult::NullArgument;
    *turn = 0;
    uint32_t nLastDelay = 0;
    uint64_t nLastCounter = 0;
    GetLastTimingInformation(&nLastDelay, &nLastCounter);
    Timing timing;
    const uint64_t nNow = timing.ReadCounter();
    // Counter readings are compared with each other; a last one ahead of now (from before a
    // restart) counts as none.
    if (nLastCounter > nNow)
        return 0;
    const uint64_t nPassed = timing.TicksToMicroseconds(nLastCounter, nNow);
    const uint32_t nGap = GpibSrqApi::BusGap(nLastDelay, delay, otherDelayLimit);
    if (nPassed < nGap)
        timing.WaitPrecise(nGap - nPassed);
    return 0;
}

DWORD GPIBSRQLibrary::EndBusAccess(uint64_t turn, uint32_t delay, uint64_t counter) {
    if (mWaitForBusAccess != nullptr && mEndBusAccess != nullptr)
        return mEndBusAccess(turn, delay, counter);
    return SetLastTimingInformation(&delay, &counter);
}

// ---- NI4882MLibrary: binding --------------------------------------------------------------------

NI4882MLibrary::NI4882MLibrary() {
    ResetConfigCache();
    QuellinEntry entry(GPIBLogModule, L"NI4882MLibrary");
    entry.Log(QuellinLevelNote, QuellinDescription, L"NI4882MLibrary has been loaded");
}

NI4882MLibrary::~NI4882MLibrary() {
    if (mModule.IsLoaded())
        UnloadGPIB32DLLs();
}

void NI4882MLibrary::ClearEntryPoints() {
    mThreadIbsta = nullptr;
    mThreadIberr = nullptr;
    mThreadIbcntl = nullptr;
    mIbcac = nullptr;
    mIbclr = nullptr;
    mIbdev = nullptr;
    mIbfindW = nullptr;
    mIbloc = nullptr;
    mIbonl = nullptr;
    mIbrd = nullptr;
    mIbsic = nullptr;
    mIbwrt = nullptr;
    mIbsre = nullptr;
    mIbrsp = nullptr;
    mIbcmd = nullptr;
    mIbpct = nullptr;
    mIbwait = nullptr;
    mIbrsv = nullptr;
    mIbrsc = nullptr;
    mIbtmo = nullptr;
    mIbconfig = nullptr;
    mIbask = nullptr;
    mIbtrg = nullptr;
    mIbnotify = nullptr;
    mIblines = nullptr;
    mIblck = nullptr;
}

void NI4882MLibrary::ResetConfigCache() {
    mConfigCache.fill(-1);
}

void NI4882MLibrary::SetDeviceHandle(int nHandle) {
    if (nHandle != mnDeviceHandle)
        ResetConfigCache();
    mnDeviceHandle = nHandle;
}

DWORD NI4882MLibrary::LoadGPIB32DLLs() {
    if (!mModule.IsLoaded()) {
        const DWORD check = CheckNI4882MVersion();
        if (check != 0)
            return check;
        QuellinEntry entry(GPIBLogModule, L"LoadGPIB32DLLs");
        entry.LogBegin(QuellinLevelNote, QuellinDescription, L"Load GPIB32 DLL's");
        if (!mModule.Load(NI488::LibraryName)) {
            entry.LogEnd(QuellinLevelError, L"Err", GPIBResult::GPIB32NotLoaded);
            return GPIBResult::GPIB32NotLoaded;
        }
        const bool bBound =
            mModule.Bind("ThreadIbsta", mThreadIbsta) && mModule.Bind("ThreadIberr", mThreadIberr) &&
            mModule.Bind("ThreadIbcntl", mThreadIbcntl) && mModule.Bind("ibcac", mIbcac) &&
            mModule.Bind("ibclr", mIbclr) && mModule.Bind("ibdev", mIbdev) &&
            mModule.Bind("ibfindW", mIbfindW) && mModule.Bind("ibloc", mIbloc) &&
            mModule.Bind("ibonl", mIbonl) && mModule.Bind("ibrd", mIbrd) && mModule.Bind("ibsic", mIbsic) &&
            mModule.Bind("ibwrt", mIbwrt) && mModule.Bind("ibsre", mIbsre) && mModule.Bind("ibrsp", mIbrsp) &&
            mModule.Bind("ibcmd", mIbcmd) && mModule.Bind("ibpct", mIbpct) &&
            mModule.Bind("ibwait", mIbwait) && mModule.Bind("ibrsv", mIbrsv) &&
            mModule.Bind("ibrsc", mIbrsc) && mModule.Bind("ibtmo", mIbtmo) &&
            mModule.Bind("ibconfig", mIbconfig) && mModule.Bind("ibask", mIbask) &&
            mModule.Bind("ibtrg", mIbtrg) && mModule.Bind("ibnotify", mIbnotify) &&
            mModule.Bind("iblines", mIblines) && mModule.Bind("iblck", mIblck);
        if (!bBound) {
            // A library without every entry point is not kept: no bus call can reach a missing one.
            mModule.Unload();
            ClearEntryPoints();
            entry.LogEnd(QuellinLevelError, L"Err", Platform::EntryPointNotFound);
            return Platform::EntryPointNotFound;
        }
        entry.LogEnd(QuellinLevelComplete);
    }
    return mSRQLibrary.LoadGPIBSRQDLL();
}

DWORD NI4882MLibrary::UnloadGPIB32DLLs() {
    mSRQLibrary.UnloadGPIBSRQDLL();
    // A library that could not be freed stays bound.
    if (!mModule.Unload())
        return GPIBResult::LibraryNotFreed;
    ClearEntryPoints();
    return 0;
}

int NI4882MLibrary::CallThreadIbsta() {
    return mThreadIbsta != nullptr ? mThreadIbsta() : 0;
}

int NI4882MLibrary::CallThreadIberr() {
    return mThreadIberr != nullptr ? mThreadIberr() : 0;
}

long NI4882MLibrary::CallThreadIbcntl() {
    return mThreadIbcntl != nullptr ? mThreadIbcntl() : 0;
}

// ---- Bus timing --------------------------------------------------------------------------------

uint64_t NI4882MLibrary::WaitBusDelay() {
    if (!mTiming.PerformanceCounterAvailable())
        return 0;
    const uint32_t nOtherDelayLimit = static_cast<uint32_t>(
        std::min<uint64_t>(MillisecondsToMicroseconds(mnIOTimeOutMilliseconds), UINT32_MAX));
    uint64_t nTurn = 0;
    mSRQLibrary.WaitForBusAccess(static_cast<uint32_t>(mdwBusDelay), nOtherDelayLimit, &nTurn);
    return nTurn;
}

void NI4882MLibrary::RecordBusAccess(uint64_t nTurn) {
    if (!mTiming.PerformanceCounterAvailable())
        return;
    mSRQLibrary.EndBusAccess(nTurn, static_cast<uint32_t>(mdwBusDelay), mTiming.ReadCounter());
}

// ---- Bus operations ----------------------------------------------------------------------------

DWORD NI4882MLibrary::FinishCall(QuellinEntry &entry, HostWindow hWnd, int nIbsta, bool bDeviceCall,
                                 const std::string &sDescription) {
    const int nIberr = CallThreadIberr();
    const long nIbcntl = CallThreadIbcntl();
    DWORD result = 0;
    if ((nIbsta & NI488::ERR) != 0)
        result = ConvertGPIBErrorCode(hWnd, nIberr, nIbcntl, bDeviceCall, sDescription);
    entry.LogEnd(ResultSeverityText(result), L"ibsta", nIbsta, L"iberr", nIberr, L"ibcntl", nIbcntl, L"Err",
                 result);
    return result;
}

DWORD NI4882MLibrary::SendGPIB(HostWindow hWnd, const std::string &sText) {
    if (mnDeviceHandle == -1)
        return 0;
    if (mIbwrt == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    const std::string sDescription = FormatString("SendGPIB(\"%.80s\")", sText.c_str());
    QuellinEntry entry(GPIBLogModule, L"SendGPIB");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    const uint64_t nTurn = WaitBusDelay();
    const int nIbsta = mIbwrt(mnDeviceHandle, sText.data(), static_cast<long>(sText.size()));
    RecordBusAccess(nTurn);
    return FinishCall(entry, hWnd, nIbsta, true, sDescription);
}

DWORD NI4882MLibrary::ReceiveGPIB(HostWindow hWnd, char *buffer, long maxLen) {
    if (mnDeviceHandle == -1)
        return 0;
    if (mIbrd == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    if (buffer == nullptr || maxLen < 0)
        return GPIBResult::Argument;
    const std::string sDescription = MakeString("ReceiveGPIB(<buffer>, ", maxLen, ")");
    QuellinEntry entry(GPIBLogModule, L"ReceiveGPIB");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    const uint64_t nTurn = WaitBusDelay();
    const int nIbsta = mIbrd(mnDeviceHandle, buffer, maxLen);
    RecordBusAccess(nTurn);
    const int nIberr = CallThreadIberr();
    const long nIbcntl = CallThreadIbcntl();
    mlLastReadCount = ((nIbsta & NI488::ERR) != 0 && nIberr == NI488::EDVR) ? 0 : nIbcntl;
    mbLastReadEnded = (nIbsta & NI488::END) != 0;
    if (mlLastReadCount >= 0 && mlLastReadCount <= maxLen - 1)
        buffer[mlLastReadCount] = '\0';
    const long nShown = std::min<long>(std::max<long>(mlLastReadCount, 0), std::min<long>(maxLen, 80));
    entry.AddArguments(L"text", std::string(buffer, static_cast<size_t>(nShown)));
    return FinishCall(entry, hWnd, nIbsta, true, sDescription);
}

DWORD NI4882MLibrary::ReceiveGPIBString(HostWindow hWnd, std::string *out, long maxLen) {
    if (mnDeviceHandle == -1)
        return 0;
    // Checked before anything is allocated.
    if (out == nullptr || maxLen < 0)
        return GPIBResult::Argument;
    std::vector<char> buffer;
    try {
        buffer.resize(static_cast<size_t>(maxLen) + 1, '\0');
    } catch (const std::bad_alloc &) {
        return GPIBResult::Argument;
    }
    const DWORD result = ReceiveGPIB(hWnd, buffer.data(), maxLen);
    const long nCount = std::min(std::max<long>(mlLastReadCount, 0), maxLen);
    out->assign(buffer.data(), static_cast<size_t>(nCount));
    return result;
}

DWORD NI4882MLibrary::TimedDeviceCall(HostWindow hWnd, const char *sFunction, bool bBound,
                                      const std::function<int()> &call) {
    if (mnDeviceHandle == -1)
        return 0;
    if (!bBound)
        return GPIBResult::GPIB32NotLoaded;
    QuellinEntry entry(GPIBLogModule, ToStdWstring(sFunction));
    entry.LogBegin(QuellinLevelNote);
    const uint64_t nTurn = WaitBusDelay();
    const int nIbsta = call();
    RecordBusAccess(nTurn);
    return FinishCall(entry, hWnd, nIbsta, true, std::string(sFunction) + "()");
}

DWORD NI4882MLibrary::ClearGPIB(HostWindow hWnd) {
    return TimedDeviceCall(hWnd, "ClearGPIB", mIbclr != nullptr, [this] { return mIbclr(mnDeviceHandle); });
}

DWORD NI4882MLibrary::GoOnlineDevice(HostWindow hWnd) {
    return TimedDeviceCall(hWnd, "GoOnlineDevice", mIbonl != nullptr,
                           [this] { return mIbonl(mnDeviceHandle, 1); });
}

DWORD NI4882MLibrary::GoOfflineDevice(HostWindow hWnd) {
    return TimedDeviceCall(hWnd, "GoOfflineDevice", mIbonl != nullptr,
                           [this] { return mIbonl(mnDeviceHandle, 0); });
}

DWORD NI4882MLibrary::GoToLocalDevice(HostWindow hWnd) {
    return TimedDeviceCall(hWnd, "GoToLocalDevice", mIbloc != nullptr,
                           [this] { return mIbloc(mnDeviceHandle); });
}

DWORD NI4882MLibrary::CommandGPIB(HostWindow hWnd, const std::string &sCommand) {
    if (mnBoardHandle == -1)
        return 0;
    if (mIbcmd == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    const std::string sDescription = FormatString("CommandGPIB(\"%s\")", sCommand.c_str());
    QuellinEntry entry(GPIBLogModule, L"CommandGPIB");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    const uint64_t nTurn = WaitBusDelay();
    const int nIbsta = mIbcmd(mnBoardHandle, sCommand.data(), static_cast<long>(sCommand.size()));
    RecordBusAccess(nTurn);
    return FinishCall(entry, hWnd, nIbsta, false, sDescription);
}

DWORD NI4882MLibrary::OpenDeviceConnection(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary,
                                           int nTimeOutCode, int nEndOfStringMode, char cEndOfString) {
    if (mIbdev == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    const std::string sDescription =
        FormatString("OpenDeviceConnection(%d, %d, %d, %d, %d, %c)", nBoard, nPrimary, nSecondary,
                     nTimeOutCode, nEndOfStringMode, cEndOfString);
    QuellinEntry entry(GPIBLogModule, L"OpenDeviceConnection");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    const int nEos = ((nEndOfStringMode << 10) & 0x1C00) | static_cast<unsigned char>(cEndOfString);
    const uint64_t nTurn = WaitBusDelay();
    SetDeviceHandle(mIbdev(nBoard, nPrimary, nSecondary, nTimeOutCode, 1, nEos));
    RecordBusAccess(nTurn);
    const int nIbsta = CallThreadIbsta();
    const DWORD result = FinishCall(entry, hWnd, nIbsta, false, sDescription);
    if ((nIbsta & NI488::ERR) != 0)
        SetDeviceHandle(-1);
    return result;
}

DWORD NI4882MLibrary::FindBoard(HostWindow, int nBoard) {
    if (nBoard < 0 || nBoard > 3)
        return GPIBResult::BoardOutOfRange;
    if (mIbfindW == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    const std::string sDescription = FormatString("FindBoard(%d)", nBoard);
    QuellinEntry entry(GPIBLogModule, L"FindBoard");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    const std::wstring sName = FormatWString(L"GPIB%d", nBoard);
    const int nHandle = mIbfindW(sName.c_str());
    if (nHandle < 0) {
        entry.LogEnd(QuellinLevelError, L"Err", GPIBResult::NoBoardHandle);
        return GPIBResult::NoBoardHandle;
    }
    mnBoardHandle = nHandle;
    entry.LogEnd(QuellinLevelComplete, L"boardHandle", nHandle);
    return 0;
}

DWORD NI4882MLibrary::ConfigBoardGPIB(HostWindow hWnd, int nOption, int nValue) {
    if (mnBoardHandle == -1)
        return 0;
    if (mIbconfig == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    const std::string sDescription = FormatString("ConfigBoardGPIB(%d, %d)", nOption, nValue);
    QuellinEntry entry(GPIBLogModule, L"ConfigBoardGPIB");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    const int nIbsta = mIbconfig(mnBoardHandle, nOption, nValue);
    return FinishCall(entry, hWnd, nIbsta, false, sDescription);
}

DWORD NI4882MLibrary::ConfigDeviceGPIB(HostWindow hWnd, int nOption, int nValue) {
    if (mnDeviceHandle == -1)
        return 0;
    if (nOption < 0 || nOption > NI488::IbcLON || mConfigCache[static_cast<size_t>(nOption)] == nValue)
        return 0;
    if (mIbconfig == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    const std::string sDescription = FormatString("ConfigDeviceGPIB(%d, %d)", nOption, nValue);
    QuellinEntry entry(GPIBLogModule, L"ConfigDeviceGPIB");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    const int nIbsta = mIbconfig(mnDeviceHandle, nOption, nValue);
    if ((nIbsta & NI488::ERR) == 0) {
        mConfigCache[static_cast<size_t>(nOption)] = nValue;
        entry.AddArguments(L"nPrevious", CallThreadIberr());
    }
    return FinishCall(entry, hWnd, nIbsta, true, sDescription);
}

DWORD NI4882MLibrary::AskConfigBoardGPIB(HostWindow hWnd, int nOption, int *pnValue) {
    if (mnBoardHandle == -1)
        return 0;
    if (mIbask == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    const std::string sDescription = FormatString("AskConfigBoardGPIB(%d)", nOption);
    QuellinEntry entry(GPIBLogModule, L"AskConfigBoardGPIB");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    int nValue = 0;
    const int nIbsta = mIbask(mnBoardHandle, nOption, &nValue);
    if (pnValue != nullptr)
        *pnValue = nValue;
    entry.AddArguments(L"value", nValue);
    return FinishCall(entry, hWnd, nIbsta, false, sDescription);
}

DWORD NI4882MLibrary::SetTimeOutGPIB(HostWindow hWnd, int nCode) {
    if (mnDeviceHandle == -1)
        return 0;
    if (mIbtmo == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    const std::string sDescription = FormatString("SetTimeOutGPIB(%d)", nCode);
    QuellinEntry entry(GPIBLogModule, L"SetTimeOutGPIB");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, sDescription);
    const int nIbsta = mIbtmo(mnDeviceHandle, nCode);
    return FinishCall(entry, hWnd, nIbsta, true, sDescription);
}

DWORD NI4882MLibrary::LockDevice(HostWindow hWnd, unsigned int nWaitMilliseconds) {
    if (mnDeviceHandle == -1)
        return 0;
    if (mIblck == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    QuellinEntry entry(GPIBLogModule, L"LockDevice");
    entry.LogBegin(QuellinLevelNote, L"waitMs", nWaitMilliseconds);
    const int nIbsta = mIblck(mnDeviceHandle, 1, nWaitMilliseconds, nullptr);
    if ((nIbsta & NI488::ERR) != 0) {
        if (CallThreadIberr() != NI488::ELCK) {
            const int nIberr = CallThreadIberr();
            const long nIbcntl = CallThreadIbcntl();
            mIblck(mnDeviceHandle, 0, 0, nullptr); // a partial lock is released at once
            const DWORD result = ConvertGPIBErrorCode(hWnd, nIberr, nIbcntl, true, "LockDevice()");
            entry.LogEnd(ResultSeverityText(result), L"ibsta", nIbsta, L"iberr", nIberr, L"Err", result);
            return result;
        }
    } else {
        entry.AddArguments(L"activeLockCount", CallThreadIbcntl());
    }
    return FinishCall(entry, hWnd, nIbsta, true, "LockDevice()");
}

DWORD NI4882MLibrary::UnLockDevice(HostWindow hWnd) {
    if (mnDeviceHandle == -1)
        return 0;
    if (mIblck == nullptr)
        return GPIBResult::GPIB32NotLoaded;
    QuellinEntry entry(GPIBLogModule, L"UnLockDevice");
    entry.LogBegin(QuellinLevelNote);
    const int nIbsta = mIblck(mnDeviceHandle, 0, 0, nullptr);
    if ((nIbsta & NI488::ERR) != 0 && CallThreadIberr() == NI488::ELCK) {
        entry.LogEnd(QuellinLevelComplete, L"ibsta", nIbsta, L"iberr", CallThreadIberr(), L"Err", DWORD(0));
        return 0;
    }
    if ((nIbsta & NI488::ERR) == 0)
        entry.AddArguments(L"activeLockCount", CallThreadIbcntl());
    return FinishCall(entry, hWnd, nIbsta, true, "UnLockDevice()");
}

DWORD NI4882MLibrary::ConvertGPIBErrorCode(HostWindow, int nIberr, long nIbcntl, bool bDeviceCall,
                                           const std::string &sDescription) {
    const DWORD result = GPIBResult::FromNI488Error(nIberr, nIbcntl);
    QuellinEntry entry(GPIBLogModule, L"ConvertGPIBErrorCode");
    entry.Log(QuellinLevelError, QuellinDescription, sDescription, L"vnGPIBError", nIberr, L"gpibCount",
              nIbcntl, L"deviceCall", bDeviceCall, L"Err", result);
    return result;
}
