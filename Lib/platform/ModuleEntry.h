// The plug-in's entry point: process attach when the shared object is loaded, process detach
// when it is unloaded or the process exits (before wx's own static objects are gone), thread
// attach on a thread's first call into the plug-in and thread detach when that thread ends.
#pragma once

#include <atomic>

namespace Platform {

enum class ModuleReason { ProcessAttach, ProcessDetach, ThreadAttach, ThreadDetach };

// For ProcessDetach, processTerminating tells a process exit from an unload.
using ModuleEntryFunction = void (*)(ModuleReason reason, bool processTerminating);

// One static instance in the plug-in: its construction is the process attach, its destruction
// the process detach.
class ModuleEntry {
public:
    explicit ModuleEntry(ModuleEntryFunction entry);
    ~ModuleEntry();
    ModuleEntry(const ModuleEntry &) = delete;
    ModuleEntry &operator=(const ModuleEntry &) = delete;

    // Called at the top of every export: the calling thread's first call runs thread attach.
    static void EnterThread();

private:
    ModuleEntryFunction mEntry;
};

// Marks a process exit for the ModuleEntry defined before it: constructed after that object, its
// exit handler runs before the object's destructor at exit, and not at all at an unload.
class ModuleExitMarker {
public:
    ModuleExitMarker();
};

// Defines the plug-in's entry point; use once, at namespace scope.
#define PONTIS_MODULE_ENTRY(function)                                                                        \
    static ::Platform::ModuleEntry gPontisModuleEntry(function);                                             \
    static ::Platform::ModuleExitMarker gPontisModuleExitMarker;

// Keeps wx and GTK mapped for the life of the process, so that the plug-in can be unloaded and
// loaded again (GTK's type registry cannot be torn down and set up twice).
void PinWindowingLibraries();

} // namespace Platform
