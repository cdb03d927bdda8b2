// Events and requests of the switch-matrix base: the name tables, the call records and the
// default answers.
#include "core/SwitchMatrixBase.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "core/Saturating.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"

namespace {

constexpr const wchar_t *ModuleName = L"SwitchMatrixBase";

enum class EventValueKind { None, Integer, Double };

struct EventInfo {
    const char *Name;
    EventValueKind Kind;
};

constexpr EventValueKind N = EventValueKind::None;
constexpr EventValueKind I = EventValueKind::Integer;
constexpr EventValueKind D = EventValueKind::Double;

// Indexed by event number - 1; the numbers are the host's.
constexpr EventInfo Events[SwitchMatrixBase::EventCount] = {
    {"TestStarted", N},
    {"TestStopped", N},
    {"InitialisationStarted", N},
    {"InitialisationStopped", N},
    {"ManualModeEnter", N},
    {"ManualModeLeave", N},
    {"FrequencyChanged", D},
    {"CarrierLevelChanged", D},
    {"DwellTimeStarted", N},
    {"DwellTimeStopped", N},
    {"AverageFieldMeasured", D},
    {"CalculatedField", D},
    {"PowerTestStarted", N},
    {"PowerTestStopped", N},
    {"DeviceDriverCheckStarted", I},
    {"DeviceDriverCheckStopped", I},
    {"DeviceDriverInitStarted", I},
    {"DeviceDriverInitStopped", I},
    {"MeasuringCurrent", N},
    {"CurrentMeasured", D},
    {"MeasuringSensorPower", N},
    {"SensorPowerMeasured", D},
    {"MeasuringForwardPower", N},
    {"ForwardPowerMeasured", D},
    {"MeasuringReflectedPower", N},
    {"ReflectedPowerMeasured", D},
    {"MeasuringADConvertor", I},
    {"MeasuringFieldSensor", I},
    {"ForwardPowerZeroStarted", N},
    {"ForwardPowerZeroStopped", N},
    {"ReflectedPowerZeroStarted", N},
    {"ReflectedPowerZeroStopped", N},
    {"SensorPowerZeroStarted", N},
    {"SensorPowerZeroStopped", N},
    {"FieldSensorZeroStarted", I},
    {"FieldSensorZeroStopped", I},
    {"ModulationType", I},
    {"ModulationFrequency", D},
    {"ModulationSpecificParameter", D},
    {"ModulationOn", N},
    {"ModulationOff", N},
    {"OutPowerZeroStarted", N},
    {"OutPowerZeroStopped", N},
    {"MeasuringOutPower", N},
    {"OutPowerMeasured", D},
    {"FieldSensorMeasured", D},
    {"AntennaMovementStarted", N},
    {"AntennaMovementStopped", D},
    {"AntennaMovementPercentage", D},
    {"AntennaMovementChangingPolarisation", D},
    {"TurnTableMovementStarted", D},
    {"TurnTableMovementStopped", D},
    {"TurnTableMovementTurningPercentage", D},
    {"CalculatedCurrent", D},
    {"CalculatedVoltage", D},
    {"CalculatedMagneticField", D},
    {"NetPower", D},
    {"MeasuringForwardPowerBurst", N},
    {"ForwardPowerBurstMeasured", N},
    {"MeasuringForwardPowerLogging", N},
    {"ForwardPowerLoggingMeasured", N},
    {"SendPilotInterfaceData", N},
    {"AntennaPolarisationChanged", D},
    {"RotPositionerMovementStarted", D},
    {"RotPositionerMovementStopped", D},
    {"RotPositionerMovementTurningPercentage", D},
    {"XYPositionerXMovementStopped", D},
    {"XYPositionerXMovementTurningPercentage", D},
    {"XYPositionerXMovementStarted", D},
    {"LinearMovementStarted", D},
    {"LinearMovementStopped", D},
    {"LinearMovementPercentage", D},
    {"XYPositionerYMovementStopped", D},
    {"XYPositionerYMovementStarted", D},
    {"XYPositionerYMovementTurningPercentage", D},
    {"StirrerMovementStarted", D},
    {"StirrerMovementStopped", D},
    {"StirrerMovementTurningPercentage", D},
    {"StirrerRotationStarted", D},
    {"StirrerRotationStopped", N},
    {"StirrerRotationTurningPercentage", D},
    {"PositionerPositionMovementStarted", D},
    {"PositionerPositionMovementStopped", N},
    {"PositionerPositionMovementPercentage", D},
};

constexpr const char *RequestNames[SwitchMatrixBase::RequestCount] = {
    "InterlockClosed", "DwellTimeStartOk", "DwellTimeStopOk", "RetrievePilotInterfaceData"};

constexpr uint32_t RequestInterlockClosed = 1;
constexpr uint32_t RequestDwellTimeStopOk = 3;
constexpr uint32_t RequestRetrievePilotInterfaceData = 4;

std::string Described(const char *operation, const std::string &name, const std::string &value) {
    return MakeString(operation, "(", name, ", ", value, ")");
}

} // namespace

void SwitchMatrixBase::GetEventName(uint32_t dwEvent, double dValue, std::string &sName,
                                    std::string &sValue) {
    if (dwEvent < 1 || dwEvent > EventCount) {
        sName = MakeString(static_cast<int32_t>(dwEvent));
        sValue = MakeString(dValue);
        return;
    }
    const EventInfo &info = Events[dwEvent - 1];
    sName = info.Name;
    switch (info.Kind) {
    case EventValueKind::None:
        sValue.clear();
        break;
    case EventValueKind::Integer:
        sValue = MakeString(SaturatingCast<int>(dValue));
        break;
    case EventValueKind::Double:
        sValue = MakeString(dValue);
        break;
    }
}

void SwitchMatrixBase::GetRequestName(uint32_t dwRequest, const uint32_t &dwAnswer, std::string &sName,
                                      std::string &sValue) {
    if (dwRequest < 1 || dwRequest > RequestCount) {
        sName = MakeString(static_cast<int32_t>(dwRequest));
        sValue = MakeString(static_cast<int32_t>(dwAnswer));
        return;
    }
    sName = RequestNames[dwRequest - 1];
    if (dwRequest == RequestInterlockClosed) {
        sValue = dwAnswer != 0 ? "Closed" : "Open";
    } else if (dwRequest <= RequestDwellTimeStopOk) {
        sValue = dwAnswer != 0 ? "Ok" : "NOT Ok";
    } else {
        char bytes[sizeof dwAnswer];
        std::memcpy(bytes, &dwAnswer, sizeof bytes);
        const void *end = std::memchr(bytes, 0, sizeof bytes);
        sValue.assign(bytes, end ? static_cast<const char *>(end) - bytes : sizeof bytes);
    }
}

DWORD SwitchMatrixBase::HandleEvent(HostWindow, void *, void *) {
    return 0;
}

DWORD SwitchMatrixBase::HandleRequest(HostWindow, void *Data1, void *Data2) {
    if (Data1 == nullptr || Data2 == nullptr)
        return ResultCode::ValueDataMissing;
    const uint32_t request = *static_cast<const uint32_t *>(Data1);
    if (request >= RequestInterlockClosed && request <= RequestDwellTimeStopOk)
        *static_cast<uint32_t *>(Data2) = 1;
    else if (request == RequestRetrievePilotInterfaceData)
        *static_cast<char *>(Data2) = '\0'; // no pilot interface data: an empty text
    return 0;
}

DWORD SwitchMatrixBase::SetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) {
    if (dwValueID != ValueID::SwitchMatrixEvent)
        return DeviceDriverBase::SetValue(hWnd, dwValueID, Data1, Data2);

    QuellinEntry entry(ModuleName, L"SetValue");
    if (Data1 == nullptr || Data2 == nullptr) {
        const DWORD result = ResultCode::ValueDataMissing;
        entry.LogBegin(QuellinLevelNote, QuellinDescription, MakeString("HandleEvent(", NullGuardText, ")"));
        entry.LogEnd(ResultSeverityText(result), QuellinMarkerOutput, L"Err", result);
        return result;
    }
    const DWORD event = *static_cast<const uint32_t *>(Data1);
    const double data = *static_cast<const double *>(Data2);
    std::string name, value;
    GetEventName(static_cast<uint32_t>(event), data, name, value);
    if (value.empty())
        entry.LogBegin(QuellinLevelNote, QuellinDescription, MakeString("HandleEvent(", name, ")"),
                       QuellinMarkerInput, L"event", event, L"eventName", name);
    else
        entry.LogBegin(QuellinLevelNote, QuellinDescription, Described("HandleEvent", name, value),
                       QuellinMarkerInput, L"event", event, L"eventName", name, L"data", data, L"eventValue",
                       value);

    const DWORD result = HandleEvent(hWnd, Data1, Data2);
    entry.LogEnd(ResultSeverityText(result), QuellinMarkerOutput, L"Err", result);
    return result;
}

DWORD SwitchMatrixBase::GetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) {
    if (dwValueID != ValueID::SwitchMatrixRequest)
        return DeviceDriverBase::GetValue(hWnd, dwValueID, Data1, Data2);

    QuellinEntry entry(ModuleName, L"GetValue");
    if (Data1 == nullptr || Data2 == nullptr) {
        const DWORD result = ResultCode::ValueDataMissing;
        entry.LogBegin(QuellinLevelNote, QuellinDescription,
                       MakeString("HandleRequest(", NullGuardText, ")"));
        entry.LogEnd(ResultSeverityText(result), QuellinMarkerOutput, L"Err", result);
        return result;
    }
    const uint32_t *requestWord = static_cast<const uint32_t *>(Data1);
    const uint32_t *answerWord = static_cast<const uint32_t *>(Data2);
    std::string name, value;
    GetRequestName(*requestWord, *answerWord, name, value);
    const DWORD request = *requestWord;
    entry.LogBegin(QuellinLevelNote, QuellinDescription, Described("HandleRequest", name, value),
                   QuellinMarkerInput, L"request", request, L"requestName", name);

    const DWORD result = HandleRequest(hWnd, Data1, Data2);

    GetRequestName(*requestWord, *answerWord, name, value);
    const int answer = static_cast<int32_t>(*answerWord);
    entry.LogEnd(ResultSeverityText(result), QuellinDescription, Described("HandleRequest", name, value),
                 QuellinMarkerOutput, L"value", value, L"data", answer, L"Err", result);
    return result;
}
