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

DWORD PontisPecosADConverterBase::CheckDetectorName(const std::string &sName) {
    if (sName.find("SUB-") != std::string::npos)
        return PecosResult::SubscribePrefixInMap;
    return HasControlCharacter(sName) ? PecosResult::InvalidDetectorID : 0;
}

DWORD PontisPecosADConverterBase::CheckDetectorMap() const {
    for (const auto &member : mDetectorNames) {
        const DWORD result = CheckDetectorName(member.GetValue());
        if (result != 0)
            return result;
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

DWORD PontisPecosADConverterBase::CheckSettingsCanBeSent() const {
    return FirstNonZero(CheckDetectorMap(), PontisPecosBase<ADConvertorBase>::CheckSettingsCanBeSent());
}

DWORD PontisPecosADConverterBase::InitDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosSCPI_ADConverter", "InitDevice", [&] {
        // What could not be switched off stays in the record for the next DeInitDevice.
        return InitSession(hWnd, [&] {
            // What an earlier session at this server switched on and the map now leaves out.
            DWORD result = DisableSwitchedOnDetectorsBut(hWnd, true, GetDetectorCommandNames());
            if (result == 0)
                result = AfterLoginConfiguration(hWnd);
            if (result == 0)
                result = EnableAllDetectors(hWnd);
            return result;
        });
    });
}

DWORD PontisPecosADConverterBase::RestoreSession(HostWindow hWnd) {
    return mSession->GetSwitchedOn().empty() ? 0 : EnableSwitchedOnDetectors(hWnd);
}

DWORD PontisPecosADConverterBase::SwitchOffSession(HostWindow hWnd, bool bReconnect,
                                                   const std::vector<std::string> &keep) {
    return DisableSwitchedOnDetectorsBut(hWnd, bReconnect, keep);
}

DWORD PontisPecosADConverterBase::DeInitDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosADConverterBase", "DeInitDevice", [&] {
        const DWORD result = mSession && !mSession->GetSwitchedOn().empty() ? DisableAllDetectors(hWnd) : 0;
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
    // What InitDevice refuses to send is not sent here either, whenever the map came.
    DWORD result = CheckDetectorName(request);
    if (result != 0)
        return PecosLogEnd(entry, result);
    std::string response;
    result = RequestReply(hWnd, request, response, ReplyCount);
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
        return DisableSwitchedOnDetectorsBut(hWnd, true, {});
    const DWORD result = CheckDetectorMap();
    return result != 0 ? result : SwitchOn(hWnd, GetDetectorCommandNames());
}

DWORD PontisPecosSCPI_ADConverter::EnableSwitchedOnDetectors(HostWindow hWnd) {
    const std::vector<std::string> names = mSession->GetSwitchedOn();
    return SwitchOn(hWnd, names);
}

DWORD PontisPecosSCPI_ADConverter::DisableSwitchedOnDetectorsBut(HostWindow hWnd, bool bReconnect,
                                                                 const std::vector<std::string> &keep) {
    std::vector<std::string> names;
    if (mSession)
        for (const std::string &name : mSession->GetSwitchedOn())
            if (std::find(keep.begin(), keep.end(), name) == keep.end())
                names.push_back(name);
    return names.empty() ? 0 : SwitchOff(hWnd, bReconnect, names);
}

DWORD PontisPecosSCPI_ADConverter::SwitchOn(HostWindow hWnd, const std::vector<std::string> &names) {
    QuellinEntry entry("PontisPecosSCPI_ADConverter", "SetAllDetectors");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, "SetAllDetectors(1)");
    const unsigned int delay = GetToggleDelay();
    DWORD result = 0;
    if (!names.empty())
        PauseUnlessRemoved(delay);
    for (const std::string &name : names) {
        for (const char *command : {"-ENABLE", "-ACTIVATE"}) {
            const bool bEnable = command[1] == 'E';
            // Set when a new connection came on the way whose restore switched this detector on.
            bool bRestored = false;
            result = WriteSessionLine(
                hWnd, "CMD-" + name + command + "-YES",
                [&] {
                    // From here on the line may reach the server.
                    if (bEnable)
                        mSession->RecordSwitchedOn(name);
                },
                [&] { return bRestored = mSession->IsSwitchedOn(name); });
            if (result != 0 || bRestored)
                break;
            PauseUnlessRemoved(delay);
        }
        if (result != 0)
            break;
    }
    return PecosLogEnd(entry, result);
}

DWORD PontisPecosSCPI_ADConverter::SwitchOff(HostWindow hWnd, bool bReconnect,
                                             const std::vector<std::string> &names) {
    QuellinEntry entry("PontisPecosSCPI_ADConverter", "SetAllDetectors");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, "SetAllDetectors(0)");
    const unsigned int delay = GetToggleDelay();
    const auto ending = mSession->SwitchingOff(bReconnect);
    PauseUnlessRemoved(delay);
    DWORD result = 0;
    for (const std::string &name : names) {
        result = WriteLine(hWnd, "CMD-" + name + "-ENABLE-NO");
        if (result != 0)
            break;
        mSession->RecordSwitchedOff(name);
        PauseUnlessRemoved(delay);
    }
    return PecosLogEnd(entry, result);
}
