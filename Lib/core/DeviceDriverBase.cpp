// The driver base: defaults of the optional operations, the generic value and setting identifiers,
// the host version, the host's automation objects, the warning queue and the framework's texts.
#include "core/DeviceDriverBase.h"

#include <cstring>
#include <limits>

#include "core/StringUtils.h"
#include "logging/DriverLog.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"

namespace {

constexpr const wchar_t *ModuleName = L"DeviceDriverBase";

std::string Quoted(const char *text) {
    return QuoteString(MakeString(text));
}

// The framework's text of a code; empty when it has none.
std::string FrameworkErrorText(DWORD code) {
    const char *text = ResultCode::FrameworkText(code);
    if (text == nullptr)
        return std::string();
    if (code == ResultCode::KorvalisVersionTooOld)
        return text + DeviceDriverBase::MinimumKorvalisVersion.GetText() +
               ResultCode::KorvalisVersionTooOldTextEnd;
    return text;
}

} // namespace

const Version DeviceDriverBase::MinimumKorvalisVersion("2024.1.1");
const Version DeviceDriverBase::QueuedWarningsKorvalisVersion("2025.1.1");

DeviceDriverBase::DeviceDriverBase() = default;
DeviceDriverBase::~DeviceDriverBase() = default;

void DeviceDriverBase::MarkRemoved() {
    mRemoval.Cancel();
    mOutputGate.Close();
}

DWORD DeviceDriverBase::Registered(HostWindow) {
    return 0;
}
DWORD DeviceDriverBase::UnRegistered(HostWindow) {
    return 0;
}
DWORD DeviceDriverBase::CheckDevice(HostWindow) {
    return 0;
}
DWORD DeviceDriverBase::InitDevice(HostWindow) {
    return 0;
}
DWORD DeviceDriverBase::DeInitDevice(HostWindow) {
    return 0;
}

DWORD DeviceDriverBase::SetLastCWFrequency(HostWindow, const FrequencyBase<9> &frequency) {
    mLastCWFrequency = frequency;
    return 0;
}

DWORD DeviceDriverBase::GetInfo(HostWindow, DWORD, double *) {
    return ResultCode::NoInformationItem;
}

DWORD DeviceDriverBase::GetInfoString(HostWindow, DWORD, char *sBuffer, uint32_t dwBufferSize,
                                      uint32_t *pdwFilledSize) {
    ClearErrorText(sBuffer, dwBufferSize, pdwFilledSize);
    return ResultCode::NoInformationItem;
}

DWORD DeviceDriverBase::GetDriverVersion(HostWindow, char *) {
    return ResultCode::OperationNotProvided;
}

DWORD DeviceDriverBase::SetSpecificSetting(HostWindow, const char *, char *) {
    return ResultCode::OperationNotProvided;
}

DWORD DeviceDriverBase::GetSpecificInput(HostWindow, const char *, double *) {
    return ResultCode::OperationNotProvided;
}

DWORD DeviceDriverBase::GetSpecificSetting(HostWindow, const char *, char *sBuffer, uint32_t dwBufferSize,
                                           uint32_t *pdwFilledSize) {
    ClearErrorText(sBuffer, dwBufferSize, pdwFilledSize);
    QuellinEntry entry(ModuleName, L"GetSpecificSetting('Not Implemented!')");
    entry.Log(QuellinLevelWarning);
    return 0;
}

DWORD DeviceDriverBase::CheckDeviceOnStream(HostWindow) {
    QuellinEntry entry(ModuleName, L"CheckDeviceOnStream('Not Implemented!')");
    entry.Log(QuellinLevelWarning);
    return 0;
}

DWORD DeviceDriverBase::GetSpecificSettingState(HostWindow, const char *, uint32_t *) {
    QuellinEntry entry(ModuleName, L"GetSpecificSettingState('Not Implemented!')");
    entry.Log(QuellinLevelWarning);
    return 0;
}

DWORD DeviceDriverBase::AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &) {
    return 0;
}

// ---- Value identifiers ---------------------------------------------------------------------------

DWORD DeviceDriverBase::GetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) {
    QuellinEntry entry(ModuleName, L"GetValue");
    entry.LogBegin(QuellinLevelNote, L"hWnd", hWnd, L"dwValueID", dwValueID);

    // The end record of a call whose data addresses were not both given.
    const bool bothGiven = Data1 != nullptr && Data2 != nullptr;
    auto refused = [&](const char *operation) {
        const DWORD result = ResultCode::ValueDataMissing;
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString(operation, "(", NullGuardText, ")"), QuellinMarkerOutput, L"Err", result);
        return result;
    };
    switch (dwValueID) {
    case ValueID::GetSpecificSettingState: {
        if (!bothGiven)
            return refused("GetSpecificSettingState");
        const char *name = static_cast<const char *>(Data1);
        uint32_t *state = static_cast<uint32_t *>(Data2);
        const DWORD result = GetSpecificSettingState(hWnd, name, state);
        const DWORD stateValue = *state;
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString("GetSpecificSettingState(", Quoted(name), ", ", stateValue, ")"),
                     QuellinMarkerInput, L"Setting", name, QuellinMarkerOutput, L"State", stateValue, L"Err",
                     result);
        return result;
    }
    case ValueID::GetSpecificInput: {
        if (!bothGiven)
            return refused("GetSpecificInput");
        const char *name = static_cast<const char *>(Data1);
        double *value = static_cast<double *>(Data2);
        const DWORD result = GetSpecificInput(hWnd, name, value);
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString("GetSpecificInput(", Quoted(name), ", ", *value, ")"), QuellinMarkerInput,
                     L"Setting", name, QuellinMarkerOutput, L"Value", *value, L"Err", result);
        return result;
    }
    case ValueID::CheckDeviceOnStream: {
        const DWORD result = CheckDeviceOnStream(hWnd);
        entry.LogEnd(ResultSeverityText(result), QuellinDescription, L"CheckDeviceOnStream()", L"Err",
                     result);
        return result;
    }
    case ValueID::GetQueuedWarning: {
        if (!bothGiven)
            return refused("GetQueuedWarning");
        uint32_t *code = static_cast<uint32_t *>(Data1);
        uint32_t *remaining = static_cast<uint32_t *>(Data2);
        GetQueuedWarning(code, remaining);
        const DWORD returnedWarning = *code;
        const unsigned int remainingWarnings = *remaining;
        const DWORD result = returnedWarning;
        entry.LogEnd(QuellinLevelComplete, QuellinDescription,
                     MakeString("GetQueuedWarning(", returnedWarning, ", ", remainingWarnings, ")"),
                     QuellinMarkerOutput, L"returnedWarning", returnedWarning, L"remainingWarnings",
                     remainingWarnings, L"Err", result);
        return result;
    }
    default: {
        const DWORD result = ResultCode::GetValueIdNotHandled;
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString("DeviceDriverBase::GetValue(", dwValueID, ")"), QuellinMarkerOutput, L"Err",
                     result);
        return result;
    }
    }
}

DWORD DeviceDriverBase::GetValueString(HostWindow hWnd, DWORD dwValueID, const char *Data1, char *sInfoBuffer,
                                       uint32_t dwBufferSize, uint32_t *pdwFilledSize) {
    QuellinEntry entry(ModuleName, L"GetValueString");
    entry.LogBegin(QuellinLevelNote, L"hWnd", hWnd, L"dwValueID", dwValueID);

    DWORD result = ResultCode::GetValueIdNotHandled;
    if (dwValueID == ValueID::GetSpecificSetting) {
        if (pdwFilledSize == nullptr) {
            result = ResultCode::FilledSizeMissing;
        } else if (Data1 == nullptr || sInfoBuffer == nullptr) {
            *pdwFilledSize = 0;
            result = ResultCode::TextBufferMissing;
        } else {
            result = GetSpecificSetting(hWnd, Data1, sInfoBuffer, dwBufferSize, pdwFilledSize);
            // The driver's answer is read back within the size the host gave.
            const std::string answer = HostBufferText(sInfoBuffer, dwBufferSize);
            const DWORD bufferSize = dwBufferSize;
            const DWORD filledSize = *pdwFilledSize;
            entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                         MakeString("GetSpecificSetting(", Quoted(Data1), ", ", Quoted(answer.c_str()), ", ",
                                    bufferSize, ", ", filledSize, ")"),
                         L"Data1", Data1, L"sInfoBuffer", answer, L"dwBufferSize", bufferSize,
                         L"pdwFilledSize", filledSize, L"Err", result);
            return result;
        }
    }
    entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                 MakeString("DeviceDriverBase::GetValueString(", dwValueID, ")"), QuellinMarkerOutput, L"Err",
                 result);
    return result;
}

DWORD DeviceDriverBase::SetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) {
    QuellinEntry entry(ModuleName, L"SetValue");
    entry.LogBegin(QuellinLevelNote, L"hWnd", hWnd, L"dwValueID", dwValueID);

    DWORD result = ResultCode::SetValueIdNotHandled;
    std::string description;
    switch (dwValueID) {
    case ValueID::SetLastCWFrequency:
        if (Data1 == nullptr) {
            result = ResultCode::ValueDataMissing;
            description = MakeString("SetLastCWFrequency(", NullGuardText, ")");
        } else {
            const FrequencyBase<9> frequency(*static_cast<const double *>(Data1));
            result = SetLastCWFrequency(hWnd, frequency);
            description = MakeString("SetLastCWFrequency(", frequency, ")");
        }
        break;
    case ValueID::SetInformationItems:
        description = MakeString("SetInformationItems(", Data1, ", ", Data2, ")");
        if (Data1 == nullptr || Data2 == nullptr) {
            result = ResultCode::ValueDataMissing;
        } else {
            SetInformationItems(static_cast<IHostAutomationObject *const *>(Data1),
                                static_cast<IHostAutomationObject *const *>(Data2));
            result = 0;
        }
        break;
    case ValueID::SetSpecificSetting: {
        const char *name = static_cast<const char *>(Data1);
        char *value = static_cast<char *>(Data2);
        result = SetSpecificSetting(hWnd, name, value);
        description = MakeString("SetSpecificSetting(", name, ", ", value, ")");
        break;
    }
    case ValueID::SetKorvalisVersion: {
        const char *version = static_cast<const char *>(Data1);
        result = SetKorvalisVersion(hWnd, version);
        description = MakeString("SetKorvalisVersion(", version, ")");
        break;
    }
    default:
        description = MakeString("DeviceDriverBase::SetValue(", dwValueID, ")");
        break;
    }
    entry.LogEnd(ResultSeverityText(result), QuellinDescription, description, QuellinMarkerOutput, L"Err",
                 result);
    return result;
}

DWORD DeviceDriverBase::SetSetting(HostWindow, DWORD dwSettingID, double dSetting) {
    QuellinEntry entry(ModuleName, L"SetSetting");
    entry.LogBegin(QuellinLevelNote, L"dwSettingID", dwSettingID, L"dSetting", dSetting);

    const bool on = AlmostEqual(dSetting, 0.0) != 0;
    switch (dwSettingID) {
    case SettingID::UseMiliHzFrequency:
        mbUseMiliHzFrequency = on;
        entry.LogEnd(QuellinLevelComplete, QuellinDescription,
                     on ? L"SetSetting(\"Use miliHzFrequency in all device driver function calls\")"
                        : L"SetSetting(\"Do not use miliHzFrequency in all device driver function calls\")");
        return 0;
    case SettingID::UseDoubles:
        mbUseDoubles = on;
        entry.LogEnd(QuellinLevelComplete, QuellinDescription,
                     on ? L"SetSetting(\"Use doubles in all device driver function calls\")"
                        : L"SetSetting(\"Do not use doubles in all device driver function calls\")");
        return 0;
    default: {
        const DWORD result = ResultCode::SettingIdNotHandled;
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString("SetSettingNotFound(", dwSettingID, ")"), QuellinMarkerOutput, L"Err",
                     result);
        return result;
    }
    }
}

DWORD DeviceDriverBase::GetCurrentFrequency(HostWindow, double *dFreqMHz) {
    QuellinEntry entry(ModuleName, L"GetCurrentFrequency");
    entry.LogBegin(QuellinLevelNote);
    if (dFreqMHz == nullptr) {
        const DWORD result = ResultCode::ValueDataMissing;
        entry.LogEnd(ResultSeverityText(result), L"Err", result);
        return result;
    }
    *dFreqMHz = mLastCWFrequency.ToDouble();
    entry.LogEnd(QuellinLevelComplete, L"dFreqMHz", *dFreqMHz, L"Err", DWORD(0));
    return 0;
}

// ---- Host version --------------------------------------------------------------------------------

bool DeviceDriverBase::IsHostVersionSupported(const Version &version) {
    return !(version < MinimumKorvalisVersion);
}

DWORD DeviceDriverBase::SetKorvalisVersion(HostWindow, const char *sVersion) {
    if (sVersion == nullptr)
        return ResultCode::KorvalisVersionMissing;
    mKorvalisVersion.Parse(sVersion);
    const DWORD result = IsHostVersionSupported(mKorvalisVersion) ? 0 : ResultCode::KorvalisVersionTooOld;
    if (!(mKorvalisVersion < QueuedWarningsKorvalisVersion)) {
        std::lock_guard<std::mutex> lock(mWarningLock);
        mbQueuedWarningsSupported = true; // never cleared
    }
    return result;
}

bool DeviceDriverBase::AreQueuedWarningsSupported() const {
    std::lock_guard<std::mutex> lock(mWarningLock);
    return mbQueuedWarningsSupported;
}

// ---- Warning queue -------------------------------------------------------------------------------

void DeviceDriverBase::PushWarningToQueue(DWORD dwCode) {
    const std::string quotedCode = QuoteString(UnsignedToString(static_cast<unsigned int>(dwCode)));
    if (!IsWarningCode(dwCode)) {
        DriverLogFile::Write(std::string("DeviceDriverBase::PushWarningToQueue"),
                             "PushWarningToQueue is called with non-warning code: " + quotedCode);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mWarningLock);
        if (mbQueuedWarningsSupported) {
            mWarningQueue.push_back(dwCode);
            mWarningCount.store(mWarningQueue.size(), std::memory_order_relaxed);
            return;
        }
    }
    QuellinEntry entry(ModuleName, L"PushWarningToQueue(" + ToStdWstring(quotedCode) + L")");
    entry.Log(QuellinLevelWarning);
}

void DeviceDriverBase::GetQueuedWarning(uint32_t *pdwCode, uint32_t *pnRemaining) {
    uint32_t code = 0;
    uint32_t remaining = 0;
    {
        std::lock_guard<std::mutex> lock(mWarningLock);
        if (mbQueuedWarningsSupported && !mWarningQueue.empty()) {
            code = static_cast<uint32_t>(mWarningQueue.front());
            mWarningQueue.pop_front();
            const size_t left = mWarningQueue.size();
            mWarningCount.store(left, std::memory_order_relaxed);
            remaining = left > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                                    : static_cast<uint32_t>(left);
        }
    }
    if (pdwCode != nullptr)
        *pdwCode = code;
    if (pnRemaining != nullptr)
        *pnRemaining = remaining;
}

unsigned int DeviceDriverBase::GetQueuedWarningCount() {
    const size_t count = mWarningCount.load(std::memory_order_relaxed);
    return count > std::numeric_limits<unsigned int>::max() ? std::numeric_limits<unsigned int>::max()
                                                            : static_cast<unsigned int>(count);
}

// ---- Error texts ---------------------------------------------------------------------------------

DWORD DeviceDriverBase::GetErrorString(HostWindow, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                       uint32_t *pdwRead) {
    QuellinEntry entry(ModuleName, L"GetErrorString");
    entry.LogBegin(QuellinLevelNote);
    ClearErrorText(sBuffer, dwBufferSize, pdwRead);

    const std::string text = FrameworkErrorText(dwCode);
    DWORD result = 0;
    if (pdwRead == nullptr)
        result = ResultCode::FilledSizeMissing;
    else if (sBuffer == nullptr)
        result = ResultCode::TextBufferMissing;
    else if (!text.empty())
        CopyStringToBuffer(text, sBuffer, dwBufferSize, pdwRead);
    entry.LogEnd(QuellinLevelError, QuellinDescription, text);
    return result;
}

// ---- Automation objects --------------------------------------------------------------------------

void DeviceDriverBase::SetInformationItems(IHostAutomationObject *const *pEut,
                                           IHostAutomationObject *const *pClsInformationItems) {
    IHostAutomationObject *eut = pEut ? *pEut : nullptr;
    IHostAutomationObject *items = pClsInformationItems ? *pClsInformationItems : nullptr;

    QuellinEntry entry(ModuleName, L"SetInformationItems");
    entry.LogBegin(QuellinLevelNote, L"*pEut", static_cast<void *>(eut), L"*pClsInformationItems",
                   static_cast<void *>(items));

    mEut.SetDispatch(eut);
    mInformationItems.ReleaseAutomationObject();
    mTestData.SetDispatch(items);
    if (!mTestData.IsEmpty()) {
        clsStandardTestData standardTestData;
        mTestData.GetStandardTestData(standardTestData);
        if (!standardTestData.IsEmpty())
            standardTestData.GetInformationItems(mInformationItems);
    }
    // The object was the information items themselves, not test data.
    if (mInformationItems.IsEmpty()) {
        mInformationItems.SetDispatch(items);
        mTestData.ReleaseAutomationObject();
    }
    entry.LogEnd(QuellinLevelComplete);
}

int IntSecondsToMilliseconds(int seconds) {
    // Saturates instead of overflowing.
    const long long milliseconds = static_cast<long long>(seconds) * 1000;
    if (milliseconds > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (milliseconds < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(milliseconds);
}

std::string DeviceDriverBase::ConvertFrequencyToText(double dHertz) {
    const double magnitude = dHertz < 0 ? -dHertz : dHertz;
    if (magnitude >= 1e9)
        return FormatString("%.1f GHz", dHertz / 1e9);
    if (magnitude >= 1e6)
        return FormatString("%.1f MHz", dHertz / 1e6);
    if (magnitude >= 1e3)
        return FormatString("%.1f kHz", dHertz / 1e3);
    return FormatString("%.1f Hz", dHertz);
}
