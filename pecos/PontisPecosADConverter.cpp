// The PECOS AD converter: detector map, channel reads, detectors on and off.
#include "pecos/PontisPecosADConverter.h"

#include <algorithm>

#include "core/StringUtils.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"
#include "pecos/DetectorNumber.h"
#include "pecos/PontisPecosPanels.h"

namespace {

constexpr float ChannelMaxValue = 10000.0f;

} // namespace

// ---- PontisPecosADConverterBase ------------------------------------------------------------------

PontisPecosADConverterBase::PontisPecosADConverterBase()
    : mDetectorNames{{MakeDetectorMember(1), MakeDetectorMember(2), MakeDetectorMember(3),
                      MakeDetectorMember(4), MakeDetectorMember(5), MakeDetectorMember(6),
                      MakeDetectorMember(7), MakeDetectorMember(8)}} {
    SetChannelCount(DetectorCount);
}

PontisPecosADConverterBase::~PontisPecosADConverterBase() = default;

StorableMemberVariable<std::string> PontisPecosADConverterBase::MakeDetectorMember(int nDetector) {
    return StorableMemberVariable<std::string>(std::string(), mStorableMembers, SettingsTable,
                                               "Detector " + std::to_string(nDetector) + " name");
}

std::string PontisPecosADConverterBase::GetDetectorName(uint32_t dwChannel) const {
    return dwChannel < DetectorCount ? mDetectorNames[dwChannel].GetValue() : std::string();
}

DWORD PontisPecosADConverterBase::AddConfigurationDialogPanels(HostWindow hWnd,
                                                               PanelResourceNameList &panels) {
    return PecosLogged("PontisPecosADConverterBase", "AddConfigurationDialogPanels()", [&] {
        const DWORD result = PontisPecosBase<ADConvertorBase>::AddConfigurationDialogPanels(hWnd, panels);
        if (result == 0)
            PanelResourceNameList::AddUnique(panels, new PontisPecosDetectorMapPanel(this),
                                             PontisPecosDetectorMapPanel::ResourceName,
                                             PontisPecosDetectorMapPanel::Title);
        return result;
    });
}

DWORD PontisPecosADConverterBase::GetChannelMaxValue(HostWindow, uint32_t *, float *pfMaxValue) {
    if (pfMaxValue == nullptr)
        return ResultCode::ValueDataMissing;
    *pfMaxValue = ChannelMaxValue;
    return 0;
}

DWORD PontisPecosADConverterBase::GetChannelCount(HostWindow hWnd, uint32_t *pdwCount) {
    return ADConvertorBase::GetChannelCount(hWnd, pdwCount);
}

DWORD PontisPecosADConverterBase::InitDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosSCPI_ADConverter", "InitDevice", [&] {
        DWORD result = PontisPecosBase<ADConvertorBase>::InitDevice(hWnd);
        if (result == 0)
            result = AfterLoginConfiguration(hWnd);
        if (result == 0)
            result = EnableAllDetectors(hWnd);
        if (result != 0)
            CloseAfterFailedInit(hWnd);
        return result;
    });
}

DWORD PontisPecosADConverterBase::RestoreSession(HostWindow hWnd) {
    return mbDetectorsOn ? EnableAllDetectors(hWnd) : 0;
}

void PontisPecosADConverterBase::SwitchOffAfterFailedInit(HostWindow hWnd) {
    if (mbDetectorsOn)
        DisableAllDetectors(hWnd);
}

DWORD PontisPecosADConverterBase::DeInitDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosADConverterBase", "DeInitDevice", [&] {
        const DWORD result = mbInitialised ? DisableAllDetectors(hWnd) : 0;
        return FirstNonZero(result, PontisPecosBase<ADConvertorBase>::DeInitDevice(hWnd));
    });
}

// ---- PontisPecosSCPI_ADConverter -----------------------------------------------------------------

PontisPecosSCPI_ADConverter::PontisPecosSCPI_ADConverter(const std::string &sExpectedResponse)
    : PontisPecosSCPIBase<PontisPecosADConverterBase>(sExpectedResponse),
      mToggleDelay(DefaultToggleDelay, mStorableMembers, SettingsTable, "DetectorStateToggleDelay") {
    // The title of its windows until the host's table "Common" gives another.
    msOwnDescription = ToStdWstring(sExpectedResponse) + L" AD converter";
}

PontisPecosSCPI_ADConverter::~PontisPecosSCPI_ADConverter() = default;

unsigned int PontisPecosSCPI_ADConverter::GetToggleDelay() const {
    return std::min(mToggleDelay.GetValue(), LargestToggleDelay);
}

DWORD PontisPecosSCPI_ADConverter::GetChannelValue(HostWindow hWnd, uint32_t *pdwChannel, float *pfValue) {
    QuellinEntry entry("PontisPecosSCPI_ADConverter", "GetChannelValue()");
    entry.LogBegin(QuellinLevelNote);
    if (pdwChannel == nullptr || pfValue == nullptr)
        return PecosLogEnd(entry, ResultCode::ValueDataMissing);
    // A channel without a detector has nothing to ask for: no request, no wait for a reply.
    const std::string request = GetDetectorName(*pdwChannel);
    if (request.empty())
        return PecosLogEnd(entry, PecosResult::NoDetectorResponse);
    if (HasControlCharacter(request))
        return PecosLogEnd(entry, PecosResult::InvalidDetectorID);
    std::string response;
    DWORD result = RequestReply(hWnd, request, response, ReplyCount);
    float number = 0.0f;
    if (result == 0) {
        if (response.empty() || MatchesRegex(response, "Failure", true) ||
            !ReadDetectorNumber(response, number))
            result = PecosResult::NoDetectorResponse;
    }
    if (result == 0)
        *pfValue = number;
    return PecosLogEnd(entry, result);
}

DWORD PontisPecosSCPI_ADConverter::SetAllDetectors(HostWindow hWnd, bool bEnable) {
    QuellinEntry entry("PontisPecosSCPI_ADConverter", "SetAllDetectors");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, MakeString("SetAllDetectors(", bEnable, ")"));
    DWORD result = 0;
    const unsigned int delay = GetToggleDelay();
    const std::string flag = bEnable ? "YES" : "NO";
    // From the first line on the detectors count as switched on (or off): a reconnect during the
    // switching restores all of them, a failed init switches off all of them.
    mbDetectorsOn = bEnable;
    for (DWORD i = 0; i < GetChannelCountValue() && result == 0; ++i) {
        if (i == 0)
            mTiming.Wait(delay);
        const std::string name = GetDetectorName(static_cast<uint32_t>(i));
        if (MatchesRegex(name, "SUB-", false)) {
            result = PecosResult::SubscribePrefixInMap;
            continue;
        }
        if (HasControlCharacter(name)) {
            result = PecosResult::InvalidDetectorID;
            continue;
        }
        if (name.empty())
            continue;
        const std::string commandName = ReplaceAll(name, "REQ-", "");
        result = WriteLine(hWnd, "CMD-" + commandName + "-ENABLE-" + flag);
        if (result == 0)
            mTiming.Wait(delay);
        if (bEnable && result == 0) {
            result = WriteLine(hWnd, "CMD-" + commandName + "-ACTIVATE-" + flag);
            if (result == 0)
                mTiming.Wait(delay);
        }
    }
    return PecosLogEnd(entry, result);
}
