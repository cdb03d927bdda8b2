// The PECOS AD converter ("PONTISPECOS_AD_8"): eight channels, each read from a PECOS detector
// whose name the user entered on the "Detector Map" page. A channel read sends the detector's name
// and takes the first number of the reply; InitDevice switches every configured detector on
// ("CMD-<name>-ENABLE-YES", "CMD-<name>-ACTIVATE-YES"), DeInitDevice switches them off
// ("CMD-<name>-ENABLE-NO"), with the detector state toggle delay before the first and after each
// command.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "pecos/PontisPecosBase.h"

class PontisPecosADConverterBase : public PontisPecosBase<ADConvertorBase> {
public:
    static constexpr DWORD DetectorCount = 8;
    static constexpr const char *SettingsTable = "PontisPecos_ADConverter";

    PontisPecosADConverterBase();
    ~PontisPecosADConverterBase() override;

    virtual DWORD EnableAllDetectors(HostWindow hWnd) = 0;
    virtual DWORD DisableAllDetectors(HostWindow hWnd) = 0;
    // Switches on again the detectors the driver switched on.
    virtual DWORD EnableSwitchedOnDetectors(HostWindow hWnd) = 0;

    // The base's pages, then "Detector Map".
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // 10000.0 for every channel.
    DWORD GetChannelMaxValue(HostWindow hWnd, uint32_t *pdwChannel, float *pfMaxValue) override;
    DWORD GetChannelCount(HostWindow hWnd, uint32_t *pdwCount) override;
    // Check the detector map, connect, log in, switch the detectors on. A failure switches off what
    // is switched on (also by an earlier InitDevice) while the session's connection is there, and
    // closes the connection.
    DWORD InitDevice(HostWindow hWnd) override;
    // Switch off the detectors the driver switched on, then disconnect; the disconnect happens in
    // every case and the first failure is returned.
    DWORD DeInitDevice(HostWindow hWnd) override;
    // The first name of the map that cannot be sent: SubscribePrefixInMap for one with "SUB-",
    // InvalidDetectorID for one with a control character; else 0.
    DWORD CheckDetectorMap() const;

    // The name of detector channel + 1; empty for channels outside 0 to 7.
    std::string GetDetectorName(uint32_t dwChannel) const;
    StorableMemberVariable<std::string> &GetDetectorMember(uint32_t dwChannel) {
        return mDetectorNames[dwChannel];
    }

protected:
    // A new connection switches on again the detectors the driver switched on.
    DWORD RestoreSession(HostWindow hWnd) override;
    void SwitchOffAfterFailedInit(HostWindow hWnd) override;

    // The detectors (command names) the driver sent "ENABLE-YES" for and has not switched off since,
    // in that order; each counts from its first line on.
    std::vector<std::string> mSwitchedOn;

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
    DWORD EnableSwitchedOnDetectors(HostWindow hWnd) override;

    // Switching on: the ENABLE and ACTIVATE lines of each configured detector, once the whole map
    // passed CheckDetectorMap (else its code, and nothing is sent). Switching off: the ENABLE line of
    // each detector the driver switched on, going on past a line that fails while the connection is
    // there; the first failure is returned and none counts as on afterwards.
    DWORD SetAllDetectors(HostWindow hWnd, bool bEnable);
    // The stored delay, at most LargestToggleDelay.
    unsigned int GetToggleDelay() const;

private:
    // The lines of SetAllDetectors for the command names, with the toggle delay before the first
    // line and after each. Switching on stops once the driver is removed; a reconnect on the way
    // restored the detector whose line it was, so its remaining line is not sent again.
    DWORD SwitchDetectors(HostWindow hWnd, bool bEnable, const std::vector<std::string> &names);

    StorableMemberVariable<unsigned int> mToggleDelay;
};
