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

void LateAnswerGuard::Asked() {
    mbAsked = true;
    mAskedAt = mTiming.GetMilliseconds();
}

void LateAnswerGuard::Answered() {
    if (!mbAsked)
        return;
    mbAsked = false;
    mAnswerTimes[mnNextAnswer] = mTiming.ElapsedSince(mAskedAt);
    mnNextAnswer = (mnNextAnswer + 1) % mAnswerTimes.size();
}

uint32_t LateAnswerGuard::SlowestRecentAnswer() const {
    return *std::max_element(mAnswerTimes.begin(), mAnswerTimes.end());
}

void LateAnswerGuard::AnswerLost() {
    mbAsked = false;
    mbWary = true;
    mLostAt = mTiming.GetMilliseconds();
}

DWORD LateAnswerGuard::DropLateInput(double dTimeoutSeconds, const QuietInputStep &step) {
    if (!mbWary)
        return 0;
    const uint32_t timeout = SaturatingToUnsigned(SecondsToMilliseconds(dTimeoutSeconds));
    const uint32_t quiet = timeout / 10;
    // A slow peer's late answer may still be on its way: as long as its answers take.
    const uint32_t firstWait =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{SlowestRecentAnswer()} + quiet, timeout / 2));
    bool bCame = false;
    const DWORD result = firstWait > 0 ? step(firstWait, bCame) : 0;
    if (result != 0)
        return result;
    if (bCame) {
        const QuietInputOutcome outcome = DropUntilQuiet(quiet, timeout / 5, step);
        if (outcome.Result != 0)
            return outcome.Result;
        if (!outcome.Quiet)
            return StreamResult::InputNeverQuiet;
        // The late input is gone.
        mbWary = false;
        return 0;
    }
    const uint64_t wary = static_cast<uint64_t>(timeout) * WaryTimeouts;
    if (mTiming.ElapsedSince(mLostAt) >= std::min<uint64_t>(wary, UINT32_MAX))
        mbWary = false;
    return 0;
}
