// The HTTP stream, its configuration and their registration as the kind "HTTP".
#include "streams/etherds/HTTPDeviceStream.h"

#include <regex>
#include <vector>

#include <wx/socket.h>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "platform/SocketSupport.h"

namespace {

constexpr const char *KindId = "HTTP";
constexpr const char *ClassName = "HTTPDeviceStream";
// The most one read of the response collection asks for.
constexpr DWORD CollectChunkSize = 500000;

const StreamTypeRegistrar gStreamRegistrar(KindId, &CreateStreamOf<HTTPDeviceStream>);
const StreamTypeRegistrar gConfigurationRegistrar(KindId, &CreateConfigurationOf<HTTPDeviceStreamConfig>);

} // namespace

std::string EncodeRequestPath(const std::string &sPath) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : sPath) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            encoded += '%';
            encoded += Digits[byte >> 4];
            encoded += Digits[byte & 0xF];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

HTTPDeviceStream::HTTPDeviceStream() : NetworkBasedDeviceStream(KindId) {
    mbConnectOnWrite = true;
}

DWORD HTTPDeviceStream::ClearInputBuffers(HostWindow hWnd) {
    DWORD result = 0;
    // A connection that the server closed has nothing left to discard (and wx refuses to touch it).
    if (IsConnected())
        result = NetworkBasedDeviceStream::ClearInputBuffers(hWnd);
    else
        msPendingInput.clear();
    msResponse.clear();
    return result;
}

DWORD HTTPDeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool) {
    const std::string text = WithWriteTermination(sCommand);
    QuellinEntry entry(ClassName, "Write");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, "Write(" + QuoteString(text) + ")", L"Command", text,
                   L"Timeout", mParameters.dTimeout);
    mdwLastWriteCount = 0;
    DWORD result = ClearInputBuffers(hWnd);
    if (result == 0) {
        std::string path = TrimRightDefault(text);
        if (!StartsWith(path, "/", false))
            path = "/" + path;
        result = NetworkBasedDeviceStream::Write(hWnd, "GET " + EncodeRequestPath(path) + " HTTP/1.1\r\n\r\n",
                                                 false);
    }
    if (result == 0) {
        // Everything the server sends until the response is complete by its length, the server
        // closes the connection, or the time-out has passed since the request went out. A
        // response without a length ends with the connection.
        mbInterrupted = false;
        const uint32_t start = mTimer.GetMilliseconds();
        uint32_t remaining = TimeoutMilliseconds();
        while (remaining > 0 && IsConnected() && Completeness(msResponse) != Complete::ByLength) {
            const std::string chunk = ReadAvailable(CollectChunkSize, remaining);
            if (chunk.empty() && mSocket->Error() && mSocket->LastError() != wxSOCKET_TIMEDOUT)
                break;
            msResponse += chunk;
            remaining = mbInterrupted ? 0 : mTimer.RemainingTime(start, TimeoutMilliseconds());
        }
        entry.Log(QuellinLevelNote, L"Message", "WaitForClose()");
        // A server that keeps the connection open (keep-alive) never closes it: that is done
        // here, and the next request connects again.
        if (IsConnected())
            InternalDisconnect(hWnd);
        mParameters.Delayer.StoreLastCommunicationTime();
    }
    entry.LogEnd(ResultSeverityText(result), L"Read", msResponse, L"Err", result);
    entry.Log(QuellinLevelNote, L"Message", "HTTP(" + sCommand + "),(" + msResponse + ")");
    return result;
}

HTTPDeviceStream::Complete HTTPDeviceStream::Completeness(const std::string &sResponse) {
    std::string separator = "\r\n\r\n";
    size_t end = sResponse.find(separator);
    if (sResponse.find("HTTP/1.0") != std::string::npos && end == std::string::npos) {
        separator = "\n\n";
        end = sResponse.find(separator);
    }
    if (end == std::string::npos)
        return Complete::No;
    const std::string headers = sResponse.substr(0, end);
    static const std::regex LengthHeader("^Content-Length:[ ]?([0-9]*)",
                                         std::regex::ECMAScript | std::regex::icase | std::regex::multiline);
    std::smatch match;
    const size_t bodySize = sResponse.size() - (end + separator.size());
    if (std::regex_search(headers, match, LengthHeader)) {
        if (match[1].length() == 0)
            return Complete::No;
        return ParseUnsigned(match[1].str()) <= bodySize ? Complete::ByLength : Complete::No;
    }
    if (sResponse.size() - end <= separator.size())
        return Complete::WithoutLength;
    return sResponse.back() == '\n' || sResponse.back() == '\r' ? Complete::WithoutLength : Complete::No;
}

bool HTTPDeviceStream::IsResponseComplete(const std::string &sResponse) {
    return Completeness(sResponse) != Complete::No;
}

DWORD HTTPDeviceStream::Read(HostWindow, std::string &sResponse, DWORD) {
    QuellinEntry entry(ClassName, "Read");
    entry.LogBegin(QuellinLevelNote);
    sResponse.clear();
    DWORD result = 0;
    if (msResponse.empty()) {
        result = StreamResult::HttpAllDataRead;
    } else {
        // Pieces at every line feed: empty ones stay, the text after the last only when not empty.
        std::vector<std::string> lines;
        SplitString(msResponse, lines, "\n", true);
        bool bHeadersDone = false;
        for (const std::string &line : lines) {
            const std::string piece = TrimRightWith(line, "\r\n");
            if (bHeadersDone) {
                sResponse = piece;
                break;
            }
            if (piece.empty())
                bHeadersDone = true;
        }
        msResponse.clear();
    }
    entry.LogEnd(ResultSeverityText(result), QuellinDescription, "Read(" + QuoteString(sResponse) + ")",
                 L"Err", result, L"ReceiveString", sResponse);
    return result;
}

HTTPDeviceStreamConfig::HTTPDeviceStreamConfig()
    : NetworkBasedDeviceStreamConfig(KindId, "http://localhost", 80) {}

std::string HTTPDeviceStreamConfig::GetIdentifier() {
    return "HTTP:" + GetAddress();
}
