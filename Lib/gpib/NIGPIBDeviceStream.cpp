// The GPIB stream kinds, their configurations and their registration; the device-clear switch of
// the stream client's device check.
#include "gpib/NIGPIBDeviceStream.h"

#include <cmath>
#include <limits>

#include "core/ResourceWindows.h"
#include "core/StringUtils.h"
#include "core/Timing.h"
#include "gpib/GPIBResultCodes.h"
#include "logging/QuellinEntry.h"
#include "streams/DeviceStreamClient.h"

namespace {

constexpr const char *StreamModule = "NIGPIBDeviceStream";

// The last character of a termination text, or 0 when it is empty.
char LastCharacter(const std::string &sText) {
    return sText.empty() ? '\0' : sText.back();
}

// Seconds as milliseconds truncated toward zero to 64 bits, of which the low 32 bits count.
unsigned int TimeoutMilliseconds(double dSeconds) {
    const double dMilliseconds = dSeconds * 1000.0;
    if (!(std::fabs(dMilliseconds) < 9.2e18))
        return dMilliseconds > 0 ? 0xFFFFFFFFu : 0u;
    return static_cast<unsigned int>(static_cast<uint64_t>(static_cast<int64_t>(dMilliseconds)) &
                                     0xFFFFFFFFu);
}

// The device-clear option of a GPIB configuration, switched off by the stream client's device
// check and restored afterwards.
bool SwitchGPIBClearOption(DeviceStreamConfiguration &configuration, bool bNewState, bool &bOriginalState) {
    auto *gpib = dynamic_cast<NI488GPIBConfiguration *>(&configuration);
    if (gpib == nullptr)
        return false;
    bOriginalState = gpib->GetClearDevice();
    gpib->SetClearDevice(bNewState);
    return true;
}

const StreamTypeRegistrar gGPIBStream(GPIBStreamKind, &CreateNIGPIBDeviceStream);
const StreamTypeRegistrar gGPIBConfiguration(GPIBStreamKind, &CreateNIGPIBDeviceStreamConfiguration);
const StreamTypeRegistrar gCompliantGPIBStream(CompliantGPIBStreamKind,
                                               &CreateNI4882CompliantGPIBDeviceStream);
const StreamTypeRegistrar gCompliantGPIBConfiguration(CompliantGPIBStreamKind,
                                                      &CreateNICompliantGPIBDeviceStreamConfiguration);

// The stream client's device check switches the device clear of a GPIB configuration.
struct ClearOptionSwitchInstaller {
    ClearOptionSwitchInstaller() { SetClearDeviceOptionSwitch(&SwitchGPIBClearOption); }
} gClearOptionSwitchInstaller;

} // namespace

// ---- NIGPIBDeviceStream ----------------------------------------------------------------------------

NIGPIBDeviceStream::NIGPIBDeviceStream() {
    NIGPIBDeviceStream::SetReadTermination(nullptr, std::string(), true);
    NIGPIBDeviceStream::SetWriteTermination(nullptr, std::string(), true);
}

NIGPIBDeviceStream::~NIGPIBDeviceStream() = default;

void NIGPIBDeviceStream::SetDriver(NI488GPIB *driver) {
    mDriver.reset(driver);
}

DWORD NIGPIBDeviceStream::SetWriteTermination(HostWindow hWnd, const std::string &sTermination,
                                              bool bEnabled) {
    WriteReadDeviceStream::SetWriteTermination(hWnd, sTermination, bEnabled);
    return ConfigureWriteEnd(hWnd);
}

DWORD NIGPIBDeviceStream::SetReadTermination(HostWindow hWnd, const std::string &sTermination,
                                             bool bEnabled) {
    WriteReadDeviceStream::SetReadTermination(hWnd, sTermination, bEnabled);
    ApplyEndOfStringSettings(hWnd);
    return ConfigureReadEndOfString(hWnd);
}

DWORD NIGPIBDeviceStream::SetTimeout(HostWindow hWnd, double dSeconds) {
    if (!IsUsableTimeout(dSeconds))
        return StreamResult::CouldNotSetValue;
    DWORD result = 0;
    if (mDriver)
        result = mDriver->SetTimeOutMilliseconds(hWnd, TimeoutMilliseconds(dSeconds));
    return FirstNonZero(result, WriteReadDeviceStream::SetTimeout(hWnd, dSeconds));
}

DWORD NIGPIBDeviceStream::GetMinimumDelay() {
    const DWORD dwDelay = WriteReadDeviceStream::GetMinimumDelay();
    return mDriver ? std::max(dwDelay, mDriver->GetWait()) : dwDelay;
}

void NIGPIBDeviceStream::SetMinimumDelay(DWORD dwMicroseconds) {
    if (mDriver)
        mDriver->SetWait(dwMicroseconds);
    WriteReadDeviceStream::SetMinimumDelay(dwMicroseconds);
}

DWORD NIGPIBDeviceStream::ConfigureDriver(HostWindow hWnd,
                                          std::shared_ptr<DeviceStreamConfiguration> configuration) {
    SetDriver(nullptr);
    SetDriver(CreateDriver());
    const DWORD result = VerifyConfiguration(hWnd, configuration);
    if (result != 0) {
        // No unconfigured driver stays: the next Connect configures a new one.
        SetDriver(nullptr);
        return result;
    }
    if (auto *gpib = dynamic_cast<NI488GPIBConfiguration *>(configuration.get()))
        mDriver->CopyFrom(*gpib);
    return result;
}

NI488GPIB *NIGPIBDeviceStream::CreateDriver() {
    return new NI4882MGPIB(0, 0, 0);
}

DWORD NIGPIBDeviceStream::VerifyConfiguration(HostWindow,
                                              std::shared_ptr<DeviceStreamConfiguration> configuration) {
    return VerifyCorrectConfigurationObject(configuration, GPIBStreamKind);
}

DWORD NIGPIBDeviceStream::Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                                  DeviceStreamClient *clientEntry) {
    QuellinEntry entry(StreamModule, "Connect");
    DWORD result = 0;
    if (configuration)
        SetLockName(configuration->GetIdentifier());
    if (IsFirstClient(hWnd, clientEntry)) {
        if (!mDriver)
            result = ConfigureDriver(hWnd, configuration);
        if (mDriver) {
            if (result == 0)
                result = ApplyEndOfStringSettings(hWnd);
            const DWORD dwDelay = WriteReadDeviceStream::GetMinimumDelay();
            if (result == 0 && dwDelay > 0)
                mDriver->SetWait(dwDelay);
            if (result == 0)
                result = mDriver->OpenDevice(hWnd, mDriver->GetBoard(), mDriver->GetPrimaryAddress(),
                                             mDriver->GetSecondaryAddress());
            if (result == 0) {
                mbConnected = true;
                mbOutputLeft = false;
                result = ConfigureReadEndOfString(hWnd);
                if (result == 0)
                    result = ConfigureWriteEnd(hWnd);
                if (result == 0)
                    result = SetTimeout(hWnd, mParameters.dTimeout);
                if (result != 0) {
                    // A device that could not be set up is not left open for nobody.
                    mDriver->CloseDevice(hWnd);
                    mbConnected = false;
                }
            }
        }
    }
    if (result == 0 && IsConnected())
        RegisterClient(hWnd, clientEntry);
    entry.Log(result == 0 ? QuellinLevelComplete : QuellinLevelError, L"Err", result);
    return result;
}

DWORD NIGPIBDeviceStream::Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) {
    if (UnregisterClient(hWnd, clientEntry)) {
        if (mDriver)
            mDriver->CloseDevice(hWnd);
        mbConnected = false;
    }
    return 0;
}

DWORD NIGPIBDeviceStream::Lock(HostWindow hWnd, double dSeconds) {
    DWORD result = WriteReadDeviceStream::Lock(hWnd, dSeconds);
    if (result != 0 || !mDriver)
        return result;
    result = mDriver->LockDevice(hWnd, SaturatingToUnsigned(dSeconds * 1000.0));
    if (result != 0)
        WriteReadDeviceStream::Unlock(hWnd);
    return result;
}

DWORD NIGPIBDeviceStream::Unlock(HostWindow hWnd) {
    const DWORD result = mDriver ? mDriver->UnLockDevice(hWnd) : 0;
    return FirstNonZero(result, WriteReadDeviceStream::Unlock(hWnd));
}

bool NIGPIBDeviceStream::IsDeviceOpen() {
    return IsConnected() && mDriver;
}

DWORD NIGPIBDeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) {
    if (!IsDeviceOpen())
        return StreamResult::StreamNotConnected;
    const std::string sText = WithOperationCompleteQuery(sCommand, bWaitForOPC);
    DWORD result = mDriver->SendGPIB(hWnd, WithWriteTermination(sText));
    if (result == 0 && bWaitForOPC) {
        std::string sReply;
        result = Read(hWnd, sReply, 10);
        if (result == GPIBResult::TimeOut)
            result = StreamResult::OperationCompleteMissing;
    }
    return result;
}

DWORD NIGPIBDeviceStream::Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) {
    sResponse.clear();
    if (!IsDeviceOpen())
        return StreamResult::StreamNotConnected;
    DWORD restore = 0;
    bool bEnded = false; // the last piece ended its message
    const DWORD result = ReadWithinTimeout(
        hWnd,
        [&](bool &bMore) {
            std::string sPiece;
            bool bPieceEnded = false;
            const DWORD dwMissing =
                sResponse.size() >= dwCount ? 0 : static_cast<DWORD>(dwCount - sResponse.size());
            const DWORD pieceResult = ReadPiece(hWnd, sPiece, dwMissing, bPieceEnded);
            if (sPiece.empty()) {
                // Nothing more arrives (no driver, or an empty message).
                bMore = false;
                return pieceResult;
            }
            bEnded = bPieceEnded;
            sResponse += sPiece;
            if (sResponse.size() >= dwCount)
                bMore = false;
            else if (mParameters.bReadTerminationEnabled)
                bMore = !(mParameters.sReadTermination.empty() ||
                          EndsWith(sResponse, mParameters.sReadTermination, false));
            else if (bPieceEnded)
                bMore = false; // END ends a message also without a termination character
            return pieceResult;
        },
        restore);
    // The rest of a message cut at the count, or a reply that did not come in time, is dropped
    // before the next command.
    if (result != 0 || (!sResponse.empty() && !bEnded))
        mbOutputLeft = true;
    else if (!sResponse.empty())
        mbOutputLeft = false;
    return result != 0 ? result : restore;
}

DWORD NIGPIBDeviceStream::ReadPiece(HostWindow hWnd, std::string &sPiece, DWORD dwCount, bool &bEnded) {
    bEnded = false;
    if (!mDriver)
        return 0;
    const long maxLen = static_cast<long>(std::min<DWORD>(dwCount, std::numeric_limits<int32_t>::max()));
    const DWORD result = mDriver->ReceiveGPIBString(hWnd, &sPiece, maxLen);
    bEnded = mDriver->GetLibrary().LastReadEnded();
    return result;
}

DWORD NIGPIBDeviceStream::ClearInputBuffers(HostWindow hWnd) {
    // Only output that a read left: a read of a device that owes nothing waits for its time-out
    // (and an IEEE 488.2 device takes it for an unterminated query).
    if (!mbOutputLeft || !IsDeviceOpen())
        return 0;
    // For a fifth of the time-out at most: with its read an exchange stays within 1.2 time-outs,
    // whatever the device sends.
    const DWORD result =
        mDriver->DiscardOutput(hWnd, SaturatingToUnsigned(SecondsToMilliseconds(mParameters.dTimeout) / 5));
    if (result == 0)
        mbOutputLeft = false;
    return result;
}

DWORD NIGPIBDeviceStream::ClearOutputBuffers(HostWindow) {
    return 0;
}

DWORD NIGPIBDeviceStream::ClearDevice(HostWindow hWnd) {
    return mDriver ? mDriver->ClearGPIB(hWnd) : 0;
}

DWORD NIGPIBDeviceStream::ApplyEndOfStringSettings(HostWindow) {
    if (!mDriver)
        return 0;
    const int nMode =
        eeosmEightBitCompare | (mParameters.bReadTerminationEnabled ? eeosmTerminateReadOnEOS : 0);
    mDriver->SetEndOfString(LastCharacter(mParameters.sReadTermination), nMode);
    return 0;
}

DWORD NIGPIBDeviceStream::ConfigureReadEndOfString(HostWindow hWnd) {
    if (!mDriver)
        return 0;
    const bool bReadEos = mParameters.bReadTerminationEnabled && !mParameters.sReadTermination.empty();
    DWORD result = mDriver->ConfigDeviceGPIB(hWnd, NI488::IbcEOSrd, bReadEos ? 1 : 0);
    if (result == 0)
        result = mDriver->ConfigDeviceGPIB(
            hWnd, NI488::IbcEOSchar, static_cast<unsigned char>(LastCharacter(mParameters.sReadTermination)));
    if (result == 0)
        result = mDriver->ConfigDeviceGPIB(hWnd, NI488::IbcEOScmp, 1);
    return result;
}

DWORD NIGPIBDeviceStream::ConfigureWriteEnd(HostWindow hWnd) {
    if (!mDriver)
        return 0;
    DWORD result = mDriver->ConfigDeviceGPIB(hWnd, NI488::IbcEOSwrt, 0);
    if (result == 0)
        result = mDriver->ConfigDeviceGPIB(hWnd, NI488::IbcEOT, mParameters.bWriteTerminationEnabled ? 1 : 0);
    return result;
}

// ---- NI4882CompliantGPIBDeviceStream -----------------------------------------------------------------

NI4882CompliantGPIBDeviceStream::NI4882CompliantGPIBDeviceStream() = default;

void NI4882CompliantGPIBDeviceStream::SetDriver(NI488GPIB *driver) {
    mCompliantDriver = dynamic_cast<NI4882CompliantGPIB *>(driver);
    NIGPIBDeviceStream::SetDriver(driver);
}

NI488GPIB *NI4882CompliantGPIBDeviceStream::CreateDriver() {
    return new NI4882CompliantGPIB(0, 0, 0);
}

DWORD NI4882CompliantGPIBDeviceStream::VerifyConfiguration(
    HostWindow, std::shared_ptr<DeviceStreamConfiguration> configuration) {
    return VerifyCorrectConfigurationObject(configuration, CompliantGPIBStreamKind);
}

DWORD NI4882CompliantGPIBDeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) {
    if (!IsDeviceOpen() || mCompliantDriver == nullptr)
        return StreamResult::StreamNotConnected;
    return mCompliantDriver->SendCommand(hWnd, WithWriteTermination(sCommand), bWaitForOPC);
}

DWORD NI4882CompliantGPIBDeviceStream::ReadPiece(HostWindow hWnd, std::string &sPiece, DWORD dwCount,
                                                 bool &bEnded) {
    bEnded = false;
    if (mCompliantDriver == nullptr)
        return 0;
    // The service request of the response is awaited for what is left of the read's time-out.
    mCompliantDriver->LimitResponseWait(
        std::max(1u, SaturatingToUnsigned(SecondsToMilliseconds(mParameters.dTimeout))));
    const DWORD result = mCompliantDriver->SaveSendGPIB(hWnd, std::string(), false, dwCount, &sPiece);
    mCompliantDriver->LimitResponseWait(0);
    bEnded = mCompliantDriver->LastResponseEnded();
    return result;
}

DWORD NI4882CompliantGPIBDeviceStream::WriteAndRead(HostWindow hWnd, const std::string &sCommand,
                                                    bool bWaitForOPC, std::string &sResponse, DWORD dwCount) {
    if (!IsDeviceOpen() || mCompliantDriver == nullptr)
        return StreamResult::StreamNotConnected;
    const std::string sText = WithWriteTermination(sCommand);
    if (!sText.empty() || bWaitForOPC)
        ClearInputBuffers(hWnd);
    return mCompliantDriver->SaveSendGPIB(hWnd, sText, bWaitForOPC, dwCount, &sResponse);
}

// ---- Configurations --------------------------------------------------------------------------------

NIGPIBDeviceStreamConfiguration::NIGPIBDeviceStreamConfiguration()
    : NIGPIBDeviceStreamConfiguration(GPIBStreamKind) {}

NIGPIBDeviceStreamConfiguration::NIGPIBDeviceStreamConfiguration(const std::string &sKindId)
    : DeviceStreamConfiguration(sKindId), NI488GPIBConfiguration(0, 1, 0) {}

DWORD NIGPIBDeviceStreamConfiguration::LoadProgramSettings(
    std::shared_ptr<ProgramSettingsDatabase> &database) {
    return NI488GPIBConfiguration::LoadProgramSettings(nullptr, database, std::string());
}

DWORD NIGPIBDeviceStreamConfiguration::SaveProgramSettings(
    std::shared_ptr<ProgramSettingsDatabase> &database) {
    return NI488GPIBConfiguration::SaveProgramSettings(nullptr, database, std::string());
}

DWORD NIGPIBDeviceStreamConfiguration::ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) {
    ShowConfigurationWindowAsDialog(new NI488GPIBConfigurationDialog(this), hWnd,
                                    NI488GPIBConfigurationDialog::ResourceName, wxString(sTitle));
    return 0;
}

DWORD NIGPIBDeviceStreamConfiguration::AddConfigurationDialogPanels(HostWindow,
                                                                    PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new NI488GPIBConfigurationDialog(this),
                                     NI488GPIBConfigurationDialog::ResourceName,
                                     wxString::FromUTF8(GetIDString().c_str()));
    return 0;
}

bool NIGPIBDeviceStreamConfiguration::LessThan(std::shared_ptr<DeviceStreamConfiguration> other) {
    const int nOrder = Compare(other.get());
    if (nOrder != 0)
        return nOrder < 0;
    const auto *gpib = dynamic_cast<const NIGPIBDeviceStreamConfiguration *>(other.get());
    if (gpib == nullptr)
        return false;
    if (GetBoard() != gpib->GetBoard())
        return GetBoard() < gpib->GetBoard();
    if (GetPrimaryAddress() != gpib->GetPrimaryAddress())
        return GetPrimaryAddress() < gpib->GetPrimaryAddress();
    if (GetSecondaryAddress() != gpib->GetSecondaryAddress())
        return GetSecondaryAddress() < gpib->GetSecondaryAddress();
    if (GetWait() != gpib->GetWait())
        return GetWait() < gpib->GetWait();
    if (GetClearDevice() != gpib->GetClearDevice())
        return GetClearDevice() < gpib->GetClearDevice();
    return GetReaddress() < gpib->GetReaddress();
}

std::string NIGPIBDeviceStreamConfiguration::GetIdentifier() {
    return NI488GPIBConfiguration::GetIdentifier();
}

bool NIGPIBDeviceStreamConfiguration::IsValid() {
    return NI488GPIBConfiguration::IsValid();
}

std::string NIGPIBDeviceStreamConfiguration::GetErrorText(DWORD dwCode) {
    return GPIBResult::IsGPIBCode(dwCode) ? NI488GPIB::LanguageErrorText(dwCode, *this) : std::string();
}

NICompliantGPIBDeviceStreamConfiguration::NICompliantGPIBDeviceStreamConfiguration()
    : NIGPIBDeviceStreamConfiguration(CompliantGPIBStreamKind) {}

// ---- Creators and registration ---------------------------------------------------------------------

WriteReadDeviceStream *CreateNIGPIBDeviceStream() {
    return new NIGPIBDeviceStream();
}

WriteReadDeviceStream *CreateNI4882CompliantGPIBDeviceStream() {
    return new NI4882CompliantGPIBDeviceStream();
}

DeviceStreamConfiguration *CreateNIGPIBDeviceStreamConfiguration() {
    return new NIGPIBDeviceStreamConfiguration();
}

DeviceStreamConfiguration *CreateNICompliantGPIBDeviceStreamConfiguration() {
    return new NICompliantGPIBDeviceStreamConfiguration();
}
