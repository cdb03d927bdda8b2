// The PECOS EUT controller ("PONTISPECOS_EUT_8"): the host's test events become screen lines on
// the PECOS side, "<KEYWORD> <text>\n", one per known event, each followed by a pause of 100 ms.
// InitDevice and the event TestStopped reset all fourteen lines to their dash texts.
#pragma once

#include <string>

#include "pecos/PontisPecosBase.h"

class PontisPecosEUTControllerBase : public PontisPecosBase<SwitchMatrixBase> {
public:
    PontisPecosEUTControllerBase();
    ~PontisPecosEUTControllerBase() override;

    // The fourteen dash lines, stopping at the first failure.
    virtual DWORD ClearScreenText(HostWindow hWnd);
    virtual std::string KeywordPrefix() { return "ID_"; }
    virtual DWORD SetScreenText(HostWindow hWnd, const std::string &sIdentifier,
                                const std::string &sValue) = 0;
    virtual std::string FrequencyKeyword() { return KeywordPrefix() + "FREQUENCY"; }
    virtual std::string FieldStrengthKeyword() { return KeywordPrefix() + "FIELDSTRENGTH"; }
    virtual std::string ForwardPowerKeyword() { return KeywordPrefix() + "FORWARDPOWER"; }
    virtual std::string ReflectedPowerKeyword() { return KeywordPrefix() + "REFLECTEDPOWER"; }
    virtual std::string NettoPowerKeyword() { return KeywordPrefix() + "NETTOPOWER"; }
    virtual std::string CarrierLevelKeyword() { return KeywordPrefix() + "CARRIERLEVEL"; }
    virtual std::string ModulationKeyword() { return KeywordPrefix() + "MODULATION"; }
    virtual std::string HeightKeyword() { return KeywordPrefix() + "HEIGHT"; }
    virtual std::string PolarisationKeyword() { return KeywordPrefix() + "POLARISATION"; }
    virtual std::string AngleKeyword() { return KeywordPrefix() + "ANGLE"; }
    virtual std::string AverageKeyword() { return KeywordPrefix() + "AVERAGE"; }
    virtual std::string CalculatedFieldKeyword() { return KeywordPrefix() + "CALCULATEDFIELD"; }
    virtual std::string CalculatedCurrentKeyword() { return KeywordPrefix() + "CALCULATEDCURRENT"; }
    virtual std::string CalculatedVoltageKeyword() { return KeywordPrefix() + "CALCULATEDVOLTAGE"; }

    // Data1: the event number (uint32_t), Data2: its value (double), changed in place where a
    // value rule applies.
    DWORD HandleEvent(HostWindow hWnd, void *Data1, void *Data2) override;
    // Connect, log in, clear the screen.
    DWORD InitDevice(HostWindow hWnd) override;
};

class PontisPecosSCPI_EUTController : public PontisPecosSCPIBase<PontisPecosEUTControllerBase> {
public:
    static constexpr unsigned int ScreenLinePause = 100; // ms

    explicit PontisPecosSCPI_EUTController(const std::string &sExpectedResponse);
    ~PontisPecosSCPI_EUTController() override;

    std::string KeywordPrefix() override { return std::string(); }
    // Writes "<identifier> <value>", then pauses.
    DWORD SetScreenText(HostWindow hWnd, const std::string &sIdentifier, const std::string &sValue) override;
};
