// The "UDP" stream kind: each command goes out as one datagram to the configured peer, each
// response is one datagram received on the fixed local port 51456 (which is also the source port
// of the commands), from any sender. Connecting binds that port; a stream counts as connected
// while it holds its socket. A Read takes exactly one datagram: one shorter than the count asked
// for ends with the read time-out, the end of the data for the write-read; so does a Read that
// saw no datagram within the time-out. Empty datagrams are skipped while the time-out runs.
// A Read that saw no datagram makes the stream wary (LateAnswerGuard): while wary, each clearing
// of the input first drops what still comes until the input is quiet, so that a late answer
// costs at most one answer.
//
// UDPDeviceStreamConfig shares the table "Ethernet" (key "Address") with the TCP configuration.
#pragma once

#include <string>

#include "streams/QuietInput.h"
#include "streams/etherds/NetworkBasedDeviceStream.h"

class UDPDeviceStream : public NetworkBasedDeviceStream {
public:
    UDPDeviceStream();

    // A time-out that is not IsUsableTimeout is refused with CouldNotSetValue and changes nothing.
    DWORD SetTimeout(HostWindow hWnd, double dSeconds) override;
    // A socket is held.
    bool IsConnected() override;
    // One datagram to the peer, resolved again from the configuration; EthernetNotConnected
    // without a socket.
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    // One datagram of at most dwCount bytes (and never more than a datagram holds).
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    // Drops every datagram that waits, for at most the time-out; while wary, first until the input
    // is quiet (StreamResult::InputNeverQuiet when it is not).
    DWORD ClearInputBuffers(HostWindow hWnd) override;
    // Resolves the peer and binds the local port; EthernetServerNotCreated when the port could not
    // be bound.
    DWORD InternalConnect(HostWindow hWnd) override;

    static constexpr unsigned short LocalPort = 51456;

private:
    LateAnswerGuard mLateAnswers;
};

class UDPDeviceStreamConfig : public NetworkBasedDeviceStreamConfig {
public:
    UDPDeviceStreamConfig();
    // "UDP:" + GetAddress().
    std::string GetIdentifier() override;
};
