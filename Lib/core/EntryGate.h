// A gate that entries pass and a closing waits on: once Close returned, no Enter succeeds and no
// entry is inside. The mark and the count are both sequentially consistent: an entry either sees
// the gate closed, or the closing sees its count and waits for it to leave.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

class EntryGate {
public:
    bool Enter() {
        ++mInside;
        if (!mbClosed)
            return true;
        --mInside;
        return false;
    }
    void Leave() { --mInside; }
    bool IsClosed() const { return mbClosed; }
    // Closes the gate and waits for the entries inside, at most nTurns turns (0: until they left);
    // true once none is inside. The first turns yield, later ones sleep a millisecond: an entry may
    // last a while (a connect).
    bool Close(unsigned long nTurns = 0) {
        mbClosed = true;
        for (unsigned long turn = 0; mInside.load() != 0 && (nTurns == 0 || turn < nTurns); ++turn) {
            if (turn < YieldingTurns)
                std::this_thread::yield();
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return mInside.load() == 0;
    }

private:
    static constexpr unsigned long YieldingTurns = 100;
    std::atomic<int> mInside{0};
    std::atomic<bool> mbClosed{false};
};
