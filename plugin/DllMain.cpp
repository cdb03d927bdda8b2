// The plug-in's entry point: runs when the shared object is loaded and unloaded (or the process
// exits with it loaded), when a host thread first calls in and when such a thread ends.
#include "core/DLLMain.h"

PONTIS_MODULE_ENTRY(&DLLModuleEntry)
