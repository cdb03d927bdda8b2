// The network streams' common base, configuration and page.
//
// NetworkBasedDeviceStream owns one wx socket: it resolves the configured address, connects,
// writes (with an optional "*OPC?" wait) and reads a response by its completion rule: count bytes,
// the read termination, or (enabled, empty termination) 10 ms without a further byte. Bytes that
// arrive after the end of a response are kept as pending input for the next Read. A Read that
// delivers fewer than count bytes, or none with the termination, ends with StreamResult::ReadTimeout;
// so does one that the cancel of the call it runs for ended (heard at the next receive slice).
//
// A connect try lasts at most what is left of the connect's time-out and ends at the cancel of the
// call it runs for (Platform::CurrentCancel): the stream connects a socket of its own and hands it
// to the wx socket. Sockets are blocking; every read first waits for readability against the operation's
// deadline (wx applies no time-out to a blocking read). Sockets are deleted directly: the plug-in runs no
// event loop that would carry out wxSocketBase::Destroy.
//
// NetworkBasedDeviceStreamConfig holds the address text; GetAddress gives it in normal form
// "tcpip://" + server + ":" + port, with the kind's default server and port where it has none.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "core/Timing.h"
#include "streams/DeviceStreamConfiguration.h"
#include "streams/WriteReadMixin.h"
#include "ui/ValidatorBasedPanel.h"

class wxIPV4address;
class wxInitDialogEvent;
class wxSocketBase;

// Result codes of the network streams (texts from NetworkBasedDeviceStream::GetErrorString).
namespace StreamResult {
constexpr DWORD EthernetNoServer = 0x300002D0;
constexpr DWORD EthernetNoPort = 0x300002D1;
constexpr DWORD EthernetUnsupportedHost = 0x300002D2;
constexpr DWORD EthernetNotConnected = 0x300002D3;
constexpr DWORD EthernetWriteError = 0x300002D4;
constexpr DWORD EthernetReadError = 0x300002D5;
constexpr DWORD EthernetTimeout = 0x300002D6;
constexpr DWORD HttpAllDataRead = 0x300002D7;
constexpr DWORD EthernetCouldNotConnect = 0x300002D8;
constexpr DWORD EthernetServerNotCreated = 0x300002D9;
constexpr DWORD HttpStatusNotSuccess = 0x300002DA;
constexpr DWORD HttpResponseUnreadable = 0x300002DB;
constexpr DWORD HttpResponseTooLarge = 0x300002DC;
} // namespace StreamResult

// The text of a network stream code; empty outside 0x300002D0-0x300002DA. The peer text goes
// between the two sentences of 0x300002D8.
std::string NetworkStreamErrorText(DWORD dwCode, const std::string &sPeer = std::string());

class NetworkBasedDeviceStream : public WriteReadDeviceStream {
public:
    explicit NetworkBasedDeviceStream(const std::string &sKindId);
    ~NetworkBasedDeviceStream() override;

    DWORD SetTimeout(HostWindow hWnd, double dSeconds) override;
    DWORD Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                  DeviceStreamClient *clientEntry) override;
    DWORD Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) override;
    bool IsConnected() override;
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    DWORD ClearInputBuffers(HostWindow hWnd) override;
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwLength) override;
    void InterruptWait() override;

    virtual DWORD SetConnectOnWrite(bool bConnectOnWrite);
    virtual DWORD InternalConnect(HostWindow hWnd);
    virtual DWORD InternalDisconnect(HostWindow hWnd);

    // Resolves the configuration's address into a new wxIPV4address that the caller deletes; 0
    // and address untouched when the configuration is not a network one. An empty server gives
    // EthernetNoServer, a name that does not resolve EthernetNotConnected, both without an address.
    static DWORD DetermineIPAddress(HostWindow hWnd, DeviceStreamConfiguration *configuration,
                                    wxIPV4address *&address);

    const std::string &GetKindId() const { return msKindId; }
    const std::string &GetPendingInput() const { return msPendingInput; }

protected:
    // Position just after the first read termination in the text; npos when there is none or the
    // termination is off or empty.
    size_t FindReadTermination(const std::string &sText);
    // Where the response in s ends: count, the termination, or (quiet-line rule) all of s once no
    // further byte came within 10 ms; npos while it is not complete.
    size_t FindResponseEnd(const std::string &s, DWORD dwCount);
    // True when input (or the end of the data) waits in the socket; does not block.
    bool InputWaiting();
    // Waits for input, then takes at most n bytes of what waits (one receive, so never more than
    // asked); empty when nothing came. A wait may end after a slice of the milliseconds: callers
    // loop until their own deadline.
    std::string ReadAvailable(DWORD n, uint32_t dwWaitMilliseconds);
    // One receive of at most n bytes; blocks while nothing waits.
    std::string ReadBytes(DWORD n);
    // Sends every byte of the text before the deadline; false when the socket failed or the
    // deadline passed first.
    bool SendAll(const std::string &sText, uint32_t dwMilliseconds);
    // Whole seconds of the time-out, at least 1 for any time-out above 0.
    long SocketTimeoutSeconds();
    // Timeout in milliseconds, clamped to 32 bits.
    uint32_t TimeoutMilliseconds();
    void EnsureReceiveBuffer(DWORD n);
    // Closes and deletes the socket.
    void DeleteSocket();
    // After a receive or send that failed with an I/O error (a connection reset by the peer): closes
    // the socket, so that the stream counts as not connected and its clients connect anew.
    void CloseAfterConnectionError();

    wxSocketBase *mSocket = nullptr;
    bool mbConnectOnWrite = false;
    // The client whose Connect runs: its connect tries end once it gave up.
    DeviceStreamClient *mConnectingClient = nullptr;
    std::shared_ptr<DeviceStreamConfiguration> mConfiguration;
    std::string msKindId;
    std::string msPendingInput;
    Timing mTimer;
    // Set by InterruptWait (any thread), cleared when a Read begins.
    std::atomic<bool> mbInterrupted{false};
    std::unique_ptr<char[]> mReceiveBuffer;
    DWORD mdwReceiveBufferCapacity = 0;
    // The socket blocks in slices (Platform::MakeBlockingInSlices): a receive waits by itself.
    bool mbReceiveInSlices = false;
};

class NetworkBasedDeviceStreamConfig : public DeviceStreamConfiguration {
public:
    NetworkBasedDeviceStreamConfig(const std::string &sKindId, const std::string &sDefaultServer,
                                   unsigned short defaultPort);

    // "Address" in the table "Ethernet".
    DWORD LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override;
    // The page "dlgEthernetDeviceStreamConfiguration" titled with the kind id.
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // By kind, then by normalised address.
    bool LessThan(std::shared_ptr<DeviceStreamConfiguration> other) override;
    // The address text is not empty.
    bool IsValid() override;
    // The same kind, address text and defaults.
    bool HasSameSettings(const DeviceStreamConfiguration &other) const override;
    // The texts of the network codes, as the stream gives them.
    std::string GetErrorText(DWORD dwCode) override;

    // "tcpip://" + server + ":" + port, defaults filling what the address lacks.
    std::string GetAddress();
    void SetAddress(const std::string &sAddress);
    void SetDefaultServer(const std::string &sServer);
    void SetDefaultPort(unsigned short port);

    const std::string &GetAddressText() const { return m_Address; }

protected:
    // The settings table of the kind.
    virtual std::string GetSettingsTable() const { return "Ethernet"; }

    std::string m_Address;
    unsigned short defaultPort;
    std::string defaultServer;
};

// The one-field page of the network kinds: "txtAddress" bound to GetAddress / SetAddress.
class NetworkBasedDeviceStreamConfigPanel : public ValidatorBasedPanel {
public:
    explicit NetworkBasedDeviceStreamConfigPanel(NetworkBasedDeviceStreamConfig *configuration);
    void OnInitDialog(wxInitDialogEvent &event);

private:
    NetworkBasedDeviceStreamConfig *mConfiguration;
    wxDECLARE_EVENT_TABLE();
};

// Resource name of the network kinds' page.
inline constexpr const char *EthernetConfigurationPageName = "dlgEthernetDeviceStreamConfiguration";
