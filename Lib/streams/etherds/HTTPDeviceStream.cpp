// The HTTP stream, its configuration and their registration as the kind "HTTP".
#include "streams/etherds/HTTPDeviceStream.h"

#include <charconv>

#include <wx/socket.h>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "platform/SocketSupport.h"
#include "platform/Text.h"

namespace {

constexpr const char *KindId = "HTTP";
constexpr const char *ClassName = "HTTPDeviceStream";
// The most one read of the response collection asks for.
constexpr DWORD CollectChunkSize = 500000;

const StreamTypeRegistrar gStreamRegistrar(KindId, &CreateStreamOf<HTTPDeviceStream>);
const StreamTypeRegistrar gConfigurationRegistrar(KindId, &CreateConfigurationOf<HTTPDeviceStreamConfig>);

constexpr char LengthField[] = "Content-Length:";
constexpr size_t LengthFieldSize = sizeof(LengthField) - 1;

// The code of a status line "HTTP/<version> <three digits> ..."; 0 when the response does not
// begin with one.
unsigned StatusCode(const std::string &sResponse) {
    if (!StartsWith(sResponse, "HTTP/", false))
        return 0;
    const size_t blank = sResponse.find_first_of(" \n", 5);
    if (blank == std::string::npos || sResponse[blank] != ' ' || sResponse.size() - blank < 4)
        return 0;
    const char *first = sResponse.data() + blank + 1;
    unsigned code = 0;
    const auto [end, error] = std::from_chars(first, first + 3, code);
    return error == std::errc() && end == first + 3 ? code : 0;
}

// The first line after the first empty line (lines end with a line feed, carriage returns before
// it do not count), without its line end; empty when there is none.
std::string FirstBodyLine(const std::string &sResponse) {
    bool bHeadersDone = false;
    for (size_t begin = 0; begin < sResponse.size();) {
        size_t end = sResponse.find('\n', begin);
        if (end == std::string::npos)
            end = sResponse.size();
        const std::string piece = TrimRightWith(sResponse.substr(begin, end - begin), "\r\n");
        if (bHeadersDone)
            return piece;
        bHeadersDone = piece.empty();
        begin = end + 1;
    }
    return std::string();
}

} // namespace

void HttpResponseHead::Scan(const std::string &sResponse) {
    if (BodyStart != std::string::npos)
        return;
    // Only the place where the last search stopped, and the bytes after it, can hold the end now.
    size_t end = sResponse.find("\r\n\r\n", mScanned >= 3 ? mScanned - 3 : 0);
    size_t separator = 4;
    if (StartsWith(sResponse, "HTTP/1.0", false)) {
        const size_t bare = sResponse.find("\n\n", mScanned >= 1 ? mScanned - 1 : 0);
        if (bare < end) {
            end = bare;
            separator = 2;
        }
    }
    mScanned = sResponse.size();
    if (end == std::string::npos)
        return;
    BodyStart = end + separator;
    // The first header line that begins with the field name counts, with at most one blank before
    // its digits.
    for (size_t line = 0; line < end;) {
        if (line + LengthFieldSize <= end &&
            CaseInsensitiveEqual(sResponse.substr(line, LengthFieldSize), LengthField)) {
            size_t first = line + LengthFieldSize;
            if (first < end && sResponse[first] == ' ')
                ++first;
            size_t last = first;
            while (last < end && Platform::IsAsciiDigit(sResponse[last]))
                ++last;
            const auto [stop, error] =
                std::from_chars(sResponse.data() + first, sResponse.data() + last, BodyLength);
            LengthKind = last > first && error == std::errc() ? Length::Given : Length::Unusable;
            return;
        }
        const size_t lineFeed = sResponse.find('\n', line);
        if (lineFeed >= end)
            return;
        line = lineFeed + 1;
    }
}

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
    mHead = HttpResponseHead();
    mqwReceived = 0;
    return result;
}

DWORD HTTPDeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool) {
    const uint32_t start = mTimer.GetMilliseconds();
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
        // closes the connection, or the time-out has passed since the Write began. A response
        // without a length ends with the connection.
        mbInterrupted = false;
        uint32_t remaining = 0;
        while (IsConnected() && !mbInterrupted && !IsCompleteByLength() &&
               (remaining = mTimer.RemainingTime(start, TimeoutMilliseconds())) > 0) {
            const std::string chunk = ReadAvailable(CollectChunkSize, remaining);
            if (chunk.empty() && mSocket->Error() && mSocket->LastError() != wxSOCKET_TIMEDOUT)
                break;
            Collect(chunk);
        }
        mdwResponseResult = ResponseResult();
        entry.Log(QuellinLevelNote, L"Message", "WaitForClose()");
        // A server that keeps the connection open (keep-alive) never closes it: that is done
        // here, and the next request connects again.
        if (IsConnected())
            InternalDisconnect(hWnd);
        mParameters.Delayer.StoreLastCommunicationTime();
    }
    entry.LogEnd(ResultSeverityText(result), L"Read", msResponse, L"Err", result, L"Response",
                 mdwResponseResult);
    // The text of a large response is built only for a collector.
    if (QuellinEntry::IsCollectorListening())
        entry.Log(QuellinLevelNote, L"Message", "HTTP(" + sCommand + "),(" + msResponse + ")");
    return result;
}

void HTTPDeviceStream::Collect(const std::string &sChunk) {
    mqwReceived += sChunk.size();
    if (msResponse.size() < ResponseLimit)
        msResponse.append(sChunk, 0, ResponseLimit - msResponse.size());
    mHead.Scan(msResponse);
}

bool HTTPDeviceStream::IsCompleteByLength() const {
    return mHead.LengthKind == HttpResponseHead::Length::Given &&
           mqwReceived - mHead.BodyStart >= mHead.BodyLength;
}

DWORD HTTPDeviceStream::ResponseResult() const {
    if (mHead.LengthKind == HttpResponseHead::Length::Given && !IsCompleteByLength())
        return StreamResult::EthernetReadError;
    const unsigned status = StatusCode(msResponse);
    return status != 0 && (status < 200 || status > 299) ? StreamResult::HttpStatusNotSuccess : 0;
}

bool HTTPDeviceStream::IsResponseComplete(const std::string &sResponse) {
    HttpResponseHead head;
    head.Scan(sResponse);
    if (head.BodyStart == std::string::npos)
        return false;
    switch (head.LengthKind) {
    case HttpResponseHead::Length::Given:
        return head.BodyLength <= sResponse.size() - head.BodyStart;
    case HttpResponseHead::Length::Unusable:
        return false;
    default:
        return sResponse.size() == head.BodyStart || sResponse.back() == '\n' || sResponse.back() == '\r';
    }
}

DWORD HTTPDeviceStream::Read(HostWindow, std::string &sResponse, DWORD) {
    QuellinEntry entry(ClassName, "Read");
    entry.LogBegin(QuellinLevelNote);
    sResponse.clear();
    DWORD result = 0;
    if (msResponse.empty()) {
        result = StreamResult::HttpAllDataRead;
    } else {
        // A body cut short gives no text; an error status still gives its body's first line.
        result = mdwResponseResult;
        if (result != StreamResult::EthernetReadError)
            sResponse = FirstBodyLine(msResponse);
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
