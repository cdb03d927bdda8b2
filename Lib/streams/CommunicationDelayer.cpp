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
    // 64-bit throughout: days of uptime neither wrap nor overflow the difference.
    const uint64_t passed =
        mTimer.TicksToMicroseconds(mTimer.ReadCounter(), static_cast<uint64_t>(mnLastTransferTime));
    if (passed > std::numeric_limits<uint32_t>::max() || passed >= mdwMinimumDelay)
        return;
    mTimer.WaitPrecise(mdwMinimumDelay - passed);
}

void CommunicationDelayer::StoreLastCommunicationTime() {
    if (mTimer.PerformanceCounterAvailable())
        mnLastTransferTime = static_cast<int64_t>(mTimer.ReadCounter());
}

DeviceStreamParameters::DeviceStreamParameters() {
    Delayer.StoreLastCommunicationTime();
}
