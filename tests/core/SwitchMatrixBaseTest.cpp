// The switch-matrix base: event and request names, the records of both, the default answers and
// the hand-down of every other identifier.
#include "core/SwitchMatrixBase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "DriverRecords.h"

namespace {

class EventRecorder : public SwitchMatrixBase {
public:
    DWORD HandleEvent(HostWindow, void *Data1, void *Data2) override {
        LastEvent = *static_cast<uint32_t *>(Data1);
        LastValue = *static_cast<double *>(Data2);
        ++Events;
        return EventResult;
    }
    uint32_t LastEvent = 0;
    double LastValue = 0;
    int Events = 0;
    DWORD EventResult = 0;
};

std::string Name(uint32_t event, double value = 0) {
    std::string name, text;
    SwitchMatrixBase::GetEventName(event, value, name, text);
    return name;
}

std::string ValueText(uint32_t event, double value) {
    std::string name, text;
    SwitchMatrixBase::GetEventName(event, value, name, text);
    return text;
}

class SwitchMatrixBaseTest : public ::testing::Test {
protected:
    std::optional<DriverRecords::Call> Call(const wchar_t *function) {
        return DriverRecords::FindCall(mRecords.Take(), L"SwitchMatrixBase", function);
    }

    DriverRecords mRecords;
    EventRecorder mDriver;
};

} // namespace

TEST(SwitchMatrixNamesTest, AllEightyFourEventsHaveTheHostsNames) {
    const char *names[] = {"TestStarted",
                           "TestStopped",
                           "InitialisationStarted",
                           "InitialisationStopped",
                           "ManualModeEnter",
                           "ManualModeLeave",
                           "FrequencyChanged",
                           "CarrierLevelChanged",
                           "DwellTimeStarted",
                           "DwellTimeStopped",
                           "AverageFieldMeasured",
                           "CalculatedField",
                           "PowerTestStarted",
                           "PowerTestStopped",
                           "DeviceDriverCheckStarted",
                           "DeviceDriverCheckStopped",
                           "DeviceDriverInitStarted",
                           "DeviceDriverInitStopped",
                           "MeasuringCurrent",
                           "CurrentMeasured",
                           "MeasuringSensorPower",
                           "SensorPowerMeasured",
                           "MeasuringForwardPower",
                           "ForwardPowerMeasured",
                           "MeasuringReflectedPower",
                           "ReflectedPowerMeasured",
                           "MeasuringADConvertor",
                           "MeasuringFieldSensor",
                           "ForwardPowerZeroStarted",
                           "ForwardPowerZeroStopped",
                           "ReflectedPowerZeroStarted",
                           "ReflectedPowerZeroStopped",
                           "SensorPowerZeroStarted",
                           "SensorPowerZeroStopped",
                           "FieldSensorZeroStarted",
                           "FieldSensorZeroStopped",
                           "ModulationType",
                           "ModulationFrequency",
                           "ModulationSpecificParameter",
                           "ModulationOn",
                           "ModulationOff",
                           "OutPowerZeroStarted",
                           "OutPowerZeroStopped",
                           "MeasuringOutPower",
                           "OutPowerMeasured",
                           "FieldSensorMeasured",
                           "AntennaMovementStarted",
                           "AntennaMovementStopped",
                           "AntennaMovementPercentage",
                           "AntennaMovementChangingPolarisation",
                           "TurnTableMovementStarted",
                           "TurnTableMovementStopped",
                           "TurnTableMovementTurningPercentage",
                           "CalculatedCurrent",
                           "CalculatedVoltage",
                           "CalculatedMagneticField",
                           "NetPower",
                           "MeasuringForwardPowerBurst",
                           "ForwardPowerBurstMeasured",
                           "MeasuringForwardPowerLogging",
                           "ForwardPowerLoggingMeasured",
                           "SendPilotInterfaceData",
                           "AntennaPolarisationChanged",
                           "RotPositionerMovementStarted",
                           "RotPositionerMovementStopped",
                           "RotPositionerMovementTurningPercentage",
                           "XYPositionerXMovementStopped",
                           "XYPositionerXMovementTurningPercentage",
                           "XYPositionerXMovementStarted",
                           "LinearMovementStarted",
                           "LinearMovementStopped",
                           "LinearMovementPercentage",
                           "XYPositionerYMovementStopped",
                           "XYPositionerYMovementStarted",
                           "XYPositionerYMovementTurningPercentage",
                           "StirrerMovementStarted",
                           "StirrerMovementStopped",
                           "StirrerMovementTurningPercentage",
                           "StirrerRotationStarted",
                           "StirrerRotationStopped",
                           "StirrerRotationTurningPercentage",
                           "PositionerPositionMovementStarted",
                           "PositionerPositionMovementStopped",
                           "PositionerPositionMovementPercentage"};
    static_assert(sizeof names / sizeof names[0] == 84);
    for (uint32_t event = 1; event <= 84; ++event)
        EXPECT_EQ(names[event - 1], Name(event)) << event;
    EXPECT_EQ("0", Name(0));
    EXPECT_EQ("85", Name(85));
    EXPECT_EQ("-1", Name(0xFFFFFFFF));
}

TEST(SwitchMatrixNamesTest, ValueTextsFollowTheEventKind) {
    for (uint32_t event :
         {1u, 6u, 9u, 10u, 13u, 14u, 19u, 21u, 23u, 25u, 29u, 34u, 40u, 44u, 47u, 58u, 62u, 80u, 83u})
        EXPECT_EQ("", ValueText(event, 12.5)) << event;
    EXPECT_EQ("3", ValueText(15, 3.9));
    EXPECT_EQ("-2", ValueText(15, -2.5));
    EXPECT_EQ("7", ValueText(37, 7.99));
    EXPECT_EQ("1e+09", ValueText(7, 1e9));
    EXPECT_EQ("0.0001", ValueText(84, 1e-4));
    EXPECT_EQ("1e-05", ValueText(84, 1e-5));
    EXPECT_EQ("123457", ValueText(48, 123456.7));
    EXPECT_EQ("12.5", ValueText(0, 12.5));
    // Values beyond the integer range saturate; NaN gives 0.
    EXPECT_EQ("2147483647", ValueText(16, 1e12));
    EXPECT_EQ("-2147483648", ValueText(16, -1e12));
    EXPECT_EQ("0", ValueText(16, std::numeric_limits<double>::quiet_NaN()));
}

TEST(SwitchMatrixNamesTest, RequestNamesAndAnswerTexts) {
    std::string name, text;
    SwitchMatrixBase::GetRequestName(1, 0, name, text);
    EXPECT_EQ("InterlockClosed", name);
    EXPECT_EQ("Open", text);
    SwitchMatrixBase::GetRequestName(1, 1, name, text);
    EXPECT_EQ("Closed", text);
    SwitchMatrixBase::GetRequestName(2, 0, name, text);
    EXPECT_EQ("DwellTimeStartOk", name);
    EXPECT_EQ("NOT Ok", text);
    SwitchMatrixBase::GetRequestName(3, 2, name, text);
    EXPECT_EQ("DwellTimeStopOk", name);
    EXPECT_EQ("Ok", text);
    uint32_t word;
    std::memcpy(&word, "abcd", 4);
    SwitchMatrixBase::GetRequestName(4, word, name, text);
    EXPECT_EQ("RetrievePilotInterfaceData", name);
    EXPECT_EQ("abcd", text) << "read within the four bytes";
    SwitchMatrixBase::GetRequestName(7, 0xFFFFFFFB, name, text);
    EXPECT_EQ("7", name);
    EXPECT_EQ("-5", text);
}

TEST_F(SwitchMatrixBaseTest, EventWithAValueIsRecordedWithFourInputFields) {
    uint32_t event = 7;
    double value = 1e9;
    EXPECT_EQ(0u, mDriver.SetValue(nullptr, 1500, &event, &value));
    EXPECT_EQ(7u, mDriver.LastEvent);
    EXPECT_EQ(1e9, mDriver.LastValue);
    auto call = Call(L"SetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"Note", call->Begin.Level);
    EXPECT_EQ(L"HandleEvent(FrequencyChanged, 1e+09)", call->Begin.Value(L"description"));
    const Quellin::Item *eventItem = call->Begin.Find(L"event", L"!input");
    ASSERT_NE(nullptr, eventItem);
    EXPECT_EQ('a', eventItem->Type);
    EXPECT_EQ(L"7", eventItem->Value);
    EXPECT_EQ(L"FrequencyChanged", call->Begin.Value(L"eventName", L"!input"));
    EXPECT_EQ(L"1e+09", call->Begin.Value(L"data", L"!input"));
    EXPECT_EQ(L"1e+09", call->Begin.Value(L"eventValue", L"!input"));
    EXPECT_EQ(L"Complete", call->End.Level);
    EXPECT_EQ(L"0", call->End.Value(L"Err", L"!output"));
}

TEST_F(SwitchMatrixBaseTest, EventWithoutAValueAndUnknownEventsReachTheHandler) {
    uint32_t event = 1;
    double value = 42;
    mDriver.EventResult = 0x30000005;
    EXPECT_EQ(0x30000005u, mDriver.SetValue(nullptr, 1500, &event, &value));
    auto call = Call(L"SetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"HandleEvent(TestStarted)", call->Begin.Value(L"description"));
    EXPECT_EQ(nullptr, call->Begin.Find(L"data"));
    EXPECT_EQ(nullptr, call->Begin.Find(L"eventValue"));
    EXPECT_EQ(L"Error", call->End.Level);

    mDriver.EventResult = 0;
    for (uint32_t unknown : {0u, 85u}) {
        event = unknown;
        EXPECT_EQ(0u, mDriver.SetValue(nullptr, 1500, &event, &value));
        EXPECT_EQ(unknown, mDriver.LastEvent);
    }
    EXPECT_EQ(3, mDriver.Events);
    call = Call(L"SetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"HandleEvent(0, 42)", call->Begin.Value(L"description"));

    EXPECT_EQ(ResultCode::ValueDataMissing, mDriver.SetValue(nullptr, 1500, nullptr, &value));
    EXPECT_EQ(ResultCode::ValueDataMissing, mDriver.SetValue(nullptr, 1500, &event, nullptr));
    EXPECT_EQ(3, mDriver.Events);
}

TEST_F(SwitchMatrixBaseTest, DefaultRequestAnswers) {
    uint32_t request = 1, answer = 0;
    EXPECT_EQ(0u, mDriver.GetValue(nullptr, 1550, &request, &answer));
    EXPECT_EQ(1u, answer);
    auto call = Call(L"GetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"HandleRequest(InterlockClosed, Open)", call->Begin.Value(L"description"));
    EXPECT_EQ(L"InterlockClosed", call->Begin.Value(L"requestName", L"!input"));
    EXPECT_EQ(L"HandleRequest(InterlockClosed, Closed)", call->End.Value(L"description"));
    EXPECT_EQ(L"Closed", call->End.Value(L"value", L"!output"));
    EXPECT_EQ(L"1", call->End.Value(L"data", L"!output"));
    EXPECT_EQ(L"Complete", call->End.Level);

    for (uint32_t number : {2u, 3u}) {
        request = number;
        answer = 0;
        EXPECT_EQ(0u, mDriver.GetValue(nullptr, 1550, &request, &answer));
        EXPECT_EQ(1u, answer);
    }

    request = 4;
    std::memcpy(&answer, "xyz", 4);
    EXPECT_EQ(0u, mDriver.GetValue(nullptr, 1550, &request, &answer));
    EXPECT_EQ('\0', reinterpret_cast<char *>(&answer)[0]);
    mRecords.Take();

    request = 7;
    answer = 5;
    EXPECT_EQ(0u, mDriver.GetValue(nullptr, 1550, &request, &answer));
    EXPECT_EQ(5u, answer);
    call = Call(L"GetValue");
    ASSERT_TRUE(call);
    EXPECT_EQ(L"HandleRequest(7, 5)", call->Begin.Value(L"description"));
    EXPECT_EQ(L"HandleRequest(7, 5)", call->End.Value(L"description"));

    EXPECT_EQ(ResultCode::ValueDataMissing, mDriver.GetValue(nullptr, 1550, &request, nullptr));
}

TEST_F(SwitchMatrixBaseTest, OtherIdentifiersGoToTheDriverBaseWithoutARecordOfTheirOwn) {
    uint32_t word = 1;
    double value = 1;
    EXPECT_EQ(0x300000CCu, mDriver.SetValue(nullptr, 1501, &word, &value));
    uint32_t code = 9, remaining = 9;
    EXPECT_EQ(0u, mDriver.GetValue(nullptr, 58, &code, &remaining));
    EXPECT_EQ(0u, code);
    auto records = mRecords.Take();
    EXPECT_EQ(0u, DriverRecords::CountModule(records, L"SwitchMatrixBase"));
    EXPECT_TRUE(DriverRecords::FindCall(records, L"DeviceDriverBase", L"SetValue"));
    EXPECT_TRUE(DriverRecords::FindCall(records, L"DeviceDriverBase", L"GetValue"));
    EXPECT_EQ(0, mDriver.Events);
}
