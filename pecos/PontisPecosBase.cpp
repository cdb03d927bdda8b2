// The PECOS driver base: connection defaults, login and life cycle, credentials, error texts.
#include "pecos/PontisPecosBase.h"

#include <algorithm>

#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "pecos/PontisPecosPanels.h"
#include "streams/etherds/NetworkBasedDeviceStream.h"

namespace {

const char *const ModuleName = "PontisPecosBase<BaseType>";
const char *const SettingsTable = "PontisPecos";
// After a new login: input must have been quiet this long before it is dropped.
constexpr uint32_t QuietInput = 100; // ms
// Bytes asked of each read while waiting for the input to become quiet.
constexpr DWORD DropReadCount = 4096;

struct PecosText {
    DWORD Code;
    const char *Text;
};

const PecosText PecosTexts[] = {
    {PecosResult::AuthorisationFailed,
     "Authorisation has failed.\nPlease make sure the right credentials are used and try again.\n"},
    {PecosResult::InvalidDetectorID,
     "Invalid Detector ID configured in Device driver.\nPlease make sure that the configured ID matches the "
     "name "
     "of the Detector\nAlso make sure that the detectors are enabled in the Pecos software.\n"},
    {PecosResult::TooManyChannels,
     "Too many AD Channels have been configured in Korvalis.\nPlease make sure the number of AD channels "
     "matches "
     "the amount of detectors.\nAlso make sure that the detectors are enabled in the Pecos software."},
    {PecosResult::InvalidXMLData, "Invalid XML data received from server.\n"},
    {PecosResult::XMLInterfaceDisabled,
     "The PECOS XML interface support is not enabled, please check your PECOS license."},
    {PecosResult::SubscribePrefixInMap,
     "A subscribe (SUB) prefix is set in the detector channel map in the device "
     "driver settings. This is not allowed."},
    {PecosResult::NoDetectorResponse, "No detector response was returned.\nAre the detector names configured "
                                      "correctly?\nOr are incorrect user credentials configured?"},
};

} // namespace

DWORD PecosLogEnd(QuellinEntry &entry, DWORD result) {
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

const char *PecosErrorText(DWORD dwCode) {
    for (const auto &entry : PecosTexts)
        if (entry.Code == dwCode)
            return entry.Text;
    return nullptr;
}

bool HasControlCharacter(const std::string &sText) {
    return std::any_of(sText.begin(), sText.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::string PecosVisaResource(const std::string &sServer, unsigned short port) {
    return "TCPIP::" + sServer + "::" + std::to_string(port) + "::SOCKET";
}

template <typename B> PontisPecosBase<B>::PontisPecosBase() {
    auto &manager = this->GetConfigurationManager();
    manager.SetSupportedStreams(PecosDefaults::SupportedStreams);
    // A driver that was never configured talks over TCP.
    manager.SetDefaultKind("TCPIP");
}

template <typename B> PontisPecosBase<B>::~PontisPecosBase() = default;

template <typename B> void PontisPecosBase<B>::ApplyConnectionDefaults() {
    auto &manager = this->GetConfigurationManager();
    ApplyPecosVisaDefault(manager.FindConfiguration("VISA"), PecosVisaResource(PecosDefaults::Server, mPort));
    if (auto network =
            std::dynamic_pointer_cast<NetworkBasedDeviceStreamConfig>(manager.FindConfiguration("TCPIP"))) {
        network->SetDefaultPort(mPort);
        network->SetDefaultServer(PecosDefaults::Server);
    }
}

template <typename B> DWORD PontisPecosBase<B>::DefaultStreamConfiguration(HostWindow hWnd) {
    ApplyConnectionDefaults();
    return DeviceStreamClientWithStreamBase::DefaultStreamConfiguration(hWnd);
}

template <typename B> DWORD PontisPecosBase<B>::AfterLoginConfiguration(HostWindow) {
    return 0;
}

template <typename B> bool PontisPecosBase<B>::CredentialsCanBeSent() const {
    return !HasControlCharacter(msUserName) && !HasControlCharacter(msPassword);
}

template <typename B> DWORD PontisPecosBase<B>::LogIn(HostWindow hWnd) {
    return Locked(hWnd, [&] {
        DWORD result = AuthorizeUser(hWnd);
        if (result == StreamResult::ReadTimeout)
            result = 0;
        // A server that answers the login (or sends it back) must not answer the first request.
        return result == 0 ? DropLateInput(hWnd) : result;
    });
}

template <typename B> DWORD PontisPecosBase<B>::InitDevice(HostWindow hWnd) {
    return PecosLogged(ModuleName, "InitDevice()", [&] {
        // Refused before the connect, which would replace the connection of an earlier session
        // while that one may still have to switch off what it switched on.
        if (!CredentialsCanBeSent())
            return PecosResult::AuthorisationFailed;
        // A new session: no line may connect again before its login.
        mbConnectionWanted = false;
        DWORD result = this->ConnectStream(hWnd, false);
        if (result == 0) {
            msSessionAddress = SelectedAddress();
            result = LogIn(hWnd);
        }
        if (result == 0) {
            mbInitialised = true;
            mbConnectionWanted = true;
        }
        return result;
    });
}

template <typename B> DWORD PontisPecosBase<B>::DeInitDevice(HostWindow hWnd) {
    return PecosLogged(ModuleName, "DeInitDevice()", [&] {
        mbConnectionWanted = false;
        const DWORD result = this->IsConnected() ? 0 : StreamResult::StreamNotConnected;
        return FirstNonZero(result, this->DisconnectStream(hWnd));
    });
}

template <typename B> DWORD PontisPecosBase<B>::CheckDevice(HostWindow hWnd) {
    return PecosLogged(ModuleName, "CheckDevice()", [&] {
        DWORD result = this->ConnectStream(hWnd, false);
        if (!this->IsConnected())
            result = StreamResult::StreamNotConnected;
        return FirstNonZero(result, this->DisconnectStream(hWnd));
    });
}

template <typename B> DWORD PontisPecosBase<B>::CheckDeviceOnStream(HostWindow hWnd) {
    const bool bOwnConnection = this->IsConnected() || mbConnectionWanted;
    mbReplyIncomplete = false;
    auto check = [&] { return DeviceStreamClientWithStreamBase::CheckDeviceOnStream(hWnd); };
    const DWORD result = mbConnectionWanted ? SendOnConnection(hWnd, SendKind::Exchange, check) : check();
    // A late identification would otherwise be read as the next value.
    if (bOwnConnection && mbReplyIncomplete)
        this->DisconnectStream(hWnd);
    return result;
}

template <typename B>
DWORD PontisPecosBase<B>::WriteReadUntilAnswer(HostWindow hWnd, const std::string &sCommand,
                                               std::string &sResponse, DWORD &dwCount, DWORD dwTries) {
    const DWORD result =
        DeviceStreamClientWithStream::WriteReadUntilAnswer(hWnd, sCommand, sResponse, dwCount, dwTries);
    std::string termination = this->GetReadTerminationInUse();
    if (termination.empty())
        termination = "\n";
    mbReplyIncomplete = result == 0 && !EndsWith(sResponse, termination, false);
    return result;
}

template <typename B> template <typename F> DWORD PontisPecosBase<B>::Locked(HostWindow hWnd, F &&work) {
    typename DeviceStreamClientWithStream::Locker locker(this);
    const DWORD result = locker.Lock(hWnd, this->GetTimeout(hWnd));
    return result != 0 ? result : work();
}

template <typename B>
template <typename F>
DWORD PontisPecosBase<B>::SendOnConnection(HostWindow hWnd, SendKind kind, F &&send) {
    const bool bMayReconnect = (mbConnectionWanted || mbSwitchingOff) && !mbRestoring;
    const bool bReconnect = !this->IsConnected();
    if (bReconnect && !bMayReconnect)
        return StreamResult::StreamNotConnected;
    // A line on a connection that was just made needs no look at its input.
    auto sendOnce = [&](bool bLook) -> DWORD {
        if (kind == SendKind::Exchange)
            return send();
        return Locked(hWnd, [&] {
            // What waits is dropped, as the next exchange would drop it anyway.
            if (bLook)
                this->DropWaitingInput(hWnd);
            return this->IsConnected() ? send() : StreamResult::StreamNotConnected;
        });
    };
    // The restore of a new connection has sent the session's own lines.
    auto sendAfterReconnect = [&]() -> DWORD {
        const DWORD result = Reconnect(hWnd);
        return result != 0 || kind == SendKind::SessionLine ? result : sendOnce(false);
    };
    if (bReconnect)
        return sendAfterReconnect();
    const DWORD result = sendOnce(true);
    if (result != 0 && bMayReconnect && !this->IsConnected())
        return sendAfterReconnect();
    return result;
}

template <typename B>
DWORD PontisPecosBase<B>::WriteLine(HostWindow hWnd, const std::string &sLine, SendKind kind) {
    return SendOnConnection(hWnd, kind, [&] { return this->Write(hWnd, sLine, false); });
}

template <typename B> void PontisPecosBase<B>::PauseUnlessRemoved(uint32_t milliseconds) {
    // Sleeps in slices, so that a removal is noticed soon whatever the pause; only the last slice
    // waits precisely.
    constexpr uint32_t Slice = 50; // ms
    const uint64_t end = this->mTiming.ReadCounter() + MillisecondsToMicroseconds(milliseconds);
    while (!this->IsRemoved()) {
        const uint64_t now = this->mTiming.ReadCounter();
        if (now >= end)
            break;
        if (end - now <= MillisecondsToMicroseconds(Slice + 1)) {
            this->mTiming.WaitPrecise(end - now);
            break;
        }
        this->mTiming.Sleep(Slice);
    }
}

template <typename B>
DWORD PontisPecosBase<B>::RequestReply(HostWindow hWnd, const std::string &sRequest, std::string &sResponse,
                                       DWORD dwCount) {
    const DWORD result = SendOnConnection(hWnd, SendKind::Exchange, [&] {
        // Nothing of a failed exchange can become the answer of the next.
        sResponse.clear();
        return WriteReadUntilAnswer(hWnd, sRequest, sResponse, dwCount, 0);
    });
    if (result == 0 && mbReplyIncomplete) {
        sResponse.clear();
        this->DisconnectStream(hWnd);
    }
    return result;
}

template <typename B> std::string PontisPecosBase<B>::SelectedAddress() {
    const auto configuration = this->GetConfigurationManager().GetSelectedConfiguration();
    return configuration ? configuration->GetIdentifier() : std::string();
}

template <typename B> void PontisPecosBase<B>::CloseAfterFailedInit(HostWindow hWnd, bool bSwitchOff) {
    // Only a connection that a login made is still wanted; no line connects again from here on.
    const bool bLoggedIn = mbConnectionWanted && this->IsConnected();
    mbConnectionWanted = false;
    if (bLoggedIn && bSwitchOff)
        SwitchOffAfterFailedInit(hWnd);
    this->DisconnectStream(hWnd);
}

template <typename B> DWORD PontisPecosBase<B>::RestoreSession(HostWindow) {
    return 0;
}

template <typename B> void PontisPecosBase<B>::SwitchOffAfterFailedInit(HostWindow) {}

template <typename B> DWORD PontisPecosBase<B>::Reconnect(HostWindow hWnd) {
    return PecosLogged(ModuleName, "Reconnect()", [&] {
        this->DisconnectStream(hWnd);
        // What the server keeps of the session stays at the server it was set up at.
        if (SessionTiedToServer() && SelectedAddress() != msSessionAddress)
            return StreamResult::StreamNotConnected;
        DWORD result = this->ConnectStream(hWnd, false);
        if (result == 0)
            result = LogIn(hWnd);
        if (result == 0 && !this->IsConnected())
            result = StreamResult::StreamNotConnected;
        if (result == 0) {
            mbRestoring = true;
            result = RestoreSession(hWnd);
            mbRestoring = false;
        }
        if (result == 0)
            ++mRestoredSessions;
        // Never left connected without its session: the next line tries again.
        if (result != 0)
            this->DisconnectStream(hWnd);
        return result;
    });
}

template <typename B> DWORD PontisPecosBase<B>::DropLateInput(HostWindow hWnd) {
    const double dTimeout = this->GetTimeout(hWnd);
    const uint32_t limit = SaturatingToUnsigned(SecondsToMilliseconds(dTimeout));
    const uint32_t start = this->mTiming.GetMilliseconds();
    DWORD result = 0;
    for (;;) {
        const uint32_t wait = std::min(QuietInput, this->mTiming.RemainingTime(start, limit));
        if (wait == 0)
            break;
        result = this->SetTimeout(hWnd, wait / 1000.0);
        std::string part;
        if (result == 0)
            result = this->Read(hWnd, part, DropReadCount);
        if (result == StreamResult::ReadTimeout)
            result = 0;
        if (result != 0 || part.empty())
            break;
    }
    result = FirstNonZero(result, this->SetTimeout(hWnd, dTimeout));
    return result == 0 ? this->ClearInputBuffers(hWnd) : result;
}

template <typename B> DWORD PontisPecosBase<B>::EnsureInitialized(HostWindow hWnd) {
    return PecosLogged(ModuleName, "EnsureInitialized()", [&] {
        if (mbInitialised && this->IsConnected())
            return DWORD{0};
        return this->InitDevice(hWnd);
    });
}

template <typename B>
DWORD PontisPecosBase<B>::LoadProgramSettings(HostWindow hWnd,
                                              std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (database) {
        database->PushTable(SettingsTable);
        msUserName = database->ReadStdString("UserName", msDefaultUserName);
        msPassword = database->ReadStdString("Password", msDefaultPassword);
        database->PopTable();
    }
    return Joined::LoadProgramSettings(hWnd, database);
}

template <typename B>
DWORD PontisPecosBase<B>::SaveProgramSettings(HostWindow hWnd,
                                              std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (database) {
        database->PushTable(SettingsTable);
        database->WriteStdString("UserName", msUserName);
        database->WriteStdString("Password", msPassword);
        database->PopTable();
    }
    return Joined::SaveProgramSettings(hWnd, database);
}

template <typename B>
DWORD PontisPecosBase<B>::AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) {
    return PecosLogged(ModuleName, "AddConfigurationDialogPanels()", [&] {
        PanelResourceNameList::AddUnique(panels, new PontisPecosLoginPanel<B>(this),
                                         PontisPecosLoginPanel<B>::ResourceName,
                                         PontisPecosLoginPanel<B>::Title);
        return Joined::AddConfigurationDialogPanels(hWnd, panels);
    });
}

template <typename B>
DWORD PontisPecosBase<B>::GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                         uint32_t *pdwRead) {
    ClearErrorText(sBuffer, dwBufferSize, pdwRead);
    const char *text = PecosErrorText(dwCode);
    if (text == nullptr)
        return Joined::GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwRead);
    CopyStringToBuffer(text, sBuffer, dwBufferSize, pdwRead);
    return 0;
}

template class PontisPecosBase<ADConvertorBase>;
template class PontisPecosBase<SwitchMatrixBase>;
