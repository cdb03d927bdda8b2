// The minimum pause between two transfers to a device, and the settings every stream carries:
// terminations, time-out and that pause. A stream waits out the rest of the pause before each
// transfer (WaitRemainingDelay) and notes the time after it (StoreLastCommunicationTime).
#pragma once

#include <cstdint>
#include <string>

#include "core/Timing.h"
#include "platform/HostTypes.h"

class CommunicationDelayer {
public:
    CommunicationDelayer();
    // Copies the minimum delay and the last transfer time; the timer is a fresh one.
    CommunicationDelayer(const CommunicationDelayer &other);
    CommunicationDelayer &operator=(const CommunicationDelayer &other);
    virtual ~CommunicationDelayer();

    // Microseconds.
    virtual DWORD GetMinimumDelay();
    virtual void SetMinimumDelay(DWORD dwMicroseconds);

    // Waits until the minimum delay has passed since the last transfer; nothing when the delay
    // is 0 or has passed already.
    void WaitRemainingDelay();
    // Notes now as the time of the last transfer.
    void StoreLastCommunicationTime();

    int64_t GetLastTransferTime() const { return mnLastTransferTime; }

private:
    DWORD mdwMinimumDelay = 0;
    int64_t mnLastTransferTime = 0; // high-resolution counter reading
    Timing mTimer;
};

struct DeviceStreamParameters {
    // Stamps the delayer, so that the first transfer waits the delay from the creation on.
    DeviceStreamParameters();

    std::string sReadTermination = "\n";
    bool bReadTerminationEnabled = true;
    std::string sWriteTermination = "\n";
    bool bWriteTerminationEnabled = true;
    double dTimeout = 10.0; // seconds
    CommunicationDelayer Delayer;
};
