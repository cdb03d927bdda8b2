// The "HTTP" stream kind: a written command becomes the path of a GET request
// ("GET " + path + " HTTP/1.1\r\n\r\n", no header lines) on a TCP connection, the whole response is
// collected, and the next Read hands out the first line of its body. Each request has a
// connection of its own: the next request connects again.
//
// The path is the command without trailing blanks and line ends, with "/" in front when it lacks
// one. Blanks and other control characters inside it would break the request line: they go out
// percent-encoded, everything else as written. Collecting stops as soon as the body its
// Content-Length names is in, when the server closes the connection (the end of a response
// without a length), or when the stream's time-out has passed since the request went out; bytes
// that came with the response are kept with it. A connection the server left open (keep-alive)
// is then closed by the stream.
//
// HTTPDeviceStreamConfig keeps its address in the table "HTTP" (key "Address").
#pragma once

#include <string>

#include "streams/etherds/NetworkBasedDeviceStream.h"

class HTTPDeviceStream : public NetworkBasedDeviceStream {
public:
    HTTPDeviceStream();

    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    // The first line of the body, once; HttpAllDataRead when nothing is left.
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    // The TCP clear, then the collected response is dropped.
    DWORD ClearInputBuffers(HostWindow hWnd) override;

    // The header is complete and so is the body its Content-Length names (or, without one, the
    // text ends after the header or with a line end).
    bool IsResponseComplete(const std::string &sResponse);

    const std::string &GetResponseBuffer() const { return msResponse; }

private:
    enum class Complete { No, ByLength, WithoutLength };
    Complete Completeness(const std::string &sResponse);

    std::string msResponse;
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
