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
// PECOS replies carry nothing that ties them to their request. A reply that does not end with the
// read termination (late, or cut off by the server) closes the connection, so that its rest can
// never be taken as the answer to a later request. From a successful InitDevice to DeInitDevice
// the driver wants its connection: a line to be sent while it is gone first connects again and
// restores the session (the login, and what the driver set up after it), once; without that wish
// such a line gives StreamNotConnected. An InitDevice that fails closes the connection again, so
// that no line goes out without a login.
//
// Lines without reply (login, commands, screen texts) go out under the stream's lock, as exchanges
// do: an instrument shared over VISA refuses the transfers of a session while another one holds it.
// Before each such line the driver looks at the input, which shows a connection that the server
// closed or reset: the line then goes out on a new connection instead of being lost.
#pragma once

#include <memory>
#include <string>

#include "core/ADConvertorBase.h"
#include "core/SwitchMatrixBase.h"
#include "core/TwoBaseClasses.h"
#include "logging/ConcealedText.h"
#include "logging/QuellinEntry.h"
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

    PontisPecosBase();
    ~PontisPecosBase() override;

    // Connected and initialised: 0; otherwise the driver's InitDevice.
    virtual DWORD EnsureInitialized(HostWindow hWnd);
    virtual DWORD AuthorizeUser(HostWindow hWnd) = 0;
    // Nothing to configure after the login here; 0.
    virtual DWORD AfterLoginConfiguration(HostWindow hWnd);

    // Table "PontisPecos" ("UserName", "Password"), then the joined bases.
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    // "Authorisation", then the typed base's pages and the stream client's.
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // Connect (own connection), log in; a login time-out counts as success. Success makes the
    // driver want its connection. Credentials that cannot be sent fail before anything is
    // connected. After a failure the driver's own InitDevice calls CloseAfterFailedInit.
    DWORD InitDevice(HostWindow hWnd) override;
    // Always disconnects; StreamNotConnected when there was no connection, else the disconnect's
    // code. The connection is no longer wanted.
    DWORD DeInitDevice(HostWindow hWnd) override;
    DWORD CheckDevice(HostWindow hWnd) override;
    // GetValue 56 and the stream client's check are one: the device check by identification. A
    // connected driver checks over its own connection and closes it when the reply stayed
    // incomplete; while the connection is wanted, one that is gone is made again first, as for a
    // read.
    DWORD CheckDeviceOnStream(HostWindow hWnd) override;
    // The client's exchange; also notes whether the reply ended with the read termination.
    DWORD WriteReadUntilAnswer(HostWindow hWnd, const std::string &sCommand, std::string &sResponse,
                               DWORD &dwCount, DWORD dwTries) override;
    // The PECOS texts first, then the joined bases'.
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwRead) override;
    // The VISA resource and the TCP server and port of the PECOS server.
    DWORD DefaultStreamConfiguration(HostWindow hWnd) override;

    std::string GetUserName() const { return msUserName; }
    void SetUserName(std::string sUserName) { msUserName = std::move(sUserName); }
    std::string GetPassword() const { return msPassword; }
    void SetPassword(std::string sPassword) { msPassword = std::move(sPassword); }

protected:
    // How SendOnConnection sends: an exchange locks by itself; a line without reply is sent under the
    // stream's lock after a look at the input that finds a connection the server closed or reset; a
    // line of the session's own set-up, which RestoreSession sends again, is not sent once more after
    // a reconnect whose restore sent it.
    enum class SendKind { Exchange, Line, SessionLine };

    // Every line the driver sends goes through here: while the connection is gone but wanted, a new
    // connection with the session restored comes first; while it is not wanted, StreamNotConnected
    // and nothing is sent. A send that finds the connection gone (the look, the exchange's own look
    // at the input, a failed write, a VISA session that lost it) runs once more on a new connection.
    // One reconnect per line at most: a failed one returns its code at once.
    template <typename F> DWORD SendOnConnection(HostWindow hWnd, SendKind kind, F &&send);
    // The work under the stream's lock (the named lock, then the kind's own); the lock's code when
    // it is not had.
    template <typename F> DWORD Locked(HostWindow hWnd, F &&work);
    // The request and its reply as one exchange. A reply that did not end with the read termination
    // comes back empty, and the connection is closed.
    DWORD RequestReply(HostWindow hWnd, const std::string &sRequest, std::string &sResponse, DWORD dwCount);
    // One line without reply; kind Line or SessionLine.
    DWORD WriteLine(HostWindow hWnd, const std::string &sLine, SendKind kind = SendKind::Line);
    // Waits the milliseconds, ending early once the host removed the driver. It sleeps in slices
    // and polls only its last millisecond.
    void PauseUnlessRemoved(uint32_t milliseconds);
    // After an InitDevice that failed: what the driver switched on is switched off (unless
    // bSwitchOff is false) while the connection of a logged-in session is still there (never over a
    // new one), then the connection is closed and no longer wanted, so that no line goes out before
    // an InitDevice succeeds.
    void CloseAfterFailedInit(HostWindow hWnd, bool bSwitchOff = true);
    // The identifier (kind and address) of the selected stream configuration; empty without one.
    std::string SelectedAddress();
    // A session that the server keeps state of (switched-on detectors) reconnects only to the
    // server of its InitDevice; a new address takes effect at the next InitDevice.
    virtual bool SessionTiedToServer() const { return false; }
    // What a session has set up after its login, set up again on a new connection (the restore
    // sends its lines on that connection only); 0 here.
    virtual DWORD RestoreSession(HostWindow hWnd);
    // Switches off what the driver switched on, over the connection that is there; nothing here.
    virtual void SwitchOffAfterFailedInit(HostWindow hWnd);
    // AuthorizeUser under the stream's lock, a time-out counting as success, then DropLateInput.
    DWORD LogIn(HostWindow hWnd);
    // Neither user name nor password holds a control character.
    bool CredentialsCanBeSent() const;

    // Gives the stream configurations the PECOS server's address (steps of DefaultStreamConfiguration
    // without its note); also run when the driver is built, so that a driver that is never
    // configured, or configured only by a file, connects to the PECOS server.
    void ApplyConnectionDefaults();

    unsigned short mPort = PecosDefaults::BasePort;
    bool mbInitialised = false;
    bool mbConnectionWanted = false;
    bool mbRestoring = false;       // a reconnect restores the session: no line connects again
    unsigned mRestoredSessions = 0; // counts the reconnects whose restore succeeded
    bool mbSwitchingOff = false;    // a switch-off may connect again, also after the session ended
    std::string msSessionAddress;   // SelectedAddress() when InitDevice last connected
    bool mbReplyIncomplete = false; // the last exchange's reply lacked the read termination
    std::string msUserName;
    std::string msPassword;
    std::string msDefaultUserName = PecosDefaults::Credential;
    std::string msDefaultPassword = PecosDefaults::Credential;

private:
    // Closes and opens the connection, logs in and restores the session.
    DWORD Reconnect(HostWindow hWnd);
    // Waits until no input came for QuietInput ms (at most the stream's time-out), then clears it.
    DWORD DropLateInput(HostWindow hWnd);
};

// A concrete driver's SCPI-style protocol over D (PontisPecosADConverterBase or
// PontisPecosEUTControllerBase).
template <typename D> class PontisPecosSCPIBase : public D {
public:
    explicit PontisPecosSCPIBase(const std::string &sExpectedResponse);
    ~PontisPecosSCPIBase() override;

    // Writes "AUTH-" + user name + ":" + password; no reply is read. Every record shows the password
    // of the line masked from then on, also where a server sends the line back, until the driver
    // is deleted or logs in with other credentials. Credentials with a control character are not
    // sent: AuthorisationFailed.
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
        if (!this->CredentialsCanBeSent())
            return PecosResult::AuthorisationFailed;
        const std::string sLine = "AUTH-" + this->msUserName + ":" + this->msPassword;
        // The password goes to the server as it is, but into no call record.
        mConcealedLogin.Keep(sLine, sLine.size() - this->msPassword.size());
        return this->Write(hWnd, sLine, false);
    });
}

template <typename D> DWORD PontisPecosSCPIBase<D>::CheckDevice(HostWindow hWnd) {
    return PecosLogged("PontisPecosSCPIBase", "CheckDevice()", [&] { return D::CheckDeviceOnStream(hWnd); });
}
