// Counting and repeating the tries of an operation.
//
// RetryCounter counts the tries of a loop written by hand (NewTry ... Succeeded, IsFinished);
// RetryCounterErrorcode also logs each new try after the first with the previous try's code.
// RetryLoop runs a step again while it throws a result code (ThrowIfError), logging each failure
// as "(<try>/<max>) <name>: Error: <code>".
#pragma once

#include <functional>
#include <string>

#include "platform/HostTypes.h"

class RetryCounter {
public:
    explicit RetryCounter(DWORD dwMaximumTries);
    virtual ~RetryCounter();

    virtual void Stop();
    virtual void NewTry();
    virtual void Succeeded();
    virtual void Reset();

    // Succeeded, stopped, or no tries left.
    bool IsFinished() const;
    DWORD GetCurrentTry() const { return mdwCurrentTry; }
    DWORD GetMaximumTries() const { return mdwMaximumTries; }
    bool HasSucceeded() const { return mbSucceeded; }

protected:
    DWORD mdwMaximumTries;
    DWORD mdwCurrentTry = 0;
    bool mbSucceeded = false;
    bool mbStopped = false;
};

class RetryCounterErrorcode : public RetryCounter {
public:
    explicit RetryCounterErrorcode(DWORD dwMaximumTries);

    // From the second try on, logs a "Note" record "NewTry" of "RetryCounter" with the previous
    // try's code.
    void NewTry() override;
    void Succeeded() override;
    void Reset() override;

    // The code of the failed try, logged by the next NewTry.
    void SetErrorCode(DWORD dwCode) { mdwErrorCode = dwCode; }
    DWORD GetErrorCode() const { return mdwErrorCode; }

private:
    DWORD mdwErrorCode = 0;
};

class RetryLoop {
public:
    // What a step throws to report a failure.
    struct ErrorThrow {
        DWORD dwCode;
        bool bStopRetrying;
    };

    RetryLoop(DWORD dwMaximumTries, std::string sName);

    // Runs the step up to the maximum tries (at least once) until it returns without a throw.
    // The code of the last try, 0 on success.
    DWORD Run(const std::function<void()> &step);

    // Throws {code, false} for a non-zero code, returns the code otherwise.
    static DWORD ThrowIfError(DWORD dwCode);

private:
    DWORD mdwMaximumTries;
    std::string msName;
};

inline DWORD ThrowIfError(DWORD dwCode) {
    return RetryLoop::ThrowIfError(dwCode);
}
