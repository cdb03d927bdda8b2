// The entry point's steps. Attach starts wx only when the process has no application object yet
// (as a console application when no display can be reached), makes the module object and routes
// wx log messages to wxLogQuellin; detach undoes what attach did, but at process exit leaves wx
// standing (wx cannot be cleaned up while the process is going down). Every step is announced
// in the driver log.
#include "core/DLLMain.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>
#include <wx/thread.h>

#include "core/DLLApp.h"
#include "core/EntryGate.h"
#include "core/StringUtils.h"
#include "logging/DriverLog.h"
#include "logging/QuellinEntry.h"
#include "platform/Display.h"
#include "platform/Environment.h"
#include "platform/MessageBox.h"
#include "platform/Text.h"

namespace {

const char *const DriverLogDescription = "wxDLLApp";

// Touched only by DllMain at process attach and detach; read by thread attach and detach.
DLLModule *gModule = nullptr;
std::atomic<bool> gOwnsWxWidgets{false};
bool gSocketsInitialised = false;
wxAssertHandler_t gPreviousAssertHandler = nullptr;

void Write(const std::string &data) {
    DriverLogFile::Write(DriverLogDescription, data);
}

std::string ModulePath(DLLInstanceHandle instance) {
    return ToStdString(GetModuleFileNameText(instance));
}

// A failed wx check is recorded in the call log. wx's own handler shows a modal box that nobody
// may be there to answer (or traps where no application can show one): where the plug-in started
// wx, or while KORVALIS_NONINTERACTIVE is set, the check goes to standard error instead; in a
// host's own wx application the host's handler comes next.
void AssertToCallLog(const wxString &file, int line, const wxString &func, const wxString &cond,
                     const wxString &msg) {
    try {
        QuellinEntry entry("DLLApp", "wxAssert");
        entry.Log(QuellinLevelError, QuellinDescription, "Assert: " + ToStdString(msg), QuellinMarkerInput,
                  L"condition", cond, L"filename", file, L"line number", line, L"function", func);
    } catch (...) {
    }
    const wxAssertHandler_t previous = gPreviousAssertHandler;
    if (!gOwnsWxWidgets && previous != nullptr && !Platform::IsNonInteractive()) {
        previous(file, line, func, cond, msg);
        return;
    }
    std::fprintf(stderr, "wx assertion failed: %s(%d): %s: %s: %s\n", file.utf8_str().data(), line,
                 func.utf8_str().data(), cond.utf8_str().data(), msg.utf8_str().data());
    std::fflush(stderr);
}

void InstallAssertHandler() {
    gPreviousAssertHandler = wxSetAssertHandler(&AssertToCallLog);
}

// The handler before ours comes back, unless another was installed over ours meanwhile.
void RemoveAssertHandler() {
    if (wxTheAssertHandler == &AssertToCallLog)
        wxSetAssertHandler(gPreviousAssertHandler);
    gPreviousAssertHandler = nullptr;
}

// The application's log target while the plug-in's application runs; the exports make it their
// thread's target for the length of a call.
std::atomic<wxLog *> gCallLogTarget{nullptr};
// Every change of a thread's wx log target passes this gate. Closing it waits for the changes in
// progress, so that none meets wx's per-thread records once they are gone: the closer is made after
// a thread's first target, so its destructor runs before wx's own at exit, and at an unload.
EntryGate gWxRecords;

struct WxRecordsCloser {
    WxRecordsCloser() = default;
    WxRecordsCloser(const WxRecordsCloser &) = delete;
    WxRecordsCloser &operator=(const WxRecordsCloser &) = delete;
    // A change of target takes microseconds; the bound only keeps a stopped thread from holding up
    // the exit.
    ~WxRecordsCloser() { gWxRecords.Close(std::chrono::milliseconds(100)); }
};

void SetCallLogTarget() {
    DLLAppLogTarget *app = AsDLLApp(wxAppConsole::GetInstance());
    gCallLogTarget = app != nullptr ? app->GetLogTarget().get() : nullptr;
}

// A thread that ends with the application's target set lets go of it.
void RemoveThreadLogTarget() {
    if (wxThread::IsMain())
        return;
    DLLAppLogTarget *app = AsDLLApp(wxAppConsole::GetInstance());
    if (app == nullptr)
        return;
    const EntryGate::Pass records(gWxRecords);
    if (!records)
        return;
    wxLog *previous = wxLog::SetThreadActiveTarget(nullptr);
    if (previous != nullptr && previous != app->GetLogTarget().get())
        wxLog::SetThreadActiveTarget(previous);
}

// wx as a GUI application where a display can be reached, else as a console application.
bool StartWxWidgets() {
    DLLAppLogTarget::RememberForeignLogTarget();
    InstallAssertHandler();
    const wxAppInitializerFunction previousFactory = wxApp::GetInitializerFunction();
    const Platform::DisplayProbe display;
    wxApp::SetInitializerFunction(display.IsReachable() ? &wxCreateApp : &wxCreateConsoleApp);
    const bool started = wxInitialize();
    // The factory lives in the plug-in, which may be unloaded.
    wxApp::SetInitializerFunction(previousFactory);
    if (!started)
        RemoveAssertHandler();
    return started;
}

bool ProcessAttach(DLLInstanceHandle instance, void *reserved) {
    Write("DLL_PROCESS_ATTACH: " + ModulePath(instance));
    gModule = nullptr;
    Platform::SetGuiThread();
    if (wxAppConsole::GetInstance() != nullptr) {
        gOwnsWxWidgets = false;
        Write("wxTheApp is already present. No initialization needed");
        InstallAssertHandler();
    } else {
        Write("wxTheApp was not initializated yet");
        gOwnsWxWidgets = StartWxWidgets();
        Write("wxWidgets is now Initialized");
        if (wxAppConsole::GetInstance() == nullptr)
            return false;
        if (!wxAppConsole::GetInstance()->CallOnInit())
            return false;
    }
    // Sockets of worker threads need the socket layer set up on wx's main thread.
    if (wxThread::IsMain() && !gSocketsInitialised)
        gSocketsInitialised = wxSocketBase::Initialize();
    SetCallLogTarget();

    Write("Going to create specific DLLModule");
    gModule = CreateDefaultResourcesDLLModule();
    if (gModule == nullptr)
        gModule = new DLLModule();
    gModule->SetInstanceHandle(instance);
    Write("Going to initialize created DLLModule");
    gModule->OnInit();
    Write(reserved == nullptr ? "Dynamic load" : "None Dynamic load");
    return true;
}

void StopWxWidgets() {
    Write("Going to deinitialize wxWidgets Application object");
    if (wxAppConsole *app = wxAppConsole::GetInstance())
        app->OnExit();
    Write("Going to deinitialize wxWidgets");
    wxUninitialize();
    gOwnsWxWidgets = false;
    Write("wxWidgets is now deinitialized");
    RemoveAssertHandler();
}

// At process exit wx stays up, but nothing of the plug-in may be called by it any more, and it
// must not make a GUI log target of its own.
void DisconnectFromWxWidgets() {
    if (AsDLLApp(wxAppConsole::GetInstance()) != nullptr) {
        RemoveThreadLogTarget();
        wxLog::DontCreateOnDemand();
        wxLog::SetActiveTarget(nullptr);
    }
    RemoveAssertHandler();
    gOwnsWxWidgets = false;
}

// A function static: steps register during static initialisation, in any file order.
std::vector<void (*)()> &ProcessDetachSteps() {
    static std::vector<void (*)()> steps;
    return steps;
}

std::atomic<bool> gProcessEnding{false};

void ProcessDetach(DLLInstanceHandle instance, void *reserved) {
    const bool terminating = reserved != nullptr;
    gProcessEnding = terminating;
    Write("DLL_PROCESS_DETACH: " + ModulePath(instance));
    Write(terminating ? "the process is terminating" : "FreeLibrary  is called");
    for (void (*step)() : ProcessDetachSteps())
        step();
    gCallLogTarget = nullptr;
    if (gModule != nullptr) {
        Write("Going to deinitialize DLLModule");
        gModule->Deinitialize();
        delete gModule;
        gModule = nullptr;
        Write("DLLModule deinitialized");
    }
    if (gSocketsInitialised && !terminating && wxThread::IsMain()) {
        wxSocketBase::Shutdown();
        gSocketsInitialised = false;
    }
    if (gOwnsWxWidgets) {
        if (terminating)
            DisconnectFromWxWidgets();
        else
            StopWxWidgets();
    } else {
        RemoveAssertHandler(); // the host's application outlives the plug-in's code
    }
    ReleaseFormatBuffer();
    ReleaseFormatWBuffer();
    // At exit calls on other threads may still format numbers and log.
    if (!terminating) {
        Platform::ReleaseCLocale();
        QuellinEntry::ReleaseProcessSocket();
    }
}

// Anchors the instance handle of the module that holds this code.
const char gModuleAnchor = 0;

// Attach and detach each run once per load, whatever the platform reports.
std::atomic<bool> gAttached{false};
// The thread that loaded the module gets no thread attach of its own, as on Windows. (A function
// static: attach may run before this file's own static objects are made.)
std::thread::id &AttachingThread() {
    static std::thread::id thread;
    return thread;
}

} // namespace

void AddProcessDetachStep(void (*step)()) {
    if (step != nullptr)
        ProcessDetachSteps().push_back(step);
}

bool DllMain(DLLInstanceHandle instance, DWORD reason, void *reserved) {
    DriverLogFile::CheckEnabled();
    switch (reason) {
    case DLLReason::ProcessAttach:
        return ProcessAttach(instance, reserved);
    case DLLReason::ThreadAttach:
        Write("DLL_THREAD_ATTACH: " + ModulePath(instance));
        return true;
    case DLLReason::ThreadDetach:
        Write("DLL_THREAD_DETACH: " + ModulePath(instance));
        if (wxAppConsole::GetInstance() != nullptr)
            RemoveThreadLogTarget();
        return true;
    case DLLReason::ProcessDetach:
        ProcessDetach(instance, reserved);
        return true;
    default:
        return true;
    }
}

void DLLModuleEntry(Platform::ModuleReason reason, bool processTerminating) {
    static char terminatingMarker;
    DLLInstanceHandle instance = &gModuleAnchor;
    switch (reason) {
    case Platform::ModuleReason::ProcessAttach:
        Platform::PinWindowingLibraries();
        AttachingThread() = std::this_thread::get_id();
        gAttached = true;
        // A failed attach is followed at once by its detach, as the loader does on Windows.
        if (!DllMain(instance, DLLReason::ProcessAttach, nullptr) && gAttached.exchange(false))
            DllMain(instance, DLLReason::ProcessDetach, nullptr);
        break;
    case Platform::ModuleReason::ProcessDetach:
        if (gAttached.exchange(false))
            DllMain(instance, DLLReason::ProcessDetach, processTerminating ? &terminatingMarker : nullptr);
        break;
    case Platform::ModuleReason::ThreadAttach:
        if (gAttached && std::this_thread::get_id() != AttachingThread())
            DllMain(instance, DLLReason::ThreadAttach, nullptr);
        break;
    case Platform::ModuleReason::ThreadDetach:
        if (gAttached)
            DllMain(instance, DLLReason::ThreadDetach, nullptr);
        break;
    }
}

PluginCall::PluginCall() {
    Platform::ModuleEntry::EnterThread();
    wxLog *target = gCallLogTarget;
    if (target == nullptr || wxThread::IsMain())
        return;
    const EntryGate::Pass records(gWxRecords);
    if (!records)
        return;
    wxLog *previous = wxLog::SetThreadActiveTarget(target);
    static WxRecordsCloser closer; // after wx's per-thread records exist
    if (previous != nullptr && previous != target)
        wxLog::SetThreadActiveTarget(previous); // the thread's own, left to its owner
    else
        mbTargetSet = previous == nullptr; // an outer call on this thread set it otherwise
}

PluginCall::~PluginCall() {
    if (!mbTargetSet)
        return;
    const EntryGate::Pass records(gWxRecords);
    if (records)
        wxLog::SetThreadActiveTarget(nullptr);
}

EntryGate &WxRecordsGate() {
    return gWxRecords;
}

bool DLLProcessIsEnding() {
    return gProcessEnding;
}

bool DLLOwnsWxWidgets() {
    return gOwnsWxWidgets;
}

DLLModule *DLLCurrentModule() {
    return gModule;
}
