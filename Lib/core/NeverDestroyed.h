// An object in static storage that is built on first use and never destroyed: code that may run
// after the static destructors (the plug-in's detach at process exit) can still use it, and it
// holds no heap block of its own that an unloaded plug-in would leave behind. Whatever it holds
// on the heap is released by its owner at detach.
#pragma once

#include <new>
#include <utility>

template <typename T> class NeverDestroyed {
public:
    template <typename... Args> explicit NeverDestroyed(Args &&...args) {
        new (mStorage) T(std::forward<Args>(args)...);
    }
    NeverDestroyed(const NeverDestroyed &) = delete;
    NeverDestroyed &operator=(const NeverDestroyed &) = delete;

    T &Get() { return *std::launder(reinterpret_cast<T *>(mStorage)); }

private:
    alignas(T) unsigned char mStorage[sizeof(T)];
};
