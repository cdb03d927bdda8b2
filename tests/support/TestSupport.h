// Fixtures shared by the tests: temporary directories, environment overrides, waiting helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace TestSupport {

// A fresh directory below the temporary directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return mPath; }
    std::string File(const std::string &name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const std::string &name, const std::string &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string mName;
    std::string mOld;
    bool mHadOld;
};

// The test environment: every path the framework uses (mailslot, locks, drive C) points into a
// private temporary directory, so tests run in parallel without meeting each other.
class IsolatedEnvironment {
public:
    IsolatedEnvironment();
    const std::string &Root() const { return mDir.Path(); }
    std::string MailslotDir() const { return mDir.File("mailslot"); }
    std::string LockDir() const { return mDir.File("locks"); }
    std::string DriveC() const { return mDir.File("driveC"); }

private:
    TempDir mDir;
    ScopedEnv mMailslot, mLocks, mDriveC;
};

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);
// Room on top of a wall-clock wait for a loaded two-core machine and the sanitizer build; only for
// tests whose point is an upper bound.
constexpr std::chrono::milliseconds SchedulingSlack{3000};
// Polls the condition until it holds or the timeout runs out.
bool WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout);
// Milliseconds on the steady clock from start until now, with their fraction. Bounds compare this
// number, which a failed assertion prints (gtest prints a duration as a byte dump).
double MillisecondsSince(std::chrono::steady_clock::time_point start);
// How often the regular expression matches in the text (matches do not overlap).
size_t Count(const std::string &text, const std::string &pattern);
// The decimal-comma locale that scripts/setup installs; the tests that need it fail without it.
constexpr const char *DecimalCommaLocaleName = "de_DE.UTF-8";

// Switches the process to the decimal-comma locale while alive (Active() is false when the
// locale is missing), then back.
class ScopedDecimalCommaLocale {
public:
    ScopedDecimalCommaLocale();
    ~ScopedDecimalCommaLocale();
    ScopedDecimalCommaLocale(const ScopedDecimalCommaLocale &) = delete;
    ScopedDecimalCommaLocale &operator=(const ScopedDecimalCommaLocale &) = delete;
    bool Active() const { return mActive; }

private:
    std::string mPrevious;
    bool mActive = false;
};

// Bytes the process has allocated on the heap and not freed (the sanitizer's count in the
// sanitizer build).
size_t HeapBytesInUse();

// Value of an environment variable set by the test runner ("" when unset).
std::string RunnerEnv(const char *name);

// While alive, every message box is answered here instead of shown, and remembered.
class MessageBoxRecorder {
public:
    // Answers with the given button, or with the box's default button when it is 0.
    explicit MessageBoxRecorder(int answer = 0);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;
    std::vector<Platform::MessageBoxRequest> Boxes;
};

struct ProcessResult {
    int ExitCode = -1; // -1 when killed at the deadline or by a signal
    int Signal = 0;    // the signal that ended it, 0 when it exited
    bool TimedOut = false;
    std::string Output; // stdout and stderr together
};
// Runs a program with the given input on stdin; kills it at the deadline, or once its output holds
// until (when given).
ProcessResult RunProcess(const std::vector<std::string> &argv, const std::string &input,
                         std::chrono::milliseconds timeout, const std::string &until = std::string());

// A TCP listener on 127.0.0.1 whose accept queue is full: a connect to it stays in progress (its
// handshake unanswered) until the queue has room, which it never gets while the object lives.
class FullListener {
public:
    // Port 0: an ephemeral port.
    explicit FullListener(uint16_t port = 0);
    ~FullListener();
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;

    uint16_t Port() const { return mPort; }
    // Connects to the port whose handshake is in progress (in this machine's table), besides the
    // listener's own.
    size_t ConnectsInProgress() const;
    // Stops listening (any thread): a connect in progress is refused at its next try, 1 to 7 s on.
    void Refuse() const;

private:
    int mListener = -1;
    uint16_t mPort = 0;
    std::vector<int> mFillers;
};

} // namespace TestSupport
