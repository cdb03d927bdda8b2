// Stand-in of the service-request library "GPIBSRQ.DLL". Each registration has a thread that
// waits for its instrument's service request in the GPIB stand-in (found among the loaded
// libraries, as the real library uses the loaded GPIB-32.DLL) and calls the registered callback
// with the serial-poll status byte. Unregistering waits for a running callback. The timing store
// is process-wide here.
#include "gpib/GpibSrqApi.h"
#include "GpibSrqStandIn.h"
#include "../gpib-32/Gpib32StandIn.h"

#include <dlfcn.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct Registration {
    int Board = 0, Pad = 0, Sad = 0;
    GpibSrqCallback Callback = nullptr;
    void *Context = nullptr;
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

std::mutex gMutex;
std::map<uint32_t, std::shared_ptr<Registration>> gRegistrations;
uint32_t gNextRegistration = 1;
std::atomic<int32_t> gCallbacks{0};
std::atomic<int32_t> gExpectations{0};
std::atomic<uint32_t> gLastError{0};
std::mutex gTimingMutex;
uint32_t gDelay = 0;
uint64_t gCounter = 0;

Gpib32StandIn::WaitRequestFunction FindWaitRequest() {
    void *gpib = dlopen("libgpib-32.so", RTLD_NOW | RTLD_NOLOAD);
    if (gpib == nullptr)
        return nullptr;
    auto function =
        reinterpret_cast<Gpib32StandIn::WaitRequestFunction>(dlsym(gpib, "gpibStandInWaitRequest"));
    dlclose(gpib);
    return function;
}

void Stop(const std::shared_ptr<Registration> &registration) {
    registration->Stop = true;
    if (registration->Thread.get_id() == std::this_thread::get_id())
        registration->Thread.detach(); // called from its own callback: the thread ends by itself
    else if (registration->Thread.joinable())
        registration->Thread.join();
}

// Threads still running when the library goes are stopped first.
struct StopAllAtUnload {
    ~StopAllAtUnload() {
        std::map<uint32_t, std::shared_ptr<Registration>> remaining;
        {
            std::lock_guard<std::mutex> lock(gMutex);
            remaining.swap(gRegistrations);
        }
        for (auto &entry : remaining)
            Stop(entry.second);
    }
} gStopAllAtUnload;

} // namespace

extern "C" {

uint32_t RegisterSRQHandler(void *, int board, int primary, int secondary, GpibSrqCallback callback,
                            void *context, uint32_t *registration) {
    if (registration == nullptr || callback == nullptr)
        return 0x30000005;
    const Gpib32StandIn::WaitRequestFunction waitRequest = FindWaitRequest();
    if (waitRequest == nullptr)
        return 0x30000246;
    auto entry = std::make_shared<Registration>();
    entry->Board = board;
    entry->Pad = primary;
    entry->Sad = secondary;
    entry->Callback = callback;
    entry->Context = context;
    std::lock_guard<std::mutex> lock(gMutex);
    const uint32_t id = gNextRegistration++;
    entry->Thread = std::thread([entry, waitRequest] {
        while (!entry->Stop) {
            unsigned char statusByte = 0;
            if (waitRequest(entry->Board, entry->Pad, entry->Sad, 20, &statusByte) != 0 && !entry->Stop) {
                entry->Callback(statusByte, entry->Context);
                ++gCallbacks;
            }
        }
    });
    gRegistrations[id] = entry;
    *registration = id;
    return 0;
}

uint32_t UnRegisterSRQHandler(void *, uint32_t registration) {
    std::shared_ptr<Registration> entry;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auto it = gRegistrations.find(registration);
        if (it == gRegistrations.end())
            return 0x30000005;
        entry = it->second;
        gRegistrations.erase(it);
    }
    Stop(entry);
    return 0;
}

uint32_t UnRegisterAllHandlers(void *hWnd) {
    std::map<uint32_t, std::shared_ptr<Registration>> all;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        all = gRegistrations;
    }
    for (auto &entry : all)
        UnRegisterSRQHandler(hWnd, entry.first);
    return 0;
}

uint32_t SetExpectingSRQ(void *, uint32_t) {
    ++gExpectations;
    return 0;
}

uint32_t CheckGPIBBusses(void *) {
    return 0;
}

uint32_t GetLastGPIBError(void *, uint32_t) {
    return gLastError;
}

#ifndef GPIBSRQ_STANDIN_WITHOUT_TIMING
uint32_t SetLastTimingInformation(const uint32_t *delay, const uint64_t *counter) {
    std::lock_guard<std::mutex> lock(gTimingMutex);
    if (delay != nullptr)
        gDelay = *delay;
    if (counter != nullptr)
        gCounter = *counter;
    return delay != nullptr && counter != nullptr ? 0 : 0x30000005;
}

uint32_t GetLastTimingInformation(uint32_t *delay, uint64_t *counter) {
    std::lock_guard<std::mutex> lock(gTimingMutex);
    if (delay != nullptr)
        *delay = gDelay;
    if (counter != nullptr)
        *counter = gCounter;
    return delay != nullptr && counter != nullptr ? 0 : 0x30000005;
}
#endif

int32_t gpibsrqStandInCallbacks(void) {
    return gCallbacks;
}

int32_t gpibsrqStandInExpectations(void) {
    return gExpectations;
}

int32_t gpibsrqStandInRegistrations(void) {
    std::lock_guard<std::mutex> lock(gMutex);
    return static_cast<int32_t>(gRegistrations.size());
}

void gpibsrqStandInSetLastError(uint32_t error) {
    gLastError = error;
}

void gpibsrqStandInReset(void) {
    gCallbacks = 0;
    gExpectations = 0;
    gLastError = 0;
    std::lock_guard<std::mutex> lock(gTimingMutex);
    gDelay = 0;
    gCounter = 0;
}

} // extern "C"
