// The plug-in's entry point: runs when the shared object is loaded and unloaded and when a host
// thread first calls in or ends.
#include "platform/MessageBox.h"
#include "platform/ModuleEntry.h"

namespace {

void PontisDllMain(Platform::ModuleReason reason, bool) {
    switch (reason) {
    case Platform::ModuleReason::ProcessAttach:
        Platform::PinWindowingLibraries();
        Platform::SetGuiThread();
        break;
    case Platform::ModuleReason::ProcessDetach:
    case Platform::ModuleReason::ThreadAttach:
    case Platform::ModuleReason::ThreadDetach:
        break;
    }
}

} // namespace

PONTIS_MODULE_ENTRY(&PontisDllMain)
