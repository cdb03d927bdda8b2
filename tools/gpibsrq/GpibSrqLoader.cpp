// libgpibsrq.so, the service-request library that hosts load. The code is in libgpibsrq-core.so
// beside this library's real file (a symbolic link to it is followed): this library loads it and
// hands the host the core's own entry points (each export here is an indirect function that the
// dynamic loader resolves to the core's), so that no call runs code of this library.
//
// At its unload it asks the core to let go (GpibSrqCoreDetach, at most 5 s) and unloads the core
// only when nothing is inside it any more. A call or watch thread still inside then keeps the core
// mapped: the loader cannot be stopped from unmapping a library once its unload has begun (a
// library that pins itself from its own destructor is unmapped all the same), so the code that
// such threads run lives in a library that this unload does not take.
#include <dlfcn.h>
#include <limits.h>

#include <cstdlib>
#include <string>

#define GPIBSRQ_EXPORT __attribute__((visibility("default")))

namespace {

using EntryPoint = void (*)();

#define GPIBSRQ_ENTRY_POINTS(X)                                                                              \
    X(RegisterSRQHandler)                                                                                    \
    X(UnRegisterSRQHandler)                                                                                  \
    X(UnRegisterAllHandlers)                                                                                 \
    X(SetExpectingSRQ)                                                                                       \
    X(CheckGPIBBusses)                                                                                       \
    X(GetLastGPIBError)                                                                                      \
    X(SetLastTimingInformation)                                                                              \
    X(GetLastTimingInformation)                                                                              \
    X(WaitForBusAccess)                                                                                      \
    X(EndBusAccess)

// The core's entry points, bound before anyone can look one up.
struct Core {
    void *Handle = nullptr;
    bool (*Detach)() = nullptr;
#define GPIBSRQ_MEMBER(name) EntryPoint name = nullptr;
    GPIBSRQ_ENTRY_POINTS(GPIBSRQ_MEMBER)
#undef GPIBSRQ_MEMBER
};
Core gCore;

// The core's file: beside the real file of this library.
std::string CoreFile() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void *>(&gCore), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    char real[PATH_MAX];
    if (realpath(info.dli_fname, real) == nullptr)
        return std::string();
    std::string file(real);
    return file.substr(0, file.find_last_of('/') + 1) + "libgpibsrq-core.so";
}

template <typename F> void Bind(void *handle, const char *name, F &entry) {
    entry = reinterpret_cast<F>(dlsym(handle, name));
}

// Without the core every entry point is missing (a null symbol), as for a library that lacks them.
struct LoadCore {
    LoadCore() {
        const std::string file = CoreFile();
        void *handle = file.empty() ? nullptr : dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return;
        void (*attach)() = nullptr;
        Bind(handle, "GpibSrqCoreAttach", attach);
        Bind(handle, "GpibSrqCoreDetach", gCore.Detach);
        if (attach == nullptr || gCore.Detach == nullptr) {
            dlclose(handle);
            return;
        }
#define GPIBSRQ_BIND(name) Bind(handle, #name, gCore.name);
        GPIBSRQ_ENTRY_POINTS(GPIBSRQ_BIND)
#undef GPIBSRQ_BIND
        attach();
        gCore.Handle = handle;
    }
    // Also at process exit: the core stops its watches there too. Unloading the core from here
    // works: the loader finishes this library, then unloads the core in the same unload.
    ~LoadCore() {
        if (gCore.Handle != nullptr && gCore.Detach())
            dlclose(gCore.Handle);
        gCore = Core();
    }
} gLoadCore;

} // namespace

extern "C" {
#define GPIBSRQ_RESOLVER(name)                                                                               \
    EntryPoint Resolve##name() {                                                                             \
        return gCore.name;                                                                                   \
    }                                                                                                        \
    GPIBSRQ_EXPORT void name() __attribute__((ifunc("Resolve" #name)));
GPIBSRQ_ENTRY_POINTS(GPIBSRQ_RESOLVER)
#undef GPIBSRQ_RESOLVER
}
