// Waiting on a word of memory in this process (a private futex on Linux): a waiter sleeps while the
// word holds the value it last saw, and whoever changes the word wakes it. Neither reads the word
// once the call began, so a wake may come after the word's owner is gone.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>

namespace Platform {

static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t) && std::atomic<int32_t>::is_always_lock_free,
              "a futex word is a plain 32-bit integer");

// Returns when woken, once the word no longer holds seen, at the time-out (negative: none), or
// spuriously: the caller looks again.
inline void WaitOnAddress(std::atomic<int32_t> &word, int32_t seen, std::chrono::nanoseconds timeout) {
    timespec limit{};
    if (timeout.count() >= 0) {
        limit.tv_sec = static_cast<time_t>(timeout.count() / 1000000000);
        limit.tv_nsec = static_cast<long>(timeout.count() % 1000000000);
    }
    syscall(SYS_futex, reinterpret_cast<int32_t *>(&word), FUTEX_WAIT_PRIVATE, seen,
            timeout.count() >= 0 ? &limit : nullptr, nullptr, 0);
}

inline void WakeAllOnAddress(std::atomic<int32_t> &word) {
    syscall(SYS_futex, reinterpret_cast<int32_t *>(&word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr,
            0);
}

} // namespace Platform
