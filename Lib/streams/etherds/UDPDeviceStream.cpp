// The UDP stream, its configuration and their registration as the kind "UDP".
#include "streams/etherds/UDPDeviceStream.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <wx/socket.h>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "platform/SocketSupport.h"

namespace {

constexpr const char *KindId = "UDP";
constexpr const char *ClassName = "UDPDeviceStream";
// The largest payload of one IPv4 datagram: no read needs a larger block.
constexpr DWORD LargestDatagram = 65507;
// Bytes taken per dropped datagram (the rest of a longer one is dropped with it).
constexpr DWORD DiscardChunk = 4096;

const StreamTypeRegistrar gStreamRegistrar(KindId, &CreateStreamOf<UDPDeviceStream>);
const StreamTypeRegistrar gConfigurationRegistrar(KindId, &CreateConfigurationOf<UDPDeviceStreamConfig>);

} // namespace

UDPDeviceStream::UDPDeviceStream() : NetworkBasedDeviceStream(KindId) {}

DWORD UDPDeviceStream::SetTimeout(HostWindow hWnd, double dSeconds) {
    if (!IsUsableTimeout(dSeconds))
        return StreamResult::CouldNotSetValue;
    return NetworkBasedDeviceStream::SetTimeout(hWnd, dSeconds);
}

bool UDPDeviceStream::IsConnected() {
    return mSocket != nullptr;
}

DWORD UDPDeviceStream::InternalConnect(HostWindow hWnd) {
    QuellinEntry entry(ClassName, "InternalConnect");
    entry.LogBegin(QuellinLevelNote);
    DWORD result = VerifyCorrectConfigurationObject(mConfiguration, KindId);
    if (result == 0)
        InternalDisconnect(hWnd);
    if (mSocket == nullptr && result == 0) {
        // The peer only proves that the address resolves; every write resolves it again.
        wxIPV4address *peer = nullptr;
        result = DetermineIPAddress(hWnd, mConfiguration.get(), peer);
        const std::unique_ptr<wxIPV4address> owned(peer);
        if (result == 0 && peer != nullptr) {
            wxIPV4address local;
            local.AnyAddress();
            local.Service(LocalPort);
            auto socket = std::make_unique<wxDatagramSocket>(local, wxSOCKET_BLOCK);
            if (socket->IsOk()) {
                socket->SetTimeout(SocketTimeoutSeconds());
                mSocket = socket.release();
                ClearInputBuffers(hWnd);
            } else {
                result = StreamResult::EthernetServerNotCreated;
            }
        }
    }
    entry.LogEnd(ResultSeverityText(result), L"Err", result, L"Connected", IsConnected());
    return result;
}

DWORD UDPDeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool) {
    QuellinEntry entry(ClassName, "Write");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, "Write(" + QuoteString(sCommand) + ")");
    const std::string text = WithWriteTermination(sCommand);
    DWORD result = 0;
    mdwLastWriteCount = 0;
    if (mSocket == nullptr) {
        result = StreamResult::EthernetNotConnected;
    } else {
        wxIPV4address *peer = nullptr;
        result = DetermineIPAddress(hWnd, mConfiguration.get(), peer);
        const std::unique_ptr<wxIPV4address> owned(peer);
        if (result == 0 && peer != nullptr) {
            auto *socket = static_cast<wxDatagramSocket *>(mSocket);
            mParameters.Delayer.WaitRemainingDelay();
            socket->SendTo(*peer, text.data(), static_cast<wxUint32>(text.size()));
            mParameters.Delayer.StoreLastCommunicationTime();
            if (socket->Error() && socket->LastError() != wxSOCKET_NOERROR)
                result = StreamResult::EthernetWriteError;
            else
                mLateAnswers.Asked();
        }
    }
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD UDPDeviceStream::Read(HostWindow, std::string &sResponse, DWORD dwCount) {
    QuellinEntry entry(ClassName, "Read");
    entry.LogBegin(QuellinLevelNote);
    sResponse.clear();
    DWORD result = 0;
    mdwLastWriteCount = 0;
    mbInterrupted = false;
    mParameters.Delayer.WaitRemainingDelay();
    if (IsConnected()) {
        auto *socket = static_cast<wxDatagramSocket *>(mSocket);
        // A blocking socket would wait for ever: the datagram must be there within the time-out.
        const uint32_t milliseconds = TimeoutMilliseconds();
        const uint32_t start = mTimer.GetMilliseconds();
        bool bReadable = Platform::WaitReadable(socket->GetSocket(), milliseconds, &mbInterrupted);
        while (bReadable && Platform::TakeEmptyDatagram(socket->GetSocket())) {
            const uint32_t remaining = mTimer.RemainingTime(start, milliseconds);
            bReadable =
                remaining > 0 && Platform::WaitReadable(socket->GetSocket(), remaining, &mbInterrupted);
        }
        if (bReadable) {
            const DWORD capacity = std::min(dwCount, LargestDatagram);
            std::vector<char> block(static_cast<size_t>(capacity) + 1);
            wxIPV4address sender;
            socket->RecvFrom(sender, block.data(), capacity);
            mdwLastWriteCount = socket->LastReadCount();
            if (socket->Error() && socket->LastError() != wxSOCKET_NOERROR &&
                socket->LastError() != wxSOCKET_TIMEDOUT)
                result = StreamResult::EthernetReadError;
            if (mdwLastWriteCount > 0) {
                sResponse.assign(block.data(), mdwLastWriteCount);
                entry.Log(QuellinLevelNote, L"Message",
                          "Read " + std::to_string(mdwLastWriteCount) + " bytes");
            }
        }
    } else {
        result = StreamResult::EthernetNotConnected;
    }
    if (dwCount != mdwLastWriteCount && result == 0)
        result = StreamResult::ReadTimeout;
    if (sResponse.empty())
        mLateAnswers.AnswerLost();
    else
        mLateAnswers.Answered();
    mParameters.Delayer.StoreLastCommunicationTime();
    entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                 "Read(" + QuoteString(sResponse) + ", " + std::to_string(dwCount) + ")", L"Err", result,
                 L"ReceiveString", sResponse);
    return result;
}

DWORD UDPDeviceStream::ClearInputBuffers(HostWindow) {
    // Each receive takes one datagram: all that wait are dropped, but a peer that keeps sending
    // holds the clearing no longer than the time-out.
    if (mSocket != nullptr) {
        const DWORD result =
            mLateAnswers.DropLateInput(mParameters.dTimeout, [this](uint32_t dwMilliseconds, bool &bCame) {
                bCame = Platform::WaitReadable(mSocket->GetSocket(), dwMilliseconds);
                if (bCame)
                    ReadBytes(DiscardChunk);
                return DWORD{0};
            });
        if (result != 0)
            return result;
    }
    const uint32_t start = mTimer.GetMilliseconds();
    const uint32_t timeout = TimeoutMilliseconds();
    // An empty datagram or a reported error is taken like any other: the next one is looked at.
    while (InputWaiting()) {
        ReadBytes(DiscardChunk);
        if (mTimer.ElapsedSince(start) >= timeout)
            break;
    }
    msPendingInput.clear();
    return 0;
}

UDPDeviceStreamConfig::UDPDeviceStreamConfig() : NetworkBasedDeviceStreamConfig(KindId, "localhost", 63452) {}

std::string UDPDeviceStreamConfig::GetIdentifier() {
    return "UDP:" + GetAddress();
}
