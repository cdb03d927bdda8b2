// Start-up and shut-down of the plug-in inside the host's process: the DLL entry point with its
// four reasons, and its binding to the platform's module entry (load, unload or process exit,
// a thread's first call, a thread's end).
#pragma once

#include "core/DLLModule.h"
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

// For tests: whether wx was started by this module, and the module object (null when none).
bool DLLOwnsWxWidgets();
DLLModule *DLLCurrentModule();
