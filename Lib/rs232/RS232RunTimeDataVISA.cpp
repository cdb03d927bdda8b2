// The port as a VISA serial session (library preference 0: the maker's library first).
#include "rs232/RS232RunTimeData.h"

#include <algorithm>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "rs232/RS232Configuration.h"
#include "visa/VisaBase.h"

namespace {

constexpr int RS232LibraryPreference = 0;
constexpr uint32_t MinimumTimeout = 20;

} // namespace

RS232RunTimeDataVISA::RS232RunTimeDataVISA() : mSession(std::make_unique<VisaBase>(RS232LibraryPreference)) {}

RS232RunTimeDataVISA::~RS232RunTimeDataVISA() {
    if (IsOpen())
        Close();
}

DWORD RS232RunTimeDataVISA::Open(BaudRate eBaudRate, Parity eParity, DataBits eDataBits, StopBits eStopBits,
                                 const RS232Configuration &configuration) {
    QuellinEntry entry("RS232_VISA", "Open(trough VISA)");
    entry.LogBegin(QuellinLevelNote, L"dwBaud", static_cast<DWORD>(eBaudRate), L"eData",
                   static_cast<int>(eDataBits));
    const int nPort = configuration.GetCOMPort();
    mSession->SetResourceName(FormatString("COM%d", nPort));
    mSession->SetEndSettings(false, 0, false);
    DWORD result = mSession->OpenDevice(OpenTimeout);
    if (result != 0) {
        mSession->CloseAll();
        mSession->SetResourceName(FormatString("ASRL%d::INSTR", nPort));
        result = mSession->OpenDevice(OpenTimeout);
    }
    if (result == 0)
        result = Lock(OpenLockSeconds);
    if (result == 0)
        result = mSession->ConfigureSerialPort(static_cast<uint32_t>(eBaudRate), eParity, eDataBits,
                                               eStopBits, configuration.GetRTSEnable(),
                                               configuration.GetXonXoffFlowControl());
    if (result == 0 && configuration.GetRTSAroundWrite())
        result = mSession->SetRTSState(true);
    if (result == 0) {
        mbNewLineReturnIsEndOfString = configuration.GetNewLineReturnIsEndOfString();
        result = ApplyNewLineTermination();
    }
    result = FirstNonZero(result, Unlock());
    // A session whose set-up failed is not left open.
    if (result != 0 && IsOpen())
        mSession->CloseAll();
    entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                 FormatString("Open(%d) %s", nPort, mSession->GetResourceName().c_str()), L"Err", result);
    return result;
}

DWORD RS232RunTimeDataVISA::Close() {
    return mSession->CloseAll();
}

DWORD RS232RunTimeDataVISA::Lock(double dSeconds) {
    return mSession->Lock(SaturatingToUnsigned(SecondsToMilliseconds(dSeconds)));
}

DWORD RS232RunTimeDataVISA::Unlock() {
    return mSession->Unlock();
}

DWORD RS232RunTimeDataVISA::Read(std::string &sText, DWORD dwCount) {
    sText.clear();
    DWORD result = mSession->Read(dwCount, sText);
    if (result == VisaTimeoutStatus && sText.size() < dwCount)
        result = StreamResult::ReadTimeout;
    return result;
}

DWORD RS232RunTimeDataVISA::Write(const std::string &sText, DWORD &dwWritten) {
    dwWritten = 0;
    DWORD result = mSession->Write(sText);
    if (result == 0) {
        dwWritten = static_cast<DWORD>(sText.size());
        result = mSession->FlushOutputBuffers();
    }
    return result;
}

DWORD RS232RunTimeDataVISA::ClearOutBuffer() {
    return mSession->ClearOutputBuffers();
}

DWORD RS232RunTimeDataVISA::ClearInBuffer() {
    return mSession->ClearInputBuffers();
}

DWORD RS232RunTimeDataVISA::GetInputQueueCount() {
    return mSession->GetAvailableBytes();
}

DWORD RS232RunTimeDataVISA::GetOutputQueueCount() {
    return 0;
}

DWORD RS232RunTimeDataVISA::SetTimeout(DWORD dwMilliseconds) {
    return mSession->SetTimeout(static_cast<ViUInt32>(std::min<DWORD>(dwMilliseconds, 0xFFFFFFFFu)));
}

DWORD RS232RunTimeDataVISA::SetTimeoutMinimum() {
    return mSession->SetTimeout(MinimumTimeout);
}

DWORD RS232RunTimeDataVISA::WaitCommEvent(DWORD dwTimeout, DWORD &dwAvailable) {
    uint32_t available = 0;
    const DWORD result = mSession->WaitForSerialInput(
        static_cast<uint32_t>(std::min<DWORD>(dwTimeout, 0xFFFFFFFFu)), available);
    dwAvailable = available;
    return result;
}

bool RS232RunTimeDataVISA::IsOpen() const {
    return mSession->IsOpen();
}

DWORD RS232RunTimeDataVISA::SetReadTermination(const std::string &sTermination) {
    const bool bEnabled = !sTermination.empty();
    const char cCharacter = bEnabled ? sTermination[0] : '\n';
    if (bEnabled == mbReadTerminationEnabled && cCharacter == mcReadTermination)
        return 0;
    const DWORD result = mSession->SetTermination(bEnabled, static_cast<ViUInt8>(cCharacter), bEnabled);
    if (result == 0) {
        mbReadTerminationEnabled = bEnabled;
        mcReadTermination = cCharacter;
    }
    return result;
}

DWORD RS232RunTimeDataVISA::ApplyNewLineTermination() {
    if (mbNewLineReturnIsEndOfString) {
        const DWORD result = mSession->SetTermination(true, '\n', true);
        if (result == 0) {
            mbReadTerminationEnabled = true;
            mcReadTermination = '\n';
        }
        return result;
    }
    const DWORD result = mSession->SetTermination(false, 0, false);
    if (result == 0) {
        mbReadTerminationEnabled = false;
        mcReadTermination = 0;
    }
    return result;
}

DWORD RS232RunTimeDataVISA::GetLastErrorCode() const {
    return 0;
}

void RS232RunTimeDataVISA::ClearLastError() {}

DWORD RS232RunTimeDataVISA::GetErrorString(HostWindow hWnd, DWORD dwCode, char *pBuffer, uint32_t dwSize,
                                           uint32_t *pdwLength) {
    return mSession->GetErrorString(hWnd, dwCode, pBuffer, dwSize, pdwLength);
}
