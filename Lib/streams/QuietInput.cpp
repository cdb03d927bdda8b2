// Dropping input until it is quiet, and the wary state of a stream that lost an answer.
#include "streams/QuietInput.h"

#include <algorithm>

#include "core/StringUtils.h"
#include "streams/DeviceStreamSeparatedReadWrite.h"

QuietInputOutcome DropUntilQuiet(uint32_t dwQuietMs, uint32_t dwLimitMs, const QuietInputStep &step,
                                 const std::function<bool()> &giveUp) {
    Timing timing;
    QuietInputOutcome outcome;
    const uint32_t start = timing.GetMilliseconds();
    for (;;) {
        if (giveUp && giveUp()) {
            outcome.GaveUp = true;
            break;
        }
        const uint32_t wait = std::min(dwQuietMs, timing.RemainingTime(start, dwLimitMs));
        if (wait == 0) {
            outcome.Quiet = !outcome.Dropped;
            break;
        }
        bool bInputCame = false;
        outcome.Result = step(wait, bInputCame);
        if (outcome.Result != 0)
            break;
        if (!bInputCame) {
            // What is left of the bound is too short to tell a pause from quiet.
            outcome.Quiet = wait >= dwQuietMs || !outcome.Dropped;
            break;
        }
        outcome.Dropped = true;
    }
    return outcome;
}

void LateAnswerGuard::AnswerLost() {
    mbWary = true;
    mLostAt = mTiming.GetMilliseconds();
}

DWORD LateAnswerGuard::DropLateInput(double dTimeoutSeconds, const QuietInputStep &step) {
    if (!mbWary)
        return 0;
    const uint32_t timeout = SaturatingToUnsigned(SecondsToMilliseconds(dTimeoutSeconds));
    const QuietInputOutcome outcome = DropUntilQuiet(timeout / 10, timeout / 5, step);
    if (outcome.Result != 0)
        return outcome.Result;
    if (!outcome.Quiet)
        return StreamResult::InputNeverQuiet;
    const uint64_t wary = static_cast<uint64_t>(timeout) * WaryTimeouts;
    if (!outcome.Dropped && mTiming.ElapsedSince(mLostAt) >= std::min<uint64_t>(wary, UINT32_MAX))
        mbWary = false;
    return 0;
}
