// The AD converter base: channel identifiers, the channel count and the RAW option.
#include "core/RAWControlConfigPanel.h"
#include "core/ADConvertorBase.h"

#include <limits>

#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "logging/LoggedMessageBox.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"
#include "platform/MessageBox.h"

namespace {

constexpr const wchar_t *ModuleName = L"ADConvertorBase";
constexpr const wchar_t *DeviceDriverBaseCall = L"GetValue(\"DeviceDriverBaseCall\")";

} // namespace

// ---- RAWControl ----------------------------------------------------------------------------------

RAWControl::RAWControl(bool bUseRAW, bool bShowRAWControl, std::string sTableName, std::string sKeyName,
                       std::string sPageTitle)
    : msTableName(std::move(sTableName)), msKeyName(std::move(sKeyName)), msPageTitle(std::move(sPageTitle)),
      mbUseRAW(bUseRAW), mbShowRAWControl(bShowRAWControl) {}

RAWControl::~RAWControl() = default;

DWORD RAWControl::LoadProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(msTableName);
    mbUseRAW = database->ReadBool(msKeyName, mbUseRAW);
    mbShowRAWControl = database->ReadBool(ShowRAWControlKey, mbShowRAWControl);
    database->PopTable();
    return 0;
}

DWORD RAWControl::SaveProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(msTableName);
    database->WriteBool(msKeyName, mbUseRAW);
    database->WriteBool(ShowRAWControlKey, mbShowRAWControl);
    database->PopTable();
    return 0;
}

DWORD RAWControl::AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &panels) {
    if (!mbShowRAWControl)
        return 0;
    PanelResourceNameList::AddUnique(panels, CreateConfigPanel(), PanelResourceNameText,
                                     wxString::FromUTF8(msPageTitle.c_str()));
    return 0;
}

wxPanel *RAWControl::CreateConfigPanel() {
    return new RAWControlConfigPanel(this);
}

// ---- ADConvertorBase -----------------------------------------------------------------------------

ADConvertorBase::ADConvertorBase() : RAWControl(false, false, "ADConverterBase", "UseRAW", "RAW Settings") {}

ADConvertorBase::~ADConvertorBase() = default;

DWORD ADConvertorBase::LoadProgramSettings(HostWindow hWnd,
                                           std::shared_ptr<ProgramSettingsDatabase> &database) {
    const DWORD rawResult = RAWControl::LoadProgramSettings(hWnd, database);
    return FirstNonZero(DeviceDriverBase::LoadProgramSettings(hWnd, database), rawResult);
}

DWORD ADConvertorBase::SaveProgramSettings(HostWindow hWnd,
                                           std::shared_ptr<ProgramSettingsDatabase> &database) {
    const DWORD rawResult = RAWControl::SaveProgramSettings(hWnd, database);
    return FirstNonZero(DeviceDriverBase::SaveProgramSettings(hWnd, database), rawResult);
}

DWORD ADConvertorBase::AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) {
    const DWORD rawResult = RAWControl::AddConfigurationDialogPanels(hWnd, panels);
    return FirstNonZero(DeviceDriverBase::AddConfigurationDialogPanels(hWnd, panels), rawResult);
}

DWORD ADConvertorBase::GetChannelValue(HostWindow, uint32_t *, float *) {
    return ResultCode::OperationNotProvided;
}

DWORD ADConvertorBase::GetChannelMaxValue(HostWindow, uint32_t *, float *) {
    return ResultCode::OperationNotProvided;
}

DWORD ADConvertorBase::GetChannelCount(HostWindow, uint32_t *pdwCount) {
    if (pdwCount == nullptr)
        return ResultCode::ValueDataMissing;
    *pdwCount = mdwChannelCount > std::numeric_limits<uint32_t>::max()
                    ? std::numeric_limits<uint32_t>::max()
                    : static_cast<uint32_t>(mdwChannelCount);
    return 0;
}

void ADConvertorBase::SetChannelCount(DWORD dwCount) {
    mdwChannelCount = dwCount;
}

DWORD ADConvertorBase::GetChannelCountValue() {
    return mdwChannelCount;
}

DWORD ADConvertorBase::ShowConfigurationDialogUnavailable(HostWindow hWnd) {
    QuellinEntry entry(ModuleName, L"ShowConfigurationDialogUnavailable");
    entry.Log(QuellinLevelNote);
    MessageBoxW(hWnd, L"This Device Driver cannot be configured", GetDriverDescription(),
                Platform::MbIconInformation);
    return 0;
}

DWORD ADConvertorBase::SetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) {
    QuellinEntry entry(ModuleName, L"SetValue");
    entry.LogBegin(QuellinLevelNote, L"hWnd", hWnd, L"dwValueID", dwValueID);
    const DWORD result = DeviceDriverBase::SetValue(hWnd, dwValueID, Data1, Data2);
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD ADConvertorBase::GetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) {
    QuellinEntry entry(ModuleName, L"GetValue");
    entry.LogBegin(QuellinLevelNote);

    switch (dwValueID) {
    case ValueID::GetChannelValue:
    case ValueID::GetChannelMaxValue: {
        const bool isMax = dwValueID == ValueID::GetChannelMaxValue;
        const char *operation = isMax ? "GetChannelMaxValue(" : "GetChannelValue(";
        uint32_t *channel = static_cast<uint32_t *>(Data1);
        float *value = static_cast<float *>(Data2);
        if (channel == nullptr || value == nullptr) {
            const DWORD result = ResultCode::ValueDataMissing;
            entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                         MakeString(operation, NullGuardText, ")"), L"hWnd", hWnd, QuellinMarkerOutput,
                         L"Err", result);
            return result;
        }
        const DWORD result =
            isMax ? GetChannelMaxValue(hWnd, channel, value) : GetChannelValue(hWnd, channel, value);
        if (!QuellinEntry::IsCollectorListening())
            return result;
        const DWORD channelNumber = *channel;
        const float channelValue = *value;
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString(operation, channelNumber, ", ", channelValue, ")"), L"hWnd", hWnd,
                     QuellinMarkerInput, L"Channel", channelNumber, QuellinMarkerOutput, L"Err", result,
                     isMax ? L"MaxValue" : L"Value", channelValue);
        return result;
    }
    case ValueID::GetChannelCount: {
        uint32_t *count = static_cast<uint32_t *>(Data1);
        if (count == nullptr) {
            const DWORD result = ResultCode::ValueDataMissing;
            entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                         MakeString("GetChannelCount(", NullGuardText, ")"), L"hWnd", hWnd,
                         QuellinMarkerOutput, L"Err", result);
            return result;
        }
        const DWORD result = GetChannelCount(hWnd, count);
        const DWORD channelCount = *count;
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeString("GetChannelCount(", channelCount, ")"), L"hWnd", hWnd, QuellinMarkerOutput,
                     L"Err", result, L"ChannelCount", channelCount);
        return result;
    }
    default: {
        const DWORD result = DeviceDriverBase::GetValue(hWnd, dwValueID, Data1, Data2);
        entry.LogEnd(ResultSeverityText(result), QuellinDescription, DeviceDriverBaseCall, L"Err", result);
        return result;
    }
    }
}
