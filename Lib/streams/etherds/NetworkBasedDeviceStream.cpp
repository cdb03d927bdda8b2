// The network streams' common base over wx sockets, their configuration and page.
#include "streams/etherds/NetworkBasedDeviceStream.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <exception>
#include <limits>
#include <utility>

#include <wx/sckaddr.h>
#include <wx/socket.h>
#include <wx/uri.h>

#include "core/PanelResourceName.h"
#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "streams/DeviceStreamClient.h"
#include "platform/Cancel.h"
#include "platform/SocketSupport.h"
#include "ui/wxCustomValidator.h"

namespace {

constexpr const char *StreamModule = "NetworkBasedDeviceStream";
constexpr const char *ConfigModule = "NetworkBasedDeviceStreamConfig";

// Pause between two connect attempts to a peer that refused.
constexpr uint32_t ConnectRetryPause = 50;
// Quiet time after which a response without termination text is complete.
constexpr uint32_t QuietLineMilliseconds = 10;
// Most bytes taken by one receive.
constexpr DWORD LargestReceive = 1u << 20;
// Bytes taken per receive when waiting input is dropped.
constexpr DWORD DiscardChunk = 4096;
// Largest socket time-out handed to wx (its waits count in long milliseconds).
constexpr double LongestSocketTimeout = 2000000.0;

const wxSocketFlags ClientSocketFlags = wxSOCKET_BLOCK | wxSOCKET_REUSEADDR;

// The server and port parts of an address text in the generic URI syntax.
struct AddressParts {
    bool HasServer = false;
    std::string Server;
    bool HasPort = false;
    std::string Port;
    // A registered name or an IPv4 literal (not an IPv6 or future literal in brackets).
    bool IsIPv4OrName = false;
};

AddressParts SplitAddress(const std::string &sAddress) {
    AddressParts parts;
    // wx's URI parser does not read bracketed IP literals ("[::1]"): they are taken apart here.
    const size_t slashes = sAddress.find("//");
    if (slashes != std::string::npos && sAddress.compare(slashes + 2, 1, "[") == 0) {
        const size_t close = sAddress.find(']', slashes + 2);
        if (close != std::string::npos) {
            parts.HasServer = true;
            parts.Server = sAddress.substr(slashes + 2, close - slashes - 1);
            if (sAddress.compare(close + 1, 1, ":") == 0) {
                parts.HasPort = true;
                parts.Port = sAddress.substr(close + 2, sAddress.find('/', close) - close - 2);
            }
            return parts;
        }
    }
    const wxURI uri(wxString::FromUTF8(sAddress.c_str()));
    parts.HasServer = uri.HasServer();
    parts.Server = ToStdString(uri.GetServer());
    parts.HasPort = uri.HasPort();
    parts.Port = ToStdString(uri.GetPort());
    if (parts.HasPort && slashes != std::string::npos) {
        // wx keeps the leading digits of "5025x" as the port and reads the rest as a path: the port
        // is all of the text from the authority's last colon to its end.
        const size_t start = slashes + 2;
        const size_t end = sAddress.find_first_of("/?#", start);
        const std::string authority =
            sAddress.substr(start, end == std::string::npos ? std::string::npos : end - start);
        parts.Port = authority.substr(authority.rfind(':') + 1);
    }
    parts.IsIPv4OrName = uri.GetHostType() == wxURI_REGNAME || uri.GetHostType() == wxURI_IPV4ADDRESS;
    return parts;
}

// " (<IP address>:<port>)" of the configuration's address for the text of EthernetCouldNotConnect;
// empty when it gives none. result: the code of the address resolution.
std::string PeerText(DeviceStreamConfiguration *configuration, DWORD &result) {
    wxIPV4address *address = nullptr;
    result = NetworkBasedDeviceStream::DetermineIPAddress(nullptr, configuration, address);
    std::string peer;
    if (result == 0 && address != nullptr)
        peer = " (" + ToStdString(address->IPAddress()) + ":" + std::to_string(address->Service()) + ")";
    delete address;
    return peer;
}

// Makes the socket client hold the connected descriptor. wx connects a socket that it made
// blocking in one call that neither a deadline nor a cancel ends, so the stream connects a socket
// of its own; a connect of the client that fails at once (to a Unix path that cannot exist) gives
// the client a descriptor of its own, in whose place the connected one goes, and the client is told
// that its connection came. Its flags, reads and writes are then those of a client that wx
// connected.
void HandOver(wxSocketClient &client, int descriptor) {
    wxUNIXaddress nowhere;
    nowhere.Filename("/dev/null/nowhere");
    client.Connect(nowhere, true);
    const int place = client.IsOk() ? static_cast<int>(client.GetSocket()) : -1;
    if (place < 0 || !Platform::MoveDescriptor(descriptor, place)) {
        Platform::CloseDescriptor(descriptor);
        return;
    }
    client.OnRequest(wxSOCKET_CONNECTION);
}

} // namespace

std::string NetworkStreamErrorText(DWORD dwCode, const std::string &sPeer) {
    switch (dwCode) {
    case StreamResult::EthernetNoServer:
        return "Ethernet Address Has No Server";
    case StreamResult::EthernetNoPort:
        return "Ethernet Address Has No Port";
    case StreamResult::EthernetUnsupportedHost:
        return "Ethernet Unsupported Host Type";
    case StreamResult::EthernetNotConnected:
        return "Ethernet not connected";
    case StreamResult::EthernetWriteError:
        return "Ethernet Write Error detected";
    case StreamResult::EthernetReadError:
        return "Ethernet Read Error detected";
    case StreamResult::EthernetTimeout:
        return "Ethernet Timeout detected";
    case StreamResult::HttpAllDataRead:
        return "All data from HTTP request is read";
    case StreamResult::EthernetCouldNotConnect:
        return "Could not connect to the specified address and port" + sPeer +
               ". The receiving address should be a local address and port.";
    case StreamResult::EthernetServerNotCreated:
        return "Ethernet server object could not be created";
    case StreamResult::HttpStatusNotSuccess:
        return "HTTP response status is not success (2xx)";
    case StreamResult::HttpResponseUnreadable:
        return "HTTP response body cannot be read (transfer coding or Content-Length)";
    case StreamResult::HttpResponseTooLarge:
        return "HTTP response is larger than 4 MB";
    default:
        return std::string();
    }
}

// ---- Stream ---------------------------------------------------------------------------------------

NetworkBasedDeviceStream::NetworkBasedDeviceStream(const std::string &sKindId) : msKindId(sKindId) {
    mdwLastWriteCount = 0;
    QuellinEntry entry(StreamModule, "NetworkBasedDeviceStream");
    entry.Log(QuellinLevelNote, L"configObjectIDDescription", msKindId);
}

NetworkBasedDeviceStream::~NetworkBasedDeviceStream() {
    QuellinEntry entry(StreamModule, "~NetworkBasedDeviceStream");
    entry.Log(QuellinLevelNote);
    NetworkBasedDeviceStream::InternalDisconnect(nullptr);
}

long NetworkBasedDeviceStream::SocketTimeoutSeconds() {
    const double seconds = std::min(mParameters.dTimeout, LongestSocketTimeout);
    // A time-out below one second would become 0, which wx takes as "do not wait at all".
    return seconds >= 1.0 ? static_cast<long>(seconds) : 1;
}

uint32_t NetworkBasedDeviceStream::TimeoutMilliseconds() {
    return SaturatingToUnsigned(SecondsToMilliseconds(mParameters.dTimeout));
}

DWORD NetworkBasedDeviceStream::SetTimeout(HostWindow hWnd, double dSeconds) {
    const DWORD result = WriteReadDeviceStream::SetTimeout(hWnd, dSeconds);
    if (mSocket != nullptr && IsConnected())
        mSocket->SetTimeout(SocketTimeoutSeconds());
    return result;
}

DWORD NetworkBasedDeviceStream::Connect(HostWindow hWnd,
                                        std::shared_ptr<DeviceStreamConfiguration> configuration,
                                        DeviceStreamClient *clientEntry) {
    QuellinEntry entry(StreamModule, "Connect");
    DWORD result = VerifyCorrectConfigurationObject(configuration, msKindId);
    if (result == 0 && configuration) {
        const std::string identifier = configuration->GetIdentifier();
        SetLockName(identifier);
        entry.Log(QuellinLevelNote, QuellinDescription, "SetLockName(" + identifier + ")");
    }
    mConnectingClient = clientEntry;
    if (result == 0) {
        if (IsFirstClient(hWnd, clientEntry)) {
            mConfiguration = configuration;
            result = InternalConnect(hWnd);
            if (result == 0)
                mbConnected = true;
        } else if (clientEntry != nullptr && mConfiguration && !IsConnected()) {
            // The device dropped the connection since the first client opened it: open it again.
            result = InternalConnect(hWnd);
            if (result == 0)
                mbConnected = true;
        }
    }
    mConnectingClient = nullptr;
    if (result == 0 && IsConnected())
        RegisterClient(hWnd, clientEntry);
    entry.Log(result == 0 ? QuellinLevelComplete : QuellinLevelError, L"Err", result);
    return result;
}

DWORD NetworkBasedDeviceStream::Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) {
    DWORD result = 0;
    if (UnregisterClient(hWnd, clientEntry)) {
        result = InternalDisconnect(hWnd);
        mbConnected = false;
    }
    return result;
}

bool NetworkBasedDeviceStream::IsConnected() {
    // A peer that closed its end is noticed by the read that found the end of the data.
    return mSocket != nullptr && mSocket->IsConnected() && !mSocket->IsClosed();
}

DWORD NetworkBasedDeviceStream::SetConnectOnWrite(bool bConnectOnWrite) {
    mbConnectOnWrite = bConnectOnWrite;
    return 0;
}

DWORD NetworkBasedDeviceStream::DetermineIPAddress(HostWindow, DeviceStreamConfiguration *configuration,
                                                   wxIPV4address *&address) {
    auto *network = dynamic_cast<NetworkBasedDeviceStreamConfig *>(configuration);
    if (network == nullptr)
        return 0;
    DWORD result = 0;
    const std::string text = network->GetAddress();
    const AddressParts parts = SplitAddress(text);
    const std::string &server = parts.Server;
    const std::string &port = parts.Port;
    if (!parts.HasPort) {
        result = StreamResult::EthernetNoPort;
    } else if (!parts.HasServer || server.empty()) {
        // "tcpip://:5025" names no server: that is no licence to reach this machine.
        result = StreamResult::EthernetNoServer;
    } else if (parts.IsIPv4OrName) {
        address = new wxIPV4address();
        // A name that does not resolve would leave the address unset, which wx takes as this
        // machine: it must not be connected to.
        if (!address->Hostname(wxString::FromUTF8(server.c_str())) ||
            !address->Service(wxString::FromUTF8(port.c_str()))) {
            delete address;
            address = nullptr;
            result = StreamResult::EthernetNotConnected;
        }
    } else {
        address = nullptr;
        result = StreamResult::EthernetUnsupportedHost;
    }
    QuellinEntry entry(StreamModule, "DetermineIPAddress");
    entry.Log(result == 0 ? QuellinLevelNote : QuellinLevelError, QuellinDescription,
              "DetermineIPAddress(" + text + ")", L"Server", server, L"Address", server + ":" + port, L"Err",
              result);
    return result;
}

DWORD NetworkBasedDeviceStream::InternalConnect(HostWindow hWnd) {
    QuellinEntry entry(StreamModule, "InternalConnect");
    DWORD result = VerifyCorrectConfigurationObject(mConfiguration, msKindId);
    if (result == 0)
        InternalDisconnect(hWnd);
    wxIPV4address *address = nullptr;
    if (result == 0 && !IsConnected())
        result = DetermineIPAddress(hWnd, mConfiguration.get(), address);
    if (result == 0 && address != nullptr) {
        auto *client = new wxSocketClient(ClientSocketFlags);
        mSocket = client;
        mbReceiveInSlices = false;
        client->SetTimeout(SocketTimeoutSeconds());
        const std::string server = ToStdString(address->IPAddress());
        const unsigned short port = address->Service();
        mParameters.Delayer.WaitRemainingDelay();
        const uint32_t start = mTimer.GetMilliseconds();
        const uint32_t timeout = TimeoutMilliseconds();
        bool connected = false;
        // A refused connection is tried again until the time-out has passed, with a pause between
        // that sleeps: a host waiting on a stopped server holds no processor core. A try lasts at
        // most what is left of the time-out, and ends at the cancel of the call it runs for; a
        // client that gave up ends the tries.
        while (!connected && mTimer.ElapsedSince(start) < timeout) {
            {
                const ConnectTry attempt(mConnectingClient);
                if (!attempt.IsLetIn())
                    break;
                Platform::ConnectEnd end = Platform::ConnectEnd::Failed;
                const int descriptor = Platform::ConnectWithin(
                    server, port, mTimer.RemainingTime(start, timeout), Platform::CurrentCancel(), end);
                if (descriptor >= 0)
                    HandOver(*client, descriptor);
            }
            mParameters.Delayer.StoreLastCommunicationTime();
            connected = client->IsConnected();
            const uint32_t remaining = mTimer.RemainingTime(start, timeout);
            if (!connected && remaining > 0)
                mTimer.Sleep(std::min(remaining, ConnectRetryPause));
        }
        if (connected) {
            // Short commands go out at once instead of waiting for the peer's acknowledgement.
            const int on = 1;
            client->SetOption(Platform::TcpOptionLevel(), Platform::TcpNoDelayOption(), &on, sizeof(on));
            mbReceiveInSlices = Platform::MakeBlockingInSlices(client->GetSocket());
        }
    }
    if (result == 0 && !IsConnected())
        result = StreamResult::EthernetNotConnected;
    if (result == 0)
        ClearInputBuffers(hWnd);
    else
        DeleteSocket();
    delete address;
    entry.Log(result == 0 ? QuellinLevelNote : QuellinLevelError, L"Err", result, L"Connected",
              IsConnected());
    return result;
}

void NetworkBasedDeviceStream::DeleteSocket() {
    // Deleted here: Destroy would leave it to an event loop that the plug-in does not run.
    delete mSocket;
    mSocket = nullptr;
}

DWORD NetworkBasedDeviceStream::InternalDisconnect(HostWindow) {
    if (mSocket == nullptr)
        return 0;
    if (mSocket->IsConnected()) {
        mParameters.Delayer.WaitRemainingDelay();
        mSocket->Close();
        mParameters.Delayer.StoreLastCommunicationTime();
    }
    DeleteSocket();
    return 0;
}

DWORD NetworkBasedDeviceStream::ClearInputBuffers(HostWindow) {
    // What waits is read and dropped here: wx's Discard switches the socket's wait mode twice,
    // which costs two system calls more on every exchange.
    while (mSocket != nullptr && InputWaiting()) {
        const std::string dropped = ReadBytes(DiscardChunk);
        CloseAfterConnectionError();
        if (dropped.size() < DiscardChunk)
            break;
    }
    msPendingInput.clear();
    return 0;
}

void NetworkBasedDeviceStream::CloseAfterConnectionError() {
    // A reset connection gives wx an I/O error but leaves it "connected"; a closed one is marked by
    // wx itself. Either way nothing can be sent on it any more.
    if (mSocket != nullptr && mSocket->Error() && mSocket->LastError() == wxSOCKET_IOERR && IsConnected())
        mSocket->Close();
}

void NetworkBasedDeviceStream::InterruptWait() {
    mbInterrupted = true;
    if (mSocket != nullptr)
        mSocket->InterruptWait();
}

bool NetworkBasedDeviceStream::SendAll(const std::string &sText, uint32_t dwMilliseconds) {
    // No wait before the first send. A socket blocking in slices sends here, a slice at a time;
    // otherwise wx waits (up to the socket's time-out) inside Write when the buffer is full. A
    // partial send is completed until the deadline.
    const uint32_t start = mTimer.GetMilliseconds();
    size_t sent = 0;
    while (sent < sText.size()) {
        const long went = mbReceiveInSlices ? Platform::SendWithin(mSocket->GetSocket(), sText.data() + sent,
                                                                   sText.size() - sent)
                                            : -1;
        bool failed = false;
        if (went >= 0) {
            sent += static_cast<size_t>(went);
        } else {
            // An error (or no slices): wx's send finds it and keeps its state.
            mSocket->Write(sText.data() + sent, static_cast<wxUint32>(sText.size() - sent));
            sent += mSocket->LastWriteCount();
            failed = mSocket->Error();
        }
        if (sent == sText.size() || failed || mTimer.ElapsedSince(start) >= dwMilliseconds)
            break;
    }
    mdwLastWriteCount = static_cast<DWORD>(sent);
    return sent == sText.size();
}

DWORD NetworkBasedDeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) {
    QuellinEntry entry(StreamModule, "Write");
    const std::string termination = mParameters.bWriteTerminationEnabled ? mParameters.sWriteTermination : "";
    std::string text;
    if (!(sCommand.empty() && bWaitForOPC)) {
        text = sCommand;
        if (mParameters.bWriteTerminationEnabled && !EndsWith(sCommand, termination, false))
            text += termination;
    }
    DWORD result = 0;
    mdwLastWriteCount = 0;
    if (mbConnectOnWrite && !IsConnected())
        result = InternalConnect(hWnd);
    if (!IsConnected()) {
        // Nothing can be sent: that is no success.
        if (result == 0)
            result = StreamResult::EthernetNotConnected;
        entry.Log(QuellinLevelError, QuellinDescription, "Write(" + sCommand + ")", L"Err", result);
        return result;
    }
    const uint32_t milliseconds = TimeoutMilliseconds();
    if (!text.empty()) {
        mParameters.Delayer.WaitRemainingDelay();
        if (!SendAll(text, milliseconds)) {
            result = StreamResult::EthernetWriteError;
            CloseAfterConnectionError();
        }
        mParameters.Delayer.StoreLastCommunicationTime();
    }
    if (result == 0 && bWaitForOPC) {
        const std::string opc = "*OPC?" + termination;
        mParameters.Delayer.WaitRemainingDelay();
        const DWORD written = mdwLastWriteCount;
        if (!SendAll(opc, milliseconds))
            result = StreamResult::EthernetWriteError;
        mdwLastWriteCount = written;
        mParameters.Delayer.StoreLastCommunicationTime();
        const uint32_t start = mTimer.GetMilliseconds();
        std::string reply;
        while (reply.empty() && result == 0 && mTimer.ElapsedSince(start) < milliseconds) {
            result = Read(hWnd, reply, 1);
            if (result == StreamResult::ReadTimeout)
                result = 0;
            // Line breaks and other separators before the answer are skipped.
            if (result == 0 && !reply.empty() && !std::isalnum(static_cast<unsigned char>(reply[0])))
                reply.clear();
        }
        if (reply.empty() && result == 0)
            result = StreamResult::OperationCompleteMissing;
        entry.Log(QuellinLevelNote, L"receivedInformation", reply, L"Err", result);
    }
    if (QuellinEntry::IsCollectorListening())
        entry.Log(result == 0 ? QuellinLevelNote : QuellinLevelError, QuellinDescription,
                  "Write(" + sCommand + ")", L"Bytes", mdwLastWriteCount, L"Err", result);
    return result;
}

void NetworkBasedDeviceStream::EnsureReceiveBuffer(DWORD n) {
    if (mdwReceiveBufferCapacity >= n)
        return;
    mReceiveBuffer.reset();
    mReceiveBuffer = std::make_unique<char[]>(n + 10);
    mdwReceiveBufferCapacity = n + 10;
}

// The waits go to the system directly: wx's WaitForRead turns a zero wait into up to a
// millisecond of polling, and its Peek switches the socket's wait mode back and forth.
bool NetworkBasedDeviceStream::InputWaiting() {
    return mSocket != nullptr && IsConnected() && Platform::WaitReadable(mSocket->GetSocket(), 0);
}

std::string NetworkBasedDeviceStream::ReadAvailable(DWORD n, uint32_t dwWaitMilliseconds) {
    if (mSocket == nullptr || n == 0 || !IsConnected())
        return std::string();
    const int socket = mSocket->GetSocket();
    if (mbReceiveInSlices) {
        // One system call waits for the answer and takes it.
        const DWORD size = std::min(n, LargestReceive);
        EnsureReceiveBuffer(size);
        const long received =
            Platform::ReceiveWithin(socket, mReceiveBuffer.get(), size, dwWaitMilliseconds, &mbInterrupted);
        if (received > 0)
            return std::string(mReceiveBuffer.get(), static_cast<size_t>(received));
        // The end of the data or an error: wx's receive below finds it and keeps its state.
        if (received == 0 || !Platform::WaitReadable(socket, 0))
            return std::string();
        return ReadBytes(n);
    }
    // Readable means data or the end of the data: the receive does not block either way.
    if (!Platform::WaitReadable(socket, dwWaitMilliseconds, &mbInterrupted))
        return std::string();
    return ReadBytes(n);
}

std::string NetworkBasedDeviceStream::ReadBytes(DWORD n) {
    if (mSocket == nullptr || n == 0)
        return std::string();
    // A huge count ("everything") must not allocate that much: the read loop takes the rest.
    n = std::min(n, LargestReceive);
    EnsureReceiveBuffer(n);
    mSocket->Read(mReceiveBuffer.get(), static_cast<wxUint32>(n));
    return std::string(mReceiveBuffer.get(), mSocket->LastReadCount());
}

size_t NetworkBasedDeviceStream::FindReadTermination(const std::string &sText) {
    const std::string &termination = mParameters.sReadTermination;
    if (!mParameters.bReadTerminationEnabled || termination.empty())
        return std::string::npos;
    const size_t found = sText.find(termination);
    return found == std::string::npos ? found : found + termination.size();
}

size_t NetworkBasedDeviceStream::FindResponseEnd(const std::string &s, DWORD dwCount) {
    if (s.size() >= dwCount)
        return dwCount;
    const size_t termination = FindReadTermination(s);
    if (termination != std::string::npos)
        return termination;
    if (!s.empty() && mParameters.bReadTerminationEnabled && mParameters.sReadTermination.empty()) {
        mTimer.Wait(QuietLineMilliseconds);
        if (!InputWaiting())
            return s.size();
    }
    return std::string::npos;
}

DWORD NetworkBasedDeviceStream::Read(HostWindow, std::string &sResponse, DWORD dwCount) {
    QuellinEntry entry(StreamModule, "Read");
    mbInterrupted = false;
    sResponse.clear();
    mdwLastWriteCount = 0;
    mParameters.Delayer.WaitRemainingDelay();
    // Bytes left over from the last response come first, also when the connection is gone.
    std::string s;
    s.swap(msPendingInput);
    mdwLastWriteCount = static_cast<DWORD>(s.size());
    DWORD result = 0;
    if (!IsConnected()) {
        if (s.empty())
            result = StreamResult::EthernetNotConnected;
    } else {
        const uint32_t start = mTimer.GetMilliseconds();
        RetryCounterErrorcode counter(3);
        while (!counter.IsFinished()) {
            counter.NewTry();
            try {
                // The first try starts with the whole time-out: the clock was read just now.
                uint32_t remaining = counter.GetCurrentTry() == 1
                                         ? TimeoutMilliseconds()
                                         : mTimer.RemainingTime(start, TimeoutMilliseconds());
                bool going = remaining > 0 && FindResponseEnd(s, dwCount) == std::string::npos;
                while (going) {
                    if (!IsConnected())
                        break;
                    s += ReadAvailable(static_cast<DWORD>(dwCount - s.size()), remaining);
                    if (!IsConnected()) {
                        // The peer closed its end: what arrived is the response.
                        going = false;
                        entry.Log(QuellinLevelNote, QuellinDescription,
                                  std::string("Socket closed by other end"));
                    } else if (mSocket->Error() && mSocket->LastError() != wxSOCKET_TIMEDOUT) {
                        // Met only where wx receives itself (a socket left as wx made it): a reset
                        // then gives wx's read an I/O error on a socket it keeps "connected", which
                        // the close below ends. On a socket blocking in slices the stream's own
                        // receive takes the reset, and wx's read after it finds the end of the data
                        // and marks the socket closed itself.
                        // Bytes that the probe receives stay with what arrived.
                        for (int i = 1; i <= 3; ++i) {
                            mTimer.Wait(i == 1 ? 10 : (i == 2 ? 100 : 1000));
                            const std::string probe = ReadAvailable(dwCount, 0);
                            s += probe;
                            entry.Log(QuellinLevelNote, QuellinDescription, std::string("Read(Retry)"),
                                      L"TempData", probe, L"IsSocketErr", mSocket->Error(), L"ErrNr",
                                      static_cast<int>(mSocket->LastError()), L"SocketConnected",
                                      mSocket->IsConnected(), L"SocketFlags",
                                      static_cast<int>(mSocket->GetFlags()), L"Closed", mSocket->IsClosed());
                            if (!mSocket->Error() || !IsConnected())
                                break;
                        }
                        CloseAfterConnectionError();
                        result = StreamResult::EthernetReadError;
                        going = false;
                    }
                    // A response ended by its count or its termination needs no clock. A receive
                    // waits a slice at most (ReadAvailable): the cancel of the call the read runs
                    // for ends the wait within a slice, and costs no system call to look at.
                    if (s.size() >= dwCount || FindReadTermination(s) != std::string::npos || mbInterrupted ||
                        Platform::CurrentCallCancelled()) {
                        going = false;
                    } else {
                        remaining = mTimer.RemainingTime(start, TimeoutMilliseconds());
                        if (remaining == 0 || FindResponseEnd(s, dwCount) != std::string::npos)
                            going = false;
                    }
                }
                if (result != 0)
                    mTimer.Wait(10);
                counter.SetErrorCode(result);
                if (result == 0)
                    counter.Succeeded();
            } catch (const std::exception &error) {
                entry.Log(QuellinLevelError, QuellinDescription,
                          std::string("An exception occcured during Read() -> ") + error.what());
                counter.SetErrorCode(StreamResult::EthernetReadError);
            } catch (...) {
                entry.Log(QuellinLevelError, QuellinDescription,
                          std::string("An undetermined exception occcured during Read()"));
                counter.SetErrorCode(StreamResult::EthernetReadError);
            }
        }
        result = counter.GetErrorCode();
    }
    if (result == 0) {
        const size_t end = FindResponseEnd(s, dwCount);
        if (end != std::string::npos && end < s.size()) {
            mdwLastWriteCount = static_cast<DWORD>(end);
            sResponse = s.substr(0, end);
            msPendingInput = s.substr(end);
        } else {
            mdwLastWriteCount = static_cast<DWORD>(s.size());
            sResponse = std::move(s);
        }
    } else {
        // Nothing is thrown away: the next Read starts with it.
        msPendingInput = std::move(s);
    }
    if (dwCount != mdwLastWriteCount || FindReadTermination(sResponse) == std::string::npos)
        result = result != 0 ? result : StreamResult::ReadTimeout;
    mParameters.Delayer.StoreLastCommunicationTime();
    if (QuellinEntry::IsCollectorListening())
        entry.Log(result == 0 || result == StreamResult::ReadTimeout ? QuellinLevelNote : QuellinLevelError,
                  QuellinDescription, MakeString("Read('", sResponse, "', ", dwCount, ")"), L"Bytes",
                  mdwLastWriteCount, L"Err", result, L"ReceiveString", sResponse);
    return result;
}

DWORD NetworkBasedDeviceStream::GetErrorString(HostWindow, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                               uint32_t *pdwLength) {
    ClearErrorText(sBuffer, dwBufferSize, pdwLength);
    DWORD result = 0;
    std::string peer;
    if (dwCode == StreamResult::EthernetCouldNotConnect)
        peer = PeerText(mConfiguration.get(), result);
    const std::string text = NetworkStreamErrorText(dwCode, peer);
    if (!text.empty())
        CopyStringToBuffer(text, sBuffer, dwBufferSize, pdwLength);
    return result;
}

// ---- Configuration -------------------------------------------------------------------------------

NetworkBasedDeviceStreamConfig::NetworkBasedDeviceStreamConfig(const std::string &sKindId,
                                                               const std::string &sDefaultServer,
                                                               unsigned short port)
    : DeviceStreamConfiguration(sKindId), defaultPort(port), defaultServer(sDefaultServer) {}

DWORD NetworkBasedDeviceStreamConfig::LoadProgramSettings(
    std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(GetSettingsTable());
    m_Address = database->ReadValue("Address", m_Address);
    database->PopTable();
    return 0;
}

DWORD NetworkBasedDeviceStreamConfig::SaveProgramSettings(
    std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(GetSettingsTable());
    database->WriteValue("Address", m_Address);
    database->PopTable();
    return 0;
}

DWORD NetworkBasedDeviceStreamConfig::AddConfigurationDialogPanels(HostWindow,
                                                                   PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new NetworkBasedDeviceStreamConfigPanel(this),
                                     EthernetConfigurationPageName,
                                     wxString::FromUTF8(GetIDString().c_str()));
    return 0;
}

bool NetworkBasedDeviceStreamConfig::LessThan(std::shared_ptr<DeviceStreamConfiguration> other) {
    const int order = Compare(other.get());
    if (order != 0)
        return order < 0;
    auto *network = dynamic_cast<NetworkBasedDeviceStreamConfig *>(other.get());
    return network != nullptr && GetAddress() < network->GetAddress();
}

bool NetworkBasedDeviceStreamConfig::IsValid() {
    return !m_Address.empty();
}

bool NetworkBasedDeviceStreamConfig::HasSameSettings(const DeviceStreamConfiguration &other) const {
    const auto *network = dynamic_cast<const NetworkBasedDeviceStreamConfig *>(&other);
    return network != nullptr && GetIDString() == other.GetIDString() && m_Address == network->m_Address &&
           defaultPort == network->defaultPort && defaultServer == network->defaultServer;
}

std::string NetworkBasedDeviceStreamConfig::GetErrorText(DWORD dwCode) {
    DWORD unused = 0;
    return NetworkStreamErrorText(
        dwCode, dwCode == StreamResult::EthernetCouldNotConnect ? PeerText(this, unused) : "");
}

std::string NetworkBasedDeviceStreamConfig::GetAddress() {
    const AddressParts parts = SplitAddress(m_Address);
    std::string server = defaultServer;
    if (parts.HasServer)
        server = parts.Server;
    unsigned short port = defaultPort;
    if (parts.HasPort) {
        // Only a number from 1 to 65535, digits alone, is a port; anything else leaves the default
        // (a scan would wrap 4294982740 round to 15444).
        unsigned long parsed = 0;
        const char *first = parts.Port.data();
        const char *last = first + parts.Port.size();
        const auto [end, error] = std::from_chars(first, last, parsed);
        if (error == std::errc() && end == last && parsed > 0 && parsed <= 0xFFFF)
            port = static_cast<unsigned short>(parsed);
    }
    const std::string address = "tcpip://" + server + ":" + std::to_string(port);
    QuellinEntry entry(ConfigModule, "GetAddress");
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

// ---- Page ----------------------------------------------------------------------------------------

// clang-format off
wxBEGIN_EVENT_TABLE(NetworkBasedDeviceStreamConfigPanel, ValidatorBasedPanel)
    EVT_INIT_DIALOG(NetworkBasedDeviceStreamConfigPanel::OnInitDialog)
wxEND_EVENT_TABLE()

NetworkBasedDeviceStreamConfigPanel::NetworkBasedDeviceStreamConfigPanel(
    NetworkBasedDeviceStreamConfig *configuration)
    : mConfiguration(configuration) {}
// clang-format on

void NetworkBasedDeviceStreamConfigPanel::OnInitDialog(wxInitDialogEvent &event) {
    if (mConfiguration != nullptr)
        AttachValidator(this, "txtAddress",
                        new wxTemplatePropertyValidator<NetworkBasedDeviceStreamConfig, std::string>(
                            mConfiguration, &NetworkBasedDeviceStreamConfig::GetAddress,
                            &NetworkBasedDeviceStreamConfig::SetAddress, "%s"));
    event.Skip(true);
}
