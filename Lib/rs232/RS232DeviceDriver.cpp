// The port driver and the registry of shared ports.
#include "rs232/RS232DeviceDriver.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>

#include "core/LanguageLibrary.h"
#include "core/ResourceWindows.h"
#include "core/StringUtils.h"
#include "core/Timing.h"
#include "logging/QuellinEntry.h"
#include "platform/SerialPort.h"
#include "rs232/RS232ConfigurationPanel.h"
#include "visa/VisaBase.h"
#include "visa/VisaLibrary.h"

namespace {

constexpr const char *ModuleName = "RS232";
// The VISA library files RS-232 tries: the maker's first.
constexpr int VisaLibraryPreference = 0;

struct SharedPortEntry {
    RS232Configuration *Configuration; // copy of the first opener's settings
    RS232RunTimeData *RunTimeData;
    // The port's first open or last close runs outside the lock; the port's next opener waits.
    bool Busy = false;
};

// Port number -> entry, guarded by the lock.
std::map<int, SharedPortEntry> &SharedRS232Ports() {
    static std::map<int, SharedPortEntry> ports;
    return ports;
}

std::mutex &SharedRS232PortsLock() {
    static std::mutex lock;
    return lock;
}

// Signalled when a port's open or close has ended.
std::condition_variable &SharedRS232PortsChanged() {
    static std::condition_variable changed;
    return changed;
}

void SetPortBusy(int nCOMPort, bool bBusy) {
    const auto found = SharedRS232Ports().find(nCOMPort);
    if (found != SharedRS232Ports().end())
        found->second.Busy = bBusy;
    if (!bBusy)
        SharedRS232PortsChanged().notify_all();
}

// A port's first open or last close outside the registry's lock: the port is marked busy and the
// lock left; the lock is taken again and the mark cleared on every way out, a throw included.
class PortBusyMark {
public:
    PortBusyMark(std::unique_lock<std::mutex> &guard, int nCOMPort) : mGuard(guard), mnCOMPort(nCOMPort) {
        SetPortBusy(mnCOMPort, true);
        mGuard.unlock();
    }
    ~PortBusyMark() {
        mGuard.lock();
        SetPortBusy(mnCOMPort, false);
    }
    PortBusyMark(const PortBusyMark &) = delete;
    PortBusyMark &operator=(const PortBusyMark &) = delete;

private:
    std::unique_lock<std::mutex> &mGuard;
    int mnCOMPort;
};

void WaitWhilePortBusy(std::unique_lock<std::mutex> &guard, int nCOMPort) {
    SharedRS232PortsChanged().wait(guard, [nCOMPort] {
        const auto found = SharedRS232Ports().find(nCOMPort);
        return found == SharedRS232Ports().end() || !found->second.Busy;
    });
}

} // namespace

RS232DeviceDriver::RS232DeviceDriver() = default;

RS232DeviceDriver::~RS232DeviceDriver() {
    if (mpRunTimeData == nullptr)
        return;
    try {
        Close();
    } catch (...) {
        // The use is given up and the port's mark cleared whatever the close met.
    }
}

RS232SharedDeviceDriver::RS232SharedDeviceDriver() {
    SetCOMPortSharing(true);
}

RS232RunTimeData *RS232DeviceDriver::FindSharedRunTimeData(int nCOMPort) {
    std::lock_guard<std::mutex> guard(SharedRS232PortsLock());
    const auto found = SharedRS232Ports().find(nCOMPort);
    return found != SharedRS232Ports().end() ? found->second.RunTimeData : nullptr;
}

RS232RunTimeData *RS232DeviceDriver::GetSharedRunTimeData() {
    if (mnCOMPort <= 0)
        return nullptr;
    auto &ports = SharedRS232Ports();
    const auto found = ports.find(mnCOMPort);
    if (found != ports.end()) {
        RS232RunTimeData *runTimeData = found->second.RunTimeData;
        if (runTimeData->IsOpen() || runTimeData->GetUsageCount() > 0) {
            if (found->second.Configuration->IsSameConfiguration(*this) && mbCOMPortSharing)
                return runTimeData;
            return nullptr;
        }
        // Closed and unused: left by an open or close that threw.
        delete found->second.Configuration;
        delete runTimeData;
        ports.erase(found);
    }
    RS232RunTimeData *runTimeData = CreateRunTimeDataObject();
    ports.emplace(mnCOMPort, SharedPortEntry{new RS232Configuration(*this), runTimeData});
    return runTimeData;
}

void RS232DeviceDriver::RemoveSharedRunTimeData() {
    if (mnOpenedPort <= 0)
        return;
    auto &ports = SharedRS232Ports();
    const auto found = ports.find(mnOpenedPort);
    if (found == ports.end())
        return;
    delete found->second.Configuration;
    delete found->second.RunTimeData;
    ports.erase(found);
}

RS232RunTimeData *RS232DeviceDriver::CreateRunTimeDataObject() {
    QuellinEntry entry(ModuleName, "CreateRunTimeDataObject");
    entry.LogBegin(QuellinLevelNote);
    RS232RunTimeData *runTimeData = nullptr;
    if (mnImplementation != ImplementationSerialApi && IsVISAAvailable())
        runTimeData = new RS232RunTimeDataVISA();
    else
        runTimeData = new RS232RunTimeDataWindows();
    entry.LogEnd(QuellinLevelComplete, L"RS232Implementation", mnImplementation);
    return runTimeData;
}

bool RS232DeviceDriver::IsVISAAvailable() {
    static const bool bAvailable = [] {
        VisaLibrary library(VisaLibraryPreference);
        return library.LoadVisaDLL() == 0;
    }();
    return bAvailable;
}

DWORD RS232DeviceDriver::Open(BaudRate eBaudRate, Parity eParity, DataBits eDataBits, StopBits eStopBits) {
    DWORD result = 0;
    if (mpRunTimeData != nullptr)
        result = Close();
    if (result != 0)
        return result;
    bool bOpened = false;
    mbOpenFailed = false;
    {
        std::unique_lock<std::mutex> guard(SharedRS232PortsLock());
        WaitWhilePortBusy(guard, mnCOMPort);
        RS232RunTimeData *runTimeData = GetSharedRunTimeData();
        if (runTimeData == nullptr)
            return RS232Result::PortAccessDenied;
        mnOpenedPort = mnCOMPort;
        if (!runTimeData->IsOpen()) {
            // Opening may take seconds (a VISA open waits for its lock): other ports go ahead.
            const PortBusyMark busy(guard, mnOpenedPort);
            result = runTimeData->Open(eBaudRate, eParity, eDataBits, eStopBits, *this);
        }
        if (runTimeData->IsOpen()) {
            runTimeData->IncrementUsageCount();
            mpRunTimeData = runTimeData;
            mbCountedUse = true;
            bOpened = result == 0;
        } else {
            mbOpenFailed = true;
            // A failed first open leaves no entry behind.
            if (runTimeData->GetUsageCount() == 0)
                RemoveSharedRunTimeData();
        }
    }
    if (bOpened)
        Timing().Wait(OpenSettleTime);
    return result;
}

DWORD RS232DeviceDriver::Close() {
    std::unique_lock<std::mutex> guard(SharedRS232PortsLock());
    // The use is given up first, also when the close throws.
    RS232RunTimeData *runTimeData = mbCountedUse ? mpRunTimeData : nullptr;
    mpRunTimeData = nullptr;
    mbCountedUse = false;
    mbOpenFailed = false;
    if (runTimeData != nullptr) {
        runTimeData->DecrementUsageCount();
        if (runTimeData->GetUsageCount() == 0) {
            {
                const PortBusyMark busy(guard, mnOpenedPort);
                runTimeData->Close();
            }
            RemoveSharedRunTimeData();
        }
    }
    return 0;
}

DWORD RS232DeviceDriver::Lock(double dSeconds) {
    return mpRunTimeData != nullptr ? mpRunTimeData->Lock(dSeconds) : ClosedResult();
}

DWORD RS232DeviceDriver::Unlock() {
    return mpRunTimeData != nullptr ? mpRunTimeData->Unlock() : ClosedResult();
}

DWORD RS232DeviceDriver::Read(std::string &sText, DWORD dwCount) {
    if (mpRunTimeData == nullptr) {
        sText.clear();
        return ClosedResult();
    }
    return mpRunTimeData->Read(sText, dwCount);
}

DWORD RS232DeviceDriver::Read(char *pBuffer, DWORD dwCount, DWORD *pdwReadCount) {
    if (pBuffer != nullptr)
        pBuffer[0] = '\0';
    if (pdwReadCount != nullptr)
        *pdwReadCount = 0;
    std::string sText;
    const DWORD result = Read(sText, dwCount);
    const size_t copied = std::min<size_t>(sText.size(), dwCount);
    if (pBuffer != nullptr) {
        std::copy_n(sText.data(), copied, pBuffer);
        pBuffer[copied] = '\0';
    }
    if (pdwReadCount != nullptr)
        *pdwReadCount = static_cast<DWORD>(copied);
    return result;
}

DWORD RS232DeviceDriver::Write(const std::string &sText) {
    return mpRunTimeData != nullptr ? mpRunTimeData->Write(sText) : ClosedResult();
}

DWORD RS232DeviceDriver::Write(const char *pData, DWORD dwLength, DWORD *pdwWrittenCount) {
    const std::string sText = pData != nullptr ? std::string(pData, dwLength) : std::string();
    DWORD dwWritten = 0;
    const DWORD result = mpRunTimeData != nullptr ? mpRunTimeData->Write(sText, dwWritten) : ClosedResult();
    if (pdwWrittenCount != nullptr)
        *pdwWrittenCount = dwWritten;
    return result;
}

DWORD RS232DeviceDriver::OptimizedRead(std::string &sText, DWORD vlCount, DWORD dwTimeoutMilliseconds,
                                       const std::string &msReceiveString) {
    DWORD result = 0;
    Timing timing;
    sText.clear();
    if (!IsRunTimeDataOpen())
        return 0;
    const uint32_t timeout = static_cast<uint32_t>(std::min<DWORD>(dwTimeoutMilliseconds, 0xFFFFFFFFu));
    const uint32_t waitTimeout = static_cast<uint32_t>(static_cast<uint64_t>(timeout) * 90 / 100);
    result = SetReadTermination(msReceiveString);
    const uint32_t start = timing.GetMilliseconds();
    bool bKeepReading = sText.size() < vlCount;
    while (result == 0 && timing.RemainingTime(start, timeout) > 0 && bKeepReading) {
        DWORD available = 0;
        result = WaitCommEvent(timing.RemainingTime(start, waitTimeout), available);
        std::string sPiece;
        if (result == 0) {
            const DWORD missing = vlCount - static_cast<DWORD>(sText.size());
            const DWORD toRead = std::min(available != 0 ? available : missing, missing);
            result = SetTimeout(timing.RemainingTime(start, timeout));
            if (result == 0) {
                result = Read(sPiece, toRead);
                if (result == StreamResult::ReadTimeout) {
                    ClearLastError();
                    result = 0;
                }
            }
            result = FirstNonZero(result, SetTimeout(RS232RunTimeData::PortTimeout));
        }
        if (!sPiece.empty()) {
            sText += sPiece;
            if (sText.size() >= vlCount)
                bKeepReading = false;
            if (!msReceiveString.empty() && EndsWith(sText, msReceiveString, false))
                bKeepReading = false;
            if (mbNewLineReturnIsEndOfString && (sPiece.back() == '\n' || sPiece.back() == '\r'))
                bKeepReading = false;
        }
        if (result == RS232RunTimeData::VisaTimeoutStatus && sText.size() < vlCount)
            result = StreamResult::ReadTimeout;
        if (result == StreamResult::ReadTimeout) {
            ClearLastError();
            result = 0;
        }
    }
    result = FirstNonZero(result, ApplyNewLineTermination());
    if (result != 0) {
        QuellinEntry entry(ModuleName, "OptimizedRead");
        entry.Log(QuellinLevelError, QuellinDescription, "Read(): " + QuoteString(sText.substr(0, 80)),
                  L"vlCount", vlCount, L"timeoutMilliseconds", dwTimeoutMilliseconds, L"msReceiveString",
                  msReceiveString, L"Err", result);
    }
    return result;
}

int RS232DeviceDriver::CreateConfigurationPanel(HostWindow hParent, const wxString &title) {
    return ShowConfigurationWindowAsDialog(new RS232ConfigurationPanel(this), hParent, "RS232Configuration",
                                           title);
}

void RS232DeviceDriver::AddConfigurationPanel(PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new RS232ConfigurationPanel(this), "RS232Configuration",
                                     "RS232");
}

DWORD RS232DeviceDriver::GetErrorString(HostWindow hWnd, DWORD dwCode, char *pBuffer, uint32_t dwSize,
                                        uint32_t *pdwLength) {
    ClearErrorText(pBuffer, dwSize, pdwLength);
    uint32_t length = 0;
    DWORD result = 0;
    if (mpRunTimeData != nullptr) {
        mpRunTimeData->GetErrorString(hWnd, dwCode, pBuffer, dwSize, &length);
    } else if (IsVISAAvailable()) {
        VisaBase session(VisaLibraryPreference);
        result = session.GetErrorString(hWnd, dwCode, pBuffer, dwSize, &length);
    }
    if (length == 0) {
        const std::string sMessage = LanguageErrorText(dwCode, mnCOMPort);
        if (!sMessage.empty())
            CopyStringToBuffer(sMessage, pBuffer, dwSize, &length);
    }
    if (pdwLength != nullptr)
        *pdwLength = length;
    return result;
}

std::string RS232DeviceDriver::LanguageErrorText(DWORD dwCode, int nCOMPort) {
    // The hang-up's Windows code has no text of the language library.
    if (dwCode == Platform::SerialError::IoDevice)
        return FormatString("The serial device on COM%d failed or its far end hung up.", nCOMPort);
    clsTovikLng language(LanguageBase);
    // Without the library its load failure stands only for the codes whose texts it holds: a code
    // that every stream shares keeps the stream's own text, any other goes on to the framework's.
    if (language.Load() != 0) {
        if (const char *sShared = StreamResult::SharedText(dwCode))
            return sShared;
        return RS232Result::HasPortText(dwCode) ? TovikLangLoadFailureText : std::string();
    }
    return language.getText(dwCode, language.getText(PortTextId, FormatValue<int>(nCOMPort, "%i")));
}

DWORD RS232DeviceDriver::ClearInBuffer() {
    return mpRunTimeData != nullptr ? mpRunTimeData->ClearInBuffer() : ClosedResult();
}

DWORD RS232DeviceDriver::ClearOutBuffer() {
    return mpRunTimeData != nullptr ? mpRunTimeData->ClearOutBuffer() : ClosedResult();
}

DWORD RS232DeviceDriver::SetReadTermination(const std::string &sTermination) {
    return mpRunTimeData != nullptr ? mpRunTimeData->SetReadTermination(sTermination) : ClosedResult();
}

DWORD RS232DeviceDriver::ApplyNewLineTermination() {
    return mpRunTimeData != nullptr ? mpRunTimeData->ApplyNewLineTermination() : ClosedResult();
}

DWORD RS232DeviceDriver::WaitCommEvent(DWORD dwTimeout, DWORD &dwAvailable) {
    dwAvailable = 0;
    return mpRunTimeData != nullptr ? mpRunTimeData->WaitCommEvent(dwTimeout, dwAvailable) : ClosedResult();
}

DWORD RS232DeviceDriver::GetInputQueueCount() {
    return mpRunTimeData != nullptr ? mpRunTimeData->GetInputQueueCount() : 0;
}

DWORD RS232DeviceDriver::SetTimeout(DWORD dwMilliseconds) {
    return mpRunTimeData != nullptr ? mpRunTimeData->SetTimeout(dwMilliseconds) : 0;
}

void RS232DeviceDriver::ClearLastError() {
    if (mpRunTimeData != nullptr)
        mpRunTimeData->ClearLastError();
}

bool RS232DeviceDriver::IsRunTimeDataOpen() const {
    return mpRunTimeData != nullptr && mpRunTimeData->IsOpen();
}
