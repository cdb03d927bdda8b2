// The port over the serial API's behaviour (Platform::SerialPort): every failing step stores its
// Windows error as the last error and returns its conversion.
#include "rs232/RS232RunTimeData.h"

#include <algorithm>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "core/Timing.h"
#include "logging/QuellinEntry.h"
#include "rs232/RS232Configuration.h"
#include "streams/RetryCounter.h"

namespace {

constexpr const char *ModuleName = "RS232";
constexpr DWORD ErrorAlreadyExists = 183;
constexpr DWORD ErrorInvalidFunction = 1;
constexpr DWORD QueueSize = 10240;
constexpr DWORD ClearTries = 3;

Timing &ProcessTiming() {
    static Timing timing;
    return timing;
}

std::string Head80(const std::string &text) {
    return text.substr(0, 80);
}

} // namespace

DWORD ConvertWindowsErrorCode(DWORD error) {
    switch (error) {
    case Platform::SerialError::FileNotFound:
        return RS232Result::PortNotFound;
    case Platform::SerialError::AccessDenied:
    case ErrorAlreadyExists:
        return RS232Result::PortAccessDenied;
    default:
        return error;
    }
}

RS232RunTimeDataWindows::RS232RunTimeDataWindows() = default;

RS232RunTimeDataWindows::~RS232RunTimeDataWindows() {
    if (IsOpen())
        Close();
}

DWORD RS232RunTimeDataWindows::Fail(DWORD dwError) {
    mdwLastError = dwError;
    return ConvertWindowsErrorCode(dwError);
}

DWORD RS232RunTimeDataWindows::Open(BaudRate eBaudRate, Parity eParity, DataBits eDataBits,
                                    StopBits eStopBits, const RS232Configuration &configuration) {
    QuellinEntry entry(ModuleName, "Open");
    entry.LogBegin(QuellinLevelNote, L"dwBaud", static_cast<DWORD>(eBaudRate), L"eData",
                   static_cast<int>(eDataBits));
    if (IsOpen())
        Close();
    const int nPort = configuration.GetCOMPort();
    DWORD result = 0;
    const DWORD openError =
        nPort > 0 ? mPort.Open(static_cast<unsigned>(nPort)) : Platform::SerialError::FileNotFound;
    if (openError != 0) {
        entry.Log(QuellinLevelError, L"Message", "De COM-poort is niet goed geopend");
        result = Fail(openError);
    } else {
        result = ApplyPortSettings(eBaudRate, eParity, eDataBits, eStopBits, configuration);
        if (result == 0)
            result = SetTimeout(PortTimeout);
        mbRTSAroundWrite = configuration.GetRTSAroundWrite();
        // A port whose set-up failed is not left open (and held exclusively).
        if (result != 0)
            mPort.Close();
    }
    entry.LogEnd(ResultSeverityText(result), QuellinDescription, FormatString("Open(%d)", nPort), L"Err",
                 result);
    return result;
}

DWORD RS232RunTimeDataWindows::ApplyPortSettings(BaudRate eBaudRate, Parity eParity, DataBits eDataBits,
                                                 StopBits eStopBits,
                                                 const RS232Configuration &configuration) {
    if (!IsOpen())
        return Fail(RS232Result::PortNotOpen);
    DWORD error = mPort.SetupComm(QueueSize, QueueSize);
    Platform::SerialLineSettings settings;
    if (error == 0)
        error = mPort.GetState(settings);
    if (error == 0) {
        // Values outside the types' ranges reach the port as they are and are refused there.
        settings.BaudRate = static_cast<DWORD>(static_cast<uint32_t>(eBaudRate));
        settings.ByteSize = static_cast<uint8_t>(eDataBits >= 0 && eDataBits <= 255 ? eDataBits : 0);
        settings.Parity = static_cast<uint8_t>(eParity >= 0 && eParity <= 255 ? eParity : 255);
        settings.StopBits = static_cast<uint8_t>(eStopBits >= 0 && eStopBits <= 255 ? eStopBits : 255);
        settings.OutxCtsFlow = false;
        settings.DtrEnable = true;
        settings.RtsEnable = configuration.GetRTSEnable();
        settings.OutX = settings.InX = configuration.GetXonXoffFlowControl();
        error = mPort.SetState(settings);
    }
    return error != 0 ? Fail(error) : 0;
}

DWORD RS232RunTimeDataWindows::Close() {
    QuellinEntry entry(ModuleName, "Close");
    entry.LogBegin(QuellinLevelNote);
    if (!IsOpen()) {
        entry.LogEnd(QuellinLevelWarning, QuellinDescription, L"Close(closing while not opened)", L"Err",
                     static_cast<DWORD>(0));
        return 0;
    }
    const DWORD error = mPort.Close();
    const DWORD result = error != 0 ? Fail(error) : 0;
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD RS232RunTimeDataWindows::Lock(double) {
    return 0;
}

DWORD RS232RunTimeDataWindows::Unlock() {
    return 0;
}

DWORD RS232RunTimeDataWindows::Read(std::string &sText, DWORD dwCount) {
    QuellinEntry entry(ModuleName, "Read()");
    entry.LogBegin(QuellinLevelNote, L"count", dwCount);
    sText.clear();
    DWORD result = 0;
    if (!IsOpen()) {
        result = Fail(RS232Result::PortNotOpen);
    } else {
        sText.reserve(std::min<DWORD>(dwCount, ReadReserveLimit));
        size_t read = 0;
        const DWORD error = mPort.Read(sText, dwCount, read);
        if (error != 0)
            result = Fail(error);
        else if (read < dwCount)
            result = mdwLastError = StreamResult::ReadTimeout;
    }
    entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                 FormatString("Read(\"%.80s\", %d)", sText.c_str(), static_cast<int>(dwCount)), L"buffer",
                 Head80(sText), L"count", dwCount, L"Err", result);
    return result;
}

DWORD RS232RunTimeDataWindows::Write(const std::string &sText, DWORD &dwWritten) {
    dwWritten = 0;
    QuellinEntry entry(ModuleName, FormatString("Write(\"%.80s\")", sText.c_str()));
    entry.LogBegin(QuellinLevelNote, L"buffer", Head80(sText));
    if (!IsOpen()) {
        const DWORD result = Fail(RS232Result::PortNotOpen);
        entry.LogEnd(ResultSeverityText(result), L"Err", result);
        return result;
    }
    DWORD result = 0;
    if (mbRTSAroundWrite) {
        const DWORD error = mPort.SetRts(true);
        if (error != 0)
            result = Fail(error);
    }
    size_t written = 0;
    if (result == 0) {
        const DWORD error = mPort.Write(sText.data(), sText.size(), written);
        dwWritten = static_cast<DWORD>(written);
        if (error != 0)
            result = Fail(error);
    }
    if (result == 0) {
        DWORD error = mPort.Flush();
        if (error == ErrorInvalidFunction)
            error = mdwLastError = 0;
        if (error != 0)
            result = Fail(error);
    }
    // RTS drops after every write, a failed one too.
    if (mbRTSAroundWrite) {
        const DWORD error = mPort.SetRts(false);
        if (error != 0 && result == 0)
            result = Fail(error);
    }
    if (result == 0 && written != sText.size()) {
        entry.Log(QuellinLevelError, L"Message", "Not all bytes are written", L"buffer length",
                  static_cast<DWORD>(sText.size()), L"written", static_cast<DWORD>(written));
        result = mdwLastError = RS232Result::NotAllBytesWritten;
    }
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD RS232RunTimeDataWindows::ClearOutBuffer() {
    if (!IsOpen())
        return Fail(RS232Result::PortNotOpen);
    const DWORD error = mPort.PurgeOutput();
    if (error == 0)
        return 0;
    QuellinEntry entry(
        ModuleName, FormatString("ClearOutBuffer(PurgeComm returned error: %ld)", static_cast<long>(error)));
    entry.Log(QuellinLevelError);
    return Fail(error);
}

DWORD RS232RunTimeDataWindows::ClearInBuffer() {
    QuellinEntry entry(ModuleName, "ClearInBuffer()");
    entry.LogBegin(QuellinLevelNote);
    DWORD result = 0;
    if (!IsOpen()) {
        result = Fail(RS232Result::PortNotOpen);
    } else {
        RetryCounterErrorcode counter(ClearTries);
        while (!counter.IsFinished()) {
            counter.NewTry();
            const DWORD error = mPort.PurgeInput();
            result = error != 0 ? Fail(error) : 0;
            counter.SetErrorCode(result);
            if (result == 0)
                counter.Succeeded();
        }
    }
    if (result != 0)
        entry.LogEnd(QuellinLevelError, QuellinDescription,
                     FormatString("ClearInBuffer(PurgeComm returned error: %ld)", static_cast<long>(result)));
    else
        entry.LogEnd(QuellinLevelComplete);
    return result;
}

DWORD RS232RunTimeDataWindows::QueueCount(bool bInput) {
    if (!IsOpen()) {
        mdwLastError = RS232Result::PortNotOpen;
        return 0;
    }
    DWORD in = 0;
    DWORD out = 0;
    const DWORD error = mPort.QueueCounts(in, out);
    if (error != 0) {
        mdwLastError = error;
        return 0;
    }
    return bInput ? in : out;
}

DWORD RS232RunTimeDataWindows::GetInputQueueCount() {
    return QueueCount(true);
}

DWORD RS232RunTimeDataWindows::GetOutputQueueCount() {
    return QueueCount(false);
}

DWORD RS232RunTimeDataWindows::ApplyTimeouts(const Platform::SerialTimeouts &timeouts,
                                             const wchar_t *function) {
    QuellinEntry entry(std::wstring(L"RS232"), std::wstring(function));
    entry.LogBegin(QuellinLevelNote);
    DWORD result = 0;
    if (!IsOpen()) {
        result = Fail(RS232Result::PortNotOpen);
    } else {
        Platform::SerialTimeouts current;
        DWORD error = mPort.GetTimeouts(current);
        if (error != 0) {
            entry.Log(QuellinLevelError, L"Message",
                      FormatString("GetCommTimeouts returned error: %ld", static_cast<long>(error)));
            result = Fail(error);
        } else {
            error = mPort.SetTimeouts(timeouts);
            if (error != 0) {
                entry.Log(QuellinLevelError, L"Message",
                          FormatString("SetCommTimeouts returned error: %ld", static_cast<long>(error)));
                result = Fail(error);
            }
        }
    }
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD RS232RunTimeDataWindows::SetTimeout(DWORD dwMilliseconds) {
    Platform::SerialTimeouts timeouts;
    timeouts.ReadIntervalTimeout = ReadInterval;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = std::max<DWORD>(100, dwMilliseconds);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = dwMilliseconds;
    return ApplyTimeouts(timeouts, L"SetTimeout");
}

DWORD RS232RunTimeDataWindows::SetTimeoutMinimum() {
    Platform::SerialTimeouts timeouts;
    timeouts.ReadIntervalTimeout = Platform::SerialMaxDword;
    const DWORD result = ApplyTimeouts(timeouts, L"SetTimeoutMinimum()");
    if (result == 0) {
        QuellinEntry entry(ModuleName, "SetTimeoutMinimum()");
        entry.Log(QuellinLevelNote, L"Message", "Minimum Timeout values set");
    }
    return result;
}

DWORD RS232RunTimeDataWindows::WaitCommEvent(DWORD dwTimeout, DWORD &dwAvailable) {
    // A stored error is reported once.
    DWORD result = mdwLastError;
    mdwLastError = 0;
    if (result == 0 && !IsOpen())
        result = RS232Result::PortNotOpen;
    dwAvailable = 0;
    if (result != 0)
        return result;
    Timing &timing = ProcessTiming();
    const uint32_t start = timing.GetMilliseconds();
    const uint32_t timeout = static_cast<uint32_t>(std::min<DWORD>(dwTimeout, 0xFFFFFFFFu));
    dwAvailable = GetInputQueueCount();
    while (dwAvailable == 0 && result == 0) {
        const uint32_t remaining = timing.RemainingTime(start, timeout);
        if (remaining == 0)
            break;
        bool bArrived = false;
        result = mPort.WaitForInput(remaining, bArrived);
        dwAvailable = GetInputQueueCount();
    }
    return result;
}

bool RS232RunTimeDataWindows::IsOpen() const {
    return mPort.IsOpen();
}

DWORD RS232RunTimeDataWindows::SetReadTermination(const std::string &) {
    return 0;
}

DWORD RS232RunTimeDataWindows::ApplyNewLineTermination() {
    return 0;
}

DWORD RS232RunTimeDataWindows::GetLastErrorCode() const {
    return mdwLastError;
}

void RS232RunTimeDataWindows::ClearLastError() {
    mdwLastError = 0;
}

DWORD RS232RunTimeDataWindows::GetErrorString(HostWindow, DWORD, char *pBuffer, uint32_t dwSize,
                                              uint32_t *pdwLength) {
    ClearErrorText(pBuffer, dwSize, pdwLength);
    return 0;
}

DWORD RS232RunTimeDataWindows::GetCommError() {
    if (!IsOpen())
        return Fail(RS232Result::PortNotOpen);
    DWORD in = 0;
    DWORD out = 0;
    const DWORD error = mPort.QueueCounts(in, out);
    if (error == 0)
        return 0;
    QuellinEntry entry(ModuleName, "GetCommError");
    entry.Log(QuellinLevelError, L"Message",
              FormatString("GetCommError returned error: %ld", static_cast<long>(error)));
    return Fail(error);
}
