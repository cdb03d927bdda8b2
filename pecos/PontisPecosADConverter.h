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
    // Switches on again the detectors the session switched on.
    virtual DWORD EnableSwitchedOnDetectors(HostWindow hWnd) = 0;
    // Switches off, at the session's server, the detectors the session switched on that keep does
    // not name (command names); with bReconnect over a new connection when the one there is gone.
    virtual DWORD DisableSwitchedOnDetectorsBut(HostWindow hWnd, bool bReconnect,
                                                const std::vector<std::string> &keep) = 0;

    // The base's pages, then "Detector Map".
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // 10000.0 for every channel.
    DWORD GetChannelMaxValue(HostWindow hWnd, uint32_t *pdwChannel, float *pfMaxValue) override;
    DWORD GetChannelCount(HostWindow hWnd, uint32_t *pdwCount) override;
    // A map or login that cannot be sent fails before anything happens (an earlier session keeps its
    // connection and record); then a new session (InitSession: an earlier session at another server
    // or with another login switches everything off there first, with its own login); over the new
    // connection switch off what an earlier session at the same server switched on and the map now
    // leaves out, then switch the detectors on. A failure switches off what is switched on while the
    // session's connection is there, and closes the connection.
    DWORD InitDevice(HostWindow hWnd) override;
    // Switch off the detectors the session switched on, at its server, then disconnect; the
    // disconnect happens in every case and the first failure is returned. What could not be
    // switched off is tried again by the next DeInitDevice or InitDevice.
    DWORD DeInitDevice(HostWindow hWnd) override;
    // SubscribePrefixInMap for a name with "SUB-", InvalidDetectorID for one with a control
    // character; else 0.
    static DWORD CheckDetectorName(const std::string &sName);
    // CheckDetectorName of the first name of the map that cannot be sent; else 0.
    DWORD CheckDetectorMap() const;
    // CheckDetectorMap, then the credentials.
    DWORD CheckSettingsCanBeSent() const override;

    // The name of detector channel + 1; empty for channels outside 0 to 7.
    std::string GetDetectorName(uint32_t dwChannel) const;
    // The command names of the configured detectors ("REQ-" taken out), in channel order.
    std::vector<std::string> GetDetectorCommandNames() const;
    StorableMemberVariable<std::string> &GetDetectorMember(uint32_t dwChannel) {
        return mDetectorNames[dwChannel];
    }

protected:
    // A new connection switches on again the detectors the session switched on.
    DWORD RestoreSession(HostWindow hWnd) override;
    DWORD SwitchOffSession(HostWindow hWnd, bool bReconnect, const std::vector<std::string> &keep) override;

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
    // without its line end or one with "Failure": NoDetectorResponse; a name that InitDevice would
    // refuse is not sent: its CheckDetectorName code.
    DWORD GetChannelValue(HostWindow hWnd, uint32_t *pdwChannel, float *pfValue) override;
    DWORD EnableAllDetectors(HostWindow hWnd) override { return SetAllDetectors(hWnd, true); }
    DWORD DisableAllDetectors(HostWindow hWnd) override { return SetAllDetectors(hWnd, false); }
    DWORD EnableSwitchedOnDetectors(HostWindow hWnd) override;
    DWORD DisableSwitchedOnDetectorsBut(HostWindow hWnd, bool bReconnect,
                                        const std::vector<std::string> &keep) override;

    // Switching on: the ENABLE and ACTIVATE lines of each configured detector, once the whole map
    // passed CheckDetectorMap (else its code, and nothing is sent). Switching off: the ENABLE line of
    // each detector the session switched on, until a line fails; that detector and the rest still
    // count as on, and its code is returned.
    DWORD SetAllDetectors(HostWindow hWnd, bool bEnable);
    // The stored delay, at most LargestToggleDelay.
    unsigned int GetToggleDelay() const;

private:
    // The switch-on lines for the command names, with the toggle delay before the first line and
    // after each. A name enters the session's record as its ENABLE line is written. A reconnect on
    // the way that restored the detector whose line it was leaves its remaining line unsent.
    DWORD SwitchOn(HostWindow hWnd, const std::vector<std::string> &names);
    // The switch-off lines, with the same delays, until one fails; each name leaves the record once
    // its line was written.
    DWORD SwitchOff(HostWindow hWnd, bool bReconnect, const std::vector<std::string> &names);

    StorableMemberVariable<unsigned int> mToggleDelay;
};
