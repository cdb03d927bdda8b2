// Service-request GPIB: registration with GPIBSRQ.DLL, the handler and the operation-complete wait.
#include "gpib/NI4882MGPIB.h"

#include <algorithm>
#include <utility>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "gpib/GPIBResultCodes.h"
#include "logging/QuellinEntry.h"

namespace {

constexpr unsigned char MessageAvailable = 16; // status byte bit MAV
constexpr unsigned char EventSummary = 32;     // status byte bit ESB
constexpr int EventOperationComplete = 1;      // event status bit OPC
constexpr int EventQueryError = 4;             // event status bit QYE

// The driver whose handler runs on this thread, if any.
thread_local const NI4882CompliantGPIB *tHandlerDriver = nullptr;

class HandlerThreadMark {
public:
    explicit HandlerThreadMark(const NI4882CompliantGPIB *driver) : mPrevious(tHandlerDriver) {
        tHandlerDriver = driver;
    }
    ~HandlerThreadMark() { tHandlerDriver = mPrevious; }
    HandlerThreadMark(const HandlerThreadMark &) = delete;
    HandlerThreadMark &operator=(const HandlerThreadMark &) = delete;

private:
    const NI4882CompliantGPIB *mPrevious;
};

int FirstInteger(const std::string &sText, bool &bFound) {
    int nValue = 0;
    bFound = RegExMatch(sText, "[-+]?[0-9]+", nValue, false) == 0;
    return bFound ? nValue : 0;
}

} // namespace

// ---- NI4882MGPIB ---------------------------------------------------------------------------------

NI4882MGPIB::NI4882MGPIB(int nBoard, int nPrimary, int nSecondary)
    : NI488GPIB(nBoard, nPrimary, nSecondary) {}

NI4882MGPIB::~NI4882MGPIB() {
    StopServiceRequests(nullptr);
}

uint32_t NI4882MGPIB::SRQCallback(unsigned char statusByte, void *context) {
    if (context == nullptr)
        return 0;
    try {
        return static_cast<uint32_t>(static_cast<NI4882MGPIB *>(context)->SRQHandler(statusByte));
    } catch (...) {
        return static_cast<uint32_t>(ResultCode::DriverCallFailed);
    }
}

DWORD NI4882MGPIB::StopServiceRequests(HostWindow hWnd) {
    if (mRegistration == 0)
        return 0;
    const DWORD result = mSRQLibrary.UnRegisterSRQHandler(hWnd, mRegistration);
    mRegistration = 0;
    return result;
}

DWORD NI4882MGPIB::OpenDevice(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary) {
    QuellinEntry entry(GPIBLogModule, L"NI4882MGPIB::OpenDevice");
    entry.LogBegin(QuellinLevelNote, L"board", nBoard, L"primary", nPrimary, L"secondary", nSecondary);
    // Checked before the service-request library watches the address.
    DWORD result = CheckAddress(nBoard, nPrimary, nSecondary);
    if (result == 0)
        result = mLibrary.LoadGPIB32DLLs();
    if (result == 0)
        result = mSRQLibrary.LoadGPIBSRQDLL();
    if (result == 0)
        result = CloseDevice(hWnd);
    if (result == 0)
        result = mSRQLibrary.RegisterSRQHandler(hWnd, nBoard, nPrimary, nSecondary, &NI4882MGPIB::SRQCallback,
                                                this, &mRegistration);
    if (result == 0)
        result = NI488GPIB::OpenDevice(hWnd, nBoard, nPrimary, nSecondary);
    if (result != 0)
        CloseDevice(hWnd);
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD NI4882MGPIB::CloseDevice(HostWindow hWnd) {
    // Unregistered first: no handler runs on a device that is being released.
    DWORD result = StopServiceRequests(hWnd);
    result = FirstNonZero(result, mLibrary.GoToLocalDevice(hWnd));
    result = FirstNonZero(result, mLibrary.GoOfflineDevice(hWnd));
    mLibrary.SetDeviceHandle(-1);
    return FirstNonZero(result, ReleaseBoard(hWnd));
}

DWORD NI4882MGPIB::CheckLastGPIBError(HostWindow hWnd, DWORD result) {
    if (result == 0 && mRegistration != 0)
        return mSRQLibrary.GetLastGPIBError(hWnd, mRegistration);
    return result;
}

DWORD NI4882MGPIB::SendCommandAndWait(HostWindow hWnd, const std::string &sText) {
    return SendCommand(hWnd, sText, true);
}

DWORD NI4882MGPIB::SRQHandler(unsigned char) {
    return 0;
}

// ---- NI4882CompliantGPIB -------------------------------------------------------------------------

NI4882CompliantGPIB::NI4882CompliantGPIB(int nBoard, int nPrimary, int nSecondary)
    : NI4882MGPIB(nBoard, nPrimary, nSecondary) {}

NI4882CompliantGPIB::~NI4882CompliantGPIB() {
    // No handler may run once the section and the event are gone.
    StopServiceRequests(nullptr);
}

bool NI4882CompliantGPIB::IsHandlerThread() const {
    return tHandlerDriver == this;
}

void NI4882CompliantGPIB::RecordHandlerError(DWORD result) {
    DWORD expected = 0;
    if (result != 0)
        meSRQHandlerError.compare_exchange_strong(expected, result);
}

DWORD NI4882CompliantGPIB::OpenDevice(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary) {
    {
        std::lock_guard<std::recursive_mutex> section(mSection);
        mbOpening = true;
        mnOpeningRequests = -1;
    }
    // Registration runs outside the section: unregistering waits for a handler that needs it.
    DWORD result = NI4882MGPIB::OpenDevice(hWnd, nBoard, nPrimary, nSecondary);
    {
        std::lock_guard<std::recursive_mutex> section(mSection);
        mbOpening = false;
        const int nRequests = std::exchange(mnOpeningRequests, -1);
        if (result == 0 && nRequests >= 0)
            ServeRequest(static_cast<unsigned char>(nRequests));
        if (result == 0)
            result = EnableSRQ(hWnd);
    }
    if (result != 0)
        CloseDevice(hWnd);
    return result;
}

DWORD NI4882CompliantGPIB::CloseDevice(HostWindow hWnd) {
    DWORD result = 0;
    {
        std::lock_guard<std::recursive_mutex> section(mSection);
        result = DisableSRQ(hWnd);
    }
    return FirstNonZero(result, NI4882MGPIB::CloseDevice(hWnd));
}

DWORD NI4882CompliantGPIB::EnableSRQ(HostWindow hWnd) {
    DWORD result = SendGPIB(hWnd, "*CLS");
    if (result == 0)
        result = SendGPIB(hWnd, FormatString("*SRE %d", MessageAvailable + EventSummary));
    if (result == 0)
        result = SendGPIB(hWnd, "*ESE 1");
    return result;
}

DWORD NI4882CompliantGPIB::DisableSRQ(HostWindow hWnd) {
    const DWORD result = SendGPIB(hWnd, "*SRE 0");
    return FirstNonZero(result, SendGPIB(hWnd, "*ESE 0"));
}

DWORD NI4882CompliantGPIB::DiscardOutput(HostWindow hWnd, unsigned int nMilliseconds) {
    // Under the section: the handler reads the device too, and keeps what came unasked.
    std::lock_guard<std::recursive_mutex> section(mSection);
    msResponse.clear();
    return NI4882MGPIB::DiscardOutput(hWnd, nMilliseconds);
}

DWORD NI4882CompliantGPIB::OnSRQStatusByte(unsigned char) {
    return 0;
}

DWORD NI4882CompliantGPIB::GetIdentificationString(HostWindow hWnd, std::string *reply) {
    if (reply == nullptr)
        return GPIBResult::Argument;
    reply->clear();
    if (GetIdentificationQuery().empty())
        return 0;
    return SaveSendGPIB(hWnd, GetIdentificationQuery(), false, 100, reply);
}

DWORD NI4882CompliantGPIB::SendCommand(HostWindow hWnd, const std::string &sText, bool bWaitForOPC) {
    std::string sDiscarded;
    return SaveSendGPIB(hWnd, sText, bWaitForOPC, bWaitForOPC ? 100 : 0, &sDiscarded);
}

DWORD NI4882CompliantGPIB::SRQHandler(unsigned char statusByte) {
    std::lock_guard<std::recursive_mutex> section(mSection);
    if (mbOpening) {
        mnOpeningRequests = std::max(mnOpeningRequests, 0) | statusByte;
        return 0;
    }
    return ServeRequest(statusByte);
}

DWORD NI4882CompliantGPIB::ServeRequest(unsigned char statusByte) {
    QuellinEntry entry(GPIBLogModule, L"SRQHandler");
    entry.LogBegin(QuellinLevelNote, L"bSTB", statusByte, L"meState", static_cast<int>(meState),
                   L"mlSuggestedReadSize", static_cast<unsigned long>(mlSuggestedReadSize));
    std::lock_guard<std::recursive_mutex> section(mSection);
    HandlerThreadMark mark(this);

    if ((statusByte & MessageAvailable) != 0) {
        std::string sPiece;
        if (meState == WaitingForResponse) {
            RecordHandlerError(ReceiveGPIBString(nullptr, &sPiece, ReadSize(mlSuggestedReadSize)));
            msResponse = sPiece;
            mbResponseEnded = mLibrary.LastReadEnded();
            meState = Complete;
        } else {
            // Output nobody asked for is kept for the next read.
            const unsigned int nTimeOut = GetTimeOutMilliseconds();
            RecordHandlerError(SetTimeOutCode(nullptr, NI488::T10ms));
            const DWORD read = ReceiveGPIBString(nullptr, &sPiece, 1024);
            if (read != GPIBResult::TimeOut)
                RecordHandlerError(read);
            msResponse += sPiece;
            if (!sPiece.empty())
                mbResponseEnded = mLibrary.LastReadEnded();
            RecordHandlerError(SetTimeOutMilliseconds(nullptr, nTimeOut));
        }
    }

    RecordHandlerError(OnSRQStatusByte(statusByte));

    if ((statusByte & EventSummary) != 0 && meSRQHandlerError == 0) {
        std::string sReply;
        bool bRead = false;
        for (int nAttempt = 0; nAttempt < 5 && !bRead; ++nAttempt) {
            DWORD result = SendGPIB(nullptr, "*ESR?");
            if (result == 0)
                result = ReceiveGPIBString(nullptr, &sReply, 5);
            bRead = result == 0;
            if (!bRead) {
                mTiming.Wait(100);
                meSRQHandlerError = 0;
            }
        }
        bool bFound = false;
        const int nEventStatus = bRead ? FirstInteger(sReply, bFound) : 0;
        if ((nEventStatus & EventOperationComplete) != 0) {
            meState = Complete;
        } else if ((nEventStatus & EventQueryError) != 0 && meState == WaitingForOPC) {
            std::string sComplete;
            DWORD result = SendGPIB(nullptr, "*OPC?");
            RecordHandlerError(result);
            if (result == 0)
                RecordHandlerError(ReceiveGPIBString(nullptr, &sComplete, 5));
            const int nComplete = FirstInteger(sComplete, bFound);
            if (!bFound || nComplete != 0)
                meState = Complete;
            RecordHandlerError(GPIBResult::QueryError);
        }
    }

    if (meSRQHandlerError != 0 || meState == Complete)
        mOperationComplete.Set();
    const DWORD result = meSRQHandlerError;
    entry.LogEnd(ResultSeverityText(result), L"meSRQHandlerError", result, L"meState",
                 static_cast<int>(meState));
    return result;
}

DWORD NI4882CompliantGPIB::SaveSendGPIB(HostWindow hWnd, const std::string &sText, bool bWaitForOPC,
                                        unsigned long nReadResponseBytes, std::string *response) {
    QuellinEntry entry(GPIBLogModule, L"NI4882CompliantGPIB::SaveSendGPIB");
    entry.LogBegin(QuellinLevelNote, L"text", sText.substr(0, 80), L"waitForOPC", bWaitForOPC,
                   L"readResponseBytes", nReadResponseBytes);
    std::string sDiscarded;
    if (response == nullptr)
        response = &sDiscarded;
    DWORD result = 0;
    std::string sCommand = sText;

    if (IsHandlerThread()) {
        // Inside the handler no service request can be awaited: plain send and read.
        // A read that fails five times returns its error.
        constexpr int Rounds = 5;
        for (int nRound = 0; nRound < Rounds; ++nRound) {
            if (!sCommand.empty()) {
                result = SendGPIB(hWnd, sCommand);
                if (result != 0)
                    break;
            }
            if (nReadResponseBytes == 0)
                break;
            result = ReceiveGPIBString(hWnd, response, ReadSize(nReadResponseBytes));
            if (result == 0)
                break;
            entry.Log(QuellinLevelWarning, QuellinDescription,
                      L"They might be problems with reading response from receiveGPIB");
            if (nRound + 1 < Rounds)
                mTiming.Wait(100);
        }
        entry.LogEnd(ResultSeverityText(result), L"Err", result, L"response", response->substr(0, 80));
        return result;
    }

    unsigned int nTimeOut = 0;
    // Whether a service request is awaited: only then does the handler's error count.
    bool bExpecting = false;
    {
        std::lock_guard<std::recursive_mutex> section(mSection);
        // Read under the section: a running handler sets 10 ms for its own read for a moment.
        nTimeOut = GetTimeOutMilliseconds();
        if (!sText.empty())
            response->clear();
        mlSuggestedReadSize = nReadResponseBytes;
        if (bWaitForOPC) {
            const size_t nLineEnd = std::min(sCommand.size(), sCommand.find_first_of("\r\n"));
            sCommand.insert(nLineEnd, sCommand.empty() ? "*OPC" : ";*OPC");
            mSRQLibrary.SetExpectingSRQ(hWnd, mRegistration);
        }
        meSRQHandlerError = 0;
        mOperationComplete.Reset();
        if (nReadResponseBytes == 0) {
            meState = bWaitForOPC ? WaitingForOPC : Complete;
            msResponse.clear();
        } else if (!sCommand.empty()) {
            meState = WaitingForResponse;
            mSRQLibrary.SetExpectingSRQ(hWnd, mRegistration);
            msResponse.clear();
        } else if (!msResponse.empty()) {
            meState = Complete;
        } else {
            meState = WaitingForResponse;
            mSRQLibrary.SetExpectingSRQ(hWnd, mRegistration);
        }
        if (!sCommand.empty())
            result = SendGPIB(hWnd, sCommand);
        bExpecting = meState != Complete;
    }

    const unsigned long long nLongest = 3ull * nTimeOut;
    const DWORD nWait = static_cast<DWORD>(std::min<unsigned long long>(
        mnResponseWaitLimit != 0 ? std::min<unsigned long long>(mnResponseWaitLimit, nLongest) : nLongest,
        0xFFFFFFFEull));
    int nResends = 0;
    for (;;) {
        while (result == 0) {
            {
                // The handler changes state and error under the section: read both as one.
                std::lock_guard<std::recursive_mutex> section(mSection);
                if (meState == Complete) {
                    if (bExpecting)
                        result = meSRQHandlerError.exchange(0);
                    break;
                }
            }
            mTiming.Wait(0);
            const DWORD wait = mOperationComplete.Wait(nWait);
            if (wait == Platform::WaitTimeout)
                result = GPIBResult::NoServiceRequest;
            else if (wait == Platform::WaitObject0)
                result = meSRQHandlerError.exchange(0);
            else
                result = wait;
        }
        if (result == 0)
            break;
        if (result == GPIBResult::QueryError && nResends < 5 && !sCommand.empty()) {
            ++nResends;
            std::lock_guard<std::recursive_mutex> section(mSection);
            if (bWaitForOPC)
                meState = WaitingForOPC;
            mOperationComplete.Reset();
            result = SendGPIB(hWnd, sCommand);
            if (result == 0)
                continue;
        }
        meState = Complete;
        break;
    }

    {
        std::lock_guard<std::recursive_mutex> section(mSection);
        mbLastResponseEnded = false;
        if (result == 0 && nReadResponseBytes > 0) {
            // Handed out once, at most the bytes asked for: the rest is for the next read.
            const size_t nHanded = std::min<size_t>(msResponse.size(), nReadResponseBytes);
            *response = msResponse.substr(0, nHanded);
            msResponse.erase(0, nHanded);
            mbLastResponseEnded = msResponse.empty() && mbResponseEnded;
        }
    }
    entry.LogEnd(ResultSeverityText(result), L"Err", result, L"response", response->substr(0, 80));
    return result;
}
