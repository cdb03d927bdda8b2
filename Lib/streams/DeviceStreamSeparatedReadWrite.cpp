// The stream base: the defaults of every operation, the client set and the lock.
#include "streams/DeviceStreamSeparatedReadWrite.h"

#include <algorithm>

#include "core/StringUtils.h"
#include "core/Timing.h"
#include "logging/Assertion.h"
#include "logging/LoggedMessageBox.h"
#include "streams/DeviceStreamConfiguration.h"

std::string WithOperationCompleteQuery(const std::string &sCommand, bool bWaitForOPC) {
    std::string sText = sCommand;
    if (bWaitForOPC) {
        if (!sText.empty())
            sText += ";";
        sText += "*OPC?";
    }
    return sText;
}

DeviceStreamSeparatedReadWrite::DeviceStreamSeparatedReadWrite() = default;

DeviceStreamSeparatedReadWrite::~DeviceStreamSeparatedReadWrite() {
    mdwAuxiliaryValue = 0;
}

DWORD DeviceStreamSeparatedReadWrite::SetWriteTermination(HostWindow, const std::string &sTermination,
                                                          bool bEnabled) {
    mParameters.sWriteTermination = sTermination;
    mParameters.bWriteTerminationEnabled = bEnabled;
    return 0;
}

std::string DeviceStreamSeparatedReadWrite::WithWriteTermination(const std::string &sCommand) const {
    if (mParameters.bWriteTerminationEnabled && !EndsWith(sCommand, mParameters.sWriteTermination, false))
        return sCommand + mParameters.sWriteTermination;
    return sCommand;
}

DWORD DeviceStreamSeparatedReadWrite::ReadWithinTimeout(HostWindow hWnd,
                                                        const std::function<DWORD(bool &bMore)> &readPiece,
                                                        DWORD &restored) {
    Timing timing;
    const double dSaved = GetTimeout(hWnd);
    const uint32_t total = SaturatingToUnsigned(dSaved * 1000.0);
    const uint32_t start = timing.GetMilliseconds();
    bool bMore = true;
    DWORD result = 0;
    while (result == 0 && bMore && timing.RemainingTime(start, total) > 0) {
        const uint32_t remaining = timing.RemainingTime(start, total);
        result = SetTimeout(hWnd, MillisecondsToSeconds(remaining));
        if (result != 0)
            break;
        result = readPiece(bMore);
    }
    restored = SetTimeout(hWnd, dSaved);
    return result;
}

DWORD DeviceStreamSeparatedReadWrite::SetReadTermination(HostWindow, const std::string &sTermination,
                                                         bool bEnabled) {
    mParameters.sReadTermination = sTermination;
    mParameters.bReadTerminationEnabled = bEnabled;
    return 0;
}

DWORD DeviceStreamSeparatedReadWrite::SetTimeout(HostWindow, double dSeconds) {
    mParameters.dTimeout = dSeconds;
    return 0;
}

double DeviceStreamSeparatedReadWrite::GetTimeout(HostWindow) {
    return mParameters.dTimeout;
}

DWORD DeviceStreamSeparatedReadWrite::GetMinimumDelay() {
    return mParameters.Delayer.GetMinimumDelay();
}

void DeviceStreamSeparatedReadWrite::SetMinimumDelay(DWORD dwMicroseconds) {
    mParameters.Delayer.SetMinimumDelay(dwMicroseconds);
}

DWORD DeviceStreamSeparatedReadWrite::Connect(HostWindow, std::shared_ptr<DeviceStreamConfiguration>,
                                              DeviceStreamClient *) {
    return ResultCode::OperationNotProvided;
}

DWORD DeviceStreamSeparatedReadWrite::Disconnect(HostWindow, DeviceStreamClient *) {
    return 0;
}

bool DeviceStreamSeparatedReadWrite::IsConnected() {
    return mbConnected;
}

DWORD DeviceStreamSeparatedReadWrite::Lock(HostWindow, double dSeconds) {
    return mLock.Lock(SaturatingToUnsigned(SecondsToMilliseconds(dSeconds)));
}

DWORD DeviceStreamSeparatedReadWrite::Unlock(HostWindow) {
    return mLock.Unlock();
}

DWORD DeviceStreamSeparatedReadWrite::Write(HostWindow, const std::string &, bool) {
    return ResultCode::OperationNotProvided;
}

DWORD DeviceStreamSeparatedReadWrite::Read(HostWindow, std::string &, DWORD) {
    return ResultCode::OperationNotProvided;
}

DWORD DeviceStreamSeparatedReadWrite::ClearInputBuffers(HostWindow) {
    return 0;
}

DWORD DeviceStreamSeparatedReadWrite::DropWaitingInput(HostWindow hWnd) {
    return ClearInputBuffers(hWnd);
}

DWORD DeviceStreamSeparatedReadWrite::ClearOutputBuffers(HostWindow) {
    return 0;
}

DWORD DeviceStreamSeparatedReadWrite::ClearDevice(HostWindow) {
    return 0;
}

DWORD DeviceStreamSeparatedReadWrite::GetLastWriteCount() {
    return mdwLastWriteCount;
}

DWORD DeviceStreamSeparatedReadWrite::GetAuxiliaryValue(DWORD &dwValue) {
    dwValue = 0;
    return 0;
}

DWORD DeviceStreamSeparatedReadWrite::SetAuxiliaryValue(DWORD dwValue) {
    mdwAuxiliaryValue = dwValue;
    return 0;
}

DWORD DeviceStreamSeparatedReadWrite::GetErrorString(HostWindow, DWORD, char *, uint32_t, uint32_t *) {
    return 0;
}

void DeviceStreamSeparatedReadWrite::InterruptWait() {}

DeviceStreamParameters DeviceStreamSeparatedReadWrite::GetParameters() {
    return mParameters;
}

std::string DeviceStreamSeparatedReadWrite::GetReadTerminationInUse() {
    return mParameters.bReadTerminationEnabled ? mParameters.sReadTermination : std::string();
}

void DeviceStreamSeparatedReadWrite::SetParameters(const DeviceStreamParameters &parameters) {
    mParameters = parameters;
}

bool DeviceStreamSeparatedReadWrite::HasSingleClient() {
    return IsConnected() && mClients.size() == 1;
}

DWORD DeviceStreamSeparatedReadWrite::VerifyCorrectConfigurationObject(
    std::shared_ptr<DeviceStreamConfiguration> configObject, const std::string &objectIDDescription) {
    static const char *const Signature =
        "DWORD DeviceStreamSeparatedReadWrite::VerifyCorrectConfigurationObject(std::shared_ptr<"
        "DeviceStreamConfiguration>, const std::string&)";
    if (!configObject) {
        ReportAssertion("configObject = NULL", Signature);
        return StreamResult::InvalidConfigurationObject;
    }
    if (objectIDDescription.empty()) {
        ReportAssertion("objectIDDescription.empty()", Signature);
        return StreamResult::InvalidConfigurationObject;
    }
    if (configObject->GetIDString() != objectIDDescription) {
        ReportAssertion("configObject->GetIDString() != objectIDDescription", Signature);
        ShowFunctionErrorMessage(configObject->GetIDString(), Signature);
        ShowFunctionErrorMessage(objectIDDescription, Signature);
        return StreamResult::InvalidConfigurationObject;
    }
    return 0;
}

bool DeviceStreamSeparatedReadWrite::IsFirstClient(HostWindow, DeviceStreamClient *clientEntry) {
    return clientEntry != nullptr && mClients.empty();
}

void DeviceStreamSeparatedReadWrite::RegisterClient(HostWindow, DeviceStreamClient *clientEntry) {
    if (clientEntry != nullptr)
        mClients.insert(clientEntry);
}

bool DeviceStreamSeparatedReadWrite::UnregisterClient(HostWindow, DeviceStreamClient *clientEntry) {
    if (clientEntry != nullptr)
        mClients.erase(clientEntry);
    if (!mClients.empty())
        return false;
    // The next connect of an equal configuration makes a new stream. Only this stream's own
    // entry goes: an equal configuration may by now belong to another stream.
    if (clientEntry != nullptr)
        SharedDeviceStreams::EraseStream(this);
    return true;
}

void DeviceStreamSeparatedReadWrite::SetLockName(const std::string &sIdentifier) {
    mLock.SetName(MakeStreamLockName(sIdentifier));
}
