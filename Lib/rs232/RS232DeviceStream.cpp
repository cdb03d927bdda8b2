// The "RS-232" stream kind: configuration, stream, page and their registration.
#include "rs232/RS232DeviceStream.h"

#include <algorithm>
#include <tuple>

#include "core/PanelResourceName.h"
#include "core/ProgramSettingsDatabase.h"
#include "core/ResourceWindows.h"
#include "core/StringUtils.h"
#include "platform/SerialPort.h"
#include "ui/wxCustomValidator.h"
#include "ui/wxDecorator.h"

namespace {

const StreamTypeRegistrar gRS232Stream(RS232StreamKind, &CreateRS232DeviceStream);
const StreamTypeRegistrar gRS232Configuration(RS232StreamKind, &CreateRS232DeviceStreamConfiguration);

constexpr const char *StreamPageResource = "RS232StreamConfiguration";
constexpr DWORD OperationCompleteReplySize = 10;

template <typename E> E ReadEnum(ProgramSettingsDatabase &database, const char *key, E current) {
    return static_cast<E>(database.ReadInt(key, static_cast<int>(current)));
}

DWORD MillisecondsOf(double dSeconds) {
    return SaturatingToUnsigned(SecondsToMilliseconds(dSeconds));
}

// A wait for input that saw none: over VISA it answers VISA's time-out.
bool IsQuietWait(DWORD dwWaited) {
    return dwWaited == 0 || dwWaited == RS232RunTimeData::VisaTimeoutStatus;
}

} // namespace

WriteReadDeviceStream *CreateRS232DeviceStream() {
    return new RS232DeviceStream();
}

DeviceStreamConfiguration *CreateRS232DeviceStreamConfiguration() {
    return new RS232DeviceStreamConfiguration();
}

// ---- Configuration ---------------------------------------------------------------------------------

RS232DeviceStreamConfiguration::RS232DeviceStreamConfiguration()
    : DeviceStreamConfiguration(RS232StreamKind) {}

RS232DeviceStreamConfiguration::~RS232DeviceStreamConfiguration() = default;

DWORD RS232DeviceStreamConfiguration::LoadProgramSettings(
    std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable("RS232");
    mnCOMPort = database->ReadInt("COMPort", std::max(mnCOMPort, 1));
    meParity = ReadEnum(*database, "Parity", meParity);
    meDataBits = ReadEnum(*database, "DataBits", meDataBits);
    meBaudRate = ReadEnum(*database, "BaudRate", meBaudRate);
    meStopBits = ReadEnum(*database, "StopBits", meStopBits);
    meSendTermination = ReadEnum(*database, "SendTermination", meSendTermination);
    meReceiveTermination = ReadEnum(*database, "ReceiveTermination", meReceiveTermination);
    mbCOMPortSharing = database->ReadBool("COMPortSharing", mbCOMPortSharing);
    mbNewLineReturnIsEndOfString =
        database->ReadBool("NewLineReturnIsEndOfString", mbNewLineReturnIsEndOfString);
    database->PopTable();
    return 0;
}

DWORD RS232DeviceStreamConfiguration::SaveProgramSettings(
    std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable("RS232");
    database->WriteInt("COMPort", std::max(mnCOMPort, 1));
    database->WriteInt("Parity", meParity);
    database->WriteInt("DataBits", meDataBits);
    database->WriteInt("BaudRate", meBaudRate);
    database->WriteInt("StopBits", meStopBits);
    database->WriteInt("SendTermination", meSendTermination);
    database->WriteInt("ReceiveTermination", meReceiveTermination);
    database->WriteBool("COMPortSharing", mbCOMPortSharing);
    database->WriteBool("NewLineReturnIsEndOfString", mbNewLineReturnIsEndOfString);
    database->PopTable();
    return 0;
}

DWORD RS232DeviceStreamConfiguration::ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) {
    return static_cast<DWORD>(ShowConfigurationWindowAsDialog(new RS232DSConfigurationDialog(this), hWnd,
                                                              StreamPageResource, wxString(sTitle)));
}

DWORD RS232DeviceStreamConfiguration::AddConfigurationDialogPanels(HostWindow,
                                                                   PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new RS232DSConfigurationDialog(this), StreamPageResource,
                                     wxString::FromUTF8(GetIDString().c_str()));
    return 0;
}

bool RS232DeviceStreamConfiguration::LessThan(std::shared_ptr<DeviceStreamConfiguration> other) {
    const int kind = Compare(other.get());
    if (kind != 0)
        return kind < 0;
    const auto *right = dynamic_cast<const RS232DeviceStreamConfiguration *>(other.get());
    if (right == nullptr)
        return false;
    const auto key = [](const RS232DeviceStreamConfiguration &c) {
        return std::make_tuple(c.mnCOMPort, c.meBaudRate, c.meParity, c.meDataBits, c.meStopBits,
                               c.meSendTermination, c.meReceiveTermination, c.mbNewLineReturnIsEndOfString,
                               c.mbRTSAroundWrite, c.mbRTSEnable, c.mbXonXoffFlowControl);
    };
    return key(*this) < key(*right);
}

std::string RS232DeviceStreamConfiguration::GetIdentifier() {
    return FormatString("RS232:COM%d", mnCOMPort);
}

bool RS232DeviceStreamConfiguration::IsValid() {
    return mnCOMPort >= RS232Configuration::MinimumCOMPort && mnCOMPort <= RS232Configuration::MaximumCOMPort;
}

std::string RS232DeviceStreamConfiguration::GetErrorText(DWORD dwCode) {
    const bool bOwn = RS232Result::HasPortText(dwCode) || dwCode == Platform::SerialError::IoDevice;
    return bOwn ? RS232DeviceDriver::LanguageErrorText(dwCode, mnCOMPort) : std::string();
}

int RS232DeviceStreamConfiguration::GetCOMPort() const {
    return mnCOMPort;
}
void RS232DeviceStreamConfiguration::SetCOMPort(int nPort) {
    mnCOMPort = nPort;
}
Parity RS232DeviceStreamConfiguration::GetParity() const {
    return meParity;
}
void RS232DeviceStreamConfiguration::SetParity(Parity eParity) {
    meParity = eParity;
}
BaudRate RS232DeviceStreamConfiguration::GetBaudRate() const {
    return meBaudRate;
}
void RS232DeviceStreamConfiguration::SetBaudRate(BaudRate eBaudRate) {
    meBaudRate = eBaudRate;
}
DataBits RS232DeviceStreamConfiguration::GetDataBits() const {
    return meDataBits;
}
void RS232DeviceStreamConfiguration::SetDataBits(DataBits eDataBits) {
    meDataBits = eDataBits;
}
StopBits RS232DeviceStreamConfiguration::GetStopBits() const {
    return meStopBits;
}
void RS232DeviceStreamConfiguration::SetStopBits(StopBits eStopBits) {
    meStopBits = eStopBits;
}
CommunicationTerminationOption RS232DeviceStreamConfiguration::GetSendTermination() const {
    return meSendTermination;
}
void RS232DeviceStreamConfiguration::SetSendTermination(CommunicationTerminationOption eOption) {
    meSendTermination = eOption;
}
CommunicationTerminationOption RS232DeviceStreamConfiguration::GetReceiveTermination() const {
    return meReceiveTermination;
}
void RS232DeviceStreamConfiguration::SetReceiveTermination(CommunicationTerminationOption eOption) {
    meReceiveTermination = eOption;
}
bool RS232DeviceStreamConfiguration::GetCOMPortSharing() const {
    return mbCOMPortSharing;
}
void RS232DeviceStreamConfiguration::SetCOMPortSharing(bool bSharing) {
    mbCOMPortSharing = bSharing;
}
void RS232DeviceStreamConfiguration::SetRTSAroundWrite(bool bEnable) {
    mbRTSAroundWrite = bEnable;
}
bool RS232DeviceStreamConfiguration::GetRTSAroundWrite() const {
    return mbRTSAroundWrite;
}
void RS232DeviceStreamConfiguration::SetRTSEnable(bool bEnable) {
    mbRTSEnable = bEnable;
}
bool RS232DeviceStreamConfiguration::GetRTSEnable() const {
    return mbRTSEnable;
}
bool RS232DeviceStreamConfiguration::GetXonXoffFlowControl() const {
    return mbXonXoffFlowControl;
}
void RS232DeviceStreamConfiguration::SetXonXoffFlowControl(bool bEnable) {
    mbXonXoffFlowControl = bEnable;
}
bool RS232DeviceStreamConfiguration::GetNewLineReturnIsEndOfString() const {
    return mbNewLineReturnIsEndOfString;
}
void RS232DeviceStreamConfiguration::SetNewLineReturnIsEndOfString(bool bEnable) {
    mbNewLineReturnIsEndOfString = bEnable;
}

void RS232DeviceStreamConfiguration::SetAllControlsEnabled(bool bEnabled) {
    mbParityEnabled = mbDataBitsEnabled = mbBaudRateEnabled = mbStopBitsEnabled = bEnabled;
    mbSendTerminationEnabled = mbReceiveTerminationEnabled = mbNewLineReturnIsEndOfStringEnabled = bEnabled;
}

void RS232DeviceStreamConfiguration::SetFromRS232Configuration(const RS232Configuration &configuration) {
    mnCOMPort = configuration.GetCOMPort();
    meParity = configuration.GetParity();
    meBaudRate = configuration.GetBaudRate();
    meDataBits = configuration.GetDataBits();
    meStopBits = configuration.GetStopBits();
    mbCOMPortSharing = configuration.GetCOMPortSharing();
    mbRTSAroundWrite = configuration.GetRTSAroundWrite();
    mbNewLineReturnIsEndOfString = configuration.GetNewLineReturnIsEndOfString();
    mbRTSEnable = configuration.GetRTSEnable();
    mbXonXoffFlowControl = configuration.GetXonXoffFlowControl();
}

void RS232DeviceStreamConfiguration::CopyToRS232Configuration(RS232Configuration &configuration) const {
    configuration.SetCOMPort(mnCOMPort);
    configuration.SetParity(meParity);
    configuration.SetBaudRate(meBaudRate);
    configuration.SetDataBits(meDataBits);
    configuration.SetStopBits(meStopBits);
    configuration.SetCOMPortSharing(mbCOMPortSharing);
    configuration.SetRTSAroundWrite(mbRTSAroundWrite);
    configuration.SetNewLineReturnIsEndOfString(mbNewLineReturnIsEndOfString);
    configuration.SetRTSEnable(mbRTSEnable);
    configuration.SetXonXoffFlowControl(mbXonXoffFlowControl);
}

// ---- Stream ----------------------------------------------------------------------------------------

RS232DeviceStream::RS232DeviceStream() = default;

RS232DeviceStream::~RS232DeviceStream() = default;

DWORD RS232DeviceStream::SetTimeout(HostWindow hWnd, double dSeconds) {
    if (!IsUsableTimeout(dSeconds))
        return StreamResult::CouldNotSetValue;
    const DWORD driverResult = mDriver.SetTimeout(MillisecondsOf(dSeconds));
    const DWORD baseResult = WriteReadDeviceStream::SetTimeout(hWnd, dSeconds);
    return FirstNonZero(baseResult, driverResult);
}

DWORD RS232DeviceStream::Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                                 DeviceStreamClient *clientEntry) {
    if (configuration)
        SetLockName(configuration->GetIdentifier());
    DWORD result = 0;
    if (IsFirstClient(hWnd, clientEntry))
        result = OpenStep(hWnd, configuration);
    if (result == 0 && IsConnected())
        RegisterClient(hWnd, clientEntry);
    return result;
}

DWORD RS232DeviceStream::OpenStep(HostWindow hWnd,
                                  const std::shared_ptr<DeviceStreamConfiguration> &configuration) {
    DWORD result = VerifyCorrectConfigurationObject(configuration, RS232StreamKind);
    if (mbConnected || result != 0)
        return result;
    if (const auto *settings = dynamic_cast<const RS232DeviceStreamConfiguration *>(configuration.get())) {
        mnCOMPort = settings->GetCOMPort();
        meParity = settings->GetParity();
        meDataBits = settings->GetDataBits();
        meBaudRate = settings->GetBaudRate();
        meStopBits = settings->GetStopBits();
        meReceiveTermination = settings->GetReceiveTermination();
        meSendTermination = settings->GetSendTermination();
        mbCOMPortSharing = settings->GetCOMPortSharing();
        mbRTSAroundWrite = settings->GetRTSAroundWrite();
        mbNewLineReturnIsEndOfString = settings->GetNewLineReturnIsEndOfString();
        mbRTSEnable = settings->GetRTSEnable();
        mbXonXoffFlowControl = settings->GetXonXoffFlowControl();
        if (!mbCOMPortSharing)
            result = PortOpen(hWnd);
        if (result == 0)
            mbConnected = true;
    }
    return result;
}

DWORD RS232DeviceStream::PortOpen(HostWindow) {
    mDriver.SetCOMPort(mnCOMPort);
    mDriver.SetBaudRate(meBaudRate);
    mDriver.SetParity(meParity);
    mDriver.SetDataBits(meDataBits);
    mDriver.SetStopBits(meStopBits);
    mDriver.SetRTSAroundWrite(mbRTSAroundWrite);
    mDriver.SetNewLineReturnIsEndOfString(mbNewLineReturnIsEndOfString);
    mDriver.SetRTSEnable(mbRTSEnable);
    mDriver.SetXonXoffFlowControl(mbXonXoffFlowControl);
    mParameters.Delayer.WaitRemainingDelay();
    const DWORD result = mDriver.Open(meBaudRate, meParity, meDataBits, meStopBits);
    mParameters.Delayer.StoreLastCommunicationTime();
    return result;
}

DWORD RS232DeviceStream::PortClose(HostWindow) {
    mParameters.Delayer.WaitRemainingDelay();
    const DWORD result = mDriver.Close();
    mParameters.Delayer.StoreLastCommunicationTime();
    return result;
}

DWORD RS232DeviceStream::Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) {
    if (UnregisterClient(hWnd, clientEntry)) {
        if (mbConnected && !mbCOMPortSharing)
            PortClose(hWnd);
        mbConnected = false;
    }
    return 0;
}

bool RS232DeviceStream::IsConnected() {
    if (mbCOMPortSharing && mbConnected)
        return true;
    return mDriver.IsRunTimeDataOpen();
}

DWORD RS232DeviceStream::Lock(HostWindow hWnd, double dSeconds) {
    const DWORD baseResult = WriteReadDeviceStream::Lock(hWnd, dSeconds);
    DWORD result = baseResult;
    bool bOpened = false;
    if (result == 0 && IsConnected() && mbCOMPortSharing && mTransactions.GetUsageCount() == 0) {
        result = PortOpen(hWnd);
        bOpened = result == 0;
    }
    // Its holder died within an exchange: the answer it waited for may still come.
    if (result == 0 && mLock.TakenFromDeadHolder())
        mLateAnswers.AnswerLost();
    if (result == 0)
        result = mDriver.Lock(dSeconds);
    if (result != 0) {
        if (bOpened)
            PortClose(hWnd);
        if (baseResult == 0)
            WriteReadDeviceStream::Unlock(hWnd);
        return result;
    }
    mTransactions.IncrementUsageCount();
    return 0;
}

DWORD RS232DeviceStream::Unlock(HostWindow hWnd) {
    mTransactions.DecrementUsageCount();
    DWORD result = mDriver.Unlock();
    if (IsConnected() && mbCOMPortSharing && mTransactions.GetUsageCount() == 0)
        result = FirstNonZero(result, PortClose(hWnd));
    return FirstNonZero(result, WriteReadDeviceStream::Unlock(hWnd));
}

std::string RS232DeviceStream::TerminatedCommand(const std::string &sCommand, bool bWaitForOPC) const {
    std::string sText = WithWriteTermination(WithOperationCompleteQuery(sCommand, bWaitForOPC));
    const auto append = [&sText](const std::string &sEnd) {
        if (!sText.empty() && !EndsWith(sText, sEnd, false))
            sText += sEnd;
    };
    switch (meSendTermination) {
    case CarrierReturn:
        append("\r");
        break;
    case LineFeed:
        append("\n");
        break;
    case CarrierReturnPlusLineFeed:
        // A text of one character gets CR LF too.
        append("\r\n");
        break;
    default:
        break;
    }
    return sText;
}

DWORD RS232DeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) {
    mdwLastWriteCount = 0;
    if (!IsConnected())
        return RS232Result::PortNotOpen;
    const std::string sText = TerminatedCommand(sCommand, bWaitForOPC);
    mParameters.Delayer.WaitRemainingDelay();
    DWORD result = mDriver.Write(sText);
    mParameters.Delayer.StoreLastCommunicationTime();
    if (result == 0) {
        mdwLastWriteCount = static_cast<DWORD>(sText.size());
        mLateAnswers.Asked();
    }
    if (result == 0 && bWaitForOPC) {
        std::string sReply;
        mParameters.Delayer.WaitRemainingDelay();
        result = Read(hWnd, sReply, OperationCompleteReplySize);
        mParameters.Delayer.StoreLastCommunicationTime();
    }
    return result;
}

DWORD RS232DeviceStream::Read(HostWindow, std::string &sResponse, DWORD dwCount) {
    sResponse.clear();
    const std::string sTermination =
        mParameters.bReadTerminationEnabled ? mParameters.sReadTermination : std::string();
    mParameters.Delayer.WaitRemainingDelay();
    const DWORD result =
        mDriver.OptimizedRead(sResponse, dwCount, MillisecondsOf(mParameters.dTimeout), sTermination);
    bool bAnswered = result == 0 && !sResponse.empty() &&
                     (EndsAnswer(sResponse, sTermination) || sResponse.size() >= dwCount);
    if (bAnswered)
        mLateAnswers.Answered();
    // A record read to its count is whole unless more of it comes within the line's gap.
    if (bAnswered && !EndsAnswer(sResponse, sTermination))
        bAnswered = StaysQuiet(ReplyGapMilliseconds());
    mParameters.Delayer.StoreLastCommunicationTime();
    if (!bAnswered)
        mLateAnswers.AnswerLost();
    return result;
}

uint32_t RS232DeviceStream::ReplyGapMilliseconds() const {
    const unsigned dataBits = meDataBits >= MIN_DATABITS && meDataBits <= MAX_DATABITS ? meDataBits : 8;
    const unsigned bits = 1 + dataBits + (meParity != None ? 1 : 0) + (meStopBits != Stop1 ? 2 : 1);
    const uint64_t rate = meBaudRate > 0 ? static_cast<uint64_t>(meBaudRate) : 1;
    const uint64_t characters = (uint64_t{ReplyGapCharacters} * bits * 1000 + rate - 1) / rate;
    return static_cast<uint32_t>(
        std::clamp<uint64_t>(characters, RS232RunTimeData::ReadInterval, RS232RunTimeData::PortTimeout));
}

bool RS232DeviceStream::StaysQuiet(uint32_t dwMilliseconds) {
    if (mDriver.GetInputQueueCount() != 0)
        return false;
    DWORD available = 0;
    const DWORD waited = mDriver.WaitCommEvent(dwMilliseconds, available);
    return IsQuietWait(waited) && available == 0;
}

bool RS232DeviceStream::EndsAnswer(const std::string &sText, const std::string &sTermination) const {
    if (sText.empty())
        return false;
    if (!sTermination.empty() && EndsWith(sText, sTermination, false))
        return true;
    if (mbNewLineReturnIsEndOfString)
        return sText.back() == '\n' || sText.back() == '\r';
    return sTermination.empty();
}

bool RS232DeviceStream::CanUsePort() {
    return IsConnected() && (!mbCOMPortSharing || mDriver.IsRunTimeDataOpen());
}

DWORD RS232DeviceStream::ClearInputBuffers(HostWindow) {
    if (!CanUsePort())
        return 0;
    mParameters.Delayer.WaitRemainingDelay();
    if (mLateAnswers.IsWary())
        mDriver.ClearLastError();
    DWORD result =
        mLateAnswers.DropLateInput(mParameters.dTimeout, [this](uint32_t dwMilliseconds, bool &bCame) {
            DWORD available = 0;
            const DWORD waited = mDriver.WaitCommEvent(dwMilliseconds, available);
            if (!IsQuietWait(waited))
                return waited;
            bCame = waited == 0 && available > 0;
            return bCame ? mDriver.ClearInBuffer() : 0;
        });
    if (result == 0)
        result = mDriver.ClearInBuffer();
    mParameters.Delayer.StoreLastCommunicationTime();
    return result;
}

DWORD RS232DeviceStream::ClearOutputBuffers(HostWindow) {
    if (!CanUsePort())
        return 0;
    mParameters.Delayer.WaitRemainingDelay();
    const DWORD result = mDriver.ClearOutBuffer();
    mParameters.Delayer.StoreLastCommunicationTime();
    return result;
}

DWORD RS232DeviceStream::GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                        uint32_t *pdwLength) {
    return mDriver.GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwLength);
}

// ---- Page ------------------------------------------------------------------------------------------

// clang-format off
wxBEGIN_EVENT_TABLE(RS232DSConfigurationDialog, ValidatorBasedPanel)
    EVT_INIT_DIALOG(RS232DSConfigurationDialog::OnInitDialog)
wxEND_EVENT_TABLE()

RS232DSConfigurationDialog::RS232DSConfigurationDialog(RS232DeviceStreamConfiguration *configuration)
    : mConfiguration(configuration) {}
// clang-format on

void RS232DSConfigurationDialog::OnInitDialog(wxInitDialogEvent &event) {
    using Configuration = RS232DeviceStreamConfiguration;
    Configuration *configuration = mConfiguration;
    const auto combo = [configuration](auto getter, auto setter, auto first, auto last) {
        using T = decltype(first);
        return new wxComboBoxDecoratorValidator<T>(
            new wxTemplatePropertyValidator<Configuration, T>(configuration, getter, setter, "%s"), first,
            last);
    };
    AttachValidator(this, "ID_COMPORT",
                    new wxTemplatePropertyValidator<Configuration, int>(
                        configuration, &Configuration::GetCOMPort, &Configuration::SetCOMPort, "%d"));
    AttachValidator(this, "ID_PARITY",
                    combo(&Configuration::GetParity, &Configuration::SetParity, None, Space));
    AttachValidator(this, "ID_BAUDRATE",
                    combo(&Configuration::GetBaudRate, &Configuration::SetBaudRate, Br50, Br921600));
    AttachValidator(this, "ID_STOPBITS",
                    combo(&Configuration::GetStopBits, &Configuration::SetStopBits, Stop1, Stop2));
    AttachValidator(this, "ID_DATABITS",
                    combo(&Configuration::GetDataBits, &Configuration::SetDataBits, Data5, Data8));
    AttachValidator(this, "ID_SENDTERMINATION",
                    combo(&Configuration::GetSendTermination, &Configuration::SetSendTermination,
                          NoTermination, CarrierReturnPlusLineFeed));
    AttachValidator(this, "ID_RECEIVETERMINATION",
                    combo(&Configuration::GetReceiveTermination, &Configuration::SetReceiveTermination,
                          NoTermination, CarrierReturnPlusLineFeed));
    AttachValidator(this, "ID_NEWLINERETURNISENDOFSTRING",
                    new wxTemplatePropertyValidator<Configuration, bool>(
                        configuration, &Configuration::GetNewLineReturnIsEndOfString,
                        &Configuration::SetNewLineReturnIsEndOfString, "%d"));
    const bool bKnown = configuration != nullptr;
    EnableControl(this, "ID_PARITY", bKnown && configuration->GetParityEnabled());
    EnableControl(this, "ID_BAUDRATE", bKnown && configuration->GetBaudRateEnabled());
    EnableControl(this, "ID_STOPBITS", bKnown && configuration->GetStopBitsEnabled());
    EnableControl(this, "ID_DATABITS", bKnown && configuration->GetDataBitsEnabled());
    EnableControl(this, "ID_SENDTERMINATION", bKnown && configuration->GetSendTerminationEnabled());
    EnableControl(this, "ID_RECEIVETERMINATION", bKnown && configuration->GetReceiveTerminationEnabled());
    EnableControl(this, "ID_NEWLINERETURNISENDOFSTRING",
                  bKnown && configuration->GetNewLineReturnIsEndOfStringEnabled());
    // The panel's own handling then fills the controls.
    event.Skip(true);
}
