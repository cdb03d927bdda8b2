// The named mutex against a plain std::mutex in the same run: an uncontended lock and unlock of a
// mutex that exists already, a recursive entry by its owner, and a whole lock by a new object.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include <unistd.h>

#include "platform/NamedMutex.h"

namespace {

namespace fs = std::filesystem;

// A private lock directory for the whole run.
struct LockDirectory {
    LockDirectory() {
        mPath = fs::temp_directory_path() / ("named-mutex-bench-" + std::to_string(getpid()));
        fs::create_directories(mPath);
        setenv("KORVALIS_LOCK_DIR", mPath.c_str(), 1);
    }
    ~LockDirectory() {
        std::error_code ignored;
        fs::remove_all(mPath, ignored);
    }
    fs::path mPath;
};

void UseLockDirectory() {
    static LockDirectory directory;
}

const std::wstring Name = L"Global\\KORVALIS:DS:TCPIP://127.0.0.1:5025";

void NamedMutexWaitRelease(benchmark::State &state) {
    UseLockDirectory();
    Platform::NamedMutex mutex(Name);
    for (auto _ : state) {
        if (mutex.Wait(10000) != Platform::WaitObject0 || !mutex.Release()) {
            state.SkipWithError("not obtained");
            break;
        }
    }
}
BENCHMARK(NamedMutexWaitRelease)->Unit(benchmark::kMicrosecond);

// Entered again by the thread that holds it.
void NamedMutexRecursiveWaitRelease(benchmark::State &state) {
    UseLockDirectory();
    Platform::NamedMutex mutex(Name);
    if (mutex.Wait(10000) != Platform::WaitObject0) {
        state.SkipWithError("not obtained");
        return;
    }
    for (auto _ : state) {
        mutex.Wait(10000);
        mutex.Release();
    }
    mutex.Release();
}
BENCHMARK(NamedMutexRecursiveWaitRelease)->Unit(benchmark::kMicrosecond);

// A new object for every lock while another object of the name lives on.
void NamedMutexNewObjectWaitRelease(benchmark::State &state) {
    UseLockDirectory();
    Platform::NamedMutex keeper(Name);
    for (auto _ : state) {
        Platform::NamedMutex mutex(Name);
        if (mutex.Wait(10000) != Platform::WaitObject0 || !mutex.Release()) {
            state.SkipWithError("not obtained");
            break;
        }
    }
}
BENCHMARK(NamedMutexNewObjectWaitRelease)->Unit(benchmark::kMicrosecond);

// The only object of its name, made and dropped for every lock.
void NamedMutexOnlyObjectWaitRelease(benchmark::State &state) {
    UseLockDirectory();
    for (auto _ : state) {
        Platform::NamedMutex mutex(Name);
        if (mutex.Wait(10000) != Platform::WaitObject0 || !mutex.Release()) {
            state.SkipWithError("not obtained");
            break;
        }
    }
}
BENCHMARK(NamedMutexOnlyObjectWaitRelease)->Unit(benchmark::kMicrosecond);

void StdMutexLockUnlock(benchmark::State &state) {
    std::mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        mutex.unlock();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(StdMutexLockUnlock)->Unit(benchmark::kMicrosecond);

} // namespace
