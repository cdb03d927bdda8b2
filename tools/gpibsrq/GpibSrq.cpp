// GPIBSRQ.DLL: delivers a GPIB device's service requests to a callback on a thread of its own,
// over whatever NI-488.2 compatible GPIB-32.DLL the machine has, and keeps the time of the last
// bus access for every GPIB user of the machine (TimingStore).
//
// GPIB-32.DLL is loaded at the first registration (again at the next one when that failed) and
// used only through its public calls. A registered device gets a handle of the library's own and a
// watch thread: ibwait for RQS with a short time-out, so that a stop is seen within one period; on
// RQS, ibrsp reads the serial-poll status byte and the callback of every registration of that
// device gets it, one after the other. Callbacks of one device therefore never overlap. The first
// error the watch meets is kept for each registration until GetLastGPIBError hands it out; a
// time-out is none, and neither is ELCK (another process holds the interface lock).
//
// This is libgpibsrq-core.so: hosts load libgpibsrq.so (GpibSrqLoader.cpp), which hands them these
// entry points and asks this library to let go at its unload (GpibSrqCoreDetach).
#include "TimingStore.h"

#include "gpib/GPIBResultCodes.h"
#include "gpib/Gpib32Api.h"
#include "gpib/GpibSrqApi.h"
#include "core/EntryGate.h"
#include "platform/DynamicLibrary.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#define GPIBSRQ_EXPORT __attribute__((visibility("default")))

namespace {

constexpr int WatchTimeOutCode = 8; // T30ms: how long a stop may wait for a quiet watch
constexpr auto ErrorPause = std::chrono::milliseconds(30);
constexpr auto UnloadWait = std::chrono::seconds(5);
constexpr unsigned char RequestBit = 0x40; // RQS in a serial-poll status byte

struct Gpib32 {
    Platform::DynamicLibrary Module;
    Gpib32Api::ThreadIbstaFunction ThreadIbsta = nullptr;
    Gpib32Api::ThreadIberrFunction ThreadIberr = nullptr;
    Gpib32Api::ThreadIbcntlFunction ThreadIbcntl = nullptr;
    Gpib32Api::IbdevFunction Ibdev = nullptr;
    Gpib32Api::IbonlFunction Ibonl = nullptr;
    Gpib32Api::IbwaitFunction Ibwait = nullptr;
    Gpib32Api::IbrspFunction Ibrsp = nullptr;

    uint32_t Load() {
        if (Module.IsLoaded())
            return 0;
        if (!Module.Load(NI488::LibraryName))
            return GPIBResult::GPIB32NotLoaded;
        if (Module.Bind("ThreadIbsta", ThreadIbsta) && Module.Bind("ThreadIberr", ThreadIberr) &&
            Module.Bind("ThreadIbcntl", ThreadIbcntl) && Module.Bind("ibdev", Ibdev) &&
            Module.Bind("ibonl", Ibonl) && Module.Bind("ibwait", Ibwait) && Module.Bind("ibrsp", Ibrsp))
            return 0;
        Module.Unload();
        return Platform::EntryPointNotFound;
    }

    // The result code of the calling thread's last call.
    uint32_t LastError() { return GPIBResult::FromNI488Error(ThreadIberr(), ThreadIbcntl()); }
};

struct Registration {
    GpibSrqCallback Callback = nullptr;
    void *Context = nullptr;
    std::atomic<uint32_t> Error{0};
};

// One per registered device address.
struct Watch {
    int Board = 0, Primary = 0, Secondary = 0;
    int Handle = -1;
    std::atomic<bool> Stop{false};
    std::atomic<bool> PollRequested{false};
    std::thread Thread; // touched only by whoever takes the watch out of the table
    bool Ended = false; // under State::ThreadsLock: the thread runs no more of the watch
    // Under State::Lock: the device's registrations and the one whose callback runs now.
    std::vector<std::shared_ptr<Registration>> Registrations;
    std::shared_ptr<Registration> Running;
};

struct State {
    std::mutex Lock;
    Gpib32 Library;
    std::vector<std::shared_ptr<Watch>> Watches;
    std::map<uint32_t, std::pair<std::shared_ptr<Watch>, std::shared_ptr<Registration>>> Registrations;
    uint32_t LastRegistration = 0;
    std::condition_variable CallbackDone; // with Lock
    // Watch threads still running, detached ones included.
    std::mutex ThreadsLock;
    std::condition_variable ThreadsDone;
    int RunningThreads = 0;
};

// Made at the first call; let go at the unload only once no call or watch thread is inside.
std::atomic<State *> gState{nullptr};
std::mutex gStateMaking;
State &Global() {
    if (State *state = gState.load(std::memory_order_acquire))
        return *state;
    std::lock_guard<std::mutex> guard(gStateMaking);
    if (gState.load() == nullptr)
        gState.store(new State, std::memory_order_release);
    return *gState.load();
}

// Every export passes it; the unload closes it and waits for the calls inside.
EntryGate gCalls;

void Record(Watch &watch, uint32_t error) {
    State &state = Global();
    std::lock_guard<std::mutex> guard(state.Lock);
    for (const auto &registration : watch.Registrations) {
        uint32_t none = 0;
        registration->Error.compare_exchange_strong(none, error);
    }
}

// Hands the status byte to every registration of the device that is still there.
void Deliver(Watch &watch, unsigned char statusByte) {
    State &state = Global();
    std::unique_lock<std::mutex> guard(state.Lock);
    const std::vector<std::shared_ptr<Registration>> registrations = watch.Registrations;
    for (const auto &registration : registrations) {
        if (watch.Stop)
            break;
        if (std::find(watch.Registrations.begin(), watch.Registrations.end(), registration) ==
            watch.Registrations.end())
            continue;
        watch.Running = registration;
        guard.unlock();
        registration->Callback(statusByte, registration->Context);
        guard.lock();
        watch.Running.reset();
        state.CallbackDone.notify_all();
    }
}

// Records the calling thread's last error, unless it is ELCK: another process's interface lock
// is no error of this process. Then pauses, so that a failing call does not spin.
void RecordError(Gpib32 &library, Watch &watch) {
    if (library.ThreadIberr() != NI488::ELCK)
        Record(watch, library.LastError());
    std::this_thread::sleep_for(ErrorPause);
}

// Reads the status byte and hands it on: always after a reported request, after a poll that was
// asked for only when it carries RQS.
void Poll(Gpib32 &library, Watch &watch, bool onlyRequests) {
    char statusByte = 0;
    if ((library.Ibrsp(watch.Handle, &statusByte) & NI488::ERR) != 0) {
        RecordError(library, watch);
        return;
    }
    const auto status = static_cast<unsigned char>(statusByte);
    if (!onlyRequests || (status & RequestBit) != 0)
        Deliver(watch, status);
}

void RunWatch(std::shared_ptr<Watch> watch) {
    State &state = Global();
    Gpib32 &library = state.Library;
    while (!watch->Stop) {
        if (watch->PollRequested.exchange(false)) {
            Poll(library, *watch, true);
            continue;
        }
        const int ibsta = library.Ibwait(watch->Handle, NI488::RQS | NI488::TIMO);
        if (watch->Stop)
            break;
        if ((ibsta & NI488::ERR) != 0) {
            const bool quiet = (ibsta & NI488::TIMO) != 0 && library.ThreadIberr() == NI488::EABO;
            if (!quiet)
                RecordError(library, *watch);
            continue;
        }
        if ((ibsta & NI488::RQS) != 0)
            Poll(library, *watch, false);
    }
    library.Ibonl(watch->Handle, 0);
    std::lock_guard<std::mutex> guard(state.ThreadsLock);
    watch->Ended = true;
    watch.reset();
    --state.RunningThreads;
    state.ThreadsDone.notify_all();
}

// Ends a watch taken out of the table: waits for its thread, unless this is that thread (a
// callback that unregisters), which then ends by itself after the callback.
void Stop(const std::shared_ptr<Watch> &watch) {
    watch->Stop = true;
    if (watch->Thread.get_id() == std::this_thread::get_id())
        watch->Thread.detach();
    else if (watch->Thread.joinable())
        watch->Thread.join();
}

std::shared_ptr<Registration> Find(uint32_t registration) {
    State &state = Global();
    std::lock_guard<std::mutex> guard(state.Lock);
    auto it = state.Registrations.find(registration);
    return it == state.Registrations.end() ? nullptr : it->second.second;
}

// Ends a watch at the unload: waits for its thread until the deadline, then leaves it to end by
// itself (this library then stays mapped).
void StopBy(const std::shared_ptr<Watch> &watch, std::chrono::steady_clock::time_point deadline) {
    watch->Stop = true;
    if (watch->Thread.get_id() == std::this_thread::get_id()) {
        watch->Thread.detach();
        return;
    }
    State &state = Global();
    std::unique_lock<std::mutex> guard(state.ThreadsLock);
    const bool ended = state.ThreadsDone.wait_until(guard, deadline, [&] { return watch->Ended; });
    guard.unlock();
    if (!ended)
        watch->Thread.detach();
    else if (watch->Thread.joinable())
        watch->Thread.join();
}

// Takes every watch and registration out of the table and ends the watches; with a deadline, a
// watch thread that has not ended by then is left to end by itself.
void StopAll(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt) {
    std::vector<std::shared_ptr<Watch>> all;
    {
        State &state = Global();
        std::lock_guard<std::mutex> guard(state.Lock);
        all.swap(state.Watches);
        state.Registrations.clear();
        for (const auto &watch : all)
            watch->Registrations.clear();
    }
    for (const auto &watch : all)
        watch->Stop = true;
    for (const auto &watch : all) {
        if (deadline)
            StopBy(watch, *deadline);
        else
            Stop(watch);
    }
}

// Libraries that load this one and have not let it go (GpibSrqCoreAttach, GpibSrqCoreDetach).
std::mutex gAttachLock;
int gAttached = 0;

// When the last loading library goes (or the process ends), within UnloadWait: calls still inside
// get that long to leave, every watch stops, and the watch threads, those that ended their
// registration themselves too, get what is left of it to leave this library's code. Then
// GPIB-32.DLL is let go and the state and the timing store are freed, so that an unload leaves
// nothing behind. A call or thread still inside keeps everything as it is: false, and this library
// must stay mapped.
bool LetGo() {
    const auto deadline = std::chrono::steady_clock::now() + UnloadWait;
    const bool bCallsLeft = gCalls.Close(UnloadWait);
    State *state = gState.load();
    if (state != nullptr) {
        StopAll(deadline);
        std::unique_lock<std::mutex> guard(state->ThreadsLock);
        if (!state->ThreadsDone.wait_until(guard, deadline, [&] { return state->RunningThreads == 0; }))
            return false;
    }
    if (!bCallsLeft)
        return false;
    if (state != nullptr) {
        state->Library.Module.Unload();
        gState.store(nullptr);
        delete state;
    }
    GpibSrq::FreeStore();
    return true;
}

// The device's watch, started when the device has none.
uint32_t WatchFor(State &state, int board, int primary, int secondary, std::shared_ptr<Watch> &found) {
    for (const auto &watch : state.Watches)
        if (watch->Board == board && watch->Primary == primary && watch->Secondary == secondary) {
            found = watch;
            return 0;
        }
    auto watch = std::make_shared<Watch>();
    watch->Board = board;
    watch->Primary = primary;
    watch->Secondary = secondary;
    watch->Handle = state.Library.Ibdev(board, primary, secondary, WatchTimeOutCode, 1, 0);
    if (watch->Handle < 0)
        return (state.Library.ThreadIbsta() & NI488::ERR) != 0 ? state.Library.LastError()
                                                               : GPIBResult::SystemError;
    {
        std::lock_guard<std::mutex> threads(state.ThreadsLock);
        ++state.RunningThreads;
    }
    try {
        watch->Thread = std::thread(RunWatch, watch);
    } catch (const std::system_error &) {
        state.Library.Ibonl(watch->Handle, 0);
        std::lock_guard<std::mutex> threads(state.ThreadsLock);
        --state.RunningThreads;
        return GPIBResult::SystemError;
    }
    state.Watches.push_back(watch);
    found = watch;
    return 0;
}

} // namespace

// Every export answers GPIBResult::SystemError once the library is being unloaded.
extern "C" {

// A library that loaded this one: the calls are let in (again, after an unload that had to keep
// everything).
GPIBSRQ_EXPORT void GpibSrqCoreAttach() {
    std::lock_guard<std::mutex> guard(gAttachLock);
    if (gAttached++ == 0)
        gCalls.Open();
}

// A library that loaded this one goes: true when this library may be unmapped (it was not the last
// one, or everything was let go).
GPIBSRQ_EXPORT bool GpibSrqCoreDetach() {
    std::lock_guard<std::mutex> guard(gAttachLock);
    return --gAttached > 0 || LetGo();
}

GPIBSRQ_EXPORT uint32_t RegisterSRQHandler(void *, int board, int primary, int secondary,
                                           GpibSrqCallback callback, void *context, uint32_t *registration) {
    const EntryGate::Pass call(gCalls);
    if (!call)
        return GPIBResult::SystemError;
    if (registration == nullptr || callback == nullptr)
        return GPIBResult::Argument;
    State &state = Global();
    std::lock_guard<std::mutex> guard(state.Lock);
    if (const uint32_t loaded = state.Library.Load())
        return loaded;
    std::shared_ptr<Watch> watch;
    if (const uint32_t started = WatchFor(state, board, primary, secondary, watch))
        return started;
    auto entry = std::make_shared<Registration>();
    entry->Callback = callback;
    entry->Context = context;
    uint32_t id = state.LastRegistration;
    do
        ++id;
    while (id == 0 || state.Registrations.count(id) != 0);
    state.LastRegistration = id;
    state.Registrations[id] = {watch, entry};
    watch->Registrations.push_back(entry);
    *registration = id;
    return 0;
}

// Waits for the registration's running callback, unless called from it; the device's last
// registration also ends the watch.
GPIBSRQ_EXPORT uint32_t UnRegisterSRQHandler(void *, uint32_t registration) {
    const EntryGate::Pass call(gCalls);
    if (!call)
        return GPIBResult::SystemError;
    State &state = Global();
    std::unique_lock<std::mutex> guard(state.Lock);
    auto it = state.Registrations.find(registration);
    if (it == state.Registrations.end())
        return GPIBResult::Argument;
    const std::shared_ptr<Watch> watch = it->second.first;
    const std::shared_ptr<Registration> entry = it->second.second;
    state.Registrations.erase(it);
    auto &list = watch->Registrations;
    list.erase(std::remove(list.begin(), list.end(), entry), list.end());
    if (list.empty()) {
        state.Watches.erase(std::remove(state.Watches.begin(), state.Watches.end(), watch),
                            state.Watches.end());
        guard.unlock();
        Stop(watch);
    } else if (watch->Thread.get_id() != std::this_thread::get_id()) {
        state.CallbackDone.wait(guard, [&] { return watch->Running != entry; });
    }
    return 0;
}

GPIBSRQ_EXPORT uint32_t UnRegisterAllHandlers(void *) {
    const EntryGate::Pass call(gCalls);
    if (!call)
        return GPIBResult::SystemError;
    StopAll();
    return 0;
}

// The watch runs all the time, so an expected request needs nothing more than a valid
// registration.
GPIBSRQ_EXPORT uint32_t SetExpectingSRQ(void *, uint32_t registration) {
    const EntryGate::Pass call(gCalls);
    if (!call)
        return GPIBResult::SystemError;
    return Find(registration) ? 0 : GPIBResult::Argument;
}

// Has every registered device serial-polled once by its watch, so that a request that was not
// reported (a board without automatic serial polling) still reaches the callbacks.
GPIBSRQ_EXPORT uint32_t CheckGPIBBusses(void *) {
    const EntryGate::Pass call(gCalls);
    if (!call)
        return GPIBResult::SystemError;
    State &state = Global();
    std::lock_guard<std::mutex> guard(state.Lock);
    if (const uint32_t loaded = state.Library.Load())
        return loaded;
    for (const auto &watch : state.Watches)
        watch->PollRequested = true;
    return 0;
}

GPIBSRQ_EXPORT uint32_t GetLastGPIBError(void *, uint32_t registration) {
    const EntryGate::Pass call(gCalls);
    if (!call)
        return GPIBResult::SystemError;
    const std::shared_ptr<Registration> entry = Find(registration);
    return entry ? entry->Error.exchange(0) : 0;
}

GPIBSRQ_EXPORT uint32_t SetLastTimingInformation(const uint32_t *delay, const uint64_t *counter) {
    const EntryGate::Pass call(gCalls);
    if (!call)
        return GPIBResult::SystemError;
    if (delay != nullptr || counter != nullptr)
        GpibSrq::WriteBusTiming(delay, counter);
    return delay != nullptr && counter != nullptr ? 0 : GPIBResult::NullArgument;
}

GPIBSRQ_EXPORT uint32_t GetLastTimingInformation(uint32_t *delay, uint64_t *counter) {
    const EntryGate::Pass call(gCalls);
    if (!call) {
        if (delay != nullptr)
            *delay = 0;
        if (counter != nullptr)
            *counter = 0;
        return GPIBResult::SystemError;
    }
    const GpibSrq::BusTiming timing = GpibSrq::ReadBusTiming();
    if (delay != nullptr)
        *delay = timing.Delay;
    if (counter != nullptr)
        *counter = timing.Counter;
    return delay != nullptr && counter != nullptr ? 0 : GPIBResult::NullArgument;
}

GPIBSRQ_EXPORT uint32_t WaitForBusAccess(uint32_t delay, uint32_t otherDelayLimit, uint64_t *turn) {
    const EntryGate::Pass call(gCalls);
    if (!call) {
        if (turn != nullptr)
            *turn = 0;
        return GPIBResult::SystemError;
    }
    if (turn == nullptr)
        return GPIBResult::NullArgument;
    *turn = GpibSrq::WaitForBusAccess(delay, otherDelayLimit);
    return 0;
}

GPIBSRQ_EXPORT uint32_t EndBusAccess(uint64_t turn, uint32_t delay, uint64_t counter) {
    const EntryGate::Pass call(gCalls);
    if (!call)
        return GPIBResult::SystemError;
    GpibSrq::EndBusAccess(turn, delay, counter);
    return 0;
}

} // extern "C"
