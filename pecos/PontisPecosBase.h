// What both PECOS drivers share. PontisPecosBase<B> joins a typed driver base B (ADConvertorBase
// or SwitchMatrixBase) with the device-stream client and adds the PECOS connection defaults, the
// login, the driver life cycle, the stored credentials, the login page and the PECOS error texts.
// PontisPecosSCPIBase<D> makes a concrete driver speak the server's SCPI-style protocol: the
// identification query "IDN?", port 15444, the login line "AUTH-<user>:<password>" and the
// device check by identification.
//
// Each driver opens a connection of its own (no sharing): two drivers on one server meet only in
// the stream's named lock.
//
// What a driver set up at a server belongs to its session (PecosSession): the server InitDevice
// connected to, what may connect again, the detectors switched on there. Every line goes through
// SendOnConnection, which asks the session: a live session connects again, with a login and its
// restore, when its connection is gone, and answers StreamNotConnected while the settings name
// another server; the switch-off that ends a session reaches that session's server whatever the
// settings say. Every login of a session sends the user name and password InitDevice logged in
// with. Once the host removed the driver nothing more goes out (NoDriverForDeviceID): every write
// and every connect of the driver passes the removal mark, and every wait (the stream's lock, the
// connect, the quiet input after a login, the pauses) ends at it.
//
// PECOS replies carry nothing that ties them to their request. A reply that does not end with the
// read termination (late, or cut off by the server) closes the connection, so that its rest can
// never be taken as the answer to a later request.
//
// Lines without reply (login, commands, screen texts) go out under the stream's lock, as exchanges
// do: an instrument shared over VISA refuses the transfers of a session while another one holds it.
// Before each such line the driver looks at the input, which shows a connection that the server
// closed or reset: the line then goes out on a new connection instead of being lost.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ADConvertorBase.h"
#include "core/SwitchMatrixBase.h"
#include "core/TwoBaseClasses.h"
#include "logging/ConcealedText.h"
#include "logging/QuellinEntry.h"
#include "pecos/PecosSession.h"
#include "streams/DeviceStreamClient.h"

// Result codes of the PECOS drivers; their texts come from PecosErrorText.
namespace PecosResult {
constexpr DWORD AuthorisationFailed = 0x3000BB1D;
constexpr DWORD InvalidDetectorID = 0x3000BB1E;
constexpr DWORD TooManyChannels = 0x3000BB1F;
constexpr DWORD InvalidXMLData = 0x3000BB20;
constexpr DWORD XMLInterfaceDisabled = 0x3000BB21;
constexpr DWORD SubscribePrefixInMap = 0x3000BB22;
constexpr DWORD NoDetectorResponse = 0x3000BB23;
} // namespace PecosResult

// The text of a PECOS code, null for any other code.
const char *PecosErrorText(DWORD dwCode);

// Closes a PECOS call record with the result's severity and "Err"; returns the result.
DWORD PecosLogEnd(QuellinEntry &entry, DWORD result);
// Runs the work inside a call record of the module with the name (severity "Note" at entry).
template <typename F> DWORD PecosLogged(const char *module, const char *name, F &&work) {
    QuellinEntry entry(module, name);
    entry.LogBegin(QuellinLevelNote);
    return PecosLogEnd(entry, work());
}

// True when the text holds a byte 0x00-0x1F or 0x7F: such settings text never goes onto the wire.
bool HasControlCharacter(const std::string &sText);

// Where the PECOS server is unless the settings say otherwise.
namespace PecosDefaults {
constexpr const char *Server = "127.0.0.1";
constexpr unsigned short BasePort = 35000;
constexpr unsigned short SCPIPort = 15444;
constexpr const char *Credential = "vurno"; // default user name and password of the settings
constexpr const char *SupportedStreams = "TCPIP;VISA";
} // namespace PecosDefaults

// "TCPIP::<server>::<port>::SOCKET".
std::string PecosVisaResource(const std::string &sServer, unsigned short port);
// Gives a VISA stream configuration without a resource that resource; any other configuration
// is left alone.
void ApplyPecosVisaDefault(const std::shared_ptr<DeviceStreamConfiguration> &configuration,
                           const std::string &sResource);

template <typename B> class PontisPecosBase : public TwoBaseClasses<B, DeviceStreamClientWithStream> {
public:
    using Joined = TwoBaseClassesConstructorLess<B, DeviceStreamClientWithStream>;
    using Phase = PecosSession::Phase;

    PontisPecosBase();
    ~PontisPecosBase() override;

    virtual DWORD AuthorizeUser(HostWindow hWnd) = 0;
    // Nothing to configure after the login here; 0.
    virtual DWORD AfterLoginConfiguration(HostWindow hWnd);

    // Table "PontisPecos" ("UserName", "Password"), then the joined bases.
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    // "Authorisation", then the typed base's pages and the stream client's.
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // InitSession with nothing to set up after the login.
    DWORD InitDevice(HostWindow hWnd) override;
    // Always disconnects; StreamNotConnected when there was no connection, else the disconnect's
    // code. A session that still holds switched-on detectors stays (closed) for the next
    // DeInitDevice or InitDevice; else it is over.
    DWORD DeInitDevice(HostWindow hWnd) override;
    // GetValue 56 and the stream client's check are one: the device check by identification. A live
    // session checks over its own connection (made again first when gone, as for a read) and closes
    // it when the reply stayed incomplete; with settings that name another server it answers
    // StreamNotConnected. Without a live session the server the settings name is checked.
    DWORD CheckDeviceOnStream(HostWindow hWnd) override;
    // The client's exchange; also notes whether the reply ended with the read termination.
    DWORD WriteReadUntilAnswer(HostWindow hWnd, const std::string &sCommand, std::string &sResponse,
                               DWORD &dwCount, DWORD dwTries) override;
    // The PECOS texts first, then the joined bases'.
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwRead) override;
    // The VISA resource and the TCP server and port of the PECOS server.
    DWORD DefaultStreamConfiguration(HostWindow hWnd) override;
    // Each connect try passes the removal mark: none starts after the removal, and the removal waits
    // for the one in progress.
    EntryGate *ConnectTryGate() override { return &this->OutputGate(); }
    // The stream's, unless the host removed the driver: NoDriverForDeviceID, and nothing is written.
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    // The stream's lock in one wait, which a removal ends (NoDriverForDeviceID).
    DWORD Lock(HostWindow hWnd, double dSeconds) override;

    std::string GetUserName() const { return msUserName; }
    void SetUserName(std::string sUserName) { msUserName = std::move(sUserName); }
    std::string GetPassword() const { return msPassword; }
    void SetPassword(std::string sPassword) { msPassword = std::move(sPassword); }

protected:
    // The InitDevice of both drivers. Settings that cannot be sent (CheckSettingsCanBeSent) fail
    // before anything happens: an earlier session keeps its connection and record. Else a new
    // session on the selected configuration: an earlier one at another server, or one that logged in
    // with another login, is ended first with its own login at its server (what another server
    // cannot take is forgotten with a warning; its failure is not this call's); one at the same
    // server hands its record over, so that what the new map leaves out is switched off again under
    // the new login. Then connect (own connection) and log in, a login time-out counting as success
    // and success making the session live (the record "InitDevice()"), then setUp(). A failure after
    // the check: CloseAfterFailedInit.
    DWORD InitSession(HostWindow hWnd, const std::function<DWORD()> &setUp);
    // Every line the driver sends goes through here. Exchanges lock by themselves; a line without
    // reply (bExchange false) is sent under the stream's lock after a look at the input that finds
    // a connection the server closed or reset. While the connection is gone a session that may
    // connect again (live: with its restore; ending: without) makes a new one first; otherwise the
    // line answers StreamNotConnected. A send that finds the connection gone (the look, the
    // exchange's own look at the input, a failed write, a VISA session that lost it) runs once more
    // on a new connection, unless covered() says that the restore of that connection sent it. One
    // reconnect per line at most: a failed one returns its code at once.
    template <typename F, typename C>
    DWORD SendOnConnection(HostWindow hWnd, bool bExchange, F &&send, C &&covered);
    // The work under the stream's lock (the named lock, then the kind's own); the lock's code when
    // it is not had.
    template <typename F> DWORD Locked(HostWindow hWnd, F &&work);
    // The request and its reply as one exchange. A reply that did not end with the read termination
    // comes back empty, and the connection is closed.
    DWORD RequestReply(HostWindow hWnd, const std::string &sRequest, std::string &sResponse, DWORD dwCount);
    // One line without reply.
    DWORD WriteLine(HostWindow hWnd, const std::string &sLine);
    // One line of the session's own set-up: beforeWrite runs once the line is about to be written;
    // after a reconnect the line is not sent when restored() says that the restore sent it.
    DWORD WriteSessionLine(HostWindow hWnd, const std::string &sLine,
                           const std::function<void()> &beforeWrite, const std::function<bool()> &restored);
    // Waits the milliseconds, ending early once the host removed the driver.
    void PauseUnlessRemoved(uint32_t milliseconds);
    // After an InitDevice that failed with the code: unless that was a lock time-out, what the
    // session switched on is switched off over the connection of a live session that is still
    // there (never over a new one); then the connection is closed and the session closed, so that
    // no line goes out before an InitDevice succeeds.
    void CloseAfterFailedInit(HostWindow hWnd, DWORD failure);
    // Switches off, at the session's server, what the session switched on but the names of keep,
    // with bReconnect over a new connection when the one there is gone; until a line fails. Nothing
    // here.
    virtual DWORD SwitchOffSession(HostWindow hWnd, bool bReconnect, const std::vector<std::string> &keep);
    // What a session has set up after its login, set up again on a new connection (the restore
    // sends its lines on that connection only); 0 here.
    virtual DWORD RestoreSession(HostWindow hWnd);
    // AuthorizeUser under the stream's lock, a time-out counting as success, then DropLateInput.
    DWORD LogIn(HostWindow hWnd);
    // The session is live and the settings name its server.
    bool SessionServesTheSettings();
    // Before anything of InitDevice happens, the one check of what the settings would send:
    // AuthorisationFailed for credentials with a control character or a user name with ':' (the
    // login line could not be told apart from another one); else 0.
    virtual DWORD CheckSettingsCanBeSent() const;
    // The user name and password a login sends: the session's, else the settings'.
    const std::string &GetLoginUserName() const { return mSession ? mSession->GetUserName() : msUserName; }
    const std::string &GetLoginPassword() const { return mSession ? mSession->GetPassword() : msPassword; }

    // Gives the stream configurations the PECOS server's address (steps of DefaultStreamConfiguration
    // without its note); also run when the driver is built, so that a driver that is never
    // configured, or configured only by a file, connects to the PECOS server.
    void ApplyConnectionDefaults();

    unsigned short mPort = PecosDefaults::BasePort;
    std::unique_ptr<PecosSession> mSession;
    bool mbReplyIncomplete = false; // the last exchange's reply lacked the read termination
    std::string msUserName;
    std::string msPassword;
    std::string msDefaultUserName = PecosDefaults::Credential;
    std::string msDefaultPassword = PecosDefaults::Credential;

private:
    // Ends an earlier session at another server or with another login, takes over the record of one
    // at the same server, and makes the new session on a copy of the selected configuration.
    void BeginSession(HostWindow hWnd);
    // Closes and opens the connection to the session's server and logs in; with bRestore the
    // session is restored.
    DWORD Reconnect(HostWindow hWnd, bool bRestore);
    // Waits until no input came for QuietInput ms (at most the stream's time-out), then clears it.
    // A connection lost on the way ends the wait as quiet input does; a removal ends it with
    // NoDriverForDeviceID.
    DWORD DropLateInput(HostWindow hWnd);
    // The first refusal for settings that name another server than the session's writes a warning
    // record that says so; later ones write none until the server the settings name changes.
    void WarnOfOtherServer();

    std::string msWarnedServer; // the server the last warning named; empty once the settings changed
};

// A concrete driver's SCPI-style protocol over D (PontisPecosADConverterBase or
// PontisPecosEUTControllerBase).
template <typename D> class PontisPecosSCPIBase : public D {
public:
    explicit PontisPecosSCPIBase(const std::string &sExpectedResponse);
    ~PontisPecosSCPIBase() override;

    // Writes "AUTH-" + user name + ":" + password of the login (the session's once there is one,
    // which InitDevice checked); no reply is read. Every record shows the password of the line
    // masked from then on, also where a server sends the line back, until the driver is deleted or
    // logs in with other credentials.
    DWORD AuthorizeUser(HostWindow hWnd) override;
    // The identification check over the stream ("IDN?"); GetValue 56 and the stream client's
    // check run the same (CheckDeviceOnStream).
    DWORD CheckDevice(HostWindow hWnd) override;
    DWORD CheckDeviceOnStream(HostWindow hWnd) override { return CheckDevice(hWnd); }

private:
    KeptConcealedText mConcealedLogin;
};

extern template class PontisPecosBase<ADConvertorBase>;
extern template class PontisPecosBase<SwitchMatrixBase>;

template <typename D> PontisPecosSCPIBase<D>::PontisPecosSCPIBase(const std::string &sExpectedResponse) {
    this->SetIdentificationQuery("IDN?");
    this->SetExpectedResponse(sExpectedResponse);
    this->mPort = PecosDefaults::SCPIPort;
    this->ApplyConnectionDefaults();
}

template <typename D> PontisPecosSCPIBase<D>::~PontisPecosSCPIBase() = default;

template <typename D> DWORD PontisPecosSCPIBase<D>::AuthorizeUser(HostWindow hWnd) {
    return PecosLogged("PontisPecosSCPIBase", "AuthorizeUser()", [&] {
        const std::string &sUserName = this->GetLoginUserName();
        const std::string &sPassword = this->GetLoginPassword();
        const std::string sLine = "AUTH-" + sUserName + ":" + sPassword;
        // The password goes to the server as it is, but into no call record.
        mConcealedLogin.Keep(sLine, sLine.size() - sPassword.size());
        return this->Write(hWnd, sLine, false);
    });
}

template <typename D> DWORD PontisPecosSCPIBase<D>::CheckDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosSCPIBase", "CheckDevice()", [&] { return D::CheckDeviceOnStream(hWnd); });
}
