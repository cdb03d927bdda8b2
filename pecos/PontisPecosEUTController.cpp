// The PECOS EUT controller: host events as screen lines.
#include "pecos/PontisPecosEUTController.h"

#include "core/StringUtils.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"

namespace {

constexpr double LowestPower = -150.0;  // dBm; lower powers are shown as this
constexpr double LowestField = -0.1;    // V/m; lower fields are shown as 0
constexpr double HorizontalLimit = 1.0; // a polarisation value above it is vertical

} // namespace

PontisPecosEUTControllerBase::PontisPecosEUTControllerBase() = default;
PontisPecosEUTControllerBase::~PontisPecosEUTControllerBase() = default;

DWORD PontisPecosEUTControllerBase::ClearScreenText(HostWindow hWnd) {
    QuellinEntry entry("PontisPecosEUTControllerBase", "ClearScreenText()");
    entry.LogBegin(QuellinLevelNote);
    using Keyword = std::string (PontisPecosEUTControllerBase::*)();
    static const std::pair<Keyword, const char *> Lines[] = {
        {&PontisPecosEUTControllerBase::FrequencyKeyword, "Frequency ---\n"},
        {&PontisPecosEUTControllerBase::FieldStrengthKeyword, "Field ---\n"},
        {&PontisPecosEUTControllerBase::ForwardPowerKeyword, "Forward power ---\n"},
        {&PontisPecosEUTControllerBase::ReflectedPowerKeyword, "Reflected power ---\n"},
        {&PontisPecosEUTControllerBase::NettoPowerKeyword, "Netto power ---\n"},
        {&PontisPecosEUTControllerBase::CarrierLevelKeyword, "Carrier level ---\n"},
        {&PontisPecosEUTControllerBase::AverageKeyword, "Average-field: ---\n"},
        {&PontisPecosEUTControllerBase::CalculatedFieldKeyword, "Calculated-field: ---\n"},
        {&PontisPecosEUTControllerBase::ModulationKeyword, "Modulation ---\n"},
        {&PontisPecosEUTControllerBase::HeightKeyword, "Height: ---\n"},
        {&PontisPecosEUTControllerBase::AngleKeyword, "Angle: ---\n"},
        {&PontisPecosEUTControllerBase::CalculatedCurrentKeyword, "Calculated current: ---\n"},
        {&PontisPecosEUTControllerBase::CalculatedVoltageKeyword, "Calculated voltage: ---\n"},
        {&PontisPecosEUTControllerBase::PolarisationKeyword, "Polarisation: ---\n"},
    };
    DWORD result = 0;
    for (const auto &line : Lines) {
        result = SetScreenText(hWnd, (this->*line.first)(), line.second);
        if (result != 0)
            break;
    }
    return PecosLogEnd(entry, result);
}

DWORD PontisPecosEUTControllerBase::HandleEvent(HostWindow hWnd, void *Data1, void *Data2) {
    QuellinEntry entry("PontisPecosEUTControllerBase", "HandleEvent()");
    entry.LogBegin(QuellinLevelNote);
    const uint32_t *event = static_cast<const uint32_t *>(Data1);
    double *value = static_cast<double *>(Data2);
    if (event == nullptr)
        return PecosLogEnd(entry, ResultCode::ValueDataMissing);
    // Events whose line carries the value: keyword, format and the rule applied to the value first.
    enum class Rule { None, PowerFloor, FieldFloor };
    struct ValueLine {
        uint32_t Event;
        std::string (PontisPecosEUTControllerBase::*Keyword)();
        const char *Format;
        Rule ValueRule;
    };
    static const ValueLine ValueLines[] = {
        {7, &PontisPecosEUTControllerBase::FrequencyKeyword, "Frequency: %lG MHz \n", Rule::None},
        {8, &PontisPecosEUTControllerBase::CarrierLevelKeyword, "Carrier level: %lG dBm\n", Rule::None},
        {11, &PontisPecosEUTControllerBase::AverageKeyword, "Average-field: %lG V/m\n", Rule::None},
        {12, &PontisPecosEUTControllerBase::CalculatedFieldKeyword, "Calculated-field: %lG V/m\n",
         Rule::None},
        {24, &PontisPecosEUTControllerBase::ForwardPowerKeyword, "Forward power: %lG dBm \n",
         Rule::PowerFloor},
        {26, &PontisPecosEUTControllerBase::ReflectedPowerKeyword, "Reflected power: %lG dBm\n",
         Rule::PowerFloor},
        {46, &PontisPecosEUTControllerBase::FieldStrengthKeyword, "Field: %lG V/m \n", Rule::FieldFloor},
        {48, &PontisPecosEUTControllerBase::HeightKeyword, "Height: %lG m\n", Rule::None},
        {52, &PontisPecosEUTControllerBase::AngleKeyword, "Angle: %lG degrees\n", Rule::None},
        {54, &PontisPecosEUTControllerBase::CalculatedCurrentKeyword, "Calculated current: %lG A\n",
         Rule::None},
        {55, &PontisPecosEUTControllerBase::CalculatedVoltageKeyword, "Calculated voltage: %lG V\n",
         Rule::None},
        {57, &PontisPecosEUTControllerBase::NettoPowerKeyword, "Netto power: %lG dBm\n", Rule::PowerFloor},
    };
    DWORD result = 0;
    switch (*event) {
    case 2: // TestStopped
        result = ClearScreenText(hWnd);
        break;
    case 40: // ModulationOn
        result = SetScreenText(hWnd, ModulationKeyword(), "Modulation On\n");
        break;
    case 41: // ModulationOff
        result = SetScreenText(hWnd, ModulationKeyword(), "Modulation Off\n");
        break;
    case 63: // AntennaPolarisationChanged
        if (value == nullptr)
            return PecosLogEnd(entry, ResultCode::ValueDataMissing);
        result = SetScreenText(hWnd, PolarisationKeyword(),
                               *value > HorizontalLimit ? "Polarisation: vertical\n"
                                                        : "Polarisation: horizontal\n");
        break;
    default:
        for (const auto &line : ValueLines) {
            if (line.Event != *event)
                continue;
            if (value == nullptr)
                return PecosLogEnd(entry, ResultCode::ValueDataMissing);
            if (line.ValueRule == Rule::PowerFloor && *value < LowestPower)
                *value = LowestPower;
            else if (line.ValueRule == Rule::FieldFloor && *value < LowestField)
                *value = 0.0;
            result = SetScreenText(hWnd, (this->*line.Keyword)(), FormatString(line.Format, *value));
            break;
        }
    }
    return PecosLogEnd(entry, result);
}

DWORD PontisPecosEUTControllerBase::InitDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosEUTControllerBase", "InitDevice()", [&] {
        return InitSession(hWnd, [&] {
            const DWORD result = AfterLoginConfiguration(hWnd);
            return result != 0 ? result : ClearScreenText(hWnd);
        });
    });
}

PontisPecosSCPI_EUTController::PontisPecosSCPI_EUTController(const std::string &sExpectedResponse)
    : PontisPecosSCPIBase<PontisPecosEUTControllerBase>(sExpectedResponse) {
    // The title of its windows until the host's table "Common" gives another.
    msOwnDescription = ToStdWstring(sExpectedResponse) + L" EUT controller";
}

PontisPecosSCPI_EUTController::~PontisPecosSCPI_EUTController() = default;

DWORD PontisPecosSCPI_EUTController::SetScreenText(HostWindow hWnd, const std::string &sIdentifier,
                                                   const std::string &sValue) {
    QuellinEntry entry("PontisPecosSCPI_EUTController", "SetScreenText");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, MakeString("SetScreenText(", sValue, ")"),
                   L"identifier", sIdentifier, L"value", sValue);
    // Until the line went out, the call has more to send; after it, only the pause may be left.
    this->SetOnlyPauseLeft(false);
    const DWORD result = WriteLine(hWnd, sIdentifier + " " + sValue);
    this->SetOnlyPauseLeft(result == 0);
    if (result == 0)
        PauseUnlessRemoved(ScreenLinePause);
    return PecosLogEnd(entry, result);
}
