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

DWORD PontisPecosADConverterBase::CheckDetectorMap() const {
    for (const auto &member : mDetectorNames) {
        const std::string &name = member.GetValue();
        if (MatchesRegex(name, "SUB-", false))
            return PecosResult::SubscribePrefixInMap;
        if (HasControlCharacter(name))
            return PecosResult::InvalidDetectorID;
    }
    return 0;
}

DWORD PontisPecosADConverterBase::InitDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosSCPI_ADConverter", "InitDevice", [&] {
        // Like the credentials, before the connect that would replace an earlier session's.
        DWORD result = CheckDetectorMap();
        if (result == 0)
            result = PontisPecosBase<ADConvertorBase>::InitDevice(hWnd);
        if (result == 0)
            result = AfterLoginConfiguration(hWnd);
        if (result == 0)
            result = EnableAllDetectors(hWnd);
        if (result != 0) {
            CloseAfterFailedInit(hWnd);
            // Switched off, or out of reach: the next session starts with none.
            mSwitchedOn.clear();
        }
        return result;
    });
}

DWORD PontisPecosADConverterBase::RestoreSession(HostWindow hWnd) {
    return mSwitchedOn.empty() ? 0 : EnableSwitchedOnDetectors(hWnd);
}

void PontisPecosADConverterBase::SwitchOffAfterFailedInit(HostWindow hWnd) {
    if (!mSwitchedOn.empty())
        DisableAllDetectors(hWnd);
}

DWORD PontisPecosADConverterBase::DeInitDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosADConverterBase", "DeInitDevice", [&] {
        const DWORD result = mSwitchedOn.empty() ? 0 : DisableAllDetectors(hWnd);
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
    if (!bEnable) {
        // None counts as on any more, whatever the lines answer: a reconnect on the way restores none.
        std::vector<std::string> names;
        names.swap(mSwitchedOn);
        return SwitchDetectors(hWnd, false, names);
    }
    const DWORD result = CheckDetectorMap();
    if (result != 0)
        return result;
    std::vector<std::string> names;
    for (DWORD i = 0; i < GetChannelCountValue(); ++i) {
        const std::string name = GetDetectorName(static_cast<uint32_t>(i));
        if (!name.empty())
            names.push_back(ReplaceAll(name, "REQ-", ""));
    }
    return SwitchDetectors(hWnd, true, names);
}

DWORD PontisPecosSCPI_ADConverter::EnableSwitchedOnDetectors(HostWindow hWnd) {
    const std::vector<std::string> names = mSwitchedOn;
    return SwitchDetectors(hWnd, true, names);
}

DWORD PontisPecosSCPI_ADConverter::SwitchDetectors(HostWindow hWnd, bool bEnable,
                                                   const std::vector<std::string> &names) {
    QuellinEntry entry("PontisPecosSCPI_ADConverter", "SetAllDetectors");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, MakeString("SetAllDetectors(", bEnable, ")"));
    const unsigned int delay = GetToggleDelay();
    DWORD result = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        if (bEnable && IsRemoved())
            return PecosLogEnd(entry, ResultCode::NoDriverForDeviceID);
        if (i == 0)
            PauseUnlessRemoved(delay);
        const std::string &name = names[i];
        if (!bEnable) {
            const DWORD line = WriteLine(hWnd, "CMD-" + name + "-ENABLE-NO");
            result = FirstNonZero(result, line);
            if (line == 0)
                PauseUnlessRemoved(delay);
            // Past a line that failed on its connection, but no connect per remaining line.
            else if (!IsConnected())
                break;
            continue;
        }
        if (std::find(mSwitchedOn.begin(), mSwitchedOn.end(), name) == mSwitchedOn.end())
            mSwitchedOn.push_back(name);
        const unsigned sessions = mRestoredSessions;
        for (const char *command : {"-ENABLE", "-ACTIVATE"}) {
            result = WriteLine(hWnd, "CMD-" + name + command + "-YES", SendKind::SessionLine);
            if (result != 0 || sessions != mRestoredSessions)
                break;
            PauseUnlessRemoved(delay);
        }
        if (result != 0)
            break;
    }
    return PecosLogEnd(entry, result);
}
