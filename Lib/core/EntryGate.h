// A gate that entries pass and a closing waits on: once Close returned true, no Enter succeeds and
// no entry is inside. The closed mark and the count of entries are one word, changed by one atomic
// step each, so an entry either sees the gate closed or the closing sees it inside. Enter and Leave
// make no system call; only the last Leave out of a closed gate wakes the closing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/AddressWait.h"

class EntryGate {
public:
    using Duration = std::chrono::steady_clock::duration;
    static constexpr Duration Unbounded = Duration::max();

    bool Enter() {
        if ((mState.fetch_add(Step) & ClosedBit) == 0)
            return true;
        Leave();
        return false;
    }
    // The word is not read after the step: the gate's owner may free it once the closing returned.
    void Leave() {
        if (mState.fetch_sub(Step) == (Step | ClosedBit))
            Platform::WakeAllOnAddress(mState);
    }
    bool IsClosed() const { return (mState.load() & ClosedBit) != 0; }
    // Closes the gate and waits for the entries inside, at most the bound; true once none is inside.
    bool Close(Duration bound = Unbounded) {
        const auto start = std::chrono::steady_clock::now();
        for (int32_t seen = mState.fetch_or(ClosedBit) | ClosedBit; seen != ClosedBit; seen = mState.load()) {
            std::chrono::nanoseconds left(-1);
            if (bound != Unbounded) {
                const Duration elapsed = std::chrono::steady_clock::now() - start;
                if (elapsed >= bound)
                    return false;
                left = bound - elapsed;
            }
            Platform::WaitOnAddress(mState, seen, left);
        }
        return true;
    }
    // Lets entries in again.
    void Open() { mState.fetch_and(~ClosedBit); }

    class Pass;

private:
    static constexpr int32_t ClosedBit = 1;
    static constexpr int32_t Step = 2;
    std::atomic<int32_t> mState{0};
};

// One entry for the life of the object, when the gate let it in (no gate: always in).
class EntryGate::Pass {
public:
    explicit Pass(EntryGate *gate) : mGate(gate), mbInside(gate == nullptr || gate->Enter()) {}
    explicit Pass(EntryGate &gate) : Pass(&gate) {}
    ~Pass() {
        if (mGate != nullptr && mbInside)
            mGate->Leave();
    }
    Pass(const Pass &) = delete;
    Pass &operator=(const Pass &) = delete;

    bool IsInside() const { return mbInside; }
    explicit operator bool() const { return mbInside; }

private:
    EntryGate *const mGate;
    const bool mbInside;
};
