// Waiting for quiet input: what still comes from a device is dropped until a wait finds nothing,
// within a bound. The streams drop a late answer with it before an exchange writes; a driver can
// drop what a login left.
//
// LateAnswerGuard keeps a stream wary after an exchange that lost its answer: every exchange then
// first drops input until it has been quiet, so that an answer that comes late is never taken by
// more than the one exchange that was reading when it came. The first wait of such a drain lasts as
// long as the peer's slowest recent answer took, so that a slow peer's late answer is dropped too.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "core/Timing.h"
#include "platform/HostTypes.h"

// One wait of a drain: waits at most the milliseconds for input and drops what came, telling
// whether any came. A code other than 0 ends the drain with it.
using QuietInputStep = std::function<DWORD(uint32_t dwMilliseconds, bool &bInputCame)>;

struct QuietInputOutcome {
    bool Quiet = false;   // a wait found nothing
    bool Dropped = false; // some input came and was dropped
    bool GaveUp = false;  // giveUp ended the drain first
    DWORD Result = 0;     // the code of a step that failed
};

// Steps of at most dwQuietMs each until one finds nothing, for at most dwLimitMs in all (the last
// step gets what is left of it). Quiet when a step of dwQuietMs found nothing, or nothing came at
// all. giveUp, when given, is asked before each step.
QuietInputOutcome DropUntilQuiet(uint32_t dwQuietMs, uint32_t dwLimitMs, const QuietInputStep &step,
                                 const std::function<bool()> &giveUp = nullptr);

class LateAnswerGuard {
public:
    // Time-outs after a lost answer within which the stream stays wary while nothing late comes.
    static constexpr unsigned WaryTimeouts = 5;
    // The answers whose times the first wait of a drain covers.
    static constexpr size_t RecentAnswers = 8;

    // A command went out: its answer's time counts from now.
    void Asked();
    // The answer to the last command came.
    void Answered();
    // An exchange lost its answer (or left part of it): wary from now on.
    void AnswerLost();
    bool IsWary() const { return mbWary; }
    // Before an exchange writes, while wary: a first wait as long as the slowest recent answer
    // took and a tenth of the time-out more (at most half the time-out); what came is dropped and
    // then input until a wait of a tenth of the time-out finds nothing, for at most a fifth of the
    // time-out more. The stream stops being wary at a drain that dropped input and then found the
    // input quiet, or that found nothing once WaryTimeouts time-outs have passed since the last
    // loss.
    // StreamResult::InputNeverQuiet when the input was not quiet within the bound; the code of a
    // failed step.
    DWORD DropLateInput(double dTimeoutSeconds, const QuietInputStep &step);

private:
    uint32_t SlowestRecentAnswer() const;

    Timing mTiming;
    bool mbWary = false;
    uint32_t mLostAt = 0; // milliseconds of mTiming
    bool mbAsked = false;
    uint32_t mAskedAt = 0;
    std::array<uint32_t, RecentAnswers> mAnswerTimes{};
    size_t mnNextAnswer = 0;
};
