// A value that one thread replaces while others take copies of it: the sinks that tests install in
// place of a person (message boxes, modal dialogs).
//
// Reach each slot through a function-local static,
//
//     GuardedSlot<MessageBoxSink> &Sink() { static GuardedSlot<MessageBoxSink> slot; return slot; }
//
// never a namespace-scope object: the module entry runs before the plug-in's namespace-scope
// objects are built, and such a slot would be built (and so reset) after it was first used.
#pragma once

#include <mutex>
#include <utility>

namespace Platform {

template <typename Value> class GuardedSlot {
public:
    // A copy, so that the caller uses it without holding the lock.
    Value Get() {
        std::lock_guard<std::mutex> guard(mLock);
        return mValue;
    }
    void Set(Value value) {
        std::lock_guard<std::mutex> guard(mLock);
        mValue = std::move(value);
    }

private:
    std::mutex mLock;
    Value mValue{};
};

} // namespace Platform
