// Start-up and shut-down of the plug-in inside the host's process: the DLL entry point with its
// four reasons, and its binding to the platform's module entry (load, unload or process exit,
// a thread's first call, a thread's end).
#pragma once

#include "core/DLLModule.h"
#include "core/EntryGate.h"
#include "platform/HostTypes.h"
#include "platform/ModuleEntry.h"

namespace DLLReason {
constexpr DWORD ProcessDetach = 0;
constexpr DWORD ProcessAttach = 1;
constexpr DWORD ThreadAttach = 2;
constexpr DWORD ThreadDetach = 3;
} // namespace DLLReason

// The entry point. A null reserved argument means a dynamic load at attach and an unload at
// detach; a non-null one a process that is ending. False only when attach could not start wx.
bool DllMain(DLLInstanceHandle instance, DWORD reason, void *reserved);

// The plug-in's ModuleEntryFunction: maps the platform's reasons onto DllMain with an address
// inside the module as its instance handle, and keeps detach from running twice.
void DLLModuleEntry(Platform::ModuleReason reason, bool processTerminating);

// Registers a step that process detach runs first, before the module object and wx end (shared
// objects that hold sockets or windows let go of them there). Steps run once, in order; safe to
// call during static initialisation.
void AddProcessDetachStep(void (*step)());
// True from the start of a detach at process exit: other threads may still be inside calls, so
// the objects they reach must stay as they are.
bool DLLProcessIsEnding();

// One export call: enters the calling thread (its first call is its thread attach) and, on a
// thread other than wx's main thread, makes the plug-in's log target that thread's wx log target
// until the call ends. No thread keeps it after a call, so none keeps a pointer into a plug-in
// that is unloaded later. A thread's own target of someone else's is left alone.
class PluginCall {
public:
    PluginCall();
    ~PluginCall();
    PluginCall(const PluginCall &) = delete;
    PluginCall &operator=(const PluginCall &) = delete;

private:
    bool mbTargetSet = false;
};

// Whatever touches wx's per-thread records on a call's thread (its log target, its logging switch)
// passes this gate, closed when those records go at exit.
EntryGate &WxRecordsGate();

// For tests: whether wx was started by this module, and the module object (null when none).
bool DLLOwnsWxWidgets();
DLLModule *DLLCurrentModule();
