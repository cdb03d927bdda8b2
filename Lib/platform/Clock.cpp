// Clocks, sleeping and process/thread identity over clock_gettime, nanosleep and gettid.
#include "platform/Clock.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

namespace Platform {

WallTime WallClockNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return WallTime{static_cast<int64_t>(ts.tv_sec), static_cast<unsigned>(ts.tv_nsec / 1000000)};
}

LocalTime LocalTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t seconds = ts.tv_sec;
    tm parts{};
    localtime_r(&seconds, &parts);
    return LocalTime{parts.tm_year + 1900,
                     parts.tm_mon + 1,
                     parts.tm_mday,
                     parts.tm_hour,
                     parts.tm_min,
                     parts.tm_sec,
                     static_cast<int>(ts.tv_nsec / 1000000)};
}

void SleepMicroseconds(uint64_t microseconds) {
    timespec rest{static_cast<time_t>(microseconds / 1000000u),
                  static_cast<long>((microseconds % 1000000u) * 1000u)};
    // Signals do not cut the sleep short.
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

void SleepMilliseconds(uint32_t milliseconds) {
    SleepMicroseconds(static_cast<uint64_t>(milliseconds) * 1000u);
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

bool ProcessHasEnded(uint32_t processId) {
    // Signal 0 only asks; a process of another user answers EPERM and lives.
    if (processId == 0 || processId > static_cast<uint32_t>(INT_MAX))
        return true;
    return kill(static_cast<pid_t>(processId), 0) != 0 && errno == ESRCH;
}

// Not cached per thread: a forked child's thread would keep its parent's id.
uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

} // namespace Platform
