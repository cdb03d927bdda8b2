// The PECOS driver base: connection defaults, login and life cycle, credentials, error texts.
#include "pecos/PontisPecosBase.h"

#include <algorithm>
#include <cstdint>

#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "pecos/PontisPecosPanels.h"
#include "streams/QuietInput.h"
#include "streams/etherds/NetworkBasedDeviceStream.h"

namespace {

const char *const ModuleName = "PontisPecosBase<BaseType>";
const char *const SettingsTable = "PontisPecos";
// After a new login: input must have been quiet this long before it is dropped.
constexpr uint32_t QuietInput = 100; // ms
// The longest a wait that a removal ends goes on without looking at the mark.
constexpr uint32_t RemovalSlice = 50; // ms
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

template <typename B> DWORD PontisPecosBase<B>::CheckSettingsCanBeSent() const {
    // "AUTH-u:x:y" would be user u with password x:y as well.
    const bool bAmbiguous = msUserName.find(':') != std::string::npos;
    return bAmbiguous || HasControlCharacter(msUserName) || HasControlCharacter(msPassword)
               ? PecosResult::AuthorisationFailed
               : 0;
}

template <typename B>
DWORD PontisPecosBase<B>::Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) {
    const EntryGate::Pass output(this->OutputGate());
    if (!output)
        return ResultCode::NoDriverForDeviceID;
    return DeviceStreamClientWithStream::Write(hWnd, sCommand, bWaitForOPC);
}

// One wait, which the removal ends (it cancels the call's waits) without costing the others' turns.
template <typename B> DWORD PontisPecosBase<B>::Lock(HostWindow hWnd, double dSeconds) {
    if (this->IsRemoved())
        return ResultCode::NoDriverForDeviceID;
    return DeviceStreamClientWithStream::Lock(hWnd, dSeconds);
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

template <typename B> void PontisPecosBase<B>::BeginSession(HostWindow hWnd) {
    const auto selected = this->GetConfigurationManager().GetSelectedConfiguration();
    std::shared_ptr<DeviceStreamConfiguration> configuration = selected ? selected->Copy() : nullptr;
    auto session =
        std::make_unique<PecosSession>(configuration ? configuration : selected, msUserName, msPassword);
    msWarnedServer.clear();
    if (mSession) {
        const bool bSameServer = mSession->GetServer() == session->GetServer();
        const bool bSameLogin =
            mSession->GetUserName() == msUserName && mSession->GetPassword() == msPassword;
        const std::vector<std::string> earlier = mSession->GetSwitchedOn();
        // A server may take either login: the earlier one's switch-off goes out under its own.
        if (!bSameServer || !bSameLogin)
            SwitchOffSession(hWnd, true, {});
        if (bSameServer) {
            // Switched off (again), where the new map leaves it out, over the new session's connection.
            for (const std::string &name : earlier)
                session->RecordSwitchedOn(name);
            session->TakeOver(*mSession);
        } else {
            // Never carried to another server: what cannot be switched off there is forgotten.
            mSession->Abandon("InitDevice");
        }
        this->DisconnectStream(hWnd);
    }
    mSession = std::move(session);
}

template <typename B> DWORD PontisPecosBase<B>::InitDevice(HostWindow hWnd) {
    return InitSession(hWnd, [] { return DWORD(0); });
}

template <typename B>
DWORD PontisPecosBase<B>::InitSession(HostWindow hWnd, const std::function<DWORD()> &setUp) {
    // Refused before anything else: an earlier session keeps its connection and its record.
    DWORD result = CheckSettingsCanBeSent();
    if (result != 0)
        return result;
    result = PecosLogged(ModuleName, "InitDevice()", [&] {
        BeginSession(hWnd);
        DWORD login = this->ConnectStreamTo(hWnd, false, mSession->GetConfiguration());
        if (login == 0)
            login = LogIn(hWnd);
        if (login == 0)
            mSession->GoLive();
        return login;
    });
    if (result == 0)
        result = setUp();
    if (result != 0)
        CloseAfterFailedInit(hWnd, result);
    return result;
}

template <typename B> DWORD PontisPecosBase<B>::DeInitDevice(HostWindow hWnd) {
    return PecosLogged(ModuleName, "DeInitDevice()", [&] {
        if (mSession && mSession->GetSwitchedOn().empty())
            mSession.reset();
        else if (mSession)
            mSession->Close();
        const DWORD result = this->IsConnected() ? 0 : StreamResult::StreamNotConnected;
        return FirstNonZero(result, this->DisconnectStream(hWnd));
    });
}

template <typename B> bool PontisPecosBase<B>::SessionServesTheSettings() {
    const auto selected = this->GetConfigurationManager().GetSelectedConfiguration();
    if (!selected)
        return false;
    // Unchanged settings are told apart cheaply; working out the identifier costs a URI parse.
    const auto &own = mSession->GetConfiguration();
    return selected == own || (own && selected->HasSameSettings(*own)) ||
           selected->GetIdentifier() == mSession->GetServer();
}

template <typename B> void PontisPecosBase<B>::WarnOfOtherServer() {
    const auto selected = this->GetConfigurationManager().GetSelectedConfiguration();
    const std::string sNamed = selected ? selected->GetIdentifier() : std::string();
    if (sNamed == msWarnedServer)
        return;
    msWarnedServer = sNamed;
    QuellinEntry entry(ModuleName, "SendOnConnection");
    entry.Log(QuellinLevelWarning, QuellinDescription,
              "The settings name " + sNamed + ", the session is at " + mSession->GetServer() +
                  ": nothing is sent until InitDevice starts a session at " + sNamed);
}

template <typename B> DWORD PontisPecosBase<B>::CheckDeviceOnStream(HostWindow hWnd) {
    auto check = [&] { return DeviceStreamClientWithStreamBase::CheckDeviceOnStream(hWnd); };
    if (!mSession || mSession->GetPhase() != Phase::Live)
        return check();
    mbReplyIncomplete = false;
    const DWORD result = SendOnConnection(hWnd, true, check, [] { return false; });
    // A late identification would otherwise be read as the next value.
    if (mbReplyIncomplete)
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
template <typename F, typename C>
DWORD PontisPecosBase<B>::SendOnConnection(HostWindow hWnd, bool bExchange, F &&send, C &&covered) {
    if (this->IsRemoved())
        return ResultCode::NoDriverForDeviceID;
    if (!mSession)
        return StreamResult::StreamNotConnected;
    const Phase phase = mSession->GetPhase();
    // A session's lines go to its own server only: settings that name another one since wait for
    // the next InitDevice.
    if (phase == Phase::Live) {
        if (!SessionServesTheSettings()) {
            WarnOfOtherServer();
            return StreamResult::StreamNotConnected;
        }
        // The settings came back: the next move warns again.
        if (!msWarnedServer.empty())
            msWarnedServer.clear();
    }
    const bool bMayReconnect = mSession->MayConnectAgain();
    // A line on a connection that was just made needs no look at its input.
    auto sendOnce = [&](bool bLook) -> DWORD {
        if (bExchange)
            return send();
        return Locked(hWnd, [&] {
            // What waits is dropped, as the next exchange would drop it anyway.
            if (bLook)
                this->DropWaitingInput(hWnd);
            return this->IsConnected() ? send() : StreamResult::StreamNotConnected;
        });
    };
    auto sendAfterReconnect = [&]() -> DWORD {
        const DWORD result = Reconnect(hWnd, phase == Phase::Live);
        return result != 0 || covered() ? result : sendOnce(false);
    };
    DWORD result = 0;
    if (!this->IsConnected())
        result = bMayReconnect ? sendAfterReconnect() : StreamResult::StreamNotConnected;
    else {
        result = sendOnce(true);
        if (result != 0 && bMayReconnect && !this->IsConnected())
            result = sendAfterReconnect();
    }
    return result != 0 && this->IsRemoved() ? ResultCode::NoDriverForDeviceID : result;
}

template <typename B> DWORD PontisPecosBase<B>::WriteLine(HostWindow hWnd, const std::string &sLine) {
    return SendOnConnection(
        hWnd, false, [&] { return this->Write(hWnd, sLine, false); }, [] { return false; });
}

template <typename B>
DWORD PontisPecosBase<B>::WriteSessionLine(HostWindow hWnd, const std::string &sLine,
                                           const std::function<void()> &beforeWrite,
                                           const std::function<bool()> &restored) {
    return SendOnConnection(
        hWnd, false,
        [&] {
            beforeWrite();
            return this->Write(hWnd, sLine, false);
        },
        restored);
}

template <typename B> void PontisPecosBase<B>::PauseUnlessRemoved(uint32_t milliseconds) {
    // Sleeps until a millisecond before the end, which the removal cuts short; the last millisecond
    // is waited precisely.
    const uint64_t end = this->mTiming.ReadCounter() + MillisecondsToMicroseconds(milliseconds);
    if (milliseconds > 1 && !this->GetRemoval().SleepUntil(Platform::CancelSignal::Clock::now() +
                                                           std::chrono::milliseconds(milliseconds - 1)))
        return;
    const uint64_t now = this->mTiming.ReadCounter();
    if (now < end && !this->IsRemoved())
        this->mTiming.WaitPrecise(end - now);
}

template <typename B>
DWORD PontisPecosBase<B>::RequestReply(HostWindow hWnd, const std::string &sRequest, std::string &sResponse,
                                       DWORD dwCount) {
    const DWORD result = SendOnConnection(
        hWnd, true,
        [&] {
            // Nothing of a failed exchange can become the answer of the next.
            sResponse.clear();
            return WriteReadUntilAnswer(hWnd, sRequest, sResponse, dwCount, 0);
        },
        [] { return false; });
    if (result == 0 && mbReplyIncomplete) {
        sResponse.clear();
        this->DisconnectStream(hWnd);
    }
    return result;
}

template <typename B> void PontisPecosBase<B>::CloseAfterFailedInit(HostWindow hWnd, DWORD failure) {
    if (mSession) {
        // Only a connection that a login made is a live session's; no line connects again from here.
        const bool bLoggedIn = mSession->GetPhase() == Phase::Live && this->IsConnected();
        // A lock that was not had would only be waited for once more.
        if (bLoggedIn && failure != StreamResult::LockTimeout)
            SwitchOffSession(hWnd, false, {});
        mSession->Close();
    }
    this->DisconnectStream(hWnd);
}

template <typename B>
DWORD PontisPecosBase<B>::SwitchOffSession(HostWindow, bool, const std::vector<std::string> &) {
    return 0;
}

template <typename B> DWORD PontisPecosBase<B>::RestoreSession(HostWindow) {
    return 0;
}

template <typename B> DWORD PontisPecosBase<B>::Reconnect(HostWindow hWnd, bool bRestore) {
    return PecosLogged(ModuleName, "Reconnect()", [&] {
        this->DisconnectStream(hWnd);
        DWORD result = this->ConnectStreamTo(hWnd, false, mSession->GetConfiguration());
        if (result == 0)
            result = LogIn(hWnd);
        if (result == 0 && !this->IsConnected())
            result = StreamResult::StreamNotConnected;
        if (result == 0 && bRestore) {
            const auto restoring = mSession->Restoring();
            result = RestoreSession(hWnd);
        }
        // Never left connected without its session: the next line tries again.
        if (result != 0)
            this->DisconnectStream(hWnd);
        return result;
    });
}

template <typename B> DWORD PontisPecosBase<B>::DropLateInput(HostWindow hWnd) {
    const double dTimeout = this->GetTimeout(hWnd);
    bool bLost = false;
    // A TCP read hears the removal itself. A VISA read waits in the VISA library until its
    // time-out, which nothing else ends: it is read in slices, so that a removal ends the wait
    // within one.
    const uint32_t slice =
        DeviceStreamBaseDecorator::FindStreamOfType<NetworkBasedDeviceStream>(this->mEmbedded) ? UINT32_MAX
                                                                                               : RemovalSlice;
    // One wait of the drain.
    const QuietInputStep step = [&](uint32_t dwMilliseconds, bool &bInputCame) -> DWORD {
        const uint32_t start = this->mTiming.GetMilliseconds();
        for (;;) {
            const uint32_t wait = std::min(slice, this->mTiming.RemainingTime(start, dwMilliseconds));
            if (wait == 0 || this->IsRemoved())
                return 0;
            DWORD result = this->SetTimeout(hWnd, wait / 1000.0);
            std::string part;
            if (result == 0)
                result = this->Read(hWnd, part, DropReadCount);
            if (result == StreamResult::ReadTimeout)
                result = 0;
            // A connection lost here has nothing more to say: the drain ends as at quiet input.
            bLost = !this->IsConnected();
            if (result != 0 || bLost || !part.empty()) {
                bInputCame = !part.empty() && !bLost;
                return bLost ? 0 : result;
            }
        }
    };
    const QuietInputOutcome outcome =
        DropUntilQuiet(QuietInput, SaturatingToUnsigned(SecondsToMilliseconds(dTimeout)), step,
                       [&] { return bLost || this->IsRemoved(); });
    const DWORD result = FirstNonZero(outcome.Result, this->SetTimeout(hWnd, dTimeout));
    if (this->IsRemoved())
        return ResultCode::NoDriverForDeviceID;
    if (!this->IsConnected())
        return 0;
    return result == 0 ? this->ClearInputBuffers(hWnd) : result;
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
    const DWORD result = Joined::LoadProgramSettings(hWnd, database);
    // Settings that name another server than the last warning did warn again at the next refusal.
    const auto selected = this->GetConfigurationManager().GetSelectedConfiguration();
    if (!msWarnedServer.empty() && (!selected || selected->GetIdentifier() != msWarnedServer))
        msWarnedServer.clear();
    return result;
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
