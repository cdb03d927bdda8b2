// The typed base of drivers that follow the host's test run (switch matrices, EUT controllers).
// SetValue identifier 1500 carries the host's events, GetValue identifier 1550 its requests; both
// reach the driver's HandleEvent and HandleRequest with a call record that names them in words.
// Every other identifier goes to DeviceDriverBase.
#pragma once

#include <cstdint>
#include <string>

#include "core/DeviceDriverBase.h"

namespace ValueID {
constexpr DWORD SwitchMatrixEvent = 1500;   // SetValue: Data1 -> uint32_t event, Data2 -> double value
constexpr DWORD SwitchMatrixRequest = 1550; // GetValue: Data1 -> uint32_t request, Data2 -> uint32_t answer
} // namespace ValueID

class SwitchMatrixBase : public virtual DeviceDriverBase {
public:
    static constexpr DWORD EventCount = 84;
    static constexpr DWORD RequestCount = 4;

    // Both receive the addresses unchanged: the event number and the event value (double); the
    // request number and the answer word (32-bit).
    virtual DWORD HandleEvent(HostWindow hWnd, void *Data1, void *Data2);
    // Answers requests 1 to 3 with 1 ("closed", "ok") and request 4 with an empty text.
    virtual DWORD HandleRequest(HostWindow hWnd, void *Data1, void *Data2);

    DWORD SetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) override;
    DWORD GetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) override;

    // The event's name and the text of its value (empty for events without a value); an unknown
    // number is named by itself in signed decimal and its value written as a double.
    static void GetEventName(uint32_t dwEvent, double dValue, std::string &sName, std::string &sValue);
    // The request's name and the text of its answer. Request 4 answers a text in the answer word's
    // four bytes; its value text is that text, read no further than those bytes.
    static void GetRequestName(uint32_t dwRequest, const uint32_t &dwAnswer, std::string &sName,
                               std::string &sValue);
};
