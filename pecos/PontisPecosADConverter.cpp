// The PECOS AD converter: detector map, channel reads, detectors on and off.
#include "pecos/PontisPecosADConverter.h"

#include <algorithm>

#include "core/StringUtils.h"
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

std::vector<std::string> PontisPecosADConverterBase::GetDetectorCommandNames() const {
    std::vector<std::string> names;
    for (const auto &member : mDetectorNames)
        if (!member.GetValue().empty())
            names.push_back(ReplaceAll(member.GetValue(), "REQ-", ""));
    return names;
}

DWORD PontisPecosADConverterBase::InitDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosSCPI_ADConverter", "InitDevice", [&] {
        // Like the credentials, before the connect that would replace an earlier session's.
        DWORD result = CheckDetectorMap();
        if (result == 0 && !CredentialsCanBeSent())
            result = PecosResult::AuthorisationFailed;
        bool bSwitchOffAfterFailure = true;
        if (result == 0) {
            result = SwitchOffWhatTheNewSessionLeaves(hWnd);
            // A switch-off that just failed is not tried once more at once.
            bSwitchOffAfterFailure = result == 0;
        }
        if (result == 0)
            result = PontisPecosBase<ADConvertorBase>::InitDevice(hWnd);
        if (result == 0)
            result = AfterLoginConfiguration(hWnd);
        if (result == 0)
            result = EnableAllDetectors(hWnd);
        // What could not be switched off stays in the record for the next DeInitDevice.
        if (result != 0)
            CloseAfterFailedInit(hWnd, bSwitchOffAfterFailure);
        return result;
    });
}

DWORD PontisPecosADConverterBase::SwitchOffWhatTheNewSessionLeaves(HostWindow hWnd) {
    if (mSwitchedOn.empty())
        return 0;
    const bool bMoved = SelectedAddress() != msSessionAddress;
    DWORD result = 0;
    // Without its connection the earlier server is out of reach once the address changed.
    if (!bMoved || IsConnected())
        result = DisableSwitchedOnDetectorsBut(hWnd, bMoved ? std::vector<std::string>()
                                                            : GetDetectorCommandNames());
    if (bMoved && !mSwitchedOn.empty()) {
        std::string left;
        for (const std::string &name : mSwitchedOn)
            left += (left.empty() ? "" : ", ") + name;
        QuellinEntry entry("PontisPecosADConverterBase", "InitDevice");
        entry.Log(QuellinLevelWarning, QuellinDescription,
                  "Detectors left switched on at " + msSessionAddress + ": " + left);
        mSwitchedOn.clear();
    }
    return result;
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
    if (!bEnable)
        return DisableSwitchedOnDetectorsBut(hWnd, {});
    const DWORD result = CheckDetectorMap();
    return result != 0 ? result : SwitchOn(hWnd, GetDetectorCommandNames());
}

DWORD PontisPecosSCPI_ADConverter::EnableSwitchedOnDetectors(HostWindow hWnd) {
    const std::vector<std::string> names = mSwitchedOn;
    return SwitchOn(hWnd, names);
}

DWORD PontisPecosSCPI_ADConverter::DisableSwitchedOnDetectorsBut(HostWindow hWnd,
                                                                 const std::vector<std::string> &keep) {
    // Those to switch off leave the record first, whatever the lines answer: a reconnect on the way
    // restores only the others.
    std::vector<std::string> names, kept;
    for (const std::string &name : mSwitchedOn)
        (std::find(keep.begin(), keep.end(), name) == keep.end() ? names : kept).push_back(name);
    if (names.empty())
        return 0;
    mSwitchedOn.swap(kept);
    return SwitchOff(hWnd, names);
}

DWORD PontisPecosSCPI_ADConverter::SwitchOn(HostWindow hWnd, const std::vector<std::string> &names) {
    QuellinEntry entry("PontisPecosSCPI_ADConverter", "SetAllDetectors");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, "SetAllDetectors(1)");
    const unsigned int delay = GetToggleDelay();
    DWORD result = 0;
    if (!names.empty())
        PauseUnlessRemoved(delay);
    for (const std::string &name : names) {
        if (std::find(mSwitchedOn.begin(), mSwitchedOn.end(), name) == mSwitchedOn.end())
            mSwitchedOn.push_back(name);
        const unsigned sessions = mRestoredSessions;
        for (const char *command : {"-ENABLE", "-ACTIVATE"}) {
            if (IsRemoved())
                return PecosLogEnd(entry, ResultCode::NoDriverForDeviceID);
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

DWORD PontisPecosSCPI_ADConverter::SwitchOff(HostWindow hWnd, const std::vector<std::string> &names) {
    QuellinEntry entry("PontisPecosSCPI_ADConverter", "SetAllDetectors");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, "SetAllDetectors(0)");
    const unsigned int delay = GetToggleDelay();
    // The session's server may be reached again for this, also after the session ended.
    mbSwitchingOff = true;
    mTiming.Wait(delay);
    DWORD result = 0;
    for (auto name = names.begin(); name != names.end(); ++name) {
        result = WriteLine(hWnd, "CMD-" + *name + "-ENABLE-NO");
        if (result != 0) {
            // Still on: tried again by the next switch-off, never carried to another session's server.
            for (auto left = name; left != names.end(); ++left)
                if (std::find(mSwitchedOn.begin(), mSwitchedOn.end(), *left) == mSwitchedOn.end())
                    mSwitchedOn.push_back(*left);
            break;
        }
        mTiming.Wait(delay);
    }
    mbSwitchingOff = false;
    return PecosLogEnd(entry, result);
}
