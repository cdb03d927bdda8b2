// The pause between transfers over the plug-in's microsecond counter.
#include "streams/CommunicationDelayer.h"

#include <limits>

CommunicationDelayer::CommunicationDelayer() = default;

CommunicationDelayer::CommunicationDelayer(const CommunicationDelayer &other)
    : mdwMinimumDelay(other.mdwMinimumDelay), mnLastTransferTime(other.mnLastTransferTime) {}

CommunicationDelayer &CommunicationDelayer::operator=(const CommunicationDelayer &other) {
    mdwMinimumDelay = other.mdwMinimumDelay;
    mnLastTransferTime = other.mnLastTransferTime;
    return *this;
}

CommunicationDelayer::~CommunicationDelayer() = default;

DWORD CommunicationDelayer::GetMinimumDelay() {
    return mdwMinimumDelay;
}

void CommunicationDelayer::SetMinimumDelay(DWORD dwMicroseconds) {
    mdwMinimumDelay = dwMicroseconds;
}

void CommunicationDelayer::WaitRemainingDelay() {
    if (!mTimer.PerformanceCounterAvailable() || mdwMinimumDelay == 0)
        return;
    // 64-bit throughout: days of uptime neither wrap nor overflow the difference. A time rounded
    // up beyond now counts as now.
    const uint64_t now = mTimer.ReadCounter();
    const uint64_t last = static_cast<uint64_t>(mnLastTransferTime);
    const uint64_t passed = now > last ? mTimer.TicksToMicroseconds(now, last) : 0;
    if (passed > std::numeric_limits<uint32_t>::max() || passed >= mdwMinimumDelay)
        return;
    mTimer.WaitPrecise(mdwMinimumDelay - passed);
}

void CommunicationDelayer::StoreLastCommunicationTime() {
    if (!mTimer.PerformanceCounterAvailable())
        return;
    // Without a delay the time counts only once one is set: then a tick's resolution will do,
    // rounded up so that the delay is never cut short.
    mnLastTransferTime =
        static_cast<int64_t>(mdwMinimumDelay == 0 ? mTimer.ReadCounterRoundedUp() : mTimer.ReadCounter());
}

DeviceStreamParameters::DeviceStreamParameters() {
    Delayer.StoreLastCommunicationTime();
}
