// The cancel signal: which waits it ends, and that it ends no other signal's.
#include "platform/Cancel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <poll.h>

using namespace Platform;
using namespace std::chrono_literals;

namespace {

// Waits on a condition variable that nobody notifies, for up to 30 s, with the signal as the
// thread's cancel; the time the wait took.
std::future<std::chrono::steady_clock::duration> WaitInThread(CancelSignal *signal) {
    return std::async(std::launch::async, [signal] {
        const CancelScope scope(signal);
        std::mutex mutex;
        std::condition_variable condition;
        std::unique_lock<std::mutex> lock(mutex);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(WaitUnlessCancelled(condition, lock, start + 30s, [] { return false; }));
        return std::chrono::steady_clock::now() - start;
    });
}

} // namespace

TEST(CancelSignalTest, EndsEveryWaitOfItsOwnAndNoOther) {
    CancelSignal removed, other;
    auto first = WaitInThread(&removed);
    auto second = WaitInThread(&removed);
    auto bystander = WaitInThread(&other);
    std::this_thread::sleep_for(50ms);
    removed.Cancel();
    ASSERT_EQ(first.wait_for(5s), std::future_status::ready) << "a wait did not hear the cancel";
    ASSERT_EQ(second.wait_for(5s), std::future_status::ready) << "a second wait did not hear it";
    EXPECT_EQ(bystander.wait_for(200ms), std::future_status::timeout) << "another signal's wait ended";
    other.Cancel();
    ASSERT_EQ(bystander.wait_for(5s), std::future_status::ready);

    // Fired before the wait began: the wait ends at once.
    EXPECT_LT(WaitInThread(&removed).get(), 5s);
    EXPECT_FALSE(removed.SleepUntil(CancelSignal::Clock::now() + 30s));
}

TEST(CancelSignalTest, DescriptorAndSleepEndAtTheCancel) {
    CancelSignal signal;
    const int fd = signal.Descriptor();
    ASSERT_GE(fd, 0);
    pollfd quiet{fd, POLLIN, 0};
    EXPECT_EQ(poll(&quiet, 1, 0), 0) << "readable before the cancel";
    EXPECT_TRUE(signal.SleepUntil(CancelSignal::Clock::now() + 1ms));

    auto sleeper =
        std::async(std::launch::async, [&] { return signal.SleepUntil(CancelSignal::Clock::now() + 30s); });
    std::this_thread::sleep_for(50ms);
    signal.Cancel();
    ASSERT_EQ(sleeper.wait_for(5s), std::future_status::ready) << "the sleep did not hear the cancel";
    EXPECT_FALSE(sleeper.get());
    pollfd fired{fd, POLLIN, 0};
    EXPECT_EQ(poll(&fired, 1, 5000), 1) << "not readable after the cancel";
}
