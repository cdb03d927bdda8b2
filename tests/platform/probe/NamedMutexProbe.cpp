// A small shared object that takes and releases a named mutex on the calling thread, so that a
// test can check that such a library still unloads (as the plug-in must).
#include "platform/NamedMutex.h"

extern "C" __attribute__((visibility("default"))) unsigned long NamedMutexProbeLockOnce(const wchar_t *name) {
    Platform::NamedMutex mutex(name);
    DWORD result = mutex.Wait(1000);
    if (result == Platform::WaitObject0 || result == Platform::WaitAbandoned)
        mutex.Release();
    return result;
}
