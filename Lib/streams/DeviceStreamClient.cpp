// The driver-side stream client: connect and disconnect, the device check, IEEE 488.2 status
// queries and the error queue, settings, error texts and arbitrary blocks.
#include "streams/DeviceStreamClient.h"

#include <algorithm>

#include "core/DeviceDriverBase.h"
#include "core/StringUtils.h"
#include "core/Timing.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"
#include "platform/Text.h"
#include "visa/VISADeviceStream.h"

namespace {

constexpr const char *ClientModule = "DeviceStreamClientWithStreamBase";
constexpr const char *BlockModule = "DeviceStreamClientWithStream";
constexpr const char *StatusNumberPattern = "[+]?[0-9]+";

ClearDeviceOptionSwitch &ClearOptionSwitch() {
    static ClearDeviceOptionSwitch optionSwitch = nullptr;
    return optionSwitch;
}

void LogHook(const char *name) {
    QuellinEntry entry(ClientModule, name);
    entry.Log(QuellinLevelNote, QuellinDescription, std::string(name));
}

// A first and a last part joined by ", ..., " when the text is long.
std::string ShortenForLog(const std::string &text) {
    constexpr size_t Part = 40;
    if (text.size() <= 2 * Part + 5)
        return text;
    return text.substr(0, Part) + ", ..., " + text.substr(text.size() - Part);
}

const char *ConnectionKindName(int kind) {
    switch (kind) {
    case DeviceStreamClientWithStreamBase::GPIB:
        return "GPIB";
    case DeviceStreamClientWithStreamBase::TCPIPVXI11:
        return "TCPIPVXI11";
    case DeviceStreamClientWithStreamBase::Serial:
        return "Serial";
    case DeviceStreamClientWithStreamBase::TCPIP:
        return "TCPIP";
    case DeviceStreamClientWithStreamBase::UDP:
        return "UDP";
    default:
        return "Unknown";
    }
}

// The first "#" that starts a block header. A definite header needs all its length digits; "#0"
// counts when the text ends at most one byte after it, or anywhere with bIndefiniteWithData.
bool FindBlockHeader(const std::string &sText, bool bIndefiniteWithData, size_t &nStart, size_t &nDigits,
                     size_t &nLength) {
    for (size_t hash = sText.find('#'); hash != std::string::npos; hash = sText.find('#', hash + 1)) {
        if (hash + 1 >= sText.size() || !Platform::IsAsciiDigit(sText[hash + 1]))
            continue;
        const size_t digits = static_cast<size_t>(sText[hash + 1] - '0');
        if (digits == 0) {
            if (!bIndefiniteWithData && sText.size() > hash + 3)
                continue;
            nStart = hash;
            nDigits = 0;
            nLength = 0;
            return true;
        }
        if (sText.size() < hash + 2 + digits)
            continue;
        size_t length = 0;
        bool bNumber = true;
        for (size_t i = hash + 2; i < hash + 2 + digits && bNumber; ++i) {
            bNumber = Platform::IsAsciiDigit(sText[i]);
            length = length * 10 + static_cast<size_t>(sText[i] - '0');
        }
        if (!bNumber)
            continue;
        nStart = hash;
        nDigits = digits;
        nLength = length;
        return true;
    }
    return false;
}

} // namespace

ClearDeviceOptionSwitch SetClearDeviceOptionSwitch(ClearDeviceOptionSwitch optionSwitch) {
    const ClearDeviceOptionSwitch previous = ClearOptionSwitch();
    ClearOptionSwitch() = optionSwitch;
    return previous;
}

// ---- DeviceStreamClient and the decorator --------------------------------------------------------

DeviceStreamClient::DeviceStreamClient() = default;
DeviceStreamClient::~DeviceStreamClient() = default;

DeviceStreamBaseDecorator::DeviceStreamBaseDecorator() {
    mEmbedded = std::make_shared<WriteReadDeviceStream>();
}

DeviceStreamBaseDecorator::DeviceStreamBaseDecorator(std::shared_ptr<WriteReadDeviceStream> stream,
                                                     const DeviceStreamParameters &parameters) {
    mEmbedded = std::move(stream);
    SetParameters(parameters);
}

// ---- DeviceStreamClientWithStreamBase ------------------------------------------------------------

DeviceStreamClientWithStreamBase::DeviceStreamClientWithStreamBase(
    const std::string &sDefaultExpectedResponse) {
    mEmbedded = std::make_shared<DeviceStreamBaseDecorator>();
    SetExpectedResponse(sDefaultExpectedResponse);
}

// A client that goes away leaves its stream's client set, so that no stream keeps its address.
DeviceStreamClientWithStreamBase::~DeviceStreamClientWithStreamBase() {
    if (mEmbedded)
        mEmbedded->Disconnect(nullptr, this);
}

DWORD DeviceStreamClientWithStreamBase::LoadProgramSettings(
    HostWindow, std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (database) {
        database->PushTable("SCPI");
        mbCheckSystemError = database->ReadBool("CheckSystemError", mbCheckSystemError);
        database->PopTable();
    }
    const DWORD identificationResult = DeviceStreamClientIdentification::LoadProgramSettings(database);
    const DWORD managerResult = mConfigurationManager.LoadConfiguration(database);
    return FirstNonZero(managerResult, identificationResult);
}

DWORD DeviceStreamClientWithStreamBase::SaveProgramSettings(
    HostWindow, std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (database) {
        database->PushTable("SCPI");
        database->WriteBool("CheckSystemError", mbCheckSystemError);
        database->PopTable();
    }
    const DWORD identificationResult = DeviceStreamClientIdentification::SaveProgramSettings(database);
    const DWORD managerResult = mConfigurationManager.SaveConfiguration(database);
    return FirstNonZero(managerResult, identificationResult);
}

DWORD DeviceStreamClientWithStreamBase::AddConfigurationDialogPanels(HostWindow hWnd,
                                                                     PanelResourceNameList &panels) {
    DWORD result = 0;
    if (!mConfigurationManager.GetDefaultStreamConfigurationLoaded()) {
        // A dialog that stores nothing leaves the defaults unapplied and the flag unset.
        mConfigurationManager.KeepSettingsUntilStored();
        result = DefaultStreamConfiguration(hWnd);
        if (result == 0)
            mConfigurationManager.SetDefaultStreamConfigurationLoaded(true);
    }
    if (result == 0)
        result = PredefineStreamConfiguration(hWnd);
    result = FirstNonZero(result, mConfigurationManager.AddConfigurationDialogPanels(hWnd, panels));
    return FirstNonZero(result, DeviceStreamClientIdentification::AddConfigurationDialogPanels(hWnd, panels));
}

DWORD DeviceStreamClientWithStreamBase::GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer,
                                                       uint32_t dwBufferSize, uint32_t *pdwRead) {
    QuellinEntry entry(ClientModule, "GetErrorString()");
    entry.LogBegin(QuellinLevelNote, QuellinMarkerInput, L"dwCode", dwCode);
    uint32_t dwLocalRead = 0;
    uint32_t *pdwLength = pdwRead != nullptr ? pdwRead : &dwLocalRead;
    ClearErrorText(sBuffer, dwBufferSize, pdwLength);

    DWORD result = 0;
    if (dwCode == StreamResult::DeviceSystemError) {
        CopyStringToBuffer(FormatString("Specific System Error: %s", msDeviceError.c_str()), sBuffer,
                           dwBufferSize, pdwLength);
    } else {
        if (mEmbedded) {
            result = mEmbedded->GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwLength);
            if (result == ResultCode::OperationNotProvided) {
                result = 0;
                ClearErrorText(sBuffer, dwBufferSize, pdwLength);
            }
        }
        // The identification's own text only: its other codes lead to the stream again.
        if (result == 0 && *pdwLength == 0 && dwCode == mdwMismatchCode)
            result = DeviceStreamClientIdentification::GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize,
                                                                      pdwLength);
        if (result == 0 && *pdwLength == 0)
            result = mConfigurationManager.GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwLength);
    }
    entry.LogEnd(ResultSeverityText(result), QuellinMarkerOutput, L"Length", *pdwLength, L"Err", result);
    return result;
}

DWORD DeviceStreamClientWithStreamBase::LoadLegacyConfiguration(
    std::shared_ptr<ProgramSettingsDatabase> &database, const std::string &sTablePrefix) {
    return mConfigurationManager.LoadLegacyConfiguration(database, sTablePrefix);
}

DWORD DeviceStreamClientWithStreamBase::SaveLegacyConfiguration(
    std::shared_ptr<ProgramSettingsDatabase> &database, const std::string &sTablePrefix) {
    return mConfigurationManager.SaveLegacyConfiguration(database, sTablePrefix);
}

bool DeviceStreamClientWithStreamBase::IsStreamConfigurationValid() {
    const std::shared_ptr<DeviceStreamConfiguration> configuration =
        mConfigurationManager.GetSelectedConfiguration();
    return configuration && configuration->IsValid();
}

DWORD DeviceStreamClientWithStreamBase::ChangeClearDeviceRegistration(HostWindow, bool bNewState,
                                                                      bool &bOriginalState) {
    const std::shared_ptr<DeviceStreamConfiguration> configuration =
        mConfigurationManager.FindConfiguration("GPIB");
    if (configuration && ClearOptionSwitch() != nullptr) {
        bool bFormer = bOriginalState;
        if (ClearOptionSwitch()(*configuration, bNewState, bFormer))
            bOriginalState = bFormer;
    }
    QuellinEntry entry(ClientModule, "ChangeClearDeviceRegistration");
    entry.Log(QuellinLevelNote, QuellinDescription, std::string("ChangeClearDeviceRegistration("),
              L"newState", bNewState, L"originalState", bOriginalState);
    return 0;
}

DWORD DeviceStreamClientWithStreamBase::CheckIdentificationLocked(HostWindow hWnd) {
    Locker locker(this);
    DWORD result = locker.Lock(hWnd, GetTimeout(hWnd));
    if (result != 0)
        return result;
    if (!(msIdentificationQuery.empty() && msExpectedResponse.empty())) {
        std::string sResponse;
        DWORD dwCount = IdentificationQueryCount;
        result = WriteReadUntilAnswer(hWnd, msIdentificationQuery, sResponse, dwCount, 0);
        if (result == 0)
            result = CheckIdentification(sResponse);
    }
    if (result == 0)
        result = CheckDeviceAfterIdentification(hWnd);
    return result;
}

DWORD DeviceStreamClientWithStreamBase::CheckDeviceOnStream(HostWindow hWnd) {
    bool bSavedClear = false;
    DWORD result = ChangeClearDeviceRegistration(hWnd, false, bSavedClear);
    // A connected driver is checked over its own stream: tearing that down would leave it
    // holding a closed stream.
    const bool bWasConnected = IsConnected();
    if (result == 0 && !bWasConnected)
        result = ConnectStream(hWnd, true);
    if (result == 0)
        result = CheckIdentificationLocked(hWnd);
    if (!bWasConnected)
        result = FirstNonZero(result, DisconnectStream(hWnd));
    // Restored whatever the check gave: a failed check must not leave the device clear off.
    bool bUnused = false;
    ChangeClearDeviceRegistration(hWnd, bSavedClear, bUnused);
    return result;
}

DWORD DeviceStreamClientWithStreamBase::CheckDeviceAfterIdentification(HostWindow) {
    return 0;
}

DWORD DeviceStreamClientWithStreamBase::ConnectStream(HostWindow hWnd, bool bShare) {
    return ConnectStreamTo(hWnd, bShare, nullptr);
}

DWORD DeviceStreamClientWithStreamBase::ConnectStreamTo(
    HostWindow hWnd, bool bShare, const std::shared_ptr<DeviceStreamConfiguration> &given) {
    DWORD result = PredefineStreamConfiguration(hWnd);
    DeviceStreamParameters parameters = mEmbedded ? mEmbedded->GetParameters() : DeviceStreamParameters();
    bool bCreated = false;
    const std::shared_ptr<DeviceStreamConfiguration> configuration =
        given ? given : mConfigurationManager.GetSelectedConfiguration();
    if (result == 0) {
        // Nothing selected, or a kind without streams: no stream to use.
        if (!configuration)
            return StreamResult::StreamNotCreated;
        // One look-up: a connect racing this one must not see a stream it did not make as its own.
        const std::shared_ptr<WriteReadDeviceStream> stream =
            SharedDeviceStreams::GetStreamForConfiguration(configuration, bShare, &bCreated);
        if (!stream)
            return StreamResult::CannotCreateStream;
        if (!bCreated) {
            // A shared stream: its other drivers may be using it. A removal ends the wait.
            const auto hold = stream->HoldState();
            if (hold.Cancelled())
                return ResultCode::NoDriverForDeviceID;
            parameters = stream->GetParameters();
        }
        mEmbedded = std::make_shared<DeviceStreamBaseDecorator>(stream, parameters);
    }
    if (result != 0)
        return result;
    if (!mEmbedded)
        return StreamResult::EmbeddedStreamMissing;
    if (bCreated)
        SetMinimumDelay(parameters.Delayer.GetMinimumDelay());
    result = SetTimeout(hWnd, parameters.dTimeout);
    if (result == 0)
        result = SetWriteTermination(hWnd, parameters.sWriteTermination, parameters.bWriteTerminationEnabled);
    if (result == 0)
        result = SetReadTermination(hWnd, parameters.sReadTermination, parameters.bReadTerminationEnabled);
    if (result == 0)
        result = Connect(hWnd, configuration, this);
    if (result == 0)
        result = SetTimeout(hWnd, parameters.dTimeout);
    if (result == 0)
        result = AfterStreamConnectConfiguration(hWnd);
    return result;
}

DWORD DeviceStreamClientWithStreamBase::DisconnectStream(HostWindow hWnd) {
    auto placeholder = std::make_shared<DeviceStreamBaseDecorator>();
    DWORD result = 0;
    if (mEmbedded) {
        placeholder->SetParameters(mEmbedded->GetParameters());
        result = mEmbedded->Disconnect(hWnd, this);
        mEmbedded.reset();
    }
    mEmbedded = placeholder;
    return result;
}

DWORD DeviceStreamClientWithStreamBase::DefaultStreamConfiguration(HostWindow) {
    LogHook("DefaultStreamConfiguration");
    return 0;
}

DWORD DeviceStreamClientWithStreamBase::PredefineStreamConfiguration(HostWindow) {
    LogHook("PredefineStreamConfiguration");
    return 0;
}

DWORD DeviceStreamClientWithStreamBase::AfterStreamConnectConfiguration(HostWindow) {
    LogHook("AfterStreamConnectConfiguration");
    return 0;
}

// ---- IEEE 488.2 status and the error queue ------------------------------------------------------

DWORD DeviceStreamClientWithStreamBase::QueryStatus(HostWindow hWnd, const std::string &sQuery, DWORD dwCount,
                                                    std::string &sReply, bool bTimeoutIsEnd) {
    const DWORD result = WriteReadUntilAnswer(hWnd, sQuery, sReply, dwCount, 0);
    return bTimeoutIsEnd && result == StreamResult::ReadTimeout ? 0 : result;
}

DWORD DeviceStreamClientWithStreamBase::QuerySystemError(HostWindow hWnd, std::string &sReply) {
    return QueryStatus(hWnd, "SYST:ERR?", SystemErrorQueryCount, sReply, true);
}

DWORD DeviceStreamClientWithStreamBase::QueryStatusByte(HostWindow hWnd, std::string &sReply) {
    const std::string sQuery = msStatusQueryPrefix.empty() ? "*STB?" : msStatusQueryPrefix + ";" + "*STB?";
    return QueryStatus(hWnd, sQuery, StatusQueryCount, sReply, true);
}

DWORD DeviceStreamClientWithStreamBase::QueryEventStatusRegister(HostWindow hWnd, std::string &sReply) {
    return QueryStatus(hWnd, "*ESR?", StatusQueryCount, sReply, false);
}

DWORD DeviceStreamClientWithStreamBase::GetStatusNumber(HostWindow hWnd, bool bEventStatus,
                                                        unsigned char &byStatus) {
    std::string sReply;
    DWORD result = bEventStatus ? QueryEventStatusRegister(hWnd, sReply) : QueryStatusByte(hWnd, sReply);
    if (result != 0)
        return result;
    unsigned int number = 0;
    result = ExtractNumberByRegex(sReply, StatusNumberPattern, number, false);
    if (result == 0 && number <= 255)
        byStatus = static_cast<unsigned char>(number);
    return result;
}

DWORD DeviceStreamClientWithStreamBase::GetStatusByte(HostWindow hWnd, unsigned char &byStatus) {
    return GetStatusNumber(hWnd, false, byStatus);
}

DWORD DeviceStreamClientWithStreamBase::GetEventStatusRegister(HostWindow hWnd, unsigned char &byStatus) {
    return GetStatusNumber(hWnd, true, byStatus);
}

bool DeviceStreamClientWithStreamBase::IsErrorAvailableBit(unsigned char byStatus) {
    return (byStatus & 0x04) != 0;
}

DWORD DeviceStreamClientWithStreamBase::IsErrorAvailable(HostWindow hWnd, bool &bAvailable) {
    unsigned char byStatus = 0;
    const DWORD result = GetStatusByte(hWnd, byStatus);
    if (result == 0)
        bAvailable = IsErrorAvailableBit(byStatus);
    return result;
}

DWORD DeviceStreamClientWithStreamBase::ReadErrorQueue(HostWindow hWnd, const std::string &sPrefix) {
    if (!mEmbedded || !mEmbedded->IsConnected() || !mbCheckSystemError)
        return 0;
    msStatusQueryPrefix = sPrefix;
    Timing timing;
    const uint32_t start = timing.GetMilliseconds();
    DWORD result = 0;
    bool bAvailable = false;
    int reads = 0;
    do {
        bAvailable = false;
        result = IsErrorAvailable(hWnd, bAvailable);
        msStatusQueryPrefix.clear();
        if (result == 0 && bAvailable) {
            std::string sReply;
            result = QuerySystemError(hWnd, sReply);
            if (result == 0)
                result = StoreDeviceError(hWnd, sReply);
        }
        ++reads;
    } while (result == 0 && bAvailable && reads < ErrorQueueMaximumReads &&
             timing.ElapsedSince(start) <
                 static_cast<uint32_t>(IntSecondsToMilliseconds(ErrorQueueMaximumSeconds)));
    return result;
}

DWORD DeviceStreamClientWithStreamBase::CheckDeviceError(HostWindow hWnd, bool bSkip) {
    return bSkip ? 0 : ReadErrorQueue(hWnd, std::string());
}

DWORD DeviceStreamClientWithStreamBase::SetCheckSystemError(bool bCheck) {
    mbCheckSystemError = bCheck;
    return 0;
}

bool DeviceStreamClientWithStreamBase::GetCheckSystemError() {
    return mbCheckSystemError;
}

DWORD DeviceStreamClientWithStreamBase::WaitWhileChecking(HostWindow hWnd) {
    Timing timing;
    const uint32_t start = timing.GetMilliseconds();
    DWORD result = 0;
    for (int calls = 0; calls < ErrorQueueMaximumReads; ++calls) {
        result = CheckDeviceError(hWnd, false);
        if (result == 0 || timing.ElapsedSince(start) >=
                               static_cast<uint32_t>(IntSecondsToMilliseconds(ErrorQueueMaximumSeconds)))
            break;
    }
    return result;
}

std::string DeviceStreamClientWithStreamBase::GetStreamIdentifier() {
    const std::shared_ptr<DeviceStreamConfiguration> configuration =
        mConfigurationManager.GetSelectedConfiguration();
    return configuration ? configuration->GetIdentifier() : std::string();
}

DWORD DeviceStreamClientWithStreamBase::StoreDeviceError(HostWindow, const std::string &sReply) {
    msDeviceError = sReply;
    return StreamResult::DeviceSystemError;
}

// ---- DeviceStreamClientWithStream ----------------------------------------------------------------

DeviceStreamClientWithStream::DeviceStreamClientWithStream(const std::string &sDefaultExpectedResponse)
    : WriteReadMixin<DeviceStreamClientWithStreamBase>(sDefaultExpectedResponse) {}

DeviceStreamClientWithStream::~DeviceStreamClientWithStream() = default;

bool DeviceStreamClientWithStream::ParseBlockHeader(const std::string &sText, size_t &nStart, size_t &nDigits,
                                                    size_t &nLength) {
    return FindBlockHeader(sText, false, nStart, nDigits, nLength);
}

bool DeviceStreamClientWithStream::IsBlockComplete(const std::string &sText) {
    size_t nStart = 0, nDigits = 0, nLength = 0;
    return ParseBlockHeader(sText, nStart, nDigits, nLength) &&
           sText.size() >= nStart + nDigits + nLength + 2;
}

size_t DeviceStreamClientWithStream::GetBlockStart(const std::string &sText) {
    size_t nStart = 0, nDigits = 0, nLength = 0;
    return ParseBlockHeader(sText, nStart, nDigits, nLength) ? nStart : std::string::npos;
}

size_t DeviceStreamClientWithStream::GetBlockSize(const std::string &sText, bool bWithHeader, size_t nExtra) {
    size_t nStart = 0, nDigits = 0, nLength = 0;
    if (!ParseBlockHeader(sText, nStart, nDigits, nLength))
        return 0;
    return bWithHeader ? nDigits + nLength + 2 + nExtra : nLength;
}

DWORD DeviceStreamClientWithStream::WriteReadBinaryBlock(HostWindow hWnd, const std::string &sSendString,
                                                         std::string &sReceived, DWORD vlSuggestedCount) {
    QuellinEntry entry(BlockModule, "WriteReadBinaryBlock");
    entry.LogBegin(
        QuellinLevelNote, QuellinDescription,
        MakeString("WriteReadBinaryBlock(", ShortenForLog(sSendString), ", ", vlSuggestedCount, ")"),
        QuellinMarkerInput, L"sSendString", ShortenForLog(sSendString), L"vlSuggestedCount",
        vlSuggestedCount);
    sReceived.clear();
    const DeviceStreamParameters kept = GetParameters();
    const bool bGPIB = UsesGPIB();

    // One lock for the whole block: no other command may fall between its reads.
    Locker locker(this);
    DWORD result = locker.Lock(hWnd, GetTimeout(hWnd));
    if (result == 0 && bGPIB)
        result = SetReadTermination(hWnd, std::string(), false);

    // Without a size from the caller the first read takes no more than the largest header.
    size_t nWanted = vlSuggestedCount;
    if (vlSuggestedCount == DefaultBlockCount && !sSendString.empty() && !bGPIB)
        nWanted = LargestBlockHeader;
    bool bFirst = true, bHeader = false, bIndefinite = false, bLastEmpty = false;
    const std::string &sTermination = kept.sReadTermination;
    const bool bTerminated = kept.bReadTerminationEnabled && !sTermination.empty() && !bGPIB;
    while (result == 0 && !bLastEmpty) {
        if (bHeader && !bIndefinite && sReceived.size() >= nWanted)
            break;
        // An answer that is no block, or an indefinite block, ends with the read termination.
        if (!bFirst && (!bHeader || bIndefinite) && bTerminated && EndsWith(sReceived, sTermination, false))
            break;
        if (!bHeader && sReceived.size() >= nWanted) {
            if (nWanted >= vlSuggestedCount)
                break;
            nWanted = vlSuggestedCount;
        }
        std::string sChunk;
        const DWORD dwAsk = bIndefinite ? vlSuggestedCount : static_cast<DWORD>(nWanted - sReceived.size());
        if (bFirst && !sSendString.empty()) {
            DWORD dwCount = dwAsk;
            result = WriteReadUntilAnswer(hWnd, sSendString, sChunk, dwCount, 0);
        } else {
            result = Read(hWnd, sChunk, dwAsk);
        }
        if (result == StreamResult::ReadTimeout)
            result = 0;
        bFirst = false;
        bLastEmpty = sChunk.empty();
        sReceived += sChunk;
        size_t nStart = 0, nDigits = 0, nLength = 0;
        if (!bHeader && FindBlockHeader(sReceived, true, nStart, nDigits, nLength)) {
            bHeader = true;
            bIndefinite = nDigits == 0;
            if (!bIndefinite) {
                nWanted = nStart + 2 + nDigits + nLength;
                // Data bytes equal to the termination must not end a read.
                if (result == 0 && !bGPIB)
                    result = SetReadTermination(hWnd, std::string(), false);
            }
        }
    }
    result =
        FirstNonZero(result, SetReadTermination(hWnd, kept.sReadTermination, kept.bReadTerminationEnabled));
    entry.LogEnd(ResultSeverityText(result), QuellinMarkerOutput, L"ReceivedLength",
                 static_cast<DWORD>(sReceived.size()), L"Err", result);
    return result;
}

bool DeviceStreamClientWithStream::IsCommunicationMethodVISAConnected(EnumC kind) {
    const std::shared_ptr<VISADeviceStream> visa =
        DeviceStreamBaseDecorator::FindStreamOfType<VISADeviceStream>(mEmbedded);
    if (!visa)
        return false;
    if (!IsConnected()) {
        QuellinEntry entry(BlockModule, "IsCommunicationMethodVISAConnected");
        entry.Log(QuellinLevelWarning, QuellinDescription,
                  std::string(
                      "IsCommunicationMethodVISAConnected(): Used communication method cannot be determined "
                      "correctly if connection is not opened!"));
    }
    return static_cast<int>(visa->GetDeviceKind()) == static_cast<int>(kind);
}

bool DeviceStreamClientWithStream::GetUsedCommunication(EnumC kind) {
    QuellinEntry entry(BlockModule, "GetUsedCommunication");
    if (!IsConnected())
        entry.Log(
            QuellinLevelWarning, QuellinDescription,
            std::string("GetUsedCommunication(): Used communication method cannot be determined correctly if "
                        "connection is not opened!"));
    const std::shared_ptr<DeviceStreamConfiguration> configuration =
        mConfigurationManager.GetSelectedConfiguration();
    bool bUsed = false;
    if (configuration) {
        const std::string &sId = configuration->GetIDString();
        switch (kind) {
        case GPIB:
            bUsed = sId == "GPIB" || sId == "CompliantGPIB" || IsCommunicationMethodVISAConnected(GPIB);
            break;
        case Serial:
            bUsed = sId == "RS-232" || IsCommunicationMethodVISAConnected(Serial);
            break;
        case TCPIP:
            bUsed = sId == "TCPIP" || IsCommunicationMethodVISAConnected(TCPIP);
            break;
        case TCPIPVXI11:
            bUsed = IsCommunicationMethodVISAConnected(TCPIPVXI11);
            break;
        case UDP:
            bUsed = sId == "UDP";
            break;
        }
    }
    entry.Log(QuellinLevelNote, QuellinDescription,
              MakeString("GetUsedCommunication '", ConnectionKindName(kind), "' returns '",
                         bUsed ? " true" : " false", "'."));
    return bUsed;
}

bool DeviceStreamClientWithStream::UsesGPIB() {
    return GetUsedCommunication(GPIB);
}

bool DeviceStreamClientWithStream::UsesSerial() {
    return GetUsedCommunication(Serial);
}

bool DeviceStreamClientWithStream::UsesTCPIP() {
    return GetUsedCommunication(TCPIP);
}

bool DeviceStreamClientWithStream::UsesUDP() {
    return GetUsedCommunication(UDP);
}
