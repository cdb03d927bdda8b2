// The "HTTP" stream kind: a written command becomes the path of a GET request
// ("GET " + path + " HTTP/1.1\r\n\r\n", no header lines) on a TCP connection, the whole response is
// collected, and the next Read hands out the first line of its body. Each request has a
// connection of its own: the next request connects again.
//
// The path is the command without trailing blanks and line ends, with "/" in front when it lacks
// one. Blanks and other control characters inside it would break the request line: they go out
// percent-encoded, everything else as written. Collecting stops as soon as the body its
// Content-Length names is in, when the server closes the connection (the end of a response
// without a length), or when the stream's time-out has passed since the Write began (connect
// included); bytes that came with the response are kept with it, the first ResponseLimit bytes
// of them. A connection the server left open (keep-alive) is then closed by the stream.
//
// The header is scanned line by line once its empty line is in. A Content-Length whose number is
// missing or does not fit 64 bits is no usable length: such a response ends with the connection.
// Read answers EthernetReadError (and no text) for a body shorter than its Content-Length, and
// HttpStatusNotSuccess (with the first body line) for a status outside 2xx.
//
// HTTPDeviceStreamConfig keeps its address in the table "HTTP" (key "Address").
#pragma once

#include <cstdint>
#include <string>

#include "streams/etherds/NetworkBasedDeviceStream.h"

// What the header of a response says, read as far as the response has come: where the body
// starts (after the first "\r\n\r\n", in an HTTP/1.0 response also "\n\n") and the number of the
// first Content-Length line. Scan looks only at what came since its last call.
struct HttpResponseHead {
    enum class Length { Absent, Unusable, Given };

    void Scan(const std::string &sResponse);

    size_t BodyStart = std::string::npos;
    Length LengthKind = Length::Absent;
    uint64_t BodyLength = 0;

private:
    size_t mScanned = 0;
};

class HTTPDeviceStream : public NetworkBasedDeviceStream {
public:
    // The most of a response that is kept; the rest is received and dropped.
    static constexpr size_t ResponseLimit = size_t{4} << 20;

    HTTPDeviceStream();

    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    // The first line of the body, once, with the response's result (see above); HttpAllDataRead
    // when nothing is left.
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    // The TCP clear, then the collected response is dropped.
    DWORD ClearInputBuffers(HostWindow hWnd) override;

    // The header is complete and so is the body its Content-Length names (or, without one, the
    // text ends after the header or with a line end).
    bool IsResponseComplete(const std::string &sResponse);

    const std::string &GetResponseBuffer() const { return msResponse; }

private:
    // Takes a received chunk into the response, within ResponseLimit.
    void Collect(const std::string &sChunk);
    bool IsCompleteByLength() const;
    // EthernetReadError for a body cut short, HttpStatusNotSuccess for a status outside 2xx, else 0.
    DWORD ResponseResult() const;

    std::string msResponse;
    HttpResponseHead mHead;
    // Every byte of the response, kept or not.
    uint64_t mqwReceived = 0;
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
