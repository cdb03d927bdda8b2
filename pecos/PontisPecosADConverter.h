// The PECOS AD converter ("PONTISPECOS_AD_8"): eight channels, each read from a PECOS detector
// whose name the user entered on the "Detector Map" page. A channel read sends the detector's name
// and takes the first number of the reply; InitDevice switches every configured detector on
// ("CMD-<name>-ENABLE-YES", "CMD-<name>-ACTIVATE-YES"), DeInitDevice switches them off
// ("CMD-<name>-ENABLE-NO"), with the detector state toggle delay before the first and after each
// command.
#pragma once

#include <array>
#include <string>

#include "pecos/PontisPecosBase.h"

class PontisPecosADConverterBase : public PontisPecosBase<ADConvertorBase> {
public:
    static constexpr DWORD DetectorCount = 8;
    static constexpr const char *SettingsTable = "PontisPecos_ADConverter";

    PontisPecosADConverterBase();
    ~PontisPecosADConverterBase() override;

    virtual DWORD EnableAllDetectors(HostWindow hWnd) = 0;
    virtual DWORD DisableAllDetectors(HostWindow hWnd) = 0;

    // The base's pages, then "Detector Map".
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // 10000.0 for every channel.
    DWORD GetChannelMaxValue(HostWindow hWnd, uint32_t *pdwChannel, float *pfMaxValue) override;
    DWORD GetChannelCount(HostWindow hWnd, uint32_t *pdwCount) override;
    // Connect, log in, switch the detectors on. A failure switches off what is switched on (also by
    // an earlier InitDevice) while the session's connection is there, and closes the connection.
    DWORD InitDevice(HostWindow hWnd) override;
    // Switch the detectors off (once an InitDevice succeeded), then disconnect; the disconnect
    // happens in every case and the first failure is returned.
    DWORD DeInitDevice(HostWindow hWnd) override;

    // The name of detector channel + 1; empty for channels outside 0 to 7.
    std::string GetDetectorName(uint32_t dwChannel) const;
    StorableMemberVariable<std::string> &GetDetectorMember(uint32_t dwChannel) {
        return mDetectorNames[dwChannel];
    }

protected:
    // A new connection switches the detectors on again while they count as on.
    DWORD RestoreSession(HostWindow hWnd) override;
    void SwitchOffAfterFailedInit(HostWindow hWnd) override;

    bool mbDetectorsOn = false; // switched on (or being switched on) and not switched off since

private:
    StorableMemberVariable<std::string> MakeDetectorMember(int nDetector);

    std::array<StorableMemberVariable<std::string>, DetectorCount> mDetectorNames;
};

class PontisPecosSCPI_ADConverter : public PontisPecosSCPIBase<PontisPecosADConverterBase> {
public:
    static constexpr unsigned int DefaultToggleDelay = 750;   // ms
    static constexpr unsigned int LargestToggleDelay = 60000; // ms; larger settings are cut to it
    static constexpr DWORD ReplyCount = 500000;

    explicit PontisPecosSCPI_ADConverter(const std::string &sExpectedResponse);
    ~PontisPecosSCPI_ADConverter() override;

    // Sends the channel's detector name and reads the first number of the reply. No reply, one
    // without its line end or one with "Failure": NoDetectorResponse; a name with a control
    // character is not sent: InvalidDetectorID.
    DWORD GetChannelValue(HostWindow hWnd, uint32_t *pdwChannel, float *pfValue) override;
    DWORD EnableAllDetectors(HostWindow hWnd) override { return SetAllDetectors(hWnd, true); }
    DWORD DisableAllDetectors(HostWindow hWnd) override { return SetAllDetectors(hWnd, false); }

    // The ENABLE (and, switching on, ACTIVATE) line of each configured detector; stops at a
    // name with "SUB-" (SubscribePrefixInMap) or a control character (InvalidDetectorID).
    DWORD SetAllDetectors(HostWindow hWnd, bool bEnable);
    // The stored delay, at most LargestToggleDelay.
    unsigned int GetToggleDelay() const;

private:
    StorableMemberVariable<unsigned int> mToggleDelay;
};
