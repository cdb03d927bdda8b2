// The HTTP stream, its configuration and their registration as the kind "HTTP".
#include "streams/etherds/HTTPDeviceStream.h"

#include <algorithm>
#include <charconv>
#include <vector>

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
constexpr char CodingField[] = "Transfer-Encoding:";
// The longest chunk-size or trailer line taken.
constexpr size_t LongestChunkLine = 4096;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string TrimBlanks(const std::string &sText) {
    size_t first = 0;
    size_t last = sText.size();
    while (first < last && IsBlank(sText[first]))
        ++first;
    while (last > first && IsBlank(sText[last - 1]))
        --last;
    return sText.substr(first, last - first);
}

// The elements of a comma-separated field value, each without blanks around it.
std::vector<std::string> ListElements(const std::string &sValue) {
    std::vector<std::string> elements;
    size_t begin = 0;
    for (;;) {
        const size_t comma = sValue.find(',', begin);
        elements.push_back(TrimBlanks(sValue.substr(begin, comma - begin)));
        if (comma == std::string::npos)
            return elements;
        begin = comma + 1;
    }
}

// The value of a header line that begins with the field name (any case), else false.
bool FieldValue(const std::string &sLine, const char *field, size_t fieldSize, std::string &sValue) {
    if (sLine.size() < fieldSize || !CaseInsensitiveEqual(sLine.substr(0, fieldSize), field))
        return false;
    sValue = sLine.substr(fieldSize);
    return true;
}

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
    Status = StatusCode(sResponse);
    HeadFields fields;
    for (size_t line = sResponse.find('\n'); line < end;) {
        ++line;
        const size_t lineEnd = std::min(sResponse.find('\n', line), end);
        fields.Take(TrimRightWith(sResponse.substr(line, lineEnd - line), "\r"));
        line = lineEnd;
    }
    DecideLength(fields);
}

void HttpResponseHead::HeadFields::Take(const std::string &sLine) {
    std::string sValue;
    if (FieldValue(sLine, LengthField, sizeof(LengthField) - 1, sValue)) {
        // At most one blank before the number.
        if (!sValue.empty() && sValue[0] == ' ')
            sValue.erase(0, 1);
        if (sValue.empty() || IsBlank(sValue[0]))
            bInvalid = true;
        for (std::string &element : ListElements(sValue)) {
            const bool bNumber = !element.empty() && std::all_of(element.begin(), element.end(), [](char c) {
                return Platform::IsAsciiDigit(c);
            });
            element.erase(0, std::min(element.find_first_not_of('0'), element.size() - 1));
            if (!bNumber || (bLength && element != sDigits))
                bInvalid = true;
            sDigits = element;
            bLength = true;
        }
    } else if (FieldValue(sLine, CodingField, sizeof(CodingField) - 1, sValue)) {
        for (const std::string &coding : ListElements(sValue))
            if (!coding.empty())
                codings.push_back(ToLower(coding));
    }
}

void HttpResponseHead::DecideLength(const HeadFields &fields) {
    // A 204 or 304 ends with its header, whatever length or coding its fields name.
    if (Status == 204 || Status == 304) {
        LengthKind = Length::Given;
        BodyLength = 0;
    } else if (fields.bInvalid ||
               (!fields.codings.empty() && fields.codings != std::vector<std::string>{"chunked"})) {
        LengthKind = Length::Invalid;
    } else if (!fields.codings.empty()) {
        LengthKind = Length::Chunked;
    } else if (fields.bLength) {
        const std::string &sDigits = fields.sDigits;
        const auto [stop, error] =
            std::from_chars(sDigits.data(), sDigits.data() + sDigits.size(), BodyLength);
        LengthKind = error == std::errc() ? Length::Given : Length::Unusable;
    }
}

void HttpChunkedBody::Feed(const char *pData, size_t size, std::string &sBody) {
    for (size_t at = 0; at < size && meState != State::Done && meState != State::Invalid;) {
        if (meState == State::Data) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(mqwLeft, size - at));
            sBody.append(pData + at, take);
            at += take;
            mqwLeft -= take;
            if (mqwLeft == 0)
                meState = State::DataEnd;
            continue;
        }
        const char c = pData[at++];
        if (c == '\n')
            EndLine();
        else if (msLine.size() < LongestChunkLine)
            msLine += c;
        else
            meState = State::Invalid;
    }
}

void HttpChunkedBody::EndLine() {
    const std::string sLine = TrimRightWith(msLine, "\r");
    msLine.clear();
    switch (meState) {
    case State::Size: {
        const std::string sSize = TrimBlanks(sLine.substr(0, sLine.find(';')));
        const auto [stop, error] = std::from_chars(sSize.data(), sSize.data() + sSize.size(), mqwLeft, 16);
        if (sSize.empty() || error != std::errc() || stop != sSize.data() + sSize.size())
            meState = State::Invalid;
        else
            meState = mqwLeft == 0 ? State::Trailer : State::Data;
        break;
    }
    case State::DataEnd:
        meState = sLine.empty() ? State::Size : State::Invalid;
        break;
    case State::Trailer:
        if (sLine.empty())
            meState = State::Done;
        break;
    default:
        break;
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

DWORD HTTPDeviceStream::SetTimeout(HostWindow hWnd, double dSeconds) {
    if (!IsUsableTimeout(dSeconds))
        return StreamResult::CouldNotSetValue;
    return NetworkBasedDeviceStream::SetTimeout(hWnd, dSeconds);
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
    mChunks = HttpChunkedBody();
    mqwBodyReceived = 0;
    mdwCollectFailure = 0;
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
        // Everything the server sends until the response is complete by its length or its chunks,
        // the server closes the connection, or the time-out has passed since the Write began. A
        // response without a length ends with the connection.
        mbInterrupted = false;
        uint32_t remaining = 0;
        while (IsConnected() && !mbInterrupted && !IsCollected() &&
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

void HTTPDeviceStream::Collect(const std::string &sPiece) {
    if (mHead.BodyStart != std::string::npos) {
        CollectBody(sPiece.data(), sPiece.size());
        return;
    }
    msResponse += sPiece;
    mHead.Scan(msResponse);
    // An interim response (100 Continue, 103 Early Hints) has no body: the final one follows.
    while (mHead.BodyStart != std::string::npos && mHead.Status >= 100 && mHead.Status <= 199) {
        msResponse.erase(0, mHead.BodyStart);
        mHead = HttpResponseHead();
        mHead.Scan(msResponse);
    }
    if (mHead.BodyStart == std::string::npos) {
        if (msResponse.size() > ResponseLimit)
            mdwCollectFailure = StreamResult::HttpResponseTooLarge;
        return;
    }
    const std::string sBody = msResponse.substr(mHead.BodyStart);
    msResponse.resize(mHead.BodyStart);
    CollectBody(sBody.data(), sBody.size());
}

void HTTPDeviceStream::CollectBody(const char *pData, size_t size) {
    switch (mHead.LengthKind) {
    case HttpResponseHead::Length::Invalid:
        mdwCollectFailure = StreamResult::HttpResponseUnreadable;
        return;
    case HttpResponseHead::Length::Chunked:
        mChunks.Feed(pData, size, msResponse);
        if (mChunks.GetState() == HttpChunkedBody::State::Invalid)
            mdwCollectFailure = StreamResult::HttpResponseUnreadable;
        break;
    case HttpResponseHead::Length::Given:
        // Bytes after the body belong to no answer.
        size = static_cast<size_t>(
            std::min<uint64_t>(size, mHead.BodyLength - std::min(mHead.BodyLength, mqwBodyReceived)));
        [[fallthrough]];
    default:
        mqwBodyReceived += size;
        if (mHead.LengthKind == HttpResponseHead::Length::Given ? mHead.BodyLength > ResponseLimit
                                                                : mqwBodyReceived > ResponseLimit)
            mdwCollectFailure = StreamResult::HttpResponseTooLarge;
        else
            msResponse.append(pData, size);
        return;
    }
    // The chunks of one read may pass the bound: what lies beyond it is not kept.
    if (msResponse.size() - mHead.BodyStart > ResponseLimit) {
        mdwCollectFailure = StreamResult::HttpResponseTooLarge;
        msResponse.resize(mHead.BodyStart + ResponseLimit);
    }
}

bool HTTPDeviceStream::IsCollected() const {
    switch (mHead.LengthKind) {
    case HttpResponseHead::Length::Given:
        return mdwCollectFailure != 0 || mqwBodyReceived >= mHead.BodyLength;
    case HttpResponseHead::Length::Chunked:
        return mdwCollectFailure != 0 || mChunks.GetState() == HttpChunkedBody::State::Done;
    default:
        return mdwCollectFailure != 0;
    }
}

DWORD HTTPDeviceStream::ResponseResult() const {
    if (mdwCollectFailure != 0)
        return mdwCollectFailure;
    const bool bKnownEnd = mHead.LengthKind == HttpResponseHead::Length::Given ||
                           mHead.LengthKind == HttpResponseHead::Length::Chunked;
    if (bKnownEnd && !IsCollected())
        return StreamResult::EthernetReadError;
    const unsigned status = mHead.BodyStart != std::string::npos ? mHead.Status : StatusCode(msResponse);
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
    case HttpResponseHead::Length::Chunked: {
        HttpChunkedBody chunks;
        std::string sBody;
        chunks.Feed(sResponse.data() + head.BodyStart, sResponse.size() - head.BodyStart, sBody);
        return chunks.GetState() == HttpChunkedBody::State::Done;
    }
    case HttpResponseHead::Length::Unusable:
    case HttpResponseHead::Length::Invalid:
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
        // A body cut short or not read gives no text; an error status still gives its body's
        // first line.
        result = mdwResponseResult;
        if (result == 0 || result == StreamResult::HttpStatusNotSuccess)
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
