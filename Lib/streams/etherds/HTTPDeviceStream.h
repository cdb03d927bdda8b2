// The "HTTP" stream kind: a written command becomes the path of a GET request
// ("GET " + path + " HTTP/1.1\r\n\r\n", no header lines) on a TCP connection, the whole response is
// collected, and the next Read hands out the first line of its body. Each request has a
// connection of its own: the next request connects again.
//
// The path is the command without trailing blanks and line ends, with "/" in front when it lacks
// one. Blanks and other control characters inside it would break the request line: they go out
// percent-encoded, everything else as written. Collecting stops as soon as the body its
// Content-Length or its chunks name is in (a 204 or 304 has none: its header ends it), when the
// server closes the connection (the end of a response without a length), or when the stream's
// time-out has passed since the Write began (connect included). A connection the server left open
// (keep-alive) is then closed by the stream.
//
// The header is scanned line by line once its empty line is in; interim responses (1xx) before
// the final one are skipped. A Content-Length too long for 64 bits is no usable length: such a
// response ends with the connection. Read answers EthernetReadError (and no text) for a body
// shorter than its Content-Length or its chunks, HttpResponseUnreadable for a length that is not
// one clean number or a transfer coding other than chunked, HttpResponseTooLarge for a header or
// body beyond ResponseLimit (both without text), and HttpStatusNotSuccess (with the first body
// line) for a status outside 2xx.
//
// HTTPDeviceStreamConfig keeps its address in the table "HTTP" (key "Address").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "streams/etherds/NetworkBasedDeviceStream.h"

// What the header of a response says, read as far as the response has come: its status, where
// the body starts (after the first "\r\n\r\n", in an HTTP/1.0 response also "\n\n") and how its
// length is told. Scan looks only at what came since its last call.
//
// A Content-Length counts when every such line holds one clean number, the same in each (a list
// "3, 3" too); digits too many for 64 bits are no usable length. A Transfer-Encoding of "chunked"
// alone is read by its chunks and wins over a length. Any other coding, a length that is not a
// number ("3abc", at most one blank after the colon) or lengths that differ make the response
// Invalid. A 204 or 304 has no body whatever its fields say: its length is Given, 0.
struct HttpResponseHead {
    enum class Length { Absent, Unusable, Given, Chunked, Invalid };

    void Scan(const std::string &sResponse);

    unsigned Status = 0; // 0 when the response does not begin with a status line
    size_t BodyStart = std::string::npos;
    Length LengthKind = Length::Absent;
    uint64_t BodyLength = 0;

private:
    // What the header lines say about the length and the coding.
    struct HeadFields {
        // Takes one header line (without its line end).
        void Take(const std::string &sLine);

        bool bLength = false;  // a Content-Length line came
        bool bInvalid = false; // a length that is no number, or lengths that differ
        std::string sDigits;   // the length without leading zeros
        std::vector<std::string> codings;
    };
    // LengthKind and BodyLength from the status and the fields.
    void DecideLength(const HeadFields &fields);

    size_t mScanned = 0;
};

// A body in the chunked coding, decoded as its bytes come: chunk sizes in hex (extensions after
// ";" ignored), each chunk's data followed by a line end, a last chunk of size 0, trailer lines
// (ignored) and an empty line.
class HttpChunkedBody {
public:
    enum class State { Size, Data, DataEnd, Trailer, Done, Invalid };

    // Appends the data of the chunks to sBody.
    void Feed(const char *pData, size_t size, std::string &sBody);
    State GetState() const { return meState; }

private:
    // Takes the line that a line feed ended.
    void EndLine();

    State meState = State::Size;
    std::string msLine;   // the size or trailer line so far
    uint64_t mqwLeft = 0; // data bytes of the chunk still to come
};

class HTTPDeviceStream : public NetworkBasedDeviceStream {
public:
    // The most of a response's body that is kept, and of its header; a larger one is no answer.
    static constexpr size_t ResponseLimit = size_t{4} << 20;

    HTTPDeviceStream();

    // A time-out that is not IsUsableTimeout is refused with CouldNotSetValue and changes nothing.
    DWORD SetTimeout(HostWindow hWnd, double dSeconds) override;
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    // The first line of the body, once, with the response's result (see above); HttpAllDataRead
    // when nothing is left.
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    // The TCP clear, then the collected response is dropped.
    DWORD ClearInputBuffers(HostWindow hWnd) override;

    // The header is complete and so is the body its Content-Length or its chunks name (or, without
    // either, the text ends after the header or with a line end).
    bool IsResponseComplete(const std::string &sResponse);

    // The final response's header and its body (decoded from its chunks).
    const std::string &GetResponseBuffer() const { return msResponse; }

private:
    // Takes a received piece into the response: interim (1xx) heads are dropped, the body is kept
    // within ResponseLimit.
    void Collect(const std::string &sPiece);
    void CollectBody(const char *pData, size_t size);
    // Nothing more is to come: a failure, or the body is complete by its length or its chunks.
    bool IsCollected() const;
    // The failure of the collection; else EthernetReadError for a body cut short,
    // HttpStatusNotSuccess for a status outside 2xx, else 0.
    DWORD ResponseResult() const;

    std::string msResponse;
    HttpResponseHead mHead;
    HttpChunkedBody mChunks;
    // Body bytes received, kept or not.
    uint64_t mqwBodyReceived = 0;
    DWORD mdwCollectFailure = 0;
    DWORD mdwResponseResult = 0;
};

class HTTPDeviceStreamConfig : public NetworkBasedDeviceStreamConfig {
public:
    HTTPDeviceStreamConfig();
    // "HTTP:" + GetAddress().
    std::string GetIdentifier() override;

protected:
    std::string GetSettingsTable() const override { return "HTTP"; }
};

// The path of a request: percent-encodes blanks and control characters.
std::string EncodeRequestPath(const std::string &sPath);
