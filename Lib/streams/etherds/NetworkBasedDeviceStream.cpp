// The network streams' common base over wx sockets, their configuration and page.
#include "streams/etherds/NetworkBasedDeviceStream.h"

#include <wx/socket.h>
#include <wx/uri.h>

#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"

NetworkBasedDeviceStream::NetworkBasedDeviceStream(const std::string &sKindId) : msKindId(sKindId) {}

NetworkBasedDeviceStream::~NetworkBasedDeviceStream() = default;

DWORD NetworkBasedDeviceStream::SetTimeout(HostWindow hWnd, double dSeconds) {
    return WriteReadDeviceStream::SetTimeout(hWnd, dSeconds);
}
DWORD NetworkBasedDeviceStream::Connect(HostWindow, std::shared_ptr<DeviceStreamConfiguration>,
                                        DeviceStreamClient *) {
    return StreamResult::OperationNotProvided;
}
DWORD NetworkBasedDeviceStream::Disconnect(HostWindow, DeviceStreamClient *) {
    return 0;
}
bool NetworkBasedDeviceStream::IsConnected() {
    return false;
}
DWORD NetworkBasedDeviceStream::Write(HostWindow, const std::string &, bool) {
    return StreamResult::EthernetNotConnected;
}
DWORD NetworkBasedDeviceStream::Read(HostWindow, std::string &, DWORD) {
    return StreamResult::EthernetNotConnected;
}
DWORD NetworkBasedDeviceStream::ClearInputBuffers(HostWindow) {
    msPendingInput.clear();
    return 0;
}
DWORD NetworkBasedDeviceStream::GetErrorString(HostWindow, DWORD, char *, uint32_t, uint32_t *) {
    return 0;
}
void NetworkBasedDeviceStream::InterruptWait() {}
DWORD NetworkBasedDeviceStream::SetConnectOnWrite(bool bConnectOnWrite) {
    mbConnectOnWrite = bConnectOnWrite;
    return 0;
}
DWORD NetworkBasedDeviceStream::InternalConnect(HostWindow) {
    return StreamResult::EthernetNotConnected;
}
DWORD NetworkBasedDeviceStream::InternalDisconnect(HostWindow) {
    return 0;
}
DWORD NetworkBasedDeviceStream::DetermineIPAddress(HostWindow, std::shared_ptr<DeviceStreamConfiguration>,
                                                   wxIPV4address *&) {
    return 0;
}

NetworkBasedDeviceStreamConfig::NetworkBasedDeviceStreamConfig(const std::string &sKindId,
                                                               const std::string &sDefaultServer,
                                                               unsigned short port)
    : DeviceStreamConfiguration(sKindId), defaultPort(port), defaultServer(sDefaultServer) {}

DWORD NetworkBasedDeviceStreamConfig::LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &) {
    return 0;
}
DWORD NetworkBasedDeviceStreamConfig::SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &) {
    return 0;
}
DWORD NetworkBasedDeviceStreamConfig::AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &) {
    return 0;
}
bool NetworkBasedDeviceStreamConfig::LessThan(std::shared_ptr<DeviceStreamConfiguration> other) {
    return Compare(other.get()) < 0;
}
bool NetworkBasedDeviceStreamConfig::IsValid() {
    return !m_Address.empty();
}
std::string NetworkBasedDeviceStreamConfig::GetAddress() {
    const wxURI uri(wxString::FromUTF8(m_Address.c_str()));
    std::string server = defaultServer;
    if (uri.HasServer())
        server = ToStdString(uri.GetServer());
    unsigned short port = defaultPort;
    if (uri.HasPort()) {
        // A port that does not convert, or does not fit 16 bits, leaves the default.
        const unsigned int parsed = ParseUnsignedOr(ToStdString(uri.GetPort()), 0);
        if (parsed > 0 && parsed <= 0xFFFF)
            port = static_cast<unsigned short>(parsed);
    }
    const std::string address = "tcpip://" + server + ":" + std::to_string(port);
    QuellinEntry entry("NetworkBasedDeviceStreamConfig", "GetAddress");
    entry.Log(QuellinLevelNote, QuellinDescription, "GetAddress(): " + address, L"m_Address", m_Address,
              L"server", server, L"port", port, L"defaultServer", defaultServer, L"defaultPort", defaultPort);
    return address;
}
void NetworkBasedDeviceStreamConfig::SetAddress(const std::string &sAddress) {
    m_Address = sAddress;
}
void NetworkBasedDeviceStreamConfig::SetDefaultServer(const std::string &sServer) {
    defaultServer = sServer;
}
void NetworkBasedDeviceStreamConfig::SetDefaultPort(unsigned short port) {
    defaultPort = port;
}

wxBEGIN_EVENT_TABLE(NetworkBasedDeviceStreamConfigPanel, ValidatorBasedPanel)
    EVT_INIT_DIALOG(NetworkBasedDeviceStreamConfigPanel::OnInitDialog) wxEND_EVENT_TABLE()

        NetworkBasedDeviceStreamConfigPanel::NetworkBasedDeviceStreamConfigPanel(
            NetworkBasedDeviceStreamConfig *configuration)
    : mConfiguration(configuration) {}

void NetworkBasedDeviceStreamConfigPanel::OnInitDialog(wxInitDialogEvent &event) {
    event.Skip(true);
}

std::string NetworkStreamErrorText(DWORD, const std::string &) {
    return std::string();
}
