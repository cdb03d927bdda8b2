// WriteReadMixin<T>: a command and the reading of its answer as one locked exchange, for anything
// that offers the stream operations (a stream, or a driver-side client that forwards them).
//
// WriteRead retries the whole exchange (lock, clear, write, read) up to the given tries; a read
// time-out (StreamResult::ReadTimeout) is the end of the data, not a failure. When the answer
// starts with line breaks only, they are dropped and the rest is read. WriteReadUntilAnswer does
// not retry failures; it reads again (up to tries - 1 times) until a non-empty answer is there.
// Both append to the response and ask each read only for the bytes still missing of count.
#pragma once

#include <string>
#include <utility>

#include "core/StringUtils.h"
#include "platform/HostTypes.h"
#include "streams/DeviceStreamLockerMixin.h"
#include "streams/DeviceStreamSeparatedReadWrite.h"
#include "streams/RetryCounter.h"

template <typename T> class WriteReadMixin : public DeviceStreamLockerMixin<T> {
public:
    using DeviceStreamLockerMixin<T>::DeviceStreamLockerMixin;
    using Locker = typename DeviceStreamLockerMixin<T>::DeviceStreamLocker;

    virtual DWORD SetStripLeadingLineBreaks(bool bStrip) {
        mbStripLeadingLineBreaks = bStrip;
        return 0;
    }

    virtual DWORD WriteReadUntilAnswer(HostWindow hWnd, const std::string &sCommand, std::string &sResponse,
                                       DWORD &dwCount, DWORD dwTries) {
        Locker locker(this);
        DWORD result = locker.Lock(hWnd, this->GetTimeout(hWnd));
        bool written = false;
        if (result == 0 && !sCommand.empty()) {
            written = true;
            result = this->ClearInputBuffers(hWnd);
            if (result == 0)
                result = this->Write(hWnd, sCommand, false);
        }
        if (result == 0)
            result = ReadAppending(hWnd, sResponse, dwCount, dwCount);
        if (result == 0 && written) {
            RetryCounter counter(dwTries);
            while (result == 0 && !counter.IsFinished()) {
                counter.NewTry();
                if (mbStripLeadingLineBreaks)
                    sResponse = TrimLeftWith(sResponse, "\r\n");
                if (!sResponse.empty())
                    counter.Succeeded();
                if (!counter.IsFinished())
                    result = ReadAppending(hWnd, sResponse, MissingBytes(dwCount, sResponse), dwCount);
            }
        }
        return result;
    }

    virtual DWORD WriteRead(HostWindow hWnd, const std::string &sCommand, std::string &sResponse,
                            DWORD &dwCount, DWORD dwTries) {
        // Every try starts again from what the caller handed in.
        const std::string original = sResponse;
        RetryLoop loop(dwTries, "RetryLoop");
        return loop.Run([&]() {
            sResponse = original;
            Locker locker(this);
            ThrowIfError(locker.Lock(hWnd, this->GetTimeout(hWnd)));
            if (!sCommand.empty()) {
                ThrowIfError(this->ClearInputBuffers(hWnd));
                ThrowIfError(this->Write(hWnd, sCommand, false));
            }
            ThrowIfError(ReadAppending(hWnd, sResponse, dwCount, dwCount));
            if (sCommand.empty())
                return;
            RetryLoop readAgain(3, "RetryLoop");
            ThrowIfError(readAgain.Run([&]() {
                sResponse = TrimLeftWith(sResponse, "\r\n");
                if (sResponse.empty())
                    ThrowIfError(ReadAppending(hWnd, sResponse, MissingBytes(dwCount, sResponse), dwCount));
            }));
        });
    }

    bool GetStripLeadingLineBreaks() const { return mbStripLeadingLineBreaks; }

private:
    // Bytes of count not yet in the response; 0 when it holds count or more.
    static DWORD MissingBytes(DWORD dwCount, const std::string &sResponse) {
        return sResponse.size() >= dwCount ? 0 : static_cast<DWORD>(dwCount - sResponse.size());
    }

    // Reads up to dwWanted bytes and appends them; a read time-out counts as success. Nothing is
    // read when no byte is wanted while count asked for some.
    DWORD ReadAppending(HostWindow hWnd, std::string &sResponse, DWORD dwWanted, DWORD dwCount) {
        if (dwWanted == 0 && dwCount != 0)
            return 0;
        std::string part;
        DWORD result = this->Read(hWnd, part, dwWanted);
        if (result == StreamResult::ReadTimeout)
            result = 0;
        if (result == 0) {
            if (sResponse.empty())
                sResponse = std::move(part);
            else
                sResponse += part;
        }
        return result;
    }

    bool mbStripLeadingLineBreaks = true;
};

using WriteReadDeviceStream = WriteReadMixin<DeviceStreamSeparatedReadWrite>;
