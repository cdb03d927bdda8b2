// Try counting and the retry loop, with their log records.
#include "streams/RetryCounter.h"

#include "logging/QuellinEntry.h"

RetryCounter::RetryCounter(DWORD dwMaximumTries) : mdwMaximumTries(dwMaximumTries) {
    RetryCounter::Reset();
}

RetryCounter::~RetryCounter() = default;

void RetryCounter::Stop() {
    mbStopped = true;
}

void RetryCounter::NewTry() {
    ++mdwCurrentTry;
}

void RetryCounter::Succeeded() {
    mbSucceeded = true;
}

void RetryCounter::Reset() {
    mdwCurrentTry = 0;
    mbSucceeded = false;
    mbStopped = false;
}

bool RetryCounter::IsFinished() const {
    return mbSucceeded || mbStopped || mdwCurrentTry >= mdwMaximumTries;
}

RetryCounterErrorcode::RetryCounterErrorcode(DWORD dwMaximumTries) : RetryCounter(dwMaximumTries) {}

void RetryCounterErrorcode::NewTry() {
    const DWORD previous = mdwErrorCode;
    RetryCounter::NewTry();
    mdwErrorCode = 0;
    if (mdwCurrentTry < 2)
        return;
    QuellinEntry entry("RetryCounter", "NewTry");
    entry.Log(QuellinLevelNote, QuellinDescription, MakeString("RetryCounter(", mdwCurrentTry, ")"),
              L"currentTry", mdwCurrentTry, L"maxTries", mdwMaximumTries, L"Succeeded", mbSucceeded,
              L"previousTryErrorCode", previous);
}

void RetryCounterErrorcode::Succeeded() {
    mdwErrorCode = 0;
    RetryCounter::Succeeded();
}

void RetryCounterErrorcode::Reset() {
    RetryCounter::Reset();
    mdwErrorCode = 0;
}

RetryLoop::RetryLoop(DWORD dwMaximumTries, std::string sName)
    : mdwMaximumTries(dwMaximumTries), msName(std::move(sName)) {}

DWORD RetryLoop::Run(const std::function<void()> &step) {
    DWORD result = 0;
    DWORD tryNumber = 0;
    do {
        ++tryNumber;
        try {
            step();
            result = 0;
        } catch (const ErrorThrow &error) {
            result = error.dwCode;
            QuellinEntry entry(msName, "Run");
            entry.Log(QuellinLevelError, QuellinDescription,
                      MakeString("(", tryNumber, "/", mdwMaximumTries, ") ", msName, ": Error: ", result));
            if (error.bStopRetrying)
                tryNumber = mdwMaximumTries;
        }
    } while (tryNumber < mdwMaximumTries && result != 0);
    return result;
}

DWORD RetryLoop::ThrowIfError(DWORD dwCode) {
    if (dwCode != 0)
        throw ErrorThrow{dwCode, false};
    return dwCode;
}
